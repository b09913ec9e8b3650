// Tone tables: the built-in 440 Hz square wave and the rule for swapping tables under a live voice.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"

namespace tonvarel {

// Fills `samples` (kDefaultTableLength of them) with 440 cycles of a square wave of amplitude
// 1000, switched by an integer accumulator so that the table loops without a break.
void fillDefaultTable(int16_t* samples);

// Allocates and fills the default table, makes it the active table and sets tableReady. If the
// memory cannot be had, no table becomes active and the voice stays silent.
void buildDefaultTable(EngineState& state);

// Points the active table at the default table and its length at 44,100. The caller has
// withdrawn the table first and sets tableReady afterwards.
void useDefaultTable(EngineState& state);

// Clears tableReady, then returns only once no frame that saw it set can still be reading the
// table, so its storage may be re-pointed or released. Never blocks the streaming thread.
void withdrawTable(EngineState& state);

// Makes the described table active: only to be called while the table is withdrawn.
void publishTable(EngineState& state, const uint8_t* samples, uint32_t length);

// Withdraws the table and releases all four storages (at exit).
void releaseTables(EngineState& state);

}  // namespace tonvarel
