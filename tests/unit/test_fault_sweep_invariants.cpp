// The fault sweep's invariants: what may change, what may stay after a
// removal, and the user's own files, which must come through every road
// byte for byte.
#include "fault_sweep.h"

#include <cctype>
#include <set>

#ifdef SETUP_RES_PATH

namespace fault_sweep {

namespace {

// The product's registry places, in the 64-bit view a snapshot sees: on a
// 64-bit edition the program's HKLM\Software lands under Wow6432Node and
// its classes partly there (XP x64 redirects HKCR\.qft, 7 and later share
// it); a per-user installation by a standard user has its uninstall entry
// and file type under HKEY_CURRENT_USER.
const char* const kProductKeys[] = {
    "HKLM\\SOFTWARE\\VORTAN",
    "HKLM\\SOFTWARE\\WOW6432NODE\\VORTAN",
    "HKCU\\SOFTWARE\\VORTAN",
    "HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL\\VORTAN FTP",
    "HKLM\\SOFTWARE\\WOW6432NODE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL\\VORTAN FTP",
    "HKCU\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL\\VORTAN FTP",
};
// The file type, which stays at removal by design.
const char* const kFileTypeKeys[] = {
    "HKLM\\SOFTWARE\\CLASSES\\.QFT",
    "HKLM\\SOFTWARE\\CLASSES\\KELDRA.FTP.1",
    "HKLM\\SOFTWARE\\CLASSES\\WOW6432NODE\\.QFT",
    "HKLM\\SOFTWARE\\CLASSES\\WOW6432NODE\\KELDRA.FTP.1",
    "HKLM\\SOFTWARE\\WOW6432NODE\\CLASSES\\.QFT",
    "HKLM\\SOFTWARE\\WOW6432NODE\\CLASSES\\KELDRA.FTP.1",
    "HKCU\\SOFTWARE\\CLASSES\\.QFT",
    "HKCU\\SOFTWARE\\CLASSES\\KELDRA.FTP.1",
};
// The vendor key itself stays at removal, in whichever view it was made.
const char* const kVendorKeys[] = {"HKLM\\SOFTWARE\\VORTAN", "HKLM\\SOFTWARE\\WOW6432NODE\\VORTAN",
                                   "HKCU\\SOFTWARE\\VORTAN"};
const char kPendingRenames[] = "HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SESSION MANAGER|PENDINGFILERENAMEOPERATIONS";

// The ten names the removal deletes from the installation directory.
const std::set<std::string> kProductFileNames = {"QXFTP.EXE", "QXFTP.CHM",  "QXFTP.HLP",  "QXFTP.FTS",
                                                 "QXFTP.GID", "UNINS.EXE",  "QXFTP.DLL",  "QXFK.DLL",
                                                 "QXISFT.DLL", "README.HTM"};

bool UnderKey(const std::string& key, const std::string& place) {
  return key == place || StartsWith(key, place + "\\") || StartsWith(key, place + "|");
}

// A key made on the way to a product key (HKCU has no Uninstall key until
// a per-user installation makes one): the key alone, none of its values.
bool AboveAProductKey(const std::string& key) {
  if (key.find('|') != std::string::npos) return false;
  for (const char* place : kProductKeys)
    if (StartsWith(place, key + "\\")) return true;
  for (const char* place : kFileTypeKeys)
    if (StartsWith(place, key + "\\")) return true;
  return false;
}

std::string Parent(const std::string& path) {
  size_t slash = path.rfind('\\');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

void AddKeys(const fixture::Machine& m, HKEY hive, const std::string& hiveName, const std::string& key,
             Snapshot& s) {
  std::string name = hiveName + (key.empty() ? "" : "\\" + key);
  s.registry[Upper(name)] = "key";
  for (const std::string& value : m.ValueNames(hive, key)) {
    auto v = m.GetRegValue(hive, key, value);
    s.registry[Upper(name) + "|" + Upper(value)] =
        std::to_string(v->type) + ":" + std::string(v->data.begin(), v->data.end());
  }
  for (const std::string& sub : m.SubKeys(hive, key)) AddKeys(m, hive, hiveName, key.empty() ? sub : key + "\\" + sub, s);
}

}  // namespace

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

bool Within(const std::string& path, const std::string& dir) {
  std::string p = Upper(path), d = Upper(dir);
  return p == d || StartsWith(p, d + "\\");
}

Snapshot Take(fixture::Machine& m) {
  Snapshot s;
  for (const char* drive : {"C:\\", "D:\\"}) {
    for (const std::string& rel : m.Tree(drive)) {
      std::string path = drive + rel;
      if (m.IsDirectory(path)) {
        s.files[Upper(path)] = "dir";
      } else {
        auto bytes = m.ReadBytes(path);
        s.files[Upper(path)] = std::string(bytes->begin(), bytes->end());
      }
    }
  }
  AddKeys(m, HKEY_LOCAL_MACHINE, "HKLM", "", s);
  AddKeys(m, HKEY_CURRENT_USER, "HKCU", "", s);
  for (const auto& group : m.progman().groups) {
    std::string items;
    for (const auto& item : group.items) items += item.name + "=" + item.cmdline + ";";
    s.groups[Upper(group.name)] = items;
  }
  return s;
}

std::vector<std::string> Changed(const std::map<std::string, std::string>& a,
                                 const std::map<std::string, std::string>& b) {
  std::vector<std::string> names;
  for (auto& [k, v] : a) {
    auto it = b.find(k);
    if (it == b.end() || it->second != v) names.push_back(k);
  }
  for (auto& [k, v] : b)
    if (!a.count(k)) names.push_back(k);
  return names;
}

// A changed file or key outside the product's own places. The user's files
// inside the product's directories are held by UserFilesChanged.
std::vector<std::string> FaultSweep::Outside(const Snapshot& before, const Snapshot& after) const {
  std::vector<std::string> bad;
  std::string windows = Upper(m().WindowsDir());
  std::string temp = Upper(m().TempDir());
  std::string desktop = Upper(m().ShellFolder(CSIDL_DESKTOPDIRECTORY));
  std::string commonDesktop = Upper(m().ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY));
  for (const std::string& path : Changed(before.files, after.files)) {
    if (Within(path, dir_) || Within(path, installDir_) || Within(installDir_, path) || Within(dir_, path)) continue;
    // The working directory the installation makes, and its parents.
    if (Within(path, workDir_) || Within(workDir_, path)) continue;
    if (path == windows + "\\WININIT.INI" || path == windows + "\\WININIT.BAK") continue;
    if (StartsWith(path, temp + "QXSLA.")) continue;
    if (path == desktop + "\\VORTAN FTP.LNK" || path == commonDesktop + "\\VORTAN FTP.LNK") continue;
    // Where no desktop folder resolves, the shortcut goes to the Windows
    // directory by design.
    if (path == windows + "\\VORTAN FTP.LNK") continue;
    // Where no Program Manager answers, the group is a folder of links in
    // the user's Programs folder.
    if (Within(path, m().ShellFolder(CSIDL_PROGRAMS) + "\\VORTAN FTP")) continue;
    if (path == "C:\\QXFTP.DLL" && Scheduled("C:\\QXFTP.DLL")) continue;
    if (path == "C:\\DIST\\SETUP.INI") continue;
    bad.push_back("file " + path);
  }
  for (const std::string& key : Changed(before.registry, after.registry)) {
    bool ok = key == kPendingRenames || AboveAProductKey(key);
    for (const char* place : kProductKeys) ok = ok || UnderKey(key, place);
    for (const char* place : kFileTypeKeys) ok = ok || UnderKey(key, place);
    if (!ok) bad.push_back("key " + key);
  }
  for (const std::string& group : Changed(before.groups, after.groups))
    if (group != "VORTAN FTP") bad.push_back("group " + group);
  return bad;
}

// Whatever differs from the machine before an installation once it is
// removed again, but for what stays by design: the vendor key, the file
// type, the emptied parent directory, the restart machinery's leftovers,
// and the files an installation put into the user's own folders.
std::vector<std::string> FaultSweep::NotAsBefore(const Snapshot& before, const Snapshot& after) const {
  std::vector<std::string> left;
  std::string windows = Upper(m().WindowsDir());
  for (const std::string& path : Changed(before.files, after.files)) {
    if (path == "C:\\DIST\\SETUP.INI") continue;
    if (Within(installDir_, path) && !Within(path, installDir_)) continue;  // the emptied parents stay
    if (path == windows + "\\WININIT.INI" || path == windows + "\\WININIT.BAK") continue;
    if (!before.files.count(path) && AllowedLeftOver(path)) continue;
    left.push_back("file " + path);
  }
  for (const std::string& key : Changed(before.registry, after.registry)) {
    bool stays = key == kPendingRenames || AboveAProductKey(key);
    for (const char* vendor : kVendorKeys) stays = stays || key == vendor;
    for (const char* place : kFileTypeKeys) stays = stays || UnderKey(key, place);
    if (!stays) left.push_back("key " + key);
  }
  for (const std::string& group : Changed(before.groups, after.groups)) left.push_back("group " + group);
  return left;
}

// Each of the user's files and folders seeded before anything ran, now
// missing or different.
std::vector<std::string> FaultSweep::UserFilesChanged(const Snapshot& now) const {
  std::vector<std::string> changed;
  // A list of created directories reported "not found" makes the record
  // one of a version before the list, whose removal empties a working
  // directory no guard protects, as that version's removal did. So does an
  // installation over such a record, which adopts its directories as
  // created unless the guard protects them. Any other failure to read it
  // must keep the user's files.
  if (ListReportedMissing()) return changed;
  for (const auto& [path, content] : seeded_) {
    auto it = now.files.find(path);
    if (it == now.files.end()) changed.push_back("lost: " + path);
    else if (it->second != content) changed.push_back("changed: " + path);
  }
  return changed;
}

// A new entry a removal may leave: what the installation copied into a
// folder of the user's (into an existing Config or Docs, say), and a file
// of another name than the product's ten it copied into an installation or
// working directory that was the user's already. A leftover is better than
// a lost file; the directories the installation made must go.
bool FaultSweep::AllowedLeftOver(const std::string& path) const {
  std::string upper = Upper(path);
  if (seeded_.empty()) return false;
  std::string ancestor = Parent(upper);
  while (!ancestor.empty()) {
    auto it = seeded_.find(ancestor);
    if (it != seeded_.end() && it->second == "dir") break;
    ancestor = Parent(ancestor);
  }
  if (ancestor.empty() || !(Within(ancestor, dir_) || Within(ancestor, workDir_))) return false;
  bool root = ancestor == Upper(dir_) || ancestor == Upper(workDir_);
  if (!root) return true;
  if (Parent(upper) != ancestor || m().IsDirectory(path)) return false;
  return !(ancestor == Upper(installDir_) && kProductFileNames.count(upper.substr(ancestor.size() + 1)));
}

// What a removal left in the installation and working directories that is
// neither the user's, nor allowed to stay, nor explained by the failed call.
std::vector<std::string> FaultSweep::LeftByTheRemoval() const {
  std::vector<std::string> left;
  std::vector<std::string> dirs = {dir_, workDir_};
  if (!driveRelative_ && Upper(installDir_) != Upper(dir_)) dirs.push_back(installDir_);
  for (const std::string& dir : dirs) {
    if (!m().Exists(dir)) continue;
    for (const std::string& rel : m().Tree(dir)) {
      std::string path = dir + "\\" + rel;
      if (seeded_.count(Upper(path)) || AllowedLeftOver(path) || LeftByTheFailure(path)) continue;
      if (exceptUninstaller_ && Upper(path) == Upper(installDir_ + "\\UNINS.EXE")) continue;
      // Outstanding, as after every road: the server DLL the installation
      // could not replace in use, staged at the drive root, arrives at the
      // restart after a removal made before it.
      if (installFailure_ == "VerInstallFileA" && installFailureDetail_ == "QXFTP.DLL" &&
          Upper(path) == Upper(installDir_ + "\\QXFTP.DLL"))
        continue;
      left.push_back(path);
    }
    if (seeded_.count(Upper(dir)) || LeftByTheFailure(dir)) continue;
    if (exceptUninstaller_ && Upper(dir) == Upper(installDir_)) continue;
    left.push_back(dir);
  }
  return left;
}

// What a removal may leave when one call failed: the directory that call
// could not list or the tree it could not delete, with what is in it, and
// so the directories above it, or, when the restart list itself could not
// be written, whatever was to go on it. Nothing else can take those away.
bool FaultSweep::LeftByTheFailure(const std::string& path) const {
  // A list of created directories that is there but cannot be read names
  // nothing as made: what the installation made stays, emptied of the
  // product's files.
  if (ListRefused() && !kProductFileNames.count(Upper(path.substr(path.rfind('\\') + 1)))) return true;
  if (failedFunction_.empty()) return false;
  std::string concerned = failedDetail_;
  size_t wildcard = concerned.find_first_of("*?");
  if (wildcard != std::string::npos) concerned = concerned.substr(0, concerned.rfind('\\', wildcard));
  // A directory that could not be listed, or a tree the shell could not
  // delete, cannot be taken apart file by file; a file that could not be
  // deleted must wait for the restart instead.
  // A record whose working directory could not be read names none: the
  // removal goes by the installation directory alone, as for a record
  // without it, and the working directory stays.
  if ((failedFunction_ == "RegOpenKeyExA" || failedFunction_ == "RegQueryValueExA") &&
      (failedDetail_ == "Software\\VORTAN\\FTP" || failedDetail_ == "WorkingDirType" ||
       failedDetail_ == "Working Directory") &&
      Within(path, workDir_))
    return true;
  // A directory the removal could not look at is not known to be the one
  // the installation made: it is judged shared and stays, emptied of the
  // product.
  if (failedFunction_ == "GetFileAttributesA" && Upper(path) == Upper(failedDetail_)) return true;
  bool tree = failedFunction_ == "FindFirstFileA" || failedFunction_ == "SHFileOperationA";
  if (tree && !concerned.empty() && (Within(path, concerned) || Within(concerned, path))) return true;
  // The only file a removal reads and writes is the 9x restart list.
  if (failedFunction_ == "MoveFileExA" || failedFunction_ == "GetShortPathNameA") return true;
  // It is rewritten through a new file of the Windows directory.
  static const std::set<std::string> fileCalls = {"ReadFile",    "WriteFile", "GetFileSize", "SetEndOfFile",
                                                  "CreateFileA", "CopyFileA", "DeleteFileA", "GetTempFileNameA"};
  return fileCalls.count(failedFunction_) && (failedDetail_.empty() || Within(failedDetail_, m().WindowsDir()));
}

}  // namespace fault_sweep

#endif  // SETUP_RES_PATH
