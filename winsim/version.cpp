// VERSION.DLL's VerInstallFileA, reached through LoadLibraryA("version.dll").
// It follows the platform's measured behaviour: SZDD sources are expanded,
// plain ones copied; the new file keeps the source's time; unless
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
  (void)tmpFile;
  (void)tmpLen;
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
  if (!r && !s.LookupDir(dp)) r = VIF_CANNOTCREATE;  // no room for the temporary copy
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
  if (!r && existing) {
    // Windows reports a destination in use as VIF_FILEINUSE (Wine instead
    // returns VIF_CANNOTDELETE | VIF_SHARINGVIOLATION).
    if (existing->isDir || s.HasImage(existing.get()) ||
        s.CheckShare(existing.get(), kAccDelete | kAccWrite, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
      r = existing->isDir ? VIF_CANNOTDELETE : VIF_FILEINUSE;
  }
  if (!r) {
    if (!(flags & VIFF_DONTDELETEOLD) && curDir && *curDir && lstrcmpiA(curDir, destDir.c_str()) != 0) {
      PathParts cp;
      std::string curPath = std::string(curDir) + "\\" + Str(dst);
      NodePtr old = s.Resolve(curPath.c_str(), cp) ? nullptr : s.Lookup(cp);
      if (old && old != existing && !old->isDir && s.DeleteFileNode(old)) r |= VIF_CANNOTDELETECUR;
    }
    FILETIME t = source->written;
    if (existing) {
      existing->data = data;
      existing->written = t;
      existing->attrs |= FILE_ATTRIBUTE_ARCHIVE;
    } else {
      NodePtr n = s.AddChild(s.LookupDir(dp), dp.parts.back(), false);
      n->data = data;
      n->written = t;
    }
  }
  s.Log("VerInstallFile", {Hex(flags), Str(src), Str(dst), Str(srcDir), Str(dstDir), Str(curDir), r ? Hex(r) : "0"});
  return r;
}

}  // namespace winsim::detail
