// The registry as the setup program uses it: exact sizes, ERROR_MORE_DATA,
// access per handle, HKEY_CLASSES_ROOT as a view of HKLM, denied writes,
// and NT's refusal to delete keys that have subkeys.
#include <cstring>

#include "test_winsim_support.h"

namespace {

using namespace winsim_test;

constexpr const char* kKey = "Software\\VORTAN\\FTP";

class RegistryTest : public WinsimTest {
 protected:
  // Opens or creates a key; the handle is closed at the end of the test.
  HKEY Create(HKEY hive, const char* key, REGSAM access = KEY_ALL_ACCESS) {
    HKEY h = nullptr;
    DWORD disposition = 0;
    LONG r = RegCreateKeyExA(hive, key, 0, nullptr, 0, access, nullptr, &h, &disposition);
    EXPECT_EQ(r, ERROR_SUCCESS) << key;
    handles_.push_back(h);
    return h;
  }
  LONG Open(HKEY hive, const char* key, REGSAM access, HKEY* out) {
    LONG r = RegOpenKeyExA(hive, key, 0, access, out);
    if (r == ERROR_SUCCESS) handles_.push_back(*out);
    return r;
  }
  void TearDown() override {
    for (HKEY h : handles_) RegCloseKey(h);
    EXPECT_EQ(m().outstanding().regKeys, 0);
  }
  std::vector<HKEY> handles_;
};

class Registry9xTest : public RegistryTest {
 protected:
  Registry9xTest() { Use(WindowsVersion::Win98); }
};

TEST_F(RegistryTest, TheSizeWrittenIsTheSizeStored) {
  HKEY k = Create(HKEY_LOCAL_MACHINE, kKey);
  ASSERT_EQ(RegSetValueExA(k, "Installation Directory", 0, REG_SZ, reinterpret_cast<const BYTE*>("C:\\A"), 4),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(k, "Empty", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 0), ERROR_SUCCESS);
  EXPECT_EQ(m().GetRegValue(HKEY_LOCAL_MACHINE, kKey, "Installation Directory")->data, Bytes("C:\\A"))
      << "no NUL was counted, none is stored";
  EXPECT_TRUE(m().GetRegValue(HKEY_LOCAL_MACHINE, kKey, "Empty")->data.empty());
  EXPECT_EQ(Last("RegSetValue"), std::string("HKEY_LOCAL_MACHINE | Software\\VORTAN\\FTP | Empty | REG_SZ |  | 0"));
}

TEST_F(RegistryTest, QueryGivesMoreDataAndTheStoredSize) {
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Installation Directory", "C:\\Program Files\\VORTAN\\FTP");
  HKEY k;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, kKey, KEY_READ, &k), ERROR_SUCCESS);
  char small[8];
  std::memset(small, '#', sizeof small);
  DWORD size = sizeof small, type = 0;
  EXPECT_EQ(RegQueryValueExA(k, "installation directory", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
            ERROR_MORE_DATA);
  EXPECT_EQ(size, 28u);
  EXPECT_EQ(small[0], '#') << "nothing copied when it does not fit";
  char buf[260];
  size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(k, "Installation Directory", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 28u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(buf, "C:\\Program Files\\VORTAN\\FTP");
  size = 0;
  EXPECT_EQ(RegQueryValueExA(k, "Installation Directory", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 28u);
  EXPECT_EQ(RegQueryValueExA(k, "Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, OneByteValuesFitOneByteBuffers) {
  m().SetRegBinary(HKEY_LOCAL_MACHINE, kKey, "WorkingDirType", {2});
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Profile Mode", "1");
  HKEY k;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, kKey, KEY_READ, &k), ERROR_SUCCESS);
  BYTE b = 0;
  DWORD size = 1;
  EXPECT_EQ(RegQueryValueExA(k, "WorkingDirType", nullptr, nullptr, &b, &size), ERROR_SUCCESS);
  EXPECT_EQ(b, 2);
  size = 1;
  EXPECT_EQ(RegQueryValueExA(k, "Profile Mode", nullptr, nullptr, &b, &size), ERROR_MORE_DATA) << "\"1\" plus NUL";
}

TEST_F(RegistryTest, AHandleDoesOnlyWhatItWasOpenedFor) {
  m().CreateKey(HKEY_LOCAL_MACHINE, kKey);
  HKEY k;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, kKey, KEY_READ, &k), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(k, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("y"), 2), ERROR_ACCESS_DENIED);
  HKEY w = Create(HKEY_LOCAL_MACHINE, kKey, KEY_WRITE);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(w, "x", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, CreateReportsWhetherTheKeyIsNew) {
  HKEY h;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  RegCloseKey(h);
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "software\\vortan\\ftp", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h,
                            &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
  RegCloseKey(h);
  EXPECT_EQ(Last("RegCreateKey"), "HKEY_CURRENT_USER | software\\vortan\\ftp | 0xF003F | 0x0 | opened | 0");
}

TEST_F(RegistryTest, ClassesRootIsAViewOfTheMachineClasses) {
  HKEY k = Create(HKEY_CLASSES_ROOT, ".qft", KEY_WRITE);
  RegSetValueExA(k, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("Keldra.FTP.1"), 13);
  EXPECT_EQ(m().GetRegValue(HKEY_LOCAL_MACHINE, "Software\\Classes\\.qft", "")->Text(), "Keldra.FTP.1");
  EXPECT_EQ(m().GetRegValue(HKEY_CLASSES_ROOT, ".qft", "")->Text(), "Keldra.FTP.1");
  EXPECT_EQ(Last("RegSetValue").substr(0, 24), "HKEY_CLASSES_ROOT | .qft");
}

TEST_F(RegistryTest, AReadOnlyHiveRefusesWritesButStillReads) {
  m().SetRegString(HKEY_LOCAL_MACHINE, kKey, "Installation Directory", "C:\\A");
  m().SetHiveReadOnly(HKEY_LOCAL_MACHINE);
  HKEY k = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(k, nullptr);
  EXPECT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, ".qft", 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr),
            ERROR_ACCESS_DENIED)
      << "HKCR lives in HKLM";
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, kKey, KEY_ALL_ACCESS, &k), ERROR_ACCESS_DENIED);
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, kKey, KEY_READ, &k), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(k, "Installation Directory", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  HKEY u = Create(HKEY_CURRENT_USER, kKey);
  EXPECT_NE(u, nullptr) << "the user's hive stays writable";
}

TEST_F(RegistryTest, ADeniedKeyCoversItsSubtreeOnly) {
  m().DenyKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
  HKEY k = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VORTAN FTP",
                            0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_NE(Create(HKEY_LOCAL_MACHINE, kKey), nullptr);
  m().DenyKey(HKEY_CURRENT_USER, "Software\\Secret", true);
  m().CreateKey(HKEY_CURRENT_USER, "Software\\Secret");
  EXPECT_EQ(Open(HKEY_CURRENT_USER, "Software\\Secret", KEY_READ, &k), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryTest, NtDeletesOnlyKeysWithoutSubkeys) {
  m().CreateKey(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP\\About");
  HKEY v;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "Software\\VORTAN", KEY_ALL_ACCESS, &v), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(v, "FTP"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(v, "FTP\\About"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(v, "FTP"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(v, "FTP"), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(m().KeyExists(HKEY_LOCAL_MACHINE, "Software\\VORTAN"));
}

TEST_F(Registry9xTest, Windows9xDeletesWholeTrees) {
  m().CreateKey(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP\\About");
  HKEY v;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, "Software\\VORTAN", KEY_ALL_ACCESS, &v), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(v, "FTP"), ERROR_SUCCESS);
  EXPECT_FALSE(m().KeyExists(HKEY_LOCAL_MACHINE, kKey));
}

TEST_F(RegistryTest, HandlesToDeletedKeysReportKeyDeleted) {
  m().CreateKey(HKEY_LOCAL_MACHINE, kKey);
  HKEY k;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, kKey, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kKey), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(k, "x", 0, REG_SZ, reinterpret_cast<const BYTE*>("y"), 2), ERROR_KEY_DELETED);
}

TEST_F(RegistryTest, EnumerationIsAlphabeticalAndReportsShortBuffers) {
  for (const char* sub : {"Support", "About", "beta"}) m().CreateKey(HKEY_LOCAL_MACHINE, std::string(kKey) + "\\" + sub);
  HKEY k;
  ASSERT_EQ(Open(HKEY_LOCAL_MACHINE, kKey, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
  std::vector<std::string> names;
  char name[64];
  for (DWORD i = 0; RegEnumKeyA(k, i, name, sizeof name) == ERROR_SUCCESS; ++i) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"About", "beta", "Support"}));
  EXPECT_EQ(RegEnumKeyA(k, 3, name, sizeof name), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegEnumKeyA(k, 0, name, 5), ERROR_MORE_DATA) << "\"About\" needs 6";
}

TEST_F(RegistryTest, InvalidHandlesAndPathsAreRefused) {
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234)), "x", 0, KEY_READ, &k),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\Software", 0, KEY_READ, &k), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234))), ERROR_INVALID_HANDLE);
  EXPECT_EQ(Last("Misuse"), "RegCloseKey | invalid or already closed key handle");
}

TEST_F(RegistryTest, OpeningIsJournaledWithTheResult) {
  HKEY k;
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, "Software\\Toval\\FTP", KEY_READ, &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Last("RegOpenKey"), "HKEY_LOCAL_MACHINE | Software\\Toval\\FTP | 0x20019 | 2");
}

}  // namespace
