// MIDI in: the pitch of every cent proved against whole numbers, and the rule that turns channel
// messages into notes on the voices, beside the pad's events, through the shared dispatcher.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

#include "engine/take.h"
#include "instrument/cent_table.h"
#include "instrument/controls.h"
#include "instrument/midi.h"
#include "instrument/pad.h"
#include "instrument/semitone_table.h"
#include "tests/unit/natural.h"

namespace tonvarel {
namespace {

TEST(MidiPitch, EveryCentOfTheOctaveIsTheFloatNearestToIt) {
  // f = m 2^(e - 24) is nearest to 440 2^(r/1200) iff the 1200th powers of f -+ u/2 lie either
  // side of 440^1200 2^r, u = 2^(e - 23) the spacing around f (m is never a power of two here,
  // so it is the same on both sides). With 440 = 55 * 8 and f -+ u/2 = (2m -+ 1) 2^(e - 25),
  // both sides times 2^(1200 (25 - e)): (2m -+ 1)^1200 against 55^1200 2^(3600 + r + 1200 (25 -
  // e)).
  const Natural fifty5 = power(55, 1200);
  for (int r = 0; r < 1200; ++r) {
    SCOPED_TRACE(r);
    int e = 0;
    const float f = midi::kCentPitch[r];
    const auto m = static_cast<uint32_t>(std::ldexp(std::frexp(f, &e), 24));
    ASSERT_NE(m & (m - 1), 0u);
    Natural target = fifty5;
    target <<= 3600 + r + 1200 * (25 - e);
    EXPECT_LT(power(2 * m - 1, 1200), target);
    EXPECT_GT(power(2 * m + 1, 1200), target);
  }
}

TEST(MidiPitch, WholeSemitonesAreSnapsFloatsAndOctavesScaleExactly) {
  for (int n = pad::kLowestNote; n <= pad::kHighestNote; ++n) {
    EXPECT_EQ(midi::pitchForCents(100 * n), pad::notePitch(n)) << n;
  }
  for (int x : {midi::kLowestCents, -1201, -1200, -1, 0, 1199, 1200, midi::kHighestCents}) {
    const int r = ((x % 1200) + 1200) % 1200;
    EXPECT_EQ(midi::pitchForCents(x), std::ldexp(midi::kCentPitch[r], (x - r) / 1200)) << x;
  }
}

TEST(MidiPitch, BendsRoundToWholeCentsHalvesAwayFromZero) {
  struct Case {
    int bend, range, cents;
  };
  const Case cases[] = {
      {8192, 2, 0},         {16383, 2, 200},      {0, 2, -200},        {12288, 2, 100},
      {8192 + 512, 2, 13},  {8192 - 512, 2, -13}, {8192 + 511, 2, 12}, {8192 + 64, 48, 38},
      {8192 - 64, 48, -38}, {6144, 48, -1200},    {16383, 96, 9599},   {0, 96, -9600},
      {8193, 48, 1},        {16383, 0, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(midi::bendCents(c.bend, c.range), c.cents) << c.bend << " at " << c.range;
  }
}

// One event for the dispatcher: a MIDI message (voice -1) or a pad event for a voice.
struct Event {
  int voice;
  char pad;  // 'd' press, 'u' release, 'm' move; for MIDI, 'r' when the bytes must be refused
  std::vector<uint8_t> bytes;
  uint16_t x = 0, y = 0;
};
Event msg(std::vector<uint8_t> bytes) {
  return {-1, 0, std::move(bytes)};
}
Event refused(std::vector<uint8_t> bytes) {
  return {-1, 'r', std::move(bytes)};
}
Event down(int voice, int x, int y) {
  return {voice, 'd', {}, static_cast<uint16_t>(x + 64), static_cast<uint16_t>(y + 64)};
}
Event up(int voice) {
  return {voice, 'u', {}};
}
Event move(int voice, int x, int y) {
  return {voice, 'm', {}, static_cast<uint16_t>(x + 64), static_cast<uint16_t>(y + 64)};
}

// Each voice, 0 to 9: 'n' a note holds it, 'p' a pointer holds it sounding, 'o' a pointer holds
// it off the pad, '.' free and silent ('?' free but sounding, which never happens).
std::string voicesOf(const EngineState& state, const Controls& controls) {
  std::string out;
  for (int k = 0; k < kVoiceCount; ++k) {
    const Voice& v = state.voices[k];
    const bool gate = v.gate, held = v.leftHeld;
    if (controls.notes().holds(k)) {
      out += held && gate ? 'n' : '!';
    } else {
      out += held ? (gate ? 'p' : 'o') : (gate ? '?' : '.');
    }
  }
  return out;
}

// What a voice sounds: the note holding it (channel * 128 + key), its target and its depth.
struct Sound {
  int voice, note;
  float pitch, depth;
};

float note(int semitonesFromA4) {
  return pad::notePitch(semitonesFromA4);
}

TEST(MidiIn, NotesTakeVoicesAsTheRuleSays) {
  struct Case {
    const char* name;
    std::vector<Event> events;
    std::string voices;
    bool recording;
    std::vector<Sound> sounds;
  };
  // Registered parameter 0, the bend range, selected on a channel and set.
  const auto range = [](uint8_t channel, uint8_t semitones) {
    return std::vector<Event>{msg({uint8_t(0xB0 | channel), 101, 0}),
                              msg({uint8_t(0xB0 | channel), 100, 0}),
                              msg({uint8_t(0xB0 | channel), 6, semitones})};
  };
  const auto join = [](std::initializer_list<std::vector<Event>> parts) {
    std::vector<Event> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const Case cases[] = {
      {"a note takes the highest voice",
       {msg({0x90, 69, 100})},
       ".........n",
       true,
       {{9, 69, note(0), 0.0f}}},
      {"a chord takes voices from the top down",
       {msg({0x90, 60, 1}), msg({0x90, 64, 127}), msg({0x90, 67, 64})},
       ".......nnn",
       true,
       {{9, 60, note(-9), 0}, {8, 64, note(-5), 0}, {7, 67, note(-2), 0}}},
      {"8n and 9n with velocity 0 release; the take closes",
       {msg({0x90, 60, 1}), msg({0x90, 64, 1}), msg({0x80, 60, 9}), msg({0x90, 64, 0})},
       "..........",
       false,
       {}},
      {"a note-off for no sounding key, and ignored messages, change nothing",
       {msg({0x90, 60, 1}), msg({0x80, 61, 0}), msg({0x81, 60, 0}), msg({0xA0, 60, 9}),
        msg({0xC0, 5}), msg({0xD0, 9}), msg({0xB0, 7, 0})},
       ".........n",
       true,
       {{9, 60, note(-9), 0}}},
      {"pointers keep their voices; a note takes voice 0 when the others are held",
       {down(1, 10, 10), down(2, 10, 10), down(3, 10, 10), down(4, 10, 10), down(5, 10, 10),
        down(6, 10, 10), down(7, 10, 10), down(8, 10, 10), down(9, -60, 10), msg({0x90, 72, 1})},
       "nppppppppo",
       true,
       {{0, 72, note(3), 0}}},
      {"the eleventh note is dropped and its note-off does nothing",
       {msg({0x90, 50, 1}), msg({0x90, 51, 1}), msg({0x90, 52, 1}), msg({0x90, 53, 1}),
        msg({0x90, 54, 1}), msg({0x90, 55, 1}), msg({0x90, 56, 1}), msg({0x90, 57, 1}),
        msg({0x90, 58, 1}), msg({0x90, 59, 1}), msg({0x90, 60, 1}), msg({0x80, 60, 0}),
        msg({0x80, 55, 0}), msg({0x91, 60, 1})},
       "nnnnnnnnnn",
       true,
       {{4, 128 + 60, note(-9), 0}, {0, 59, note(-10), 0}}},
      {"a note's voice ignores the pad; the pad has it again once the note ends",
       {msg({0x90, 69, 1}), move(9, 200, 64), down(9, 30, 64), up(9), msg({0x90, 81, 1}),
        msg({0x80, 81, 0}), move(8, 200, 64)},
       ".........n",
       true,
       {{9, 69, note(0), 0}}},
      {"the pedal holds released notes; pressed again, a note stops waiting",
       {msg({0xB0, 64, 64}), msg({0x90, 60, 1}), msg({0x80, 60, 0}), msg({0x90, 62, 1}),
        msg({0x80, 62, 0}), msg({0x90, 60, 1}), msg({0xB0, 64, 63})},
       ".........n",
       true,
       {{9, 60, note(-9), 0}}},
      {"held by the pedal, a note keeps the take open; another channel's pedal is its own",
       {msg({0xB0, 64, 127}), msg({0x90, 60, 1}), msg({0x80, 60, 0}), msg({0xB1, 64, 0})},
       ".........n",
       true,
       {{9, 60, note(-9), 0}}},
      {"the pedal's lift ends the notes that wait, and the take",
       {msg({0xB0, 64, 127}), msg({0x90, 60, 1}), msg({0x80, 60, 0}), msg({0xB0, 64, 0})},
       "..........",
       false,
       {}},
      {"all notes off and all sound off end the channel's notes, the pedal staying down",
       {msg({0xB0, 64, 127}), msg({0x90, 60, 1}), msg({0x80, 60, 0}), msg({0x91, 61, 1}),
        msg({0xB0, 123, 0}), msg({0x90, 62, 1}), msg({0x80, 62, 0}), msg({0xB1, 120, 0})},
       ".........n",
       true,
       {{9, 62, note(-7), 0}}},
      {"bends retune their own channel's notes; ranges 2 and 48",
       join({range(1, 48),
             {msg({0x90, 69, 1}), msg({0x91, 69, 1}), msg({0xE0, 0, 96}), msg({0xE1, 0, 48})}}),
       "........nn",
       true,
       {{9, 69, note(1), 0}, {8, 128 + 69, note(-12), 0}}},
      {"a range applies from the next bend or note-on, not before",
       join({{msg({0x90, 69, 1}), msg({0xE0, 0, 96})},
             range(1, 12),
             {msg({0x91, 69, 1})},
             range(0, 12),
             {msg({0xE1, 0, 96})}}),
       "........nn",
       true,
       {{9, 69, note(1), 0}, {8, 128 + 69, note(6), 0}}},
      {"ranges above 96, unselected parameters, CC 38, 98 and 99 change nothing",
       {msg({0xB0, 6, 12}), msg({0xB0, 101, 0}), msg({0xB0, 6, 12}), msg({0xB0, 100, 0}),
        msg({0xB0, 6, 97}), msg({0xB0, 38, 5}), msg({0xB0, 99, 1}), msg({0xB0, 98, 1}),
        msg({0xB0, 100, 1}), msg({0xB0, 6, 24}), msg({0x90, 69, 1}), msg({0xE0, 127, 127})},
       ".........n",
       true,
       {{9, 69, note(2), 0}}},
      {"the bend halfway between two cents rounds away from zero",
       {msg({0xE0, 0, 68}), msg({0x90, 69, 1}), msg({0xE1, 0, 60}), msg({0x91, 57, 1})},
       "........nn",
       true,
       {{9, 69, midi::pitchForCents(13), 0}, {8, 128 + 57, midi::pitchForCents(-1213), 0}}},
      {"the mod wheel sets the channel's voices and its later notes",
       {msg({0x90, 60, 1}), msg({0x91, 61, 1}), msg({0xB0, 1, 127}), msg({0x90, 62, 1}),
        msg({0xB1, 1, 10})},
       ".......nnn",
       true,
       {{9, 60, note(-9), 0.381f}, {8, 128 + 61, note(-8), 0.03f}, {7, 62, note(-7), 0.381f}}},
      {"malformed bytes are refused and change nothing",
       {refused({}), refused({0x45, 0x40}), refused({0xF8}), refused({0xF0, 0x7E, 0x7F}),
        refused({0x90, 0x80, 1}), refused({0x90, 60, 0xFF}), refused({0x90, 60}),
        refused({0xC0, 5, 0}), refused({0xE0, 0}), refused({0x90, 60, 1, 0})},
       "..........",
       false,
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EngineState state;
    allocateTake(state);
    Controls controls(state);
    for (const Event& e : c.events) {
      switch (e.voice < 0 ? 'M' : e.pad) {
        case 'M':
          EXPECT_EQ(controls.midi(e.bytes), e.pad != 'r');
          break;
        case 'd':
          controls.leftDown(e.x, e.y, e.voice);
          break;
        case 'u':
          controls.leftUp(e.voice);
          break;
        default:
          controls.move(e.x, e.y, e.voice);
          break;
      }
    }
    EXPECT_EQ(voicesOf(state, controls), c.voices);
    EXPECT_EQ(state.recording.load(), c.recording);
    for (const Sound& s : c.sounds) {
      SCOPED_TRACE(s.voice);
      EXPECT_EQ(controls.notes().noteOf(s.voice), s.note);
      EXPECT_EQ(state.voices[s.voice].targetPitch.load(), s.pitch);
      EXPECT_EQ(state.voices[s.voice].vibratoDepth.load(), s.depth);
    }
    releaseTake(state);
  }
}

}  // namespace
}  // namespace tonvarel
