// Loading a WAV file as the voice's tone table.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "wavfile/file_access.h"

namespace tonvarel {

// Four-character chunk identifiers compared as 32-bit little-endian values.
constexpr uint32_t chunkId(const char (&id)[5]) {
  return uint32_t(uint8_t(id[0])) | uint32_t(uint8_t(id[1])) << 8 | uint32_t(uint8_t(id[2])) << 16 |
         uint32_t(uint8_t(id[3])) << 24;
}

// Walks the RIFF chunks of `image` for `id`. Returns the chunk's data and its size (clamped to
// the bytes present), or null after telling the user why ("not RIFF", "not WAVE", not found).
const uint8_t* findChunk(const uint8_t* image, uint32_t imageLength, uint32_t id, uint32_t* size,
                         FileAccess& files);

// The load command: choose a file, read it whole and make it the active table. Unusable formats
// bring the default table back; a cancelled or unreadable file leaves the table as it was.
void importWav(EngineState& state, FileAccess& files, char* path);

// The part of the load after the file is in `state.fileImage` (imageLength bytes): find the
// format and the data, convert, publish. The table is withdrawn when this is called.
void importImage(EngineState& state, FileAccess& files, uint32_t imageLength);

}  // namespace tonvarel
