// Installation and removal on a double-byte ANSI code page (a Japanese,
// Chinese or Korean Windows): a character's trail byte may be 0x5C or look
// like a letter, and still belongs to its character in every path join, cut,
// directory walk, group name and comparison.
#include "fixture.h"

namespace {

using namespace fixture;

// Code page 932: "ソ" is 0x83 0x5C, "表" 0x95 0x5C, "フ" 0x83 0x74, "ト"
// 0x83 0x67, "ア" 0x83 0x41 and "ヂ" 0x83 0x61.
const std::string kSo = "\x83\x5C";
const std::string kHyo = "\x95\x5C";
const std::string kFu = "\x83\x74";
const std::string kTo = "\x83\x67";
const std::string kA = "\x83\x41";
const std::string kDi = "\x83\x61";

class DoubleByteTest : public SetupTest {
 protected:
  void SetUp() override { Use(); }
  void Use() {
    ResetSetupState();
    UseVersion(WindowsVersion::XP);
    m().SetAnsiCodePage(932);
    SeedDistribution();
  }
  void Install(const std::string& ini, const std::string& programName = "Setup.exe") {
    WriteIni(ini);
    RunSetup("C:\\dist", programName);
  }
  static std::string WithGroup(const std::string& group) {
    std::string ini = QuietIni();
    std::string from = "GroupName=VORTAN FTP";
    ini.replace(ini.find(from), from.size(), "GroupName=" + group);
    return ini;
  }
  // The directory a record points at, with a product file and data beside it.
  void Recorded(const std::string& dir) {
    m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Installation Directory", dir);
    m().SetRegBinary(HKEY_LOCAL_MACHINE, kKey, "WorkingDirType", {0});
    m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Working Directory", dir);
    m().WriteText(dir + "\\QXFTP.EXE", "product");
    m().WriteText(dir + "\\Docs\\manual.txt", "data");
  }
  void Remove() {
    WriteIni("[FTPSetup]\r\nQuietModeUnInstall=Y\r\n");
    RunSetup();
  }
  // Every file and directory below dir, as "name" or "name\".
  std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found = {};
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      names.push_back(name + ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "\\" : ""));
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return names;
  }
};

// ---- Installation directory ------------------------------------------------------

TEST_F(DoubleByteTest, DirectoryEndingInATrailByte5CGetsItsOwnSeparator) {
  const std::string dir = "C:\\" + kSo;
  Install(QuietIni(dir));
  EXPECT_EQ(setupState.installSucceeded, 1);
  for (const char* name : {"QXFTP.EXE", "UNINS.EXE", "QXFTP.DLL"})
    EXPECT_EQ(FileText(dir + "\\" + name), ProgramContent(name)) << name;
  for (const char* sub : {"Transfer", "Traces", "Config", "Certs"}) EXPECT_TRUE(m().IsDirectory(dir + "\\" + sub)) << sub;
  EXPECT_FALSE(m().Exists(dir + "QXFTP.EXE")) << "joined without a separator";
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kKey, "Installation Directory"), dir);
  const auto* group = m().progman().FindGroup("VORTAN FTP");
  ASSERT_NE(group, nullptr);
  ASSERT_EQ(group->items.size(), 2u);
  EXPECT_EQ(group->items[0].program, dir + "\\QXFTP.EXE");
}

TEST_F(DoubleByteTest, DirectoryTreeIsMadeOnlyAtRealSeparators) {
  const std::string dir = "D:\\" + kHyo + "\\" + kSo + "\\FTP";
  Install(QuietIni(dir));
  EXPECT_EQ(FileText(dir + "\\QXFTP.EXE"), ProgramContent("QXFTP.EXE"));
  EXPECT_EQ(Entries("D:"), std::vector<std::string>{kHyo + "\\"}) << "no directory of a lead byte alone";
  EXPECT_EQ(Entries("D:\\" + kHyo), std::vector<std::string>{kSo + "\\"});
}

// ---- Source directory and own name -------------------------------------------------

TEST_F(DoubleByteTest, RenamedProgramFindsThePayloadBesideItAndIsNotCopied) {
  const std::string program = kSo + ".EXE";
  m().WriteText("C:\\dist\\" + program, "setup program");
  Install(QuietIni(), program);
  EXPECT_EQ(setupState.installSucceeded, 1);
  EXPECT_STREQ(setupState.sourceDir, "C:\\dist");
  const std::string config = "C:\\Program Files\\VORTAN\\FTP\\Config";
  EXPECT_FALSE(m().Exists(config + "\\" + program)) << "the program's own file";
  EXPECT_TRUE(m().Exists(config + "\\Custom.ini"));
}

// ---- Program group -----------------------------------------------------------------------

TEST_F(DoubleByteTest, GroupNameWithTrailBytesThatLookForbiddenIsUsed) {
  const std::string group = kSo + kFu + kTo;  // "ソフト"
  Install(WithGroup(group));
  ASSERT_FALSE(DdeCommands().empty());
  EXPECT_EQ(DdeCommands()[0], "[CreateGroup(" + group + ")]");
  const auto* created = m().progman().FindGroup(group);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->items.size(), 2u);
}

TEST_F(DoubleByteTest, LongGroupNameIsCutBeforeAWholeCharacter) {
  // 62 letters and a character of two bytes: only the letters fit in 63.
  Install(WithGroup(std::string(62, 'G') + kSo + "H"));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kKey, "Program Group"), std::string(62, 'G'));
  EXPECT_NE(m().progman().FindGroup(std::string(62, 'G')), nullptr);
}

TEST_F(DoubleByteTest, ForbiddenCharactersAreStillRefused) {
  Install(WithGroup(kSo + "|" + kFu));
  EXPECT_TRUE(DdeCommands().empty());
}

// ---- Removal guard ---------------------------------------------------------------------------

TEST_F(DoubleByteTest, DirectoryDifferingFromAProtectedOneInATrailByteIsEmptied) {
  // "ア" and "ヂ" differ only in a trail byte that toupper would fold.
  const std::string personal = "C:\\Docs\\" + kDi;
  m().SetShellFolder(CSIDL_PERSONAL, personal);
  m().WriteText(personal + "\\letter.doc", "keep");
  const std::string dir = "C:\\Docs\\" + kA;
  Recorded(dir);
  Remove();
  EXPECT_FALSE(m().Exists(dir + "\\Docs\\manual.txt")) << "not protected: its data goes";
  EXPECT_TRUE(m().Exists(personal + "\\letter.doc"));
}

TEST_F(DoubleByteTest, ShareRootWithATrailByte5CInTheServerNameIsProtected) {
  const std::string share = "\\\\" + kSo + "\\share";
  Recorded(share);
  Remove();
  EXPECT_FALSE(m().Exists(share + "\\QXFTP.EXE"));
  EXPECT_TRUE(m().Exists(share + "\\Docs\\manual.txt")) << "a share root keeps all but the product files";
}

TEST_F(DoubleByteTest, AdministrativeShareOfAComputerNamedWithATrailByte5CIsTheLocalPath) {
  m().SetComputerName(kHyo + "PC");
  const std::string windows = m().WindowsDir();  // "C:\\WINDOWS"
  m().WriteText(windows + "\\system.ini", "keep");
  Recorded("\\\\" + kHyo + "PC\\C$" + windows.substr(2));
  Remove();
  EXPECT_FALSE(m().Exists(windows + "\\QXFTP.EXE"));
  EXPECT_TRUE(m().Exists(windows + "\\system.ini")) << "the Windows directory keeps all but the product files";
  EXPECT_TRUE(m().Exists(windows + "\\Docs\\manual.txt"));
}

}  // namespace
