"""Every DLL and function the shipped 32-bit Setup.exe imports, with the
first Windows versions of each family that have it and where that is
written. test_pe.py holds the program's import table to exactly this list:
a new import fails it until someone records the first Windows 9x and NT
versions that export the function, and the source that says so.

"not looked up" means what it says: the entry is recorded so that the list
stays exact, but nobody has found a named source for that function yet."""
from __future__ import annotations

from dataclasses import dataclass


@dataclass(frozen=True)
class Dll:
    windows_95: str      # on a first-edition Windows 95
    nt4: str             # on Windows NT 4.0
    source: str


@dataclass(frozen=True)
class Entry:
    win9x: str           # first Windows 9x release that exports it
    nt: str              # first Windows NT release that exports it
    source: str


# --- sources -------------------------------------------------------------------
KB_Q156976 = ("Microsoft Knowledge Base Q156976, \"PRB: A Required .DLL file, MSVCRT.DLL, Was Not Found\" "
              "(last modified 26 January 2001; archived at github.com/jeffpar/kbarchive, kb/156/Q156976): "
              "\"The file MSVCRT.DLL is included in Windows 2000, Windows 98, and Windows Me, but not in "
              "Windows 95\"; the MSVCRT40.DLL of Windows NT 4.0 is a forwarder that calls MSVCRT.DLL")
SHELL_VERSIONS = ("Microsoft, \"Shell and Common Controls Versions\" "
                  "(msdn.microsoft.com/en-us/library/bb776779(VS.85).aspx): \"The 4.00 versions of Shell32.dll "
                  "and Comctl32.dll are found on the original versions of Windows 95 and Windows NT 4.0\"")
WIN95_LIMITS = ("Microsoft, \"Windows 95 General Limitations\", MSDN Library June 1998 "
                "(library.thedatadungeon.com/msdn-1998-06/WinBase/devdoc/live/pdwbase/win95/chilimit_1qlv"
                ".content.htm): security functions are not supported, \"Windows 95 provides stub routines for "
                "these unsupported functions\"; the Unicode versions of most functions \"are implemented as "
                "stubs that simply return an error value\"")
WIN32_PLATFORMS = ("Microsoft TechNet white paper on the Win32 API differences among Windows 95, Windows 95 "
                   "OSR 2 and Windows NT Workstation 4.0 (technet.microsoft.com/en-us/library/cc750195.aspx): "
                   "all three \"use the same Win32 API\"")
MSDN_2000 = "MSDN Library April 2000, the function's page, Requirements (library.thedatadungeon.com/msdn-2000-04/"
NOT_LOOKED_UP = Entry("not looked up", "not looked up", "not looked up one by one")


def stub_on_95(nt: str = "not looked up") -> Entry:
    return Entry("95 (a stub that fails)", nt, WIN95_LIMITS)


DLLS = {
    "KERNEL32.DLL": Dll("yes", "yes", WIN32_PLATFORMS),
    "USER32.DLL": Dll("yes", "yes", WIN32_PLATFORMS),
    "GDI32.DLL": Dll("yes", "yes", WIN32_PLATFORMS),
    "ADVAPI32.DLL": Dll("yes (security functions are stubs)", "yes", WIN32_PLATFORMS + "; " + WIN95_LIMITS),
    "SHELL32.DLL": Dll("yes, version 4.00", "yes, version 4.00", SHELL_VERSIONS),
    "COMCTL32.DLL": Dll("yes, version 4.00", "yes, version 4.00", SHELL_VERSIONS),
    "OLE32.DLL": Dll("not looked up", "not looked up", "no named source found"),
    "MSVCRT.DLL": Dll("no: it comes with Windows 98, or with an application that installs it", "yes",
                      KB_Q156976),
}

IMPORTS = {
    "KERNEL32.DLL": {
        "CloseHandle": Entry("95", "3.1", MSDN_2000 + "ipc/hh/winbase/handobj_289x.content.htm)"),
        "CopyFileA": NOT_LOOKED_UP,
        "CreateDirectoryA": NOT_LOOKED_UP,
        "CreateFileA": NOT_LOOKED_UP,
        "CreateProcessA": NOT_LOOKED_UP,
        # libgcc's Win32 thread support (gthr-win32.o), behind the C++
        # runtime's locks: not the program's code (a link map shows who
        # pulls each runtime import in).
        "CreateSemaphoreW": stub_on_95(),
        "DeleteCriticalSection": NOT_LOOKED_UP,
        "DeleteFileA": NOT_LOOKED_UP,
        "EnterCriticalSection": NOT_LOOKED_UP,
        "FindClose": NOT_LOOKED_UP,
        "FindFirstFileA": NOT_LOOKED_UP,
        "FindNextFileA": NOT_LOOKED_UP,
        "FindResourceA": NOT_LOOKED_UP,
        "FreeLibrary": NOT_LOOKED_UP,
        "GetComputerNameA": NOT_LOOKED_UP,
        "GetCurrentDirectoryA": NOT_LOOKED_UP,
        "GetCurrentProcess": NOT_LOOKED_UP,
        "GetCurrentThreadId": NOT_LOOKED_UP,
        "GetEnvironmentVariableA": NOT_LOOKED_UP,
        "GetFileAttributesA": NOT_LOOKED_UP,
        "GetFileSize": NOT_LOOKED_UP,
        "GetFullPathNameA": NOT_LOOKED_UP,
        "GetLastError": NOT_LOOKED_UP,
        "GetModuleFileNameA": NOT_LOOKED_UP,
        "GetModuleHandleA": NOT_LOOKED_UP,
        # MinGW-w64's rand_s wrapper (libmsvcrt.a, rand_s.o), as LoadLibraryW.
        "GetModuleHandleW": stub_on_95(),
        "GetPrivateProfileStringA": NOT_LOOKED_UP,
        "GetProcAddress": NOT_LOOKED_UP,
        "GetShortPathNameA": NOT_LOOKED_UP,
        "GetStartupInfoA": NOT_LOOKED_UP,
        "GetSystemDirectoryA": NOT_LOOKED_UP,
        "GetTempFileNameA": NOT_LOOKED_UP,
        "GetTempPathA": NOT_LOOKED_UP,
        "GetVersionExA": NOT_LOOKED_UP,
        "GetWindowsDirectoryA": NOT_LOOKED_UP,
        "InitializeCriticalSection": NOT_LOOKED_UP,
        # MinGW-w64's mbrtowc (libmsvcrt.a). Microsoft's page today names
        # Windows 2000 Professional
        # (learn.microsoft.com/windows/win32/api/winnls/nf-winnls-isdbcsleadbyteex);
        # no source for 95 or NT 4.0 was found.
        "IsDBCSLeadByteEx": NOT_LOOKED_UP,
        "LeaveCriticalSection": NOT_LOOKED_UP,
        "LoadLibraryA": NOT_LOOKED_UP,
        "LoadLibraryExA": NOT_LOOKED_UP,
        "LoadLibraryW": stub_on_95(),
        "LoadResource": NOT_LOOKED_UP,
        "LockResource": NOT_LOOKED_UP,
        "MoveFileA": NOT_LOOKED_UP,
        "MoveFileExA": NOT_LOOKED_UP,
        "MultiByteToWideChar": Entry("95", "not looked up", WIN95_LIMITS),
        "ReadFile": NOT_LOOKED_UP,
        "ReleaseSemaphore": NOT_LOOKED_UP,
        "RemoveDirectoryA": Entry("95", "3.1", MSDN_2000 + "fileio/hh/winbase/filesio_6oe1.content.htm)"),
        "SetFileAttributesA": NOT_LOOKED_UP,
        "SetLastError": NOT_LOOKED_UP,
        "SetUnhandledExceptionFilter": NOT_LOOKED_UP,
        "SizeofResource": NOT_LOOKED_UP,
        "Sleep": NOT_LOOKED_UP,
        "TlsAlloc": NOT_LOOKED_UP,
        "TlsFree": NOT_LOOKED_UP,
        "TlsGetValue": NOT_LOOKED_UP,
        "TlsSetValue": NOT_LOOKED_UP,
        "VirtualProtect": NOT_LOOKED_UP,
        "VirtualQuery": NOT_LOOKED_UP,
        "WaitForSingleObject": NOT_LOOKED_UP,
        "WideCharToMultiByte": Entry("95", "not looked up", WIN95_LIMITS),
        "WriteFile": NOT_LOOKED_UP,
        "lstrcmpiA": NOT_LOOKED_UP,
    },
    "USER32.DLL": {name: NOT_LOOKED_UP for name in (
        "CharNextA", "CharUpperBuffA", "CheckDlgButton", "CheckRadioButton", "CreateWindowExA",
        "DdeAccessData", "DdeClientTransaction", "DdeConnect", "DdeCreateDataHandle", "DdeCreateStringHandleA",
        "DdeDisconnect", "DdeFreeDataHandle", "DdeFreeStringHandle", "DdeGetLastError", "DdeInitializeA",
        "DdeUnaccessData", "DdeUninitialize", "EnableWindow", "ExitWindowsEx", "GetClientRect", "GetDlgItem",
        "GetDlgItemTextA", "GetSystemMetrics", "GetWindowRect", "IsDlgButtonChecked", "LoadCursorA",
        "MessageBeep", "MessageBoxA", "ScreenToClient", "SendMessageA", "SetCursor", "SetDlgItemTextA",
        "SetWindowLongA", "SetWindowPos", "ShowWindow", "WaitForInputIdle")},
    "GDI32.DLL": {"GetStockObject": NOT_LOOKED_UP},
    "ADVAPI32.DLL": {
        # Only the NT family's restart needs the shutdown privilege.
        "AdjustTokenPrivileges": stub_on_95(),
        "LookupPrivilegeValueA": stub_on_95(),
        "OpenProcessToken": stub_on_95(),
        "RegCloseKey": NOT_LOOKED_UP,
        "RegCreateKeyExA": NOT_LOOKED_UP,
        "RegDeleteKeyA": NOT_LOOKED_UP,
        "RegDeleteValueA": NOT_LOOKED_UP,
        "RegEnumKeyA": NOT_LOOKED_UP,
        "RegOpenKeyExA": NOT_LOOKED_UP,
        "RegQueryValueExA": NOT_LOOKED_UP,
        "RegSetValueExA": NOT_LOOKED_UP,
    },
    "SHELL32.DLL": {name: NOT_LOOKED_UP for name in (
        "SHBrowseForFolderA", "SHChangeNotify", "SHFileOperationA", "SHGetMalloc", "SHGetPathFromIDListA",
        "SHGetSpecialFolderLocation")},
    "COMCTL32.DLL": {name: NOT_LOOKED_UP for name in (
        "CreatePropertySheetPageA", "InitCommonControls", "PropertySheetA")},
    "OLE32.DLL": {name: NOT_LOOKED_UP for name in ("CoCreateInstance", "CoInitialize", "CoUninitialize")},
    # The C run-time of the static MinGW runtime: all of it needs MSVCRT.DLL.
    "MSVCRT.DLL": {name: Entry("98 (the DLL)", "4.0 (the DLL)", KB_Q156976) for name in (
        "__getmainargs", "__initenv", "__mb_cur_max", "__p__acmdln", "__p__commode", "__p__fmode",
        "__set_app_type", "__setusermatherr", "_amsg_exit", "_cexit", "_close", "_errno", "_initterm", "_iob",
        "_onexit", "_read", "abort", "atoi", "calloc", "exit", "fprintf", "fputc", "fputs", "free", "fwrite",
        "isalpha", "localeconv", "malloc", "memchr", "memcmp", "memcpy", "memmove", "memset", "realloc",
        "setlocale", "signal", "strchr", "strcmp", "strerror", "strlen", "strncmp", "strpbrk", "strrchr",
        "vfprintf", "wcslen")},
}
