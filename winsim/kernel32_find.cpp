// KERNEL32 find enumeration: FindFirstFileA, FindNextFileA and FindClose,
// with the DOS wildcard rules Win32 keeps.
#include <cstring>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

bool Glob(const char* p, const char* n) {
  // Iterative '*' backtracking over upper-cased text.
  const char *star = nullptr, *resume = nullptr;
  while (*n) {
    if (*p == '?' || (*p && *p == *n)) {
      ++p;
      ++n;
    } else if (*p == '*') {
      star = p++;
      resume = n;
    } else if (star) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (*p == '*') ++p;
  return *p == '\0';
}

bool MatchOne(const std::string& pattern, const std::string& name) {
  std::string P = Upper(pattern), N = Upper(name);
  if (P == "*" || P == "*.*") return true;
  if (Glob(P.c_str(), N.c_str())) return true;
  bool noDot = N.find('.') == std::string::npos;
  // DOS rules kept by Win32: "x.*" also matches "x", and a trailing dot
  // matches names without an extension ("*." finds "README").
  if (noDot && P.size() >= 2 && P.compare(P.size() - 2, 2, ".*") == 0 && Glob(P.substr(0, P.size() - 2).c_str(), N.c_str()))
    return true;
  if (noDot && !P.empty() && P.back() == '.' && Glob(P.substr(0, P.size() - 1).c_str(), N.c_str())) return true;
  return false;
}

// Win32 matches the pattern against the long name and the 8.3 alias.
bool Matches(const std::string& pattern, const FsNode& n) { return WildcardMatch(pattern, n); }

void FillFind(WIN32_FIND_DATAA* d, const FsNode& n, const std::string& name) {
  std::memset(d, 0, sizeof *d);
  d->dwFileAttributes = AttributesOf(n);
  d->ftCreationTime = n.created;
  d->ftLastAccessTime = n.accessed;
  d->ftLastWriteTime = n.written;
  uint64_t size = n.isDir ? 0 : n.data.size();
  d->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  d->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  CopyOut(d->cFileName, sizeof d->cFileName, name);
  if (name != "." && name != ".." && n.shortName != Upper(n.name))
    CopyOut(d->cAlternateFileName, sizeof d->cAlternateFileName, n.shortName);
}

// Produces the next entry of an enumeration; false at the end.
bool NextEntry(State& s, FindHandle& f, WIN32_FIND_DATAA* d) {
  if (f.done) return false;
  NodePtr dir = s.Lookup(f.dir);
  if (!dir || !dir->isDir) {
    f.done = true;
    return false;
  }
  while (f.hasDots && f.dotsReturned < 2) {
    const char* name = f.dotsReturned == 0 ? "." : "..";
    ++f.dotsReturned;
    if (MatchOne(f.pattern, name)) {
      FillFind(d, *dir, name);
      return true;
    }
  }
  auto it = f.lastKey.empty() ? dir->children.begin() : dir->children.upper_bound(f.lastKey);
  for (; it != dir->children.end(); ++it) {
    if (Matches(f.pattern, *it->second)) {
      f.lastKey = it->first;
      FillFind(d, *it->second, it->second->name);
      return true;
    }
  }
  f.done = true;
  return false;
}

}  // namespace

bool winsim::detail::WildcardMatch(const std::string& pattern, const FsNode& n) {
  return MatchOne(pattern, n.name) || (!n.shortName.empty() && MatchOne(pattern, n.shortName));
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
  State& s = S();
  if (auto f = Injected("FindFirstFileA", lpFileName)) return s.lastError = *f, INVALID_HANDLE_VALUE;
  PathParts p;
  DWORD e = s.Resolve(lpFileName, p, true);
  if (!lpFindFileData) {
    s.Log("Misuse", {"FindFirstFileA", "NULL find data"});
    e = ERROR_INVALID_PARAMETER;
  }
  size_t len = lpFileName ? std::strlen(lpFileName) : 0;
  if (!e && len && (EndsWithChar(std::string_view(lpFileName, len), '\\') || lpFileName[len - 1] == '/'))
    e = ERROR_FILE_NOT_FOUND;
  if (!e && p.parts.empty()) e = ERROR_FILE_NOT_FOUND;
  HANDLE result = INVALID_HANDLE_VALUE;
  if (!e) {
    FindHandle f;
    f.dir = p;
    f.dir.parts.pop_back();
    f.pattern = p.parts.back();
    DWORD le = 0;
    NodePtr dir = s.Lookup(f.dir, &le);
    if (!dir || !dir->isDir) {
      e = le == ERROR_ACCESS_DENIED ? le : ERROR_PATH_NOT_FOUND;
    } else if (f.dir.byProgram && (e = s.MayLookInside(dir.get()))) {
      // the directory cannot be listed
    } else {
      f.hasDots = !f.dir.parts.empty();
      if (!NextEntry(s, f, lpFindFileData)) {
        e = ERROR_FILE_NOT_FOUND;
      } else {
        uintptr_t h = s.NewHandle();
        s.finds[h] = f;
        result = reinterpret_cast<HANDLE>(h);
      }
    }
  }
  s.Log("FindFirstFile", {Str(lpFileName), Dec(e)});
  if (e) s.lastError = e;
  return result;
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
  State& s = S();
  auto it = s.finds.find(reinterpret_cast<uintptr_t>(hFindFile));
  if (it == s.finds.end()) {
    s.Log("Misuse", {"FindNextFileA", "invalid find handle"});
    return Fail(s, ERROR_INVALID_HANDLE);
  }
  if (!lpFindFileData) return Fail(s, ERROR_INVALID_PARAMETER);
  if (!NextEntry(s, it->second, lpFindFileData)) return Fail(s, ERROR_NO_MORE_FILES);
  return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
  State& s = S();
  auto it = s.finds.find(reinterpret_cast<uintptr_t>(hFindFile));
  if (it == s.finds.end()) {
    s.Log("Misuse", {"FindClose", "invalid find handle"});
    return Fail(s, ERROR_INVALID_HANDLE);
  }
  s.finds.erase(it);
  return TRUE;
}
