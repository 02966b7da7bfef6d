// The two user kinds from Windows Vista on: an elevated administrator (the
// default, and what the product's highestAvailable manifest gives an
// administrator) and a standard user, whose writes to the machine's places
// fail with ERROR_ACCESS_DENIED (no virtualization for a manifested
// program). Every case names its source; the sources are gathered in
// docs/windows-x64-and-user-rights.md.
#include <cstring>

#include "test_winsim_support.h"

namespace {

using namespace winsim_test;
using winsim::UserKind;

HDDEDATA CALLBACK NoCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }

// "ok" or "error N" for a call that returns a BOOL.
std::string MakeDir(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) ? "ok" : "error " + std::to_string(GetLastError());
}

std::string MakeFile(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "error " + std::to_string(GetLastError());
  CloseHandle(h);
  return "ok";
}

std::string Attributes(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES ? "ok" : "error " + std::to_string(GetLastError());
}

std::string CreateKey(HKEY hive, const std::string& key, REGSAM sam = KEY_ALL_ACCESS) {
  HKEY k = nullptr;
  LONG r = RegCreateKeyExA(hive, key.c_str(), 0, nullptr, 0, sam, nullptr, &k, nullptr);
  if (r == ERROR_SUCCESS) RegCloseKey(k);
  return r == ERROR_SUCCESS ? "ok" : "error " + std::to_string(r);
}

std::string OpenKey(HKEY hive, const std::string& key, REGSAM sam) {
  HKEY k = nullptr;
  LONG r = RegOpenKeyExA(hive, key.c_str(), 0, sam, &k);
  if (r == ERROR_SUCCESS) RegCloseKey(k);
  return r == ERROR_SUCCESS ? "ok" : "error " + std::to_string(r);
}

// A standard user on 64-bit Windows 10, and the same machine's elevated
// administrator for the cases that must differ.
class StandardUserTest : public WinsimTest {
 protected:
  explicit StandardUserTest(WindowsVersion v = WindowsVersion::Win10x64) : WinsimTest(v) {
    m().WriteText("C:\\Program Files (x86)\\Old\\readme.txt", "x");
    m().WriteText("C:\\dist\\QXFTP.DLL", "new");
    m().WriteText(m().ProfilesDir() + "\\Other\\Documents\\letter.txt", "private");
    m().SetUser(UserKind::StandardUser);
  }
  void Elevate() { m().SetUser(UserKind::ElevatedAdministrator); }
};

class Win7StandardUserTest : public StandardUserTest {
 protected:
  Win7StandardUserTest() : StandardUserTest(WindowsVersion::Win7) {}
};

// ---- Who the user is -------------------------------------------------------------------------

TEST(UserKinds, AFreshMachineRunsTheProgramAsAnElevatedAdministrator) {
  Machine m(WindowsVersion::Win10x64);
  EXPECT_EQ(m.user(), UserKind::ElevatedAdministrator);
}

TEST(UserKinds, StandardUsersAreModelledFromVistaOn) {
  // UAC came with Windows Vista ("File System Redirector": "Windows Server
  // 2003 and Windows XP: UAC is not supported").
  for (WindowsVersion v : {WindowsVersion::Win98, WindowsVersion::NT4, WindowsVersion::XP, WindowsVersion::WinXP64}) {
    Machine m(v);
    EXPECT_THROW(m.SetUser(UserKind::StandardUser), winsim::UsageError);
  }
  for (WindowsVersion v : {WindowsVersion::Win7, WindowsVersion::Win10, WindowsVersion::Win11x64}) {
    Machine m(v);
    m.SetUser(UserKind::StandardUser);
    EXPECT_EQ(m.user(), UserKind::StandardUser);
  }
}

// ---- Files ("User Account Control for Game Developers": Program Files is
// read only and HKLM not writable for a standard user; "How User Account
// Control (UAC) Affects Your Application": the Windows directory is a
// protected area) ---------------------------------------------------------------------------------

TEST_F(StandardUserTest, ProgramFilesRefusesWrites) {
  EXPECT_EQ(MakeDir("C:\\Program Files (x86)\\VORTAN"), "error 5");
  EXPECT_EQ(MakeDir("C:\\Program Files\\VORTAN"), "error 5");
  EXPECT_EQ(MakeFile("C:\\Program Files (x86)\\Old\\readme.txt"), "error 5");
  EXPECT_EQ(Result(DeleteFileA("C:\\Program Files (x86)\\Old\\readme.txt")), "error 5");
  EXPECT_EQ(Result(SetFileAttributesA("C:\\Program Files (x86)\\Old\\readme.txt", FILE_ATTRIBUTE_NORMAL)), "error 5");
  EXPECT_EQ(Result(RemoveDirectoryA("C:\\Program Files (x86)\\Old")), "error 5");
  EXPECT_EQ(Result(CopyFileA("C:\\dist\\QXFTP.DLL", "C:\\Program Files (x86)\\QXFTP.DLL", FALSE)), "error 5");
  EXPECT_EQ(Last("CreateDirectory"), "C:\\Program Files\\VORTAN | 5");
  EXPECT_FALSE(m().Exists("C:\\Program Files (x86)\\VORTAN"));
}

TEST_F(StandardUserTest, ProgramFilesCanBeRead) {
  EXPECT_EQ(Attributes("C:\\Program Files (x86)\\Old\\readme.txt"), "ok");
  EXPECT_EQ(Find("C:\\Program Files (x86)\\Old\\*.txt"), std::vector<std::string>{"readme.txt"});
}

TEST_F(StandardUserTest, TheWindowsDirectoryRefusesWrites) {
  EXPECT_EQ(MakeFile("C:\\Windows\\VORTAN.INI"), "error 5");
  EXPECT_FALSE(WritePrivateProfileStringA("S", "K", "V", "C:\\Windows\\VORTAN.INI"));
  EXPECT_EQ(MakeDir("C:\\Windows\\System32\\VortanProbe"), "error 5") << "SysWOW64 is the Windows directory's too";
}

TEST_F(StandardUserTest, TheAllUsersStartMenuAndDesktopRefuseWrites) {
  EXPECT_EQ(MakeDir(m().ShellFolder(CSIDL_COMMON_PROGRAMS) + "\\VORTAN FTP"), "error 5");
  EXPECT_EQ(MakeFile(m().ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\VORTAN FTP.lnk"), "error 5");
  EXPECT_EQ(MakeFile(m().ShellFolder(CSIDL_COMMON_STARTMENU) + "\\x.lnk"), "error 5");
}

TEST_F(StandardUserTest, TheUsersOwnPlacesAndNewFoldersElsewhereAreWritable) {
  EXPECT_EQ(MakeDir(m().ShellFolder(CSIDL_PROGRAMS) + "\\VORTAN FTP"), "ok");
  EXPECT_EQ(MakeFile(m().ShellFolder(CSIDL_DESKTOPDIRECTORY) + "\\VORTAN FTP.lnk"), "ok");
  EXPECT_EQ(MakeDir("C:\\Users\\User\\Downloads\\FTP"), "ok");
  EXPECT_EQ(MakeDir("C:\\Apps"), "ok");
  EXPECT_EQ(MakeDir("D:\\Apps"), "ok");
}

TEST_F(StandardUserTest, AnotherUsersProfileRefusesReadsAndWrites) {
  // Its folder grants full control to SYSTEM, Administrators and its owner
  // only (third party: an icacls listing of a profile, pastebin.com/BngqwtJA).
  std::string other = m().ProfilesDir() + "\\Other";
  EXPECT_EQ(Attributes(other), "ok") << "the profiles directory lists it";
  EXPECT_EQ(Attributes(other + "\\Documents\\letter.txt"), "error 5");
  EXPECT_EQ(Find(other + "\\*"), std::vector<std::string>{"error 5"});
  EXPECT_EQ(MakeDir(other + "\\Documents\\FTP"), "error 5");
  EXPECT_EQ(MakeFile(other + "\\x.txt"), "error 5");
}

TEST_F(StandardUserTest, TheElevatedAdministratorMayDoAllOfIt) {
  Elevate();
  EXPECT_EQ(MakeDir("C:\\Program Files (x86)\\VORTAN"), "ok");
  EXPECT_EQ(MakeFile("C:\\Windows\\VORTAN.INI"), "ok");
  EXPECT_EQ(MakeDir(m().ShellFolder(CSIDL_COMMON_PROGRAMS) + "\\VORTAN FTP"), "ok");
  EXPECT_EQ(Attributes(m().ProfilesDir() + "\\Other\\Documents\\letter.txt"), "ok");
}

TEST_F(StandardUserTest, TheShellAndTheVersionInstallerMeetTheSameRefusal) {
  SHFILEOPSTRUCTA op{};
  op.wFunc = FO_COPY;
  op.pFrom = "C:\\dist\\QXFTP.DLL\0";
  op.pTo = "C:\\Program Files (x86)\\Old\0";
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
  EXPECT_EQ(SHFileOperationA(&op), ERROR_ACCESS_DENIED);
  HMODULE version = LoadLibraryA("version.dll");
  typedef DWORD(WINAPI * VerInstallFileA_fn)(DWORD, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPSTR, PUINT);
  auto install = reinterpret_cast<VerInstallFileA_fn>(reinterpret_cast<void (*)()>(GetProcAddress(version, "VerInstallFileA")));
  char tmp[MAX_PATH] = {};
  UINT tmpLen = MAX_PATH;
  EXPECT_EQ(install(0, "QXFTP.DLL", "QXFTP.DLL", "C:\\dist", "C:\\Program Files (x86)\\Old", "", tmp, &tmpLen),
            static_cast<DWORD>(VIF_CANNOTCREATE));
  FreeLibrary(version);
}

// ---- The registry ("write access is only granted to the HKEY_CURRENT_USER
// (HKCU) subtree"; HKEY_CLASSES_ROOT writes go to HKLM\Software\Classes,
// "HKEY_CLASSES_ROOT Key") --------------------------------------------------------------------------

TEST_F(StandardUserTest, HklmRefusesWritesAndAllAccessOpens) {
  EXPECT_EQ(CreateKey(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP"), "error 5");
  EXPECT_EQ(CreateKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VORTAN FTP"), "error 5");
  EXPECT_EQ(OpenKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft", KEY_ALL_ACCESS), "error 5");
  EXPECT_EQ(OpenKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft", KEY_READ), "ok");
  EXPECT_EQ(CreateKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft", KEY_READ), "ok") << "an existing key opens for reading";
  EXPECT_EQ(Last("RegCreateKey"), "HKEY_LOCAL_MACHINE | Software\\Microsoft | 0x20019 | 0x0 | opened | 0");
  EXPECT_FALSE(m().KeyExists(HKEY_LOCAL_MACHINE, "Software\\Wow6432Node\\VORTAN"));
}

TEST_F(StandardUserTest, ClassesRootWritesAreMachineWrites) {
  EXPECT_EQ(CreateKey(HKEY_CLASSES_ROOT, ".qft"), "error 5");
  EXPECT_EQ(CreateKey(HKEY_CURRENT_USER, "Software\\Classes\\.qft"), "ok");
  EXPECT_EQ(CreateKey(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VORTAN FTP"), "ok");
}

TEST_F(Win7StandardUserTest, The32BitEditionRefusesTheSame) {
  EXPECT_EQ(CreateKey(HKEY_LOCAL_MACHINE, "Software\\VORTAN"), "error 5");
  EXPECT_EQ(MakeDir("C:\\Program Files\\VORTAN"), "error 5");
  EXPECT_EQ(MakeDir("C:\\Windows\\VORTAN"), "error 5");
  EXPECT_EQ(MakeDir("C:\\Users\\User\\Documents\\FTP"), "ok");
}

// ---- Restart-time operations and the restart itself -------------------------------------------------

TEST_F(StandardUserTest, RestartTimeDeletionNeedsAnAdministrator) {
  // MoveFileExA: MOVEFILE_DELAY_UNTIL_REBOOT "can be used only if the
  // process is in the context of a user who belongs to the administrators
  // group or the LocalSystem account".
  m().WriteText("C:\\Users\\User\\AppData\\Local\\VORTAN\\UNINS.EXE", "x");
  EXPECT_EQ(Result(MoveFileExA("C:\\Users\\User\\AppData\\Local\\VORTAN\\UNINS.EXE", nullptr,
                               MOVEFILE_DELAY_UNTIL_REBOOT)),
            "error 5");
  EXPECT_EQ(Last("MoveFileEx"), "C:\\Users\\User\\AppData\\Local\\VORTAN\\UNINS.EXE |  | 0x4 | 5");
  EXPECT_TRUE(m().PendingRenames().empty());
  Elevate();
  EXPECT_EQ(Result(MoveFileExA("C:\\Users\\User\\AppData\\Local\\VORTAN\\UNINS.EXE", nullptr,
                               MOVEFILE_DELAY_UNTIL_REBOOT)),
            "ok");
  EXPECT_EQ(m().PendingRenames().size(), 1u);
}

TEST_F(StandardUserTest, AStandardUserMayStillRestartWindows) {
  // "Shut down the system" is granted to Users on workstations by default.
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  ASSERT_TRUE(LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &tp.Privileges[0].Luid));
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(token);
  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
  EXPECT_TRUE(m().restartRequested());
}

TEST_F(StandardUserTest, TheRestartReplaysAnAdministratorsSchedule) {
  // The session manager runs the list as the system, whatever the user.
  Elevate();
  m().WriteText("C:\\Program Files (x86)\\Old\\UNINS.EXE", "x");
  ASSERT_TRUE(MoveFileExA("C:\\Program Files (x86)\\Old\\UNINS.EXE", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
  m().SetUser(UserKind::StandardUser);
  m().Restart();
  EXPECT_FALSE(m().Exists("C:\\Program Files (x86)\\Old\\UNINS.EXE"));
}

// ---- Program Manager DDE without a server --------------------------------------------------------------

TEST_F(StandardUserTest, NoProgramManagerInADeploymentServicesSession) {
  // Services run in session 0 and cannot reach the user's desktop
  // ("Interactive Services"), so no shell answers DDE there: the fault
  // switch stands for it on every edition.
  m().faults.noProgmanService = true;
  DWORD inst = 0;
  ASSERT_EQ(DdeInitializeA(&inst, &NoCallback, APPCMD_CLIENTONLY, 0), static_cast<UINT>(DMLERR_NO_ERROR));
  HSZ service = DdeCreateStringHandleA(inst, "PROGMAN", CP_WINANSI);
  CONVCONTEXT cc = {};
  cc.cb = sizeof cc;
  EXPECT_EQ(DdeConnect(inst, service, service, &cc), nullptr);
  EXPECT_EQ(Last("DdeConnect"), "PROGMAN | PROGMAN | 0x400A");
  DdeFreeStringHandle(inst, service);
  DdeUninitialize(inst);
}

}  // namespace
