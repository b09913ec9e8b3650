// renderBlock's time per block with no benchmark library, so that the same program builds
// natively and for WebAssembly (run by Node) and the two can be set side by side. The voice
// plays the default table with full vibrato and a bend that never settles, take recording. The
// same 1,500 frames are also rendered as the browser's worklet renders them, in render quanta of
// 128 frames, to show what rendering piecewise costs, and in quanta with all ten voices sounding
// at once, each at its own pitch. Then one voice in quanta over a 60 s loop being overdubbed (in
// the overdub's first pass, which also fills the undo copy), and what the audio thread spends at
// once on an undo after a whole pass of that loop, and on copying a 60 s take to play it.
//
//   bench_render_block [BLOCKS]      prints "render_block_ns N", "render_quanta_ns N",
//                                    "render_ten_voices_ns N" and "render_overdubbing_ns N",
//                                    the time per 1,500 frames, "loop_undo_ns N" and
//                                    "take_play_ns N" (the best of five runs each)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "engine/looper.h"
#include "engine/take.h"
#include "engine/tone_table.h"
#include "engine/voice.h"

namespace tonvarel {
namespace {

constexpr uint32_t kQuantumFrames = 128;

uint8_t block[kBlockBytes];

float bendFor(int block) {
  return (block & 1) != 0 ? 3520.0f : 220.86f;
}

// The first `voices` voices sound, with full vibrato; the others are silent.
void sound(EngineState& state, int voices) {
  for (int k = 0; k < kVoiceCount; ++k) {
    state.voices[k].vibratoDepth = 0.382f;
    state.voices[k].gate = k < voices;
  }
}

double nanosecondsPerBlock(EngineState& state, int blocks) {
  sound(state, 1);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < blocks; ++i) {
    state.voices[0].targetPitch = bendFor(i);
    renderBlock(state, block, kBlockBytes);
  }
  const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / blocks;
}

// The same number of frames in quanta, the targets of the first `voices` voices changing once a
// block as above, each a little higher than the one before.
double nanosecondsPerBlockInQuanta(EngineState& state, int blocks, int voices) {
  sound(state, voices);
  const uint64_t frames = uint64_t{kBlockFrames} * static_cast<uint64_t>(blocks);
  const auto start = std::chrono::steady_clock::now();
  for (uint64_t done = 0; done < frames; done += kQuantumFrames) {
    const float bend = bendFor(static_cast<int>(done / kBlockFrames));
    for (int k = 0; k < voices; ++k) state.voices[k].targetPitch = bend * (1.0f + 0.1f * k);
    renderFrames(state, block,
                 static_cast<uint32_t>(std::min<uint64_t>(kQuantumFrames, frames - done)));
  }
  const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / blocks;
}

// A 60 s loop of one voice, then overdubbed by it in quanta: each block restarts the overdub, so
// that every frame is in a first pass.
void recordLoop(EngineState& state) {
  sound(state, 1);
  loopClear(state);
  loopControl(state);
  while (state.looper.state == LoopState::kRecording) renderFrames(state, block, kBlockFrames);
}

double nanosecondsPerBlockOverdubbing(EngineState& state, int blocks) {
  sound(state, 1);
  const uint64_t frames = uint64_t{kBlockFrames} * static_cast<uint64_t>(blocks);
  const auto start = std::chrono::steady_clock::now();
  for (uint64_t done = 0; done < frames; done += kQuantumFrames) {
    if (done % kBlockFrames < kQuantumFrames) {
      state.voices[0].targetPitch = bendFor(static_cast<int>(done / kBlockFrames));
      loopControl(state);  // playing
      loopControl(state);  // overdubbing, with a fresh undo copy
    }
    renderFrames(state, block,
                 static_cast<uint32_t>(std::min<uint64_t>(kQuantumFrames, frames - done)));
  }
  const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / blocks;
}

// Undo after an overdub once round the 60 s loop: every sample goes back.
double nanosecondsPerUndo(EngineState& state) {
  constexpr int kUndos = 20;
  std::chrono::duration<double, std::nano> spent{0};
  for (int i = 0; i < kUndos; ++i) {
    state.looper.undoable = true;
    state.looper.saved = state.looper.length;
    const auto start = std::chrono::steady_clock::now();
    loopUndo(state);
    spent += std::chrono::steady_clock::now() - start;
  }
  return spent.count() / kUndos;
}

// The take, full to its 60 s, copied for playing.
double nanosecondsPerTakePlay(EngineState& state) {
  constexpr int kPlays = 20;
  state.takeLength = kTakeCapacity - 2;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kPlays; ++i) playTake(state);
  const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
  stopTake(state);
  return spent.count() / kPlays;
}

}  // namespace
}  // namespace tonvarel

int main(int argc, char** argv) {
  using namespace tonvarel;
  const int blocks = argc > 1 ? std::atoi(argv[1]) : 4000;
  if (blocks <= 0) {
    std::fprintf(stderr, "usage: bench_render_block [BLOCKS]\n");
    return 2;
  }
  EngineState& state = engine;
  allocateTake(state);
  buildDefaultTable(state);
  openTakeIfIdle(state);
  double best = nanosecondsPerBlock(state, blocks / 4 + 1);  // warm-up, also a candidate
  double bestQuanta = nanosecondsPerBlockInQuanta(state, blocks / 4 + 1, 1);
  double bestTen = nanosecondsPerBlockInQuanta(state, blocks / 4 + 1, kVoiceCount);
  for (int run = 0; run < 5; ++run) {
    best = std::min(best, nanosecondsPerBlock(state, blocks));
    bestQuanta = std::min(bestQuanta, nanosecondsPerBlockInQuanta(state, blocks, 1));
    bestTen = std::min(bestTen, nanosecondsPerBlockInQuanta(state, blocks, kVoiceCount));
  }
  // Something of the sound must leave the loop, or all of it could be optimised away.
  unsigned sum = 0;
  for (uint8_t b : block) sum += b;

  if (!allocateLooper(state) || !allocatePlayback(state)) {
    std::fprintf(stderr, "bench_render_block: no memory for the looper\n");
    return 1;
  }
  recordLoop(state);
  double bestOverdubbing = nanosecondsPerBlockOverdubbing(state, blocks / 4 + 1);
  double bestUndo = nanosecondsPerUndo(state);
  double bestTakePlay = nanosecondsPerTakePlay(state);
  for (int run = 0; run < 5; ++run) {
    bestOverdubbing = std::min(bestOverdubbing, nanosecondsPerBlockOverdubbing(state, blocks));
    bestUndo = std::min(bestUndo, nanosecondsPerUndo(state));
    bestTakePlay = std::min(bestTakePlay, nanosecondsPerTakePlay(state));
  }
  std::printf(
      "render_block_ns %.0f\nrender_quanta_ns %.0f\nrender_ten_voices_ns %.0f\n"
      "render_overdubbing_ns %.0f\nloop_undo_ns %.0f\ntake_play_ns %.0f\nchecksum %u\n",
      best, bestQuanta, bestTen, bestOverdubbing, bestUndo, bestTakePlay, sum);
  releaseTables(state);
  releaseLooper(state);
  releasePlayback(state);
  releaseTake(state);
  return 0;
}
