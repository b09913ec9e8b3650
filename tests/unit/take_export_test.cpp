// Saving the take: the 44-byte header, the bytes after it, directories made on the way, and what
// the user is told when it works and when it does not.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/take.h"
#include "engine/tone_table.h"
#include "tests/unit/wav_test_util.h"
#include "wavfile/take_export.h"
#include "wavfile/wav_import.h"

namespace tonvarel {
namespace {

using testing::Bytes;
using testing::Desk;
using testing::Message;
using testing::readFile;

const Message kSaved{"処理終了", "処理終了"};
const Message kDeath{"death", std::nullopt};

class Export : public ::testing::Test {
 protected:
  void SetUp() override {
    allocateTake(state);
    desk.attach(files);
  }
  void TearDown() override { releaseTake(state); }

  // A take as the recorder leaves it: `bytes` of samples from the start of the buffer.
  Bytes record(uint32_t bytes) {
    for (uint32_t i = 0; i < bytes; ++i) state.takeBuffer[i] = static_cast<uint8_t>(i * 7 + 3);
    state.takeLength = bytes;
    return Bytes(state.takeBuffer, state.takeBuffer + bytes);
  }
  void save(const std::string& to) {
    desk.answer = to;
    exportTake(state, files, path);
  }

  EngineState state;
  FileAccess files;
  Desk desk;
  testing::ScratchDir dir;
  char path[kPathChars] = {};
};

TEST_F(Export, OneBlockTakeMakesA3044ByteFile) {
  const Bytes take = record(3000);
  save(dir / "take.wav");
  const auto file = readFile(dir / "take.wav");
  ASSERT_TRUE(file);
  ASSERT_EQ(file->size(), 3044u);
  const Bytes header = {'R',  'I',  'F', 'F', 0xDC, 0x0B, 0,    0,    // 3,036
                        'W',  'A',  'V', 'E', 'f',  'm',  't',  ' ',  //
                        16,   0,    0,   0,   1,    0,    1,    0,    // PCM, mono
                        0x44, 0xAC, 0,   0,   0x88, 0x58, 0x01, 0,    // 44,100 Hz, 88,200 bytes/s
                        2,    0,    16,  0,   'd',  'a',  't',  'a',  // 2-byte frames of 16 bits
                        0xB8, 0x0B, 0,   0};                          // 3,000
  EXPECT_EQ(Bytes(file->begin(), file->begin() + 44), header);
  EXPECT_EQ(Bytes(file->begin() + 44, file->end()), take);
  EXPECT_EQ(desk.messages, std::vector<Message>{kSaved});
  EXPECT_TRUE(desk.chooserWasSave.at(0));

  // A saved take is a file the importer takes: 1,500 samples as they were recorded.
  desk.answer = dir / "take.wav";
  importWav(state, files, path);
  EXPECT_EQ(state.tableLength, 1500u);
  EXPECT_EQ(testing::sampleAt(state.table, 1), static_cast<int16_t>(take[2] | take[3] << 8));
  releaseTables(state);
}

TEST_F(Export, SavingAgainGivesTheSameFileAndReplacesWithoutAsking) {
  record(1000);
  save(dir / "a.wav");
  save(dir / "b.wav");
  EXPECT_EQ(readFile(dir / "a.wav"), readFile(dir / "b.wav"));

  testing::writeFile(dir / "longer.wav", Bytes(5000, 0xEE));
  save(dir / "longer.wav");
  EXPECT_EQ(readFile(dir / "longer.wav"), readFile(dir / "a.wav"));
  EXPECT_EQ(desk.messages, std::vector<Message>(3, kSaved));
  // The take is still there to be saved once more.
  EXPECT_EQ(takeBytes(state).length, 1000u);
}

TEST_F(Export, NothingRecordedOrCancelledWritesAndSaysNothing) {
  save(dir / "empty.wav");
  EXPECT_EQ(desk.chooserStartedWith.size(), 1u);  // the chooser is still shown
  EXPECT_FALSE(std::filesystem::exists(dir / "empty.wav"));

  record(10);
  desk.answer.reset();
  exportTake(state, files, path);
  EXPECT_FALSE(std::filesystem::exists(dir / "empty.wav"));
  EXPECT_TRUE(desk.messages.empty());
}

TEST_F(Export, MakesMissingDirectories) {
  const Bytes take = record(20);
  save(dir / "one/two/three.wav");
  EXPECT_EQ(desk.messages, std::vector<Message>{kSaved});
  const auto file = readFile(dir / "one/two/three.wav");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->size(), 64u);
}

TEST_F(Export, AFileThatCannotBeMadeOrWrittenIsReportedAsDeath) {
  record(100);
  std::filesystem::create_directory(dir / "taken");
  testing::writeFile(dir / "plain", {1});
  struct Case {
    const char* name;
    std::string path;
  };
  const Case cases[] = {
      {"a directory in the way", dir / "taken"},
      {"a file in place of a directory", dir / "plain/take.wav"},
      {"no separator to climb", ""},
      {"a device that takes no bytes", "/dev/full"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    desk.messages.clear();
    save(c.path);
    EXPECT_EQ(desk.messages, std::vector<Message>{kDeath});
  }
  EXPECT_EQ(takeBytes(state).length, 100u);
}

TEST_F(Export, ACommandArrivingDuringASaveIsIgnored) {
  record(4);
  int nested = 0;
  desk.duringMessage = [&] {
    ++nested;
    desk.answer = dir / "other.wav";
    exportTake(state, files, path);
    importWav(state, files, path);
  };
  save(dir / "take.wav");
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(desk.chooserStartedWith.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir / "other.wav"));
}

}  // namespace
}  // namespace tonvarel
