// Restart-time file operations: the NT family keeps them through
// MoveFileExA; the 9x family processes the [rename] section of WININIT.INI
// at its next start, where "NUL=<short path>" deletes the file.
#include "install/install.h"

#include <cstring>
#include <string>

namespace {

// A sane bound for a file that Windows empties at every start.
constexpr DWORD kMaxWininitSize = 4 * 1024 * 1024;

bool ReadWholeFile(const char* path, std::string& text) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  DWORD size = GetFileSize(file, nullptr);
  bool ok = size != INVALID_FILE_SIZE && size <= kMaxWininitSize;
  if (ok && size > 0) {
    text.resize(size);
    DWORD got = 0;
    ok = ReadFile(file, text.data(), size, &got, nullptr) && got == size;
  }
  CloseHandle(file);
  return ok;
}

bool WriteWholeFile(const char* path, const std::string& text) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
            written == text.size();
  CloseHandle(file);
  return ok;
}

// Replaces the file at path (in directory) by text without ever leaving it
// cut short: a short write (a full disk, a quota) would otherwise lose every
// pending restart operation in it, other programs' too. The whole text goes
// to a new file in the same directory first; only a file written to its end
// takes the old one's place. The 9x family has no replacing rename
// (MoveFileExA is not implemented there), so the old file is deleted and the
// new one renamed; between the two the complete text exists under the new
// file's name.
bool ReplaceWholeFile(const char* path, const char* directory, const std::string& text) {
  char temporary[kPathSize] = {};
  if (!GetTempFileNameA(directory, "WII", 0, temporary)) return false;
  if (!WriteWholeFile(temporary, text)) {
    DeleteFileA(temporary);
    return false;
  }
  if (!DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    DeleteFileA(temporary);
    return false;
  }
  if (MoveFileA(temporary, path)) return true;
  // The old text is gone; the copy keeps the new one where Windows looks.
  if (CopyFileA(temporary, path, FALSE)) DeleteFileA(temporary);
  return false;
}

bool IsSectionHeader(const std::string& line, const char* name) {
  size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos || line[start] != '[') return false;
  size_t end = line.find(']', start);
  if (end == std::string::npos) return false;
  std::string section = line.substr(start + 1, end - start - 1);
  return lstrcmpiA(section.c_str(), name) == 0;
}

bool IsAnySectionHeader(const std::string& line) {
  size_t start = line.find_first_not_of(" \t");
  return start != std::string::npos && line[start] == '[';
}

// Adds one line to the end of the [rename] section, creating the section
// when it is missing. A profile write of key "NUL" would replace an earlier
// pending deletion instead of adding one, so the text is edited directly.
std::string AddRenameLine(const std::string& text, const std::string& line) {
  size_t position = 0;
  size_t insertAt = std::string::npos;
  bool inSection = false;
  while (position < text.size()) {
    size_t end = text.find('\n', position);
    size_t next = end == std::string::npos ? text.size() : end + 1;
    std::string current = text.substr(position, next - position);
    if (IsAnySectionHeader(current)) {
      if (inSection) {
        insertAt = position;
        break;
      }
      inSection = IsSectionHeader(current, "rename");
    }
    position = next;
  }
  if (inSection && insertAt == std::string::npos) insertAt = text.size();

  std::string result = text;
  if (insertAt == std::string::npos) {
    if (!result.empty() && result.back() != '\n') result += "\r\n";
    result += "[rename]\r\n" + line + "\r\n";
    return result;
  }
  std::string addition = line + "\r\n";
  if (insertAt > 0 && result[insertAt - 1] != '\n') addition = "\r\n" + addition;
  result.insert(insertAt, addition);
  return result;
}

bool ScheduleDeleteThroughWininit(const char* path) {
  PathBuffer wininit = {};
  UINT length = GetWindowsDirectoryA(wininit, kPathSize);
  if (length == 0 || length >= kPathSize || !JoinPath(wininit, kPathSize, "WININIT.INI")) return false;
  // The short form exists only for an existing path; a path that is already
  // gone needs no deletion, and a long path must not be written here since
  // the 9x restart processing reads short names only.
  char shortPath[kPathSize] = {};
  DWORD shortLength = GetShortPathNameA(path, shortPath, kPathSize);
  if (shortLength == 0 || shortLength >= kPathSize) return false;

  PathBuffer windowsDir = {};
  length = GetWindowsDirectoryA(windowsDir, kPathSize);
  if (length == 0 || length >= kPathSize) return false;
  std::string text;
  if (!ReadWholeFile(wininit, text)) return false;
  return ReplaceWholeFile(wininit, windowsDir, AddRenameLine(text, std::string("NUL=") + shortPath));
}

// What the system refused to delete at restart and still exists, in the
// order met; a path that did not fit is counted, so that the removal never
// reports itself complete while something it could not name is left.
constexpr int kMaxLeftOver = 8;
PathBuffer leftOver[kMaxLeftOver] = {};
int leftOverCount = 0;
bool leftOverUnnamed = false;

void NoteLeftOver(const char* path) {
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) return;
  for (int i = 0; i < leftOverCount; ++i)
    if (lstrcmpiA(leftOver[i], path) == 0) return;
  if (leftOverCount < kMaxLeftOver && CopyText(leftOver[leftOverCount], kPathSize, path)) {
    ++leftOverCount;
    return;
  }
  leftOverUnnamed = true;
}

}  // namespace

bool ScheduleDeleteAtRestart(const char* path, bool markRestart) {
  // MoveFileExA with MOVEFILE_DELAY_UNTIL_REBOOT writes the session
  // manager's PendingFileRenameOperations in HKEY_LOCAL_MACHINE and fails
  // with ERROR_ACCESS_DENIED for a user without administrator rights
  // (MoveFileEx documentation: "requires ... administrators group or the
  // LocalSystem account"). Only an operation the system took makes a
  // restart worth asking for.
  bool taken = IsNtFamily() ? MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE
                            : ScheduleDeleteThroughWininit(path);
  if (taken && markRestart) setupState.rebootRequired = 1;
  if (!taken) NoteLeftOver(path);
  return taken;
}

void ForgetLeftOver() {
  leftOverCount = 0;
  leftOverUnnamed = false;
}

int LeftOverCount() { return leftOverCount; }

const char* LeftOverPath(int index) { return index >= 0 && index < leftOverCount ? leftOver[index] : ""; }

bool LeftOverUnnamed() { return leftOverUnnamed; }

bool ScheduleReplaceAtRestart(const char* newFile, const char* oldFile) {
  return MoveFileExA(newFile, oldFile, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}
