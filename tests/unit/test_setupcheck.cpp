// setupcheck: the check rules, one group a rule, each with a SETUP.INI an
// administrator could write; bad input to the tool; and the preview, whose
// dump of every parity scenario must be the parity test's own.
#include "fixture.h"

#include "check.h"
#include "play.h"
#include "preview.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using setupcheck::CheckReport;
using setupcheck::Finding;
using setupcheck::Severity;

const char kQuiet[] =
    "[FTPSetup]\r\nQuietModeInstall=Y\r\nDestinationDir=C:\\Program Files\\VORTAN\\FTP\r\n"
    "[Program Group]\r\nUseGroup=Y\r\nGroupName=VORTAN FTP\r\nShortCut=Y\r\n";

void Write(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
}

std::string Str(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

// A distribution on the host like the sample: the packed program files, a
// packed certificate, the cabinet, plain files, a Docs tree and Setup.exe.
class HostDist {
 public:
  HostDist() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("setupcheck-" + std::to_string(getpid()) + "-" + info->test_suite_name() + "-" + info->name());
    for (char& c : name_) c = '_';
    fs::remove_all(dir_);
    const char* programs[][2] = {{"QXFTP.EX_", "QXFTP.EXE"}, {"UNINS.EX_", "UNINS.EXE"}, {"QXFTP.HL_", "QXFTP.HLP"},
                                 {"QXFTP.CH_", "QXFTP.CHM"}, {"QXFTP.DL_", "QXFTP.DLL"}};
    for (auto& p : programs)
      Write(dir_ / p[0], Str(fixture::Packed(fixture::ProgramContent(p[1]), p[1][8])));
    Write(dir_ / "CA1.0_", Str(fixture::Packed("CA ONE\r\n", '0')));
    Write(dir_ / "Qxcerts.Cab", Str(fixture::kGoodCabinet));
    Write(dir_ / "CA2.0", "CA TWO\r\n");
    Write(dir_ / "readme.htm", "<html>readme</html>");
    Write(dir_ / "Start.qft", "start document");
    Write(dir_ / "Custom.ini", "[custom]\r\n");
    Write(dir_ / "Docs" / "guide.txt", "guide");
    Write(dir_ / "Setup.exe", "setup program image");
    Write(dir_ / "SETUP.INI", kQuiet);
  }
  ~HostDist() {
    std::error_code ignored;
    fs::permissions(dir_ / "SETUP.INI", fs::perms::owner_all, ignored);
    fs::remove_all(dir_, ignored);
  }
  const fs::path& dir() const { return dir_; }
  void Ini(const std::string& bytes) { Write(dir_ / "SETUP.INI", bytes); }
  void Put(const std::string& rel, const std::string& bytes) { Write(dir_ / rel, bytes); }
  void Remove(const std::string& rel) { fs::remove_all(dir_ / rel); }

 private:
  fs::path dir_;
  std::string name_;
};

// ---- In-process check ------------------------------------------------------------

class CheckTest : public ::testing::Test {
 protected:
  CheckReport Run() {
    CheckReport report;
    std::string fatal;
    EXPECT_TRUE(setupcheck::Check(dist_.dir(), std::nullopt, setupcheck::ResourcePath(), &report, &fatal)) << fatal;
    return report;
  }
  // "warning: text" of the first finding whose subject starts with subject,
  // or "none" with every finding listed.
  std::string About(const std::string& subject) {
    CheckReport report = Run();
    for (const Finding& f : report.findings)
      if (f.subject.rfind(subject, 0) == 0)
        return std::string(f.severity == Severity::Error ? "error: " : "warning: ") + f.text;
    return "none; the report was:\n" + report.Text();
  }
  std::string WithIni(const std::string& ini, const std::string& subject) {
    dist_.Ini(ini);
    return About(subject);
  }
  HostDist dist_;
};

#define EXPECT_FINDING(got, severity, part)                                                \
  do {                                                                                     \
    std::string got_ = (got);                                                              \
    EXPECT_EQ(got_.rfind(std::string(severity) + ": ", 0), 0u) << "got: " << got_;        \
    EXPECT_NE(got_.find(part), std::string::npos) << "expected \"" << (part) << "\" in: " << got_; \
  } while (0)

std::string QuietWith(const std::string& setupLines, const std::string& groupLines = "UseGroup=Y\r\nGroupName=VORTAN FTP\r\nShortCut=Y\r\n") {
  return "[FTPSetup]\r\nQuietModeInstall=Y\r\n" + setupLines + "[Program Group]\r\n" + groupLines;
}

TEST_F(CheckTest, AQuietSetupIniWithEveryKeyReportsNothing) {
  CheckReport report = Run();
  EXPECT_EQ(report.Status(), 0) << report.Text();
}

TEST_F(CheckTest, NamesTypoInAKeyGivesTheNearestKnownName) {
  EXPECT_FINDING(WithIni(QuietWith("DestinationDirectory=C:\\Apps\\FTP\r\n"), "[FTPSetup] DestinationDirectory"),
                 "warning", "did you mean DestinationDir?");
  EXPECT_FINDING(WithIni(QuietWith("DestinationDir=C:\\Apps\\FTP\r\nQuietModeInstal=Y\r\n"), "[FTPSetup] QuietModeInstal"),
                 "warning", "did you mean QuietModeInstall?");
}

TEST_F(CheckTest, NamesUnknownSectionGivesTheNearestKnownSection) {
  EXPECT_FINDING(WithIni(std::string(kQuiet) + "[Suport]\r\nLine1=Call us\r\n", "[Suport]"), "warning",
                 "did you mean [Support]?");
}

TEST_F(CheckTest, NamesKeyInTheWrongSectionSaysWhereItIsRead) {
  EXPECT_FINDING(WithIni(QuietWith("DestinationDir=C:\\Apps\\FTP\r\nGroupName=Tools\r\n"), "[FTPSetup] GroupName"),
                 "warning", "from [Program Group]");
}

TEST_F(CheckTest, NamesRepeatedSectionIsIgnored) {
  EXPECT_FINDING(WithIni(std::string(kQuiet) + "[FTPSetup]\r\nBaseRegistry=2\r\n", "[FTPSetup] (line 8)"),
                 "warning", "Only the first [FTPSetup]");
}

TEST_F(CheckTest, YesNoOneReadsAsNo) {
  EXPECT_FINDING(WithIni("[FTPSetup]\r\nQuietModeInstall=1\r\nDestinationDir=C:\\Apps\\FTP\r\n",
                         "[FTPSetup] QuietModeInstall"), "warning", "reads as No");
  EXPECT_FINDING(WithIni(QuietWith("DestinationDir=C:\\Apps\\FTP\r\n", "UseGroup=Y\r\nGroupName=T\r\nShortCut=true\r\n"),
                         "[Program Group] ShortCut"), "warning", "write Y");
  EXPECT_FINDING(WithIni(QuietWith("DestinationDir=C:\\Apps\\FTP\r\n", "UseGroup=maybe\r\nGroupName=T\r\nShortCut=N\r\n"),
                         "[Program Group] UseGroup"), "warning", "does not start with Y or N");
}

TEST_F(CheckTest, BaseRegistryOutsideZeroToTwoSaysWhatItGives) {
  EXPECT_FINDING(WithIni(QuietWith("DestinationDir=C:\\Apps\\FTP\r\nBaseRegistry=12\r\n"), "[FTPSetup] BaseRegistry"),
                 "warning", "gives 1");
  EXPECT_FINDING(WithIni(QuietWith("DestinationDir=C:\\Apps\\FTP\r\nBaseRegistry=3\r\n"), "[FTPSetup] BaseRegistry"),
                 "warning", "gives 0");
}

// The program's own reading decides the sentence: what it does with an
// over-long directory is what the probe of ReadSetupConfiguration shows.
TEST_F(CheckTest, LengthThreeHundredCharacterDestinationDirFollowsTheProgram) {
  std::string longDir = "C:\\" + std::string(296, 'd');
  {
    winsim::Machine m(winsim::WindowsVersion::XP);
    winsim::CurrentMachine use(m);
    m.WriteText("C:\\dist\\SETUP.INI", QuietWith("DestinationDir=" + longDir + "\r\n"));
    setupcheck::ReadStartingConfiguration(m);
    std::string taken = setupState.installDir;
    ResetSetupState();
    std::string got = WithIni(QuietWith("DestinationDir=" + longDir + "\r\n"), "[FTPSetup] DestinationDir");
    EXPECT_FINDING(got, "error", "longer than the 259 characters");
    if (taken == longDir.substr(0, 259)) EXPECT_FINDING(got, "error", "the program cuts it");
    else EXPECT_FINDING(got, "error", "the program ignores it");
  }
}

TEST_F(CheckTest, LengthGroupNameOverSixtyThreeCharacters) {
  EXPECT_FINDING(WithIni(QuietWith("DestinationDir=C:\\Apps\\FTP\r\n",
                                   "UseGroup=Y\r\nGroupName=" + std::string(80, 'g') + "\r\nShortCut=Y\r\n"),
                         "[Program Group] GroupName"), "warning", "longer than 63 characters");
}

TEST_F(CheckTest, LengthSupportLineOverTheProfileBuffer) {
  EXPECT_FINDING(WithIni(std::string(kQuiet) + "[Support]\r\nLine1=" + std::string(300, 's') + "\r\n",
                         "[Support] Line1"), "warning", "records only the first 259 in the registry");
}

TEST_F(CheckTest, QuietBothKeysOnlyTheInstallationRuns) {
  EXPECT_FINDING(WithIni(QuietWith("DestinationDir=C:\\Apps\\FTP\r\nQuietModeUnInstall=Y\r\n"),
                         "[FTPSetup] QuietModeUnInstall"), "warning", "only the installation runs");
}

TEST_F(CheckTest, QuietWithoutGroupNameIsNotSilent) {
  std::string got = WithIni(QuietWith("DestinationDir=C:\\Apps\\FTP\r\n", "UseGroup=Y\r\nShortCut=Y\r\n"),
                            "[FTPSetup] QuietModeInstall");
  EXPECT_FINDING(got, "warning", "[Program Group] GroupName is missing");
  EXPECT_FINDING(got, "warning", "final message box");
}

TEST_F(CheckTest, WorkingDirOnlyOverAPreviousInstallation) {
  EXPECT_FINDING(WithIni(QuietWith("DestinationDir=C:\\Apps\\FTP\r\nWorkingDir=C:\\FTP Data\r\n"),
                         "[FTPSetup] WorkingDir"), "warning", "only over a previous installation");
}

TEST_F(CheckTest, CommonDocumentsKeyIgnoredOnTheOlderFamilies) {
  EXPECT_FINDING(WithIni(QuietWith("DestinationDir=C:\\Apps\\FTP\r\nUseAllUsersCommonFolderAsWorkingDir=Y\r\n"),
                         "[FTPSetup] UseAllUsersCommonFolderAsWorkingDir"),
                 "warning", "Windows 95, Windows 98 and Windows NT4 ignore the key");
}

TEST_F(CheckTest, GroupNameNotAPlainFolderName) {
  EXPECT_FINDING(WithIni(QuietWith("DestinationDir=C:\\Apps\\FTP\r\n", "UseGroup=Y\r\nGroupName=Tools: FTP\r\nShortCut=Y\r\n"),
                         "[Program Group] GroupName"), "warning", "no program group will be made");
}

TEST_F(CheckTest, PathsRelativeDestinationDir) {
  EXPECT_FINDING(WithIni(QuietWith("DestinationDir=VORTAN\\FTP\r\n"), "[FTPSetup] DestinationDir"), "error",
                 "not a full path");
}

TEST_F(CheckTest, PathsDestinationDirThatRemovalProtects) {
  EXPECT_FINDING(WithIni(QuietWith("DestinationDir=C:\\Program Files\r\n"), "[FTPSetup] DestinationDir"), "error",
                 "removal protects");
  EXPECT_FINDING(WithIni(QuietWith("DestinationDir=C:\\\r\n"), "[FTPSetup] DestinationDir"), "error", "removal protects");
}

TEST_F(CheckTest, EncodingUtf8MarkHidesTheFirstSection) {
  EXPECT_FINDING(WithIni("\xEF\xBB\xBF" + std::string(kQuiet), "SETUP.INI"), "error",
                 "section [FTPSetup] (2 keys) is not seen");
}

TEST_F(CheckTest, EncodingUtf16IsNotReadByTheOlderFamilies) {
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string(kQuiet)) utf16 += std::string(1, c) + '\0';
  EXPECT_FINDING(WithIni(utf16, "SETUP.INI"), "warning", "Windows 95, 98 and NT 4.0");
  std::string be = "\xFE\xFF";
  for (char c : std::string(kQuiet)) be += std::string(1, '\0') + c;
  EXPECT_FINDING(WithIni(be, "SETUP.INI"), "error", "big-endian");
}

TEST_F(CheckTest, EncodingNonAsciiValues) {
  std::string about = std::string(kQuiet) + "[About]\r\nName=Soci\xC3\xA9t\xC3\xA9 G\xC3\xA9n\xC3\xA9rale\r\n";
  EXPECT_FINDING(WithIni(about, "[About] Name"), "warning", "\"Soci\xC3\x83\xC2\xA9t\xC3\x83\xC2\xA9");
  EXPECT_FINDING(WithIni(std::string(kQuiet) + "[About]\r\nName=Soci\xE9t\xE9\r\n", "[About] Name"), "warning",
                 "another code page");
}

TEST_F(CheckTest, DistributionMissingServerDll) {
  dist_.Remove("QXFTP.DL_");
  EXPECT_FINDING(About("QXFTP.DL_"), "error", "lacks QXFTP.DL_ (the server DLL)");
  EXPECT_FINDING(About("installation"), "error", "the installation fails on Windows 95");
}

TEST_F(CheckTest, DistributionDamagedPackedProgram) {
  std::string packed = Str(fixture::Packed(fixture::ProgramContent("QXFTP.EXE"), 'E'));
  dist_.Put("QXFTP.EX_", packed.substr(0, packed.size() / 2));
  EXPECT_FINDING(About("QXFTP.EX_"), "error", "does not expand");
}

TEST_F(CheckTest, DistributionCorruptCabinet) {
  std::string cab = Str(fixture::kGoodCabinet);
  dist_.Put("Qxcerts.Cab", cab.substr(0, 60));
  EXPECT_FINDING(About("Qxcerts.Cab"), "warning", "cannot be read");
}

TEST_F(CheckTest, DistributionCabinetMemberOutsideTheFolder) {
  dist_.Put("Qxcerts.Cab", Str(fixture::kHostileCabinet));
  EXPECT_FINDING(About("Qxcerts.Cab"), "warning", "\"..\\e.txt\" names a place outside");
}

TEST_F(CheckTest, DistributionTemplateCopiedIntoConfig) {
  dist_.Put("SETUP.INI.template", "; every key\r\n");
  EXPECT_FINDING(About("SETUP.INI.template"), "warning", "copied into the installation's Config folder");
}

TEST_F(CheckTest, DistributionHiddenFolderAndMissingSetupExe) {
  dist_.Put(".git/config", "[core]\n");
  dist_.Remove("Setup.exe");
  EXPECT_FINDING(About(".git"), "warning", "copied whole");
  dist_.Put("RECYCLER/x.dat", "x");
  EXPECT_FINDING(About("RECYCLER"), "warning", "skipped only while it is hidden and system");
  EXPECT_FINDING(About("Setup.exe"), "error", "no Setup.exe");
}

TEST_F(CheckTest, NearestKnownKeyIsNotGuessedForUnrelatedNames) {
  std::string section;
  EXPECT_EQ(setupcheck::NearestKnownKey("DestinationDirectory", &section), "DestinationDir");
  EXPECT_EQ(section, "FTPSetup");
  EXPECT_EQ(setupcheck::NearestKnownKey("Colour", &section), "");
}

// ---- The tool as a program -----------------------------------------------------------

struct Result {
  int status;
  std::string out;
};

Result Tool(const std::string& args) {
  Result r{-1, ""};
  if (FILE* p = popen((std::string(SETUPCHECK) + " " + args + " 2>&1").c_str(), "r")) {
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  return r;
}

std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

class ToolTest : public ::testing::Test {
 protected:
  HostDist dist_;
};

TEST_F(ToolTest, BadInputMissingDirectory) {
  Result r = Tool("check " + Q(dist_.dir() / "nowhere"));
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_NE(r.out.find("no such directory"), std::string::npos) << r.out;
  r = Tool("preview " + Q(dist_.dir() / "nowhere"));
  EXPECT_EQ(r.status, 3) << r.out;
}

TEST_F(ToolTest, BadInputUnreadableSetupIni) {
  dist_.Remove("SETUP.INI");
  fs::create_directories(dist_.dir() / "SETUP.INI");
  Result r = Tool("check " + Q(dist_.dir()));
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_NE(r.out.find("not a regular file"), std::string::npos) << r.out;
  fs::remove_all(dist_.dir() / "SETUP.INI");
  ASSERT_EQ(mkfifo((dist_.dir() / "SETUP.INI").c_str(), 0600), 0);
  r = Tool("check " + Q(dist_.dir()));
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_NE(r.out.find("not a regular file"), std::string::npos) << r.out;
  fs::remove(dist_.dir() / "SETUP.INI");
  dist_.Ini(kQuiet);
  fs::permissions(dist_.dir() / "SETUP.INI", fs::perms::none);
  r = Tool("check " + Q(dist_.dir()));
  if (geteuid() == 0) {
    EXPECT_EQ(r.status, 0) << "root reads a file of mode 000: " << r.out;
  } else {
    EXPECT_EQ(r.status, 3) << r.out;
    EXPECT_NE(r.out.find("cannot be read"), std::string::npos) << r.out;
  }
  r = Tool("check " + Q(dist_.dir()) + " --ini " + Q(dist_.dir() / "other.ini"));
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_NE(r.out.find("no such file"), std::string::npos) << r.out;
}

TEST_F(ToolTest, BadInputTenMegabyteBinarySetupIni) {
  std::string junk(10 * 1024 * 1024, '\0');
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 2654435761u) >> 13);
  dist_.Ini(junk);
  Result r = Tool("check " + Q(dist_.dir()));
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("10485760 bytes"), std::string::npos) << r.out;
  r = Tool("preview " + Q(dist_.dir()));
  EXPECT_EQ(r.status, 3) << r.out;
  EXPECT_NE(r.out.find("far too large"), std::string::npos) << r.out;
  dist_.Ini(std::string("[FTPSetup]\r\n\x01\x02\x03\x04\x05\x06\x07\x08\x0b\x0c\x0e\x0f", 24) + std::string(200, '\x01'));
  r = Tool("check " + Q(dist_.dir()));
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("not text"), std::string::npos) << r.out;
}

TEST_F(ToolTest, BadInputTenThousandFiles) {
  for (int i = 0; i < 10000; ++i) dist_.Put("Data/file" + std::to_string(i) + ".txt", "x");
  auto start = std::chrono::steady_clock::now();
  Result r = Tool("check " + Q(dist_.dir()));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("10014 files"), std::string::npos) << r.out;
  std::printf("check of a distribution of 10,000 files: %.2f s\n", seconds);
}

TEST_F(ToolTest, CheckOfTheSampleDistributionTakesUnderASecond) {
  auto start = std::chrono::steady_clock::now();
  Result r = Tool("check " + Q(dist_.dir()));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.status, 0) << r.out;
  // This distribution was not made by tools/mkdist: the one finding is the
  // note that it has no manifest, which changes no exit status.
  EXPECT_EQ(r.out, "note: Manifest.sha256_: The distribution has no manifest, so a damaged or incomplete copy "
                   "cannot be told from the one that was built (tools/mkdist writes it).\n0 errors, 0 warnings\n");
  std::printf("check of the sample distribution: %.3f s\n", seconds);
  // Under the sanitizers everything runs several times slower.
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(seconds, 10.0);
#else
  EXPECT_LT(seconds, 1.0);
#endif
}

TEST_F(ToolTest, CheckExitStatusFollowsTheWorstFinding) {
  dist_.Ini(QuietWith("DestinationDir=C:\\Apps\\FTP\r\nProfileMode=1\r\n"));
  EXPECT_EQ(Tool("check " + Q(dist_.dir())).status, 1);
  dist_.Remove("QXFTP.DL_");
  EXPECT_EQ(Tool("check " + Q(dist_.dir())).status, 2);
}

TEST_F(ToolTest, PreviewNamesMachineFoldersAsPlaceholders) {
  Result r = Tool("preview " + Q(dist_.dir()) + " --windows xp");
  EXPECT_EQ(r.status, 0) << r.out;
  for (const char* part : {"install | installed", "<Program Files>\\VORTAN\\FTP\\QXFTP.EXE  ",
                           "HKLM\\Software\\VORTAN\\FTP\n", "Installation Directory = REG_SZ \"<Program Files>\\VORTAN\\FTP\"",
                           "group VORTAN FTP", "shortcut <Common Desktop>\\VORTAN FTP.LNK", "<Documents>\\FTP"})
    EXPECT_NE(r.out.find(part), std::string::npos) << "no \"" << part << "\" in:\n" << r.out;
}

TEST_F(ToolTest, PreviewRemovalWithTheGroupQuestionAnsweredNo) {
  Result r = Tool("preview " + Q(dist_.dir()) + " --remove --answer no");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("remove | removed"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("delete the program group \"VORTAN FTP\"?  -> NO"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  group VORTAN FTP\n"), std::string::npos) << r.out;
}

TEST_F(ToolTest, PreviewWizardWithItsDefaultsStartsHelpAndProgram) {
  if (setupcheck::ResourcePath().empty()) GTEST_SKIP() << "no compiled resources (windres) for the wizard";
  Result r = Tool("preview " + Q(dist_.dir()) + " --wizard --windows 7");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("qxftp.chm"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("QXFTP.EXE\"  (in <Program Files>\\VORTAN\\FTP)"), std::string::npos) << r.out;
}

TEST_F(ToolTest, PreviewOfAllVersionsListsOnlyWhatDiffers) {
  Result r = Tool("preview " + Q(dist_.dir()) + " --windows all");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("only what differs"), std::string::npos) << r.out;
  // The 9x family has no all-users desktop: the shortcut goes to the user's.
  EXPECT_NE(r.out.find("Windows 98\n    shortcut <Desktop>\\VORTAN FTP.LNK"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("QXFTP.EXE  "), std::string::npos) << "a line every version shares:\n" << r.out;
}

TEST_F(ToolTest, PreviewJsonForMachines) {
  Result r = Tool("preview " + Q(dist_.dir()) + " --json --windows 98");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.rfind("{\n  \"windows\": [\n    {\n      \"version\": \"98\",", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\"outcome\": [\"install | installed\"]"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"file <Program Files>\\\\VORTAN\\\\FTP\\\\QXFTP.EXE size="), std::string::npos) << r.out;
}

TEST_F(ToolTest, UsageMistakes) {
  EXPECT_EQ(Tool("").status, 3);
  EXPECT_EQ(Tool("inspect " + Q(dist_.dir())).status, 3);
  EXPECT_EQ(Tool("preview " + Q(dist_.dir()) + " --windows 3.1").status, 3);
  EXPECT_EQ(Tool("preview " + Q(dist_.dir()) + " --answer maybe").status, 3);
  EXPECT_EQ(Tool("check " + Q(dist_.dir()) + " --ini").status, 3);
}

// ---- Every parity scenario -------------------------------------------------------------

std::vector<std::string> Scenarios() {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(std::string(SOURCE_ROOT) + "/tests/scenarios"))
    if (e.path().extension() == ".scn") names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

class PreviewParity : public ::testing::TestWithParam<std::string> {};

// The preview of a scenario's SETUP.INI and starting state is the parity
// dump of that scenario: the tool's output, through its options and its own
// reading of the distribution, against the dump the parity test writes.
TEST_P(PreviewParity, EqualsTheScenarioDump) {
  fs::path scn = fs::path(SOURCE_ROOT) / "tests" / "scenarios" / (GetParam() + ".scn");
  setupcheck::Scenario s = setupcheck::ReadScenario(scn);
  ASSERT_EQ(s.error, "");
  if ((!s.installWizard.empty() || !s.removeWizard.empty()) && setupcheck::ResourcePath().empty())
    GTEST_SKIP() << "no compiled resources (windres) for the wizard";
  HostDist dist;
  setupcheck::Distribution files;
  std::string why;
  ASSERT_TRUE(setupcheck::ReadDistribution(dist.dir(), &files, &why)) << why;
  setupcheck::Dump dump = setupcheck::Play(s, files, setupcheck::ResourcePath());
  EXPECT_EQ(dump.errors, std::vector<std::string>{});
  Result r = Tool("preview " + Q(dist.dir()) + " --state " + Q(scn) + " --dump");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, dump.Text());
}

INSTANTIATE_TEST_SUITE_P(Scenarios, PreviewParity, ::testing::ValuesIn(Scenarios()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
