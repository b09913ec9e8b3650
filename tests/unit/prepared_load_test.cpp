// A load worked out on an engine of its own and adopted by the playing one leaves the playing
// engine as importBytes of the same bytes leaves it: the same table, the phase asked to start
// again, the same fallbacks and message boxes, whatever table played before.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/tone_table.h"
#include "tests/unit/wav_test_util.h"
#include "wavfile/prepared_load.h"
#include "wavfile/wav_import.h"

namespace tonvarel {
namespace {

using namespace testing;  // the WAV test helpers

// What of an engine a load decides.
struct Outcome {
  std::vector<int> table;
  bool ready;
  bool phaseReset;
  bool builtIn;
  bool operator==(const Outcome&) const = default;
};

Outcome outcomeOf(const EngineState& state) {
  bool everyPhase = true;  // a load restarts every voice's phase
  for (const Voice& voice : state.voices) everyPhase = everyPhase && voice.phaseReset;
  Outcome o{{}, state.tableReady, everyPhase, false};
  const uint8_t* table = state.table;
  for (uint32_t i = 0; i < state.tableLength; ++i) o.table.push_back(sampleAt(table, i));
  o.builtIn = table == reinterpret_cast<const uint8_t*>(state.defaultTable.get());
  return o;
}

// The page's part on `worker` and the worklet's on `playing`, as the browser edition does them.
// The table that plays is never touched before the adoption.
LoadOutcome prepareAndAdopt(EngineState& worker, FileAccess& files, EngineState& playing,
                            const Bytes& file) {
  uint8_t* image = renewFileImage(worker, file.size());
  EXPECT_NE(image, nullptr);
  if (!file.empty()) std::memcpy(image, file.data(), file.size());
  const PreparedLoad load = prepareLoad(worker, files, static_cast<uint32_t>(file.size()));
  const uint8_t* playingBefore = playing.table;
  if (load.outcome == LoadOutcome::kTable) {
    int16_t* room = renewPreparedTable(playing, load.length);
    EXPECT_NE(room, nullptr);
    std::memcpy(room, load.samples, 2 * size_t{load.length});
  }
  EXPECT_EQ(playing.table.load(), playingBefore);
  adoptLoad(playing, load.outcome, load.length);
  return load.outcome;
}

TEST(PreparedLoad, LeavesThePlayingEngineAsImportBytesDoes) {
  struct Case {
    const char* name;
    Bytes file;
    LoadOutcome outcome;
  };
  const Case cases[] = {
      {"16-bit mono at an odd offset",
       riff({fmt(1, 16), chunk("LIST", {0}), chunk("data", pcm16({-2, 300, 4}))}),
       LoadOutcome::kTable},
      {"8-bit stereo at 22,050 Hz", wav(2, 8, {0, 255, 128, 129}, 22050), LoadOutcome::kTable},
      {"8-bit mono", wav(1, 8, {0, 128, 255}), LoadOutcome::kTable},
      {"16-bit stereo", wav(2, 16, pcm16({-3, 0, 3, 0})), LoadOutcome::kTable},
      {"no whole sample", wav(1, 16, {1}), LoadOutcome::kTable},
      {"not RIFF", {'t', 'e', 'x', 't'}, LoadOutcome::kBuiltIn},
      {"24 bits", wav(1, 24, {0, 0, 0}), LoadOutcome::kBuiltIn},
      {"three channels", wav(3, 16, pcm16({1, 2, 3})), LoadOutcome::kBuiltIn},
      {"no data chunk at 8,000 Hz", riff({fmt(1, 8, 8000)}), LoadOutcome::kBuiltIn},
      {"empty", {}, LoadOutcome::kUnchanged},
  };
  const Bytes before = wav(1, 16, pcm16({11, -12, 13}));
  for (const bool loadedBefore : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (loadedBefore ? ", after a load" : ""));
      EngineState direct, playing, worker;
      FileAccess directFiles, workerFiles;
      Desk directDesk, workerDesk;
      directDesk.attach(directFiles);
      workerDesk.attach(workerFiles);
      buildDefaultTable(direct);
      buildDefaultTable(playing);
      if (loadedBefore) {
        importBytes(direct, directFiles, before);
        prepareAndAdopt(worker, workerFiles, playing, before);
      }
      for (int k = 0; k < kVoiceCount; ++k) {
        direct.voices[k].phaseReset = playing.voices[k].phaseReset = false;
      }

      importBytes(direct, directFiles, c.file);
      EXPECT_EQ(prepareAndAdopt(worker, workerFiles, playing, c.file), c.outcome);
      EXPECT_EQ(outcomeOf(playing), outcomeOf(direct));
      EXPECT_TRUE(outcomeOf(playing).phaseReset);
      EXPECT_EQ(workerDesk.messages, directDesk.messages);
    }
  }
}

}  // namespace
}  // namespace tonvarel
