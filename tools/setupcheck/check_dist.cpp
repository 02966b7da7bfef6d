// The check's rules on the distribution: the files the installation needs,
// its certificates and folders, and an installation played with it on each
// Windows version.
#include "checker.h"

#include <szdd/szdd.h>
#include <winsim/cabinet.h>

#include <algorithm>
#include <set>

namespace setupcheck {

using winsim::WindowsVersion;

namespace {

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && Lower(s.substr(s.size() - suffix.size())) == Lower(suffix);
}

// Plain files the program copies into Config that nobody meant to ship.
bool LooksUnmeant(const std::string& name) {
  static const char* const suffixes[] = {".template", ".bak", ".tmp", ".orig", ".old", "~", ".swp", ".log",
                                         ".zip", ".rej"};
  std::string low = Lower(name);
  if (low == "thumbs.db" || low == "desktop.ini" || low == ".ds_store" || low[0] == '.') return true;
  if (low.rfind("setup", 0) == 0 && low != "setup.exe" && low != "setup.ini") return true;
  for (const char* s : suffixes)
    if (EndsWith(low, s)) return true;
  return false;
}

}  // namespace

void Checker::Distribution(const setupcheck::Distribution& dist) {
  auto find = [&](const std::string& name) -> const std::vector<uint8_t>* {
    for (const auto& [rel, bytes] : dist.files)
      if (Lower(rel) == Lower(name)) return &bytes;
    return nullptr;
  };
  if (!find("Setup.exe"))
    Error("Setup.exe", "The distribution has no Setup.exe: there is nothing to start.");
  const std::pair<const char*, const char*> packed[] = {{"QXFTP.EX_", "the program"},
                                                        {"UNINS.EX_", "the uninstaller"},
                                                        {"QXFTP.HL_", "the help file"},
                                                        {"QXFTP.CH_", "the HTML help file"},
                                                        {"QXFTP.DL_", "the server DLL"}};
  for (auto [name, what] : packed) {
    const std::vector<uint8_t>* bytes = find(name);
    if (!bytes) {
      Error(name, std::string("The distribution lacks ") + name + " (" + what +
                      "): the installation reports failure and the product is incomplete.");
      continue;
    }
    std::vector<uint8_t> out;
    auto result = szdd::Expand(bytes->data(), bytes->size(), out);
    if (result == szdd::ExpandResult::NotSzdd)
      Warn(name, std::string(what) + " is not a packed (SZDD) file; it will be installed as it is, unexpanded.");
    else if (result == szdd::ExpandResult::Corrupt)
      Error(name, std::string(what) + " is a damaged packed (SZDD) file that does not expand: the installation "
                                      "reports failure.");
  }
  for (const auto& [rel, bytes] : dist.files) {
    if (rel.find('\\') != std::string::npos || !EndsWith(rel, ".0_")) continue;
    std::vector<uint8_t> out;
    if (szdd::Expand(bytes.data(), bytes.size(), out) != szdd::ExpandResult::Ok)
      Warn(rel, "This packed certificate does not expand; it will not be installed.");
  }
  if (const std::vector<uint8_t>* cab = find("Qxcerts.Cab")) {
    std::vector<winsim::CabinetMember> members;
    if (!winsim::ReadCabinet(*cab, members))
      Warn("Qxcerts.Cab", "The certificate cabinet cannot be read (it is damaged or not a cabinet); " +
                              std::string(members.empty() ? "none" : "only some") +
                              " of its certificates will be installed.");
    for (const auto& member : members) {
      const std::string& n = member.name;
      bool plain = !n.empty() && n != "." && n != ".." && n.find_first_of("\\/:") == std::string::npos;
      if (!plain)
        Warn("Qxcerts.Cab", "The cabinet member " + Quoted(n) +
                                " names a place outside the certificate folder; it will be skipped.");
    }
  }
  // Every plain file without a place of its own goes to Config, and every
  // folder is copied whole: a distribution this large was hardly meant so.
  const size_t kManyFiles = 1000;
  if (dist.files.size() > kManyFiles)
    Warn("distribution", "The distribution holds " + std::to_string(dist.files.size()) +
                             " files; every one is copied into the installation (plain files without a place of "
                             "their own into Config, folders whole). Make sure they are all meant to ship.");
  // Folders that are copied whole into the installation directory. The
  // program leaves out entries that are both hidden and system, which
  // Windows makes of these folders at a drive root; a copy on a share has
  // lost those attributes and goes with the rest.
  static const std::set<std::string> systemFolders = {"system volume information", "$recycle.bin", "recycler"};
  static const std::set<std::string> toolFolders = {"__macosx", ".git", ".svn", ".hg", "cvs"};
  for (const std::string& dir : dist.dirs) {
    if (dir.find('\\') != std::string::npos) continue;
    if (systemFolders.count(Lower(dir)))
      Warn(dir, "This system folder is skipped only while it is hidden and system; otherwise it is copied whole "
                "into the installation directory.");
    else if (toolFolders.count(Lower(dir)) || dir[0] == '.')
      Warn(dir, "This hidden folder of the distribution is copied whole into the installation directory.");
  }
}

void Checker::Played(const IniText& ini, const setupcheck::Distribution& dist, const std::string& iniText,
                     const std::string& res, const std::vector<Probe>& fresh) {
  (void)ini;
  // A quiet installation with this SETUP.INI on each version (the wizard
  // road with its defaults when the file asks for no quiet run).
  std::vector<WindowsVersion> failed;
  std::string failureBoxes;
  std::set<std::string> config;
  // A very large distribution is played on one version only: each play
  // copies all of it.
  bool large = dist.files.size() > 1000;
  for (const Probe& p : fresh) {
    if (p.state.quietUninstall && !p.state.quietInstall) return;  // a removal file: nothing to install
    if (large && p.version != WindowsVersion::XP) continue;
    Scenario s;
    s.name = "check";
    s.windows = VersionName(p.version);
    s.standardUser = p.standardUser;
    s.hasInstall = true;
    s.installIni = iniText;
    if (!p.state.quietInstall) s.installWizard = kDefaultInstallWizard;
    Dump d = Play(s, dist, res);
    if (!d.errors.empty()) continue;  // the wizard could not be played here (no resources)
    if (!d.outcome.empty() && d.outcome[0] == "install | not installed") {
      failed.push_back(p.version);
      if (failureBoxes.empty())
        for (const std::string& line : d.sections[0].second) failureBoxes += (failureBoxes.empty() ? "" : "; ") + line;
    }
    if (p.version != WindowsVersion::XP) continue;
    // Support and About values as the registry records them.
    for (const IniLine& k : ini.keys) {
      if (!k.value || k.sectionIndex > 0 || k.value->size() <= kPathSize - 1) continue;
      std::string section = Lower(k.section) == "support" ? "Support" : Lower(k.section) == "about" ? "About" : "";
      if (section.empty()) continue;
      std::string prefix = "val HKLM\\Software\\VORTAN\\FTP\\" + section + " : ";
      std::string stored;
      bool found = false;
      for (const std::string& line : d.sections[2].second) {
        if (line.rfind(prefix, 0) != 0) continue;
        size_t eq = line.find(" = REG_SZ \"", prefix.size());
        if (eq == std::string::npos || Lower(line.substr(prefix.size(), eq - prefix.size())) != Lower(k.key)) continue;
        stored = line.substr(eq + 11, line.size() - eq - 12);
        found = true;
      }
      Warn(Subject(section, k.key), Quoted(*k.value) + " is longer than " + std::to_string(kPathSize - 1) +
                                        " characters; the program " +
                                        (found && !stored.empty() ? "records only the first " +
                                                                        std::to_string(stored.size()) + " in the registry."
                                                                  : "records nothing of it in the registry."));
    }
    for (const std::string& line : d.sections[3].second) {
      size_t at = line.find("\\Config\\");
      if (line.rfind("file ", 0) != 0 || at == std::string::npos) continue;
      std::string name = line.substr(at + 8, line.find(" size=") - at - 8);
      if (name.find('\\') == std::string::npos) config.insert(name);
    }
  }
  if (!failed.empty())
    Error("installation", "Played with this distribution and SETUP.INI, the installation fails on " +
                              Versions(failed) + (fresh.empty() || !fresh[0].standardUser ? "" : " (as a standard user)") + (failureBoxes.empty() ? "." : " (boxes: " + failureBoxes + ")."));
  for (const std::string& name : config)
    if (LooksUnmeant(name))
      Warn(name, "This file is copied into the installation's Config folder with the configuration files; "
                 "it does not look meant to be shipped.");
  (void)dist;
}

}  // namespace setupcheck
