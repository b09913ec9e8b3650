// A recording made into a tone table, on made-up recordings whose pitch is known: the pitch
// found, the loop's join, the table's own pitch measured on the looped table, the level; and
// the recordings that must be refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "voiceloop/voice_loop.h"

namespace tonvarel {
namespace {

constexpr double kTwoPi = 6.283185307179586;

double cents(double frequency, double reference) {
  return 1200.0 * std::log2(frequency / reference);
}

// A recording of `seconds` at `rate` whose instantaneous pitch and level are given by time, its
// waveform by the phase in cycles; seeded white noise of `noise` peak is added.
std::vector<float> record(
    uint32_t rate, double seconds, std::function<double(double)> pitch,
    std::function<double(double)> wave, double noise = 0,
    std::function<double(double)> level = [](double) { return 0.5; }) {
  std::mt19937 generator(20240611);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<float> out(static_cast<size_t>(seconds * rate));
  double phase = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / rate;
    out[i] = static_cast<float>(level(t) * wave(phase) + noise * uniform(generator));
    phase += pitch(t) / rate;
    phase -= std::floor(phase);
  }
  return out;
}

double sine(double phase) {
  return std::sin(kTwoPi * phase);
}
double sawtooth(double phase) {
  return 2.0 * phase - 1.0;
}
// A vowel-like tone whose second harmonic is stronger than its fundamental.
double vowel(double phase) {
  return (0.3 * std::sin(kTwoPi * phase) + std::sin(2 * kTwoPi * phase) +
          0.6 * std::sin(3 * kTwoPi * phase + 1.0) + 0.3 * std::sin(5 * kTwoPi * phase + 2.0)) /
         1.8;
}

// The table's pitch as the voice plays it, looped, measured on the table alone: the first strong
// peak of its circular autocorrelation gives the period roughly, the peak near half the table
// gives it to a small fraction of a sample.
double loopedFrequency(const std::vector<int16_t>& t) {
  const size_t length = t.size();
  auto correlation = [&](size_t lag) {
    double sum = 0;
    for (size_t i = 0; i < length; ++i) sum += static_cast<double>(t[i]) * t[(i + lag) % length];
    return sum;
  };
  auto peakNear = [&](size_t from, size_t to) {
    size_t best = from;
    for (size_t lag = from; lag <= to; ++lag) {
      if (correlation(lag) > correlation(best)) best = lag;
    }
    const double a = correlation(best - 1), b = correlation(best), c = correlation(best + 1);
    return static_cast<double>(best) + 0.5 * (a - c) / (a - 2 * b + c);
  };
  const double energy = correlation(0);
  size_t rough = 0;
  for (size_t lag = 20; lag < length / 2 && rough == 0; ++lag) {
    const double r = correlation(lag);
    if (r > 0.8 * energy && r >= correlation(lag - 1) && r >= correlation(lag + 1)) rough = lag;
  }
  if (rough == 0) return 0;
  const size_t multiple = length / 2 / rough;
  const double period = peakNear(multiple * rough - rough / 2, multiple * rough + rough / 2) /
                        static_cast<double>(multiple);
  return kVoiceTableRate / period;
}

struct Voiced {
  const char* name;
  uint32_t rate;
  double seconds;
  double pitch;  // the held pitch, in Hz
  std::function<double(double)> pitchAt;
  std::function<double(double)> wave;
  double noise;
  double steadyFrom;  // seconds: where the held pitch begins
};

const std::vector<Voiced> kVoiced = {
    {"sine_98Hz", 44100, 2.0, 98.0, [](double) { return 98.0; }, sine, 0, 0},
    {"sawtooth_220Hz_vibrato_noise", 44100, 2.0, 220.0,
     // 6 cents of vibrato at 5.5 Hz
     [](double t) { return 220.0 * std::exp2(6.0 / 1200 * std::sin(kTwoPi * 5.5 * t)); }, sawtooth,
     0.02, 0},
    {"vowel_glide_into_250Hz_48kHz", 48000, 1.6, 250.0,
     [](double t) { return t < 0.4 ? 180.0 + 70.0 * t / 0.4 : 250.0; }, vowel, 0.005, 0.4},
    {"whistle_1200Hz_22kHz", 22050, 1.0, 1200.0, [](double) { return 1200.0; }, sine, 0.01, 0},
    {"low_sawtooth_65Hz_16kHz", 16000, 1.0, 65.0, [](double) { return 65.0; }, sawtooth, 0.01, 0},
};

void PrintTo(const Voiced& c, std::ostream* out) {
  *out << c.name;
}

class VoicedRecording : public ::testing::TestWithParam<Voiced> {};

TEST_P(VoicedRecording, LoopsTheHeldPitchAt440HzWithoutAJumpAtThePeakLevel) {
  const Voiced& c = GetParam();
  const std::vector<float> samples = record(c.rate, c.seconds, c.pitchAt, c.wave, c.noise);
  const VoiceLoop loop = makeVoiceLoop(samples, c.rate);
  ASSERT_EQ(loop.status, VoiceStatus::kMade);

  EXPECT_LT(std::fabs(cents(loop.fundamental, c.pitch)), 5.0) << loop.fundamental << " Hz";
  EXPECT_GE(loop.sourceStart, c.steadyFrom * c.rate);
  EXPECT_GE(loop.periods, kVoiceMinPeriods);

  const std::vector<int16_t>& t = loop.table;
  ASSERT_GT(t.size(), 1u);
  EXPECT_LE(t.size(), kVoiceMaxTableLength);
  int largestStep = 0;
  for (size_t i = 0; i + 1 < t.size(); ++i) {
    largestStep = std::max(largestStep, std::abs(t[i + 1] - t[i]));
  }
  EXPECT_LE(std::abs(t.back() - t.front()), largestStep);

  EXPECT_LT(std::fabs(cents(loopedFrequency(t), kVoiceTablePitch)), 2.0);
  int peak = 0;
  for (int16_t v : t) peak = std::max(peak, std::abs(int{v}));
  EXPECT_EQ(peak, kVoicePeak);
}

INSTANTIATE_TEST_SUITE_P(Recordings, VoicedRecording, ::testing::ValuesIn(kVoiced),
                         [](const auto& info) { return std::string(info.param.name); });

struct Refused {
  const char* name;
  uint32_t rate;
  std::vector<float> samples;
  VoiceStatus status;
};

std::vector<Refused> refusedRecordings() {
  auto steady = [](double hz) { return [hz](double) { return hz; }; };
  std::vector<float> noise(2 * 44100);
  std::mt19937 generator(7);
  std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
  for (float& v : noise) v = uniform(generator);
  std::vector<float> withNan = record(44100, 1.0, steady(220), sine);
  withNan[1234] = std::numeric_limits<float>::quiet_NaN();
  return {
      {"silence", 44100, std::vector<float>(44100, 0.0f), VoiceStatus::kSilent},
      {"whisper_below_minus_60dB", 44100,
       record(44100, 1.0, steady(220), sine, 0.0004, [](double) { return 0.0005; }),
       VoiceStatus::kSilent},
      {"white_noise", 44100, noise, VoiceStatus::kNoPitch},
      {"too_short", 44100, record(44100, 0.15, steady(220), sine), VoiceStatus::kTooShort},
      {"empty", 44100, {}, VoiceStatus::kTooShort},
      {"below_the_range", 44100, record(44100, 1.0, steady(40), sine), VoiceStatus::kNoPitch},
      // Not taken for their octave or twelfth below, which lie in the range.
      {"above_the_range", 44100, record(44100, 1.0, steady(2500), sine), VoiceStatus::kNoPitch},
      {"far_above_the_range", 44100, record(44100, 1.0, steady(3300), sine), VoiceStatus::kNoPitch},
      {"not_a_number", 44100, withNan, VoiceStatus::kBadSamples},
      {"rate_too_low", 4000, record(4000, 1.0, steady(220), sine), VoiceStatus::kBadRate},
  };
}

TEST(VoiceLoopRefuses, RecordingsWithNoPitchToLoop) {
  for (const Refused& c : refusedRecordings()) {
    SCOPED_TRACE(c.name);
    const VoiceLoop loop = makeVoiceLoop(c.samples, c.rate);
    EXPECT_EQ(loop.status, c.status) << describeVoiceStatus(loop.status);
    EXPECT_TRUE(loop.table.empty());
  }
}

TEST(VoiceLoop, SixteenBitSamplesMakeTheSameTableAsTheirFloats) {
  std::vector<int16_t> samples(44100);
  std::vector<float> floats(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] =
        static_cast<int16_t>(std::lround(12000 * vowel(std::fmod(i * 310.0 / 44100, 1.0))));
    floats[i] = samples[i] / 32768.0f;
  }
  const VoiceLoop fromInts = makeVoiceLoop(samples, 44100);
  const VoiceLoop fromFloats = makeVoiceLoop(floats, 44100);
  ASSERT_EQ(fromInts.status, VoiceStatus::kMade);
  EXPECT_EQ(fromInts.table, fromFloats.table);
  EXPECT_EQ(fromInts.fundamental, fromFloats.fundamental);
}

TEST(VoiceWavImage, IsA44100Hz16BitMonoFileOfTheTable) {
  const std::vector<int16_t> table = {1, -2, 0x1234};
  const std::vector<uint8_t> expected = {
      'R',  'I',  'F',  'F',  42,   0,    0,    0,    // 36 + 6 bytes of samples
      'W',  'A',  'V',  'E',  'f',  'm',  't',  ' ',  //
      16,   0,    0,    0,    1,    0,    1,    0,    // PCM, mono
      0x44, 0xAC, 0,    0,    0x88, 0x58, 0x01, 0,    // 44,100 Hz, 88,200 bytes/s
      2,    0,    16,   0,    'd',  'a',  't',  'a',  // 2-byte frames of 16 bits
      6,    0,    0,    0,                            //
      1,    0,    0xFE, 0xFF, 0x34, 0x12};
  EXPECT_EQ(voiceWavImage(table), expected);
}

}  // namespace
}  // namespace tonvarel
