// SETUPAPI.DLL's SetupIterateCabinetA, reached through
// LoadLibraryA("setupapi.dll"). The cabinet is read with winsim::ReadCabinet
// (libmspack); the callback sees SPFILENOTIFY_CABINETINFO once, then per
// member SPFILENOTIFY_FILEINCABINET and, after an extraction,
// SPFILENOTIFY_FILEEXTRACTED.
#include <cstring>

#include <winsim/cabinet.h>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace winsim::detail {

BOOL WINAPI Sim_SetupIterateCabinetA(PCSTR cabinet, DWORD reserved, PSP_FILE_CALLBACK_A handler, PVOID context) {
  State& s = S();
  (void)reserved;
  DWORD err = 0;
  bool ok = false;
  std::string path = Str(cabinet);
  auto finish = [&](bool result) {
    s.lastError = err;
    s.Log("SetupIterateCabinet", {path, result ? "1" : "0", Dec(err)});
    return result ? TRUE : FALSE;
  };
  if (!cabinet || !handler) {
    err = ERROR_INVALID_PARAMETER;
    return finish(false);
  }
  if (auto f = Injected("SetupIterateCabinetA", cabinet)) {
    err = *f;
    return finish(false);
  }
  if (path.size() >= MAX_PATH) {
    err = ERROR_BAD_PATHNAME;
    return finish(false);
  }
  PathParts p;
  NodePtr node;
  err = s.Resolve(cabinet, p);
  if (!err && (!(node = s.Lookup(p, &err)) || node->isDir)) err = err ? err : ERROR_FILE_NOT_FOUND;
  if (!err && s.CheckShare(node.get(), kAccRead, FILE_SHARE_READ)) err = ERROR_SHARING_VIOLATION;
  if (err) return finish(false);

  std::vector<uint8_t> image = node->data;  // the callback may change the file system
  std::vector<CabinetMember> members;
  ok = ReadCabinet(image, members);
  if (image.size() < 4 || std::memcmp(image.data(), "MSCF", 4) != 0) {
    err = ERROR_INVALID_DATA;
    return finish(false);
  }
  std::string full = p.Join();
  std::string dir = full.substr(0, FindLastChar(full, '\\') + 1);
  std::string file = full.substr(FindLastChar(full, '\\') + 1);
  CABINET_INFO_A ci{dir.c_str(), file.c_str(), "", 0, 0};
  handler(context, SPFILENOTIFY_CABINETINFO, reinterpret_cast<UINT_PTR>(&ci), 0);

  for (const CabinetMember& m : members) {
    FILE_IN_CABINET_INFO_A fici;
    std::memset(&fici, 0, sizeof fici);
    fici.NameInCabinet = m.name.c_str();
    fici.FileSize = static_cast<DWORD>(m.data.size());
    UINT r = handler(context, SPFILENOTIFY_FILEINCABINET, reinterpret_cast<UINT_PTR>(&fici),
                     reinterpret_cast<UINT_PTR>(full.c_str()));
    if (r == FILEOP_ABORT) {
      s.Log("CabinetMember", {m.name, "", "abort"});
      err = s.lastError;
      return finish(false);
    }
    if (r != FILEOP_DOIT) {
      s.Log("CabinetMember", {m.name, "", "skip"});
      continue;
    }
    std::string target(fici.FullTargetName, strnlen(fici.FullTargetName, sizeof fici.FullTargetName));
    DWORD e = 0;
    PathParts tp;
    if (target.empty())
      e = ERROR_PATH_NOT_FOUND;
    else if (!(e = s.Resolve(target.c_str(), tp)))
      e = s.WriteWholeFile(tp, m.data);
    s.Log("CabinetMember", {m.name, target, Dec(e)});
    if (e && target.empty()) {
      err = e;
      return finish(false);
    }
    FILEPATHS_A fp{target.c_str(), full.c_str(), static_cast<UINT>(e), 0};
    UINT r2 = handler(context, SPFILENOTIFY_FILEEXTRACTED, reinterpret_cast<UINT_PTR>(&fp), 0);
    if (e || r2 != NO_ERROR) {
      err = e ? e : r2;
      return finish(false);
    }
  }
  err = ok ? 0 : ERROR_INVALID_DATA;
  return finish(ok);
}

}  // namespace winsim::detail
