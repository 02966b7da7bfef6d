// The removal sequence: finds the installation through the registry,
// unregisters the server, deletes files and data directories, defers what is
// in use to the next restart, removes the shortcut, the group and the keys,
// and offers a restart when one is needed.
#include "install/created.h"
#include "install/install.h"
#include "shell/shell.h"
#include "uninstall/uninstall.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct RecordedInstallation {
  PathBuffer installDir = {};
  BYTE workingDirKind = 0;
  PathBuffer workingDir = {};
};

// The data subdirectories emptied in both directories, in removal order. The
// first three are left in place when they cannot be removed; Config and
// Traces are then deleted at the next restart.
struct DataDirectory {
  const char* suffix;
  bool deferWhenNotRemoved;
};
const DataDirectory kDataDirectories[] = {
    {"\\Transfer", false}, {"\\Certs", false}, {"\\Cache", false}, {"\\Config", true}, {"\\Traces", true},
};
// Trees of the installation directory that go whole through the shell.
const char* const kTrees[] = {"\\Docs", "\\Assets"};

void ShowError(HWND owner, const char* text) {
  MessageBoxA(owner, text, "Uninstall Error", MB_ICONEXCLAMATION | MB_SETFOREGROUND);
}

bool ReadNonEmptyString(HKEY key, const char* name, char* buffer) {
  PathBuffer value = {};
  if (!QueryRegistryString(key, name, value, kPathSize) || value[0] == '\0') return false;
  return CopyText(buffer, kPathSize, value);
}

// The stored BaseRegistry of a record found in hive decides where the rest
// of the removal looks. UNINS.EXE started from Add/Remove Programs has no
// SETUP.INI, so the configured value is 0: an installation made with 1 keeps
// its per-user "Working Directory" in HKEY_LOCAL_MACHINE, where rule 0 would
// never look, and its working directory would stay on disk while its record
// is deleted. The hive the record was found in must agree with the rule it
// selects, so HKEY_CURRENT_USER always means 2 and HKEY_LOCAL_MACHINE 0 or 1.
void AdoptStoredBaseRegistry(HKEY key, HKEY hive, bool otherHive) {
  if (hive == HKEY_CURRENT_USER) {
    setupState.baseRegistry = 2;
    return;
  }
  BYTE stored = 0;
  DWORD size = 1;
  if (RegQueryValueExA(key, "BaseRegistry", nullptr, nullptr, &stored, &size) == ERROR_SUCCESS) {
    setupState.baseRegistry = stored == 1 ? 1 : 0;
  } else if (otherHive) {
    setupState.baseRegistry = 0;
  }
}

// Opens the product key that records an installation directory. The main
// hive comes first; an installation made for the current user and removed
// from Add/Remove Programs (UNINS.EXE runs without a SETUP.INI, so the hive
// rule says HKEY_LOCAL_MACHINE) is found in the other hive. Returns the open
// key or null after the error box.
HKEY OpenRecordedInstallation(HWND owner, RecordedInstallation& recorded) {
  HKEY key = nullptr;
  bool keyFound = false;
  HKEY mainHive = ProductHive();
  if (RegOpenKeyExA(mainHive, kProductKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    keyFound = true;
    if (ReadNonEmptyString(key, "Installation Directory", recorded.installDir)) {
      AdoptStoredBaseRegistry(key, mainHive, false);
      return key;
    }
    RegCloseKey(key);
  }

  // The other hive counts only with an installation in it: a per-machine
  // installation leaves a key in HKEY_CURRENT_USER that holds nothing but
  // the per-user "Working Directory".
  HKEY otherHive = mainHive == HKEY_CURRENT_USER ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  if (RegOpenKeyExA(otherHive, kProductKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    if (ReadNonEmptyString(key, "Installation Directory", recorded.installDir)) {
      AdoptStoredBaseRegistry(key, otherHive, true);
      return key;
    }
    RegCloseKey(key);
  }

  ShowError(owner, keyFound ? "Unable to locate the VORTAN FTP Installation Directory."
                            : "Unable to locate VORTAN FTP in the Registry.");
  return nullptr;
}

void ReadWorkingDirectory(HKEY key, RecordedInstallation& recorded) {
  BYTE kind = 0;
  DWORD size = 1;
  if (RegQueryValueExA(key, "WorkingDirType", nullptr, nullptr, &kind, &size) == ERROR_SUCCESS) {
    // Only 0, 1 and 2 are ever stored; anything else is read as explicit.
    recorded.workingDirKind = kind <= 2 ? kind : 0;
  }
  if (recorded.workingDirKind == 0 && !ReadNonEmptyString(key, "Working Directory", recorded.workingDir))
    CopyText(recorded.workingDir, kPathSize, recorded.installDir);
}

void ReadPerUserWorkingDirectory(RecordedInstallation& recorded) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(WorkingDirHive(), kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    CopyText(recorded.workingDir, kPathSize, recorded.installDir);
    return;
  }
  if (!ReadNonEmptyString(key, "Working Directory", recorded.workingDir))
    CopyText(recorded.workingDir, kPathSize, recorded.installDir);
  RegCloseKey(key);
}

void UnregisterServer(const char* installDir) {
  // Only by a full path: a relative record would make LoadLibrary search
  // the current and program directories, where anyone may have put a DLL
  // of that name for an elevated removal to run.
  bool drive = ((installDir[0] | 0x20) >= 'a' && (installDir[0] | 0x20) <= 'z') && installDir[1] == ':' && installDir[2] == '\\';
  bool network = installDir[0] == '\\' && installDir[1] == '\\';
  if (!drive && !network) return;
  PathBuffer dllPath = {};
  if (!BuildPath(dllPath, installDir, "QXFTP.DLL")) return;
  HMODULE server = LoadServerLibrary(dllPath);
  if (server == nullptr) return;
  typedef HRESULT(WINAPI * DllUnregisterServer_fn)();
  auto unregisterServer = GetLibraryFunction<DllUnregisterServer_fn>(server, "DllUnregisterServer");
  if (unregisterServer != nullptr) unregisterServer();
  FreeLibrary(server);
}

// created null: base is a directory the installation made, and all its data
// directories go. Otherwise only those the record names as created; base
// itself then stays and is never deferred, so each of them that cannot be
// removed now is deferred to the restart itself.
void RemoveDataDirectories(const char* base, const std::vector<std::string>* created) {
  for (const DataDirectory& data : kDataDirectories) {
    PathBuffer path = {};
    if (!ConcatPath(path, base, data.suffix)) continue;
    if (created != nullptr && !IsRecordedDirectory(*created, path)) continue;
    EmptyDirectory(path);
    bool defer = data.deferWhenNotRemoved || created != nullptr;
    if (!RemoveDirectoryA(path) && defer && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
      ScheduleDeleteAtRestart(path, false);
  }
}

void RemoveTrees(const char* base, const std::vector<std::string>* created) {
  for (const char* tree : kTrees) {
    // One path and the second NUL the shell's file operation needs.
    char path[kPathSize + 1] = {};
    if (!ConcatPath(path, base, tree)) continue;
    if (created != nullptr && !IsRecordedDirectory(*created, path)) continue;
    ShellFileOperation(path, nullptr, FO_DELETE);
  }
}

// The directories the record names that are empty now go, the deepest
// first: the parents the installation made on the way to its directories,
// and a working directory an installation over this one no longer uses.
// They are not scheduled: one that still holds a directory waiting for the
// restart stays, an empty folder being a smaller loss than a folder the
// user filled since.
void RemoveEmptyCreatedDirectories(const std::vector<std::string>& created) {
  for (size_t i = created.size(); i-- > 0;) RemoveDirectoryA(created[i].c_str());
}

// The link the installation recorded having written (the all-users or the
// user's own desktop); a record without it means the text's place.
void DeleteDesktopShortcut() {
  PathBuffer linkPath = {};
  HKEY key = nullptr;
  if (RegOpenKeyExA(ProductHive(), kProductKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    ReadNonEmptyString(key, "Desktop Shortcut", linkPath);
    RegCloseKey(key);
  }
  if (linkPath[0] == '\0' && !BuildDesktopShortcutPath(linkPath)) return;
  SetFileAttributesA(linkPath, FILE_ATTRIBUTE_ARCHIVE);
  DeleteFileA(linkPath);
}

void RemoveProgramGroup(HWND owner) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(ProductHive(), kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  PathBuffer groupName = {};
  // A group the installation made as a folder of its own (no Program
  // Manager answered) goes the same way: its items, then the folder after
  // the same question. The DDE server is not asked about it.
  PathBuffer groupFolder = {};
  bool madeAsFolder = ReadNonEmptyString(key, "Program Group Folder", groupFolder);
  // A recorded name that is not a plain folder name gets no DDE command and
  // no question: any command for it would act on the Start Menu itself.
  if (ReadNonEmptyString(key, "Program Group", groupName) && IsPlainGroupName(groupName)) {
    if (madeAsFolder) {
      DeleteGroupFolderItems(groupFolder);
    } else {
      DeleteProgramItems(groupName);
    }
    std::string question = std::string("All program items in group \"") + groupName +
                           "\" will be deleted.  Are you sure you want to delete the program group \"" + groupName +
                           "\"?";
    if (MessageBoxA(owner, question.c_str(), "VORTAN FTP Uninstall", MB_YESNO | MB_ICONQUESTION) == IDYES) {
      if (madeAsFolder) {
        RemoveDirectoryA(groupFolder);
      } else {
        DeleteProgramGroup(groupName);
      }
    }
  }
  RegCloseKey(key);
}

// Two spellings of one existing file or folder: equal as given or in their
// short forms.
bool IsSamePath(const char* a, const char* b) {
  if (lstrcmpiA(a, b) == 0) return true;
  char shortA[kPathSize] = {};
  char shortB[kPathSize] = {};
  DWORD lengthA = GetShortPathNameA(a, shortA, kPathSize);
  DWORD lengthB = GetShortPathNameA(b, shortB, kPathSize);
  return lengthA > 0 && lengthA < kPathSize && lengthB > 0 && lengthB < kPathSize && lstrcmpiA(shortA, shortB) == 0;
}

// True when all that could not be deleted is the running removal program,
// installDir\UNINS.EXE, and installDir itself: no process without the right
// to the restart list can delete a running program, and running it again
// would leave the same.
bool OnlyTheRunningUninstallerIsLeft(const char* installDir) {
  if (LeftOverCount() == 0 || LeftOverUnnamed()) return false;
  char running[kPathSize] = {};
  DWORD length = GetModuleFileNameA(nullptr, running, kPathSize);
  PathBuffer uninstaller = {};
  if (length == 0 || length >= kPathSize || !ConcatPath(uninstaller, installDir, "\\UNINS.EXE") ||
      !IsSamePath(running, uninstaller))
    return false;
  for (int i = 0; i < LeftOverCount(); ++i) {
    const char* path = LeftOverPath(i);
    if (!IsSamePath(path, uninstaller) && !IsSamePath(path, installDir)) return false;
  }
  return true;
}

std::string LeftOverList() {
  std::string list;
  for (int i = 0; i < LeftOverCount(); ++i) list += std::string(LeftOverPath(i)) + "\r\n";
  if (LeftOverUnnamed()) list += "...\r\n";
  return list;
}

}  // namespace

int UninstallProduct(HWND owner) {
  SetCursor(LoadCursorA(nullptr, IDC_WAIT));
  ForgetLeftOver();

  RecordedInstallation recorded;
  HKEY key = OpenRecordedInstallation(owner, recorded);
  if (key == nullptr) return 0;
  ReadWorkingDirectory(key, recorded);
  std::vector<std::string> created;
  bool createdRecorded = ReadCreatedDirectories(key, created);
  RegCloseKey(key);
  if (recorded.workingDirKind != 0) ReadPerUserWorkingDirectory(recorded);

  UnregisterServer(recorded.installDir);
  // The files are sought where they were installed, not in a directory the
  // user may have edited on the Directories page before choosing removal.
  DeleteProductFiles(recorded.installDir);

  // A directory the installation created goes whole. Any other is shared:
  // only the product files and the data directories the record names as
  // created go there, and the directory itself is never emptied nor
  // scheduled. A record without the list (made before it existed) is judged
  // by the places known to hold more than this product.
  bool installCreated = false;
  bool workingCreated = false;
  if (createdRecorded) {
    installCreated = IsRecordedDirectory(created, recorded.installDir);
    workingCreated = IsRecordedDirectory(created, recorded.workingDir);
  } else {
    ProtectedPlaces* places = LoadProtectedPlaces();
    installCreated = !IsProtectedDirectory(*places, recorded.installDir);
    workingCreated = !IsProtectedDirectory(*places, recorded.workingDir);
    FreeProtectedPlaces(places);
  }
  const std::vector<std::string>* onlyRecorded = createdRecorded ? &created : nullptr;

  if (installCreated) {
    RemoveDataDirectories(recorded.installDir, nullptr);
    RemoveTrees(recorded.installDir, nullptr);
    EmptyDirectory(recorded.installDir);
  } else {
    DeferProductFilesLeft(recorded.installDir);
    if (onlyRecorded != nullptr) {
      RemoveDataDirectories(recorded.installDir, onlyRecorded);
      RemoveTrees(recorded.installDir, onlyRecorded);
    }
  }

  if (workingCreated) {
    RemoveDataDirectories(recorded.workingDir, nullptr);
    EmptyDirectory(recorded.workingDir);
    if (!RemoveDirectoryA(recorded.workingDir)) ScheduleDeleteAtRestart(recorded.workingDir, false);
  } else if (onlyRecorded != nullptr) {
    RemoveDataDirectories(recorded.workingDir, onlyRecorded);
  }

  PathBuffer uninstaller = {};
  if (ConcatPath(uninstaller, recorded.installDir, "\\UNINS.EXE"))
    ScheduleDeleteAtRestart(uninstaller, false);

  if (installCreated && !RemoveDirectoryA(recorded.installDir))
    ScheduleDeleteAtRestart(recorded.installDir, false);
  RemoveEmptyCreatedDirectories(created);

  DeleteDesktopShortcut();
  RemoveProgramGroup(owner);

  // What the system would neither delete nor schedule stays; the record
  // then stays too, so that running the removal again finishes the job.
  bool onlyUninstallerLeft = OnlyTheRunningUninstallerIsLeft(recorded.installDir);
  bool incomplete = (LeftOverCount() > 0 || LeftOverUnnamed()) && !onlyUninstallerLeft;
  if (!incomplete) RemoveRegistryEntries();

  if (incomplete) {
    std::string text = "VORTAN FTP uninstallation could not be completed. The following could not be removed:\r\n\r\n" +
                       LeftOverList() + "\r\nClose any program that uses them and run the uninstallation again.";
    MessageBoxA(owner, text.c_str(), "VORTAN FTP Uninstall", MB_ICONEXCLAMATION);
  } else if (onlyUninstallerLeft) {
    std::string text =
        "VORTAN FTP uninstallation completed, except for the uninstallation program, which cannot delete itself "
        "while it runs. Please delete the following yourself:\r\n\r\n" +
        LeftOverList();
    MessageBoxA(owner, text.c_str(), "VORTAN FTP Uninstall", MB_ICONINFORMATION);
  }
  if (!setupState.rebootRequired) {
    if (incomplete || onlyUninstallerLeft) return 1;
    MessageBoxA(owner, "VORTAN FTP uninstallation completed successfully.", "VORTAN FTP Uninstall",
                MB_ICONINFORMATION);
    return 1;
  }
  if (MessageBoxA(owner,
                  "VORTAN FTP uninstallation requires a reboot to complete successfully.\r\n\r\n"
                  "Do you want to reboot the computer now?",
                  "VORTAN FTP Uninstall", MB_YESNO | MB_ICONINFORMATION) == IDYES)
    RestartWindows();
  return 1;
}

void RestartWindows() {
  if (!IsNtFamily()) {
    ExitWindowsEx(EWX_REBOOT, 4);
    return;
  }
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    MessageBoxA(nullptr, "OpenProcessToken", "Error", MB_OK);
  TOKEN_PRIVILEGES privileges = {};
  LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  // ERROR_NOT_ALL_ASSIGNED comes with a successful return: only the last
  // error tells that the privilege was not granted.
  if (GetLastError() != ERROR_SUCCESS) MessageBoxA(nullptr, "AdjustTokenPrivileges", "Error", MB_OK);
  if (!ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0)) MessageBoxA(nullptr, "ExitWindowsEx", "Error", MB_OK);
  if (token != nullptr) CloseHandle(token);
}
