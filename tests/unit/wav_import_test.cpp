// The WAV importer: the chunk walk with its wrapping budget, the format checks and their
// messages, the conversions to a 16-bit mono table, and which way out resets the phase.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "engine/tone_table.h"
#include "engine/voice.h"
#include "tests/unit/wav_test_util.h"
#include "wavfile/riff.h"
#include "wavfile/sample_convert.h"
#include "wavfile/take_export.h"
#include "wavfile/wav_import.h"

namespace tonvarel {
namespace {

using namespace testing;  // the WAV test helpers

const Bytes kMono16 = fmt(1, 16);

TEST(ChunkWalk, FindsChunksUntilTheBudgetOrTheImageEnds) {
  struct Case {
    const char* name;
    Bytes image;
    const char* id;
    ChunkSearch result;
    uint32_t offset = 0, size = 0;
  };
  const Bytes two = riff({kMono16, chunk("data", {1, 2})});
  Bytes rifx = two;
  rifx[3] = 'X';
  const Case cases[] = {
      {"three bytes", {'R', 'I', 'F'}, "fmt ", ChunkSearch::kNotRiff},
      {"RIFX", rifx, "fmt ", ChunkSearch::kNotRiff},
      {"form type cut short", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W'}, "fmt ", ChunkSearch::kNotWave},
      {"AVI form", riff({kMono16}, {}, "AVI "), "fmt ", ChunkSearch::kNotWave},
      {"second chunk", two, "data", ChunkSearch::kFound, 44, 2},
      {"absent", two, "LIST", ChunkSearch::kNotFound},
      // The RIFF size is a budget that wraps: below 8, or 0xFFFFFFFF, it is spent at once.
      {"RIFF size 7", riff({kMono16}, 7), "fmt ", ChunkSearch::kNotFound},
      {"RIFF size 0xFFFFFFFF", riff({kMono16}, 0xFFFFFFFF), "fmt ", ChunkSearch::kNotFound},
      {"RIFF size 0xFFFFFFFE", riff({kMono16}, 0xFFFFFFFE), "fmt ", ChunkSearch::kFound, 20, 16},
      {"RIFF size 8", riff({kMono16}, 8), "fmt ", ChunkSearch::kFound, 20, 16},
      {"RIFF size ending with fmt", riff({kMono16, chunk("data", {1})}, 28), "data",
       ChunkSearch::kNotFound},
      {"RIFF size reaching the data header", riff({kMono16, chunk("data", {1})}, 36), "data",
       ChunkSearch::kFound, 44, 1},
      // No pad byte is skipped after an odd chunk.
      {"odd chunk", riff({chunk("LIST", {7, 7, 7}), kMono16}), "fmt ", ChunkSearch::kFound, 31, 16},
      {"odd chunk and pad byte", riff({chunk("LIST", 3, {7, 7, 7, 0}), kMono16}), "fmt ",
       ChunkSearch::kNotFound},
      {"size past the image, clamped", riff({chunk("data", 1000, {1, 2, 3})}), "data",
       ChunkSearch::kFound, 20, 3},
      {"size jumping past the image", riff({chunk("LIST", 0xFFFFFFFF, {1}), kMono16}), "fmt ",
       ChunkSearch::kNotFound},
      {"header cut short", riff({Bytes{'f', 'm', 't', ' ', 16, 0, 0}}), "fmt ",
       ChunkSearch::kNotFound},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t id;
    std::memcpy(&id, c.id, 4);
    const ChunkLocation found = locateChunk(c.image.data(), uint32_t(c.image.size()), id);
    EXPECT_EQ(found.result, c.result);
    EXPECT_EQ(found.offset, c.offset);
    EXPECT_EQ(found.size, c.size);
  }
}

TEST(SampleConversion, MixdownTruncatesTowardZeroAtAnyAlignmentAndLength) {
  std::mt19937 random(20240607);
  std::uniform_int_distribution<int> any(-32768, 32767);
  for (size_t misalign : {0, 1, 3}) {
    for (size_t pairs : {1, 7, 33, 1000}) {
      SCOPED_TRACE(::testing::Message() << "misalign " << misalign << ", pairs " << pairs);
      std::vector<int> values = {-3, 0, 3, 0, -1, -2, 1, -2, -32768, -32768, 32767, 32767};
      values.resize(2 * pairs);
      for (size_t i = 12; i < values.size(); ++i) values[i] = any(random);
      Bytes source(misalign);
      for (int v : values) putU16(source, static_cast<uint16_t>(v));
      std::vector<int16_t> target(pairs + 1, 0x5A5A);
      mixStereo16(source.data() + misalign, target.data(), pairs);
      for (size_t i = 0; i < pairs; ++i) {
        const int sum = values[2 * i] + values[2 * i + 1];
        ASSERT_EQ(target[i], sum < 0 ? -(-sum / 2) : sum / 2) << "pair " << i;
      }
      EXPECT_EQ(target[pairs], 0x5A5A) << "wrote past the end";
    }
  }
}

// The importer as the window runs it, with the chooser and the message boxes answered here.
class Import : public ::testing::Test {
 protected:
  void SetUp() override {
    buildDefaultTable(state);
    desk.attach(files);
    // The streaming thread serves a phase reset at its next frame; clearing the request inside
    // every box shows which requests come after it.
    desk.meanwhile = [this] { state.voices[0].phaseReset = false; };
  }

  void load(const Bytes& file) {
    writeFile(dir / "in.wav", file);
    desk.answer = dir / "in.wav";
    importWav(state, files, path);
  }
  // The importer below the chooser, on bytes already at hand.
  void loadBytes(const Bytes& image) {
    desk.messages.clear();
    importBytes(state, files, image);
    EXPECT_TRUE(state.tableReady);
  }
  std::vector<int> table() const {
    std::vector<int> samples;
    for (uint32_t i = 0; i < state.tableLength; ++i) samples.push_back(sampleAt(state.table, i));
    return samples;
  }

  EngineState state;
  FileAccess files;
  Desk desk;
  ScratchDir dir;
  char path[kPathChars] = {};
};

TEST_F(Import, RefusedFilesBringTheDefaultBackWithTheirMessage) {
  const std::string missing = "目的のRIFFチャンクが無い", cannot = "現Verでは変換できない形式です";
  const Message notMonoOrStereo{"モノでもステレオでも無い\r\n" + cannot, "0"};
  struct Case {
    const char* name;
    Bytes image;
    std::vector<Message> messages;
    bool phaseReset;  // asked for again after the last box
  };
  const Case cases[] = {
      // Not a WAVE file at all: the request made once the file was read stands, none after it.
      {"shorter than a RIFF tag", {'R', 'I', 'F'}, {{"not RIFF", "0"}}, false},
      {"not WAVE", riff({kMono16}, {}, "WAVX"), {{"not WAVE", "0"}}, false},
      {"no fmt chunk", riff({chunk("data", {0, 0})}), {{missing, "0"}}, false},
      {"three channels", wav(3, 16, {0, 0, 0, 0, 0, 0}), {notMonoOrStereo}, true},
      {"no channels, 24 bits", wav(0, 24, {0, 0}), {notMonoOrStereo}, true},
      {"24 bits", wav(1, 24, {0, 0, 0}), {{cannot, "0"}}, true},
      {"fmt cut short by the end of the file",
       riff({chunk("fmt ", 16, Bytes(15, 1))}),
       {{cannot, "0"}},
       true},
      {"no data chunk", riff({kMono16}), {{missing, "0"}}, true},
      {"odd rate and no data",
       riff({fmt(1, 8, 8000)}),
       {{"レートが8000Hzです。\r\n44100Hzじゃないです。", "注意"}, {missing, "0"}},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    state.tableLength = 1;
    loadBytes(c.image);
    EXPECT_EQ(desk.messages, c.messages);
    EXPECT_EQ(state.table.load(), reinterpret_cast<const uint8_t*>(state.defaultTable.get()));
    EXPECT_EQ(state.tableLength, kDefaultTableLength);
    EXPECT_EQ(state.voices[0].phaseReset, c.phaseReset);
  }
}

TEST_F(Import, ConvertsEachLayoutToSixteenBitMono) {
  struct Case {
    const char* name;
    Bytes image;
    std::vector<int> table;
  };
  const Case cases[] = {
      {"8-bit mono", wav(1, 8, {0, 128, 255, 1, 127}), {-32768, 0, 32512, -32512, -256}},
      {"8-bit stereo, last byte unpaired", wav(2, 8, {0, 255, 128, 129, 1}), {-128, 128}},
      {"16-bit mono, odd byte dropped",
       wav(1, 16, {1, 0, 0xFF, 0xFF, 0x00, 0x80, 9}),
       {1, -1, -32768}},
      {"16-bit stereo at an odd offset",
       riff({fmt(2, 16), chunk("LIST", {0}), chunk("data", pcm16({-3, 0, 3, 0, 5}))}),
       {-1, 1}},
      {"format tag other than PCM", riff({fmt(1, 16, 44100, 3), chunk("data", pcm16({7}))}), {7}},
      {"data before a fmt that declares 2 bytes",
       riff({chunk("data", pcm16({42})),
             chunk("fmt ", 2, Bytes(kMono16.begin() + 8, kMono16.end()))}),
       {42}},
      {"data size larger than the file",
       riff({kMono16, chunk("data", 1000, pcm16({5, 6}))}),
       {5, 6}},
      // Data that yields no whole sample leaves an empty table: the voice plays silence.
      {"empty data", wav(1, 8, {}), {}},
      {"16-bit mono, one byte", wav(1, 16, {1}), {}},
      {"16-bit stereo, three bytes", wav(2, 16, {1, 2, 3}), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    loadBytes(c.image);
    EXPECT_TRUE(desk.messages.empty());
    EXPECT_EQ(table(), c.table);
    EXPECT_TRUE(state.voices[0].phaseReset);

    std::vector<uint8_t> block(kBlockBytes);
    state.voices[0].gate = true;
    renderBlock(state, block.data(), kBlockBytes);
    if (c.table.empty()) {
      EXPECT_EQ(block, std::vector<uint8_t>(kBlockBytes, 0));
    }
  }
}

TEST_F(Import, SixteenBitMonoIsPlayedWhereItLiesAndOtherLayoutsFromTheirTables) {
  loadBytes(riff({kMono16, chunk("LIST", {0}), chunk("data", pcm16({-2, 300, 4}))}));
  EXPECT_EQ(state.table.load(), state.fileImage.get() + 53);  // odd: right after the odd LIST chunk
  EXPECT_EQ(state.tableLength, 3u);
  loadBytes(wav(1, 8, {0}));
  EXPECT_EQ(state.table.load(), reinterpret_cast<const uint8_t*>(state.widenedTable.get()));
  loadBytes(wav(2, 8, {0, 0}));
  EXPECT_EQ(state.table.load(), reinterpret_cast<const uint8_t*>(state.mixdownTable.get()));
}

TEST_F(Import, OtherRatesAreNamedAsSignedNumbersAndThenPlayed) {
  const std::pair<uint32_t, std::string> cases[] = {
      {22050, "22050"}, {0, "0"}, {0x80000000u, "-2147483648"}, {0xFFFFFFFFu, "-1"}};
  for (const auto& [rate, shown] : cases) {
    SCOPED_TRACE(shown);
    loadBytes(wav(1, 16, pcm16({9}), rate));
    const Message warning{"レートが" + shown + "Hzです。\r\n44100Hzじゃないです。", "注意"};
    EXPECT_EQ(desk.messages, std::vector<Message>{warning});
    EXPECT_EQ(table(), std::vector<int>{9});
  }
}

TEST_F(Import, LoadsTheChosenFileWithTheTableWithdrawnMeanwhile) {
  std::vector<bool> readyWhileShown;
  desk.meanwhile = [&] { readyWhileShown.push_back(state.tableReady); };
  load(wav(1, 16, pcm16({1, 2, 3}), 48000));
  EXPECT_EQ(readyWhileShown, (std::vector<bool>{false, false}));  // the chooser and the warning
  EXPECT_EQ(table(), (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(state.tableReady);
  EXPECT_EQ(path, dir / "in.wav");

  load(wav(1, 8, {128}));
  EXPECT_EQ(desk.choosersFrom, (std::vector<std::string>{"", dir / "in.wav"}));
  EXPECT_EQ(table(), std::vector<int>{0});
}

TEST_F(Import, CancelledOrUnreadableFilesLeaveTheTableAsItWas) {
  load(wav(1, 16, pcm16({4, 5})));
  const uint8_t* loaded = state.table;
  writeFile(dir / "empty.wav", {});
  desk.messages.clear();
  for (std::optional<std::string> answer :
       {std::optional<std::string>(), std::optional(dir / "missing.wav"),
        std::optional(dir / "empty.wav"), std::optional(dir.path())}) {
    SCOPED_TRACE(answer.value_or("cancelled"));
    desk.answer = answer;
    importWav(state, files, path);
    EXPECT_EQ(state.table.load(), loaded);
    EXPECT_EQ(state.tableLength, 2u);
    EXPECT_TRUE(state.tableReady);
  }
  importBytes(state, files, {});  // no bytes at all: as an empty file
  EXPECT_EQ(state.table.load(), loaded);
  EXPECT_TRUE(desk.messages.empty());
}

// Stands in for the allocator: the allocation numbered `failing` from now (0 the next) fails.
int failing = -1;
void* failOnce(size_t bytes) {
  return failing-- == 0 ? nullptr : std::malloc(bytes);
}

TEST_F(Import, MemoryRunningOutIsSaidAndTheDefaultComesBack) {
  const Message outOfMemory{
      "ファイルが大きすぎてメモリに入りません。\r\n内蔵の440Hzの矩形波に戻します。", "メモリ不足"};
  // An 8-bit stereo file takes three storages in turn: the image, the widened, the mixed down.
  const Bytes stereo8 = wav(2, 8, {0, 255, 128, 129});
  storageAllocator = failOnce;
  for (bool chosen : {true, false}) {
    for (int storage : {0, 1, 2}) {
      SCOPED_TRACE(::testing::Message()
                   << (chosen ? "chosen file" : "bytes") << ", storage " << storage);
      state.tableLength = 1;
      desk.messages.clear();
      failing = storage;
      chosen ? load(stereo8) : loadBytes(stereo8);
      EXPECT_EQ(desk.messages, std::vector<Message>{outOfMemory});
      EXPECT_EQ(state.table.load(), reinterpret_cast<const uint8_t*>(state.defaultTable.get()));
      EXPECT_EQ(state.tableLength, kDefaultTableLength);
      EXPECT_TRUE(state.tableReady);
      EXPECT_TRUE(state.voices[0].phaseReset);
    }
  }
  failing = -1;
  loadBytes(stereo8);  // with memory to be had, the same file loads
  storageAllocator = [](size_t bytes) { return std::malloc(bytes); };
  EXPECT_TRUE(desk.messages.empty());
  EXPECT_EQ(table(), (std::vector<int>{-128, 128}));
}

TEST_F(Import, ACommandArrivingDuringALoadIsIgnored) {
  writeFile(dir / "other.wav", wav(1, 8, {0}));
  int nested = 0;
  desk.meanwhile = [&] {
    if (desk.messages.empty()) return;  // in the chooser
    ++nested;
    desk.answer = dir / "other.wav";
    importWav(state, files, path);
    exportTake(state, files, path);
  };
  load(wav(1, 16, pcm16({1}), 8000));  // the rate warning is the box the nested commands meet
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(desk.choosersFrom.size(), 1u);
  EXPECT_EQ(table(), std::vector<int>{1});

  desk.meanwhile = nullptr;  // once the load is over, the next one runs
  importWav(state, files, path);
  EXPECT_EQ(table(), std::vector<int>{-32768});
}

}  // namespace
}  // namespace tonvarel
