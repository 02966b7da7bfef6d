// Reading Windows cabinet files (the certificate cabinet) for winsim's
// SetupIterateCabinetA. Backed by libmspack.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

struct CabinetMember {
  std::string name;           // name in the cabinet, exactly as stored
  std::vector<uint8_t> data;  // decompressed content
};

// Reads every member of the cabinet image. Returns false when the image is
// not a cabinet or is corrupt or truncated; members then holds the members
// that could be read completely before the fault (possibly none).
bool ReadCabinet(const std::vector<uint8_t>& image, std::vector<CabinetMember>& members);

}  // namespace winsim
