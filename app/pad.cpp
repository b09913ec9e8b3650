// The pitch pad, apart from the window: geometry, the position mapping, the button rules and the
// semitone scale.
#include "app/pad.h"

#include <cmath>

#include "app/semitone_table.h"
#include "engine/take.h"
#include "engine/voice.h"

namespace tonvarel::pad {

std::optional<Offset> acceptedOffset(uint16_t clientX, uint16_t clientY) {
  const int x = clientX - kOriginX;
  const int y = clientY - kOriginY;
  if (x > 0 && x < kSize && y > 0 && y < kSize) return Offset{x, y};
  return std::nullopt;
}

float pitchForHeight(int y) {
  return static_cast<float>(7040.0 / (static_cast<double>(y) / 8.0));
}

float snappedPitchForHeight(int y) {
  return kSemitonePitch[kSemitoneOfRow[y] - kLowestSemitone];
}

void setSnap(EngineState& state, bool on) {
  state.snapToSemitones = on;
}

float targetPitchFor(const EngineState& state, int y) {
  return state.snapToSemitones ? snappedPitchForHeight(y) : pitchForHeight(y);
}

float depthForOffset(int x) {
  if (x <= 64) return 0.0f;
  return static_cast<float>(static_cast<double>(x - 64) / 500.0);
}

namespace {

void follow(EngineState& state, Offset at) {
  state.targetPitch.store(targetPitchFor(state, at.y), std::memory_order_relaxed);
  state.vibratoDepth.store(depthForOffset(at.x), std::memory_order_relaxed);
}

}  // namespace

void mouseMove(EngineState& state, uint16_t clientX, uint16_t clientY) {
  if (auto at = acceptedOffset(clientX, clientY)) follow(state, *at);
}

std::optional<Offset> pressLeft(EngineState& state, uint16_t clientX, uint16_t clientY) {
  state.leftHeld.store(true, std::memory_order_relaxed);
  state.phaseReset.store(true, std::memory_order_relaxed);
  return acceptedOffset(clientX, clientY);
}

void keyOn(EngineState& state, Offset at) {
  state.gate.store(true, std::memory_order_relaxed);
  openTakeIfIdle(state);
  follow(state, at);
  closeBlockEarly(state);  // after the target, which the new block reads
}

void releaseLeft(EngineState& state) {
  state.leftHeld.store(false, std::memory_order_relaxed);
  closeTakeUnless(state, state.rightHeld.load(std::memory_order_relaxed));
}

void keyOff(EngineState& state) {
  state.gate.store(false, std::memory_order_relaxed);
}

void pressRight(EngineState& state) {
  state.rightHeld.store(true, std::memory_order_relaxed);
}

void releaseRight(EngineState& state) {
  state.rightHeld.store(false, std::memory_order_relaxed);
  closeTakeUnless(state, state.leftHeld.load(std::memory_order_relaxed));
}

std::array<Tick, kTickCount> scaleTicks() {
  // Tick j marks the height whose pitch is 3,520 Hz lowered by j semitones; every twelfth,
  // starting at j 9, is a C and drawn long.
  std::array<Tick, kTickCount> ticks{};
  int k = 0;
  for (int j = 0; j < kTickCount; ++j) {
    const int d = static_cast<int>(std::pow(2.0, j / 12.0) * 16.0);
    k = (k + 1 == 12) ? 0 : k + 1;
    ticks[j] = Tick{d + kOriginY, 62, k == 10 ? 48 : 56};
  }
  return ticks;
}

}  // namespace tonvarel::pad
