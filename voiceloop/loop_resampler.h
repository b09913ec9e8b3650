// Reading a recording between its samples, band-limited: a windowed sinc whose cutoff follows
// the reading step, so that a recording read faster than a sample a step does not alias.
#pragma once

#include <span>
#include <vector>

namespace tonvarel::voice {

class LoopResampler {
 public:
  // `step`: samples of the recording per sample read, the same for every read.
  LoopResampler(std::span<const float> samples, double step);

  // The recording at `position` (in its samples). Samples outside the recording count as
  // silence; the kernel's weights are normalised, so a constant reads back as itself.
  double at(double position) const;

 private:
  std::span<const float> samples_;
  double scale_;        // samples of the recording between the sinc's zero crossings
  double tableFactor_;  // kernel table entries per sample of distance
  std::vector<double> kernel_;
};

}  // namespace tonvarel::voice
