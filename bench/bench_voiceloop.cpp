// A recording made into a voice loop, for the longest recording the page takes: 5 s at
// 44,100 Hz. "per_recorded_second" is the time taken for each second recorded, the time over
// the 5 s. A sung vowel (vibrato, breath noise, an onset and a release) is made into a loop;
// white noise is searched through to the end and refused.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "voiceloop/voice_loop.h"

namespace tonvarel {
namespace {

constexpr uint32_t kRate = 44100;
constexpr double kSeconds = 5.0;
constexpr double kTwoPi = 6.283185307179586;

std::vector<float> sungVowel() {
  std::mt19937 generator(5);
  std::uniform_real_distribution<double> breath(-0.01, 0.01);
  std::vector<float> out(static_cast<size_t>(kSeconds * kRate));
  double phase = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double level = std::fmin(1.0, std::fmin(t / 0.3, (kSeconds - t) / 0.5));
    const double p = kTwoPi * phase;
    const double wave = 0.4 * std::sin(p) + 0.3 * std::sin(2 * p + 0.4) +
                        0.2 * std::sin(3 * p + 1.1) + 0.1 * std::sin(4 * p + 2.0);
    out[i] = static_cast<float>(0.6 * level * wave + breath(generator));
    phase += 196.0 * std::exp2(20.0 / 1200 * std::sin(kTwoPi * 5.2 * t)) / kRate;
    phase -= std::floor(phase);
  }
  return out;
}

std::vector<float> whiteNoise() {
  std::mt19937 generator(6);
  std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
  std::vector<float> out(static_cast<size_t>(kSeconds * kRate));
  for (float& v : out) v = uniform(generator);
  return out;
}

void makeLoop(benchmark::State& bench, const std::vector<float>& recording, VoiceStatus expected) {
  for (auto _ : bench) {
    const VoiceLoop loop = makeVoiceLoop(recording, kRate);
    benchmark::DoNotOptimize(loop.table.data());
    if (loop.status != expected) {
      bench.SkipWithError(describeVoiceStatus(loop.status));
      break;
    }
  }
  bench.counters["per_recorded_second"] = benchmark::Counter(
      kSeconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_SungVowel(benchmark::State& bench) {
  makeLoop(bench, sungVowel(), VoiceStatus::kMade);
}
void BM_WhiteNoiseRefused(benchmark::State& bench) {
  makeLoop(bench, whiteNoise(), VoiceStatus::kNoPitch);
}
BENCHMARK(BM_SungVowel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WhiteNoiseRefused)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tonvarel

BENCHMARK_MAIN();
