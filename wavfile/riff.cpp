// The RIFF chunk walk and the format fields of a WAV file image.
#include "wavfile/riff.h"

#include <algorithm>

namespace tonvarel {

ChunkLocation locateChunk(const uint8_t* image, uint32_t imageLength, uint32_t id) {
  constexpr uint32_t kRiffHeaderBytes = 12;
  constexpr uint32_t kChunkHeaderBytes = 8;
  if (imageLength < 4 || loadU32(image) != chunkId("RIFF")) return {ChunkSearch::kNotRiff, 0, 0};
  // Too short to hold the form type: refused as not WAVE, without reading past the image.
  if (imageLength < kRiffHeaderBytes) return {ChunkSearch::kNotWave, 0, 0};

  // `count` and `limit` wrap like the 32-bit registers they stand for; `limit` is always one more
  // than the count before the pass, so a count that went below zero compares as too large.
  uint32_t count = loadU32(image + 4);
  uint32_t limit = count + 1;
  count -= 4;
  if (loadU32(image + 8) != chunkId("WAVE")) return {ChunkSearch::kNotWave, 0, 0};
  count -= 4;

  uint64_t p = kRiffHeaderBytes;
  for (;;) {
    if (count >= limit) break;
    limit = count + 1;
    if (p + kChunkHeaderBytes > imageLength) break;
    const uint32_t chunk = loadU32(image + p);
    const uint32_t size = loadU32(image + p + 4);
    p += kChunkHeaderBytes;
    count -= kChunkHeaderBytes;
    if (chunk == id) {
      // A size that runs past the end of the image is cut to the bytes that are there.
      const auto present = static_cast<uint32_t>(imageLength - p);
      return {ChunkSearch::kFound, static_cast<uint32_t>(p), std::min(size, present)};
    }
    p += size;
    count -= size;
  }
  return {ChunkSearch::kNotFound, 0, 0};
}

std::optional<WaveFormat> readWaveFormat(const uint8_t* image, uint32_t imageLength,
                                         uint32_t offset) {
  if (offset > imageLength || imageLength - offset < kWaveFormatUsedBytes) return std::nullopt;
  const uint8_t* f = image + offset;
  WaveFormat format{};
  format.formatTag = loadU16(f);
  format.channels = loadU16(f + 2);
  format.sampleRate = loadU32(f + 4);
  format.byteRate = loadU32(f + 8);
  format.blockAlign = loadU16(f + 12);
  format.bitsPerSample = loadU16(f + 14);
  format.extraSize = imageLength - offset >= 18 ? loadU16(f + 16) : 0;
  return format;
}

}  // namespace tonvarel
