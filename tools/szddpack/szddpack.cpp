// szddpack INPUT OUTPUT      packs INPUT in SZDD mode "A"
// szddpack -x INPUT OUTPUT   expands an SZDD file (a plain file is copied)
//
// The header keeps the last character of INPUT's file name, case and all, so
// that an expander that restores names (EXPAND -r) can turn QXFTP.EX_ back
// into QXFTP.EXE.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <szdd/szdd.h>

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: szddpack INPUT OUTPUT\n"
               "       szddpack -x INPUT OUTPUT\n");
  return 2;
}

bool ReadAll(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "szddpack: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    std::fprintf(stderr, "szddpack: cannot read %s\n", path.c_str());
    return false;
  }
  return true;
}

bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    std::fprintf(stderr, "szddpack: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::fprintf(stderr, "szddpack: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    bool expand = false;
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "-x") == 0) {
      expand = true;
      first = 2;
    }
    if (argc - first != 2) return Usage();
    const std::string input = argv[first];
    const std::string output = argv[first + 1];

    std::vector<uint8_t> data;
    if (!ReadAll(input, data)) return 1;

    std::vector<uint8_t> result;
    if (expand) {
      switch (szdd::Expand(data.data(), data.size(), result)) {
        case szdd::ExpandResult::Ok:
          break;
        case szdd::ExpandResult::NotSzdd:
          result = data;
          break;
        case szdd::ExpandResult::Corrupt:
          std::fprintf(stderr, "szddpack: %s is corrupt or truncated\n", input.c_str());
          return 1;
      }
    } else {
      const std::string name = std::filesystem::path(input).filename().string();
      if (name.empty()) {
        std::fprintf(stderr, "szddpack: %s names no file\n", input.c_str());
        return 1;
      }
      result = szdd::Compress(data.data(), data.size(), name.back());
    }
    return WriteAll(output, result) ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "szddpack: %s\n", e.what());
    return 1;
  }
}
