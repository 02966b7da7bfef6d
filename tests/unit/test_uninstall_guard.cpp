// Rules of the removal guard (records without the list of created
// directories) that each need a test of their own: a root of a drive other
// than C:, a plain \\server\share root, letter case where no short form can
// be had, and a computer name whose double-byte character ends in 0x5C.
#include "fixture.h"

namespace {

using namespace fixture;

const std::string kHyo = "\x95\x5C";  // a character of code page 932 whose trail byte is '\'

class GuardTest : public SetupTest {
 protected:
  void SetUp() override { FreshMachine(WindowsVersion::XP); }
  void RecordOld(const std::string& place) {
    m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Installation Directory", place);
    m().SetRegBinary(HKEY_LOCAL_MACHINE, kKey, "WorkingDirType", {0});
    m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Working Directory", place);
  }
  void Remove() {
    ResetSetupState();
    WriteIni(kRemovalIni);
    RunSetup();
  }
  void ExpectNothingScheduledButTheUninstaller(const std::string& where) {
    for (auto& [from, to] : m().PendingRenames())
      EXPECT_NE(from.find("UNINS.EXE"), std::string::npos) << where << ": only the uninstaller, got " << from;
  }
};

TEST_F(GuardTest, TheRootOfAnotherDriveKeepsItsFiles) {
  for (WindowsVersion version : {WindowsVersion::Win98, WindowsVersion::XP, WindowsVersion::Win10}) {
    FreshMachine(version);
    RecordOld("D:\\");
    m().WriteText("D:\\QXFTP.EXE", "product");
    m().WriteText("D:\\other.txt", "keep");
    m().WriteText("D:\\Transfer\\mine.dat", "keep");
    m().WriteText("D:\\Games\\save.dat", "keep");
    Remove();
    EXPECT_FALSE(m().Exists("D:\\QXFTP.EXE"));
    EXPECT_TRUE(m().Exists("D:\\other.txt"));
    EXPECT_TRUE(m().Exists("D:\\Transfer\\mine.dat"));
    ExpectNothingScheduledButTheUninstaller("D:\\");
    m().Restart();
    EXPECT_TRUE(m().Exists("D:\\Games\\save.dat"));
  }
}

TEST_F(GuardTest, APlainShareRootKeepsItsFiles) {
  for (const std::string& root : {std::string("\\\\server\\share"), std::string("\\\\server\\share\\")}) {
    FreshMachine(WindowsVersion::XP);
    RecordOld(root);
    m().WriteText("\\\\server\\share\\QXFTP.EXE", "product");
    m().WriteText("\\\\server\\share\\other.txt", "keep");
    m().WriteText("\\\\server\\share\\Config\\mine.ini", "keep");
    Remove();
    EXPECT_FALSE(m().Exists("\\\\server\\share\\QXFTP.EXE")) << root;
    EXPECT_TRUE(m().Exists("\\\\server\\share\\other.txt")) << root;
    EXPECT_TRUE(m().Exists("\\\\server\\share\\Config\\mine.ini")) << root;
    ExpectNothingScheduledButTheUninstaller(root);
  }
}

TEST_F(GuardTest, LetterCaseCountsForNothingEvenWithoutAShortForm) {
  // Each GetShortPathNameA call of the removal fails in turn: the long
  // forms alone must still meet without regard to case.
  for (uint64_t nth = 1; nth <= 40; ++nth) {
    FreshMachine(WindowsVersion::XP);
    RecordOld("c:\\program files");
    m().WriteText("C:\\Program Files\\QXFTP.EXE", "product");
    m().WriteText("C:\\Program Files\\Other App\\keep.txt", "keep");
    m().WriteText("C:\\Program Files\\readme.txt", "keep");
    m().faults.failCall = winsim::Faults::CallFailure{"GetShortPathNameA", nth, 0};
    Remove();
    EXPECT_TRUE(m().Exists("C:\\Program Files\\readme.txt")) << "call " << nth;
    EXPECT_TRUE(m().Exists("C:\\Program Files\\Other App\\keep.txt")) << "call " << nth;
    ExpectNothingScheduledButTheUninstaller("call " + std::to_string(nth));
  }
}

TEST_F(GuardTest, AShareOfThisComputerNamedWithATrailByte5CIsProtected) {
  // Read byte by byte the name would end at the 0x5C and name another
  // computer, whose share would then be emptied.
  m().SetAnsiCodePage(932);
  m().SetComputerName(kHyo + "PC");
  const std::string share = "\\\\" + kHyo + "PC\\Shared\\FTP";
  RecordOld(share);
  m().WriteText(share + "\\QXFTP.EXE", "product");
  m().WriteText(share + "\\letter.doc", "keep");
  m().WriteText(share + "\\Config\\mine.ini", "keep");
  Remove();
  EXPECT_TRUE(m().Exists(share + "\\letter.doc"));
  EXPECT_TRUE(m().Exists(share + "\\Config\\mine.ini"));
  ExpectNothingScheduledButTheUninstaller(share);
}

TEST_F(GuardTest, WinsimFindsTheServerAndShareByCharacter) {
  m().SetAnsiCodePage(932);
  StartUp();
  const std::string path = "\\\\" + kHyo + "\\share\\dir";
  char full[MAX_PATH] = {};
  DWORD length = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
  EXPECT_EQ(std::string(full, length), path) << "the server is one double-byte character";
}

}  // namespace
