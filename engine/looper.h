// The looper: a loop of what the voices play, recorded, played under them and layered, with one
// undo; and the take played back. Both are mixed into every frame by the renderer.
#pragma once

#include <algorithm>
#include <cstdint>

#include "engine/engine_state.h"
#include "engine/take.h"

namespace tonvarel {

// Takes the loop's storage and its undo copy (both or neither), once, before rendering. False
// when the memory cannot be had: there is then no looper, and every loop control does nothing.
bool allocateLooper(EngineState& state);
void releaseLooper(EngineState& state);
bool hasLooper(const EngineState& state);

// The controls, each applied at the next frame (they are called between render calls):
// loopControl: empty -> recording from 0; recording -> playing from 0, the length set to the
//   frames recorded (none: empty again); playing -> overdubbing; overdubbing -> playing;
//   stopped -> playing from 0.
// loopStop: recording closes as loopControl would, then stops; playing or overdubbing stop; a
//   stopped loop stands at 0.
// loopUndo: after an overdub began (and until undone), the loop as it was then comes back; an
//   overdub under way ends. The position stays.
// loopClear: empty.
void loopControl(EngineState& state);
void loopStop(EngineState& state);
void loopUndo(EngineState& state);
void loopClear(EngineState& state);

// The loop's samples from 0 to its length, as bytes (16-bit little-endian); while the first layer
// records, what it holds so far; nothing while empty.
TakeBytes loopBytes(const EngineState& state);

// The recording closes as loopControl would (its 60 s are full).
void closeRecording(Looper& loop);

// One frame of the loop, given the voices' sample `voices`: returns what the loop adds to the
// frame, and records or overdubs `voices`, moving on one sample. Only the voices go into the loop,
// never the take's playback; what the frame hears is the loop before this frame's overdub.
inline int32_t loopFrame(Looper& loop, int16_t voices) {
  const LoopState state = loop.state;
  if (state == LoopState::kEmpty || state == LoopState::kStopped) return 0;
  int16_t* sample = loop.samples.get() + loop.position;
  if (state == LoopState::kRecording) {
    *sample = voices;
    if (++loop.position == kLoopCapacity) closeRecording(loop);
    return 0;
  }
  const int16_t heard = *sample;
  if (state == LoopState::kOverdubbing) {
    // The overdub's first pass keeps what it changes, for undo.
    if (loop.saved < loop.length) {
      loop.undo.get()[loop.position] = heard;
      ++loop.saved;
    }
    *sample = static_cast<int16_t>(std::clamp<int32_t>(int32_t{heard} + voices, -32768, 32767));
  }
  if (++loop.position == loop.length) loop.position = 0;
  return heard;
}

}  // namespace tonvarel
