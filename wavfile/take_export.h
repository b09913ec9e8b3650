// Saving the take as a 44,100 Hz 16-bit mono WAV file.
#pragma once

#include "engine/engine_state.h"
#include "wavfile/file_access.h"

namespace tonvarel {

// The save command: choose a path, then write the header and the take, making missing
// directories. An empty take writes nothing and says nothing.
void exportTake(EngineState& state, FileAccess& files, char* path);

}  // namespace tonvarel
