// A fresh machine for each Windows version: the version numbers, the
// directories, shell folders, registry keys and environment that version
// installs, and the program's own place.
#include "internal.h"

namespace winsim {

using namespace detail;

// ---- Construction -----------------------------------------------------------------------
struct VersionInfo {
  DWORD major, minor, build, platform;
  const char* csd;
};

static VersionInfo InfoFor(WindowsVersion v) {
  switch (v) {
    case WindowsVersion::Win95:
      return {4, 0, 0x040003B6, VER_PLATFORM_WIN32_WINDOWS, ""};
    case WindowsVersion::Win98:
      return {4, 10, 0x040A07CE, VER_PLATFORM_WIN32_WINDOWS, ""};
    case WindowsVersion::NT4:
      return {4, 0, 1381, VER_PLATFORM_WIN32_NT, "Service Pack 6"};
    case WindowsVersion::Win2000:
      return {5, 0, 2195, VER_PLATFORM_WIN32_NT, "Service Pack 4"};
    case WindowsVersion::XP:
      return {5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 3"};
    case WindowsVersion::Win7:
      return {6, 1, 7601, VER_PLATFORM_WIN32_NT, "Service Pack 1"};
    case WindowsVersion::Win10:
      // Windows 10 is 10.0, but GetVersionExA tells a program 6.2 (build
      // 9200, Windows 8) unless its manifest names Windows 8.1 or 10 among
      // its supportedOS entries or its PE header asks for 6.3 or later; the
      // platform documentation says so ("Applications not manifested for
      // Windows 8.1 or Windows 10 will return the Windows 8 OS version value
      // (6.2)") and Wine does the same (init_current_version in
      // dlls/kernelbase/version.c). Setup.exe's manifest names none.
      return {6, 2, 9200, VER_PLATFORM_WIN32_NT, ""};
    case WindowsVersion::WinXP64:
    case WindowsVersion::Win7x64:
    case WindowsVersion::Win81x64:
    case WindowsVersion::Win10x64:
    case WindowsVersion::Win11x64: {
      EditionVersion e = VersionOf64(v);
      return {e.major, e.minor, e.build, VER_PLATFORM_WIN32_NT, e.csd};
    }
  }
  return {5, 1, 2600, VER_PLATFORM_WIN32_NT, ""};
}

Machine::Machine(WindowsVersion version) : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.owner = this;
  s.version = version;
  VersionInfo vi = InfoFor(version);
  s.major = vi.major;
  s.minor = vi.minor;
  s.build = vi.build;
  s.platform = vi.platform;
  s.csd = vi.csd;
  // 2004-01-01 00:00:00 UTC in FILETIME units.
  s.clock = 127173888000000000ULL;
  s.ticks = 3600000;

  s.MakeRoot("C:");
  s.MakeRoot("D:");
  s.cwd.root = "C:";

  auto key = [](const char* name) {
    auto k = std::make_shared<RegKey>();
    k->name = name;
    return k;
  };
  s.hklm = key("HKEY_LOCAL_MACHINE");
  s.hku = key("HKEY_USERS");
  s.hkcu = key("HKEY_CURRENT_USER");

  const bool nine = vi.platform != VER_PLATFORM_WIN32_NT;
  std::string win, sys, temp, profile, allUsers, programs, commonPrograms, personal, commonDocs, appData;
  switch (version) {
    case WindowsVersion::Win95:
    case WindowsVersion::Win98:
      win = "C:\\WINDOWS";
      sys = "C:\\WINDOWS\\SYSTEM";
      temp = "C:\\WINDOWS\\TEMP\\";
      profile = win;
      personal = "C:\\My Documents";
      appData = win + "\\Application Data";
      break;
    case WindowsVersion::NT4:
      win = "C:\\WINNT";
      sys = "C:\\WINNT\\system32";
      temp = "C:\\TEMP\\";
      profile = "C:\\WINNT\\Profiles\\User";
      allUsers = "C:\\WINNT\\Profiles\\All Users";
      personal = profile + "\\Personal";
      commonDocs = allUsers + "\\Documents";
      appData = profile + "\\Application Data";
      break;
    case WindowsVersion::Win2000:
    case WindowsVersion::XP:
    case WindowsVersion::WinXP64:
      win = version == WindowsVersion::Win2000 ? "C:\\WINNT" : "C:\\WINDOWS";
      sys = win + "\\system32";
      profile = "C:\\Documents and Settings\\User";
      allUsers = "C:\\Documents and Settings\\All Users";
      temp = profile + "\\Local Settings\\Temp\\";
      personal = profile + "\\My Documents";
      commonDocs = allUsers + "\\Documents";
      appData = profile + "\\Application Data";
      break;
    case WindowsVersion::Win7:
    case WindowsVersion::Win10:
    case WindowsVersion::Win7x64:
    case WindowsVersion::Win81x64:
    case WindowsVersion::Win10x64:
    case WindowsVersion::Win11x64:
      win = "C:\\Windows";
      sys = "C:\\Windows\\system32";
      profile = "C:\\Users\\User";
      allUsers = "C:\\ProgramData\\Microsoft\\Windows";
      temp = profile + "\\AppData\\Local\\Temp\\";
      personal = profile + "\\Documents";
      commonDocs = "C:\\Users\\Public\\Documents";
      appData = profile + "\\AppData\\Roaming";
      break;
  }
  s.windowsDir = win;
  s.systemDir = sys;
  s.tempDir = temp;
  MakeDirs(win);
  MakeDirs(sys);
  MakeDirs(temp);
  MakeDirs("C:\\Program Files");

  // Windows 7 and later share the profile layout under C:\Users.
  const bool users = vi.major >= 6;
  std::string startMenu = users ? appData + "\\Microsoft\\Windows\\Start Menu"
                                                          : profile + "\\Start Menu";
  std::string commonStartMenu = users ? allUsers + "\\Start Menu" : allUsers + "\\Start Menu";
  std::string desktop = profile + "\\Desktop";
  std::string commonDesktop = users ? "C:\\Users\\Public\\Desktop" : allUsers + "\\Desktop";
  programs = startMenu + "\\Programs";
  commonPrograms = commonStartMenu + "\\Programs";

  // Folders both routes know on every version.
  std::vector<std::pair<int, std::string>> basic = {
      {CSIDL_DESKTOP, desktop},           {CSIDL_DESKTOPDIRECTORY, desktop}, {CSIDL_PROGRAMS, programs},
      {CSIDL_PERSONAL, personal},         {CSIDL_STARTUP, programs + "\\StartUp"},
      {CSIDL_STARTMENU, startMenu},       {CSIDL_APPDATA, appData}};
  for (auto& [csidl, path] : basic) SetShellFolder(csidl, path);
  if (!nine) {
    SetShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY, commonDesktop);
    SetShellFolder(CSIDL_COMMON_PROGRAMS, commonPrograms);
    SetShellFolder(CSIDL_COMMON_STARTMENU, commonStartMenu);
  }
  // Folders that shells before Windows 2000 do not know through item lists;
  // the shell folder library provides them on every version.
  std::vector<std::pair<int, std::string>> newer = {
      {CSIDL_WINDOWS, win}, {CSIDL_SYSTEM, sys}, {CSIDL_PROGRAM_FILES, "C:\\Program Files"}};
  if (!commonDocs.empty()) newer.push_back({CSIDL_COMMON_DOCUMENTS, commonDocs});
  bool oldShell = vi.major < 5;
  for (auto& [csidl, path] : newer) {
    if (oldShell) {
      SetShellFolder(csidl, FolderRoute::ShFolder, path);
      MakeDirs(path);
    } else {
      SetShellFolder(csidl, path);
    }
  }

  // The profile root: the shell folder library knows it from Windows 2000
  // on; older shells know it through neither route.
  if (!oldShell) SetShellFolder(CSIDL_PROFILE, profile);
  // The media folders of shell 5.0 and later: inside My Documents on 2000
  // and XP (My Music and My Videos from XP), beside Documents in the
  // profile from Vista on.
  if (!oldShell && !users) {
    SetShellFolder(CSIDL_MYPICTURES, personal + "\\My Pictures");
    if (version != WindowsVersion::Win2000) SetShellFolder(CSIDL_MYMUSIC, personal + "\\My Music");
  } else if (users) {
    SetShellFolder(CSIDL_MYPICTURES, profile + "\\Pictures");
    SetShellFolder(CSIDL_MYMUSIC, profile + "\\Music");
    SetShellFolder(CSIDL_MYVIDEO, profile + "\\Videos");
  }

  // Program Files as every version records it (KB Q178625 names this value
  // for Windows 95 and NT 4.0; 98, 2000, XP and 7 keep it too).
  const char currentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
  SetRegString(HKEY_LOCAL_MACHINE, currentVersion, "ProgramFilesDir", "C:\\Program Files");
  SetRegString(HKEY_LOCAL_MACHINE, currentVersion, "CommonFilesDir", "C:\\Program Files\\Common Files");

  std::string tempVar = temp.substr(0, temp.size() - 1);
  s.environment = {{"WINDIR", win}, {"TEMP", tempVar}, {"TMP", tempVar}};
  if (!nine) {
    s.environment["SYSTEMROOT"] = win;
    s.environment["COMPUTERNAME"] = s.computerName;
    s.environment["USERPROFILE"] = profile;
  }

  // The registry keys a fresh Windows has that the program writes below.
  CreateKey(HKEY_LOCAL_MACHINE, "Software\\Classes");
  CreateKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
  CreateKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager");
  CreateKey(HKEY_CURRENT_USER, "Software");

  // The HTML Help viewer ships in the Windows directory from Windows 98 on
  // and with Internet Explorer 4 on Windows 95 and NT 4.
  WriteText(win + "\\HH.EXE", "MZWINSIM-EXE\n");

  s.InstallSystemModules();

  s.programPath = "C:\\dist\\Setup.exe";
  MakeDirs("C:\\dist");
  SetCurrentDir("C:\\dist");

  s.metrics = {{SM_CXSCREEN, 1024}, {SM_CYSCREEN, 768}, {SM_CXVSCROLL, 16}, {SM_CYVSCROLL, 16},
               {SM_CYHSCROLL, 16},  {SM_CXHSCROLL, 16}, {SM_CYCAPTION, 18}, {SM_CXICON, 32},
               {SM_CYICON, 32},     {SM_CXSMICON, 16},  {SM_CYSMICON, 16},  {SM_MOUSEPRESENT, 1}};

  s.progman.groups = {ProgmanGroup{"Accessories", {}}, ProgmanGroup{"StartUp", {}}};
  State* sp = state_.get();
  s.progman.targetExists = [sp](const std::string& path) {
    auto exists = [sp](const std::string& p) {
      // The shell checks the target (a 64-bit process on a 64-bit edition).
      PathParts parts;
      ++sp->native;
      DWORD e = sp->Resolve(p.c_str(), parts);
      --sp->native;
      if (e) return false;
      NodePtr n = sp->Lookup(parts);
      return n && !n->isDir;
    };
    if (path.find('\\') != std::string::npos || path.find(':') != std::string::npos) return exists(path);
    for (const std::string& dir : {sp->cwd.Join(), sp->systemDir, sp->windowsDir})
      if (exists(dir + "\\" + path)) return true;
    return false;
  };

  if (Is64BitEdition(version)) SeedEdition64(*this);
  if (IsVistaOrLater(version)) SeedCompatibilityJunctions(*this);
  s.LoadPinnedModules();
}

}  // namespace winsim
