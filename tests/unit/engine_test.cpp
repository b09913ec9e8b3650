// The voice and the block renderer, checked against values worked out by hand from the sound's
// definition: table read positions, the pitch ramp, the oscillator's turns, the wrap and gating.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/take.h"
#include "engine/tone_table.h"
#include "engine/voice.h"
#include "instrument/pad.h"

namespace tonvarel {
namespace {

int16_t sampleAt(const std::vector<uint8_t>& block, size_t frame, int channel = 0) {
  int16_t v;
  std::memcpy(&v, block.data() + frame * 4 + channel * 2, 2);
  return v;
}

// A table whose samples are their own indices shows exactly where the voice reads.
struct IndexTable {
  explicit IndexTable(uint32_t length) : samples(length) {
    for (uint32_t i = 0; i < length; ++i) samples[i] = static_cast<int16_t>(i);
  }
  const uint8_t* bytes() const { return reinterpret_cast<const uint8_t*>(samples.data()); }
  std::vector<int16_t> samples;
};

class Voice : public ::testing::Test {
 protected:
  void play(const IndexTable& t, float pitch, float depth) {
    publishTable(state, t.bytes(), static_cast<uint32_t>(t.samples.size()));
    state.voices[0].targetPitch = pitch;
    state.voices[0].currentPitch = pitch;  // no ramp from the previous block
    state.voices[0].vibratoDepth = depth;
    state.voices[0].gate = true;
  }
  std::vector<uint8_t> block() {
    std::vector<uint8_t> b(kBlockBytes);
    renderBlock(state, b.data(), kBlockBytes);
    return b;
  }
  EngineState state;
};

TEST(DefaultTable, IsA440HzSquareThatLoopsWithoutABreak) {
  std::vector<int16_t> t(kDefaultTableLength);
  fillDefaultTable(t.data());
  for (int i = 0; i < 51; ++i) ASSERT_EQ(t[i], 1000) << i;
  EXPECT_EQ(t[51], -1000);
  EXPECT_EQ(t.back(), -1000);

  int changes = 0, runs51 = 0, runs50 = 0, run = 1;
  for (size_t i = 1; i < t.size(); ++i) {
    ASSERT_TRUE(t[i] == 1000 || t[i] == -1000);
    if (t[i] != t[i - 1]) {
      ++changes;
      (run == 51 ? runs51 : run == 50 ? runs50 : run) += 1;
      run = 1;
    } else {
      ++run;
    }
  }
  (run == 51 ? runs51 : runs50) += 1;  // the last run, closed by the wrap to +1000
  EXPECT_EQ(changes, 879);
  EXPECT_EQ(runs51, 100);
  EXPECT_EQ(runs50, 780);
}

TEST(DefaultTable, BuildPublishesItAndUseDefaultRestoresTheLength) {
  EngineState state;
  EXPECT_FALSE(state.tableReady);
  buildDefaultTable(state);
  ASSERT_NE(state.defaultTable.get(), nullptr);
  EXPECT_TRUE(state.tableReady);
  EXPECT_EQ(state.table.load(), reinterpret_cast<const uint8_t*>(state.defaultTable.get()));

  withdrawTable(state);
  state.tableLength = 7;
  useDefaultTable(state);
  EXPECT_EQ(state.tableLength, kDefaultTableLength);
  releaseTables(state);
  EXPECT_EQ(state.defaultTable.get(), nullptr);
  EXPECT_FALSE(state.tableReady);
}

TEST(DefaultTable, TheBuiltInToneCommandBringsItBackReadyFromTheStart) {
  EngineState state;
  buildDefaultTable(state);
  const IndexTable loaded(10);
  withdrawTable(state);
  publishTable(state, loaded.bytes(), 10);
  state.voices[0].phaseReset = false;
  returnToDefaultTable(state);
  EXPECT_EQ(state.table.load(), reinterpret_cast<const uint8_t*>(state.defaultTable.get()));
  EXPECT_EQ(state.tableLength, kDefaultTableLength);
  EXPECT_TRUE(state.tableReady);
  EXPECT_TRUE(state.voices[0].phaseReset);
}

// Replacing the storage the active table lives in must never leave the voice pointing at freed
// memory: restoring the table after such a renewal brings back the default one.
TEST(TableStorage, RenewingTheActiveTablesStorageFallsBackToTheDefault) {
  EngineState state;
  buildDefaultTable(state);
  const auto* defaultBytes = reinterpret_cast<const uint8_t*>(state.defaultTable.get());
  struct Case {
    const char* name;
    const uint8_t* (*make)(EngineState&);
    const uint8_t* (*renew)(EngineState&);
  };
  const Case cases[] = {
      {"inside the file image",
       [](EngineState& s) -> const uint8_t* { return renewFileImage(s, 100) + 45; },
       [](EngineState& s) -> const uint8_t* { return renewFileImage(s, 100); }},
      {"widened",
       [](EngineState& s) -> const uint8_t* {
         return reinterpret_cast<const uint8_t*>(renewWidenedTable(s, 20));
       },
       [](EngineState& s) -> const uint8_t* {
         return reinterpret_cast<const uint8_t*>(renewWidenedTable(s, 20));
       }},
      {"mixed down",
       [](EngineState& s) -> const uint8_t* {
         return reinterpret_cast<const uint8_t*>(renewMixdownTable(s, 20));
       },
       [](EngineState& s) -> const uint8_t* {
         return reinterpret_cast<const uint8_t*>(renewMixdownTable(s, 20));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    withdrawTable(state);
    publishTable(state, c.make(state), 10);
    withdrawTable(state);
    c.renew(state);
    restoreTable(state);
    EXPECT_EQ(state.table.load(), defaultBytes);
    EXPECT_EQ(state.tableLength, kDefaultTableLength);
  }
  // A storage the table does not live in is renewed without touching the active table.
  withdrawTable(state);
  const uint8_t* mixed = reinterpret_cast<const uint8_t*>(renewMixdownTable(state, 4));
  publishTable(state, mixed, 4);
  withdrawTable(state);
  renewFileImage(state, 8);
  renewWidenedTable(state, 8);
  restoreTable(state);
  EXPECT_EQ(state.table.load(), mixed);
}

// A size whose bytes overflow a size_t (possible on 32-bit WebAssembly for a widened table) is
// refused, never handed out as a short buffer.
TEST(TableStorage, RefusesACountWhoseBytesDoNotFit) {
  Storage<int16_t> storage;
  EXPECT_EQ(storage.renew(SIZE_MAX / sizeof(int16_t) + 1), nullptr);
  EXPECT_NE(storage.renew(4), nullptr);
}

TEST_F(Voice, IsSilentBeforeTheDefaultTableExistsEvenWithTheGateOpen) {
  state.voices[0].gate = true;
  for (uint8_t b : block()) ASSERT_EQ(b, 0);
}

TEST_F(Voice, At440HzWithoutVibratoReadsOneSamplePerFrameAfterAPhaseReset) {
  IndexTable t(3000);
  play(t, 440.0f, 0.0f);
  state.voices[0].phase = 1234.5f;
  state.voices[0].phaseReset = true;
  const auto b = block();
  EXPECT_FALSE(state.voices[0].phaseReset);
  // The phase is cleared before it is advanced, so the first sample read is table[1].
  for (size_t f = 0; f < kBlockFrames; ++f) {
    ASSERT_EQ(sampleAt(b, f, 0), static_cast<int16_t>(f + 1)) << f;
    ASSERT_EQ(sampleAt(b, f, 1), sampleAt(b, f, 0));
  }
  EXPECT_FLOAT_EQ(state.voices[0].phase, 1500.0f);
}

TEST_F(Voice, KeepsThePitchFlatWhileTheTargetHolds) {
  IndexTable t(4000);
  play(t, 880.0f, 0.0f);
  state.voices[0].phaseReset = true;
  const auto b = block();
  for (size_t f = 0; f < kBlockFrames; ++f) ASSERT_EQ(sampleAt(b, f), 2 * (f + 1)) << f;
  EXPECT_EQ(state.voices[0].rampPitch, 880.0f);
  EXPECT_EQ(state.voices[0].previousPitch, 880.0f);
}

TEST_F(Voice, RampContinuesTheLastChangeAcrossTheBlockAfterAStep) {
  IndexTable t(44100);
  play(t, 440.0f, 0.0f);
  block();
  state.voices[0].targetPitch = 880.0f;
  block();
  // From 880 upwards, nearing 2 x 880 - 440 at the block's end.
  EXPECT_EQ(state.voices[0].previousPitch, 440.0f);
  EXPECT_EQ(state.voices[0].currentPitch, 880.0f);
  EXPECT_EQ(state.voices[0].rampPitch, static_cast<float>(880.0 + 440.0 * 1499.0 / 1500.0));
  block();
  EXPECT_EQ(state.voices[0].rampPitch, 880.0f);
}

TEST_F(Voice, RampGoesNegativeAfterTheLargestDownwardJumpAndThePhaseStaysInRange) {
  IndexTable t(100);
  play(t, 56320.0f, 0.0f);
  block();
  state.voices[0].targetPitch = static_cast<float>(56320.0 / 255.0);
  state.voices[0].phaseReset = true;
  const auto b = block();
  // The ramp falls by about 37 Hz a frame from 220.86 Hz: six frames forward (the phase reaches
  // about 1.75), then backwards across 0, where the wrap brings it to the table's far end.
  for (int f = 0; f < 6; ++f) EXPECT_LE(sampleAt(b, f), 1) << f;
  bool wrappedBackwards = false;
  for (size_t f = 0; f < kBlockFrames; ++f) {
    ASSERT_GE(sampleAt(b, f), 0);
    ASSERT_LT(sampleAt(b, f), 100);
    wrappedBackwards |= sampleAt(b, f) == 99;
  }
  EXPECT_TRUE(wrappedBackwards);
  EXPECT_GE(state.voices[0].phase, 0.0f);
  EXPECT_LT(state.voices[0].phase, 100.0f);
}

TEST_F(Voice, WrapsAnIncrementLargerThanTheTableWithinOneFrame) {
  IndexTable t(2);
  play(t, 440.0f * 7.5f, 0.0f);
  state.voices[0].phaseReset = true;
  const auto b = block();
  // Phase 7.5 -> 1.5, 9 -> 1 (0 + 1), 8.5 -> 0.5, 8 -> 0, then the cycle repeats.
  const int16_t expected[] = {1, 1, 0, 0, 1, 1, 0, 0};
  for (int f = 0; f < 8; ++f) EXPECT_EQ(sampleAt(b, f), expected[f]) << f;
}

TEST_F(Voice, OneSampleTableAtTheHighestPitchReadsOnlyThatSample) {
  std::vector<int16_t> one{-77};
  publishTable(state, reinterpret_cast<const uint8_t*>(one.data()), 1);
  state.voices[0].targetPitch = state.voices[0].currentPitch = 56320.0f;
  state.voices[0].vibratoDepth = 0.382f;
  state.voices[0].gate = true;
  const auto b = block();
  for (size_t f = 0; f < kBlockFrames; ++f) ASSERT_EQ(sampleAt(b, f), -77);
}

TEST_F(Voice, GateClosedIsSilentButThePhaseAndOscillatorMoveOn) {
  IndexTable t(44100);
  play(t, 440.0f, 0.0f);
  state.voices[0].gate = false;
  for (uint8_t byte : block()) ASSERT_EQ(byte, 0);
  EXPECT_FLOAT_EQ(state.voices[0].phase, 1500.0f);
  // 500 frames up to the first turn, 1,000 down to the second: at the bottom, turning up again.
  EXPECT_EQ(state.lfoCounter, 0);
  EXPECT_GT(state.lfoStep, 0.0f);
  EXPECT_NEAR(state.lfoValue, -2.5f, 0.00001f);
}

TEST_F(Voice, TableNotReadyIsSilentWithTheGateOpen) {
  IndexTable t(44100);
  play(t, 440.0f, 0.0f);
  withdrawTable(state);
  for (uint8_t byte : block()) ASSERT_EQ(byte, 0);
  EXPECT_FLOAT_EQ(state.voices[0].phase, 1500.0f);
}

TEST_F(Voice, EmptyTablePlaysSilenceWithoutWrapping) {
  IndexTable t(0);
  play(t, 440.0f, 0.0f);
  for (uint8_t byte : block()) ASSERT_EQ(byte, 0);
  EXPECT_FLOAT_EQ(state.voices[0].phase, 1500.0f);  // never wrapped, still advancing
}

TEST_F(Voice, ReadsSixteenBitSamplesAtAnOddAddress) {
  std::vector<uint8_t> image{0xEE, 0x34, 0x12, 0xCD, 0xAB};  // samples 0x1234, 0xABCD at offset 1
  publishTable(state, image.data() + 1, 2);
  state.voices[0].currentPitch = state.voices[0].targetPitch = 440.0f;
  state.voices[0].vibratoDepth = 0.0f;
  state.voices[0].gate = true;
  const auto b = block();
  EXPECT_EQ(sampleAt(b, 0), static_cast<int16_t>(0xABCD));
  EXPECT_EQ(sampleAt(b, 1), 0x1234);
}

// Rendered in pieces of any size, blocks are the blocks renderBlock makes: here three blocks that
// ramp, with vibrato, into a take, the target changing in the middle of the first. The piecewise
// run sees the change mid-block, and it waits for the next block as it must.
TEST(Pieces, RenderTheSameBlocksAsWholeBlocks) {
  constexpr uint32_t kFrames = 3 * kBlockFrames;
  const IndexTable table(30000);
  const auto start = [&](EngineState& s) {
    allocateTake(s);
    publishTable(s, table.bytes(), 30000);
    s.voices[0].targetPitch = 1234.5f;
    s.voices[0].vibratoDepth = 0.3f;
    s.voices[0].gate = true;
    openTakeIfIdle(s);
  };
  EngineState whole;
  start(whole);
  std::vector<uint8_t> expected(4 * kFrames);
  for (uint32_t b = 0; b < 3; ++b) {
    renderBlock(whole, expected.data() + b * kBlockBytes, kBlockBytes);
    if (b == 0) whole.voices[0].targetPitch = 300.0f;
  }
  for (uint32_t piece : {1u, 127u, 128u, 1000u, 1499u, 1500u}) {
    SCOPED_TRACE(piece);
    EngineState pieces;
    start(pieces);
    std::vector<uint8_t> got(4 * kFrames);
    for (uint32_t done = 0; done < kFrames;) {
      const uint32_t count = std::min(piece, kFrames - done);
      renderFrames(pieces, got.data() + 4 * done, count);
      done += count;
      if (done >= 700 && done <= kBlockFrames) pieces.voices[0].targetPitch = 300.0f;
    }
    ASSERT_EQ(got, expected);
    EXPECT_EQ(pieces.takeLength, whole.takeLength);
    EXPECT_EQ(0, std::memcmp(pieces.takeBuffer.get(), whole.takeBuffer.get(), 2 * kFrames));
    EXPECT_EQ(pieces.voices[0].phase, whole.voices[0].phase);
    EXPECT_EQ(pieces.voices[0].rampPitch, whole.voices[0].rampPitch);
  }
}

// A note opens a block of its own: its first frame already plays at its pitch, from a cleared
// phase. A move's pitch waits for the next block; a release silences the next frame.
TEST(Pieces, APressMidBlockOpensANewBlockAtItsPitch) {
  const IndexTable table(30000);
  EngineState state;
  publishTable(state, table.bytes(), 30000);
  std::vector<uint8_t> frames(4 * kBlockFrames);
  renderFrames(state, frames.data(), 700);

  pad::mouseMove(state, 100, 64 + 64);  // 880 Hz, no vibrato
  renderFrames(state, frames.data(), 100);
  EXPECT_EQ(state.voices[0].currentPitch, 440.0f);
  EXPECT_EQ(state.voices[0].blockFrame, 800u);

  const auto at = pad::pressLeft(state, 100, 64 + 32);  // 1,760 Hz
  ASSERT_TRUE(at);
  pad::keyOn(state, *at);
  renderFrames(state, frames.data(), 3);
  EXPECT_EQ(state.voices[0].blockFrame, 3u);
  EXPECT_EQ(state.voices[0].previousPitch, 440.0f);
  EXPECT_EQ(state.voices[0].currentPitch, 1760.0f);
  EXPECT_EQ(sampleAt(frames, 0), 4);  // phase 0 + 4 samples a frame
  EXPECT_EQ(sampleAt(frames, 1), 8);

  pad::releaseLeft(state);
  pad::keyOff(state);
  renderFrames(state, frames.data(), 1);
  EXPECT_EQ(sampleAt(frames, 0), 0);
  EXPECT_EQ(state.voices[0].blockFrame, 4u);  // only a press closes the block
}

// Ten voices: the frames are the clamped sum of what each voice plays alone, any voice playing
// alone plays what voice 0 would, and the take records the mix. Every scenario runs in quanta of
// 128 frames with its events between them, as the browser plays them.
TEST(Voices, MixIsTheClampedSumOfEachVoiceAlone) {
  struct Event {
    uint32_t frame;
    int voice;
    char what;  // 'd' press at (x, y), 'u' release, 'm' move to (x, y)
    uint16_t x = 0;
    uint16_t y = 0;
  };
  struct Case {
    const char* name;
    std::vector<Event> events;
    bool clamps;
  };
  std::vector<Event> ten;
  for (int k = 0; k < kVoiceCount; ++k) {
    ten.push_back({128u * k, k, 'd', uint16_t(70 + 25 * k), uint16_t(80 + 20 * k)});
  }
  ten.push_back({4000, 3, 'u'});
  const Case cases[] = {
      {"one voice, not the first",
       {{0, 7, 'd', 200, 150}, {1500, 7, 'm', 250, 90}, {4000, 7, 'u'}},
       false},
      {"two voices sum",
       {{256, 0, 'd', 100, 192}, {384, 1, 'd', 150, 150}, {3000, 0, 'u'}, {3200, 1, 'm', 300, 100}},
       false},
      {"ten voices clamp", ten, true},
      // voice 2 glides; voice 5's note opens a block of its own and leaves voice 2's alone
      {"a press mid-block leaves the other voice's blocks",
       {{0, 2, 'd', 120, 240},
        {640, 2, 'm', 130, 200},
        {768, 5, 'd', 300, 90},
        {1280, 2, 'm', 140, 160},
        {2048, 5, 'u'},
        {2560, 5, 'd', 90, 300},
        {3072, 2, 'm', 150, 120}},
       false},
  };
  std::vector<int16_t> loud(997);  // two voices stay within full scale, ten do not
  for (size_t i = 0; i < loud.size(); ++i) loud[i] = int16_t(int(i * 2731 % 24001) - 12000);
  const auto* table = reinterpret_cast<const uint8_t*>(loud.data());
  constexpr uint32_t kFrames = 5000;
  // Renders `events` (those of `only`, played by voice 0, when it is not -1) with the right button
  // holding the take open.
  const auto perform = [&](const std::vector<Event>& events, int only, EngineState& s) {
    allocateTake(s);
    pad::pressRight(s);
    publishTable(s, table, uint32_t(loud.size()));
    std::vector<uint8_t> out(4 * kFrames);
    size_t next = 0;
    for (uint32_t done = 0; done < kFrames;) {
      for (; next < events.size() && events[next].frame <= done; ++next) {
        const Event& e = events[next];
        if (only != -1 && e.voice != only) continue;
        const int k = only == -1 ? e.voice : 0;
        if (e.what == 'd') {
          if (auto at = pad::pressLeft(s, e.x, e.y, k)) pad::keyOn(s, *at, k);
        } else if (e.what == 'u') {
          pad::releaseLeft(s, k);
          pad::keyOff(s, k);
        } else {
          pad::mouseMove(s, e.x, e.y, k);
        }
      }
      const uint32_t count = std::min(128u, kFrames - done);
      renderFrames(s, out.data() + 4 * done, count);
      done += count;
    }
    return out;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EngineState together;
    const auto mixed = perform(c.events, -1, together);
    std::vector<int32_t> sum(kFrames, 0);
    for (int k = 0; k < kVoiceCount; ++k) {
      EngineState alone;
      const auto solo = perform(c.events, k, alone);
      for (uint32_t f = 0; f < kFrames; ++f) sum[f] += sampleAt(solo, f);
    }
    int clamped = 0;
    for (uint32_t f = 0; f < kFrames; ++f) {
      const int32_t expected = std::clamp(sum[f], -32768, 32767);
      clamped += expected != sum[f];
      ASSERT_EQ(sampleAt(mixed, f, 0), expected) << "frame " << f;
      ASSERT_EQ(sampleAt(mixed, f, 1), expected) << "frame " << f;
    }
    EXPECT_EQ(clamped > 0, c.clamps) << clamped << " frames clamped";
    // The take opened with the first note and holds the mix from its quantum on.
    const uint32_t first = c.events.front().frame / 128 * 128;
    ASSERT_EQ(together.takeLength, 2 * (kFrames - first));
    for (uint32_t f = first; f < kFrames; f += 97) {
      int16_t taken;
      std::memcpy(&taken, together.takeBuffer.get() + 2 * (f - first), 2);
      ASSERT_EQ(taken, sampleAt(mixed, f)) << "take at frame " << f;
    }
  }
}

TEST(Oscillator, TurnsAtFrame500ThenEvery1000AndRepeatsEvery2000) {
  EngineState state;
  std::vector<float> values;
  std::vector<int> turns;
  float step = state.lfoStep;
  for (int frame = 1; frame <= 6000; ++frame) {
    renderFrame(state);
    values.push_back(state.lfoValue);
    if (state.lfoStep != step) turns.push_back(frame);
    step = state.lfoStep;
  }
  EXPECT_EQ(turns, (std::vector<int>{500, 1500, 2500, 3500, 4500, 5500}));
  EXPECT_NEAR(values[499], 2.5f, 0.00001f);
  EXPECT_NEAR(values[1499], -2.5f, 0.00001f);
  for (size_t i = 100; i + 2000 < values.size(); ++i) ASSERT_EQ(values[i], values[i + 2000]) << i;
}

TEST(Phase, StopsAtAPowerOfTwoWhereItsSpacingSwallowsTheIncrement) {
  EngineState state;
  state.tableLength = 1u << 25;  // long enough that the wrap never applies
  state.voices[0].vibratoDepth = 0.0f;
  state.voices[0].phase = 16777200.0f;
  for (int i = 0; i < 100; ++i) renderFrame(state);
  EXPECT_EQ(state.voices[0].phase, 16777216.0f);
}

}  // namespace
}  // namespace tonvarel
