// setupcheck's preview on the 64-bit editions and as a standard user: the
// places a 32-bit program really reaches there (docs/windows-x64-and-user-rights.md),
// and the scenario keys that ask for them.
#include "fixture.h"

#include "check.h"
#include "play.h"
#include "preview.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace setupcheck;
using winsim::WindowsVersion;

// The sample's programs and a quiet installation into the shell's Program Files.
Distribution Sample() {
  Distribution d;
  auto put = [&d](const std::string& name, const std::string& text) {
    d.files.push_back({name, std::vector<uint8_t>(text.begin(), text.end())});
  };
  const char* programs[][2] = {{"QXFTP.EX_", "QXFTP.EXE"}, {"UNINS.EX_", "UNINS.EXE"}, {"QXFTP.HL_", "QXFTP.HLP"},
                               {"QXFTP.CH_", "QXFTP.CHM"}, {"QXFTP.DL_", "QXFTP.DLL"}};
  for (auto& p : programs) {
    auto packed = fixture::Packed(fixture::ProgramContent(p[1]), p[1][8]);
    d.files.push_back({p[0], packed});
  }
  put("Setup.exe", "setup program image");
  return d;
}

const char kQuietIni[] = "[FTPSetup]\r\nQuietModeInstall=Y\r\n";

// The preview of one edition, as the tool prints it.
std::string Preview(WindowsVersion v, bool standardUser = false) {
  PreviewRequest r;
  r.ini = kQuietIni;
  r.standardUser = standardUser;
  Dump d = Play(PreviewScenario(r, v), Sample(), ResourcePath());
  return RenderText({VersionDump{v, d, standardUser}});
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(SetupcheckEditions, The64BitEditionsAreNamedAndRead) {
  EXPECT_EQ(VersionName(WindowsVersion::Win10x64), "10 x64");
  for (const char* name : {"10-x64", "10 x64", "10x64", "10 X64"}) EXPECT_EQ(VersionOf(name), WindowsVersion::Win10x64) << name;
  EXPECT_EQ(VersionOf("11"), WindowsVersion::Win11x64) << "Windows 11 exists only as a 64-bit edition";
  EXPECT_EQ(VersionOf("8.1-x64"), WindowsVersion::Win81x64);
  EXPECT_EQ(VersionOf("xp-x64"), WindowsVersion::WinXP64);
  for (WindowsVersion v : AllEditions()) EXPECT_EQ(VersionOf(VersionName(v)), v) << VersionName(v);
  EXPECT_EQ(AllEditions().size(), AllVersions().size() + 5);
}

TEST(SetupcheckEditions, PreviewOnA64BitEditionSaysWhereThingsReallyAre) {
  // CSIDL_PROGRAM_FILES is Program Files (x86) for a 32-bit program, and
  // HKLM\Software is redirected to Wow6432Node ("KNOWNFOLDERID",
  // "Registry Redirector").
  std::string text = Preview(WindowsVersion::Win10x64);
  EXPECT_EQ(text.rfind("Windows 10 x64\n", 0), 0u) << text;
  EXPECT_TRUE(Has(text, "install | installed")) << text;
  EXPECT_TRUE(Has(text, "<Program Files (x86)>\\VORTAN\\FTP")) << text;
  EXPECT_TRUE(Has(text, "HKLM\\Software\\Wow6432Node\\VORTAN\\FTP")) << text;
  EXPECT_TRUE(Has(text, "HKLM\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall")) << text;
}

TEST(SetupcheckEditions, The32BitEditionsKeepTheirNames) {
  std::string text = Preview(WindowsVersion::Win10);
  EXPECT_TRUE(Has(text, "<Program Files>\\VORTAN\\FTP")) << text;
  EXPECT_FALSE(Has(text, "Wow6432Node")) << text;
}

TEST(SetupcheckEditions, AStandardUsersDefaultInstallationFails) {
  // A standard user cannot write Program Files ("User Account Control for
  // Game Developers").
  std::string text = Preview(WindowsVersion::Win11x64, true);
  EXPECT_EQ(text.rfind("Windows 11 x64 (standard user)\n", 0), 0u) << text;
  EXPECT_TRUE(Has(text, "install | not installed")) << text;
}

TEST(SetupcheckEditions, ScenarioKeysForTheUser) {
  Scenario s = ParseScenario("windows: 10 x64\nuser: standard\n--- install.ini\n[FTPSetup]\n", "x");
  EXPECT_EQ(s.error, "");
  EXPECT_TRUE(s.standardUser);
  s = ParseScenario("windows: XP\nuser: standard\n--- install.ini\n[FTPSetup]\n", "x");
  EXPECT_NE(s.error, "") << "no user kinds before Vista";
  s = ParseScenario("windows: 7\nuser: guest\n--- install.ini\n[FTPSetup]\n", "x");
  EXPECT_NE(s.error, "");
}

TEST(SetupcheckEditions, CheckProbesTheEditionsAndTheUserItIsGiven) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("setupcheck-editions-" + std::to_string(getpid()));
  fs::remove_all(dir);
  for (const auto& [name, bytes] : Sample().files) {
    fs::create_directories((dir / name).parent_path());
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                       static_cast<std::streamsize>(bytes.size()));
  }
  std::ofstream(dir / "SETUP.INI", std::ios::binary) << kQuietIni;
  auto errors = [&](const CheckMachines& machines) {
    CheckReport report;
    std::string fatal;
    EXPECT_TRUE(Check(dir, std::nullopt, ResourcePath(), &report, &fatal, machines)) << fatal;
    std::string out;
    for (const Finding& f : report.findings)
      if (f.severity == Severity::Error) out += f.subject + ": " + f.text + "\n";
    return out;
  };
  CheckMachines x64{{WindowsVersion::Win10x64, WindowsVersion::Win11x64}, false};
  EXPECT_EQ(errors(x64), "");
  CheckMachines standard{{WindowsVersion::Win10x64}, true};
  EXPECT_TRUE(Has(errors(standard), "the installation fails on Windows 10 x64 (as a standard user)"))
      << errors(standard);
  fs::remove_all(dir);
}

}  // namespace
