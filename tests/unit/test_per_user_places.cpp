// A per-user installation (BaseRegistry=2) by a user who may not write the
// machine's places: HKEY_LOCAL_MACHINE (and with it HKEY_CLASSES_ROOT) and
// the all-users desktop. The installation uses the user's own places there,
// records which it used, and the removal deletes what its record names.
#include "fixture.h"

namespace {

using namespace fixture;

constexpr char kUserDir[] = "D:\\Apps\\FTP";
constexpr char kPerUser[] = "BaseRegistry=2\r\n";
constexpr char kPerUserRemoval[] = "[FTPSetup]\r\nQuietModeUnInstall=Y\r\nBaseRegistry=2\r\n";
constexpr char kUninstallParent[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

class PerUserPlacesTest : public SetupTest {
 protected:
  void SetUp() override { FreshMachine(WindowsVersion::XP); }
  // What a standard user meets on the machine's places: HKEY_LOCAL_MACHINE
  // (HKEY_CLASSES_ROOT with it) refuses writes, and the all-users desktop
  // refuses the link (here a read-only file of its name).
  void RefuseMachinePlaces() {
    m().SetHiveReadOnly(HKEY_LOCAL_MACHINE);
    m().WriteText(CommonLink(), "not writable");
    m().SetAttributes(CommonLink(), FILE_ATTRIBUTE_READONLY);
  }
  std::string CommonLink() const {
    return m().ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\VORTAN FTP.LNK";
  }
  void InstallPerUser() {
    WriteIni(QuietIni(kUserDir, kPerUser));
    RunSetup();
  }
  std::string UserLink() const { return m().ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\VORTAN FTP.LNK"; }
};

TEST_F(PerUserPlacesTest, PerUserInstallationUsesTheUsersPlacesQuietlyAndRecordsThem) {
  RefuseMachinePlaces();
  InstallPerUser();
  EXPECT_EQ(setupState.installSucceeded, 1);
  EXPECT_TRUE(boxes().empty()) << "a quiet installation shows nothing";
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kUninstall, "DisplayName"), "VORTAN FTP");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kUninstall, "UninstallString"), "\"D:\\Apps\\FTP\\Unins.Exe\"");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, "Software\\Classes\\.qft", ""), "Keldra.FTP.1");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, "Software\\Classes\\Keldra.FTP.1\\shell\\open\\command", ""),
            "\"D:\\Apps\\FTP\\Qxftp.exe\" /f\"%1\"");
  EXPECT_TRUE(m().Exists(UserLink()));
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, "Uninstall Entry"), "HKEY_CURRENT_USER");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, "File Type"), "HKEY_CURRENT_USER");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, "Desktop Shortcut"), UserLink());
}

TEST_F(PerUserPlacesTest, RemovalDeletesTheRecordedPlacesAndNeverTheOtherHives) {
  RefuseMachinePlaces();
  InstallPerUser();
  ASSERT_EQ(setupState.installSucceeded, 1);
  ResetSetupState();
  // Another installation's entry and link, in the places this one did not use.
  m().SetHiveReadOnly(HKEY_LOCAL_MACHINE, false);
  m().SetRegString(HKEY_LOCAL_MACHINE, kUninstall, "DisplayName", "VORTAN FTP");
  const std::string commonLink = CommonLink();
  m().SetAttributes(commonLink, FILE_ATTRIBUTE_NORMAL);
  m().WriteText(commonLink, "another installation's");
  WriteIni(kPerUserRemoval);
  RunSetup();
  EXPECT_EQ(boxes().back().text, "VORTAN FTP uninstallation completed successfully.");
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kUninstall));
  EXPECT_FALSE(m().Exists(UserLink()));
  EXPECT_TRUE(m().KeyExists(HKEY_LOCAL_MACHINE, kUninstall)) << "not this installation's";
  EXPECT_TRUE(m().Exists(commonLink));
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, "Software\\Classes\\.qft", ""), "Keldra.FTP.1") << "the type stays";
}

TEST_F(PerUserPlacesTest, AdministratorsPerUserInstallationKeepsTheMachinePlaces) {
  InstallPerUser();
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstall, "DisplayName"), "VORTAN FTP");
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kUninstall));
  EXPECT_EQ(RegString(HKEY_CLASSES_ROOT, ".qft", ""), "Keldra.FTP.1");
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, "Software\\Classes\\.qft"));
  const std::string commonLink = m().ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\VORTAN FTP.LNK";
  EXPECT_TRUE(m().Exists(commonLink));
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, "Uninstall Entry"), "HKEY_LOCAL_MACHINE");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, "File Type"), "HKEY_CLASSES_ROOT");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, "Desktop Shortcut"), commonLink);
}

TEST_F(PerUserPlacesTest, PerMachineInstallationNeverMovesItsPlaces) {
  RefuseMachinePlaces();
  WriteIni(QuietIni(kUserDir));
  RunSetup();
  EXPECT_FALSE(m().Exists(UserLink()));
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kUninstall)) << "only a per-user installation moves its entry";
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, "Software\\Classes\\.qft"));
}

TEST_F(PerUserPlacesTest, NtFourKeepsTheFileTypeInTheMachinesClassesOnly) {
  FreshMachine(WindowsVersion::NT4);
  RefuseMachinePlaces();
  InstallPerUser();
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, "Software\\Classes\\.qft")) << "NT 4.0 merges no user classes";
  EXPECT_FALSE(RegString(HKEY_CURRENT_USER, kKey, "File Type").has_value());
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, "Uninstall Entry"), "HKEY_CURRENT_USER");
}

TEST_F(PerUserPlacesTest, RecordWithoutPlacesRemovesTheTextsPlaces) {
  InstallPerUser();
  ResetSetupState();
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  for (const char* name : {"Uninstall Entry", "File Type", "Desktop Shortcut"}) RegDeleteValueA(key, name);
  RegCloseKey(key);
  m().SetRegString(HKEY_CURRENT_USER, kUninstall, "DisplayName", "someone's");
  WriteIni(kPerUserRemoval);
  RunSetup();
  EXPECT_FALSE(m().KeyExists(HKEY_LOCAL_MACHINE, kUninstall));
  EXPECT_TRUE(m().KeyExists(HKEY_CURRENT_USER, kUninstall)) << "never probed";
  EXPECT_FALSE(m().Exists(m().ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\VORTAN FTP.LNK"));
}

}  // namespace

// The same on the machines people run today: a standard user under UAC on
// 32-bit Windows 7 and on 64-bit Windows 10 (the program under WOW64).
class StandardUserPlacesTest : public SetupTest, public ::testing::WithParamInterface<WindowsVersion> {
 protected:
  void SetUp() override {
    FreshMachine(GetParam());
    m().SetUser(winsim::UserKind::StandardUser);
  }
  std::string UserLink() const { return m().ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\VORTAN FTP.LNK"; }
};

TEST_P(StandardUserPlacesTest, QuietPerUserInstallationIsCompleteAndItsRemovalTakesItAll) {
  WriteIni(QuietIni(kUserDir, kPerUser));
  RunSetup();
  EXPECT_EQ(setupState.installSucceeded, 1);
  EXPECT_TRUE(boxes().empty()) << "no box on a quiet installation";
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kUninstall, "UninstallString"), "\"D:\\Apps\\FTP\\Unins.Exe\"");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, "Software\\Classes\\.qft", ""), "Keldra.FTP.1");
  EXPECT_TRUE(m().Exists(UserLink()));
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, "Uninstall Entry"), "HKEY_CURRENT_USER");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, "File Type"), "HKEY_CURRENT_USER");
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, "Desktop Shortcut"), UserLink());

  ResetSetupState();
  WriteIni(kPerUserRemoval);
  RunSetup();
  EXPECT_EQ(boxes().back().text, "VORTAN FTP uninstallation completed successfully.");
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kUninstall));
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kKey));
  EXPECT_FALSE(m().Exists(UserLink()));
  EXPECT_FALSE(m().Exists(kUserDir));
}

TEST_P(StandardUserPlacesTest, PerMachineInstallationStillFailsWithTheFailureBox) {
  WriteIni("[FTPSetup]\r\nBaseRegistry=0\r\nQuietModeInstall=Y\r\n");
  RunSetup();
  EXPECT_EQ(setupState.installSucceeded, 0);
  ASSERT_FALSE(boxes().empty());
  EXPECT_EQ(boxes().back().text, kFailureText);
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kUninstall)) << "only a per-user installation moves its entry";
}

INSTANTIATE_TEST_SUITE_P(Editions, StandardUserPlacesTest,
                         ::testing::Values(WindowsVersion::Win7, WindowsVersion::Win10x64));

#ifdef SETUP_RES_PATH

#include "wizard/wizard.h"

namespace {

using namespace fixture;
using winsim::UserAction;
using winsim::WizButton;

// The wizard's road for a standard user on 64-bit Windows 10 installing for
// themselves (BaseRegistry=2) into their own profile: the installation is
// complete in the user's places and shows only its final box; the removal
// takes all of it.
class StandardUserWizardTest : public SetupTest {
 protected:
  void SetUp() override {
    ResetWizardState();
    FreshMachine(WindowsVersion::Win10x64);
    m().SetUser(winsim::UserKind::StandardUser);
    std::string why;
    ASSERT_TRUE(m().LoadResourceFile(SETUP_RES_PATH, reinterpret_cast<HINSTANCE>(0x400000), &why)) << why;
  }
  void TearDown() override { ResetWizardState(); }
  std::string Dir() const { return m().ShellFolder(CSIDL_LOCAL_APPDATA) + "\\Programs\\VORTAN\\FTP"; }
  std::string UserLink() const { return m().ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\VORTAN FTP.LNK"; }
  std::string GroupFolder() const { return m().ShellFolder(CSIDL_PROGRAMS) + "\\VORTAN FTP"; }
  // Installs through the five pages (both launches unchecked), then removes
  // through page 1; returns the boxes each showed.
  void InstallThroughTheWizard() {
    WriteIni("[FTPSetup]\r\nBaseRegistry=2\r\n");
    m().ScriptWizard({UserAction::Press(WizButton::Next), UserAction::Click(IDC_AGREE_YES),
                      UserAction::Press(WizButton::Next), UserAction::Type(IDC_INSTALL_DIR, Dir()),
                      UserAction::Press(WizButton::Next), UserAction::Press(WizButton::Next),
                      UserAction::Click(IDC_LAUNCH_HELP), UserAction::Click(IDC_LAUNCH_PROGRAM),
                      UserAction::Press(WizButton::Finish)});
    RunSetup();
    EXPECT_EQ(m().UnusedWizardActions(), 0u);
  }
  void RemoveThroughTheWizard() {
    ResetSetupState();
    ResetWizardState();
    WriteIni("[FTPSetup]\r\nBaseRegistry=2\r\n");
    m().ScriptWizard({UserAction::Click(IDC_UNINSTALL), UserAction::Press(WizButton::Finish)});
    RunSetup();
    EXPECT_EQ(m().UnusedWizardActions(), 0u);
  }
  std::vector<std::string> BoxTexts(size_t from = 0) const {
    std::vector<std::string> texts;
    for (size_t i = from; i < boxes().size(); ++i) texts.push_back(boxes()[i].text);
    return texts;
  }
  void ExpectCompleteInTheUsersPlaces() {
    EXPECT_EQ(setupState.installSucceeded, 1);
    EXPECT_TRUE(m().Exists(Dir() + "\\QXFTP.EXE"));
    EXPECT_EQ(RegString(HKEY_CURRENT_USER, kUninstall, "UninstallString"), "\"" + Dir() + "\\Unins.Exe\"");
    EXPECT_EQ(RegString(HKEY_CURRENT_USER, "Software\\Classes\\.qft", ""), "Keldra.FTP.1");
    EXPECT_TRUE(m().Exists(UserLink()));
    EXPECT_FALSE(m().KeyExists(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\"
                                                   "Uninstall\\VORTAN FTP"));
  }
  void ExpectAllRemoved() {
    EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kUninstall));
    EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kKey));
    EXPECT_FALSE(m().Exists(UserLink()));
    EXPECT_FALSE(m().Exists(GroupFolder()));
    EXPECT_FALSE(m().Exists(Dir()));
    EXPECT_TRUE(m().PendingRenames().empty()) << "a standard user can schedule nothing; nothing needed it";
  }
};

TEST_F(StandardUserWizardTest, WithProgramManagerOnlyTheSuccessBoxIsShown) {
  InstallThroughTheWizard();
  ExpectCompleteInTheUsersPlaces();
  EXPECT_NE(m().progman().FindGroup("VORTAN FTP"), nullptr);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"VORTAN FTP installation completed successfully."});
  size_t before = boxes().size();
  RemoveThroughTheWizard();
  EXPECT_EQ(boxes().back().text, "VORTAN FTP uninstallation completed successfully.");
  EXPECT_EQ(m().progman().FindGroup("VORTAN FTP"), nullptr);
  ExpectAllRemoved();
  for (const std::string& text : BoxTexts(before)) EXPECT_EQ(text.find("reboot"), std::string::npos) << text;
}

TEST_F(StandardUserWizardTest, WithoutProgramManagerTheGroupIsAFolderOfTheUsersPrograms) {
  m().faults.noProgmanService = true;
  InstallThroughTheWizard();
  ExpectCompleteInTheUsersPlaces();
  EXPECT_TRUE(m().Exists(GroupFolder() + "\\VORTAN FTP.lnk"));
  EXPECT_TRUE(m().Exists(GroupFolder() + "\\Uninstall VORTAN FTP.lnk"));
  // Page 4 still reports that it could not list the groups, as it does
  // wherever no Program Manager answers; then only the success box.
  EXPECT_EQ(BoxTexts(),
            (std::vector<std::string>{"DDE Error = 400A", "VORTAN FTP installation completed successfully."}));
  RemoveThroughTheWizard();
  EXPECT_EQ(boxes().back().text, "VORTAN FTP uninstallation completed successfully.");
  ExpectAllRemoved();
}

}  // namespace

#endif  // SETUP_RES_PATH
