// KERNEL32: version, directories, last error, time, strings, code pages and
// processes.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

// The usual Win32 contract for strings returned into caller buffers: the
// length without the NUL on success, the size needed (with the NUL) when the
// buffer is too small, in which case nothing is written.
DWORD ReturnString(const std::string& value, LPSTR buffer, DWORD size) {
  if (!buffer || size < value.size() + 1) return static_cast<DWORD>(value.size() + 1);
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  return static_cast<DWORD>(value.size());
}

}  // namespace

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
  State& s = S();
  if (!info) {
    s.lastError = ERROR_NOACCESS;
    return FALSE;
  }
  DWORD size = info->dwOSVersionInfoSize;
  // The extended record exists from NT 4.0 SP6 on; the 9x family knows only
  // the 148-byte record.
  bool ex = size == sizeof(OSVERSIONINFOEXA) && s.IsNT();
  if (size != sizeof(OSVERSIONINFOA) && !ex) {
    s.lastError = ERROR_INSUFFICIENT_BUFFER;
    return FALSE;
  }
  info->dwMajorVersion = s.major;
  info->dwMinorVersion = s.minor;
  info->dwBuildNumber = s.build;
  info->dwPlatformId = s.platform;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  CopyOut(info->szCSDVersion, sizeof info->szCSDVersion, s.csd);
  if (ex) {
    auto* x = reinterpret_cast<OSVERSIONINFOEXA*>(info);
    int sp = 0;
    if (s.csd.rfind("Service Pack ", 0) == 0) sp = std::atoi(s.csd.c_str() + 13);
    x->wServicePackMajor = static_cast<WORD>(sp);
    x->wServicePackMinor = 0;
    x->wSuiteMask = 0;
    x->wProductType = VER_NT_WORKSTATION;
    x->wReserved = 0;
  }
  return TRUE;
}

DWORD WINAPI GetVersion(void) {
  State& s = S();
  DWORD v = (s.major & 0xFF) | ((s.minor & 0xFF) << 8);
  if (s.IsNT()) return v | ((s.build & 0x7FFF) << 16);
  return v | 0x80000000u | ((s.build & 0xFFFF) << 16);
}

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
  return ReturnString(S().cwd.Join(), lpBuffer, nBufferLength);
}

DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
  State& s = S();
  if (!lpName) {
    s.lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  if (auto f = Injected("GetEnvironmentVariableA", lpName)) {
    s.lastError = *f;
    return 0;
  }
  std::string name = Upper(lpName);
  std::string value;
  if (name == "PATH" && !s.envPath.empty()) {
    for (const std::string& dir : s.envPath) value += (value.empty() ? "" : ";") + dir;
  } else {
    auto it = s.environment.find(name);
    if (it == s.environment.end()) {
      s.lastError = ERROR_ENVVAR_NOT_FOUND;
      return 0;
    }
    value = it->second;
  }
  return ReturnString(value, lpBuffer, nSize);
}

BOOL WINAPI GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
  State& s = S();
  if (!nSize) {
    s.lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  const std::string& name = s.computerName;
  if (!lpBuffer || *nSize < name.size() + 1) {
    // The size needed, with the NUL.
    *nSize = static_cast<DWORD>(name.size() + 1);
    s.lastError = ERROR_BUFFER_OVERFLOW;
    return FALSE;
  }
  std::memcpy(lpBuffer, name.c_str(), name.size() + 1);
  *nSize = static_cast<DWORD>(name.size());
  return TRUE;
}

BOOL WINAPI SetCurrentDirectoryA(LPCSTR lpPathName) {
  State& s = S();
  if (auto f = Injected("SetCurrentDirectoryA", lpPathName)) return s.lastError = *f, FALSE;
  PathParts p;
  DWORD e = s.Resolve(lpPathName, p);
  NodePtr n = e ? nullptr : s.Lookup(p, &e);
  if (n && !n->isDir) e = ERROR_DIRECTORY;
  if (!e) s.cwd = p;
  s.Log("SetCurrentDirectory", {Str(lpPathName), Dec(e)});
  if (e) s.lastError = e;
  return e ? FALSE : TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  State& s = S();
  std::string path;
  if (!hModule) {
    path = s.programPath;
  } else {
    bool found = false;
    for (auto& m : s.modules)
      if (m.handle == hModule) {
        path = m.path;
        found = true;
      }
    if (!found) {
      s.lastError = ERROR_MOD_NOT_FOUND;
      return 0;
    }
  }
  if (!lpFilename || nSize == 0) {
    s.lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  // The injected failure is the one a program meets from outside: its path
  // is longer than the buffer (a deep download folder), with the
  // truncation each version gives.
  if (Injected("GetModuleFileNameA") && path.size() < nSize) path.append(nSize - path.size(), 'X');
  if (path.size() < nSize) {
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    s.lastError = 0;
    return static_cast<DWORD>(path.size());
  }
  if (s.major < 6) {
    // Windows XP and earlier: nSize characters and no terminating NUL.
    std::memcpy(lpFilename, path.data(), nSize);
    s.lastError = 0;
  } else {
    std::memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    s.lastError = ERROR_INSUFFICIENT_BUFFER;
  }
  return nSize;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  State& s = S();
  if (!lpModuleName) return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000));
  std::string want = Upper(lpModuleName);
  if (want.find('.') == std::string::npos) want += ".DLL";
  for (auto& m : s.modules) {
    std::string base = Upper(m.path.substr(FindLastChar(m.path, '\\') + 1));
    if (base == want || Upper(m.path) == want) return m.handle;
  }
  s.lastError = ERROR_MOD_NOT_FOUND;
  return nullptr;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) { return ReturnString(S().windowsDir, lpBuffer, uSize); }

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) { return ReturnString(S().systemDir, lpBuffer, uSize); }

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
  // Injected: TMP names a directory longer than the buffer, so only the
  // length it needs comes back and the buffer is untouched.
  if (Injected("GetTempPathA")) return nBufferLength + 40;
  return ReturnString(S().tempDir, lpBuffer, nBufferLength);
}

UINT WINAPI GetTempFileNameA(LPCSTR lpPathName, LPCSTR lpPrefixString, UINT uUnique, LPSTR lpTempFileName) {
  State& s = S();
  if (auto f = Injected("GetTempFileNameA", lpPathName)) return s.lastError = *f, 0;
  if (!lpPathName || !lpTempFileName) {
    s.lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  // The directory must leave room for "\" and an 8.3 name.
  if (std::strlen(lpPathName) > MAX_PATH - 14) {
    s.lastError = ERROR_BUFFER_OVERFLOW;
    return 0;
  }
  std::string dir = lpPathName;
  if (!dir.empty() && !EndsWithChar(dir, '\\')) dir += '\\';
  std::string prefix = Str(lpPrefixString).substr(0, 3);
  UINT unique = uUnique & 0xFFFF;
  auto nameFor = [&](UINT u) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", u);
    return dir + prefix + hex + ".TMP";
  };
  std::string name;
  if (uUnique) {
    name = nameFor(unique);
  } else {
    PathParts dp;
    DWORD e = s.Resolve(lpPathName, dp);
    NodePtr d = e ? nullptr : s.Lookup(dp, &e);
    if (!d || !d->isDir) {
      s.lastError = e ? e : ERROR_DIRECTORY;
      return 0;
    }
    unique = (s.ticks & 0xFFFF) ? (s.ticks & 0xFFFF) : 1;
    for (int tries = 0; tries < 0x10000; ++tries) {
      name = nameFor(unique);
      PathParts p;
      if (name.size() >= MAX_PATH || s.Resolve(name.c_str(), p)) {
        s.lastError = ERROR_FILENAME_EXCED_RANGE;
        return 0;
      }
      if (!s.Lookup(p)) {
        s.WriteWholeFile(p, {});
        break;
      }
      unique = (unique % 0xFFFF) + 1;
    }
  }
  if (name.size() >= MAX_PATH) {
    s.lastError = ERROR_BUFFER_OVERFLOW;
    return 0;
  }
  CopyOut(lpTempFileName, MAX_PATH, name);
  s.Log("GetTempFileName", {Str(lpPathName), prefix, name});
  return unique;
}

DWORD WINAPI GetLastError(void) { return S().lastError; }
void WINAPI SetLastError(DWORD dwErrCode) { S().lastError = dwErrCode; }

DWORD WINAPI GetTickCount(void) { return S().ticks; }

void WINAPI Sleep(DWORD dwMilliseconds) {
  State& s = S();
  // Simulated time only: the tests never wait.
  s.ticks += dwMilliseconds == INFINITE ? 0 : dwMilliseconds;
  s.Log("Sleep", {dwMilliseconds == INFINITE ? "INFINITE" : Dec(dwMilliseconds)});
}

// ---- Strings -------------------------------------------------------------------------
// lstrcmpi compares with CompareString's case folding; winsim compares the
// code page 1252 upper-case forms, which agrees wherever the program tests
// for equality (the linguistic order of punctuation is not modelled).
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
  if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
  return ICompare(a, b);
}

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) {
  if (!a || !b) return (a ? 1 : 0) - (b ? 1 : 0);
  int r = std::strcmp(a, b);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

int WINAPI lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }

LPSTR WINAPI lstrcpynA(LPSTR dst, LPCSTR src, int n) {
  if (!dst || n <= 0) return dst;
  if (!src) src = "";
  int i = 0;
  for (; i < n - 1 && src[i]; ++i) dst[i] = src[i];
  dst[i] = '\0';
  return dst;
}

LPSTR WINAPI lstrcpyA(LPSTR dst, LPCSTR src) {
  if (!dst || !src) return nullptr;
  return std::strcpy(dst, src);
}

LPSTR WINAPI lstrcatA(LPSTR dst, LPCSTR src) {
  if (!dst || !src) return nullptr;
  return std::strcat(dst, src);
}

UINT WINAPI GetACP(void) { return S().acp; }

BOOL WINAPI IsDBCSLeadByte(BYTE TestChar) { return IsLeadByteOf(S().acp, TestChar) ? TRUE : FALSE; }

static bool IsAnsiCodePage(UINT cp) { return cp == CP_ACP || cp == CP_THREAD_ACP || cp == 1252 || cp == CP_OEMCP; }

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR src, int cb, LPWSTR dst, int cch) {
  State& s = S();
  if (auto f = Injected("MultiByteToWideChar", src)) return s.lastError = *f, 0;
  (void)dwFlags;
  if (!src || cb == 0 || cch < 0 || (!IsAnsiCodePage(CodePage) && CodePage != CP_UTF8)) {
    s.lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  size_t n = cb < 0 ? std::strlen(src) + 1 : static_cast<size_t>(cb);
  std::vector<wchar_t> out;
  out.reserve(n);
  if (CodePage == CP_UTF8) {
    for (size_t i = 0; i < n;) {
      unsigned char c = static_cast<unsigned char>(src[i]);
      uint32_t cp = 0xFFFD;
      size_t len = 1;
      if (c < 0x80) {
        cp = c;
      } else if ((c >> 5) == 6 && i + 1 < n) {
        cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(src[i + 1]) & 0x3Fu);
        len = 2;
      } else if ((c >> 4) == 14 && i + 2 < n) {
        cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(src[i + 1]) & 0x3Fu) << 6) |
             (static_cast<unsigned char>(src[i + 2]) & 0x3Fu);
        len = 3;
      } else if ((c >> 3) == 30 && i + 3 < n) {
        cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(src[i + 1]) & 0x3Fu) << 12) |
             ((static_cast<unsigned char>(src[i + 2]) & 0x3Fu) << 6) | (static_cast<unsigned char>(src[i + 3]) & 0x3Fu);
        len = 4;
      }
      if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
      } else {
        out.push_back(static_cast<wchar_t>(cp));
      }
      i += len;
    }
  } else {
    for (size_t i = 0; i < n; ++i) out.push_back(Cp1252ToUnicode(static_cast<unsigned char>(src[i])));
  }
  if (cch == 0) return static_cast<int>(out.size());
  if (!dst || out.size() > static_cast<size_t>(cch)) {
    s.lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::memcpy(dst, out.data(), out.size() * sizeof(wchar_t));
  return static_cast<int>(out.size());
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR src, int cch, LPSTR dst, int cb,
                               LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
  State& s = S();
  (void)dwFlags;
  (void)lpDefaultChar;
  if (!src || cch == 0 || cb < 0 || (!IsAnsiCodePage(CodePage) && CodePage != CP_UTF8)) {
    s.lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  size_t n = 0;
  if (cch < 0) {
    while (src[n]) ++n;
    ++n;
  } else {
    n = static_cast<size_t>(cch);
  }
  std::string out;
  bool used = false;
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = static_cast<uint32_t>(src[i]);
    if (CodePage == CP_UTF8) {
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < n) {
        c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(src[i + 1]) - 0xDC00);
        ++i;
      }
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
      }
    } else {
      out += UnicodeToCp1252(c, &used);
    }
  }
  if (lpUsedDefaultChar) *lpUsedDefaultChar = used ? TRUE : FALSE;
  if (cb == 0) return static_cast<int>(out.size());
  if (!dst || out.size() > static_cast<size_t>(cb)) {
    s.lastError = ERROR_INSUFFICIENT_BUFFER;
    return 0;
  }
  std::memcpy(dst, out.data(), out.size());
  return static_cast<int>(out.size());
}

// ---- Processes ---------------------------------------------------------------------------
HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }
DWORD WINAPI GetCurrentProcessId(void) { return 0x4D2; }

void WINAPI GetStartupInfoA(LPSTARTUPINFOA si) {
  if (!si) return;
  std::memset(si, 0, sizeof *si);
  si->cb = sizeof *si;
}

namespace {

bool IsFile(State& s, const std::string& path, std::string* actual) {
  PathParts p;
  if (s.Resolve(path.c_str(), p)) return false;
  NodePtr n = s.Lookup(p);
  if (!n || n->isDir) return false;
  if (actual) *actual = s.PathOf(n.get());
  return true;
}

// Finds a program as CreateProcess does for a name from the command line:
// ".exe" is added when the name has no extension; a name without a path is
// looked for in the program's directory, the current directory, the system
// directory, the Windows directory and then PATH.
bool FindProgram(State& s, std::string name, std::string* found) {
  size_t slash = name.find_last_of("\\/");
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (base.find('.') == std::string::npos) name += ".exe";
  if (name.find_first_of("\\/:") != std::string::npos) return IsFile(s, name, found);
  std::string programDir = s.programPath.substr(0, FindLastChar(s.programPath, '\\'));
  std::vector<std::string> dirs = {programDir, s.cwd.Join(), s.systemDir, s.windowsDir};
  dirs.insert(dirs.end(), s.envPath.begin(), s.envPath.end());
  for (auto& d : dirs) {
    std::string cand = d.empty() || EndsWithChar(d, '\\') ? d + name : d + "\\" + name;
    if (IsFile(s, cand, found)) return true;
  }
  return false;
}

}  // namespace

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                           LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  State& s = S();
  if (auto f = Injected("CreateProcessA", lpCommandLine)) return s.lastError = *f, FALSE;
  (void)lpProcessAttributes;
  (void)lpThreadAttributes;
  (void)bInheritHandles;
  (void)dwCreationFlags;
  (void)lpEnvironment;
  DWORD e = 0;
  std::string module;
  std::string cmd = Str(lpCommandLine);
  std::string dir = s.cwd.Join();
  if (!lpStartupInfo || !lpProcessInformation) {
    s.Log("Misuse", {"CreateProcessA", "NULL STARTUPINFO or PROCESS_INFORMATION"});
    e = ERROR_INVALID_PARAMETER;
  } else if (!lpApplicationName && !lpCommandLine) {
    e = ERROR_INVALID_PARAMETER;
  } else if (s.owner->faults.createProcess) {
    e = *s.owner->faults.createProcess;
  }
  if (!e && lpCurrentDirectory) {
    PathParts p;
    e = s.Resolve(lpCurrentDirectory, p);
    NodePtr n = e ? nullptr : s.Lookup(p);
    if (!n || !n->isDir) e = ERROR_DIRECTORY;
    if (!e) dir = p.Join();
  }
  if (!e) {
    if (lpApplicationName) {
      if (!IsFile(s, lpApplicationName, &module)) e = ERROR_FILE_NOT_FOUND;
    } else if (!cmd.empty() && cmd[0] == '"') {
      size_t close = cmd.find('"', 1);
      std::string name = cmd.substr(1, close == std::string::npos ? std::string::npos : close - 1);
      if (!FindProgram(s, name, &module)) e = ERROR_FILE_NOT_FOUND;
    } else {
      // An unquoted name with blanks: successively longer blank-separated
      // prefixes are tried ("C:\Program.exe", "C:\Program Files\A.exe", ...).
      e = ERROR_FILE_NOT_FOUND;
      size_t pos = 0;
      while (true) {
        size_t blank = cmd.find_first_of(" \t", pos);
        std::string name = cmd.substr(0, blank);
        if (!name.empty() && FindProgram(s, name, &module)) {
          e = 0;
          break;
        }
        if (blank == std::string::npos) break;
        pos = blank + 1;
      }
    }
  }
  if (!e) {
    ProcessRecord r{Str(lpApplicationName), cmd, dir, module};
    s.processes.push_back(r);
    uintptr_t hp = s.NewHandle(), ht = s.NewHandle();
    int index = static_cast<int>(s.processes.size()) - 1;
    s.processHandles[hp] = ProcessObj{index, false};
    s.processHandles[ht] = ProcessObj{index, true};
    lpProcessInformation->hProcess = reinterpret_cast<HANDLE>(hp);
    lpProcessInformation->hThread = reinterpret_cast<HANDLE>(ht);
    lpProcessInformation->dwProcessId = 0x1000 + 4 * static_cast<DWORD>(index);
    lpProcessInformation->dwThreadId = 0x2000 + 4 * static_cast<DWORD>(index);
  }
  s.Log("CreateProcess", {lpApplicationName ? lpApplicationName : "NULL", lpCommandLine ? cmd : "NULL",
                          lpCurrentDirectory ? lpCurrentDirectory : "NULL", module, Dec(e)});
  s.lastError = e;
  return e ? FALSE : TRUE;
}

DWORD WINAPI WaitForInputIdle(HANDLE hProcess, DWORD dwMilliseconds) {
  State& s = S();
  if (auto f = Injected("WaitForInputIdle")) return s.lastError = ERROR_ACCESS_DENIED, *f;
  auto it = s.processHandles.find(reinterpret_cast<uintptr_t>(hProcess));
  if (it == s.processHandles.end() || it->second.isThread) {
    s.Log("Misuse", {"WaitForInputIdle", "not a process handle"});
    s.lastError = ERROR_INVALID_HANDLE;
    return WAIT_FAILED;
  }
  const ProcessRecord& r = s.processes[static_cast<size_t>(it->second.index)];
  s.Log("WaitForInputIdle", {r.commandLine, dwMilliseconds == INFINITE ? "INFINITE" : Dec(dwMilliseconds)});
  return 0;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  State& s = S();
  if (auto f = Injected("WaitForSingleObject")) return s.lastError = ERROR_ACCESS_DENIED, *f;
  (void)dwMilliseconds;
  if (!s.processHandles.count(reinterpret_cast<uintptr_t>(hHandle))) {
    s.lastError = ERROR_INVALID_HANDLE;
    return WAIT_FAILED;
  }
  return WAIT_OBJECT_0;
}
