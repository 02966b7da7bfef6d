// COM initialisation and the shell link object whose Save writes a real
// shell link file.
#include <winsim/lnk.h>

#include "test_winsim_support.h"

namespace {

using namespace winsim_test;

class ComTest : public WinsimTest {
 protected:
  // Creates, fills and saves a link as the product does; returns Save's result.
  HRESULT SaveLink(const wchar_t* path) {
    IShellLinkA* link = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                  reinterpret_cast<void**>(&link));
    if (FAILED(hr)) return hr;
    link->SetPath("C:\\Program Files\\VORTAN\\FTP\\QXFTP.EXE");
    link->SetWorkingDirectory("C:\\Program Files\\VORTAN\\FTP");
    link->SetDescription("VORTAN FTP");
    IPersistFile* file = nullptr;
    hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
    if (SUCCEEDED(hr)) {
      hr = file->Save(path, TRUE);
      file->Release();
    }
    link->Release();
    return hr;
  }
};

TEST_F(ComTest, InitialisationCountsPerThread) {
  EXPECT_EQ(CoInitialize(nullptr), S_OK);
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  EXPECT_EQ(m().outstanding().comInitialised, 2) << "S_FALSE needs its CoUninitialize too";
  CoUninitialize();
  CoUninitialize();
  CoUninitialize();
  EXPECT_EQ(Last("Misuse"), "CoUninitialize | without a matching CoInitialize");
  EXPECT_EQ(m().outstanding().comInitialised, 0);
}

TEST_F(ComTest, AThreadAlreadyInitialisedGetsSFalse) {
  m().faults.comAlreadyInitialised = true;
  EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
  CoUninitialize();
}

TEST_F(ComTest, SaveWritesALinkFileThatReadsBack) {
  ASSERT_EQ(CoInitialize(nullptr), S_OK);
  m().MakeDirs("C:\\Documents and Settings\\All Users\\Desktop");
  EXPECT_EQ(SaveLink(L"C:\\Documents and Settings\\All Users\\Desktop\\VORTAN FTP.LNK"), S_OK);
  CoUninitialize();
  auto bytes = m().ReadBytes("C:\\Documents and Settings\\All Users\\Desktop\\VORTAN FTP.LNK");
  ASSERT_TRUE(bytes);
  winsim::ShellLinkData data;
  ASSERT_TRUE(winsim::ParseShellLink(*bytes, data));
  EXPECT_EQ(data.target, "C:\\Program Files\\VORTAN\\FTP\\QXFTP.EXE");
  EXPECT_EQ(data.workingDir, "C:\\Program Files\\VORTAN\\FTP");
  EXPECT_EQ(data.description, "VORTAN FTP");
  EXPECT_EQ(m().savedLinks().size(), 1u);
  EXPECT_TRUE(m().outstanding().Clean()) << m().outstanding().Describe();
}

TEST_F(ComTest, SavingIntoAMissingFolderFailsWithTheWin32Error) {
  CoInitialize(nullptr);
  EXPECT_EQ(SaveLink(L"C:\\Nowhere\\x.lnk"), HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
  CoUninitialize();
}

TEST_F(ComTest, CreationNeedsComAndCanBeMadeToFail) {
  EXPECT_EQ(SaveLink(L"C:\\x.lnk"), CO_E_NOTINITIALIZED);
  CoInitialize(nullptr);
  m().faults.coCreateInstance = REGDB_E_CLASSNOTREG;
  EXPECT_EQ(SaveLink(L"C:\\x.lnk"), REGDB_E_CLASSNOTREG);
  m().faults.coCreateInstance.reset();
  m().faults.persistFileSave = E_ACCESSDENIED;
  EXPECT_EQ(SaveLink(L"C:\\x.lnk"), E_ACCESSDENIED);
  EXPECT_FALSE(m().Exists("C:\\x.lnk"));
  CoUninitialize();
  EXPECT_EQ(m().outstanding().comObjects, 0);
}

TEST_F(ComTest, AnUnreleasedLinkIsCounted) {
  CoInitialize(nullptr);
  IShellLinkA* link = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                             reinterpret_cast<void**>(&link)),
            S_OK);
  IUnknown* unknown = nullptr;
  EXPECT_EQ(link->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
  unknown->Release();
  EXPECT_EQ(m().outstanding().comObjects, 1);
  CoUninitialize();
}

}  // namespace
