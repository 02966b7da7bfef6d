// ADVAPI32: the registry (NT semantics: exact sizes, ERROR_MORE_DATA,
// access checks per handle, no deletion of keys with subkeys, the WOW64
// views); the process token is in advapi32_token.cpp.
#include <cstring>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace winsim::detail {

static std::string UpperPath(const std::string& p) {
  std::string r;
  for (char c : p) {
    if (c == '\\' && (r.empty() || r.back() == '\\')) continue;
    r += UpperChar(c);
  }
  while (!r.empty() && r.back() == '\\') r.pop_back();
  return r;
}

static std::string JoinKey(const std::string& a, const std::string& b) {
  std::string clean;
  for (char c : b) {
    if (c == '\\' && (clean.empty() || clean.back() == '\\')) continue;
    clean += c;
  }
  while (!clean.empty() && clean.back() == '\\') clean.pop_back();
  if (a.empty()) return clean;
  if (clean.empty()) return a;
  return a + "\\" + clean;
}

KeyPtr State::HiveRoot(HKEY hive, std::string* hiveName, std::string* prefix) const {
  if (prefix) prefix->clear();
  if (hive == HKEY_LOCAL_MACHINE) {
    if (hiveName) *hiveName = "HKEY_LOCAL_MACHINE";
    return hklm;
  }
  if (hive == HKEY_CURRENT_USER) {
    if (hiveName) *hiveName = "HKEY_CURRENT_USER";
    return hkcu;
  }
  if (hive == HKEY_USERS) {
    if (hiveName) *hiveName = "HKEY_USERS";
    return hku;
  }
  if (hive == HKEY_CLASSES_ROOT) {
    if (hiveName) *hiveName = "HKEY_CLASSES_ROOT";
    // As on Windows 9x and NT 4, HKCR is HKLM\Software\Classes.
    auto sw = hklm->subkeys.find("SOFTWARE");
    if (sw == hklm->subkeys.end()) return nullptr;
    auto cl = sw->second->subkeys.find("CLASSES");
    return cl == sw->second->subkeys.end() ? nullptr : cl->second;
  }
  return nullptr;
}

KeyPtr State::WalkKey(const KeyPtr& from, const std::string& path, bool create, bool* created) {
  if (created) *created = false;
  KeyPtr cur = from;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '\\') continue;
    std::string part = path.substr(start, i - start);
    start = i + 1;
    if (part.empty()) continue;
    std::string u = Upper(part);
    auto it = cur->subkeys.find(u);
    if (it == cur->subkeys.end()) {
      if (!create) return nullptr;
      auto k = std::make_shared<RegKey>();
      k->name = part;
      k->parent = cur.get();
      k->written = Tick();
      cur->subkeys[u] = k;
      if (created) *created = true;
      cur = k;
    } else {
      cur = it->second;
    }
  }
  return cur;
}

static bool Covers(const std::string& denied, const std::string& path) {
  if (path == denied) return true;
  return path.size() > denied.size() && path.compare(0, denied.size(), denied) == 0 && path[denied.size()] == '\\';
}

bool State::WriteDenied(const std::string& hiveName, const std::string& upperPath) const {
  if (readOnlyHives.count(hiveName) || UserRefusesKeyWrite(hiveName)) return true;
  for (auto& d : denials)
    if (d.hiveName == hiveName && Covers(d.upperPath, upperPath)) return true;
  if (hiveName == "HKEY_CLASSES_ROOT")
    return WriteDenied("HKEY_LOCAL_MACHINE", upperPath.empty() ? "SOFTWARE\\CLASSES" : "SOFTWARE\\CLASSES\\" + upperPath);
  return false;
}

bool State::ReadDenied(const std::string& hiveName, const std::string& upperPath) const {
  for (auto& d : denials)
    if (d.reads && d.hiveName == hiveName && Covers(d.upperPath, upperPath)) return true;
  if (hiveName == "HKEY_CLASSES_ROOT")
    return ReadDenied("HKEY_LOCAL_MACHINE", upperPath.empty() ? "SOFTWARE\\CLASSES" : "SOFTWARE\\CLASSES\\" + upperPath);
  return false;
}

KeyPtr State::KeyForTest(HKEY hive, const std::string& key, bool create) const {
  State* self = const_cast<State*>(this);
  if (hive == HKEY_CLASSES_ROOT) return self->WalkKey(hklm, JoinKey("Software\\Classes", key), create);
  std::string name;
  KeyPtr root = HiveRoot(hive, &name, nullptr);
  if (!root) {
    throw UsageError(Printf("winsim: not a predefined hive handle\n"));
  }
  // The real (64-bit) names; the registry's own links are followed.
  if (wow64) {
    RealKey real = MapKey(name, key, KEY_WOW64_64KEY);
    return self->WalkKey(real.root, real.path, create);
  }
  return self->WalkKey(root, key, create);
}

void State::SetValueRaw(const KeyPtr& key, const std::string& name, DWORD type, const std::vector<uint8_t>& data) {
  for (auto& v : key->values) {
    if (IEquals(v.name, name)) {
      v.type = type;
      v.data = data;
      key->written = Tick();
      return;
    }
  }
  key->values.push_back(RegVal{name, type, data});
  key->written = Tick();
}

}  // namespace winsim::detail

namespace {

constexpr REGSAM kWriteBits = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

bool IsPredefined(HKEY h) {
  return h == HKEY_CLASSES_ROOT || h == HKEY_CURRENT_USER || h == HKEY_LOCAL_MACHINE || h == HKEY_USERS;
}

// A key handle as a base for an operation: the predefined hives behave as
// handles with full access.
struct Base {
  KeyPtr key;
  std::string hiveName;
  std::string path;
  REGSAM access = 0;
  std::string realHive, realPath;  // the real key behind it
  KeyHandle* handle = nullptr;     // nullptr for a predefined hive
};

LONG GetBase(State& s, HKEY h, Base& b) {
  if (IsPredefined(h)) {
    b.key = s.HiveRoot(h, &b.hiveName, nullptr);
    if (!b.key) return ERROR_FILE_NOT_FOUND;
    b.path.clear();
    b.access = KEY_ALL_ACCESS;
    b.realHive = b.hiveName;
    if (s.wow64) {
      RealKey real = s.MapKey(b.hiveName, "", 0);
      b.realHive = real.hive;
      b.realPath = real.path;
    }
    return ERROR_SUCCESS;
  }
  auto it = s.keys.find(reinterpret_cast<uintptr_t>(h));
  if (it == s.keys.end()) return ERROR_INVALID_HANDLE;
  if (it->second.key->deleted) return ERROR_KEY_DELETED;
  b.key = it->second.key;
  b.hiveName = it->second.hiveName;
  b.path = it->second.path;
  b.access = it->second.access;
  b.realHive = it->second.realHive;
  b.realPath = it->second.realPath;
  b.handle = &it->second;
  return ERROR_SUCCESS;
}

// Where a subkey of a base is: on a 64-bit edition the registry
// redirector's answer for the whole path in the view sam asks for (the one
// place a key path of the program becomes a real key); elsewhere the
// subkey below the base itself.
struct Target {
  KeyPtr from;
  std::string sub;   // below from
  std::string hive;  // the real key's hive and path, for the access checks
  std::string path;
};

Target TargetOf(State& s, const Base& b, const std::string& sub, REGSAM sam) {
  if (!s.wow64) return Target{b.key, sub, b.hiveName, JoinKey(b.path, sub)};
  RealKey real = s.MapKey(b.hiveName, JoinKey(b.path, sub), sam);
  return Target{real.root, real.path, real.hive, real.path};
}

// Both view flags at once: "the function fails with ERROR_INVALID_PARAMETER"
// (from Windows 7 on; "undefined" before, where winsim takes the 64-bit view).
bool BothViews(const State& s, REGSAM sam) {
  return s.wow64 && s.version != WindowsVersion::WinXP64 && (sam & KEY_WOW64_64KEY) && (sam & KEY_WOW64_32KEY);
}

// Denials name keys as the program does and as they really are.
bool WriteRefused(const State& s, const std::string& hive, const std::string& path, const Target& t) {
  return s.WriteDenied(hive, UpperPath(path)) || s.WriteDenied(t.hive, UpperPath(t.path));
}

bool ReadRefused(const State& s, const std::string& hive, const std::string& path, const Target& t) {
  return s.ReadDenied(hive, UpperPath(path)) || s.ReadDenied(t.hive, UpperPath(t.path));
}

std::string TypeName(DWORD t) {
  switch (t) {
    case REG_NONE:
      return "REG_NONE";
    case REG_SZ:
      return "REG_SZ";
    case REG_EXPAND_SZ:
      return "REG_EXPAND_SZ";
    case REG_BINARY:
      return "REG_BINARY";
    case REG_DWORD:
      return "REG_DWORD";
    case REG_DWORD_BIG_ENDIAN:
      return "REG_DWORD_BIG_ENDIAN";
    case REG_MULTI_SZ:
      return "REG_MULTI_SZ";
    case REG_QWORD:
      return "REG_QWORD";
    default:
      return Dec(t);
  }
}

HKEY NewKeyHandle(State& s, const KeyPtr& key, const std::string& hive, const std::string& path, REGSAM access,
                  const Target& t, bool created) {
  s.nextKey += 4;
  KeyHandle h;
  h.key = key;
  h.hiveName = hive;
  h.path = path;
  h.access = access;
  h.realHive = t.hive;
  h.realPath = t.path;
  h.view64 = (access & KEY_WOW64_64KEY) != 0;
  h.written = created;
  s.keys[s.nextKey] = h;
  return reinterpret_cast<HKEY>(s.nextKey);
}

std::string ValueNameOf(LPCSTR name) { return name ? std::string(name) : std::string(); }

RegVal* FindValue(RegKey& k, const std::string& name) {
  for (auto& v : k.values)
    if (IEquals(v.name, name)) return &v;
  return nullptr;
}

}  // namespace

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  State& s = S();
  if (auto f = Injected("RegOpenKeyExA", lpSubKey)) return static_cast<LONG>(*f);
  (void)ulOptions;
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  Base b;
  std::string sub = Str(lpSubKey);
  LONG r = GetBase(s, hKey, b);
  std::string path = JoinKey(b.path, sub);
  KeyPtr k;
  if (r == ERROR_SUCCESS) {
    if (!sub.empty() && sub[0] == '\\') {
      r = ERROR_BAD_PATHNAME;
    } else if (BothViews(s, samDesired)) {
      r = ERROR_INVALID_PARAMETER;
    } else {
      Target t = TargetOf(s, b, sub, samDesired);
      k = s.WalkKey(t.from, t.sub, false);
      if (!k) {
        r = ERROR_FILE_NOT_FOUND;
      } else if (ReadRefused(s, b.hiveName, path, t) ||
                 ((samDesired & kWriteBits) && WriteRefused(s, b.hiveName, path, t))) {
        r = ERROR_ACCESS_DENIED;
      } else {
        *phkResult = NewKeyHandle(s, k, b.hiveName, path, samDesired, t, false);
      }
    }
  }
  s.Log("RegOpenKey", {b.hiveName, path, Hex(samDesired), Dec(r)});
  return r;
}

LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  return RegOpenKeyExA(hKey, lpSubKey, 0, KEY_ALL_ACCESS, phkResult);
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                            REGSAM samDesired, const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
  State& s = S();
  if (auto f = Injected("RegCreateKeyExA", lpSubKey)) return static_cast<LONG>(*f);
  (void)Reserved;
  (void)lpClass;
  (void)lpSecurityAttributes;
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  Base b;
  std::string sub = Str(lpSubKey);
  LONG r = lpSubKey ? GetBase(s, hKey, b) : ERROR_INVALID_PARAMETER;
  std::string path = JoinKey(b.path, sub);
  std::string disposition;
  if (r == ERROR_SUCCESS) {
    if (!sub.empty() && sub[0] == '\\') {
      r = ERROR_BAD_PATHNAME;
    } else if (BothViews(s, samDesired)) {
      r = ERROR_INVALID_PARAMETER;
    } else {
      Target t = TargetOf(s, b, sub, samDesired);
      KeyPtr k = s.WalkKey(t.from, t.sub, false);
      bool wantsWrite = (samDesired & kWriteBits) != 0;
      if (ReadRefused(s, b.hiveName, path, t) || ((wantsWrite || !k) && WriteRefused(s, b.hiveName, path, t))) {
        r = ERROR_ACCESS_DENIED;
      } else {
        bool created = false;
        if (!k) k = s.WalkKey(t.from, t.sub, true, &created);
        *phkResult = NewKeyHandle(s, k, b.hiveName, path, samDesired, t, created);
        disposition = created ? "created" : "opened";
        if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
      }
    }
  }
  s.Log("RegCreateKey", {b.hiveName, path, Hex(samDesired), Hex(dwOptions), disposition, Dec(r)});
  return r;
}

LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  return RegCreateKeyExA(hKey, lpSubKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, phkResult, nullptr);
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData) {
  State& s = S();
  if (auto f = Injected("RegQueryValueExA", lpValueName)) return static_cast<LONG>(*f);
  Base b;
  LONG r = GetBase(s, hKey, b);
  std::string name = ValueNameOf(lpValueName);
  std::string bufSize = lpcbData ? Dec(*lpcbData) : "NULL";
  if (r == ERROR_SUCCESS) {
    if (lpReserved || (lpData && !lpcbData)) {
      r = ERROR_INVALID_PARAMETER;
    } else if (!(b.access & KEY_QUERY_VALUE)) {
      r = ERROR_ACCESS_DENIED;
    } else {
      RegVal* v = FindValue(*b.key, name);
      if (!v) {
        r = ERROR_FILE_NOT_FOUND;
      } else {
        DWORD size = static_cast<DWORD>(v->data.size());
        if (lpType) *lpType = v->type;
        if (lpData) {
          if (*lpcbData < size) {
            r = ERROR_MORE_DATA;
          } else if (size) {
            std::memcpy(lpData, v->data.data(), size);
          }
        }
        if (lpcbData) *lpcbData = size;
      }
    }
  }
  s.Log("RegQueryValue", {b.hiveName, b.path, name, bufSize, Dec(r)});
  return r;
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                           DWORD cbData) {
  State& s = S();
  if (auto f = Injected("RegSetValueExA", lpValueName)) return static_cast<LONG>(*f);
  (void)Reserved;
  Base b;
  LONG r = GetBase(s, hKey, b);
  std::string name = ValueNameOf(lpValueName);
  std::string bytes;
  if (r == ERROR_SUCCESS) {
    if (!(b.access & KEY_SET_VALUE) || s.WriteDenied(b.hiveName, UpperPath(b.path)) ||
        s.WriteDenied(b.realHive, UpperPath(b.realPath))) {
      r = ERROR_ACCESS_DENIED;
    } else if (!lpData && cbData) {
      r = ERROR_NOACCESS;
    } else {
      std::vector<uint8_t> data(lpData, lpData + cbData);
      bytes.assign(data.begin(), data.end());
      if (b.handle) {
        s.PatchWow64String(*b.handle, dwType, data);
        b.handle->written = true;
      }
      s.SetValueRaw(b.key, name, dwType, data);
    }
  }
  if (r != ERROR_SUCCESS && lpData) bytes.assign(reinterpret_cast<const char*>(lpData), cbData);
  s.Log("RegSetValue", {b.hiveName, b.path, name, TypeName(dwType), bytes, Dec(r)});
  return r;
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  State& s = S();
  if (auto f = Injected("RegDeleteValueA", lpValueName)) return static_cast<LONG>(*f);
  Base b;
  LONG r = GetBase(s, hKey, b);
  std::string name = ValueNameOf(lpValueName);
  if (r == ERROR_SUCCESS) {
    if (!(b.access & KEY_SET_VALUE) || s.WriteDenied(b.hiveName, UpperPath(b.path)) ||
        s.WriteDenied(b.realHive, UpperPath(b.realPath))) {
      r = ERROR_ACCESS_DENIED;
    } else {
      if (b.handle) b.handle->written = true;
      auto& vals = b.key->values;
      r = ERROR_FILE_NOT_FOUND;
      for (size_t i = 0; i < vals.size(); ++i) {
        if (IEquals(vals[i].name, name)) {
          vals.erase(vals.begin() + static_cast<long>(i));
          r = ERROR_SUCCESS;
          break;
        }
      }
    }
  }
  s.Log("RegDeleteValue", {b.hiveName, b.path, name, Dec(r)});
  return r;
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                          LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  State& s = S();
  Base b;
  LONG r = GetBase(s, hKey, b);
  if (r != ERROR_SUCCESS) return r;
  if (!lpName || !lpcchName || lpReserved) return ERROR_INVALID_PARAMETER;
  if (!(b.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  if (dwIndex >= b.key->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  auto it = b.key->subkeys.begin();
  std::advance(it, dwIndex);
  const std::string& name = it->second->name;
  if (name.size() + 1 > *lpcchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.c_str(), name.size() + 1);
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpClass && lpcchClass && *lpcchClass) {
    lpClass[0] = '\0';
    *lpcchClass = 0;
  }
  if (lpftLastWriteTime) *lpftLastWriteTime = it->second->written;
  return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName) {
  DWORD cch = cchName;
  return RegEnumKeyExA(hKey, dwIndex, lpName, &cch, nullptr, nullptr, nullptr, nullptr);
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                          LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  State& s = S();
  Base b;
  LONG r = GetBase(s, hKey, b);
  if (r != ERROR_SUCCESS) return r;
  if (!lpValueName || !lpcchValueName || lpReserved || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  if (!(b.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  if (dwIndex >= b.key->values.size()) return ERROR_NO_MORE_ITEMS;
  const RegVal& v = b.key->values[dwIndex];
  if (v.name.size() + 1 > *lpcchValueName) return ERROR_MORE_DATA;
  if (lpData && *lpcbData < v.data.size()) {
    *lpcbData = static_cast<DWORD>(v.data.size());
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpValueName, v.name.c_str(), v.name.size() + 1);
  *lpcchValueName = static_cast<DWORD>(v.name.size());
  if (lpType) *lpType = v.type;
  if (lpData && !v.data.empty()) std::memcpy(lpData, v.data.data(), v.data.size());
  if (lpcbData) *lpcbData = static_cast<DWORD>(v.data.size());
  return ERROR_SUCCESS;
}

static void MarkTreeDeleted(RegKey& k) {
  k.deleted = true;
  for (auto& kv : k.subkeys) MarkTreeDeleted(*kv.second);
}

namespace {

// RegDeleteKeyA (the default view) and RegDeleteKeyExA (the view sam asks for).
LONG DeleteKey(State& s, HKEY hKey, LPCSTR lpSubKey, REGSAM sam, bool ex) {
  Base b;
  LONG r = lpSubKey ? GetBase(s, hKey, b) : ERROR_INVALID_PARAMETER;
  std::string sub = Str(lpSubKey);
  std::string path = JoinKey(b.path, sub);
  if (r == ERROR_SUCCESS) {
    bool bad = !sub.empty() && sub[0] == '\\';
    Target t = TargetOf(s, b, sub, sam);
    KeyPtr k = bad ? nullptr : s.WalkKey(t.from, t.sub, false);
    if (bad) {
      r = ERROR_BAD_PATHNAME;
    } else if (BothViews(s, sam)) {
      r = ERROR_INVALID_PARAMETER;
    } else if (!k) {
      r = ERROR_FILE_NOT_FOUND;
    } else if (!k->parent || path.empty()) {
      r = ERROR_ACCESS_DENIED;
    } else if (ReadRefused(s, b.hiveName, path, t) || WriteRefused(s, b.hiveName, path, t)) {
      r = ERROR_ACCESS_DENIED;
    } else if (s.IsNT() && !k->subkeys.empty()) {
      // The NT family deletes only leaf keys; Windows 9x deletes the whole
      // tree.
      r = ERROR_ACCESS_DENIED;
    } else {
      k->parent->subkeys.erase(Upper(k->name));
      MarkTreeDeleted(*k);
      s.ReflectDeletion(t.hive, t.path);
    }
  }
  if (ex)
    s.Log("RegDeleteKeyEx", {b.hiveName, path, Hex(sam), Dec(r)});
  else
    s.Log("RegDeleteKey", {b.hiveName, path, Dec(r)});
  return r;
}

}  // namespace

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  State& s = S();
  if (auto f = Injected("RegDeleteKeyA", lpSubKey)) return static_cast<LONG>(*f);
  return DeleteKey(s, hKey, lpSubKey, 0, false);
}

namespace winsim::detail {
LONG WINAPI Sim_RegDeleteKeyExA(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, DWORD Reserved) {
  State& s = S();
  if (auto f = Injected("RegDeleteKeyExA", lpSubKey)) return static_cast<LONG>(*f);
  if (Reserved) return ERROR_INVALID_PARAMETER;
  return DeleteKey(s, hKey, lpSubKey, samDesired, true);
}
}  // namespace winsim::detail

LONG WINAPI RegCloseKey(HKEY hKey) {
  State& s = S();
  if (IsPredefined(hKey)) return ERROR_SUCCESS;
  auto it = s.keys.find(reinterpret_cast<uintptr_t>(hKey));
  if (it == s.keys.end()) {
    s.Log("Misuse", {"RegCloseKey", "invalid or already closed key handle"});
    return ERROR_INVALID_HANDLE;
  }
  s.ReflectOnClose(it->second);
  s.keys.erase(it);
  return ERROR_SUCCESS;
}
