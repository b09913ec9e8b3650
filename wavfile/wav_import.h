// Loading a WAV file as the voice's tone table.
#pragma once

#include <cstdint>
#include <span>

#include "engine/engine_state.h"
#include "wavfile/file_access.h"

namespace tonvarel {

// The load command: choose a file, read it whole and make it the active table. Unusable formats
// and files too large for memory bring the default table back, with a message; a cancelled or
// unreadable file leaves the table as it was. Ignored while another load or save is under way.
void importWav(EngineState& state, FileAccess& files, char* path);

// The load below the chooser, for a file whose bytes are already at hand (a dropped file in the
// browser, a test, the fuzzer): the same checks, messages (through `files`) and fallbacks as
// importWav. The bytes are copied into the engine's file image; empty bytes leave the table as
// it was, as an empty file does.
void importBytes(EngineState& state, FileAccess& files, std::span<const uint8_t> bytes);

// importBytes without its copy: the file's `imageLength` bytes are already in the engine's file
// image, written there by the caller into storage that renewFileImage gave for at least as many.
void importFileImage(EngineState& state, FileAccess& files, uint32_t imageLength);

}  // namespace tonvarel
