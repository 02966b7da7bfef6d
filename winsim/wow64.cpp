// WOW64 on the 64-bit editions: the file system redirector (one step of the
// path walk), the registry redirector (a key path of the program to the
// real key), registry reflection and the string patches of XP x64, and the
// kernel32 functions a 32-bit program binds at run time to learn where it
// runs. The facts and their sources: docs/windows-x64-and-user-rights.md.
#include <cstring>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace winsim::detail {

// ---- Editions -----------------------------------------------------------------------
bool Is64BitEdition(WindowsVersion v) {
  switch (v) {
    case WindowsVersion::WinXP64:
    case WindowsVersion::Win7x64:
    case WindowsVersion::Win81x64:
    case WindowsVersion::Win10x64:
    case WindowsVersion::Win11x64:
      return true;
    default:
      return false;
  }
}

bool IsVistaOrLater(WindowsVersion v) {
  switch (v) {
    case WindowsVersion::Win7:
    case WindowsVersion::Win10:
    case WindowsVersion::Win7x64:
    case WindowsVersion::Win81x64:
    case WindowsVersion::Win10x64:
    case WindowsVersion::Win11x64:
      return true;
    default:
      return false;
  }
}

namespace {

// Windows 7 changed the lists of shared and reflected keys ("Registry Keys
// Affected by WOW64" has one column for 7 and later, one for XP x64 and
// Vista), removed reflection and made more subdirectories exempt from the
// file system redirector.
bool Since7(const State& s) { return s.wow64 && s.version != WindowsVersion::WinXP64; }

// ---- File system ------------------------------------------------------------------------
// Subdirectories of System32 that a 32-bit process reaches unredirected
// ("File System Redirector"; Wine's no_redirect table in
// dlls/ntdll/unix/file.c). driverstore only from Windows 7 on.
bool Exempt(const State& s, const std::string& first, const std::string* second) {
  for (const char* name : {"catroot", "catroot2", "logfiles", "spool"})
    if (IEquals(first, name)) return true;
  if (IEquals(first, "driverstore")) return Since7(s);
  return IEquals(first, "drivers") && second && IEquals(*second, "etc");
}

// The long name of what a component names inside dir (its alias counts),
// or the component as written when nothing there has that name yet.
std::string EntryName(const FsNode* dir, const std::string& component) {
  NodePtr n = dir ? FindChild(*dir, component) : nullptr;
  return n ? n->name : component;
}

}  // namespace

NodePtr State::WindowsNode() const {
  PathParts p;
  if (Resolve(windowsDir.c_str(), p, false, false)) return nullptr;
  return Lookup(p);
}

std::optional<NodePtr> State::Wow64Step(const FsNode* windows, const NodePtr& dir, const PathParts& p, size_t i) const {
  if (!windows) return std::nullopt;
  const std::string& name = p.parts[i];
  bool inWindows = dir.get() == windows;
  // %windir%\lastgood\system32 is redirected like %windir%\system32.
  bool inLastGood = dir->parent == windows && IEquals(dir->name, "lastgood");
  if (!inWindows && !inLastGood) return std::nullopt;
  // The Sysnative alias (Vista and later) reaches the real System32; it is
  // no directory entry, so a listing of the Windows directory never shows it.
  if (inWindows && IEquals(name, "Sysnative")) {
    if (!IsVistaOrLater(version)) return std::nullopt;
    return FindChild(*dir, "System32");
  }
  NodePtr child = FindChild(*dir, name);
  if (inWindows && child && !child->isDir && IEquals(child->name, "regedit.exe")) {
    NodePtr wow = FindChild(*dir, "SysWOW64");
    return wow ? FindChild(*wow, "regedit.exe") : nullptr;
  }
  if (!child || !child->isDir || !IEquals(child->name, "System32")) return std::nullopt;
  if (i + 1 < p.parts.size()) {
    NodePtr next = FindChild(*child, p.parts[i + 1]);
    std::string first = next ? next->name : p.parts[i + 1];
    std::string second;
    if (i + 2 < p.parts.size()) second = EntryName(next.get(), p.parts[i + 2]);
    if (Exempt(*this, first, i + 2 < p.parts.size() ? &second : nullptr)) return child;
  }
  return FindChild(*dir, "SysWOW64");
}

std::string State::Wow64SystemDir() const { return windowsDir + "\\SysWOW64"; }

// ---- Registry ---------------------------------------------------------------------------------
namespace {

enum class View { Shared, Redirected, Reflected };  // Reflected: redirected and reflected

struct KeyRule {
  const char* path;  // below the hive, upper case
  View since7, before7;
};

// "Registry Keys Affected by WOW64", the table under "Redirected, Shared,
// and Reflected Keys Under WOW": a key takes the rule of its nearest listed
// ancestor, and a key with none listed is shared.
constexpr KeyRule kMachineRules[] = {
    {"SOFTWARE", View::Redirected, View::Redirected},
    {"SOFTWARE\\CLASSES", View::Shared, View::Reflected},
    {"SOFTWARE\\CLASSES\\APPID", View::Shared, View::Reflected},
    {"SOFTWARE\\CLASSES\\CLSID", View::Redirected, View::Reflected},
    {"SOFTWARE\\CLASSES\\DIRECTSHOW", View::Redirected, View::Reflected},
    {"SOFTWARE\\CLASSES\\HCP", View::Shared, View::Shared},
    {"SOFTWARE\\CLASSES\\INTERFACE", View::Redirected, View::Reflected},
    {"SOFTWARE\\CLASSES\\MEDIA TYPE", View::Redirected, View::Reflected},
    {"SOFTWARE\\CLASSES\\MEDIAFOUNDATION", View::Redirected, View::Reflected},
    {"SOFTWARE\\CLIENTS", View::Shared, View::Redirected},
    {"SOFTWARE\\MICROSOFT\\COM3", View::Shared, View::Reflected},
    {"SOFTWARE\\MICROSOFT\\CRYPTOGRAPHY\\CALAIS\\CURRENT", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\CRYPTOGRAPHY\\CALAIS\\READERS", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\CRYPTOGRAPHY\\SERVICES", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\CTF\\SYSTEMSHARED", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\CTF\\TIP", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\DFS", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\DRIVER SIGNING", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\ENTERPRISECERTIFICATES", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\EVENTSYSTEM", View::Shared, View::Reflected},
    {"SOFTWARE\\MICROSOFT\\MSMQ", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\NON-DRIVER SIGNING", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\NOTEPAD\\DEFAULTFONTS", View::Shared, View::Redirected},
    {"SOFTWARE\\MICROSOFT\\OLE", View::Shared, View::Reflected},
    {"SOFTWARE\\MICROSOFT\\RAS", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\RPC", View::Shared, View::Reflected},
    {"SOFTWARE\\MICROSOFT\\SHARED TOOLS\\MSINFO", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\SYSTEMCERTIFICATES", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\TERMSERVLICENSING", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\TRANSACTIONSERVER", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\APP PATHS", View::Shared, View::Redirected},
    {"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\CONTROL PANEL\\CURSORS\\SCHEMES", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER\\AUTOPLAYHANDLERS", View::Shared, View::Redirected},
    {"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER\\DRIVEICONS", View::Shared, View::Redirected},
    {"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\EXPLORER\\KINDMAP", View::Shared, View::Redirected},
    {"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\GROUP POLICY", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\POLICIES", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\PREVIEWHANDLERS", View::Shared, View::Redirected},
    {"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\SETUP", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\TELEPHONY\\LOCATIONS", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\CONSOLE", View::Shared, View::Redirected},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\FONTDPI", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\FONTLINK", View::Shared, View::Redirected},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\FONTMAPPER", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\FONTS", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\FONTSUBSTITUTES", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\GRE_INITIALIZE", View::Shared, View::Redirected},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\IMAGE FILE EXECUTION OPTIONS", View::Shared, View::Redirected},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\LANGUAGE PACK", View::Shared, View::Redirected},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\NETWORKCARDS", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\PERFLIB", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\PORTS", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\PRINT", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\PROFILELIST", View::Shared, View::Shared},
    {"SOFTWARE\\MICROSOFT\\WINDOWS NT\\CURRENTVERSION\\TIME ZONES", View::Shared, View::Shared},
    {"SOFTWARE\\POLICIES", View::Shared, View::Shared},
    {"SOFTWARE\\REGISTEREDAPPLICATIONS", View::Shared, View::Shared},
};

constexpr KeyRule kUserRules[] = {
    {"SOFTWARE\\CLASSES", View::Shared, View::Reflected},
    {"SOFTWARE\\CLASSES\\APPID", View::Shared, View::Reflected},
    {"SOFTWARE\\CLASSES\\CLSID", View::Redirected, View::Reflected},
    {"SOFTWARE\\CLASSES\\DIRECTSHOW", View::Redirected, View::Reflected},
    {"SOFTWARE\\CLASSES\\INTERFACE", View::Redirected, View::Reflected},
    {"SOFTWARE\\CLASSES\\MEDIA TYPE", View::Redirected, View::Reflected},
    {"SOFTWARE\\CLASSES\\MEDIAFOUNDATION", View::Redirected, View::Reflected},
};

std::vector<std::string> SplitKey(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '\\') continue;
    if (i > start) parts.push_back(path.substr(start, i - start));
    start = i + 1;
  }
  return parts;
}

std::string JoinParts(const std::vector<std::string>& parts, size_t from = 0, size_t to = std::string::npos) {
  std::string r;
  for (size_t i = from; i < parts.size() && i < to; ++i) r += (r.empty() ? "" : "\\") + parts[i];
  return r;
}

bool StartsWithParts(const std::vector<std::string>& parts, const std::vector<std::string>& prefix) {
  if (prefix.size() > parts.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (!IEquals(parts[i], prefix[i])) return false;
  return true;
}

// The rule for a key of the 32-bit view's names, and how many components
// its redirection root has: Wow6432Node goes in right after SOFTWARE, or
// after SOFTWARE\CLASSES for class keys (the page's links put the 32-bit
// classes at HKLM\Software\Classes\Wow6432Node).
View RuleOf(const State& s, bool machine, const std::vector<std::string>& parts, size_t* root) {
  View rule = View::Shared;
  size_t best = 0;
  const KeyRule* begin = machine ? std::begin(kMachineRules) : std::begin(kUserRules);
  const KeyRule* end = machine ? std::end(kMachineRules) : std::end(kUserRules);
  for (const KeyRule* r = begin; r != end; ++r) {
    std::vector<std::string> rp = SplitKey(r->path);
    if (rp.size() > best && StartsWithParts(parts, rp)) {
      best = rp.size();
      rule = Since7(s) ? r->since7 : r->before7;
    }
  }
  bool classes = parts.size() >= 2 && IEquals(parts[0], "SOFTWARE") && IEquals(parts[1], "CLASSES");
  *root = classes ? 2 : 1;
  return rule;
}

// The registry's own links of the 64-bit editions (the same page, "Windows
// on Windows 64 (WOW64) Symbolic Links").
std::vector<std::string> FollowLinks(const State& s, bool machine, std::vector<std::string> parts) {
  if (!machine) return parts;
  struct Link {
    std::vector<std::string> from, to;
    bool since7;
  };
  static const Link kLinks[] = {
      {{"SOFTWARE", "WOW6432NODE", "CLASSES"}, {"Software", "Classes", "Wow6432Node"}, false},
      {{"SOFTWARE", "CLASSES", "WOW6432NODE", "APPID"}, {"Software", "Classes", "AppID"}, true},
      {{"SOFTWARE", "CLASSES", "WOW6432NODE", "PROTOCOLS"}, {"Software", "Classes", "PROTOCOLS"}, true},
      {{"SOFTWARE", "CLASSES", "WOW6432NODE", "TYPELIB"}, {"Software", "Classes", "TypeLib"}, true},
  };
  for (int round = 0; round < 3; ++round) {
    bool changed = false;
    for (const Link& l : kLinks) {
      if ((l.since7 && !Since7(s)) || !StartsWithParts(parts, l.from)) continue;
      std::vector<std::string> next = l.to;
      next.insert(next.end(), parts.begin() + static_cast<long>(l.from.size()), parts.end());
      parts = next;
      changed = true;
    }
    if (!changed) break;
  }
  return parts;
}

}  // namespace

RealKey State::MapKey(const std::string& hiveName, const std::string& logical, REGSAM sam) const {
  RealKey r;
  std::vector<std::string> parts = SplitKey(logical);
  if (hiveName == "HKEY_CLASSES_ROOT") {
    parts.insert(parts.begin(), {"Software", "Classes"});
    r.hive = "HKEY_LOCAL_MACHINE";
  } else {
    r.hive = hiveName;
  }
  r.root = r.hive == "HKEY_LOCAL_MACHINE" ? hklm : r.hive == "HKEY_CURRENT_USER" ? hkcu : hku;
  bool machine = r.hive == "HKEY_LOCAL_MACHINE";
  bool user = r.hive == "HKEY_CURRENT_USER";
  // "Access a 64-bit key from either a 32-bit or 64-bit application": the
  // flag takes the real names; without it (or with KEY_WOW64_32KEY) a
  // 32-bit program has the 32-bit view.
  bool view32 = wow64 && !(sam & KEY_WOW64_64KEY) && (machine || user);
  if (view32) {
    size_t root = 0;
    View rule = RuleOf(*this, machine, parts, &root);
    bool explicitNode = parts.size() > root && IEquals(parts[root], "Wow6432Node");
    if (rule != View::Shared && parts.size() >= root && !explicitNode)
      parts.insert(parts.begin() + static_cast<long>(root), "Wow6432Node");
  }
  if (wow64) parts = FollowLinks(*this, machine, parts);
  r.path = JoinParts(parts);
  return r;
}

// ---- Reflection (XP x64) and the string patches ------------------------------------------------------
namespace {

// The other view's copy of a reflected key, by the real names of its
// view: "" when the key is not reflected.
std::string CounterpartOf(const State& s, const std::string& hive, const std::string& realPath) {
  bool machine = hive == "HKEY_LOCAL_MACHINE";
  if (!machine && hive != "HKEY_CURRENT_USER") return "";
  std::vector<std::string> parts = SplitKey(realPath);
  // Which view holds it, and its name in that view.
  std::vector<std::string> logical = parts;
  bool in32 = false;
  if (parts.size() >= 3 && IEquals(parts[0], "SOFTWARE") && IEquals(parts[1], "CLASSES") &&
      IEquals(parts[2], "WOW6432NODE")) {
    logical.erase(logical.begin() + 2);
    in32 = true;
  } else if (machine && parts.size() >= 2 && IEquals(parts[0], "SOFTWARE") && IEquals(parts[1], "WOW6432NODE")) {
    logical.erase(logical.begin() + 1);
    in32 = true;
  }
  size_t root = 0;
  // Reflection is of XP x64 and Vista only, whose column this is.
  if (RuleOf(s, machine, logical, &root) != View::Reflected) return "";
  if (in32) return JoinParts(logical);
  std::vector<std::string> other = logical;
  if (other.size() < root) return "";
  other.insert(other.begin() + static_cast<long>(root), "Wow6432Node");
  return JoinParts(other);
}

// "only CLSIDs that do not specify InprocServer32 or InprocHandler32 are
// reflected" (Registry Reflection).
bool InProcessClass(const State& s, const KeyPtr& root, const std::string& realPath) {
  std::vector<std::string> parts = SplitKey(realPath);
  size_t at = 0;
  while (at < parts.size() && !IEquals(parts[at], "CLSID")) ++at;
  if (at + 1 >= parts.size()) return false;
  KeyPtr cls = const_cast<State&>(s).WalkKey(root, JoinParts(parts, 0, at + 2), false);
  if (!cls) return false;
  return cls->subkeys.count("INPROCSERVER32") || cls->subkeys.count("INPROCHANDLER32");
}

}  // namespace

void State::ReflectOnClose(const KeyHandle& h) {
  if (!wow64 || Since7(*this) || !h.written) return;
  std::string other = CounterpartOf(*this, h.realHive, h.realPath);
  if (other.empty() || h.key->deleted) return;
  KeyPtr root = h.realHive == "HKEY_LOCAL_MACHINE" ? hklm : hkcu;
  if (InProcessClass(*this, root, h.realPath)) return;
  KeyPtr copy = WalkKey(root, other, true);
  std::vector<RegVal> values;
  for (const RegVal& v : h.key->values) {
    // "the DllSurrogate and DllSurrogateExecutable registry values are not
    // reflected if their value is an empty string"
    bool surrogate = IEquals(v.name, "DllSurrogate") || IEquals(v.name, "DllSurrogateExecutable");
    bool empty = v.data.empty() || (v.data.size() == 1 && v.data[0] == 0);
    if (surrogate && empty) continue;
    values.push_back(v);
  }
  copy->values = values;  // "the last RegCloseKey call determines the key's final value"
  copy->written = Tick();
}

void State::ReflectDeletion(const std::string& hive, const std::string& realPath) {
  if (!wow64 || Since7(*this)) return;
  std::string other = CounterpartOf(*this, hive, realPath);
  if (other.empty()) return;
  KeyPtr root = hive == "HKEY_LOCAL_MACHINE" ? hklm : hkcu;
  KeyPtr copy = WalkKey(root, other, false);
  if (!copy || !copy->parent || !copy->subkeys.empty()) return;
  copy->parent->subkeys.erase(Upper(copy->name));
  copy->deleted = true;
}

void State::PatchWow64String(const KeyHandle& h, DWORD type, std::vector<uint8_t>& data) const {
  if (!wow64 || (type != REG_SZ && type != REG_EXPAND_SZ)) return;
  std::string text(data.begin(), data.end());
  // From Windows 7 on, a key opened in the 64-bit view is written as it is.
  bool patchFolders = !(h.view64 && Since7(*this));
  if (patchFolders && text.size() <= MAX_PATH * 2 + 15) {
    // Case-sensitive, at the start only ("Registry Redirector").
    for (auto [from, to] : {std::pair<const char*, const char*>{"%ProgramFiles%", "%ProgramFiles(x86)%"},
                            {"%commonprogramfiles%", "%commonprogramfiles(x86)%"}}) {
      if (text.rfind(from, 0) == 0) {
        text = to + text.substr(std::strlen(from));
        data.assign(text.begin(), text.end());
        return;
      }
    }
  }
  // system32 becomes syswow64 in the keys that were reflected before
  // Windows 7, for a path at or below %windir%\system32 however the
  // Windows directory is written.
  std::vector<std::string> logical = SplitKey(h.realPath);
  for (size_t i = 0; i < logical.size(); ++i)
    if (IEquals(logical[i], "WOW6432NODE")) logical.erase(logical.begin() + static_cast<long>(i--));
  bool machine = h.realHive == "HKEY_LOCAL_MACHINE";
  bool reflectedBefore7 = false;
  size_t best = 0;
  const KeyRule* begin = machine ? std::begin(kMachineRules) : std::begin(kUserRules);
  const KeyRule* end = machine ? std::end(kMachineRules) : std::end(kUserRules);
  for (const KeyRule* r = begin; r != end; ++r) {
    std::vector<std::string> rp = SplitKey(r->path);
    if (rp.size() > best && StartsWithParts(logical, rp)) {
      best = rp.size();
      reflectedBefore7 = r->before7 == View::Reflected;
    }
  }
  if (!reflectedBefore7 || (!machine && h.realHive != "HKEY_CURRENT_USER")) return;
  for (const std::string& prefix : {std::string("%windir%"), std::string("%SystemRoot%"), windowsDir}) {
    std::string head = prefix + "\\system32";
    if (text.size() < head.size() || !IEquals(text.substr(0, head.size()), head)) continue;
    if (text.size() > head.size() && text[head.size()] != '\\' && text[head.size()] != '\0') continue;
    text.replace(head.size() - 8, 8, "syswow64");
    data.assign(text.begin(), text.end());
    return;
  }
}

// ---- kernel32's functions of later systems --------------------------------------------------------
bool State::Exports(Builtin module, const std::string& name) const {
  bool xpOrLater = version == WindowsVersion::XP || version == WindowsVersion::WinXP64 || IsVistaOrLater(version);
  if (module == Builtin::Kernel32) {
    // IsWow64Process: "Windows Vista, Windows XP with SP2"; GetSystemWow64Directory: Windows XP.
    if (name == "IsWow64Process" || name == "GetSystemWow64DirectoryA") return xpOrLater;
    // QueryDosDevice: every NT system (NT 3.1 on); the 9x family keeps its
    // drive mappings in the DOS layer.
    if (name == "QueryDosDeviceA") return IsNT();
    return false;
  }
  if (module == Builtin::Advapi32) {
    // RegDeleteKeyEx: "Windows Vista, Windows XP Professional x64 Edition".
    if (name == "RegDeleteKeyExA") return version == WindowsVersion::WinXP64 || IsVistaOrLater(version);
    return false;
  }
  return false;
}

BOOL WINAPI Sim_IsWow64Process(HANDLE hProcess, PBOOL Wow64Process) {
  State& s = S();
  bool current = hProcess == GetCurrentProcess();
  if (!current && !s.processHandles.count(reinterpret_cast<uintptr_t>(hProcess))) {
    s.lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  if (!Wow64Process) {
    s.lastError = ERROR_NOACCESS;
    return FALSE;
  }
  // The processes the program starts are taken to be 32-bit programs too.
  *Wow64Process = s.wow64 ? TRUE : FALSE;
  return TRUE;
}

UINT WINAPI Sim_GetSystemWow64DirectoryA(LPSTR lpBuffer, UINT uSize) {
  State& s = S();
  if (!s.wow64) {
    s.lastError = ERROR_CALL_NOT_IMPLEMENTED;
    return 0;
  }
  std::string dir = s.Wow64SystemDir();
  if (!lpBuffer || uSize < dir.size() + 1) return static_cast<UINT>(dir.size() + 1);
  std::memcpy(lpBuffer, dir.c_str(), dir.size() + 1);
  return static_cast<UINT>(dir.size());
}

}  // namespace winsim::detail

// ---- The test helpers' view of the program's names -------------------------------------------
namespace winsim {

using namespace detail;

bool Machine::Is64Bit() const { return state().wow64; }

std::string Machine::RedirectedPath(const std::string& path) const {
  const State& s = state();
  PathParts p = s.ResolveOrDie(path);
  // Walked as the program's process walks it, but without the user's
  // rights: the helper asks where a name leads, not who may go there.
  p.byProgram = true;
  State& mutableState = const_cast<State&>(s);
  UserKind user = s.user;
  mutableState.user = UserKind::ElevatedAdministrator;
  NodePtr dir = p.parts.empty() ? s.Root(p.root) : s.LookupDir(p);
  NodePtr n = p.parts.empty() ? dir : s.Lookup(p);
  mutableState.user = user;
  if (n) return s.PathOf(n.get());
  if (!dir) return "";
  std::string base = s.PathOf(dir.get());
  return base + (EndsWithChar(base, '\\') ? "" : "\\") + p.parts.back();
}

std::pair<HKEY, std::string> Machine::RedirectedKey(HKEY hive, const std::string& key) const {
  const State& s = state();
  std::string name;
  if (hive == HKEY_CLASSES_ROOT)
    name = "HKEY_CLASSES_ROOT";
  else if (!s.HiveRoot(hive, &name, nullptr))
    throw UsageError("winsim: not a predefined hive handle\n");
  if (!s.wow64) return {hive, key};
  RealKey real = s.MapKey(name, key, 0);
  HKEY realHive = real.hive == "HKEY_LOCAL_MACHINE" ? HKEY_LOCAL_MACHINE
                  : real.hive == "HKEY_CURRENT_USER" ? HKEY_CURRENT_USER
                                                     : HKEY_USERS;
  return {realHive, real.path};
}

std::optional<RegValue> Machine::GetRegValue32(HKEY hive, const std::string& key, const std::string& name) const {
  auto [realHive, realKey] = RedirectedKey(hive, key);
  return GetRegValue(realHive, realKey, name);
}

}  // namespace winsim
