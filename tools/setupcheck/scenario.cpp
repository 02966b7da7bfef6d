// Reading a scenario file and the wizard steps in it, the Windows versions
// by name, and the plain-text comparisons and profile lookup they need.
#include "scenario.h"

#include <userscript/userscript.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace setupcheck {

namespace fs = std::filesystem;
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
    else if (key == "user") {
      if (value == "standard") s.standardUser = true;
      else if (value != "administrator") s.error = "user: standard or administrator: " + value;
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
  else if (s.standardUser && !HasUserKinds(*VersionOf(s.windows)))
    s.error = "user: standard needs Windows 7 or later (no user kinds before Vista)";
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
  for (const userscript::Step& step : userscript::ReadSteps(text)) {
    const std::string& verb = step.verb;
    std::string where = "wizard step " + std::to_string(step.line) + " '" + step.text + "'";
    auto id = [&]() -> int {
      int n = userscript::Number(step.arg);
      if (n < 0) {
        errors->push_back(where + ": no control id");
        return 0;
      }
      return n;
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
      out.push_back(UserAction::Type(id(), step.rest));
    } else if (verb == "press") {
      static const std::map<userscript::Button, WizButton> buttons = {
          {userscript::Button::Back, WizButton::Back}, {userscript::Button::Next, WizButton::Next},
          {userscript::Button::Finish, WizButton::Finish}, {userscript::Button::Cancel, WizButton::Cancel}};
      std::optional<userscript::Button> b = userscript::ButtonNamed(step.arg);
      if (!b) errors->push_back(where + ": no such button");
      else out.push_back(UserAction::Press(buttons.at(*b)));
    } else if (verb != "sheet" && verb != "box" && verb != "closed" && verb != "read" && verb != "dump" &&
               verb != "buttons" && verb != "shot" && verb != "sleep") {
      errors->push_back(where + ": unknown step");
    }
  }
  return out;
}

std::optional<WindowsVersion> VersionOf(const std::string& w) {
  // "10 x64", "10-x64" and "10x64" name one edition; 11 exists only as x64.
  std::string v;
  for (char c : Lower(w))
    if (c != ' ' && c != '-') v += c;
  if (v == "xpx64" || v == "xp64") return WindowsVersion::WinXP64;
  if (v == "7x64") return WindowsVersion::Win7x64;
  if (v == "8.1x64" || v == "81x64") return WindowsVersion::Win81x64;
  if (v == "10x64") return WindowsVersion::Win10x64;
  if (v == "11x64" || v == "11") return WindowsVersion::Win11x64;
  if (v == "nt4.0") return WindowsVersion::NT4;
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
    case WindowsVersion::WinXP64: return "XP x64";
    case WindowsVersion::Win7x64: return "7 x64";
    case WindowsVersion::Win81x64: return "8.1 x64";
    case WindowsVersion::Win10x64: return "10 x64";
    case WindowsVersion::Win11x64: return "11 x64";
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

const std::vector<WindowsVersion>& AllEditions() {
  static const std::vector<WindowsVersion> all = [] {
    std::vector<WindowsVersion> v = AllVersions();
    v.insert(v.end(), {WindowsVersion::WinXP64, WindowsVersion::Win7x64, WindowsVersion::Win81x64,
                       WindowsVersion::Win10x64, WindowsVersion::Win11x64});
    return v;
  }();
  return all;
}

bool HasUserKinds(WindowsVersion v) {
  return v == WindowsVersion::Win7 || v == WindowsVersion::Win10 || v == WindowsVersion::Win7x64 ||
         v == WindowsVersion::Win81x64 || v == WindowsVersion::Win10x64 || v == WindowsVersion::Win11x64;
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

}  // namespace setupcheck
