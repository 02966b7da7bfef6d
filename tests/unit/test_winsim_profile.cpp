// GetPrivateProfileStringA as Windows reads SETUP.INI: case, duplicates,
// blanks, quotes, truncation, defaults, and files that are not text.
#include <cstring>

#include "test_winsim_support.h"

namespace {

using namespace winsim_test;

class ProfileTest : public WinsimTest {
 protected:
  // The value read with a buffer of `size` characters, "" as default.
  std::string Get(const std::string& section, const std::string& key, DWORD size = 260,
                  const char* def = "") {
    std::vector<char> buf(size + 1, '#');
    DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), def, buf.data(), size, kIni);
    std::string r(buf.data());
    EXPECT_EQ(n, r.size()) << "returned length of \"" << r << "\"";
    EXPECT_EQ(buf[size], '#') << "wrote past the buffer";
    return r;
  }
  void Ini(const std::string& text) { m().WriteText(kIni, text); }
  static constexpr const char* kIni = "C:\\dist\\SETUP.INI";
};

TEST_F(ProfileTest, SectionAndKeyNamesIgnoreCase) {
  Ini("[FTPSetup]\r\nDestinationDir=D:\\Apps\\FTP\r\n");
  EXPECT_EQ(Get("ftpsetup", "DESTINATIONDIR"), "D:\\Apps\\FTP");
}

TEST_F(ProfileTest, TheFirstMatchingSectionAndKeyWin) {
  Ini("[FTPSetup]\r\nLock=1\r\nlock=2\r\n[ftpsetup]\r\nLock=3\r\nShortCut=Y\r\n");
  EXPECT_EQ(Get("FTPSetup", "Lock"), "1");
  EXPECT_EQ(Get("FTPSetup", "ShortCut"), "") << "only the first matching section is searched";
}

TEST_F(ProfileTest, BlanksAroundNamesAndValuesAreTrimmed) {
  Ini("  [Program Group]  \r\n   GroupName   =    My Tools   \r\n\tUseGroup\t=\tY\t\r\n");
  EXPECT_EQ(Get("Program Group", "GroupName"), "My Tools");
  EXPECT_EQ(Get("Program Group", "UseGroup"), "Y");
  EXPECT_EQ(Get(" Program Group ", " GroupName "), "My Tools") << "the names asked for are trimmed too";
}

TEST_F(ProfileTest, OneLevelOfMatchingQuotesIsRemoved) {
  Ini("[S]\r\na=\"C:\\Program Files\"\r\nb='x'\r\nc=\"'y'\"\r\nd=\"unbalanced\r\ne=\"\r\n");
  EXPECT_EQ(Get("S", "a"), "C:\\Program Files");
  EXPECT_EQ(Get("S", "b"), "x");
  EXPECT_EQ(Get("S", "c"), "'y'");
  EXPECT_EQ(Get("S", "d"), "\"unbalanced");
  EXPECT_EQ(Get("S", "e"), "\"");
}

TEST_F(ProfileTest, ValuesAreCutToTheBufferLessOne) {
  Ini("[S]\r\nk=0123456789\r\n");
  EXPECT_EQ(Get("S", "k", 5), "0123");
  EXPECT_EQ(Get("S", "k", 11), "0123456789");
  EXPECT_EQ(Get("S", "k", 1), "");
}

TEST_F(ProfileTest, MissingFileSectionOrKeyGivesTheDefaultWithoutTrailingBlanks) {
  EXPECT_EQ(Get("FTPSetup", "SourceDir", 260, "dflt  "), "dflt") << "no file";
  Ini("[Other]\r\nSourceDir=x\r\n[FTPSetup]\r\nNoValue\r\n");
  EXPECT_EQ(Get("FTPSetup", "SourceDir", 260, "d"), "d") << "no key";
  EXPECT_EQ(Get("Missing", "SourceDir", 260, "d"), "d") << "no section";
  EXPECT_EQ(Get("FTPSetup", "NoValue", 260, "d"), "d") << "a line without '='";
}

TEST_F(ProfileTest, EmptyValueIsEmptyNotTheDefault) {
  Ini("[S]\r\nk=\r\n");
  EXPECT_EQ(Get("S", "k", 260, "d"), "");
}

TEST_F(ProfileTest, KeysBeforeAnySectionAndMalformedHeadersBelongToNoSection) {
  Ini("k=top\r\n[S\r\nk=in broken header\r\n[S]x\r\nk=after\r\n");
  EXPECT_EQ(Get("S", "k"), "after") << "\"[S]x\" is a header: the name runs to the last ']'";
}

TEST_F(ProfileTest, BareFileNamesLiveInTheWindowsDirectory) {
  m().WriteText("C:\\WINDOWS\\WININIT.INI", "[rename]\r\nNUL=C:\\X\r\n");
  char buf[64];
  GetPrivateProfileStringA("rename", "NUL", "", buf, sizeof buf, "WININIT.INI");
  EXPECT_STREQ(buf, "C:\\X");
}

TEST_F(ProfileTest, BinaryFilesAreReadWithoutHarm) {
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919) & 0xFF);
  junk += std::string("\r\n[S]\r\nk=v\0hidden\r\n", 19);
  junk += std::string("[S2]\r\nk2=\0\0\0", 12);
  Ini(junk);
  EXPECT_EQ(Get("S", "k"), "v") << "a NUL ends the line's text";
  EXPECT_EQ(Get("S2", "k2", 260, "d"), "");
}

TEST_F(ProfileTest, HugeFilesAndHugeValuesStayBounded) {
  std::string big = "[S]\r\nk=" + std::string(100000, 'v') + "\r\n";
  for (int i = 0; i < 20000; ++i) big += "filler" + std::to_string(i) + "=x\r\n";
  big += "last=found\r\n";
  Ini(big);
  EXPECT_EQ(Get("S", "k", 260), std::string(259, 'v'));
  EXPECT_EQ(Get("S", "last"), "found");
}

std::string Utf16(const std::string& ansi, bool bigEndian = false) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ansi) out += bigEndian ? std::string(1, '\0') + c : std::string(1, c) + '\0';
  return out;
}

// What each family's profile reader makes of a value in a UTF-16LE file:
// read from Windows 2000 on, unseen before (the bytes' NULs end each line).
TEST_F(ProfileTest, Utf16LittleEndianIsReadFromWindows2000On) {
  const std::pair<WindowsVersion, std::string> expected[] = {
      {WindowsVersion::Win95, ""},          {WindowsVersion::Win98, ""},
      {WindowsVersion::NT4, ""},            {WindowsVersion::Win2000, "caf\xE9"},
      {WindowsVersion::XP, "caf\xE9"},      {WindowsVersion::Win7, "caf\xE9"}};
  for (const auto& [version, value] : expected) {
    Use(version);
    Ini(Utf16("[S]\r\nk=caf\xE9\r\n"));
    EXPECT_EQ(Get("S", "k"), value) << "version " << static_cast<int>(version);
  }
}

TEST_F(ProfileTest, Utf16BigEndianIsReadByNoWindows) {
  Ini(Utf16("[S]\r\nk=v\r\n", true));
  EXPECT_EQ(Get("S", "k"), "");
}

// No Windows takes the UTF-8 mark: it joins the first line, so a section
// header there is lost with its keys; later sections read as usual.
TEST_F(ProfileTest, Utf8MarkHidesTheSectionOnTheFirstLine) {
  for (WindowsVersion version : {WindowsVersion::Win98, WindowsVersion::XP, WindowsVersion::Win7}) {
    Use(version);
    Ini("\xEF\xBB\xBF[FTPSetup]\r\nQuietModeInstall=Y\r\n[Program Group]\r\nGroupName=Tools\r\n");
    EXPECT_EQ(Get("FTPSetup", "QuietModeInstall"), "") << "version " << static_cast<int>(version);
    EXPECT_EQ(Get("Program Group", "GroupName"), "Tools") << "version " << static_cast<int>(version);
    Ini("\xEF\xBB\xBF\r\n[FTPSetup]\r\nQuietModeInstall=Y\r\n");
    EXPECT_EQ(Get("FTPSetup", "QuietModeInstall"), "Y") << "the mark alone on the first line harms nothing";
  }
}

TEST_F(ProfileTest, NullSectionListsSectionNamesWithTheDoubleNul) {
  Ini("[A]\r\nx=1\r\n[Bee]\r\n");
  char buf[32];
  std::memset(buf, '#', sizeof buf);
  DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "", buf, sizeof buf, kIni);
  EXPECT_EQ(std::string(buf, n + 1), std::string("A\0Bee\0\0", 7));
  char small[5];
  n = GetPrivateProfileStringA(nullptr, nullptr, "", small, sizeof small, kIni);
  EXPECT_EQ(n, 3u) << "size - 2 when cut";
  EXPECT_EQ(std::string(small, 5), std::string("A\0B\0\0", 5)) << "the last name cut, two NULs";
}

TEST_F(ProfileTest, WriteAddsReplacesAndDeletesKeepingOtherLines) {
  Ini("; comment\r\n[S]\r\nk=1\r\n\r\n[T]\r\nx=2\r\n");
  ASSERT_TRUE(WritePrivateProfileStringA("S", "k", "10", kIni));
  ASSERT_TRUE(WritePrivateProfileStringA("S", "new", "v", kIni));
  ASSERT_TRUE(WritePrivateProfileStringA("U", "u", "w", kIni));
  ASSERT_TRUE(WritePrivateProfileStringA("T", nullptr, nullptr, kIni));
  EXPECT_EQ(Text(kIni), "; comment\r\n[S]\r\nk=10\r\nnew=v\r\n\r\n[U]\r\nu=w\r\n");
}

TEST_F(ProfileTest, GetPrivateProfileIntParsesLeadingDigits) {
  Ini("[S]\r\na=12abc\r\nb= -7\r\nc=abc\r\n");
  EXPECT_EQ(GetPrivateProfileIntA("S", "a", 5, kIni), 12u);
  EXPECT_EQ(static_cast<INT>(GetPrivateProfileIntA("S", "b", 5, kIni)), -7);
  EXPECT_EQ(GetPrivateProfileIntA("S", "c", 5, kIni), 0u);
  EXPECT_EQ(GetPrivateProfileIntA("S", "none", 5, kIni), 5u);
}

}  // namespace
