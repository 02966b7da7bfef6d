// What the fuzz targets share: a simulated machine with the sample
// distribution in C:\dist (the unit tests' own), boxes answered by their
// default button, and a hard stop when an invariant breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <winsim/machine.h>

namespace fuzz {

// Reports the broken invariant with the machine's journal and aborts, so
// that libFuzzer keeps the input as a crash.
[[noreturn]] void Broken(const winsim::Machine& m, const std::string& what);

// A fresh machine made current, with the distribution and the compiled
// resources (when the build has them); every box gets its default answer.
class Session {
 public:
  explicit Session(winsim::WindowsVersion version);
  ~Session();
  winsim::Machine& m() { return *machine_; }
  // Texts of every box shown so far.
  const std::vector<std::string>& boxes() const { return boxes_; }
  // Starts the program from C:\dist as a new process.
  void RunSetup();

 private:
  std::unique_ptr<winsim::Machine> machine_;
  std::unique_ptr<winsim::CurrentMachine> current_;
  std::vector<std::string> boxes_;
};

// Consumes inputs front to back.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::vector<uint8_t> Bytes(size_t n) {
    n = std::min(n, size_ - pos_);
    std::vector<uint8_t> out(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return out;
  }
  std::vector<uint8_t> Rest() { return Bytes(size_ - pos_); }
  bool Done() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace fuzz
