// The take recorder: the last 60 seconds of what the voice played, for saving as a WAV file.
#include "engine/take.h"

namespace tonvarel {

void allocateTake(EngineState& state) {
  state.takeBuffer.renew(kTakeCapacity);
}

void releaseTake(EngineState& state) {
  state.recording.store(false, std::memory_order_release);
  state.takeBuffer.release();
}

void resetPerformance(EngineState& state) {
  for (Voice& voice : state.voices) {
    voice.gate.store(false, std::memory_order_relaxed);
    voice.leftHeld.store(false, std::memory_order_relaxed);
  }
  state.rightHeld.store(false, std::memory_order_relaxed);
  state.recording.store(false, std::memory_order_release);
}

void openTakeIfIdle(EngineState& state) {
  if (state.takeBuffer.get() == nullptr) return;
  if (state.recording.load(std::memory_order_relaxed)) return;
  // Length first, then the flag: the renderer tests the flag before it touches the length.
  state.takeLength.store(0, std::memory_order_relaxed);
  state.recording.store(true, std::memory_order_release);
}

void closeTakeUnless(EngineState& state, bool otherButtonHeld) {
  if (!otherButtonHeld) state.recording.store(false, std::memory_order_release);
}

TakeBytes takeBytes(const EngineState& state) {
  return {state.takeBuffer.get(), state.takeLength.load(std::memory_order_relaxed)};
}

}  // namespace tonvarel
