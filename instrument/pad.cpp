// The pitch pad, apart from the window: geometry, the position mapping, snapping to a scale, the
// button rules and the semitone ticks.
#include "instrument/pad.h"

#include <cmath>
#include <initializer_list>

#include "engine/take.h"
#include "engine/voice.h"
#include "instrument/semitone_table.h"

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

namespace {

constexpr uint16_t degreeSet(std::initializer_list<int> degrees) {
  uint16_t set = 0;
  for (int d : degrees) set |= uint16_t{1} << d;
  return set;
}

constexpr std::array<uint16_t, kScaleCount> kScaleDegrees{
    degreeSet({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}),  // chromatic
    degreeSet({0, 2, 4, 5, 7, 9, 11}),                  // major
    degreeSet({0, 2, 3, 5, 7, 8, 10}),                  // natural minor
    degreeSet({0, 2, 4, 7, 9}),                         // major pentatonic
    degreeSet({0, 3, 5, 7, 10}),                        // minor pentatonic
    degreeSet({0, 3, 5, 6, 7, 10}),                     // blues
    degreeSet({0, 2, 4, 6, 8, 10}),                     // whole tone
};

constexpr uint16_t kEverySemitone = 0xFFF;

// n mod 12, never negative.
int pitchClassOf(int n) {
  return (n % 12 + 12) % 12;
}

bool holds(uint16_t classes, int n) {
  return ((classes >> pitchClassOf(n)) & 1) != 0;
}

}  // namespace

uint16_t scaleDegrees(Scale scale) {
  return kScaleDegrees[static_cast<size_t>(scale)];
}

uint16_t pitchClasses(Snap snap) {
  // Degree d of a root k semitones above C is the note d + k - 9 semitones above an A.
  const int turn = pitchClassOf(snap.key - 9);
  const uint32_t degrees = scaleDegrees(snap.scale);
  return static_cast<uint16_t>(((degrees << turn) | (degrees >> (12 - turn))) & kEverySemitone);
}

int snappedNote(uint16_t classes, int y) {
  // With t = 12 log2(128 / y), 2t lies in [h, h + 1); it is whole (and then h) only on the rows
  // that are powers of two, where t is a whole number of octaves from A4.
  const int h = kHalfSemitonesOfRow[y];
  const bool whole = (y & (y - 1)) == 0;
  const int floorT = h >> 1;  // an arithmetic shift: floor(h / 2) for negative h too
  // The scale's nearest notes at or below t and at or above it, at most 3 semitones apart.
  int below = floorT;
  while (!holds(classes, below)) --below;
  int above = whole ? floorT : floorT + 1;
  while (!holds(classes, above)) ++above;
  // t is nearer to the lower note, or as near (then the lower note wins), iff 2t <= below + above.
  const int sum = below + above;
  return h < sum || (whole && h == sum) ? below : above;
}

float notePitch(int n) {
  return kNotePitch[n - kLowestNote];
}

void setSnap(EngineState& state, std::optional<Snap> snap) {
  state.snapPitchClasses = snap ? pitchClasses(*snap) : 0;
}

int noteFor(const EngineState& state, int y) {
  const uint16_t classes = state.snapPitchClasses;
  return snappedNote(classes != 0 ? classes : kEverySemitone, y);
}

float targetPitchFor(const EngineState& state, int y) {
  const uint16_t classes = state.snapPitchClasses;
  return classes != 0 ? notePitch(snappedNote(classes, y)) : pitchForHeight(y);
}

float depthForOffset(int x) {
  if (x <= 64) return 0.0f;
  return static_cast<float>(static_cast<double>(x - 64) / 500.0);
}

namespace {

void follow(EngineState& state, Voice& voice, Offset at) {
  voice.targetPitch.store(targetPitchFor(state, at.y), std::memory_order_relaxed);
  voice.vibratoDepth.store(depthForOffset(at.x), std::memory_order_relaxed);
}

}  // namespace

void mouseMove(EngineState& state, uint16_t clientX, uint16_t clientY, int voice) {
  if (auto at = acceptedOffset(clientX, clientY)) follow(state, state.voices[voice], *at);
}

std::optional<Offset> pressLeft(EngineState& state, uint16_t clientX, uint16_t clientY, int voice) {
  holdLeft(state, voice);
  return acceptedOffset(clientX, clientY);
}

void holdLeft(EngineState& state, int voice) {
  Voice& v = state.voices[voice];
  v.leftHeld.store(true, std::memory_order_relaxed);
  v.phaseReset.store(true, std::memory_order_relaxed);
}

void keyOn(EngineState& state, Offset at, int voice) {
  keyOnWith(state, targetPitchFor(state, at.y), depthForOffset(at.x), voice);
}

void keyOnWith(EngineState& state, float pitch, float depth, int voice) {
  Voice& v = state.voices[voice];
  v.gate.store(true, std::memory_order_relaxed);
  openTakeIfIdle(state);
  v.targetPitch.store(pitch, std::memory_order_relaxed);
  v.vibratoDepth.store(depth, std::memory_order_relaxed);
  closeBlockEarly(state, voice);  // after the target, which the new block reads
}

void releaseLeft(EngineState& state, int voice) {
  state.voices[voice].leftHeld.store(false, std::memory_order_relaxed);
  closeTakeUnless(state, state.rightHeld.load(std::memory_order_relaxed) || anyVoiceHeld(state));
}

void keyOff(EngineState& state, int voice) {
  state.voices[voice].gate.store(false, std::memory_order_relaxed);
}

void pressRight(EngineState& state) {
  state.rightHeld.store(true, std::memory_order_relaxed);
}

void releaseRight(EngineState& state) {
  state.rightHeld.store(false, std::memory_order_relaxed);
  closeTakeUnless(state, anyVoiceHeld(state));
}

bool anyVoiceHeld(const EngineState& state) {
  for (const Voice& voice : state.voices) {
    if (voice.leftHeld.load(std::memory_order_relaxed)) return true;
  }
  return false;
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
