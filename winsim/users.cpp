// The user the program runs as, from Windows Vista on: an elevated
// administrator (the product's manifest asks highestAvailable, so an
// administrator's setup is elevated) or a standard user, whose writes to the
// machine's places fail with ERROR_ACCESS_DENIED (no virtualization for a
// manifested program). The checks sit where a path becomes a node and where
// a key path becomes a key, so that per-directory security can later join
// them there. Facts and sources: docs/windows-x64-and-user-rights.md.
#include <algorithm>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace winsim::detail {

namespace {

NodePtr RealNode(const State& s, const std::string& path) {
  PathParts p;
  if (path.empty() || s.Resolve(path.c_str(), p, false, false)) return nullptr;
  return s.Lookup(p);
}

std::string Folder(const State& s, int csidl) {
  auto it = s.shFolders.find(csidl);
  return it != s.shFolders.end() && it->second.path ? *it->second.path : "";
}

std::string RegText(const State& s, const char* key, const char* name) {
  KeyPtr k = s.KeyForTest(HKEY_LOCAL_MACHINE, key, false);
  if (!k) return "";
  for (const RegVal& v : k->values)
    if (IEquals(v.name, name)) return std::string(v.data.begin(), std::find(v.data.begin(), v.data.end(), 0));
  return "";
}

}  // namespace

bool State::Standard() const { return user == UserKind::StandardUser && native == 0; }

// The machine's places a standard user may read but not change: the
// Windows directory, Program Files (both; by the shell's and the
// registry's names), the all-users Start Menu and desktop.
std::vector<NodePtr> State::MachineFolders() const {
  std::vector<std::string> paths = {windowsDir, "C:\\Program Files", "C:\\Program Files (x86)"};
  for (int csidl : {CSIDL_PROGRAM_FILES, CSIDL_COMMON_STARTMENU, CSIDL_COMMON_PROGRAMS, CSIDL_COMMON_STARTUP,
                    CSIDL_COMMON_DESKTOPDIRECTORY})
    paths.push_back(Folder(*this, csidl));
  const char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
  for (const char* name : {"ProgramFilesDir", "ProgramFilesDir (x86)", "ProgramW6432Dir"})
    paths.push_back(RegText(*this, kCurrentVersion, name));
  std::vector<NodePtr> nodes;
  for (const std::string& path : paths)
    if (NodePtr n = RealNode(*this, path)) nodes.push_back(n);
  return nodes;
}

std::vector<NodePtr> State::OtherProfiles() const {
  std::vector<NodePtr> nodes;
  for (const std::string& path : otherProfiles)
    if (NodePtr n = RealNode(*this, path)) nodes.push_back(n);
  return nodes;
}

DWORD State::MayChange(const FsNode* target) const {
  if (!Standard() || !target) return 0;
  std::vector<NodePtr> refused = MachineFolders();
  std::vector<NodePtr> others = OtherProfiles();
  refused.insert(refused.end(), others.begin(), others.end());
  for (const FsNode* n = target; n; n = n->parent)
    for (const NodePtr& r : refused)
      if (r.get() == n) return ERROR_ACCESS_DENIED;
  return 0;
}

DWORD State::MayLookInside(const FsNode* dir) const {
  if (!Standard() || !dir) return 0;
  std::vector<NodePtr> others = OtherProfiles();
  for (const FsNode* n = dir; n; n = n->parent)
    for (const NodePtr& r : others)
      if (r.get() == n) return ERROR_ACCESS_DENIED;
  return 0;
}

bool State::UserRefusesKeyWrite(const std::string& hiveName) const {
  // "write access is only granted to the HKEY_CURRENT_USER (HKCU) subtree";
  // HKEY_CLASSES_ROOT writes land in HKLM\Software\Classes.
  return Standard() && (hiveName == "HKEY_LOCAL_MACHINE" || hiveName == "HKEY_USERS" ||
                        hiveName == "HKEY_CLASSES_ROOT");
}

}  // namespace winsim::detail

namespace winsim {

void Machine::SetUser(UserKind kind) {
  State& s = state();
  if (kind == UserKind::StandardUser && !IsVistaOrLater(s.version))
    throw UsageError("winsim: user kinds are modelled from Windows Vista on (Windows 7 and later here)\n");
  s.user = kind;
}

UserKind Machine::user() const { return state().user; }

void Machine::AddUserProfile(const std::string& name) {
  State& s = state();
  if (!s.IsNT()) throw UsageError("winsim: AddUserProfile: the 9x family has no per-user profiles here\n");
  std::string dir = ProfilesDir() + "\\" + name;
  static const std::vector<const char*> kUsers = {"Desktop",  "Documents", "Downloads",        "Music",
                                                   "Pictures", "Videos",    "Favorites",        "AppData\\Roaming",
                                                   "AppData\\Local"};
  static const std::vector<const char*> kDocumentsAndSettings = {"Desktop", "My Documents", "Favorites",
                                                                 "Application Data",
                                                                 "Local Settings\\Application Data"};
  for (const char* sub : IsVistaOrLater(s.version) ? kUsers : kDocumentsAndSettings) MakeDirs(dir + "\\" + sub);
  for (const std::string& p : s.otherProfiles)
    if (IEquals(p, dir)) return;
  s.otherProfiles.push_back(dir);
}

std::string Machine::ProfilesDir() const {
  const State& s = state();
  std::string profile = EnvironmentVariable("USERPROFILE").value_or("");
  if (profile.empty()) return s.windowsDir + "\\Profiles";
  return profile.substr(0, detail::FindLastChar(profile, '\\'));
}

}  // namespace winsim
