// Saving the take: the 44-byte header, the bytes after it, and what the user is told when it
// works and when it does not.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/take.h"
#include "tests/unit/wav_test_util.h"
#include "wavfile/take_export.h"
#include "wavfile/wav_import.h"

namespace tonvarel {
namespace {

using namespace testing;  // the WAV test helpers

const Message kSaved{"処理終了", "処理終了"};
const Message kDeath{"death", std::nullopt};

class Export : public ::testing::Test {
 protected:
  void SetUp() override {
    allocateTake(state);
    desk.attach(files);
  }

  // A take as the recorder leaves it: `bytes` bytes of samples from the start of the buffer.
  Bytes record(uint32_t bytes) {
    uint8_t* take = state.takeBuffer.get();
    for (uint32_t i = 0; i < bytes; ++i) take[i] = static_cast<uint8_t>(i * 7 + 3);
    state.takeLength = bytes;
    return Bytes(take, take + bytes);
  }
  void save(std::optional<std::string> to) {
    desk.answer = to;
    exportTake(state, files, path);
  }

  EngineState state;
  FileAccess files;
  Desk desk;
  ScratchDir dir;
  char path[kPathChars] = {};
};

TEST_F(Export, OneBlockTakeMakesA3044ByteFileThatSavesTheSameAgain) {
  const Bytes take = record(3000);
  save(dir / "take.wav");
  const Bytes header = {'R',  'I',  'F', 'F', 0xDC, 0x0B, 0,    0,    // 3,036
                        'W',  'A',  'V', 'E', 'f',  'm',  't',  ' ',  //
                        16,   0,    0,   0,   1,    0,    1,    0,    // PCM, mono
                        0x44, 0xAC, 0,   0,   0x88, 0x58, 0x01, 0,    // 44,100 Hz, 88,200 bytes/s
                        2,    0,    16,  0,   'd',  'a',  't',  'a',  // 2-byte frames of 16 bits
                        0xB8, 0x0B, 0,   0};                          // 3,000
  Bytes expected = header;
  for (uint8_t b : take) expected.push_back(b);
  EXPECT_EQ(readFile(dir / "take.wav"), expected);

  // Again, onto a longer file that is replaced without a question.
  writeFile(dir / "again.wav", Bytes(5000, 0xEE));
  save(dir / "again.wav");
  EXPECT_EQ(readFile(dir / "again.wav"), expected);
  EXPECT_EQ(desk.messages, std::vector<Message>(2, kSaved));
}

TEST_F(Export, NothingRecordedOrCancelledWritesAndSaysNothing) {
  save(dir / "empty.wav");
  EXPECT_EQ(desk.choosersFrom.size(), 1u);  // the chooser is still shown
  record(10);
  save(std::nullopt);
  EXPECT_FALSE(std::filesystem::exists(dir / "empty.wav"));
  EXPECT_TRUE(desk.messages.empty());
}

TEST_F(Export, MakesMissingDirectoriesOrReportsDeathKeepingTheTake) {
  record(100);
  save(dir / "one/two/three.wav");
  EXPECT_EQ(readFile(dir / "one/two/three.wav").value_or(Bytes()).size(), 144u);
  EXPECT_EQ(desk.messages, std::vector<Message>{kSaved});

  writeFile(dir / "plain", {1});
  for (std::string to :
       {dir.path(), dir / "plain/take.wav", std::string(), std::string("/dev/full")}) {
    SCOPED_TRACE(to);  // a directory, a file in the way, nothing to climb, a device that is full
    desk.messages.clear();
    save(to);
    EXPECT_EQ(desk.messages, std::vector<Message>{kDeath});
  }
  EXPECT_EQ(takeBytes(state).length, 100u);
}

TEST_F(Export, ACommandArrivingDuringASaveIsIgnored) {
  record(4);
  desk.meanwhile = [&] {
    desk.answer = dir / "other.wav";
    exportTake(state, files, path);
    importWav(state, files, path);
  };
  save(dir / "take.wav");
  EXPECT_EQ(desk.choosersFrom.size(), 1u);
  EXPECT_EQ(desk.messages, std::vector<Message>{kSaved});
  EXPECT_FALSE(std::filesystem::exists(dir / "other.wav"));
}

}  // namespace
}  // namespace tonvarel
