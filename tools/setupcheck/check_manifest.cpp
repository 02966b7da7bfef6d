// The check's rules for a distribution's manifest (Manifest.sha256_, which
// tools/mkdist writes: SHA-256, size and path of every file it wrote but
// SETUP.INI and its template) and for the Authenticode signature of
// Setup.exe, whose validity is osslsigncode verify's to judge.
#include "check_manifest.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <map>

namespace setupcheck {

namespace {

// FIPS 180-4, section 6.2.
const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t Rotate(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void Block(std::array<uint32_t, 8>& h, const uint8_t* p) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i)
    w[i] = uint32_t(p[4 * i]) << 24 | uint32_t(p[4 * i + 1]) << 16 | uint32_t(p[4 * i + 2]) << 8 | p[4 * i + 3];
  for (int i = 16; i < 64; ++i) {
    uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
    uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], k = h[7];
  for (int i = 0; i < 64; ++i) {
    uint32_t t1 = k + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
    uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    k = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
  h[5] += f;
  h[6] += g;
  h[7] += k;
}

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

bool IsHex(const std::string& s) {
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

}  // namespace

std::string Sha256Hex(const uint8_t* data, size_t size) {
  std::array<uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                               0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  size_t full = size - size % 64;
  for (size_t at = 0; at < full; at += 64) Block(h, data + at);
  uint8_t tail[128] = {};
  size_t rest = size - full;
  if (rest) std::memcpy(tail, data + full, rest);
  tail[rest] = 0x80;
  size_t tailSize = rest + 9 <= 64 ? 64 : 128;
  uint64_t bits = uint64_t(size) * 8;
  for (int i = 0; i < 8; ++i) tail[tailSize - 1 - i] = uint8_t(bits >> (8 * i));
  for (size_t at = 0; at < tailSize; at += 64) Block(h, tail + at);
  std::string out;
  char hex[9];
  for (uint32_t word : h) {
    std::snprintf(hex, sizeof hex, "%08x", word);
    out += hex;
  }
  return out;
}

Signature AuthenticodeSignature(const std::vector<uint8_t>& exe) {
  // PE Format (Microsoft): e_lfanew at 0x3C; the certificate table is data
  // directory 4 of the optional header, a file offset and a size; each
  // WIN_CERTIFICATE starts with its length, revision and type.
  if (exe.size() < 0x40 || exe[0] != 'M' || exe[1] != 'Z') return Signature::NotAProgram;
  size_t pe = Le32(exe, 0x3C);
  if (pe > exe.size() || exe.size() - pe < 24 + 2 || std::memcmp(&exe[pe], "PE\0\0", 4) != 0)
    return Signature::NotAProgram;
  size_t optional = pe + 24;
  uint16_t magic = Le16(exe, optional);
  size_t directories;
  if (magic == 0x10B)
    directories = optional + 96;
  else if (magic == 0x20B)
    directories = optional + 112;
  else
    return Signature::NotAProgram;
  size_t entry = directories + 4 * 8;
  if (entry + 8 > exe.size() || Le32(exe, directories - 4) < 5) return Signature::None;
  uint32_t offset = Le32(exe, entry), size = Le32(exe, entry + 4);
  if (offset == 0 && size == 0) return Signature::None;
  if (offset > exe.size() || size > exe.size() - offset || size < 8) return Signature::Damaged;
  uint32_t length = Le32(exe, offset);
  uint16_t revision = Le16(exe, offset + 4), type = Le16(exe, offset + 6);
  if (length < 8 || length > size || revision != 0x0200) return Signature::Damaged;
  // WIN_CERT_TYPE_PKCS_SIGNED_DATA: an Authenticode signature.
  return type == 0x0002 ? Signature::Authenticode : Signature::Damaged;
}

bool ParseManifest(const std::string& text, std::vector<ManifestEntry>* entries, size_t* badLine) {
  size_t line = 0, at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string s = text.substr(at, end - at);
    at = end + 1;
    ++line;
    if (!s.empty() && s.back() == '\r') s.pop_back();
    if (s.empty() || s[0] == '#') continue;
    size_t first = s.find(' '), second = first == std::string::npos ? first : s.find(' ', first + 1);
    ManifestEntry e;
    bool ok = first == 64 && second != std::string::npos && second > first + 1 && second + 1 < s.size();
    if (ok) {
      e.sha256 = s.substr(0, 64);
      std::string size = s.substr(first + 1, second - first - 1);
      ok = IsHex(e.sha256) && size.size() <= 19 && size.find_first_not_of("0123456789") == std::string::npos;
      if (ok) {
        e.size = std::stoull(size);
        e.path = s.substr(second + 1);
      }
    }
    if (!ok) {
      *badLine = line;
      return false;
    }
    entries->push_back(e);
  }
  return true;
}

void CheckManifest(const Distribution& dist, std::vector<Finding>* findings) {
  const std::vector<uint8_t>* manifest = nullptr;
  std::map<std::string, const std::pair<std::string, std::vector<uint8_t>>*> byName;
  for (const auto& file : dist.files) {
    std::string low = LowerAscii(file.first);
    if (low == LowerAscii(kManifestName))
      manifest = &file.second;
    else
      byName[low] = &file;
  }
  if (auto setup = byName.find("setup.exe"); setup != byName.end()) {
    const auto* file = setup->second;
    switch (AuthenticodeSignature(file->second)) {
      case Signature::Authenticode:
        findings->push_back({Severity::Note, file->first,
                             "Setup.exe carries an Authenticode signature; whether it is valid, and whose it is, "
                             "osslsigncode verify tells."});
        break;
      case Signature::Damaged:
        findings->push_back({Severity::Error, file->first,
                             "The certificate table of Setup.exe is damaged: Windows takes the program as "
                             "unsigned or refuses it."});
        break;
      case Signature::None:
        findings->push_back({Severity::Note, file->first,
                             "Setup.exe carries no Authenticode signature: Windows names no publisher when it "
                             "asks to run it (tools/mkdist --sign-key signs it)."});
        break;
      case Signature::NotAProgram:
        break;  // the distribution rules say what is wrong with it
    }
  }
  if (!manifest) {
    findings->push_back({Severity::Note, kManifestName,
                         "The distribution has no manifest, so a damaged or incomplete copy cannot be told from "
                         "the one that was built (tools/mkdist writes it)."});
    return;
  }
  std::vector<ManifestEntry> entries;
  size_t badLine = 0;
  if (!ParseManifest(std::string(manifest->begin(), manifest->end()), &entries, &badLine)) {
    findings->push_back({Severity::Error, kManifestName,
                         "Line " + std::to_string(badLine) +
                             " is no \"SHA-256 size path\" entry: the manifest is damaged, so the distribution "
                             "cannot be checked against it."});
    return;
  }
  std::map<std::string, bool> listed;
  for (const ManifestEntry& e : entries) {
    std::string low = LowerAscii(e.path);
    listed[low] = true;
    auto it = byName.find(low);
    if (it == byName.end()) {
      findings->push_back({Severity::Error, e.path,
                           "The manifest lists this file but the distribution lacks it: the copy is incomplete."});
      continue;
    }
    const std::vector<uint8_t>& bytes = it->second->second;
    if (bytes.size() != e.size || Sha256Hex(bytes.data(), bytes.size()) != LowerAscii(e.sha256))
      findings->push_back({Severity::Error, it->second->first,
                           "The file is not the one the manifest lists (" +
                               std::string(bytes.size() != e.size ? "size" : "SHA-256") +
                               "): it was damaged or changed after the distribution was made."});
  }
  for (const auto& [low, file] : byName) {
    // Administrators edit SETUP.INI; the template has a finding of its own.
    if (listed.count(low) || low == "setup.ini" || low == "setup.ini.template") continue;
    findings->push_back({Severity::Warning, file->first,
                         "The manifest does not list this file: it was added after the distribution was made, and "
                         "the installation copies it along with the product's files."});
  }
}

}  // namespace setupcheck
