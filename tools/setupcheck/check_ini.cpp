// The check's rules on SETUP.INI itself: the names of its sections and keys
// (with the nearest known name of a slip), its Yes/No values, its paths,
// working-directory, quiet and group keys, and the file's encoding.
#include "checker.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace setupcheck {

using winsim::WindowsVersion;

const std::vector<KnownSection>& KnownSections() {
  static const std::vector<KnownSection> known = {
      {"FTPSetup",
       {"BaseRegistry", "ProfileMode", "SourceDir", "DestinationDir", "QuietModeInstall", "QuietModeUnInstall",
        "UsePersonalFolderAsWorkingDir", "UseAllUsersCommonFolderAsWorkingDir", "WorkingDir", "LockFTP", "Lock"}},
      {"Program Group", {"UseGroup", "GroupName", "ShortCut"}},
      {"Support", {"Line1", "Line2", "Line3", "Line4", "Line5", "Line6", "Line7", "Line8", "Line9"}},
      {"About", {"Info1", "Info2", "Name", "Address1", "Address2", "Address3", "Phone", "Fax", "BBS", "INet"}}};
  return known;
}

const KnownSection* FindKnown(const std::string& section) {
  for (const auto& k : KnownSections())
    if (Lower(k.name) == Lower(section)) return &k;
  return nullptr;
}

namespace {

size_t Distance(const std::string& a0, const std::string& b0) {
  std::string a = Lower(a0), b = Lower(b0);
  std::vector<size_t> prev(b.size() + 1), cur(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) prev[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    cur[0] = i;
    for (size_t j = 1; j <= b.size(); ++j)
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
    std::swap(prev, cur);
  }
  return prev[b.size()];
}

// Near enough to be a slip: a few letters apart, or the known name with
// something added or left off ("DestinationDirectory", "Destination").
bool Near(const std::string& name, const std::string& known) {
  std::string a = Lower(name), b = Lower(known);
  if (a.size() >= 4 && b.size() >= 4 && (a.rfind(b, 0) == 0 || b.rfind(a, 0) == 0)) return true;
  return Distance(a, b) <= std::max<size_t>(2, b.size() / 4);
}

std::string NearestSection(const std::string& name) {
  std::string best;
  size_t bestDistance = SIZE_MAX;
  for (const auto& k : KnownSections()) {
    size_t d = Distance(name, k.name);
    if (Near(name, k.name) && d < bestDistance) best = k.name, bestDistance = d;
  }
  return best;
}

bool IsFullPath(const std::string& p) {
  if (p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' && p[2] == '\\') return true;
  if (p.size() > 2 && p[0] == '\\' && p[1] == '\\') return p.find('\\', 2) != std::string::npos;
  return false;
}

}  // namespace

std::string NearestKnownKey(const std::string& name, std::string* section) {
  std::string best;
  size_t bestDistance = SIZE_MAX;
  for (const auto& k : KnownSections())
    for (const std::string& key : k.keys) {
      size_t d = Distance(name, key);
      if (Near(name, key) && d < bestDistance) {
        best = key;
        bestDistance = d;
        if (section) *section = k.name;
      }
    }
  return best;
}

void Checker::Names(const IniText& ini) {
  for (int line : ini.outside)
    Warn("SETUP.INI line " + std::to_string(line), "This line stands before the first section, so it is never read.");
  std::set<std::string> reported;
  for (const auto& [name, line] : ini.sections) {
    const KnownSection* known = FindKnown(name);
    std::string where = "[" + name + "] (line " + std::to_string(line) + ")";
    if (known == nullptr) {
      std::string nearest = NearestSection(name);
      Warn(where, "The program reads no section of this name, so its keys have no effect" +
                      (nearest.empty() ? std::string(".") : "; did you mean [" + nearest + "]?"));
    } else if (!reported.insert(Lower(name)).second) {
      Warn(where, "Only the first [" + std::string(known->name) +
                      "] section is read; the keys of this repeated one are ignored.");
    }
  }
  std::set<std::string> keysSeen;
  for (const IniLine& k : ini.keys) {
    const KnownSection* known = FindKnown(k.section);
    if (known == nullptr || k.sectionIndex > 0) continue;
    std::string subject = Subject(known->name, k.key) + " (line " + std::to_string(k.number) + ")";
    if (!k.value) {
      Warn(subject, "The line has no \"=\", so it gives no value.");
      continue;
    }
    bool isKnown = false;
    for (const std::string& name : known->keys) isKnown |= Lower(name) == Lower(k.key);
    if (isKnown) {
      if (!keysSeen.insert(Lower(std::string(known->name)) + "|" + Lower(k.key)).second)
        Warn(subject, "The key is repeated; only its first value in the section is read.");
      continue;
    }
    std::string elsewhere;
    for (const auto& other : KnownSections())
      for (const std::string& name : other.keys)
        if (Lower(name) == Lower(k.key) && other.name != known->name) elsewhere = other.name;
    if (!elsewhere.empty()) {
      Warn(subject, "The program reads " + k.key + " from [" + elsewhere + "], not from [" + known->name +
                        "], so this value has no effect.");
      continue;
    }
    std::string section;
    std::string nearest = NearestKnownKey(k.key, &section);
    Warn(subject, "The program reads no key of this name, so the value has no effect" +
                      (nearest.empty() ? std::string(".")
                                       : "; did you mean " + nearest +
                                             (Lower(section) == Lower(known->name) ? "" : " in [" + section + "]") +
                                             "?"));
  }
}

void Checker::YesNo(const IniText& ini) {
  const std::pair<const char*, const char*> keys[] = {
      {"FTPSetup", "ProfileMode"},        {"FTPSetup", "QuietModeInstall"},
      {"FTPSetup", "QuietModeUnInstall"}, {"FTPSetup", "UsePersonalFolderAsWorkingDir"},
      {"FTPSetup", "UseAllUsersCommonFolderAsWorkingDir"},
      {"Program Group", "UseGroup"},      {"Program Group", "ShortCut"}};
  static const std::set<std::string> meantYes = {"1",  "true", "on", "t", "x", "enable", "enabled",
                                                 "ja", "oui",  "si", "-1", "+", "active"};
  for (auto [section, key] : keys) {
    std::string v = Value(ini, section, key);
    if (v.empty()) continue;
    char first = v[0];
    if (first == 'Y' || first == 'y' || first == 'N' || first == 'n') continue;
    if (meantYes.count(Lower(v)))
      Warn(Subject(section, key), "The value " + Quoted(v) +
                                      " reads as No: only a value starting with Y or y means Yes; write Y.");
    else
      Warn(Subject(section, key), "The value " + Quoted(v) +
                                      " does not start with Y or N; it reads as No (only Y or y means Yes).");
  }
}

void Checker::Values(const IniText& ini, const std::vector<Probe>& fresh, const std::vector<Probe>& previous) {
  // XP speaks for all where it was probed; a check of other editions only
  // (--windows 10-x64) takes the first of them.
  if (fresh.empty()) return;
  auto found = std::find_if(fresh.begin(), fresh.end(), [](const Probe& p) { return p.version == WindowsVersion::XP; });
  const Probe& xp = found != fresh.end() ? *found : fresh.front();
  const size_t kField = kPathSize - 1;

  // BaseRegistry: the first character decides.
  std::string base = Value(ini, "FTPSetup", "BaseRegistry");
  if (!base.empty() && base != "0" && base != "1" && base != "2")
    Warn(Subject("FTPSetup", "BaseRegistry"),
         "Only 0, 1 and 2 are meant; the program reads only the first character, so " + Quoted(base) +
             " gives " + std::to_string(xp.state.baseRegistry) + " (" +
             (xp.state.baseRegistry == 2 ? "the product key under HKEY_CURRENT_USER" :
                                           "the product key under HKEY_LOCAL_MACHINE") + ").");

  // Paths: too long, relative, protected.
  auto pathRule = [&](const char* key, const std::vector<Probe>& probes, auto field, const char* what) {
    std::string v = Value(ini, "FTPSetup", key);
    if (v.empty()) return;
    std::string subject = Subject("FTPSetup", key);
    std::vector<WindowsVersion> took, protectedOn;
    for (const Probe& p : probes) {
      std::string got = field(p.state);
      if (got == v) took.push_back(p.version);
    }
    if (v.size() > kField) {
      std::string got = field(xp.state);
      if (got == v.substr(0, kField))
        Error(subject, Quoted(v) + " is longer than the " + std::to_string(kField) +
                           " characters a path may have; the program cuts it and " + what + " " + Quoted(got) + ".");
      else
        Error(subject, Quoted(v) + " is longer than the " + std::to_string(kField) +
                           " characters a path may have; the program ignores it and " + what + " " +
                           (got.empty() ? std::string("its default") : Quoted(got)) + ".");
      return;
    }
    if (!IsFullPath(v))
      Error(subject, Quoted(v) + " is not a full path (drive and folder, or \\\\server\\share\\folder); the program "
                     "would resolve it against whatever directory Setup.exe is started from.");
    (void)took;
  };
  pathRule("DestinationDir", fresh, [](const SetupState& s) { return std::string(s.installDir); },
           "installs into");
  pathRule("SourceDir", fresh, [](const SetupState& s) { return std::string(s.sourceDir); },
           "takes the payload from");

  std::string dest = Value(ini, "FTPSetup", "DestinationDir");
  if (!dest.empty() && dest.size() <= kField && IsFullPath(dest)) {
    std::vector<WindowsVersion> on;
    for (const Probe& p : fresh)
      if (p.installDirProtected) on.push_back(p.version);
    if (!on.empty())
      Error(Subject("FTPSetup", "DestinationDir"),
            Quoted(dest) + " is a folder that removal protects (the Windows, system, Program Files, profile, "
            "documents or desktop folder, a drive root, or one above them) on " + Versions(on) +
            ": the product's files would be mixed with that folder's and removal would leave them.");
  }

  // WorkingDir: read only over a previous installation with an explicit
  // working directory.
  std::string work = Value(ini, "FTPSetup", "WorkingDir");
  if (!work.empty()) {
    std::string subject = Subject("FTPSetup", "WorkingDir");
    bool freshTakes = false, previousTakes = false;
    for (const Probe& p : fresh) freshTakes |= std::string(p.state.workingDir) == work;
    for (const Probe& p : previous) previousTakes |= std::string(p.state.workingDir) == work;
    if (work.size() > kField) {
      std::string got;
      for (const Probe& p : previous) got = p.state.workingDir;
      Error(subject, Quoted(work) + " is longer than the " + std::to_string(kField) +
                         " characters a path may have; where the program reads it, it " +
                         (got == work.substr(0, kField) ? "cuts it to " + Quoted(got) : "ignores it") + ".");
    } else if (!IsFullPath(work)) {
      Error(subject, Quoted(work) + " is not a full path; the program would resolve it against whatever "
                     "directory Setup.exe is started from.");
    }
    if (!freshTakes && previousTakes)
      Warn(subject, "The program reads WorkingDir only over a previous installation that recorded an explicit "
                    "working directory; on a new machine the working directory is " +
                        std::string(xp.state.workingDir) + " on Windows XP (the Documents folder followed by FTP).");
    else if (!freshTakes && !previousTakes && work.size() <= kField)
      Warn(subject, "WorkingDir has no effect with these settings: the working-directory keys or the "
                    "quiet installation decide the working directory.");
    std::vector<WindowsVersion> on;
    for (const Probe& p : previous)
      if (std::string(p.state.workingDir) == work && p.workingDirProtected) on.push_back(p.version);
    if (!on.empty())
      Error(subject, Quoted(work) + " is a folder that removal protects on " + Versions(on) +
                         "; removal would leave the product's data there.");
  }

  // The working-directory keys.
  auto yes = [&](const char* key) {
    std::string v = Value(ini, "FTPSetup", key);
    return !v.empty() && (v[0] == 'Y' || v[0] == 'y');
  };
  if (yes("UsePersonalFolderAsWorkingDir") && yes("UseAllUsersCommonFolderAsWorkingDir"))
    Warn(Subject("FTPSetup", "UseAllUsersCommonFolderAsWorkingDir"),
         "Both working-directory keys are Y; the personal folder wins and this key has no effect.");
  else if (yes("UseAllUsersCommonFolderAsWorkingDir")) {
    std::vector<WindowsVersion> ignored;
    for (const Probe& p : fresh)
      if (p.state.workingDirType != 2) ignored.push_back(p.version);
    if (!ignored.empty())
      Warn(Subject("FTPSetup", "UseAllUsersCommonFolderAsWorkingDir"),
           "The all-users documents folder is used only from Windows 2000 on; " + Versions(ignored) +
               " ignore the key and use the user's Documents folder followed by FTP.");
  }

  // Quiet keys.
  if (xp.state.quietInstall && xp.state.quietUninstall)
    Warn(Subject("FTPSetup", "QuietModeUnInstall"),
         "QuietModeInstall and QuietModeUnInstall are both set; only the installation runs.");
  if (xp.state.quietInstall && !xp.state.quietParamsComplete) {
    std::vector<std::string> missing;
    const std::pair<const char*, const char*> needed[] = {
        {"FTPSetup", "DestinationDir"}, {"Program Group", "UseGroup"},
        {"Program Group", "GroupName"}, {"Program Group", "ShortCut"}};
    for (auto [section, key] : needed)
      if (Value(ini, section, key).empty()) missing.push_back(Subject(section, key));
    std::string list;
    for (size_t i = 0; i < missing.size(); ++i) list += (i ? ", " : "") + missing[i];
    Warn(Subject("FTPSetup", "QuietModeInstall"),
         "The quiet installation is not fully silent: " + (list.empty() ? std::string("a key") : list) +
             (missing.size() == 1 ? " is" : " are") +
             " missing, so the installation's final message box appears and waits for OK on every machine.");
  }

  // The group name.
  std::string group = Value(ini, "Program Group", "GroupName");
  if (!group.empty()) {
    std::string got = xp.state.groupName;
    std::string subject = Subject("Program Group", "GroupName");
    if (group.size() > kGroupNameSize - 1) {
      if (got == group.substr(0, kGroupNameSize - 1))
        Warn(subject, Quoted(group) + " is longer than " + std::to_string(kGroupNameSize - 1) +
                          " characters; the program cuts it to " + Quoted(got) + ".");
      else
        Warn(subject, Quoted(group) + " is longer than " + std::to_string(kGroupNameSize - 1) +
                          " characters; the program ignores it and uses " + Quoted(got) + ".");
    }
    if (!xp.groupNamePlain && xp.state.useGroup)
      Warn(subject, Quoted(got) + " is not a plain folder name (it holds one of \\ / : * ? \" < > |, a control "
                    "character, or only dots and blanks), so no program group will be made.");
  }
}

void Checker::Encoding(const std::vector<uint8_t>& bytes, ::setupcheck::Encoding e, const IniText& ini,
                       const std::string& meant) {
  std::string first = ini.sections.empty() ? "" : ini.sections.front().first;
  bool firstOnLineOne = !ini.sections.empty() && ini.sections.front().second == 1;
  size_t firstKeys = 0;
  for (const IniLine& k : ini.keys)
    if (k.sectionIndex == 0 && Lower(k.section) == Lower(first) && k.value) ++firstKeys;
  switch (e) {
    case ::setupcheck::Encoding::Utf8Bom:
      if (firstOnLineOne && firstKeys > 0)
        Error("SETUP.INI", "The file starts with a UTF-8 byte-order mark; no Windows profile reader takes it, "
                           "so on every Windows version the mark joins the first line and section [" + first +
                           "] (" + std::to_string(firstKeys) + " keys) is not seen. Save the file as ANSI text.");
      else
        Warn("SETUP.INI", "The file starts with a UTF-8 byte-order mark, which Windows reads as text of the "
                          "first line; save the file as ANSI text.");
      break;
    case ::setupcheck::Encoding::Utf16Le:
      Warn("SETUP.INI", "The file is UTF-16 text; Windows 2000 and later read it, but Windows 95, 98 and NT 4.0 "
                        "read it as bytes and see no section or key, so there the program runs as if there "
                        "were no SETUP.INI. Save the file as ANSI text.");
      break;
    case ::setupcheck::Encoding::Utf16Be:
      Error("SETUP.INI", "The file is big-endian UTF-16 text, which no Windows profile reader takes: no section "
                         "or key is seen. Save the file as ANSI text.");
      break;
    default:
      break;
  }
  (void)bytes;
  // Non-ASCII values: the program reads them in the machine's ANSI code page.
  for (const IniLine& k : ini.keys) {
    if (!k.value || k.sectionIndex > 0 || !FindKnown(k.section)) continue;
    const std::string& v = *k.value;
    if (std::none_of(v.begin(), v.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) continue;
    std::string subject = Subject(FindKnown(k.section)->name, k.key);
    if (e == ::setupcheck::Encoding::Ansi && DecodeUtf8(v, nullptr))
      Warn(subject, "The value is UTF-8 text without a byte-order mark; Windows reads it in the machine's ANSI "
                    "code page, e.g. as \"" + Cp1252ToUtf8(v) + "\" under code page 1252.");
    else
      Warn(subject, "The value has characters beyond ASCII; they are read in each machine's ANSI code page, so "
                    "the same bytes give other letters under another code page (1250, 1251, 932, ...).");
  }
  (void)meant;
}

}  // namespace setupcheck
