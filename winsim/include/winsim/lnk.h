// Shell link (.lnk) files as the shell's link object writes them, for
// winsim's IPersistFile::Save. The bytes are a real shell-link file that
// Debian's lnkinfo reads back ("Local path", "Working directory",
// "Description").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

struct ShellLinkData {
  std::string target;       // local path of the target
  std::string workingDir;   // empty: not set
  std::string description;  // empty: not set
  std::string arguments;    // empty: not set
};

std::vector<uint8_t> BuildShellLink(const ShellLinkData& link);

// Reads back what BuildShellLink wrote (and the same fields of other simple
// links). Returns false for anything that is not a well-formed link.
bool ParseShellLink(const std::vector<uint8_t>& bytes, ShellLinkData& link);

}  // namespace winsim
