// Loading a WAV file as the voice's tone table.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "wavfile/file_access.h"
#include "wavfile/riff.h"

namespace tonvarel {

// Walks the RIFF chunks of `image` for `id`. Returns the chunk's data and its size (clamped to
// the bytes present), or null after telling the user why ("not RIFF", "not WAVE", not found).
const uint8_t* findChunk(const uint8_t* image, uint32_t imageLength, uint32_t id, uint32_t* size,
                         FileAccess& files);

// The load command: choose a file, read it whole and make it the active table. Unusable formats
// bring the default table back; a cancelled or unreadable file leaves the table as it was.
// Ignored while another load or save is under way.
void importWav(EngineState& state, FileAccess& files, char* path);

// The part of the load after the file is in `state.fileImage` (imageLength bytes): find the
// format and the data, convert, publish. The table is withdrawn when this is called; it is
// published again (tableReady set) whatever the image holds.
void importImage(EngineState& state, FileAccess& files, uint32_t imageLength);

}  // namespace tonvarel
