// Fills the setup state once at start-up from SETUP.INI (in the start
// directory), from the registry record of a previous installation and from
// the shell folders. Nothing here is ever reported: every missing source
// falls back to its default.
#include "setup/setup.h"

#include <cstdint>
#include <cstring>

namespace {

const char kLegacyKey[] = "Software\\Toval\\FTP";
const char kDefaultInstallSubpath[] = "VORTAN\\FTP";

// Reads one SETUP.INI value. Without a configuration path nothing is read:
// an empty file name would make the profile functions look in the Windows
// directory instead.
void ReadIni(const char* section, const char* key, char* value) {
  value[0] = '\0';
  if (setupState.iniPath[0] == '\0') return;
  GetPrivateProfileStringA(section, key, "", value, kPathSize, setupState.iniPath);
  value[kPathSize - 1] = '\0';
}

// Reads a directory value. One that does not fit a PathBuffer is not cut
// (the cut text would name another directory): it counts as not given, so
// the default applies. The larger buffer tells a 259-character value from a
// longer one.
void ReadIniPath(const char* key, char* value) {
  value[0] = '\0';
  if (setupState.iniPath[0] == '\0') return;
  char whole[2 * kPathSize] = {};
  DWORD length = GetPrivateProfileStringA("FTPSetup", key, "", whole, sizeof(whole), setupState.iniPath);
  whole[sizeof(whole) - 1] = '\0';
  if (length < kPathSize) CopyText(value, kPathSize, whole);
}

bool IsYes(const char* value) { return value[0] == 'Y' || value[0] == 'y'; }

// Leading blanks, an optional sign, then digits up to the first non-digit;
// no digits gives 0. Values beyond the 32-bit range saturate.
LONG ParseSignedInteger(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (value <= INT32_MAX) value = value * 10 + (*text - '0');
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return static_cast<LONG>(value);
}

// The directory of the program's own file, cut at its last backslash, so a
// renamed program still finds the payload beside it.
void ProgramDirectory(char* dir) {
  char module[kPathSize + 1] = {};
  DWORD length = GetModuleFileNameA(nullptr, module, kPathSize);
  if (length == 0 || length >= kPathSize) return;
  const char* slash = LastBackslash(module);
  if (slash == nullptr) return;
  module[slash - module] = '\0';
  CopyText(dir, kPathSize, module);
}

void ReadSetupSection() {
  PathBuffer value;
  ReadIni("FTPSetup", "BaseRegistry", value);
  setupState.baseRegistry = value[0] == '1' ? 1 : value[0] == '2' ? 2 : 0;

  ReadIni("FTPSetup", "ProfileMode", value);
  setupState.profileMode = IsYes(value) ? 1 : 0;

  ReadIniPath("SourceDir", value);
  if (value[0] != '\0') {
    CopyText(setupState.sourceDir, kPathSize, value);
  } else {
    ProgramDirectory(setupState.sourceDir);
  }

  ReadIniPath("DestinationDir", value);
  if (value[0] != '\0') {
    CopyText(setupState.installDir, kPathSize, value);
  } else {
    setupState.quietParamsComplete = FALSE;
  }

  ReadIni("FTPSetup", "QuietModeInstall", value);
  setupState.quietInstall = IsYes(value) ? TRUE : FALSE;
  ReadIni("FTPSetup", "QuietModeUnInstall", value);
  setupState.quietUninstall = IsYes(value) ? TRUE : FALSE;
}

struct PreviousInstallation {
  bool found = false;      // an installation directory was read
  bool lookupOk = false;   // the record could be read as a whole
};

PreviousInstallation LookUpPreviousInstallation() {
  PreviousInstallation previous;
  HKEY key = nullptr;
  if (RegOpenKeyExA(ProductHive(), kProductKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    previous.lookupOk = true;
    if (QueryRegistryString(key, "Installation Directory", setupState.installDir, kPathSize))
      previous.found = true;
    RegCloseKey(key);
    return previous;
  }
  if (setupState.baseRegistry == 2) return previous;

  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLegacyKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return previous;
  if (QueryRegistryString(key, "Installation Directory", setupState.installDir, kPathSize)) {
    previous.found = true;
    // Only whether the one-byte value can be read counts: a legacy record
    // without it is taken as incomplete.
    BYTE profileMode = 0;
    DWORD size = 1;
    previous.lookupOk =
        RegQueryValueExA(key, "Profile Mode", nullptr, nullptr, &profileMode, &size) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return previous;
}

void DecideInstallDirectory(const PreviousInstallation& previous) {
  if (!setupState.quietInstall && previous.lookupOk && setupState.installDir[0] != '\0') return;
  PathBuffer value;
  ReadIniPath("DestinationDir", value);
  if (value[0] != '\0') {
    CopyText(setupState.installDir, kPathSize, value);
  } else if (IsWindowsXP()) {
    PathBuffer folder = {};
    CopyText(folder, kPathSize, setupState.installDir);
    GetShellFolderPath(CSIDL_PROGRAM_FILES, folder);
    if (JoinPath(folder, kPathSize, kDefaultInstallSubpath)) CopyText(setupState.installDir, kPathSize, folder);
  }
}

void DecideWorkingDirectory(const PreviousInstallation& previous) {
  PathBuffer usePersonal;
  PathBuffer useCommon;
  ReadIni("FTPSetup", "UsePersonalFolderAsWorkingDir", usePersonal);
  ReadIni("FTPSetup", "UseAllUsersCommonFolderAsWorkingDir", useCommon);
  bool fileMayDecide = !previous.found || setupState.quietInstall;

  if (IsYes(usePersonal) && fileMayDecide) {
    setupState.workingDirType = 1;
    FolderJoin(setupState.workingDir, setupState.personalFolder, "FTP");
  } else if (setupState.osVersion.dwMajorVersion >= 5 && IsYes(useCommon) && fileMayDecide) {
    setupState.workingDirType = 2;
    FolderJoin(setupState.workingDir, setupState.commonDocumentsFolder, "FTP");
  } else if (previous.found) {
    setupState.workingDirType = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(ProductHive(), kProductKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
      BYTE stored = 0;
      DWORD size = 1;
      if (RegQueryValueExA(key, "WorkingDirType", nullptr, nullptr, &stored, &size) == ERROR_SUCCESS) {
        // This program only ever stores 0, 1 or 2; anything else is read as
        // an explicit directory.
        if (stored == 1) {
          setupState.workingDirType = 1;
          FolderJoin(setupState.workingDir, setupState.personalFolder, "FTP");
        } else if (stored == 2) {
          setupState.workingDirType = 2;
          FolderJoin(setupState.workingDir, setupState.commonDocumentsFolder, "FTP");
        }
      }
      RegCloseKey(key);
    }
  } else {
    setupState.workingDirType = 1;
    FolderJoin(setupState.workingDir, setupState.personalFolder, "FTP");
  }

  if (setupState.workingDirType == 0) {
    PathBuffer value;
    ReadIniPath("WorkingDir", value);
    if (value[0] != '\0') {
      CopyText(setupState.workingDir, kPathSize, value);
    } else {
      CopyText(setupState.workingDir, kPathSize, setupState.installDir);
    }
  }
}

void ReadProgramGroupSection() {
  PathBuffer value;
  ReadIni("FTPSetup", "LockFTP", value);
  setupState.lockFtpValue = ParseSignedInteger(value);
  ReadIni("FTPSetup", "Lock", value);
  setupState.lockValue = ParseSignedInteger(value);

  ReadIni("Program Group", "UseGroup", value);
  if (value[0] == '\0') {
    setupState.quietParamsComplete = FALSE;
  } else {
    setupState.useGroup = IsYes(value) ? 1 : 0;
  }

  ReadIni("Program Group", "GroupName", value);
  if (value[0] == '\0') {
    setupState.quietParamsComplete = FALSE;
  } else {
    // The group name holds 63 characters; a longer one is cut there, as the
    // wizard's group field cuts what is typed into it.
    CopyTextCut(setupState.groupName, kGroupNameSize, value);
  }

  ReadIni("Program Group", "ShortCut", value);
  if (value[0] == '\0') {
    setupState.quietParamsComplete = FALSE;
  } else {
    setupState.createDesktopShortcut = IsYes(value) ? 1 : 0;
  }
}

}  // namespace

bool IsWindowsXP() {
  const OSVERSIONINFOA& v = setupState.osVersion;
  return v.dwPlatformId == VER_PLATFORM_WIN32_NT && v.dwMajorVersion == 5 && v.dwMinorVersion == 1;
}

void ReadSetupConfiguration() {
  setupState.iniPath[0] = '\0';
  // No start directory (the current directory did not fit) means no
  // SETUP.INI: joining the empty text would name "\SETUP.INI", the file at
  // the root of the current drive, which nobody put there for this program.
  PathBuffer iniPath = {};
  if (setupState.startDir[0] != '\0' && CopyText(iniPath, kPathSize, setupState.startDir) &&
      JoinPath(iniPath, kPathSize, "SETUP.INI"))
    CopyText(setupState.iniPath, kPathSize, iniPath);

  ReadSetupSection();
  PreviousInstallation previous = LookUpPreviousInstallation();
  DecideInstallDirectory(previous);
  GetShellFolderPath(CSIDL_PERSONAL, setupState.personalFolder);
  GetShellFolderPath(CSIDL_COMMON_DOCUMENTS, setupState.commonDocumentsFolder);
  DecideWorkingDirectory(previous);
  ReadProgramGroupSection();
}
