// A load worked out on an engine that never plays, and taken on by the one that does: the
// browser's page converts a file on its own module instance so that the audio thread only ever
// copies a finished table, and the playing engine ends up exactly as importBytes would leave it.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"
#include "wavfile/file_access.h"

namespace tonvarel {

// What a load did to the table. The numbers are stable: the page hands them to the worklet.
enum class LoadOutcome : int {
  kUnchanged = 0,  // an empty file: the table stays, the phase starts again
  kBuiltIn = 1,    // refused or too large: the built-in tone comes back
  kTable = 2,      // a new table
};

struct PreparedLoad {
  LoadOutcome outcome = LoadOutcome::kUnchanged;
  // kTable: 16-bit little-endian mono samples in `worker`'s storage (possibly at an odd
  // address), valid until its next load.
  const uint8_t* samples = nullptr;
  uint32_t length = 0;
};

// The load command on `worker`, whose file image holds the file's `imageLength` bytes
// (renewFileImage): the importer's checks, conversions and messages (through `files`).
PreparedLoad prepareLoad(EngineState& worker, FileAccess& files, uint32_t imageLength);

// The outcome taken on by the playing engine; for kTable once the `length` samples are in the
// storage renewPreparedTable gave.
void adoptLoad(EngineState& state, LoadOutcome outcome, uint32_t length);

}  // namespace tonvarel
