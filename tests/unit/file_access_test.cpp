// The POSIX file access: whole-buffer transfers, slots, directory making one level per attempt,
// the chooser's memory of the last path and the message line of the headless renderer.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/unit/wav_test_util.h"
#include "wavfile/file_access.h"

namespace tonvarel {
namespace {

using testing::Bytes;
using testing::Desk;
using testing::Message;

class Files : public ::testing::Test {
 protected:
  void SetUp() override { desk.attach(files); }
  FileAccess files;
  Desk desk;
  testing::ScratchDir dir;
};

TEST_F(Files, TransfersWholeBuffersAndCountsThem) {
  const Bytes bytes = {1, 2, 3, 4, 5};
  ASSERT_TRUE(files.createForWrite((dir / "f").c_str(), 3));
  EXPECT_TRUE(files.write(bytes.data(), 5, 3));
  EXPECT_EQ(files.lastTransferred(), 5u);
  EXPECT_FALSE(files.write(bytes.data(), 0, 3));  // nothing moved is a failure
  EXPECT_EQ(files.lastTransferred(), 0u);
  files.close(3);

  ASSERT_TRUE(files.openForRead((dir / "f").c_str(), 3));
  EXPECT_EQ(files.size(3), 5u);
  Bytes back(8, 0);
  EXPECT_TRUE(files.read(back.data(), 8, 3));  // a short read at the end of the file
  EXPECT_EQ(files.lastTransferred(), 5u);
  EXPECT_FALSE(files.read(back.data(), 8, 3));  // at the end: nothing moved
  files.close(3);
  files.close(3);  // closing an empty slot does nothing
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 5), bytes);
}

TEST_F(Files, EmptyOrInvalidSlotsRefuseEverything) {
  Bytes buffer(4);
  testing::writeFile(dir / "f", {1});
  EXPECT_FALSE(files.openForRead((dir / "missing").c_str(), 0));
  EXPECT_FALSE(files.openForRead(dir.path().c_str(), 0));  // a directory is no file
  for (int slot : {0, -1, kFileSlots}) {
    SCOPED_TRACE(slot);
    EXPECT_FALSE(files.read(buffer.data(), 4, slot));
    EXPECT_FALSE(files.write(buffer.data(), 4, slot));
    EXPECT_EQ(files.size(slot), 0u);
    files.close(slot);
  }
  EXPECT_FALSE(files.openForRead((dir / "f").c_str(), kFileSlots));
  EXPECT_FALSE(files.createForWrite((dir / "g").c_str(), -1));
  EXPECT_FALSE(std::filesystem::exists(dir / "g"));
}

TEST_F(Files, MakesMissingDirectoriesAndGivesUpWhenNothingCanBeMade) {
  struct Case {
    const char* name;
    std::string path;
    bool made;
  };
  testing::writeFile(dir / "plain", {1});
  std::filesystem::create_directory(dir / "dir");
  const Case cases[] = {
      {"directory exists", dir / "dir/a.wav", true},
      {"two levels missing", dir / "x/y/a.wav", true},
      {"four levels missing", dir / "p/q/r/s/a.wav", true},
      {"a file in the way", dir / "plain/a.wav", false},
      {"the path is a directory", dir / "dir", false},
      {"empty path", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    desk.messages.clear();
    EXPECT_EQ(files.createForWriteMakingDirs(c.path.c_str(), 0), c.made);
    files.close(0);
    if (c.made) {
      EXPECT_TRUE(std::filesystem::is_regular_file(c.path));
      EXPECT_TRUE(desk.messages.empty());
    } else {
      EXPECT_EQ(desk.messages, (std::vector<Message>{{"death", std::nullopt}}));
    }
  }
}

TEST_F(Files, ChooserStartsFromTheLastChosenPathAndKeepsItsTerminator) {
  char path[kPathChars] = "untouched";
  desk.answer.reset();
  EXPECT_FALSE(files.chooseOpen(path));
  EXPECT_STREQ(path, "untouched");

  desk.answer = "first.wav";
  EXPECT_TRUE(files.chooseSave(path));
  EXPECT_STREQ(path, "first.wav");
  desk.answer = std::string(400, 'a');  // more than the chooser's buffer holds
  EXPECT_TRUE(files.chooseOpen(path));
  EXPECT_EQ(std::string(path), std::string(kPathChars - 1, 'a'));
  EXPECT_EQ(desk.chooserStartedWith, (std::vector<std::string>{"", "", "first.wav"}));
  EXPECT_EQ(desk.chooserWasSave, (std::vector<bool>{false, true, false}));

  FileAccess unhooked;  // no chooser to show without a person: cancelled
  EXPECT_FALSE(unhooked.chooseOpen(path));
}

TEST(MessageLine, WritesCaptionAndTextOnOneLine) {
  struct Case {
    const char* text;
    const char* caption;
    const char* line;
  };
  const Case cases[] = {
      {"death", nullptr, "Error: death\n"},
      {"処理終了", "処理終了", "処理終了: 処理終了\n"},
      {"レートが8000Hzです。\r\n44100Hzじゃないです。", "注意",
       "注意: レートが8000Hzです。 44100Hzじゃないです。\n"},
  };
  FileAccess files;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ::testing::internal::CaptureStderr();
    files.showMessage(c.text, c.caption);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line);
  }
}

TEST(FileCommand, OneAtATime) {
  FileAccess files;
  {
    FileCommand outer(files);
    EXPECT_TRUE(outer.running());
    FileCommand inner(files);
    EXPECT_FALSE(inner.running());
  }
  FileCommand next(files);
  EXPECT_TRUE(next.running());
}

}  // namespace
}  // namespace tonvarel
