// KERNEL32 modules: LoadLibraryA's search order, sim DLL images, export
// lookup and image holds.
//
// A file is a loadable sim DLL when it starts with "MZWINSIM-DLL\n"; the
// following lines say what it is:
//   builtin: shfolder | version | setupapi | riched20   (winsim's own system DLLs)
//   exports: DllRegisterServer DllUnregisterServer      (a product DLL)
//   imports: HELPER.DLL                                 (DLLs loaded with it)
// Anything else (a real PE file, text) fails with ERROR_BAD_EXE_FORMAT.
#include <array>
#include <cstring>
#include <sstream>
#include <utility>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

constexpr const char* kSimDllMagic = "MZWINSIM-DLL\n";
constexpr int kSlots = 64;

bool ParseSimDll(const std::vector<uint8_t>& data, Builtin& builtin, std::vector<std::string>& exports,
                 std::vector<std::string>& imports) {
  size_t magic = std::strlen(kSimDllMagic);
  if (data.size() < magic || std::memcmp(data.data(), kSimDllMagic, magic) != 0) return false;
  builtin = Builtin::None;
  exports.clear();
  imports.clear();
  std::istringstream in(std::string(data.begin() + static_cast<long>(magic), data.end()));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string tag, word;
    words >> tag;
    if (tag == "builtin:") {
      words >> word;
      if (word == "shfolder") builtin = Builtin::ShFolder;
      if (word == "version") builtin = Builtin::Version;
      if (word == "setupapi") builtin = Builtin::SetupApi;
      if (word == "riched20") builtin = Builtin::RichEdit;
      if (word == "kernel32") builtin = Builtin::Kernel32;
      if (word == "advapi32") builtin = Builtin::Advapi32;
    } else if (tag == "exports:") {
      while (words >> word) exports.push_back(word);
    } else if (tag == "imports:") {
      while (words >> word) imports.push_back(word);
    }
  }
  return true;
}

HRESULT CallExport(int slot, bool reg) {
  State& s = S();
  for (auto& m : s.modules) {
    if (m.slot == slot) {
      s.Log(reg ? "DllRegisterServer" : "DllUnregisterServer", {m.path});
      return S_OK;
    }
  }
  s.Log("Misuse", {reg ? "DllRegisterServer" : "DllUnregisterServer", "called after FreeLibrary"});
  return E_UNEXPECTED;
}

// Each loaded product DLL gets a slot, so that its argument-less exports
// know which DLL they belong to.
template <int N>
HRESULT WINAPI RegisterTrampoline() {
  return CallExport(N, true);
}
template <int N>
HRESULT WINAPI UnregisterTrampoline() {
  return CallExport(N, false);
}

using ExportFn = HRESULT(WINAPI*)();

template <size_t... I>
constexpr std::array<ExportFn, sizeof...(I)> MakeTable(bool reg, std::index_sequence<I...>) {
  return {{(reg ? &RegisterTrampoline<static_cast<int>(I)> : &UnregisterTrampoline<static_cast<int>(I)>)...}};
}

const std::array<ExportFn, kSlots> kRegister = MakeTable(true, std::make_index_sequence<kSlots>{});
const std::array<ExportFn, kSlots> kUnregister = MakeTable(false, std::make_index_sequence<kSlots>{});

// An export as GetProcAddress returns it; the caller casts it back to its
// real type. (The detour through void(*)() is the one cast GCC accepts
// between unrelated function types without a warning.)
template <typename F>
FARPROC AsFarproc(F* f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

namespace winsim::detail {
void State::InstallSystemModules() {
  for (const char* name : {"shfolder", "version", "setupapi", "riched20", "kernel32", "advapi32"}) {
    PathParts p = ResolveOrDie(systemDir + "\\" + name + ".dll");
    std::string image = std::string(kSimDllMagic) + "builtin: " + name + "\n";
    WriteWholeFile(p, std::vector<uint8_t>(image.begin(), image.end()));
  }
}

void State::LoadPinnedModules() {
  for (const char* name : {"kernel32", "advapi32"}) {
    // The program's own view of its system directory: SysWOW64's copies on
    // a 64-bit edition.
    PathParts p;
    if (Resolve((systemDir + "\\" + name + ".dll").c_str(), p)) continue;
    NodePtr node = Lookup(p);
    Module m;
    if (!node || !ParseSimDll(node->data, m.builtin, m.exports, m.importNames)) continue;
    m.serial = nextModule++;
    m.handle = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10000000u + 0x10000u * static_cast<unsigned>(m.serial)));
    m.path = PathOf(node.get());
    m.refs = m.pinned = 1;
    m.holdId = AddOpen(node, kAccRead, FILE_SHARE_READ | FILE_SHARE_DELETE, OpenKind::Module);
    modules.push_back(m);
  }
}
}  // namespace winsim::detail

namespace {

HMODULE LoadModule(const std::string& asked, bool alteredSearch, const std::string& importer, int depth);

// The places a bare name is looked for. The first is the program's
// directory, or, for a DLL loaded by full path with
// LOAD_WITH_ALTERED_SEARCH_PATH and for what that DLL imports, that DLL's
// own directory (measured under Wine: SRV.DLL loaded from C:\inst by a
// program in C:\dist took C:\dist\HELP.DLL with LoadLibraryA, the system
// copy with the altered search path).
std::vector<std::string> SearchPlaces(State& s, const std::string& firstDir) {
  std::vector<std::string> dirs = {firstDir, s.systemDir, s.windowsDir, s.cwd.Join()};
  dirs.insert(dirs.end(), s.envPath.begin(), s.envPath.end());
  return dirs;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Loads a module by the name asked for. importer is "" for the program's
// own call, else the file of the DLL whose import this is (its directory
// then heads the search when alteredSearch is set).
HMODULE LoadModule(const std::string& asked, bool alteredSearch, const std::string& importer, int depth) {
  State& s = S();
  DWORD e = 0;
  std::string name = asked;
  std::string loaded;
  HMODULE result = nullptr;
  const char* kind = importer.empty() ? "LoadLibrary" : "LoadImport";
  auto log = [&](const std::string& file, DWORD error) {
    if (importer.empty())
      s.Log(kind, {asked, file, Dec(error)});
    else
      s.Log(kind, {importer, asked, file, Dec(error)});
  };
  if (name.empty()) e = ERROR_MOD_NOT_FOUND;
  // ".dll" is assumed when the name has no extension; a trailing dot says
  // "no extension".
  std::string base = BaseName(name);
  if (!e) {
    if (base.find('.') == std::string::npos)
      name += ".dll";
    else if (name.back() == '.')
      name.pop_back();
    base = BaseName(name);
  }
  bool hasPath = name.find_first_of("\\/:") != std::string::npos;
  NodePtr node;
  if (!e && !hasPath) {
    for (auto& m : s.modules) {
      if (IEquals(BaseName(m.path), base)) {
        ++m.refs;
        log(m.path, 0);
        return m.handle;
      }
    }
    std::string programDir = s.programPath.substr(0, FindLastChar(s.programPath, '\\'));
    std::string firstDir = alteredSearch && !importer.empty() ? DirectoryOf(importer) : programDir;
    for (auto& d : SearchPlaces(s, firstDir)) {
      PathParts p;
      std::string cand = d.empty() || EndsWithChar(d, '\\') ? d + name : d + "\\" + name;
      if (s.Resolve(cand.c_str(), p)) continue;
      NodePtr n = s.Lookup(p);
      if (n && !n->isDir) {
        node = n;
        break;
      }
    }
    if (!node) e = ERROR_MOD_NOT_FOUND;
  } else if (!e) {
    PathParts p;
    e = s.Resolve(name.c_str(), p);
    if (!e) {
      node = s.Lookup(p);
      if (!node || node->isDir) e = ERROR_MOD_NOT_FOUND;
    }
  }
  if (!e) {
    loaded = s.PathOf(node.get());
    for (auto& m : s.modules) {
      if (IEquals(m.path, loaded)) {
        ++m.refs;
        log(m.path, 0);
        return m.handle;
      }
    }
    Module m;
    if (!ParseSimDll(node->data, m.builtin, m.exports, m.importNames)) {
      e = ERROR_BAD_EXE_FORMAT;
    } else if (s.CheckShare(node.get(), kAccRead, FILE_SHARE_READ | FILE_SHARE_DELETE)) {
      e = ERROR_SHARING_VIOLATION;
    } else {
      // The imports come first; one that cannot be loaded fails the load.
      for (const auto& import : m.importNames) {
        HMODULE h = depth < 8 ? LoadModule(import, alteredSearch, loaded, depth + 1) : nullptr;
        if (!h) {
          e = ERROR_MOD_NOT_FOUND;
          break;
        }
        m.imports.push_back(h);
      }
      if (e) {
        for (HMODULE h : m.imports) FreeLibrary(h);
        m.imports.clear();
      }
    }
    if (!e) {
      m.serial = s.nextModule++;
      m.handle = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x10000000u + 0x10000u * static_cast<unsigned>(m.serial)));
      m.path = loaded;
      m.refs = 1;
      m.holdId = s.AddOpen(node, kAccRead, FILE_SHARE_READ | FILE_SHARE_DELETE, OpenKind::Module);
      if (m.builtin == Builtin::None) {
        for (int slot = 0; slot < kSlots && m.slot < 0; ++slot) {
          bool used = false;
          for (auto& o : s.modules) used = used || o.slot == slot;
          if (!used) m.slot = slot;
        }
      }
      s.modules.push_back(m);
      result = m.handle;
    }
  }
  log(e ? std::string() : loaded, e);
  if (e) s.lastError = e;
  return result;
}

}  // namespace

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
  if (auto f = Injected("LoadLibraryA", lpLibFileName)) return S().lastError = *f, nullptr;
  return LoadModule(Str(lpLibFileName), false, "", 0);
}

HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  State& s = S();
  if (auto f = Injected("LoadLibraryExA", lpLibFileName)) return s.lastError = *f, nullptr;
  if (hFile != nullptr) {
    s.lastError = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  // The altered search applies to a name with a path; with a bare name
  // Windows searches as LoadLibraryA does.
  std::string name = Str(lpLibFileName);
  bool altered = (dwFlags & LOAD_WITH_ALTERED_SEARCH_PATH) && name.find('\\') != std::string::npos;
  return LoadModule(name, altered, "", 0);
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  State& s = S();
  if (auto f = Injected("GetProcAddress", HIWORD(reinterpret_cast<uintptr_t>(lpProcName)) ? lpProcName : nullptr)) return s.lastError = *f, nullptr;
  Module* mod = nullptr;
  for (auto& m : s.modules)
    if (m.handle == hModule) mod = &m;
  if (!mod) {
    s.Log("Misuse", {"GetProcAddress", "unknown module handle"});
    s.lastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
  }
  std::string name = IS_INTRESOURCE(lpProcName) ? "#" + Dec(reinterpret_cast<uintptr_t>(lpProcName)) : Str(lpProcName);
  FARPROC f = nullptr;
  switch (mod->builtin) {
    case Builtin::ShFolder:
      if (name == "SHGetFolderPathA") f = AsFarproc(&Sim_SHGetFolderPathA);
      break;
    case Builtin::Version:
      if (name == "VerInstallFileA") f = AsFarproc(&Sim_VerInstallFileA);
      break;
    case Builtin::SetupApi:
      if (name == "SetupIterateCabinetA") f = AsFarproc(&Sim_SetupIterateCabinetA);
      break;
    case Builtin::RichEdit:
      break;
    case Builtin::Kernel32:
      if (!s.Exports(mod->builtin, name)) break;
      if (name == "IsWow64Process") f = AsFarproc(&Sim_IsWow64Process);
      if (name == "GetSystemWow64DirectoryA") f = AsFarproc(&Sim_GetSystemWow64DirectoryA);
      if (name == "QueryDosDeviceA") f = AsFarproc(&Sim_QueryDosDeviceA);
      break;
    case Builtin::Advapi32:
      if (s.Exports(mod->builtin, name) && name == "RegDeleteKeyExA") f = AsFarproc(&Sim_RegDeleteKeyExA);
      if (!f) f = SecurityExport(s, name);
      break;
    case Builtin::None:
      for (auto& e : mod->exports) {
        if (e != name || mod->slot < 0) continue;
        if (name == "DllRegisterServer") f = AsFarproc(kRegister[static_cast<size_t>(mod->slot)]);
        if (name == "DllUnregisterServer") f = AsFarproc(kUnregister[static_cast<size_t>(mod->slot)]);
      }
      break;
  }
  s.Log("GetProcAddress", {mod->path, name, f ? "0" : Dec(ERROR_PROC_NOT_FOUND)});
  if (!f) s.lastError = ERROR_PROC_NOT_FOUND;
  return f;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
  State& s = S();
  for (size_t i = 0; i < s.modules.size(); ++i) {
    Module& m = s.modules[i];
    if (m.handle != hLibModule) continue;
    if (m.refs <= m.pinned) {
      s.Log("Misuse", {"FreeLibrary", "more frees than loads of a module the program imports"});
      return TRUE;
    }
    s.Log("FreeLibrary", {m.path, Dec(m.refs - 1)});
    if (--m.refs == 0) {
      s.RemoveOpen(m.holdId);
      std::vector<HMODULE> imports = m.imports;
      s.modules.erase(s.modules.begin() + static_cast<long>(i));
      for (HMODULE h : imports) FreeLibrary(h);
    }
    return TRUE;
  }
  s.Log("Misuse", {"FreeLibrary", "unknown module handle"});
  s.lastError = ERROR_MOD_NOT_FOUND;
  return FALSE;
}
