// setupcheck's check: what an administrator should know about a distribution
// and its SETUP.INI before deploying it. Each rule asks the real program code
// where it can (the configuration the program reads on each Windows version,
// the folders its removal protects, a played installation), so the findings
// say what the program on this tree does.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <winsim/machine.h>

namespace winsim {
class Machine;
}

namespace setupcheck {

// A note informs and changes no exit status.
enum class Severity { Note = 0, Warning = 1, Error = 2 };

struct Finding {
  Severity severity;
  std::string subject;  // the key ("[FTPSetup] DestinationDir") or the file
  std::string text;     // one plain sentence of why
};

struct CheckReport {
  std::vector<Finding> findings;
  // 0 nothing to report, 1 warnings, 2 errors.
  int Status() const;
  std::string Text() const;
};

// The largest SETUP.INI checked; a larger file is reported and not read.
constexpr size_t kMaxIniBytes = 64 * 1024;

// Checks the distribution in dist and its SETUP.INI (or iniFile). False with
// *fatal when the check cannot be made at all (no such directory, ...).
// The machines the check probes: the editions (none named: the 32-bit
// ones) and whether a standard user runs the program there.
struct CheckMachines {
  std::vector<winsim::WindowsVersion> versions;
  bool standardUser = false;
};

bool Check(const std::filesystem::path& dist, const std::optional<std::filesystem::path>& iniFile,
           const std::string& res, CheckReport* report, std::string* fatal, const CheckMachines& machines = {});

// A section the program reads from SETUP.INI, with every key it reads there
// as the program spells it.
struct KnownSection {
  const char* name;
  std::vector<std::string> keys;
};
const std::vector<KnownSection>& KnownSections();

// The nearest known key of any section for an unknown name ("" when none is
// near): "DestinationDirectory" gives "DestinationDir".
std::string NearestKnownKey(const std::string& name, std::string* section);

// Reads the configuration into setupState as the program does when it
// starts as C:\dist\Setup.exe in C:\dist on m, the machine in use (the
// check's probe of each Windows version).
void ReadStartingConfiguration(winsim::Machine& m);

}  // namespace setupcheck
