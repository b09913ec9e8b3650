// A recording made into a tone table.
//
// How it works: the pitch is tracked every 20 ms on a decimated copy and the steadiest voiced
// stretch is chosen (pitch_track.cpp). Inside it, at the full rate, the waveform is followed
// period by period, each mark placed where the period before repeats best; following it rather
// than multiplying one period keeps the count right through vibrato. The loop runs from the
// steepest rising zero crossing near the first mark to the rising crossing where that one
// comes round again k periods later. It is read with a band-limited interpolator into the
// table length that makes k periods sound at 440 Hz; its last period fades into the period
// that comes before the start in the recording, so the wrap from the table's end to its start
// is a step the recording itself takes. Then its mean is taken out and its peak set.
#include "voiceloop/voice_loop.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <optional>

#include "voiceloop/loop_resampler.h"
#include "voiceloop/pitch_track.h"

namespace tonvarel {
namespace {

using voice::PitchTrack;
using voice::Stretch;

constexpr double kSilenceLevel = 0.001;  // -60 dB of full scale
// Each period is looked for within 10 % of the one the track gives there.
constexpr double kMarkSearch = 0.1;
// The loop may give up a few periods so that its table length tunes it more closely.
constexpr uint32_t kPeriodsGivenUp = 4;
// A loop tuned within this (about half a cent) is taken with the most periods.
constexpr double kTuningTolerance = 2.8e-4;
constexpr uint32_t kMaxPeriods = kVoiceMaxTableLength * kVoiceTablePitch / kVoiceTableRate;  // 163

VoiceLoop refuse(VoiceStatus status) {
  VoiceLoop loop;
  loop.status = status;
  return loop;
}

uint32_t tableLengthFor(uint32_t periods) {
  return (periods * kVoiceTableRate + kVoiceTablePitch / 2) / kVoiceTablePitch;
}

// How far k periods in their table length are from 440 Hz, as a fraction.
double tuningError(uint32_t periods) {
  const double length = tableLengthFor(periods);
  const double off = std::fabs(double{kVoiceTableRate} * periods - kVoiceTablePitch * length);
  return off / (kVoiceTablePitch * length);
}

// The most periods, up to `available`, whose table tunes them within the tolerance; failing
// that, the closest tuned of the few tried.
uint32_t choosePeriods(uint32_t available) {
  const uint32_t fewest =
      std::max(kVoiceMinPeriods, available > kPeriodsGivenUp ? available - kPeriodsGivenUp : 0);
  uint32_t closest = available;
  for (uint32_t k = available; k >= fewest; --k) {
    if (tuningError(k) <= kTuningTolerance) return k;
    if (tuningError(k) < tuningError(closest)) closest = k;
  }
  return closest;
}

double periodNear(const PitchTrack& track, const Stretch& stretch, double position) {
  const double frame = std::nearbyint((position - track.firstCentre) / track.hop);
  const double first = static_cast<double>(stretch.first);
  const double last = static_cast<double>(stretch.first + stretch.count - 1);
  return track.frames[static_cast<size_t>(std::clamp(frame, first, last))].period;
}

// Up to `count` marks after `start`, each a period after the one before, where the `window`
// samples from that one repeat best; fewer if the recording ends first.
std::vector<double> periodMarks(std::span<const float> x, const PitchTrack& track,
                                const Stretch& stretch, double start, uint32_t count) {
  std::vector<double> marks{start};
  std::vector<double> d;
  double mark = start;
  for (uint32_t i = 0; i < count; ++i) {
    const double period = periodNear(track, stretch, mark);
    const int window = std::max(1, static_cast<int>(period + 0.5));
    const int low = std::max(2, static_cast<int>(period * (1.0 - kMarkSearch))) - 1;
    const int high = static_cast<int>(std::ceil(period * (1.0 + kMarkSearch))) + 1;
    const auto base = static_cast<int64_t>(mark);
    if (base < 0 || base + high + window > static_cast<int64_t>(x.size())) break;
    d.resize(high - low + 1);
    int best = low + 1;
    for (int lag = low; lag <= high; ++lag) {
      d[lag - low] = voice::squaredDifference(x.data() + base, window, lag);
      if (lag > low && lag < high && d[lag - low] < d[best - low]) best = lag;
    }
    const double a = d[best - 1 - low], b = d[best - low], c = d[best + 1 - low];
    const double curve = a - 2.0 * b + c;
    const double shift = curve > 0 ? std::clamp(0.5 * (a - c) / curve, -0.5, 0.5) : 0.0;
    mark += best + shift;
    marks.push_back(mark);
  }
  return marks;
}

// Rising zero crossings of the recording less `mean`, placed between samples by straight-line
// interpolation.
class Crossings {
 public:
  Crossings(std::span<const float> x, double mean) : x_(x), mean_(mean) {}

  // The crossing in [from, to) that rises most over `reach` samples either side: the same one
  // in every period of a steady tone, and the least moved by noise.
  std::optional<double> steepest(double from, double to, int reach) const {
    std::optional<double> found;
    double steepest = 0;
    for (int64_t n = firstIndex(from); n < lastIndex(to); ++n) {
      if (!rises(n)) continue;
      const double rise = y(n + reach) - y(n + 1 - reach);
      if (!found || rise > steepest) found = at(n), steepest = rise;
    }
    return found;
  }

  // The crossing nearest `target` within `tolerance`.
  std::optional<double> nearest(double target, double tolerance) const {
    std::optional<double> found;
    for (int64_t n = firstIndex(target - tolerance); n < lastIndex(target + tolerance); ++n) {
      if (!rises(n)) continue;
      const double p = at(n);
      if (std::fabs(p - target) <= tolerance &&
          (!found || std::fabs(p - target) < std::fabs(*found - target))) {
        found = p;
      }
    }
    return found;
  }

 private:
  double y(int64_t n) const {
    return n >= 0 && n < static_cast<int64_t>(x_.size()) ? x_[n] - mean_ : 0.0;
  }
  bool rises(int64_t n) const { return y(n) < 0 && y(n + 1) >= 0; }
  double at(int64_t n) const { return static_cast<double>(n) + y(n) / (y(n) - y(n + 1)); }
  static int64_t firstIndex(double from) {
    return std::max<int64_t>(0, static_cast<int64_t>(std::floor(from)));
  }
  int64_t lastIndex(double to) const {
    return std::min(static_cast<int64_t>(x_.size()) - 1, static_cast<int64_t>(std::ceil(to)));
  }

  std::span<const float> x_;
  double mean_;
};

double meanOver(std::span<const float> x, double from, double to) {
  const auto first = static_cast<size_t>(std::max(0.0, from));
  const auto last = std::min(x.size(), static_cast<size_t>(std::max(0.0, to)));
  double sum = 0;
  for (size_t n = first; n < last; ++n) sum += x[n];
  return last > first ? sum / static_cast<double>(last - first) : 0.0;
}

struct Cut {
  double start;
  double end;
  uint32_t periods;
};

std::optional<Cut> cutLoop(std::span<const float> x, uint32_t sampleRate, const PitchTrack& track,
                           const Stretch& stretch) {
  const double period = stretch.period;
  const double firstCentre = track.firstCentre + static_cast<double>(stretch.first) * track.hop;
  const double start = firstCentre + period;  // a period before it for the crossfade
  const auto wanted = static_cast<uint32_t>(stretch.loopSeconds * sampleRate / period);
  const std::vector<double> marks =
      periodMarks(x, track, stretch, start, std::min(wanted, kMaxPeriods));
  const auto available = static_cast<uint32_t>(marks.size() - 1);
  if (available < kVoiceMinPeriods) return std::nullopt;
  const uint32_t periods = choosePeriods(available);
  const double span = marks[periods] - marks[0];

  const Crossings crossings(x, meanOver(x, start - period, marks[periods] + period));
  const int reach = std::max(1, static_cast<int>(period / 16.0));
  const double begin =
      crossings.steepest(start - 0.5 * period, start + 0.5 * period, reach).value_or(start);
  const double end = crossings.nearest(begin + span, 0.25 * period).value_or(begin + span);
  return Cut{begin, end, periods};
}

// The cut read into its table length, its last period faded into the one before its start.
std::vector<double> readLoop(std::span<const float> x, const Cut& cut, uint32_t length) {
  const double cutLength = cut.end - cut.start;
  const double step = cutLength / length;
  const voice::LoopResampler source(x, step);
  const uint32_t fade = std::max<uint32_t>(1, (length + cut.periods / 2) / cut.periods);
  std::vector<double> loop(length);
  for (uint32_t j = 0; j < length; ++j) {
    const double position = cut.start + j * step;
    loop[j] = source.at(position);
    if (j >= length - fade) {
      const double w = static_cast<double>(j - (length - fade) + 1) / fade;
      loop[j] = (1.0 - w) * loop[j] + w * source.at(cut.start - (length - j) * step);
    }
  }
  return loop;
}

// The mean taken out, the peak brought to kVoicePeak; empty if nothing is left.
std::vector<int16_t> levelled(std::vector<double> loop) {
  double mean = 0;
  for (double v : loop) mean += v;
  mean /= static_cast<double>(loop.size());
  double peak = 0;
  for (double& v : loop) {
    v -= mean;
    peak = std::max(peak, std::fabs(v));
  }
  if (!(peak > 0)) return {};
  std::vector<int16_t> table(loop.size());
  for (size_t j = 0; j < loop.size(); ++j) {
    // The peak sample comes out exactly at kVoicePeak: (peak * kVoicePeak) / peak is exact.
    table[j] = static_cast<int16_t>(std::lround(loop[j] * kVoicePeak / peak));
  }
  return table;
}

VoiceLoop makeFromFloats(std::span<const float> x, uint32_t sampleRate) {
  if (sampleRate < kVoiceMinRate || sampleRate > kVoiceMaxRate) {
    return refuse(VoiceStatus::kBadRate);
  }
  double peak = 0;
  for (float v : x) {
    if (!std::isfinite(v)) return refuse(VoiceStatus::kBadSamples);
    peak = std::max(peak, double{std::fabs(v)});
  }
  const double seconds = static_cast<double>(x.size()) / sampleRate;
  if (seconds < kVoiceMinSeconds) return refuse(VoiceStatus::kTooShort);
  if (seconds > kVoiceMaxSeconds) return refuse(VoiceStatus::kTooLong);
  if (peak < kSilenceLevel) return refuse(VoiceStatus::kSilent);

  const PitchTrack track = voice::trackPitch(x, sampleRate);
  const std::optional<Stretch> stretch = voice::steadiestStretch(track, sampleRate);
  if (!stretch) return refuse(VoiceStatus::kNoPitch);
  const std::optional<Cut> cut = cutLoop(x, sampleRate, track, *stretch);
  if (!cut) return refuse(VoiceStatus::kNoPitch);

  VoiceLoop made;
  made.table = levelled(readLoop(x, *cut, tableLengthFor(cut->periods)));
  if (made.table.empty()) return refuse(VoiceStatus::kSilent);
  made.status = VoiceStatus::kMade;
  made.periods = cut->periods;
  made.fundamental = cut->periods * static_cast<double>(sampleRate) / (cut->end - cut->start);
  made.sourceStart = cut->start;
  made.sourceEnd = cut->end;
  return made;
}

void putU16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void putU32(std::vector<uint8_t>& out, uint32_t v) {
  putU16(out, v & 0xFFFF);
  putU16(out, v >> 16);
}
void putTag(std::vector<uint8_t>& out, const char (&tag)[5]) {
  out.insert(out.end(), tag, tag + 4);
}

}  // namespace

VoiceLoop makeVoiceLoop(std::span<const float> samples, uint32_t sampleRate) {
  try {
    return makeFromFloats(samples, sampleRate);
  } catch (const std::bad_alloc&) {
    return refuse(VoiceStatus::kOutOfMemory);
  }
}

VoiceLoop makeVoiceLoop(std::span<const int16_t> samples, uint32_t sampleRate) {
  try {
    std::vector<float> floats(samples.size());
    // Exact: every 16-bit value divided by a power of two is a float.
    for (size_t i = 0; i < samples.size(); ++i) floats[i] = samples[i] / 32768.0f;
    return makeFromFloats(floats, sampleRate);
  } catch (const std::bad_alloc&) {
    return refuse(VoiceStatus::kOutOfMemory);
  }
}

const char* describeVoiceStatus(VoiceStatus status) {
  switch (status) {
    case VoiceStatus::kMade:
      return "made";
    case VoiceStatus::kTooShort:
      return "the recording is too short: a fifth of a second at least is needed";
    case VoiceStatus::kSilent:
      return "the recording is silent";
    case VoiceStatus::kNoPitch:
      return "no steady pitch between 60 and 1,500 Hz was found in the recording";
    case VoiceStatus::kBadRate:
      return "the recording's sample rate is not between 8,000 and 192,000 Hz";
    case VoiceStatus::kBadSamples:
      return "the recording holds samples that are not numbers";
    case VoiceStatus::kTooLong:
      return "the recording is longer than ten minutes";
    case VoiceStatus::kOutOfMemory:
      return "there is not enough memory to make a voice of the recording";
  }
  return "unknown status";
}

std::vector<uint8_t> voiceWavImage(std::span<const int16_t> table) {
  constexpr uint32_t kHeaderBytes = 44;
  constexpr uint32_t kFormatBytes = 16;
  constexpr uint16_t kPcm = 1;
  constexpr uint16_t kMono = 1;
  constexpr uint16_t kBits = 16;
  constexpr uint16_t kBlockAlign = kMono * kBits / 8;
  if (table.size() > (UINT32_MAX - kHeaderBytes) / kBlockAlign) return {};
  const auto dataBytes = static_cast<uint32_t>(table.size() * kBlockAlign);
  std::vector<uint8_t> out;
  out.reserve(kHeaderBytes + dataBytes);
  putTag(out, "RIFF");
  putU32(out, dataBytes + kHeaderBytes - 8);
  putTag(out, "WAVE");
  putTag(out, "fmt ");
  putU32(out, kFormatBytes);
  putU16(out, kPcm);
  putU16(out, kMono);
  putU32(out, kVoiceTableRate);
  putU32(out, kVoiceTableRate * kBlockAlign);
  putU16(out, kBlockAlign);
  putU16(out, kBits);
  putTag(out, "data");
  putU32(out, dataBytes);
  for (int16_t sample : table) putU16(out, static_cast<uint16_t>(sample));
  return out;
}

}  // namespace tonvarel
