#include "play.h"

#include <szdd/szdd.h>

#include "install/install.h"
#include "setup/setup.h"
#include "wizard/wizard.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace setupcheck {

namespace fs = std::filesystem;
using winsim::Machine;
using winsim::WindowsVersion;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

namespace {

const char kProductKey[] = "Software\\VORTAN";
const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VORTAN FTP";
const char kDefaultInstallDir[] = "C:\\Program Files\\VORTAN\\FTP";
const char kDesktopLink[] = "VORTAN FTP.LNK";
const char kRemoveDir[] = "C:\\remove";

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  return out;
}

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

const char* AnswerName(int id) {
  switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "CANCEL";
    case IDABORT: return "ABORT";
    case IDRETRY: return "RETRY";
    case IDIGNORE: return "IGNORE";
    case IDYES: return "YES";
    case IDNO: return "NO";
    default: return "?";
  }
}

int AnswerId(const std::string& name) {
  std::string n = Lower(name);
  if (n == "yes") return IDYES;
  if (n == "no") return IDNO;
  if (n == "cancel") return IDCANCEL;
  if (n == "retry") return IDRETRY;
  return IDOK;
}

// The first button of a box's style, which the Wine driver presses for a box
// nobody scripted.
int FirstButton(UINT style) {
  switch (style & 0xF) {
    case MB_OKCANCEL: return IDOK;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_YESNOCANCEL: case MB_YESNO: return IDYES;
    case MB_RETRYCANCEL: return IDRETRY;
    default: return IDOK;
  }
}

// One play: the machine, the runs, and the dump taken from them.
class Player {
 public:
  Player(const Scenario& s, WindowsVersion version) : s_(s), machine_(version), use_(machine_) {}

  Dump Go(const Distribution& dist, const std::string& res);

 private:
  struct Token { std::string path, name; };
  struct Started { std::string run, commandLine, directory; };

  Machine& m() { return machine_; }
  void Tokens();
  std::string Norm(const std::string& text) const;
  void AnswerBoxes();
  void Run(const std::string& dir, const std::string& wizard, const std::string& program = "C:\\dist\\Setup.exe");
  void DumpKey(std::vector<std::string>& out, HKEY hive, const std::string& hiveName, const std::string& key,
               const std::string& shown);
  std::vector<std::string> Registry();
  void Files(std::vector<std::string>& out, const std::string& root, bool sayAbsent);
  std::string LongOf(const std::string& shortPath, const std::vector<std::string>& roots);
  std::vector<std::string> Restart(const std::vector<std::string>& roots);
  std::vector<std::string> Shell(const std::string& groupName);

  const Scenario& s_;
  Machine machine_;
  winsim::CurrentMachine use_;
  std::vector<Token> tokens_;
  std::vector<std::string> boxLines_;
  std::vector<Started> processes_;
  std::map<std::string, size_t> used_;
  std::string run_;
  Dump dump_;
};

void Player::Tokens() {
  tokens_ = {{m().WindowsDir(), "%WINDIR%"},
             {m().ShellFolder(CSIDL_PERSONAL), "%PERSONAL%"},
             {m().ShellFolder(CSIDL_COMMON_DOCUMENTS), "%COMMONDOCUMENTS%"},
             {m().ShellFolder(CSIDL_DESKTOPDIRECTORY), "%DESKTOP%"},
             {m().ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY), "%COMMONDESKTOP%"},
             {"C:\\Program Files", "%PROGRAMFILES%"}};
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
      bool startsPath = i == 0 || std::string(" \"=|,").find(text[i - 1]) != std::string::npos;
      if (startsPath && low.compare(i, p.size(), p) == 0) {
        size_t end = i + p.size();
        if (end == text.size() || text[end] == '\\' || text[end] == '"' || text[end] == ',' || text[end] == ' ') {
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

void Player::AnswerBoxes() {
  m().onMessageBox = [this](HWND, const std::string& text, const std::string& caption,
                            UINT style) -> std::optional<int> {
    int answer = FirstButton(style);
    UINT buttons = style & 0xF;
    if (s_.yesNoAnswer && (buttons == MB_YESNO || buttons == MB_YESNOCANCEL)) answer = *s_.yesNoAnswer;
    auto it = s_.answers.find(caption);
    if (it != s_.answers.end() && !it->second.empty()) {
      size_t& used = used_[caption];
      answer = AnswerId(it->second[std::min(used, it->second.size() - 1)]);
      ++used;
    }
    boxLines_.push_back(run_ + " | " + caption + " | " + Escape(Norm(text)) + " | " + AnswerName(answer));
    return answer;
  };
}

// One run of the program; a wizard run plays the user's steps.
void Player::Run(const std::string& dir, const std::string& wizard, const std::string& program) {
  ResetSetupState();
  ResetWizardState();
  progressWindow = nullptr;
  m().SetProgramPath(program);
  m().SetCurrentDir(dir);
  std::vector<std::string> errors;
  if (!wizard.empty()) m().ScriptWizard(WizardSteps(wizard, &errors));
  size_t started = m().processes().size();
  int code = WinMain(reinterpret_cast<HINSTANCE>(0x400000), nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
  if (code != 1) dump_.errors.push_back(run_ + ": the program exited with " + std::to_string(code));
  if (m().UnusedWizardActions() != 0) dump_.errors.push_back(run_ + ": the wizard closed before the user's last step");
  for (const std::string& e : errors) dump_.errors.push_back(run_ + ": " + e);
  // The directory as the new process has it, without the trailing
  // backslash Windows keeps on a current directory that is not a root.
  for (size_t i = started; i < m().processes().size(); ++i) {
    std::string cwd = m().processes()[i].currentDirectory;
    while (cwd.size() > 3 && cwd.back() == '\\') cwd.pop_back();
    processes_.push_back({run_, m().processes()[i].commandLine, cwd});
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

std::vector<std::string> Player::Registry() {
  std::vector<std::string> out;
  for (auto [hive, name] : {std::pair<HKEY, const char*>{HKEY_LOCAL_MACHINE, "HKLM"}, {HKEY_CURRENT_USER, "HKCU"}}) {
    for (std::string root : {std::string(kProductKey), std::string(kUninstallKey),
                             std::string("Software\\Classes\\.qft"), std::string("Software\\Classes\\Keldra.FTP.1")}) {
      if (m().KeyExists(hive, root)) DumpKey(out, hive, name, root, root);
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

Dump Player::Go(const Distribution& dist, const std::string& res) {
  dump_.name = s_.name;
  SeedDistribution(m(), dist);
  for (const std::string& gone : s_.missing) m().RemoveTree("C:\\dist\\" + gone);
  Tokens();
  AnswerBoxes();

  std::string ini = s_.hasInstall ? s_.installIni : "";
  std::string installDir = IniValue(ini, "FTPSetup", "DestinationDir");
  if (installDir.empty()) installDir = kDefaultInstallDir;
  std::string groupName = s_.group.empty() ? IniValue(ini, "Program Group", "GroupName") : s_.group;
  if (groupName.empty()) groupName = "VORTAN FTP";
  if (!s_.installWizard.empty() || !s_.removeWizard.empty()) {
    std::string why = "no compiled resources (windres) for the wizard";
    if (res.empty() || !m().LoadResourceFile(res, reinterpret_cast<HINSTANCE>(0x400000), &why)) {
      dump_.errors.push_back("the wizard's resources: " + why);
      return dump_;
    }
  }

  m().faults.noProgmanService = s_.noProgman;
  for (const std::string& plant : s_.plants) m().WriteText(plant, "MZWINSIM-EXE\n");
  for (const auto& seed : s_.registry) m().SetRegValue(seed.hive, seed.key, seed.name, seed.type, seed.data);
  for (const std::string& rel : s_.readonly) {
    std::string path = installDir + "\\" + rel;
    m().MakeDirs(path.substr(0, path.rfind('\\')));
    m().WriteText(path, "old\r\n");
    m().SetAttributes(path, FILE_ATTRIBUTE_READONLY);
  }
  if (s_.hasInstall) {
    run_ = "install";
    m().WriteText("C:\\dist\\SETUP.INI", s_.installIni);
    Run("C:\\dist", s_.installWizard);
    dump_.outcome.push_back(std::string("install | ") + (setupState.installSucceeded ? "installed" : "not installed"));
  }
  int hold = 0;
  bool removed = false;
  if (s_.hasRemove) {
    removed = true;
    if (!s_.held.empty()) {
      m().WriteText(installDir + "\\" + s_.held, "held\r\n");
      hold = m().Hold(installDir + "\\" + s_.held);
    }
    run_ = "remove";
    m().WriteText(std::string(kRemoveDir) + "\\SETUP.INI", s_.removeIni);
    Run(kRemoveDir, s_.removeWizard);
    if (hold) m().Release(hold);
  }
  if (s_.removerInstalled) {
    // Add/Remove Programs starts the installed UNINS.EXE in its own
    // directory, without a SETUP.INI; its image is held while it runs.
    removed = true;
    run_ = "remove";
    std::string remover = installDir + "\\UNINS.EXE";
    int image = m().HoldImage(remover);
    Run(installDir, s_.removeWizard, remover);
    m().Release(image);
  }
  for (const std::string& plant : s_.plants)
    for (const auto& p : m().processes())
      if (Lower(p.modulePath) == Lower(plant))
        dump_.errors.push_back("a run started the planted " + plant + ": " + p.commandLine);
  if (removed) {
    bool recorded = m().KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey);
    dump_.outcome.push_back(std::string("remove | ") + (recorded ? "the uninstall entry remains" : "removed") +
                            (setupState.rebootRequired ? ", restart required" : ""));
  }

  // Where the program says it installed wins over what SETUP.INI asked for:
  // the two differ when a shell folder is unknown. The directory is shown
  // once as it is, and becomes %INSTALLDIR% everywhere else.
  for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    auto recorded = m().GetRegValue(hive, "Software\\VORTAN\\FTP", "Installation Directory");
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
  ResetSetupState();
  ResetWizardState();
  progressWindow = nullptr;
  return dump_;
}

}  // namespace

const char kDefaultInstallWizard[] =
    "page 1001\npress NEXT\npage 1002\nclick 244\npress NEXT\npage 1003\npress NEXT\npage 1004\npress NEXT\n"
    "page 1005\npress FINISH\n";
const char kDefaultRemoveWizard[] = "page 1001\nclick 221\npress FINISH\n";

Scenario ParseScenario(const std::string& text, const std::string& name) {
  Scenario s;
  s.name = name;
  std::stringstream in(text);
  std::string line;
  std::string* target = nullptr;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("--- ", 0) == 0) {
      std::string what = Trim(line.substr(4));
      if (what == "install.ini") target = &s.installIni, s.hasInstall = true;
      else if (what == "remove.ini") target = &s.removeIni, s.hasRemove = true;
      else if (what == "install.wizard") target = &s.installWizard;
      else if (what == "remove.wizard") target = &s.removeWizard;
      else s.error = "unknown block " + what;
      continue;
    }
    if (target) {
      *target += line + "\r\n";
      continue;
    }
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    size_t colon = t.find(':');
    if (colon == std::string::npos) {
      s.error = "not 'key: value': " + t;
      continue;
    }
    std::string key = Trim(t.substr(0, colon)), value = Trim(t.substr(colon + 1));
    if (key == "windows") s.windows = value;
    else if (key == "summary" || key == "accept") continue;  // the comparison's business
    else if (key == "missing") s.missing.push_back(value);
    else if (key == "held") s.held = value;
    else if (key == "group") s.group = value;
    else if (key == "workdir") s.workdir = value;
    else if (key == "progman") {
      if (value == "none") s.noProgman = true;
      else s.error = "progman: none is the only choice: " + value;
    }
    else if (key == "remover") {
      if (value == "installed") s.removerInstalled = true;
      else s.error = "remover: installed is the only choice: " + value;
    }
    else if (key == "plant") s.plants.push_back(value);
    else if (key == "readonly") s.readonly.push_back(value);
    else if (key == "registry") {
      // HKLM|HKCU KEY : NAME = REG_SZ TEXT | REG_BINARY hex bytes
      size_t sp = value.find(' '), colon2 = value.find(" : "), eq = value.find(" = ");
      if (sp == std::string::npos || colon2 == std::string::npos || eq == std::string::npos || eq < colon2) {
        s.error = "registry needs 'HIVE KEY : NAME = TYPE DATA': " + value;
        continue;
      }
      Scenario::Seed seed;
      std::string hive = value.substr(0, sp);
      seed.hive = hive == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
      seed.key = Trim(value.substr(sp + 1, colon2 - sp - 1));
      seed.name = Trim(value.substr(colon2 + 3, eq - colon2 - 3));
      std::string rest = Trim(value.substr(eq + 3));
      std::string type = rest.substr(0, rest.find(' '));
      std::string data = rest.size() > type.size() ? Trim(rest.substr(type.size())) : "";
      if (hive != "HKLM" && hive != "HKCU") s.error = "registry hive must be HKLM or HKCU: " + value;
      if (type == "REG_SZ") {
        seed.type = REG_SZ;
        seed.data.assign(data.begin(), data.end());
        seed.data.push_back(0);
      } else if (type == "REG_BINARY") {
        seed.type = REG_BINARY;
        std::stringstream hex(data);
        std::string byte;
        while (hex >> byte) {
          char* end = nullptr;
          unsigned long b = std::strtoul(byte.c_str(), &end, 16);
          if (byte.empty() || *end != '\0' || b > 0xFF) {
            s.error = "registry byte is not hex: " + byte;
            break;
          }
          seed.data.push_back(static_cast<uint8_t>(b));
        }
      } else {
        s.error = "registry type must be REG_SZ or REG_BINARY: " + value;
      }
      s.registry.push_back(seed);
    }
    else if (key == "answer") {
      size_t eq = value.rfind('=');
      if (eq == std::string::npos) { s.error = "answer without '=': " + value; continue; }
      std::stringstream list(value.substr(eq + 1));
      std::string one;
      auto& answers = s.answers[Trim(value.substr(0, eq))];
      while (std::getline(list, one, ',')) answers.push_back(Trim(one));
    } else {
      s.error = "unknown key " + key;
    }
  }
  if (s.windows.empty()) s.error = "no windows: line";
  else if (!VersionOf(s.windows)) s.error = "windows: " + s.windows + " is not a version winsim plays";
  if (!s.hasInstall && !s.hasRemove && !s.removerInstalled) s.error = "neither install.ini nor remove.ini";
  if (s.removerInstalled && (s.hasRemove || s.removeWizard.empty() || !s.hasInstall))
    s.error = "remover: installed needs install.ini and remove.wizard, and no remove.ini";
  if (!s.installWizard.empty() && !s.hasInstall) s.error = "install.wizard without install.ini";
  if (!s.removeWizard.empty() && !s.hasRemove && !s.removerInstalled) s.error = "remove.wizard without remove.ini";
  return s;
}

Scenario ReadScenario(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    Scenario s;
    s.name = file.stem().string();
    s.error = "cannot read " + file.string();
    return s;
  }
  std::stringstream text;
  text << in.rdbuf();
  return ParseScenario(text.str(), file.stem().string());
}

// Steps that only wait or log in the Wine driver ("sheet", "box", "closed",
// "read", "dump", "buttons", "shot", "sleep") have nothing to wait for here:
// winsim's sheet moves synchronously. "page N" checks that the current page
// is the one made from template N, as the driver waits for it; a wrong page
// goes to *errors.
std::vector<winsim::UserAction> WizardSteps(const std::string& text, std::vector<std::string>* errors) {
  using winsim::UserAction;
  using winsim::WizButton;
  std::vector<UserAction> out;
  std::stringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    std::string verb = t.substr(0, t.find(' '));
    std::string rest = t.size() > verb.size() ? t.substr(verb.size() + 1) : "";
    std::string where = "wizard step " + std::to_string(number) + " '" + t + "'";
    auto id = [&]() -> int {
      try {
        return std::stoi(rest);
      } catch (const std::exception&) {
        errors->push_back(where + ": no control id");
        return 0;
      }
    };
    if (verb == "page") {
      int page = id();
      out.push_back(UserAction::Inspect([page, where, errors](winsim::WizardView& v) {
        int shown = v.Open() && v.Page() >= 0 ? 1001 + v.Page() : 0;
        if (shown != page) errors->push_back(where + ": the page shown is " + std::to_string(shown));
      }));
    } else if (verb == "click") {
      out.push_back(UserAction::Click(id()));
    } else if (verb == "settext") {
      // The text is the rest of the line after the id and one blank, blanks included.
      size_t blank = rest.find(' ');
      std::string typed = blank == std::string::npos ? "" : rest.substr(blank + 1);
      out.push_back(UserAction::Type(id(), typed));
    } else if (verb == "press") {
      static const std::map<std::string, WizButton> buttons = {
          {"BACK", WizButton::Back}, {"NEXT", WizButton::Next}, {"FINISH", WizButton::Finish},
          {"CANCEL", WizButton::Cancel}};
      auto b = buttons.find(rest);
      if (b == buttons.end()) errors->push_back(where + ": no such button");
      else out.push_back(UserAction::Press(b->second));
    } else if (verb != "sheet" && verb != "box" && verb != "closed" && verb != "read" && verb != "dump" &&
               verb != "buttons" && verb != "shot" && verb != "sleep") {
      errors->push_back(where + ": unknown step");
    }
  }
  return out;
}

std::optional<WindowsVersion> VersionOf(const std::string& w) {
  std::string v = Lower(w);
  if (v == "95") return WindowsVersion::Win95;
  if (v == "98") return WindowsVersion::Win98;
  if (v == "nt4" || v == "nt 4.0") return WindowsVersion::NT4;
  if (v == "2000") return WindowsVersion::Win2000;
  if (v == "xp") return WindowsVersion::XP;
  if (v == "7") return WindowsVersion::Win7;
  if (v == "10") return WindowsVersion::Win10;
  return std::nullopt;
}

std::string VersionName(WindowsVersion version) {
  switch (version) {
    case WindowsVersion::Win95: return "95";
    case WindowsVersion::Win98: return "98";
    case WindowsVersion::NT4: return "NT4";
    case WindowsVersion::Win2000: return "2000";
    case WindowsVersion::XP: return "XP";
    case WindowsVersion::Win7: return "7";
    case WindowsVersion::Win10: return "10";
  }
  return "?";
}

const std::vector<WindowsVersion>& AllVersions() {
  static const std::vector<WindowsVersion> all = {WindowsVersion::Win95, WindowsVersion::Win98,
                                                  WindowsVersion::NT4,   WindowsVersion::Win2000,
                                                  WindowsVersion::XP,    WindowsVersion::Win7,
                                                  WindowsVersion::Win10};
  return all;
}

std::string IniValue(const std::string& ini, const std::string& section, const std::string& key) {
  std::stringstream in(ini);
  std::string line, current;
  bool seen = false, inside = false;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    if (t.size() > 1 && t[0] == '[') {
      current = Lower(Trim(t.substr(1, t.find(']') - 1)));
      // Only the first section of a name is searched.
      inside = !seen && current == Lower(section);
      if (inside) seen = true;
      continue;
    }
    size_t eq = t.find('=');
    if (inside && eq != std::string::npos && Lower(Trim(t.substr(0, eq))) == Lower(key)) {
      std::string v = Trim(t.substr(eq + 1));
      if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
      return v;
    }
  }
  return "";
}

std::string Dump::Text() const {
  std::string text = "# parity dump of " + name + " (winsim)\n";
  for (const auto& [title, lines] : sections) {
    text += "[" + title + "]\n";
    for (const std::string& line : lines) text += line + "\n";
  }
  return text;
}

bool ReadDistribution(const fs::path& dir, Distribution* out, std::string* why) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    *why = dir.string() + " is not a directory";
    return false;
  }
  fs::recursive_directory_iterator it(dir, ec), end;
  if (ec) {
    *why = "cannot list " + dir.string() + ": " + ec.message();
    return false;
  }
  for (; it != end; it.increment(ec)) {
    if (ec) {
      *why = "cannot list " + dir.string() + ": " + ec.message();
      return false;
    }
    std::string rel = fs::relative(it->path(), dir, ec).string();
    std::replace(rel.begin(), rel.end(), '/', '\\');
    if (it->is_directory(ec)) {
      out->dirs.push_back(rel);
      continue;
    }
    if (!it->is_regular_file(ec)) continue;  // sockets, pipes and dangling links are no files to ship
    std::ifstream in(it->path(), std::ios::binary);
    if (!in) {
      *why = "cannot read " + it->path().string();
      return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    out->files.push_back({rel, std::move(bytes)});
  }
  std::sort(out->dirs.begin(), out->dirs.end());
  std::sort(out->files.begin(), out->files.end());
  return true;
}

void SeedDistribution(Machine& m, const Distribution& dist) {
  m.MakeDirs("C:\\dist");
  for (const std::string& dir : dist.dirs) m.MakeDirs("C:\\dist\\" + dir);
  for (const auto& [rel, bytes] : dist.files) {
    std::vector<uint8_t> expanded;
    if (Lower(rel) == "qxftp.dl_" && szdd::Expand(bytes.data(), bytes.size(), expanded) == szdd::ExpandResult::Ok) {
      std::string image = Machine::SimDllImage();
      std::vector<uint8_t> plain(image.begin(), image.end());
      m.WriteBytes("C:\\dist\\" + rel, szdd::Compress(plain.data(), plain.size(), 'L'));
    } else {
      m.WriteBytes("C:\\dist\\" + rel, bytes);
    }
  }
}

Dump Play(const Scenario& s, const Distribution& dist, const std::string& res) {
  auto version = VersionOf(s.windows);
  if (!s.error.empty() || !version) {
    Dump d;
    d.name = s.name;
    d.errors.push_back(s.error.empty() ? "no Windows version" : s.error);
    return d;
  }
  Player player(s, *version);
  return player.Go(dist, res);
}

}  // namespace setupcheck
