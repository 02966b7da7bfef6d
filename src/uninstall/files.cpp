// File removal: the product's fixed program files, the emptying of one
// directory with restart-time deferral, and the guard that keeps removal out
// of directories that hold more than this product.
#include "install/install.h"
#include "uninstall/uninstall.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kProductFileList[] = {
    "QXFTP.EXE", "QXFTP.CHM", "QXFTP.HLP", "QXFTP.FTS", "QXFTP.GID",
    "UNINS.EXE", "QXFTP.DLL", "QXFK.DLL",  "QXISFT.DLL", "README.HTM",
};

bool IsFullPath(const char* path) {
  bool drive = std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && path[2] == '\\';
  bool unc = path[0] == '\\' && path[1] == '\\' && path[2] != '\0' && path[2] != '\\';
  return drive || unc;
}

// Upper case, no trailing backslash: the form in which two spellings of one
// directory compare equal.
std::string Canonical(const char* path) {
  std::string text(path);
  while (text.size() > 1 && text.back() == '\\') text.pop_back();
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Two forms of a path: the full path ("." and ".." resolved) and, when the
// path exists, its short form, so that an 8.3 spelling and a long spelling
// of the same directory meet in one of them.
struct PathForms {
  std::string full;
  std::string shortForm;
};

PathForms FormsOf(const char* path) {
  PathForms forms;
  char full[kPathSize + 1] = {};
  char* filePart = nullptr;
  DWORD length = GetFullPathNameA(path, kPathSize, full, &filePart);
  if (length == 0 || length >= kPathSize) return forms;
  forms.full = Canonical(full);
  char shortPath[kPathSize + 1] = {};
  length = GetShortPathNameA(full, shortPath, kPathSize);
  if (length > 0 && length < kPathSize) forms.shortForm = Canonical(shortPath);
  return forms;
}

// True when candidate names the same directory as protectedDir or one of
// its ancestors.
bool IsSameOrAncestor(const std::string& candidate, const std::string& protectedDir) {
  if (candidate.empty() || protectedDir.empty()) return false;
  if (protectedDir.size() < candidate.size()) return false;
  if (protectedDir.compare(0, candidate.size(), candidate) != 0) return false;
  return protectedDir.size() == candidate.size() || protectedDir[candidate.size()] == '\\';
}

bool IsRoot(const std::string& full) {
  if (full.size() == 2 && full[1] == ':') return true;
  if (full.size() > 2 && full[0] == '\\' && full[1] == '\\') {
    // \\server\share is the root of a network drive.
    size_t slashes = 0;
    for (size_t i = 2; i < full.size(); ++i) slashes += full[i] == '\\';
    return slashes <= 1;
  }
  return false;
}

std::vector<std::string> ProtectedDirectories() {
  std::vector<std::string> directories;
  PathBuffer path = {};
  UINT length = GetWindowsDirectoryA(path, kPathSize);
  if (length > 0 && length < kPathSize) directories.push_back(path);
  path[0] = '\0';
  length = GetSystemDirectoryA(path, kPathSize);
  if (length > 0 && length < kPathSize) directories.push_back(path);
  const WORD folders[] = {CSIDL_PROGRAM_FILES, CSIDL_PROFILE,        CSIDL_PERSONAL,
                          CSIDL_COMMON_DOCUMENTS, CSIDL_DESKTOP, CSIDL_DESKTOPDIRECTORY,
                          CSIDL_COMMON_DESKTOPDIRECTORY};
  for (WORD csidl : folders) {
    PathBuffer folder = {};
    if (GetShellFolderPath(csidl, folder) == S_OK && folder[0] != '\0') directories.push_back(folder);
  }
  return directories;
}

}  // namespace

bool IsProtectedDirectory(const char* directory) {
  if (!IsFullPath(directory)) return true;
  PathForms candidate = FormsOf(directory);
  if (candidate.full.empty() || IsRoot(candidate.full)) return true;
  for (const std::string& protectedDir : ProtectedDirectories()) {
    PathForms forms = FormsOf(protectedDir.c_str());
    if (IsSameOrAncestor(candidate.full, forms.full) || IsSameOrAncestor(candidate.shortForm, forms.shortForm))
      return true;
  }
  return false;
}

void DeleteProductFiles(const char* directory) {
  for (const char* name : kProductFileList) {
    PathBuffer path = {};
    if (!CopyText(path, kPathSize, directory) || !JoinPath(path, kPathSize, name)) continue;
    // Archive alone clears read-only, hidden and system, which would
    // otherwise refuse the deletion.
    SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
    DeleteFileA(path);
  }
}

void EmptyDirectory(const char* directory) {
  PathBuffer pattern = {};
  if (!CopyText(pattern, kPathSize, directory) || !JoinPath(pattern, kPathSize, "*.*")) return;
  WIN32_FIND_DATAA found = {};
  HANDLE find = FindFirstFileA(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (lstrcmpiA(found.cFileName, ".") == 0 || lstrcmpiA(found.cFileName, "..") == 0) continue;
    PathBuffer path = {};
    if (!CopyText(path, kPathSize, directory) || !JoinPath(path, kPathSize, found.cFileName)) continue;
    // A file in use, a read-only file or a subdirectory: all go at the
    // next restart, and the restart becomes necessary.
    if (!DeleteFileA(path)) ScheduleDeleteAtRestart(path, true);
  } while (FindNextFileA(find, &found));
  FindClose(find);
}
