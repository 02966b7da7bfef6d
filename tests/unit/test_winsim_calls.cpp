// winsim's general call fault: the program's calls are counted, and the one
// chosen (the n-th of the run, or the n-th of one function) fails with a
// failure that function really has, named in the journal.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "test_winsim_support.h"

namespace {

using namespace winsim_test;

typedef DWORD(WINAPI* VerInstallFileA_fn)(DWORD, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPSTR, PUINT);

HDDEDATA CALLBACK NoCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }

class CallsTest : public WinsimTest {
 protected:
  void Fail(const std::string& function, uint64_t nth, size_t kind = 0) {
    m().faults.failCall = winsim::Faults::CallFailure{function, nth, kind};
  }
  std::vector<std::string> FailedCalls() const {
    std::vector<std::string> lines;
    for (auto& e : m().journal().OfKind("FailedCall")) {
      std::string line;
      for (size_t i = 0; i < e.fields.size(); ++i) line += (i ? " | " : "") + e.fields[i];
      lines.push_back(line);
    }
    return lines;
  }
  static std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
  }
};

TEST_F(CallsTest, OnlyTheProgramsCallsOfFunctionsThatCanFailAreCounted) {
  m().WriteText("C:\\a.txt", "a");
  HANDLE h = CreateFileA("C:\\a.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  char buf[4];
  DWORD got = 0;
  ReadFile(h, buf, sizeof buf, &got, nullptr);
  CloseHandle(h);          // cannot fail for an outside cause: not counted
  GetLastError();
  MoveFileA("C:\\a.txt", "C:\\b.txt");  // counted once, as the MoveFileExA it is
  EXPECT_EQ(m().calls(), (std::vector<std::string>{"CreateFileA", "ReadFile", "MoveFileExA"}));
  EXPECT_TRUE(FailedCalls().empty());
}

TEST_F(CallsTest, TheNthCallOfTheRunFailsWithTheChosenKind) {
  m().WriteText("C:\\a.txt", "a");
  m().WriteText("C:\\b.txt", "b");
  Fail("", 2, 1);
  EXPECT_EQ(Result(DeleteFileA("C:\\a.txt")), "ok");
  EXPECT_EQ(Result(DeleteFileA("C:\\b.txt")), "error 32") << "kind 1 of DeleteFileA: ERROR_SHARING_VIOLATION";
  EXPECT_TRUE(m().Exists("C:\\b.txt")) << "a failed call changes nothing";
  EXPECT_EQ(FailedCalls(), (std::vector<std::string>{"DeleteFileA | 2 | ERROR_SHARING_VIOLATION | C:\\b.txt"}));
  EXPECT_EQ(Result(DeleteFileA("C:\\b.txt")), "ok") << "only that one call fails";
}

TEST_F(CallsTest, TheNthCallOfOneFunctionFailsAndOtherFunctionsDoNotCount) {
  m().WriteText("C:\\a.txt", "a");
  Fail("CreateDirectoryA", 2);
  EXPECT_EQ(Result(CreateDirectoryA("C:\\One", nullptr)), "ok");
  EXPECT_NE(GetFileAttributesA("C:\\a.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(Result(CreateDirectoryA("C:\\Two", nullptr)), "error 5");
  EXPECT_FALSE(m().Exists("C:\\Two"));
  EXPECT_EQ(FailedCalls(), (std::vector<std::string>{"CreateDirectoryA | 3 | ERROR_ACCESS_DENIED | C:\\Two"}))
      << "the journal gives the call's place in the whole run";
}

TEST_F(CallsTest, AKindBeyondTheListWrapsAround) {
  size_t kinds = Machine::FailureKinds("CreateFileA").size();
  ASSERT_EQ(kinds, 4u);
  Fail("CreateFileA", 1, kinds + 3);
  EXPECT_EQ(CreateFileA("C:\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_FALSE(m().Exists("C:\\new.txt"));
}

TEST_F(CallsTest, RegistryCallsReturnTheirError) {
  m().SetRegString(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP", "Installation Directory", "C:\\Apps");
  HKEY key = nullptr;
  Fail("RegOpenKeyExA", 1, 1);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP", 0, KEY_READ, &key), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  Fail("RegSetValueExA", 1);
  EXPECT_EQ(RegSetValueExA(key, "X", 0, REG_SZ, reinterpret_cast<const BYTE*>("v"), 2), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(m().GetRegValue(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP", "X").has_value());
  RegCloseKey(key);
}

TEST_F(CallsTest, TheVersionInstallerReportsEachOfItsFailures) {
  m().WriteText("C:\\src\\A.TXT", "a");
  m().MakeDirs("C:\\dst");
  HMODULE version = LoadLibraryA("version.dll");
  auto install = reinterpret_cast<VerInstallFileA_fn>(
      reinterpret_cast<void (*)()>(GetProcAddress(version, "VerInstallFileA")));
  ASSERT_NE(install, nullptr);
  std::vector<std::string> kinds = Machine::FailureKinds("VerInstallFileA");
  EXPECT_EQ(kinds, (std::vector<std::string>{"VIF_CANNOTREADSRC", "VIF_WRITEPROT", "VIF_FILEINUSE", "VIF_OUTOFSPACE",
                                             "VIF_ACCESSVIOLATION", "VIF_CANNOTREADDST"}));
  const DWORD expected[] = {VIF_CANNOTREADSRC,   VIF_WRITEPROT,       VIF_FILEINUSE,
                            VIF_OUTOFSPACE,      VIF_ACCESSVIOLATION, VIF_CANNOTREADDST};
  for (size_t kind = 0; kind < kinds.size(); ++kind) {
    Fail("VerInstallFileA", kind + 1, kind);
    char tmp[MAX_PATH] = "";
    UINT tmpLen = sizeof tmp;
    EXPECT_EQ(install(0, "A.TXT", "A.TXT", "C:\\src", "C:\\dst", "C:\\dst", tmp, &tmpLen), expected[kind]) << kinds[kind];
    EXPECT_FALSE(m().Exists("C:\\dst\\A.TXT")) << kinds[kind];
  }
  FreeLibrary(version);
}

TEST_F(CallsTest, DdeTimeOutWaitsAndNamesItselfAndAConnectionCanBeRefused) {
  DWORD inst = 0;
  ASSERT_EQ(DdeInitializeA(&inst, &NoCallback, APPCMD_CLIENTONLY, 0), static_cast<UINT>(DMLERR_NO_ERROR));
  HSZ progman = DdeCreateStringHandleA(inst, "PROGMAN", CP_WINANSI);
  Fail("DdeConnect", 1);
  EXPECT_EQ(DdeConnect(inst, progman, progman, nullptr), nullptr);
  EXPECT_EQ(Hex(DdeGetLastError(inst)), Hex(DMLERR_NO_CONV_ESTABLISHED));
  HCONV conv = DdeConnect(inst, progman, progman, nullptr);
  ASSERT_NE(conv, nullptr);
  Fail("DdeClientTransaction", 1, 0);
  DWORD ticks = GetTickCount();
  char command[] = "[CreateGroup(X)]";
  EXPECT_EQ(DdeClientTransaction(reinterpret_cast<LPBYTE>(command), sizeof command, conv, nullptr, 0, XTYP_EXECUTE,
                                 5000, nullptr),
            nullptr);
  EXPECT_EQ(Hex(DdeGetLastError(inst)), Hex(DMLERR_EXECACKTIMEOUT));
  EXPECT_EQ(GetTickCount() - ticks, 5000u) << "the whole time-out passed";
  EXPECT_EQ(m().progman().FindGroup("X"), nullptr);
  DdeDisconnect(conv);
  DdeFreeStringHandle(inst, progman);
  DdeUninitialize(inst);
  EXPECT_TRUE(m().outstanding().Clean()) << m().outstanding().Describe();
}

TEST_F(CallsTest, ComCallsGiveTheirHresult) {
  Fail("CoCreateInstance", 1, 0);
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  IShellLinkA* link = nullptr;
  EXPECT_EQ(Hex(static_cast<uint32_t>(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                                       reinterpret_cast<void**>(&link)))),
            Hex(static_cast<uint32_t>(E_OUTOFMEMORY)));
  EXPECT_EQ(link, nullptr);
  Fail("IPersistFile::Save", 1, 1);
  ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                             reinterpret_cast<void**>(&link)),
            S_OK);
  IPersistFile* file = nullptr;
  ASSERT_EQ(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)), S_OK);
  link->SetPath("C:\\x.exe");
  EXPECT_EQ(Hex(static_cast<uint32_t>(file->Save(L"C:\\x.lnk", TRUE))), Hex(static_cast<uint32_t>(E_ACCESSDENIED)));
  EXPECT_FALSE(m().Exists("C:\\x.lnk"));
  file->Release();
  link->Release();
  CoUninitialize();
  EXPECT_EQ(m().calls(), (std::vector<std::string>{"CoInitializeEx", "CoCreateInstance", "CoCreateInstance",
                                                   "IShellLinkA::QueryInterface", "IShellLinkA::SetPath",
                                                   "IPersistFile::Save"}));
}

TEST_F(CallsTest, EnvironmentCallsFailAsALongPathOrAMissingVariableMakesThem) {
  char buffer[MAX_PATH + 1] = {};
  Fail("GetEnvironmentVariableA", 1);
  EXPECT_EQ(GetEnvironmentVariableA("USERPROFILE", buffer, MAX_PATH), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));

  Fail("GetTempPathA", 1);
  std::memset(buffer, '?', 4);
  EXPECT_GT(GetTempPathA(MAX_PATH, buffer), static_cast<DWORD>(MAX_PATH)) << "the length it would need";
  EXPECT_EQ(buffer[0], '?') << "the buffer is untouched";

  // Windows XP fills the whole buffer and terminates nothing; Vista and
  // later cut one character short and say why.
  Fail("GetModuleFileNameA", 1);
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, MAX_PATH), static_cast<DWORD>(MAX_PATH));
  EXPECT_EQ(std::strlen(buffer), static_cast<size_t>(MAX_PATH));
  Use(WindowsVersion::Win7);
  Fail("GetModuleFileNameA", 1);
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, MAX_PATH), static_cast<DWORD>(MAX_PATH));
  EXPECT_EQ(std::strlen(buffer), static_cast<size_t>(MAX_PATH - 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(CallsTest, EveryListedFunctionHasAtLeastOneFailure) {
  auto functions = Machine::FailingFunctions();
  EXPECT_GE(functions.size(), 60u);
  for (const std::string& f : functions) EXPECT_FALSE(Machine::FailureKinds(f).empty()) << f;
  EXPECT_TRUE(Machine::FailureKinds("lstrlenA").empty());
}

}  // namespace
