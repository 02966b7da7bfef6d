// winsim's file system as the setup program relies on it: Win32 path rules,
// 8.3 aliases, find enumeration, deletion and copying under sharing rules,
// restart-time operations of both Windows families.
#include "test_winsim_support.h"

#include <algorithm>
#include <cstring>

namespace {

using namespace winsim_test;

class FilesTest : public WinsimTest {};

class Files9xTest : public WinsimTest {
 protected:
  Files9xTest() : WinsimTest(WindowsVersion::Win98) {}
};

// ---- Paths ---------------------------------------------------------------------------------

TEST_F(FilesTest, NamesMatchWithoutCaseAndKeepTheirGivenCase) {
  m().WriteText("C:\\Apps\\ReadMe.TXT", "x");
  EXPECT_EQ(GetFileAttributesA("c:\\APPS\\readme.txt"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(m().ActualPath("c:\\apps\\README.txt"), "C:\\Apps\\ReadMe.TXT");
}

TEST_F(FilesTest, RepeatedSeparatorsDotsAndForwardSlashesResolveAsOnWindows) {
  m().WriteText("D:\\Apps\\FTP\\Transfer\\a.txt", "x");
  EXPECT_NE(GetFileAttributesA("D:\\Apps\\\\FTP\\\\Transfer\\a.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA("D:/Apps/FTP/./Transfer/../Transfer/a.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA("D:\\Apps\\FTP.\\Transfer\\a.txt"), INVALID_FILE_ATTRIBUTES) << "trailing dot dropped";
}

// GetFullPathNameA's text, or "error N".
std::string Full(const char* path) {
  char buffer[MAX_PATH] = {};
  char* part = nullptr;
  DWORD n = GetFullPathNameA(path, MAX_PATH, buffer, &part);
  if (n == 0 || n >= MAX_PATH) return "error " + std::to_string(GetLastError());
  return buffer;
}

TEST_F(FilesTest, DevicePrefixesAndAdministrativeSharesReachTheDriveButKeepTheirSpelling) {
  m().WriteText("C:\\Data\\a.txt", "a");
  for (const char* spelling : {"\\\\?\\C:\\Data\\a.txt", "\\\\.\\C:\\Data\\a.txt", "\\\\localhost\\C$\\Data\\a.txt",
                               "\\\\127.0.0.1\\c$\\Data\\a.txt", "\\\\WINSIM\\C$\\Data\\a.txt"}) {
    EXPECT_EQ(Find(spelling), std::vector<std::string>{"a.txt"}) << spelling;
  }
  EXPECT_EQ(Find("\\\\OTHER\\C$\\Data\\a.txt"), std::vector<std::string>{"error 3"}) << "another computer's share";
  // The text is kept as written (RtlGetFullPathName_U): verbatim after
  // "\\?\", normalised after "\\.\", server and share as given.
  EXPECT_EQ(Full("\\\\?\\C:\\Data\\..\\Data"), "\\\\?\\C:\\Data\\..\\Data");
  EXPECT_EQ(Full("\\\\.\\C:\\Data\\..\\Data"), "\\\\.\\C:\\Data");
  EXPECT_EQ(Full("\\\\localhost\\C$\\Data\\.\\x"), "\\\\localhost\\C$\\Data\\x");
  EXPECT_EQ(Full("C:\\Data\\..\\Data"), "C:\\Data");
  m().SetComputerName("HOST7");
  EXPECT_EQ(Find("\\\\host7\\C$\\Data\\a.txt"), std::vector<std::string>{"a.txt"});
}

TEST_F(FilesTest, RelativePathsFollowTheCurrentDirectory) {
  m().WriteText("C:\\dist\\SETUP.INI", "x");
  ASSERT_EQ(Result(SetCurrentDirectoryA("C:\\dist")), "ok");
  EXPECT_NE(GetFileAttributesA("SETUP.INI"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA("..\\dist\\setup.ini"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA("\\dist\\setup.ini"), INVALID_FILE_ATTRIBUTES) << "rooted on the current drive";
}

TEST_F(FilesTest, MissingPartsGiveFileOrPathNotFound) {
  m().MakeDirs("C:\\Here");
  EXPECT_EQ(Result(DeleteFileA("C:\\Here\\nothing.txt")), "error 2");
  EXPECT_EQ(Result(DeleteFileA("C:\\Nowhere\\nothing.txt")), "error 3");
  EXPECT_EQ(Result(DeleteFileA("Q:\\x.txt")), "error 3") << "no such drive";
}

TEST_F(FilesTest, AnsiPathsOfMaxPathCharactersFailBeforeAnyLookup) {
  std::string tooLong = "C:\\" + std::string(MAX_PATH - 3, 'a');  // 260 characters
  EXPECT_EQ(GetFileAttributesA(tooLong.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_EQ(Result(CreateDirectoryA(tooLong.c_str(), nullptr)), "error 206");
}

TEST_F(FilesTest, CreateDirectoryLeavesRoomForAnEightDotThreeName) {
  std::string limit = "C:\\" + std::string(MAX_PATH - 12 - 3, 'd');  // 248 characters
  EXPECT_EQ(Result(CreateDirectoryA(limit.c_str(), nullptr)), "ok");
  EXPECT_EQ(Result(CreateDirectoryA((limit + "x").c_str(), nullptr)), "error 206");
}

TEST_F(FilesTest, InvalidCharactersAreRejected) {
  EXPECT_EQ(Result(CreateDirectoryA("C:\\a<b", nullptr)), "error 123");
  EXPECT_EQ(Result(CreateDirectoryA("C:\\a*b", nullptr)), "error 123");
}

TEST_F(FilesTest, CreateDirectoryNeedsItsParentAndRefusesExistingOnes) {
  EXPECT_EQ(Result(CreateDirectoryA("C:\\A\\B", nullptr)), "error 3");
  EXPECT_EQ(Result(CreateDirectoryA("C:\\A", nullptr)), "ok");
  EXPECT_EQ(Result(CreateDirectoryA("C:\\a", nullptr)), "error 183");
  EXPECT_EQ(Result(CreateDirectoryA("C:\\", nullptr)), "error 5");
  EXPECT_EQ(Last("CreateDirectory"), "C:\\ | 5");
}

// ---- Short names -------------------------------------------------------------------------------

TEST_F(FilesTest, LongNamesGetWindowsStyleAliasesInCreationOrder) {
  m().MakeDirs("C:\\Program Files\\VORTAN\\FTP");
  m().MakeDirs("C:\\Program Data");
  m().WriteText("C:\\Program Files\\VORTAN\\FTP\\Qxftp.exe", "x");
  EXPECT_EQ(m().ShortPath("C:\\Program Files\\VORTAN\\FTP\\Qxftp.exe"), "C:\\PROGRA~1\\VORTAN\\FTP\\QXFTP.EXE");
  EXPECT_EQ(m().ShortPath("C:\\Program Data"), "C:\\PROGRA~2");
}

TEST_F(FilesTest, AliasesKeepTheFirstThreeCharactersOfTheExtension) {
  m().WriteText("C:\\t\\Install Guide.html", "x");
  m().WriteText("C:\\t\\a+b.txt", "x");
  EXPECT_EQ(m().ShortPath("C:\\t\\Install Guide.html"), "C:\\T\\INSTAL~1.HTM");
  EXPECT_EQ(m().ShortPath("C:\\t\\a+b.txt"), "C:\\T\\A_B~1.TXT");
}

TEST_F(FilesTest, GetShortPathNameFollowsTheBufferContract) {
  m().MakeDirs("C:\\Program Files\\VORTAN\\FTP");
  char buf[MAX_PATH] = "C:\\Program Files\\VORTAN\\FTP";
  EXPECT_EQ(GetShortPathNameA(buf, buf, sizeof buf), 22u) << "in place, length without the NUL";
  EXPECT_STREQ(buf, "C:\\PROGRA~1\\VORTAN\\FTP");
  char small[8] = "unset";
  EXPECT_EQ(GetShortPathNameA("C:\\Program Files\\VORTAN\\FTP", small, sizeof small), 23u) << "size needed";
  EXPECT_STREQ(small, "unset") << "nothing written when it does not fit";
  EXPECT_EQ(GetShortPathNameA("C:\\Program Files\\Nothing", buf, sizeof buf), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, ShortFormsKeepTheShapeOfTheGivenPath) {
  m().MakeDirs("C:\\dist\\Long Folder\\FTP");
  char buf[MAX_PATH];
  GetShortPathNameA("Long Folder\\FTP", buf, sizeof buf);
  EXPECT_STREQ(buf, "LONGFO~1\\FTP") << "relative stays relative";
  GetShortPathNameA("C:\\dist\\Long Folder\\", buf, sizeof buf);
  EXPECT_STREQ(buf, "C:\\DIST\\LONGFO~1\\") << "the trailing backslash stays";
  GetShortPathNameA("c:/dist/./Long Folder/../Long Folder", buf, sizeof buf);
  EXPECT_STREQ(buf, "c:\\DIST\\.\\LONGFO~1\\..\\LONGFO~1");
}

TEST_F(FilesTest, ShortNamesOpenTheSameFile) {
  m().WriteText("C:\\Program Files\\VORTAN\\FTP\\UNINS.EXE", "x");
  EXPECT_EQ(Text("C:\\PROGRA~1\\VORTAN\\FTP\\UNINS.EXE"), "x");
  EXPECT_EQ(Result(DeleteFileA("c:\\progra~1\\vortan\\ftp\\unins.exe")), "ok");
}

// ---- Find enumeration ----------------------------------------------------------------------------------

TEST_F(FilesTest, EnumerationListsDotsFirstThenNamesWithoutRegardToCase) {
  m().WriteText("C:\\d\\b.txt", "");
  m().WriteText("C:\\d\\README", "");
  m().WriteText("C:\\d\\a.TXT", "");
  m().MakeDirs("C:\\d\\Sub");
  EXPECT_EQ(Find("C:\\d\\*.*"), (std::vector<std::string>{".", "..", "a.TXT", "b.txt", "README", "Sub"}));
}

TEST_F(FilesTest, PatternsFollowDosRules) {
  m().WriteText("C:\\d\\CA1.0_", "");
  m().WriteText("C:\\d\\CA2.0", "");
  m().WriteText("C:\\d\\QXFTP.EX_", "");
  m().WriteText("C:\\d\\README", "");
  EXPECT_EQ(Find("C:\\d\\*.0_"), (std::vector<std::string>{"CA1.0_"}));
  EXPECT_EQ(Find("C:\\d\\*."), (std::vector<std::string>{".", "..", "README"})) << "a trailing dot: no extension";
  EXPECT_EQ(Find("C:\\d\\ca?.0"), (std::vector<std::string>{"CA2.0"}));
}

TEST_F(FilesTest, PatternsAlsoMatchTheEightDotThreeAlias) {
  m().WriteText("C:\\d\\page.html", "");
  EXPECT_EQ(Find("C:\\d\\*.htm"), (std::vector<std::string>{"page.html"})) << "its alias is PAGE~1.HTM";
}

TEST_F(FilesTest, EnumerationErrorsTellMissingDirectoryFromNoMatch) {
  m().MakeDirs("C:\\empty");
  EXPECT_EQ(Find("C:\\empty\\*.0_"), (std::vector<std::string>{"error 2"}));
  EXPECT_EQ(Find("C:\\missing\\*.*"), (std::vector<std::string>{"error 3"}));
  EXPECT_EQ(Find("C:\\*"), (std::vector<std::string>{"dist", "Documents and Settings", "empty", "Program Files", "WINDOWS"}))
      << "no dots in a root";
}

TEST_F(FilesTest, EntriesDeletedDuringAnEnumerationAreNotReturned) {
  for (const char* n : {"a", "b", "c"}) m().WriteText(std::string("C:\\d\\") + n, "");
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA("C:\\d\\*", &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<std::string> seen;
  do {
    seen.push_back(fd.cFileName);
    if (seen.back() == "a") DeleteFileA("C:\\d\\b");
  } while (FindNextFileA(h, &fd));
  FindClose(h);
  EXPECT_EQ(seen, (std::vector<std::string>{".", "..", "a", "c"}));
  EXPECT_EQ(m().outstanding().findHandles, 0);
}

TEST_F(FilesTest, FindDataCarriesAttributesSizeAndAlias) {
  m().WriteText("C:\\d\\Long Name.text", "12345");
  m().SetAttributes("C:\\d\\Long Name.text", FILE_ATTRIBUTE_HIDDEN);
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA("C:\\d\\long*", &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  EXPECT_EQ(fd.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(fd.nFileSizeLow, 5u);
  EXPECT_STREQ(fd.cAlternateFileName, "LONGNA~1.TEX");
}

// ---- Deleting ------------------------------------------------------------------------------------------

TEST_F(FilesTest, DeleteFileFailsOnWhatWindowsProtects) {
  m().WriteText("C:\\d\\held.dll", "x");
  m().WriteText("C:\\d\\shared.log", "x");
  m().WriteText("C:\\d\\ro.txt", "x");
  m().SetAttributes("C:\\d\\ro.txt", FILE_ATTRIBUTE_READONLY);
  m().WriteText("C:\\d\\running.exe", "x");
  m().Hold("C:\\d\\held.dll", FILE_SHARE_READ);
  m().Hold("C:\\d\\shared.log", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  m().HoldImage("C:\\d\\running.exe");
  EXPECT_EQ(Result(DeleteFileA("C:\\d\\held.dll")), "error 32");
  EXPECT_EQ(Result(DeleteFileA("C:\\d\\ro.txt")), "error 5");
  EXPECT_EQ(Result(DeleteFileA("C:\\d\\running.exe")), "error 5");
  EXPECT_EQ(Result(DeleteFileA("C:\\d")), "error 5") << "a directory";
  EXPECT_EQ(Result(DeleteFileA("C:\\d\\shared.log")), "ok") << "opened with FILE_SHARE_DELETE";
  EXPECT_EQ(Last("DeleteFile"), "C:\\d\\shared.log | 0");
}

TEST_F(FilesTest, ReleasedHoldsNoLongerBlock) {
  m().WriteText("C:\\d\\f", "x");
  int hold = m().Hold("C:\\d\\f");
  EXPECT_EQ(Result(DeleteFileA("C:\\d\\f")), "error 32");
  m().Release(hold);
  EXPECT_EQ(Result(DeleteFileA("C:\\d\\f")), "ok");
}

TEST_F(FilesTest, RemoveDirectoryNeedsAnEmptyDirectoryThatIsNotCurrent) {
  m().WriteText("C:\\d\\sub\\f", "x");
  EXPECT_EQ(Result(RemoveDirectoryA("C:\\d\\sub")), "error 145");
  EXPECT_EQ(Result(RemoveDirectoryA("C:\\d\\sub\\f")), "error 267");
  EXPECT_EQ(Result(RemoveDirectoryA("C:\\d\\none")), "error 2");
  DeleteFileA("C:\\d\\sub\\f");
  m().SetCurrentDir("C:\\d\\sub");
  EXPECT_EQ(Result(RemoveDirectoryA("C:\\d\\sub")), "error 32") << "the process holds its current directory";
  m().SetCurrentDir("C:\\");
  EXPECT_EQ(Result(RemoveDirectoryA("C:\\d\\sub")), "ok");
}

TEST_F(FilesTest, SetFileAttributesNormalClearsReadOnly) {
  m().WriteText("C:\\d\\f", "x");
  m().SetAttributes("C:\\d\\f", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(Result(SetFileAttributesA("C:\\d\\f", FILE_ATTRIBUTE_ARCHIVE)), "ok");
  EXPECT_EQ(m().Attributes("C:\\d\\f"), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(Result(DeleteFileA("C:\\d\\f")), "ok");
  EXPECT_EQ(Result(SetFileAttributesA("C:\\d\\f", FILE_ATTRIBUTE_ARCHIVE)), "error 2");
}

// ---- Copying and moving ------------------------------------------------------------------------------------

TEST_F(FilesTest, CopyFileOverwritesUnlessAskedNotTo) {
  m().WriteText("C:\\s\\a.ini", "new");
  m().WriteText("C:\\t\\a.ini", "old");
  EXPECT_EQ(Result(CopyFileA("C:\\s\\a.ini", "C:\\t\\a.ini", TRUE)), "error 80");
  EXPECT_EQ(Text("C:\\t\\a.ini"), "old");
  EXPECT_EQ(Result(CopyFileA("C:\\s\\a.ini", "C:\\t\\a.ini", FALSE)), "ok");
  EXPECT_EQ(Text("C:\\t\\a.ini"), "new");
}

TEST_F(FilesTest, CopyFileKeepsAttributesAndWriteTime) {
  m().WriteText("C:\\s\\a.ini", "x");
  m().SetAttributes("C:\\s\\a.ini", FILE_ATTRIBUTE_READONLY);
  FILETIME t{0x12345678, 0x01C3D000};
  m().SetWriteTime("C:\\s\\a.ini", t);
  ASSERT_EQ(Result(CopyFileA("C:\\s\\a.ini", "C:\\t\\a.ini", FALSE)), "error 3") << "no target directory";
  m().MakeDirs("C:\\t");
  ASSERT_EQ(Result(CopyFileA("C:\\s\\a.ini", "C:\\t\\a.ini", FALSE)), "ok");
  EXPECT_EQ(m().Attributes("C:\\t\\a.ini"), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(m().WriteTime("C:\\t\\a.ini").dwLowDateTime, t.dwLowDateTime);
  EXPECT_EQ(m().WriteTime("C:\\t\\a.ini").dwHighDateTime, t.dwHighDateTime);
}

TEST_F(FilesTest, CopyFileRefusesProtectedTargets) {
  m().WriteText("C:\\s\\a", "new");
  m().WriteText("C:\\t\\ro", "old");
  m().WriteText("C:\\t\\held", "old");
  m().SetAttributes("C:\\t\\ro", FILE_ATTRIBUTE_READONLY);
  m().Hold("C:\\t\\held", FILE_SHARE_READ);
  EXPECT_EQ(Result(CopyFileA("C:\\s\\a", "C:\\t\\ro", FALSE)), "error 5");
  EXPECT_EQ(Result(CopyFileA("C:\\s\\a", "C:\\t\\held", FALSE)), "error 32");
  EXPECT_EQ(Result(CopyFileA("C:\\s\\missing", "C:\\t\\x", FALSE)), "error 2");
  EXPECT_EQ(Text("C:\\t\\held"), "old");
}

TEST_F(FilesTest, MoveFileExRenamesNowAndReplacesOnlyWhenAsked) {
  m().WriteText("C:\\d\\a", "A");
  m().WriteText("C:\\d\\b", "B");
  EXPECT_EQ(Result(MoveFileExA("C:\\d\\a", "C:\\d\\b", 0)), "error 183");
  EXPECT_EQ(Result(MoveFileExA("C:\\d\\a", "C:\\d\\b", MOVEFILE_REPLACE_EXISTING)), "ok");
  EXPECT_EQ(Text("C:\\d\\b"), "A");
  EXPECT_FALSE(m().Exists("C:\\d\\a"));
  EXPECT_EQ(Result(MoveFileExA("C:\\d\\b", "D:\\b", 0)), "error 17") << "another drive needs MOVEFILE_COPY_ALLOWED";
  EXPECT_EQ(Result(MoveFileExA("C:\\d\\b", "D:\\b", MOVEFILE_COPY_ALLOWED)), "ok");
}

TEST_F(FilesTest, RestartTimeDeletionIsAppendedToPendingFileRenameOperations) {
  m().WriteText("C:\\Program Files\\VORTAN\\FTP\\UNINS.EXE", "x");
  ASSERT_EQ(Result(MoveFileExA("C:\\Program Files\\VORTAN\\FTP\\UNINS.EXE", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)), "ok");
  ASSERT_EQ(Result(MoveFileExA("D:\\QXFTP.DLL", "D:\\Apps\\FTP\\QXFTP.DLL",
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT)),
            "ok");
  auto v = m().GetRegValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                           "PendingFileRenameOperations");
  ASSERT_TRUE(v);
  EXPECT_EQ(v->type, static_cast<DWORD>(REG_MULTI_SZ));
  std::string expected = std::string("\\??\\C:\\Program Files\\VORTAN\\FTP\\UNINS.EXE") + '\0' + '\0' +
                         "\\??\\D:\\QXFTP.DLL" + '\0' + "!\\??\\D:\\Apps\\FTP\\QXFTP.DLL" + '\0' + '\0';
  EXPECT_EQ(std::string(v->data.begin(), v->data.end()), expected);
}

TEST_F(FilesTest, RestartReplaysPendingOperationsInOrder) {
  m().WriteText("C:\\P\\UNINS.EXE", "old");
  m().WriteText("D:\\QXFTP.DLL", "new");
  m().WriteText("D:\\Apps\\FTP\\QXFTP.DLL", "old");
  m().HoldImage("C:\\P\\UNINS.EXE");
  MoveFileExA("C:\\P\\UNINS.EXE", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  MoveFileExA("C:\\P", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  MoveFileExA("D:\\QXFTP.DLL", "D:\\Apps\\FTP\\QXFTP.DLL", MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
  m().Restart();
  EXPECT_FALSE(m().Exists("C:\\P")) << "the file first, then its emptied directory";
  EXPECT_EQ(Text("D:\\Apps\\FTP\\QXFTP.DLL"), "new");
  EXPECT_FALSE(m().Exists("D:\\QXFTP.DLL"));
  EXPECT_TRUE(m().PendingRenames().empty());
}

TEST_F(FilesTest, RestartTimeOperationsNeedWriteAccessToTheMachineHive) {
  m().SetHiveReadOnly(HKEY_LOCAL_MACHINE);
  EXPECT_EQ(Result(MoveFileExA("C:\\x", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)), "error 5");
}

TEST_F(Files9xTest, MoveFileExIsNotImplementedOnWindows9x) {
  EXPECT_EQ(Result(MoveFileExA("C:\\x", nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)), "error 120");
}

TEST_F(Files9xTest, RestartProcessesTheRenameSectionOfWininit) {
  m().WriteText("C:\\Program Files\\VORTAN\\FTP\\UNINS.EXE", "x");
  m().WriteText("C:\\NEW.DLL", "new");
  std::string shortPath = m().ShortPath("C:\\Program Files\\VORTAN\\FTP\\UNINS.EXE");
  ASSERT_EQ(shortPath, "C:\\PROGRA~1\\VORTAN\\FTP\\UNINS.EXE");
  m().WriteText("C:\\WINDOWS\\WININIT.INI",
                "[rename]\r\nNUL=" + shortPath + "\r\nNUL=C:\\PROGRA~1\\VORTAN\\FTP\r\nC:\\OLD.DLL=C:\\NEW.DLL\r\n");
  m().Restart();
  EXPECT_FALSE(m().Exists("C:\\Program Files\\VORTAN\\FTP"));
  EXPECT_EQ(Text("C:\\OLD.DLL"), "new");
  EXPECT_FALSE(m().Exists("C:\\WINDOWS\\WININIT.INI"));
  EXPECT_TRUE(m().Exists("C:\\WINDOWS\\WININIT.BAK"));
}

// ---- File handles ------------------------------------------------------------------------------------------

TEST_F(FilesTest, ShareModesDecideWhoMayOpenAFile) {
  m().WriteText("C:\\d\\f", "data");
  HANDLE a = CreateFileA("C:\\d\\f", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(a, INVALID_HANDLE_VALUE);
  HANDLE b = CreateFileA("C:\\d\\f", GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(b, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  HANDLE c = CreateFileA("C:\\d\\f", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(c, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Result(DeleteFileA("C:\\d\\f")), "error 32");
  CloseHandle(a);
  CloseHandle(c);
  EXPECT_EQ(m().outstanding().fileHandles, 0);
  EXPECT_EQ(Result(DeleteFileA("C:\\d\\f")), "ok");
}

TEST_F(FilesTest, ReadWriteSeekAndTruncate) {
  HANDLE h = CreateFileA("C:\\f.bin", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "hello world", 11, &n, nullptr));
  EXPECT_EQ(SetFilePointer(h, 5, nullptr, FILE_BEGIN), 5u);
  ASSERT_TRUE(SetEndOfFile(h));
  EXPECT_EQ(GetFileSize(h, nullptr), 5u);
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  char buf[16] = {};
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "hello");
  EXPECT_EQ(SetFilePointer(h, -6, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  CloseHandle(h);
  EXPECT_EQ(Last("WriteFile"), "C:\\f.bin | 0 | 11 | 0");
}

TEST_F(FilesTest, CreateFileDispositionsReportWhatExisted) {
  EXPECT_EQ(CreateFileA("C:\\n", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  HANDLE h = CreateFileA("C:\\n", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  CloseHandle(h);
  h = CreateFileA("C:\\n", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(h);
  EXPECT_EQ(CreateFileA("C:\\n", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  m().SetAttributes("C:\\n", FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(CreateFileA("C:\\n", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// ---- A full volume -----------------------------------------------------------------------------

TEST_F(FilesTest, AVolumeWithAByteBudgetRefusesWritesPastIt) {
  m().WriteText("C:\\s\\big", std::string(80, 'b'));
  m().WriteText("C:\\s\\small", "12345");
  m().WriteText("D:\\t\\kept", std::string(20, 'k'));
  m().SetVolumeCapacity("D:\\", 50);
  EXPECT_EQ(Result(CopyFileA("C:\\s\\big", "D:\\t\\big", FALSE)), "error 112");
  EXPECT_FALSE(m().Exists("D:\\t\\big")) << "nothing of a copy that does not fit";
  EXPECT_EQ(Result(CopyFileA("C:\\s\\small", "D:\\t\\small", FALSE)), "ok");
  EXPECT_EQ(Result(CopyFileA("C:\\s\\big", "D:\\t\\small", FALSE)), "error 112");
  EXPECT_FALSE(m().Exists("D:\\t\\small")) << "Windows deletes a destination it could not finish";

  HANDLE h = CreateFileA("D:\\t\\log", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 99;
  EXPECT_TRUE(WriteFile(h, "0123456789", 10, &n, nullptr));
  EXPECT_FALSE(WriteFile(h, std::string(21, 'x').data(), 21, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(Last("WriteFile"), "D:\\t\\log | 10 | 21 | 112");
  EXPECT_TRUE(WriteFile(h, std::string(20, 'y').data(), 20, &n, nullptr)) << "exactly full still fits";
  CloseHandle(h);
  EXPECT_EQ(m().VolumeUsed("D:\\"), 50u);
  EXPECT_EQ(Result(CopyFileA("C:\\s\\small", "C:\\s\\small2", FALSE)), "ok") << "other volumes are not limited";
  EXPECT_EQ(Result(MoveFileExA("C:\\s\\small2", "D:\\t\\moved", MOVEFILE_COPY_ALLOWED)), "error 112");
  EXPECT_TRUE(m().Exists("C:\\s\\small2"));
}

TEST_F(FilesTest, ShellCopiesStopAtAFullVolume) {
  m().WriteText("C:\\s\\Docs\\a.txt", std::string(30, 'a'));
  m().WriteText("C:\\s\\Docs\\b.txt", std::string(30, 'b'));
  m().MakeDirs("D:\\t");
  m().SetVolumeCapacity("D:\\", 40);
  char from[MAX_PATH + 1] = "C:\\s\\Docs";
  char to[MAX_PATH + 1] = "D:\\t";
  SHFILEOPSTRUCTA op = {};
  op.wFunc = FO_COPY;
  op.pFrom = from;
  op.pTo = to;
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
  EXPECT_NE(SHFileOperationA(&op), 0);
  EXPECT_EQ(m().Tree("D:\\t"), (std::vector<std::string>{"Docs", "Docs\\a.txt"}));
}

TEST_F(FilesTest, ClosingAnUnknownHandleIsRecordedAsMisuse) {
  EXPECT_EQ(Result(CloseHandle(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x4242)))), "error 6");
  EXPECT_EQ(Last("Misuse"), "CloseHandle | invalid handle");
}

}  // namespace

// ---- Junctions and SUBST drives -----------------------------------------------------------------

namespace {

using namespace winsim_test;

// A directory junction: an entry of its directory that leads to another
// directory ("Hard Links and Junctions"; "Reparse Points").
class JunctionTest : public WinsimTest {
 protected:
  JunctionTest() : WinsimTest(WindowsVersion::Win10) {}
  static DWORD Attrs(const char* path) { return GetFileAttributesA(path); }
};

TEST_F(JunctionTest, PathsThroughAJunctionReachItsTarget) {
  m().WriteText("D:\\Real\\Sub\\a.txt", "A");
  m().MakeJunction("D:\\Link", "D:\\Real");
  EXPECT_EQ(Text("D:\\Link\\Sub\\a.txt"), "A");
  EXPECT_EQ(Find("D:\\Link\\Sub\\*.txt"), std::vector<std::string>{"a.txt"});
  HANDLE h = CreateFileA("D:\\Link\\new.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_TRUE(m().Exists("D:\\Real\\new.txt")) << "a file made through the link is in the target";
  EXPECT_EQ(Result(CreateDirectoryA("D:\\Link\\Made", nullptr)), "ok");
  EXPECT_TRUE(m().IsDirectory("D:\\Real\\Made"));
}

TEST_F(JunctionTest, TheLinkShowsTheReparseAttributeInItsDirectory) {
  m().MakeDirs("D:\\Real");
  m().MakeJunction("D:\\Link", "D:\\Real");
  EXPECT_EQ(Attrs("D:\\Link"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_EQ(Attrs("D:\\Real"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY)) << "the target is a plain directory";
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA("D:\\Link", &fd);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  EXPECT_EQ(fd.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  EXPECT_EQ(m().JunctionTarget("D:\\Link"), "D:\\Real");
  EXPECT_EQ(m().JunctionTarget("D:\\Real"), "");
}

TEST_F(JunctionTest, RemoveDirectoryRemovesTheLinkOnlyAndDeleteFileReachesTheTarget) {
  m().WriteText("D:\\Real\\a.txt", "A");
  m().WriteText("D:\\Real\\b.txt", "B");
  m().MakeJunction("D:\\Link", "D:\\Real");
  EXPECT_EQ(Result(DeleteFileA("D:\\Link")), "error 5") << "a junction is a directory";
  EXPECT_EQ(Result(DeleteFileA("D:\\Link\\a.txt")), "ok");
  EXPECT_FALSE(m().Exists("D:\\Real\\a.txt"));
  // "RemoveDirectory can be used to remove a directory junction": the
  // target, not empty, stays with its files.
  EXPECT_EQ(Result(RemoveDirectoryA("D:\\Link")), "ok");
  EXPECT_FALSE(m().Exists("D:\\Link"));
  EXPECT_EQ(Text("D:\\Real\\b.txt"), "B");
}

TEST_F(JunctionTest, TreeAndListShowTheLinkWithoutDescending) {
  m().WriteText("D:\\Real\\a.txt", "A");
  m().MakeJunction("D:\\Real\\Loop", "D:\\Real");
  EXPECT_EQ(m().Tree("D:\\Real"), (std::vector<std::string>{"a.txt", "Loop"}));
  EXPECT_EQ(m().List("D:\\Real\\Loop\\Loop"), (std::vector<std::string>{"a.txt", "Loop"})) << "paths still follow";
  m().RemoveTree("D:\\Real\\Loop");
  EXPECT_EQ(m().Tree("D:\\Real"), std::vector<std::string>{"a.txt"}) << "RemoveTree takes the link, not the target";
}

TEST_F(JunctionTest, AJunctionIntoItselfEndsInAnError) {
  m().MakeJunction("D:\\Self", "D:\\Self");
  EXPECT_EQ(Attrs("D:\\Self\\x"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetLastError(), 0u);
  EXPECT_EQ(Attrs("D:\\Self"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

TEST_F(JunctionTest, MovingAJunctionMovesTheLink) {
  m().WriteText("D:\\Real\\a.txt", "A");
  m().MakeJunction("D:\\Link", "D:\\Real");
  EXPECT_EQ(Result(MoveFileExA("D:\\Link", "D:\\Moved", 0)), "ok");
  EXPECT_EQ(Text("D:\\Moved\\a.txt"), "A");
  EXPECT_EQ(Text("D:\\Real\\a.txt"), "A");
  EXPECT_EQ(m().JunctionTarget("D:\\Moved"), "D:\\Real");
}

struct Compat {
  const char* link;
  const char* target;
};

// Vista and later keep the old names as junctions ("Junction Points",
// Volume Shadow Copy Service documentation): hidden system reparse points.
TEST_F(JunctionTest, VistaAndLaterEditionsHaveTheCompatibilityJunctions) {
  const Compat junctions[] = {
      {"C:\\Documents and Settings", "C:\\Users"},
      {"C:\\Users\\All Users", "C:\\ProgramData"},
      {"C:\\Users\\Default User", "C:\\Users\\Default"},
      {"C:\\ProgramData\\Application Data", "C:\\ProgramData"},
      {"C:\\Users\\User\\My Documents", "C:\\Users\\User\\Documents"},
      {"C:\\Users\\User\\Application Data", "C:\\Users\\User\\AppData\\Roaming"},
      {"C:\\Users\\User\\Local Settings", "C:\\Users\\User\\AppData\\Local"},
      {"C:\\Users\\Default\\My Documents", "C:\\Users\\Default\\Documents"},
  };
  for (WindowsVersion version : {WindowsVersion::Win7, WindowsVersion::Win10, WindowsVersion::Win7x64,
                                 WindowsVersion::Win81x64, WindowsVersion::Win10x64, WindowsVersion::Win11x64}) {
    Use(version);
    for (const Compat& j : junctions) {
      EXPECT_EQ(m().JunctionTarget(j.link), j.target) << j.link << " on " << static_cast<int>(version);
      EXPECT_EQ(Attrs(j.link), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                                  FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
          << j.link;
    }
    m().WriteText("C:\\Users\\User\\Documents\\letter.doc", "x");
    EXPECT_EQ(Text("C:\\Documents and Settings\\User\\My Documents\\letter.doc"), "x");
    EXPECT_NE(Attrs("C:\\Documents and Settings\\All Users\\Application Data"), INVALID_FILE_ATTRIBUTES);
    // A snapshot of C:\ ends: the loops are entries, not descents.
    auto tree = m().Tree("C:\\");
    EXPECT_NE(std::find(tree.begin(), tree.end(), "Documents and Settings"), tree.end());
    EXPECT_EQ(std::find(tree.begin(), tree.end(), "Documents and Settings\\User"), tree.end());
  }
}

TEST_F(JunctionTest, OlderEditionsHaveNone) {
  for (WindowsVersion version : {WindowsVersion::Win98, WindowsVersion::NT4, WindowsVersion::XP,
                                 WindowsVersion::WinXP64}) {
    Use(version);
    for (const std::string& path : m().Tree("C:\\"))
      EXPECT_EQ(m().JunctionTarget("C:\\" + path), "") << path << " on " << static_cast<int>(version);
  }
}

// ---- QueryDosDeviceA ----

using QueryDosDevice_fn = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);

QueryDosDevice_fn QueryDosDeviceFn() {
  return reinterpret_cast<QueryDosDevice_fn>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryDosDeviceA")));
}

// The first string QueryDosDeviceA stores, or "error N".
std::string DosDevice(const char* name, DWORD size = MAX_PATH) {
  char buffer[MAX_PATH + 2] = {};
  DWORD n = QueryDosDeviceFn()(name, buffer, size);
  if (n == 0) return "error " + std::to_string(GetLastError());
  EXPECT_EQ(n, std::strlen(buffer) + 2) << "the string, its NUL and the list's closing NUL";
  EXPECT_EQ(buffer[n - 1], '\0');
  return buffer;
}

TEST_F(JunctionTest, QueryDosDeviceNamesVolumesAndSubstTargets) {
  ASSERT_NE(QueryDosDeviceFn(), nullptr);
  EXPECT_EQ(DosDevice("C:"), "\\Device\\HarddiskVolume1");
  EXPECT_EQ(DosDevice("d:"), "\\Device\\HarddiskVolume2");
  EXPECT_EQ(DosDevice("Q:"), "error 2");
  EXPECT_EQ(DosDevice("C:\\"), "error 2") << "a device name has no trailing backslash";
  m().WriteText("C:\\Some\\Dir\\a.txt", "A");
  m().Subst('S', "C:\\Some\\Dir");
  EXPECT_EQ(DosDevice("S:"), "\\??\\C:\\Some\\Dir");
  EXPECT_EQ(DosDevice("S:", 8), "error 122");
  EXPECT_EQ(Text("S:\\a.txt"), "A");
  EXPECT_EQ(Find("S:\\*.txt"), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(Result(CreateDirectoryA("S:\\New", nullptr)), "ok");
  EXPECT_TRUE(m().IsDirectory("C:\\Some\\Dir\\New"));
  EXPECT_EQ(Attrs("S:\\"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY)) << "a drive root, no reparse point";
  m().Subst('S', "");
  EXPECT_EQ(DosDevice("S:"), "error 2");
  EXPECT_EQ(Attrs("S:\\a.txt"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(JunctionTest, QueryDosDeviceIsExportedOnTheNtFamilyOnly) {
  for (WindowsVersion version : {WindowsVersion::NT4, WindowsVersion::XP, WindowsVersion::Win10x64}) {
    Use(version);
    EXPECT_NE(QueryDosDeviceFn(), nullptr) << static_cast<int>(version);
  }
  for (WindowsVersion version : {WindowsVersion::Win95, WindowsVersion::Win98}) {
    Use(version);
    EXPECT_EQ(QueryDosDeviceFn(), nullptr) << static_cast<int>(version);
  }
}

TEST_F(JunctionTest, LoopbackAddressesAndTheDnsNameReachThisComputersShares) {
  m().WriteText("C:\\Data\\a.txt", "a");
  for (const char* spelling : {"\\\\127.0.0.2\\C$\\Data\\a.txt", "\\\\127.1.2.3\\C$\\Data\\a.txt",
                               "\\\\winsim.example.com\\C$\\Data\\a.txt"})
    EXPECT_EQ(Find(spelling), std::vector<std::string>{"a.txt"}) << spelling;
  for (const char* spelling : {"\\\\128.0.0.1\\C$\\Data\\a.txt", "\\\\127.0.0\\C$\\Data\\a.txt",
                               "\\\\other.example.com\\C$\\Data\\a.txt"})
    EXPECT_NE(Find(spelling), std::vector<std::string>{"a.txt"}) << spelling;
}

}  // namespace
