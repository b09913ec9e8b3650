// What the sounding notes make together: a common chord, or for two notes their interval; and how
// the chosen key spells a note, with sharps or with flats.
#pragma once

#include <cstdint>
#include <span>

#include "instrument/pad.h"

namespace tonvarel::chord {

enum class Kind : uint8_t {
  kNone,  // one note, none, or no chord this names
  kInterval,
  kMajor,
  kMinor,
  kDiminished,
  kAugmented,
  kSus2,
  kSus4,
  kDominantSeventh,
  kMajorSeventh,
  kMinorSeventh,
};

struct Chord {
  Kind kind = Kind::kNone;
  int root = 0;       // the chord's root as a MIDI note of the sounding ones (C4 is 60)
  int semitones = 0;  // for an interval: from the lower note to the higher
};

// Names the notes (MIDI note numbers, in any order, repeats allowed). Notes an octave apart count
// once in a chord; two distinct notes name their interval. Of the roots a chord can be read from
// (an augmented triad from any of its notes, sus2 and sus4 from each other's), the one in the
// bass wins, else the first in the order of Kind, then from C up.
Chord nameChord(std::span<const int> notes);

// Whether the key of a scale names its black keys as flats: the keys whose signature has flats
// (F, B flat, E flat, A flat and D flat major; their relative minors for the minor scales, minor
// pentatonic and blues). The others, and every key of the chromatic and whole-tone scales that
// are not those majors, use sharps.
bool spelledWithFlats(pad::Snap snap);

}  // namespace tonvarel::chord
