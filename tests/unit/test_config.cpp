// Start-up: SETUP.INI, the previous installation in the registry, shell
// folders, and how they decide the setup state.
#include "fixture.h"

namespace {

using fixture::FolderRoute;
using fixture::SetupTest;
using fixture::WindowsVersion;

const char kPersonal[] = "C:\\Documents and Settings\\user\\My Documents";
const char kCommonDocs[] = "C:\\Documents and Settings\\All Users\\Documents";

class ConfigTest : public SetupTest {
 protected:
  // A new machine of that version with its shell folders, and the program's
  // state as a new process finds it.
  void Use(WindowsVersion version) {
    ResetSetupState();
    UseVersion(version);
    m().SetShellFolder(CSIDL_PERSONAL, kPersonal);
    m().SetShellFolder(CSIDL_COMMON_DOCUMENTS, kCommonDocs);
    m().SetShellFolder(CSIDL_PROGRAM_FILES, "C:\\Program Files");
  }
  void SetUp() override { Use(WindowsVersion::XP); }
  void Ini(const std::string& text, const std::string& dir = "C:\\dist") { WriteIni(text, dir); }
  // Starts the program afresh with this SETUP.INI in C:\dist.
  void StartWith(const std::string& ini) {
    ResetSetupState();
    Ini(ini);
    StartUp();
  }
  void Previous(HKEY hive, const std::string& dir, std::optional<BYTE> workingDirType = std::nullopt) {
    m().SetRegString(hive, "Software\\VORTAN\\FTP", "Installation Directory", dir);
    if (workingDirType) m().SetRegBinary(hive, "Software\\VORTAN\\FTP", "WorkingDirType", {*workingDirType});
  }
  std::string Personal(const std::string& tail) { return std::string(kPersonal) + "\\" + tail; }
};

TEST_F(ConfigTest, NoIniNoPreviousInstallationOnXpGivesTheDefaults) {
  StartUp();
  EXPECT_EQ(setupState.baseRegistry, 0);
  EXPECT_STREQ(setupState.sourceDir, "C:\\dist");
  EXPECT_STREQ(setupState.installDir, "C:\\Program Files\\VORTAN\\FTP");
  EXPECT_FALSE(setupState.quietParamsComplete);
  EXPECT_EQ(setupState.useGroup, 1);
  EXPECT_STREQ(setupState.groupName, "VORTAN FTP");
  EXPECT_EQ(setupState.createDesktopShortcut, 1);
  EXPECT_EQ(setupState.lockValue, 0);
  EXPECT_EQ(setupState.lockFtpValue, 0);
  EXPECT_EQ(setupState.workingDirType, 1);
  EXPECT_EQ(std::string(setupState.workingDir), Personal("FTP"));
  EXPECT_STREQ(setupState.iniPath, "C:\\dist\\SETUP.INI");
}

TEST_F(ConfigTest, InstallDirStaysEmptyOffWindowsXp) {
  for (WindowsVersion version : {WindowsVersion::Win2000, WindowsVersion::Win98, WindowsVersion::Win7}) {
    Use(version);
    StartUp();
    EXPECT_STREQ(setupState.installDir, "") << "version " << static_cast<int>(version);
  }
}

TEST_F(ConfigTest, BaseRegistryTakesTheFirstCharacter) {
  const std::pair<const char*, int> cases[] = {{"12", 1}, {"2x", 2}, {"0", 0}, {"02", 0}, {"", 0}, {"3", 0}};
  for (auto [value, expected] : cases) {
    StartWith(std::string("[FTPSetup]\r\nBaseRegistry=") + value + "\r\n");
    EXPECT_EQ(setupState.baseRegistry, expected) << "BaseRegistry=" << value;
  }
}

TEST_F(ConfigTest, BooleansAreTrueOnlyForALeadingY) {
  const std::pair<const char*, int> cases[] = {{"yes", 1}, {"Y", 1}, {"1", 0}, {"no", 0}, {"\"Yes\"", 1}};
  for (auto [value, expected] : cases) {
    StartWith(std::string("[ftpsetup]\r\nprofilemode = ") + value + "  \r\n");
    EXPECT_EQ(setupState.profileMode, expected) << "ProfileMode=" << value;
  }
}

TEST_F(ConfigTest, LockValuesParseLikeSignedIntegers) {
  const std::pair<const char*, LONG> cases[] = {{"abc", 0}, {"\" -7\"", -7},     {"12abc", 12},
                                                {"+42", 42}, {"99999999999", 2147483647}, {"-", 0},
                                                {"-99999999999", INT32_MIN}, {"\"\t 9\"", 9}};
  for (auto [value, expected] : cases) {
    StartWith(std::string("[FTPSetup]\r\nLock=") + value + "\r\nLockFTP=" + value + "\r\n");
    EXPECT_EQ(setupState.lockValue, expected) << "Lock=" << value;
    EXPECT_EQ(setupState.lockFtpValue, expected) << "LockFTP=" << value;
  }
}

TEST_F(ConfigTest, AllFourQuietKeysKeepParamsCompleteEvenInteractively) {
  Ini("[FTPSetup]\r\nDestinationDir=D:\\Apps\\FTP\r\n[Program Group]\r\nUseGroup=N\r\nGroupName=Tools\r\n"
      "ShortCut=n\r\n");
  StartUp();
  EXPECT_TRUE(setupState.quietParamsComplete);
  EXPECT_FALSE(setupState.quietInstall);
  EXPECT_EQ(setupState.useGroup, 0);
  EXPECT_STREQ(setupState.groupName, "Tools");
  EXPECT_EQ(setupState.createDesktopShortcut, 0);
  EXPECT_STREQ(setupState.installDir, "D:\\Apps\\FTP");
}

TEST_F(ConfigTest, EachMissingQuietKeyClearsParamsComplete) {
  const char* groupLines[] = {"GroupName=G\r\nShortCut=Y\r\n", "UseGroup=Y\r\nShortCut=Y\r\n",
                              "UseGroup=Y\r\nGroupName=G\r\n"};
  for (const char* lines : groupLines) {
    StartWith(std::string("[FTPSetup]\r\nDestinationDir=D:\\X\r\n[Program Group]\r\n") + lines);
    EXPECT_FALSE(setupState.quietParamsComplete) << lines;
    EXPECT_EQ(setupState.useGroup, 1) << lines;
    EXPECT_EQ(setupState.createDesktopShortcut, 1) << lines;
    EXPECT_STREQ(setupState.groupName, std::string(lines).find("GroupName") != std::string::npos ? "G" : "VORTAN FTP");
  }
}

TEST_F(ConfigTest, GroupNameIsCutAtSixtyThreeCharacters) {
  Ini("[Program Group]\r\nGroupName=" + std::string(100, 'g') + "\r\n");
  StartUp();
  EXPECT_EQ(std::string(setupState.groupName), std::string(63, 'g'));
}

// A directory value longer than a path can be is not cut into another
// directory: it counts as not given.
TEST_F(ConfigTest, OverLongDirectoriesAreNotGivenAndTheDefaultsApply) {
  const std::string tooLong = "D:\\" + std::string(257, 'd');  // 260 characters
  Ini("[FTPSetup]\r\nDestinationDir=" + tooLong + "\r\nSourceDir=" + tooLong + "\r\nWorkingDir=" + tooLong +
      "\r\n[Program Group]\r\nUseGroup=Y\r\nGroupName=G\r\nShortCut=Y\r\n");
  Previous(HKEY_LOCAL_MACHINE, "C:\\Old", 0);
  StartUp();
  EXPECT_STREQ(setupState.installDir, "C:\\Old") << "the record of the previous installation stays";
  EXPECT_STREQ(setupState.sourceDir, "C:\\dist") << "the program's own directory";
  EXPECT_STREQ(setupState.workingDir, "C:\\Old") << "the installation directory";
  EXPECT_FALSE(setupState.quietParamsComplete) << "DestinationDir counts as missing";

  StartWith("[FTPSetup]\r\nQuietModeInstall=Y\r\nDestinationDir=C:\\" + std::string(400, 'd') + "\r\n");
  EXPECT_STREQ(setupState.installDir, "C:\\Program Files\\VORTAN\\FTP") << "the default on XP";
}

TEST_F(ConfigTest, DirectoriesOf259CharactersAreTakenWhole) {
  const std::string longest = "D:\\" + std::string(256, 'd');
  Ini("[FTPSetup]\r\nDestinationDir=" + longest + "\r\nSourceDir=" + longest + "\r\nWorkingDir=" + longest +
      "\r\n");
  Previous(HKEY_LOCAL_MACHINE, "C:\\Old", 0);
  StartUp();
  EXPECT_EQ(std::string(setupState.sourceDir), longest);
  EXPECT_EQ(std::string(setupState.workingDir), longest);
  StartWith("[FTPSetup]\r\nQuietModeInstall=Y\r\nDestinationDir=" + longest + "\r\n");
  EXPECT_EQ(std::string(setupState.installDir), longest);
}

TEST_F(ConfigTest, SourceDirIsTheProgramsDirectoryUnlessGiven) {
  StartUpWith("D:\\Setup.exe", "D:\\");
  EXPECT_STREQ(setupState.sourceDir, "D:");
  EXPECT_STREQ(setupState.iniPath, "D:\\SETUP.INI") << "no doubled backslash after a root";

  ResetSetupState();
  StartUp("D:\\DISK1", "Install Vortan.exe");
  EXPECT_STREQ(setupState.sourceDir, "D:\\DISK1") << "a renamed program still finds its payload";

  ResetSetupState();
  Ini("[FTPSetup]\r\nSourceDir=\\\\server\\share\\ftp\r\n", "D:\\DISK1");
  StartUp("D:\\DISK1");
  EXPECT_STREQ(setupState.sourceDir, "\\\\server\\share\\ftp");
}

TEST_F(ConfigTest, SetupIniIsReadFromTheCurrentDirectoryOnly) {
  Ini("[FTPSetup]\r\nBaseRegistry=2\r\n", "C:\\dist");
  StartUpWith("C:\\dist\\Setup.exe", "C:\\elsewhere");
  EXPECT_EQ(setupState.baseRegistry, 0);
  EXPECT_STREQ(setupState.sourceDir, "C:\\dist");
}

TEST_F(ConfigTest, HostileIniFilesFallBackToDefaults) {
  std::string binary;
  for (int i = 0; i < 5000; ++i) binary += static_cast<char>((i * 131) & 0xFF);
  const std::string inis[] = {
      "",
      binary,
      "[FTPSetup]\r\nBaseRegistry=2\r\n[FTPSetup]\r\nBaseRegistry=1\r\n",  // duplicate sections
      "[FTPSetup]\r\nLock=5\r\nLock=9\r\n",                                 // duplicate keys
      "[FTPSetup\r\nDestinationDir\r\n=\r\n]]]\r\n",
      std::string(1 << 20, 'x'),
  };
  for (const std::string& ini : inis) {
    StartWith(ini);
    EXPECT_LE(std::strlen(setupState.installDir), 259u);
    EXPECT_LE(std::strlen(setupState.groupName), 63u);
    EXPECT_LE(setupState.baseRegistry, 2);
  }
}

TEST_F(ConfigTest, DuplicateSectionsAndKeysTakeTheFirst) {
  Ini("[FTPSetup]\r\nBaseRegistry=2\r\nLock=5\r\nLock=9\r\n[FTPSetup]\r\nBaseRegistry=1\r\n");
  StartUp();
  EXPECT_EQ(setupState.baseRegistry, 2);
  EXPECT_EQ(setupState.lockValue, 5);
}

// ---- Previous installation ---------------------------------------------

TEST_F(ConfigTest, InteractiveRunKeepsTheRegisteredDirectoryOverDestinationDir) {
  Previous(HKEY_LOCAL_MACHINE, "E:\\Old\\FTP");
  Ini("[FTPSetup]\r\nDestinationDir=D:\\New\r\n");
  StartUp();
  EXPECT_STREQ(setupState.installDir, "E:\\Old\\FTP");
}

TEST_F(ConfigTest, QuietInstallationTakesDestinationDirOverTheRegistry) {
  Previous(HKEY_LOCAL_MACHINE, "E:\\Old\\FTP");
  Ini("[FTPSetup]\r\nDestinationDir=D:\\New\r\nQuietModeInstall=Y\r\n");
  StartUp();
  EXPECT_STREQ(setupState.installDir, "D:\\New");
}

TEST_F(ConfigTest, QuietInstallationWithoutDestinationDirTakesTheXpDefault) {
  Previous(HKEY_LOCAL_MACHINE, "E:\\Old\\FTP");
  Ini("[FTPSetup]\r\nQuietModeInstall=Y\r\n");
  StartUp();
  EXPECT_STREQ(setupState.installDir, "C:\\Program Files\\VORTAN\\FTP");

  Use(WindowsVersion::Win2000);
  Previous(HKEY_LOCAL_MACHINE, "E:\\Old\\FTP");
  Ini("[FTPSetup]\r\nQuietModeInstall=Y\r\n");
  StartUp();
  EXPECT_STREQ(setupState.installDir, "E:\\Old\\FTP") << "outside Windows XP the registry value stays";
}

TEST_F(ConfigTest, BaseRegistryTwoReadsTheUserHiveAndNeverTheLegacyKey) {
  m().SetRegString(HKEY_LOCAL_MACHINE, "Software\\Toval\\FTP", "Installation Directory", "E:\\Legacy");
  m().SetRegBinary(HKEY_LOCAL_MACHINE, "Software\\Toval\\FTP", "Profile Mode", {1});
  Ini("[FTPSetup]\r\nBaseRegistry=2\r\n");
  StartUp();
  EXPECT_STREQ(setupState.installDir, "C:\\Program Files\\VORTAN\\FTP");
  EXPECT_EQ(setupState.workingDirType, 1);

  Use(WindowsVersion::XP);
  Previous(HKEY_CURRENT_USER, "E:\\Mine");
  Ini("[FTPSetup]\r\nBaseRegistry=2\r\n");
  StartUp();
  EXPECT_STREQ(setupState.installDir, "E:\\Mine");
}

TEST_F(ConfigTest, LegacyKeyCountsWhenItsProfileModeByteIsThere) {
  m().SetRegString(HKEY_LOCAL_MACHINE, "Software\\Toval\\FTP", "Installation Directory", "E:\\Legacy");
  m().SetRegBinary(HKEY_LOCAL_MACHINE, "Software\\Toval\\FTP", "Profile Mode", {0});
  Ini("[FTPSetup]\r\nDestinationDir=D:\\New\r\n");
  StartUp();
  EXPECT_STREQ(setupState.installDir, "E:\\Legacy");
  EXPECT_EQ(setupState.workingDirType, 0) << "a previous installation was found";
  EXPECT_STREQ(setupState.workingDir, "E:\\Legacy");
}

TEST_F(ConfigTest, LegacyKeyWithoutProfileModeFailsTheLookupButStillCountsAsFound) {
  m().SetRegString(HKEY_LOCAL_MACHINE, "Software\\Toval\\FTP", "Installation Directory", "E:\\Legacy");
  Ini("[FTPSetup]\r\nDestinationDir=D:\\New\r\nUsePersonalFolderAsWorkingDir=Y\r\n");
  StartUp();
  EXPECT_STREQ(setupState.installDir, "D:\\New");
  EXPECT_EQ(setupState.workingDirType, 0) << "previousInstallationFound stays true: the file may not decide";

  Use(WindowsVersion::Win98);
  m().SetRegString(HKEY_LOCAL_MACHINE, "Software\\Toval\\FTP", "Installation Directory", "E:\\Legacy");
  StartUp();
  EXPECT_STREQ(setupState.installDir, "E:\\Legacy") << "outside Windows XP the legacy directory stays";
}

TEST_F(ConfigTest, LegacyKeyWithoutADirectoryIsNoPreviousInstallation) {
  m().SetRegBinary(HKEY_LOCAL_MACHINE, "Software\\Toval\\FTP", "Profile Mode", {1});
  Ini("[FTPSetup]\r\nDestinationDir=D:\\New\r\nUsePersonalFolderAsWorkingDir=Y\r\n");
  StartUp();
  EXPECT_STREQ(setupState.installDir, "D:\\New");
  EXPECT_EQ(setupState.workingDirType, 1) << "SETUP.INI decides, as for a first installation";
}

TEST_F(ConfigTest, StoredWorkingDirTypeDecidesForAPreviousInstallation) {
  const std::pair<BYTE, std::string> cases[] = {{1, Personal("FTP")},
                                                {2, std::string(kCommonDocs) + "\\FTP"},
                                                {0, "E:\\Old"},
                                                {7, "E:\\Old"}};
  for (auto& [stored, expected] : cases) {
    Use(WindowsVersion::XP);
    Previous(HKEY_LOCAL_MACHINE, "E:\\Old", stored);
    Ini("[FTPSetup]\r\nUsePersonalFolderAsWorkingDir=Y\r\n");
    StartUp();
    EXPECT_EQ(std::string(setupState.workingDir), expected) << "stored type " << int(stored);
    EXPECT_EQ(setupState.workingDirType, stored <= 2 ? stored : 0) << "stored type " << int(stored);
  }
}

TEST_F(ConfigTest, ExplicitWorkingDirIsReadOnlyForTypeZero) {
  Previous(HKEY_LOCAL_MACHINE, "E:\\Old", 0);
  Ini("[FTPSetup]\r\nWorkingDir=F:\\Data\r\n");
  StartUp();
  EXPECT_STREQ(setupState.workingDir, "F:\\Data");

  Use(WindowsVersion::XP);
  Ini("[FTPSetup]\r\nWorkingDir=F:\\Data\r\n");
  StartUp();
  EXPECT_EQ(std::string(setupState.workingDir), Personal("FTP")) << "a fresh installation ignores WorkingDir";
}

TEST_F(ConfigTest, WorkingDirectoryKeysOnAFreshInstallation) {
  Ini("[FTPSetup]\r\nUsePersonalFolderAsWorkingDir=Y\r\nUseAllUsersCommonFolderAsWorkingDir=Y\r\n");
  StartUp();
  EXPECT_EQ(setupState.workingDirType, 1) << "the personal folder wins";

  StartWith("[FTPSetup]\r\nUseAllUsersCommonFolderAsWorkingDir=Y\r\n");
  EXPECT_EQ(setupState.workingDirType, 2);
  EXPECT_EQ(std::string(setupState.workingDir), std::string(kCommonDocs) + "\\FTP");

  Use(WindowsVersion::Win98);
  Ini("[FTPSetup]\r\nUseAllUsersCommonFolderAsWorkingDir=Y\r\n");
  StartUp();
  EXPECT_EQ(setupState.workingDirType, 1) << "no common documents folder before version 5";
}

TEST_F(ConfigTest, QuietInstallationLetsTheFileDecideOverAPreviousInstallation) {
  Previous(HKEY_LOCAL_MACHINE, "E:\\Old", 0);
  Ini("[FTPSetup]\r\nQuietModeInstall=Y\r\nUseAllUsersCommonFolderAsWorkingDir=Y\r\n");
  StartUp();
  EXPECT_EQ(setupState.workingDirType, 2);
}

TEST_F(ConfigTest, UnresolvedFoldersGiveABackslashBeforeFtp) {
  m().FailShellFolder(CSIDL_PERSONAL, FolderRoute::ShFolder);
  StartUp();
  EXPECT_STREQ(setupState.personalFolder, "");
  EXPECT_STREQ(setupState.workingDir, "\\FTP");
}

TEST_F(ConfigTest, OddRegistryDataIsReadSafely) {
  // No terminating NUL: terminated when it fits.
  m().SetRegValue(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP", "Installation Directory", REG_SZ,
                  fixture::Bytes("E:\\NoNul"));
  StartUp();
  EXPECT_STREQ(setupState.installDir, "E:\\NoNul");

  // 260 characters without a NUL cannot be terminated: counts as missing.
  Use(WindowsVersion::Win2000);
  m().SetRegValue(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP", "Installation Directory", REG_SZ,
                  fixture::Bytes(std::string(260, 'x')));
  StartUp();
  EXPECT_STREQ(setupState.installDir, "");

  // Too long for the buffer and not a string at all.
  for (auto value : {std::make_pair<DWORD, std::string>(REG_SZ, std::string(600, 'y') + '\0'),
                     std::make_pair<DWORD, std::string>(REG_DWORD, std::string("\x43\0\0\0", 4))}) {
    Use(WindowsVersion::Win2000);
    m().SetRegValue(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP", "Installation Directory", value.first,
                    fixture::Bytes(value.second));
    m().SetRegDword(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP", "WorkingDirType", 2);
    StartUp();
    EXPECT_STREQ(setupState.installDir, "");
    EXPECT_EQ(setupState.workingDirType, 1) << "no installation found, and a 4-byte type does not fit a byte";
  }
}

}  // namespace
