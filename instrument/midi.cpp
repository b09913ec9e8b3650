// MIDI in: notes take voices and press them as a finger would; bends, the mod wheel and the
// pedal follow each channel's own state, so an MPE controller's one note per channel bends alone.
#include "instrument/midi.h"

#include <cstdlib>

#include "instrument/cent_table.h"
#include "instrument/pad.h"

namespace tonvarel::midi {
namespace {

constexpr int kCentsPerOctave = 1200;
constexpr int kA4 = 69;

// Controllers by number.
constexpr int kModWheel = 1;
constexpr int kDataEntry = 6;
constexpr int kSustainPedal = 64;
constexpr int kParameterLow = 100;
constexpr int kParameterHigh = 101;
constexpr int kAllSoundOff = 120;
constexpr int kAllNotesOff = 123;
constexpr int kPedalDownFrom = 64;

}  // namespace

int bendCents(int bend, int range) {
  const int scaled = (bend - kCentreBend) * range * 100;  // at most 8192 * 96 * 100 in size
  const int cents = (std::abs(scaled) + kCentreBend / 2) / kCentreBend;
  return scaled < 0 ? -cents : cents;
}

float pitchForCents(int x) {
  int octave = x / kCentsPerOctave;
  int cents = x % kCentsPerOctave;
  if (cents < 0) {
    cents += kCentsPerOctave;
    --octave;
  }
  // 2^octave: doubling and halving are exact, and the product stays a normal float, so the
  // scaling rounds nothing.
  double scale = 1.0;
  for (; octave > 0; --octave) scale *= 2.0;
  for (; octave < 0; ++octave) scale *= 0.5;
  return static_cast<float>(double{kCentPitch[cents]} * scale);
}

float depthForWheel(int v) {
  return static_cast<float>(static_cast<double>(v) * 3.0 / 1000.0);
}

bool MidiIn::apply(EngineState& state, std::span<const uint8_t> message) {
  if (message.empty() || messageLength(message[0]) != message.size()) return false;
  for (size_t i = 1; i < message.size(); ++i) {
    if (message[i] >= 0x80) return false;
  }
  const int channel = message[0] & 0x0F;
  switch (message[0] >> 4) {
    case 0x8:
      noteOff(state, channel, message[1]);
      break;
    case 0x9:
      // A note-on of velocity 0 is a note-off.
      if (message[2] == 0) {
        noteOff(state, channel, message[1]);
      } else {
        noteOn(state, channel, message[1]);
      }
      break;
    case 0xB:
      control(state, channel, message[1], message[2]);
      break;
    case 0xE:
      bendTo(state, channel, message[1] | (message[2] << 7));
      break;
    default:  // aftertouch, program change, channel pressure: nothing here plays them
      break;
  }
  return true;
}

int MidiIn::noteOf(int voice) const {
  const Held& h = held_[voice];
  return h.channel == kNone ? -1 : h.channel * 128 + h.key;
}

void MidiIn::noteOn(EngineState& state, int channel, int key) {
  // A key already sounding presses its own voice again, even one the pedal sustains.
  int voice = voiceOf(channel, key);
  if (voice < 0) voice = freeVoice(state);
  if (voice < 0) return;  // every voice is held: the note is dropped
  held_[voice] = Held{static_cast<int8_t>(channel), static_cast<uint8_t>(key), false};
  pad::holdLeft(state, voice);
  pad::keyOnWith(state, pitchOf(channel, key), channels_[channel].depth, voice);
}

void MidiIn::noteOff(EngineState& state, int channel, int key) {
  const int voice = voiceOf(channel, key);
  if (voice < 0) return;  // a dropped note, or one already released
  if (channels_[channel].sustain) {
    held_[voice].releaseWaits = true;
  } else {
    release(state, voice);
  }
}

void MidiIn::control(EngineState& state, int channel, int number, int value) {
  Channel& c = channels_[channel];
  switch (number) {
    case kModWheel:
      c.depth = depthForWheel(value);
      for (int k = 0; k < kVoiceCount; ++k) {
        if (held_[k].channel == channel) {
          state.voices[k].vibratoDepth.store(c.depth, std::memory_order_relaxed);
        }
      }
      break;
    case kParameterHigh:
      c.parameterHigh = static_cast<uint8_t>(value);
      break;
    case kParameterLow:
      c.parameterLow = static_cast<uint8_t>(value);
      break;
    case kDataEntry:
      // Registered parameter 0 is the bend range; the notes sounding keep their tuning until the
      // channel's next bend.
      if (c.parameterHigh == 0 && c.parameterLow == 0 && value <= kMaxBendRange) {
        c.bendRange = static_cast<uint8_t>(value);
      }
      break;
    case kSustainPedal:
      c.sustain = value >= kPedalDownFrom;
      if (!c.sustain) {
        for (int k = 0; k < kVoiceCount; ++k) {
          if (held_[k].channel == channel && held_[k].releaseWaits) release(state, k);
        }
      }
      break;
    case kAllSoundOff:
    case kAllNotesOff:
      // Every note of the channel ends now, whatever the pedal, which stays as it is.
      for (int k = 0; k < kVoiceCount; ++k) {
        if (held_[k].channel == channel) release(state, k);
      }
      break;
    default:
      break;
  }
}

void MidiIn::bendTo(EngineState& state, int channel, int bend) {
  channels_[channel].bend = static_cast<uint16_t>(bend);
  // As a move does: the new targets wait for each voice's next block.
  for (int k = 0; k < kVoiceCount; ++k) {
    if (held_[k].channel == channel) {
      state.voices[k].targetPitch.store(pitchOf(channel, held_[k].key), std::memory_order_relaxed);
    }
  }
}

void MidiIn::release(EngineState& state, int voice) {
  held_[voice] = Held{};
  pad::releaseLeft(state, voice);
  pad::keyOff(state, voice);
}

int MidiIn::voiceOf(int channel, int key) const {
  for (int k = 0; k < kVoiceCount; ++k) {
    if (held_[k].channel == channel && held_[k].key == key) return k;
  }
  return -1;
}

int MidiIn::freeVoice(const EngineState& state) const {
  // From the top down: fingers take the lowest voices, and voice 0 stays the mouse's for as long
  // as it can.
  for (int k = kVoiceCount - 1; k >= 0; --k) {
    if (!holds(k) && !state.voices[k].leftHeld.load(std::memory_order_relaxed)) return k;
  }
  return -1;
}

float MidiIn::pitchOf(int channel, int key) const {
  const Channel& c = channels_[channel];
  return pitchForCents(100 * (key - kA4) + bendCents(c.bend, c.bendRange));
}

}  // namespace tonvarel::midi
