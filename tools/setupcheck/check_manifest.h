// The check's rules for a distribution's manifest and Setup.exe's signature.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "check.h"
#include "play.h"

namespace setupcheck {

// The manifest tools/mkdist writes beside the distribution's files. Its name
// ends in '_', so the installation does not copy it into Config.
constexpr char kManifestName[] = "Manifest.sha256_";

struct ManifestEntry {
  std::string sha256;  // 64 hexadecimal digits
  uint64_t size = 0;
  std::string path;    // relative, folders joined by backslashes
};

// The entries of a manifest's text: "SHA256 SIZE PATH" lines, '#' comments,
// CR LF or LF line ends. False with *badLine (from 1) at the first line that
// is neither.
bool ParseManifest(const std::string& text, std::vector<ManifestEntry>* entries, size_t* badLine);

// SHA-256 as 64 lowercase hexadecimal digits.
std::string Sha256Hex(const uint8_t* data, size_t size);

enum class Signature { None, Authenticode, Damaged, NotAProgram };
// What the certificate table of a PE file holds.
Signature AuthenticodeSignature(const std::vector<uint8_t>& exe);

// Findings on the manifest (files changed, missing or not listed; a note
// when there is none) and on Setup.exe's signature.
void CheckManifest(const Distribution& dist, std::vector<Finding>* findings);

}  // namespace setupcheck
