// Any common WAV file's samples as one channel of floats (full scale 1.0), for making a voice:
// 8-, 16-, 24- and 32-bit integers, 32- and 64-bit floats, mono or stereo, with the plain or the
// extensible format tag. Pure and bounds-checked, as riff.h is. The load command keeps its own
// narrower reader (wav_import): a tone table is taken only from 8- or 16-bit data.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tonvarel {

enum class WavSamplesStatus {
  kRead,
  kNotRiff,     // no RIFF header
  kNotWave,     // a RIFF file of another kind
  kNoFormat,    // no format chunk
  kFormatCut,   // the format chunk ends before the fields it needs
  kNotPcm,      // a format tag (or extensible sub-format) other than PCM or IEEE float
  kChannels,    // neither mono nor stereo
  kSampleSize,  // a sample size the format does not come in (PCM 8/16/24/32, float 32/64)
  kNoData,      // no data chunk
};

// What the format chunk says of the samples, and where they lie.
struct WavSampleFormat {
  WavSamplesStatus status = WavSamplesStatus::kNoFormat;  // kRead: the samples can be read
  uint32_t sampleRate = 0;
  uint16_t channels = 0;
  uint16_t bits = 0;  // the container's, as bitsPerSample gives it
  bool isFloat = false;
  uint32_t dataOffset = 0;
  uint32_t dataSize = 0;  // clamped to the bytes present
};

struct WavSamples {
  WavSamplesStatus status = WavSamplesStatus::kNoFormat;
  // Left and right averaged; every integer sample is exact (v / 2^(bits-1)), a 32-bit integer or
  // a 64-bit float is rounded to the nearest float. Empty unless read.
  std::vector<float> samples;
  uint32_t sampleRate = 0;
  uint16_t channels = 0;
  uint16_t bits = 0;  // the container's, as bitsPerSample gives it
  bool isFloat = false;
};

// The format alone, nothing decoded.
WavSampleFormat readWavSampleFormat(std::span<const uint8_t> image);

// Throws std::bad_alloc when the samples do not fit in memory.
WavSamples readWavSamples(std::span<const uint8_t> image);

}  // namespace tonvarel
