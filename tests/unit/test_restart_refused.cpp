// The removal when the system refuses restart-time deletions: a user
// without administrator rights cannot write the session manager's
// PendingFileRenameOperations (MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT
// fails with ERROR_ACCESS_DENIED), and a 9x WININIT.INI can be unwritable.
// Only a deletion the system took may bring the reboot question; what is
// left is named, and the record stays so that the removal can run again.
#include "fixture.h"

namespace {

using namespace fixture;

constexpr char kUserDir[] = "D:\\Apps\\FTP";
constexpr char kSessionManager[] = "System\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPerUserRemoval[] = "[FTPSetup]\r\nQuietModeUnInstall=Y\r\nBaseRegistry=2\r\n";
constexpr char kReboot[] =
    "VORTAN FTP uninstallation requires a reboot to complete successfully.\r\n\r\n"
    "Do you want to reboot the computer now?";
constexpr char kIncompleteHead[] =
    "VORTAN FTP uninstallation could not be completed. The following could not be removed:\r\n\r\n";
constexpr char kIncompleteTail[] = "\r\nClose any program that uses them and run the uninstallation again.";
constexpr char kSelfHead[] =
    "VORTAN FTP uninstallation completed, except for the uninstallation program, which cannot delete itself "
    "while it runs. Please delete the following yourself:\r\n\r\n";

std::string UserPath(const std::string& name) { return std::string(kUserDir) + "\\" + name; }

class RestartRefusedTest : public SetupTest {
 protected:
  void SetUp() override { FreshMachine(WindowsVersion::XP); }
  // A per-user installation in D:\Apps\FTP, then a new process.
  void InstalledForTheUser() {
    ASSERT_NO_FATAL_FAILURE(InstallQuietly(kUserDir, "BaseRegistry=2\r\n"));
    before_ = boxes().size();
    m().journal().Clear();
  }
  // What a user without administrator rights meets: the restart list refused.
  void RefuseRestartList() { m().DenyKey(HKEY_LOCAL_MACHINE, kSessionManager); }
  void RemoveFromDistribution() {
    WriteIni(kPerUserRemoval);
    RunSetup();
  }
  std::vector<Box> RemovalBoxes() const { return std::vector<Box>(boxes().begin() + before_, boxes().end()); }
  bool RecordKept() const { return RegString(HKEY_CURRENT_USER, kKey, "Installation Directory").has_value(); }
  size_t before_ = 0;
};

TEST_F(RestartRefusedTest, FileInUseThatCannotBeScheduledIsNamedAndTheRecordStays) {
  InstalledForTheUser();
  m().WriteText(UserPath("Transfer\\open.bin"), "busy");
  int hold = m().Hold(UserPath("Transfer\\open.bin"));
  RefuseRestartList();
  RemoveFromDistribution();
  m().Release(hold);

  EXPECT_EQ(setupState.rebootRequired, 0) << "nothing was scheduled";
  EXPECT_TRUE(m().PendingRenames().empty());
  auto removal = RemovalBoxes();
  ASSERT_EQ(removal.size(), 2u) << "the group question and the final box";
  EXPECT_EQ(removal[1].text, kIncompleteHead + UserPath("Transfer\\open.bin") + "\r\n" + UserPath("Transfer") + "\r\n" + kUserDir + "\r\n" + kIncompleteTail);
  EXPECT_EQ(removal[1].caption, "VORTAN FTP Uninstall");
  EXPECT_EQ(removal[1].style, static_cast<UINT>(MB_ICONEXCLAMATION));
  EXPECT_TRUE(RecordKept()) << "the removal can be run again";
  EXPECT_FALSE(m().Exists(UserPath("QXFTP.EXE")));

  // Run again once the file is free: it finishes the job.
  ResetSetupState();
  size_t second = boxes().size();
  RemoveFromDistribution();
  ASSERT_FALSE(boxes().empty());
  EXPECT_EQ(boxes().back().text, "VORTAN FTP uninstallation completed successfully.");
  EXPECT_GT(boxes().size(), second);
  EXPECT_FALSE(RecordKept());
  EXPECT_FALSE(m().Exists(kUserDir));
}

TEST_F(RestartRefusedTest, TheRunningUninstallerAndItsFolderAloneAreNamedAndTheRecordGoes) {
  InstalledForTheUser();
  RefuseRestartList();
  m().WriteText(UserPath("SETUP.INI"), kPerUserRemoval);
  int hold = m().HoldImage(UserPath("UNINS.EXE"));
  RunSetup(kUserDir, "UNINS.EXE");
  m().Release(hold);

  EXPECT_EQ(setupState.rebootRequired, 0);
  EXPECT_TRUE(m().PendingRenames().empty());
  auto removal = RemovalBoxes();
  ASSERT_FALSE(removal.empty());
  EXPECT_EQ(removal.back().text, kSelfHead + UserPath("UNINS.EXE") + "\r\n" + kUserDir + "\r\n");
  EXPECT_EQ(removal.back().style, static_cast<UINT>(MB_ICONINFORMATION));
  for (const Box& box : removal) EXPECT_NE(box.text, kReboot);
  EXPECT_FALSE(RecordKept()) << "running it again would leave the same";
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kKey));
  EXPECT_TRUE(m().Exists(UserPath("UNINS.EXE")));
}

TEST_F(RestartRefusedTest, AnUninstallerAlreadyDeletedIsNotCountedAsLeft) {
  InstalledForTheUser();
  RefuseRestartList();
  RemoveFromDistribution();
  EXPECT_EQ(boxes().back().text, "VORTAN FTP uninstallation completed successfully.");
  EXPECT_FALSE(RecordKept());
  EXPECT_FALSE(m().Exists(kUserDir));
}

TEST_F(RestartRefusedTest, AFailedScheduleAmongTakenOnesStillAsksForTheRestartAndNamesWhatIsLeft) {
  InstalledForTheUser();
  for (const char* name : {"a.bin", "b.bin"}) m().WriteText(UserPath(std::string("Transfer\\") + name), "busy");
  int holdA = m().Hold(UserPath("Transfer\\a.bin"));
  int holdB = m().Hold(UserPath("Transfer\\b.bin"));
  m().faults.failCall = winsim::Faults::CallFailure{"MoveFileExA", 1, 0};
  Answer("VORTAN FTP Uninstall", IDYES);
  Answer("VORTAN FTP Uninstall", IDOK);
  Answer("VORTAN FTP Uninstall", IDNO);
  RemoveFromDistribution();
  m().Release(holdA);
  m().Release(holdB);
  auto removal = RemovalBoxes();
  ASSERT_EQ(removal.size(), 3u);
  EXPECT_EQ(removal[1].text, kIncompleteHead + UserPath("Transfer\\a.bin") + "\r\n" + kIncompleteTail);
  EXPECT_EQ(removal[2].text, kReboot) << "b.bin was scheduled";
  EXPECT_EQ(setupState.rebootRequired, 1);
  EXPECT_TRUE(RecordKept());
}

TEST_F(RestartRefusedTest, NineXUnwritableWininitAsksNoRestart) {
  FreshMachine(WindowsVersion::Win98);
  InstalledForTheUser();
  const std::string wininit = m().WindowsDir() + "\\WININIT.INI";
  m().WriteText(wininit, "[rename]\r\n");
  m().SetAttributes(wininit, FILE_ATTRIBUTE_READONLY);
  m().WriteText(UserPath("Transfer\\open.bin"), "busy");
  int hold = m().Hold(UserPath("Transfer\\open.bin"));
  RemoveFromDistribution();
  m().Release(hold);
  EXPECT_EQ(setupState.rebootRequired, 0);
  EXPECT_EQ(FileText(wininit), "[rename]\r\n");
  EXPECT_EQ(boxes().back().text, kIncompleteHead + UserPath("Transfer\\open.bin") + "\r\n" + UserPath("Transfer") + "\r\n" + kUserDir + "\r\n" + kIncompleteTail);
  EXPECT_TRUE(RecordKept());
}

TEST_F(RestartRefusedTest, ScheduledDeletionsStillAskForTheRestart) {
  InstalledForTheUser();
  m().WriteText(UserPath("Transfer\\open.bin"), "busy");
  int hold = m().Hold(UserPath("Transfer\\open.bin"));
  Answer("VORTAN FTP Uninstall", IDNO);
  RemoveFromDistribution();
  m().Release(hold);
  EXPECT_EQ(boxes().back().text, kReboot);
  EXPECT_FALSE(RecordKept());
}

}  // namespace

namespace {

using namespace fixture;

// A standard user under UAC removing a per-user installation: the restart
// list refuses them on 32-bit Windows 7 and 64-bit Windows 10 alike.
class StandardUserRemovalTest : public SetupTest, public ::testing::WithParamInterface<WindowsVersion> {
 protected:
  void SetUp() override {
    FreshMachine(GetParam());
    m().SetUser(winsim::UserKind::StandardUser);
    ASSERT_NO_FATAL_FAILURE(InstallQuietly(kUserDir, "BaseRegistry=2\r\n"));
    before_ = boxes().size();
  }
  size_t before_ = 0;
};

TEST_P(StandardUserRemovalTest, FromAddRemoveProgramsOnlyTheRunningUninstallerIsLeftAndNamed) {
  m().WriteText(UserPath("SETUP.INI"), kPerUserRemoval);
  int hold = m().HoldImage(UserPath("UNINS.EXE"));
  RunSetup(kUserDir, "UNINS.EXE");
  m().Release(hold);
  EXPECT_EQ(setupState.rebootRequired, 0);
  ASSERT_GT(boxes().size(), before_);
  EXPECT_EQ(boxes().back().text, kSelfHead + UserPath("UNINS.EXE") + "\r\n" + kUserDir + "\r\n");
  for (size_t i = before_; i < boxes().size(); ++i) EXPECT_NE(boxes()[i].text, kReboot);
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kKey));
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kUninstall));
}

TEST_P(StandardUserRemovalTest, AFileInUseKeepsTheRecordForASecondRun) {
  m().WriteText(UserPath("Traces\\t.log"), "trace");
  int hold = m().Hold(UserPath("Traces\\t.log"));
  WriteIni(kPerUserRemoval);
  RunSetup();
  EXPECT_EQ(setupState.rebootRequired, 0);
  EXPECT_EQ(boxes().back().caption, "VORTAN FTP Uninstall");
  EXPECT_EQ(boxes().back().text.rfind(kIncompleteHead, 0), 0u) << boxes().back().text;
  EXPECT_NE(boxes().back().text.find(UserPath("Traces\\t.log")), std::string::npos);
  EXPECT_TRUE(m().KeyExists(HKEY_CURRENT_USER, kUninstall));
  m().Release(hold);
  ResetSetupState();
  WriteIni(kPerUserRemoval);
  RunSetup();
  EXPECT_EQ(boxes().back().text, "VORTAN FTP uninstallation completed successfully.");
  EXPECT_FALSE(m().Exists(kUserDir));
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kKey));
}

INSTANTIATE_TEST_SUITE_P(Editions, StandardUserRemovalTest,
                         ::testing::Values(WindowsVersion::Win7, WindowsVersion::Win10x64));

}  // namespace
