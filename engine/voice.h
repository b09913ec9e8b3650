// The voices: table-reading oscillators with a shared triangle vibrato, mixed into one sample a
// frame, rendered a block at a time or piecewise.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"

namespace tonvarel {

inline constexpr double kTablePitch = 440.0;  // every table is taken to sound at 440 Hz

struct StereoFrame {
  int16_t left;
  int16_t right;
};

// Advances the oscillator and every voice's phase by one frame, at each voice's last ramp pitch,
// and returns the mix to play. Opens no block and records no take.
StereoFrame renderFrame(EngineState& state);

// Fills `block` (byteCount bytes of interleaved 16-bit stereo frames, little-endian) and feeds
// the take. Each voice's pitch moves linearly across the block, continuing its last block-to-block
// change. Every voice opens a block of its own at the first frame, whatever a piecewise render
// left open (the Windows program's two device blocks).
void renderBlock(EngineState& state, uint8_t* block, uint32_t byteCount);

// Renders `frameCount` frames into `frames` (4 bytes each, as in a block), each voice continuing
// its current 1,500-frame block; once that is complete, the voice's next frame opens a new one.
// Any split of a block into pieces gives the same frames as renderBlock. Pending closeBlockEarly()
// requests are served first. Events must arrive between calls, not during one.
void renderFrames(EngineState& state, uint8_t* frames, uint32_t frameCount);

// Voice `voice` starts a new block at the next renderFrames(), so that a note sounds at once with
// its own pitch rather than continuing the block that was playing. The other voices' blocks run
// on. Any thread; renderBlock ignores it.
void closeBlockEarly(EngineState& state, int voice);

}  // namespace tonvarel
