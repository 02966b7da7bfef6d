// The record of the directories an installation created, and the removal
// that takes only what it names: a directory the installation did not make
// keeps everything but the product's own files and the data folders the
// installation made in it. Records made before the list existed are judged
// by the widened guard.
#include "fixture.h"

#include <algorithm>

namespace {

using namespace fixture;

const char* const kProductFiles[] = {"QXFTP.EXE", "QXFTP.CHM", "QXFTP.HLP", "QXFTP.FTS", "QXFTP.GID",
                                     "UNINS.EXE", "QXFTP.DLL", "QXFK.DLL",  "QXISFT.DLL", "README.HTM"};

class RecordTest : public SetupTest {
 protected:
  void SetUp() override { FreshMachine(WindowsVersion::XP); }

  std::vector<std::string> Created() const {
    std::vector<std::string> entries;
    auto bytes = RegBytes(HKEY_LOCAL_MACHINE, kKey, "Created Directories");
    if (!bytes) return entries;
    std::string text(bytes->begin(), bytes->end());
    for (size_t at = 0; at < text.size() && text[at] != '\0';) {
      size_t end = text.find('\0', at);
      entries.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    return entries;
  }
  void Remove() {
    ResetSetupState();
    WriteIni(kRemovalIni);
    RunSetup();
  }
  std::vector<std::string> PendingPaths() const {
    std::vector<std::string> paths;
    for (auto& [from, to] : m().PendingRenames()) paths.push_back(from);
    return paths;
  }
  // Only the uninstaller itself may wait for the restart.
  void ExpectOnlyTheUninstallerPending(const std::string& where) const {
    for (const auto& pending : PendingPaths())
      EXPECT_NE(pending.find("UNINS.EXE"), std::string::npos) << where << ": only the uninstaller, got " << pending;
  }
  void RecordOld(const std::string& place) {
    m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Installation Directory", place);
    m().SetRegBinary(HKEY_LOCAL_MACHINE, kKey, "WorkingDirType", {0});
    m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Working Directory", place);
  }
  // A place holding the product's files and the user's own, data folders
  // of the product's names among them.
  void Populate(const std::string& place) {
    for (const char* name : kProductFiles) m().WriteText(place + "\\" + name, "product");
    m().WriteText(place + "\\letter.doc", "keep");
    m().WriteText(place + "\\Config\\mine.ini", "keep");
    m().WriteText(place + "\\Transfer\\queue.dat", "keep");
    m().WriteText(place + "\\Docs\\manual.txt", "keep");
    m().WriteText(place + "\\Photos\\a.jpg", "keep");
  }
  void ExpectOnlyProductFilesGone(const std::string& place, const std::string& where) {
    for (const char* name : kProductFiles) EXPECT_FALSE(m().Exists(place + "\\" + name)) << where << ": " << name;
    for (const char* kept : {"\\letter.doc", "\\Config\\mine.ini", "\\Transfer\\queue.dat", "\\Docs\\manual.txt",
                             "\\Photos\\a.jpg"})
      EXPECT_TRUE(m().Exists(place + kept)) << where << ": " << kept;
    ExpectOnlyTheUninstallerPending(where);
    m().Restart();
    EXPECT_TRUE(m().Exists(place + "\\Photos\\a.jpg")) << where << ": nothing waited for the restart";
    EXPECT_TRUE(m().IsDirectory(place)) << where;
  }
};

TEST_F(RecordTest, TheInstallationRecordsEveryDirectoryItMadeParentsFirst) {
  const std::string working = m().ShellFolder(CSIDL_PERSONAL) + "\\FTP";
  WriteIni(QuietIni("D:\\Apps\\VORTAN\\FTP"));
  RunSetup();
  ASSERT_EQ(setupState.installSucceeded, 1);
  auto created = Created();
  EXPECT_EQ(RegType(HKEY_LOCAL_MACHINE, kKey, "Created Directories"), static_cast<DWORD>(REG_MULTI_SZ));
  for (const char* dir : {"D:\\Apps", "D:\\Apps\\VORTAN", "D:\\Apps\\VORTAN\\FTP", "D:\\Apps\\VORTAN\\FTP\\Transfer",
                          "D:\\Apps\\VORTAN\\FTP\\Traces", "D:\\Apps\\VORTAN\\FTP\\Config",
                          "D:\\Apps\\VORTAN\\FTP\\Certs", "D:\\Apps\\VORTAN\\FTP\\Docs"})
    EXPECT_NE(std::find(created.begin(), created.end(), dir), created.end()) << dir;
  EXPECT_NE(std::find(created.begin(), created.end(), working), created.end());
  EXPECT_EQ(std::find(created.begin(), created.end(), "D:\\"), created.end());
  EXPECT_TRUE(m().IsDirectory(working)) << "the working directory is made by the installation";
  for (size_t i = 0; i < created.size(); ++i)
    for (size_t j = i + 1; j < created.size(); ++j)
      EXPECT_NE(created[i].rfind(created[j] + "\\", 0), 0u) << created[j] << " must come before " << created[i];
}

TEST_F(RecordTest, AWorkingDirectoryInAnExistingFolderKeepsTheUsersFiles) {
  const std::string downloads = m().ShellFolder(CSIDL_PROFILE) + "\\Downloads";
  m().WriteText(downloads + "\\report.pdf", "keep");
  m().WriteText(downloads + "\\Config\\settings.ini", "keep");
  // A previous installation chose it (the file names a working directory
  // only over one); the folder is the user's, not the installation's.
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Installation Directory", kDir);
  m().SetRegBinary(HKEY_LOCAL_MACHINE, kKey, "WorkingDirType", {0});
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Working Directory", downloads);
  WriteIni(QuietIni(kDir, "WorkingDir=" + downloads + "\r\n"));
  RunSetup();
  ASSERT_EQ(setupState.installSucceeded, 1);
  auto created = Created();
  EXPECT_EQ(std::find(created.begin(), created.end(), downloads), created.end());
  Remove();
  EXPECT_TRUE(m().Exists(downloads + "\\report.pdf"));
  EXPECT_TRUE(m().Exists(downloads + "\\Config\\settings.ini"));
  EXPECT_FALSE(m().Exists(kDir)) << "the installation directory it made still goes whole";
  ExpectOnlyTheUninstallerPending(downloads);
  m().Restart();
  EXPECT_TRUE(m().Exists(downloads + "\\Config\\settings.ini"));
}

TEST_F(RecordTest, AnExistingInstallationDirectoryLosesOnlyWhatTheInstallationMade) {
  const std::string place = "D:\\Tools";
  m().WriteText(place + "\\other.exe", "keep");
  m().WriteText(place + "\\Config\\mine.ini", "keep");
  WriteIni(QuietIni(place));
  RunSetup();
  ASSERT_EQ(setupState.installSucceeded, 1);
  Remove();
  for (const char* name : kProductFiles)
    if (std::string(name) != "UNINS.EXE") {
      EXPECT_FALSE(m().Exists(place + "\\" + name)) << name;
    }
  EXPECT_TRUE(m().Exists(place + "\\other.exe"));
  EXPECT_TRUE(m().Exists(place + "\\Config\\mine.ini"));
  EXPECT_FALSE(m().Exists(place + "\\Transfer")) << "made by the installation";
  EXPECT_FALSE(m().Exists(place + "\\Certs")) << "made by the installation";
  EXPECT_FALSE(m().Exists(place + "\\Docs")) << "copied into being by the installation";
  ExpectOnlyTheUninstallerPending(place);
  auto pending = PendingPaths();
  EXPECT_EQ(std::find(pending.begin(), pending.end(), "\\??\\" + place), pending.end())
      << "the directory itself is never scheduled";
  m().Restart();
  EXPECT_TRUE(m().Exists(place + "\\other.exe"));
  EXPECT_TRUE(m().IsDirectory(place));
}

TEST_F(RecordTest, InstallingTwiceThenRemovingLeavesNothing) {
  WriteIni(QuietIni("D:\\Apps\\FTP"));
  auto before = m().Tree("D:\\");
  auto beforeC = m().Tree("C:\\");
  RunSetup();
  ASSERT_EQ(setupState.installSucceeded, 1);
  auto first = Created();
  ResetSetupState();
  RunSetup();
  ASSERT_EQ(setupState.installSucceeded, 1);
  EXPECT_EQ(Created(), first) << "the second installation made nothing and keeps the first one's list";
  Remove();
  m().Restart();
  EXPECT_EQ(m().Tree("D:\\"), before);
  EXPECT_EQ(m().Tree("C:\\"), beforeC);
}

TEST_F(RecordTest, AnInstallationOverAnOldRecordAdoptsItsDirectoriesUnlessProtected) {
  // An installation made before the list existed, into D:\Old with its
  // working directory in the user's documents.
  const std::string personal = m().ShellFolder(CSIDL_PERSONAL);
  RecordOld("D:\\Old\\FTP");
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Working Directory", personal);
  m().WriteText("D:\\Old\\FTP\\Transfer\\q.dat", "old data");
  m().WriteText(personal + "\\letter.doc", "keep");
  WriteIni(QuietIni("D:\\Old\\FTP"));
  RunSetup();
  ASSERT_EQ(setupState.installSucceeded, 1);
  auto created = Created();
  EXPECT_NE(std::find(created.begin(), created.end(), "D:\\Old\\FTP"), created.end());
  EXPECT_EQ(std::find(created.begin(), created.end(), personal), created.end()) << "the documents folder is protected";
  Remove();
  m().Restart();
  EXPECT_FALSE(m().Exists("D:\\Old\\FTP"));
  EXPECT_TRUE(m().Exists(personal + "\\letter.doc"));
}

TEST_F(RecordTest, ARecordChangedByHandMakesNoOtherDirectoryLookCreated) {
  WriteIni(QuietIni("D:\\Apps\\FTP"));
  RunSetup();
  ASSERT_EQ(setupState.installSucceeded, 1);
  Populate("D:\\Elsewhere");
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Installation Directory", "D:\\Elsewhere");
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Working Directory", "D:\\Elsewhere");
  m().SetRegBinary(HKEY_LOCAL_MACHINE, kKey, "WorkingDirType", {0});
  Remove();
  ExpectOnlyProductFilesGone("D:\\Elsewhere", "changed record");
}

TEST_F(RecordTest, AMalformedListCountsAsPresentAndEmpty) {
  const std::vector<std::vector<uint8_t>> values = {
      fixture::Bytes(std::string("D:\\Place", 8)),             // no terminating NUL
      fixture::Bytes(std::string("Place\0\0", 7)),             // not a full path
      fixture::Bytes(std::string(300, 'D') + std::string(2, '\0')),  // longer than a path
  };
  for (const auto& value : values) {
    FreshMachine(WindowsVersion::XP);
    RecordOld("D:\\Place");
    m().SetRegValue(HKEY_LOCAL_MACHINE, kKey, "Created Directories", REG_MULTI_SZ, value);
    Populate("D:\\Place");
    Remove();
    ExpectOnlyProductFilesGone("D:\\Place", "malformed list");
  }
  FreshMachine(WindowsVersion::XP);
  RecordOld("D:\\Place");
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Created Directories", "D:\\Place");
  Populate("D:\\Place");
  Remove();
  ExpectOnlyProductFilesGone("D:\\Place", "a REG_SZ list");
}

// Windows reads a value of a key open for reading or says "not found";
// should it refuse one all the same, the list is not taken for absent,
// which would let the guard for records made before it empty a working
// directory of the user's.
TEST_F(RecordTest, AListThatCannotBeReadCountsAsPresentAndEmpty) {
  const std::string work = "D:\\Work";  // a folder of the user's no guard knows
  int refused = 0;
  for (uint64_t nth = 1; nth <= 60; ++nth) {
    FreshMachine(WindowsVersion::XP);
    m().WriteText(work + "\\report.pdf", "keep");
    m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Installation Directory", kDir);
    m().SetRegBinary(HKEY_LOCAL_MACHINE, kKey, "WorkingDirType", {0});
    m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Working Directory", work);
    WriteIni(QuietIni(kDir, "WorkingDir=" + work + "\r\n"));
    RunSetup();
    ASSERT_EQ(setupState.installSucceeded, 1);
    m().journal().Clear();
    // The n-th read of this process; the count runs over the machine's life.
    uint64_t before = static_cast<uint64_t>(std::count(m().calls().begin(), m().calls().end(), "RegQueryValueExA"));
    m().faults.failCall = winsim::Faults::CallFailure{"RegQueryValueExA", before + nth, 1};  // ERROR_ACCESS_DENIED
    Remove();
    m().faults.failCall.reset();
    auto failed = m().journal().OfKind("FailedCall");
    if (failed.empty()) break;
    if (failed[0].fields[3] != "Created Directories") continue;
    ++refused;
    m().Restart();
    EXPECT_TRUE(m().Exists(work + "\\report.pdf")) << "the user's file, list refused at call " << nth;
    EXPECT_FALSE(m().Exists(kDir + std::string("\\QXFTP.EXE"))) << "the product's own files still go";
  }
  EXPECT_GT(refused, 0) << "the removal reads the list";
}

TEST_F(RecordTest, ARecordedListNamesWhatIsRemovedWhole) {
  RecordOld("D:\\Place");
  m().SetRegValue(HKEY_LOCAL_MACHINE, kKey, "Created Directories", REG_MULTI_SZ,
                  fixture::Bytes(std::string("d:\\PLACE\\\0\0", 11)));
  Populate("D:\\Place");
  Remove();
  EXPECT_FALSE(m().Exists("D:\\Place\\letter.doc")) << "compared without regard to case or a trailing backslash";
  EXPECT_FALSE(m().Exists("D:\\Place\\Transfer"));
}

TEST_F(RecordTest, ARelativeInstallationDirectoryLoadsNoServer) {
  RecordOld("FTP");
  m().WriteText("C:\\dist\\FTP\\QXFTP.DLL", "planted");
  Remove();
  EXPECT_EQ(m().journal().Count("LoadLibraryExA"), 0u);
  EXPECT_EQ(Events("DllUnregisterServer").size(), 0u);
}

// ---- The widened guard for records without the list ----------------------------------

struct Place {
  WindowsVersion version;
  std::string path;
};

TEST_F(RecordTest, OldRecordsPointingAtSharedFoldersLoseOnlyTheProductFiles) {
  std::vector<Place> places;
  for (WindowsVersion version : {WindowsVersion::Win7, WindowsVersion::Win10}) {
    for (const char* path : {"C:\\ProgramData", "C:\\Users\\User\\Downloads", "C:\\Users\\User\\Pictures",
                             "C:\\Users\\User\\AppData", "C:\\Users\\User\\AppData\\Roaming", "C:\\Users",
                             "C:\\Users\\Default", "C:\\Users\\Default\\Documents\\FTP", "C:\\Users\\Other\\Documents",
                             "C:\\Users\\Other\\Documents\\FTP", "C:\\Users\\Public", "C:\\Program Files\\Common Files",
                             "C:\\Windows\\Fonts", "C:\\Windows\\System32\\drivers", "D:\\"})
      places.push_back({version, path});
  }
  places.push_back({WindowsVersion::XP, "C:\\Documents and Settings\\All Users"});
  places.push_back({WindowsVersion::XP, "C:\\Documents and Settings\\User\\Favorites"});
  places.push_back({WindowsVersion::XP, "C:\\Documents and Settings\\Other\\My Documents\\FTP"});
  places.push_back({WindowsVersion::XP, "C:\\WINDOWS\\Fonts"});
  places.push_back({WindowsVersion::NT4, "C:\\WINNT\\Fonts"});
  places.push_back({WindowsVersion::NT4, "C:\\WINNT\\Profiles\\Other\\Personal\\FTP"});
  places.push_back({WindowsVersion::Win98, "C:\\WINDOWS\\Fonts"});
  for (const Place& place : places) {
    FreshMachine(place.version);
    std::string dir = place.path.back() == '\\' ? place.path.substr(0, place.path.size() - 1) : place.path;
    RecordOld(place.path);
    Populate(dir);
    Remove();
    ExpectOnlyProductFilesGone(dir, place.path);
  }
}

TEST_F(RecordTest, OldRecordsInTheUsersOwnFoldersAreStillRemoved) {
  for (WindowsVersion version : {WindowsVersion::XP, WindowsVersion::Win7, WindowsVersion::NT4}) {
    FreshMachine(version);
    const std::string dir = m().ShellFolder(CSIDL_PERSONAL) + "\\FTP";
    RecordOld(dir);
    m().WriteText(dir + "\\QXFTP.EXE", "product");
    m().WriteText(dir + "\\Transfer\\q.dat", "data");
    Remove();
    m().Restart();
    EXPECT_FALSE(m().Exists(dir)) << dir;
  }
}

TEST_F(RecordTest, OldRecordsThroughAJunctionOrAnAdministrativeShareAreProtected) {
  struct Case {
    std::string recorded;
    std::string actual;
    bool reached;  // the spelling reaches this computer's drive
  };
  // Loopback addresses and the DNS name reach this computer's drive (as
  // they do on Windows); another computer's address reaches nothing here.
  // Either way nothing there is emptied or scheduled.
  const Case cases[] = {
      {"\\\\127.0.0.2\\C$\\Apps\\FTP", "C:\\Apps\\FTP", true},
      {"\\\\winsim.example.com\\C$\\Apps\\FTP", "C:\\Apps\\FTP", true},
      {"\\\\192.168.1.20\\d$\\Apps\\FTP", "D:\\Apps\\FTP", false},
  };
  for (const Case& c : cases) {
    FreshMachine(WindowsVersion::Win7);
    RecordOld(c.recorded);
    Populate(c.actual);
    Remove();
    EXPECT_EQ(m().Exists(c.actual + "\\QXFTP.EXE"), !c.reached) << c.recorded << ": the product files go where reached";
    for (const char* kept : {"\\letter.doc", "\\Config\\mine.ini", "\\Transfer\\queue.dat", "\\Photos\\a.jpg"})
      EXPECT_TRUE(m().Exists(c.actual + kept)) << c.recorded << kept;
    ExpectOnlyTheUninstallerPending(c.recorded);
  }
  // A junction on the way, and a directory that only reports itself a
  // reparse point (a mount point or a link of another kind).
  FreshMachine(WindowsVersion::Win7);
  m().MakeDirs("D:\\Real");
  m().MakeJunction("D:\\Link", "D:\\Real");
  RecordOld("D:\\Link\\FTP");
  Populate("D:\\Real\\FTP");
  Remove();
  ExpectOnlyProductFilesGone("D:\\Real\\FTP", "through a junction");
  FreshMachine(WindowsVersion::Win7);
  RecordOld("D:\\Link\\FTP");
  Populate("D:\\Link\\FTP");
  m().SetAttributes("D:\\Link", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
  ASSERT_NE(m().Attributes("D:\\Link") & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "winsim keeps the attribute";
  Remove();
  ExpectOnlyProductFilesGone("D:\\Link\\FTP", "through a reparse point");
}

}  // namespace

namespace {

using namespace fixture;

class Record64Test : public RecordTest {};

// On the 64-bit editions the 32-bit program is shown "Program Files (x86)";
// the 64-bit Program Files, both Common Files folders, Sysnative and
// SysWOW64 must keep the same protection.
TEST_F(Record64Test, OldRecordsPointingAtSixtyFourBitFoldersLoseOnlyTheProductFiles) {
  const WindowsVersion editions[] = {WindowsVersion::WinXP64, WindowsVersion::Win7x64, WindowsVersion::Win10x64,
                                     WindowsVersion::Win11x64};
  for (WindowsVersion version : editions) {
    FreshMachine(version);
    const std::string windows = m().WindowsDir();
    std::vector<std::string> places = {"C:\\Program Files", "C:\\Program Files\\Common Files",
                                       "C:\\Program Files (x86)", "C:\\Program Files (x86)\\Common Files",
                                       windows + "\\SysWOW64", "D:\\"};
    // The real System32 is reached as Sysnative (Vista on); System32
    // itself is redirected to SysWOW64.
    if (version != WindowsVersion::WinXP64) places.push_back(windows + "\\Sysnative");
    if (version != WindowsVersion::WinXP64) {
      places.push_back("C:\\ProgramData");
      places.push_back("C:\\Users\\User\\Downloads");
      places.push_back("C:\\Users\\Default");
    }
    for (const std::string& place : places) {
      FreshMachine(version);
      std::string dir = place.back() == '\\' ? place.substr(0, place.size() - 1) : place;
      if (dir == windows + "\\Sysnative") dir = windows + "\\System32";
      // The 32-bit program reads HKLM\Software through the registry
      // redirector: its record lives under Wow6432Node.
      const std::string key = "Software\\Wow6432Node\\VORTAN\\FTP";
      m().SetRegString(HKEY_LOCAL_MACHINE, key, "Installation Directory", place);
      m().SetRegBinary(HKEY_LOCAL_MACHINE, key, "WorkingDirType", {0});
      m().SetRegString(HKEY_LOCAL_MACHINE, key, "Working Directory", place);
      Populate(dir);
      Remove();
      std::string where = place + " on edition " + std::to_string(static_cast<int>(version));
      EXPECT_FALSE(m().Exists(dir + "\\QXFTP.EXE")) << where << ": the record was found and the product files went";
      for (const char* kept : {"\\letter.doc", "\\Config\\mine.ini", "\\Transfer\\queue.dat", "\\Docs\\manual.txt",
                               "\\Photos\\a.jpg"})
        EXPECT_TRUE(m().Exists(dir + kept)) << where << ": " << kept;
      ExpectOnlyTheUninstallerPending(where);
      m().Restart();
      EXPECT_TRUE(m().Exists(dir + "\\Photos\\a.jpg")) << where << ": nothing waited for the restart";
    }
  }
}

TEST_F(Record64Test, AnInstallationOnASixtyFourBitEditionIsRemovedWhole) {
  for (WindowsVersion version : {WindowsVersion::Win7x64, WindowsVersion::Win10x64}) {
    FreshMachine(version);
    WriteIni(QuietIni("C:\\Program Files (x86)\\VORTAN\\FTP"));
    RunSetup();
    ASSERT_EQ(setupState.installSucceeded, 1);
    Remove();
    m().Restart();
    EXPECT_FALSE(m().Exists("C:\\Program Files (x86)\\VORTAN")) << static_cast<int>(version);
    EXPECT_FALSE(m().Exists(m().ShellFolder(CSIDL_PERSONAL) + "\\FTP")) << static_cast<int>(version);
  }
}

}  // namespace
