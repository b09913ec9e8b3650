// The take recorder: the last 60 seconds of what the voice played, for saving as a WAV file.
#pragma once

#include <cstdint>

#include "engine/engine_state.h"

namespace tonvarel {

struct TakeBytes {
  const uint8_t* bytes;
  uint32_t length;
};

// Allocate / release the 5,292,000-byte take buffer. Without the buffer no take ever opens.
// Releasing also closes the take, so the renderer stops appending first.
void allocateTake(EngineState& state);
void releaseTake(EngineState& state);

// The state a stream starts from: every gate closed, no button held, no take open.
void resetPerformance(EngineState& state);

// Streaming thread: stores one sample and wraps to the start of the buffer after 60 s.
inline void appendSample(EngineState& state, int16_t sample) {
  uint32_t length = state.takeLength.load(std::memory_order_relaxed);
  const auto bits = static_cast<uint16_t>(sample);
  uint8_t* take = state.takeBuffer.get();
  take[length] = static_cast<uint8_t>(bits);
  take[length + 1] = static_cast<uint8_t>(bits >> 8);
  length += 2;
  if (length >= kTakeCapacity) length = 0;
  state.takeLength.store(length, std::memory_order_relaxed);
}

// Window thread: a press starts a new take unless one is already open.
void openTakeIfIdle(EngineState& state);

// Window thread: a release ends the take unless another button (or voice) still holds it open.
void closeTakeUnless(EngineState& state, bool otherButtonHeld);

TakeBytes takeBytes(const EngineState& state);

}  // namespace tonvarel
