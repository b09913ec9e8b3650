// Where a player's events meet the ten voices, for the front ends that have them (the renderer and
// the page): pad events per voice and MIDI messages, through one dispatcher.
#pragma once

#include <cstdint>
#include <span>

#include "engine/engine_state.h"
#include "instrument/midi.h"
#include "instrument/pad.h"

namespace tonvarel {

// A voice that a MIDI note holds ignores the pad's events for it (a move, a press, a release)
// until the note's release takes effect, so that a pointer never bends or ends someone's note.
// The Windows program, with one voice and no MIDI, calls the pad directly.
class Controls {
 public:
  explicit Controls(EngineState& state) : state_(state) {}
  Controls(const Controls&) = delete;
  Controls& operator=(const Controls&) = delete;

  void move(uint16_t clientX, uint16_t clientY, int voice) {
    if (!notes_.holds(voice)) pad::mouseMove(state_, clientX, clientY, voice);
  }
  void leftDown(uint16_t clientX, uint16_t clientY, int voice) {
    if (notes_.holds(voice)) return;
    if (auto at = pad::pressLeft(state_, clientX, clientY, voice)) pad::keyOn(state_, *at, voice);
  }
  void leftUp(int voice) {
    if (notes_.holds(voice)) return;
    pad::releaseLeft(state_, voice);
    pad::keyOff(state_, voice);
  }

  // One whole MIDI channel message; false, with nothing changed, for bytes that are not one.
  bool midi(std::span<const uint8_t> message) { return notes_.apply(state_, message); }
  const midi::MidiIn& notes() const { return notes_; }

 private:
  EngineState& state_;
  midi::MidiIn notes_;
};

}  // namespace tonvarel
