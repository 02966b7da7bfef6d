// The quiet installation road: the sequence, the payload, certificates, the
// copy of the remaining entries, registry records, file type, program group,
// shortcut, progress and the final report.
#include "fixture.h"

#include <algorithm>

namespace {

using namespace fixture;

class InstallTest : public SetupTest {
 protected:
  void SetUp() override { SeedDistribution(); }
  void Install(const std::string& ini) {
    WriteIni(ini);
    RunSetup();
  }
  // Installs with an older QXFTP.DLL in dir held open throughout, as a
  // running client holds it.
  void InstallOverServerInUse(const std::string& dir, const std::string& ini) {
    const std::string dll = dir + "\\QXFTP.DLL";
    m().WriteText(dll, "old");
    int hold = m().Hold(dll);
    Install(ini);
    m().Release(hold);
  }
  static std::string IniWith(const std::string& from, const std::string& to) {
    std::string ini = QuietIni();
    ini.replace(ini.find(from), from.size(), to);
    return ini;
  }
  // The version installer's temporary files ("ver*.TMP") anywhere below dir.
  std::vector<std::string> Leftovers(const std::string& dir) const {
    std::vector<std::string> found;
    for (const auto& path : m().Tree(dir)) {
      std::string leaf = path.substr(path.find_last_of('\\') + 1);
      if (lstrcmpiA(leaf.substr(0, 3).c_str(), "ver") == 0 && leaf.size() > 4 &&
          lstrcmpiA(leaf.substr(leaf.size() - 4).c_str(), ".tmp") == 0)
        found.push_back(path);
    }
    return found;
  }
  std::vector<uint8_t> LE(LONG value) {
    auto v = static_cast<uint32_t>(value);
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  }
};

// ---- The whole road ------------------------------------------------------

TEST_F(InstallTest, QuietInstallationLandsEveryFileAndShowsNoBoxWithAllQuietKeys) {
  Install(QuietIni());
  EXPECT_TRUE(boxes().empty()) << "first box: " << (boxes().empty() ? "" : boxes()[0].text);
  EXPECT_EQ(setupState.installSucceeded, 1);
  for (const char* name : {"QXFTP.EXE", "UNINS.EXE", "QXFTP.HLP", "QXFTP.CHM", "QXFTP.DLL"})
    EXPECT_EQ(FileText(In(name)), ProgramContent(name)) << name;
  for (const char* sub : {"Transfer", "Traces", "Config", "Certs"}) EXPECT_TRUE(m().IsDirectory(In(sub))) << sub;
  EXPECT_EQ(FileText(In("Certs\\CA1.0")), "CA ONE\r\n");
  EXPECT_EQ(FileText(In("Certs\\CA2.0")), "CA TWO\r\n");
  EXPECT_EQ(FileText(In("Certs\\cert.pem")), "CERT-PEM\n");
  EXPECT_EQ(FileText(In("Certs\\root.0")), "ROOT0\n");
  EXPECT_EQ(FileText(In("readme.htm")), "<html>readme</html>");
  EXPECT_EQ(FileText(In("Start.qft")), "start document");
  EXPECT_EQ(FileText(In("Config\\Custom.ini")), "[custom]\r\n");
  EXPECT_EQ(FileText(In("Docs\\guide.txt")), "guide");
  EXPECT_EQ(FileText(In("Docs\\Deep\\more.txt")), "more");
  for (const char* absent : {"Config\\Setup.exe", "Config\\SETUP.INI", "Config\\Qxcerts.Cab", "Setup.exe",
                             "Config\\QXFTP.EX_", "Certs\\CA1.0_", "Config\\CA1.0_"})
    EXPECT_FALSE(m().Exists(In(absent))) << absent;
}

TEST_F(InstallTest, QuietRoadsNeverLoadTheRichEditLibraryNorLaunchAnything) {
  Install(QuietIni());
  for (const auto& load : Events("LoadLibrary")) EXPECT_EQ(load.find("riched20"), std::string::npos) << load;
  for (const auto& load : Events("LoadLibrary")) EXPECT_EQ(load.find("RICHED20"), std::string::npos) << load;
  EXPECT_TRUE(m().processes().empty());
  EXPECT_TRUE(setupState.launchHelp && setupState.launchProgram) << "the defaults would ask for launches";
}

TEST_F(InstallTest, BothQuietKeysRunOnlyTheInstallation) {
  Install(QuietIni(kDir, "QuietModeUnInstall=Y\r\n"));
  EXPECT_TRUE(m().Exists(In("QXFTP.EXE")));
  EXPECT_TRUE(m().KeyExists(HKEY_LOCAL_MACHINE, kKey));
}

TEST_F(InstallTest, MissingQuietKeyShowsTheSuccessBox) {
  Install("[FTPSetup]\r\nQuietModeInstall=Y\r\nDestinationDir=D:\\Apps\\FTP\r\n");
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].caption, "VORTAN FTP Install");
  EXPECT_EQ(boxes()[0].text, "VORTAN FTP installation completed successfully.");
  EXPECT_EQ(boxes()[0].style, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  EXPECT_EQ(boxes()[0].owner, "NULL");
}

TEST_F(InstallTest, EveryResourceTakenIsGivenBack) {
  Install(QuietIni());
  EXPECT_EQ(m().outstanding().Describe(), "");
}

// ---- Directory tree ------------------------------------------------------

TEST_F(InstallTest, TreeIsCreatedPrefixFirstThenTheDataSubdirectories) {
  Install(QuietIni("D:\\Apps\\FTP"));
  auto created = Events("CreateDirectory");
  std::vector<std::string> paths;
  for (const auto& line : created) paths.push_back(line.substr(0, line.find('|')));
  std::vector<std::string> expected = {"D:\\Apps",          "D:\\Apps\\FTP",        "D:\\Apps\\FTP\\Transfer",
                                       "D:\\Apps\\FTP\\Traces", "D:\\Apps\\FTP\\Config", "D:\\Apps\\FTP\\Certs"};
  ASSERT_GE(paths.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(paths.begin(), paths.begin() + expected.size()), expected);
}

TEST_F(InstallTest, TrailingBackslashDirectoryGetsPlainConcatenatedSubdirectories) {
  Install(QuietIni("D:\\Apps\\"));
  EXPECT_TRUE(m().IsDirectory("D:\\Apps\\Transfer"));
  EXPECT_EQ(FileText("D:\\Apps\\QXFTP.EXE"), ProgramContent("QXFTP.EXE"));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstall, "UninstallString"), "\"D:\\Apps\\Unins.Exe\"");
  EXPECT_EQ(FileText("D:\\Apps\\Certs\\cert.pem"), "CERT-PEM\n");
}

TEST_F(InstallTest, EmptyInstallDirDefaultsToProgramFiles) {
  FreshMachine(WindowsVersion::Win2000);
  Install("[FTPSetup]\r\nQuietModeInstall=Y\r\n");
  EXPECT_STREQ(setupState.installDir, kDir);
  EXPECT_STREQ(setupState.workingDir, (std::string(setupState.personalFolder) + "\\FTP").c_str());
  EXPECT_TRUE(m().Exists(In("QXFTP.EXE")));
}

// ---- Payload -------------------------------------------------------------

TEST_F(InstallTest, PayloadInstallerIsBoundFromTheSystemDirectoryAndKeepsTheOldFiles) {
  // A planted VERSION.DLL beside Setup.exe must never be used.
  m().PlantSimDll("C:\\dist\\version.dll", {"VerInstallFileA"});
  m().PlantSimDll("C:\\dist\\shfolder.dll", {"SHGetFolderPathA"});
  Install(QuietIni());
  for (const auto& load : Events("LoadLibrary")) EXPECT_EQ(load.find("C:\\dist\\"), std::string::npos) << load;
  auto installs = Events("VerInstallFile");
  ASSERT_FALSE(installs.empty());
  for (const auto& call : installs) EXPECT_EQ(call.substr(0, call.find('|')), "0x3") << call;
  EXPECT_EQ(installs.size(), 6u) << "five program files and one packed certificate";
  EXPECT_TRUE(m().Exists("C:\\dist\\QXFTP.EX_"));
}

TEST_F(InstallTest, MissingProgramFileFailsButTheRestGoesOn) {
  m().RemoveTree("C:\\dist\\UNINS.EX_");
  Install(QuietIni(kDir, "", ""));
  EXPECT_EQ(setupState.installSucceeded, 0);
  EXPECT_TRUE(boxes().empty()) << "all quiet keys: the failure box is suppressed";
  EXPECT_TRUE(m().Exists(In("QXFTP.EXE")));
  EXPECT_TRUE(m().Exists(In("QXFTP.DLL")));
  EXPECT_TRUE(m().KeyExists(HKEY_LOCAL_MACHINE, kKey)) << "later steps run regardless";
  EXPECT_EQ(m().journal().Count("Beep"), 1u);
}

TEST_F(InstallTest, FailureBoxWhenTheQuietKeysAreIncomplete) {
  m().RemoveTree("C:\\dist\\QXFTP.HL_");
  Install("[FTPSetup]\r\nQuietModeInstall=Y\r\nDestinationDir=D:\\X\r\n");
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text,
            "VORTAN FTP installation was unsuccessful ... please check your setup parameters and try again.");
  EXPECT_EQ(boxes()[0].style, static_cast<UINT>(MB_OK | MB_ICONWARNING));
}

TEST_F(InstallTest, ServerDllIsRegisteredAfterInstalling) {
  Install(QuietIni());
  auto calls = Events("DllRegisterServer");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_NE(calls[0].find(In("QXFTP.DLL")), std::string::npos) << calls[0];
}

TEST_F(InstallTest, ServerDllImportsComeFromItsOwnFolderNotFromBesideSetup) {
  // Setup.exe runs from a download folder, elevated: a helper DLL planted
  // there must not be loaded into it as the server's import.
  m().PlantSimDll("C:\\dist\\QXHELP.DLL", {"Planted"});
  m().PlantSimDll(m().SystemDir() + "\\QXHELP.DLL", {"Help"});
  m().WriteBytes("C:\\dist\\QXFTP.DL_", fixture::Packed(Machine::SimDllImage({}, {"QXHELP.DLL"}), 'L'));
  Install(QuietIni());
  ASSERT_EQ(Events("DllRegisterServer").size(), 1u);
  auto imports = Events("LoadImport");
  ASSERT_EQ(imports.size(), 1u);
  EXPECT_EQ(imports[0], In("QXFTP.DLL") + "|QXHELP.DLL|" + m().SystemDir() + "\\QXHELP.DLL|0");

  // A helper shipped beside the server itself comes before the system's.
  ResetSetupState();
  m().journal().Clear();
  m().PlantSimDll(In("QXHELP.DLL"), {"Shipped"});
  RunSetup();
  imports = Events("LoadImport");
  ASSERT_EQ(imports.size(), 1u);
  EXPECT_EQ(imports[0], In("QXFTP.DLL") + "|QXHELP.DLL|" + In("QXHELP.DLL") + "|0");
}

TEST_F(InstallTest, ServerDllInUseOnNtGoesToTheDriveRootForARestartReplacement) {
  InstallOverServerInUse("D:\\Apps\\FTP", QuietIni("D:\\Apps\\FTP"));
  EXPECT_EQ(setupState.installSucceeded, 1);
  EXPECT_TRUE(boxes().empty());
  EXPECT_EQ(FileText("D:\\QXFTP.DLL"), ProgramContent("QXFTP.DLL"));
  auto pending = m().PendingRenames();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].first, "\\??\\D:\\QXFTP.DLL");
  EXPECT_EQ(pending[0].second, "!\\??\\D:\\Apps\\FTP\\QXFTP.DLL");
  EXPECT_TRUE(Events("DllRegisterServer").empty());
}

TEST_F(InstallTest, ServerDllInUseOn9xShowsTheErrorBoxAndFails) {
  FreshMachine(WindowsVersion::Win98);
  InstallOverServerInUse("D:\\Apps\\FTP", "[FTPSetup]\r\nQuietModeInstall=Y\r\nDestinationDir=D:\\Apps\\FTP\r\n");
  EXPECT_EQ(setupState.installSucceeded, 0);
  ASSERT_GE(boxes().size(), 2u);
  EXPECT_EQ(boxes()[0].caption, "Setup Error");
  EXPECT_EQ(boxes()[0].style, static_cast<UINT>(MB_SETFOREGROUND | MB_ICONWARNING));
  EXPECT_EQ(boxes()[0].text.rfind("Error code ", 0), 0u) << boxes()[0].text;
  EXPECT_NE(boxes()[0].text.find(" installing QXFTP.DLL.  GetLastError( ) returned "), std::string::npos);
  EXPECT_EQ(boxes()[1].caption, "VORTAN FTP Install");
  EXPECT_FALSE(m().Exists("D:\\QXFTP.DLL"));
}

TEST_F(InstallTest, NtRetryNeedsADriveLetter) {
  InstallOverServerInUse("\\\\server\\share\\FTP", QuietIni("\\\\server\\share\\FTP"));
  EXPECT_EQ(setupState.installSucceeded, 0);
  EXPECT_TRUE(m().PendingRenames().empty());
}

// ---- A DLL in use, a full disk -------------------------------------------------

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kNotAllQuietKeys[] = "[FTPSetup]\r\nQuietModeInstall=Y\r\nDestinationDir=D:\\Apps\\FTP\r\n";

TEST_F(InstallTest, ServerDllInUseLeavesNoTemporaryCopyBehind) {
  InstallOverServerInUse("D:\\Apps\\FTP", QuietIni("D:\\Apps\\FTP"));
  EXPECT_EQ(setupState.installSucceeded, 1);
  EXPECT_EQ(Leftovers("D:\\"), std::vector<std::string>{}) << "the copy named by VIF_TEMPFILE is deleted";
  EXPECT_EQ(FileText("D:\\Apps\\FTP\\QXFTP.DLL"), "old");
}

TEST_F(InstallTest, DriveRootReplacementRefusedFailsAndDeletesTheStagedCopy) {
  m().DenyKey(HKEY_LOCAL_MACHINE, kSessionManager);
  InstallOverServerInUse("D:\\Apps\\FTP", kNotAllQuietKeys);
  EXPECT_EQ(setupState.installSucceeded, 0);
  ASSERT_EQ(boxes().size(), 2u);
  EXPECT_EQ(boxes()[0].text, "Error code 81 installing QXFTP.DLL.  GetLastError( ) returned 5.");
  EXPECT_EQ(boxes()[0].caption, "Setup Error");
  EXPECT_EQ(boxes()[1].text, kFailureText);
  EXPECT_FALSE(m().Exists("D:\\QXFTP.DLL")) << "no stray copy at the drive root";
  EXPECT_TRUE(m().PendingRenames().empty());
  EXPECT_EQ(Leftovers("D:\\"), std::vector<std::string>{});
}

TEST_F(InstallTest, DriveRootThatRefusesTheDllTooReportsTheRootsFailure) {
  m().WriteText("D:\\QXFTP.DLL", "someone else's");
  m().SetAttributes("D:\\QXFTP.DLL", FILE_ATTRIBUTE_READONLY);
  InstallOverServerInUse("D:\\Apps\\FTP", kNotAllQuietKeys);
  EXPECT_EQ(setupState.installSucceeded, 0);
  ASSERT_EQ(boxes().size(), 2u);
  EXPECT_EQ(boxes()[0].text.rfind("Error code 40 installing QXFTP.DLL.", 0), 0u)
      << "VIF_WRITEPROT from the retry, not the first attempt's VIF_FILEINUSE; got " << boxes()[0].text;
  EXPECT_EQ(boxes()[1].text, kFailureText);
  EXPECT_EQ(FileText("D:\\QXFTP.DLL"), "someone else's");
  EXPECT_EQ(FileText("D:\\Apps\\FTP\\QXFTP.DLL"), "old");
  EXPECT_TRUE(m().PendingRenames().empty());
  EXPECT_EQ(Leftovers("D:\\"), std::vector<std::string>{});
}

TEST_F(InstallTest, FullDiskOnNtFailsWithoutARetryAtTheDriveRoot) {
  m().SetVolumeCapacity("D:\\", 10);
  Install(kNotAllQuietKeys);
  EXPECT_EQ(setupState.installSucceeded, 0);
  ASSERT_EQ(boxes().size(), 2u);
  EXPECT_EQ(boxes()[0].text, "Error code 100 installing QXFTP.DLL.  GetLastError( ) returned 112.");
  EXPECT_EQ(boxes()[1].text, kFailureText);
  for (const auto& call : Events("VerInstallFile")) EXPECT_EQ(call.find("|D:\\|"), std::string::npos) << call;
  EXPECT_EQ(m().List("D:\\"), std::vector<std::string>{"Apps"}) << "nothing at the drive root";
  EXPECT_TRUE(m().PendingRenames().empty());
}

TEST_F(InstallTest, FullDiskOn9xShowsTheSameBoxes) {
  FreshMachine(WindowsVersion::Win98);
  m().SetVolumeCapacity("D:\\", 10);
  Install(kNotAllQuietKeys);
  EXPECT_EQ(setupState.installSucceeded, 0);
  ASSERT_EQ(boxes().size(), 2u);
  EXPECT_EQ(boxes()[0].text, "Error code 100 installing QXFTP.DLL.  GetLastError( ) returned 112.");
  EXPECT_EQ(boxes()[1].text, kFailureText);
  EXPECT_EQ(m().List("D:\\"), std::vector<std::string>{"Apps"});
}

TEST_F(InstallTest, FullDiskLeavesEmptyFilesInTheInstallationDirectoryThatTheRemovalTakes) {
  m().SetVolumeCapacity("D:\\", 3);  // smaller than any file of the distribution
  Install(QuietIni("D:\\Apps\\FTP"));
  EXPECT_EQ(setupState.installSucceeded, 0);
  EXPECT_TRUE(boxes().empty()) << "all quiet keys: no box at all";
  std::string files;
  for (const auto& path : m().Tree("D:\\"))
    if (!m().IsDirectory("D:\\" + path)) files += path + ":" + std::to_string(m().ReadBytes("D:\\" + path)->size()) + " ";
  EXPECT_EQ(m().VolumeUsed("D:\\"), 0u) << "only the tree and empty files: " << files;
  EXPECT_EQ(Leftovers("D:\\Apps\\FTP").size(), 6u) << "five program files and one certificate";
  EXPECT_EQ(Leftovers("D:\\").size(), 6u) << "none elsewhere";

  ResetSetupState();
  WriteIni("[FTPSetup]\r\nQuietModeUnInstall=Y\r\n");
  RunSetup();
  EXPECT_EQ(m().Tree("D:\\"), std::vector<std::string>{}) << "the removal takes what was left, and the parent it made";
}

// ---- Joins that cannot be paths ------------------------------------------------

TEST_F(InstallTest, JoinsThatCannotBePathsNeverReachTheInstallerOrTheShell) {
  std::string dir = "C:\\" + std::string(242, 'p');  // 245 characters: Certs and long names do not fit
  m().WriteBytes("C:\\dist\\LONGCERTIFICATE.0_", fixture::Packed("LONG\r\n", '0'));
  m().WriteText("C:\\dist\\DocumentationXYZW\\a.txt", "a");
  Install(QuietIni(dir));
  EXPECT_EQ(setupState.installSucceeded, 1) << "the program files still fit";
  EXPECT_EQ(FileText(dir + "\\QXFTP.EXE"), ProgramContent("QXFTP.EXE"));
  for (const auto& call : m().journal().OfKind("VerInstallFile")) {
    const auto& f = call.fields;  // flags, source, target, source dir, target dir, current dir, result
    EXPECT_LT(f[3].size() + 1 + f[1].size(), 260u) << f[1];
    EXPECT_LT(f[4].size() + 1 + f[2].size(), 260u) << f[2];
    EXPECT_LE(f[4].size(), 246u) << "room for the installer's temporary name: " << f[2];
  }
  for (const auto& call : m().journal().OfKind("SHFileOperation")) {
    const auto& f = call.fields;  // operation, sources, targets, ...
    if (f[0] != "FO_COPY") continue;
    EXPECT_LT(f[2].size() + 1 + (f[1].size() - f[1].find_last_of('\\') - 1), 260u) << f[1];
  }
  EXPECT_FALSE(m().Exists(dir + "\\DocumentationXYZW"));
}

TEST_F(InstallTest, InstallDirWithoutRoomForTheInstallersTemporaryNameFails) {
  std::string dir = "C:\\" + std::string(244, 'p');  // 247 characters
  Install("[FTPSetup]\r\nQuietModeInstall=Y\r\nDestinationDir=" + dir + "\r\n");
  EXPECT_EQ(setupState.installSucceeded, 0);
  EXPECT_TRUE(Events("VerInstallFile").empty()) << Events("VerInstallFile")[0];
  ASSERT_EQ(boxes().size(), 2u);
  EXPECT_EQ(boxes()[0].text, "Error code 800 installing QXFTP.DLL.  GetLastError( ) returned 206.");
  EXPECT_EQ(boxes()[1].text, kFailureText);
}

// ---- Hidden system entries ------------------------------------------------------

TEST_F(InstallTest, HiddenSystemEntriesOfADriveRootAreNotCopied) {
  const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  for (const char* folder : {"$RECYCLE.BIN", "RECYCLER", "System Volume Information"}) {
    m().WriteText(std::string("C:\\dist\\") + folder + "\\S-1-5\\INFO2", "volume data");
    m().SetAttributes(std::string("C:\\dist\\") + folder, hiddenSystem);
  }
  for (const char* file : {"desktop.ini", "autorun.inf"}) {
    m().WriteText(std::string("C:\\dist\\") + file, "[volume]\r\n");
    m().SetAttributes(std::string("C:\\dist\\") + file, hiddenSystem);
  }
  m().WriteText("C:\\dist\\hidden.ini", "h");
  m().SetAttributes("C:\\dist\\hidden.ini", FILE_ATTRIBUTE_HIDDEN);
  m().WriteText("C:\\dist\\system.ini", "s");
  m().SetAttributes("C:\\dist\\system.ini", FILE_ATTRIBUTE_SYSTEM);
  m().WriteText("C:\\dist\\Hidden Docs\\h.txt", "h");
  m().SetAttributes("C:\\dist\\Hidden Docs", FILE_ATTRIBUTE_HIDDEN);
  Install(QuietIni());
  EXPECT_EQ(setupState.installSucceeded, 1);
  for (const char* absent : {"$RECYCLE.BIN", "RECYCLER", "System Volume Information", "S-1-5",
                             "Config\\desktop.ini", "Config\\autorun.inf"})
    EXPECT_FALSE(m().Exists(In(absent))) << absent;
  for (const char* present : {"Config\\hidden.ini", "Config\\system.ini", "Hidden Docs\\h.txt", "Docs\\guide.txt"})
    EXPECT_TRUE(m().Exists(In(present))) << "only both attributes together mark a volume's own entry: " << present;
}

TEST_F(InstallTest, DistributionFileNamedLikeThePayloadSurvivesTheInstallation) {
  // The installer would otherwise delete "a previous version" from the start
  // directory, which is the distribution itself.
  m().WriteText("C:\\dist\\QXFTP.EXE", "unpacked copy kept by the administrator");
  Install(QuietIni());
  EXPECT_EQ(FileText("C:\\dist\\QXFTP.EXE"), "unpacked copy kept by the administrator");
}

TEST_F(InstallTest, RenamedProgramFindsItsPayloadAndIsNotCopiedToConfig) {
  m().WriteText("C:\\dist\\Install Vortan.exe", "setup program image");
  WriteIni(QuietIni());
  RunSetup("C:\\dist", "Install Vortan.exe");
  EXPECT_EQ(setupState.installSucceeded, 1);
  EXPECT_FALSE(m().Exists(In("Config\\Install Vortan.exe")));
}

TEST_F(InstallTest, CorruptPackedFilesFailSafely) {
  auto packed = fixture::Packed(ProgramContent("QXFTP.EXE"), 'E');
  packed.resize(packed.size() / 2);
  m().WriteBytes("C:\\dist\\QXFTP.EX_", packed);
  m().WriteBytes("C:\\dist\\QXFTP.CH_", Bytes("SZDD"));
  Install(QuietIni());
  EXPECT_EQ(setupState.installSucceeded, 0);
  EXPECT_TRUE(m().Exists(In("UNINS.EXE")));
}

// ---- Certificates and the remaining entries ---------------------------------

TEST_F(InstallTest, HostileCabinetMembersAreNotExtractedOutsideCerts) {
  m().WriteBytes("C:\\dist\\Qxcerts.Cab", fixture::kHostileCabinet);
  Install(QuietIni());
  EXPECT_EQ(FileText(In("Certs\\cert.pem")), "CERT-PEM\n") << "plain members still arrive";
  EXPECT_FALSE(m().Exists(In("e.txt")));
  EXPECT_FALSE(m().Exists(In("Certs\\sub\\inner.pem")));
  EXPECT_FALSE(m().Exists(In("Certs\\inner.pem")));
  EXPECT_EQ(m().Tree(In("Certs")), (std::vector<std::string>{"CA1.0", "CA2.0", "cert.pem"}));
}

TEST_F(InstallTest, CorruptOrMissingCabinetIsSilent) {
  auto truncated = fixture::kGoodCabinet;
  truncated.resize(60);
  m().WriteBytes("C:\\dist\\Qxcerts.Cab", truncated);
  Install(QuietIni());
  EXPECT_EQ(setupState.installSucceeded, 1);
  EXPECT_TRUE(boxes().empty());

  FreshMachine(WindowsVersion::XP);
  m().RemoveTree("C:\\dist\\Qxcerts.Cab");
  Install(QuietIni());
  EXPECT_EQ(setupState.installSucceeded, 1);
  EXPECT_FALSE(m().Exists(In("Certs\\cert.pem")));
}

TEST_F(InstallTest, RemainingEntriesGoToTheirPlaces) {
  m().WriteText("C:\\dist\\Start.FTP", "s");
  m().WriteText("C:\\dist\\STARTUP.bmp", "b");
  m().WriteText("C:\\dist\\setup.ini.bak", "x");
  m().WriteText("C:\\dist\\Notes", "no extension");
  m().WriteText("C:\\dist\\setup.INI", QuietIni());
  Install(QuietIni());
  EXPECT_TRUE(m().Exists(In("Start.FTP")));
  EXPECT_TRUE(m().Exists(In("STARTUP.bmp")));
  EXPECT_TRUE(m().Exists(In("Config\\setup.ini.bak")));
  EXPECT_TRUE(m().Exists(In("Config\\Notes")));
  EXPECT_FALSE(m().Exists(In("Config\\SETUP.INI")));
}

// ---- Registry records --------------------------------------------------------

TEST_F(InstallTest, NoFolderIsCopiedWhenTheInstallationDirectoryCouldNotBeMade) {
  // The third directory of the tree is the installation directory itself.
  m().faults.failCall = winsim::Faults::CallFailure{"CreateDirectoryA", 3, 0};
  Install(QuietIni());
  ASSERT_EQ(Events("FailedCall").size(), 1u);
  EXPECT_NE(Events("FailedCall")[0].find("|ERROR_ACCESS_DENIED|" + std::string(kDir)), std::string::npos)
      << Events("FailedCall")[0];
  EXPECT_EQ(setupState.installSucceeded, 0);
  EXPECT_FALSE(m().Exists(In("guide.txt"))) << "the Docs folder's content in place of the directory";
  EXPECT_FALSE(m().Exists(In("Deep\\more.txt")));
  EXPECT_TRUE(Events("SHFileOperation").empty());
}

TEST_F(InstallTest, SettingsKeyHoldsExactTypesAndSizes) {
  Install(QuietIni(kDir, "ProfileMode=Y\r\nLock=1\r\nLockFTP=-2\r\n"));
  EXPECT_EQ(RegBytes(HKEY_LOCAL_MACHINE, kKey, "BaseRegistry"), std::vector<uint8_t>{0});
  EXPECT_EQ(RegType(HKEY_LOCAL_MACHINE, kKey, "BaseRegistry"), static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(RegBytes(HKEY_LOCAL_MACHINE, kKey, "Profile Mode"), std::vector<uint8_t>{1});
  auto dir = RegBytes(HKEY_LOCAL_MACHINE, kKey, "Installation Directory");
  ASSERT_TRUE(dir);
  EXPECT_EQ(dir->size(), std::strlen(kDir) + 1) << "the NUL is counted";
  EXPECT_EQ(RegType(HKEY_LOCAL_MACHINE, kKey, "Installation Directory"), static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(RegBytes(HKEY_LOCAL_MACHINE, kKey, "WorkingDirType"), std::vector<uint8_t>{1});
  EXPECT_FALSE(RegString(HKEY_LOCAL_MACHINE, kKey, "Working Directory")) << "type 1 goes to the user hive";
  EXPECT_EQ(RegString(HKEY_CURRENT_USER, kKey, "Working Directory"),
            std::string(setupState.personalFolder) + "\\FTP");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kKey, "Program Group"), "VORTAN FTP");
  EXPECT_EQ(RegBytes(HKEY_LOCAL_MACHINE, kKey, "Lock"), LE(1));
  EXPECT_EQ(RegBytes(HKEY_LOCAL_MACHINE, kKey, "LockFTP"), LE(-2));
  EXPECT_EQ(m().ValueNames(HKEY_LOCAL_MACHINE, kKey),
            (std::vector<std::string>{"BaseRegistry", "Profile Mode", "Installation Directory", "WorkingDirType",
                                      "Program Group", "Lock", "LockFTP", "Created Directories",
                                      "Uninstall Entry", "File Type", "Desktop Shortcut"}));
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstall, "DisplayName"), "VORTAN FTP");
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kUninstall, "UninstallString"), "\"" + In("Unins.Exe") + "\"");
}

TEST_F(InstallTest, HivesFollowBaseRegistry) {
  struct Case {
    const char* base;
    const char* extra;
    HKEY settings;
    HKEY workingDir;
  };
  const Case cases[] = {
      {"0", "UsePersonalFolderAsWorkingDir=Y\r\n", HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER},
      {"1", "UseAllUsersCommonFolderAsWorkingDir=Y\r\n", HKEY_LOCAL_MACHINE, HKEY_LOCAL_MACHINE},
      {"2", "", HKEY_CURRENT_USER, HKEY_CURRENT_USER},
  };
  for (const Case& c : cases) {
    FreshMachine(WindowsVersion::XP);
    Install(QuietIni(kDir, std::string("BaseRegistry=") + c.base + "\r\n" + c.extra,
                     "[Support]\r\nLine1=Call us\r\n[About]\r\nName=Vortan\r\n"));
    HKEY other = c.settings == HKEY_LOCAL_MACHINE ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    EXPECT_EQ(RegString(c.settings, kKey, "Installation Directory"), kDir) << "BaseRegistry " << c.base;
    EXPECT_FALSE(RegString(other, kKey, "Installation Directory")) << "BaseRegistry " << c.base;
    EXPECT_TRUE(RegString(c.workingDir, kKey, "Working Directory")) << "BaseRegistry " << c.base;
    EXPECT_EQ(RegString(c.settings, std::string(kKey) + "\\Support", "Line1"), "Call us");
    EXPECT_EQ(RegString(c.settings, std::string(kKey) + "\\About", "Name"), "Vortan");
    EXPECT_TRUE(RegString(HKEY_LOCAL_MACHINE, kUninstall, "DisplayName")) << "always under HKLM";
  }
}

TEST_F(InstallTest, SupportAndAboutValuesAreAllWrittenEmptyWhenMissing) {
  Install(QuietIni());
  for (const char* name : {"Info1", "Info2", "Name", "Address1", "Address2", "Address3", "Phone", "Fax", "BBS",
                           "INet"}) {
    auto bytes = RegBytes(HKEY_LOCAL_MACHINE, std::string(kKey) + "\\About", name);
    ASSERT_TRUE(bytes) << name;
    EXPECT_EQ(*bytes, std::vector<uint8_t>{0}) << name << ": an empty string, size 1";
  }
  for (int i = 1; i <= 9; ++i)
    EXPECT_TRUE(RegString(HKEY_LOCAL_MACHINE, std::string(kKey) + "\\Support", "Line" + std::to_string(i)));
}

TEST_F(InstallTest, ReadOnlyMachineHiveGivesThreeBoxesAndStillCompletes) {
  m().SetHiveReadOnly(HKEY_LOCAL_MACHINE);
  Install("[FTPSetup]\r\nQuietModeInstall=Y\r\nDestinationDir=D:\\Apps\r\n");
  ASSERT_EQ(boxes().size(), 4u);
  EXPECT_EQ(boxes()[0].text, "Unable to create key: HKEY_LOCAL_MACHINE\\Software\\VORTAN\\FTP");
  EXPECT_EQ(boxes()[1].text, "Unable to create key: HKEY_LOCAL_MACHINE\\Software\\VORTAN\\FTP\\Support");
  EXPECT_EQ(boxes()[2].text, "Unable to create key: HKEY_LOCAL_MACHINE\\Software\\VORTAN\\FTP\\About");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(boxes()[i].caption, "Setup Error");
  EXPECT_EQ(boxes()[3].text, "VORTAN FTP installation completed successfully.");
  EXPECT_FALSE(RegString(HKEY_LOCAL_MACHINE, kUninstall, "DisplayName"));
}

TEST_F(InstallTest, UserHiveRefusedForTheWorkingDirectory) {
  m().SetHiveReadOnly(HKEY_CURRENT_USER);
  Install(QuietIni());
  ASSERT_EQ(boxes().size(), 1u);
  EXPECT_EQ(boxes()[0].text, "Unable to create key: HKEY_CURRENT_USER\\Software\\VORTAN\\FTP");
}

// ---- File type -----------------------------------------------------------------

TEST_F(InstallTest, FileTypeOpensTheInstalledProgram) {
  Install(QuietIni("D:\\Apps\\FTP"));
  const char* classes = "Software\\Classes\\";
  auto value = [&](const std::string& key) { return RegString(HKEY_LOCAL_MACHINE, classes + key, ""); };
  EXPECT_EQ(value(".qft"), "Keldra.FTP.1");
  EXPECT_EQ(value("Keldra.FTP.1"), "Keldra FTP");
  EXPECT_EQ(value("Keldra.FTP.1\\CurVer"), "Keldra.FTP.1");
  EXPECT_EQ(value("Keldra.FTP.1\\DefaultIcon"), "D:\\Apps\\FTP\\Qxftp.exe,-103");
  EXPECT_EQ(value("Keldra.FTP.1\\shell\\open\\command"), "\"D:\\Apps\\FTP\\Qxftp.exe\" /f\"%1\"");
  EXPECT_EQ(m().journal().Count("SHChangeNotify"), 1u);
}

TEST_F(InstallTest, FileTypeWithoutClassesAccessIsSilentAndStillNotifies) {
  m().DenyKey(HKEY_LOCAL_MACHINE, "Software\\Classes");
  Install(QuietIni());
  EXPECT_FALSE(RegString(HKEY_LOCAL_MACHINE, "Software\\Classes\\.qft", ""));
  EXPECT_TRUE(boxes().empty());
  EXPECT_EQ(m().journal().Count("SHChangeNotify"), 1u);
}

// ---- Program group and shortcut -------------------------------------------------

TEST_F(InstallTest, GroupAndItemsUseShortPaths) {
  Install(QuietIni());
  std::string shortDir = m().ShortPath(kDir);
  EXPECT_EQ(DdeCommands(), (std::vector<std::string>{"[CreateGroup(VORTAN FTP)]",
                                                     "[AddItem(" + shortDir + "\\QXFTP.EXE,VORTAN FTP)]",
                                                     "[AddItem(" + shortDir + "\\UNINS.EXE,Uninstall VORTAN FTP)]"}));
  const auto* group = m().progman().FindGroup("VORTAN FTP");
  ASSERT_NE(group, nullptr);
  ASSERT_EQ(group->items.size(), 2u);
  EXPECT_EQ(group->items[1].name, "Uninstall VORTAN FTP");
}

// Windows 8 and later make no 8.3 names on volumes other than the system
// volume: GetShortPathNameA gives the long form back, blanks and all.
TEST_F(InstallTest, ItemCommandsAreQuotedWhereTheVolumeMakesNoShortNames) {
  const std::string dir = "D:\\Program Files\\VORTAN\\FTP";
  m().SetShortNames("D:", false);
  Install(QuietIni(dir));
  EXPECT_EQ(DdeCommands(), (std::vector<std::string>{
                               "[CreateGroup(VORTAN FTP)]",
                               "[AddItem(\"" + dir + "\\QXFTP.EXE\",VORTAN FTP)]",
                               "[AddItem(\"" + dir + "\\UNINS.EXE\",Uninstall VORTAN FTP)]"}));
  const auto* group = m().progman().FindGroup("VORTAN FTP");
  ASSERT_NE(group, nullptr);
  ASSERT_EQ(group->items.size(), 2u);
  EXPECT_EQ(group->items[0].program, dir + "\\QXFTP.EXE");
  EXPECT_EQ(group->items[0].arguments, "");
}

TEST_F(InstallTest, ItemCommandsWithoutBlanksStayBareWithoutShortNames) {
  m().SetShortNames("D:", false);
  Install(QuietIni("D:\\Apps\\FTP"));
  ASSERT_EQ(DdeCommands().size(), 3u);
  EXPECT_EQ(DdeCommands()[1], "[AddItem(D:\\Apps\\FTP\\QXFTP.EXE,VORTAN FTP)]");
}

TEST_F(InstallTest, GroupNamesWithParserCharactersAreQuoted) {
  Install(IniWith("GroupName=VORTAN FTP", "GroupName=Tools (x86)"));
  ASSERT_FALSE(DdeCommands().empty());
  EXPECT_EQ(DdeCommands()[0], "[CreateGroup(\"Tools (x86)\")]");
  EXPECT_NE(m().progman().FindGroup("Tools (x86)"), nullptr);
  EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kKey, "Program Group"), "Tools (x86)");
}

TEST_F(InstallTest, GroupNamesThatAreNotFolderNamesGetNoCommandAtAll) {
  for (const char* name : {"..", ".", "   ", "A\\B", "C:x", "a|b", "...."}) {
    FreshMachine(WindowsVersion::XP);
    Install(IniWith("GroupName=VORTAN FTP", std::string("GroupName=\"") + name + "\""));
    EXPECT_TRUE(DdeCommands().empty()) << name;
    EXPECT_EQ(RegString(HKEY_LOCAL_MACHINE, kKey, "Program Group"), std::string(name)) << name;
    EXPECT_EQ(setupState.installSucceeded, 1) << name;
  }
}

TEST_F(InstallTest, NoProgramManagerIsSilent) {
  m().faults.noProgmanService = true;
  Install(QuietIni());
  EXPECT_TRUE(boxes().empty());
  EXPECT_EQ(setupState.installSucceeded, 1);
}

TEST_F(InstallTest, DdeInitialisationFailureOnlyBeeps) {
  m().faults.ddeInitialize = DMLERR_DLL_USAGE;
  Install(QuietIni());
  EXPECT_TRUE(boxes().empty());
  EXPECT_EQ(m().journal().Count("Beep"), 2u) << "one for the group, one for the items";
}

TEST_F(InstallTest, ShortcutOnTheAllUsersDesktopOnNt) {
  Install(QuietIni());
  ASSERT_EQ(m().savedLinks().size(), 1u);
  const auto& link = m().savedLinks()[0];
  EXPECT_EQ(link.path, m().ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\VORTAN FTP.LNK");
  EXPECT_EQ(link.target, In("QXFTP.EXE"));
  EXPECT_EQ(link.workingDir, kDir);
  EXPECT_EQ(link.description, "VORTAN FTP");
}

TEST_F(InstallTest, ShortcutOnTheUsersDesktopOn9x) {
  FreshMachine(WindowsVersion::Win98);
  Install(QuietIni("C:\\Apps\\FTP\\"));
  ASSERT_EQ(m().savedLinks().size(), 1u);
  EXPECT_EQ(m().savedLinks()[0].path, m().ShellFolder(CSIDL_DESKTOP, fixture::FolderRoute::ItemList) +
                                          "\\VORTAN FTP.LNK");
  EXPECT_EQ(m().savedLinks()[0].target, "C:\\Apps\\FTP\\QXFTP.EXE");
  EXPECT_EQ(m().savedLinks()[0].workingDir, "C:\\Apps\\FTP\\");
}

TEST_F(InstallTest, ShortcutFallsBackToTheWindowsDirectory) {
  m().FailShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY, fixture::FolderRoute::ShFolder);
  Install(QuietIni());
  ASSERT_EQ(m().savedLinks().size(), 1u);
  EXPECT_EQ(m().savedLinks()[0].path, m().WindowsDir() + "\\VORTAN FTP.LNK");
}

TEST_F(InstallTest, ShortcutPathThatWouldExactlyFillItsBufferIsNotWritten) {
  // The desktop folder, its backslash and "VORTAN FTP.LNK" make 260
  // characters: no room for the NUL, so no link and no call at all.
  std::string desktop = "C:\\" + std::string(242, 'd');
  m().SetShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY, desktop);
  Install(QuietIni());
  EXPECT_TRUE(m().savedLinks().empty());
  EXPECT_TRUE(Events("SaveLink").empty()) << Events("SaveLink")[0];
  EXPECT_TRUE(Events("CoCreateInstance").empty());

  FreshMachine(WindowsVersion::XP);
  m().SetShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY, desktop.substr(0, desktop.size() - 1));
  Install(QuietIni());
  ASSERT_EQ(m().savedLinks().size(), 1u) << "259 characters still fit";
  EXPECT_EQ(m().savedLinks()[0].path.size(), 259u);
}

TEST_F(InstallTest, ShortcutAlsoWhenComIsAlreadyInitialisedButNotInAnotherApartment) {
  m().faults.comAlreadyInitialised = true;
  Install(QuietIni());
  EXPECT_EQ(m().savedLinks().size(), 1u) << "S_FALSE is a success";
  EXPECT_EQ(m().outstanding().Describe(), "") << "and it is balanced like one";

  FreshMachine(WindowsVersion::XP);
  m().faults.comMultithreaded = true;
  Install(QuietIni());
  EXPECT_TRUE(m().savedLinks().empty());
}

TEST_F(InstallTest, NoShortcutWhenNotAsked) {
  Install(IniWith("ShortCut=Y", "ShortCut=N"));
  EXPECT_TRUE(m().savedLinks().empty());
}

// ---- Progress ------------------------------------------------------------------

TEST_F(InstallTest, ProgressEndsAt100WithAGroupAnd90Without) {
  for (bool group : {true, false}) {
    progressWindow = nullptr;
    FreshMachine(WindowsVersion::XP);
    WriteIni(group ? QuietIni() : "[FTPSetup]\r\nDestinationDir=D:\\X\r\n[Program Group]\r\nUseGroup=N\r\n");
    StartUp();
    HWND page = m().CreateTestWindow(400, 300);
    InstallProduct(page);
    ASSERT_NE(progressWindow, nullptr);
    EXPECT_EQ(m().ParentOf(progressWindow), page);
    EXPECT_EQ(m().WindowClass(progressWindow), "msctls_progress32");
    EXPECT_EQ(m().ProgressRange(progressWindow), std::make_pair(0, 100));
    EXPECT_EQ(m().ProgressPos(progressWindow), group ? 100 : 90);
    RECT r = m().WindowRectInParent(progressWindow);
    int h = GetSystemMetrics(SM_CYVSCROLL);
    EXPECT_EQ(r.top, 300 - h);
    EXPECT_EQ(r.right - r.left, 400);
  }
}

TEST_F(InstallTest, QuietInstallationShowsNoProgressBar) {
  Install(QuietIni());
  EXPECT_EQ(progressWindow, nullptr);
  EXPECT_TRUE(m().WindowsOfClass("msctls_progress32").empty());
}

TEST_F(InstallTest, OverLongInstallDirectoryFailsStepsInsteadOfCuttingPaths) {
  std::string dir = "C:\\" + std::string(250, 'p');
  Install(QuietIni(dir));
  EXPECT_EQ(setupState.installSucceeded, 0);
  EXPECT_FALSE(m().Exists("C:\\" + std::string(250, 'p') + "\\Cert"));
  for (const auto& path : m().Tree("C:\\"))
    EXPECT_LE(path.size(), 259u) << "no cut path was created: " << path;
}

// ---- Start and source directories that do not fit --------------------------

TEST_F(InstallTest, NoUsableStartDirectoryReadsNoSetupIni) {
  // The drive root's SETUP.INI would install quietly into D:\Root.
  m().WriteText("C:\\SETUP.INI", QuietIni("D:\\Root"));
  std::string deep = "C:\\" + std::string(200, 'a') + "\\" + std::string(80, 'b');
  m().MakeDirs(deep);
  m().faults.propertySheet = true;
  m().SetProgramPath("C:\\dist\\Setup.exe");
  m().SetCurrentDir(deep);
  EXPECT_EQ(WinMain(reinterpret_cast<HINSTANCE>(0x400000), nullptr, const_cast<char*>(""), SW_SHOWNORMAL), 1);
  EXPECT_FALSE(m().Exists("D:\\Root"));
  EXPECT_EQ(BoxCaptions(), (std::vector<std::string>{"Windows Common Controls Error"})) << "the wizard road";
}

TEST_F(InstallTest, NoUsableSourceDirectoryFailsThePayloadAndCopiesNothing) {
  m().WriteText("C:\\junk.txt", "not ours");
  m().WriteText("C:\\CA9.0_", "not ours");
  m().WriteText("C:\\QXFTP.EX_", "not ours");
  std::string deep = "C:\\" + std::string(200, 'a') + "\\" + std::string(80, 'b');
  m().MakeDirs(deep);
  m().SetProgramPath(deep + "\\Setup.exe");
  m().SetCurrentDir("C:\\dist");
  WriteIni("[FTPSetup]\r\nQuietModeInstall=Y\r\nDestinationDir=D:\\Apps\r\n");
  EXPECT_EQ(WinMain(reinterpret_cast<HINSTANCE>(0x400000), nullptr, const_cast<char*>(""), SW_SHOWNORMAL), 1);
  EXPECT_EQ(setupState.installSucceeded, 0);
  ASSERT_FALSE(boxes().empty());
  EXPECT_EQ(boxes().back().text,
            "VORTAN FTP installation was unsuccessful ... please check your setup parameters and try again.");
  EXPECT_TRUE(Events("VerInstallFile").empty());
  EXPECT_TRUE(Events("CopyFile").empty());
  EXPECT_TRUE(Events("SHFileOperation").empty());
  EXPECT_FALSE(m().Exists("D:\\Apps\\Config\\junk.txt"));
  EXPECT_FALSE(m().Exists("D:\\Apps\\Program Files"));
}

}  // namespace
