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
// Always a whole block of its own, whatever a piecewise render left open (the Windows program's
// two device blocks).
void renderBlock(EngineState& state, uint8_t* block, uint32_t byteCount);

// Renders `frameCount` frames into `frames` (4 bytes each, as in a block), continuing the current
// 1,500-frame block; once it is complete, the next frame opens a new one. Any split of a block
// into pieces gives the same frames as renderBlock. A pending closeBlockEarly() is served first.
void renderFrames(EngineState& state, uint8_t* frames, uint32_t frameCount);

// The next renderFrames() starts a new block, so that a note sounds at once with its own pitch
// rather than continuing the block that was playing. Any thread; renderBlock ignores it.
void closeBlockEarly(EngineState& state);

}  // namespace tonvarel
