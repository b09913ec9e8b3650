// The pitch pad, apart from the window: geometry, the position mapping, snapping to a scale, the
// button rules and the semitone ticks. The window and the headless renderer both drive the engine
// through here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

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

// The scales the pad can snap to, numbered as the page and the scripts number them. Each is a
// set of degrees, in semitones above its root.
enum class Scale : uint8_t {
  kChromatic,  // every semitone
  kMajor,
  kMinor,  // natural minor
  kMajorPentatonic,
  kMinorPentatonic,
  kBlues,
  kWholeTone,
};
inline constexpr int kScaleCount = 7;
inline constexpr std::array<std::string_view, kScaleCount> kScaleNames{
    "chromatic", "major", "minor", "major-pentatonic", "minor-pentatonic", "blues", "whole-tone"};

// Keys: the root in semitones above C.
inline constexpr int kKeyCount = 12;
inline constexpr std::array<std::string_view, kKeyCount> kKeyNames{
    "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

// Bit d set when the note d semitones above the root belongs to the scale.
uint16_t scaleDegrees(Scale scale);

// Snap that is on: a scale and its key (0 to 11). The default is every semitone, from C.
struct Snap {
  Scale scale = Scale::kChromatic;
  int key = 0;
};

// The notes of a scale in a key as pitch classes: bit p set when the notes p semitones above an A,
// in every octave, belong to it.
uint16_t pitchClasses(Snap snap);

// The note row y (1 to 255) snaps to among the pitch classes `classes` (not none), in semitones
// from A4: of the notes it holds, the one nearest to 12 log2(128 / y), where the row's unsnapped
// pitch lies; the lower of two as near. Exact: no logarithm is taken at run time.
int snappedNote(uint16_t classes, int y);

// The pitch of note n (kLowestNote to kHighestNote, every note a row can snap to): the float
// nearest to 440 * 2^(n / 12).
float notePitch(int n);

// Snap to a scale in a key, or off (nullopt), as the browser edition's control sets it. It applies
// from the next position the pad receives; the pitch already asked for stays.
void setSnap(EngineState& state, std::optional<Snap> snap);

// The note row y snaps to under the current setting; with snap off, the nearest semitone.
int noteFor(const EngineState& state, int y);

// The pitch row y gives under the current snap setting.
float targetPitchFor(const EngineState& state, int y);

// The right three quarters of the pad add vibrato: (x - 64) / 500 of the pitch per unit.
float depthForOffset(int x);

// Each call below addresses one voice: the window plays voice 0 alone; the page and the renderer
// give each finger (or pointer) a voice of its own.

// Mouse move, with or without a button: the voice's parameters follow the pointer inside the pad.
void mouseMove(EngineState& state, uint16_t clientX, uint16_t clientY, int voice = 0);

// Left button down, first half: marks the voice held and asks for its phase reset wherever the
// press lands. Returns the offset when the press is inside the pad, and then the key goes on.
std::optional<Offset> pressLeft(EngineState& state, uint16_t clientX, uint16_t clientY,
                                int voice = 0);

// The first half of a press that has no position (a MIDI note's): the voice held, its phase reset.
void holdLeft(EngineState& state, int voice);

// Left button down, second half (after "keyon " is shown): gate open, take open, pitch and depth.
// Where frames are rendered piecewise the note opens a block of its own, so that its first frame
// already has its pitch; the other voices' blocks run on.
void keyOn(EngineState& state, Offset at, int voice = 0);

// The second half with the pitch and depth given, rather than taken from a position (a MIDI note).
void keyOnWith(EngineState& state, float pitch, float depth, int voice);

// Left button up, wherever it happens: the take closes unless the right button or another held
// voice keeps it open.
void releaseLeft(EngineState& state, int voice = 0);

// Left button up, second half (after "keyoff" is shown): the voice's gate closes.
void keyOff(EngineState& state, int voice = 0);

void pressRight(EngineState& state);
// The take closes unless some voice is held.
void releaseRight(EngineState& state);

// Whether any voice is held (by a left press or a note).
bool anyVoiceHeld(const EngineState& state);

// One tick of the semitone scale at the pad's left edge, drawn from x 62 leftwards.
struct Tick {
  int row;    // client y
  int fromX;  // 62
  int toX;    // 48 for the long ticks at each C, else 56
};
inline constexpr int kTickCount = 48;

std::array<Tick, kTickCount> scaleTicks();

}  // namespace tonvarel::pad
