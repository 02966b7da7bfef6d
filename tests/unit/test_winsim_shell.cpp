// Shell folders through both routes, the shell allocator, SHFileOperationA
// and SHChangeNotify.
#include <cstring>

#include "test_winsim_support.h"

namespace {

using namespace winsim_test;

typedef HRESULT(WINAPI* SHGetFolderPathA_fn)(HWND, int, HANDLE, DWORD, LPSTR);

class ShellTest : public WinsimTest {
 protected:
  // The shfolder route as the program takes it; the buffer starts as "unchanged".
  std::string ViaShFolder(int csidl, HRESULT* hr) {
    char buf[MAX_PATH] = "unchanged";
    HMODULE lib = LoadLibraryA("shfolder.dll");
    auto fn = reinterpret_cast<SHGetFolderPathA_fn>(
        reinterpret_cast<void (*)()>(lib ? GetProcAddress(lib, "SHGetFolderPathA") : nullptr));
    *hr = fn ? fn(nullptr, csidl, nullptr, 0, buf) : E_INVALIDARG;
    if (lib) FreeLibrary(lib);
    return buf;
  }
  // The item-list route as the program takes it.
  std::string ViaItemList(int csidl, HRESULT* hr) {
    char buf[MAX_PATH] = "unchanged";
    LPITEMIDLIST pidl = nullptr;
    *hr = SHGetSpecialFolderLocation(nullptr, csidl, &pidl);
    if (FAILED(*hr)) return buf;
    if (!SHGetPathFromIDListA(pidl, buf)) *hr = E_FAIL;
    IMalloc* malloc = nullptr;
    if (SUCCEEDED(SHGetMalloc(&malloc))) {
      malloc->Free(pidl);
      malloc->Release();
    }
    return buf;
  }
  static int Op(UINT func, const char* from, const char* to, FILEOP_FLAGS flags = 0x614) {
    SHFILEOPSTRUCTA op = {};
    op.wFunc = func;
    op.pFrom = from;
    op.pTo = to;
    op.fFlags = flags;
    return SHFileOperationA(&op);
  }
};

TEST_F(ShellTest, BothRoutesGiveTheFoldersOfANewerWindows) {
  HRESULT hr;
  EXPECT_EQ(ViaShFolder(CSIDL_PROGRAM_FILES, &hr), "C:\\Program Files");
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(ViaShFolder(CSIDL_COMMON_DOCUMENTS, &hr), "C:\\Documents and Settings\\All Users\\Documents");
  EXPECT_EQ(ViaItemList(CSIDL_PERSONAL, &hr), "C:\\Documents and Settings\\User\\My Documents");
  EXPECT_EQ(hr, S_OK);
  EXPECT_TRUE(m().outstanding().Clean()) << m().outstanding().Describe();
}

TEST_F(ShellTest, OlderShellsDoNotKnowTheNewerFoldersThroughItemLists) {
  Use(WindowsVersion::NT4);
  HRESULT hr;
  EXPECT_EQ(ViaItemList(CSIDL_COMMON_DESKTOPDIRECTORY, &hr), "C:\\WINNT\\Profiles\\All Users\\Desktop");
  for (int csidl : {CSIDL_WINDOWS, CSIDL_PROGRAM_FILES, CSIDL_COMMON_DOCUMENTS}) {
    EXPECT_EQ(ViaItemList(csidl, &hr), "unchanged") << csidl;
    EXPECT_EQ(hr, E_INVALIDARG) << csidl;
  }
}

TEST_F(ShellTest, EachRouteFailsOnItsOwn) {
  m().FailShellFolder(CSIDL_PERSONAL, FolderRoute::ShFolder, S_FALSE);
  m().FailShellFolder(CSIDL_DESKTOP, FolderRoute::ItemList, E_FAIL);
  HRESULT hr;
  EXPECT_EQ(ViaShFolder(CSIDL_PERSONAL, &hr), "unchanged") << "the buffer is not written";
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(ViaItemList(CSIDL_PERSONAL, &hr), "C:\\Documents and Settings\\User\\My Documents");
  EXPECT_EQ(ViaItemList(CSIDL_DESKTOP, &hr), "unchanged");
  EXPECT_EQ(hr, E_FAIL);
  EXPECT_EQ(ViaShFolder(CSIDL_DESKTOP, &hr), "C:\\Documents and Settings\\User\\Desktop");
}

TEST_F(ShellTest, AFolderThatDoesNotExistGivesSFalse) {
  m().RemoveTree("C:\\Documents and Settings\\All Users\\Documents");
  HRESULT hr;
  EXPECT_EQ(ViaShFolder(CSIDL_COMMON_DOCUMENTS, &hr), "unchanged");
  EXPECT_EQ(hr, S_FALSE);
}

TEST_F(ShellTest, WithoutShfolderDllTheRouteCannotStart) {
  m().RemoveSystemModule("shfolder.dll");
  EXPECT_EQ(LoadLibraryA("shfolder.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(ShellTest, TheAllocatorCountsItemListsAndReferences) {
  LPITEMIDLIST pidl = nullptr;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &pidl), S_OK);
  EXPECT_EQ(m().outstanding().pidls, 1);
  IMalloc* malloc = nullptr;
  ASSERT_EQ(SHGetMalloc(&malloc), S_OK);
  EXPECT_EQ(m().outstanding().mallocRefs, 1);
  malloc->Free(pidl);
  malloc->Free(pidl);
  EXPECT_EQ(Last("Misuse"), "IMalloc::Free | memory not from this allocator, or freed twice");
  malloc->Release();
  EXPECT_TRUE(m().outstanding().Clean()) << m().outstanding().Describe();
}

TEST_F(ShellTest, AFailingAllocatorLeavesTheItemListUnfreed) {
  m().faults.shGetMalloc = E_FAIL;
  HRESULT hr;
  EXPECT_EQ(ViaItemList(CSIDL_DESKTOP, &hr), "C:\\Documents and Settings\\User\\Desktop");
  EXPECT_EQ(m().outstanding().pidls, 1);
}

TEST_F(ShellTest, CopyingADirectoryIntoADirectoryCopiesTheWholeTree) {
  m().WriteText("C:\\dist\\Docs\\guide.txt", "new");
  m().WriteText("C:\\dist\\Docs\\img\\a.png", "png");
  m().WriteText("D:\\FTP\\Docs\\guide.txt", "old");
  char from[MAX_PATH] = {};
  std::strcpy(from, "C:\\dist\\Docs");
  char to[MAX_PATH] = {};
  std::strcpy(to, "D:\\FTP");
  EXPECT_EQ(Op(FO_COPY, from, to), 0);
  EXPECT_EQ(Text("D:\\FTP\\Docs\\guide.txt"), "new") << "overwritten without asking";
  EXPECT_EQ(Text("D:\\FTP\\Docs\\img\\a.png"), "png");
  EXPECT_EQ(Last("SHFileOperation"), "FO_COPY | C:\\dist\\Docs | D:\\FTP | 0x614 | 0");
}

TEST_F(ShellTest, DeletingATreeSkipsWhatIsHeldOpen) {
  m().WriteText("D:\\FTP\\Docs\\a.txt", "x");
  m().WriteText("D:\\FTP\\Docs\\sub\\held.txt", "x");
  m().WriteText("D:\\FTP\\Docs\\sub\\ro.txt", "x");
  m().SetAttributes("D:\\FTP\\Docs\\sub\\ro.txt", FILE_ATTRIBUTE_READONLY);
  m().Hold("D:\\FTP\\Docs\\sub\\held.txt");
  EXPECT_NE(Op(FO_DELETE, "D:\\FTP\\Docs\0", nullptr), 0);
  EXPECT_EQ(m().Tree("D:\\FTP"), (std::vector<std::string>{"Docs", "Docs\\sub", "Docs\\sub\\held.txt"}));
}

TEST_F(ShellTest, DeletingAMissingTreeFails) {
  EXPECT_EQ(Op(FO_DELETE, "D:\\FTP\\Assets\0", nullptr), static_cast<int>(ERROR_PATH_NOT_FOUND));
}

TEST_F(ShellTest, DoubleNulListsNameSeveralSources) {
  m().WriteText("C:\\a\\one.txt", "1");
  m().WriteText("C:\\a\\two.txt", "2");
  EXPECT_EQ(Op(FO_DELETE, "C:\\a\\one.txt\0C:\\a\\two.txt\0", nullptr), 0);
  EXPECT_TRUE(m().List("C:\\a").empty());
  EXPECT_EQ(Last("SHFileOperation"), "FO_DELETE | C:\\a\\one.txt|C:\\a\\two.txt |  | 0x614 | 0");
}

TEST_F(ShellTest, CopiesStopAtMaxPath) {
  std::string deep = "D:\\" + std::string(240, 'p');
  m().MakeDirs(deep);
  m().WriteText("C:\\dist\\Docs\\a-rather-long-file-name.txt", "x");
  std::string to = deep + std::string(1, '\0');
  EXPECT_EQ(Op(FO_COPY, "C:\\dist\\Docs\0", to.c_str()), static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
  for (const auto& p : m().Tree("D:\\")) EXPECT_LE(p.size() + 3, 259u) << p;
}

TEST_F(ShellTest, ChangeNotificationsAreJournaled) {
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  EXPECT_EQ(Last("SHChangeNotify"), "0x8000000 | 0x0 |  | ");
}

TEST_F(ShellTest, TheFolderPickerAnswersFromTheScript) {
  BROWSEINFOA bi = {};
  char name[MAX_PATH];
  bi.pszDisplayName = name;
  bi.lpszTitle = "Choose";
  EXPECT_EQ(SHBrowseForFolderA(&bi), nullptr) << "cancelled when unscripted";
  m().ScriptBrowseForFolder("D:\\Apps\\FTP");
  LPITEMIDLIST pidl = SHBrowseForFolderA(&bi);
  ASSERT_NE(pidl, nullptr);
  char path[MAX_PATH];
  EXPECT_TRUE(SHGetPathFromIDListA(pidl, path));
  EXPECT_STREQ(path, "D:\\Apps\\FTP");
  EXPECT_STREQ(name, "FTP");
}

}  // namespace
