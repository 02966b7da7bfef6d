// Check(): reads the distribution and its SETUP.INI, asks the program how it
// reads the file on each Windows version, and runs each family of rules; with
// the findings' wording and the report's text.
#include "checker.h"
#include "check_manifest.h"

#include <winsim/machine.h>

#include "setup/setup.h"
#include "shell/shell.h"
#include "uninstall/uninstall.h"

#include <algorithm>
#include <fstream>

namespace setupcheck {

namespace fs = std::filesystem;
using winsim::Machine;
using winsim::WindowsVersion;

std::string Quoted(const std::string& s, size_t limit) {
  if (s.size() <= limit) return "\"" + s + "\"";
  return "\"" + s.substr(0, limit) + "...\" (" + std::to_string(s.size()) + " characters)";
}

std::string Subject(const std::string& section, const std::string& key) { return "[" + section + "] " + key; }

std::string Versions(const std::vector<WindowsVersion>& versions) {
  std::string out;
  for (size_t i = 0; i < versions.size(); ++i) {
    if (i) out += i + 1 == versions.size() ? " and " : ", ";
    out += "Windows " + VersionName(versions[i]);
  }
  return out;
}

void ReadStartingConfiguration(Machine& m) {
  m.SetProgramPath("C:\\dist\\Setup.exe");
  m.SetCurrentDir("C:\\dist");
  ResetSetupState();
  setupState.osVersion.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  GetVersionExA(&setupState.osVersion);
  GetCurrentDirectoryA(kPathSize, setupState.startDir);
  ReadSetupConfiguration();
}

namespace {

// Reads the configuration the way the program starts: SETUP.INI in C:\dist,
// the program C:\dist\Setup.exe. A previous installation with an explicit
// working directory is in place when asked for.
Probe Configure(WindowsVersion version, const std::vector<uint8_t>& ini, bool previous, bool standardUser) {
  Machine m(version);
  winsim::CurrentMachine use(m);
  if (standardUser) m.SetUser(winsim::UserKind::StandardUser);
  m.WriteBytes("C:\\dist\\SETUP.INI", ini);
  m.WriteText("C:\\dist\\Setup.exe", "");
  if (previous) {
    auto sz = [](const std::string& t) {
      std::vector<uint8_t> d(t.begin(), t.end());
      d.push_back(0);
      return d;
    };
    // The 32-bit program's key: under Wow6432Node on a 64-bit edition.
    auto [hive, key] = m.RedirectedKey(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP");
    m.SetRegValue(hive, key, "Installation Directory", REG_SZ, sz("C:\\Old\\FTP"));
    m.SetRegValue(hive, key, "WorkingDirType", REG_BINARY, {0});
    m.SetRegValue(HKEY_CURRENT_USER, "Software\\VORTAN\\FTP", "Installation Directory", REG_SZ,
                  sz("C:\\Old\\FTP"));
    m.SetRegValue(HKEY_CURRENT_USER, "Software\\VORTAN\\FTP", "WorkingDirType", REG_BINARY, {0});
  }
  ReadStartingConfiguration(m);
  Probe p{version, setupState, false, false, true, "", "", standardUser};
  p.installDirProtected = setupState.installDir[0] != '\0' && IsProtectedDirectory(setupState.installDir);
  p.workingDirProtected = setupState.workingDir[0] != '\0' && IsProtectedDirectory(setupState.workingDir);
  p.groupNamePlain = IsPlainGroupName(setupState.groupName);
  p.programFiles = m.ShellFolder(CSIDL_PROGRAM_FILES);
  p.personal = m.ShellFolder(CSIDL_PERSONAL);
  ResetSetupState();
  return p;
}

}  // namespace

int CheckReport::Status() const {
  int status = 0;
  for (const Finding& f : findings) status = std::max(status, static_cast<int>(f.severity));
  return status;
}

std::string CheckReport::Text() const {
  std::string out;
  static const char* const kSeverity[] = {"note", "warning", "error"};
  for (const Finding& f : findings)
    out += std::string(kSeverity[static_cast<int>(f.severity)]) + ": " + f.subject + ": " + f.text + "\n";
  size_t errors = std::count_if(findings.begin(), findings.end(),
                                [](const Finding& f) { return f.severity == Severity::Error; });
  size_t warnings = std::count_if(findings.begin(), findings.end(),
                                  [](const Finding& f) { return f.severity == Severity::Warning; });
  out += std::to_string(errors) + (errors == 1 ? " error, " : " errors, ") + std::to_string(warnings) +
         (warnings == 1 ? " warning\n" : " warnings\n");
  return out;
}

bool Check(const fs::path& dist, const std::optional<fs::path>& iniFile, const std::string& res,
           CheckReport* report, std::string* fatal, const CheckMachines& machines) {
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
  CheckManifest(files, &report->findings);

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
      for (WindowsVersion v : machines.versions.empty() ? AllVersions() : machines.versions) {
        fresh.push_back(Configure(v, meantBytes, false, machines.standardUser));
        previous.push_back(Configure(v, meantBytes, true, machines.standardUser));
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
