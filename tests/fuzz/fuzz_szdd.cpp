// The SZDD codec: the expander takes any bytes without reading or writing
// out of bounds, and whatever the packer writes expands to its input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <szdd/szdd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  szdd::ExpandResult any = szdd::Expand(data, size, out);
  if (any == szdd::ExpandResult::NotSzdd && szdd::IsSzdd(data, size)) std::abort();

  std::vector<uint8_t> packed = szdd::Compress(data, size, 'X');
  std::vector<uint8_t> round;
  if (szdd::Expand(packed.data(), packed.size(), round) != szdd::ExpandResult::Ok) {
    std::fprintf(stderr, "the packer's output of %zu bytes does not expand\n", size);
    std::abort();
  }
  if (round != std::vector<uint8_t>(data, data + size)) {
    std::fprintf(stderr, "%zu bytes packed and expanded come back as %zu different bytes\n", size, round.size());
    std::abort();
  }
  return 0;
}
