// A scenario of the parity harness and of setupcheck's preview: the starting
// state, the SETUP.INI of each run and the user's answers and wizard steps
// (the format is described in tests/scenarios/README.md), with the Windows
// versions winsim plays and the plain-text readers the files need.
#pragma once

#include <winsim/machine.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace setupcheck {

// ASCII lower case, and the text without leading and trailing blanks and
// line ends: the scenario files' and the tool's own comparisons.
std::string Lower(std::string s);
std::string Trim(const std::string& s);

// A starting state and the runs to play (the format is described in
// tests/scenarios/README.md).
struct Scenario {
  std::string name;
  std::string windows;                 // 95, 98, NT4, 2000, XP, 7, 10, XP x64, 7 x64, 8.1 x64, 10 x64, 11 x64
  bool standardUser = false;           // user: standard (7 and later; winsim's alone, Wine enforces no rights)
  std::string installIni, removeIni;   // the SETUP.INI of each run
  bool hasInstall = false, hasRemove = false;
  std::vector<std::string> missing;    // distribution files taken away
  std::string held;                    // relative to the installation directory
  struct Seed { HKEY hive; std::string key, name; DWORD type; std::vector<uint8_t> data; };
  std::vector<Seed> registry;          // values in place before the first run
  std::vector<std::string> readonly;   // read-only files made in the installation directory first
  std::map<std::string, std::vector<std::string>> answers;  // caption -> answers in turn
  std::optional<int> yesNoAnswer;      // for Yes/No boxes nobody scripted (IDYES or IDNO)
  std::string group;                   // the group the dump shows, when not SETUP.INI's
  std::string workdir;                 // an explicit working directory, dumped as well
  bool noProgman = false;              // no Program Manager DDE service through both runs
  bool removerInstalled = false;       // the removal run is the installed UNINS.EXE, no SETUP.INI
  std::vector<std::string> plants;     // programs planted before the first run; none may start
  std::string installWizard, removeWizard;  // the user's steps in that run's wizard
  std::string error;                   // why the file is unusable
};

Scenario ParseScenario(const std::string& text, const std::string& name);
Scenario ReadScenario(const std::filesystem::path& file);

// The user's steps in the Wine driver's words, read as the driver reads them
// (lib/userscript), as winsim's scripted user; steps that cannot be played
// go to *errors.
std::vector<winsim::UserAction> WizardSteps(const std::string& text, std::vector<std::string>* errors);

// The wizard's defaults as a user who only agrees and presses on would take
// them: installation, and removal through page 1's Uninstall.
extern const char kDefaultInstallWizard[];
extern const char kDefaultRemoveWizard[];

std::optional<winsim::WindowsVersion> VersionOf(const std::string& name);
std::string VersionName(winsim::WindowsVersion version);
const std::vector<winsim::WindowsVersion>& AllVersions();  // the 32-bit editions
const std::vector<winsim::WindowsVersion>& AllEditions();  // and the 64-bit ones
// A standard user exists from Windows Vista on (7 and later here).
bool HasUserKinds(winsim::WindowsVersion version);

// The value the profile reader gives for a plain ANSI text (first matching
// section and key, without regard to case).
std::string IniValue(const std::string& ini, const std::string& section, const std::string& key);

}  // namespace setupcheck
