// SHELL32 (and shfolder.dll): special folders through item lists and through
// SHGetFolderPathA, the shell allocator, SHFileOperationA, SHChangeNotify
// and the folder picker.
#include <cstdlib>
#include <cstring>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

// ---- The shell's task allocator -------------------------------------------------------------
class ShellMalloc final : public IMalloc {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IMalloc)) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++S().mallocRefs); }
  ULONG STDMETHODCALLTYPE Release() override {
    State& s = S();
    if (s.mallocRefs == 0) {
      s.Log("Misuse", {"IMalloc::Release", "released more often than obtained"});
      return 0;
    }
    return static_cast<ULONG>(--s.mallocRefs);
  }
  void* STDMETHODCALLTYPE Alloc(SIZE_T cb) override {
    void* p = std::malloc(cb ? cb : 1);
    if (p) S().pidls.insert(p);
    return p;
  }
  void* STDMETHODCALLTYPE Realloc(void* pv, SIZE_T cb) override {
    State& s = S();
    if (pv && !s.pidls.count(pv)) {
      s.Log("Misuse", {"IMalloc::Realloc", "memory not from this allocator"});
      return nullptr;
    }
    void* p = std::realloc(pv, cb ? cb : 1);
    if (p) {
      s.pidls.erase(pv);
      s.pidls.insert(p);
    }
    return p;
  }
  void STDMETHODCALLTYPE Free(void* pv) override {
    State& s = S();
    if (!pv) return;
    if (!s.pidls.erase(pv)) {
      s.Log("Misuse", {"IMalloc::Free", "memory not from this allocator, or freed twice"});
      return;
    }
    std::free(pv);
    s.Log("MallocFree", {});
  }
  SIZE_T STDMETHODCALLTYPE GetSize(void*) override { return static_cast<SIZE_T>(-1); }
  int STDMETHODCALLTYPE DidAlloc(void* pv) override { return S().pidls.count(pv) ? 1 : 0; }
  void STDMETHODCALLTYPE HeapMinimize() override {}
};

ShellMalloc g_malloc;

// Item lists winsim hands out: one item holding a marker and the folder's
// path, then the terminating zero-length item.
constexpr char kPidlMarker[4] = {'W', 'S', 'I', 'M'};

PIDLIST_ABSOLUTE MakePidl(const std::string& path) {
  size_t itemSize = 2 + sizeof kPidlMarker + path.size() + 1;
  auto* p = static_cast<uint8_t*>(g_malloc.Alloc(itemSize + 2));
  if (!p) return nullptr;
  uint16_t cb = static_cast<uint16_t>(itemSize);
  std::memcpy(p, &cb, 2);
  std::memcpy(p + 2, kPidlMarker, sizeof kPidlMarker);
  std::memcpy(p + 2 + sizeof kPidlMarker, path.c_str(), path.size() + 1);
  p[itemSize] = p[itemSize + 1] = 0;
  return reinterpret_cast<PIDLIST_ABSOLUTE>(p);
}

bool PidlPath(PCIDLIST_ABSOLUTE pidl, std::string& path) {
  if (!pidl) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(pidl);
  if (!S().pidls.count(const_cast<uint8_t*>(p))) return false;
  uint16_t cb;
  std::memcpy(&cb, p, 2);
  if (cb < 2 + sizeof kPidlMarker + 1 || std::memcmp(p + 2, kPidlMarker, sizeof kPidlMarker) != 0) return false;
  path.assign(reinterpret_cast<const char*>(p + 2 + sizeof kPidlMarker));
  return true;
}

std::string HrText(HRESULT hr) { return hr ? Hex(static_cast<uint32_t>(hr)) : "0"; }

// ---- SHFileOperation helpers ------------------------------------------------------------------
std::vector<std::string> SplitList(PCZZSTR list) {
  std::vector<std::string> r;
  if (!list) return r;
  for (const char* p = list; *p; p += std::strlen(p) + 1) r.emplace_back(p);
  return r;
}

std::string JoinList(const std::vector<std::string>& v) {
  std::string r;
  for (size_t i = 0; i < v.size(); ++i) r += (i ? "|" : "") + v[i];
  return r;
}

bool HasWildcard(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

DWORD CopyNode(State& s, const NodePtr& src, const NodePtr& dstDir, const std::string& name) {
  for (FsNode* a = dstDir.get(); a; a = a->parent)
    if (a == src.get()) return ERROR_ACCESS_DENIED;  // into itself
  auto it = dstDir->children.find(Upper(name));
  NodePtr dst = it == dstDir->children.end() ? nullptr : it->second;
  // The shell works within MAX_PATH: it neither creates a directory whose
  // path leaves no room for an 8.3 name nor a file past 259 characters.
  std::string dirPath = s.PathOf(dstDir.get());
  size_t full = dirPath.size() + (EndsWithChar(dirPath, '\\') ? 0 : 1) + name.size();
  if (!dst && full > (src->isDir ? MAX_PATH - 12 : MAX_PATH - 1)) return ERROR_FILENAME_EXCED_RANGE;
  if (src->isDir) {
    if (dst && !dst->isDir) return ERROR_ALREADY_EXISTS;
    if (!dst) {
      if (DWORD e = s.MayChange(dstDir.get())) return e;
      dst = s.AddChild(dstDir, name, true);
    }
    std::vector<NodePtr> kids;
    for (auto& kv : src->children) kids.push_back(kv.second);
    for (auto& k : kids)
      if (DWORD e = CopyNode(s, k, dst, k->name)) return e;
    return 0;
  }
  if (dst) {
    if (dst->isDir) return ERROR_ACCESS_DENIED;
    if (DWORD e = s.MayChange(dst.get())) return e;
    if (s.HasImage(dst.get()) || s.IsOpen(dst.get())) return ERROR_SHARING_VIOLATION;
    if (DWORD e = s.CheckRoom(dst.get(), dst->data.size(), src->data.size())) {
      s.Detach(dst);  // the shell copies with CopyFile, which deletes what it could not finish
      return e;
    }
  } else {
    if (DWORD e = s.MayChange(dstDir.get())) return e;
    if (DWORD e = s.CheckRoom(dstDir.get(), 0, src->data.size())) return e;
    dst = s.AddChild(dstDir, name, false);
  }
  dst->data = src->data;
  dst->attrs = src->attrs | FILE_ATTRIBUTE_ARCHIVE;
  dst->written = src->written;
  return 0;
}

// Deletes a file or a whole tree; what is held open stays (with the
// directories above it). Returns the first failure.
DWORD DeleteTree(State& s, const NodePtr& n) {
  if (!n->isDir) {
    n->attrs &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    return s.DeleteFileNode(n);
  }
  DWORD first = 0;
  std::vector<NodePtr> kids;
  for (auto& kv : n->children) kids.push_back(kv.second);
  for (auto& k : kids) {
    DWORD e = DeleteTree(s, k);
    if (e && !first) first = e;
  }
  if (!n->children.empty()) return first ? first : ERROR_DIR_NOT_EMPTY;
  if (!n->parent) return ERROR_ACCESS_DENIED;
  if (DWORD e = s.MayChange(n.get())) return e;
  if (s.IsCwdOrAbove(n.get())) return ERROR_SHARING_VIOLATION;
  s.Detach(n);
  return first;
}

}  // namespace

// ---- Special folders --------------------------------------------------------------------------------
HRESULT WINAPI SHGetSpecialFolderLocation(HWND hwnd, int csidl, PIDLIST_ABSOLUTE* ppidl) {
  State& s = S();
  (void)hwnd;
  HRESULT hr = S_OK;
  if (!ppidl) {
    hr = E_INVALIDARG;
  } else {
    *ppidl = nullptr;
    auto it = s.itemListFolders.find(csidl & 0xFF);
    if (auto f = Injected("SHGetSpecialFolderLocation"))
      hr = static_cast<HRESULT>(*f);
    else if (it == s.itemListFolders.end() || (!it->second.path && !it->second.failure))
      hr = E_INVALIDARG;
    else if (it->second.failure)
      hr = *it->second.failure;
    else if (!(*ppidl = MakePidl(*it->second.path)))
      hr = E_OUTOFMEMORY;
  }
  s.Log("SHGetSpecialFolderLocation", {Dec(csidl), HrText(hr)});
  return hr;
}

BOOL WINAPI SHGetPathFromIDListA(PCIDLIST_ABSOLUTE pidl, LPSTR pszPath) {
  State& s = S();
  std::string path;
  if (!pszPath) return FALSE;
  if (Injected("SHGetPathFromIDListA")) return pszPath[0] = '\0', FALSE;
  if (!PidlPath(pidl, path)) {
    if (pidl) s.Log("Misuse", {"SHGetPathFromIDListA", "item list not from the shell, or already freed"});
    pszPath[0] = '\0';
    return FALSE;
  }
  // Virtual folders have no path; a path must fit MAX_PATH.
  if (path.empty() || path.size() >= MAX_PATH) {
    pszPath[0] = '\0';
    return FALSE;
  }
  CopyOut(pszPath, MAX_PATH, path);
  return TRUE;
}

HRESULT WINAPI SHGetMalloc(IMalloc** ppMalloc) {
  State& s = S();
  HRESULT hr = S_OK;
  std::optional<DWORD> injected = ppMalloc ? Injected("SHGetMalloc") : std::nullopt;
  if (!ppMalloc) {
    hr = E_INVALIDARG;
  } else if (injected || s.owner->faults.shGetMalloc) {
    hr = injected ? static_cast<HRESULT>(*injected) : *s.owner->faults.shGetMalloc;
    *ppMalloc = nullptr;
  } else {
    g_malloc.AddRef();
    *ppMalloc = &g_malloc;
  }
  s.Log("SHGetMalloc", {HrText(hr)});
  return hr;
}

namespace winsim::detail {
HRESULT WINAPI Sim_SHGetFolderPathA(HWND hwnd, int csidl, HANDLE token, DWORD flags, LPSTR path) {
  State& s = S();
  (void)hwnd;
  (void)token;
  HRESULT hr = S_OK;
  auto it = s.shFolders.find(csidl & 0xFF);
  std::optional<DWORD> injected = path ? Injected("SHGetFolderPathA") : std::nullopt;
  if (!path) {
    hr = E_INVALIDARG;
  } else if (injected) {
    hr = static_cast<HRESULT>(*injected);
  } else if (it == s.shFolders.end() || (!it->second.path && !it->second.failure)) {
    hr = E_INVALIDARG;
  } else if (it->second.failure) {
    hr = *it->second.failure;
  } else {
    const std::string& folder = *it->second.path;
    PathParts p;
    NodePtr n = s.Resolve(folder.c_str(), p) ? nullptr : s.Lookup(p);
    if (!n && (csidl & CSIDL_FLAG_CREATE) && !folder.empty()) {
      s.MakeDirsParts(p);
      n = s.Lookup(p);
    }
    // The ANSI SHGetFolderPath reports an existing CSIDL whose folder is
    // missing with S_FALSE.
    if (!n || !n->isDir)
      hr = S_FALSE;
    else if (folder.size() >= MAX_PATH)
      hr = E_FAIL;
    else
      CopyOut(path, MAX_PATH, folder);
  }
  s.Log("SHGetFolderPath", {Dec(csidl), Hex(flags), HrText(hr)});
  return hr;
}
}  // namespace winsim::detail

PIDLIST_ABSOLUTE WINAPI SHBrowseForFolderA(LPBROWSEINFOA lpbi) {
  State& s = S();
  std::string title = lpbi ? Str(lpbi->lpszTitle) : "";
  PIDLIST_ABSOLUTE r = nullptr;
  // The picker is a modal dialog owned by the top-level window of hwndOwner,
  // which stays disabled while it runs, as under DialogBox. Without an owner
  // nothing is disabled: every other window of the program stays live.
  HWND owner = lpbi ? lpbi->hwndOwner : nullptr;
  Window* top = s.Win(owner);
  while (top && top->parent && s.Win(top->parent)) top = s.Win(top->parent);
  bool disabled = top && top->enabled;
  if (disabled) top->enabled = false;
  if (s.owner->onBrowseForFolder) s.owner->onBrowseForFolder();
  if (disabled && (top = s.Win(owner)) != nullptr) {
    while (top->parent && s.Win(top->parent)) top = s.Win(top->parent);
    top->enabled = true;
  }
  if (lpbi && s.browseAnswer) {
    r = MakePidl(*s.browseAnswer);
    if (lpbi->pszDisplayName) {
      std::string name = s.browseAnswer->substr(FindLastChar(*s.browseAnswer, '\\') + 1);
      CopyOut(lpbi->pszDisplayName, MAX_PATH, name);
    }
  }
  s.Log("SHBrowseForFolder", {title, s.browseAnswer ? *s.browseAnswer : "", r ? "1" : "0", Machine::WindowTag(owner),
                               disabled ? "owner disabled" : "nothing disabled"});
  return r;
}

// ---- File operations ----------------------------------------------------------------------------------
int WINAPI SHFileOperationA(LPSHFILEOPSTRUCTA op) {
  State& s = S();
  if (!op) return ERROR_INVALID_PARAMETER;
  op->fAnyOperationsAborted = FALSE;
  if (auto f = Injected("SHFileOperationA", op->pFrom)) return static_cast<int>(*f);
  std::vector<std::string> from = SplitList(op->pFrom), to = SplitList(op->pTo);
  DWORD result = 0;
  // The entries a source names: itself, or the matches of a wildcard in
  // its last component.
  auto sources = [&](const std::string& src, std::vector<NodePtr>& out) -> DWORD {
    PathParts p;
    DWORD e = s.Resolve(src.c_str(), p, true);
    if (e) return e;
    if (!HasWildcard(src)) {
      NodePtr n = s.Lookup(p, &e);
      if (!n) return e;
      out.push_back(n);
      return 0;
    }
    PathParts dirParts = p;
    std::string pattern = dirParts.parts.back();
    dirParts.parts.pop_back();
    NodePtr dir = s.Lookup(dirParts);
    if (!dir || !dir->isDir) return ERROR_PATH_NOT_FOUND;
    for (auto& kv : dir->children) {
      bool match = WildcardMatch(pattern, *kv.second);
      if (match) out.push_back(kv.second);
    }
    return 0;
  };

  switch (op->wFunc) {
    case FO_COPY:
    case FO_MOVE: {
      if (to.empty()) {
        result = ERROR_INVALID_PARAMETER;
        break;
      }
      for (size_t i = 0; i < from.size() && !result; ++i) {
        std::vector<NodePtr> items;
        if (DWORD e = sources(from[i], items)) {
          result = e;
          break;
        }
        std::string dest = (op->fFlags & FOF_MULTIDESTFILES) && i < to.size() ? to[i] : to[0];
        PathParts dp;
        if (DWORD e = s.Resolve(dest.c_str(), dp)) {
          result = e;
          break;
        }
        NodePtr dnode = s.Lookup(dp);
        bool intoDir = dnode && dnode->isDir;
        bool single = from.size() == 1 && !HasWildcard(from[i]) && !(op->fFlags & FOF_MULTIDESTFILES);
        if (!intoDir && !single) {
          // Several sources into a folder that does not exist yet: the
          // shell creates it (silently with FOF_NOCONFIRMMKDIR).
          if (dp.Join().size() > MAX_PATH - 12) {
            result = ERROR_FILENAME_EXCED_RANGE;
            break;
          }
          if (DWORD e = s.MakeDirsParts(dp)) {
            result = e;
            break;
          }
          dnode = s.Lookup(dp);
          intoDir = true;
        }
        for (auto& item : items) {
          DWORD e;
          if (intoDir) {
            e = CopyNode(s, item, dnode, item->name);
          } else {
            NodePtr parent = s.LookupDir(dp, &e);
            e = parent ? CopyNode(s, item, parent, dp.parts.back()) : ERROR_PATH_NOT_FOUND;
          }
          if (!e && op->wFunc == FO_MOVE) e = DeleteTree(s, item);
          if (e) {
            result = e;
            break;
          }
        }
      }
      break;
    }
    case FO_DELETE: {
      for (auto& src : from) {
        std::vector<NodePtr> items;
        if (DWORD e = sources(src, items)) {
          if (!result) result = e;
          continue;
        }
        for (auto& item : items) {
          DWORD e = DeleteTree(s, item);
          if (e && !result) result = e;
        }
      }
      break;
    }
    case FO_RENAME: {
      if (from.empty() || to.empty()) {
        result = ERROR_INVALID_PARAMETER;
        break;
      }
      // The shell's own move is not the program's call: keep it out of the
      // journal.
      ++s.quiet;
      if (!MoveFileExA(from[0].c_str(), to[0].c_str(), 0)) result = s.lastError;
      --s.quiet;
      break;
    }
    default:
      result = ERROR_INVALID_PARAMETER;
  }
  static const char* kNames[] = {"0", "FO_MOVE", "FO_COPY", "FO_DELETE", "FO_RENAME"};
  std::string opName = op->wFunc >= 1 && op->wFunc <= 4 ? kNames[op->wFunc] : Dec(op->wFunc);
  s.Log("SHFileOperation", {opName, JoinList(from), JoinList(to), Hex(op->fFlags), Dec(result)});
  return static_cast<int>(result);
}

void WINAPI SHChangeNotify(LONG wEventId, UINT uFlags, LPCVOID dwItem1, LPCVOID dwItem2) {
  State& s = S();
  auto item = [&](LPCVOID v) -> std::string {
    if (!v) return "";
    UINT type = uFlags & 0xFF;
    if (type == SHCNF_PATHA) return Str(static_cast<const char*>(v));
    if (type == SHCNF_IDLIST) {
      std::string path;
      return PidlPath(static_cast<PCIDLIST_ABSOLUTE>(v), path) ? path : "<item list>";
    }
    if (type == SHCNF_DWORD) return Hex(reinterpret_cast<uintptr_t>(v));
    return "<item>";
  };
  s.Log("SHChangeNotify", {Hex(static_cast<uint32_t>(wEventId)), Hex(uFlags), item(dwItem1), item(dwItem2)});
}
