// The 64-bit editions as the 32-bit program meets them: the file system and
// registry redirectors, the functions it binds at run time to learn where
// it runs, and what each edition seeds. Every case names its source; the
// sources are gathered in docs/windows-x64-and-user-rights.md.
#include <cstring>

#include "test_winsim_support.h"

namespace {

using namespace winsim_test;

typedef BOOL(WINAPI* IsWow64Process_fn)(HANDLE, PBOOL);
typedef UINT(WINAPI* GetSystemWow64DirectoryA_fn)(LPSTR, UINT);
typedef LONG(WINAPI* RegDeleteKeyExA_fn)(HKEY, LPCSTR, REGSAM, DWORD);

template <typename F>
F Bind(const char* module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA(module), name)));
}

// What the program reads through a path: the file's text, or "error N".
std::string Reads(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "error " + std::to_string(GetLastError());
  char buf[64] = {};
  DWORD got = 0;
  ReadFile(h, buf, sizeof buf - 1, &got, nullptr);
  CloseHandle(h);
  return std::string(buf, got);
}

// The program's view of a registry value: its text, or "error N".
std::string RegRead(HKEY hive, const std::string& key, const std::string& name, REGSAM extra = 0) {
  HKEY k = nullptr;
  LONG r = RegOpenKeyExA(hive, key.c_str(), 0, KEY_READ | extra, &k);
  if (r != ERROR_SUCCESS) return "error " + std::to_string(r);
  char buf[MAX_PATH] = {};
  DWORD size = sizeof buf;
  r = RegQueryValueExA(k, name.c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(buf), &size);
  RegCloseKey(k);
  return r == ERROR_SUCCESS ? std::string(buf) : "error " + std::to_string(r);
}

// The program creates a key and sets a string in it; "ok" or "error N".
std::string RegWrite(HKEY hive, const std::string& key, const std::string& name, const std::string& text,
                     REGSAM extra = 0) {
  HKEY k = nullptr;
  LONG r = RegCreateKeyExA(hive, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | extra, nullptr, &k, nullptr);
  if (r != ERROR_SUCCESS) return "error " + std::to_string(r);
  r = RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1));
  RegCloseKey(k);
  return r == ERROR_SUCCESS ? "ok" : "error " + std::to_string(r);
}

class Wow64Test : public WinsimTest {
 protected:
  explicit Wow64Test(WindowsVersion v = WindowsVersion::Win10x64) : WinsimTest(v) {}

  // One probe file in each system directory, told apart by its text.
  void PlantProbes(const std::string& rel) {
    m().WriteText(m().WindowsDir() + "\\System32\\" + rel, "64-bit");
    m().WriteText(m().WindowsDir() + "\\SysWOW64\\" + rel, "32-bit");
  }
  bool Key(const std::string& key) const { return m().KeyExists(HKEY_LOCAL_MACHINE, key); }
  std::string Value(HKEY hive, const std::string& key, const std::string& name) const {
    auto v = m().GetRegValue(hive, key, name);
    return v ? v->Text() : "<none>";
  }
};

class WinXP64Test : public Wow64Test {
 protected:
  WinXP64Test() : Wow64Test(WindowsVersion::WinXP64) {}
};

class Win7x64Test : public Wow64Test {
 protected:
  Win7x64Test() : Wow64Test(WindowsVersion::Win7x64) {}
};

// ---- The file system redirector ("File System Redirector",
// learn.microsoft.com/windows/win32/winprog64/file-system-redirector;
// Wine: dlls/ntdll/unix/file.c, get_redirect) -------------------------------------------

TEST_F(Wow64Test, System32ReachesSysWOW64) {
  PlantProbes("probe.dll");
  EXPECT_EQ(Reads("C:\\Windows\\System32\\probe.dll"), "32-bit");
  EXPECT_EQ(Reads("C:\\Windows\\SysWOW64\\probe.dll"), "32-bit");
}

TEST_F(Wow64Test, System32IsRedirectedInEverySpelling) {
  PlantProbes("probe-library.dll");
  SetCurrentDirectoryA("C:\\Windows");
  for (const char* path : {"c:\\windows\\system32\\probe-library.dll", "C:/WINDOWS/SYSTEM32/PROBE-LIBRARY.DLL",
                           "C:\\Windows\\.\\Fonts\\..\\System32\\probe-library.dll",
                           "\\\\?\\C:\\Windows\\System32\\probe-library.dll", "System32\\probe-library.dll",
                           "C:\\WINDOWS\\SYSTEM32\\PROBE-~1.DLL"})
    EXPECT_EQ(Reads(path), "32-bit") << path;
}

TEST_F(Wow64Test, AnAdministrativeShareIsNotRedirected) {
  // An UNC path is no \??\C:\windows\ prefix to WOW64 (Wine's get_redirect).
  PlantProbes("probe.dll");
  EXPECT_EQ(Reads("\\\\localhost\\C$\\Windows\\System32\\probe.dll"), "64-bit");
}

TEST_F(Wow64Test, WritesThroughSystem32LandInSysWOW64) {
  EXPECT_EQ(Result(CreateDirectoryA("C:\\Windows\\System32\\VortanProbe", nullptr)), "ok");
  EXPECT_TRUE(m().IsDirectory("C:\\Windows\\SysWOW64\\VortanProbe"));
  EXPECT_FALSE(m().Exists("C:\\Windows\\System32\\VortanProbe"));
}

TEST_F(Wow64Test, AListingThroughSystem32ShowsSysWOW64) {
  PlantProbes("only-here.dll");
  m().RemoveTree("C:\\Windows\\SysWOW64\\only-here.dll");
  m().WriteText("C:\\Windows\\SysWOW64\\only-32.dll", "32-bit");
  EXPECT_EQ(Find("C:\\Windows\\System32\\only-*.dll"), std::vector<std::string>{"only-32.dll"});
}

TEST_F(Wow64Test, TheWindowsDirectoryListsBothSystemDirectoriesAndNoSysnative) {
  // Sysnative "is a virtual directory not a real one".
  auto names = Find("C:\\Windows\\Sys*");
  EXPECT_EQ(names, (std::vector<std::string>{"system32", "SysWOW64"}));
}

TEST_F(Wow64Test, SysnativeReachesTheRealSystem32) {
  PlantProbes("probe.dll");
  EXPECT_EQ(Reads("C:\\Windows\\Sysnative\\probe.dll"), "64-bit");
  EXPECT_EQ(Reads("c:\\windows\\SYSNATIVE\\probe.dll"), "64-bit");
}

TEST_F(WinXP64Test, SysnativeArrivedWithVista) {
  // "The Sysnative alias was added starting with Windows Vista."
  PlantProbes("probe.dll");
  EXPECT_EQ(Reads("C:\\WINDOWS\\Sysnative\\probe.dll"), "error 3");
}

TEST_F(Wow64Test, ExemptSubdirectoriesReachTheRealSystem32) {
  for (const char* rel : {"catroot\\a.cat", "catroot2\\a.log", "drivers\\etc\\hosts", "LogFiles\\a.log",
                          "spool\\a.spl", "DriverStore\\a.inf"}) {
    m().WriteText(m().WindowsDir() + "\\System32\\" + rel, "64-bit");
    EXPECT_EQ(Reads(std::string("C:\\Windows\\System32\\") + rel), "64-bit") << rel;
  }
  PlantProbes("drivers\\other.sys");
  EXPECT_EQ(Reads("C:\\Windows\\System32\\drivers\\other.sys"), "32-bit") << "only drivers\\etc is exempt";
}

TEST_F(WinXP64Test, DriverStoreIsRedirectedBeforeWindows7) {
  // "Windows Server 2008, Windows Vista, Windows Server 2003 and Windows XP:
  // %windir%\system32\driverstore is redirected."
  PlantProbes("DriverStore\\a.inf");
  EXPECT_EQ(Reads("C:\\WINDOWS\\system32\\DriverStore\\a.inf"), "32-bit");
  PlantProbes("spool\\a.spl");
  EXPECT_EQ(Reads("C:\\WINDOWS\\system32\\spool\\a.spl"), "64-bit");
}

TEST_F(Wow64Test, RegeditAndLastGoodAreRedirectedToo) {
  m().WriteText("C:\\Windows\\regedit.exe", "64-bit");
  m().WriteText("C:\\Windows\\SysWOW64\\regedit.exe", "32-bit");
  EXPECT_EQ(Reads("C:\\Windows\\regedit.exe"), "32-bit");
  m().WriteText("C:\\Windows\\lastgood\\system32\\a.dll", "64-bit");
  m().WriteText("C:\\Windows\\lastgood\\SysWOW64\\a.dll", "32-bit");
  EXPECT_EQ(Reads("C:\\Windows\\lastgood\\system32\\a.dll"), "32-bit");
}

TEST_F(Wow64Test, TheSystemDirectoryIsSystem32AndItsDllsAreThe32BitOnes) {
  // KNOWNFOLDERID, Remarks: FOLDERID_System is %windir%\system32 for a
  // 32-bit application on a 64-bit system.
  char dir[MAX_PATH] = {};
  EXPECT_EQ(GetSystemDirectoryA(dir, MAX_PATH), 19u);
  EXPECT_STREQ(dir, "C:\\Windows\\system32");
  HMODULE h = LoadLibraryA("C:\\Windows\\system32\\shfolder.dll");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Last("LoadLibrary"), "C:\\Windows\\system32\\shfolder.dll | C:\\Windows\\SysWOW64\\shfolder.dll | 0");
  FreeLibrary(h);
}

TEST_F(Wow64Test, TheTestHelpersNameTheRealFiles) {
  PlantProbes("probe.dll");
  EXPECT_EQ(Text("C:\\Windows\\System32\\probe.dll"), "64-bit");
  EXPECT_EQ(m().RedirectedPath("C:\\Windows\\System32\\probe.dll"), "C:\\Windows\\SysWOW64\\probe.dll");
  EXPECT_EQ(m().RedirectedPath("C:\\Windows\\Sysnative\\probe.dll"), "C:\\Windows\\system32\\probe.dll");
}

TEST(Wow64Editions, The32BitEditionsHaveNoRedirector) {
  for (WindowsVersion v : {WindowsVersion::XP, WindowsVersion::Win7, WindowsVersion::Win10}) {
    Machine m(v);
    winsim::CurrentMachine use(m);
    m.WriteText(m.SystemDir() + "\\probe.dll", "native");
    EXPECT_EQ(Reads(m.SystemDir() + "\\probe.dll"), "native");
    EXPECT_FALSE(m.Exists(m.WindowsDir() + "\\SysWOW64"));
    EXPECT_EQ(Reads(m.WindowsDir() + "\\Sysnative\\probe.dll"), "error 3");
  }
}

// ---- The registry redirector ("Registry Redirector" and "Registry Keys
// Affected by WOW64", learn.microsoft.com/windows/win32/winprog64/shared-registry-keys) -----

TEST_F(Wow64Test, HklmSoftwareReachesWow6432Node) {
  EXPECT_EQ(RegWrite(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP", "Version", "1"), "ok");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\VORTAN\\FTP", "Version"), "1");
  EXPECT_FALSE(Key("Software\\VORTAN"));
  EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP", "Version"), "1");
  EXPECT_EQ(m().GetRegValue32(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP", "Version")->Text(), "1");
}

TEST_F(Wow64Test, TheJournalKeepsTheProgramsNames) {
  RegWrite(HKEY_LOCAL_MACHINE, "Software\\VORTAN", "A", "1");
  EXPECT_EQ(Last("RegCreateKey"), "HKEY_LOCAL_MACHINE | Software\\VORTAN | 0xF003F | 0x0 | created | 0");
}

TEST_F(Wow64Test, HkcuSoftwareIsShared) {
  EXPECT_EQ(RegWrite(HKEY_CURRENT_USER, "Software\\VORTAN\\FTP", "A", "1"), "ok");
  EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\VORTAN\\FTP", "A"), "1");
}

TEST_F(Wow64Test, TheWow64FlagsChooseTheView) {
  // "Accessing an Alternate Registry View": KEY_WOW64_64KEY 0x100,
  // KEY_WOW64_32KEY 0x200; both together fail with ERROR_INVALID_PARAMETER.
  const char* cv = "Software\\Microsoft\\Windows\\CurrentVersion";
  EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, cv, "ProgramFilesDir"), "C:\\Program Files (x86)");
  EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, cv, "ProgramFilesDir", KEY_WOW64_32KEY), "C:\\Program Files (x86)");
  EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, cv, "ProgramFilesDir", KEY_WOW64_64KEY), "C:\\Program Files");
  EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, cv, "ProgramFilesDir", KEY_WOW64_64KEY | KEY_WOW64_32KEY), "error 87");
  EXPECT_EQ(RegWrite(HKEY_LOCAL_MACHINE, "Software\\VORTAN", "A", "64", KEY_WOW64_64KEY), "ok");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "Software\\VORTAN", "A"), "64");
}

TEST_F(Wow64Test, AKeyOpenedIn32BitViewLeadsItsSubkeysThere) {
  HKEY software = nullptr, sub = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS, &software), ERROR_SUCCESS);
  ASSERT_EQ(RegCreateKeyExA(software, "VORTAN", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr), ERROR_SUCCESS);
  RegCloseKey(sub);
  RegCloseKey(software);
  EXPECT_TRUE(Key("Software\\Wow6432Node\\VORTAN"));
  EXPECT_FALSE(Key("Software\\VORTAN"));
}

TEST_F(Wow64Test, AnExplicitWow6432NodeIsNotDoubled) {
  EXPECT_EQ(RegWrite(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\VORTAN", "A", "1"), "ok");
  EXPECT_TRUE(Key("Software\\Wow6432Node\\VORTAN"));
  EXPECT_FALSE(Key("Software\\Wow6432Node\\Wow6432Node"));
}

TEST_F(Wow64Test, SharedKeysAreOneKeyInBothViews) {
  // Shared on every 64-bit edition: Policies, ProfileList.
  EXPECT_EQ(RegWrite(HKEY_LOCAL_MACHINE, "Software\\Policies\\VORTAN", "A", "1"), "ok");
  EXPECT_TRUE(Key("Software\\Policies\\VORTAN"));
  EXPECT_EQ(RegRead(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                    "ProfilesDirectory"),
            "%SystemDrive%\\Users");
}

TEST_F(Win7x64Test, Windows7SharesClassesButRedirectsClsid) {
  // 7 and later: Classes shared, Classes\CLSID redirected.
  EXPECT_EQ(RegWrite(HKEY_CLASSES_ROOT, ".qft", "", "qftfile"), "ok");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "Software\\Classes\\.qft", ""), "qftfile");
  EXPECT_EQ(RegWrite(HKEY_CLASSES_ROOT, "CLSID\\{1}\\InprocServer32", "", "QXFTP.DLL"), "ok");
  EXPECT_TRUE(Key("Software\\Classes\\Wow6432Node\\CLSID\\{1}\\InprocServer32"));
  EXPECT_FALSE(Key("Software\\Classes\\CLSID\\{1}"));
}

TEST_F(WinXP64Test, BeforeWindows7ClassesAreRedirectedAndReflectedOnClose) {
  // XP x64 column: Classes "Redirected and reflected"; "A reflected key is
  // copied when a key is closed by calling RegCloseKey".
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, ".qft", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), 0);
  RegSetValueExA(k, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("qftfile"), 8);
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "Software\\Classes\\Wow6432Node\\.qft", ""), "qftfile");
  EXPECT_FALSE(Key("Software\\Classes\\.qft")) << "not before the key is closed";
  RegCloseKey(k);
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "Software\\Classes\\.qft", ""), "qftfile");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\Classes\\.qft", ""), "qftfile")
      << "HKLM\\Software\\Wow6432Node\\Classes is linked to HKLM\\Software\\Classes\\Wow6432Node";
}

TEST_F(WinXP64Test, InProcessClassesAreNotReflected) {
  // "only CLSIDs that do not specify InprocServer32 or InprocHandler32 are reflected"
  EXPECT_EQ(RegWrite(HKEY_CLASSES_ROOT, "CLSID\\{1}\\InprocServer32", "", "QXFTP.DLL"), "ok");
  EXPECT_TRUE(Key("Software\\Classes\\Wow6432Node\\CLSID\\{1}\\InprocServer32"));
  EXPECT_FALSE(Key("Software\\Classes\\CLSID\\{1}"));
}

TEST_F(WinXP64Test, ADeletedReflectedKeyGoesFromBothViews) {
  RegWrite(HKEY_CLASSES_ROOT, ".qft", "", "qftfile");
  ASSERT_TRUE(Key("Software\\Classes\\.qft"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ".qft"), ERROR_SUCCESS);
  EXPECT_FALSE(Key("Software\\Classes\\Wow6432Node\\.qft"));
  EXPECT_FALSE(Key("Software\\Classes\\.qft"));
}

TEST_F(Wow64Test, KeysSharedSinceWindows7) {
  for (const char* key : {"Software\\Clients\\Mail\\VORTAN", "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\QXFTP.EXE"}) {
    EXPECT_EQ(RegWrite(HKEY_LOCAL_MACHINE, key, "", "x"), "ok");
    EXPECT_TRUE(Key(key)) << key;
  }
}

TEST_F(WinXP64Test, KeysRedirectedBeforeWindows7) {
  for (const char* key : {"Software\\Clients\\Mail\\VORTAN", "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\QXFTP.EXE"}) {
    EXPECT_EQ(RegWrite(HKEY_LOCAL_MACHINE, key, "", "x"), "ok");
    EXPECT_TRUE(Key(std::string("Software\\Wow6432Node") + (key + 8))) << key;
  }
}

TEST_F(Wow64Test, RegDeleteKeyWorksInThe32BitView) {
  // "The RegDeleteKey function cannot be used to access an alternate registry view."
  m().CreateKey(HKEY_LOCAL_MACHINE, "Software\\VORTAN");
  m().CreateKey(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\VORTAN");
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\VORTAN"), ERROR_SUCCESS);
  EXPECT_FALSE(Key("Software\\Wow6432Node\\VORTAN"));
  EXPECT_TRUE(Key("Software\\VORTAN"));
}

TEST_F(Wow64Test, RegDeleteKeyExReachesThe64BitView) {
  m().CreateKey(HKEY_LOCAL_MACHINE, "Software\\VORTAN");
  auto deleteKeyEx = Bind<RegDeleteKeyExA_fn>("advapi32", "RegDeleteKeyExA");
  ASSERT_NE(deleteKeyEx, nullptr);
  EXPECT_EQ(deleteKeyEx(HKEY_LOCAL_MACHINE, "Software\\VORTAN", KEY_WOW64_64KEY, 0), ERROR_SUCCESS);
  EXPECT_FALSE(Key("Software\\VORTAN"));
  EXPECT_EQ(Last("RegDeleteKeyEx"), "HKEY_LOCAL_MACHINE | Software\\VORTAN | 0x100 | 0");
}

TEST_F(Win7x64Test, ProgramFilesStringsArePatched) {
  // "Registry Redirector": data beginning with %ProgramFiles% (case-sensitive)
  // is stored as %ProgramFiles(x86)%, unless the key was opened with
  // KEY_WOW64_64KEY (from Windows 7 on).
  RegWrite(HKEY_CURRENT_USER, "Software\\VORTAN", "A", "%ProgramFiles%\\VORTAN");
  RegWrite(HKEY_CURRENT_USER, "Software\\VORTAN", "B", "%programfiles%\\VORTAN");
  RegWrite(HKEY_CURRENT_USER, "Software\\VORTAN", "C", "%ProgramFiles%\\VORTAN", KEY_WOW64_64KEY);
  EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\VORTAN", "A"), "%ProgramFiles(x86)%\\VORTAN");
  EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\VORTAN", "B"), "%programfiles%\\VORTAN");
  EXPECT_EQ(Value(HKEY_CURRENT_USER, "Software\\VORTAN", "C"), "%ProgramFiles%\\VORTAN");
}

TEST_F(Win7x64Test, System32StringsArePatchedInFormerlyReflectedKeys) {
  // "REG_SZ or REG_EXPAND_SZ keys containing system32 are replaced with
  // syswow64 ... applied only to the keys that were reflected prior to Windows 7."
  RegWrite(HKEY_CLASSES_ROOT, "qftfile\\shell\\open\\command", "", "C:\\Windows\\system32\\notepad.exe %1");
  RegWrite(HKEY_LOCAL_MACHINE, "Software\\VORTAN", "Viewer", "C:\\Windows\\system32\\notepad.exe");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "Software\\Classes\\qftfile\\shell\\open\\command", ""),
            "C:\\Windows\\syswow64\\notepad.exe %1");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\VORTAN", "Viewer"), "C:\\Windows\\system32\\notepad.exe");
}

TEST(Wow64Editions, The32BitEditionsHaveOneView) {
  for (WindowsVersion v : {WindowsVersion::XP, WindowsVersion::Win7, WindowsVersion::Win10}) {
    Machine m(v);
    winsim::CurrentMachine use(m);
    EXPECT_EQ(RegWrite(HKEY_LOCAL_MACHINE, "Software\\VORTAN", "A", "1", KEY_WOW64_64KEY), "ok");
    EXPECT_TRUE(m.KeyExists(HKEY_LOCAL_MACHINE, "Software\\VORTAN"));
    EXPECT_FALSE(m.KeyExists(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node"));
  }
}

// ---- The functions bound at run time (IsWow64Process,
// learn.microsoft.com/windows/win32/api/wow64apiset/nf-wow64apiset-iswow64process;
// GetSystemWow64DirectoryA, .../nf-wow64apiset-getsystemwow64directorya) ---------------

struct Binding {
  WindowsVersion version;
  const char* isWow64;      // "absent", "FALSE" or "TRUE"
  const char* wow64Dir;     // "absent", "error 120" or the directory
  bool regDeleteKeyEx;
};

class Bindings : public ::testing::TestWithParam<Binding> {};

std::string IsWow64() {
  auto f = Bind<IsWow64Process_fn>("kernel32", "IsWow64Process");
  if (!f) return "absent";
  BOOL wow = 2;
  if (!f(GetCurrentProcess(), &wow)) return "failed";
  return wow ? "TRUE" : "FALSE";
}

std::string Wow64Dir() {
  auto f = Bind<GetSystemWow64DirectoryA_fn>("kernel32.dll", "GetSystemWow64DirectoryA");
  if (!f) return "absent";
  char dir[MAX_PATH] = {};
  UINT n = f(dir, MAX_PATH);
  if (n == 0) return "error " + std::to_string(GetLastError());
  return std::strlen(dir) == n ? dir : "wrong length";
}

TEST_P(Bindings, PerEdition) {
  Machine m(GetParam().version);
  winsim::CurrentMachine use(m);
  EXPECT_EQ(IsWow64(), GetParam().isWow64);
  EXPECT_EQ(Wow64Dir(), GetParam().wow64Dir);
  EXPECT_EQ(Bind<RegDeleteKeyExA_fn>("advapi32.dll", "RegDeleteKeyExA") != nullptr, GetParam().regDeleteKeyEx);
  EXPECT_TRUE(m.outstanding().Clean()) << m.outstanding().Describe();
}

INSTANTIATE_TEST_SUITE_P(
    Wow64, Bindings,
    ::testing::Values(Binding{WindowsVersion::Win95, "absent", "absent", false},
                      Binding{WindowsVersion::Win98, "absent", "absent", false},
                      Binding{WindowsVersion::NT4, "absent", "absent", false},
                      Binding{WindowsVersion::Win2000, "absent", "absent", false},
                      Binding{WindowsVersion::XP, "FALSE", "error 120", false},
                      Binding{WindowsVersion::Win7, "FALSE", "error 120", true},
                      Binding{WindowsVersion::Win10, "FALSE", "error 120", true},
                      Binding{WindowsVersion::WinXP64, "TRUE", "C:\\WINDOWS\\SysWOW64", true},
                      Binding{WindowsVersion::Win7x64, "TRUE", "C:\\Windows\\SysWOW64", true},
                      Binding{WindowsVersion::Win81x64, "TRUE", "C:\\Windows\\SysWOW64", true},
                      Binding{WindowsVersion::Win10x64, "TRUE", "C:\\Windows\\SysWOW64", true},
                      Binding{WindowsVersion::Win11x64, "TRUE", "C:\\Windows\\SysWOW64", true}));

TEST_F(Wow64Test, Kernel32FromTheSystemDirectoryIsTheLoadedOne) {
  // The program's usual late binding: LoadLibraryA of the system
  // directory's copy, GetProcAddress, FreeLibrary.
  HMODULE h = LoadLibraryA("C:\\Windows\\system32\\kernel32.dll");
  EXPECT_EQ(h, GetModuleHandleA("kernel32"));
  EXPECT_NE(GetProcAddress(h, "IsWow64Process"), nullptr);
  EXPECT_EQ(GetProcAddress(h, "NoSuchFunction"), nullptr);
  EXPECT_EQ(FreeLibrary(h), TRUE);
  EXPECT_NE(GetModuleHandleA("KERNEL32.DLL"), nullptr) << "kernel32 stays loaded";
  EXPECT_TRUE(m().outstanding().Clean()) << m().outstanding().Describe();
}

// ---- What each edition seeds ---------------------------------------------------------------

struct Seed {
  WindowsVersion version;
  DWORD major, minor, build;
  const char* windows;  // GetWindowsDirectoryA
  const char* programW6432;  // "" when absent
  const char* profiles;
};

class Editions : public ::testing::TestWithParam<Seed> {};

std::string Env(const char* name) {
  char buf[MAX_PATH] = {};
  return GetEnvironmentVariableA(name, buf, MAX_PATH) ? buf : "";
}

std::string Folder(int csidl) {
  char path[MAX_PATH] = {};
  HMODULE h = LoadLibraryA("shfolder.dll");
  typedef HRESULT(WINAPI * Fn)(HWND, int, HANDLE, DWORD, LPSTR);
  auto f = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(h, "SHGetFolderPathA")));
  HRESULT hr = f ? f(nullptr, csidl, nullptr, 0, path) : E_FAIL;
  FreeLibrary(h);
  return hr == S_OK ? path : "hr " + std::to_string(hr);
}

TEST_P(Editions, WhatA32BitProcessSees) {
  const Seed& e = GetParam();
  Machine m(e.version);
  winsim::CurrentMachine use(m);
  // OSVERSIONINFOEXA's table and its footnote on unmanifested programs.
  OSVERSIONINFOA vi{};
  vi.dwOSVersionInfoSize = sizeof vi;
  ASSERT_TRUE(GetVersionExA(&vi));
  EXPECT_EQ(vi.dwMajorVersion, e.major);
  EXPECT_EQ(vi.dwMinorVersion, e.minor);
  EXPECT_EQ(vi.dwBuildNumber, e.build);
  char dir[MAX_PATH] = {};
  GetWindowsDirectoryA(dir, MAX_PATH);
  EXPECT_STREQ(dir, e.windows);
  // KNOWNFOLDERID, Remarks; WOW64 Implementation Details, Environment Variables.
  EXPECT_EQ(Folder(CSIDL_PROGRAM_FILES), "C:\\Program Files (x86)");
  EXPECT_EQ(Folder(CSIDL_PROGRAM_FILES_COMMON), "C:\\Program Files (x86)\\Common Files");
  EXPECT_EQ(Folder(CSIDL_SYSTEMX86), std::string(e.windows) + "\\SysWOW64");
  EXPECT_EQ(Env("ProgramFiles"), "C:\\Program Files (x86)");
  EXPECT_EQ(Env("ProgramFiles(x86)"), "C:\\Program Files (x86)");
  EXPECT_EQ(Env("CommonProgramFiles"), "C:\\Program Files (x86)\\Common Files");
  EXPECT_EQ(Env("ProgramW6432"), e.programW6432);
  EXPECT_EQ(Env("PROCESSOR_ARCHITECTURE"), "x86");
  EXPECT_EQ(Env("PROCESSOR_ARCHITEW6432"), "AMD64");
  // Wine's wine.inf: ProgramFilesDir in both views.
  EXPECT_EQ(m.GetRegValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir")->Text(),
            "C:\\Program Files");
  EXPECT_EQ(m.GetRegValue32(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir")->Text(),
            "C:\\Program Files (x86)");
  // The profiles directory with another user's profile.
  EXPECT_EQ(m.ProfilesDir(), e.profiles);
  EXPECT_TRUE(m.IsDirectory(std::string(e.profiles) + "\\Other"));
  EXPECT_TRUE(m.IsDirectory("C:\\Program Files\\Common Files"));
  EXPECT_TRUE(m.IsDirectory("C:\\Program Files (x86)\\Common Files"));
}

INSTANTIATE_TEST_SUITE_P(
    Wow64, Editions,
    ::testing::Values(Seed{WindowsVersion::WinXP64, 5, 2, 3790, "C:\\WINDOWS", "", "C:\\Documents and Settings"},
                      Seed{WindowsVersion::Win7x64, 6, 1, 7601, "C:\\Windows", "C:\\Program Files", "C:\\Users"},
                      Seed{WindowsVersion::Win81x64, 6, 2, 9200, "C:\\Windows", "C:\\Program Files", "C:\\Users"},
                      Seed{WindowsVersion::Win10x64, 6, 2, 9200, "C:\\Windows", "C:\\Program Files", "C:\\Users"},
                      Seed{WindowsVersion::Win11x64, 6, 2, 9200, "C:\\Windows", "C:\\Program Files", "C:\\Users"}));

TEST_F(Wow64Test, TheProfileHasItsDownloadsAndThePublicFolders) {
  EXPECT_TRUE(m().IsDirectory("C:\\Users\\User\\Downloads"));
  EXPECT_TRUE(m().IsDirectory("C:\\Users\\Public\\Downloads"));
  EXPECT_TRUE(m().IsDirectory("C:\\Users\\Default"));
  EXPECT_EQ(Env("PUBLIC"), "C:\\Users\\Public");
  EXPECT_EQ(Env("ProgramData"), "C:\\ProgramData");
}

}  // namespace
