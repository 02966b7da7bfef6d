// SZDD ("compress -r" / COMPRESS.EXE mode "A") codec shared by the packer
// tool (which the distribution builder runs), setupcheck and winsim's
// VerInstallFileA.
//
// Layout: 8 magic bytes "SZDD" 88 F0 27 33, 1 byte mode 'A', 1 byte the last
// character of the expanded file name, 4 bytes expanded size (little-endian),
// then an LZSS stream over a 4096-byte ring that starts filled with blanks and
// is first written at position 4080. Each flag byte governs the next eight
// items, least significant bit first: 1 = one literal byte; 0 = two bytes
// b0, b1 copying (b1 & 0x0F) + 3 bytes from ring position
// b0 | ((b1 & 0xF0) << 4).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace szdd {

// Packs data. lastChar is stored in the header (the character the expanded
// name ends with, usually replaced by '_' in the packed name).
std::vector<uint8_t> Compress(const uint8_t* data, size_t size, char lastChar);

enum class ExpandResult { Ok, NotSzdd, Corrupt };

// Expands a packed image. NotSzdd when the magic is absent (the caller then
// treats the file as plain). Corrupt when the header is short or the stream
// ends before the expanded size is reached; out then holds what was decoded.
ExpandResult Expand(const uint8_t* data, size_t size, std::vector<uint8_t>& out);

// True when data begins with the SZDD magic.
bool IsSzdd(const uint8_t* data, size_t size);

}  // namespace szdd
