// The pad: which positions count as inside, the pitch and depth they pick, snapped to a scale or
// not, the button rules and the semitone ticks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/take.h"
#include "instrument/chord.h"
#include "instrument/pad.h"
#include "instrument/semitone_table.h"
#include "tests/unit/natural.h"

namespace tonvarel {
namespace {

TEST(PadGeometry, AcceptsOffsetsOneTo255OnBothAxes) {
  struct Case {
    uint16_t x, y;
    bool inside;
  };
  const Case cases[] = {
      {64 + 128, 64 + 128, true},  {64 + 1, 64 + 1, true}, {64 + 255, 64 + 255, true},
      {64, 64 + 128, false},       {64 + 128, 64, false},  {64 + 256, 64 + 128, false},
      {64 + 128, 64 + 256, false}, {0, 0, false},          {65535, 65535, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    EXPECT_EQ(pad::acceptedOffset(c.x, c.y).has_value(), c.inside);
  }
  const auto at = pad::acceptedOffset(64 + 7, 64 + 200);
  ASSERT_TRUE(at);
  EXPECT_EQ(at->x, 7);
  EXPECT_EQ(at->y, 200);
}

TEST(PadMapping, PitchIsReciprocalToHeight) {
  EXPECT_EQ(pad::pitchForHeight(128), 440.0f);
  EXPECT_EQ(pad::pitchForHeight(64), 880.0f);
  EXPECT_EQ(pad::pitchForHeight(1), 56320.0f);
  // 56,320 / 255, rounded once to float from the double quotient.
  EXPECT_EQ(pad::pitchForHeight(255), 220.862747f);
  EXPECT_EQ(pad::pitchForHeight(3), static_cast<float>(56320.0 / 3.0));
}

// Where row y's unsnapped pitch lies, t = 12 log2(128 / y) semitones above 440 Hz, worked out
// with whole numbers: 2t lies in [floor2t, floor2t + 1), and equals floor2t when `whole`.
struct RowPlace {
  int floor2t;
  bool whole;
};

RowPlace placeOfRow(int y) {
  // 2t >= k iff 2^168 >= y^24 2^k; both sides times 2^40 so that negative k needs no fraction.
  const Natural twoTo168 = power(2, 0, 168 + 40);
  int k = -40;
  while (power(y, 24, k + 1 + 40) <= twoTo168) ++k;
  return {k, power(y, 24, k + 40) == twoTo168};
}

// The note nearest to t among those of a scale in a key, the lower of two as near, by trying
// every note: n is in the scale when (n + 9 - key) mod 12 is one of its degrees.
int nearestNoteInScale(RowPlace at, const std::vector<int>& degrees, int key) {
  std::optional<int> best;
  for (int n = -40; n <= 120; ++n) {
    const int degree = ((n + 9 - key) % 12 + 12) % 12;
    if (std::find(degrees.begin(), degrees.end(), degree) == degrees.end()) continue;
    // For best < n: n is strictly nearer iff 2t > best + n.
    const int sum = best ? *best + n : 0;
    const bool notNearer = best && (at.floor2t < sum || (at.floor2t == sum && at.whole));
    if (!notNearer) best = n;
  }
  return *best;
}

TEST(PadSnap, EveryRowOfEveryScaleInEveryKeySnapsToItsNearestNote) {
  struct ScaleCase {
    const char* name;
    std::vector<int> degrees;
  };
  const ScaleCase scales[] = {
      {"chromatic", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
      {"major", {0, 2, 4, 5, 7, 9, 11}},
      {"minor", {0, 2, 3, 5, 7, 8, 10}},
      {"major-pentatonic", {0, 2, 4, 7, 9}},
      {"minor-pentatonic", {0, 3, 5, 7, 10}},
      {"blues", {0, 3, 5, 6, 7, 10}},
      {"whole-tone", {0, 2, 4, 6, 8, 10}},
  };
  ASSERT_EQ(std::size(scales), static_cast<size_t>(pad::kScaleCount));
  const std::string_view keys[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
  EngineState state;
  int lowest = 1000, highest = -1000;
  for (int y = 1; y <= 255; ++y) {
    const RowPlace at = placeOfRow(y);
    ASSERT_EQ(pad::kHalfSemitonesOfRow[y], at.floor2t) << "row " << y;
    for (const ScaleCase& scale : scales) {
      const auto named = std::find(pad::kScaleNames.begin(), pad::kScaleNames.end(), scale.name);
      ASSERT_NE(named, pad::kScaleNames.end()) << scale.name;
      for (int key = 0; key < 12; ++key) {
        ASSERT_EQ(pad::kKeyNames[key], keys[key]);
        const pad::Snap snap{static_cast<pad::Scale>(named - pad::kScaleNames.begin()), key};
        const int expected = nearestNoteInScale(at, scale.degrees, key);
        lowest = std::min(lowest, expected);
        highest = std::max(highest, expected);
        pad::setSnap(state, snap);
        ASSERT_EQ(pad::noteFor(state, y), expected)
            << "row " << y << ", " << scale.name << " " << keys[key];
        ASSERT_EQ(pad::targetPitchFor(state, y), pad::notePitch(expected));
      }
    }
  }
  // The pitch table reaches exactly as far as the widest gap between notes can send a row.
  EXPECT_EQ(lowest, pad::kLowestNote);
  EXPECT_EQ(highest, pad::kHighestNote);
}

TEST(PadSnap, EveryNoteIsTheFloatNearestToIt) {
  // f = m 2^(e - 24) is nearest to 440 2^(n/12) iff (f - u/2)^12 < 440^12 2^n < (f + u/2)^12,
  // u = 2^(e - 23) the spacing around f (m is never a power of two here, so it is the same on
  // both sides). With 440 = 55 * 8 and f +- u/2 = (2m +- 1) 2^(e - 25), both sides times 2^204:
  // (2m +- 1)^12 2^(12e - 96) against 55^12 2^(240 + n).
  for (int n = pad::kLowestNote; n <= pad::kHighestNote; ++n) {
    SCOPED_TRACE(n);
    int e = 0;
    const float f = pad::notePitch(n);
    const auto m = static_cast<uint32_t>(std::ldexp(std::frexp(f, &e), 24));
    ASSERT_NE(m & (m - 1), 0u);
    const Natural target = power(55, 12, 240 + n);
    EXPECT_LT(power(2 * m - 1, 12, 12 * e - 96), target);
    EXPECT_GT(power(2 * m + 1, 12, 12 * e - 96), target);
  }
}

TEST(PadSnap, ApplyingFromTheNextPositionWithTheDepthUnchanged) {
  EngineState state;
  allocateTake(state);
  pad::mouseMove(state, 64 + 200, 64 + 100);
  EXPECT_EQ(state.voices[0].targetPitch, pad::pitchForHeight(100));
  pad::setSnap(state, pad::Snap{});  // every semitone
  EXPECT_EQ(state.voices[0].targetPitch,
            pad::pitchForHeight(100));  // the setting alone changes nothing
  pad::mouseMove(state, 64 + 200, 64 + 100);
  EXPECT_NEAR(state.voices[0].targetPitch, 554.365, 0.001);  // 563.2 Hz snaps down to the C sharp
  EXPECT_EQ(state.voices[0].targetPitch, pad::targetPitchFor(state, 100));
  EXPECT_EQ(state.voices[0].vibratoDepth, pad::depthForOffset(200));

  auto at = pad::pressLeft(state, 64 + 10, 64 + 90);  // 625.8 Hz snaps up to the E flat
  ASSERT_TRUE(at);
  pad::keyOn(state, *at);
  EXPECT_NEAR(state.voices[0].targetPitch, 622.254, 0.001);

  pad::setSnap(state, pad::Snap{pad::Scale::kMajor, 2});  // D major has no E flat
  EXPECT_NEAR(state.voices[0].targetPitch, 622.254, 0.001);
  pad::mouseMove(state, 64 + 10, 64 + 90);
  EXPECT_NEAR(state.voices[0].targetPitch, 659.255, 0.001);  // the E is nearer than the D
  EXPECT_EQ(state.voices[0].vibratoDepth, pad::depthForOffset(10));

  pad::setSnap(state, std::nullopt);
  EXPECT_NEAR(state.voices[0].targetPitch, 659.255, 0.001);
  pad::mouseMove(state, 64 + 10, 64 + 90);
  EXPECT_EQ(state.voices[0].targetPitch, pad::pitchForHeight(90));
  EXPECT_EQ(state.voices[0].targetPitch, pad::targetPitchFor(state, 90));
  EXPECT_EQ(pad::noteFor(state, 90), 6);  // off, a row is still named by its nearest semitone
}

TEST(PadMapping, DepthStartsAfterTheLeftQuarter) {
  EXPECT_EQ(pad::depthForOffset(1), 0.0f);
  EXPECT_EQ(pad::depthForOffset(64), 0.0f);
  EXPECT_EQ(pad::depthForOffset(65), 0.002f);
  EXPECT_EQ(pad::depthForOffset(128), 0.128f);
  EXPECT_EQ(pad::depthForOffset(255), 0.382f);
}

TEST(PadButtons, PressOutsideMarksTheButtonAndResetsThePhaseButStaysSilent) {
  EngineState state;
  allocateTake(state);
  EXPECT_FALSE(pad::pressLeft(state, 64, 100));
  EXPECT_TRUE(state.voices[0].leftHeld);
  EXPECT_TRUE(state.voices[0].phaseReset);
  EXPECT_FALSE(state.voices[0].gate);
  EXPECT_FALSE(state.recording);
  EXPECT_EQ(state.voices[0].targetPitch, 440.0f);
}

TEST(PadButtons, PressInsideOpensGateAndTakeAndSetsThePitch) {
  EngineState state;
  allocateTake(state);
  auto at = pad::pressLeft(state, 64 + 128, 64 + 64);
  ASSERT_TRUE(at);
  pad::keyOn(state, *at);
  EXPECT_TRUE(state.voices[0].gate);
  EXPECT_TRUE(state.recording);
  EXPECT_EQ(state.voices[0].targetPitch, 880.0f);
  EXPECT_EQ(state.voices[0].vibratoDepth, 0.128f);

  // A release anywhere, even far outside the pad, ends the note.
  pad::releaseLeft(state);
  pad::keyOff(state);
  EXPECT_FALSE(state.voices[0].gate);
  EXPECT_FALSE(state.voices[0].leftHeld);
  EXPECT_FALSE(state.recording);
}

TEST(PadButtons, MovingWithoutAButtonFollowsThePointerSilently) {
  EngineState state;
  pad::mouseMove(state, 64 + 255, 64 + 1);
  EXPECT_EQ(state.voices[0].targetPitch, 56320.0f);
  EXPECT_EQ(state.voices[0].vibratoDepth, 0.382f);
  EXPECT_FALSE(state.voices[0].gate);
  pad::mouseMove(state, 64 + 300, 64 + 128);  // outside: nothing changes
  EXPECT_EQ(state.voices[0].targetPitch, 56320.0f);
}

TEST(PadScale, FortyEightSemitoneTicksWithLongOnesAtEachC) {
  const auto ticks = pad::scaleTicks();
  ASSERT_EQ(ticks.size(), 48u);
  std::vector<int> longRows;
  for (const auto& t : ticks) {
    EXPECT_EQ(t.fromX, 62);
    if (t.toX == 48)
      longRows.push_back(t.row);
    else
      EXPECT_EQ(t.toX, 56);
  }
  EXPECT_EQ(longRows, (std::vector<int>{90, 117, 171, 279}));
  // Octaves at 3,520, 1,760, 880 and 440 Hz; truncation puts ticks 0 and 1 on one row.
  EXPECT_EQ(ticks[0].row, 64 + 16);
  EXPECT_EQ(ticks[1].row, 64 + 16);
  EXPECT_EQ(ticks[12].row, 64 + 32);
  EXPECT_EQ(ticks[24].row, 64 + 64);
  EXPECT_EQ(ticks[36].row, 64 + 128);
  EXPECT_EQ(ticks[47].row, 64 + 241);
  for (size_t j = 1; j < ticks.size(); ++j) EXPECT_GE(ticks[j].row, ticks[j - 1].row);
}

// Chords named from the notes that sound (MIDI numbers, C4 = 60), in any order and voicing.
TEST(Chords, NamesCommonChordsAndTwoNotesInterval) {
  using chord::Kind;
  struct Case {
    std::vector<int> notes;
    Kind kind;
    int root;
    int semitones = 0;
  };
  const Case cases[] = {
      {{}, Kind::kNone, 0},
      {{60}, Kind::kNone, 0},
      {{60, 60}, Kind::kNone, 0},          // two fingers on one note
      {{64, 60}, Kind::kInterval, 60, 4},  // a major third, lower note first
      {{60, 67, 60}, Kind::kInterval, 60, 7},
      {{57, 69}, Kind::kInterval, 57, 12},  // an octave
      {{60, 64, 67}, Kind::kMajor, 60},
      {{64, 67, 72}, Kind::kMajor, 72},      // first inversion: the root above the bass
      {{57, 60, 64, 69}, Kind::kMinor, 57},  // A minor, the root doubled
      {{71, 74, 77}, Kind::kDiminished, 71},
      {{60, 64, 68}, Kind::kAugmented, 60},  // symmetric: the bass is the root
      {{64, 68, 72}, Kind::kAugmented, 64},
      {{60, 62, 67}, Kind::kSus2, 60},  // C sus2 is G sus4 from the G
      {{67, 72, 74}, Kind::kSus4, 67},
      {{62, 67, 72}, Kind::kSus2, 72},  // neither root in the bass: sus2 first
      {{55, 59, 62, 65}, Kind::kDominantSeventh, 55},
      {{60, 64, 67, 71}, Kind::kMajorSeventh, 60},
      {{62, 65, 69, 72}, Kind::kMinorSeventh, 62},
      {{60, 61, 62}, Kind::kNone, 0},          // a cluster names no chord
      {{60, 64, 67, 70, 74}, Kind::kNone, 0},  // a ninth is not among the names
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.notes));
    const chord::Chord got = chord::nameChord(c.notes);
    EXPECT_EQ(got.kind, c.kind);
    if (c.kind != Kind::kNone) {
      EXPECT_EQ(got.root, c.root);
    }
    EXPECT_EQ(got.semitones, c.semitones);
  }
}

// The keys written with flats: B flat in D minor and F major, A sharp in B major.
TEST(Chords, KeysSpellTheirBlackKeysAsTheirSignaturesDo) {
  std::string flats[pad::kScaleCount];
  for (int scale = 0; scale < pad::kScaleCount; ++scale) {
    for (int key = 0; key < pad::kKeyCount; ++key) {
      if (chord::spelledWithFlats({static_cast<pad::Scale>(scale), key})) {
        flats[scale] += std::string(pad::kKeyNames[key]) + " ";
      }
    }
  }
  EXPECT_EQ(flats[int(pad::Scale::kMajor)], "C# D# F G# A# ");
  EXPECT_EQ(flats[int(pad::Scale::kMajorPentatonic)], "C# D# F G# A# ");
  EXPECT_EQ(flats[int(pad::Scale::kChromatic)], "C# D# F G# A# ");
  EXPECT_EQ(flats[int(pad::Scale::kWholeTone)], "C# D# F G# A# ");
  EXPECT_EQ(flats[int(pad::Scale::kMinor)], "C D F G A# ");
  EXPECT_EQ(flats[int(pad::Scale::kMinorPentatonic)], "C D F G A# ");
  EXPECT_EQ(flats[int(pad::Scale::kBlues)], "C D F G A# ");
}

}  // namespace
}  // namespace tonvarel
