// The pitch of a recording every 20 ms, and the stretch of it whose pitch and level hold
// steadiest: where a loop of the voice is cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tonvarel::voice {

struct PitchFrame {
  double period;        // in samples of the recording; meaningful when voiced
  double aperiodicity;  // the normalised difference at that period: 0 for a perfect repeat
  double level;         // RMS of the analysed (low-passed) samples
  bool voiced;          // a clear period, and loud enough beside the loudest frame
};

struct PitchTrack {
  std::vector<PitchFrame> frames;
  double firstCentre = 0;  // the recording's sample at the middle of frame 0
  double hop = 0;          // samples of the recording from one frame to the next
};

// The pitch is looked for with a normalised difference function (cumulative mean normalised,
// as in YIN) over lags from kVoiceMaxPitch down to kVoiceMinPitch, on a copy low-passed and
// decimated to about 11 kHz; high pitches are looked at again on one at about 22 kHz. The cost
// stays near two million products per second of sound. The periods are given in samples of the
// recording.
PitchTrack trackPitch(std::span<const float> samples, uint32_t sampleRate);

struct Stretch {
  size_t first = 0;  // frames [first, first + count)
  size_t count = 0;
  double period = 0;       // mean period over the stretch, in samples of the recording
  double loopSeconds = 0;  // how much of it a loop may take, leaving a period either side
};

// The steadiest run of voiced frames long enough for a loop of about a quarter second (shorter,
// down to a tenth, when nothing that long is voiced). Steadiness weighs the spread of the
// period, of the level and the mean aperiodicity; a run whose pitch swings more than about half
// a semitone is no candidate, nor is one that contains an unvoiced frame. Empty when no run
// qualifies.
std::optional<Stretch> steadiestStretch(const PitchTrack& track, uint32_t sampleRate);

// The sum of squared differences between `window` samples from `x` and those `lag` later, in
// four partial sums so that the additions need not wait on one another.
template <class Sample>
double squaredDifference(const Sample* x, int window, int lag) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  int n = 0;
  for (; n + 4 <= window; n += 4) {
    const double d0 = double{x[n]} - double{x[n + lag]};
    const double d1 = double{x[n + 1]} - double{x[n + 1 + lag]};
    const double d2 = double{x[n + 2]} - double{x[n + 2 + lag]};
    const double d3 = double{x[n + 3]} - double{x[n + 3 + lag]};
    s0 += d0 * d0, s1 += d1 * d1, s2 += d2 * d2, s3 += d3 * d3;
  }
  for (; n < window; ++n) {
    const double d = double{x[n]} - double{x[n + lag]};
    s0 += d * d;
  }
  return (s0 + s1) + (s2 + s3);
}

}  // namespace tonvarel::voice
