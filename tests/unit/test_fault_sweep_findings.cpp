// What the fault sweep found, each held on its own: an installation
// directory without a drive spoiling the record of created directories, a
// program file or data folder left in a directory that was the user's, a
// failed look taking the user's Docs for the installation's, a list that
// could not be written, and a standard user's per-user places that could
// not be recorded. (A link left empty on the user's desktop by a full disk
// and a working directory orphaned by an installation over a previous one
// are the sweep's own cases.)
#include "fixture.h"

namespace {

using namespace fixture;

class SweepFindingsTest : public SetupTest {
 protected:
  void Remove() {
    WriteIni(kRemovalIni);
    RunSetup();
  }
  std::string WorkingDir() const { return m().ShellFolder(CSIDL_PERSONAL) + "\\FTP"; }
};

// Where Program Files could not be found the installation goes to
// "\VORTAN\FTP" on the current drive. That spelling in the list made the
// removal read the whole list as damaged, so the working directory the
// installation made stayed behind.
TEST_F(SweepFindingsTest, AnInstallationDirectoryWithoutADriveLeavesTheWorkingDirectoryRemovable) {
  FreshMachine(WindowsVersion::Win98);
  InstallQuietly("\\VORTAN\\FTP");
  auto list = m().GetRegValue(HKEY_LOCAL_MACHINE, kKey, "Created Directories");
  ASSERT_TRUE(list.has_value());
  std::string text(list->data.begin(), list->data.end());
  for (size_t at = 0; at < text.size() && text[at] != '\0'; at = text.find('\0', at) + 1)
    EXPECT_EQ(text.compare(at, 3, "C:\\"), 0) << "an entry without a drive: " << text.c_str() + at;
  ASSERT_TRUE(m().IsDirectory(WorkingDir()));
  Remove();
  EXPECT_FALSE(m().Exists(WorkingDir()));
}

// In an installation directory that was the user's, a program file the
// removal could not delete (held open) was neither deleted nor scheduled,
// and the removal said it had completed.
TEST_F(SweepFindingsTest, AProgramFileHeldInTheUsersDirectoryWaitsForTheRestart) {
  FreshMachine(WindowsVersion::XP);
  m().WriteText(In("notes.txt"), "mine");
  InstallQuietly();
  int hold = m().HoldImage(In("QXFTP.EXE"));
  Remove();
  m().Release(hold);
  EXPECT_EQ(boxes().back().text,
            "VORTAN FTP uninstallation requires a reboot to complete successfully.\r\n\r\nDo you want to reboot the "
            "computer now?");
  m().Restart();
  EXPECT_FALSE(m().Exists(In("QXFTP.EXE")));
  EXPECT_EQ(m().ReadText(In("notes.txt")), "mine");
}

// A data folder the installation made in the user's directory that could
// not be removed at once stayed for good: only the directory around it
// used to be scheduled.
TEST_F(SweepFindingsTest, ADataFolderMadeInTheUsersDirectoryIsScheduledWhenInUse) {
  FreshMachine(WindowsVersion::XP);
  m().WriteText(In("notes.txt"), "mine");
  InstallQuietly();
  m().faults.failCall = winsim::Faults::CallFailure{"RemoveDirectoryA", 1, 0};
  Remove();
  m().faults.failCall.reset();
  ASSERT_EQ(m().journal().Count("FailedCall"), 1u);
  m().Restart();
  for (const char* data : {"Transfer", "Certs", "Config", "Traces"}) EXPECT_FALSE(m().Exists(In(data))) << data;
  EXPECT_EQ(m().ReadText(In("notes.txt")), "mine");
}

// The installation took a Docs folder for its own when a look at it
// failed, and the removal then deleted the user's Docs with everything in
// it. Only a folder the installation itself makes counts as made: with any
// one look of the installation failing, the user's Docs stays.
TEST_F(SweepFindingsTest, TheUsersDocsFolderSurvivesAnyFailedLook) {
  size_t runs = 0;
  for (size_t nth = 1;; ++nth) {
    FreshMachine(WindowsVersion::XP);
    m().WriteText(In("Docs\\letter.txt"), "my letter");
    WriteIni(QuietIni());
    m().faults.failCall = winsim::Faults::CallFailure{"GetFileAttributesA", nth, 0};
    RunSetup();
    m().faults.failCall.reset();
    if (m().journal().Count("FailedCall") == 0) break;
    ++runs;
    ResetSetupState();
    Remove();
    ASSERT_EQ(m().ReadText(In("Docs\\letter.txt")), "my letter")
        << "failing look " << nth << ": " << m().journal().OfKind("FailedCall")[0].fields[3];
  }
  EXPECT_GT(runs, 0u);
}

// A record whose list of created directories could not be written would be
// judged by the guard alone, which lets a removal empty a working directory
// that was the user's folder: the record then names no installation, and
// the user's files stay.
TEST_F(SweepFindingsTest, ARecordWhoseListCouldNotBeWrittenNamesNoInstallation) {
  bool reached = false;
  for (size_t nth = 1; !reached; ++nth) {
    FreshMachine(WindowsVersion::XP);
    m().WriteText(WorkingDir() + "\\notes.txt", "mine");
    WriteIni(QuietIni());
    m().faults.failCall = winsim::Faults::CallFailure{"RegSetValueExA", nth, 0};
    RunSetup();
    m().faults.failCall.reset();
    auto failed = m().journal().OfKind("FailedCall");
    ASSERT_FALSE(failed.empty()) << "the list is written";
    if (failed[0].fields[3] != "Created Directories") continue;
    reached = true;
    EXPECT_FALSE(m().GetRegValue(HKEY_LOCAL_MACHINE, kKey, "Installation Directory").has_value());
    ResetSetupState();
    Remove();
    EXPECT_EQ(m().ReadText(WorkingDir() + "\\notes.txt"), "mine");
  }
}

// A standard user's per-user places (the uninstall entry under
// HKEY_CURRENT_USER, the link on the user's desktop) are removed only where
// the record names them: one that could not be recorded outlived the
// removal. With any one opening of a key failing during the installation,
// a removal leaves neither.
TEST_F(SweepFindingsTest, PerUserPlacesThatCannotBeRecordedDoNotOutliveTheRemoval) {
  size_t runs = 0;
  for (size_t nth = 1;; ++nth) {
    FreshMachine(WindowsVersion::Win10x64);
    m().SetUser(winsim::UserKind::StandardUser);
    const std::string dir = m().ShellFolder(CSIDL_LOCAL_APPDATA) + "\\VORTAN\\FTP";
    WriteIni(QuietIni(dir, "BaseRegistry=2\r\n"));
    m().faults.failCall = winsim::Faults::CallFailure{"RegOpenKeyExA", nth, 0};
    RunSetup();
    m().faults.failCall.reset();
    if (m().journal().Count("FailedCall") == 0) break;
    ++runs;
    ResetSetupState();
    Remove();
    std::string failed = m().journal().OfKind("FailedCall")[0].fields[3];
    EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kUninstall)) << "failing opening " << nth << ": " << failed;
    EXPECT_FALSE(m().Exists(m().ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\VORTAN FTP.LNK"))
        << "failing opening " << nth << ": " << failed;
  }
  EXPECT_GT(runs, 0u);
}

}  // namespace
