// setupcheck's preview: the runs an administrator's SETUP.INI leads to,
// played on simulated machines, shown for a person or as JSON.
#pragma once

#include "play.h"

#include <optional>
#include <string>
#include <vector>

namespace setupcheck {

struct PreviewRequest {
  std::string ini;                 // SETUP.INI as written ("" for none)
  bool remove = false;             // then a removal
  bool wizard = false;             // through the wizard, with its defaults
  std::optional<int> answer;       // IDYES or IDNO for the Yes/No questions
  bool standardUser = false;       // run by a standard user (7 and later)
};

// The scenario a preview plays on one version. The installation run reads
// the file as it is (through the wizard with its defaults when it asks for
// no quiet run, or when the wizard is asked for: the quiet keys are then
// left out). The removal run reads the same file with QuietModeInstall left
// out and QuietModeUnInstall=Y, or neither for the wizard's Uninstall.
Scenario PreviewScenario(const PreviewRequest& request, winsim::WindowsVersion version);

// The compiled resources the wizard needs, as built with this tool ("" when
// the build had no resource compiler).
std::string ResourcePath();

struct VersionDump {
  winsim::WindowsVersion version;
  Dump dump;
  bool standardUser = false;
};

// For a person: one version in full; several side by side, listing only
// what differs between them. Machine folders are placeholders.
std::string RenderText(const std::vector<VersionDump>& runs);
std::string RenderJson(const std::vector<VersionDump>& runs);

// A dump line with the machine's folders as placeholders (<Program Files>,
// <Documents>, ...) and the installation directory written out.
std::string Placeholders(const std::string& line, const std::string& installDir);

}  // namespace setupcheck
