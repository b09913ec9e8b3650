// The resources linked into tonvarel.exe, read back from the built program: identifiers,
// languages, the accelerators, the strings, the About box's template and the icon groups.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "resource.h"

namespace {

constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);     // 1041
constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033

class Resources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* exe = std::getenv("TONVAREL_EXE");
    ASSERT_NE(exe, nullptr) << "TONVAREL_EXE names the program to read";
    module = LoadLibraryExA((std::string("Z:") + exe).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
  }
  static const BYTE* find(LPCSTR type, int id, WORD language, DWORD* size = nullptr) {
    HRSRC found = FindResourceExA(module, type, MAKEINTRESOURCEA(id), language);
    if (found == nullptr) return nullptr;
    if (size != nullptr) *size = SizeofResource(module, found);
    return static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
  }
  static inline HMODULE module = nullptr;
};

TEST_F(Resources, EachIsThereWithItsIdentifierAndLanguage) {
  struct Expected {
    LPCSTR type;
    int id;
    WORD language;
  };
  const Expected all[] = {
      {RT_MENU, IDR_MAIN_MENU, kJapanese},
      {RT_ACCELERATOR, IDR_ACCELERATORS, kJapanese},
      {RT_DIALOG, IDD_ABOUTBOX, kJapanese},
      {RT_STRING, IDS_APP_TITLE / 16 + 1, kJapanese},  // strings live in blocks of 16
      {RT_GROUP_ICON, IDI_LARGE_ICON, kJapanese},
      {RT_GROUP_ICON, IDI_SMALL_ICON, kJapanese},
      {RT_MANIFEST, 1, kEnglishUs},
  };
  for (const Expected& e : all) {
    SCOPED_TRACE(testing::Message()
                 << "type " << reinterpret_cast<uintptr_t>(e.type) << " id " << e.id);
    EXPECT_NE(find(e.type, e.id, e.language), nullptr);
  }
  EXPECT_EQ(find(RT_VERSION, 1, kJapanese), nullptr) << "no version information";
}

TEST_F(Resources, StringsNameTheWindowAndItsClass) {
  char text[100];
  ASSERT_GT(LoadStringA(module, IDS_APP_TITLE, text, sizeof text), 0);
  EXPECT_STREQ(text, "Tonvarel");
  ASSERT_GT(LoadStringA(module, IDS_CLASS_NAME, text, sizeof text), 0);
  EXPECT_STREQ(text, "QUENTARO");
}

TEST_F(Resources, AltQuestionMarkAndAltSlashOpenTheAboutBoxAsCharacters) {
  HACCEL table = LoadAcceleratorsA(module, MAKEINTRESOURCEA(IDR_ACCELERATORS));
  ASSERT_NE(table, nullptr);
  ACCEL entries[4];
  ASSERT_EQ(CopyAcceleratorTableA(table, entries, 4), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(entries[i].fVirt & ~0x80, FALT) << "character accelerator with Alt, not a key";
    EXPECT_EQ(entries[i].cmd, IDM_ABOUT);
  }
  EXPECT_EQ(entries[0].key, '?');
  EXPECT_EQ(entries[1].key, '/');
}

TEST_F(Resources, AboutBoxTemplateHasItsStylePlaceAndFourControls) {
  const BYTE* dialog = find(RT_DIALOG, IDD_ABOUTBOX, kJapanese);
  ASSERT_NE(dialog, nullptr);
  // DLGTEMPLATEEX: version 1, signature 0xFFFF, help id, extended style, style, count, x, y, cx,
  // cy.
  WORD words[2];
  std::memcpy(words, dialog, sizeof words);
  ASSERT_EQ(words[0], 1);
  ASSERT_EQ(words[1], 0xFFFF);
  DWORD style;
  std::memcpy(&style, dialog + 12, 4);
  EXPECT_EQ(style, static_cast<DWORD>(DS_MODALFRAME | WS_CAPTION | WS_SYSMENU | DS_SETFONT));
  WORD count;
  short place[4];
  std::memcpy(&count, dialog + 16, 2);
  std::memcpy(place, dialog + 18, sizeof place);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(place[0], 22);
  EXPECT_EQ(place[1], 17);
  EXPECT_EQ(place[2], 231);
  EXPECT_EQ(place[3], 38);
}

TEST_F(Resources, BothIconGroupsHoldTheEightPictures) {
  for (int id : {IDI_LARGE_ICON, IDI_SMALL_ICON}) {
    SCOPED_TRACE(id);
    DWORD size = 0;
    const BYTE* group = find(RT_GROUP_ICON, id, kJapanese, &size);
    ASSERT_NE(group, nullptr);
    WORD count;
    std::memcpy(&count, group + 4, 2);
    ASSERT_EQ(count, 8);
    ASSERT_GE(size, 6u + 14u * count);
    std::string pictures;  // "width x bits" of each entry, in order
    for (int i = 0; i < count; ++i) {
      const BYTE* entry = group + 6 + 14 * i;
      WORD bits;
      std::memcpy(&bits, entry + 6, 2);
      pictures += std::to_string(entry[0] == 0 ? 256 : entry[0]) + "x" + std::to_string(bits) + " ";
    }
    EXPECT_EQ(pictures, "32x4 16x4 48x8 32x8 16x8 48x32 32x32 16x32 ");
  }
}

}  // namespace
