// The pitch of a recording every 20 ms, and the stretch of it whose pitch and level hold
// steadiest.
#include "voiceloop/pitch_track.h"

#include <algorithm>
#include <cmath>

#include "voiceloop/exact_math.h"
#include "voiceloop/voice_loop.h"

namespace tonvarel::voice {
namespace {

// The pitch is looked for on two copies of the recording. The fine one runs at this rate or a
// little above (22,050 Hz from 44,100 Hz): the highest pitch has 12 or more of its samples a
// period, enough to tell a whistle above the range from a pitch an octave or a twelfth below
// it. The coarse one runs at half that: every lag up to the lowest pitch's period is compared
// there, at a quarter of the cost, and a frame whose pitch comes out above kRecheckAbove is
// looked at again on the fine copy over the short lags only. Recordings made below twice the
// coarse rate are looked at once, at their own rate.
constexpr uint32_t kFineRate = 20000;
constexpr double kRecheckAbove = 450.0;
// The recheck compares lags up to this many times the coarse period, enough for its own test
// of twice and three times the first dip.
constexpr double kRecheckReach = 3.25;
// The decimation filter passes up to 0.4 of the lower rate (8.8 kHz from 44.1 kHz, then 4.4 kHz
// from that), the harmonics that make a voice's period clear, and spans 8 of the lower rate's
// samples each side.
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
template <class Sample>
std::vector<double> decimate(std::span<const Sample> x, uint32_t factor) {
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

// The period of the `window` samples from `z` (which holds window + lags of them), in its
// samples, found among lags up to `lags`; none when no lag repeats it well enough.
std::optional<Dip> findPeriod(const double* z, int window, int lags, std::vector<double>& d,
                              std::vector<double>& normalised) {
  double running = 0;
  for (int lag = 1; lag <= lags; ++lag) {
    d[lag] = squaredDifference(z, window, lag);
    running += d[lag];
    normalised[lag] = running > 0 ? d[lag] * lag / running : 1.0;
  }
  // The first dip below the threshold. Searching from lag 2, not from the range's shortest
  // period, lets a pitch above the range show itself and be refused rather than taken low.
  std::optional<Dip> period;
  for (int lag = 2; lag < lags && !period; ++lag) {
    if (!isDip(normalised, lag)) continue;
    const Dip dip = dipAt(normalised, lag);
    if (dip.value < kPeriodThreshold) period = dip;
  }
  if (!period) return std::nullopt;
  // A voice whose second or third harmonic outweighs its fundamental nearly repeats after half
  // or a third of its period; a dip at twice or three times the lag that is much deeper shows
  // the whole period.
  const double first = period->lag;
  for (int multiple = 2; multiple <= 3; ++multiple) {
    const auto from = static_cast<int>((multiple - 0.25) * first);
    const auto to = static_cast<int>(std::ceil((multiple + 0.25) * first));
    if (to >= lags) break;
    const Dip dip = deepestDip(normalised, from, to);
    if (dip.value < kWholePeriodRatio * period->value &&
        period->value - dip.value > kWholePeriodGain) {
      period = dip;
    }
  }
  return period;
}

double rms(const double* z, int count) {
  double energy = 0;
  for (int n = 0; n < count; ++n) energy += z[n] * z[n];
  return std::sqrt(energy / count);
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
  const uint32_t fineFactor = std::max<uint32_t>(1, sampleRate / kFineRate);
  const std::vector<double> fine = decimate(samples, fineFactor);
  const bool twoCopies = sampleRate / fineFactor >= kFineRate;
  const std::vector<double> coarseCopy =
      twoCopies ? decimate(std::span<const double>(fine), 2) : std::vector<double>();
  const std::vector<double>& coarse = twoCopies ? coarseCopy : fine;
  const uint32_t factor = twoCopies ? 2 * fineFactor : fineFactor;  // recording per coarse
  const double rate = static_cast<double>(sampleRate) / factor;

  const int window = static_cast<int>(std::ceil(rate * kRangeMargin / kVoiceMinPitch));
  const double shortestPeriod = sampleRate / (kVoiceMaxPitch * kRangeMargin);
  const double recheckBelow = rate / kRecheckAbove;
  const auto hop = std::max<size_t>(1, static_cast<size_t>(rate / kFramesPerSecond + 0.5));
  const auto span = static_cast<size_t>(2 * window);  // a window and the longest lag

  PitchTrack track;
  track.firstCentre = static_cast<double>(window) * factor;
  track.hop = static_cast<double>(hop) * factor;
  std::vector<double> d(2 * window + 1), normalised(2 * window + 1);
  double loudest = 0;
  for (size_t q = 0; q + span <= coarse.size(); q += hop) {
    PitchFrame frame{0, 1, rms(coarse.data() + q, window), false};
    std::optional<Dip> period = findPeriod(coarse.data() + q, window, window, d, normalised);
    double scale = factor;
    if (period && twoCopies && period->lag < recheckBelow) {
      // Again on the fine copy, around the frame's middle, over short lags.
      const int lags =
          std::min(2 * window, static_cast<int>(std::ceil(2 * kRecheckReach * period->lag)) + 2);
      const size_t start = 2 * (q + window) - lags;
      period = findPeriod(fine.data() + start, lags, lags, d, normalised);
      scale = fineFactor;
    }
    if (period) {
      frame.period = period->lag * scale;
      frame.aperiodicity = period->value;
      frame.voiced = frame.period >= shortestPeriod;
    }
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
