// A load worked out on an engine that never plays, and taken on by the one that does.
#include "wavfile/prepared_load.h"

#include "engine/tone_table.h"
#include "wavfile/wav_import.h"

namespace tonvarel {

PreparedLoad prepareLoad(EngineState& worker, FileAccess& files, uint32_t imageLength) {
  // The worker needs a default table of its own to fall back to, so a fallback can be told from
  // a table made of the file.
  if (worker.defaultTable.get() == nullptr) buildDefaultTable(worker);
  importFileImage(worker, files, imageLength);

  PreparedLoad load;
  const uint8_t* table = worker.table.load(std::memory_order_relaxed);
  if (imageLength == 0) {
    load.outcome = LoadOutcome::kUnchanged;
  } else if (table == reinterpret_cast<const uint8_t*>(worker.defaultTable.get())) {
    load.outcome = LoadOutcome::kBuiltIn;
  } else {
    load.outcome = LoadOutcome::kTable;
    load.samples = table;
    load.length = worker.tableLength.load(std::memory_order_relaxed);
  }
  return load;
}

void adoptLoad(EngineState& state, LoadOutcome outcome, uint32_t length) {
  switch (outcome) {
    case LoadOutcome::kUnchanged:
      requestPhaseReset(state);
      break;
    case LoadOutcome::kBuiltIn:
      returnToDefaultTable(state);
      break;
    case LoadOutcome::kTable:
      adoptPreparedTable(state, length);
      break;
  }
}

}  // namespace tonvarel
