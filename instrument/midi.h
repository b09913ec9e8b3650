// MIDI in: channel messages played on the voices as fingers play them, each note at its exact
// pitch, with bend, bend range, mod wheel and sustain kept per channel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/engine_state.h"

namespace tonvarel::midi {

inline constexpr int kChannelCount = 16;
inline constexpr int kCentreBend = 8192;  // the 14-bit bend value that bends nothing
inline constexpr int kDefaultBendRange = 2;
inline constexpr int kMaxBendRange = 96;  // in semitones; MPE controllers ask for 48

// A note's place in cents from A4, over every key (0 to 127) bent as far as any range goes.
inline constexpr int kLowestCents = 100 * (0 - 69) - 100 * kMaxBendRange;
inline constexpr int kHighestCents = 100 * (127 - 69) + 100 * kMaxBendRange;

// The bytes of a channel message with this status byte: 2 for program change and channel
// pressure (Cn, Dn), 3 for the others (8n to En); 0 for a data byte or a system message (F0 to
// FF), which never reach the engine.
constexpr size_t messageLength(uint8_t status) {
  if (status < 0x80 || status >= 0xF0) return 0;
  const int kind = status >> 4;
  return kind == 0xC || kind == 0xD ? 2 : 3;
}

// A channel's bend in whole cents: (bend - 8192) * range * 100 / 8192, rounded to the nearest
// whole number, ties away from zero. bend is the 14-bit value, range in semitones (0 to 96).
int bendCents(int bend, int range);

// The float nearest to 440 * 2^(x / 1200), x cents from A4 (kLowestCents to kHighestCents): the
// octave's table entry for the cents above the octave's A, scaled by the octave's power of two,
// which is exact. Whole semitones give kNotePitch's floats.
float pitchForCents(int x);

// The vibrato depth the mod wheel gives at value v (0 to 127): v * 3 / 1000, rounded once to float.
float depthForWheel(int v);

// The state MIDI in keeps: per channel its bend, range, selected parameter number, pedal and
// depth; per voice the note that holds it. Fixed arrays, touched only between rendered frames.
class MidiIn {
 public:
  // Applies one whole channel message (status 80 to EF, then its data bytes, each below 80).
  // Returns false and changes nothing for bytes that are not one; messages nothing here uses
  // (velocity, aftertouch, program change, other controllers) are taken and ignored.
  bool apply(EngineState& state, std::span<const uint8_t> message);

  // Whether a note holds the voice: from its note-on until its release takes effect.
  bool holds(int voice) const { return held_[voice].channel != kNone; }
  // The note that holds the voice, as channel * 128 + key; -1 when none does.
  int noteOf(int voice) const;

 private:
  static constexpr int8_t kNone = -1;
  static constexpr uint8_t kUnset = 0xFF;  // no data byte has this value

  struct Channel {
    uint16_t bend = kCentreBend;
    uint8_t bendRange = kDefaultBendRange;
    uint8_t parameterHigh = kUnset;  // the registered parameter selected by CC 101 and CC 100
    uint8_t parameterLow = kUnset;
    bool sustain = false;
    float depth = 0.0f;
  };
  struct Held {
    int8_t channel = kNone;
    uint8_t key = 0;
    bool releaseWaits = false;  // its note-off came while the pedal was down
  };

  void noteOn(EngineState& state, int channel, int key);
  void noteOff(EngineState& state, int channel, int key);
  void control(EngineState& state, int channel, int number, int value);
  void bendTo(EngineState& state, int channel, int bend);
  void release(EngineState& state, int voice);
  // The voice the key holds on the channel, or -1.
  int voiceOf(int channel, int key) const;
  // The highest voice no pointer and no note holds, or -1.
  int freeVoice(const EngineState& state) const;
  float pitchOf(int channel, int key) const;

  Channel channels_[kChannelCount];
  Held held_[kVoiceCount];
};

}  // namespace tonvarel::midi
