// The removal in the shared folders of every edition and through every
// spelling that reaches them: a record pointing there (an old one without
// the list of created directories, or one whose list names only what the
// installation made) loses the product's own files and nothing of the
// user's. And a directory the installation made still goes whole, whatever
// spelling reached it.
#include "fixture.h"

namespace {

using namespace fixture;

const char* const kProductFiles[] = {"QXFTP.EXE", "QXFTP.CHM", "QXFTP.HLP", "QXFTP.FTS", "QXFTP.GID",
                                     "UNINS.EXE", "QXFTP.DLL", "QXFK.DLL",  "QXISFT.DLL", "README.HTM"};
// The user's own files and folders, some named like the product's data
// folders and copied trees.
const char* const kUsersFiles[] = {"\\letter.doc", "\\Config\\mine.ini", "\\Transfer\\queue.dat", "\\Docs\\manual.txt",
                                   "\\Photos\\a.jpg"};

constexpr WindowsVersion W98 = WindowsVersion::Win98;
constexpr WindowsVersion XP = WindowsVersion::XP;
constexpr WindowsVersion W10 = WindowsVersion::Win10;
constexpr WindowsVersion X64 = WindowsVersion::Win10x64;

bool Is64(WindowsVersion v) {
  return v == WindowsVersion::WinXP64 || v == WindowsVersion::Win7x64 || v == WindowsVersion::Win81x64 ||
         v == WindowsVersion::Win10x64 || v == WindowsVersion::Win11x64;
}

// One place: the edition, the directory as the record spells it, the real
// directory that spelling reaches, and what makes the spelling (a SUBST
// drive S: onto a directory, a junction D:\Link onto D:\Real).
struct Place {
  WindowsVersion version;
  const char* recorded;
  const char* real;
  const char* substTarget = nullptr;
  bool junction = false;
};

const Place kPlaces[] = {
    // Windows 98: one profile, the shared folders of the Windows directory.
    {W98, "C:\\Program Files", "C:\\Program Files"},
    {W98, "C:\\Program Files\\Common Files", "C:\\Program Files\\Common Files"},
    {W98, "C:\\WINDOWS\\SYSTEM", "C:\\WINDOWS\\SYSTEM"},
    {W98, "C:\\WINDOWS\\Application Data", "C:\\WINDOWS\\Application Data"},
    {W98, "C:\\My Documents", "C:\\My Documents"},
    // Windows XP: the profiles under Documents and Settings.
    {XP, "C:\\Program Files", "C:\\Program Files"},
    {XP, "C:\\Program Files\\Common Files", "C:\\Program Files\\Common Files"},
    {XP, "C:\\WINDOWS\\system32", "C:\\WINDOWS\\system32"},
    {XP, "C:\\Documents and Settings\\All Users\\Application Data", "C:\\Documents and Settings\\All Users\\Application Data"},
    {XP, "C:\\Documents and Settings\\User\\Application Data", "C:\\Documents and Settings\\User\\Application Data"},
    {XP, "C:\\Documents and Settings\\User\\Downloads", "C:\\Documents and Settings\\User\\Downloads"},
    {XP, "C:\\Documents and Settings\\User\\My Documents\\My Pictures", "C:\\Documents and Settings\\User\\My Documents\\My Pictures"},
    {XP, "C:\\Documents and Settings\\Default User", "C:\\Documents and Settings\\Default User"},
    {XP, "C:\\Documents and Settings\\Other\\My Documents\\FTP", "C:\\Documents and Settings\\Other\\My Documents\\FTP"},
    {XP, "C:\\Documents and Settings", "C:\\Documents and Settings"},
    {XP, "\\\\127.0.0.2\\C$\\Apps\\FTP", "C:\\Apps\\FTP"},
    {XP, "\\\\winsim.example.com\\C$\\Apps\\FTP", "C:\\Apps\\FTP"},
    {XP, "S:\\My Documents", "C:\\Documents and Settings\\User\\My Documents", "C:\\Documents and Settings\\User"},
    {XP, "S:\\system32", "C:\\WINDOWS\\system32", "C:\\WINDOWS"},
    {XP, "D:\\Link\\FTP", "D:\\Real\\FTP", nullptr, true},
    // Windows 10, 32-bit.
    {W10, "C:\\Program Files", "C:\\Program Files"},
    {W10, "C:\\Program Files\\Common Files", "C:\\Program Files\\Common Files"},
    {W10, "C:\\Windows\\System32", "C:\\Windows\\System32"},
    {W10, "C:\\ProgramData", "C:\\ProgramData"},
    {W10, "C:\\Users\\User\\AppData\\Roaming", "C:\\Users\\User\\AppData\\Roaming"},
    {W10, "C:\\Users\\User\\Downloads", "C:\\Users\\User\\Downloads"},
    {W10, "C:\\Users\\User\\Pictures", "C:\\Users\\User\\Pictures"},
    {W10, "C:\\Users\\Default", "C:\\Users\\Default"},
    {W10, "C:\\Users\\Other\\Documents\\FTP", "C:\\Users\\Other\\Documents\\FTP"},
    {W10, "C:\\Users", "C:\\Users"},
    {W10, "C:\\Documents and Settings\\User\\Documents\\FTP", "C:\\Users\\User\\Documents\\FTP"},
    {W10, "C:\\Users\\All Users\\FTP", "C:\\ProgramData\\FTP"},
    {W10, "C:\\Users\\User\\My Documents\\FTP", "C:\\Users\\User\\Documents\\FTP"},
    {W10, "C:\\Users\\Default User\\FTP", "C:\\Users\\Default\\FTP"},
    {W10, "\\\\127.0.0.2\\C$\\Apps\\FTP", "C:\\Apps\\FTP"},
    {W10, "\\\\winsim.example.com\\C$\\Apps\\FTP", "C:\\Apps\\FTP"},
    {W10, "S:\\Downloads", "C:\\Users\\User\\Downloads", "C:\\Users\\User"},
    {W10, "S:\\Common Files", "C:\\Program Files\\Common Files", "C:\\Program Files"},
    {W10, "D:\\Link\\FTP", "D:\\Real\\FTP", nullptr, true},
    // Windows 10 x64, the 32-bit program under WOW64.
    {X64, "C:\\Program Files", "C:\\Program Files"},
    {X64, "C:\\Program Files\\Common Files", "C:\\Program Files\\Common Files"},
    {X64, "C:\\Program Files (x86)", "C:\\Program Files (x86)"},
    {X64, "C:\\Program Files (x86)\\Common Files", "C:\\Program Files (x86)\\Common Files"},
    {X64, "C:\\Windows\\Sysnative", "C:\\Windows\\System32"},
    {X64, "C:\\Windows\\System32", "C:\\Windows\\SysWOW64"},
    {X64, "C:\\Windows\\SysWOW64", "C:\\Windows\\SysWOW64"},
    {X64, "C:\\ProgramData", "C:\\ProgramData"},
    {X64, "C:\\Users\\User\\AppData\\Roaming", "C:\\Users\\User\\AppData\\Roaming"},
    {X64, "C:\\Users\\User\\Downloads", "C:\\Users\\User\\Downloads"},
    {X64, "C:\\Users\\User\\Pictures", "C:\\Users\\User\\Pictures"},
    {X64, "C:\\Users\\Default", "C:\\Users\\Default"},
    {X64, "C:\\Users\\Other\\Documents\\FTP", "C:\\Users\\Other\\Documents\\FTP"},
    {X64, "C:\\Users", "C:\\Users"},
    {X64, "C:\\Documents and Settings\\User\\Documents\\FTP", "C:\\Users\\User\\Documents\\FTP"},
    {X64, "C:\\Users\\All Users\\FTP", "C:\\ProgramData\\FTP"},
    {X64, "C:\\Users\\User\\Application Data\\FTP", "C:\\Users\\User\\AppData\\Roaming\\FTP"},
    {X64, "\\\\127.0.0.2\\C$\\Apps\\FTP", "C:\\Apps\\FTP"},
    {X64, "\\\\winsim.example.com\\C$\\Apps\\FTP", "C:\\Apps\\FTP"},
    {X64, "S:\\Downloads", "C:\\Users\\User\\Downloads", "C:\\Users\\User"},
    {X64, "S:\\Common Files", "C:\\Program Files\\Common Files", "C:\\Program Files"},
    {X64, "D:\\Link\\FTP", "D:\\Real\\FTP", nullptr, true},
};

class PlacesTest : public SetupTest {
 protected:
  std::string Key(WindowsVersion v) const { return Is64(v) ? "Software\\Wow6432Node\\VORTAN\\FTP" : kKey; }

  void Prepare(const Place& place) {
    FreshMachine(place.version);
    if (place.version != W98) m().AddUserProfile("Other");
    if (place.substTarget != nullptr) m().Subst('S', place.substTarget);
    if (place.junction) {
      m().MakeDirs("D:\\Real");
      m().MakeJunction("D:\\Link", "D:\\Real");
    }
    for (const char* name : kProductFiles) m().WriteText(std::string(place.real) + "\\" + name, "product");
    for (const char* kept : kUsersFiles) m().WriteText(place.real + std::string(kept), "keep");
    const std::string key = Key(place.version);
    m().SetRegString(HKEY_LOCAL_MACHINE, key, "Installation Directory", place.recorded);
    m().SetRegBinary(HKEY_LOCAL_MACHINE, key, "WorkingDirType", {0});
    m().SetRegString(HKEY_LOCAL_MACHINE, key, "Working Directory", place.recorded);
  }

  void Remove() {
    ResetSetupState();
    WriteIni(kRemovalIni);
    RunSetup();
  }

  // The product's files are gone, the user's stay, only the uninstaller
  // waits for the restart, and after it the user's files are still there.
  void ExpectOnlyProductFilesGone(const Place& place, const std::string& how) {
    const std::string real = place.real;
    const std::string where = std::string(place.recorded) + " on edition " +
                              std::to_string(static_cast<int>(place.version)) + " (" + how + ")";
    for (const char* name : kProductFiles) EXPECT_FALSE(m().Exists(real + "\\" + name)) << where << ": " << name;
    for (const char* kept : kUsersFiles) EXPECT_TRUE(m().Exists(real + kept)) << where << ": " << kept;
    for (auto& [from, to] : m().PendingRenames())
      EXPECT_NE(from.find("UNINS.EXE"), std::string::npos) << where << ": only the uninstaller waits, not " << from;
    m().Restart();
    for (const char* kept : kUsersFiles) EXPECT_TRUE(m().Exists(real + kept)) << where << " after the restart: " << kept;
    EXPECT_TRUE(m().IsDirectory(real)) << where;
  }
};

TEST_F(PlacesTest, AnOldRecordLosesOnlyTheProductFilesThere) {
  for (const Place& place : kPlaces) {
    Prepare(place);
    Remove();
    ExpectOnlyProductFilesGone(place, "no list of created directories");
  }
}

// The installation made a Certs folder there and recorded it (spelled as
// the record spells the directory): that folder goes, nothing else.
TEST_F(PlacesTest, ARecordNamingOnlyWhatWasMadeLosesOnlyThat) {
  for (const Place& place : kPlaces) {
    Prepare(place);
    const std::string made = std::string(place.recorded) + "\\Certs";
    m().WriteText(std::string(place.real) + "\\Certs\\ca.pem", "product");
    m().SetRegValue(HKEY_LOCAL_MACHINE, Key(place.version), "Created Directories", REG_MULTI_SZ,
                    Bytes(made + std::string(2, '\0')));
    Remove();
    EXPECT_FALSE(m().Exists(std::string(place.real) + "\\Certs")) << made;
    ExpectOnlyProductFilesGone(place, "a list naming " + made);
  }
}

// An installation into a directory it makes goes whole, also when the
// directory was named through a junction or a SUBST drive: the record
// names what was made in the spelling it was made by.
TEST_F(PlacesTest, AnInstallationMadeThroughAnySpellingIsRemovedWhole) {
  struct Made {
    WindowsVersion version;
    const char* dir;
    const char* real;
    const char* substTarget;
  };
  const Made cases[] = {
      {XP, "C:\\Apps\\VORTAN\\FTP", "C:\\Apps\\VORTAN", nullptr},
      {W10, "C:\\Documents and Settings\\User\\Documents\\VORTAN\\FTP", "C:\\Users\\User\\Documents\\VORTAN", nullptr},
      {X64, "C:\\Users\\User\\My Documents\\VORTAN\\FTP", "C:\\Users\\User\\Documents\\VORTAN", nullptr},
      {X64, "S:\\VORTAN\\FTP", "D:\\Tools\\VORTAN", "D:\\Tools"},
      {XP, "S:\\VORTAN\\FTP", "D:\\Tools\\VORTAN", "D:\\Tools"},
  };
  for (const Made& c : cases) {
    FreshMachine(c.version);
    m().MakeDirs("D:\\Tools");
    if (c.substTarget != nullptr) m().Subst('S', c.substTarget);
    InstallQuietly(c.dir);
    ASSERT_TRUE(m().Exists(std::string(c.real) + "\\FTP\\QXFTP.EXE")) << c.dir;
    Remove();
    m().Restart();
    EXPECT_FALSE(m().Exists(c.real)) << c.dir;
    EXPECT_TRUE(m().IsDirectory("D:\\Tools")) << c.dir << ": the directory that was there stays";
  }
}

// Installing twice over and removing leaves the machine's folders as they
// were, on each family and width.
TEST_F(PlacesTest, InstallingTwiceThenRemovingLeavesNothing) {
  for (WindowsVersion version : {W98, XP, W10, X64}) {
    FreshMachine(version);
    WriteIni(kRemovalIni);  // the snapshot holds a SETUP.INI, as the machine will
    const auto beforeC = m().Tree("C:\\");
    const auto beforeD = m().Tree("D:\\");
    InstallQuietly("D:\\Apps\\VORTAN\\FTP");
    InstallQuietly("D:\\Apps\\VORTAN\\FTP");
    Remove();
    m().Restart();
    EXPECT_EQ(m().Tree("D:\\"), beforeD) << static_cast<int>(version);
    EXPECT_EQ(m().Tree("C:\\"), beforeC) << static_cast<int>(version);
  }
}

}  // namespace
