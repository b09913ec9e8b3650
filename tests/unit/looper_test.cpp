// The looper and the take's playback, row by row through their rules: what every frame hears,
// what the loop then holds, its state, position and length, and whether undo would act.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/looper.h"
#include "engine/take.h"
#include "engine/tone_table.h"
#include "engine/voice.h"

namespace tonvarel {
namespace {

enum class Op { kLevel, kFrames, kLoop, kStop, kUndo, kClear, kOpenTake, kCloseTake, kPlay, kEnd };

// One step of a row: the voices' level from now on, frames rendered, or a control.
struct Step {
  Op op;
  int32_t value = 0;
  int voices = 1;
};

// `voices` voices sound `value` each (a one-sample table), so that their clamped sum is known.
Step level(int32_t value, int voices = 1) {
  return {Op::kLevel, value, voices};
}
Step frames(uint32_t count) {
  return {Op::kFrames, static_cast<int32_t>(count)};
}
constexpr Step kLoop{Op::kLoop};
constexpr Step kStop{Op::kStop};
constexpr Step kUndo{Op::kUndo};
constexpr Step kClear{Op::kClear};
constexpr Step kOpenTake{Op::kOpenTake};
constexpr Step kCloseTake{Op::kCloseTake};
constexpr Step kTakePlay{Op::kPlay};
constexpr Step kTakeStop{Op::kEnd};

// `count` samples of `value` in a row.
struct Run {
  int32_t value;
  uint32_t count;
  friend bool operator==(const Run&, const Run&) = default;
};

void PrintTo(const Run& run, std::ostream* os) {
  *os << run.value << " x" << run.count;
}

void append(std::vector<Run>& runs, int32_t value) {
  if (!runs.empty() && runs.back().value == value) {
    ++runs.back().count;
  } else {
    runs.push_back({value, 1});
  }
}

struct Row {
  const char* name;
  std::vector<Step> steps;
  std::vector<Run> heard;
  LoopState state;
  uint32_t position;
  uint32_t length;
  bool undoable;
  std::vector<Run> loop;  // what loopBytes() gives
  bool storage = true;    // without it (the Windows program), every control does nothing
};

const std::vector<Row> kRows = {
    {"the first layer records the voices, then plays from its start under them",
     {level(100), kLoop, frames(2), level(200), frames(1), level(5), kLoop, frames(7)},
     {{100, 2}, {200, 1}, {105, 2}, {205, 1}, {105, 2}, {205, 1}, {105, 1}},
     LoopState::kPlaying,
     1,
     3,
     false,
     {{100, 2}, {200, 1}}},
    {"a recording of no frames leaves the loop empty, by the loop control or by stop",
     {level(7), kLoop, kLoop, frames(2), kLoop, kStop, frames(1)},
     {{7, 3}},
     LoopState::kEmpty,
     0,
     0,
     false,
     {}},
    {"stop while recording keeps the layer and stands at 0; loop plays it from 0",
     {level(9), kLoop, frames(4), kStop, frames(3), kLoop, frames(2)},
     {{9, 7}, {18, 2}},
     LoopState::kPlaying,
     2,
     4,
     false,
     {{9, 4}}},
    {"a loop of one frame plays that sample every frame",
     {level(-3), kLoop, frames(1), kLoop, level(1), frames(4)},
     {{-3, 1}, {-2, 4}},
     LoopState::kPlaying,
     0,
     1,
     false,
     {{-3, 1}}},
    {"the overdub adds the voices, clamped; the voices' sum is clamped before the loop is added",
     {level(30000), kLoop, frames(2), kLoop, kLoop, level(10000), frames(2), level(0), kLoop,
      frames(2), level(-32768, 2), frames(1)},
     {{30000, 2}, {32767, 4}, {-1, 1}},
     LoopState::kPlaying,
     1,
     2,
     true,
     {{32767, 2}}},
    {"undo during an overdub brings back the loop as the overdub found it; the position stays",
     {level(1), kLoop, frames(3), kLoop, level(0), frames(1), kLoop, level(10), frames(2), kUndo,
      level(0), frames(3), kUndo},
     {{1, 4}, {11, 2}, {1, 3}},
     LoopState::kPlaying,
     0,
     3,
     false,
     {{1, 3}}},
    {"an overdub that goes round the loop more than once is undone whole, from stopped",
     {level(3), kLoop, frames(2), kLoop, level(0), frames(1), kLoop, level(4), frames(5), kLoop,
      kStop, frames(1), kUndo, kLoop, level(0), frames(2)},
     {{3, 3}, {7, 2}, {11, 2}, {15, 1}, {4, 1}, {3, 2}},
     LoopState::kPlaying,
     0,
     2,
     false,
     {{3, 2}}},
    {"undo after an overdub that ended undoes it, and a second overdub replaces the first copy",
     {level(2), kLoop, frames(2), kLoop, kLoop, frames(2), kLoop, kLoop, frames(2), kLoop, kUndo,
      level(0), frames(2)},
     {{2, 2}, {4, 2}, {6, 2}, {4, 2}},
     LoopState::kPlaying,
     0,
     2,
     false,
     {{4, 2}}},
    {"undo with nothing to undo: empty, recording, playing before any overdub",
     {kUndo, level(5), kLoop, frames(2), kUndo, frames(1), kLoop, kUndo, frames(2), kStop, kUndo},
     {{5, 3}, {10, 2}},
     LoopState::kStopped,
     0,
     3,
     false,
     {{5, 3}}},
    {"clear empties the loop from an overdub, and the voices alone are heard",
     {level(4), kLoop, frames(2), kLoop, kLoop, frames(1), kClear, frames(2), kUndo, kStop},
     {{4, 2}, {8, 1}, {4, 2}},
     LoopState::kEmpty,
     0,
     0,
     false,
     {}},
    {"the first layer closes at 60 s and plays on from its start",
     {level(2), kLoop, frames(kLoopCapacity), level(-1), frames(3)},
     {{2, kLoopCapacity}, {1, 3}},
     LoopState::kPlaying,
     3,
     kLoopCapacity,
     false,
     {{2, kLoopCapacity}}},
    {"the take played back: one clamp over the voices, the loop and the take",
     {kOpenTake, level(-32768), frames(2), kCloseTake, level(32767), kLoop, frames(3), kLoop,
      kTakePlay, frames(3), kTakeStop},
     {{-32768, 2}, {32767, 3}, {32766, 2}, {32767, 1}},
     LoopState::kPlaying,
     0,
     3,
     false,
     {{32767, 3}}},
    {"the take plays the copy made at play while it goes on recording; again starts over; stop",
     {kOpenTake, level(5), frames(2), kTakePlay, frames(3), kTakePlay, level(0), frames(6),
      kTakePlay, frames(1), kTakeStop, frames(1), kTakeStop},
     {{5, 2}, {10, 2}, {5, 3}, {10, 2}, {5, 1}, {0, 1}, {5, 1}, {0, 1}},
     LoopState::kEmpty,
     0,
     0,
     false,
     {}},
    {"an empty take plays nothing and ends the playback",
     {level(0), kTakePlay, frames(1), kOpenTake, level(6), frames(2), kCloseTake, kTakePlay,
      level(0), frames(1), kOpenTake, kTakePlay, frames(2)},
     {{0, 1}, {6, 3}, {0, 2}},
     LoopState::kEmpty,
     0,
     0,
     false,
     {}},
    {"without the storage, no control does anything",
     {level(8), kLoop, frames(2), kLoop, kLoop, kOpenTake, frames(1), kTakePlay, frames(2)},
     {{8, 5}},
     LoopState::kEmpty,
     0,
     0,
     false,
     {},
     false},
};

// An engine whose voices play a one-sample table, with the looper's and the playback's storage
// or without.
class Rig {
 public:
  explicit Rig(bool storage) {
    allocateTake(state);
    publishTable(state, reinterpret_cast<const uint8_t*>(&sample_), 1);
    if (storage) {
      EXPECT_TRUE(allocateLooper(state));
      EXPECT_TRUE(allocatePlayback(state));
    }
  }

  // Renders the steps and returns the left channel, checking that the right one is the same.
  std::vector<Run> perform(const std::vector<Step>& steps) {
    std::vector<Run> heard;
    uint8_t out[kBlockBytes];
    for (const Step& step : steps) {
      switch (step.op) {
        case Op::kLevel:
          sample_ = static_cast<int16_t>(step.value);
          for (int k = 0; k < kVoiceCount; ++k) state.voices[k].gate = k < step.voices;
          break;
        case Op::kFrames:
          for (uint32_t left = step.value; left > 0;) {
            const uint32_t count = std::min(left, kBlockFrames);
            renderFrames(state, out, count);
            for (uint32_t f = 0; f < count; ++f) {
              int16_t l, r;
              std::memcpy(&l, out + 4 * f, 2);
              std::memcpy(&r, out + 4 * f + 2, 2);
              EXPECT_EQ(l, r);
              append(heard, l);
            }
            left -= count;
          }
          break;
        case Op::kLoop:
          loopControl(state);
          break;
        case Op::kStop:
          loopStop(state);
          break;
        case Op::kUndo:
          loopUndo(state);
          break;
        case Op::kClear:
          loopClear(state);
          break;
        case Op::kOpenTake:
          openTakeIfIdle(state);
          break;
        case Op::kCloseTake:
          closeTakeUnless(state, false);
          break;
        case Op::kPlay:
          playTake(state);
          break;
        case Op::kEnd:
          stopTake(state);
          break;
      }
    }
    return heard;
  }

  std::vector<Run> loopHolds() const {
    const TakeBytes loop = loopBytes(state);
    std::vector<Run> runs;
    for (uint32_t i = 0; i < loop.length; i += 2) {
      int16_t s;
      std::memcpy(&s, loop.bytes + i, 2);
      append(runs, s);
    }
    return runs;
  }

  EngineState state;

 private:
  int16_t sample_ = 0;  // the table every voice plays
};

TEST(Looper, FollowsTheRulesFrameByFrame) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    Rig rig(row.storage);
    EXPECT_EQ(rig.perform(row.steps), row.heard);
    const Looper& loop = rig.state.looper;
    EXPECT_EQ(loop.state, row.state);
    EXPECT_EQ(loop.position, row.position);
    EXPECT_EQ(loop.length, row.length);
    EXPECT_EQ(loop.undoable, row.undoable);
    EXPECT_EQ(rig.loopHolds(), row.loop);
  }
}

// The storage is taken whole or not at all.
TEST(Looper, StorageThatCannotBeHadLeavesNoLooper) {
  EngineState state;
  const StorageAllocator real = storageAllocator;
  static int granted;
  granted = 1;  // the loop's samples, but not the undo copy
  storageAllocator = [](size_t bytes) { return granted-- > 0 ? std::malloc(bytes) : nullptr; };
  EXPECT_FALSE(allocateLooper(state));
  EXPECT_FALSE(allocatePlayback(state));
  storageAllocator = real;
  EXPECT_FALSE(hasLooper(state));
  EXPECT_FALSE(hasPlayback(state));
  loopControl(state);
  EXPECT_EQ(state.looper.state, LoopState::kEmpty);
}

}  // namespace
}  // namespace tonvarel
