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

using testing::Bytes;
using testing::chunk;
using testing::Desk;
using testing::formatFields;
using testing::Message;
using testing::riff;
using testing::sampleAt;
using testing::samples16;
using testing::wav;

const Bytes kFormat = formatFields(1, 44100, 16);
const Bytes kFmtThenData = riff({chunk("fmt ", kFormat), chunk("data", {1, 2, 3, 4})});

Bytes withByte(Bytes b, size_t at, uint8_t value) {
  b[at] = value;
  return b;
}

TEST(ChunkWalk, FindsChunksAndStopsWhereTheBudgetOrTheImageEnds) {
  struct Case {
    const char* name;
    Bytes image;
    uint32_t id;
    ChunkSearch result;
    uint32_t offset = 0;
    uint32_t size = 0;
  };
  const uint32_t fmt = chunkId("fmt ");
  const uint32_t data = chunkId("data");
  const Bytes fmtOnly = riff({chunk("fmt ", kFormat)});
  const Bytes fmtAndTwo = riff({chunk("fmt ", kFormat), chunk("data", {1, 2})});
  const Case cases[] = {
      {"empty image", {}, fmt, ChunkSearch::kNotRiff},
      {"three bytes", {'R', 'I', 'F'}, fmt, ChunkSearch::kNotRiff},
      {"RIFX", withByte(fmtOnly, 3, 'X'), fmt, ChunkSearch::kNotRiff},
      {"RIFF and size only", {'R', 'I', 'F', 'F', 4, 0, 0, 0}, fmt, ChunkSearch::kNotWave},
      {"form type cut short",
       {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V'},
       fmt,
       ChunkSearch::kNotWave},
      {"AVI form", riff({chunk("fmt ", kFormat)}, {}, "AVI "), fmt, ChunkSearch::kNotWave},
      {"first chunk", kFmtThenData, fmt, ChunkSearch::kFound, 20, 16},
      {"second chunk", kFmtThenData, data, ChunkSearch::kFound, 44, 4},
      {"absent", kFmtThenData, chunkId("LIST"), ChunkSearch::kNotFound},
      // The RIFF size is a budget that wraps: below 8, or 0xFFFFFFFF, it is spent at once.
      {"RIFF size 7", riff({chunk("fmt ", kFormat)}, 7), fmt, ChunkSearch::kNotFound},
      {"RIFF size 0xFFFFFFFF", riff({chunk("fmt ", kFormat)}, 0xFFFFFFFF), fmt,
       ChunkSearch::kNotFound},
      {"RIFF size 0xFFFFFFFE", riff({chunk("fmt ", kFormat)}, 0xFFFFFFFE), fmt, ChunkSearch::kFound,
       20, 16},
      {"RIFF size 8, first header", riff({chunk("fmt ", kFormat)}, 8), fmt, ChunkSearch::kFound, 20,
       16},
      {"RIFF size 8, second header", riff({chunk("fmt ", kFormat), chunk("data", {1, 2})}, 8), data,
       ChunkSearch::kNotFound},
      {"RIFF size ends with the first chunk",
       riff({chunk("fmt ", kFormat), chunk("data", {1, 2})}, 4 + 24), data, ChunkSearch::kNotFound},
      {"RIFF size reaches the next header",
       riff({chunk("fmt ", kFormat), chunk("data", {1, 2})}, 4 + 24 + 8), data, ChunkSearch::kFound,
       44, 2},
      {"RIFF size larger than the image", riff({chunk("fmt ", kFormat)}, 100000), fmt,
       ChunkSearch::kFound, 20, 16},
      // No pad byte is skipped: the header after an odd chunk starts right after its data.
      {"odd chunk, no pad byte", riff({chunk("LIST", {7, 7, 7}), chunk("fmt ", kFormat)}), fmt,
       ChunkSearch::kFound, 31, 16},
      {"odd chunk, pad byte", riff({chunk("LIST", 3, {7, 7, 7, 0}), chunk("fmt ", kFormat)}), fmt,
       ChunkSearch::kNotFound},
      {"size beyond the image is clamped", riff({chunk("data", 1000, {1, 2, 3})}), data,
       ChunkSearch::kFound, 20, 3},
      {"size jumping past the image", riff({chunk("LIST", 1000, {1}), chunk("fmt ", kFormat)}), fmt,
       ChunkSearch::kNotFound},
      {"size 0xFFFFFFFF jumping past the image",
       riff({chunk("LIST", 0xFFFFFFFF, {1}), chunk("fmt ", kFormat)}), fmt, ChunkSearch::kNotFound},
      {"header cut short", riff({Bytes{'f', 'm', 't', ' ', 16, 0, 0}}), fmt,
       ChunkSearch::kNotFound},
      {"header at the very end", riff({chunk("data", 0x7FFFFFFF, {})}), data, ChunkSearch::kFound,
       20, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ChunkLocation found =
        locateChunk(c.image.data(), static_cast<uint32_t>(c.image.size()), c.id);
    EXPECT_EQ(found.result, c.result);
    if (c.result == ChunkSearch::kFound) {
      EXPECT_EQ(found.offset, c.offset);
      EXPECT_EQ(found.size, c.size);
    }
  }
}

TEST(WaveFormat, ReadsTheFieldsFromTheImageNotTheDeclaredSize) {
  Bytes image = riff({chunk("fmt ", 2, formatFields(2, 22050, 8, 0xFFFE))});
  auto format = readWaveFormat(image.data(), static_cast<uint32_t>(image.size()), 20);
  ASSERT_TRUE(format);
  EXPECT_EQ(format->formatTag, 0xFFFE);
  EXPECT_EQ(format->channels, 2);
  EXPECT_EQ(format->sampleRate, 22050u);
  EXPECT_EQ(format->bitsPerSample, 8);
  EXPECT_EQ(format->extraSize, 0);  // the image ends after 16 bytes

  image.pop_back();  // 15 bytes left of the fields
  EXPECT_FALSE(readWaveFormat(image.data(), static_cast<uint32_t>(image.size()), 20));
  EXPECT_FALSE(readWaveFormat(image.data(), static_cast<uint32_t>(image.size()), 1000));
}

TEST(SampleConversion, WideningMatchesTheDefinitionForEveryByte) {
  Bytes source(256 + 1);
  for (int d = 0; d < 256; ++d) source[d + 1] = static_cast<uint8_t>(d);
  std::vector<int16_t> target(256);
  widen8(source.data() + 1, target.data(), 256);
  for (int d = 0; d < 256; ++d) {
    SCOPED_TRACE(d);
    EXPECT_EQ(target[d], (d - 128) * 256);
  }
  EXPECT_EQ(target[0], -32768);
  EXPECT_EQ(target[128], 0);
  EXPECT_EQ(target[255], 32512);
}

TEST(SampleConversion, MixdownTruncatesTowardZeroAtAnyAlignmentAndLength) {
  const std::vector<std::pair<int, int>> edges = {
      {-3, 0},          {3, 0},         {-1, -2},        {1, -2},
      {-32768, -32768}, {32767, 32767}, {-32768, 32767}, {0, 0}};
  std::mt19937 random(20240607);
  std::uniform_int_distribution<int> any(-32768, 32767);
  for (size_t misalign = 0; misalign < 4; ++misalign) {
    for (size_t pairs : {size_t{1}, size_t{7}, size_t{33}, size_t{1000}}) {
      SCOPED_TRACE(::testing::Message() << "misalign " << misalign << ", pairs " << pairs);
      std::vector<std::pair<int, int>> input;
      for (size_t i = 0; i < pairs; ++i) {
        input.push_back(i < edges.size() ? edges[i] : std::pair{any(random), any(random)});
      }
      Bytes source(misalign);
      for (auto [l, r] : input) {
        testing::putU16(source, static_cast<uint16_t>(l));
        testing::putU16(source, static_cast<uint16_t>(r));
      }
      std::vector<int16_t> target(pairs + 1, 0x5A5A);
      mixStereo16(source.data() + misalign, target.data(), pairs);
      for (size_t i = 0; i < pairs; ++i) {
        const int sum = input[i].first + input[i].second;
        const int mean = sum < 0 ? -(-sum / 2) : sum / 2;
        ASSERT_EQ(target[i], mean) << "pair " << i;
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
    // The streaming thread serves a phase reset as soon as it sees one; clearing it whenever a
    // box is shown shows which requests come after the box.
    desk.duringMessage = [this] { state.phaseReset = false; };
  }
  void TearDown() override { releaseTables(state); }

  void load(const Bytes& file) {
    testing::writeFile(dir / "in.wav", file);
    desk.answer = dir / "in.wav";
    importWav(state, files, path);
  }
  // The importer's work after the read, on an image already in memory.
  void importBytes(const Bytes& image) {
    withdrawTable(state);
    std::free(state.fileImage);
    state.fileImage = static_cast<uint8_t*>(std::malloc(image.size() + 1));
    std::copy(image.begin(), image.end(), state.fileImage);
    state.phaseReset = false;
    importImage(state, files, static_cast<uint32_t>(image.size()));
  }
  std::vector<int> table() const {
    std::vector<int> samples;
    for (uint32_t i = 0; i < state.tableLength; ++i) samples.push_back(sampleAt(state.table, i));
    return samples;
  }
  bool defaultActive() const {
    return state.table == reinterpret_cast<const uint8_t*>(state.defaultTable) &&
           state.tableLength == kDefaultTableLength;
  }

  EngineState state;
  FileAccess files;
  Desk desk;
  testing::ScratchDir dir;
  char path[kPathChars] = {};
};

TEST_F(Import, RefusedFilesBringTheDefaultBackWithTheirMessage) {
  const std::string chunkMissing = "目的のRIFFチャンクが無い";
  const std::string cannotConvert = "現Verでは変換できない形式です";
  const std::string notMonoOrStereo = "モノでもステレオでも無い\r\n" + cannotConvert;
  Bytes fmtCutShort = riff({chunk("fmt ", 16, Bytes(kFormat.begin(), kFormat.begin() + 15))});
  struct Case {
    const char* name;
    Bytes image;
    std::vector<Message> messages;
    bool phaseReset;  // after the last box
  };
  const Case cases[] = {
      // Not a WAVE file at all: the request made once the file was read stands, none after it.
      {"empty", {}, {{"not RIFF", "0"}}, false},
      {"not RIFF", withByte(wav(1, 16, {0, 0}), 0, 'r'), {{"not RIFF", "0"}}, false},
      {"not WAVE", riff({chunk("fmt ", kFormat)}, {}, "WAVX"), {{"not WAVE", "0"}}, false},
      {"no fmt chunk", riff({chunk("data", {0, 0})}), {{chunkMissing, "0"}}, false},
      {"RIFF size 7", riff({chunk("fmt ", kFormat)}, 7), {{chunkMissing, "0"}}, false},
      // Everything later resets the phase after telling why.
      {"three channels", wav(3, 16, {0, 0, 0, 0, 0, 0}), {{notMonoOrStereo, "0"}}, true},
      {"no channels", wav(0, 16, {0, 0}), {{notMonoOrStereo, "0"}}, true},
      {"three channels of 24 bits", wav(3, 24, {0, 0, 0}), {{notMonoOrStereo, "0"}}, true},
      {"24 bits", wav(1, 24, {0, 0, 0}), {{cannotConvert, "0"}}, true},
      {"0 bits", wav(1, 0, {}), {{cannotConvert, "0"}}, true},
      {"fmt cut short by the image", fmtCutShort, {{cannotConvert, "0"}}, true},
      {"no data chunk", riff({chunk("fmt ", kFormat)}), {{chunkMissing, "0"}}, true},
      {"odd chunk before fmt",
       riff({chunk("LIST", 3, {7, 7, 7, 0}), chunk("fmt ", kFormat)}),
       {{chunkMissing, "0"}},
       false},
      {"odd rate and no data",
       riff({chunk("fmt ", formatFields(1, 8000, 8))}),
       {{"レートが8000Hzです。\r\n44100Hzじゃないです。", "注意"}, {chunkMissing, "0"}},
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    desk.messages.clear();
    state.table = nullptr;
    state.tableLength = 1;
    importBytes(c.image);
    EXPECT_EQ(desk.messages, c.messages);
    EXPECT_TRUE(defaultActive());
    EXPECT_TRUE(state.tableReady);
    EXPECT_EQ(state.phaseReset, c.phaseReset);
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
      {"16-bit stereo",
       wav(2, 16, samples16({-3, 0, 3, 0, -1, -2, -32768, -32768, 32767, 32767})),
       {-1, 1, -1, -32768, 32767}},
      {"16-bit stereo, unpaired sample dropped", wav(2, 16, samples16({100, 200, 300})), {150}},
      {"16-bit stereo at an odd offset",
       riff({chunk("fmt ", formatFields(2, 44100, 16)), chunk("LIST", {0}),
             chunk("data", samples16({-3, 0, 3, 0}))}),
       {-1, 1}},
      {"format tag other than PCM",
       riff({chunk("fmt ", formatFields(1, 44100, 16, 3)), chunk("data", samples16({7, -7}))}),
       {7, -7}},
      {"extensible format chunk",
       riff({chunk("fmt ", formatFields(1, 44100, 8, 0xFFFE)), chunk("data", {0x90})}),
       {0x1000}},
      {"data size larger than the file",
       riff({chunk("fmt ", kFormat), chunk("data", 1000, samples16({5, 6, 7}))}),
       {5, 6, 7}},
      {"data before fmt", riff({chunk("data", samples16({42})), chunk("fmt ", kFormat)}), {42}},
      // Data that yields no whole sample leaves an empty table: the voice plays silence.
      {"empty data", wav(1, 16, {}), {}},
      {"16-bit mono, one byte", wav(1, 16, {1}), {}},
      {"16-bit stereo, three bytes", wav(2, 16, {1, 2, 3}), {}},
      {"8-bit stereo, one byte", wav(2, 8, {1}), {}},
      {"8-bit mono, no bytes", wav(1, 8, {}), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    desk.messages.clear();
    importBytes(c.image);
    EXPECT_TRUE(desk.messages.empty());
    EXPECT_EQ(table(), c.table);
    EXPECT_TRUE(state.tableReady);
    EXPECT_TRUE(state.phaseReset);
    EXPECT_NE(state.table.load(), nullptr);

    // The voice reads whatever was published, or stays silent on an empty table.
    std::vector<uint8_t> block(kBlockBytes);
    state.gate = true;
    renderBlock(state, block.data(), kBlockBytes);
    if (c.table.empty()) {
      EXPECT_EQ(block, std::vector<uint8_t>(kBlockBytes, 0));
    }
  }
}

TEST_F(Import, SixteenBitMonoIsPlayedWhereItLiesInTheImage) {
  const Bytes image =
      riff({chunk("fmt ", kFormat), chunk("LIST", {0}), chunk("data", samples16({-2, 300, 4}))});
  importBytes(image);
  EXPECT_EQ(state.table.load(), state.fileImage + 53);  // odd: right after the odd LIST chunk
  EXPECT_EQ(state.tableLength, 3u);
  EXPECT_EQ(table(), (std::vector<int>{-2, 300, 4}));
}

TEST_F(Import, StereoGoesThroughTheWidenedTableIntoTheMixdown) {
  importBytes(wav(2, 8, {0, 255, 128, 129}));
  EXPECT_EQ(state.table.load(), reinterpret_cast<const uint8_t*>(state.mixdownTable));
  EXPECT_EQ(state.widenedTable[0], -32768);
  EXPECT_EQ(state.widenedTable[3], 256);
  importBytes(wav(1, 8, {0}));
  EXPECT_EQ(state.table.load(), reinterpret_cast<const uint8_t*>(state.widenedTable));
}

TEST_F(Import, OtherRatesAreNamedAndThenPlayed) {
  struct Case {
    uint32_t rate;
    const char* warning;
  };
  const Case cases[] = {
      {22050, "レートが22050Hzです。\r\n44100Hzじゃないです。"},
      {0, "レートが0Hzです。\r\n44100Hzじゃないです。"},
      {0x80000000u, "レートが-2147483648Hzです。\r\n44100Hzじゃないです。"},
      {0xFFFFFFFFu, "レートが-1Hzです。\r\n44100Hzじゃないです。"},
      {44101, "レートが44101Hzです。\r\n44100Hzじゃないです。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    desk.messages.clear();
    importBytes(wav(1, 16, samples16({9}), c.rate));
    EXPECT_EQ(desk.messages, (std::vector<Message>{{c.warning, "注意"}}));
    EXPECT_EQ(table(), std::vector<int>{9});
    EXPECT_TRUE(state.phaseReset);
  }
}

TEST_F(Import, LoadsAChosenFileAndKeepsTheTableWithdrawnMeanwhile) {
  std::vector<bool> readyWhileShown;
  desk.duringChooser = [&] { readyWhileShown.push_back(state.tableReady); };
  desk.duringMessage = [&] { readyWhileShown.push_back(state.tableReady); };
  load(wav(1, 16, samples16({1, 2, 3}), 48000));
  EXPECT_EQ(readyWhileShown, (std::vector<bool>{false, false}));
  EXPECT_EQ(table(), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(std::string(path), dir / "in.wav");
  EXPECT_TRUE(state.tableReady);

  // The chooser opens with the path chosen before.
  load(wav(1, 8, {128}));
  ASSERT_EQ(desk.chooserStartedWith.size(), 2u);
  EXPECT_EQ(desk.chooserStartedWith[1], dir / "in.wav");
  EXPECT_FALSE(desk.chooserWasSave[1]);
  EXPECT_EQ(table(), std::vector<int>{0});
}

TEST_F(Import, CancelledOrUnreadableFilesLeaveTheTableAsItWas) {
  load(wav(1, 16, samples16({4, 5})));
  const uint8_t* loaded = state.table;
  struct Case {
    const char* name;
    std::optional<std::string> answer;
  };
  testing::writeFile(dir / "empty.wav", {});
  const Case cases[] = {
      {"cancelled", std::nullopt},
      {"missing", dir / "missing.wav"},
      {"empty", dir / "empty.wav"},
      {"a directory", dir.path()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    desk.answer = c.answer;
    importWav(state, files, path);
    EXPECT_EQ(state.table.load(), loaded);
    EXPECT_EQ(state.tableLength, 2u);
    EXPECT_TRUE(state.tableReady);
    EXPECT_TRUE(desk.messages.empty());
  }
}

TEST_F(Import, ACommandArrivingDuringALoadIsIgnored) {
  int nested = 0;
  desk.duringMessage = [&] {
    ++nested;
    desk.answer = dir / "other.wav";
    importWav(state, files, path);
    exportTake(state, files, path);
  };
  testing::writeFile(dir / "other.wav", wav(1, 8, {0}));
  load(wav(1, 16, samples16({1}), 8000));  // the rate warning is the box the nested ones meet
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(desk.chooserStartedWith.size(), 1u);
  EXPECT_EQ(table(), std::vector<int>{1});

  // Once the load is over, the next one runs.
  desk.duringMessage = nullptr;
  importWav(state, files, path);
  EXPECT_EQ(table(), std::vector<int>{-32768});
}

}  // namespace
}  // namespace tonvarel
