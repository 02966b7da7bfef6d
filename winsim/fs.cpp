// The simulated file system: Win32 path rules, case-insensitive lookup,
// 8.3 aliases, and the sharing rules of files held open.
#include <algorithm>
#include <cstring>

#include "internal.h"

namespace winsim::detail {

std::string PathParts::Join() const {
  std::string r = root + "\\";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) r += '\\';
    r += parts[i];
  }
  return r;
}

FILETIME State::Tick() {
  clock += 10000000;  // one second
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(clock & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(clock >> 32);
  return ft;
}

DWORD AttributesOf(const FsNode& n) {
  DWORD a = n.attrs | (n.isDir ? FILE_ATTRIBUTE_DIRECTORY : 0);
  return a ? a : FILE_ATTRIBUTE_NORMAL;
}

// The simulated computer's primary DNS suffix: its DNS name is its
// computer name with this appended (WINSIM.example.com), as
// GetComputerNameEx(ComputerNameDnsFullyQualified) would give it.
constexpr const char* kDnsSuffix = ".example.com";

// An IPv4 address in 127.0.0.0/8: every one of them is this computer (RFC
// 1122 3.2.1.3, "addresses of this form MUST NOT appear outside a host").
static bool IsLoopbackAddress(const std::string& server) {
  if (server.rfind("127.", 0) != 0) return false;
  int parts = 0;
  size_t digits = 0;
  for (char c : server + ".") {
    if (c == '.') {
      if (digits == 0 || digits > 3) return false;
      ++parts;
      digits = 0;
    } else if (c >= '0' && c <= '9') {
      ++digits;
    } else {
      return false;
    }
  }
  return parts == 4;
}

static bool IsInvalidNameChar(unsigned char c, bool allowWildcards) {
  if (c < 32) return true;
  switch (c) {
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
      return true;
    case '*':
    case '?':
      return !allowWildcards;
    default:
      return false;
  }
}

DWORD State::Resolve(const char* path, PathParts& out, bool allowWildcards, bool limitLength) const {
  if (!path) return ERROR_PATH_NOT_FOUND;
  // The ANSI entry points convert the path into a MAX_PATH buffer first:
  // longer names fail there, before any lookup.
  size_t len = limitLength ? strnlen(path, MAX_PATH) : std::strlen(path);
  if (limitLength && len >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  if (len == 0) return ERROR_PATH_NOT_FOUND;
  std::string s(path, len);
  std::replace(s.begin(), s.end(), '/', '\\');
  // "\\?\" and "\\.\" only switch off parsing that winsim does not do.
  if (s.rfind("\\\\?\\", 0) == 0 || s.rfind("\\\\.\\", 0) == 0) {
    s = s.substr(4);
    // "\\?\UNC\server\share" is the UNC path "\\server\share".
    if (s.size() >= 4 && IEquals(s.substr(0, 4), "UNC\\")) s = "\\" + s.substr(3);
  }

  PathParts r;
  size_t i = 0;
  unsigned char c0 = static_cast<unsigned char>(s[0]);
  if (s.size() >= 2 && s[0] == '\\' && s[1] == '\\') {
    // UNC: \\server\share is the root.
    size_t serverEnd = FindChar(s, '\\', 2);
    if (serverEnd == std::string::npos || serverEnd == 2) return ERROR_BAD_NETPATH;
    size_t shareEnd = FindChar(s, '\\', serverEnd + 1);
    if (shareEnd == std::string::npos) shareEnd = s.size();
    if (shareEnd == serverEnd + 1) return ERROR_BAD_NETPATH;
    r.root = s.substr(0, shareEnd);
    // The administrative share of a drive of this computer (\\localhost\C$,
    // \\127.0.0.2\C$, \\<computer name>\C$, \\<its DNS name>\C$) is that
    // drive, as Windows serves it to an administrator.
    std::string server = s.substr(2, serverEnd - 2);
    std::string share = s.substr(serverEnd + 1, shareEnd - serverEnd - 1);
    bool local = IEquals(server, "localhost") || IsLoopbackAddress(server) || IEquals(server, computerName) ||
                 IEquals(server, computerName + kDnsSuffix);
    if (local && share.size() == 2 && share[1] == '$' && drives.count(std::string(1, UpperChar(share[0])) + ":"))
      r.root = std::string(1, UpperChar(share[0])) + ":";
    r.unc = true;
    i = shareEnd;
  } else if (s.size() >= 2 && s[1] == ':' && ((c0 >= 'A' && c0 <= 'Z') || (c0 >= 'a' && c0 <= 'z'))) {
    r.root = std::string(1, UpperChar(s[0])) + ":";
    i = 2;
    if (i < s.size() && s[i] == '\\') {
      // absolute
    } else if (IEquals(cwd.root, r.root)) {
      r.parts = cwd.parts;  // drive-relative: the current directory of that drive
    }
  } else if (s[0] == '\\') {
    r.root = cwd.root;
  } else {
    r = cwd;
  }

  size_t start = i;
  std::vector<std::string> comps;
  for (size_t k = start;; k += CharLength(s, k)) {
    if (k >= s.size() || s[k] == '\\') {
      comps.push_back(s.substr(start, k - start));
      start = k + 1;
      if (k >= s.size()) break;
    }
  }
  for (size_t ci = 0; ci < comps.size(); ++ci) {
    std::string comp = comps[ci];
    bool last = ci + 1 == comps.size();
    if (comp.empty() || comp == ".") continue;
    if (comp == "..") {
      if (!r.parts.empty()) r.parts.pop_back();
      continue;
    }
    for (size_t k = 0; k < comp.size(); k += CharLength(comp, k))
      if (CharLength(comp, k) == 1 && IsInvalidNameChar(static_cast<unsigned char>(comp[k]), allowWildcards && last))
        return ERROR_INVALID_NAME;
    if (!(allowWildcards && last)) {
      // Win32 normalisation: a segment loses one trailing period ("FTP."
      // is "FTP"); the last segment loses all trailing periods and blanks.
      if (last) {
        while (!comp.empty() && (comp.back() == '.' || comp.back() == ' ')) comp.pop_back();
      } else if (comp.size() >= 2 && comp.back() == '.' && comp[comp.size() - 2] != '.') {
        comp.pop_back();
      }
      if (comp.empty()) continue;
    }
    if (comp.size() > 255) return ERROR_FILENAME_EXCED_RANGE;
    r.parts.push_back(comp);
  }
  // The ANSI entry points are the program's; the limit-free resolution is
  // the test helpers'.
  r.byProgram = limitLength && native == 0;
  out = r;
  return 0;
}

PathParts State::ResolveOrDie(const std::string& path) const {
  PathParts p;
  DWORD e = Resolve(path.c_str(), p, false, false);
  if (e) {
    throw UsageError(Printf("winsim: test helper given an invalid path \"%s\" (error %u)\n", path.c_str(),
                 static_cast<unsigned>(e)));
  }
  return p;
}

NodePtr State::Root(const std::string& root) const {
  auto it = drives.find(Upper(root));
  return it == drives.end() ? nullptr : it->second;
}

NodePtr State::MakeRoot(const std::string& root) {
  NodePtr n = Root(root);
  if (n) return n;
  n = std::make_shared<FsNode>();
  n->name = root;
  n->isDir = true;
  n->shortName = root;
  n->created = n->written = n->accessed = Tick();
  drives[Upper(root)] = n;
  return n;
}

NodePtr FindChild(const FsNode& dir, const std::string& name) {
  std::string u = Upper(name);
  auto it = dir.children.find(u);
  if (it != dir.children.end()) return it->second;
  for (auto& kv : dir.children)
    if (!kv.second->shortName.empty() && kv.second->shortName == u) return kv.second;
  return nullptr;
}

// NTFS gives up after this many reparse points in one name
// (STATUS_REPARSE_POINT_NOT_RESOLVED, ERROR_CANT_RESOLVE_FILENAME): a
// junction that leads into itself ends there, not in a loop.
constexpr int kMaxReparseHops = 63;
constexpr DWORD kErrorCantResolveFilename = 1921;

static NodePtr WalkParts(const State& s, const PathParts& p, size_t count, DWORD* error, int hops);

// Where a junction (or a SUBST drive's root) leads: its target, walked by
// its real names. The file system follows a junction below the layer
// where WOW64 redirects the names a program passes, so the target is not
// redirected again.
static NodePtr FollowJunction(const State& s, const NodePtr& node, DWORD* error, int hops) {
  if (hops >= kMaxReparseHops) {
    if (error) *error = kErrorCantResolveFilename;
    return nullptr;
  }
  PathParts target;
  if (s.Resolve(node->junction.c_str(), target, false, false)) {
    if (error) *error = ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  target.byProgram = false;
  NodePtr reached = WalkParts(s, target, target.parts.size(), error, hops + 1);
  if (!reached && error) *error = ERROR_PATH_NOT_FOUND;
  return reached;
}

static NodePtr WalkParts(const State& s, const PathParts& p, size_t count, DWORD* error, int hops) {
  NodePtr cur = s.Root(p.root);
  if (!cur) {
    // No such drive, or no such network share.
    if (error) *error = p.root.size() > 2 ? ERROR_BAD_NETPATH : ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  if (!cur->junction.empty()) {
    cur = FollowJunction(s, cur, error, hops);
    if (!cur) return nullptr;
  }
  // What the program's process meets on the way: the redirector of a
  // 64-bit edition (for local paths) and the user's rights.
  bool redirect = p.byProgram && s.wow64 && !p.unc;
  NodePtr windows = redirect ? s.WindowsNode() : nullptr;
  bool rights = p.byProgram && s.Standard();
  for (size_t i = 0; i < count && i < p.parts.size(); ++i) {
    bool last = i + 1 == p.parts.size();
    if (!cur->isDir) {
      if (error) *error = ERROR_PATH_NOT_FOUND;
      return nullptr;
    }
    if (rights) {
      if (DWORD e = s.MayLookInside(cur.get())) {
        if (error) *error = e;
        return nullptr;
      }
    }
    std::optional<NodePtr> redirected = redirect ? s.Wow64Step(windows.get(), cur, p, i) : std::nullopt;
    NodePtr next = redirected ? *redirected : FindChild(*cur, p.parts[i]);
    if (!next) {
      if (error) *error = last ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
      return nullptr;
    }
    if (!next->junction.empty()) {
      next = FollowJunction(s, next, error, hops);
      if (!next) return nullptr;
    }
    cur = next;
  }
  return cur;
}

NodePtr State::Walk(const PathParts& p, size_t count, DWORD* error) const {
  return WalkParts(*this, p, count, error, 0);
}

NodePtr State::Lookup(const PathParts& p, DWORD* error) const { return Walk(p, p.parts.size(), error); }

NodePtr State::LookupDir(const PathParts& p, DWORD* error) const {
  if (p.parts.empty()) {
    if (error) *error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  DWORD e = 0;
  NodePtr d = Walk(p, p.parts.size() - 1, &e);
  if (!d || !d->isDir) {
    if (error) *error = e == ERROR_BAD_NETPATH || e == ERROR_ACCESS_DENIED ? e : ERROR_PATH_NOT_FOUND;
    return nullptr;
  }
  return d;
}

NodePtr State::Entry(const PathParts& p) const {
  if (p.parts.empty()) return Root(p.root);
  NodePtr dir = LookupDir(p);
  return dir ? FindChild(*dir, p.parts.back()) : nullptr;
}

std::string State::PathOf(const FsNode* node) const {
  std::vector<std::string> names;
  const FsNode* n = node;
  while (n && n->parent) {
    names.push_back(n->name);
    n = n->parent;
  }
  std::string r = (n ? n->name : std::string("?:")) + "\\";
  for (size_t i = names.size(); i-- > 0;) {
    r += names[i];
    if (i) r += '\\';
  }
  return r;
}

// ---- 8.3 aliases ---------------------------------------------------------------
static bool Valid83Char(unsigned char c) {
  if (c >= 0x80) return true;
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return std::strchr("$%'-_@~`!(){}^#&", c) != nullptr && c != 0;
}

// A double-byte character is one valid character of two bytes in an 8.3
// name (its trail byte may be 0x5C or 0x7C without being "\\" or "|").
static bool Valid83Part(const std::string& part) {
  for (size_t i = 0; i < part.size(); i += CharLength(part, i))
    if (CharLength(part, i) == 1 && !Valid83Char(static_cast<unsigned char>(part[i]))) return false;
  return true;
}

static bool Is83(const std::string& name) {
  if (name.empty() || name[0] == '.') return false;
  size_t dot = FindChar(name, '.');
  if (dot != std::string::npos && FindChar(name, '.', dot + 1) != std::string::npos) return false;
  std::string base = name.substr(0, dot);
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || ext.size() > 3) return false;
  return Valid83Part(base) && Valid83Part(ext);
}

static std::string Clean83(const std::string& s) {
  std::string r;
  for (size_t i = 0; i < s.size(); i += CharLength(s, i)) {
    if (CharLength(s, i) == 2) {
      r.append(s, i, 2);
      continue;
    }
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == ' ' || c == '.') continue;
    r += Valid83Char(c) ? UpperChar(static_cast<char>(c)) : '_';
  }
  return r;
}

// The longest start of s of at most limit bytes that does not split a
// double-byte character.
static std::string CutAtCharacter(const std::string& s, size_t limit) {
  size_t keep = 0;
  while (keep < s.size() && keep + CharLength(s, keep) <= limit) keep += CharLength(s, keep);
  return s.substr(0, keep);
}

static std::string MakeShortName(const FsNode& dir, const std::string& name) {
  if (Is83(name)) return Upper(name);
  size_t dot = FindLastChar(name, '.');
  if (dot == 0) dot = std::string::npos;  // a leading dot starts no extension
  std::string base = Clean83(name.substr(0, dot));
  std::string ext = dot == std::string::npos ? "" : CutAtCharacter(Clean83(name.substr(dot + 1)), 3);
  if (base.empty()) base = "_";
  for (int n = 1; n < 1000000; ++n) {
    std::string tail = "~" + std::to_string(n);
    std::string cand = CutAtCharacter(base, 8 - tail.size()) + tail + (ext.empty() ? "" : "." + ext);
    bool taken = false;
    for (auto& kv : dir.children)
      if (kv.second->shortName == cand || kv.first == cand) taken = true;
    if (!taken) return cand;
  }
  return Upper(name);
}

NodePtr State::AddChild(const NodePtr& dir, const std::string& name, bool isDir) {
  auto n = std::make_shared<FsNode>();
  n->name = name;
  n->isDir = isDir;
  n->attrs = isDir ? 0 : FILE_ATTRIBUTE_ARCHIVE;
  n->created = n->written = n->accessed = Tick();
  const FsNode* root = dir.get();
  while (root->parent) root = root->parent;
  if (!noShortNames.count(Upper(root->name))) n->shortName = MakeShortName(*dir, name);
  n->parent = dir.get();
  InheritSecurity(*this, *dir, *n);
  dir->children[Upper(name)] = n;
  dir->written = n->created;
  return n;
}

void State::Detach(const NodePtr& node) {
  if (!node->parent) return;
  FsNode* parent = node->parent;
  parent->children.erase(Upper(node->name));
  parent->written = Tick();
  node->parent = nullptr;
  node->attached = false;
}

DWORD State::MakeDirsParts(const PathParts& p) {
  NodePtr cur = MakeRoot(p.root);
  if (!cur->junction.empty()) {
    // A SUBST drive: its directories are made in its target.
    cur = Walk(p, 0, nullptr);
    if (!cur) return ERROR_PATH_NOT_FOUND;
  }
  for (size_t i = 0; i < p.parts.size(); ++i) {
    // The directories that exist are walked as the program's view has them.
    NodePtr next = Walk(p, i + 1, nullptr);
    if (!next) {
      if (p.byProgram)
        if (DWORD e = MayChange(cur.get())) return e;
      next = AddChild(cur, p.parts[i], true);
    }
    if (!next->isDir) {
      throw UsageError(Printf("winsim: cannot make directory %s: a file is in the way\n", p.Join().c_str()));
    }
    cur = next;
  }
  return 0;
}

std::string State::ShortPathOf(const PathParts& p) const {
  if (!Root(p.root)) return "";
  std::string r = p.root + "\\";
  for (size_t i = 0; i < p.parts.size(); ++i) {
    // Each component is named by its own entry; what lies below it is the
    // program's view (System32's children are SysWOW64's on a 64-bit edition).
    NodePtr dir = Walk(p, i, nullptr);
    NodePtr entry = dir ? FindChild(*dir, p.parts[i]) : nullptr;
    if (!entry) return "";
    if (i) r += '\\';
    r += entry->shortName.empty() ? entry->name : entry->shortName;
  }
  return r;
}

std::string State::ShortFormOf(const std::string& input) const {
  std::string in = input;
  std::replace(in.begin(), in.end(), '/', '\\');
  std::string out;
  size_t i = 0;
  PathParts at = cwd;
  if (in.size() >= 2 && in[0] == '\\' && in[1] == '\\') {
    size_t serverEnd = FindChar(in, '\\', 2);
    size_t shareEnd = serverEnd == std::string::npos ? std::string::npos : FindChar(in, '\\', serverEnd + 1);
    if (shareEnd == std::string::npos) shareEnd = in.size();
    at.root = in.substr(0, shareEnd);
    at.parts.clear();
    out = at.root;
    i = shareEnd;
  } else if (in.size() >= 2 && in[1] == ':') {
    at.root = std::string(1, UpperChar(in[0])) + ":";
    if (!IEquals(at.root, cwd.root) || (in.size() > 2 && in[2] == '\\')) at.parts.clear();
    out = in.substr(0, 2);
    i = 2;
  } else if (!in.empty() && in[0] == '\\') {
    at.parts.clear();
  }
  // Whether out ends in a separator (its last byte may be a trail byte).
  bool separated = false;
  while (i < in.size()) {
    if (in[i] == '\\') {
      if (out.empty() || !separated) out += '\\';
      separated = true;
      ++i;
      continue;
    }
    separated = false;
    size_t end = FindChar(in, '\\', i);
    if (end == std::string::npos) end = in.size();
    std::string comp = in.substr(i, end - i);
    i = end;
    if (comp == ".") {
      out += comp;
      continue;
    }
    if (comp == "..") {
      if (!at.parts.empty()) at.parts.pop_back();
      out += comp;
      continue;
    }
    PathParts next = at;
    next.parts.push_back(comp);
    PathParts norm;
    NodePtr n;
    if (!Resolve(next.Join().c_str(), norm, false, false)) {
      // The program's name: each component is its own entry, walked to as
      // the program's view has it.
      norm.byProgram = native == 0;
      n = Entry(norm);
    }
    if (!n) return "";
    out += n->shortName.empty() ? n->name : n->shortName;
    at = norm;
  }
  return out;
}

// ---- Sharing ------------------------------------------------------------------------------
DWORD AccessRights(DWORD access) {
  DWORD r = 0;
  if (access & (GENERIC_READ | GENERIC_ALL | GENERIC_EXECUTE | FILE_READ_DATA)) r |= kAccRead;
  if (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) r |= kAccWrite;
  if (access & (DELETE | GENERIC_ALL)) r |= kAccDelete;
  return r;
}

DWORD State::CheckShare(const FsNode* node, DWORD access, DWORD share) const {
  for (const OpenRef& o : opens) {
    if (o.node.get() != node) continue;
    if ((access & kAccRead) && !(o.share & FILE_SHARE_READ)) return ERROR_SHARING_VIOLATION;
    if ((access & kAccWrite) && !(o.share & FILE_SHARE_WRITE)) return ERROR_SHARING_VIOLATION;
    if ((access & kAccDelete) && !(o.share & FILE_SHARE_DELETE)) return ERROR_SHARING_VIOLATION;
    if ((o.access & kAccRead) && !(share & FILE_SHARE_READ)) return ERROR_SHARING_VIOLATION;
    if ((o.access & kAccWrite) && !(share & FILE_SHARE_WRITE)) return ERROR_SHARING_VIOLATION;
    if ((o.access & kAccDelete) && !(share & FILE_SHARE_DELETE)) return ERROR_SHARING_VIOLATION;
  }
  return 0;
}

bool State::HasImage(const FsNode* node) const {
  for (const OpenRef& o : opens)
    if (o.node.get() == node && (o.kind == OpenKind::Image || o.kind == OpenKind::Module)) return true;
  return false;
}

bool State::IsOpen(const FsNode* node) const {
  for (const OpenRef& o : opens)
    if (o.node.get() == node) return true;
  return false;
}

int State::AddOpen(const NodePtr& node, DWORD access, DWORD share, OpenKind kind) {
  OpenRef o;
  o.id = nextOpenId++;
  o.node = node;
  o.access = access;
  o.share = share;
  o.kind = kind;
  opens.push_back(o);
  return o.id;
}

void State::RemoveOpen(int id) {
  opens.erase(std::remove_if(opens.begin(), opens.end(), [id](const OpenRef& o) { return o.id == id; }),
              opens.end());
}

bool State::IsCwdOrAbove(const FsNode* node) const {
  NodePtr c = Lookup(cwd);
  for (const FsNode* n = c.get(); n; n = n->parent)
    if (n == node) return true;
  return false;
}

DWORD State::DeleteFileNode(const NodePtr& node) {
  if (node->isDir) return ERROR_ACCESS_DENIED;
  if (DWORD e = MayChange(node.get())) return e;
  if (node->attrs & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
  // A mapped image (running program, loaded DLL) cannot be deleted:
  // STATUS_CANNOT_DELETE, which Win32 reports as access denied.
  if (HasImage(node.get())) return ERROR_ACCESS_DENIED;
  if (DWORD e = CheckShare(node.get(), kAccDelete, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) return e;
  Detach(node);
  return 0;
}

DWORD State::WriteWholeFile(const PathParts& p, const std::vector<uint8_t>& data, const FILETIME* time) {
  DWORD e = 0;
  NodePtr existing = Lookup(p, &e);
  if (existing) {
    if (existing->isDir) return ERROR_ACCESS_DENIED;
    if (existing->attrs & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
    if (DWORD ae = MayChange(existing.get())) return ae;
    if (HasImage(existing.get())) return ERROR_SHARING_VIOLATION;
    if (DWORD se = CheckShare(existing.get(), kAccWrite, FILE_SHARE_READ)) return se;
    if (DWORD re = CheckRoom(existing.get(), existing->data.size(), data.size())) {
      existing->data.clear();  // CREATE_ALWAYS truncated it before the write failed
      existing->written = Tick();
      return re;
    }
    existing->data = data;
    existing->written = time ? *time : Tick();
    existing->attrs |= FILE_ATTRIBUTE_ARCHIVE;
    return 0;
  }
  NodePtr dir = LookupDir(p, &e);
  if (!dir) return e == ERROR_ACCESS_DENIED ? e : ERROR_PATH_NOT_FOUND;
  if (DWORD ae = MayChange(dir.get())) return ae;
  NodePtr n = AddChild(dir, p.parts.back(), false);
  if (DWORD re = CheckRoom(dir.get(), 0, data.size())) return re;  // created, left empty
  n->data = data;
  if (time) n->written = *time;
  return 0;
}

uint64_t State::UsedBytes(const FsNode* node) const {
  uint64_t used = node->data.size();
  for (auto& kv : node->children) used += UsedBytes(kv.second.get());
  return used;
}

DWORD State::CheckRoom(const FsNode* where, uint64_t oldSize, uint64_t newSize) const {
  if (capacity.empty() || newSize <= oldSize) return 0;
  const FsNode* top = where;
  while (top->parent) top = top->parent;
  for (auto& [key, root] : drives) {
    if (root.get() != top) continue;
    auto budget = capacity.find(key);
    if (budget == capacity.end()) return 0;
    return UsedBytes(top) - oldSize + newSize > budget->second ? ERROR_DISK_FULL : 0;
  }
  return 0;
}

}  // namespace winsim::detail

namespace winsim {

using namespace detail;

void Machine::MakeJunction(const std::string& link, const std::string& target, DWORD attributes) {
  State& s = state();
  PathParts p = s.ResolveOrDie(link);
  if (p.parts.empty()) throw UsageError(Printf("winsim: MakeJunction(%s): a root cannot be a junction\n", link.c_str()));
  PathParts parent = p;
  parent.parts.pop_back();
  s.MakeDirsParts(parent);
  NodePtr dir = s.Lookup(parent);
  if (!dir || !dir->isDir || FindChild(*dir, p.parts.back()))
    throw UsageError(Printf("winsim: MakeJunction(%s): the name is taken\n", link.c_str()));
  // The target is kept as a path, as NTFS keeps it in the reparse data: it
  // may be missing, and is reached again whatever replaces it.
  std::string to = s.ResolveOrDie(target).Join();
  NodePtr n = s.AddChild(dir, p.parts.back(), true);
  n->attrs = FILE_ATTRIBUTE_REPARSE_POINT |
             (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
  n->junction = to;
}

std::string Machine::JunctionTarget(const std::string& path) const {
  PathParts p;
  if (state_->Resolve(path.c_str(), p, false, false)) return "";
  NodePtr n = state_->Entry(p);
  return n ? n->junction : "";
}

void Machine::Subst(char letter, const std::string& target) {
  State& s = state();
  char upper = UpperChar(letter);
  if (upper < 'A' || upper > 'Z') throw UsageError(Printf("winsim: Subst: '%c' is no drive letter\n", letter));
  std::string root = std::string(1, upper) + ":";
  NodePtr existing = s.Root(root);
  if (existing && existing->junction.empty())
    throw UsageError(Printf("winsim: Subst(%s): a volume has that letter\n", root.c_str()));
  if (target.empty()) {
    s.drives.erase(root);  // SUBST /D
    return;
  }
  auto n = std::make_shared<FsNode>();
  n->name = root;
  n->shortName = root;
  n->isDir = true;
  n->junction = s.ResolveOrDie(target).Join();
  n->created = n->written = n->accessed = s.Tick();
  s.drives[root] = n;
}

}  // namespace winsim
