// The Machine's test-facing helpers: the current-machine guard, and the
// seeding and reading back of its settings, files, registry, shell folders,
// modules and windows. Construction per Windows version is in
// machine_versions.cpp, the journal in machine_journal.cpp and the restart in
// machine_restart.cpp.
#include <cstdlib>

#include "internal.h"

namespace winsim {

using namespace detail;

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
  return n ? AttributesOf(*n) : INVALID_FILE_ATTRIBUTES;
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
  // A junction goes alone, as RemoveDirectoryA removes it; its target stays.
  NodePtr entry = p.parts.empty() ? nullptr : state_->Entry(p);
  NodePtr n = entry && !entry->junction.empty() ? entry : state_->Lookup(p);
  if (n && n->parent) state_->Detach(n);
}

int Machine::Hold(const std::string& path, DWORD share, DWORD access) {
  NodePtr n = state_->Lookup(state_->ResolveOrDie(path));
  if (!n) {
    throw UsageError(Printf("winsim: Hold(%s): no such file\n", path.c_str()));
  }
  return state_->AddOpen(n, AccessRights(access), share, OpenKind::TestHold);
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
std::string RegValue::Text() const {
  std::string s(data.begin(), data.end());
  size_t nul = s.find('\0');
  if (nul != std::string::npos) s.resize(nul);
  return s;
}

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

void Machine::RemoveSystemModule(const std::string& name) {
  RemoveTree(state_->systemDir + "\\" + name);
  if (state_->wow64) RemoveTree(state_->Wow64SystemDir() + "\\" + name);
}

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

}  // namespace winsim
