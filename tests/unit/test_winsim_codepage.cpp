// winsim's ANSI code pages and volumes without 8.3 names: on a double-byte
// code page a lead byte and its trail byte are one character everywhere a
// path is taken apart, compared or folded, as on a Japanese, Chinese or
// Korean Windows.
#include "test_winsim_support.h"

namespace {

using namespace winsim_test;

// Code page 932: "ソ" is 0x83 0x5C and "ポ" 0x83 0x7C (trail bytes that look
// like "\" and "|"); "ア" is 0x83 0x41 and "ヂ" 0x83 0x61 (trail bytes that
// look like "A" and "a").
const std::string kSo = "\x83\x5C";
const std::string kPo = "\x83\x7C";
const std::string kA = "\x83\x41";
const std::string kDi = "\x83\x61";

class CodePageTest : public WinsimTest {
 protected:
  void Japanese() { m().SetAnsiCodePage(932); }
  std::string ShortOf(const std::string& path) {
    char buffer[MAX_PATH] = {};
    DWORD length = GetShortPathNameA(path.c_str(), buffer, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? "error " + std::to_string(GetLastError()) : std::string(buffer);
  }
  std::string Upper(std::string text) {
    CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
    return text;
  }
  static std::vector<std::string> List(std::initializer_list<std::string> names) { return names; }
};

// ---- The code page and its characters --------------------------------------------------

TEST_F(CodePageTest, CodePageIs1252UnlessSet) {
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_FALSE(IsDBCSLeadByte(0x83));
  Japanese();
  EXPECT_EQ(GetACP(), 932u);
  EXPECT_TRUE(IsDBCSLeadByte(0x83));
  EXPECT_TRUE(IsDBCSLeadByte(0xE0));
  EXPECT_FALSE(IsDBCSLeadByte(0xA1)) << "a half-width katakana is a character of its own";
  EXPECT_FALSE(IsDBCSLeadByte('\\'));
  m().SetAnsiCodePage(936);
  EXPECT_TRUE(IsDBCSLeadByte(0xA1));
  EXPECT_THROW(m().SetAnsiCodePage(1251), winsim::UsageError);
}

TEST_F(CodePageTest, CharNextAndCharPrevStepOverWholeCharacters) {
  Japanese();
  std::string text = "C:" + kSo + "x";
  const char* start = text.c_str();
  EXPECT_EQ(CharNextA(start + 2) - start, 4) << "lead and trail byte are one step";
  EXPECT_EQ(CharNextA(start + 4) - start, 5);
  EXPECT_EQ(CharNextA(start + 5) - start, 5) << "the terminator stays";
  EXPECT_EQ(CharPrevA(start, start + 4) - start, 2) << "back from x lands on the lead byte";
  EXPECT_EQ(CharPrevA(start, start + 2) - start, 1);
  EXPECT_EQ(CharPrevA(start, start) - start, 0);
  std::string lone = "a\x83";
  EXPECT_EQ(CharNextA(lone.c_str() + 1) - lone.c_str(), 2) << "a lead byte before the terminator is one byte";
  m().SetAnsiCodePage(1252);
  EXPECT_EQ(CharNextA(start + 2) - start, 3);
}

TEST_F(CodePageTest, CaseFoldingLeavesDoubleByteCharactersAlone) {
  EXPECT_EQ(Upper("ab" + kDi + "\xE9"), "AB\x83" "A\xC9") << "code page 1252 folds every byte";
  Japanese();
  EXPECT_EQ(Upper("ab" + kDi + "\xE9"), "AB" + kDi + "\xE9");
  EXPECT_NE(lstrcmpiA(kA.c_str(), kDi.c_str()), 0);
  EXPECT_EQ(lstrcmpiA(("x" + kA).c_str(), ("X" + kA).c_str()), 0);
}

// ---- Paths -------------------------------------------------------------------------------------

TEST_F(CodePageTest, TrailByte5CIsNoSeparator) {
  Japanese();
  ASSERT_EQ(Result(CreateDirectoryA(("C:\\" + kSo).c_str(), nullptr)), "ok");
  m().WriteText("C:\\" + kSo + "\\A.TXT", "a");
  EXPECT_EQ(Find("C:\\" + kSo + "*"), List({kSo}));
  EXPECT_EQ(Find("C:\\" + kSo + "\\*.TXT"), List({"A.TXT"}));
  EXPECT_FALSE(m().Exists("C:\\\x83")) << "no directory of the lead byte alone";
  char full[MAX_PATH] = {};
  char* filePart = nullptr;
  ASSERT_GT(GetFullPathNameA(("C:\\" + kSo + "\\.\\A.TXT").c_str(), MAX_PATH, full, &filePart), 0u);
  EXPECT_EQ(std::string(full), "C:\\" + kSo + "\\A.TXT");
  EXPECT_STREQ(filePart, "A.TXT");
}

TEST_F(CodePageTest, TrailBytesAreNoForbiddenCharacters) {
  EXPECT_EQ(Result(CreateDirectoryA(("C:\\" + kPo).c_str(), nullptr)), "error 123") << "0x7C is | on 1252";
  Japanese();
  EXPECT_EQ(Result(CreateDirectoryA(("C:\\" + kPo).c_str(), nullptr)), "ok");
  EXPECT_TRUE(m().IsDirectory("C:\\" + kPo));
}

TEST_F(CodePageTest, NamesDifferingOnlyInATrailByteAreTwoFiles) {
  m().WriteText("C:\\" + kA, "first");
  m().WriteText("C:\\" + kDi, "second");
  EXPECT_EQ(Find("C:\\\x83*").size(), 1u) << "code page 1252 folds the 'a'";
  Use(WindowsVersion::XP);
  Japanese();
  m().WriteText("C:\\" + kA, "first");
  m().WriteText("C:\\" + kDi, "second");
  EXPECT_EQ(Find("C:\\\x83*").size(), 2u);
  EXPECT_EQ(Text("C:\\" + kA), "first");
}

TEST_F(CodePageTest, ShareNamesAreTakenApartByCharacter) {
  Japanese();
  m().WriteText("\\\\" + kSo + "\\share\\dir\\a.txt", "a");
  EXPECT_NE(GetFileAttributesA(("\\\\" + kSo + "\\share\\dir\\a.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Find("\\\\" + kSo + "\\share\\*"), List({"dir"}));
}

TEST_F(CodePageTest, ShortNamesKeepDoubleByteCharactersWhole) {
  Japanese();
  std::string longName = "C:\\" + kSo + kSo + kSo + kSo + kSo + "x";  // 11 bytes
  m().MakeDirs(longName);
  EXPECT_EQ(ShortOf(longName), "C:\\" + kSo + kSo + kSo + "~1") << "six bytes and ~1, no half character";
  m().MakeDirs("C:\\" + kSo + ".TXT");
  EXPECT_EQ(ShortOf("C:\\" + kSo + ".TXT"), "C:\\" + kSo + ".TXT") << "already an 8.3 name";
}

// ---- Volumes without 8.3 names -----------------------------------------------------------------

TEST_F(CodePageTest, VolumeWithoutShortNamesGivesTheLongForm) {
  m().SetShortNames("D:", false);
  m().MakeDirs("D:\\Program Files\\Long Folder Name");
  m().MakeDirs("C:\\Program Files\\Long Folder Name");
  EXPECT_EQ(ShortOf("D:\\Program Files\\Long Folder Name"), "D:\\Program Files\\Long Folder Name");
  EXPECT_EQ(ShortOf("d:\\program files\\.\\Long Folder Name"), "d:\\Program Files\\.\\Long Folder Name");
  EXPECT_EQ(ShortOf("C:\\Program Files\\Long Folder Name"), "C:\\PROGRA~1\\LONGFO~1") << "other volumes keep them";
  WIN32_FIND_DATAA found = {};
  HANDLE find = FindFirstFileA("D:\\Program Files", &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(found.cAlternateFileName, "");
  FindClose(find);
  EXPECT_EQ(GetFileAttributesA("D:\\PROGRA~1"), INVALID_FILE_ATTRIBUTES) << "no alias to find it by";
}

TEST_F(CodePageTest, ShortNamesComeBackForWhatIsCreatedLater) {
  m().SetShortNames("D:\\", false);
  m().MakeDirs("D:\\Before Switch");
  m().SetShortNames("D:", true);
  m().MakeDirs("D:\\After Switch");
  EXPECT_EQ(ShortOf("D:\\Before Switch"), "D:\\Before Switch");
  EXPECT_EQ(ShortOf("D:\\After Switch"), "D:\\AFTERS~1");
}

}  // namespace
