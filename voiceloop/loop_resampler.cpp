// Reading a recording between its samples, band-limited.
#include "voiceloop/loop_resampler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "voiceloop/exact_math.h"

namespace tonvarel::voice {
namespace {

// 16 zero crossings each side under a Blackman window (side lobes near -58 dB); what leaks
// through is a voice's upper harmonics, already far weaker than its fundamental.
constexpr int kHalfWidth = 16;
// The sinc's cutoff, as a fraction of the lower of the two Nyquist frequencies (the recording's,
// or the one of the rate it is read at): the window's transition band lies mostly below it.
constexpr double kCutoff = 0.9;
// Table entries per zero crossing, read with linear interpolation: the interpolation error is
// near 1e-5 of full scale.
constexpr int kEntriesPerZero = 256;

}  // namespace

LoopResampler::LoopResampler(std::span<const float> samples, double step)
    : samples_(samples),
      scale_(std::max(1.0, step) / kCutoff),
      tableFactor_(kEntriesPerZero / scale_),
      kernel_(kHalfWidth * kEntriesPerZero + 2, 0.0) {
  for (int i = 0; i <= kHalfWidth * kEntriesPerZero; ++i) {
    const double u = static_cast<double>(i) / kEntriesPerZero;  // in zero crossings
    const double w = u / kHalfWidth;
    const double blackman = 0.42 + 0.5 * cosPi(w) + 0.08 * cosPi(2.0 * w);
    kernel_[i] = sincPi(u) * blackman;
  }
}

double LoopResampler::at(double position) const {
  const double reach = kHalfWidth * scale_;
  const auto first = static_cast<int64_t>(std::ceil(position - reach));
  const auto last = static_cast<int64_t>(std::floor(position + reach));
  const auto size = static_cast<int64_t>(samples_.size());
  const int64_t end = kHalfWidth * kEntriesPerZero;
  double sum = 0, weights = 0;
  for (int64_t n = first; n <= last; ++n) {
    const double u = std::fabs(position - static_cast<double>(n)) * tableFactor_;
    const auto i = static_cast<int64_t>(u);
    if (i >= end) continue;
    const double weight = kernel_[i] + (kernel_[i + 1] - kernel_[i]) * (u - static_cast<double>(i));
    weights += weight;
    if (n >= 0 && n < size) sum += weight * samples_[n];
  }
  return weights != 0 ? sum / weights : 0.0;
}

}  // namespace tonvarel::voice
