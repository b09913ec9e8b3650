// The pitch pad, apart from the window: geometry, the position mapping, the button rules and the
// semitone scale. The window and the headless renderer both drive the engine through here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "engine/engine_state.h"

namespace tonvarel::pad {

inline constexpr int kOriginX = 64;
inline constexpr int kOriginY = 64;
inline constexpr int kSize = 256;  // border from (64, 64) to (320, 320), right and bottom exclusive

// A position inside the pad, relative to its origin.
struct Offset {
  int x;
  int y;
};

// Client coordinates as a mouse message carries them (16 bits each, unsigned). Offsets 1 to 255
// are inside; the left and top border lines (offset 0) and offset 256 are not.
std::optional<Offset> acceptedOffset(uint16_t clientX, uint16_t clientY);

// Height picks the pitch on a reciprocal scale: 56,320 / y Hz, so y 128 is 440 Hz.
float pitchForHeight(int y);

// The equal-tempered semitone nearest to pitchForHeight(y), for rows 1 to 255, from a table worked
// out beforehand so that every build gives the same bits.
float snappedPitchForHeight(int y);

// Snap to semitones (the browser edition's toggle). It applies from the next position the pad
// receives; the pitch already asked for stays.
void setSnap(EngineState& state, bool on);

// The pitch row y gives under the current snap setting.
float targetPitchFor(const EngineState& state, int y);

// The right three quarters of the pad add vibrato: (x - 64) / 500 of the pitch per unit.
float depthForOffset(int x);

// Mouse move, with or without a button: the parameters follow the pointer inside the pad.
void mouseMove(EngineState& state, uint16_t clientX, uint16_t clientY);

// Left button down, first half: marks the button held and asks for a phase reset wherever the
// press lands. Returns the offset when the press is inside the pad, and then the key goes on.
std::optional<Offset> pressLeft(EngineState& state, uint16_t clientX, uint16_t clientY);

// Left button down, second half (after "keyon " is shown): gate open, take open, pitch and depth.
// Where frames are rendered piecewise the note opens a block of its own, so that its first frame
// already has its pitch.
void keyOn(EngineState& state, Offset at);

// Left button up, wherever it happens: the take closes unless the right button holds it.
void releaseLeft(EngineState& state);

// Left button up, second half (after "keyoff" is shown): the gate closes.
void keyOff(EngineState& state);

void pressRight(EngineState& state);
void releaseRight(EngineState& state);

// One tick of the semitone scale at the pad's left edge, drawn from x 62 leftwards.
struct Tick {
  int row;    // client y
  int fromX;  // 62
  int toX;    // 48 for the long ticks at each C, else 56
};
inline constexpr int kTickCount = 48;

std::array<Tick, kTickCount> scaleTicks();

}  // namespace tonvarel::pad
