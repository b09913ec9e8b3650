// The pitch of a recording every 20 ms, and the stretch of it whose pitch and level hold
// steadiest.
#include "voiceloop/pitch_track.h"

#include <algorithm>
#include <cmath>

#include "voiceloop/exact_math.h"
#include "voiceloop/voice_loop.h"

namespace tonvarel::voice {
namespace {

// The pitch is looked for at about this rate or a little above (22,050 Hz from 44,100 Hz): the
// highest pitch then has 12 or more samples a period (fewer only in a recording made below
// 20 kHz), so that a whistle above the range shows its own period rather than passing for one
// of twice or three times its length.
constexpr uint32_t kAnalysisRate = 20000;
// The decimation filter passes up to 0.4 of the lower rate (8.8 kHz from 44.1 kHz), all the
// harmonics that make a voice's period clear, and spans 8 of the lower rate's samples each side.
constexpr double kDecimationCutoff = 0.4;
constexpr int kDecimationReach = 8;
constexpr double kFramesPerSecond = 50.0;
// A lag whose normalised difference falls below this is a period (YIN's absolute threshold).
constexpr double kPeriodThreshold = 0.2;
// A dip at a multiple of the first one this much deeper marks the whole period: less than half
// as deep, and by more than two tenths of the threshold, so that a clean tone, all of whose
// dips lie near zero, is not taken an octave low.
constexpr double kWholePeriodRatio = 0.5;
constexpr double kWholePeriodGain = 0.04;
// Periods are looked for a semitone beyond each end of the range, so that a pitch at an end,
// vibrato and all, is not lost in the frames where it strays outside.
constexpr double kRangeMargin = 1.06;
// Frames more than 20 dB below the loudest are background, not the voice.
constexpr double kQuietFraction = 0.1;

// Stretch lengths: a quarter second of loop is the aim, a tenth the least; a period of the
// lowest pitch either side leaves room for the loop's crossfade and for its end.
constexpr double kLoopSeconds = 0.25;
constexpr double kMinLoopSeconds = 0.1;
constexpr double kLoopMargin = 2.0 / kVoiceMinPitch;
// Steadiness: about 10 cents of pitch spread weigh as much as about 0.8 dB of level spread and
// as an aperiodicity of 0.1. No frame may stray more than about half a semitone from the mean.
constexpr double kPitchSpreadScale = 0.006;
constexpr double kLevelSpreadScale = 0.1;
constexpr double kAperiodicityScale = 0.1;
constexpr double kMaxPitchSwing = 0.03;

// Low-passed and decimated by `factor`: output m is centred on input m * factor.
std::vector<double> decimate(std::span<const float> x, uint32_t factor) {
  if (factor == 1) return std::vector<double>(x.begin(), x.end());
  const double cutoff = kDecimationCutoff / factor;  // cycles per input sample
  const int reach = kDecimationReach * static_cast<int>(factor);
  std::vector<double> taps(reach + 1);
  double sum = 0;
  for (int n = 0; n <= reach; ++n) {
    const double hann = 0.5 + 0.5 * cosPi(n / (reach + 1.0));
    taps[n] = 2.0 * cutoff * sincPi(2.0 * cutoff * n) * hann;
    sum += n == 0 ? taps[n] : 2.0 * taps[n];
  }
  for (double& t : taps) t /= sum;

  const auto size = static_cast<int64_t>(x.size());
  auto at = [&](int64_t i) { return i >= 0 && i < size ? double{x[i]} : 0.0; };
  std::vector<double> out(x.size() / factor);
  for (size_t m = 0; m < out.size(); ++m) {
    const int64_t c = static_cast<int64_t>(m) * factor;
    double acc = taps[0] * x[c];
    if (c >= reach && c + reach < size) {
      for (int n = 1; n <= reach; ++n) acc += taps[n] * (double{x[c - n]} + double{x[c + n]});
    } else {
      for (int n = 1; n <= reach; ++n) acc += taps[n] * (at(c - n) + at(c + n));
    }
    out[m] = acc;
  }
  return out;
}

struct Lags {
  double min;  // the shortest period taken (kVoiceMaxPitch and the margin)
  int max;     // the longest (kVoiceMinPitch and the margin), also the window's length
};

// A dip of the normalised difference, placed between lags by a parabola through its lowest
// lag and the two beside it. Short periods, a few analysis samples long, fall well between two
// lags; the parabola's bottom keeps them from looking less periodic than they are.
struct Dip {
  double lag = 0;
  double value = 1;
};

Dip dipAt(const std::vector<double>& normalised, int lag) {
  const double a = normalised[lag - 1], b = normalised[lag], c = normalised[lag + 1];
  const double curve = a - 2.0 * b + c;
  if (!(curve > 0)) return {static_cast<double>(lag), b};
  const double shift = std::clamp(0.5 * (a - c) / curve, -0.5, 0.5);
  return {lag + shift, std::max(0.0, b - 0.25 * (a - c) * shift)};
}

bool isDip(const std::vector<double>& normalised, int lag) {
  return normalised[lag] <= normalised[lag - 1] && normalised[lag] < normalised[lag + 1];
}

// The deepest dip with its lowest lag in [from, to]; none has value 1.
Dip deepestDip(const std::vector<double>& normalised, int from, int to) {
  Dip deepest;
  for (int lag = from; lag <= to; ++lag) {
    if (!isDip(normalised, lag)) continue;
    const Dip dip = dipAt(normalised, lag);
    if (dip.value < deepest.value) deepest = dip;
  }
  return deepest;
}

// One frame at `z` (lags.max * 2 samples): its period in analysis samples, or none.
PitchFrame analyseFrame(const double* z, Lags lags, std::vector<double>& d,
                        std::vector<double>& normalised) {
  double running = 0;
  for (int lag = 1; lag <= lags.max; ++lag) {
    d[lag] = squaredDifference(z, lags.max, lag);
    running += d[lag];
    normalised[lag] = running > 0 ? d[lag] * lag / running : 1.0;
  }
  double energy = 0;
  for (int n = 0; n < lags.max; ++n) energy += z[n] * z[n];
  PitchFrame frame{0, 1, std::sqrt(energy / lags.max), false};

  // The first dip below the threshold. Searching from lag 2, not from lags.min, lets a pitch
  // above the range show itself and be refused rather than taken an octave low.
  std::optional<Dip> period;
  for (int lag = 2; lag < lags.max && !period; ++lag) {
    if (!isDip(normalised, lag)) continue;
    const Dip dip = dipAt(normalised, lag);
    if (dip.value < kPeriodThreshold) period = dip;
  }
  if (!period) return frame;
  // A voice whose second or third harmonic outweighs its fundamental nearly repeats after half
  // or a third of its period; a dip at twice or three times the lag that is much deeper shows
  // the whole period.
  const double first = period->lag;
  for (int multiple = 2; multiple <= 3; ++multiple) {
    const auto from = static_cast<int>((multiple - 0.25) * first);
    const auto to = static_cast<int>(std::ceil((multiple + 0.25) * first));
    if (to >= lags.max) break;
    const Dip dip = deepestDip(normalised, from, to);
    if (dip.value < kWholePeriodRatio * period->value &&
        period->value - dip.value > kWholePeriodGain) {
      period = dip;
    }
  }
  frame.period = period->lag;
  frame.aperiodicity = period->value;
  frame.voiced = frame.period >= lags.min;
  return frame;
}

struct Spread {
  double score;
  double period;
};

// How steady frames [first, first + count) are; empty when they cannot hold a loop.
std::optional<Spread> steadiness(const std::vector<PitchFrame>& frames, size_t first,
                                 size_t count) {
  double period = 0, level = 0, aperiodicity = 0;
  for (size_t i = first; i < first + count; ++i) {
    if (!frames[i].voiced) return std::nullopt;
    period += frames[i].period, level += frames[i].level, aperiodicity += frames[i].aperiodicity;
  }
  period /= count, level /= count, aperiodicity /= count;
  double pitchSpread = 0, levelSpread = 0;
  for (size_t i = first; i < first + count; ++i) {
    const double p = frames[i].period / period - 1.0, l = frames[i].level / level - 1.0;
    if (std::fabs(p) > kMaxPitchSwing) return std::nullopt;
    pitchSpread += p * p, levelSpread += l * l;
  }
  pitchSpread = std::sqrt(pitchSpread / count), levelSpread = std::sqrt(levelSpread / count);
  return Spread{pitchSpread / kPitchSpreadScale + levelSpread / kLevelSpreadScale +
                    aperiodicity / kAperiodicityScale,
                period};
}

}  // namespace

PitchTrack trackPitch(std::span<const float> samples, uint32_t sampleRate) {
  const uint32_t factor = std::max<uint32_t>(1, sampleRate / kAnalysisRate);
  const std::vector<double> z = decimate(samples, factor);
  const double rate = static_cast<double>(sampleRate) / factor;
  const Lags lags{rate / (kVoiceMaxPitch * kRangeMargin),
                  static_cast<int>(std::ceil(rate * kRangeMargin / kVoiceMinPitch))};
  const auto hop = std::max<size_t>(1, static_cast<size_t>(rate / kFramesPerSecond + 0.5));
  const auto span = static_cast<size_t>(2 * lags.max);  // a window and the longest lag

  PitchTrack track;
  track.firstCentre = 0.5 * static_cast<double>(span) * factor;
  track.hop = static_cast<double>(hop) * factor;
  std::vector<double> d(lags.max + 1), normalised(lags.max + 1);
  double loudest = 0;
  for (size_t q = 0; q + span <= z.size(); q += hop) {
    PitchFrame frame = analyseFrame(z.data() + q, lags, d, normalised);
    frame.period *= factor;
    loudest = std::max(loudest, frame.level);
    track.frames.push_back(frame);
  }
  for (PitchFrame& frame : track.frames) {
    if (frame.level < kQuietFraction * loudest) frame.voiced = false;
  }
  return track;
}

std::optional<Stretch> steadiestStretch(const PitchTrack& track, uint32_t sampleRate) {
  const double hopSeconds = track.hop / sampleRate;
  auto framesFor = [&](double loopSeconds) {
    return static_cast<size_t>(std::ceil((loopSeconds + kLoopMargin) / hopSeconds)) + 1;
  };
  const std::vector<PitchFrame>& frames = track.frames;
  for (size_t count = framesFor(kLoopSeconds); count >= framesFor(kMinLoopSeconds); --count) {
    std::optional<Stretch> best;
    double bestScore = 0;
    for (size_t first = 0; first + count <= frames.size(); ++first) {
      const std::optional<Spread> spread = steadiness(frames, first, count);
      if (!spread || (best && spread->score >= bestScore)) continue;
      bestScore = spread->score;
      best = Stretch{first, count, spread->period, (count - 1) * hopSeconds - kLoopMargin};
    }
    if (best) return best;
  }
  return std::nullopt;
}

}  // namespace tonvarel::voice
