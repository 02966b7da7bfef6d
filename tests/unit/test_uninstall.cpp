// The quiet removal road: finding the installation, files and data
// directories, restart-time deferral, shortcut, group, registry cleanup and
// the restart question.
#include "fixture.h"

#include <algorithm>
#include <optional>

namespace {

using namespace fixture;

class UninstallTest : public SetupTest {
 protected:
  void SetUp() override { FreshMachine(WindowsVersion::XP); }
  // Installs quietly, then starts a fresh "process" for the removal.
  void Installed(const std::string& extraSetup = "", const std::string& dir = kDir) {
    ASSERT_NO_FATAL_FAILURE(InstallQuietly(dir, extraSetup));
    boxesBeforeRemoval_ = boxes().size();
    m().journal().Clear();
  }
  void Remove(const std::string& ini = kRemovalIni) {
    WriteIni(ini);
    RunSetup();
  }
  std::vector<fixture::Box> RemovalBoxes() const {
    return std::vector<fixture::Box>(boxes().begin() + boxesBeforeRemoval_, boxes().end());
  }
  std::vector<std::string> Pending() const {
    std::vector<std::string> paths;
    for (auto& [from, to] : m().PendingRenames()) paths.push_back(from + (to.empty() ? "" : " -> " + to));
    return paths;
  }
  bool IsPending(const std::string& path) const {
    auto all = Pending();
    return std::find(all.begin(), all.end(), "\\??\\" + path) != all.end();
  }
  size_t PendingCount(const std::string& path) const {
    auto all = Pending();
    return std::count(all.begin(), all.end(), "\\??\\" + path);
  }
  size_t boxesBeforeRemoval_ = 0;
};

// ---- Finding the installation ------------------------------------------------

TEST_F(UninstallTest, NothingInstalledShowsTheRegistryErrorAndTouchesNothing) {
  m().WriteText("C:\\Program Files\\VORTAN\\FTP\\QXFTP.EXE", "someone else's");
  Remove();
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "Unable to locate VORTAN FTP in the Registry.");
  EXPECT_EQ(boxes()[0].caption, "Uninstall Error");
  EXPECT_EQ(boxes()[0].style, static_cast<UINT>(MB_ICONEXCLAMATION | MB_SETFOREGROUND));
  EXPECT_TRUE(m().Exists(In("QXFTP.EXE")));
  EXPECT_TRUE(m().PendingRenames().empty());
}

TEST_F(UninstallTest, KeyWithoutDirectoryShowsTheDirectoryErrorWithTheOwner) {
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Installation Directory", "");
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Program Group", "VORTAN FTP");
  StartUp();
  HWND page = m().CreateTestWindow(300, 200);
  EXPECT_EQ(UninstallProduct(page), 0);
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "Unable to locate the VORTAN FTP Installation Directory.");
  EXPECT_EQ(boxes()[0].owner, winsim::Machine::WindowTag(page));
  EXPECT_TRUE(DdeCommands().empty());
  EXPECT_TRUE(m().KeyExists(HKEY_LOCAL_MACHINE, kKey));
}

// ---- The whole road ----------------------------------------------------------

TEST_F(UninstallTest, InstallThenRemoveLeavesTheMachineAsItWasExceptWhatStays) {
  WriteIni(kRemovalIni);
  auto before = m().Tree("C:\\");
  Installed();
  Remove();
  auto captions = BoxCaptions();
  ASSERT_FALSE(RemovalBoxes().empty());
  EXPECT_EQ(RemovalBoxes().front().caption, "VORTAN FTP Uninstall");
  EXPECT_NE(RemovalBoxes().front().text.find("\"VORTAN FTP\""), std::string::npos);
  EXPECT_EQ(RemovalBoxes().back().text, "VORTAN FTP uninstallation completed successfully.")
      << "nothing was in use, so no restart is needed";
  EXPECT_EQ(Events("DllUnregisterServer").size(), 1u);

  // Only the uninstaller's own file and its directory wait for the restart.
  EXPECT_TRUE(IsPending(In("UNINS.EXE")));
  m().Restart();
  auto after = m().Tree("C:\\");
  std::vector<std::string> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
  EXPECT_EQ(added, std::vector<std::string>{}) << "the parent the installation made goes too";
  EXPECT_TRUE(m().KeyExists(HKEY_LOCAL_MACHINE, "Software\\VORTAN"));
  EXPECT_FALSE(m().KeyExists(HKEY_LOCAL_MACHINE, kKey));
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kKey));
  EXPECT_FALSE(m().KeyExists(HKEY_LOCAL_MACHINE, kUninstall));
  EXPECT_TRUE(m().KeyExists(HKEY_LOCAL_MACHINE, "Software\\Classes\\.qft")) << "the file type stays";
  EXPECT_EQ(m().progman().FindGroup("VORTAN FTP"), nullptr);
  EXPECT_EQ(m().outstanding().Describe(), "");
}

TEST_F(UninstallTest, ProgramGroupItemsGoFirstThenTheQuestionThenTheGroup) {
  Installed();
  Remove();
  EXPECT_EQ(DdeCommands(), (std::vector<std::string>{"[ShowGroup(VORTAN FTP,1)]", "[DeleteItem(VORTAN FTP)]",
                                                     "[DeleteItem(Uninstall VORTAN FTP)]",
                                                     "[DeleteGroup(VORTAN FTP)]"}));
  ASSERT_GE(RemovalBoxes().size(), 1u);
  EXPECT_EQ(RemovalBoxes()[0].text,
            "All program items in group \"VORTAN FTP\" will be deleted.  Are you sure you want to delete the "
            "program group \"VORTAN FTP\"?");
  EXPECT_EQ(RemovalBoxes()[0].style, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
}

TEST_F(UninstallTest, AnsweringNoKeepsTheEmptiedGroup) {
  Installed();
  Answer("VORTAN FTP Uninstall", IDNO);
  Remove();
  const auto* group = m().progman().FindGroup("VORTAN FTP");
  ASSERT_NE(group, nullptr);
  EXPECT_TRUE(group->items.empty());
  EXPECT_EQ(DdeCommands().size(), 3u);
}

TEST_F(UninstallTest, OtherGroupNamesAreAskedAboutAndQuoted) {
  std::string ini = QuietIni();
  ini.replace(ini.find("GroupName=VORTAN FTP"), 20, "GroupName=Tools (x86)");
  WriteIni(ini);
  RunSetup();
  ResetSetupState();
  m().journal().Clear();
  size_t before = boxes().size();
  Remove();
  ASSERT_GT(boxes().size(), before);
  EXPECT_NE(boxes()[before].text.find("group \"Tools (x86)\" will"), std::string::npos);
  EXPECT_EQ(DdeCommands().back(), "[DeleteGroup(\"Tools (x86)\")]");
  EXPECT_EQ(m().progman().FindGroup("Tools (x86)"), nullptr);
}

TEST_F(UninstallTest, NoRecordedGroupOrAStrangeOneGetsNoCommandAndNoQuestion) {
  Installed("", kDir);
  m().DeleteKeyTree(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP\\About");
  auto keyValue = m().GetRegValue(HKEY_LOCAL_MACHINE, kKey, "Program Group");
  ASSERT_TRUE(keyValue);
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Program Group", "..");
  Remove();
  EXPECT_TRUE(DdeCommands().empty());
  for (const auto& box : RemovalBoxes()) EXPECT_EQ(box.text.find("program group"), std::string::npos) << box.text;
  EXPECT_NE(m().progman().FindGroup("VORTAN FTP"), nullptr) << "nothing was sent for the real group either";
}

TEST_F(UninstallTest, GroupRoutinesThemselvesRefuseNamesThatAreNoPlainFolderName) {
  // The removal sequence filters these names first; the shell's routines
  // refuse them as well, for any other caller.
  Installed();
  for (const char* name : {"..", "a\\b", "", " . ", "x:y"}) {
    EXPECT_EQ(DeleteProgramItems(name), 0) << name;
    EXPECT_EQ(DeleteProgramGroup(name), 0) << name;
  }
  EXPECT_TRUE(Events("DdeInitialize").empty());
  EXPECT_NE(m().progman().FindGroup("VORTAN FTP"), nullptr);
}

// ---- Hives -------------------------------------------------------------------

TEST_F(UninstallTest, WorkingDirectoryComesFromTheHiveBaseRegistrySelects) {
  struct Case {
    const char* setup;
    HKEY settings;
    HKEY workingDir;
  };
  const Case cases[] = {
      {"BaseRegistry=0\r\n", HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER},
      {"BaseRegistry=1\r\nUseAllUsersCommonFolderAsWorkingDir=Y\r\n", HKEY_LOCAL_MACHINE, HKEY_LOCAL_MACHINE},
      {"BaseRegistry=2\r\n", HKEY_CURRENT_USER, HKEY_CURRENT_USER}};
  for (const Case& c : cases) {
    FreshMachine(WindowsVersion::XP);
    Installed(c.setup);
    auto recorded = RegString(c.workingDir, kKey, "Working Directory");
    ASSERT_TRUE(recorded) << c.setup;
    // Data the product left in the working directory's data folder.
    m().WriteText(*recorded + "\\Transfer\\download.bin", "data");
    Remove(std::string(kRemovalIni) + c.setup);
    EXPECT_FALSE(m().Exists(*recorded + "\\Transfer\\download.bin")) << c.setup;
    EXPECT_FALSE(m().KeyExists(c.settings, kKey)) << c.setup;
    EXPECT_FALSE(m().KeyExists(c.workingDir, kKey)) << c.setup;
  }
}

TEST_F(UninstallTest, PerUserInstallationIsFoundWithoutSetupIni) {
  // Add/Remove Programs starts Unins.Exe without a SETUP.INI: baseRegistry 0.
  Installed("BaseRegistry=2\r\n");
  m().RemoveTree("C:\\dist\\SETUP.INI");
  StartUp();
  EXPECT_EQ(UninstallProduct(nullptr), 1);
  EXPECT_FALSE(m().KeyExists(HKEY_CURRENT_USER, kKey));
  EXPECT_FALSE(m().Exists(In("QXFTP.EXE")));
  EXPECT_EQ(setupState.baseRegistry, 2);
  for (const auto& box : RemovalBoxes()) EXPECT_NE(box.caption, "Uninstall Error") << box.text;
}

TEST_F(UninstallTest, PerMachineWorkingDirectoryIsFoundWithoutSetupIni) {
  // BaseRegistry 1 keeps the per-user working directory in HKLM; Add/Remove
  // Programs starts Unins.Exe without a SETUP.INI, so the configured rule is 0.
  Installed("BaseRegistry=1\r\nUsePersonalFolderAsWorkingDir=Y\r\n");
  std::string working = m().ShellFolder(CSIDL_PERSONAL) + "\\FTP";
  ASSERT_EQ(RegString(HKEY_LOCAL_MACHINE, kKey, "Working Directory"), working);
  m().WriteText(working + "\\Transfer\\download.bin", "data");
  m().WriteText(working + "\\notes.txt", "data");
  m().RemoveTree("C:\\dist\\SETUP.INI");
  StartUp();
  EXPECT_EQ(UninstallProduct(nullptr), 1);
  EXPECT_FALSE(m().Exists(working)) << "the working directory under My Documents";
  EXPECT_FALSE(m().Exists(In("QXFTP.EXE")));
  EXPECT_EQ(setupState.baseRegistry, 1);
  EXPECT_FALSE(m().KeyExists(HKEY_LOCAL_MACHINE, kKey));
}

TEST_F(UninstallTest, OtherHiveCountsOnlyWithAnInstallationDirectory) {
  // What a per-machine installation leaves in HKCU: only the working directory.
  m().SetRegString(HKEY_CURRENT_USER, kKey, "Working Directory", "C:\\Documents and Settings\\User\\FTP");
  Remove();
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "Unable to locate VORTAN FTP in the Registry.");
  EXPECT_TRUE(m().KeyExists(HKEY_CURRENT_USER, kKey)) << "nothing is touched";

  FreshMachine(WindowsVersion::XP);
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Working Directory", "D:\\Work");
  Remove("[FTPSetup]\r\nQuietModeUnInstall=Y\r\nBaseRegistry=2\r\n");
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "Unable to locate VORTAN FTP in the Registry.");
}

TEST_F(UninstallTest, OtherHiveRecordWithoutBaseRegistryIsRemovedFromWhereItWasFound) {
  // Made by hand or by an older setup: no BaseRegistry. Found in HKLM while
  // SETUP.INI says 2, it is a per-machine record and goes from HKLM.
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Installation Directory", "D:\\Apps\\FTP");
  m().SetRegBinary(HKEY_LOCAL_MACHINE, kKey, "WorkingDirType", {0});
  m().SetRegString(HKEY_CURRENT_USER, "Software\\Other", "x", "y");
  m().WriteText("D:\\Apps\\FTP\\QXFTP.EXE", "product");
  Remove("[FTPSetup]\r\nQuietModeUnInstall=Y\r\nBaseRegistry=2\r\n");
  EXPECT_EQ(setupState.baseRegistry, 0);
  EXPECT_FALSE(m().KeyExists(HKEY_LOCAL_MACHINE, kKey));
  EXPECT_FALSE(m().Exists("D:\\Apps\\FTP\\QXFTP.EXE"));
  EXPECT_TRUE(m().KeyExists(HKEY_CURRENT_USER, "Software\\Other"));
}

TEST_F(UninstallTest, WorkingDirEqualToInstallDirSchedulesTheDirectoryTwice) {
  Installed();
  m().SetRegBinary(HKEY_LOCAL_MACHINE, kKey, "WorkingDirType", {0});
  m().DeleteKeyTree(HKEY_CURRENT_USER, kKey);
  // The uninstaller runs from the installation directory, so it stays.
  int hold = m().HoldImage(In("UNINS.EXE"));
  Remove();
  m().Release(hold);
  auto pending = Pending();
  std::vector<std::string> order;
  for (const auto& p : pending)
    if (p == std::string("\\??\\") + kDir || p == "\\??\\" + In("UNINS.EXE")) order.push_back(p.substr(p.rfind('\\') + 1));
  // Both passes empty the same directory and defer the running uninstaller;
  // then the working-directory pass schedules the directory, and the last
  // step schedules it again after UNINS.EXE.
  EXPECT_EQ(order, (std::vector<std::string>{"UNINS.EXE", "UNINS.EXE", "FTP", "UNINS.EXE", "FTP"}));
}

TEST_F(UninstallTest, StoredWorkingDirTypeOutOfRangeMeansExplicit) {
  Installed();
  m().SetRegBinary(HKEY_LOCAL_MACHINE, kKey, "WorkingDirType", {9});
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Working Directory", "D:\\Work");
  // Recorded as made by the installation: read as explicit, it goes whole.
  m().SetRegValue(HKEY_LOCAL_MACHINE, kKey, "Created Directories", REG_MULTI_SZ,
                  fixture::Bytes(std::string("D:\\Work\0\0", 10)));
  m().WriteText("D:\\Work\\Traces\\t.log", "trace");
  Remove();
  EXPECT_FALSE(m().Exists("D:\\Work\\Traces\\t.log"));
}

// ---- Data directories and deferral ----------------------------------------------

TEST_F(UninstallTest, DataDirectoriesAreHandledInTheirOwnWays) {
  Installed();
  for (const char* sub : {"Transfer", "Certs", "Cache", "Config", "Traces"})
    m().WriteText(In(std::string(sub) + "\\Inner\\x.dat"), "x");
  m().WriteText(In("Assets\\img\\a.png"), "png");
  Remove();
  for (const char* sub : {"Transfer", "Certs", "Cache"}) {
    EXPECT_TRUE(m().IsDirectory(In(sub))) << sub << " stays when it cannot be removed";
    EXPECT_TRUE(IsPending(In(std::string(sub) + "\\Inner"))) << sub << ": its entry is deferred";
  }
  for (const char* sub : {"Config", "Traces"}) EXPECT_TRUE(IsPending(In(sub))) << sub;
  EXPECT_FALSE(m().Exists(In("Docs"))) << "deleted whole by the shell";
  EXPECT_FALSE(m().Exists(In("Assets")));
  EXPECT_EQ(setupState.rebootRequired, 1);
  EXPECT_EQ(RemovalBoxes().back().text,
            "VORTAN FTP uninstallation requires a reboot to complete successfully.\r\n\r\nDo you want to reboot "
            "the computer now?");
  m().Restart();
  EXPECT_TRUE(m().Exists(In("Transfer\\Inner\\x.dat"))) << "removal never descends into a subdirectory";
  EXPECT_FALSE(m().Exists(In("QXFTP.EXE")));
}

TEST_F(UninstallTest, FilesInUseAreDeferredAndMarkTheRestart) {
  Installed();
  m().WriteText(In("Transfer\\open.bin"), "busy");
  int hold = m().Hold(In("Transfer\\open.bin"));
  m().WriteText(In("Transfer\\ro.bin"), "ro");
  m().SetAttributes(In("Transfer\\ro.bin"), FILE_ATTRIBUTE_READONLY);
  m().SetAttributes(In("QXFTP.HLP"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  Answer("VORTAN FTP Uninstall", IDYES);
  Answer("VORTAN FTP Uninstall", IDNO);
  Remove();
  m().Release(hold);
  EXPECT_TRUE(IsPending(In("Transfer\\open.bin")));
  EXPECT_TRUE(IsPending(In("Transfer\\ro.bin")));
  EXPECT_FALSE(m().Exists(In("QXFTP.HLP"))) << "product files have their attributes cleared first";
  EXPECT_FALSE(m().restartRequested()) << "answered No";
  m().Restart();
  EXPECT_FALSE(m().Exists(In("Transfer\\open.bin")));
  EXPECT_FALSE(m().Exists(kDir));
}

TEST_F(UninstallTest, RebootQuestionIsAYesNoInformationBoxAndYesRestarts) {
  Installed();
  m().WriteText(In("Transfer\\open.bin"), "busy");
  int hold = m().Hold(In("Transfer\\open.bin"));
  Answer("VORTAN FTP Uninstall", IDYES);
  Answer("VORTAN FTP Uninstall", IDYES);
  Remove();
  m().Release(hold);
  auto removal = RemovalBoxes();
  ASSERT_EQ(removal.size(), 2u);
  EXPECT_EQ(removal[1].text,
            "VORTAN FTP uninstallation requires a reboot to complete successfully.\r\n\r\n"
            "Do you want to reboot the computer now?");
  EXPECT_EQ(removal[1].caption, "VORTAN FTP Uninstall");
  EXPECT_EQ(removal[1].style, static_cast<UINT>(MB_YESNO | MB_ICONINFORMATION));
  EXPECT_TRUE(m().restartRequested()) << "Yes restarts";
  EXPECT_EQ(m().journal().Count("ExitWindowsEx"), 1u);
}

TEST_F(UninstallTest, ServerDllImportsComeFromItsOwnFolderNotFromBesideTheUninstaller) {
  m().PlantSimDll(m().SystemDir() + "\\QXHELP.DLL", {"Help"});
  m().WriteBytes("C:\\dist\\QXFTP.DL_", fixture::Packed(Machine::SimDllImage({}, {"QXHELP.DLL"}), 'L'));
  Installed();
  m().PlantSimDll("C:\\dist\\QXHELP.DLL", {"Planted"});
  Remove();
  ASSERT_EQ(Events("DllUnregisterServer").size(), 1u);
  auto imports = Events("LoadImport");
  ASSERT_EQ(imports.size(), 1u);
  EXPECT_EQ(imports[0], In("QXFTP.DLL") + "|QXHELP.DLL|" + m().SystemDir() + "\\QXHELP.DLL|0");
}

TEST_F(UninstallTest, RemovalStartedFromTheInstalledUninstallerDefersItself) {
  Installed();
  m().WriteText("C:\\Program Files\\VORTAN\\FTP\\SETUP.INI", kRemovalIni);
  int hold = m().HoldImage(In("UNINS.EXE"));
  RunSetup(kDir, "UNINS.EXE");
  m().Release(hold);
  EXPECT_TRUE(IsPending(In("UNINS.EXE")));
  EXPECT_EQ(setupState.rebootRequired, 1);
}

TEST_F(UninstallTest, RecordedDirectoryIsUsedNotAnEditedOne) {
  Installed();
  m().WriteText("D:\\Edited\\QXFTP.EXE", "not ours");
  StartUp();
  CopyText(setupState.installDir, kPathSize, "D:\\Edited");
  UninstallProduct(nullptr);
  EXPECT_TRUE(m().Exists("D:\\Edited\\QXFTP.EXE"));
  EXPECT_FALSE(m().Exists(In("QXFTP.EXE")));
}

// ---- Protected directories --------------------------------------------------------

TEST_F(UninstallTest, ProtectedDirectoriesKeepEverythingButTheProductFiles) {
  std::string personal = m().ShellFolder(CSIDL_PERSONAL);
  const std::string places[] = {"C:\\", "C:\\Program Files", m().WindowsDir(), personal,
                                m().ShortPath("C:\\Program Files") + "\\", "relative\\dir"};
  for (const std::string& place : places) {
    FreshMachine(WindowsVersion::XP);
    m().WriteText("C:\\Program Files\\Other App\\keep.txt", "keep");
    m().WriteText(personal + "\\letter.doc", "keep");
    m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Installation Directory", place);
    m().SetRegBinary(HKEY_LOCAL_MACHINE, kKey, "WorkingDirType", {0});
    m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Working Directory", place);
    m().MakeDirs(place);
    m().WriteText(place + "\\QXFTP.EXE", "product");
    m().WriteText(place + "\\Docs\\manual.txt", "keep");
    m().WriteText(place + "\\Config\\mine.ini", "keep");
    Remove();
    EXPECT_FALSE(m().Exists(place + "\\QXFTP.EXE")) << place;
    EXPECT_TRUE(m().Exists(place + "\\Docs\\manual.txt")) << place;
    EXPECT_TRUE(m().Exists(place + "\\Config\\mine.ini")) << place;
    EXPECT_TRUE(m().Exists("C:\\Program Files\\Other App\\keep.txt")) << place;
    EXPECT_TRUE(m().Exists(personal + "\\letter.doc")) << place;
    for (const auto& pending : Pending())
      EXPECT_NE(pending.find("UNINS.EXE"), std::string::npos) << place << ": only the uninstaller, got " << pending;
  }
}

const char* const kProductFiles[] = {"QXFTP.EXE", "QXFTP.CHM", "QXFTP.HLP", "QXFTP.FTS", "QXFTP.GID",
                                     "UNINS.EXE", "QXFTP.DLL", "QXFK.DLL",  "QXISFT.DLL", "README.HTM"};

// A record whose installation and working directories are both `place`,
// holding the ten product files and the data of others.
void RecordInstallationAt(fixture::Machine& m, const std::string& place) {
  m.SetRegString(HKEY_LOCAL_MACHINE, kKey, "Installation Directory", place);
  m.SetRegBinary(HKEY_LOCAL_MACHINE, kKey, "WorkingDirType", {0});
  m.SetRegString(HKEY_LOCAL_MACHINE, kKey, "Working Directory", place);
}

TEST_F(UninstallTest, OldSystemsKeepEverythingButTheProductFilesInSharedDirectories) {
  for (WindowsVersion version : {WindowsVersion::Win95, WindowsVersion::Win98, WindowsVersion::NT4}) {
    FreshMachine(version);
    const std::string places[] = {"C:\\Program Files", m().WindowsDir(), "C:\\"};
    for (const std::string& place : places) {
      FreshMachine(version);
      std::string in = place.back() == '\\' ? place : place + "\\";
      RecordInstallationAt(m(), place);
      for (const char* name : kProductFiles) m().WriteText(in + name, "product");
      m().WriteText(in + "other.dll", "keep");
      m().WriteText(in + "Config\\mine.ini", "keep");
      m().WriteText(in + "Docs\\manual.txt", "keep");
      m().WriteText("C:\\Program Files\\Other App\\keep.txt", "keep");
      Remove();
      std::string where = place + " on " + m().WindowsDir();
      for (const char* name : kProductFiles) EXPECT_FALSE(m().Exists(in + name)) << where << ": " << name;
      EXPECT_TRUE(m().Exists(in + "other.dll")) << where;
      EXPECT_TRUE(m().Exists(in + "Config\\mine.ini")) << where;
      EXPECT_TRUE(m().Exists(in + "Docs\\manual.txt")) << where;
      EXPECT_TRUE(m().Exists("C:\\Program Files\\Other App\\keep.txt")) << where;
      m().Restart();
      EXPECT_TRUE(m().Exists(in + "Config\\mine.ini")) << where << ": nothing waits for the restart";
      EXPECT_TRUE(m().IsDirectory(place)) << where;
    }
  }
}

TEST_F(UninstallTest, NtFourProfileRootComesFromTheEnvironment) {
  // The shell of NT 4.0 knows no CSIDL_PROFILE; with the documents and
  // desktop folders elsewhere only USERPROFILE names the profile root.
  FreshMachine(WindowsVersion::NT4);
  for (int csidl : {CSIDL_PERSONAL, CSIDL_DESKTOP, CSIDL_DESKTOPDIRECTORY}) m().SetShellFolder(csidl, "D:\\Moved");
  std::string profile = *m().EnvironmentVariable("USERPROFILE");
  RecordInstallationAt(m(), profile);
  m().WriteText(profile + "\\QXFTP.EXE", "product");
  m().WriteText(profile + "\\NTUSER.DAT", "keep");
  Remove();
  EXPECT_FALSE(m().Exists(profile + "\\QXFTP.EXE"));
  EXPECT_TRUE(m().Exists(profile + "\\NTUSER.DAT"));
  EXPECT_TRUE(Pending().size() <= 1u) << "at most the uninstaller";
}

TEST_F(UninstallTest, OtherSpellingsOfProtectedDirectoriesAreProtected) {
  std::string personal = m().ShellFolder(CSIDL_PERSONAL);  // C:\Documents and Settings\User\My Documents
  std::string tail = personal.substr(3);
  struct Case {
    std::string recorded;
    std::string actual;  // the same directory as winsim reaches it
  };
  const Case cases[] = {
      {"\\\\?\\" + personal, personal},
      {"\\\\.\\" + personal, personal},
      {"\\\\?\\UNC\\localhost\\C$\\" + tail, personal},
      {"\\\\WINSIM\\C$\\" + tail, personal},
      {"\\\\localhost\\c$\\Program Files", "C:\\Program Files"},
      {"\\\\127.0.0.1\\C$", "C:\\"},
      {"\\\\?\\C:\\", "C:\\"},
      {"//?/C:/Program Files", "C:\\Program Files"},
      // A named share of this computer could be any folder: kept.
      {"\\\\localhost\\Shared\\FTP", "\\\\localhost\\Shared\\FTP"},
  };
  for (const Case& c : cases) {
    FreshMachine(WindowsVersion::XP);
    RecordInstallationAt(m(), c.recorded);
    m().WriteText(c.actual + "\\QXFTP.EXE", "product");
    m().WriteText(c.actual + "\\letter.doc", "keep");
    m().WriteText(c.actual + "\\Transfer\\mine.bin", "keep");
    Remove();
    EXPECT_FALSE(m().Exists(c.actual + "\\QXFTP.EXE")) << c.recorded;
    EXPECT_TRUE(m().Exists(c.actual + "\\letter.doc")) << c.recorded;
    EXPECT_TRUE(m().Exists(c.actual + "\\Transfer\\mine.bin")) << c.recorded;
    for (const auto& pending : Pending())
      EXPECT_NE(pending.find("UNINS.EXE"), std::string::npos) << c.recorded << ": only the uninstaller, got " << pending;
  }
}

TEST_F(UninstallTest, ADirectoryNamedLikeTheStartOfAProtectedOneIsRemoved) {
  // "C:\Program" is no ancestor of "C:\Program Files", nor "C:\WIN" of the
  // Windows directory: only whole path components count.
  FreshMachine(WindowsVersion::XP);
  const std::string windows = m().WindowsDir();
  for (const std::string& dir : {std::string("C:\\Program"), windows.substr(0, windows.size() - 2),
                                 std::string("C:\\Program Files\\VORTAN\\FTP")}) {
    FreshMachine(WindowsVersion::XP);
    RecordInstallationAt(m(), dir);
    m().WriteText(dir + "\\QXFTP.EXE", "product");
    m().WriteText(dir + "\\Transfer\\queue.dat", "data");
    Remove();
    EXPECT_FALSE(m().Exists(dir)) << dir;
  }
}

TEST_F(UninstallTest, VolumeDeviceAndBareServerNamesAreProtected) {
  // None names a directory whose contents this program could judge.
  for (const std::string& recorded : {std::string("\\\\?\\Volume{0b1c2d3e-4f50-6172-8394-a5b6c7d8e9f0}\\FTP"),
                                      std::string("\\\\.\\PhysicalDrive0"), std::string("\\\\localhost"),
                                      std::string("\\\\?\\UNC\\localhost"), std::string("\\\\localhost\\1$\\FTP")}) {
    FreshMachine(WindowsVersion::XP);
    RecordInstallationAt(m(), recorded);
    Remove();
    for (const auto& pending : Pending())
      EXPECT_NE(pending.find("UNINS.EXE"), std::string::npos) << recorded << ": only the uninstaller, got " << pending;
    EXPECT_FALSE(m().KeyExists(HKEY_LOCAL_MACHINE, kKey)) << recorded << ": the record still goes";
  }
}

TEST_F(UninstallTest, OtherSpellingsOfAnOrdinaryDirectoryAreStillRemoved) {
  // (An administrative share is never emptied, whichever computer it names.)
  for (const std::string& recorded : {std::string("\\\\?\\D:\\Apps\\FTP"), std::string("\\\\.\\D:\\Apps\\FTP")}) {
    FreshMachine(WindowsVersion::XP);
    RecordInstallationAt(m(), recorded);
    m().WriteText("D:\\Apps\\FTP\\QXFTP.EXE", "product");
    m().WriteText("D:\\Apps\\FTP\\Transfer\\queue.dat", "data");
    Remove();
    EXPECT_FALSE(m().Exists("D:\\Apps\\FTP\\Transfer\\queue.dat")) << recorded;
    EXPECT_FALSE(m().Exists("D:\\Apps\\FTP")) << recorded;
  }
}

TEST_F(UninstallTest, OddRegistryValuesAreRefusedSafely) {
  m().SetRegValue(HKEY_LOCAL_MACHINE, kKey, "Installation Directory", REG_DWORD, {1, 0, 0, 0});
  Remove();
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "Unable to locate the VORTAN FTP Installation Directory.");

  FreshMachine(WindowsVersion::XP);
  m().SetRegValue(HKEY_LOCAL_MACHINE, kKey, "Installation Directory", REG_SZ,
                  fixture::Bytes(std::string(300, 'Z')));
  Remove();
  EXPECT_EQ(boxes().back().text, "Unable to locate the VORTAN FTP Installation Directory.");
}

// ---- Registry cleanup -----------------------------------------------------------------

TEST_F(UninstallTest, NestedKeysAreRemovedAndNeighboursStay) {
  m().SetRegString(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\Other", "x", "y");
  m().SetRegString(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP\\A\\B\\C\\D", "deep", "1");
  m().SetRegString(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP\\A\\B2", "deep", "1");
  m().SetRegString(HKEY_LOCAL_MACHINE, "Software\\Toval\\FTP", "Installation Directory", "E:\\Legacy");
  StartUp();
  RemoveRegistryEntries();
  EXPECT_FALSE(m().KeyExists(HKEY_LOCAL_MACHINE, kKey));
  EXPECT_TRUE(m().KeyExists(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\Other"));
  EXPECT_TRUE(m().KeyExists(HKEY_LOCAL_MACHINE, "Software\\Toval\\FTP"));
}

TEST_F(UninstallTest, UndeletableAndOverLongSubkeysDoNotHangTheCleanup) {
  m().SetRegString(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP\\Locked\\Inner", "v", "1");
  m().SetRegString(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP\\" + std::string(80, 'L'), "v", "1");
  m().SetRegString(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP\\Zeta", "v", "1");
  m().DenyKey(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP\\Locked");
  StartUp();
  RemoveRegistryEntries();
  EXPECT_TRUE(m().KeyExists(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP\\Locked"));
  EXPECT_FALSE(m().KeyExists(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP\\Zeta")) << "the loop went past";
}

// ---- Restart ---------------------------------------------------------------------------

class RestartTest : public UninstallTest {};

TEST_F(RestartTest, NtRestartTakesThePrivilegeAndReboots) {
  StartUp();
  RestartWindows();
  EXPECT_TRUE(boxes().empty());
  EXPECT_TRUE(m().restartRequested());
}

TEST_F(RestartTest, EachFailingCallHasItsOwnBox) {
  m().faults.openProcessToken = ERROR_ACCESS_DENIED;
  m().faults.exitWindowsEx = ERROR_PRIVILEGE_NOT_HELD;
  StartUp();
  RestartWindows();
  EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Error", "Error", "Error"}));
  ASSERT_EQ(boxes().size(), 3u);
  EXPECT_EQ(boxes()[0].text, "OpenProcessToken");
  EXPECT_EQ(boxes()[1].text, "AdjustTokenPrivileges");
  EXPECT_EQ(boxes()[2].text, "ExitWindowsEx");
  EXPECT_EQ(boxes()[0].style, 0u);
}

TEST_F(RestartTest, PrivilegeNotAssignedIsReported) {
  m().faults.privilegeNotAssigned = true;
  StartUp();
  RestartWindows();
  ASSERT_GE(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "AdjustTokenPrivileges");
}

TEST_F(RestartTest, NineXRestartsWithoutPrivilegesOrBoxes) {
  FreshMachine(WindowsVersion::Win98);
  m().faults.openProcessToken = ERROR_CALL_NOT_IMPLEMENTED;
  StartUp();
  RestartWindows();
  EXPECT_TRUE(boxes().empty());
  EXPECT_TRUE(m().restartRequested());
}

TEST_F(RestartTest, NineXDeferralsGoToWininitWithShortPaths) {
  FreshMachine(WindowsVersion::Win98);
  m().WriteText(m().WindowsDir() + "\\WININIT.INI", "[rename]\r\nNUL=C:\\OLD.TMP\r\n[other]\r\nx=y\r\n");
  m().WriteText("C:\\Program Files\\VORTAN\\FTP\\UNINS.EXE", "u");
  StartUp();
  ScheduleDeleteAtRestart("C:\\Program Files\\VORTAN\\FTP\\UNINS.EXE", true);
  ScheduleDeleteAtRestart("C:\\Program Files\\VORTAN\\FTP", false);
  ScheduleDeleteAtRestart("C:\\Never\\There", false);
  EXPECT_EQ(setupState.rebootRequired, 1);
  std::string shortDir = m().ShortPath("C:\\Program Files\\VORTAN\\FTP");
  EXPECT_EQ(FileText(m().WindowsDir() + "\\WININIT.INI"),
            "[rename]\r\nNUL=C:\\OLD.TMP\r\nNUL=" + shortDir + "\\UNINS.EXE\r\nNUL=" + shortDir +
                "\r\n[other]\r\nx=y\r\n");
  m().Restart();
  EXPECT_FALSE(m().Exists("C:\\Program Files\\VORTAN\\FTP\\UNINS.EXE"));
}

TEST_F(RestartTest, NineXWininitIsNeverLeftCutShort) {
  FreshMachine(WindowsVersion::Win98);
  const std::string wininit = m().WindowsDir() + "\\WININIT.INI";
  // Other programs' pending operations, which a cut file would lose.
  const std::string old = "[rename]\r\nNUL=C:\\OTHER\\OLD.TMP\r\nC:\\APP\\NEW.DLL=C:\\APP\\NEW.TMP\r\n";
  const std::string target = "C:\\Program Files\\VORTAN\\FTP\\UNINS.EXE";
  m().WriteText(wininit, old);
  m().WriteText(target, "u");
  StartUp();
  auto windowsBefore = m().List(m().WindowsDir());
  for (const char* failing : {"WriteFile", "GetTempFileNameA"}) {
    // The next call of that function fails (WriteFile: ERROR_DISK_FULL).
    uint64_t next = 1 + static_cast<uint64_t>(std::count(m().calls().begin(), m().calls().end(), failing));
    m().faults.failCall = winsim::Faults::CallFailure{failing, next, 0};
    ScheduleDeleteAtRestart(target.c_str(), true);
    EXPECT_EQ(m().journal().Count("FailedCall"), failing == std::string("WriteFile") ? 1u : 2u) << failing;
    EXPECT_EQ(FileText(wininit), old) << failing << ": byte for byte";
    EXPECT_EQ(m().List(m().WindowsDir()), windowsBefore) << failing << ": no new file left behind";
  }
  m().faults.failCall.reset();
  ScheduleDeleteAtRestart(target.c_str(), true);
  EXPECT_EQ(FileText(wininit), old + "NUL=" + m().ShortPath(target) + "\r\n");
  EXPECT_EQ(m().List(m().WindowsDir()), windowsBefore);
}

TEST_F(RestartTest, NineXWininitOfEveryShapeGetsTheLineInItsRenameSection) {
  const std::string target = "C:\\Program Files\\VORTAN\\FTP\\UNINS.EXE";
  struct Case {
    std::optional<std::string> before;  // none: no WININIT.INI yet
    std::string after;                  // "@" stands for the new line
  };
  const Case cases[] = {
      {std::nullopt, "[rename]\r\n@\r\n"},
      {"", "[rename]\r\n@\r\n"},
      {"[boot]\r\nx=1", "[boot]\r\nx=1\r\n[rename]\r\n@\r\n"},
      {"  [Rename]  \r\nNUL=C:\\A\r\n", "  [Rename]  \r\nNUL=C:\\A\r\n@\r\n"},
      {"[rename]\r\nNUL=C:\\A", "[rename]\r\nNUL=C:\\A\r\n@\r\n"},
      {"[rename\r\nNUL=C:\\A\r\n", "[rename\r\nNUL=C:\\A\r\n[rename]\r\n@\r\n"},
      {"\n\n[rename]\nNUL=C:\\A\n[x]\n", "\n\n[rename]\nNUL=C:\\A\n@\r\n[x]\n"},
      {"[rename]\r\nNUL=C:\\A\r\n[x]", "[rename]\r\nNUL=C:\\A\r\n@\r\n[x]"},
  };
  for (const Case& c : cases) {
    FreshMachine(WindowsVersion::Win98);
    const std::string wininit = m().WindowsDir() + "\\WININIT.INI";
    if (c.before) m().WriteText(wininit, *c.before);
    m().WriteText(target, "u");
    StartUp();
    ScheduleDeleteAtRestart(target.c_str(), true);
    std::string expected = c.after;
    expected.replace(expected.find('@'), 1, "NUL=" + m().ShortPath(target));
    EXPECT_EQ(FileText(wininit), expected) << "from \"" << c.before.value_or("(none)") << "\"";
  }
}

TEST_F(RestartTest, NineXWininitTooLargeToBeOneIsLeftAlone) {
  FreshMachine(WindowsVersion::Win98);
  const std::string wininit = m().WindowsDir() + "\\WININIT.INI";
  const std::string huge = "[rename]\r\n" + std::string(4 * 1024 * 1024, ';');
  m().WriteText(wininit, huge);
  m().WriteText("C:\\FTP\\UNINS.EXE", "u");
  StartUp();
  auto windowsBefore = m().List(m().WindowsDir());
  ScheduleDeleteAtRestart("C:\\FTP\\UNINS.EXE", true);
  EXPECT_TRUE(FileText(wininit) == huge) << "not rewritten";
  EXPECT_EQ(m().List(m().WindowsDir()), windowsBefore) << "no temporary copy left";
}

TEST_F(RestartTest, NineXRemovalEndToEnd) {
  FreshMachine(WindowsVersion::Win98);
  Installed();
  m().WriteText(In("Transfer\\open.bin"), "busy");
  int hold = m().Hold(In("Transfer\\open.bin"));
  Answer("VORTAN FTP Uninstall", IDYES);
  Answer("VORTAN FTP Uninstall", IDNO);
  Remove();
  m().Release(hold);
  auto wininit = m().ReadText(m().WindowsDir() + "\\WININIT.INI");
  ASSERT_TRUE(wininit);
  EXPECT_NE(wininit->find("NUL=" + m().ShortPath(In("UNINS.EXE"))), std::string::npos) << *wininit;
  m().Restart();
  EXPECT_FALSE(m().Exists(In("Transfer\\open.bin")));
}

}  // namespace
