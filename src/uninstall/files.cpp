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

}  // namespace

// Two forms of a path: the full path ("." and ".." resolved) and, when the
// path exists, its short form, so that an 8.3 spelling and a long spelling
// of the same directory meet in one of them.
struct PathForms {
  std::string full;
  std::string shortForm;
};

namespace {

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
// ("\\?\C:\...", "\\.\C:\...", "\\?\UNC\server\share\..."): each reaches the
// same files as the plain path, so the guard must judge that path. False
// when the spelling cannot be judged here: a volume or device name, an
// administrative share of any computer, another share of this computer.
// Such a directory is treated as protected.
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
    // An administrative share (a drive letter and "$") reaches a whole
    // drive of whichever computer it names; the name alone cannot tell
    // whether that computer is this one (its DNS name, one of its
    // addresses), so such a spelling is never emptied.
    if (serverEnd != std::string::npos) {
      size_t end = FindBackslash(text, serverEnd + 1);
      std::string share = text.substr(serverEnd + 1, end == std::string::npos ? std::string::npos : end - serverEnd - 1);
      if (share.size() == 2 && share[1] == '$' && std::isalpha(static_cast<unsigned char>(share[0]))) return false;
    }
    // Another share of this computer could be any of its folders.
    if (IsThisComputer(server)) return false;
  }
  local = text;
  return true;
}

// An environment variable that names a directory, or false.
bool DirectoryFromEnvironment(const char* name, char* path) {
  DWORD length = GetEnvironmentVariableA(name, path, kPathSize);
  if (length == 0 || length >= kPathSize) {
    path[0] = '\0';
    return false;
  }
  return true;
}

typedef UINT(WINAPI* GetSystemWindowsDirectoryA_fn)(LPSTR, UINT);
typedef DWORD(WINAPI* QueryDosDeviceA_fn)(LPCSTR, LPSTR, DWORD);

// KERNEL32 is in every process: its functions newer than Windows 95 and
// NT 4.0 are looked up, never imported, so that the program still starts
// there.
template <typename Fn>
Fn KernelFunction(const char* name) {
  return GetLibraryFunction<Fn>(GetModuleHandleA("kernel32.dll"), name);
}

// The parent of path (upper case, no trailing backslash), or empty.
std::string ParentOf(const std::string& path) {
  size_t last = std::string::npos;
  for (const char* p = path.c_str(); *p != '\0'; p = CharNextA(p)) {
    if (*p == '\\') last = static_cast<size_t>(p - path.c_str());
  }
  if (last == std::string::npos || last < 3) return std::string();
  return path.substr(0, last);
}

}  // namespace

struct ProtectedPlaces {
  // Protected as themselves and as their ancestors.
  std::vector<PathForms> selfAndAncestors;
  // Protected with everything inside them too.
  std::vector<PathForms> wholeTrees;
  // The directory that holds the profiles, and the user's own profile:
  // every folder directly inside the user's profile is protected, every
  // other profile whole.
  PathForms profiles;
  PathForms ownProfile;
  QueryDosDeviceA_fn queryDosDevice = nullptr;
  bool ntFamily = false;
};

namespace {

void AddPlace(std::vector<PathForms>& places, const char* path) {
  if (path[0] == '\0') return;
  PathForms forms = FormsOf(path);
  if (!forms.full.empty()) places.push_back(forms);
}

// candidate lies inside (or is) dir in one of the two forms.
bool IsInside(const PathForms& candidate, const PathForms& dir) {
  return IsSameOrAncestor(dir.full, candidate.full) || IsSameOrAncestor(dir.shortForm, candidate.shortForm);
}

bool IsSameOrAncestorOf(const PathForms& candidate, const PathForms& dir) {
  return IsSameOrAncestor(candidate.full, dir.full) || IsSameOrAncestor(candidate.shortForm, dir.shortForm);
}

// The first component of text after base (base an ancestor of text), or
// empty; more is set when further components follow.
std::string ComponentAfter(const std::string& text, const std::string& base, bool& more) {
  more = false;
  if (base.empty() || text.size() <= base.size() + 1) return std::string();
  std::string rest = text.substr(base.size() + 1);
  for (const char* p = rest.c_str(); *p != '\0'; p = CharNextA(p)) {
    if (*p == '\\') {
      more = true;
      return rest.substr(0, static_cast<size_t>(p - rest.c_str()));
    }
  }
  return rest;
}

}  // namespace

ProtectedPlaces* LoadProtectedPlaces() {
  auto* places = new ProtectedPlaces;
  places->ntFamily = IsNtFamily();
  places->queryDosDevice = KernelFunction<QueryDosDeviceA_fn>("QueryDosDeviceA");
  PathBuffer path = {};
  UINT length = GetWindowsDirectoryA(path, kPathSize);
  if (length > 0 && length < kPathSize) AddPlace(places->wholeTrees, path);
  // A terminal server gives each user a Windows directory of their own;
  // the shared one comes from GetSystemWindowsDirectoryA (Windows 2000 on).
  auto systemWindows = KernelFunction<GetSystemWindowsDirectoryA_fn>("GetSystemWindowsDirectoryA");
  path[0] = '\0';
  if (systemWindows != nullptr) {
    length = systemWindows(path, kPathSize);
    if (length > 0 && length < kPathSize) AddPlace(places->wholeTrees, path);
  }
  path[0] = '\0';
  length = GetSystemDirectoryA(path, kPathSize);
  if (length > 0 && length < kPathSize) AddPlace(places->wholeTrees, path);
  if (DirectoryFromEnvironment("SystemRoot", path)) AddPlace(places->wholeTrees, path);

  const WORD folders[] = {CSIDL_PROGRAM_FILES,        CSIDL_PROFILE,          CSIDL_PERSONAL,
                          CSIDL_COMMON_DOCUMENTS,     CSIDL_DESKTOP,          CSIDL_DESKTOPDIRECTORY,
                          CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_PROGRAM_FILES_COMMON, CSIDL_APPDATA,
                          CSIDL_LOCAL_APPDATA,        CSIDL_COMMON_APPDATA,   CSIDL_STARTMENU,
                          CSIDL_COMMON_STARTMENU,     CSIDL_PROGRAMS,         CSIDL_COMMON_PROGRAMS,
                          // Inside My Documents on 2000 and XP, so not among
                          // the folders directly inside the profile.
                          CSIDL_MYPICTURES,           CSIDL_MYMUSIC,          CSIDL_MYVIDEO};
  PathBuffer profile = {};
  for (WORD csidl : folders) {
    PathBuffer folder = {};
    bool found = GetShellFolderPath(csidl, folder) == S_OK && folder[0] != '\0';
    if (!found && csidl == CSIDL_PROGRAM_FILES) found = ReadCurrentVersionFolder("ProgramFilesDir", false, folder);
    if (!found && csidl == CSIDL_PROGRAM_FILES_COMMON)
      found = ReadCurrentVersionFolder("CommonFilesDir", false, folder);
    if (!found && csidl == CSIDL_PROFILE) found = ProfileFromEnvironment(folder);
    if (found && csidl == CSIDL_PROFILE) CopyText(profile, kPathSize, folder);
    if (found) AddPlace(places->selfAndAncestors, folder);
  }
  // The 64-bit folders a 32-bit process is never shown as Program Files,
  // and the all-users places, from the environment of Windows 7 and later
  // (ProgramW6432, CommonProgramW6432), Vista and later (ProgramData,
  // PUBLIC) and Windows 2000 and later (ALLUSERSPROFILE, CommonProgramFiles).
  const char* const variables[] = {"ProgramW6432", "CommonProgramW6432", "ProgramFiles", "ProgramFiles(x86)",
                                   "CommonProgramFiles", "CommonProgramFiles(x86)", "ProgramData",
                                   "ALLUSERSPROFILE", "PUBLIC", "APPDATA", "LOCALAPPDATA"};
  for (const char* variable : variables) {
    if (DirectoryFromEnvironment(variable, path)) AddPlace(places->selfAndAncestors, path);
  }
  // Windows XP x64 and Vista have no ProgramW6432: the 64-bit registry view
  // names the 64-bit folders. KEY_WOW64_64KEY is asked for only under WOW64:
  // systems before it do not know the flag.
  if (RunsUnderWow64()) {
    if (ReadCurrentVersionFolder("ProgramFilesDir", true, path)) AddPlace(places->selfAndAncestors, path);
    if (ReadCurrentVersionFolder("CommonFilesDir", true, path)) AddPlace(places->selfAndAncestors, path);
  }
  if (profile[0] == '\0') ProfileFromEnvironment(profile);
  if (profile[0] != '\0') {
    places->ownProfile = FormsOf(profile);
    std::string parent = ParentOf(places->ownProfile.full);
    if (!parent.empty()) {
      places->profiles = FormsOf(parent.c_str());
      places->selfAndAncestors.push_back(places->profiles);
    }
  }
  return places;
}

void FreeProtectedPlaces(ProtectedPlaces* places) { delete places; }

namespace {

// True when a component of the path (below its root) is a reparse point: a
// junction or symbolic link leads elsewhere, and what it reaches is not
// judged by its spelling.
bool HasReparsePoint(const std::string& full) {
  size_t start = 3;
  if (full.size() > 2 && full[0] == '\\' && full[1] == '\\') {
    size_t serverEnd = FindBackslash(full, 2);
    if (serverEnd == std::string::npos) return false;
    start = FindBackslash(full, serverEnd + 1);
    if (start == std::string::npos) return false;
    ++start;
  }
  for (size_t at = start; at <= full.size();) {
    size_t next = FindBackslash(full, at);
    std::string prefix = full.substr(0, next);
    DWORD attributes = GetFileAttributesA(prefix.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    if (next == std::string::npos) break;
    at = next + 1;
  }
  return false;
}

bool JudgeLocal(const ProtectedPlaces& places, const std::string& local, int depth);

// A drive made by SUBST (or DefineDosDevice) names another directory: on
// the NT family QueryDosDeviceA gives its target as "\\??\\C:\\...", which is
// judged as well. Every NT system exports the function (NT 3.1 on); Windows
// 9x keeps SUBST in its DOS layer, out of this query's reach, and there the
// spelling is judged as written.
bool SubstTargetProtected(const ProtectedPlaces& places, const std::string& full, int depth) {
  if (!IsDriveSpec(full)) return false;
  if (!places.ntFamily || places.queryDosDevice == nullptr) return false;
  char drive[3] = {full[0], ':', '\0'};
  char target[kPathSize + 2] = {};
  DWORD length = places.queryDosDevice(drive, target, kPathSize);
  if (length == 0 || length >= kPathSize) return false;  // no such device: nothing to follow
  std::string text(target);
  if (text.compare(0, 4, "\\??\\") != 0) return false;  // a volume, not a substitution
  std::string reached = text.substr(4);
  if (!IsDriveSpec(reached)) return true;
  while (EndsWithBackslash(reached.c_str())) reached.pop_back();
  reached += full.substr(2);
  if (depth > 4) return true;
  return JudgeLocal(places, reached, depth + 1);
}

bool JudgeLocal(const ProtectedPlaces& places, const std::string& local, int depth) {
  if (!IsFullPath(local.c_str())) return true;
  PathForms candidate = FormsOf(local.c_str());
  if (candidate.full.empty() || IsRoot(candidate.full)) return true;
  if (HasReparsePoint(candidate.full)) return true;
  if (SubstTargetProtected(places, candidate.full, depth)) return true;
  for (const PathForms& dir : places.selfAndAncestors) {
    if (IsSameOrAncestorOf(candidate, dir)) return true;
  }
  bool inProfiles = !places.profiles.full.empty() && IsInside(candidate, places.profiles);
  if (inProfiles) {
    // Another user's profile (Default, Public and All Users included) is
    // protected whole; in the user's own profile, the folders directly
    // inside it (Downloads, Pictures, AppData, ...).
    bool more = false;
    bool ownMore = false;
    std::string user = ComponentAfter(candidate.full, places.profiles.full, more);
    std::string own = ComponentAfter(places.ownProfile.full, places.profiles.full, ownMore);
    bool ownProfile = !user.empty() && user == own;
    if (!ownProfile && !places.profiles.shortForm.empty() && !candidate.shortForm.empty()) {
      bool shortMore = false;
      std::string userShort = ComponentAfter(candidate.shortForm, places.profiles.shortForm, shortMore);
      std::string ownShort = ComponentAfter(places.ownProfile.shortForm, places.profiles.shortForm, shortMore);
      ownProfile = !userShort.empty() && userShort == ownShort;
    }
    if (!ownProfile) return true;
    bool below = false;
    ComponentAfter(candidate.full, places.ownProfile.full, below);
    return !below;
  }
  // The Windows directory and everything in it (System32, SysWOW64,
  // Sysnative, Fonts, ...), except the profiles kept there by Windows NT 4.0
  // and 9x, which the rules above judge.
  for (const PathForms& dir : places.wholeTrees) {
    if (IsSameOrAncestorOf(candidate, dir) || IsInside(candidate, dir)) return true;
  }
  return false;
}

}  // namespace

bool IsProtectedDirectory(const ProtectedPlaces& places, const char* directory) {
  std::string local;
  if (!LocalSpelling(directory, local)) return true;
  return JudgeLocal(places, local, 0);
}

bool IsProtectedDirectory(const char* directory) {
  ProtectedPlaces* places = LoadProtectedPlaces();
  bool result = IsProtectedDirectory(*places, directory);
  FreeProtectedPlaces(places);
  return result;
}

bool IsRecordedDirectory(const std::vector<std::string>& entries, const char* directory) {
  PathForms candidate = FormsOf(directory);
  if (candidate.full.empty()) return false;
  for (const std::string& entry : entries) {
    PathForms forms = FormsOf(entry.c_str());
    if (!forms.full.empty() && forms.full == candidate.full) return true;
    if (!forms.shortForm.empty() && forms.shortForm == candidate.shortForm) return true;
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

void DeferProductFilesLeft(const char* directory) {
  for (const char* name : kProductFileList) {
    if (lstrcmpiA(name, "UNINS.EXE") == 0) continue;
    PathBuffer path = {};
    if (!BuildPath(path, directory, name) || GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) continue;
    ScheduleDeleteAtRestart(path, true);
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
