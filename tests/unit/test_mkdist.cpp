// tools/mkdist: a tiny product tree in, a distribution directory out, checked
// the way Setup.exe will read it (SZDD payload, cabinet members, plain files,
// SETUP.INI keys).
#include <gtest/gtest.h>

#include "check.h"

#include <szdd/szdd.h>
#include <winsim/cabinet.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kScript = std::string(SOURCE_ROOT) + "/tools/mkdist";
const std::string kPacker = std::string(TOOLS_BIN_DIR) + "/szddpack";

Bytes ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const fs::path& p) {
  const Bytes b = ReadFile(p);
  return std::string(b.begin(), b.end());
}

void WriteFile(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

struct Result {
  int status;
  std::string output;
};

Result RunScript(const std::string& args) {
  Result r{-1, ""};
  if (FILE* p = popen((kScript + " " + args + " 2>&1").c_str(), "r")) {
    std::array<char, 512> buf;
    while (fgets(buf.data(), static_cast<int>(buf.size()), p)) r.output += buf.data();
    r.status = pclose(p);
  }
  return r;
}

std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

// Every path below dir, relative, '/'-separated, sorted, directories marked
// with a trailing '/'.
std::string Tree(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    names.insert(fs::relative(e.path(), dir).generic_string() + (e.is_directory() ? "/" : ""));
  }
  std::string s;
  for (const auto& n : names) s += n + " ";
  return s;
}

// The expanded content of a packed file and the last character in its
// header, or a note saying why it could not be expanded.
std::string Expanded(const fs::path& p, char* last = nullptr) {
  const Bytes b = ReadFile(p);
  Bytes out;
  if (szdd::Expand(b.data(), b.size(), out) != szdd::ExpandResult::Ok) return "<not a valid SZDD file>";
  if (last) *last = static_cast<char>(b.at(9));
  return std::string(out.begin(), out.end());
}

// The value of an uncommented "key=value" line in a section, "<absent>" when
// missing, "<commented>" when only a ";key=" line is there.
std::string IniLine(const std::string& ini, const std::string& section, const std::string& key) {
  std::istringstream in(ini);
  std::string line, current;
  std::string found = "<absent>";
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      current = line.substr(1, line.find(']') - 1);
    } else if (current == section && line.rfind(key + "=", 0) == 0) {
      return line.substr(key.size() + 1);
    } else if (current == section && line.rfind(";" + key + "=", 0) == 0) {
      found = "<commented>";
    }
  }
  return found;
}

class MkDist : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v gcab >/dev/null 2>&1") != 0) GTEST_SKIP() << "gcab not installed";
    if (!fs::exists(kPacker)) GTEST_SKIP() << kPacker << " not built";
    std::string tmpl = (fs::temp_directory_path() / "mkdisttest.XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(tmpl.data()));
    root = tmpl;
    product = root / "product";
    out = root / "dist";
    setup = root / "build" / "Setup.exe";
    WriteFile(product / "program/QXFTP.EXE", "MZ client program " + std::string(3000, 'x'));
    WriteFile(product / "program/QXFTP.DLL", "MZ server dll");
    WriteFile(product / "program/QXFTP.HLP", "help");
    WriteFile(product / "program/QXFTP.CHM", "ITSF chm");
    WriteFile(product / "certs/packed/CA1.0", "certificate one");
    WriteFile(product / "certs/cabinet/CB1.0", "cabinet certificate one");
    WriteFile(product / "certs/cabinet/CB2.0", "cabinet certificate two");
    WriteFile(product / "files/readme.htm", "<html>readme</html>");
    WriteFile(product / "files/Start.qft", "start");
    WriteFile(product / "files/CA2.0", "plain certificate");
    WriteFile(product / "files/Docs/guide.htm", "guide");
    WriteFile(product / "files/Docs/img/a.gif", "GIF89a");
    WriteFile(setup, "MZ setup program");
  }
  void TearDown() override {
    if (!root.empty()) fs::remove_all(root);
  }
  Result Build(const std::string& options = "") {
    return RunScript(options + " " + Q(product) + " " + Q(setup) + " " + Q(out) + " " + Q(kPacker));
  }

  fs::path root, product, out, setup;
};

}  // namespace

TEST_F(MkDist, WritesTheDistributionTree) {
  const Result r = Build();
  ASSERT_EQ(0, r.status) << r.output;
  EXPECT_EQ(
      "CA1.0_ CA2.0 Docs/ Docs/guide.htm Docs/img/ Docs/img/a.gif Manifest.sha256_ QXFTP.CH_ QXFTP.DL_ QXFTP.EX_ "
      "QXFTP.HL_ Qxcerts.Cab SETUP.INI.template Setup.exe Start.qft UNINS.EX_ readme.htm ",
      Tree(out));
}

TEST_F(MkDist, PackedProgramFilesExpandToOriginals) {
  ASSERT_EQ(0, Build().status);
  char last = 0;
  EXPECT_EQ(ReadText(product / "program/QXFTP.EXE"), Expanded(out / "QXFTP.EX_", &last));
  EXPECT_EQ('E', last);
  EXPECT_EQ("MZ server dll", Expanded(out / "QXFTP.DL_", &last));
  EXPECT_EQ('L', last);
  EXPECT_EQ("help", Expanded(out / "QXFTP.HL_", &last));
  EXPECT_EQ('P', last);
  EXPECT_EQ("ITSF chm", Expanded(out / "QXFTP.CH_", &last));
  EXPECT_EQ('M', last);
}

TEST_F(MkDist, UninstallerIsPackedSetupAndSetupIsCopied) {
  ASSERT_EQ(0, Build().status);
  char last = 0;
  EXPECT_EQ("MZ setup program", Expanded(out / "UNINS.EX_", &last));
  EXPECT_EQ('E', last);
  EXPECT_EQ("MZ setup program", ReadText(out / "Setup.exe"));
}

TEST_F(MkDist, PackedCertificateKeepsItsName) {
  ASSERT_EQ(0, Build().status);
  char last = 0;
  EXPECT_EQ("certificate one", Expanded(out / "CA1.0_", &last));
  EXPECT_EQ('0', last);
}

TEST_F(MkDist, CabinetHoldsBareMemberNames) {
  ASSERT_EQ(0, Build().status);
  std::vector<winsim::CabinetMember> members;
  ASSERT_TRUE(winsim::ReadCabinet(ReadFile(out / "Qxcerts.Cab"), members));
  std::string got;
  for (const auto& m : members) got += m.name + "=" + std::string(m.data.begin(), m.data.end()) + ";";
  EXPECT_EQ("CB1.0=cabinet certificate one;CB2.0=cabinet certificate two;", got);
}

TEST_F(MkDist, PlainFilesCopiedAsIs) {
  ASSERT_EQ(0, Build().status);
  EXPECT_EQ("plain certificate", ReadText(out / "CA2.0"));
  EXPECT_EQ("<html>readme</html>", ReadText(out / "readme.htm"));
  EXPECT_EQ("GIF89a", ReadText(out / "Docs/img/a.gif"));
}

TEST_F(MkDist, IniTemplateListsEveryKeyDisabled) {
  ASSERT_EQ(0, Build().status);
  const std::string ini = ReadText(out / "SETUP.INI.template");
  // Every key setupcheck knows the program to read.
  for (const setupcheck::KnownSection& section : setupcheck::KnownSections()) {
    for (const std::string& key : section.keys)
      EXPECT_EQ("<commented>", IniLine(ini, section.name, key)) << "[" << section.name << "] " << key;
  }
  EXPECT_NE(std::string::npos, ini.find("no effect on a fresh installation")) << "WorkingDir note missing";
  EXPECT_NE(std::string::npos, ini.find("\r\n")) << "expected CR LF line ends";
}

TEST_F(MkDist, IniOptionWritesSetupIni) {
  ASSERT_EQ(0, Build("--ini").status);
  EXPECT_TRUE(fs::exists(out / "SETUP.INI"));
  EXPECT_FALSE(fs::exists(out / "SETUP.INI.template"));
  EXPECT_EQ("<commented>", IniLine(ReadText(out / "SETUP.INI"), "Program Group", "GroupName"));
}

TEST_F(MkDist, MissingProgramFileFailsAndNamesIt) {
  fs::remove(product / "program/QXFTP.HLP");
  const Result r = Build();
  EXPECT_NE(0, r.status);
  EXPECT_NE(std::string::npos, r.output.find("QXFTP.HLP")) << r.output;
  EXPECT_FALSE(fs::exists(out)) << "nothing may be written when an input is missing";
}

TEST_F(MkDist, MissingSetupFails) {
  fs::remove(setup);
  const Result r = Build();
  EXPECT_NE(0, r.status);
  EXPECT_NE(std::string::npos, r.output.find("Setup.exe")) << r.output;
}

TEST_F(MkDist, EmptyCabinetFolderFails) {
  fs::remove_all(product / "certs/cabinet");
  fs::create_directories(product / "certs/cabinet");
  const Result r = Build();
  EXPECT_NE(0, r.status);
  EXPECT_NE(std::string::npos, r.output.find("certs/cabinet")) << r.output;
}

TEST_F(MkDist, SubdirectoryInCabinetFolderFails) {
  WriteFile(product / "certs/cabinet/sub/CB3.0", "nested");
  EXPECT_NE(0, Build().status);
}

TEST_F(MkDist, MissingPackerFails) {
  const Result r = RunScript(Q(product) + " " + Q(setup) + " " + Q(out) + " " + Q(root / "no-packer"));
  EXPECT_NE(0, r.status);
  EXPECT_NE(std::string::npos, r.output.find("no-packer")) << r.output;
}

TEST_F(MkDist, PlainFileMayNotShadowAGeneratedOne) {
  WriteFile(product / "files/setup.exe", "impostor");
  const Result r = Build();
  EXPECT_NE(0, r.status);
  EXPECT_NE(std::string::npos, r.output.find("setup.exe")) << r.output;
}

TEST_F(MkDist, NonEmptyOutputNeedsForce) {
  WriteFile(out / "stale.txt", "old");
  EXPECT_NE(0, Build().status);
  EXPECT_TRUE(fs::exists(out / "stale.txt"));
  const Result r = Build("--force");
  ASSERT_EQ(0, r.status) << r.output;
  EXPECT_FALSE(fs::exists(out / "stale.txt"));
  EXPECT_TRUE(fs::exists(out / "QXFTP.EX_"));
}

TEST_F(MkDist, WrongArgumentCountShowsUsage) {
  const Result r = RunScript(Q(product));
  EXPECT_NE(0, r.status);
  EXPECT_NE(std::string::npos, r.output.find("usage:")) << r.output;
}
