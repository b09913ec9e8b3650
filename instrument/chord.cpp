// What the sounding notes make together, and how the chosen key spells a note.
#include "instrument/chord.h"

#include <algorithm>
#include <array>
#include <initializer_list>

namespace tonvarel::chord {
namespace {

struct Shape {
  Kind kind;
  uint16_t pitchClasses;  // bit i: the note i semitones above the root
};

constexpr uint16_t bits(std::initializer_list<int> intervals) {
  uint16_t set = 0;
  for (int i : intervals) set |= uint16_t(1u << i);
  return set;
}

constexpr std::array<Shape, 9> kShapes{{
    {Kind::kMajor, bits({0, 4, 7})},
    {Kind::kMinor, bits({0, 3, 7})},
    {Kind::kDiminished, bits({0, 3, 6})},
    {Kind::kAugmented, bits({0, 4, 8})},
    {Kind::kSus2, bits({0, 2, 7})},
    {Kind::kSus4, bits({0, 5, 7})},
    {Kind::kDominantSeventh, bits({0, 4, 7, 10})},
    {Kind::kMajorSeventh, bits({0, 4, 7, 11})},
    {Kind::kMinorSeventh, bits({0, 3, 7, 10})},
}};

int pitchClass(int note) {
  return (note % 12 + 12) % 12;
}

// The set turned so that pitch class `root` is bit 0.
uint16_t relativeTo(uint16_t set, int root) {
  return uint16_t(((set >> root) | (set << (12 - root))) & 0xFFF);
}

}  // namespace

Chord nameChord(std::span<const int> notes) {
  if (notes.empty()) return {};
  const int low = *std::min_element(notes.begin(), notes.end());
  const int high = *std::max_element(notes.begin(), notes.end());
  uint16_t set = 0;
  for (int n : notes) set |= uint16_t(1u << pitchClass(n));
  // Two notes (an octave's repeats included) name their interval.
  bool two = true;
  for (int n : notes) two = two && (n == low || n == high);
  if (two) return low == high ? Chord{} : Chord{Kind::kInterval, low, high - low};

  Chord found;
  for (const Shape& shape : kShapes) {
    for (int root = 0; root < 12; ++root) {
      if (relativeTo(set, root) != shape.pitchClasses) continue;
      // The root as a sounding note: the lowest one of that pitch class.
      int rootNote = high;
      for (int n : notes) {
        if (pitchClass(n) == root) rootNote = std::min(rootNote, n);
      }
      if (rootNote == low) return {shape.kind, rootNote, 0};
      if (found.kind == Kind::kNone) found = {shape.kind, rootNote, 0};
    }
  }
  return found;
}

bool spelledWithFlats(pad::Snap snap) {
  // Roots whose major key is written with flats, in semitones above C: F, B flat, E flat, A flat
  // and D flat.
  constexpr uint16_t kFlatMajors = bits({5, 10, 3, 8, 1});
  const bool minor = snap.scale == pad::Scale::kMinor ||
                     snap.scale == pad::Scale::kMinorPentatonic || snap.scale == pad::Scale::kBlues;
  const int major = minor ? (snap.key + 3) % 12 : snap.key;  // a minor key's relative major
  return ((kFlatMajors >> major) & 1) != 0;
}

}  // namespace tonvarel::chord
