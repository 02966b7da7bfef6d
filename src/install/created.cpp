// The record of the directories an installation created. Paths, not flags:
// a record whose directories were changed later by hand or by another
// installation can never make a directory look created that this program
// did not make.
#include "install/created.h"

#include <cstring>

namespace {

// 32 KB holds more than a hundred paths of the longest kind; the registry
// of Windows 95 keeps values up to 16 KB in its own format but the API
// accepts this size, and a longer record is never needed.
constexpr size_t kRecordSize = 32768;

// Entries, each with its NUL, and the NUL that ends the list.
struct DirectoryList {
  char text[kRecordSize];
  size_t length;  // bytes of the entries, without the final NUL
};

DirectoryList createdNow = {{}, 0};

// Upper case by character (CharUpperBuffA leaves double-byte characters
// whole), without a trailing backslash.
bool CanonicalForm(const char* path, char* out) {
  if (!CopyText(out, kPathSize, path)) return false;
  size_t length = std::strlen(out);
  while (length > 1 && EndsWithBackslash(out)) out[--length] = '\0';
  if (length > 0) CharUpperBuffA(out, static_cast<DWORD>(length));
  return true;
}

bool SameSpelling(const char* a, const char* b) {
  PathBuffer left = {};
  PathBuffer right = {};
  if (!CanonicalForm(a, left) || !CanonicalForm(b, right)) return false;
  return std::strcmp(left, right) == 0;
}

bool ListHas(const DirectoryList& list, const char* path) {
  for (size_t at = 0; at < list.length; at += std::strlen(list.text + at) + 1) {
    if (SameSpelling(list.text + at, path)) return true;
  }
  return false;
}

void Append(DirectoryList& list, const char* path) {
  size_t length = std::strlen(path);
  if (length == 0 || length >= kPathSize || ListHas(list, path)) return;
  // The entry, its NUL and the list's final NUL.
  if (list.length + length + 2 > kRecordSize) return;
  std::memcpy(list.text + list.length, path, length + 1);
  list.length += length + 1;
  list.text[list.length] = '\0';
}

// A drive path ("C:\...") or a network or device path ("\\..."): a relative
// entry would be judged against whatever the current directory is.
bool IsFullSpelling(const char* path) {
  bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':' &&
               path[2] == '\\';
  return drive || (path[0] == '\\' && path[1] == '\\');
}

}  // namespace

void ClearCreatedDirectories() {
  createdNow.length = 0;
  createdNow.text[0] = '\0';
}

void RecordCreatedDirectory(const char* path) {
  // A path without a drive ("\VORTAN\FTP" where Program Files could not be
  // found) is left out: from another current drive it names another
  // directory, and the removal reads a list holding such an entry as
  // damaged, so that nothing in it, the working directory included, would
  // count as created.
  if (IsFullSpelling(path)) Append(createdNow, path);
}

BOOL CreateRecordedDirectory(const char* path) {
  if (!CreateDirectoryA(path, nullptr)) return FALSE;
  RecordCreatedDirectory(path);
  return TRUE;
}

bool ReadCreatedDirectories(HKEY key, std::vector<std::string>& entries) {
  entries.clear();
  static char data[kRecordSize + 2];
  DWORD type = 0;
  DWORD size = kRecordSize;
  LONG result = RegQueryValueExA(key, kCreatedDirectoriesValue, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                 &size);
  // Too long or of another type: present, and nothing counts as created.
  // Only "not found" says the record was made before the list existed,
  // to be judged by the protected places; a list that is there but cannot
  // be read (access denied, say) must not let that guard, which knows
  // only shared folders, empty a folder of the user's: nothing counts as
  // created, and what the installation made is left rather than lost.
  if (result == ERROR_MORE_DATA) return true;
  if (result != ERROR_SUCCESS) return result != ERROR_FILE_NOT_FOUND;
  if (type != REG_MULTI_SZ || size == 0 || size > kRecordSize) return true;
  if (data[size - 1] != '\0') return true;
  // The final NUL may be missing after the last entry's own (one NUL at the
  // end); an empty list may be one NUL or two.
  data[size] = '\0';
  data[size + 1] = '\0';
  std::vector<std::string> found;
  for (size_t at = 0; at < size && data[at] != '\0';) {
    size_t length = std::strlen(data + at);
    if (length >= kPathSize || !IsFullSpelling(data + at)) return true;
    found.emplace_back(data + at, length);
    at += length + 1;
  }
  entries.swap(found);
  return true;
}

bool WriteCreatedDirectories(HKEY key, const std::vector<std::string>& previous) {
  static DirectoryList merged;
  merged.length = 0;
  merged.text[0] = '\0';
  for (const std::string& entry : previous) Append(merged, entry.c_str());
  for (size_t at = 0; at < createdNow.length; at += std::strlen(createdNow.text + at) + 1)
    Append(merged, createdNow.text + at);
  // An empty list is written as its two NULs.
  if (merged.length == 0) merged.text[1] = '\0';
  DWORD size = static_cast<DWORD>(merged.length == 0 ? 2 : merged.length + 1);
  return RegSetValueExA(key, kCreatedDirectoriesValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(merged.text),
                        size) == ERROR_SUCCESS;
}
