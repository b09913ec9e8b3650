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

// The take played back through the engine, mixed into the frames. Its storage is taken once,
// before rendering, as the take's is; false when the memory cannot be had, and then play and stop
// do nothing. Like the looper, it is controlled between render calls on the rendering thread.
bool allocatePlayback(EngineState& state);
void releasePlayback(EngineState& state);
bool hasPlayback(const EngineState& state);

// From the next frame, plays once, from its start, a copy of the take made now (what takeBytes()
// gives, as a save writes it): pressed again while playing, it starts over with a fresh copy, and
// with an empty take it ends any playback and plays nothing. A take still recording goes on
// recording; what plays is the copy.
void playTake(EngineState& state);
// Ends the playback; nothing playing, nothing happens.
void stopTake(EngineState& state);
bool takePlaying(const EngineState& state);

// One frame of the playback: its next sample, 0 once it has ended (or never began).
inline int32_t playbackFrame(TakePlayback& playback) {
  return playback.position < playback.length ? playback.samples.get()[playback.position++] : 0;
}

}  // namespace tonvarel
