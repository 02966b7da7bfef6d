#include "check.h"

#include "play.h"

#include <szdd/szdd.h>
#include <winsim/cabinet.h>
#include <winsim/machine.h>

#include "setup/setup.h"
#include "shell/shell.h"
#include "uninstall/uninstall.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace setupcheck {

namespace fs = std::filesystem;
using winsim::Machine;
using winsim::WindowsVersion;

namespace {

// Blanks as the profile reader trims them.
bool IsBlank(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u == ' ' || u == '\t' || u == '\n' || u == '\v' || u == '\f' || u == '\r' || u == 0x1A;
}

std::string TrimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string Quoted(const std::string& s, size_t limit = 60) {
  if (s.size() <= limit) return "\"" + s + "\"";
  return "\"" + s.substr(0, limit) + "...\" (" + std::to_string(s.size()) + " characters)";
}

struct KnownSection {
  const char* name;
  std::vector<std::string> keys;
};

const std::vector<KnownSection>& Known() {
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
  for (const auto& k : Known())
    if (Lower(k.name) == Lower(section)) return &k;
  return nullptr;
}

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
  for (const auto& k : Known()) {
    size_t d = Distance(name, k.name);
    if (Near(name, k.name) && d < bestDistance) best = k.name, bestDistance = d;
  }
  return best;
}

// ---- Reading the file ----------------------------------------------------------

enum class Encoding { Ansi, Utf8Bom, Utf16Le, Utf16Be, Utf16NoMark, Binary };

Encoding Detect(const std::vector<uint8_t>& b) {
  if (b.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return Encoding::Utf8Bom;
  if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) return Encoding::Utf16Le;
  if (b.size() >= 2 && b[0] == 0xFE && b[1] == 0xFF) return Encoding::Utf16Be;
  size_t nuls = 0, oddNuls = 0, controls = 0;
  for (size_t i = 0; i < b.size(); ++i) {
    if (b[i] == 0) {
      ++nuls;
      oddNuls += i % 2;
    } else if (b[i] < 0x20 && b[i] != '\r' && b[i] != '\n' && b[i] != '\t' && b[i] != 0x1A) {
      ++controls;
    }
  }
  if (nuls > 0 && oddNuls * 10 >= nuls * 9 && nuls * 3 >= b.size()) return Encoding::Utf16NoMark;
  if (nuls > 0 || controls * 20 > b.size()) return Encoding::Binary;
  return Encoding::Ansi;
}

// Code page 1252 for 0x80..0x9F; the rest of the upper half is Latin-1.
const uint16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char ToCp1252(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == cp && cp != 0) return static_cast<char>(0x80 + i);
  return '?';
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Code page 1252 bytes as UTF-8, for showing on a terminal.
std::string Cp1252ToUtf8(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    uint32_t cp = c < 0x80 || c >= 0xA0 ? c : kCp1252High[c - 0x80];
    AppendUtf8(out, cp ? cp : '?');
  }
  return out;
}

// Decodes UTF-8; false when the bytes are not UTF-8 with at least one
// character beyond ASCII.
bool DecodeUtf8(const std::string& s, std::vector<uint32_t>* out) {
  bool wide = false;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (n < 0 || i + n >= s.size() + (n ? 0 : 1)) return false;
    uint32_t cp = n == 0 ? c : c & (0x3F >> n);
    for (int k = 1; k <= n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    wide |= n > 0;
    if (out) out->push_back(cp);
    i += static_cast<size_t>(n) + 1;
  }
  return wide;
}

// The text the writer meant, as ANSI (code page 1252) text.
std::string MeantText(const std::vector<uint8_t>& b, Encoding e) {
  std::string out;
  if (e == Encoding::Utf8Bom) {
    std::string rest(b.begin() + 3, b.end());
    std::vector<uint32_t> cps;
    if (!DecodeUtf8(rest, &cps)) return rest;
    for (uint32_t cp : cps) out += ToCp1252(cp);
    return out;
  }
  if (e == Encoding::Utf16Le || e == Encoding::Utf16Be || e == Encoding::Utf16NoMark) {
    bool le = e != Encoding::Utf16Be;
    for (size_t i = e == Encoding::Utf16NoMark ? 0 : 2; i + 1 < b.size(); i += 2)
      out += ToCp1252(le ? b[i] | (b[i + 1] << 8) : (b[i] << 8) | b[i + 1]);
    return out;
  }
  return std::string(b.begin(), b.end());
}

struct IniLine {
  int number;
  std::string section;  // as written
  int sectionIndex;     // which occurrence of the section (0 = the first)
  std::string key;
  std::optional<std::string> value;
};

struct IniText {
  std::vector<std::pair<std::string, int>> sections;  // name, line
  std::vector<IniLine> keys;
  std::vector<int> outside;  // lines before the first section
};

IniText ParseMeant(const std::string& text) {
  IniText ini;
  std::map<std::string, int> seen;
  std::string section;
  int index = -1, number = 0;
  std::stringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    ++number;
    std::string t = TrimBlanks(line);
    if (t.empty() || t[0] == ';') continue;
    if (t[0] == '[' && t.rfind(']') != std::string::npos) {
      section = t.substr(1, t.rfind(']') - 1);
      index = seen[Lower(section)]++;
      ini.sections.push_back({section, number});
      continue;
    }
    if (index < 0) {
      ini.outside.push_back(number);
      continue;
    }
    IniLine k{number, section, index, t, std::nullopt};
    size_t eq = t.find('=');
    if (eq != std::string::npos) {
      k.key = TrimBlanks(t.substr(0, eq));
      std::string v = TrimBlanks(t.substr(eq + 1));
      if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
      k.value = v;
    }
    ini.keys.push_back(k);
  }
  return ini;
}

// The value the program reads for a key: the first one of the first section.
std::string Value(const IniText& ini, const std::string& section, const std::string& key) {
  for (const IniLine& k : ini.keys)
    if (k.sectionIndex == 0 && Lower(k.section) == Lower(section) && Lower(k.key) == Lower(key) && k.value)
      return *k.value;
  return "";
}

std::string Subject(const std::string& section, const std::string& key) { return "[" + section + "] " + key; }

// ---- Asking the program ------------------------------------------------------------

// What the program's configuration reading leaves on one machine.
struct Probe {
  WindowsVersion version;
  SetupState state;
  bool installDirProtected = false;
  bool workingDirProtected = false;
  bool groupNamePlain = true;
  std::string programFiles, personal;
};

// Reads the configuration the way the program starts: SETUP.INI in C:\dist,
// the program C:\dist\Setup.exe. A previous installation with an explicit
// working directory is in place when asked for.
Probe Configure(WindowsVersion version, const std::vector<uint8_t>& ini, bool previous) {
  Machine m(version);
  winsim::CurrentMachine use(m);
  m.WriteBytes("C:\\dist\\SETUP.INI", ini);
  m.WriteText("C:\\dist\\Setup.exe", "");
  if (previous) {
    auto sz = [](const std::string& t) {
      std::vector<uint8_t> d(t.begin(), t.end());
      d.push_back(0);
      return d;
    };
    m.SetRegValue(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP", "Installation Directory", REG_SZ,
                  sz("C:\\Old\\FTP"));
    m.SetRegValue(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP", "WorkingDirType", REG_BINARY, {0});
    m.SetRegValue(HKEY_CURRENT_USER, "Software\\VORTAN\\FTP", "Installation Directory", REG_SZ,
                  sz("C:\\Old\\FTP"));
    m.SetRegValue(HKEY_CURRENT_USER, "Software\\VORTAN\\FTP", "WorkingDirType", REG_BINARY, {0});
  }
  m.SetProgramPath("C:\\dist\\Setup.exe");
  m.SetCurrentDir("C:\\dist");
  ResetSetupState();
  setupState.osVersion.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  GetVersionExA(&setupState.osVersion);
  GetCurrentDirectoryA(kPathSize, setupState.startDir);
  ReadSetupConfiguration();
  Probe p{version, setupState, false, false, true, "", ""};
  p.installDirProtected = setupState.installDir[0] != '\0' && IsProtectedDirectory(setupState.installDir);
  p.workingDirProtected = setupState.workingDir[0] != '\0' && IsProtectedDirectory(setupState.workingDir);
  p.groupNamePlain = IsPlainGroupName(setupState.groupName);
  p.programFiles = m.ShellFolder(CSIDL_PROGRAM_FILES);
  p.personal = m.ShellFolder(CSIDL_PERSONAL);
  ResetSetupState();
  return p;
}

std::string Versions(const std::vector<WindowsVersion>& versions) {
  std::string out;
  for (size_t i = 0; i < versions.size(); ++i) {
    if (i) out += i + 1 == versions.size() ? " and " : ", ";
    out += "Windows " + VersionName(versions[i]);
  }
  return out;
}

class Checker {
 public:
  Checker(CheckReport* report) : report_(report) {}
  void Warn(const std::string& subject, const std::string& text) {
    report_->findings.push_back({Severity::Warning, subject, text});
  }
  void Error(const std::string& subject, const std::string& text) {
    report_->findings.push_back({Severity::Error, subject, text});
  }

  void Names(const IniText& ini);
  void YesNo(const IniText& ini);
  void Values(const IniText& ini, const std::vector<Probe>& fresh, const std::vector<Probe>& previous);
  void Encoding(const std::vector<uint8_t>& bytes, ::setupcheck::Encoding e, const IniText& ini,
                const std::string& meant);
  void Distribution(const setupcheck::Distribution& dist);
  void Played(const IniText& ini, const setupcheck::Distribution& dist, const std::string& iniText,
              const std::string& res, const std::vector<Probe>& fresh);

 private:
  CheckReport* report_;
};

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
    for (const auto& other : Known())
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

bool IsFullPath(const std::string& p) {
  if (p.size() >= 3 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':' && p[2] == '\\') return true;
  if (p.size() > 2 && p[0] == '\\' && p[1] == '\\') return p.find('\\', 2) != std::string::npos;
  return false;
}

void Checker::Values(const IniText& ini, const std::vector<Probe>& fresh, const std::vector<Probe>& previous) {
  const Probe& xp = fresh[std::find_if(fresh.begin(), fresh.end(), [](const Probe& p) {
                            return p.version == WindowsVersion::XP;
                          }) - fresh.begin()];
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

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && Lower(s.substr(s.size() - suffix.size())) == Lower(suffix);
}

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
                              Versions(failed) + (failureBoxes.empty() ? "." : " (boxes: " + failureBoxes + ")."));
  for (const std::string& name : config)
    if (LooksUnmeant(name))
      Warn(name, "This file is copied into the installation's Config folder with the configuration files; "
                 "it does not look meant to be shipped.");
  (void)dist;
}

}  // namespace

std::string NearestKnownKey(const std::string& name, std::string* section) {
  std::string best;
  size_t bestDistance = SIZE_MAX;
  for (const auto& k : Known())
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

int CheckReport::Status() const {
  int status = 0;
  for (const Finding& f : findings) status = std::max(status, static_cast<int>(f.severity));
  return status;
}

std::string CheckReport::Text() const {
  std::string out;
  for (const Finding& f : findings)
    out += std::string(f.severity == Severity::Error ? "error" : "warning") + ": " + f.subject + ": " + f.text + "\n";
  size_t errors = std::count_if(findings.begin(), findings.end(),
                                [](const Finding& f) { return f.severity == Severity::Error; });
  size_t warnings = findings.size() - errors;
  out += std::to_string(errors) + (errors == 1 ? " error, " : " errors, ") + std::to_string(warnings) +
         (warnings == 1 ? " warning\n" : " warnings\n");
  return out;
}

bool Check(const fs::path& dist, const std::optional<fs::path>& iniFile, const std::string& res,
           CheckReport* report, std::string* fatal) {
  Checker c(report);
  std::error_code ec;
  if (!fs::exists(dist, ec)) {
    *fatal = dist.string() + ": no such directory";
    return false;
  }
  if (!fs::is_directory(dist, ec)) {
    *fatal = dist.string() + ": not a directory";
    return false;
  }
  // SETUP.INI: the one given, or the distribution's (any case, as Windows
  // finds it).
  std::optional<fs::path> ini = iniFile;
  if (!ini) {
    for (fs::directory_iterator it(dist, ec), end; !ec && it != end; it.increment(ec))
      if (Lower(it->path().filename().string()) == "setup.ini") ini = it->path();
    if (ec) {
      *fatal = dist.string() + ": cannot list the directory: " + ec.message();
      return false;
    }
  }
  std::vector<uint8_t> bytes;
  bool readIni = false;
  if (!ini) {
    c.Warn("SETUP.INI", "The distribution has no SETUP.INI: every machine shows the wizard.");
  } else if (!fs::exists(*ini, ec)) {
    *fatal = ini->string() + ": no such file";
    return false;
  } else if (!fs::is_regular_file(*ini, ec)) {
    *fatal = ini->string() + ": not a regular file";
    return false;
  } else {
    uintmax_t size = fs::file_size(*ini, ec);
    std::ifstream in(*ini, std::ios::binary);
    if (ec || !in) {
      *fatal = ini->string() + ": cannot be read";
      return false;
    }
    if (size > kMaxIniBytes) {
      c.Error("SETUP.INI", "The file is " + std::to_string(size) + " bytes, far more than any configuration; it "
              "is not an INI file an administrator wrote, and it is not checked further.");
    } else {
      bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (in.bad()) {
        *fatal = ini->string() + ": cannot be read";
        return false;
      }
      readIni = true;
    }
  }

  setupcheck::Distribution files;
  std::string why;
  if (!ReadDistribution(dist, &files, &why)) {
    *fatal = why;
    return false;
  }
  c.Distribution(files);

  if (readIni) {
    ::setupcheck::Encoding e = Detect(bytes);
    if (e == ::setupcheck::Encoding::Binary) {
      c.Error("SETUP.INI", "The file is not text (it holds NUL or control bytes); the program would read "
                           "nothing sensible from it. It is not checked further.");
      readIni = false;
    } else if (e == ::setupcheck::Encoding::Utf16NoMark) {
      c.Error("SETUP.INI", "The file is UTF-16 text without a byte-order mark; no Windows profile reader takes "
                           "it, so no section or key is seen. Save the file as ANSI text.");
      readIni = false;
    }
    if (readIni) {
      std::string meant = MeantText(bytes, e);
      IniText parsed = ParseMeant(meant);
      std::vector<uint8_t> meantBytes(meant.begin(), meant.end());
      std::vector<Probe> fresh, previous;
      // Values are judged on what the writer meant; the encoding rule says
      // which systems do not see it so.
      for (WindowsVersion v : AllVersions()) {
        fresh.push_back(Configure(v, meantBytes, false));
        previous.push_back(Configure(v, meantBytes, true));
      }
      c.Names(parsed);
      c.YesNo(parsed);
      c.Values(parsed, fresh, previous);
      c.Encoding(bytes, e, parsed, meant);
      c.Played(parsed, files, meant, res, fresh);
    }
  }
  return true;
}

}  // namespace setupcheck
