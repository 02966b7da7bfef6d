// The installation sequence: defaults, the directory tree, the payload, the
// registry records, the shell entries, and the report of the outcome.
#include "install/created.h"
#include "install/install.h"
#include "shell/shell.h"

#include <cstring>

namespace {

const char* const kDataSubdirectories[] = {"\\Transfer", "\\Traces", "\\Config", "\\Certs"};

// Creates every directory on the way to path, then path itself, recording
// each one whose creation succeeded. The first backslash is skipped so that
// a bare drive ("C:") is never passed; failures are ignored here and show
// up as failures of the payload that needs the directory. True when the
// directory target names was made here (with a trailing backslash, by the
// step at that backslash).
bool CreateDirectoryTree(const char* target) {
  PathBuffer path = {};
  if (!CopyText(path, kPathSize, target) || path[0] == '\0') return false;
  bool firstSeen = false;
  bool made = false;
  for (char* p = path; *p != '\0'; p = CharNextA(p)) {
    if (*p != '\\') continue;
    if (!firstSeen) {
      firstSeen = true;
      continue;
    }
    *p = '\0';
    made = CreateRecordedDirectory(path) != FALSE;
    *p = '\\';
  }
  BOOL last = CreateRecordedDirectory(path);
  return EndsWithBackslash(path) ? made : last != FALSE;
}

// The installation directory and its four data subdirectories, then the
// working directory: made here, rather than by the program at its first
// start, so that the record can tell the removal it was made for it.
void CreateInstallationTree() {
  // Its permissions are set before anything is made or copied in it, so
  // that all of it inherits them; a directory that was there already keeps
  // the permissions its owner gave it.
  if (CreateDirectoryTree(setupState.installDir)) ProtectInstallationDirectory(setupState.installDir);
  for (const char* suffix : kDataSubdirectories) {
    PathBuffer subdirectory = {};
    if (ConcatPath(subdirectory, setupState.installDir, suffix)) CreateRecordedDirectory(subdirectory);
  }
  // Only a drive path: a path without a drive ("\\FTP" when the folder it
  // was joined to is unknown) would be made at the current drive's root.
  const char* working = setupState.workingDir;
  bool drivePath = ((working[0] | 0x20) >= 'a' && (working[0] | 0x20) <= 'z') && working[1] == ':' &&
                   working[2] == '\\';
  if (drivePath) CreateDirectoryTree(working);
}

void ReportOutcome(bool payloadInstalled) {
  if (payloadInstalled) {
    setupState.installSucceeded = 1;
    if (!setupState.quietParamsComplete) {
      MessageBeep(MB_ICONINFORMATION);
      MessageBoxA(nullptr, "VORTAN FTP installation completed successfully.", "VORTAN FTP Install",
                  MB_OK | MB_ICONINFORMATION);
    }
    return;
  }
  setupState.installSucceeded = 0;
  MessageBeep(MB_ICONEXCLAMATION);
  if (!setupState.quietParamsComplete) {
    MessageBoxA(nullptr,
                "VORTAN FTP installation was unsuccessful ... please check your setup parameters and try again.",
                "VORTAN FTP Install", MB_OK | MB_ICONWARNING);
  }
}

}  // namespace

bool InstallProduct(HWND parent) {
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));

  if (setupState.installDir[0] == '\0') {
    PathBuffer folder = {};
    GetShellFolderPath(CSIDL_PROGRAM_FILES, folder);
    if (JoinPath(folder, kPathSize, "VORTAN\\FTP")) CopyText(setupState.installDir, kPathSize, folder);
  }
  if (setupState.workingDir[0] == '\0') CopyText(setupState.workingDir, kPathSize, setupState.installDir);

  CreateProgressWindow(parent, 100);
  ClearCreatedDirectories();
  CreateInstallationTree();

  bool payloadInstalled = InstallPayload();

  WriteSettingsKeys();
  WriteAboutAndSupportKeys();
  AdvanceProgress(20);

  RegisterFileType();

  if (setupState.useGroup) {
    CreateProgramGroup(setupState.groupName);
    // Item commands act on whatever group the shell has active: when no
    // group command could be sent for this name, none is sent for its items.
    if (IsPlainGroupName(setupState.groupName)) {
      AddProgramItems();
    } else {
      AdvanceProgress(20);
    }
  } else {
    AdvanceProgress(20);
  }

  if (setupState.createDesktopShortcut) CreateDesktopShortcut();
  AdvanceProgress(10);

  ReportOutcome(payloadInstalled);
  return true;
}
