// The Machine: construction per Windows version, the test-facing helpers,
// the journal, the current-machine guard and the restart.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "internal.h"

namespace winsim {

using namespace detail;

// ---- Journal -------------------------------------------------------------------
void Journal::Add(std::string kind, std::vector<std::string> fields) {
  events_.push_back(Event{std::move(kind), std::move(fields)});
}

std::vector<Event> Journal::OfKind(const std::string& kind) const {
  std::vector<Event> r;
  for (auto& e : events_)
    if (e.kind == kind) r.push_back(e);
  return r;
}

size_t Journal::Count(const std::string& kind) const {
  size_t n = 0;
  for (auto& e : events_)
    if (e.kind == kind) ++n;
  return n;
}

int Journal::IndexOf(const std::string& kind, const std::vector<std::string>& fields, size_t from) const {
  for (size_t i = from; i < events_.size(); ++i) {
    const Event& e = events_[i];
    if (e.kind != kind || e.fields.size() < fields.size()) continue;
    if (std::equal(fields.begin(), fields.end(), e.fields.begin())) return static_cast<int>(i);
  }
  return -1;
}

int Journal::IndexWhere(const std::function<bool(const Event&)>& pred, size_t from) const {
  for (size_t i = from; i < events_.size(); ++i)
    if (pred(events_[i])) return static_cast<int>(i);
  return -1;
}

static std::string Printable(const std::string& s) {
  std::string r;
  for (unsigned char c : s) {
    if (c == '\r') {
      r += "\\r";
    } else if (c == '\n') {
      r += "\\n";
    } else if (c < 32 || c == 127) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      r += buf;
    } else {
      r += static_cast<char>(c);
    }
  }
  return r;
}

std::string Journal::Format(const Event& e) {
  std::string line = e.kind;
  for (auto& f : e.fields) line += " | " + Printable(f);
  return line;
}

std::string Journal::Dump() const {
  std::string r;
  for (size_t i = 0; i < events_.size(); ++i) r += std::to_string(i) + ": " + Format(events_[i]) + "\n";
  return r;
}

std::string RegValue::Text() const {
  std::string s(data.begin(), data.end());
  size_t nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  return s;
}

std::string Outstanding::Describe() const {
  std::string r;
  auto add = [&r](const char* name, int v) {
    if (v == 0) return;
    if (!r.empty()) r += ", ";
    r += std::string(name) + "=" + std::to_string(v);
  };
  add("regKeys", regKeys);
  add("fileHandles", fileHandles);
  add("findHandles", findHandles);
  add("modules", modules);
  add("processHandles", processHandles);
  add("tokenHandles", tokenHandles);
  add("ddeInstances", ddeInstances);
  add("ddeStrings", ddeStrings);
  add("ddeConversations", ddeConversations);
  add("ddeDataHandles", ddeDataHandles);
  add("ddeAccessedData", ddeAccessedData);
  add("ddeReclaimed", ddeReclaimed);
  add("comObjects", comObjects);
  add("comInitialised", comInitialised);
  add("pidls", pidls);
  add("propSheetPages", propSheetPages);
  add("mallocRefs", mallocRefs);
  return r;
}

// ---- Current machine ---------------------------------------------------------------
static Machine* g_current = nullptr;

CurrentMachine::CurrentMachine(Machine& machine) : previous_(g_current) { g_current = &machine; }
CurrentMachine::~CurrentMachine() { g_current = previous_; }

Machine& Current() {
  if (!g_current) {
    throw UsageError(Printf("winsim: a Win32 function was called with no current machine "
                         "(create a winsim::Machine and a winsim::CurrentMachine guard)\n"));
  }
  return *g_current;
}

bool HasCurrent() { return g_current != nullptr; }

namespace detail {
State& S() { return Current().state(); }
}  // namespace detail

// ---- Construction -----------------------------------------------------------------------
struct VersionInfo {
  DWORD major, minor, build, platform;
  const char* csd;
};

static VersionInfo InfoFor(WindowsVersion v) {
  switch (v) {
    case WindowsVersion::Win95:
      return {4, 0, 0x040003B6, VER_PLATFORM_WIN32_WINDOWS, ""};
    case WindowsVersion::Win98:
      return {4, 10, 0x040A07CE, VER_PLATFORM_WIN32_WINDOWS, ""};
    case WindowsVersion::NT4:
      return {4, 0, 1381, VER_PLATFORM_WIN32_NT, "Service Pack 6"};
    case WindowsVersion::Win2000:
      return {5, 0, 2195, VER_PLATFORM_WIN32_NT, "Service Pack 4"};
    case WindowsVersion::XP:
      return {5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 3"};
    case WindowsVersion::Win7:
      return {6, 1, 7601, VER_PLATFORM_WIN32_NT, "Service Pack 1"};
    case WindowsVersion::Win10:
      // Windows 10 is 10.0, but GetVersionExA tells a program 6.2 (build
      // 9200, Windows 8) unless its manifest names Windows 8.1 or 10 among
      // its supportedOS entries or its PE header asks for 6.3 or later; the
      // platform documentation says so ("Applications not manifested for
      // Windows 8.1 or Windows 10 will return the Windows 8 OS version value
      // (6.2)") and Wine does the same (init_current_version in
      // dlls/kernelbase/version.c). Setup.exe's manifest names none.
      return {6, 2, 9200, VER_PLATFORM_WIN32_NT, ""};
  }
  return {5, 1, 2600, VER_PLATFORM_WIN32_NT, ""};
}

Machine::Machine(WindowsVersion version) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.owner = this;
  s.version = version;
  VersionInfo vi = InfoFor(version);
  s.major = vi.major;
  s.minor = vi.minor;
  s.build = vi.build;
  s.platform = vi.platform;
  s.csd = vi.csd;
  // 2004-01-01 00:00:00 UTC in FILETIME units.
  s.clock = 127173888000000000ULL;
  s.ticks = 3600000;

  s.MakeRoot("C:");
  s.MakeRoot("D:");
  s.cwd.root = "C:";

  auto key = [](const char* name) {
    auto k = std::make_shared<RegKey>();
    k->name = name;
    return k;
  };
  s.hklm = key("HKEY_LOCAL_MACHINE");
  s.hku = key("HKEY_USERS");
  s.hkcu = key("HKEY_CURRENT_USER");

  const bool nine = vi.platform != VER_PLATFORM_WIN32_NT;
  std::string win, sys, temp, profile, allUsers, programs, commonPrograms, personal, commonDocs, appData;
  switch (version) {
    case WindowsVersion::Win95:
    case WindowsVersion::Win98:
      win = "C:\\WINDOWS";
      sys = "C:\\WINDOWS\\SYSTEM";
      temp = "C:\\WINDOWS\\TEMP\\";
      profile = win;
      personal = "C:\\My Documents";
      appData = win + "\\Application Data";
      break;
    case WindowsVersion::NT4:
      win = "C:\\WINNT";
      sys = "C:\\WINNT\\system32";
      temp = "C:\\TEMP\\";
      profile = "C:\\WINNT\\Profiles\\User";
      allUsers = "C:\\WINNT\\Profiles\\All Users";
      personal = profile + "\\Personal";
      commonDocs = allUsers + "\\Documents";
      appData = profile + "\\Application Data";
      break;
    case WindowsVersion::Win2000:
    case WindowsVersion::XP:
      win = version == WindowsVersion::Win2000 ? "C:\\WINNT" : "C:\\WINDOWS";
      sys = win + "\\system32";
      profile = "C:\\Documents and Settings\\User";
      allUsers = "C:\\Documents and Settings\\All Users";
      temp = profile + "\\Local Settings\\Temp\\";
      personal = profile + "\\My Documents";
      commonDocs = allUsers + "\\Documents";
      appData = profile + "\\Application Data";
      break;
    case WindowsVersion::Win7:
    case WindowsVersion::Win10:
      win = "C:\\Windows";
      sys = "C:\\Windows\\system32";
      profile = "C:\\Users\\User";
      allUsers = "C:\\ProgramData\\Microsoft\\Windows";
      temp = profile + "\\AppData\\Local\\Temp\\";
      personal = profile + "\\Documents";
      commonDocs = "C:\\Users\\Public\\Documents";
      appData = profile + "\\AppData\\Roaming";
      break;
  }
  s.windowsDir = win;
  s.systemDir = sys;
  s.tempDir = temp;
  MakeDirs(win);
  MakeDirs(sys);
  MakeDirs(temp);
  MakeDirs("C:\\Program Files");

  // Windows 7 and 10 share the profile layout under C:\Users.
  const bool users = version == WindowsVersion::Win7 || version == WindowsVersion::Win10;
  std::string startMenu = users ? appData + "\\Microsoft\\Windows\\Start Menu"
                                                          : profile + "\\Start Menu";
  std::string commonStartMenu = users ? allUsers + "\\Start Menu" : allUsers + "\\Start Menu";
  std::string desktop = profile + "\\Desktop";
  std::string commonDesktop = users ? "C:\\Users\\Public\\Desktop" : allUsers + "\\Desktop";
  programs = startMenu + "\\Programs";
  commonPrograms = commonStartMenu + "\\Programs";

  // Folders both routes know on every version.
  std::vector<std::pair<int, std::string>> basic = {
      {CSIDL_DESKTOP, desktop},           {CSIDL_DESKTOPDIRECTORY, desktop}, {CSIDL_PROGRAMS, programs},
      {CSIDL_PERSONAL, personal},         {CSIDL_STARTUP, programs + "\\StartUp"},
      {CSIDL_STARTMENU, startMenu},       {CSIDL_APPDATA, appData}};
  for (auto& [csidl, path] : basic) SetShellFolder(csidl, path);
  if (!nine) {
    SetShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY, commonDesktop);
    SetShellFolder(CSIDL_COMMON_PROGRAMS, commonPrograms);
    SetShellFolder(CSIDL_COMMON_STARTMENU, commonStartMenu);
  }
  // Folders that shells before Windows 2000 do not know through item lists;
  // the shell folder library provides them on every version.
  std::vector<std::pair<int, std::string>> newer = {
      {CSIDL_WINDOWS, win}, {CSIDL_SYSTEM, sys}, {CSIDL_PROGRAM_FILES, "C:\\Program Files"}};
  if (!commonDocs.empty()) newer.push_back({CSIDL_COMMON_DOCUMENTS, commonDocs});
  bool oldShell = vi.major < 5;
  for (auto& [csidl, path] : newer) {
    if (oldShell) {
      SetShellFolder(csidl, FolderRoute::ShFolder, path);
      MakeDirs(path);
    } else {
      SetShellFolder(csidl, path);
    }
  }

  // The profile root: the shell folder library knows it from Windows 2000
  // on; older shells know it through neither route.
  if (!oldShell) SetShellFolder(CSIDL_PROFILE, profile);

  // Program Files as every version records it (KB Q178625 names this value
  // for Windows 95 and NT 4.0; 98, 2000, XP and 7 keep it too).
  const char currentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
  SetRegString(HKEY_LOCAL_MACHINE, currentVersion, "ProgramFilesDir", "C:\\Program Files");
  SetRegString(HKEY_LOCAL_MACHINE, currentVersion, "CommonFilesDir", "C:\\Program Files\\Common Files");

  std::string tempVar = temp.substr(0, temp.size() - 1);
  s.environment = {{"WINDIR", win}, {"TEMP", tempVar}, {"TMP", tempVar}};
  if (!nine) {
    s.environment["SYSTEMROOT"] = win;
    s.environment["COMPUTERNAME"] = s.computerName;
    s.environment["USERPROFILE"] = profile;
  }

  // The registry keys a fresh Windows has that the program writes below.
  CreateKey(HKEY_LOCAL_MACHINE, "Software\\Classes");
  CreateKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
  CreateKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager");
  CreateKey(HKEY_CURRENT_USER, "Software");

  // The HTML Help viewer ships in the Windows directory from Windows 98 on
  // and with Internet Explorer 4 on Windows 95 and NT 4.
  WriteText(win + "\\HH.EXE", "MZWINSIM-EXE\n");

  s.InstallSystemModules();

  s.programPath = "C:\\dist\\Setup.exe";
  MakeDirs("C:\\dist");
  SetCurrentDir("C:\\dist");

  s.metrics = {{SM_CXSCREEN, 1024}, {SM_CYSCREEN, 768}, {SM_CXVSCROLL, 16}, {SM_CYVSCROLL, 16},
               {SM_CYHSCROLL, 16},  {SM_CXHSCROLL, 16}, {SM_CYCAPTION, 18}, {SM_CXICON, 32},
               {SM_CYICON, 32},     {SM_CXSMICON, 16},  {SM_CYSMICON, 16},  {SM_MOUSEPRESENT, 1}};

  s.progman.groups = {ProgmanGroup{"Accessories", {}}, ProgmanGroup{"StartUp", {}}};
  State* sp = state_.get();
  s.progman.targetExists = [sp](const std::string& path) {
    auto exists = [sp](const std::string& p) {
      PathParts parts;
      if (sp->Resolve(p.c_str(), parts)) return false;
      NodePtr n = sp->Lookup(parts);
      return n && !n->isDir;
    };
    if (path.find('\\') != std::string::npos || path.find(':') != std::string::npos) return exists(path);
    for (const std::string& dir : {sp->cwd.Join(), sp->systemDir, sp->windowsDir})
      if (exists(dir + "\\" + path)) return true;
    return false;
  };
}

Machine::~Machine() {
  // What the program leaked lives as long as its machine, then goes.
  for (void* p : state_->pidls) std::free(p);
  std::set<ComObject*> live;
  live.swap(state_->comLive);
  for (ComObject* o : live) delete o;
  if (g_current == this) g_current = nullptr;
}

// ---- Operating system -------------------------------------------------------------------------
WindowsVersion Machine::version() const { return state_->version; }
bool Machine::IsNT() const { return state_->IsNT(); }

void Machine::SetVersionNumbers(DWORD major, DWORD minor, DWORD build, DWORD platform, const std::string& csd) {
  state_->major = major;
  state_->minor = minor;
  state_->build = build;
  state_->platform = platform;
  state_->csd = csd;
}

std::string Machine::WindowsDir() const { return state_->windowsDir; }
std::string Machine::SystemDir() const { return state_->systemDir; }
std::string Machine::TempDir() const { return state_->tempDir; }

void Machine::SetWindowsDir(const std::string& path) {
  MakeDirs(path);
  state_->windowsDir = path;
}

void Machine::SetSystemDir(const std::string& path) {
  MakeDirs(path);
  state_->systemDir = path;
}

void Machine::SetTempDir(const std::string& path) {
  MakeDirs(path);
  state_->tempDir = path.empty() || EndsWithChar(path, '\\') ? path : path + "\\";
}

void Machine::SetProgramPath(const std::string& path) { state_->programPath = path; }
std::string Machine::ProgramPath() const { return state_->programPath; }

void Machine::SetCurrentDir(const std::string& path) {
  PathParts p = state_->ResolveOrDie(path);
  state_->MakeDirsParts(p);
  state_->cwd = p;
}

std::string Machine::CurrentDir() const { return state_->cwd.Join(); }
void Machine::SetSystemMetric(int index, int value) { state_->metrics[index] = value; }
void Machine::SetEnvironmentPath(const std::vector<std::string>& dirs) { state_->envPath = dirs; }

void Machine::SetEnvironmentVariable(const std::string& name, std::optional<std::string> value) {
  if (value) {
    state_->environment[Upper(name)] = *value;
  } else {
    state_->environment.erase(Upper(name));
  }
}

std::optional<std::string> Machine::EnvironmentVariable(const std::string& name) const {
  auto it = state_->environment.find(Upper(name));
  if (it == state_->environment.end()) return std::nullopt;
  return it->second;
}

void Machine::SetComputerName(const std::string& name) {
  state_->computerName = name;
  if (state_->environment.count("COMPUTERNAME")) state_->environment["COMPUTERNAME"] = name;
}

void Machine::SetAnsiCodePage(UINT codePage) {
  if (codePage != 1252 && !detail::IsDoubleByteCodePage(codePage))
    throw UsageError(detail::Printf("winsim: code page %u is not simulated (1252, 932, 936, 949, 950)\n", codePage));
  state_->acp = codePage;
}

// ---- File system --------------------------------------------------------------------------------
void Machine::WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

void Machine::WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  State& s = *state_;
  PathParts p = s.ResolveOrDie(path);
  PathParts parent = p;
  if (!parent.parts.empty()) parent.parts.pop_back();
  s.MakeDirsParts(parent);
  NodePtr n = s.Lookup(p);
  if (n && n->isDir) {
    throw UsageError(Printf("winsim: WriteBytes(%s): a directory is in the way\n", path.c_str()));
  }
  if (!n) n = s.AddChild(s.Lookup(parent), p.parts.back(), false);
  n->data = bytes;
  n->written = s.Tick();
}

std::optional<std::vector<uint8_t>> Machine::ReadBytes(const std::string& path) const {
  PathParts p;
  if (state_->Resolve(path.c_str(), p, false, false)) return std::nullopt;
  NodePtr n = state_->Lookup(p);
  if (!n || n->isDir) return std::nullopt;
  return n->data;
}

std::optional<std::string> Machine::ReadText(const std::string& path) const {
  auto b = ReadBytes(path);
  if (!b) return std::nullopt;
  return std::string(b->begin(), b->end());
}

void Machine::MakeDirs(const std::string& path) { state_->MakeDirsParts(state_->ResolveOrDie(path)); }

bool Machine::Exists(const std::string& path) const {
  PathParts p;
  if (state_->Resolve(path.c_str(), p, false, false)) return false;
  return state_->Lookup(p) != nullptr;
}

bool Machine::IsDirectory(const std::string& path) const {
  PathParts p;
  if (state_->Resolve(path.c_str(), p, false, false)) return false;
  NodePtr n = state_->Lookup(p);
  return n && n->isDir;
}

std::vector<std::string> Machine::List(const std::string& dir) const {
  std::vector<std::string> r;
  PathParts p;
  if (state_->Resolve(dir.c_str(), p, false, false)) return r;
  NodePtr n = state_->Lookup(p);
  if (!n || !n->isDir) return r;
  for (auto& kv : n->children) r.push_back(kv.second->name);
  return r;
}

static void Walk(const FsNode& n, const std::string& prefix, std::vector<std::string>& out) {
  for (auto& kv : n.children) {
    std::string rel = prefix.empty() ? kv.second->name : prefix + "\\" + kv.second->name;
    out.push_back(rel);
    if (kv.second->isDir) Walk(*kv.second, rel, out);
  }
}

std::vector<std::string> Machine::Tree(const std::string& dir) const {
  std::vector<std::string> r;
  PathParts p;
  if (state_->Resolve(dir.c_str(), p, false, false)) return r;
  NodePtr n = state_->Lookup(p);
  if (n && n->isDir) Walk(*n, "", r);
  return r;
}

DWORD Machine::Attributes(const std::string& path) const {
  PathParts p;
  if (state_->Resolve(path.c_str(), p, false, false)) return INVALID_FILE_ATTRIBUTES;
  NodePtr n = state_->Lookup(p);
  if (!n) return INVALID_FILE_ATTRIBUTES;
  DWORD a = n->attrs | (n->isDir ? FILE_ATTRIBUTE_DIRECTORY : 0);
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

void Machine::SetAttributes(const std::string& path, DWORD attributes) {
  NodePtr n = state_->Lookup(state_->ResolveOrDie(path));
  if (!n) {
    throw UsageError(Printf("winsim: SetAttributes(%s): no such file\n", path.c_str()));
  }
  n->attrs = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_NORMAL);
}

FILETIME Machine::WriteTime(const std::string& path) const {
  PathParts p;
  if (state_->Resolve(path.c_str(), p, false, false)) return FILETIME{};
  NodePtr n = state_->Lookup(p);
  return n ? n->written : FILETIME{};
}

void Machine::SetWriteTime(const std::string& path, FILETIME time) {
  NodePtr n = state_->Lookup(state_->ResolveOrDie(path));
  if (n) n->written = time;
}

std::string Machine::ActualPath(const std::string& path) const {
  PathParts p;
  if (state_->Resolve(path.c_str(), p, false, false)) return "";
  NodePtr n = state_->Lookup(p);
  return n ? state_->PathOf(n.get()) : "";
}

void Machine::SetShortNames(const std::string& volume, bool made) {
  std::string root = detail::Upper(volume);
  while (root.size() > 2 && detail::EndsWithChar(root, '\\')) root.pop_back();
  if (made) {
    state_->noShortNames.erase(root);
  } else {
    state_->noShortNames.insert(root);
  }
}

std::string Machine::ShortPath(const std::string& path) const {
  PathParts p;
  if (state_->Resolve(path.c_str(), p, false, false)) return "";
  return state_->ShortPathOf(p);
}

void Machine::SetVolumeCapacity(const std::string& root, uint64_t bytes) {
  PathParts p = state_->ResolveOrDie(root);
  state_->MakeRoot(p.root);
  state_->capacity[Upper(p.root)] = bytes;
}

uint64_t Machine::VolumeUsed(const std::string& root) const {
  PathParts p = state_->ResolveOrDie(root);
  NodePtr n = state_->Root(p.root);
  return n ? state_->UsedBytes(n.get()) : 0;
}

void Machine::RemoveTree(const std::string& path) {
  PathParts p;
  if (state_->Resolve(path.c_str(), p, false, false)) return;
  NodePtr n = state_->Lookup(p);
  if (n && n->parent) state_->Detach(n);
}

static DWORD NormaliseAccess(DWORD access) {
  DWORD r = 0;
  if (access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA | GENERIC_EXECUTE)) r |= kAccRead;
  if (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) r |= kAccWrite;
  if (access & (DELETE | GENERIC_ALL)) r |= kAccDelete;
  return r;
}

int Machine::Hold(const std::string& path, DWORD share, DWORD access) {
  NodePtr n = state_->Lookup(state_->ResolveOrDie(path));
  if (!n) {
    throw UsageError(Printf("winsim: Hold(%s): no such file\n", path.c_str()));
  }
  return state_->AddOpen(n, NormaliseAccess(access), share, OpenKind::TestHold);
}

int Machine::HoldImage(const std::string& path) {
  NodePtr n = state_->Lookup(state_->ResolveOrDie(path));
  if (!n) {
    throw UsageError(Printf("winsim: HoldImage(%s): no such file\n", path.c_str()));
  }
  return state_->AddOpen(n, kAccRead, FILE_SHARE_READ | FILE_SHARE_DELETE, OpenKind::Image);
}

void Machine::Release(int holdId) { state_->RemoveOpen(holdId); }

FILETIME Machine::Now() const {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(state_->clock & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(state_->clock >> 32);
  return ft;
}

// ---- Registry -----------------------------------------------------------------------------------------
void Machine::CreateKey(HKEY hive, const std::string& key) { state_->KeyForTest(hive, key, true); }

bool Machine::KeyExists(HKEY hive, const std::string& key) const { return state_->KeyForTest(hive, key, false) != nullptr; }

void Machine::SetRegValue(HKEY hive, const std::string& key, const std::string& name, DWORD type,
                          const std::vector<uint8_t>& data) {
  state_->SetValueRaw(state_->KeyForTest(hive, key, true), name, type, data);
}

void Machine::SetRegString(HKEY hive, const std::string& key, const std::string& name, const std::string& text) {
  std::vector<uint8_t> d(text.begin(), text.end());
  d.push_back(0);
  SetRegValue(hive, key, name, REG_SZ, d);
}

void Machine::SetRegDword(HKEY hive, const std::string& key, const std::string& name, DWORD value) {
  SetRegValue(hive, key, name, REG_DWORD,
              {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
               static_cast<uint8_t>(value >> 24)});
}

void Machine::SetRegBinary(HKEY hive, const std::string& key, const std::string& name,
                           const std::vector<uint8_t>& bytes) {
  SetRegValue(hive, key, name, REG_BINARY, bytes);
}

std::optional<RegValue> Machine::GetRegValue(HKEY hive, const std::string& key, const std::string& name) const {
  KeyPtr k = state_->KeyForTest(hive, key, false);
  if (!k) return std::nullopt;
  for (auto& v : k->values)
    if (IEquals(v.name, name)) return RegValue{v.type, v.data};
  return std::nullopt;
}

std::vector<std::string> Machine::SubKeys(HKEY hive, const std::string& key) const {
  std::vector<std::string> r;
  KeyPtr k = state_->KeyForTest(hive, key, false);
  if (k)
    for (auto& kv : k->subkeys) r.push_back(kv.second->name);
  return r;
}

std::vector<std::string> Machine::ValueNames(HKEY hive, const std::string& key) const {
  std::vector<std::string> r;
  KeyPtr k = state_->KeyForTest(hive, key, false);
  if (k)
    for (auto& v : k->values) r.push_back(v.name);
  return r;
}

static void MarkDeleted(RegKey& k) {
  k.deleted = true;
  for (auto& kv : k.subkeys) MarkDeleted(*kv.second);
}

void Machine::DeleteKeyTree(HKEY hive, const std::string& key) {
  KeyPtr k = state_->KeyForTest(hive, key, false);
  if (!k || !k->parent) return;
  k->parent->subkeys.erase(Upper(k->name));
  MarkDeleted(*k);
}

static std::string HiveNameOf(HKEY hive) {
  if (hive == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (hive == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (hive == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (hive == HKEY_USERS) return "HKEY_USERS";
  throw UsageError(Printf("winsim: not a predefined hive handle\n"));
}

void Machine::SetHiveReadOnly(HKEY hive, bool readOnly) {
  std::string name = HiveNameOf(hive);
  if (readOnly)
    state_->readOnlyHives.insert(name);
  else
    state_->readOnlyHives.erase(name);
}

void Machine::DenyKey(HKEY hive, const std::string& key, bool alsoReads) {
  std::string path = Upper(key);
  while (!path.empty() && path.back() == '\\') path.pop_back();
  state_->denials.push_back(KeyDenial{HiveNameOf(hive), path, alsoReads});
}

std::vector<std::pair<std::string, std::string>> Machine::PendingRenames() const {
  std::vector<std::pair<std::string, std::string>> r;
  auto v = GetRegValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                       "PendingFileRenameOperations");
  if (!v) return r;
  std::vector<std::string> strings;
  std::string cur;
  for (uint8_t b : v->data) {
    if (b == 0) {
      strings.push_back(cur);
      cur.clear();
    } else {
      cur += static_cast<char>(b);
    }
  }
  // The list ends with an empty string (the second NUL); pairs come before it.
  for (size_t i = 0; i + 1 < strings.size(); i += 2) r.emplace_back(strings[i], strings[i + 1]);
  return r;
}

// ---- Shell folders -----------------------------------------------------------------------------------------
void Machine::SetShellFolder(int csidl, const std::string& path) {
  SetShellFolder(csidl, FolderRoute::ItemList, path);
  SetShellFolder(csidl, FolderRoute::ShFolder, path);
  if (!path.empty()) MakeDirs(path);
}

void Machine::SetShellFolder(int csidl, FolderRoute route, const std::string& path) {
  auto& table = route == FolderRoute::ItemList ? state_->itemListFolders : state_->shFolders;
  table[csidl].path = path;
  table[csidl].failure.reset();
}

void Machine::FailShellFolder(int csidl, FolderRoute route, HRESULT hr) {
  auto& table = route == FolderRoute::ItemList ? state_->itemListFolders : state_->shFolders;
  table[csidl].failure = hr;
}

std::string Machine::ShellFolder(int csidl, FolderRoute route) const {
  auto& table = route == FolderRoute::ItemList ? state_->itemListFolders : state_->shFolders;
  auto it = table.find(csidl);
  return it != table.end() && it->second.path ? *it->second.path : "";
}

void Machine::ScriptBrowseForFolder(std::optional<std::string> path) { state_->browseAnswer = std::move(path); }

// ---- Modules ---------------------------------------------------------------------------------------------------
std::string Machine::SimDllImage(const std::vector<std::string>& exports, const std::vector<std::string>& imports) {
  std::string s = "MZWINSIM-DLL\nexports:";
  if (exports.empty()) {
    s += " DllRegisterServer DllUnregisterServer";
  } else {
    for (auto& e : exports) s += " " + e;
  }
  s += "\n";
  if (!imports.empty()) {
    s += "imports:";
    for (auto& i : imports) s += " " + i;
    s += "\n";
  }
  return s;
}

void Machine::PlantSimDll(const std::string& path, const std::vector<std::string>& exports,
                          const std::vector<std::string>& imports) {
  WriteText(path, SimDllImage(exports, imports));
}

void Machine::RemoveSystemModule(const std::string& name) { RemoveTree(state_->systemDir + "\\" + name); }

// ---- Windows and boxes ------------------------------------------------------------------------------------------
HWND Machine::CreateTestWindow(int clientWidth, int clientHeight, const std::string& title) {
  Window w;
  w.className = "#32770";
  w.text = title;
  w.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
  w.rect = RECT{100, 100, 100 + clientWidth, 100 + clientHeight};
  w.visible = true;
  return state_->NewWindow(w);
}

HWND Machine::AddTestControl(HWND parent, const std::string& className, int id, DWORD style) {
  Window w;
  w.className = className;
  w.style = style | WS_CHILD;
  w.parent = parent;
  w.id = id;
  w.rect = RECT{10, 10, 210, 30};
  return state_->NewWindow(w);
}

std::vector<std::string> Machine::ComboItems(HWND combo) const {
  const Window* w = state_->Win(combo);
  return w ? w->items : std::vector<std::string>{};
}

std::string Machine::WindowText(HWND hwnd) const {
  const Window* w = state_->Win(hwnd);
  return w ? w->text : "";
}

std::string Machine::WindowClass(HWND hwnd) const {
  const Window* w = state_->Win(hwnd);
  return w ? w->className : "";
}

RECT Machine::WindowRectInParent(HWND hwnd) const {
  const Window* w = state_->Win(hwnd);
  return w ? w->rect : RECT{};
}

HWND Machine::ParentOf(HWND hwnd) const {
  const Window* w = state_->Win(hwnd);
  return w ? w->parent : nullptr;
}

int Machine::ProgressPos(HWND bar) const {
  const Window* w = state_->Win(bar);
  return w ? w->pbPos : -1;
}

std::pair<int, int> Machine::ProgressRange(HWND bar) const {
  const Window* w = state_->Win(bar);
  return w ? std::make_pair(w->pbMin, w->pbMax) : std::make_pair(0, 0);
}

int Machine::ProgressStep(HWND bar) const {
  const Window* w = state_->Win(bar);
  return w ? w->pbStep : 0;
}

std::vector<HWND> Machine::WindowsOfClass(const std::string& className) const {
  std::vector<HWND> r;
  for (auto& kv : state_->windows)
    if (IEquals(kv.second.className, className)) r.push_back(kv.second.hwnd);
  return r;
}

std::string Machine::WindowTag(HWND hwnd) {
  if (!hwnd) return "NULL";
  return "hwnd" + std::to_string((reinterpret_cast<uintptr_t>(hwnd) - 0x10000) / 4);
}

void Machine::ScriptAnswer(const std::string& caption, int answer) { state_->answers[caption].push_back(answer); }

int Machine::UnansweredScripts() const {
  int n = 0;
  for (auto& kv : state_->answers) n += static_cast<int>(kv.second.size());
  return n;
}

const std::vector<ProcessRecord>& Machine::processes() const { return state_->processes; }
const std::vector<SavedLink>& Machine::savedLinks() const { return state_->links; }
bool Machine::restartRequested() const { return state_->restartRequested; }

Progman& Machine::progman() { return state_->progman; }
Journal& Machine::journal() { return state_->journal; }
const Journal& Machine::journal() const { return state_->journal; }

Outstanding Machine::outstanding() const {
  const State& s = *state_;
  Outstanding o;
  o.regKeys = static_cast<int>(s.keys.size());
  o.fileHandles = static_cast<int>(s.files.size());
  o.findHandles = static_cast<int>(s.finds.size());
  for (auto& m : s.modules) o.modules += m.refs;
  o.processHandles = static_cast<int>(s.processHandles.size());
  o.tokenHandles = static_cast<int>(s.tokens.size());
  o.ddeInstances = static_cast<int>(s.dde.size());
  for (auto& kv : s.dde)
    for (auto& str : kv.second.strings) o.ddeStrings += str.second.refs;
  o.ddeConversations = static_cast<int>(s.convs.size());
  for (auto& kv : s.ddeData) {
    ++o.ddeDataHandles;
    o.ddeAccessedData += kv.second.accessCount;
  }
  o.ddeReclaimed = s.ddeReclaimed;
  o.comObjects = static_cast<int>(s.comLive.size());
  o.comInitialised = s.comInit;
  o.pidls = static_cast<int>(s.pidls.size());
  o.propSheetPages = static_cast<int>(s.propPages.size());
  o.mallocRefs = s.mallocRefs;
  return o;
}

// ---- Restart ----------------------------------------------------------------------------------------------------
static std::string StripNtPrefix(std::string s) {
  if (s.rfind("\\??\\", 0) == 0) s = s.substr(4);
  return s;
}

static void RemoveAtBoot(State& s, const std::string& path, const char* how) {
  PathParts p;
  DWORD e = s.Resolve(path.c_str(), p);
  NodePtr n = e ? nullptr : s.Lookup(p);
  std::string result = "0";
  if (!n) {
    result = Dec(e ? e : ERROR_FILE_NOT_FOUND);
  } else if (n->isDir && !n->children.empty()) {
    result = Dec(ERROR_DIR_NOT_EMPTY);
  } else if (!n->parent) {
    result = Dec(ERROR_ACCESS_DENIED);
  } else {
    s.Detach(n);
  }
  s.Log("BootDelete", {how, path, result});
}

static void MoveAtBoot(State& s, const std::string& from, const std::string& to, bool replace, const char* how) {
  PathParts pf, pt;
  std::string result = "0";
  NodePtr src = s.Resolve(from.c_str(), pf) ? nullptr : s.Lookup(pf);
  DWORD e = s.Resolve(to.c_str(), pt);
  if (!src || e) {
    result = Dec(ERROR_FILE_NOT_FOUND);
  } else {
    NodePtr dst = s.Lookup(pt);
    NodePtr dir = s.LookupDir(pt);
    if (dst && !replace) {
      result = Dec(ERROR_ALREADY_EXISTS);
    } else if (!dir) {
      result = Dec(ERROR_PATH_NOT_FOUND);
    } else {
      if (dst) s.Detach(dst);
      s.Detach(src);
      src->name = pt.parts.back();
      src->parent = dir.get();
      src->attached = true;
      dir->children[Upper(src->name)] = src;
    }
  }
  s.Log("BootMove", {how, from, to, result});
}

void Machine::Restart() {
  State& s = *state_;
  s.opens.clear();
  s.files.clear();
  s.finds.clear();
  s.keys.clear();
  s.modules.clear();
  s.processHandles.clear();
  s.tokens.clear();
  s.windows.clear();
  s.dde.clear();
  s.convs.clear();
  s.ddeData.clear();
  s.comInit = 0;
  s.shutdownPrivilege = false;
  s.restartRequested = false;

  if (s.IsNT()) {
    auto pairs = PendingRenames();
    for (auto& [from, to] : pairs) {
      if (to.empty()) {
        RemoveAtBoot(s, StripNtPrefix(from), "PendingFileRenameOperations");
      } else {
        bool replace = to[0] == '!';
        MoveAtBoot(s, StripNtPrefix(from), StripNtPrefix(replace ? to.substr(1) : to), replace,
                   "PendingFileRenameOperations");
      }
    }
    KeyPtr k = s.KeyForTest(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", false);
    if (k)
      k->values.erase(std::remove_if(k->values.begin(), k->values.end(),
                                     [](const RegVal& v) { return IEquals(v.name, "PendingFileRenameOperations"); }),
                      k->values.end());
  } else {
    std::string ini = s.windowsDir + "\\WININIT.INI";
    auto text = ReadText(ini);
    if (text) {
      // WININIT.EXE reads [rename] line by line: NUL=<path> deletes,
      // <destination>=<source> moves.
      std::istringstream in(*text);
      std::string line;
      bool inRename = false;
      while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.pop_back();
        size_t b = line.find_first_not_of(" \t");
        if (b == std::string::npos) continue;
        line = line.substr(b);
        if (line[0] == '[') {
          size_t e = line.rfind(']');
          inRename = e != std::string::npos && IEquals(line.substr(1, e - 1), "rename");
          continue;
        }
        if (!inRename) continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
        size_t vb = value.find_first_not_of(" \t");
        value = vb == std::string::npos ? "" : value.substr(vb);
        if (IEquals(key, "NUL"))
          RemoveAtBoot(s, value, "WININIT.INI");
        else
          MoveAtBoot(s, value, key, true, "WININIT.INI");
      }
      std::string bak = s.windowsDir + "\\WININIT.BAK";
      WriteText(bak, *text);
      RemoveTree(ini);
    }
  }
  s.progman.activeGroup.clear();
  s.Log("Restart", {});
}

}  // namespace winsim
