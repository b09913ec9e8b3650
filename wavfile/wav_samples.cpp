// Any common WAV file's samples as one channel of floats.
#include "wavfile/wav_samples.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "wavfile/riff.h"

namespace tonvarel {
namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagExtensible = 0xFFFE;
// WAVE_FORMAT_EXTENSIBLE keeps its real tag in the first two bytes of a sub-format GUID whose
// other fourteen bytes are always these; the sub-format sits 24 bytes into the format chunk.
constexpr uint32_t kSubFormatOffset = 24;
constexpr uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The tag that says how samples are stored: the plain one, or the extensible one's sub-format
// (0 when the chunk is too short to hold it or the GUID is not one of the standard family).
uint16_t effectiveTag(const uint8_t* chunk, uint32_t chunkSize, uint16_t tag) {
  if (tag != kTagExtensible) return tag;
  if (chunkSize < kSubFormatOffset + 16) return 0;
  const uint8_t* guid = chunk + kSubFormatOffset;
  if (std::memcmp(guid + 2, kGuidTail, sizeof kGuidTail) != 0) return 0;
  return loadU16(guid);
}

// One sample at `p`, scaled to full scale 1.0, as a double (exact for every integer size).
double sampleAt(const uint8_t* p, uint16_t bits, bool isFloat) {
  if (isFloat) {
    if (bits == 32) {
      float f;
      const uint32_t raw = loadU32(p);
      std::memcpy(&f, &raw, sizeof f);
      return f;
    }
    double d;
    const uint64_t raw = uint64_t{loadU32(p)} | uint64_t{loadU32(p + 4)} << 32;
    std::memcpy(&d, &raw, sizeof d);
    return d;
  }
  switch (bits) {
    case 8:
      return (int32_t{p[0]} - 128) / 128.0;  // unsigned, 128 is silence
    case 16:
      return static_cast<int16_t>(loadU16(p)) / 32768.0;
    case 24: {
      // Placed in the top three bytes, then shifted back down with its sign.
      const auto v =
          static_cast<int32_t>(uint32_t{p[0]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 24) >>
          8;
      return v / 8388608.0;
    }
    default:
      return static_cast<int32_t>(loadU32(p)) / 2147483648.0;
  }
}

}  // namespace

WavSampleFormat readWavSampleFormat(std::span<const uint8_t> image) {
  WavSampleFormat out;
  if (image.size() > UINT32_MAX) image = image.first(UINT32_MAX);  // RIFF sizes end there
  const auto length = static_cast<uint32_t>(image.size());
  const uint8_t* bytes = image.data();

  const ChunkLocation fmt = locateChunk(bytes, length, chunkId("fmt "));
  switch (fmt.result) {
    case ChunkSearch::kFound:
      break;
    case ChunkSearch::kNotRiff:
      out.status = WavSamplesStatus::kNotRiff;
      return out;
    case ChunkSearch::kNotWave:
      out.status = WavSamplesStatus::kNotWave;
      return out;
    case ChunkSearch::kNotFound:
      out.status = WavSamplesStatus::kNoFormat;
      return out;
  }
  // As the load command reads it: the fields are taken wherever the chunk starts, bounded by the
  // image, so that every file the load command takes is taken here too.
  const auto format = readWaveFormat(bytes, length, fmt.offset);
  if (!format) {
    out.status = WavSamplesStatus::kFormatCut;
    return out;
  }
  out.sampleRate = format->sampleRate;
  out.channels = format->channels;
  out.bits = format->bitsPerSample;
  const uint16_t tag = effectiveTag(bytes + fmt.offset, fmt.size, format->formatTag);
  out.isFloat = tag == kTagFloat;
  if (tag != kTagPcm && tag != kTagFloat) {
    out.status = WavSamplesStatus::kNotPcm;
    return out;
  }
  if (format->channels != 1 && format->channels != 2) {
    out.status = WavSamplesStatus::kChannels;
    return out;
  }
  const uint16_t bits = format->bitsPerSample;
  const bool sizeTaken =
      out.isFloat ? bits == 32 || bits == 64 : bits == 8 || bits == 16 || bits == 24 || bits == 32;
  if (!sizeTaken) {
    out.status = WavSamplesStatus::kSampleSize;
    return out;
  }
  const ChunkLocation data = locateChunk(bytes, length, chunkId("data"));
  if (data.result != ChunkSearch::kFound) {
    out.status = WavSamplesStatus::kNoData;
    return out;
  }
  out.dataOffset = data.offset;
  out.dataSize = data.size;
  out.status = WavSamplesStatus::kRead;
  return out;
}

WavSamples readWavSamples(std::span<const uint8_t> image) {
  const WavSampleFormat format = readWavSampleFormat(image);
  WavSamples out;
  out.status = format.status;
  out.sampleRate = format.sampleRate;
  out.channels = format.channels;
  out.bits = format.bits;
  out.isFloat = format.isFloat;
  if (format.status != WavSamplesStatus::kRead) return out;

  // Whole frames only; a last partial frame is dropped.
  const uint32_t sampleBytes = format.bits / 8u;
  const uint32_t frameBytes = sampleBytes * format.channels;
  const uint32_t frames = format.dataSize / frameBytes;
  out.samples.resize(frames);
  const uint8_t* p = image.data() + format.dataOffset;
  for (uint32_t i = 0; i < frames; ++i, p += frameBytes) {
    double v = sampleAt(p, format.bits, format.isFloat);
    // The mean of two channels: exact in double for every integer size.
    if (format.channels == 2) v = (v + sampleAt(p + sampleBytes, format.bits, format.isFloat)) / 2;
    // A 64-bit float beyond a float's range becomes infinite, which the voice refuses.
    out.samples[i] = std::fabs(v) > std::numeric_limits<float>::max()
                         ? std::numeric_limits<float>::infinity()
                         : static_cast<float>(v);
  }
  return out;
}

}  // namespace tonvarel
