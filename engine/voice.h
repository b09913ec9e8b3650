// The voice: a table-reading oscillator with a triangle vibrato, rendered a block at a time.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"

namespace tonvarel {

inline constexpr double kTablePitch = 440.0;  // every table is taken to sound at 440 Hz

struct StereoFrame {
  int16_t left;
  int16_t right;
};

// Advances the oscillator and the phase by one frame and returns what to play.
StereoFrame renderFrame(EngineState& state);

// Fills `block` (byteCount bytes of interleaved 16-bit stereo frames, little-endian) and feeds
// the take. The pitch moves linearly across the block, continuing the last block-to-block change.
void renderBlock(EngineState& state, uint8_t* block, uint32_t byteCount);

}  // namespace tonvarel
