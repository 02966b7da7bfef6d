// The canonical dump of what a play left: the boxes and processes of its
// runs, the product's registry keys, its files, the shell's group and
// shortcut and the restart-time operations, with machine folders as tokens.
#include "player.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace setupcheck {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VORTAN FTP";

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    // The entries of a REG_MULTI_SZ value are separated by NULs.
    else if (c == '\0') out += "\\0";
    else out += c;
  }
  return out;
}

namespace {

const char kProductKey[] = "Software\\VORTAN";
const char kDesktopLink[] = "VORTAN FTP.LNK";

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += ' ';
    out += digits[bytes[i] >> 4];
    out += digits[bytes[i] & 15];
  }
  return out;
}

// FNV-1a, 64 bits: cheap, and the Python side computes the same.
std::string Fnv(const std::vector<uint8_t>& bytes) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (uint8_t b : bytes) {
    h ^= b;
    h *= 0x100000001b3ull;
  }
  char buf[17];
  snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

const char* TypeName(DWORD type) {
  switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    default: return "REG_OTHER";
  }
}

}  // namespace

void Player::Tokens() {
  tokens_ = {{m().WindowsDir(), "%WINDIR%"},
             {m().ShellFolder(CSIDL_PERSONAL), "%PERSONAL%"},
             {m().ShellFolder(CSIDL_COMMON_DOCUMENTS), "%COMMONDOCUMENTS%"},
             {m().ShellFolder(CSIDL_DESKTOPDIRECTORY), "%DESKTOP%"},
             {m().ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY), "%COMMONDESKTOP%"},
             {"C:\\Program Files", "%PROGRAMFILES%"},
             // Where a group is made as a folder when no Program Manager
             // answers ("Program Group Folder").
             {m().ShellFolder(CSIDL_PROGRAMS), "%PROGRAMS%"}};
  // A 64-bit edition gives the 32-bit program the (x86) folder.
  if (m().Is64Bit()) tokens_.push_back({"C:\\Program Files (x86)", "%PROGRAMFILESX86%"});
  tokens_.erase(std::remove_if(tokens_.begin(), tokens_.end(), [](const Token& t) { return t.path.empty(); }),
                tokens_.end());
  std::sort(tokens_.begin(), tokens_.end(),
            [](const Token& a, const Token& b) { return a.path.size() > b.path.size(); });
}

// Machine-specific folders become tokens wherever they start a path.
std::string Player::Norm(const std::string& text) const {
  std::string out;
  std::string low = Lower(text);
  size_t i = 0;
  while (i < text.size()) {
    bool replaced = false;
    for (const Token& t : tokens_) {
      std::string p = Lower(t.path);
      // A path also starts and ends at a NUL: the entries of a REG_MULTI_SZ.
      bool startsPath = i == 0 || text[i - 1] == '\0' || std::string(" \"=|,").find(text[i - 1]) != std::string::npos;
      if (startsPath && low.compare(i, p.size(), p) == 0) {
        size_t end = i + p.size();
        if (end == text.size() || text[end] == '\\' || text[end] == '"' || text[end] == ',' || text[end] == ' ' ||
            text[end] == '\0') {
          out += t.name;
          i = end;
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}

// What the runs left, as the dump's sections.
void Player::Collect(std::string installDir, const std::string& groupName) {
  // Where the program says it installed wins over what SETUP.INI asked for:
  // the two differ when a shell folder is unknown. The directory is shown
  // once as it is, and becomes %INSTALLDIR% everywhere else.
  for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    auto recorded = m().GetRegValue32(hive, "Software\\VORTAN\\FTP", "Installation Directory");
    if (recorded && !recorded->Text().empty()) {
      installDir = recorded->Text();
      break;
    }
  }
  std::vector<std::string> files = {"installation directory " + Norm(installDir)};
  // A recorded "C:\\Apps\\FTP\\" must still match the paths below it.
  std::string token = installDir;
  while (token.size() > 3 && token.back() == '\\') token.pop_back();
  tokens_.push_back({token, "%INSTALLDIR%"});
  std::sort(tokens_.begin(), tokens_.end(),
            [](const Token& a, const Token& b) { return a.path.size() > b.path.size(); });
  std::vector<std::string> roots = {installDir};
  for (int csidl : {CSIDL_PERSONAL, CSIDL_COMMON_DOCUMENTS})
    if (!m().ShellFolder(csidl).empty()) roots.push_back(m().ShellFolder(csidl) + "\\FTP");
  if (!s_.workdir.empty()) roots.push_back(s_.workdir);
  for (size_t i = 0; i < roots.size(); ++i) Files(files, roots[i], i == 0);
  std::string parent = installDir.substr(0, installDir.rfind('\\'));
  files.push_back(std::string(m().IsDirectory(parent) ? "dir " : "absent ") + Norm(parent) + " (parent)");

  // Paths in command lines may name the installation directory, known only now.
  std::vector<std::string> processLines;
  for (const Started& p : processes_)
    processLines.push_back(p.run + " | " + Norm(p.commandLine) + " | " + Norm(p.directory));
  std::vector<std::vector<std::string>> sections = {boxLines_, processLines, Registry(), files, Shell(groupName),
                                                    Restart(roots)};
  const char* titles[] = {"boxes", "processes", "registry", "files", "shell", "restart"};
  for (size_t i = 0; i < sections.size(); ++i) {
    auto lines = sections[i];
    // Boxes and processes keep their order, repeats included; everything
    // else is a set.
    if (i > 1) {
      std::sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
        return Lower(a) != Lower(b) ? Lower(a) < Lower(b) : a < b;
      });
      lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    }
    dump_.sections.push_back({titles[i], lines});
  }
}

void Player::DumpKey(std::vector<std::string>& out, HKEY hive, const std::string& hiveName, const std::string& key,
                     const std::string& shown) {
  out.push_back("key " + hiveName + "\\" + shown);
  for (const std::string& name : m().ValueNames(hive, key)) {
    auto v = m().GetRegValue(hive, key, name);
    std::string data;
    if (v->type == REG_SZ || v->type == REG_EXPAND_SZ || v->type == REG_MULTI_SZ) {
      if (!v->data.empty() && v->data.back() == 0)
        data = "\"" + Escape(Norm(std::string(v->data.begin(), v->data.end() - 1))) + "\"";
      else
        data = "without NUL [" + Hex(v->data) + "]";
    } else {
      data = "[" + Hex(v->data) + "]";
    }
    out.push_back("val " + hiveName + "\\" + shown + " : " + (name.empty() ? "@" : name) + " = " +
                  TypeName(v->type) + " " + data);
  }
  for (const std::string& sub : m().SubKeys(hive, key)) DumpKey(out, hive, hiveName, key + "\\" + sub, shown + "\\" + sub);
}

bool Player::ProgramKeyExists(HKEY hive, const std::string& key) {
  auto [realHive, realKey] = m().RedirectedKey(hive, key);
  return m().KeyExists(realHive, realKey);
}

std::vector<std::string> Player::Registry() {
  std::vector<std::string> out;
  for (auto [hive, name] : {std::pair<HKEY, const char*>{HKEY_LOCAL_MACHINE, "HKLM"}, {HKEY_CURRENT_USER, "HKCU"}}) {
    for (std::string root : {std::string(kProductKey), std::string(kUninstallKey),
                             std::string("Software\\Classes\\.qft"), std::string("Software\\Classes\\Keldra.FTP.1")}) {
      // Shown where it really is: HKLM\Software\Wow6432Node\... on a 64-bit edition.
      auto [realHive, realKey] = m().RedirectedKey(hive, root);
      if (m().KeyExists(realHive, realKey)) DumpKey(out, realHive, name, realKey, realKey);
    }
  }
  return out;
}

void Player::Files(std::vector<std::string>& out, const std::string& root, bool sayAbsent) {
  if (!m().Exists(root)) {
    if (sayAbsent) out.push_back("absent " + Norm(root));
    return;
  }
  out.push_back("dir " + Norm(root));
  // A root recorded with a trailing backslash must not double it below.
  std::string base = root;
  while (base.size() > 3 && base.back() == '\\') base.pop_back();
  for (const std::string& rel : m().Tree(root)) {
    std::string path = base + "\\" + rel;
    if (m().IsDirectory(path)) {
      out.push_back("dir " + Norm(path));
    } else {
      auto bytes = *m().ReadBytes(path);
      out.push_back("file " + Norm(path) + " size=" + std::to_string(bytes.size()) + " fnv=" + Fnv(bytes));
    }
  }
}

// Short names in WININIT.INI are resolved against every path below the
// product's folders that still exists.
std::string Player::LongOf(const std::string& shortPath, const std::vector<std::string>& roots) {
  for (const std::string& root : roots) {
    if (!m().Exists(root)) continue;
    std::vector<std::string> all = {root};
    for (const std::string& rel : m().Tree(root)) all.push_back(root + "\\" + rel);
    for (const std::string& p : all)
      if (Lower(m().ShortPath(p)) == Lower(shortPath) || Lower(p) == Lower(shortPath)) return Norm(p);
  }
  return "<short path unresolved: " + Norm(shortPath) + ">";
}

std::vector<std::string> Player::Restart(const std::vector<std::string>& roots) {
  std::vector<std::string> out;
  auto strip = [](std::string p) {
    bool replace = !p.empty() && p[0] == '!';
    if (replace) p = p.substr(1);
    if (p.rfind("\\??\\", 0) == 0) p = p.substr(4);
    return (replace ? "!" : "") + p;
  };
  for (auto& [from, to] : m().PendingRenames())
    out.push_back("pending " + Norm(strip(from)) + " -> " + (to.empty() ? "(delete)" : Norm(strip(to))));
  auto wininit = m().ReadText(m().WindowsDir() + "\\WININIT.INI");
  if (wininit) {
    std::stringstream in(*wininit);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
      std::string t = Trim(line);
      if (!t.empty() && t[0] == '[') { inside = Lower(t) == "[rename]"; continue; }
      size_t eq = t.find('=');
      if (!inside || eq == std::string::npos) continue;
      std::string key = Trim(t.substr(0, eq)), value = Trim(t.substr(eq + 1));
      if (Lower(key) == "nul") out.push_back("wininit NUL=" + LongOf(value, roots));
      else out.push_back("wininit " + LongOf(key, roots) + "=" + LongOf(value, roots));
    }
  }
  return out;
}

std::vector<std::string> Player::Shell(const std::string& groupName) {
  std::vector<std::string> out;
  if (const auto* group = m().progman().FindGroup(groupName)) {
    out.push_back("group " + group->name);
    for (const auto& item : group->items) out.push_back("item " + group->name + "\\" + item.name);
  } else if (std::string folder = m().ShellFolder(CSIDL_PROGRAMS) + "\\" + groupName;
             // "." or ".." would name the Programs folder or its parent, which
             // exist whether or not a group was made.
             groupName.find_first_not_of(" .") != std::string::npos && m().IsDirectory(folder)) {
    // The group made as a folder of links where no Program Manager answered,
    // as the Wine side reads every group: from the user's Programs folder.
    out.push_back("group " + groupName);
    for (const std::string& name : m().List(folder))
      if (name.size() > 4 && Lower(name.substr(name.size() - 4)) == ".lnk")
        out.push_back("item " + groupName + "\\" + name.substr(0, name.size() - 4));
  } else {
    out.push_back("no group " + groupName);
  }
  for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY}) {
    std::string desktop = m().ShellFolder(csidl);
    if (desktop.empty()) continue;
    std::string link = desktop + "\\" + kDesktopLink;
    if (!m().Exists(link)) continue;
    std::string line = "shortcut " + Norm(m().ActualPath(link));
    for (auto it = m().savedLinks().rbegin(); it != m().savedLinks().rend(); ++it) {
      if (Lower(it->path) != Lower(link)) continue;
      line += " | target=" + Norm(it->target) + " | workdir=" + Norm(it->workingDir) +
              " | description=" + it->description;
      break;
    }
    out.push_back(line);
  }
  return out;
}

std::string Dump::Text() const {
  std::string text = "# parity dump of " + name + " (winsim)\n";
  for (const auto& [title, lines] : sections) {
    text += "[" + title + "]\n";
    for (const std::string& line : lines) text += line + "\n";
  }
  return text;
}

}  // namespace setupcheck
