// Rendering speed of one block (1,500 frames, 34,013.6 us of sound). The real-time factor is the
// block's playing time over the time it takes to render; a share of real time, the other way up.
// Also what the looper adds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/looper.h"
#include "engine/take.h"
#include "engine/tone_table.h"
#include "engine/voice.h"
#include "instrument/controls.h"

namespace tonvarel {
namespace {

constexpr double kBlockMicroseconds = 1e6 * kBlockFrames / 44100.0;

// A performance: the pitch alternates between `low` and `high` at each block (a bend that never
// settles) or stays at `low`.
struct Playing {
  float low;
  float high;
  float depth;
};

void renderBlocks(benchmark::State& bench, EngineState& state, Playing playing) {
  state.voices[0].targetPitch = playing.low;
  state.voices[0].vibratoDepth = playing.depth;
  state.voices[0].gate = true;
  std::vector<uint8_t> block(kBlockBytes);
  bool up = false;
  for (auto _ : bench) {
    state.voices[0].targetPitch = up ? playing.high : playing.low;
    up = !up;
    renderBlock(state, block.data(), kBlockBytes);
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  // Shown as "/s" by the library, the figure is seconds of sound per second of rendering.
  bench.counters["realtime_factor"] =
      benchmark::Counter(kBlockMicroseconds * 1e-6 * static_cast<double>(bench.iterations()),
                         benchmark::Counter::kIsRate);
}

void BM_RenderBlock(benchmark::State& bench, Playing playing) {
  EngineState state;
  buildDefaultTable(state);
  renderBlocks(bench, state, playing);
}
BENCHMARK_CAPTURE(BM_RenderBlock, constant_440Hz, Playing{440.0f, 440.0f, 0.000001f});
BENCHMARK_CAPTURE(BM_RenderBlock, bend_full_vibrato, Playing{220.86f, 3520.0f, 0.382f});
BENCHMARK_CAPTURE(BM_RenderBlock, highest_56320Hz, Playing{56320.0f, 56320.0f, 0.382f});

// A one-sample table at the highest pitch: 128 subtractions a frame in the wrap.
void BM_WrapHeavy(benchmark::State& bench) {
  EngineState state;
  const int16_t one = 1000;
  publishTable(state, reinterpret_cast<const uint8_t*>(&one), 1);
  renderBlocks(bench, state, Playing{56320.0f, 56320.0f, 0.0f});
}
BENCHMARK(BM_WrapHeavy)->Name("BM_WrapHeavy/one_sample_table_56320Hz");

// Ten notes at the highest pitch MIDI reaches (key 127 bent up a range of 96 semitones, about
// 3.2 MHz), full mod wheel, on a one-sample table, the take recording: every voice's phase folds
// thousands of table lengths a frame. Reported as the share of real time the rendering takes.
void BM_MidiHighestTenVoices(benchmark::State& bench) {
  EngineState state;
  allocateTake(state);
  const int16_t one = 1000;
  publishTable(state, reinterpret_cast<const uint8_t*>(&one), 1);
  Controls controls(state);
  for (uint8_t channel = 0; channel < kVoiceCount; ++channel) {
    const uint8_t control = 0xB0 | channel;
    const uint8_t messages[][3] = {{control, 101, 0},
                                   {control, 100, 0},
                                   {control, 6, 96},
                                   {control, 1, 127},
                                   {uint8_t(0x90 | channel), 127, 127},
                                   {uint8_t(0xE0 | channel), 127, 127}};
    for (const auto& m : messages) controls.midi(m);
  }
  std::vector<uint8_t> block(kBlockBytes);
  for (auto _ : bench) {
    renderFrames(state, block.data(), kBlockFrames);
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  if (!state.voices[0].gate || state.voices[0].targetPitch < 3.2e6f) {
    bench.SkipWithError("the ten notes do not sound at the highest pitch");
  }
  // Shown with an "s" by the library, the figure is seconds of rendering per second of sound.
  bench.counters["share_of_real_time"] =
      benchmark::Counter(kBlockMicroseconds * 1e-6 * static_cast<double>(bench.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  releaseTake(state);
}
BENCHMARK(BM_MidiHighestTenVoices)->Name("BM_MidiHighestTenVoices/one_sample_table");

// The looper's cost per 1,500 frames, rendered as the page renders them, against the voices alone:
// one voice with full vibrato and a bend, over a loop that plays, or that is overdubbed. In its
// first pass an overdub also saves each sample it changes for undo; restarting the overdub every
// block keeps it there.
enum class Looping { kVoicesAlone, kPlaying, kOverdubbing, kOverdubFirstPass };

void BM_Looper(benchmark::State& bench, Looping looping, uint32_t loopFrames) {
  EngineState state;
  buildDefaultTable(state);
  allocateTake(state);
  openTakeIfIdle(state);
  Voice& voice = state.voices[0];
  voice.vibratoDepth = 0.382f;
  voice.gate = true;
  std::vector<uint8_t> block(kBlockBytes);
  if (looping != Looping::kVoicesAlone) {
    allocateLooper(state);
    loopControl(state);
    for (uint32_t left = loopFrames; left > 0; left -= std::min(left, kBlockFrames)) {
      renderFrames(state, block.data(), std::min(left, kBlockFrames));
    }
    // The first layer closes by itself at 60 s.
    if (state.looper.state == LoopState::kRecording) loopControl(state);
    if (looping != Looping::kPlaying) loopControl(state);  // overdubbing
  }
  bool up = false;
  for (auto _ : bench) {
    voice.targetPitch = up ? 3520.0f : 220.86f;
    up = !up;
    if (looping == Looping::kOverdubFirstPass) {
      loopControl(state);  // playing
      loopControl(state);  // overdubbing, with a fresh undo copy
    }
    renderFrames(state, block.data(), kBlockFrames);
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  releaseLooper(state);
}
constexpr uint32_t kTenSeconds = 441000;
BENCHMARK_CAPTURE(BM_Looper, voices_alone, Looping::kVoicesAlone, 0);
BENCHMARK_CAPTURE(BM_Looper, playing_10s, Looping::kPlaying, kTenSeconds);
BENCHMARK_CAPTURE(BM_Looper, overdubbing_10s, Looping::kOverdubbing, kTenSeconds);
BENCHMARK_CAPTURE(BM_Looper, overdub_first_pass_60s, Looping::kOverdubFirstPass, kLoopCapacity);

// What the overdub's undo copy of a 60 s loop costs. Starting an overdub copies nothing (the copy
// fills as the overdub runs, priced above as its first pass); an undo after a whole pass puts
// back all 60 s. Beside them, the plain copy an overdub would otherwise start with.
enum class UndoCost { kOverdubStart, kUndoWholePass, kPlainCopy };

void BM_LoopUndoCopy(benchmark::State& bench, UndoCost cost) {
  EngineState state;
  allocateLooper(state);
  Looper& loop = state.looper;
  // A full 60 s loop, as the first layer leaves it.
  std::memset(loop.samples.get(), 1, sizeof(int16_t) * kLoopCapacity);
  loop.state = LoopState::kPlaying;
  loop.length = kLoopCapacity;
  for (auto _ : bench) {
    switch (cost) {
      case UndoCost::kOverdubStart:
        loopControl(state);  // overdubbing
        loopControl(state);  // playing
        break;
      case UndoCost::kUndoWholePass:
        loop.undoable = true;  // as after an overdub that went once round the loop
        loop.saved = kLoopCapacity;
        loopUndo(state);
        break;
      case UndoCost::kPlainCopy:
        std::memcpy(loop.undo.get(), loop.samples.get(), sizeof(int16_t) * kLoopCapacity);
        break;
    }
    benchmark::DoNotOptimize(loop.samples.get());
    benchmark::ClobberMemory();
  }
  releaseLooper(state);
}
BENCHMARK_CAPTURE(BM_LoopUndoCopy, overdub_start_60s, UndoCost::kOverdubStart);
BENCHMARK_CAPTURE(BM_LoopUndoCopy, undo_after_a_whole_pass_60s, UndoCost::kUndoWholePass);
BENCHMARK_CAPTURE(BM_LoopUndoCopy, plain_copy_60s, UndoCost::kPlainCopy);

}  // namespace
}  // namespace tonvarel

BENCHMARK_MAIN();
