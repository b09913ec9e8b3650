// The Win32 file access against Wine's real CreateFileA, CreateDirectoryA and friends: slots,
// transfers, replacing files, directories made along backslashes, "death", the chooser record,
// and a load and a save driven through the hooks. Message texts are compared as the code page
// 932 bytes that reach MessageBoxA.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "engine/take.h"
#include "engine/tone_table.h"
#include "wavfile/file_access.h"
#include "wavfile/take_export.h"
#include "wavfile/wav_import.h"

namespace tonvarel {
namespace {

using Bytes = std::vector<uint8_t>;

// 処理終了, とっととファイルを選べ。 and the rate warning for 22,050 Hz, in code page 932.
const std::string kSavedSjis = "\x8f\x88\x97\x9d\x8f\x49\x97\xb9";
const std::string kChooserTitleSjis =
    "\x82\xc6\x82\xc1\x82\xc6\x82\xc6\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xf0\x91\x49\x82\xd7"
    "\x81\x42";
const std::string kRateWarningSjis =
    "\x83\x8c\x81\x5b\x83\x67\x82\xaa"
    "22050Hz"
    "\x82\xc5\x82\xb7\x81\x42\r\n"
    "44100Hz"
    "\x82\xb6\x82\xe1\x82\xc8\x82\xa2\x82\xc5\x82\xb7\x81\x42";
const std::string kNotice = "\x92\x8d\x88\xd3";  // 注意

struct Message {
  std::string text;
  std::optional<std::string> caption;
  bool operator==(const Message&) const = default;
};

class Win32Files : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, temp), 0u);
    root_ = std::string(temp) + "tonvarel-" + std::to_string(GetCurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
    files.setMessageHook(
        [](void* self, const char* text, const char* caption) {
          static_cast<Win32Files*>(self)->messages.push_back(
              {text, caption ? std::optional<std::string>(caption) : std::nullopt});
        },
        this);
    files.setChooserHook(
        [](void* self, bool, char* path) {
          auto* test = static_cast<Win32Files*>(self);
          std::strncpy(path, test->answer.c_str(), kPathChars);
          return !test->answer.empty();
        },
        this);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  std::string at(const std::string& name) const { return root_ + "\\" + name; }
  static bool isDirectory(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  static Bytes contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool writeWith(const std::string& path, const Bytes& bytes) {
    if (!files.createForWrite(path.c_str(), 0)) return false;
    const bool ok = bytes.empty() || files.write(bytes.data(), uint32_t(bytes.size()), 0);
    files.close(0);
    return ok;
  }

  FileAccess files;
  std::vector<Message> messages;
  std::string answer;
  std::string root_;
};

TEST_F(Win32Files, ChooserRecordIsSetUpOnceForBothChoosers) {
  const OPENFILENAMEA& r = files.chooserRecord();
  EXPECT_EQ(r.lStructSize, sizeof(OPENFILENAMEA));
  EXPECT_EQ(r.hwndOwner, nullptr);
  EXPECT_EQ(r.hInstance, nullptr);
  ASSERT_NE(r.lpstrFilter, nullptr);
  EXPECT_EQ(std::string(r.lpstrFilter, 16), std::string("wav file\0*.wav\0\0", 16));
  EXPECT_EQ(r.lpstrCustomFilter, nullptr);
  EXPECT_EQ(r.nFilterIndex, 0u);
  EXPECT_NE(r.lpstrFile, nullptr);
  EXPECT_EQ(r.nMaxFile, 260u);
  EXPECT_NE(r.lpstrFileTitle, nullptr);
  EXPECT_NE(r.lpstrFileTitle, r.lpstrFile);
  EXPECT_EQ(r.nMaxFileTitle, 64u);
  EXPECT_EQ(r.lpstrInitialDir, nullptr);
  EXPECT_EQ(std::string(r.lpstrTitle), kChooserTitleSjis);
  EXPECT_EQ(r.Flags, DWORD{OFN_FILEMUSTEXIST});
  EXPECT_EQ(r.nFileOffset, 0);
  EXPECT_EQ(r.nFileExtension, 0);
  EXPECT_STREQ(r.lpstrDefExt, "wav");
  EXPECT_EQ(r.lCustData, 0);
  EXPECT_EQ(r.lpfnHook, nullptr);
  EXPECT_EQ(r.lpTemplateName, nullptr);
  EXPECT_EQ(r.FlagsEx, 0u);
}

TEST_F(Win32Files, TransfersSizesSlotsAndReplacing) {
  const Bytes bytes = {9, 8, 7, 6, 5, 4};
  EXPECT_FALSE(files.openForRead(at("missing.wav").c_str(), 0));
  EXPECT_FALSE(files.read(nullptr, 4, 0));  // the failed open left the slot empty
  files.close(0);                           // and closing it is harmless

  ASSERT_TRUE(files.createForWrite(at("f.bin").c_str(), 7));
  EXPECT_FALSE(files.write(bytes.data(), 0, 7));  // nothing moved
  EXPECT_EQ(files.lastTransferred(), 0u);
  EXPECT_TRUE(files.write(bytes.data(), 6, 7));
  EXPECT_EQ(files.lastTransferred(), 6u);
  files.close(7);

  ASSERT_TRUE(files.openForRead(at("f.bin").c_str(), 7));
  EXPECT_EQ(files.size(7), 6u);
  EXPECT_FALSE(files.openForRead(at("f.bin").c_str(), 6));  // no sharing while slot 7 has it
  Bytes back(6);
  EXPECT_TRUE(files.read(back.data(), 6, 7));
  EXPECT_EQ(back, bytes);
  files.close(7);
  EXPECT_FALSE(files.openForRead(root_.c_str(), 0));  // a directory is no file
  EXPECT_FALSE(files.createForWrite(at("x").c_str(), kFileSlots));

  ASSERT_TRUE(writeWith(at("f.bin"), Bytes(3, 2)));  // replaces the longer file
  EXPECT_EQ(contents(at("f.bin")), Bytes(3, 2));
}

TEST_F(Win32Files, MakesMissingDirectoriesAlongBackslashes) {
  ASSERT_TRUE(files.createForWriteMakingDirs(at("a\\b\\c\\take.wav").c_str(), 0));
  files.close(0);
  EXPECT_TRUE(isDirectory(at("a\\b\\c")));
  EXPECT_EQ(GetFileAttributesA(at("a\\b\\c\\take.wav").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_TRUE(messages.empty());
}

TEST_F(Win32Files, GivesUpWithDeathWhenNothingNewCanBeMade) {
  ASSERT_TRUE(CreateDirectoryA(at("dir").c_str(), nullptr));
  struct Case {
    const char* name;
    std::string path;
  };
  const Case cases[] = {
      {"the path is a directory", at("dir")},
      {"a name Windows refuses", at("dir\\a?b.wav")},
      // Only the backslash separates: "x/y" is one level, which cannot be made while x is missing.
      {"a slash is no separator here", at("x/y\\take.wav")},
      {"no separator at all", "?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    messages.clear();
    EXPECT_FALSE(files.createForWriteMakingDirs(c.path.c_str(), 0));
    EXPECT_EQ(messages, (std::vector<Message>{{"death", std::nullopt}}));
  }
  EXPECT_FALSE(isDirectory(at("x")));
}

TEST_F(Win32Files, LoadAndSaveThroughTheHooks) {
  EngineState state;
  buildDefaultTable(state);
  allocateTake(state);
  char path[kPathChars] = {};

  // 8-bit stereo at 22,050 Hz: widened, mixed down, and the rate pointed out.
  const Bytes wav = {'R',  'I',  'F', 'F', 40,   0,    0, 0, 'W', 'A', 'V', 'E',
                     'f',  'm',  't', ' ', 16,   0,    0, 0, 1,   0,   2,   0,
                     0x22, 0x56, 0,   0,   0x44, 0xAC, 0, 0, 2,   0,   8,   0,
                     'd',  'a',  't', 'a', 4,    0,    0, 0, 0,   255, 128, 129};
  ASSERT_TRUE(writeWith(at("in.wav"), wav));
  answer = at("in.wav");
  importWav(state, files, path);
  EXPECT_EQ(messages, (std::vector<Message>{{kRateWarningSjis, kNotice}}));
  ASSERT_EQ(state.tableLength, 2u);
  EXPECT_EQ(state.mixdownTable.get()[0], -128);
  EXPECT_EQ(state.mixdownTable.get()[1], 128);
  EXPECT_STREQ(path, answer.c_str());

  uint8_t* take = state.takeBuffer.get();
  for (uint32_t i = 0; i < 3000; ++i) take[i] = static_cast<uint8_t>(i);
  state.takeLength = 3000;
  messages.clear();
  answer = at("out\\deeper\\take.wav");
  exportTake(state, files, path);
  EXPECT_EQ(messages, (std::vector<Message>{{kSavedSjis, kSavedSjis}}));
  const Bytes saved = contents(answer);
  ASSERT_EQ(saved.size(), 3044u);
  EXPECT_EQ(Bytes(saved.begin(), saved.begin() + 8), (Bytes{'R', 'I', 'F', 'F', 0xDC, 0x0B, 0, 0}));
  EXPECT_EQ(Bytes(saved.begin() + 40, saved.begin() + 44), (Bytes{0xB8, 0x0B, 0, 0}));
  EXPECT_EQ(Bytes(saved.begin() + 44, saved.end()), Bytes(take, take + 3000));
}

}  // namespace
}  // namespace tonvarel
