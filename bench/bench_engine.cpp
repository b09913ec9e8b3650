// Rendering speed of one block (1,500 frames, 34,013.6 us of sound). The real-time factor is the
// block's playing time over the time it takes to render.
#include <benchmark/benchmark.h>

#include <vector>

#include "engine/tone_table.h"
#include "engine/voice.h"

namespace tonvarel {
namespace {

constexpr double kBlockMicroseconds = 1e6 * kBlockFrames / 44100.0;

enum class Motion { kConstant, kBend };

void renderBlocks(benchmark::State& bench, EngineState& state, Motion motion, float lowPitch,
                  float highPitch) {
  std::vector<uint8_t> block(kBlockBytes);
  bool up = false;
  for (auto _ : bench) {
    if (motion == Motion::kBend) {
      state.targetPitch = up ? highPitch : lowPitch;
      up = !up;
    }
    renderBlock(state, block.data(), kBlockBytes);
    benchmark::DoNotOptimize(block.data());
    benchmark::ClobberMemory();
  }
  bench.counters["realtime_factor"] =
      benchmark::Counter(kBlockMicroseconds * 1e-6 * static_cast<double>(bench.iterations()),
                         benchmark::Counter::kIsRate);
}

void setUp(EngineState& state, float pitch, float depth) {
  buildDefaultTable(state);
  state.targetPitch = pitch;
  state.vibratoDepth = depth;
  state.gate = true;
}

void BM_RenderBlock_Constant(benchmark::State& bench) {
  EngineState state;
  setUp(state, 440.0f, 0.000001f);
  renderBlocks(bench, state, Motion::kConstant, 440.0f, 440.0f);
  releaseTables(state);
}
BENCHMARK(BM_RenderBlock_Constant)->Name("BM_RenderBlock/constant_440Hz");

void BM_RenderBlock_BendFullVibrato(benchmark::State& bench) {
  EngineState state;
  setUp(state, 220.86f, 0.382f);
  renderBlocks(bench, state, Motion::kBend, 220.86f, 3520.0f);
  releaseTables(state);
}
BENCHMARK(BM_RenderBlock_BendFullVibrato)->Name("BM_RenderBlock/bend_full_vibrato");

void BM_RenderBlock_Highest(benchmark::State& bench) {
  EngineState state;
  setUp(state, 56320.0f, 0.382f);
  renderBlocks(bench, state, Motion::kConstant, 56320.0f, 56320.0f);
  releaseTables(state);
}
BENCHMARK(BM_RenderBlock_Highest)->Name("BM_RenderBlock/highest_56320Hz");

void BM_WrapHeavy(benchmark::State& bench) {
  EngineState state;
  const int16_t one = 1000;
  publishTable(state, reinterpret_cast<const uint8_t*>(&one), 1);
  state.targetPitch = 56320.0f;
  state.vibratoDepth = 0.0f;
  state.gate = true;
  renderBlocks(bench, state, Motion::kConstant, 56320.0f, 56320.0f);
}
BENCHMARK(BM_WrapHeavy)->Name("BM_WrapHeavy/one_sample_table_56320Hz");

}  // namespace
}  // namespace tonvarel

BENCHMARK_MAIN();
