// The entry: records the running system, has the configuration read, then
// takes exactly one road. The command line is not used; every choice comes
// from SETUP.INI and the wizard. The process always exits with 1.
#include "install/install.h"
#include "setup/setup.h"
#include "uninstall/uninstall.h"
#include "wizard/wizard.h"

#include <cstring>

namespace {

// Builds the help viewer's command line: the viewer quoted (from the Windows
// folder, or by bare name for the search rules to find), one blank, then the
// help file unquoted. False when it would not fit.
bool BuildHelpCommandLine(char* commandLine) {
  PathBuffer helpFile = {};
  if (!BuildPath(helpFile, setupState.installDir, "qxftp.chm"))
    return false;

  PathBuffer windowsFolder = {};
  commandLine[0] = '\0';
  if (GetShellFolderPath(CSIDL_WINDOWS, windowsFolder) == S_OK) {
    if (!AppendText(commandLine, kPathSize, "\"") || !AppendText(commandLine, kPathSize, windowsFolder) ||
        !JoinPath(commandLine, kPathSize, "HH.EXE"))
      return false;
    return AppendText(commandLine, kPathSize, "\" ") && AppendText(commandLine, kPathSize, helpFile);
  }
  return AppendText(commandLine, kPathSize, "\"HH.EXE\" ") && AppendText(commandLine, kPathSize, helpFile);
}

}  // namespace

void ShowCommonControlsError() {
  MessageBoxA(nullptr,
              "VORTAN FTP Pro has detected an outdated version of the Windows Common Control DLL "
              "(COMCTL32.DLL) on your system.  The updated file may be downloaded from Microsoft's web "
              "site by searching for 'COMCTL32.DLL' or by installing a newer version of the Internet "
              "Explorer browser.",
              "Windows Common Controls Error", MB_SETFOREGROUND | MB_ICONWARNING);
}

void LaunchProcess(LPCSTR currentDirectory, LPSTR commandLine) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  GetStartupInfoA(&startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, currentDirectory, &startup,
                      &process))
    return;
  // The next launch (or the exit) waits until this program is ready for input.
  WaitForInputIdle(process.hProcess, INFINITE);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

void LaunchSelectedItems() {
  if (setupState.quietInstall || setupState.setupType != 0 || !setupState.installSucceeded) return;

  if (setupState.launchHelp) {
    // A command line that would not fit its buffer is not launched rather
    // than cut into another one.
    PathBuffer commandLine = {};
    if (BuildHelpCommandLine(commandLine)) LaunchProcess(nullptr, commandLine);
  }
  if (setupState.launchProgram) {
    PathBuffer commandLine = {};
    if (BuildQuotedProgramPath(commandLine, kPathSize, setupState.installDir, "QXFTP.EXE"))
      LaunchProcess(setupState.installDir, commandLine);
  }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  setupState.instance = instance;
  setupState.osVersion.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  GetVersionExA(&setupState.osVersion);
  // GetCurrentDirectoryA leaves the buffer alone when the directory does not
  // fit; the start directory then stays empty.
  DWORD length = GetCurrentDirectoryA(kPathSize, setupState.startDir);
  if (length == 0 || length >= kPathSize) setupState.startDir[0] = '\0';

  ReadSetupConfiguration();

  if (setupState.quietInstall) {
    InstallProduct(nullptr);
    return 1;
  }
  if (setupState.quietUninstall) {
    UninstallProduct(nullptr);
    return 1;
  }

  // The rich edit library lives as long as the wizard; it comes from the
  // system directory only, never from beside a downloaded Setup.exe.
  setupState.richEditModule = LoadSystemLibrary("RICHED20.DLL");
  if (RunWizard() == -1) ShowCommonControlsError();
  if (setupState.richEditModule != nullptr) {
    FreeLibrary(setupState.richEditModule);
    setupState.richEditModule = nullptr;
  }
  LaunchSelectedItems();
  return 1;
}
