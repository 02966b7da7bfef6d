// Plays runs of the real setup program on a simulated machine and writes the
// canonical dump of what they leave: boxes, processes, registry, files,
// shell and restart-time operations. The parity tests compare this dump with
// the one taken under Wine, and setupcheck's preview shows it, so a preview
// says only what the parity tests hold against Wine.
#pragma once

#include "scenario.h"

#include <winsim/machine.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace setupcheck {

// What the runs left.
struct Dump {
  std::string name;
  // boxes, processes, registry, files, shell, restart: in that order.
  std::vector<std::pair<std::string, std::vector<std::string>>> sections;
  // Per run: "install | installed", "remove | restart required", ...
  std::vector<std::string> outcome;
  // Why the play itself went wrong (a wizard step that could not be taken,
  // a resource file missing); empty when it went as scripted.
  std::vector<std::string> errors;
  std::string Text() const;  // the canonical dump the parity comparison reads
};

// A distribution directory of the host, read once: its directories and
// files relative to it, with '\\' separators.
struct Distribution {
  std::vector<std::string> dirs;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
};
// False with *why when the directory cannot be read.
bool ReadDistribution(const std::filesystem::path& dir, Distribution* out, std::string* why);

// Lays the distribution out in C:\dist. QXFTP.DL_ becomes a loadable
// stand-in of the server (winsim loads only its own DLL images).
void SeedDistribution(winsim::Machine& m, const Distribution& dist);

// Plays the scenario on a fresh machine of its Windows version holding the
// distribution; res is the compiled resource file the wizard needs ("" when
// there is none: a wizard run then fails with a note in errors).
Dump Play(const Scenario& s, const Distribution& dist, const std::string& res);

}  // namespace setupcheck
