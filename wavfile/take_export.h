// Saving the take, or the loop, as a 44,100 Hz 16-bit mono WAV file.
#pragma once

#include "engine/engine_state.h"
#include "wavfile/file_access.h"

namespace tonvarel {

// The save command: choose a path, then write the header and the take, making missing
// directories, and report "処理終了". An empty take writes nothing and says nothing; a file that
// cannot be created or written is reported as "death" and the take stays to be saved again.
// Ignored while another load or save is under way.
void exportTake(EngineState& state, FileAccess& files, char* path);

// The loop saved by the same rules and messages: its samples from 0 to its length (while the
// first layer records, what it holds so far); an empty loop writes nothing.
void exportLoop(EngineState& state, FileAccess& files, char* path);

}  // namespace tonvarel
