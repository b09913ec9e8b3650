// The take recorder: the last 60 seconds of what the voice played, for saving as a WAV file.
#include "engine/take.h"

#include <cstring>

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

bool allocatePlayback(EngineState& state) {
  stopTake(state);
  return state.playback.samples.renew(kTakeCapacity / 2) != nullptr;
}

void releasePlayback(EngineState& state) {
  stopTake(state);
  state.playback.samples.release();
}

bool hasPlayback(const EngineState& state) {
  return state.playback.samples.get() != nullptr;
}

void playTake(EngineState& state) {
  TakePlayback& playback = state.playback;
  if (!hasPlayback(state)) return;
  const TakeBytes take = takeBytes(state);
  // Samples and bytes agree: the engine is little-endian throughout (engine_state.h).
  if (take.length != 0) std::memcpy(playback.samples.get(), take.bytes, take.length);
  playback.length = take.length / 2;
  playback.position = 0;
}

void stopTake(EngineState& state) {
  state.playback.length = 0;
  state.playback.position = 0;
}

bool takePlaying(const EngineState& state) {
  return state.playback.position < state.playback.length;
}

}  // namespace tonvarel
