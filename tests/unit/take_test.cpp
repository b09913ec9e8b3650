// The take recorder: what a take holds, when it opens and closes, and its 60-second wrap.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/take.h"
#include "engine/tone_table.h"
#include "engine/voice.h"
#include "instrument/pad.h"

namespace tonvarel {
namespace {

class Take : public ::testing::Test {
 protected:
  void SetUp() override {
    allocateTake(state);
    buildDefaultTable(state);
  }
  std::vector<uint8_t> render(int blocks) {
    std::vector<uint8_t> all;
    std::vector<uint8_t> b(kBlockBytes);
    for (int i = 0; i < blocks; ++i) {
      renderBlock(state, b.data(), kBlockBytes);
      all.insert(all.end(), b.begin(), b.end());
    }
    return all;
  }
  static std::vector<uint8_t> leftChannel(const std::vector<uint8_t>& stream) {
    std::vector<uint8_t> left;
    for (size_t o = 0; o < stream.size(); o += 4)
      left.insert(left.end(), &stream[o], &stream[o + 2]);
    return left;
  }
  std::vector<uint8_t> taken() const {
    const TakeBytes t = takeBytes(state);
    return {t.bytes, t.bytes + t.length};
  }
  void pressLeft(uint16_t x, uint16_t y) {
    if (auto at = pad::pressLeft(state, x, y)) pad::keyOn(state, *at);
  }
  void releaseLeft() {
    pad::releaseLeft(state);
    pad::keyOff(state);
  }
  EngineState state;
};

TEST_F(Take, HoldsExactlyTheLeftChannelPlayedBetweenPressAndRelease) {
  render(2);
  pressLeft(192, 192);
  const auto played = render(3);
  releaseLeft();
  render(2);
  EXPECT_FALSE(state.recording);
  EXPECT_EQ(taken(), leftChannel(played));

  // The next press starts again from length 0.
  pressLeft(100, 100);
  render(1);
  EXPECT_EQ(takeBytes(state).length, kBlockFrames * 2);
}

TEST_F(Take, RightButtonKeepsOneTakeAcrossNotesAndTheSilenceBetween) {
  pad::pressRight(state);
  pressLeft(192, 192);
  auto played = render(2);
  releaseLeft();
  EXPECT_TRUE(state.recording);
  auto pause = render(1);
  for (uint8_t b : pause) ASSERT_EQ(b, 0);
  pressLeft(192, 128);
  auto second = render(2);
  played.insert(played.end(), pause.begin(), pause.end());
  played.insert(played.end(), second.begin(), second.end());
  releaseLeft();
  EXPECT_TRUE(state.recording);
  pad::releaseRight(state);
  EXPECT_FALSE(state.recording);
  render(1);
  EXPECT_EQ(taken(), leftChannel(played));
}

TEST_F(Take, ReleasingTheRightButtonWhileTheLeftIsHeldKeepsTheTakeOpen) {
  pad::pressRight(state);
  pressLeft(192, 192);
  pad::releaseRight(state);
  EXPECT_TRUE(state.recording);
  releaseLeft();
  EXPECT_FALSE(state.recording);
}

TEST_F(Take, PressOutsideThePadNeitherOpensNorResetsTheTake) {
  pressLeft(192, 192);
  render(1);
  releaseLeft();
  pressLeft(10, 10);
  EXPECT_FALSE(state.recording);
  EXPECT_EQ(takeBytes(state).length, kBlockFrames * 2);
}

TEST_F(Take, WrapsAfterSixtySecondsAndKeepsOnlyWhatCameAfter) {
  pressLeft(192, 192);
  // 60 s is exactly 1,764 blocks: the take is empty again right at the wrap.
  render(1764);
  EXPECT_EQ(takeBytes(state).length, 0u);
  const auto after = render(2);
  EXPECT_EQ(taken(), leftChannel(after));
}

TEST(TakeWithoutBuffer, NeverOpensAndNothingBreaks) {
  EngineState state;
  buildDefaultTable(state);
  openTakeIfIdle(state);
  EXPECT_FALSE(state.recording);
  std::vector<uint8_t> b(kBlockBytes);
  state.voices[0].gate = true;
  renderBlock(state, b.data(), kBlockBytes);
  EXPECT_EQ(takeBytes(state).length, 0u);
}

}  // namespace
}  // namespace tonvarel
