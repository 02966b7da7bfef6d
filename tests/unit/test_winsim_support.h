// Small helpers for winsim's own tests: a machine made current per test, and
// readers that turn Win32 results into values gtest can compare and print.
#pragma once

#include <gtest/gtest.h>

#include <winsim/machine.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace winsim_test {

using winsim::FolderRoute;
using winsim::Machine;
using winsim::WindowsVersion;

class WinsimTest : public ::testing::Test {
 protected:
  explicit WinsimTest(WindowsVersion v = WindowsVersion::XP) { Use(v); }

  // Replaces the machine with a fresh one of another version.
  void Use(WindowsVersion v) {
    use_.reset();
    machine_ = std::make_unique<Machine>(v);
    use_.emplace(*machine_);
  }

  Machine& m() { return *machine_; }
  const Machine& m() const { return *machine_; }

  // The fields of the last event of a kind, joined with " | " ("" when none).
  std::string Last(const std::string& kind) const {
    auto all = m().journal().OfKind(kind);
    if (all.empty()) return "";
    std::string r;
    for (size_t i = 0; i < all.back().fields.size(); ++i) r += (i ? " | " : "") + all.back().fields[i];
    return r;
  }

  // "ok" when the call succeeded, else "error N" with the last error.
  static std::string Result(BOOL ok) { return ok ? "ok" : "error " + std::to_string(GetLastError()); }

  std::string Text(const std::string& path) const { return m().ReadText(path).value_or("<missing>"); }

  // Names an enumeration of pattern gives, in order; "error N" when it fails.
  static std::vector<std::string> Find(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return {"error " + std::to_string(GetLastError())};
    do names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    FindClose(h);
    return names;
  }

  // A version-specific fixture: class Win98Test : public WinsimTest { ...
  // Win98Test() : WinsimTest(WindowsVersion::Win98) {} };

 private:
  std::unique_ptr<Machine> machine_;
  std::optional<winsim::CurrentMachine> use_;
};

// The bytes of a text, for file and registry helpers.
inline std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

}  // namespace winsim_test
