// VERSION.DLL's VerInstallFileA, reached through LoadLibraryA("version.dll").
// It follows the platform's measured behaviour: SZDD sources are expanded,
// plain ones copied, through a temporary file "verXXXX.TMP" of the
// destination directory; the new file keeps the source's time; unless
// VIFF_DONTDELETEOLD, a file of the destination name in the "current
// directory" argument is deleted when that directory (compared as text)
// differs from the destination directory.
#include <cstring>

#include <szdd/szdd.h>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace winsim::detail {

DWORD WINAPI Sim_VerInstallFileA(UINT flags, LPCSTR src, LPCSTR dst, LPCSTR srcDir, LPCSTR dstDir, LPCSTR curDir,
                                 LPSTR tmpFile, PUINT tmpLen) {
  State& s = S();
  DWORD r = 0;
  std::optional<DWORD> injected = Injected("VerInstallFileA", dst);
  std::string srcPath = Str(srcDir) + "\\" + Str(src);
  std::string destDir = dstDir && *dstDir ? dstDir : Str(srcDir);
  std::string destPath = destDir + "\\" + Str(dst);
  PathParts sp, dp;
  NodePtr source;
  if (!src || !dst || s.Resolve(srcPath.c_str(), sp) || !(source = s.Lookup(sp)) || source->isDir ||
      s.CheckShare(source.get(), kAccRead, FILE_SHARE_READ)) {
    r = VIF_CANNOTREADSRC;
  } else if (s.Resolve(destPath.c_str(), dp)) {
    r = VIF_CANNOTCREATE;
  }
  NodePtr existing = r ? nullptr : s.Lookup(dp);
  if (!r && existing && (existing->attrs & FILE_ATTRIBUTE_READONLY)) {
    r = VIF_WRITEPROT;  // also with VIFF_FORCEINSTALL
  }
  NodePtr dir = r ? nullptr : s.LookupDir(dp);
  if (!r && !dir) r = VIF_CANNOTCREATE;  // no room for the temporary copy
  if (!r && injected) r = *injected;
  std::vector<uint8_t> data;
  if (!r) {
    const std::vector<uint8_t>& in = source->data;
    if (szdd::IsSzdd(in.data(), in.size())) {
      if (szdd::Expand(in.data(), in.size(), data) != szdd::ExpandResult::Ok) r = VIF_CANNOTREADSRC;
    } else {
      data = in;
    }
  }
  // The new file is first expanded into a temporary file of the destination
  // directory, named as GetTempFileNameA(directory, "ver", 0) names it.
  NodePtr temporary;
  std::string temporaryName;
  if (!r) {
    s.quiet++;
    char made[MAX_PATH] = {};
    UINT unique = GetTempFileNameA(s.PathOf(dir.get()).c_str(), "ver", 0, made);
    s.quiet--;
    PathParts tp;
    if (unique == 0 || s.Resolve(made, tp) || !(temporary = s.Lookup(tp))) {
      r = VIF_CANNOTCREATE;
    } else {
      temporaryName = temporary->name;
      if (DWORD e = s.CheckRoom(dir.get(), 0, data.size())) {
        // The expansion stops at the full volume; the installer returns
        // without removing its temporary file (Wine's version.dll does the
        // same, and a 200 KB drive showed it: D:\verXXXX.tmp stayed).
        s.lastError = e;
        r = VIF_OUTOFSPACE;
      } else {
        temporary->data = data;
        temporary->written = source->written;
      }
    }
  }
  if (!r && existing) {
    if (existing->isDir) {
      r = VIF_CANNOTDELETE;
      s.Detach(temporary);
    } else if (s.HasImage(existing.get()) ||
               s.CheckShare(existing.get(), kAccDelete | kAccWrite,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
      // Windows reports a destination in use as VIF_FILEINUSE and keeps the
      // new copy as a temporary file of the destination directory, named in
      // the caller's buffer (VIF_TEMPFILE); the caller owns it from then on.
      // A buffer too small for the name gets VIF_BUFFTOOSMALL and the size
      // it needs, and the file stays unnamed. (Wine instead returns
      // VIF_CANNOTDELETE | VIF_SHARINGVIOLATION and deletes the copy.)
      r = VIF_FILEINUSE | VIF_TEMPFILE;
      s.lastError = ERROR_SHARING_VIOLATION;
      UINT need = static_cast<UINT>(temporaryName.size() + 1);
      if (tmpFile && tmpLen && *tmpLen >= need) {
        std::memcpy(tmpFile, temporaryName.c_str(), need);
        *tmpLen = need;
      } else {
        r |= VIF_BUFFTOOSMALL;
        if (tmpLen) *tmpLen = need;
      }
    }
  }
  if (!r) {
    if (!(flags & VIFF_DONTDELETEOLD) && curDir && *curDir && lstrcmpiA(curDir, destDir.c_str()) != 0) {
      PathParts cp;
      std::string curPath = std::string(curDir) + "\\" + Str(dst);
      NodePtr old = s.Resolve(curPath.c_str(), cp) ? nullptr : s.Lookup(cp);
      if (old && old != existing && !old->isDir && s.DeleteFileNode(old)) r |= VIF_CANNOTDELETECUR;
    }
    // The temporary file takes the destination's place.
    FILETIME t = source->written;
    if (existing) {
      existing->data = std::move(temporary->data);
      existing->written = t;
      existing->attrs |= FILE_ATTRIBUTE_ARCHIVE;
    } else {
      NodePtr n = s.AddChild(dir, dp.parts.back(), false);
      n->data = std::move(temporary->data);
      n->written = t;
    }
    s.Detach(temporary);
  }
  s.Log("VerInstallFile", {Hex(flags), Str(src), Str(dst), Str(srcDir), Str(dstDir), Str(curDir), r ? Hex(r) : "0"});
  return r;
}

}  // namespace winsim::detail
