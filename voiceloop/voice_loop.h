// A recording made into a tone table: the fundamental of its steadiest stretch, a loop of whole
// periods cut there, resampled so that it sounds at 440 Hz when read one sample per frame at
// 44,100 Hz, and brought to a fixed peak. Pure and deterministic: the same samples give the same
// table, sample for sample, in every build (only additions, multiplications, divisions, square
// roots and exact roundings are used).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tonvarel {

inline constexpr uint32_t kVoiceTableRate = 44100;
inline constexpr uint32_t kVoiceTablePitch = 440;
// The table's largest sample, in either direction: an eighth of full scale (18 dB below
// clipping), so that a sung voice sounds about as loud as the built-in square of amplitude 1,000
// rather than some 20 dB louder, with the 16-bit rounding still some 78 dB below its peak.
inline constexpr int16_t kVoicePeak = 4096;
// The pitches looked for, in Hz.
inline constexpr double kVoiceMinPitch = 60.0;
inline constexpr double kVoiceMaxPitch = 1500.0;
// Recording rates taken, in Hz.
inline constexpr uint32_t kVoiceMinRate = 8000;
inline constexpr uint32_t kVoiceMaxRate = 192000;
// Recording lengths taken, in seconds: enough for a tenth of a second of loop at the lowest
// pitch, at most ten minutes (the search is linear in the length; this bounds its time).
inline constexpr double kVoiceMinSeconds = 0.2;
inline constexpr double kVoiceMaxSeconds = 600.0;
// A loop holds at least this many periods, and its table at most kVoiceMaxTableLength samples:
// the voice steps through the table with a float phase, and below 2^14 its steps stay exact to
// about a thousandth of a sample.
inline constexpr uint32_t kVoiceMinPeriods = 4;
inline constexpr uint32_t kVoiceMaxTableLength = 16384;

// Why no table was made. The numbers are stable: the page receives them from the module.
enum class VoiceStatus : int {
  kMade = 0,
  kTooShort = 1,     // under kVoiceMinSeconds
  kSilent = 2,       // no sample reaches -60 dB of full scale
  kNoPitch = 3,      // no steady stretch with a pitch between kVoiceMinPitch and kVoiceMaxPitch
  kBadRate = 4,      // the sample rate lies outside kVoiceMinRate .. kVoiceMaxRate
  kBadSamples = 5,   // a sample is not a finite number
  kTooLong = 6,      // over kVoiceMaxSeconds
  kOutOfMemory = 7,  // the working copies could not be had
};

struct VoiceLoop {
  VoiceStatus status = VoiceStatus::kNoPitch;
  // Signed 16-bit mono at 44,100 Hz, `periods` periods long; empty unless made.
  std::vector<int16_t> table;
  double fundamental = 0;  // Hz, the mean over the loop as cut from the recording
  uint32_t periods = 0;
  // Where the loop was cut, in samples of the recording (between samples: the zero crossings
  // are placed by interpolation). The loop's last period fades in from the period before start.
  double sourceStart = 0;
  double sourceEnd = 0;
};

// Samples as floats with full scale at 1.0 (as a browser records them).
VoiceLoop makeVoiceLoop(std::span<const float> samples, uint32_t sampleRate);
// Signed 16-bit samples (as a WAV file holds them): the same as the floats sample / 32768.
VoiceLoop makeVoiceLoop(std::span<const int16_t> samples, uint32_t sampleRate);

// One sentence on why no table was made, in English, without a final full stop; "made" for
// kMade.
const char* describeVoiceStatus(VoiceStatus status);

// A complete WAV file image of `table`: the 44-byte header (PCM, mono, 44,100 Hz, 16 bits) and
// the samples, little-endian. Empty for a table too long for a RIFF size to describe.
std::vector<uint8_t> voiceWavImage(std::span<const int16_t> table);

}  // namespace tonvarel
