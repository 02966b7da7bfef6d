// The 64-bit editions (XP x64, 7, 8.1, 10, 11) as a 32-bit program finds
// them: on top of the layout of the 32-bit edition of the same family, the
// 32-bit system directory, both Program Files, the shell folders and
// environment of a 32-bit process, both registry views of the places the
// program reads, and a profiles directory with another user in it. Facts
// and their sources: docs/windows-x64-and-user-rights.md.
#include "internal.h"

namespace winsim::detail {

namespace {

constexpr const char* kX86 = "C:\\Program Files (x86)";
constexpr const char* kX64 = "C:\\Program Files";
constexpr const char* kSimExe = "MZWINSIM-EXE\n";

void SetExpandString(Machine& m, HKEY hive, const std::string& key, const std::string& name, const std::string& text) {
  std::vector<uint8_t> d(text.begin(), text.end());
  d.push_back(0);
  m.SetRegValue(hive, key, name, REG_EXPAND_SZ, d);
}

}  // namespace

EditionVersion VersionOf64(WindowsVersion v) {
  switch (v) {
    case WindowsVersion::WinXP64:
      // "Windows XP Professional x64 Edition: 5.2, wProductType ==
      // VER_NT_WORKSTATION" (OSVERSIONINFOEXA); Service Pack 2 was its last.
      return {5, 2, 3790, "Service Pack 2"};
    case WindowsVersion::Win7x64:
      return {6, 1, 7601, "Service Pack 1"};
    default:
      // 8.1 (6.3), 10 and 11 (10.0) tell a program whose manifest names no
      // supported OS that they are Windows 8, 6.2 build 9200, as the 32-bit
      // Windows 10 edition does.
      return {6, 2, 9200, ""};
  }
}

void SeedEdition64(Machine& m) {
  State& s = m.state();
  s.wow64 = true;
  const bool since7 = s.version != WindowsVersion::WinXP64;
  const std::string win = s.windowsDir;
  const std::string sys = win + "\\system32";
  const std::string wow = s.Wow64SystemDir();
  const std::string profile = *m.EnvironmentVariable("USERPROFILE");
  const std::string profiles = m.ProfilesDir();

  // The 32-bit system directory holds the 32-bit copies of the system DLLs;
  // the subdirectories of System32 that stay unredirected exist there.
  m.MakeDirs(wow);
  for (const std::string& name : m.List(sys)) {
    auto bytes = m.ReadBytes(sys + "\\" + name);
    if (bytes) m.WriteBytes(wow + "\\" + name, *bytes);
  }
  for (const char* dir : {"catroot", "catroot2", "drivers\\etc", "LogFiles", "spool"}) m.MakeDirs(sys + "\\" + dir);
  if (since7) m.MakeDirs(sys + "\\DriverStore");
  m.WriteText(win + "\\regedit.exe", kSimExe);
  m.WriteText(wow + "\\regedit.exe", kSimExe);

  // Program Files of both kinds; a 32-bit process is given the (x86) ones.
  for (const char* root : {kX64, kX86}) m.MakeDirs(std::string(root) + "\\Common Files");
  const std::string common86 = std::string(kX86) + "\\Common Files";
  m.SetShellFolder(CSIDL_PROGRAM_FILES, kX86);
  m.SetShellFolder(CSIDL_PROGRAM_FILESX86, kX86);
  m.SetShellFolder(CSIDL_PROGRAM_FILES_COMMON, common86);
  m.SetShellFolder(CSIDL_PROGRAM_FILES_COMMONX86, common86);
  m.SetShellFolder(CSIDL_SYSTEM, sys);
  m.SetShellFolder(CSIDL_SYSTEMX86, wow);

  // The profile folders, the all-users places and the other profiles.
  std::string allUsers, local, documents;
  if (since7) {
    allUsers = "C:\\ProgramData";
    local = profile + "\\AppData\\Local";
    documents = profile + "\\Documents";
    for (const char* dir : {"Downloads", "Music", "Pictures", "Videos", "Favorites", "Links", "Saved Games",
                            "Contacts", "Searches", "AppData\\LocalLow"})
      m.MakeDirs(profile + "\\" + dir);
    m.SetShellFolder(CSIDL_MYPICTURES, profile + "\\Pictures");
    m.SetShellFolder(CSIDL_MYMUSIC, profile + "\\Music");
    m.SetShellFolder(CSIDL_MYVIDEO, profile + "\\Videos");
    for (const char* dir : {"Downloads", "Music", "Pictures", "Videos"}) m.MakeDirs(profiles + "\\Public\\" + dir);
    for (const char* dir : {"Desktop", "Documents", "Downloads", "AppData\\Roaming", "AppData\\Local"})
      m.MakeDirs(profiles + "\\Default\\" + dir);
  } else {
    allUsers = profiles + "\\All Users";
    local = profile + "\\Local Settings\\Application Data";
    documents = profile + "\\My Documents";
    m.MakeDirs(documents + "\\My Pictures");
    m.MakeDirs(documents + "\\My Music");
    m.SetShellFolder(CSIDL_MYPICTURES, documents + "\\My Pictures");
    m.SetShellFolder(CSIDL_MYMUSIC, documents + "\\My Music");
    for (const char* dir : {"Desktop", "My Documents", "Application Data", "Local Settings\\Application Data"})
      m.MakeDirs(profiles + "\\Default User\\" + dir);
  }
  m.SetShellFolder(CSIDL_FAVORITES, profile + "\\Favorites");
  m.SetShellFolder(CSIDL_LOCAL_APPDATA, local);
  m.SetShellFolder(CSIDL_COMMON_APPDATA, since7 ? allUsers : allUsers + "\\Application Data");
  m.SetShellFolder(CSIDL_COMMON_STARTUP, m.ShellFolder(CSIDL_COMMON_PROGRAMS) + "\\StartUp");
  m.AddUserProfile("Other");

  // The environment of a 32-bit process ("WOW64 Implementation Details":
  // ProgramFiles and CommonProgramFiles name the (x86) folders;
  // ProgramW6432 and CommonProgramW6432 exist from Windows 7 on).
  const std::string home = profile.substr(2);
  std::vector<std::pair<const char*, std::string>> env = {
      {"PROCESSOR_ARCHITECTURE", "x86"}, {"PROCESSOR_ARCHITEW6432", "AMD64"},
      {"SystemDrive", "C:"},            {"OS", "Windows_NT"},
      {"USERNAME", profile.substr(profile.rfind('\\') + 1)},
      {"HOMEDRIVE", "C:"},              {"HOMEPATH", home},
      {"ProgramFiles", kX86},           {"ProgramFiles(x86)", kX86},
      {"CommonProgramFiles", common86}, {"CommonProgramFiles(x86)", common86},
      {"ALLUSERSPROFILE", allUsers},    {"APPDATA", m.ShellFolder(CSIDL_APPDATA)}};
  if (since7) {
    env.insert(env.end(), {{"ProgramW6432", kX64},
                           {"CommonProgramW6432", std::string(kX64) + "\\Common Files"},
                           {"ProgramData", allUsers},
                           {"PUBLIC", profiles + "\\Public"},
                           {"LOCALAPPDATA", local}});
  }
  for (auto& [name, value] : env) m.SetEnvironmentVariable(name, value);

  // Both registry views of Program Files (Wine's wine.inf: [CurrentVersion]
  // run by the 64-bit and by the 32-bit installer, and
  // [CurrentVersionWow64.ntamd64]), the program's uninstall list in both,
  // and the 32-bit classes.
  const std::string currentVersion = "Software\\Microsoft\\Windows\\CurrentVersion";
  const std::string currentVersion32 = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion";
  const std::string common64 = std::string(kX64) + "\\Common Files";
  m.SetRegString(HKEY_LOCAL_MACHINE, currentVersion, "ProgramFilesDir", kX64);
  m.SetRegString(HKEY_LOCAL_MACHINE, currentVersion, "CommonFilesDir", common64);
  m.SetRegString(HKEY_LOCAL_MACHINE, currentVersion32, "ProgramFilesDir", kX86);
  m.SetRegString(HKEY_LOCAL_MACHINE, currentVersion32, "CommonFilesDir", common86);
  for (const std::string& key : {currentVersion, currentVersion32}) {
    m.SetRegString(HKEY_LOCAL_MACHINE, key, "ProgramFilesDir (x86)", kX86);
    m.SetRegString(HKEY_LOCAL_MACHINE, key, "CommonFilesDir (x86)", common86);
    if (since7) {
      m.SetRegString(HKEY_LOCAL_MACHINE, key, "ProgramW6432Dir", kX64);
      m.SetRegString(HKEY_LOCAL_MACHINE, key, "CommonW6432Dir", common64);
    }
    m.CreateKey(HKEY_LOCAL_MACHINE, key + "\\Uninstall");
  }
  m.CreateKey(HKEY_LOCAL_MACHINE, "Software\\Classes\\Wow6432Node");
  m.CreateKey(HKEY_CURRENT_USER, "Software\\Classes");

  // Where the profiles live (shared; Wine's shell32 reads ProfilesDirectory
  // there to place the profile folders).
  const std::string profileList = "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
  if (since7) {
    SetExpandString(m, HKEY_LOCAL_MACHINE, profileList, "ProfilesDirectory", "%SystemDrive%\\Users");
    SetExpandString(m, HKEY_LOCAL_MACHINE, profileList, "Default", "%SystemDrive%\\Users\\Default");
    SetExpandString(m, HKEY_LOCAL_MACHINE, profileList, "Public", "%SystemDrive%\\Users\\Public");
    SetExpandString(m, HKEY_LOCAL_MACHINE, profileList, "ProgramData", "%SystemDrive%\\ProgramData");
  } else {
    SetExpandString(m, HKEY_LOCAL_MACHINE, profileList, "ProfilesDirectory",
                    "%SystemDrive%\\Documents and Settings");
    m.SetRegString(HKEY_LOCAL_MACHINE, profileList, "AllUsersProfile", "All Users");
    m.SetRegString(HKEY_LOCAL_MACHINE, profileList, "DefaultUserProfile", "Default User");
  }
}

// Vista moved the profiles to C:\Users and the all-users data to
// C:\ProgramData, and left junctions at the old names for programs that
// still spell them ("Junction Points", Volume Shadow Copy Service
// documentation: C:\Documents and Settings points to C:\Users; the
// junctions carry FILE_ATTRIBUTE_REPARSE_POINT, FILE_ATTRIBUTE_HIDDEN and
// FILE_ATTRIBUTE_SYSTEM; per-user junctions are made in each profile, such
// as My Documents pointing to Documents). Their ACL that refuses a listing
// of the junction itself is not modelled: paths through them work, as
// they do on Windows.
void SeedCompatibilityJunctions(Machine& m) {
  State& s = m.state();
  const std::string profiles = m.ProfilesDir();
  const std::string drive = profiles.substr(0, 2);
  const std::string programData = drive + "\\ProgramData";
  const DWORD hidden = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  // The template profile exists on every edition (the 64-bit seeding gives
  // it its usual folders already).
  for (const char* dir : {"Desktop", "Documents", "Downloads", "AppData\\Roaming", "AppData\\Local"})
    m.MakeDirs(profiles + "\\Default\\" + dir);
  m.MakeDirs(programData);
  m.MakeJunction(drive + "\\Documents and Settings", profiles, hidden);
  m.MakeJunction(profiles + "\\All Users", programData, hidden);
  m.MakeJunction(profiles + "\\Default User", profiles + "\\Default", hidden);
  m.MakeJunction(programData + "\\Application Data", programData, hidden);
  std::vector<std::string> each = {*m.EnvironmentVariable("USERPROFILE"), profiles + "\\Default"};
  each.insert(each.end(), s.otherProfiles.begin(), s.otherProfiles.end());
  for (const std::string& profile : each) {
    m.MakeJunction(profile + "\\My Documents", profile + "\\Documents", hidden);
    m.MakeJunction(profile + "\\Application Data", profile + "\\AppData\\Roaming", hidden);
    m.MakeJunction(profile + "\\Local Settings", profile + "\\AppData\\Local", hidden);
    // The one that leads into its own ancestor: a walk that followed
    // junctions would never end here.
    m.MakeJunction(profile + "\\AppData\\Local\\Application Data", profile + "\\AppData\\Local", hidden);
  }
}

}  // namespace winsim::detail
