// Version information, system directories, module file names, processes,
// the shutdown privilege and the restart, strings and code pages.
#include <cstring>

#include "test_winsim_support.h"

namespace {

using namespace winsim_test;

class SystemTest : public WinsimTest {
 protected:
  // "major.minor.build platform" from GetVersionExA, or "error N".
  static std::string Version(DWORD size = sizeof(OSVERSIONINFOA)) {
    OSVERSIONINFOEXA v = {};
    v.dwOSVersionInfoSize = size;
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&v))) return "error " + std::to_string(GetLastError());
    return std::to_string(v.dwMajorVersion) + "." + std::to_string(v.dwMinorVersion) + "." +
           std::to_string(v.dwBuildNumber & 0xFFFF) + " " + std::to_string(v.dwPlatformId);
  }
  std::string Launch(const char* cmd, const char* dir) {
    STARTUPINFOA si;
    GetStartupInfoA(&si);
    PROCESS_INFORMATION pi = {};
    std::string line = cmd;
    BOOL ok = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, dir, &si, &pi);
    if (!ok) return Result(ok);
    WaitForInputIdle(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return m().processes().back().modulePath;
  }
  // The NT restart sequence of the uninstaller; "" when ExitWindowsEx succeeded.
  static std::string Reboot() {
    HANDLE token = nullptr;
    std::string r;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) r += "OpenProcessToken;";
    TOKEN_PRIVILEGES tp = {};
    LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &tp.Privileges[0].Luid);
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);
    if (GetLastError() != ERROR_SUCCESS) r += "AdjustTokenPrivileges;";
    if (!ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0)) r += "ExitWindowsEx;";
    if (token) CloseHandle(token);
    return r;
  }
};

TEST_F(SystemTest, EachVersionReportsItsNumbers) {
  const std::pair<WindowsVersion, const char*> cases[] = {
      {WindowsVersion::Win95, "4.0.950 1"},   {WindowsVersion::Win98, "4.10.1998 1"},
      {WindowsVersion::NT4, "4.0.1381 2"},    {WindowsVersion::Win2000, "5.0.2195 2"},
      {WindowsVersion::XP, "5.1.2600 2"},     {WindowsVersion::Win7, "6.1.7601 2"}};
  for (auto& [v, expected] : cases) {
    Use(v);
    EXPECT_EQ(Version(), expected);
  }
}

TEST_F(SystemTest, OnlyTheTwoRecordSizesAreAccepted) {
  EXPECT_EQ(Version(sizeof(OSVERSIONINFOEXA)), "5.1.2600 2");
  EXPECT_EQ(Version(100), "error 122");
  Use(WindowsVersion::Win98);
  EXPECT_EQ(Version(sizeof(OSVERSIONINFOEXA)), "error 122") << "the extended record is NT's";
}

TEST_F(SystemTest, DirectoriesFollowTheVersionAndTheBufferContract) {
  char buf[MAX_PATH];
  EXPECT_EQ(GetWindowsDirectoryA(buf, sizeof buf), 10u);
  EXPECT_STREQ(buf, "C:\\WINDOWS");
  EXPECT_EQ(GetWindowsDirectoryA(buf, 5), 11u) << "the size needed, NUL included";
  Use(WindowsVersion::Win98);
  GetSystemDirectoryA(buf, sizeof buf);
  EXPECT_STREQ(buf, "C:\\WINDOWS\\SYSTEM");
  GetTempPathA(sizeof buf, buf);
  EXPECT_STREQ(buf, "C:\\WINDOWS\\TEMP\\");
}

// "value" or "error N", with the length GetEnvironmentVariableA returned.
std::string Env(const char* name, DWORD size = MAX_PATH) {
  char buffer[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableA(name, buffer, size);
  if (n == 0) return "error " + std::to_string(GetLastError());
  if (n >= size) return "needs " + std::to_string(n);
  return std::string(buffer) + " (" + std::to_string(n) + ")";
}

TEST_F(SystemTest, EnvironmentHasTheProfileOnTheNtFamilyOnly) {
  EXPECT_EQ(Env("USERPROFILE"), "C:\\Documents and Settings\\User (30)");
  EXPECT_EQ(Env("userprofile", 10), "needs 31") << "the size with the NUL";
  EXPECT_EQ(Env("windir"), "C:\\WINDOWS (10)");
  EXPECT_EQ(Env("NO_SUCH_VARIABLE"), "error 203");
  Use(WindowsVersion::NT4);
  EXPECT_EQ(Env("USERPROFILE"), "C:\\WINNT\\Profiles\\User (22)");
  EXPECT_EQ(Env("SystemRoot"), "C:\\WINNT (8)");
  m().SetEnvironmentVariable("USERPROFILE", std::nullopt);
  EXPECT_EQ(Env("USERPROFILE"), "error 203");
  for (WindowsVersion nine : {WindowsVersion::Win95, WindowsVersion::Win98}) {
    Use(nine);
    EXPECT_EQ(Env("USERPROFILE"), "error 203");
    EXPECT_EQ(Env("windir"), "C:\\WINDOWS (10)");
  }
}

TEST_F(SystemTest, ComputerNameAndItsBufferContract) {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof(name);
  EXPECT_EQ(Result(GetComputerNameA(name, &size)), "ok");
  EXPECT_STREQ(name, "WINSIM");
  EXPECT_EQ(size, 6u);
  size = 3;
  EXPECT_EQ(Result(GetComputerNameA(name, &size)), "error 111");
  EXPECT_EQ(size, 7u) << "the size needed, with the NUL";
}

TEST_F(SystemTest, EveryVersionRecordsProgramFiles) {
  for (WindowsVersion v : {WindowsVersion::Win95, WindowsVersion::Win98, WindowsVersion::NT4,
                           WindowsVersion::Win2000, WindowsVersion::XP, WindowsVersion::Win7}) {
    Use(v);
    auto value = m().GetRegValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                                 "ProgramFilesDir");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value->Text(), "C:\\Program Files");
  }
}

TEST_F(SystemTest, GetModuleFileNameTruncatesAsEachVersionDoes) {
  m().SetProgramPath("D:\\DISK1\\Setup.exe");
  char buf[8];
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 5), 5u);
  EXPECT_EQ(std::string(buf, 6), "D:\\DI#") << "XP: five characters, no NUL";
  Use(WindowsVersion::Win7);
  m().SetProgramPath("D:\\DISK1\\Setup.exe");
  std::memset(buf, '#', sizeof buf);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buf, 5), 5u);
  EXPECT_EQ(std::string(buf, 6), std::string("D:\\D\0#", 6));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(SystemTest, ProcessesAreFoundByWindowsRules) {
  m().WriteText("C:\\Program Files\\VORTAN\\FTP\\QXFTP.EXE", "MZ");
  EXPECT_EQ(Launch("C:\\Program Files\\VORTAN\\FTP\\QXFTP.EXE", "C:\\Program Files\\VORTAN\\FTP"),
            "C:\\Program Files\\VORTAN\\FTP\\QXFTP.EXE")
      << "unquoted with blanks: prefixes are tried";
  EXPECT_EQ(Last("WaitForInputIdle"), "C:\\Program Files\\VORTAN\\FTP\\QXFTP.EXE | INFINITE");
  EXPECT_EQ(Launch("\"HH.EXE\" C:\\x\\qxftp.chm", nullptr), "C:\\WINDOWS\\HH.EXE") << "a bare name is searched";
  EXPECT_EQ(Launch("\"C:\\WINDOWS\\HH.EXE\" help.chm", nullptr), "C:\\WINDOWS\\HH.EXE");
  EXPECT_EQ(Launch("missing.exe", nullptr), "error 2");
  EXPECT_EQ(Launch("C:\\WINDOWS\\HH.EXE", "C:\\No Such Dir"), "error 267");
  EXPECT_EQ(Last("CreateProcess"), "NULL | C:\\WINDOWS\\HH.EXE | C:\\No Such Dir |  | 267");
  EXPECT_EQ(m().processes().size(), 3u);
  EXPECT_EQ(m().processes()[0].currentDirectory, "C:\\Program Files\\VORTAN\\FTP");
  EXPECT_EQ(m().outstanding().processHandles, 0);
}

TEST_F(SystemTest, ProcessCreationCanBeMadeToFail) {
  m().faults.createProcess = ERROR_ACCESS_DENIED;
  EXPECT_EQ(Launch("C:\\WINDOWS\\HH.EXE", nullptr), "error 5");
  EXPECT_TRUE(m().processes().empty());
}

TEST_F(SystemTest, RestartNeedsTheShutdownPrivilegeOnNt) {
  EXPECT_EQ(ExitWindowsEx(EWX_REBOOT, 0), FALSE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
  EXPECT_EQ(Reboot(), "");
  EXPECT_TRUE(m().restartRequested());
  EXPECT_EQ(Last("AdjustTokenPrivileges"), "0 | 19:0x2 | 1 | 0");
  EXPECT_EQ(Last("ExitWindowsEx"), "0x6 | 0x0 | 0");
}

TEST_F(SystemTest, APrivilegeNotAssignedSucceedsButSaysSo) {
  m().faults.privilegeNotAssigned = true;
  EXPECT_EQ(Reboot(), "AdjustTokenPrivileges;ExitWindowsEx;");
  EXPECT_FALSE(m().restartRequested());
}

TEST_F(SystemTest, EachPrivilegeStepCanFail) {
  m().faults.openProcessToken = ERROR_ACCESS_DENIED;
  EXPECT_EQ(Reboot(), "OpenProcessToken;AdjustTokenPrivileges;ExitWindowsEx;");
  m().faults.openProcessToken.reset();
  m().faults.exitWindowsEx = ERROR_SHUTDOWN_IN_PROGRESS;
  EXPECT_EQ(Reboot(), "ExitWindowsEx;");
  EXPECT_EQ(m().outstanding().tokenHandles, 0);
}

TEST_F(SystemTest, Windows9xRestartsWithoutPrivileges) {
  Use(WindowsVersion::Win98);
  EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 4));
  EXPECT_TRUE(m().restartRequested());
  HANDLE token;
  EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
}

TEST_F(SystemTest, RestartForgetsProgmansActiveGroup) {
  m().progman().activeGroup = "VORTAN FTP";
  m().Restart();
  EXPECT_EQ(m().progman().activeGroup, "");
}

TEST_F(SystemTest, StringHelpersAreBounded) {
  char buf[6];
  std::memset(buf, '#', sizeof buf);
  lstrcpynA(buf, "VORTAN FTP", 5);
  EXPECT_EQ(std::string(buf, 6), std::string("VORT\0#", 6));
  EXPECT_EQ(lstrcmpiA("Vortan Ftp", "VORTAN FTP"), 0);
  EXPECT_LT(lstrcmpiA("a", "B"), 0);
  EXPECT_EQ(lstrlenA(nullptr), 0);
}

TEST_F(SystemTest, AnsiToWideUsesCodePage1252) {
  wchar_t w[8];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x80\xE9x", -1, w, 8), 4);
  EXPECT_EQ(w[0], 0x20AC) << "the euro sign";
  EXPECT_EQ(w[1], 0xE9);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, w, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
}

TEST_F(SystemTest, SleepOnlyAdvancesTheClock) {
  DWORD before = GetTickCount();
  Sleep(10000);
  EXPECT_EQ(GetTickCount() - before, 10000u);
}

TEST_F(SystemTest, TemporaryFilesAreCreatedUniquely) {
  Use(WindowsVersion::Win98);
  char a[MAX_PATH], b[MAX_PATH];
  ASSERT_NE(GetTempFileNameA("C:\\WINDOWS\\TEMP", "sla", 0, a), 0u);
  ASSERT_NE(GetTempFileNameA("C:\\WINDOWS\\TEMP", "sla", 0, b), 0u);
  EXPECT_STRNE(a, b);
  EXPECT_TRUE(m().Exists(a));
  EXPECT_EQ(std::string(a).substr(0, 19), "C:\\WINDOWS\\TEMP\\sla");
}

}  // namespace
