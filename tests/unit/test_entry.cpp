// The entry's roads and the launches after a successful wizard installation.
#include "fixture.h"

namespace {

using fixture::FolderRoute;
using fixture::SetupTest;
using fixture::WindowsVersion;

class EntryTest : public SetupTest {
 protected:
  // The state the wizard leaves after a successful installation.
  void InstalledThrough(const std::string& dir) {
    StartUp();
    CopyText(setupState.installDir, kPathSize, dir.c_str());
    setupState.installSucceeded = 1;
    m().WriteText(m().WindowsDir() + "\\HH.EXE", "viewer");
    std::string program = dir + (dir.back() == '\\' ? "" : "\\") + "QXFTP.EXE";
    m().WriteText(program, "program");
  }
  std::vector<std::pair<std::string, std::string>> Launched() const {
    std::vector<std::pair<std::string, std::string>> launched;
    for (const auto& p : m().processes()) launched.push_back({p.commandLine, p.currentDirectory});
    return launched;
  }
};

TEST_F(EntryTest, HelpThenProgramWithExactCommandLines) {
  InstalledThrough("C:\\Program Files\\VORTAN\\FTP");
  LaunchSelectedItems();
  std::string windows = m().ShellFolder(CSIDL_WINDOWS);
  ASSERT_EQ(Launched().size(), 2u);
  EXPECT_EQ(Launched()[0].first, "\"" + windows + "\\HH.EXE\" C:\\Program Files\\VORTAN\\FTP\\qxftp.chm");
  EXPECT_EQ(Launched()[0].second, "C:\\dist") << "the help viewer starts in the setup's own directory";
  EXPECT_EQ(Launched()[1].first, "\"C:\\Program Files\\VORTAN\\FTP\\QXFTP.EXE\"");
  EXPECT_EQ(Launched()[1].second, "C:\\Program Files\\VORTAN\\FTP");
  // Each launch waits until the program is ready for input.
  int firstWait = m().journal().IndexOf("WaitForInputIdle");
  int secondStart = m().journal().IndexOf("CreateProcess", {}, m().journal().IndexOf("CreateProcess") + 1);
  EXPECT_GE(firstWait, 0);
  EXPECT_LT(firstWait, secondStart);
  EXPECT_EQ(m().outstanding().processHandles, 0) << "process and thread handles are closed";
}

TEST_F(EntryTest, TrailingBackslashGivesNoDoubledBackslash) {
  InstalledThrough("D:\\Apps\\");
  LaunchSelectedItems();
  ASSERT_EQ(Launched().size(), 2u);
  EXPECT_NE(Launched()[0].first.find(" D:\\Apps\\qxftp.chm"), std::string::npos) << Launched()[0].first;
  EXPECT_EQ(Launched()[1].first, "\"D:\\Apps\\QXFTP.EXE\"");
}

TEST_F(EntryTest, WindowsFolderLookupFailingStartsTheViewerByBareName) {
  m().FailShellFolder(CSIDL_WINDOWS, FolderRoute::ShFolder);
  InstalledThrough("D:\\Apps");
  LaunchSelectedItems();
  auto records = Events("CreateProcess");
  ASSERT_FALSE(records.empty());
  EXPECT_NE(records[0].find("\"HH.EXE\" D:\\Apps\\qxftp.chm"), std::string::npos) << records[0];
}

TEST_F(EntryTest, AViewerPathTooLongForTheCommandLineIsNotStarted) {
  InstalledThrough("D:\\Apps");
  m().SetShellFolder(CSIDL_WINDOWS, "C:\\" + std::string(250, 'W'));
  LaunchSelectedItems();
  ASSERT_EQ(Launched().size(), 1u) << "neither a cut viewer path nor the bare name, which the search rules resolve";
  EXPECT_EQ(Launched()[0].first, "\"D:\\Apps\\QXFTP.EXE\"");
}

TEST_F(EntryTest, NothingIsLaunchedAfterRemovalFailureOrAQuietRun) {
  InstalledThrough("D:\\Apps");
  setupState.setupType = 3;
  LaunchSelectedItems();
  setupState.setupType = 0;
  setupState.installSucceeded = 0;
  LaunchSelectedItems();
  setupState.installSucceeded = 1;
  setupState.quietInstall = TRUE;
  LaunchSelectedItems();
  EXPECT_TRUE(Events("CreateProcess").empty());
}

TEST_F(EntryTest, OnlyTheChosenItemsAreLaunched) {
  InstalledThrough("D:\\Apps");
  setupState.launchHelp = 0;
  LaunchSelectedItems();
  ASSERT_EQ(Launched().size(), 1u);
  EXPECT_EQ(Launched()[0].first, "\"D:\\Apps\\QXFTP.EXE\"");
}

TEST_F(EntryTest, CommandLinesThatWouldNotFitAreNotLaunched) {
  std::string dir = "D:\\" + std::string(248, 'x');
  InstalledThrough(dir);
  LaunchSelectedItems();
  EXPECT_TRUE(Events("CreateProcess").empty()) << "the help line would exceed 259 characters";
  ASSERT_EQ(m().processes().size(), 0u);

  std::string shorter = "D:\\" + std::string(240, 'y');
  InstalledThrough(shorter);
  setupState.launchHelp = 0;
  LaunchSelectedItems();
  ASSERT_EQ(Launched().size(), 1u) << "the program line alone still fits";
  EXPECT_EQ(Launched()[0].first, "\"" + shorter + "\\QXFTP.EXE\"");

  // With its quotes the line is two characters longer than the path.
  std::string exact = "D:\\" + std::string(245, 'z');
  InstalledThrough(exact);
  setupState.launchHelp = 0;
  LaunchSelectedItems();
  EXPECT_EQ(m().processes().size(), 1u) << "a quoted line of 260 characters is not launched";
}

TEST_F(EntryTest, PlantedProgramOnTheWayIsNotStarted) {
  // An unquoted C:\Program Files\... line would start C:\Program.exe first.
  m().WriteText("C:\\Program.exe", "MZWINSIM-EXE\n");
  InstalledThrough("C:\\Program Files\\VORTAN\\FTP");
  setupState.launchHelp = 0;
  LaunchSelectedItems();
  ASSERT_EQ(m().processes().size(), 1u);
  EXPECT_EQ(m().processes()[0].modulePath, "C:\\Program Files\\VORTAN\\FTP\\QXFTP.EXE");
}

TEST_F(EntryTest, FailedLaunchIsSilent) {
  InstalledThrough("D:\\Apps");
  m().faults.createProcess = ERROR_FILE_NOT_FOUND;
  LaunchSelectedItems();
  EXPECT_TRUE(boxes().empty());
  EXPECT_TRUE(Events("WaitForInputIdle").empty());
}

TEST_F(EntryTest, CommonControlsErrorText) {
  ShowCommonControlsError();
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].caption, "Windows Common Controls Error");
  EXPECT_EQ(boxes()[0].style, static_cast<UINT>(MB_SETFOREGROUND | MB_ICONWARNING));
  EXPECT_EQ(boxes()[0].owner, "NULL");
  EXPECT_EQ(boxes()[0].text.rfind("VORTAN FTP Pro has detected an outdated version of the Windows Common Control "
                                  "DLL (COMCTL32.DLL) on your system.  The updated file",
                                  0),
            0u);
}

TEST_F(EntryTest, EntryRecordsTheSystemAndStartDirectory) {
  FreshMachine(WindowsVersion::Win98);
  RunSetup();
  EXPECT_EQ(setupState.osVersion.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
  EXPECT_EQ(setupState.osVersion.dwMajorVersion, 4u);
  EXPECT_EQ(setupState.osVersion.dwMinorVersion, 10u);
  EXPECT_STREQ(setupState.startDir, "C:\\dist");
  EXPECT_EQ(setupState.instance, reinterpret_cast<HINSTANCE>(0x400000));
}

}  // namespace
