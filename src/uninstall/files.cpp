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
// directory compare equal. CharUpperBuffA folds as the system does and
// leaves double-byte characters whole (a toupper on their trail bytes would
// make other characters).
std::string Canonical(const char* path) {
  std::string text(path);
  while (text.size() > 1 && EndsWithBackslash(text.c_str())) text.pop_back();
  if (!text.empty()) CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
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
    for (const char* p = full.c_str() + 2; *p != '\0'; p = CharNextA(p)) slashes += *p == '\\';
    return slashes <= 1;
  }
  return false;
}

// Program Files as the system records it. Shells before version 5 do not
// know CSIDL_PROGRAM_FILES through item lists, so on Windows 95, 98 and NT 4.0
// the record in HKEY_LOCAL_MACHINE is the only source (KB Q178625 names it
// for those systems).
bool ProgramFilesFromRegistry(char* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return false;
  bool found = QueryRegistryString(key, "ProgramFilesDir", path, kPathSize) && path[0] != '\0';
  RegCloseKey(key);
  return found;
}

// The user's profile root where the shell does not know CSIDL_PROFILE: NT 4.0
// gives every process USERPROFILE. Windows 9x has none; a 9x profile root
// (WINDOWS\Profiles\<user>) is still covered as the ancestor of the user's
// desktop and documents folders.
bool ProfileFromEnvironment(char* path) {
  DWORD length = GetEnvironmentVariableA("USERPROFILE", path, kPathSize);
  if (length == 0 || length >= kPathSize) {
    path[0] = '\0';
    return false;
  }
  return true;
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
    bool found = GetShellFolderPath(csidl, folder) == S_OK && folder[0] != '\0';
    if (!found && csidl == CSIDL_PROGRAM_FILES) found = ProgramFilesFromRegistry(folder);
    if (!found && csidl == CSIDL_PROFILE) found = ProfileFromEnvironment(folder);
    if (found) directories.push_back(folder);
  }
  return directories;
}

// The first backslash at or after from (a character boundary) that is a
// character of its own, or npos: a computer name may hold double-byte
// characters whose trail byte is 0x5C.
size_t FindBackslash(const std::string& text, size_t from) {
  for (const char* p = text.c_str() + from; *p != '\0'; p = CharNextA(p)) {
    if (*p == '\\') return static_cast<size_t>(p - text.c_str());
  }
  return std::string::npos;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  size_t length = std::strlen(prefix);
  return text.size() >= length && lstrcmpiA(text.substr(0, length).c_str(), prefix) == 0;
}

bool IsDriveSpec(const std::string& text) {
  return text.size() >= 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
         (text.size() == 2 || text[2] == '\\');
}

// True when server names this computer: a loopback name or its own name.
bool IsThisComputer(const std::string& server) {
  if (lstrcmpiA(server.c_str(), "localhost") == 0 || server == "127.0.0.1") return true;
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof(name);
  return GetComputerNameA(name, &size) && lstrcmpiA(server.c_str(), name) == 0;
}

// The local spelling of a directory written through a device prefix
// ("\\?\C:\...", "\\.\C:\...", "\\?\UNC\server\share\...") or through an
// administrative share of this computer ("\\localhost\C$\...",
// "\\127.0.0.1\C$\...", "\\<this computer>\C$\..."): each reaches the same
// files as "C:\...", so the guard must judge that path. False when the
// spelling names this computer's storage in a way that cannot be resolved
// here (a volume or device name, another share of this computer): such a
// directory is treated as protected.
bool LocalSpelling(const char* directory, std::string& local) {
  std::string text(directory);
  for (char& c : text)
    if (c == '/') c = '\\';
  if (StartsWithNoCase(text, "\\\\?\\") || StartsWithNoCase(text, "\\\\.\\")) {
    std::string rest = text.substr(4);
    if (StartsWithNoCase(rest, "UNC\\")) {
      text = "\\\\" + rest.substr(4);
    } else if (IsDriveSpec(rest)) {
      local = rest.size() == 2 ? rest + "\\" : rest;
      return true;
    } else {
      return false;
    }
  }
  if (text.size() > 2 && text[0] == '\\' && text[1] == '\\') {
    size_t serverEnd = FindBackslash(text, 2);
    std::string server = text.substr(2, serverEnd == std::string::npos ? std::string::npos : serverEnd - 2);
    if (IsThisComputer(server)) {
      if (serverEnd == std::string::npos) return false;
      size_t shareEnd = FindBackslash(text, serverEnd + 1);
      size_t shareLength = shareEnd == std::string::npos ? std::string::npos : shareEnd - serverEnd - 1;
      std::string share = text.substr(serverEnd + 1, shareLength);
      if (share.size() != 2 || share[1] != '$' || !std::isalpha(static_cast<unsigned char>(share[0])))
        return false;
      local = std::string(1, share[0]) + ":\\" + (shareEnd == std::string::npos ? "" : text.substr(shareEnd + 1));
      return true;
    }
  }
  local = text;
  return true;
}

}  // namespace

bool IsProtectedDirectory(const char* directory) {
  std::string local;
  if (!LocalSpelling(directory, local)) return true;
  if (!IsFullPath(local.c_str())) return true;
  PathForms candidate = FormsOf(local.c_str());
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
    if (!BuildPath(path, directory, name)) continue;
    // Archive alone clears read-only, hidden and system, which would
    // otherwise refuse the deletion.
    SetFileAttributesA(path, FILE_ATTRIBUTE_ARCHIVE);
    DeleteFileA(path);
  }
}

void EmptyDirectory(const char* directory) {
  PathBuffer pattern = {};
  if (!BuildPath(pattern, directory, "*.*")) return;
  WIN32_FIND_DATAA found = {};
  HANDLE find = FindFirstFileA(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (lstrcmpiA(found.cFileName, ".") == 0 || lstrcmpiA(found.cFileName, "..") == 0) continue;
    PathBuffer path = {};
    if (!BuildPath(path, directory, found.cFileName)) continue;
    // A file in use, a read-only file or a subdirectory: all go at the
    // next restart, and the restart becomes necessary.
    if (!DeleteFileA(path)) ScheduleDeleteAtRestart(path, true);
  } while (FindNextFileA(find, &found));
  FindClose(find);
}
