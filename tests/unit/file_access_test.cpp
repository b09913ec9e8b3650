// The POSIX file access: whole-buffer transfers, slots, directories made along the path, the
// chooser's memory of the last path and the message line of the headless renderer.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/unit/wav_test_util.h"
#include "wavfile/file_access.h"

namespace tonvarel {
namespace {

using namespace testing;  // the WAV test helpers

class Files : public ::testing::Test {
 protected:
  void SetUp() override { desk.attach(files); }
  FileAccess files;
  Desk desk;
  ScratchDir dir;
};

TEST_F(Files, TransfersWholeBuffersThroughSlots) {
  const Bytes bytes = {1, 2, 3, 4, 5};
  ASSERT_TRUE(files.createForWrite((dir / "f").c_str(), 3));
  EXPECT_FALSE(files.write(bytes.data(), 0, 3));  // nothing moved is a failure
  EXPECT_TRUE(files.write(bytes.data(), 5, 3));
  EXPECT_EQ(files.lastTransferred(), 5u);
  files.close(3);

  ASSERT_TRUE(files.openForRead((dir / "f").c_str(), 3));
  EXPECT_EQ(files.size(3), 5u);
  Bytes back(8, 0);
  EXPECT_TRUE(files.read(back.data(), 8, 3));  // stops at the end of the file
  EXPECT_EQ(files.lastTransferred(), 5u);
  EXPECT_FALSE(files.read(back.data(), 8, 3));
  files.close(3);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 5), bytes);

  EXPECT_FALSE(files.openForRead((dir / "missing").c_str(), 0));
  EXPECT_FALSE(files.openForRead(dir.path().c_str(), 0));  // a directory is no file
  for (int slot : {0, -1, kFileSlots}) {                   // empty or no slot at all
    SCOPED_TRACE(slot);
    EXPECT_FALSE(files.read(back.data(), 4, slot));
    EXPECT_FALSE(files.write(back.data(), 4, slot));
    EXPECT_EQ(files.size(slot), 0u);
    files.close(slot);
  }
  EXPECT_FALSE(files.createForWrite((dir / "g").c_str(), kFileSlots));
}

TEST_F(Files, MakesMissingDirectoriesAndGivesUpWhenNothingNewCanBeMade) {
  writeFile(dir / "plain", {1});
  const std::pair<std::string, bool> cases[] = {
      {dir / "a.wav", true},        {dir / "x/y/a.wav", true}, {dir / "p/q/r/s/a.wav", true},
      {dir / "plain/a.wav", false}, {dir / "x", false},        {"", false},
  };
  for (const auto& [path, made] : cases) {
    SCOPED_TRACE(path);
    desk.messages.clear();
    EXPECT_EQ(files.createForWriteMakingDirs(path.c_str(), 0), made);
    files.close(0);
    EXPECT_EQ(std::filesystem::is_regular_file(path), made);
    const std::vector<Message> death = {{"death", std::nullopt}};
    EXPECT_EQ(desk.messages, made ? std::vector<Message>() : death);
  }
}

TEST_F(Files, ChooserStartsFromTheLastChosenPathAndKeepsItsTerminator) {
  char path[kPathChars] = "untouched";
  EXPECT_FALSE(files.chooseOpen(path));
  EXPECT_STREQ(path, "untouched");
  desk.answer = "first.wav";
  EXPECT_TRUE(files.chooseSave(path));
  EXPECT_STREQ(path, "first.wav");
  desk.answer = std::string(400, 'a');  // more than the chooser's buffer holds
  EXPECT_TRUE(files.chooseOpen(path));
  EXPECT_EQ(path, std::string(kPathChars - 1, 'a'));
  EXPECT_EQ(desk.choosersFrom, (std::vector<std::string>{"", "", "first.wav"}));

  FileAccess unhooked;  // no person to ask: cancelled
  EXPECT_FALSE(unhooked.chooseOpen(path));
}

TEST(MessageLine, WritesCaptionAndTextOnOneLine) {
  const char* cases[][3] = {
      {"death", nullptr, "Error: death\n"},
      {"レートが8000Hzです。\r\n44100Hzじゃないです。", "注意",
       "注意: レートが8000Hzです。 44100Hzじゃないです。\n"},
  };
  FileAccess files;
  for (const auto& [text, caption, line] : cases) {
    ::testing::internal::CaptureStderr();
    files.showMessage(text, caption);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), line);
  }
}

}  // namespace
}  // namespace tonvarel
