// Machine::Restart: what a restart ends, and the deletions and moves that
// Windows replays at boot (NT's PendingFileRenameOperations, 9x's
// WININIT.INI [rename] section).
#include <algorithm>
#include <sstream>

#include "internal.h"

namespace winsim {

using namespace detail;

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

  // The session manager and WININIT.EXE act as the system, on real names.
  ++s.native;
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
  --s.native;
  s.LoadPinnedModules();
  s.progman.activeGroup.clear();
  s.Log("Restart", {});
}

}  // namespace winsim
