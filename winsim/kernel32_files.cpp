// KERNEL32 files and directories: attributes, create/remove/delete/copy/move,
// restart-time moves, short names and file handles (find enumeration is in
// kernel32_find.cpp).
#include <algorithm>
#include <cstring>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

constexpr DWORD kSettableAttrs = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                 FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                 FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The calls that open a name with FILE_OPEN_REPARSE_POINT (attributes,
// removal and renaming of a directory) act on a junction itself, not on
// its target: the entry when the last component is one (its target may be
// missing or unreachable), else what the path reaches.
NodePtr LinkOrReached(const State& s, const PathParts& p, DWORD* error) {
  if (!p.parts.empty()) {
    NodePtr entry = s.Entry(p);
    if (entry && !entry->junction.empty()) {
      *error = 0;
      return entry;
    }
  }
  return s.Lookup(p, error);
}

}  // namespace

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
  State& s = S();
  if (auto f = Injected("GetFileAttributesA", lpFileName)) return s.lastError = *f, INVALID_FILE_ATTRIBUTES;
  PathParts p;
  DWORD e = s.Resolve(lpFileName, p);
  if (e) {
    s.lastError = e;
    return INVALID_FILE_ATTRIBUTES;
  }
  NodePtr n = LinkOrReached(s, p, &e);
  if (!n) {
    s.lastError = e;
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(*n);
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
  State& s = S();
  if (auto f = Injected("SetFileAttributesA", lpFileName)) return Fail(s, *f);
  PathParts p;
  DWORD e = s.Resolve(lpFileName, p);
  NodePtr n = e ? nullptr : s.Lookup(p, &e);
  if (n) e = s.MayChange(n.get());
  if (n && !e) n->attrs = dwFileAttributes & kSettableAttrs;
  s.Log("SetFileAttributes", {Str(lpFileName), Hex(dwFileAttributes), Dec(e)});
  return e ? Fail(s, e) : TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
  State& s = S();
  if (auto f = Injected("CreateDirectoryA", lpPathName)) return Fail(s, *f);
  (void)lpSecurityAttributes;
  PathParts p;
  DWORD e = s.Resolve(lpPathName, p);
  // A new directory must leave room for an 8.3 name below it: Windows
  // refuses full paths longer than MAX_PATH - 12.
  if (!e && p.Join().size() > MAX_PATH - 12) e = ERROR_FILENAME_EXCED_RANGE;
  if (!e && p.parts.empty()) e = ERROR_ACCESS_DENIED;
  if (!e) {
    if (s.Lookup(p)) {
      e = ERROR_ALREADY_EXISTS;
    } else {
      NodePtr dir = s.LookupDir(p, &e);
      if (dir) e = s.MayChange(dir.get());
      if (dir && !e) s.AddChild(dir, p.parts.back(), true);
    }
  }
  s.Log("CreateDirectory", {Str(lpPathName), Dec(e)});
  return e ? Fail(s, e) : TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
  State& s = S();
  if (auto f = Injected("RemoveDirectoryA", lpPathName)) return Fail(s, *f);
  PathParts p;
  DWORD e = s.Resolve(lpPathName, p);
  // "RemoveDirectory can be used to remove a directory junction": the link
  // goes, its target and the target's contents stay.
  NodePtr n = e ? nullptr : LinkOrReached(s, p, &e);
  if (n) {
    if (!n->isDir)
      e = ERROR_DIRECTORY;
    else if (!n->parent)
      e = ERROR_ACCESS_DENIED;
    else if (s.MayChange(n.get()))
      e = ERROR_ACCESS_DENIED;  // opened for deletion before anything else is asked
    else if (!n->children.empty())
      e = ERROR_DIR_NOT_EMPTY;
    else if (n->attrs & FILE_ATTRIBUTE_READONLY)
      e = ERROR_ACCESS_DENIED;
    else if (s.IsCwdOrAbove(n.get()))
      e = ERROR_SHARING_VIOLATION;  // the process's current directory is held open
    else
      s.Detach(n);
  }
  s.Log("RemoveDirectory", {Str(lpPathName), Dec(e)});
  return e ? Fail(s, e) : TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
  State& s = S();
  if (auto f = Injected("DeleteFileA", lpFileName)) return Fail(s, *f);
  PathParts p;
  DWORD e = s.Resolve(lpFileName, p);
  NodePtr n = e ? nullptr : s.Lookup(p, &e);
  if (n) e = s.DeleteFileNode(n);
  s.Log("DeleteFile", {Str(lpFileName), Dec(e)});
  return e ? Fail(s, e) : TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
  State& s = S();
  if (auto f = Injected("CopyFileA", lpNewFileName)) return Fail(s, *f);
  PathParts ps, pd;
  DWORD e = s.Resolve(lpExistingFileName, ps);
  NodePtr src = e ? nullptr : s.Lookup(ps, &e);
  if (src && src->isDir) e = ERROR_ACCESS_DENIED;
  if (src && !e) e = s.CheckShare(src.get(), kAccRead, FILE_SHARE_READ);
  if (!e) e = s.Resolve(lpNewFileName, pd);
  if (!e) {
    NodePtr dst = s.Lookup(pd);
    if (dst) {
      if (dst == src)
        e = ERROR_SHARING_VIOLATION;
      else if (bFailIfExists)
        e = ERROR_FILE_EXISTS;
      else if (dst->isDir || (dst->attrs & FILE_ATTRIBUTE_READONLY))
        e = ERROR_ACCESS_DENIED;
      else if (s.MayChange(dst.get()))
        e = ERROR_ACCESS_DENIED;
      else if ((dst->attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) &
               ~(src->attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        e = ERROR_ACCESS_DENIED;  // replacing hidden or system files needs the same attributes
      else if (s.HasImage(dst.get()) || s.IsOpen(dst.get()))
        e = ERROR_SHARING_VIOLATION;
      else if ((e = s.CheckRoom(dst.get(), dst->data.size(), src->data.size())))
        s.Detach(dst);  // Windows deletes a destination it could not finish
      if (!e) {
        dst->data = src->data;
        dst->attrs = src->attrs | FILE_ATTRIBUTE_ARCHIVE;
        dst->written = src->written;
      }
    } else {
      NodePtr dir = s.LookupDir(pd, &e);
      if (dir) e = s.MayChange(dir.get());
      if (dir && !e) e = s.CheckRoom(dir.get(), 0, src->data.size());
      if (dir && !e) {
        NodePtr n = s.AddChild(dir, pd.parts.back(), false);
        n->data = src->data;
        n->attrs = src->attrs | FILE_ATTRIBUTE_ARCHIVE;
        n->written = src->written;
      }
    }
  }
  s.Log("CopyFile", {Str(lpExistingFileName), Str(lpNewFileName), bFailIfExists ? "1" : "0", Dec(e)});
  return e ? Fail(s, e) : TRUE;
}

static const char* kSessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// NT family: restart-time operations are pairs appended to the Session
// Manager's PendingFileRenameOperations (REG_MULTI_SZ): "\??\<source>",
// then "" to delete it or "<!>\??\<target>" to move it ("!" allows
// replacing an existing target).
static DWORD QueueBootRename(State& s, const PathParts& src, const PathParts* dst, bool replace) {
  if (s.WriteDenied("HKEY_LOCAL_MACHINE", Upper(kSessionManager))) return ERROR_ACCESS_DENIED;
  KeyPtr k = s.KeyForTest(HKEY_LOCAL_MACHINE, kSessionManager, true);
  std::vector<uint8_t> data;
  for (auto& v : k->values)
    if (IEquals(v.name, "PendingFileRenameOperations")) data = v.data;
  // Drop the list's final empty string before appending.
  if (data.size() >= 2 && data[data.size() - 1] == 0 && data[data.size() - 2] == 0) data.pop_back();
  if (data.size() == 1 && data[0] == 0) data.clear();
  auto add = [&data](const std::string& str) {
    data.insert(data.end(), str.begin(), str.end());
    data.push_back(0);
  };
  add("\\??\\" + src.Join());
  add(dst ? std::string(replace ? "!" : "") + "\\??\\" + dst->Join() : std::string());
  data.push_back(0);
  s.SetValueRaw(k, "PendingFileRenameOperations", REG_MULTI_SZ, data);
  return 0;
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
  State& s = S();
  if (auto f = Injected("MoveFileExA", lpExistingFileName)) return Fail(s, *f);
  PathParts ps, pd;
  DWORD e = 0;
  if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    if (!s.IsNT()) {
      e = ERROR_CALL_NOT_IMPLEMENTED;  // Windows 9x uses WININIT.INI instead
    } else if (dwFlags & MOVEFILE_COPY_ALLOWED) {
      e = ERROR_INVALID_PARAMETER;
    } else {
      e = s.Resolve(lpExistingFileName, ps);
      if (!e && lpNewFileName) e = s.Resolve(lpNewFileName, pd);
      if (!e) e = QueueBootRename(s, ps, lpNewFileName ? &pd : nullptr, (dwFlags & MOVEFILE_REPLACE_EXISTING) != 0);
    }
  } else if (!lpNewFileName) {
    e = ERROR_INVALID_PARAMETER;
  } else {
    e = s.Resolve(lpExistingFileName, ps);
    NodePtr src = e ? nullptr : LinkOrReached(s, ps, &e);
    if (!e) e = s.Resolve(lpNewFileName, pd);
    if (!e && src) {
      NodePtr dst = s.Lookup(pd);
      NodePtr dir = s.LookupDir(pd, &e);
      bool crossDrive = !IEquals(ps.root, pd.root);
      if (!dir) {
        // e set by LookupDir
      } else if (!src->parent) {
        e = ERROR_ACCESS_DENIED;
      } else if ((e = s.MayChange(src.get())) || (e = s.MayChange(dir.get())) ||
                 (dst && dst != src && (e = s.MayChange(dst.get())))) {
        // the source is opened for deletion, the target directory for a new entry
      } else if (crossDrive && !(dwFlags & MOVEFILE_COPY_ALLOWED)) {
        e = ERROR_NOT_SAME_DEVICE;
      } else if (crossDrive && src->isDir) {
        e = ERROR_ACCESS_DENIED;
      } else if (dst && dst != src && !(dwFlags & MOVEFILE_REPLACE_EXISTING)) {
        e = ERROR_ALREADY_EXISTS;
      } else if (dst && dst != src && (dst->isDir || (dst->attrs & FILE_ATTRIBUTE_READONLY) || s.IsOpen(dst.get()))) {
        e = ERROR_ACCESS_DENIED;
      } else if (s.CheckShare(src.get(), kAccDelete, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
        e = ERROR_SHARING_VIOLATION;
      } else if (crossDrive && (e = s.CheckRoom(dir.get(), dst ? dst->data.size() : 0, src->data.size()))) {
        // a copy to another volume that does not fit
      } else {
        for (FsNode* a = dir.get(); a; a = a->parent)
          if (a == src.get()) e = ERROR_SHARING_VIOLATION;  // into its own subtree
        if (!e) {
          if (dst && dst != src) s.Detach(dst);
          s.Detach(src);
          NodePtr moved = s.AddChild(dir, pd.parts.back(), src->isDir);
          moved->attrs = src->attrs;
          moved->junction = src->junction;
          moved->data = std::move(src->data);
          moved->children = std::move(src->children);
          for (auto& kv : moved->children) kv.second->parent = moved.get();
          moved->created = src->created;
          moved->written = src->written;
          // Open handles keep the old node; point them at the new one.
          for (auto& o : s.opens)
            if (o.node == src) o.node = moved;
          for (auto& kv : s.files)
            if (kv.second.node == src) kv.second.node = moved;
        }
      }
    }
  }
  s.Log("MoveFileEx", {Str(lpExistingFileName), Str(lpNewFileName), Hex(dwFlags), Dec(e)});
  return e ? Fail(s, e) : TRUE;
}

BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
  return MoveFileExA(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
  State& s = S();
  if (auto f = Injected("GetShortPathNameA", lpszLongPath)) return Fail(s, *f);
  if (!lpszLongPath) return Fail(s, ERROR_INVALID_PARAMETER);
  PathParts p;
  DWORD e = s.Resolve(lpszLongPath, p);
  if (e) return Fail(s, e);
  if (!s.Lookup(p, &e)) return Fail(s, e);
  std::string r = s.ShortFormOf(lpszLongPath);
  if (r.empty()) r = s.ShortPathOf(p);
  if (r.size() + 1 > cchBuffer || !lpszShortPath) return static_cast<DWORD>(r.size() + 1);
  std::memcpy(lpszShortPath, r.c_str(), r.size() + 1);
  return static_cast<DWORD>(r.size());
}

DWORD WINAPI GetFullPathNameA(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart) {
  State& s = S();
  PathParts p;
  DWORD e = s.Resolve(lpFileName, p, true);
  if (e) return Fail(s, e);
  std::string r = p.Join();
  // A "\\?\" path is taken verbatim and a "\\.\" path keeps its prefix
  // (RtlGetFullPathName_U does both; Wine's too): neither becomes "C:\...".
  // A UNC path keeps the server and share as written, also where they name
  // a drive of this computer (an administrative share): the function works
  // on the text and asks no server.
  std::string given = lpFileName;
  std::replace(given.begin(), given.end(), '/', '\\');
  if (given.rfind("\\\\?\\", 0) == 0) {
    r = lpFileName;
  } else if (given.rfind("\\\\.\\", 0) == 0) {
    r = "\\\\.\\" + r;
  } else if (given.rfind("\\\\", 0) == 0) {
    // By character, as RtlGetFullPathName_U finds the server and share of an
    // ANSI path after converting it to Unicode with the ANSI code page: a
    // double-byte character whose trail byte is 0x5C ("\x95\x5C") is part
    // of the name, not its end.
    size_t serverEnd = FindChar(given, '\\', 2);
    size_t shareEnd = serverEnd == std::string::npos ? std::string::npos : FindChar(given, '\\', serverEnd + 1);
    PathParts spelled = p;
    spelled.root = given.substr(0, shareEnd);
    r = spelled.Join();
  }
  if (r.size() + 1 > nBufferLength || !lpBuffer) return static_cast<DWORD>(r.size() + 1);
  std::memcpy(lpBuffer, r.c_str(), r.size() + 1);
  if (lpFilePart) {
    const char* slash = std::strrchr(lpBuffer, '\\');
    *lpFilePart = p.parts.empty() || !slash || !slash[1] ? nullptr : lpBuffer + (slash + 1 - lpBuffer);
  }
  return static_cast<DWORD>(r.size());
}

// ---- File handles --------------------------------------------------------------------------
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  State& s = S();
  if (auto f = Injected("CreateFileA", lpFileName)) return s.lastError = *f, INVALID_HANDLE_VALUE;
  (void)lpSecurityAttributes;
  (void)hTemplateFile;
  PathParts p;
  DWORD e = s.Resolve(lpFileName, p);
  DWORD acc = AccessRights(dwDesiredAccess);
  DWORD after = 0;
  HANDLE result = INVALID_HANDLE_VALUE;
  if (!e && (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING))
    e = ERROR_INVALID_PARAMETER;
  if (!e && dwCreationDisposition == TRUNCATE_EXISTING && !(acc & kAccWrite)) e = ERROR_INVALID_PARAMETER;
  NodePtr n;
  if (!e) {
    DWORD le = 0;
    n = s.Lookup(p, &le);
    if (n) {
      bool truncates = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;
      DWORD hs = dwFlagsAndAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
      if (n->isDir && !(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS))
        e = ERROR_ACCESS_DENIED;
      else if (dwCreationDisposition == CREATE_NEW)
        e = ERROR_FILE_EXISTS;
      else if ((n->attrs & FILE_ATTRIBUTE_READONLY) && ((acc & kAccWrite) || truncates))
        e = ERROR_ACCESS_DENIED;
      else if (((acc & (kAccWrite | kAccDelete)) || truncates) && s.MayChange(n.get()))
        e = ERROR_ACCESS_DENIED;
      else if (dwCreationDisposition == CREATE_ALWAYS &&
               ((n->attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) & ~hs))
        e = ERROR_ACCESS_DENIED;
      else if ((acc & kAccWrite) && s.HasImage(n.get()))
        e = ERROR_SHARING_VIOLATION;
      else
        e = s.CheckShare(n.get(), acc, dwShareMode);
      if (!e) {
        if (truncates) {
          n->data.clear();
          n->written = s.Tick();
        }
        if (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS)
          after = ERROR_ALREADY_EXISTS;
      }
    } else if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING) {
      e = le;
    } else {
      NodePtr dir = s.LookupDir(p, &e);
      if (dir) e = s.MayChange(dir.get());
      if (dir && !e) {
        n = s.AddChild(dir, p.parts.back(), false);
        n->attrs = (dwFlagsAndAttributes & kSettableAttrs) | FILE_ATTRIBUTE_ARCHIVE;
      }
    }
  }
  if (!e) {
    uintptr_t h = s.NewHandle();
    FileHandle fh;
    fh.openId = s.AddOpen(n, acc, dwShareMode, OpenKind::Handle);
    fh.path = p.Join();
    fh.node = n;
    fh.access = acc;
    s.files[h] = fh;
    result = reinterpret_cast<HANDLE>(h);
  }
  s.Log("CreateFile",
        {Str(lpFileName), Hex(dwDesiredAccess), Hex(dwShareMode), Dec(dwCreationDisposition), Dec(e)});
  s.lastError = e ? e : after;
  return result;
}

static FileHandle* GetFile(State& s, HANDLE h, const char* fn) {
  auto it = s.files.find(reinterpret_cast<uintptr_t>(h));
  if (it == s.files.end()) {
    s.Log("Misuse", {fn, "invalid file handle"});
    s.lastError = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  return &it->second;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
  State& s = S();
  if (auto f = Injected("ReadFile")) return Fail(s, *f);
  FileHandle* f = GetFile(s, hFile, "ReadFile");
  if (!f) return FALSE;
  if (!lpNumberOfBytesRead && !lpOverlapped) {
    s.Log("Misuse", {"ReadFile", "NULL byte count without OVERLAPPED"});
    return Fail(s, ERROR_INVALID_PARAMETER);
  }
  if (!(f->access & kAccRead)) return Fail(s, ERROR_ACCESS_DENIED);
  if (f->node->isDir) return Fail(s, ERROR_ACCESS_DENIED);
  uint64_t size = f->node->data.size();
  uint64_t avail = f->pos < size ? size - f->pos : 0;
  DWORD n = static_cast<DWORD>(std::min<uint64_t>(avail, nNumberOfBytesToRead));
  if (n) std::memcpy(lpBuffer, f->node->data.data() + f->pos, n);
  f->pos += n;
  if (lpNumberOfBytesRead) *lpNumberOfBytesRead = n;
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped) {
  State& s = S();
  if (auto f = Injected("WriteFile")) return Fail(s, *f);
  FileHandle* f = GetFile(s, hFile, "WriteFile");
  if (!f) return FALSE;
  if (!lpNumberOfBytesWritten && !lpOverlapped) {
    s.Log("Misuse", {"WriteFile", "NULL byte count without OVERLAPPED"});
    return Fail(s, ERROR_INVALID_PARAMETER);
  }
  if (!(f->access & kAccWrite) || f->node->isDir) {
    s.Log("WriteFile", {f->path, Dec(static_cast<int64_t>(f->pos)), Dec(nNumberOfBytesToWrite), Dec(ERROR_ACCESS_DENIED)});
    return Fail(s, ERROR_ACCESS_DENIED);
  }
  auto& data = f->node->data;
  uint64_t end = f->pos + nNumberOfBytesToWrite;
  if (DWORD e = s.CheckRoom(f->node.get(), data.size(), end > data.size() ? end : data.size())) {
    // The volume cannot take the new bytes: nothing of this write lands.
    s.Log("WriteFile", {f->path, Dec(static_cast<int64_t>(f->pos)), Dec(nNumberOfBytesToWrite), Dec(e)});
    if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = 0;
    return Fail(s, e);
  }
  if (end > data.size()) data.resize(end);
  if (nNumberOfBytesToWrite) std::memcpy(data.data() + f->pos, lpBuffer, nNumberOfBytesToWrite);
  s.Log("WriteFile", {f->path, Dec(static_cast<int64_t>(f->pos)), Dec(nNumberOfBytesToWrite), "0"});
  f->pos += nNumberOfBytesToWrite;
  f->node->written = s.Tick();
  f->node->attrs |= FILE_ATTRIBUTE_ARCHIVE;
  if (lpNumberOfBytesWritten) *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
  return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  State& s = S();
  FileHandle* f = GetFile(s, hFile, "SetFilePointer");
  if (!f) return INVALID_SET_FILE_POINTER;
  int64_t dist = lpDistanceToMoveHigh
                     ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                                            static_cast<uint32_t>(lDistanceToMove))
                     : static_cast<int64_t>(lDistanceToMove);
  int64_t base = 0;
  if (dwMoveMethod == FILE_CURRENT)
    base = static_cast<int64_t>(f->pos);
  else if (dwMoveMethod == FILE_END)
    base = static_cast<int64_t>(f->node->data.size());
  else if (dwMoveMethod != FILE_BEGIN) {
    s.lastError = ERROR_INVALID_PARAMETER;
    return INVALID_SET_FILE_POINTER;
  }
  int64_t np = base + dist;
  if (np < 0) {
    s.lastError = ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  f->pos = static_cast<uint64_t>(np);
  if (lpDistanceToMoveHigh) *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(np) >> 32);
  s.lastError = 0;
  return static_cast<DWORD>(static_cast<uint64_t>(np) & 0xFFFFFFFFu);
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  State& s = S();
  if (auto f = Injected("SetEndOfFile")) return Fail(s, *f);
  FileHandle* f = GetFile(s, hFile, "SetEndOfFile");
  if (!f) return FALSE;
  if (!(f->access & kAccWrite)) return Fail(s, ERROR_ACCESS_DENIED);
  f->node->data.resize(f->pos);
  f->node->written = s.Tick();
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  State& s = S();
  if (auto f = Injected("GetFileSize")) return s.lastError = *f, INVALID_FILE_SIZE;
  FileHandle* f = GetFile(s, hFile, "GetFileSize");
  if (!f) return INVALID_FILE_SIZE;
  uint64_t size = f->node->data.size();
  if (lpFileSizeHigh) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  s.lastError = 0;
  return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

BOOL WINAPI GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                        LPFILETIME lpLastWriteTime) {
  State& s = S();
  FileHandle* f = GetFile(s, hFile, "GetFileTime");
  if (!f) return FALSE;
  if (lpCreationTime) *lpCreationTime = f->node->created;
  if (lpLastAccessTime) *lpLastAccessTime = f->node->accessed;
  if (lpLastWriteTime) *lpLastWriteTime = f->node->written;
  return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime, const FILETIME* lpLastAccessTime,
                        const FILETIME* lpLastWriteTime) {
  State& s = S();
  if (auto f = Injected("SetFileTime")) return Fail(s, *f);
  FileHandle* f = GetFile(s, hFile, "SetFileTime");
  if (!f) return FALSE;
  if (!(f->access & kAccWrite)) return Fail(s, ERROR_ACCESS_DENIED);
  if (lpCreationTime) f->node->created = *lpCreationTime;
  if (lpLastAccessTime) f->node->accessed = *lpLastAccessTime;
  if (lpLastWriteTime) f->node->written = *lpLastWriteTime;
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
  State& s = S();
  uintptr_t h = reinterpret_cast<uintptr_t>(hObject);
  if (hObject == GetCurrentProcess()) return TRUE;  // the pseudo handle
  auto f = s.files.find(h);
  if (f != s.files.end()) {
    s.RemoveOpen(f->second.openId);
    s.files.erase(f);
    return TRUE;
  }
  if (s.processHandles.erase(h) || s.tokens.erase(h)) return TRUE;
  if (s.finds.count(h)) {
    s.Log("Misuse", {"CloseHandle", "find handle closed with CloseHandle instead of FindClose"});
    return Fail(s, ERROR_INVALID_HANDLE);
  }
  s.Log("Misuse", {"CloseHandle", "invalid handle"});
  return Fail(s, ERROR_INVALID_HANDLE);
}

// ---- DOS device names ------------------------------------------------------------------------------
// QueryDosDeviceA (NT family only; Windows 9x keeps its drive letters and
// SUBST in the DOS layer). A volume's letter names its device
// ("\Device\HarddiskVolume1" for the first), a SUBST drive its target in
// the "\??\" form; each answer is a list of strings ended by an extra
// NUL, and the count returned includes both NULs. Unknown names fail with
// ERROR_FILE_NOT_FOUND, a short buffer with ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI winsim::detail::Sim_QueryDosDeviceA(LPCSTR lpDeviceName, LPSTR lpTargetPath, DWORD ucchMax) {
  State& s = S();
  std::string list;
  int volume = 0;
  bool found = false;
  std::string asked = lpDeviceName ? Upper(lpDeviceName) : "";
  for (const auto& [root, node] : s.drives) {
    if (root.size() != 2 || root[1] != ':') continue;  // network shares are no DOS devices
    bool subst = !node->junction.empty();
    if (!subst) ++volume;
    if (!lpDeviceName) {
      list += root;
      list += '\0';
    } else if (root == asked) {
      list = subst ? "\\??\\" + node->junction : "\\Device\\HarddiskVolume" + Dec(volume);
      list += '\0';
      found = true;
    }
  }
  if (lpDeviceName && !found) return s.lastError = ERROR_FILE_NOT_FOUND, 0;
  list += '\0';
  if (!lpTargetPath || list.size() > ucchMax) return s.lastError = ERROR_INSUFFICIENT_BUFFER, 0;
  std::memcpy(lpTargetPath, list.data(), list.size());
  return static_cast<DWORD>(list.size());
}
