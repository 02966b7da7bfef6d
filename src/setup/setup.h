// Start-up and configuration: the process-wide setup state, the reading of
// SETUP.INI and of a previous installation, shell folder resolution, the entry
// and the launches after the wizard.
#pragma once

#include "win32.h"

#include <cstddef>

// Every path the program handles: 259 characters and the terminating NUL.
constexpr size_t kPathSize = MAX_PATH;
using PathBuffer = char[kPathSize];

// The group name holds 63 characters and the terminating NUL.
constexpr size_t kGroupNameSize = 64;

struct SetupState {
  // Start-up facts, written by the entry before the configuration is read.
  HINSTANCE instance = nullptr;
  OSVERSIONINFOA osVersion = {};
  PathBuffer startDir = {};
  HMODULE richEditModule = nullptr;

  // Configuration.
  PathBuffer iniPath = {};
  PathBuffer sourceDir = {};
  PathBuffer installDir = {};
  PathBuffer workingDir = {};
  BYTE workingDirType = 1;
  PathBuffer personalFolder = {};
  PathBuffer commonDocumentsFolder = {};
  BYTE baseRegistry = 0;
  BYTE profileMode = 0;
  BOOL quietInstall = FALSE;
  BOOL quietUninstall = FALSE;
  BOOL quietParamsComplete = TRUE;
  LONG lockValue = 0;
  LONG lockFtpValue = 0;
  BYTE useGroup = 1;
  char groupName[kGroupNameSize] = "VORTAN FTP";
  BYTE createDesktopShortcut = 1;

  // Wizard choices and results.
  BYTE setupType = 0;  // 0 = installation, 3 = removal
  BYTE launchHelp = 1;
  BYTE launchProgram = 1;
  BYTE installSucceeded = 0;
  BYTE rebootRequired = 0;
};

extern SetupState setupState;

// Puts every field back to its value at process start (tests run many
// "processes" in one).
void ResetSetupState();

// Entry.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);
void ShowCommonControlsError();
void LaunchProcess(LPCSTR currentDirectory, LPSTR commandLine);
// Starts the help file and then the program when the installation chosen in
// the wizard succeeded.
void LaunchSelectedItems();

// Configuration.
void ReadSetupConfiguration();
bool IsWindowsXP();
bool IsNtFamily();

// Shell folders: writes path only on success (result 0).
HRESULT GetShellFolderPath(WORD csidl, char* path);

// A folder value of HKLM\Software\Microsoft\Windows\CurrentVersion
// ("ProgramFilesDir", "CommonFilesDir") into path (kPathSize), from the
// 64-bit registry view when view64 (ask for it only under WOW64: older
// systems do not know KEY_WOW64_64KEY). False when absent or empty.
bool ReadCurrentVersionFolder(const char* name, bool view64, char* path);

// True for a 32-bit process on 64-bit Windows.
bool RunsUnderWow64();

// Loads a system library from the system directory by its full path, never
// through the search path, so that a DLL planted beside Setup.exe (a download
// folder, say) is not run. Null when it cannot be had.
HMODULE LoadSystemLibrary(const char* fileName);

// Loads the installed server DLL by its full path. The DLLs it imports are
// looked for in its own directory before the system's, never first in the
// directory of this program (a download folder, where a planted copy would
// run inside an elevated process).
HMODULE LoadServerLibrary(const char* dllPath);

// VERSION's installer, bound at run time by the payload and the agreement
// page alike.
typedef DWORD(WINAPI* VerInstallFileA_fn)(DWORD, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPSTR, PUINT);

// Looks up an export and gives it the caller's function type.
template <typename Fn>
Fn GetLibraryFunction(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  FARPROC proc = GetProcAddress(module, name);
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

// Bounded text helpers. Each either does all of its work or leaves the
// destination unchanged and returns false: a path that would not fit is never
// cut into another path.
bool CopyText(char* dst, size_t size, const char* src);
bool AppendText(char* dst, size_t size, const char* src);
// The joining rule of every path: a backslash is added only when the left
// part does not already end in one (an empty left part gets one, so an
// unresolved folder joined with "FTP" gives "\FTP").
bool JoinPath(char* dst, size_t size, const char* part);
bool EndsWithBackslash(const char* text);
// The start of the last character of text (null when it is empty), and the
// last backslash that is a character of its own (null when there is none).
const char* LastCharacter(const char* text);
const char* LastBackslash(const char* text);
// Copies at most size - 1 bytes, ending before a whole character (for
// values that are cut by design).
void CopyTextCut(char* dst, size_t size, const char* src);
// dst (a PathBuffer) := directory joined with name, or first followed by
// second. False, dst unspecified, when the result would not fit a path.
bool BuildPath(char* dst, const char* directory, const char* name);
bool ConcatPath(char* dst, const char* first, const char* second);
// dst := directory joined with name, in double quotes: a command line whose
// program path has blanks is otherwise split at the first blank that names
// an existing program (C:\Program.exe for C:\Program Files\...), by
// CreateProcessA as by Add/Remove Programs. False, dst unspecified, when the
// path or the quoted line would not fit.
bool BuildQuotedProgramPath(char* dst, size_t size, const char* directory, const char* name);
// dst := folder joined with suffix (a PathBuffer); a result that would not
// fit leaves dst as it was.
void FolderJoin(char* dst, const char* folder, const char* suffix);

// Reads a REG_SZ value into buffer (size bytes) as the platform stores it:
// a string without a terminating NUL is terminated when it fits, one that
// does not fit (or is not a string) counts as missing and buffer is left
// unchanged.
bool QueryRegistryString(HKEY key, const char* name, char* buffer, DWORD size);

// The product's own registry places.
extern const char kProductKey[];     // "Software\VORTAN\FTP"
extern const char kUninstallKey[];   // the Add/Remove Programs entry
HKEY ProductHive();                  // HKCU when baseRegistry is 2, else HKLM
HKEY WorkingDirHive();               // HKLM when baseRegistry is 1, else HKCU
