// Shell link files: what BuildShellLink writes reads back the same, is laid
// out as the shell's link object writes it, and Debian's lnkinfo reads the
// target, working directory and description from it.
#include <gtest/gtest.h>

#include <winsim/lnk.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

std::string Show(const winsim::ShellLinkData& l) {
  return "target=[" + l.target + "] dir=[" + l.workingDir + "] desc=[" + l.description + "] args=[" + l.arguments + "]";
}

void ExpectRoundTrip(const winsim::ShellLinkData& in) {
  winsim::ShellLinkData out;
  ASSERT_TRUE(winsim::ParseShellLink(winsim::BuildShellLink(in), out)) << Show(in);
  EXPECT_EQ(Show(in), Show(out));
}

void ExpectRejected(const Bytes& bytes, const std::string& why) {
  winsim::ShellLinkData out;
  EXPECT_FALSE(winsim::ParseShellLink(bytes, out)) << why;
}

uint32_t U32(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24; }

const winsim::ShellLinkData kFull = {"C:\\Program Files\\VORTAN FTP\\QXFTP.EXE", "C:\\Program Files\\VORTAN FTP",
                                     "VORTAN FTP client", "-s Start.qft"};

// Runs lnkinfo on the bytes and returns its output ("" when it failed).
std::string LnkInfo(const Bytes& bytes) {
  std::string tmpl = (fs::temp_directory_path() / "lnktest.XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return "";
  const fs::path file = fs::path(tmpl) / "VORTAN FTP.lnk";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  std::string output;
  if (FILE* p = popen(("lnkinfo -c windows-1252 '" + file.string() + "' 2>&1").c_str(), "r")) {
    std::array<char, 512> buf;
    while (fgets(buf.data(), static_cast<int>(buf.size()), p)) output += buf.data();
    if (pclose(p) != 0) output = "lnkinfo failed:\n" + output;
  }
  fs::remove_all(tmpl);
  return output;
}

// The value lnkinfo prints for a field ("\tLocal path\t\t\t: C:\x" gives
// "C:\x"), or "<absent>".
std::string Field(const std::string& output, const std::string& label) {
  size_t at = 0;
  while ((at = output.find(label, at)) != std::string::npos) {
    const size_t colon = output.find(':', at);
    const size_t eol = output.find('\n', at);
    const std::string between = output.substr(at + label.size(), colon - at - label.size());
    if (colon < eol && between.find_first_not_of(" \t") == std::string::npos) {
      return output.substr(colon + 2, eol - colon - 2);
    }
    at += label.size();
  }
  return "<absent>";
}

bool HaveLnkInfo() { return std::system("command -v lnkinfo >/dev/null 2>&1") == 0; }

}  // namespace

// --- Round trip -----------------------------------------------------------

TEST(ShellLinkRoundTrip, AllFields) { ExpectRoundTrip(kFull); }
TEST(ShellLinkRoundTrip, TargetOnly) { ExpectRoundTrip({"C:\\VORTAN\\QXFTP.EXE", "", "", ""}); }
TEST(ShellLinkRoundTrip, DescriptionWithoutWorkingDir) { ExpectRoundTrip({"C:\\A.EXE", "", "About A", ""}); }
TEST(ShellLinkRoundTrip, ArgumentsOnly) { ExpectRoundTrip({"C:\\A.EXE", "", "", "/uninstall"}); }
TEST(ShellLinkRoundTrip, Code1252Characters) {
  // \x80 is the euro sign, \xE9 e-acute: both survive the UTF-16 strings.
  ExpectRoundTrip({"C:\\A.EXE", "C:\\Donn\xE9" "es", "Prix \x80 et caf\xE9", "\x93quoted\x94"});
}
TEST(ShellLinkRoundTrip, LongDescription) { ExpectRoundTrip({"C:\\A.EXE", "", std::string(1000, 'd'), ""}); }

// --- Layout -------------------------------------------------------------

TEST(ShellLinkLayout, HeaderSizeClsidAndFlags) {
  const Bytes b = winsim::BuildShellLink(kFull);
  ASSERT_GE(b.size(), 0x4Cu);
  EXPECT_EQ(0x4Cu, U32(b, 0));
  const Bytes clsid(b.begin() + 4, b.begin() + 20);
  const Bytes expected = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  EXPECT_EQ(expected, clsid);
  // LinkInfo, name, working dir, arguments, Unicode strings; no ID list.
  EXPECT_EQ(0x02u | 0x04u | 0x10u | 0x20u | 0x80u, U32(b, 20));
}
TEST(ShellLinkLayout, UnsetStringsAreNotFlagged) {
  const Bytes b = winsim::BuildShellLink({"C:\\A.EXE", "", "", ""});
  EXPECT_EQ(0x02u | 0x80u, U32(b, 20));
}
TEST(ShellLinkLayout, EndsWithTerminalBlock) {
  const Bytes b = winsim::BuildShellLink(kFull);
  EXPECT_EQ(0u, U32(b, b.size() - 4));
}

// --- Malformed links ----------------------------------------------------------

TEST(ShellLinkMalformed, Empty) { ExpectRejected({}, "empty"); }
TEST(ShellLinkMalformed, WrongClsid) {
  Bytes b = winsim::BuildShellLink(kFull);
  b[5] ^= 0xFF;
  ExpectRejected(b, "CLSID changed");
}
TEST(ShellLinkMalformed, WrongHeaderSize) {
  Bytes b = winsim::BuildShellLink(kFull);
  b[0] = 0x50;
  ExpectRejected(b, "header size 0x50");
}
TEST(ShellLinkMalformed, EveryTruncationIsRejected) {
  const Bytes full = winsim::BuildShellLink(kFull);
  for (size_t n = 0; n < full.size(); ++n) {
    ExpectRejected(Bytes(full.begin(), full.begin() + n), "cut to " + std::to_string(n) + " bytes");
  }
}
TEST(ShellLinkMalformed, LinkInfoSizeBeyondFile) {
  Bytes b = winsim::BuildShellLink(kFull);
  b[0x4C + 1] = 0x7F;  // LinkInfo size now far larger than the file
  ExpectRejected(b, "LinkInfo size beyond the end");
}
TEST(ShellLinkMalformed, StringCountBeyondFile) {
  Bytes b = winsim::BuildShellLink({"C:\\A.EXE", "", "d", ""});
  // The description's count follows the LinkInfo; make it claim 0x7F01 characters.
  b[0x4C + U32(b, 0x4C) + 1] = 0x7F;
  ExpectRejected(b, "string count beyond the end");
}

// --- lnkinfo reads what we write ------------------------------------------------

TEST(ShellLinkLnkinfo, ReadsLocalPathWorkingDirectoryAndDescription) {
  if (!HaveLnkInfo()) GTEST_SKIP() << "lnkinfo (liblnk-utils) not installed";
  const std::string out = LnkInfo(winsim::BuildShellLink(kFull));
  EXPECT_EQ(kFull.target, Field(out, "Local path")) << out;
  EXPECT_EQ(kFull.workingDir, Field(out, "Working directory")) << out;
  EXPECT_EQ(kFull.description, Field(out, "Description")) << out;
  EXPECT_EQ(kFull.arguments, Field(out, "Command line arguments")) << out;
  EXPECT_EQ("Fixed", Field(out, "Drive type").substr(0, 5)) << out;
}
TEST(ShellLinkLnkinfo, TargetOnlyHasNoOtherStrings) {
  if (!HaveLnkInfo()) GTEST_SKIP() << "lnkinfo (liblnk-utils) not installed";
  const std::string out = LnkInfo(winsim::BuildShellLink({"C:\\VORTAN\\QXFTP.EXE", "", "", ""}));
  EXPECT_EQ("C:\\VORTAN\\QXFTP.EXE", Field(out, "Local path")) << out;
  EXPECT_EQ("<absent>", Field(out, "Working directory")) << out;
  EXPECT_EQ("<absent>", Field(out, "Description")) << out;
}
