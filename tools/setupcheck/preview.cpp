#include "preview.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>

namespace setupcheck {

using winsim::WindowsVersion;

namespace {

// The file without the lines of the named [FTPSetup] keys; added lines go
// at the head of its [FTPSetup] section (which is made when missing).
std::string EditSetupSection(const std::string& ini, const std::set<std::string>& drop, const std::string& add) {
  std::stringstream in(ini);
  std::string line, out, section;
  bool added = add.empty();
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = Trim(line);
    if (!t.empty() && t[0] == '[' && t.find(']') != std::string::npos) {
      section = Lower(Trim(t.substr(1, t.rfind(']') - 1)));
      out += line + "\r\n";
      if (section == "ftpsetup" && !added) {
        out += add + "\r\n";
        added = true;
      }
      continue;
    }
    size_t eq = t.find('=');
    if (section == "ftpsetup" && eq != std::string::npos && drop.count(Lower(Trim(t.substr(0, eq))))) continue;
    out += line + "\r\n";
  }
  if (!added) out = "[FTPSetup]\r\n" + add + "\r\n" + out;
  return out;
}

bool Yes(const std::string& ini, const char* key) {
  std::string v = IniValue(ini, "FTPSetup", key);
  return !v.empty() && (v[0] == 'Y' || v[0] == 'y');
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
    else if (c < 0x20) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else if (c >= 0x80) {
      // Code page 1252 text: shown as the Latin-1 character it mostly is.
      char buf[8];
      snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string InstallDirOf(const Dump& d) {
  for (const auto& [title, lines] : d.sections)
    if (title == "files")
      for (const std::string& l : lines)
        if (l.rfind("installation directory ", 0) == 0) return Placeholders(l.substr(23), "");
  return "";
}

// A dump line for a person.
std::string Human(const std::string& section, const std::string& line) {
  if (section == "boxes" || section == "processes") {
    std::vector<std::string> parts;
    size_t at = 0;
    while (true) {
      size_t bar = line.find(" | ", at);
      parts.push_back(line.substr(at, bar == std::string::npos ? std::string::npos : bar - at));
      if (bar == std::string::npos) break;
      at = bar + 3;
    }
    if (section == "boxes" && parts.size() == 4)
      return parts[0] + ": \"" + parts[1] + "\": " + parts[2] + "  -> " + parts[3];
    if (section == "processes" && parts.size() == 3) return parts[0] + ": " + parts[1] + "  (in " + parts[2] + ")";
    return line;
  }
  if (section == "registry" && (line.rfind("key ", 0) == 0 || line.rfind("val ", 0) == 0)) return line.substr(4);
  if (section == "files") {
    if (line.size() > 9 && line.compare(line.size() - 9, 9, " (parent)") == 0) {
      bool exists = line.rfind("dir ", 0) == 0;
      std::string path = line.substr(line.find(' ') + 1, line.size() - 9 - line.find(' ') - 1);
      return path + "\\  (the installation directory's parent, " + (exists ? "left in place)" : "gone)");
    }
    if (line.rfind("dir ", 0) == 0) return line.substr(4) + "\\";
    if (line.rfind("absent ", 0) == 0) return line.substr(7) + "\\  (not there)";
    if (line.rfind("file ", 0) == 0) {
      size_t size = line.find(" size=");
      size_t fnv = line.find(" fnv=");
      std::string path = line.substr(5, size - 5);
      std::string out = path + "  " + line.substr(size + 6, fnv - size - 6) + " bytes";
      if (path.size() >= 10 && Lower(path.substr(path.size() - 10)) == "\\qxftp.dll")
        out += " (the simulated machine's stand-in for the server DLL)";
      return out;
    }
  }
  return line;
}

// One section for a person: registry values under their keys, files by path.
std::vector<std::string> HumanSection(const std::string& section, const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  if (section == "registry") {
    std::vector<std::string> keys;
    std::map<std::string, std::vector<std::string>> values;
    for (const std::string& l : lines) {
      if (l.rfind("key ", 0) == 0) keys.push_back(l.substr(4));
      else if (l.rfind("val ", 0) == 0) {
        size_t colon = l.find(" : ");
        values[l.substr(4, colon - 4)].push_back(l.substr(colon + 3));
      }
    }
    for (const std::string& k : keys) {
      out.push_back(k);
      for (const std::string& v : values[k]) out.push_back("    " + v);
    }
    return out;
  }
  if (section == "files") {
    std::vector<std::pair<std::string, std::string>> sorted;
    std::string head;
    for (const std::string& l : lines) {
      if (l.rfind("installation directory ", 0) == 0) {
        head = "installation directory: " + l.substr(23);
        continue;
      }
      std::string h = Human(section, l);
      sorted.push_back({Lower(h.substr(0, h.find("  "))), h});
    }
    std::sort(sorted.begin(), sorted.end());
    if (!head.empty()) out.push_back(head);
    for (auto& [key, h] : sorted) out.push_back(h);
    return out;
  }
  for (const std::string& l : lines) out.push_back(Human(section, l));
  return out;
}

const char* Heading(const std::string& section) {
  if (section == "boxes") return "Message boxes (run: caption: text -> answer taken)";
  if (section == "processes") return "Processes started";
  if (section == "registry") return "Registry (product keys per hive, uninstall entry, file type)";
  if (section == "files") return "Directories and files";
  if (section == "shell") return "Program group, items and desktop shortcut";
  return "Restart-time operations";
}

}  // namespace

std::string Placeholders(const std::string& line, const std::string& installDir) {
  static const std::pair<const char*, const char*> names[] = {
      {"%PROGRAMFILES%", "<Program Files>"},   {"%PERSONAL%", "<Documents>"},
      {"%COMMONDOCUMENTS%", "<Common Documents>"}, {"%COMMONDESKTOP%", "<Common Desktop>"},
      {"%DESKTOP%", "<Desktop>"},              {"%WINDIR%", "<Windows>"},
      {"%PROGRAMFILESX86%", "<Program Files (x86)>"}};
  std::string out = line;
  if (!installDir.empty()) {
    for (size_t at; (at = out.find("%INSTALLDIR%")) != std::string::npos;) out.replace(at, 12, installDir);
  }
  for (auto [token, name] : names)
    for (size_t at; (at = out.find(token)) != std::string::npos;) out.replace(at, std::string(token).size(), name);
  return out;
}

Scenario PreviewScenario(const PreviewRequest& r, WindowsVersion version) {
  Scenario s;
  s.name = "preview";
  s.windows = VersionName(version);
  s.standardUser = r.standardUser;
  s.yesNoAnswer = r.answer;
  s.hasInstall = true;
  bool quietRun = Yes(r.ini, "QuietModeInstall") || Yes(r.ini, "QuietModeUnInstall");
  if (r.wizard) {
    s.installIni = EditSetupSection(r.ini, {"quietmodeinstall", "quietmodeuninstall"}, "");
    s.installWizard = kDefaultInstallWizard;
  } else {
    s.installIni = r.ini;
    if (!quietRun) s.installWizard = kDefaultInstallWizard;
  }
  if (r.remove) {
    s.hasRemove = true;
    if (r.wizard) {
      s.removeIni = EditSetupSection(r.ini, {"quietmodeinstall", "quietmodeuninstall"}, "");
      s.removeWizard = kDefaultRemoveWizard;
    } else {
      s.removeIni = EditSetupSection(r.ini, {"quietmodeinstall", "quietmodeuninstall"}, "QuietModeUnInstall=Y");
    }
  }
  return s;
}

std::string ResourcePath() {
#ifdef SETUP_RES_PATH
  return SETUP_RES_PATH;
#else
  return "";
#endif
}

namespace {

// "Windows 10 x64", and who ran the program when it was a standard user.
std::string Label(const VersionDump& r) {
  return "Windows " + VersionName(r.version) + (r.standardUser ? " (standard user)" : "");
}

}  // namespace

std::string RenderText(const std::vector<VersionDump>& runs) {
  std::string out;
  if (runs.size() == 1) {
    const Dump& d = runs[0].dump;
    std::string dir = InstallDirOf(d);
    out += Label(runs[0]) + "\n";
    for (const std::string& e : d.errors) out += "  could not play: " + e + "\n";
    out += "Outcome\n";
    for (const std::string& o : d.outcome) out += "  " + o + "\n";
    for (const auto& [title, lines] : d.sections) {
      out += std::string(Heading(title)) + "\n";
      if (lines.empty()) out += "  (none)\n";
      for (const std::string& l : HumanSection(title, lines)) out += "  " + Placeholders(l, dir) + "\n";
    }
    return out;
  }
  // Side by side: what every version shares once, then what differs.
  out += "Windows";
  for (const VersionDump& r : runs) out += " " + VersionName(r.version);
  out += std::string(runs[0].standardUser ? " (standard user)" : "") + ": only what differs between them\n";
  for (const VersionDump& r : runs)
    for (const std::string& e : r.dump.errors) out += "  Windows " + VersionName(r.version) + " could not play: " + e + "\n";
  auto rendered = [](const VersionDump& r, size_t i) {
    std::vector<std::string> lines;
    if (i == 0) {
      for (const std::string& o : r.dump.outcome) lines.push_back(o);
      return lines;
    }
    if (i > r.dump.sections.size()) return lines;
    const auto& [title, raw] = r.dump.sections[i - 1];
    std::string dir = InstallDirOf(r.dump);
    for (const std::string& l : raw) lines.push_back(Placeholders(Human(title, l), dir));
    return lines;
  };
  size_t count = runs[0].dump.sections.size() + 1;
  bool any = false;
  for (size_t i = 0; i < count; ++i) {
    std::map<std::string, int> seen;
    for (const VersionDump& r : runs) {
      std::set<std::string> once;
      for (const std::string& l : rendered(r, i))
        if (once.insert(l).second) ++seen[l];
    }
    std::string block;
    for (const VersionDump& r : runs) {
      std::string mine;
      for (const std::string& l : rendered(r, i))
        if (seen[l] != static_cast<int>(runs.size())) mine += "    " + l + "\n";
      if (!mine.empty()) block += "  Windows " + VersionName(r.version) + "\n" + mine;
    }
    if (block.empty()) continue;
    any = true;
    out += std::string(i == 0 ? "Outcome" : Heading(runs[0].dump.sections[i - 1].first)) + "\n" + block;
  }
  if (!any) out += "  (the same on every version)\n";
  return out;
}

std::string RenderJson(const std::vector<VersionDump>& runs) {
  std::string out = "{\n  \"windows\": [\n";
  for (size_t v = 0; v < runs.size(); ++v) {
    const Dump& d = runs[v].dump;
    std::string dir = InstallDirOf(d);
    out += "    {\n      \"version\": " + JsonString(VersionName(runs[v].version)) + ",\n";
    if (runs[v].standardUser) out += "      \"user\": \"standard\",\n";
    auto list = [&](const std::string& name, const std::vector<std::string>& lines, bool human, bool last) {
      out += "      " + JsonString(name) + ": [";
      for (size_t i = 0; i < lines.size(); ++i)
        out += (i ? ", " : "") + JsonString(human ? Placeholders(lines[i], dir) : lines[i]);
      out += last ? "]\n" : "],\n";
    };
    list("errors", d.errors, false, false);
    list("outcome", d.outcome, false, false);
    for (size_t i = 0; i < d.sections.size(); ++i) list(d.sections[i].first, d.sections[i].second, true, i + 1 == d.sections.size());
    out += v + 1 == runs.size() ? "    }\n" : "    },\n";
  }
  return out + "  ]\n}\n";
}

}  // namespace setupcheck
