// The pad: which positions count as inside, the pitch and depth they pick, the button rules and
// the semitone scale's ticks.
#include <gtest/gtest.h>

#include "app/pad.h"
#include "engine/take.h"

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
  EXPECT_TRUE(state.leftHeld);
  EXPECT_TRUE(state.phaseReset);
  EXPECT_FALSE(state.gate);
  EXPECT_FALSE(state.recording);
  EXPECT_EQ(state.targetPitch, 440.0f);
}

TEST(PadButtons, PressInsideOpensGateAndTakeAndSetsThePitch) {
  EngineState state;
  allocateTake(state);
  auto at = pad::pressLeft(state, 64 + 128, 64 + 64);
  ASSERT_TRUE(at);
  pad::keyOn(state, *at);
  EXPECT_TRUE(state.gate);
  EXPECT_TRUE(state.recording);
  EXPECT_EQ(state.targetPitch, 880.0f);
  EXPECT_EQ(state.vibratoDepth, 0.128f);

  // A release anywhere, even far outside the pad, ends the note.
  pad::releaseLeft(state);
  pad::keyOff(state);
  EXPECT_FALSE(state.gate);
  EXPECT_FALSE(state.leftHeld);
  EXPECT_FALSE(state.recording);
}

TEST(PadButtons, MovingWithoutAButtonFollowsThePointerSilently) {
  EngineState state;
  pad::mouseMove(state, 64 + 255, 64 + 1);
  EXPECT_EQ(state.targetPitch, 56320.0f);
  EXPECT_EQ(state.vibratoDepth, 0.382f);
  EXPECT_FALSE(state.gate);
  pad::mouseMove(state, 64 + 300, 64 + 128);  // outside: nothing changes
  EXPECT_EQ(state.targetPitch, 56320.0f);
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

}  // namespace
}  // namespace tonvarel
