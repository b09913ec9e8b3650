// Tone tables: the built-in 440 Hz square wave and the rule for swapping tables under a live voice.
//
// The hand-over rule lives here and only here: a table is withdrawn (tableReady clear, and no
// frame that saw it set still running) before its storage is released or re-pointed, and a table
// is made ready again only once `table` and `tableLength` describe live storage. Front ends and
// the importer go through these calls; none of them stores tableReady or frees a table.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/engine_state.h"

namespace tonvarel {

// Fills `samples` (kDefaultTableLength of them) with 440 cycles of a square wave of amplitude
// 1000, switched by an integer accumulator so that the table loops without a break.
void fillDefaultTable(int16_t* samples);

// Allocates and fills the default table, makes it the active table and sets tableReady. If the
// memory cannot be had, no table becomes active and the voice stays silent.
void buildDefaultTable(EngineState& state);

// Points the active table at the default table and its length at 44,100. Only while withdrawn.
void useDefaultTable(EngineState& state);

// Clears tableReady, then returns only once no frame that saw it set can still be reading the
// table, so its storage may be re-pointed or released. Never blocks the streaming thread.
void withdrawTable(EngineState& state);

// The table that was active before the withdrawal is played again.
void restoreTable(EngineState& state);

// The default table becomes active again (useDefaultTable, then ready).
void fallBackToDefaultTable(EngineState& state);

// The built-in tone command: the table is withdrawn, the default one comes back ready, and the
// phase starts again, as when a load falls back to it. Loaded storage is kept until the next load.
void returnToDefaultTable(EngineState& state);

// Storage for a new table, handed out while the table is withdrawn: the storage is released and
// allocated anew at its new size (null when the memory cannot be had). Should the active table
// have lived in it, the default table takes its place, so that restoreTable() never brings back
// freed memory.
uint8_t* renewFileImage(EngineState& state, size_t bytes);
int16_t* renewWidenedTable(EngineState& state, size_t samples);
int16_t* renewMixdownTable(EngineState& state, size_t samples);

// Storage for a table filled away from the active one, which plays on meanwhile (nothing is
// withdrawn): released and allocated anew, null when the memory cannot be had.
int16_t* renewPreparedTable(EngineState& state, size_t samples);

// The prepared table's first `length` samples become the active table, as a load that converted
// them would leave it: withdrawn, swapped into place, published, the phase asked to start again.
// The table it replaces is released.
void adoptPreparedTable(EngineState& state, uint32_t length);

// Makes the described table active and ready: only while withdrawn, and only for samples that lie
// in the engine's own storage (or, in tests, in storage that outlives the withdrawal).
void publishTable(EngineState& state, const uint8_t* samples, uint32_t length);

// Asks every voice to start its phase again at its next frame: a new table is read from its start.
void requestPhaseReset(EngineState& state);

// Withdraws the table and releases every storage (at exit).
void releaseTables(EngineState& state);

}  // namespace tonvarel
