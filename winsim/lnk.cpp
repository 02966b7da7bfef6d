#include "winsim/lnk.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace winsim {
namespace {

// Shell link layout (little-endian throughout): a 76-byte header carrying the
// shell link CLSID and the flags that say which parts follow, then in order
// the item ID list, the LinkInfo (volume and local path of the target), the
// counted strings (description, relative path, working directory, arguments,
// icon location) and the extra data blocks, ended by a zero 32-bit size.
constexpr uint32_t kHeaderSize = 0x4C;
constexpr uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

constexpr uint32_t kHasLinkTargetIdList = 0x01;
constexpr uint32_t kHasLinkInfo = 0x02;
constexpr uint32_t kHasName = 0x04;
constexpr uint32_t kHasRelativePath = 0x08;
constexpr uint32_t kHasWorkingDir = 0x10;
constexpr uint32_t kHasArguments = 0x20;
constexpr uint32_t kHasIconLocation = 0x40;
constexpr uint32_t kIsUnicode = 0x80;

constexpr uint32_t kVolumeIdAndLocalBasePath = 0x01;
constexpr uint32_t kLinkInfoHeaderSize = 0x1C;
constexpr uint32_t kDriveFixed = 3;
constexpr uint32_t kShowNormal = 1;
constexpr uint32_t kFileAttributeArchive = 0x20;

// The strings the program hands the ANSI link interface are in the Windows
// code page 1252; the link file stores UTF-16. Only 0x80..0x9F differ from
// Latin-1 (0 marks the five unassigned bytes).
constexpr std::array<uint16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint16_t AnsiToUnit(uint8_t c) {
  if (c >= 0x80 && c <= 0x9F) {
    const uint16_t u = kCp1252High[c - 0x80];
    return u ? u : c;  // unassigned bytes map to the same C1 code, as Windows does
  }
  return c;
}

char UnitToAnsi(uint16_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<char>(u);
  for (size_t i = 0; i < kCp1252High.size(); ++i) {
    if (kCp1252High[i] == u) return static_cast<char>(0x80 + i);
  }
  if (u >= 0x80 && u <= 0x9F) return static_cast<char>(u);
  return '?';
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void Set32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A counted string: 16-bit character count, then the characters, no NUL.
void PutCountedString(std::vector<uint8_t>& out, const std::string& s) {
  const size_t count = std::min<size_t>(s.size(), 0xFFFF);
  Put16(out, static_cast<uint32_t>(count));
  for (size_t i = 0; i < count; ++i) Put16(out, AnsiToUnit(static_cast<uint8_t>(s[i])));
}

// Bounds-checked reader over the link's bytes.
class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& b) : b_(b) {}
  bool Has(size_t at, size_t n) const { return at <= b_.size() && n <= b_.size() - at; }
  uint32_t U16(size_t at) const { return b_[at] | b_[at + 1] << 8; }
  uint32_t U32(size_t at) const { return U16(at) | U16(at + 2) << 16; }
  // NUL-terminated ANSI string that must end before limit.
  bool CString(size_t at, size_t limit, std::string& s) const {
    s.clear();
    for (size_t i = at; i < limit && i < b_.size(); ++i) {
      if (b_[i] == 0) return true;
      s.push_back(static_cast<char>(b_[i]));
    }
    return false;
  }
  const std::vector<uint8_t>& bytes() const { return b_; }

 private:
  const std::vector<uint8_t>& b_;
};

bool ReadCountedString(const Reader& r, size_t& at, bool unicode, std::string& s) {
  if (!r.Has(at, 2)) return false;
  const size_t count = r.U16(at);
  at += 2;
  const size_t unit = unicode ? 2 : 1;
  if (!r.Has(at, count * unit)) return false;
  s.clear();
  for (size_t i = 0; i < count; ++i) {
    s.push_back(unicode ? UnitToAnsi(static_cast<uint16_t>(r.U16(at + 2 * i)))
                        : static_cast<char>(r.bytes()[at + i]));
  }
  at += count * unit;
  return true;
}

bool ParseLinkInfo(const Reader& r, size_t at, size_t& size, std::string& target) {
  if (!r.Has(at, kLinkInfoHeaderSize)) return false;
  size = r.U32(at);
  const uint32_t headerSize = r.U32(at + 4);
  if (size < kLinkInfoHeaderSize || !r.Has(at, size) || headerSize < kLinkInfoHeaderSize ||
      headerSize > size) {
    return false;
  }
  const uint32_t flags = r.U32(at + 8);
  if (!(flags & kVolumeIdAndLocalBasePath)) return true;  // network-only target: no local path
  const uint32_t baseOffset = r.U32(at + 16);
  const uint32_t suffixOffset = r.U32(at + 24);
  std::string base, suffix;
  if (baseOffset >= size || suffixOffset >= size) return false;
  if (!r.CString(at + baseOffset, at + size, base)) return false;
  if (!r.CString(at + suffixOffset, at + size, suffix)) return false;
  target = base + suffix;
  return true;
}

}  // namespace

std::vector<uint8_t> BuildShellLink(const ShellLinkData& link) {
  uint32_t flags = kHasLinkInfo | kIsUnicode;
  if (!link.description.empty()) flags |= kHasName;
  if (!link.workingDir.empty()) flags |= kHasWorkingDir;
  if (!link.arguments.empty()) flags |= kHasArguments;

  std::vector<uint8_t> out;
  Put32(out, kHeaderSize);
  out.insert(out.end(), std::begin(kLinkClsid), std::end(kLinkClsid));
  Put32(out, flags);
  Put32(out, kFileAttributeArchive);
  for (int i = 0; i < 3 * 8 + 4 + 4; ++i) out.push_back(0);  // three file times, file size, icon index
  Put32(out, kShowNormal);
  for (int i = 0; i < 2 + 2 + 4 + 4; ++i) out.push_back(0);  // hot key and reserved fields

  // LinkInfo: header, VolumeID (fixed drive, no label), local base path (the
  // whole target) and an empty common path suffix.
  const size_t infoAt = out.size();
  const uint32_t volumeIdSize = 16 + 1;
  const uint32_t volumeIdOffset = kLinkInfoHeaderSize;
  const uint32_t basePathOffset = volumeIdOffset + volumeIdSize;
  const uint32_t suffixOffset = basePathOffset + static_cast<uint32_t>(link.target.size()) + 1;
  Put32(out, 0);  // size, patched below
  Put32(out, kLinkInfoHeaderSize);
  Put32(out, kVolumeIdAndLocalBasePath);
  Put32(out, volumeIdOffset);
  Put32(out, basePathOffset);
  Put32(out, 0);  // no network link
  Put32(out, suffixOffset);
  Put32(out, volumeIdSize);
  Put32(out, kDriveFixed);
  Put32(out, 0);   // serial number
  Put32(out, 16);  // label offset: right after these four fields
  out.push_back(0);
  out.insert(out.end(), link.target.begin(), link.target.end());
  out.push_back(0);
  out.push_back(0);  // empty suffix
  Set32(out, infoAt, static_cast<uint32_t>(out.size() - infoAt));

  if (flags & kHasName) PutCountedString(out, link.description);
  if (flags & kHasWorkingDir) PutCountedString(out, link.workingDir);
  if (flags & kHasArguments) PutCountedString(out, link.arguments);
  Put32(out, 0);  // terminal extra data block
  return out;
}

bool ParseShellLink(const std::vector<uint8_t>& bytes, ShellLinkData& link) {
  link = ShellLinkData{};
  const Reader r(bytes);
  if (!r.Has(0, kHeaderSize) || r.U32(0) != kHeaderSize ||
      std::memcmp(bytes.data() + 4, kLinkClsid, sizeof kLinkClsid) != 0) {
    return false;
  }
  const uint32_t flags = r.U32(20);
  size_t at = kHeaderSize;
  if (flags & kHasLinkTargetIdList) {
    if (!r.Has(at, 2)) return false;
    const size_t listSize = r.U16(at);
    if (!r.Has(at + 2, listSize)) return false;
    at += 2 + listSize;
  }
  if (flags & kHasLinkInfo) {
    size_t infoSize = 0;
    if (!ParseLinkInfo(r, at, infoSize, link.target)) return false;
    at += infoSize;
  }
  const bool unicode = flags & kIsUnicode;
  std::string ignored;
  if ((flags & kHasName) && !ReadCountedString(r, at, unicode, link.description)) return false;
  if ((flags & kHasRelativePath) && !ReadCountedString(r, at, unicode, ignored)) return false;
  if ((flags & kHasWorkingDir) && !ReadCountedString(r, at, unicode, link.workingDir)) return false;
  if ((flags & kHasArguments) && !ReadCountedString(r, at, unicode, link.arguments)) return false;
  if ((flags & kHasIconLocation) && !ReadCountedString(r, at, unicode, ignored)) return false;
  // Extra data blocks, each with its own 32-bit size, up to a size below 4.
  for (;;) {
    if (!r.Has(at, 4)) return false;
    const uint32_t blockSize = r.U32(at);
    if (blockSize < 4) return true;
    if (!r.Has(at, blockSize)) return false;
    at += blockSize;
  }
}

}  // namespace winsim
