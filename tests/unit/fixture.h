// Shared test machinery for the product's tests: a simulated machine with a
// distribution in C:\dist, SETUP.INI helpers, and readers for boxes,
// registry values and files.
#pragma once

#include <gtest/gtest.h>

#include <szdd/szdd.h>
#include <winsim/machine.h>

#include <memory>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "certificate_cabinet.h"
#include "install/install.h"
#include "setup/setup.h"
#include "shell/shell.h"
#include "uninstall/uninstall.h"

namespace fixture {

using winsim::FolderRoute;
using winsim::Machine;
using winsim::WindowsVersion;

struct Box {
  std::string owner;  // Machine::WindowTag
  std::string text;
  std::string caption;
  UINT style;
};

inline std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

inline std::vector<uint8_t> Packed(const std::string& content, char lastChar) {
  auto bytes = Bytes(content);
  return szdd::Compress(bytes.data(), bytes.size(), lastChar);
}

// The certificate cabinet, with the members "cert.pem" and "root.0".
using test_data::kGoodCabinet;
// A cabinet whose members are "..\e.txt" ("EVIL\n"), "sub\inner.pem"
// ("SUB\n") and "cert.pem" ("CERT-PEM\n").
extern const std::vector<uint8_t> kHostileCabinet;

// The content of the sample payload files, before packing.
std::string ProgramContent(const std::string& name);

// Where QuietIni() installs the product, and the keys it records there.
inline constexpr char kDir[] = "C:\\Program Files\\VORTAN\\FTP";
inline constexpr char kKey[] = "Software\\VORTAN\\FTP";
inline constexpr char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VORTAN FTP";
// name inside kDir.
inline std::string In(const std::string& name) { return std::string(kDir) + "\\" + name; }

// A SETUP.INI that removes quietly.
inline constexpr char kRemovalIni[] = "[FTPSetup]\r\nQuietModeUnInstall=Y\r\n";
// The final report of an installation that failed.
inline constexpr char kFailureText[] =
    "VORTAN FTP installation was unsuccessful ... please check your setup parameters and try again.";

class SetupTest : public ::testing::Test {
 protected:
  explicit SetupTest(WindowsVersion version = WindowsVersion::XP);
  ~SetupTest() override;

  // Switches the simulated Windows version (before anything runs).
  void UseVersion(WindowsVersion version);
  // A new machine of that version with the distribution in C:\dist, and the
  // program's state as a new process finds it.
  void FreshMachine(WindowsVersion version);

  // Lays out a complete distribution in dir: the five packed program files
  // (QXFTP.DL_ a loadable sim DLL), a packed certificate CA1.0_, the
  // certificate cabinet, plain files and a Docs tree, and Setup.exe.
  void SeedDistribution(const std::string& dir = "C:\\dist");
  // Writes SETUP.INI (in dir) from the given text.
  void WriteIni(const std::string& text, const std::string& dir = "C:\\dist");
  // A SETUP.INI that installs quietly with all four quiet keys.
  static std::string QuietIni(const std::string& destination = kDir, const std::string& extraSetup = "",
                              const std::string& extraSections = "");
  // Installs quietly into dir (extraSetup added to [FTPSetup]) and asserts
  // that it succeeded, then resets the program's state for a new process.
  void InstallQuietly(const std::string& dir = kDir, const std::string& extraSetup = "");

  // Starts the program as dir\Setup.exe with dir as the current directory.
  void RunSetup(const std::string& dir = "C:\\dist", const std::string& programName = "Setup.exe");
  // Only the start-up part: version, current directory, configuration.
  void StartUp(const std::string& dir = "C:\\dist", const std::string& programName = "Setup.exe");
  void StartUpWith(const std::string& programPath, const std::string& currentDir);

  // Boxes shown so far; answers come from Answer() (default: IDOK / IDYES).
  void Answer(const std::string& caption, int answer) { answers_.push_back({caption, answer}); }
  const std::vector<Box>& boxes() const { return boxes_; }
  std::vector<std::string> BoxCaptions() const;

  std::optional<std::string> RegString(HKEY hive, const std::string& key, const std::string& name) const;
  std::optional<std::vector<uint8_t>> RegBytes(HKEY hive, const std::string& key, const std::string& name) const;
  std::optional<DWORD> RegType(HKEY hive, const std::string& key, const std::string& name) const;
  std::string FileText(const std::string& path) const;
  // Events of the journal of one kind, each "field|field|...".
  std::vector<std::string> Events(const std::string& kind) const;
  std::vector<std::string> DdeCommands() const;

  Machine& m() { return *machine_; }
  const Machine& m() const { return *machine_; }

 private:
  std::unique_ptr<Machine> machine_;
  std::optional<winsim::CurrentMachine> current_;
  std::vector<Box> boxes_;
  std::vector<std::pair<std::string, int>> answers_;
};

}  // namespace fixture
