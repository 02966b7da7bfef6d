// The timing build of Setup.exe, for bench/run only (never shipped). The
// compiler includes this header first in every product source file
// (-include, CMake option PLATFORM_TRACE), so the product's code is the same
// text; after the platform headers it renames the platform calls the program
// makes to wrappers that time each call with the performance counter. At
// exit the times go to the file named by the environment variable
// VORTAN_TRACE (appended; nothing is written when it is unset). bench/split.py
// reads the file.
#pragma once

#include "win32.h"

namespace vtrace {

// What a time is charged to. Every moment of the process between the start
// of its C++ runtime and its exit belongs to exactly one: the innermost
// call open at that moment, or the program itself when none is.
enum Category {
  kOwn,            // the program's own code
  kVersion,        // VerInstallFileA
  kCabinet,        // SetupIterateCabinetA, less the program's callbacks
  kShellFileOp,    // SHFileOperationA
  kDdeTransaction, // DdeClientTransaction (with what the shell starts meanwhile)
  kDdeSetup,       // DDE instance, conversation, string and data handles
  kLink,           // COM and the shell link object
  kMessageBox,     // MessageBoxA, including the wait for the answer
  kServer,         // loading QXFTP.DLL and its (un)registration entry
  kFiles,          // other file-system and profile-file calls
  kRegistry,       // registry calls
  kLibraries,      // system libraries, shell folders, other shell calls
  kCategoryCount
};

// Charges the time from its construction to its destruction (the end of
// the full expression it appears in) to one category, and counts the call
// under the function's name.
class Scope {
 public:
  Scope(Category category, const char* function);
  ~Scope();
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  Category category_;
  const char* function_;
  void* total_;
  long long start_;
};

FARPROC WINAPI TraceGetProcAddress(HMODULE module, LPCSTR name);
HMODULE WINAPI TraceLoadLibrary(LPCSTR path);
HMODULE WINAPI TraceLoadLibraryEx(LPCSTR path, HANDLE file, DWORD flags);
BOOL WINAPI TraceFreeLibrary(HMODULE module);
int WINAPI TraceMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
int WINAPI TraceShellFileOperation(LPSHFILEOPSTRUCTA operation);
HDDEDATA WINAPI TraceDdeTransaction(LPBYTE data, DWORD size, HCONV conversation, HSZ item, UINT format, UINT type,
                                    DWORD timeout, LPDWORD result);
HRESULT WINAPI TraceCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object);

}  // namespace vtrace

#ifndef VTRACE_IMPLEMENTATION

#define VTRACE_CALL(category, function, ...) (::vtrace::Scope(::vtrace::category, #function), function(__VA_ARGS__))

// Calls whose every use is timed as a whole by a wrapper that also names it.
#define GetProcAddress ::vtrace::TraceGetProcAddress
#define LoadLibraryA ::vtrace::TraceLoadLibrary
#define LoadLibraryExA ::vtrace::TraceLoadLibraryEx
#define FreeLibrary ::vtrace::TraceFreeLibrary
#define MessageBoxA ::vtrace::TraceMessageBox
#define SHFileOperationA ::vtrace::TraceShellFileOperation
#define DdeClientTransaction ::vtrace::TraceDdeTransaction
#define CoCreateInstance ::vtrace::TraceCreateInstance

// The rest, timed per category. A function-like macro is not expanded again
// inside its own replacement, so the call inside is the real function.
#define DdeInitializeA(...) VTRACE_CALL(kDdeSetup, DdeInitializeA, __VA_ARGS__)
#define DdeUninitialize(...) VTRACE_CALL(kDdeSetup, DdeUninitialize, __VA_ARGS__)
#define DdeConnect(...) VTRACE_CALL(kDdeSetup, DdeConnect, __VA_ARGS__)
#define DdeDisconnect(...) VTRACE_CALL(kDdeSetup, DdeDisconnect, __VA_ARGS__)
#define DdeCreateStringHandleA(...) VTRACE_CALL(kDdeSetup, DdeCreateStringHandleA, __VA_ARGS__)
#define DdeFreeStringHandle(...) VTRACE_CALL(kDdeSetup, DdeFreeStringHandle, __VA_ARGS__)
#define DdeCreateDataHandle(...) VTRACE_CALL(kDdeSetup, DdeCreateDataHandle, __VA_ARGS__)
#define DdeAccessData(...) VTRACE_CALL(kDdeSetup, DdeAccessData, __VA_ARGS__)
#define DdeUnaccessData(...) VTRACE_CALL(kDdeSetup, DdeUnaccessData, __VA_ARGS__)
#define DdeFreeDataHandle(...) VTRACE_CALL(kDdeSetup, DdeFreeDataHandle, __VA_ARGS__)
#define CoInitialize(...) VTRACE_CALL(kLink, CoInitialize, __VA_ARGS__)
#define CoUninitialize(...) VTRACE_CALL(kLink, CoUninitialize, __VA_ARGS__)

#define CopyFileA(...) VTRACE_CALL(kFiles, CopyFileA, __VA_ARGS__)
#define CreateDirectoryA(...) VTRACE_CALL(kFiles, CreateDirectoryA, __VA_ARGS__)
#define CreateFileA(...) VTRACE_CALL(kFiles, CreateFileA, __VA_ARGS__)
#define ReadFile(...) VTRACE_CALL(kFiles, ReadFile, __VA_ARGS__)
#define WriteFile(...) VTRACE_CALL(kFiles, WriteFile, __VA_ARGS__)
#define CloseHandle(...) VTRACE_CALL(kFiles, CloseHandle, __VA_ARGS__)
#define DeleteFileA(...) VTRACE_CALL(kFiles, DeleteFileA, __VA_ARGS__)
#define SetFileAttributesA(...) VTRACE_CALL(kFiles, SetFileAttributesA, __VA_ARGS__)
#define RemoveDirectoryA(...) VTRACE_CALL(kFiles, RemoveDirectoryA, __VA_ARGS__)
#define MoveFileExA(...) VTRACE_CALL(kFiles, MoveFileExA, __VA_ARGS__)
#define FindFirstFileA(...) VTRACE_CALL(kFiles, FindFirstFileA, __VA_ARGS__)
#define FindNextFileA(...) VTRACE_CALL(kFiles, FindNextFileA, __VA_ARGS__)
#define FindClose(...) VTRACE_CALL(kFiles, FindClose, __VA_ARGS__)
#define GetShortPathNameA(...) VTRACE_CALL(kFiles, GetShortPathNameA, __VA_ARGS__)
#define GetFullPathNameA(...) VTRACE_CALL(kFiles, GetFullPathNameA, __VA_ARGS__)
#define GetPrivateProfileStringA(...) VTRACE_CALL(kFiles, GetPrivateProfileStringA, __VA_ARGS__)

#define RegOpenKeyExA(...) VTRACE_CALL(kRegistry, RegOpenKeyExA, __VA_ARGS__)
#define RegCreateKeyExA(...) VTRACE_CALL(kRegistry, RegCreateKeyExA, __VA_ARGS__)
#define RegSetValueExA(...) VTRACE_CALL(kRegistry, RegSetValueExA, __VA_ARGS__)
#define RegQueryValueExA(...) VTRACE_CALL(kRegistry, RegQueryValueExA, __VA_ARGS__)
#define RegCloseKey(...) VTRACE_CALL(kRegistry, RegCloseKey, __VA_ARGS__)
#define RegDeleteKeyA(...) VTRACE_CALL(kRegistry, RegDeleteKeyA, __VA_ARGS__)
#define RegEnumKeyA(...) VTRACE_CALL(kRegistry, RegEnumKeyA, __VA_ARGS__)

#define GetSystemDirectoryA(...) VTRACE_CALL(kLibraries, GetSystemDirectoryA, __VA_ARGS__)
#define GetWindowsDirectoryA(...) VTRACE_CALL(kLibraries, GetWindowsDirectoryA, __VA_ARGS__)
#define SHGetSpecialFolderLocation(...) VTRACE_CALL(kLibraries, SHGetSpecialFolderLocation, __VA_ARGS__)
#define SHGetPathFromIDListA(...) VTRACE_CALL(kLibraries, SHGetPathFromIDListA, __VA_ARGS__)
#define SHChangeNotify(...) VTRACE_CALL(kLibraries, SHChangeNotify, __VA_ARGS__)

#endif
