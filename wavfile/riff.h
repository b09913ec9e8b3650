// The RIFF chunk walk and the format fields of a WAV file image, pure and bounds-checked: every
// read is checked against the bytes present, and nothing is shown to the user here.
#pragma once

#include <cstdint>
#include <optional>

namespace tonvarel {

// Four-character chunk identifiers compared as 32-bit little-endian values.
constexpr uint32_t chunkId(const char (&id)[5]) {
  return uint32_t(uint8_t(id[0])) | uint32_t(uint8_t(id[1])) << 8 | uint32_t(uint8_t(id[2])) << 16 |
         uint32_t(uint8_t(id[3])) << 24;
}

inline uint16_t loadU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t loadU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

enum class ChunkSearch { kFound, kNotRiff, kNotWave, kNotFound };

struct ChunkLocation {
  ChunkSearch result;
  uint32_t offset;  // the chunk's data, when found
  uint32_t size;    // its declared size clamped to the bytes present, when found
};

// Walks the chunks after the 12-byte RIFF/WAVE header for the first one called `id`.
//
// The walk keeps the RIFF size as an unsigned 32-bit budget that wraps: a budget that wraps
// below zero ends the walk (at once when the RIFF size is below 8 or 0xFFFFFFFF). Positions are
// byte offsets that never wrap, so every pass moves at least 8 bytes forward and the walk ends at
// the end of the image. No pad byte is skipped after a chunk of odd size.
ChunkLocation locateChunk(const uint8_t* image, uint32_t imageLength, uint32_t id);

// The fields of the format chunk's first 18 bytes (the PCM header and the extra size).
struct WaveFormat {
  uint16_t formatTag;
  uint16_t channels;
  uint32_t sampleRate;
  uint32_t byteRate;
  uint16_t blockAlign;
  uint16_t bitsPerSample;
  uint16_t extraSize;  // 0 when the image ends before it
};

inline constexpr uint32_t kWaveFormatUsedBytes = 16;  // channels, rate and bits lie in these

// Reads the format at `offset`, bounded by the image rather than by the chunk's declared size.
// Empty when fewer than 16 bytes are present there.
std::optional<WaveFormat> readWaveFormat(const uint8_t* image, uint32_t imageLength,
                                         uint32_t offset);

}  // namespace tonvarel
