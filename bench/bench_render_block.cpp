// renderBlock's time per block with no benchmark library, so that the same program builds
// natively and for WebAssembly (run by Node) and the two can be set side by side. The voice
// plays the default table with full vibrato and a bend that never settles, take recording. The
// same 1,500 frames are also rendered as the browser's worklet renders them, in render quanta of
// 128 frames, to show what rendering piecewise costs, and in quanta with all ten voices sounding
// at once, each at its own pitch.
//
//   bench_render_block [BLOCKS]      prints "render_block_ns N", "render_quanta_ns N" and
//                                    "render_ten_voices_ns N", the time per 1,500 frames (the
//                                    best of five runs each)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

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
  std::printf(
      "render_block_ns %.0f\nrender_quanta_ns %.0f\nrender_ten_voices_ns %.0f\nchecksum %u\n", best,
      bestQuanta, bestTen, sum);
  releaseTables(state);
  releaseTake(state);
  return 0;
}
