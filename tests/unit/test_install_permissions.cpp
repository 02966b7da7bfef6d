// The permissions of a per-machine installation directory the installation
// makes outside Program Files on the NT family: those of Program Files
// (Administrators and SYSTEM full control, Users read and execute, passed
// on to what the directory holds, nothing inherited from its parent).
// Everything else keeps the permissions it had, and a refusal anywhere on
// the way changes nothing the user sees. The second half holds winsim's
// security functions to the layouts the program relies on.
#include "fixture.h"

#include <map>
#include <set>

namespace {

using namespace fixture;
using winsim::AccessEntry;
using winsim::FileSecurity;

constexpr BYTE kPassedOn = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
constexpr DWORD kReadExecute = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;

std::vector<AccessEntry> ProgramFilesAces(BYTE flags = kPassedOn) {
  return {{"S-1-5-32-544", ACCESS_ALLOWED_ACE_TYPE, flags, FILE_ALL_ACCESS},
          {"S-1-5-18", ACCESS_ALLOWED_ACE_TYPE, flags, FILE_ALL_ACCESS},
          {"S-1-5-32-545", ACCESS_ALLOWED_ACE_TYPE, flags, kReadExecute}};
}

std::string Describe(const std::optional<FileSecurity>& security) {
  if (!security) return "no descriptor";
  std::string text = "control " + std::to_string(security->control) + ":";
  for (const AccessEntry& e : security->dacl)
    text += " " + e.sid + "/" + std::to_string(e.type) + "/" + std::to_string(e.flags) + "/" + std::to_string(e.mask);
  return text;
}

// The names the program looks up for its descriptor.
const std::set<std::string> kSecurityNames = {"InitializeSid",
                                              "GetSidSubAuthority",
                                              "InitializeAcl",
                                              "AddAccessAllowedAce",
                                              "GetAce",
                                              "InitializeSecurityDescriptor",
                                              "SetSecurityDescriptorDacl",
                                              "SetSecurityDescriptorControl",
                                              "SetFileSecurityA"};

class PermissionsTest : public SetupTest {
 protected:
  void Install(const std::string& dir, const std::string& extraSetup = "") {
    WriteIni(QuietIni(dir, extraSetup));
    RunSetup();
  }
  void ExpectSucceededSilently(const std::string& where) {
    EXPECT_EQ(setupState.installSucceeded, 1) << where << "\n" << m().journal().Dump();
    EXPECT_EQ(m().journal().Count("MessageBox"), 0u) << where;
  }
  void ExpectProgramFilesPermissions(const std::string& dir, bool protectedDacl) {
    auto security = m().Security(dir);
    ASSERT_TRUE(security) << dir;
    EXPECT_TRUE(security->daclPresent);
    EXPECT_EQ(security->dacl, ProgramFilesAces()) << Describe(security);
    EXPECT_EQ((security->control & SE_DACL_PROTECTED) != 0, protectedDacl) << Describe(security);
  }
  void ExpectUntouched(const std::string& dir) {
    EXPECT_FALSE(m().Security(dir)) << dir << ": " << Describe(m().Security(dir));
    EXPECT_EQ(m().journal().Count("SetFileSecurity"), 0u) << m().journal().Dump();
  }
  // The lookups of the security functions, by name.
  std::vector<std::string> SecurityLookups() const {
    std::vector<std::string> names;
    for (const auto& e : m().journal().OfKind("GetProcAddress"))
      if (kSecurityNames.count(e.fields.at(1))) names.push_back(e.fields.at(1));
    return names;
  }
};

// ---- Where the permissions are set --------------------------------------------------------------

TEST_F(PermissionsTest, OutsideProgramFilesOnXpTheDirectoryGetsTheProgramFilesDaclProtected) {
  FreshMachine(WindowsVersion::XP);
  const std::string dir = "D:\\Apps\\VORTAN FTP";
  Install(dir);
  ExpectSucceededSilently("XP");
  ExpectProgramFilesPermissions(dir, true);
  auto sets = Events("SetFileSecurity");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].rfind(dir + "|0x4|", 0), 0u) << sets[0];
  EXPECT_EQ(sets[0].substr(sets[0].size() - 2), "|0") << sets[0];
  // Only the installation directory: the parent made on the way and the
  // working directory (My Documents\FTP) keep what they had.
  EXPECT_FALSE(m().Security("D:\\Apps"));
  EXPECT_FALSE(m().Security(m().ShellFolder(CSIDL_PERSONAL) + "\\FTP"));
}

TEST_F(PermissionsTest, FilesAndFoldersMadeInsideInheritEveryEntry) {
  FreshMachine(WindowsVersion::XP);
  const std::string dir = "D:\\Apps\\VORTAN FTP";
  Install(dir);
  ExpectSucceededSilently("XP");
  for (const char* file : {"\\QXFTP.EXE", "\\UNINS.EXE", "\\QXFTP.DLL", "\\Certs\\cert.pem"}) {
    auto security = m().Security(dir + file);
    ASSERT_TRUE(security) << file;
    EXPECT_EQ(security->dacl, ProgramFilesAces(INHERITED_ACE)) << file << ": " << Describe(security);
    EXPECT_EQ(security->control & SE_DACL_PROTECTED, 0) << file;
  }
  for (const char* folder : {"\\Config", "\\Transfer", "\\Traces", "\\Certs", "\\Docs"}) {
    auto security = m().Security(dir + folder);
    ASSERT_TRUE(security) << folder;
    EXPECT_EQ(security->dacl, ProgramFilesAces(kPassedOn | INHERITED_ACE)) << folder << ": " << Describe(security);
  }
}

TEST_F(PermissionsTest, OutsideProgramFilesOn64BitWindows10TheDirectoryIsProtected) {
  FreshMachine(WindowsVersion::Win10x64);
  const std::string dir = "C:\\Tools\\FTP";
  Install(dir);
  ExpectSucceededSilently("10 x64");
  ExpectProgramFilesPermissions(dir, true);
  EXPECT_EQ(m().Security(dir + "\\QXFTP.EXE")->dacl, ProgramFilesAces(INHERITED_ACE));
}

TEST_F(PermissionsTest, OnNt4TheDaclIsSetWithoutProtectionWhichNt4DoesNotKnow) {
  FreshMachine(WindowsVersion::NT4);
  const std::string dir = "D:\\Apps\\FTP";
  Install(dir);
  ExpectSucceededSilently("NT 4.0");
  ExpectProgramFilesPermissions(dir, false);
  // NT 4.0 has no SetSecurityDescriptorControl; its inherited ACEs carry
  // no INHERITED_ACE flag, which came with Windows 2000.
  int lookup = m().journal().IndexWhere([](const winsim::Event& e) {
    return e.kind == "GetProcAddress" && e.fields.size() > 2 && e.fields[1] == "SetSecurityDescriptorControl";
  });
  ASSERT_GE(lookup, 0) << m().journal().Dump();
  EXPECT_EQ(m().journal().events()[static_cast<size_t>(lookup)].fields[2], std::to_string(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(m().Security(dir + "\\QXFTP.EXE")->dacl, ProgramFilesAces(0));
}

TEST_F(PermissionsTest, ADestinationWithATrailingBackslashIsTheDirectoryMade) {
  FreshMachine(WindowsVersion::XP);
  m().MakeDirs("D:\\Apps");
  Install("D:\\Apps\\FTP\\");
  ExpectSucceededSilently("trailing backslash");
  ExpectProgramFilesPermissions("D:\\Apps\\FTP", true);
  EXPECT_FALSE(m().Security("D:\\Apps"));
}

TEST_F(PermissionsTest, OnWindows2000TheDaclIsProtected) {
  FreshMachine(WindowsVersion::Win2000);
  Install("D:\\Apps\\FTP");
  ExpectSucceededSilently("2000");
  ExpectProgramFilesPermissions("D:\\Apps\\FTP", true);
}

// ---- Where nothing is set ---------------------------------------------------------------------------

TEST_F(PermissionsTest, InsideProgramFilesNothingIsSet) {
  for (auto version : {WindowsVersion::XP, WindowsVersion::NT4, WindowsVersion::Win7}) {
    FreshMachine(version);
    Install("C:\\Program Files\\VORTAN\\FTP");
    ExpectSucceededSilently("Program Files");
    ExpectUntouched("C:\\Program Files\\VORTAN\\FTP");
    ExpectUntouched("C:\\Program Files\\VORTAN");
  }
}

TEST_F(PermissionsTest, InsideEitherProgramFilesOf64BitWindowsNothingIsSet) {
  // 7 and later name the 64-bit folder in ProgramW6432; XP x64 only in the
  // 64-bit view of the registry.
  for (auto version : {WindowsVersion::Win10x64, WindowsVersion::Win7x64, WindowsVersion::WinXP64}) {
    for (const char* dir : {"C:\\Program Files (x86)\\VORTAN\\FTP", "C:\\Program Files\\VORTAN\\FTP",
                            "c:\\PROGRA~1\\VORTAN\\FTP"}) {
      FreshMachine(version);
      Install(dir);
      ExpectSucceededSilently(dir);
      ExpectUntouched(dir);
    }
  }
}

TEST_F(PermissionsTest, ADirectoryThatWasThereAlreadyIsLeftAsItWas) {
  FreshMachine(WindowsVersion::XP);
  m().MakeDirs("D:\\Apps\\FTP");
  m().WriteText("D:\\Apps\\FTP\\mine.txt", "the user's");
  Install("D:\\Apps\\FTP");
  ExpectSucceededSilently("existing");
  ExpectUntouched("D:\\Apps\\FTP");
  EXPECT_TRUE(SecurityLookups().empty()) << m().journal().Dump();
}

TEST_F(PermissionsTest, AnInstallationOverAPreviousOneLeavesItsDirectoryAsItIs) {
  FreshMachine(WindowsVersion::XP);
  Install("D:\\Apps\\FTP");
  ExpectSucceededSilently("first");
  ResetSetupState();
  m().journal().Clear();
  Install("D:\\Apps\\FTP");
  ExpectSucceededSilently("second");
  EXPECT_EQ(m().journal().Count("SetFileSecurity"), 0u);
  ExpectProgramFilesPermissions("D:\\Apps\\FTP", true);
}

TEST_F(PermissionsTest, OnWindows9xNothingIsLookedUpOrSet) {
  for (auto version : {WindowsVersion::Win95, WindowsVersion::Win98}) {
    FreshMachine(version);
    Install("D:\\Apps\\FTP");
    ExpectSucceededSilently("9x");
    ExpectUntouched("D:\\Apps\\FTP");
    EXPECT_TRUE(SecurityLookups().empty()) << m().journal().Dump();
  }
}

TEST_F(PermissionsTest, APerUserInstallationIsLeftAsItIs) {
  FreshMachine(WindowsVersion::XP);
  Install("D:\\Apps\\FTP", "BaseRegistry=2\r\n");
  ExpectSucceededSilently("per user");
  ExpectUntouched("D:\\Apps\\FTP");
  EXPECT_TRUE(SecurityLookups().empty());
}

TEST_F(PermissionsTest, WithTheFinalBoxShownItIsTheOnlyBox) {
  // Without the [Program Group] keys the final box shows: nothing is added
  // to it.
  FreshMachine(WindowsVersion::Win7);
  WriteIni("[FTPSetup]\r\nQuietModeInstall=Y\r\nDestinationDir=D:\\FTP\r\n");
  RunSetup();
  EXPECT_EQ(setupState.installSucceeded, 1);
  EXPECT_EQ(BoxCaptions(), std::vector<std::string>{"VORTAN FTP Install"});
  ExpectProgramFilesPermissions("D:\\FTP", true);
}

// ---- Refusals ----------------------------------------------------------------------------------------

// Every call on the way failing in turn, with each of its failures: the
// installation still succeeds without a box, and the directory has either
// the whole DACL or none (never one missing an entry). Only a refused
// protection still lets the DACL go on.
TEST_F(PermissionsTest, EachCallFailingLeavesTheInstallationSilentAndNoPartialDacl) {
  const std::string dir = "D:\\Apps\\FTP";
  for (auto version : {WindowsVersion::XP, WindowsVersion::NT4}) {
    FreshMachine(version);
    Install(dir);
    ASSERT_EQ(m().journal().Count("SetFileSecurity"), 1u);
    // The ordinals of the calls to fail: each of the security functions',
    // and the lookups of their names among all GetProcAddress calls.
    std::map<std::string, uint64_t> counts;
    for (const std::string& call : m().calls())
      if (kSecurityNames.count(call)) ++counts[call];
    ASSERT_GE(counts["SetFileSecurityA"], 1u);
    ASSERT_EQ(counts["AddAccessAllowedAce"], 3u);
    std::vector<std::pair<std::string, uint64_t>> failures;
    for (auto& [name, count] : counts)
      for (uint64_t nth = 1; nth <= count; ++nth) failures.push_back({name, nth});
    uint64_t lookup = 0;
    for (const auto& e : m().journal().OfKind("GetProcAddress")) {
      ++lookup;
      if (kSecurityNames.count(e.fields.at(1))) failures.push_back({"GetProcAddress", lookup});
    }
    ASSERT_GE(failures.size(), 20u);
    for (auto& [function, nth] : failures) {
      for (size_t kind = 0; kind < Machine::FailureKinds(function).size(); ++kind) {
        FreshMachine(version);
        m().faults.failCall = winsim::Faults::CallFailure{function, nth, kind};
        Install(dir);
        std::string where = function + " #" + std::to_string(nth) + " failing (" +
                            Machine::FailureKinds(function)[kind] + ")";
        EXPECT_EQ(m().journal().Count("FailedCall"), 1u) << where;
        ExpectSucceededSilently(where);
        // Only a refused protection (the function failing, or its lookup)
        // still lets the DACL go on, unprotected.
        bool protectionRefused =
            function == "SetSecurityDescriptorControl" || m().journal().IndexWhere([](const winsim::Event& e) {
              return e.kind == "FailedCall" && e.fields.size() > 3 && e.fields[3] == "SetSecurityDescriptorControl";
            }) >= 0;
        auto security = m().Security(dir);
        EXPECT_EQ(security.has_value(), protectionRefused) << where << ": " << Describe(security);
        if (security) {
          EXPECT_EQ(security->dacl, ProgramFilesAces()) << where;
          EXPECT_EQ(security->control & SE_DACL_PROTECTED, 0) << where;
        }
        EXPECT_TRUE(m().Exists(dir + "\\QXFTP.EXE")) << where;
      }
    }
  }
}

// ---- winsim's security functions ---------------------------------------------------------------------

typedef BOOL(WINAPI* GetFileSecurityA_fn)(LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR, DWORD, LPDWORD);
typedef BOOL(WINAPI* GetSecurityDescriptorDacl_fn)(PSECURITY_DESCRIPTOR, LPBOOL, PACL*, LPBOOL);
typedef BOOL(WINAPI* GetAce_fn)(PACL, DWORD, LPVOID*);

template <typename Fn>
Fn Advapi(const char* name) {
  return GetLibraryFunction<Fn>(GetModuleHandleA("advapi32.dll"), name);
}

TEST_F(PermissionsTest, GetFileSecurityGivesTheSelfRelativeLayout) {
  FreshMachine(WindowsVersion::XP);
  Install("D:\\Apps\\FTP");
  auto getFileSecurity = Advapi<GetFileSecurityA_fn>("GetFileSecurityA");
  ASSERT_NE(getFileSecurity, nullptr);
  DWORD needed = 0;
  uint8_t small[8] = {};
  EXPECT_FALSE(getFileSecurity("D:\\Apps\\FTP", DACL_SECURITY_INFORMATION, small, sizeof(small), &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  // Header (20), ACL header (8), three ACEs of 8 bytes and SIDs of 16, 12, 16.
  ASSERT_EQ(needed, 20u + 8u + 24u + 20u + 24u);
  std::vector<uint8_t> sd(needed);
  ASSERT_TRUE(getFileSecurity("D:\\Apps\\FTP", DACL_SECURITY_INFORMATION, sd.data(), needed, &needed));
  EXPECT_EQ(sd[0], SECURITY_DESCRIPTOR_REVISION);
  WORD control = static_cast<WORD>(sd[2] | (sd[3] << 8));
  EXPECT_EQ(control, SE_SELF_RELATIVE | SE_DACL_PRESENT | SE_DACL_PROTECTED);
  auto dword = [&](size_t at) {
    return DWORD(sd[at]) | DWORD(sd[at + 1]) << 8 | DWORD(sd[at + 2]) << 16 | DWORD(sd[at + 3]) << 24;
  };
  EXPECT_EQ(dword(4), 0u);  // no owner asked for
  EXPECT_EQ(dword(8), 0u);
  EXPECT_EQ(dword(12), 0u);
  ASSERT_EQ(dword(16), 20u);
  const uint8_t* acl = sd.data() + 20;
  EXPECT_EQ(acl[0], ACL_REVISION);
  EXPECT_EQ(acl[2] | (acl[3] << 8), 8 + 24 + 20 + 24);
  EXPECT_EQ(acl[4] | (acl[5] << 8), 3);
  const std::vector<uint8_t> firstAce = {ACCESS_ALLOWED_ACE_TYPE, kPassedOn, 24, 0, 0xFF, 0x01, 0x1F, 0x00,
                                         1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(acl + 8, acl + 32), firstAce);

  // The same through the descriptor functions.
  BOOL present = FALSE, defaulted = TRUE;
  PACL dacl = nullptr;
  auto getDacl = Advapi<GetSecurityDescriptorDacl_fn>("GetSecurityDescriptorDacl");
  ASSERT_TRUE(getDacl(sd.data(), &present, &dacl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_FALSE(defaulted);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(dacl), sd.data() + 20);
  LPVOID ace = nullptr;
  ASSERT_TRUE(Advapi<GetAce_fn>("GetAce")(dacl, 2, &ace));
  EXPECT_EQ(static_cast<ACCESS_ALLOWED_ACE*>(ace)->Mask, kReadExecute);
  EXPECT_FALSE(Advapi<GetAce_fn>("GetAce")(dacl, 3, &ace));

  auto gets = Events("GetFileSecurity");
  ASSERT_EQ(gets.size(), 2u);
  EXPECT_EQ(gets[0], "D:\\Apps\\FTP|0x4|8|" + std::to_string(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(PermissionsTest, AnEntryNobodyGaveADescriptorAnswersWithoutADacl) {
  FreshMachine(WindowsVersion::Win7);
  m().MakeDirs("D:\\Plain");
  auto getFileSecurity = Advapi<GetFileSecurityA_fn>("GetFileSecurityA");
  ASSERT_NE(getFileSecurity, nullptr);
  uint8_t sd[64] = {};
  DWORD needed = 0;
  ASSERT_TRUE(getFileSecurity("D:\\Plain", DACL_SECURITY_INFORMATION, sd, sizeof(sd), &needed));
  EXPECT_EQ(needed, 20u);
  EXPECT_EQ(sd[2] | (sd[3] << 8), SE_SELF_RELATIVE);
  EXPECT_FALSE(getFileSecurity("D:\\Missing", DACL_SECURITY_INFORMATION, sd, sizeof(sd), &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(PermissionsTest, TheFunctionsAreExportedWhereTheEditionHasThem) {
  struct Case {
    WindowsVersion version;
    bool any, from2000;
  };
  for (const Case& c : {Case{WindowsVersion::Win95, false, false}, Case{WindowsVersion::Win98, false, false},
                        Case{WindowsVersion::NT4, true, false}, Case{WindowsVersion::Win2000, true, true},
                        Case{WindowsVersion::XP, true, true}, Case{WindowsVersion::Win11x64, true, true}}) {
    FreshMachine(c.version);
    for (const char* name : {"SetFileSecurityA", "GetFileSecurityA", "InitializeSid", "InitializeAcl",
                             "AddAccessAllowedAce", "GetAce", "SetSecurityDescriptorDacl"})
      EXPECT_EQ(Advapi<FARPROC>(name) != nullptr, c.any) << name;
    for (const char* name : {"SetSecurityDescriptorControl", "AddAccessAllowedAceEx"})
      EXPECT_EQ(Advapi<FARPROC>(name) != nullptr, c.from2000) << name;
  }
}

TEST_F(PermissionsTest, AStandardUserMayNotChangeADescriptorInProgramFiles) {
  FreshMachine(WindowsVersion::Win10x64);
  m().MakeDirs("C:\\Program Files\\Other");
  m().SetUser(winsim::UserKind::StandardUser);
  typedef BOOL(WINAPI * SetFileSecurityA_fn)(LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);
  typedef BOOL(WINAPI * InitializeSecurityDescriptor_fn)(PSECURITY_DESCRIPTOR, DWORD);
  SECURITY_DESCRIPTOR sd = {};
  auto initialize = Advapi<InitializeSecurityDescriptor_fn>("InitializeSecurityDescriptor");
  auto setFileSecurity = Advapi<SetFileSecurityA_fn>("SetFileSecurityA");
  ASSERT_TRUE(initialize(&sd, SECURITY_DESCRIPTOR_REVISION));
  EXPECT_FALSE(setFileSecurity("C:\\Program Files\\Other", DACL_SECURITY_INFORMATION, &sd));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(m().Security("C:\\Program Files\\Other"));
}

}  // namespace
