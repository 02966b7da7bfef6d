// The process-wide setup state and the small text and registry helpers that
// every subsystem shares.
#include "setup/setup.h"

#include <cstring>

SetupState setupState;

const char kProductKey[] = "Software\\VORTAN\\FTP";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VORTAN FTP";

void ResetSetupState() { setupState = SetupState{}; }

bool IsNtFamily() { return setupState.osVersion.dwPlatformId == VER_PLATFORM_WIN32_NT; }

HKEY ProductHive() { return setupState.baseRegistry == 2 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

HKEY WorkingDirHive() { return setupState.baseRegistry == 1 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

bool CopyText(char* dst, size_t size, const char* src) {
  size_t length = std::strlen(src);
  if (length >= size) return false;
  std::memmove(dst, src, length + 1);
  return true;
}

bool AppendText(char* dst, size_t size, const char* src) {
  size_t have = strnlen(dst, size);
  size_t add = std::strlen(src);
  if (have >= size || add >= size - have) return false;
  std::memcpy(dst + have, src, add + 1);
  return true;
}

// On the double-byte code pages (932, 936, 949, 950) the second byte of a
// character may be 0x5C: "\x83\x5C" is one katakana letter, not a letter and
// a backslash. Paths are therefore only ever walked forwards, character by
// character, with CharNextA.
const char* LastCharacter(const char* text) {
  const char* last = nullptr;
  for (const char* p = text; *p != '\0'; p = CharNextA(p)) last = p;
  return last;
}

const char* LastBackslash(const char* text) {
  const char* found = nullptr;
  for (const char* p = text; *p != '\0'; p = CharNextA(p)) {
    if (*p == '\\') found = p;
  }
  return found;
}

bool EndsWithBackslash(const char* text) {
  const char* last = LastCharacter(text);
  return last != nullptr && *last == '\\';
}

bool JoinPath(char* dst, size_t size, const char* part) {
  size_t have = strnlen(dst, size);
  if (have >= size) return false;
  bool needSeparator = !EndsWithBackslash(dst);
  size_t add = std::strlen(part) + (needSeparator ? 1 : 0);
  if (add >= size - have) return false;
  if (needSeparator) dst[have++] = '\\';
  std::memcpy(dst + have, part, std::strlen(part) + 1);
  return true;
}

void CopyTextCut(char* dst, size_t size, const char* src) {
  if (size == 0) return;
  // The cut falls before a whole character, never between a lead byte and
  // its trail byte.
  size_t length = 0;
  for (const char* p = src; *p != '\0';) {
    const char* next = CharNextA(p);
    if (static_cast<size_t>(next - src) > size - 1) break;
    p = next;
    length = static_cast<size_t>(next - src);
  }
  std::memmove(dst, src, length);
  dst[length] = '\0';
}

bool BuildPath(char* dst, const char* directory, const char* name) {
  return CopyText(dst, kPathSize, directory) && JoinPath(dst, kPathSize, name);
}

bool ConcatPath(char* dst, const char* first, const char* second) {
  return CopyText(dst, kPathSize, first) && AppendText(dst, kPathSize, second);
}

bool BuildQuotedProgramPath(char* dst, size_t size, const char* directory, const char* name) {
  PathBuffer program = {};
  if (!BuildPath(program, directory, name)) return false;
  if (size == 0) return false;
  dst[0] = '\0';
  return AppendText(dst, size, "\"") && AppendText(dst, size, program) && AppendText(dst, size, "\"");
}

void FolderJoin(char* dst, const char* folder, const char* suffix) {
  PathBuffer joined = {};
  CopyTextCut(joined, kPathSize, folder);
  if (JoinPath(joined, kPathSize, suffix)) CopyText(dst, kPathSize, joined);
}

bool QueryRegistryString(HKEY key, const char* name, char* buffer, DWORD size) {
  char data[kPathSize + 1] = {};
  DWORD type = 0;
  DWORD got = size < sizeof(data) ? size : static_cast<DWORD>(sizeof(data) - 1);
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &got) != ERROR_SUCCESS)
    return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  // A string stored without its NUL arrives without one; it still counts
  // when there is room to terminate it.
  if (got > 0 && data[got - 1] == '\0') {
    --got;
  } else if (got >= size) {
    return false;
  }
  data[got] = '\0';
  std::memcpy(buffer, data, got + 1);
  return true;
}
