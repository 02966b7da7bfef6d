// Modules (search order, sim DLLs, exports, image holds) and the two
// run-time-bound installers: VerInstallFileA and SetupIterateCabinetA.
#include <cstring>

#include <szdd/szdd.h>

#include "certificate_cabinet.h"
#include "test_winsim_support.h"

namespace {

using namespace winsim_test;

typedef HRESULT(WINAPI* DllEntry_fn)();
typedef DWORD(WINAPI* VerInstallFileA_fn)(DWORD, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPSTR, PUINT);
typedef BOOL(WINAPI* SetupIterateCabinetA_fn)(PCSTR, DWORD, PSP_FILE_CALLBACK_A, PVOID);

template <typename F>
F Bind(HMODULE m, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(m, name)));
}

class ModulesTest : public WinsimTest {};

TEST_F(ModulesTest, ABareNameIsLookedForBesideTheProgramFirst) {
  m().SetProgramPath("C:\\dist\\Setup.exe");
  m().PlantSimDll("C:\\dist\\shfolder.dll");
  HMODULE h = LoadLibraryA("SHFOLDER.DLL");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Last("LoadLibrary"), "SHFOLDER.DLL | C:\\dist\\shfolder.dll | 0");
  EXPECT_EQ(GetProcAddress(h, "SHGetFolderPathA"), nullptr) << "the planted DLL does not export it";
  FreeLibrary(h);
  h = LoadLibraryA("C:\\WINDOWS\\system32\\shfolder.dll");
  EXPECT_NE(Bind<void (*)()>(h, "SHGetFolderPathA"), nullptr) << "a full path loads exactly that file";
  FreeLibrary(h);
}

TEST_F(ModulesTest, ImportsAreSoughtBesideTheProgramUnlessTheSearchPathIsAltered) {
  m().SetProgramPath("C:\\dist\\Setup.exe");
  m().PlantSimDll("C:\\inst\\SRV.DLL", {}, {"HELP.DLL"});
  m().PlantSimDll("C:\\dist\\HELP.DLL", {"Planted"});
  m().PlantSimDll(m().SystemDir() + "\\HELP.DLL", {"System"});
  HMODULE h = LoadLibraryA("C:\\inst\\SRV.DLL");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Last("LoadImport"), "C:\\inst\\SRV.DLL | HELP.DLL | C:\\dist\\HELP.DLL | 0");
  FreeLibrary(h);
  EXPECT_EQ(Last("FreeLibrary"), "C:\\dist\\HELP.DLL | 0") << "the import goes with its importer";

  h = LoadLibraryExA("C:\\inst\\SRV.DLL", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(Last("LoadImport"), "C:\\inst\\SRV.DLL | HELP.DLL | " + m().SystemDir() + "\\HELP.DLL | 0");
  FreeLibrary(h);
  m().PlantSimDll("C:\\inst\\HELP.DLL", {"Beside"});
  h = LoadLibraryExA("C:\\inst\\SRV.DLL", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  EXPECT_EQ(Last("LoadImport"), "C:\\inst\\SRV.DLL | HELP.DLL | C:\\inst\\HELP.DLL | 0")
      << "the DLL's own directory comes first";
  FreeLibrary(h);
  EXPECT_TRUE(m().outstanding().Clean()) << m().outstanding().Describe();
}

TEST_F(ModulesTest, AnImportThatCannotBeFoundFailsTheLoad) {
  m().PlantSimDll("C:\\inst\\SRV.DLL", {}, {"NOWHERE.DLL"});
  EXPECT_EQ(LoadLibraryExA("C:\\inst\\SRV.DLL", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(Last("LoadImport"), "C:\\inst\\SRV.DLL | NOWHERE.DLL |  | 126");
  EXPECT_TRUE(m().outstanding().Clean()) << m().outstanding().Describe();
}

TEST_F(ModulesTest, DllIsAssumedAndLoadsAreCounted) {
  HMODULE a = LoadLibraryA("version");
  HMODULE b = LoadLibraryA("VERSION.DLL");
  EXPECT_EQ(a, b);
  EXPECT_EQ(m().outstanding().modules, 2);
  FreeLibrary(a);
  FreeLibrary(b);
  EXPECT_EQ(m().outstanding().modules, 0);
  EXPECT_EQ(FreeLibrary(a), FALSE);
  EXPECT_EQ(Last("Misuse"), "FreeLibrary | unknown module handle");
}

TEST_F(ModulesTest, OnlySimDllImagesLoad) {
  m().WriteText("C:\\x\\plain.dll", "MZ\x90\0 not ours");
  EXPECT_EQ(LoadLibraryA("C:\\x\\plain.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
  EXPECT_EQ(LoadLibraryA("C:\\x\\none.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(ModulesTest, ServerEntriesKnowTheirDll) {
  m().PlantSimDll("C:\\A\\QXFTP.DLL");
  m().PlantSimDll("C:\\B\\QXFTP.DLL", {"DllRegisterServer"});
  HMODULE a = LoadLibraryA("C:\\A\\QXFTP.DLL");
  HMODULE b = LoadLibraryA("C:\\B\\QXFTP.DLL");
  ASSERT_NE(a, b);
  auto regB = Bind<DllEntry_fn>(b, "DllRegisterServer");
  auto unregA = Bind<DllEntry_fn>(a, "DllUnregisterServer");
  EXPECT_EQ(Bind<DllEntry_fn>(b, "DllUnregisterServer"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  ASSERT_TRUE(regB && unregA);
  EXPECT_EQ(regB(), S_OK);
  EXPECT_EQ(unregA(), S_OK);
  EXPECT_EQ(Last("DllRegisterServer"), "C:\\B\\QXFTP.DLL");
  EXPECT_EQ(Last("DllUnregisterServer"), "C:\\A\\QXFTP.DLL");
  FreeLibrary(a);
  EXPECT_EQ(unregA(), E_UNEXPECTED);
  EXPECT_EQ(Last("Misuse"), "DllUnregisterServer | called after FreeLibrary");
  FreeLibrary(b);
}

TEST_F(ModulesTest, ALoadedDllIsMappedUntilFreed) {
  m().PlantSimDll("C:\\A\\QXFTP.DLL");
  HMODULE h = LoadLibraryA("C:\\A\\QXFTP.DLL");
  EXPECT_EQ(Result(DeleteFileA("C:\\A\\QXFTP.DLL")), "error 5");
  EXPECT_EQ(Result(CopyFileA("C:\\A\\QXFTP.DLL", "C:\\A\\QXFTP.DLL", FALSE)), "error 32");
  char path[MAX_PATH];
  EXPECT_EQ(GetModuleFileNameA(h, path, sizeof path), 14u);
  EXPECT_STREQ(path, "C:\\A\\QXFTP.DLL");
  FreeLibrary(h);
  EXPECT_EQ(Result(DeleteFileA("C:\\A\\QXFTP.DLL")), "ok");
}

// ---- VerInstallFileA -----------------------------------------------------------------------------

class VerInstallTest : public WinsimTest {
 protected:
  DWORD Install(DWORD flags, const char* src, const char* dst, const char* srcDir, const char* dstDir,
                const char* curDir, UINT tmpSize = 0) {
    HMODULE lib = LoadLibraryA("version.dll");
    auto fn = Bind<VerInstallFileA_fn>(lib, "VerInstallFileA");
    char tmp[MAX_PATH] = "";
    tmpLen = tmpSize;
    DWORD r = fn ? fn(flags, src, dst, srcDir, dstDir, curDir, tmp, &tmpLen) : 0xDEAD;
    tmpName = tmp;
    FreeLibrary(lib);
    return r;
  }
  // What the last Install left in its temporary-file buffer and length.
  std::string tmpName;
  UINT tmpLen = 0;
  // The installer's temporary files in dir, with their sizes.
  std::vector<std::string> Temporaries(const std::string& dir) {
    std::vector<std::string> found;
    for (const auto& name : m().List(dir))
      if (name.rfind("ver", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".TMP")
        found.push_back(name + ":" + std::to_string(m().ReadBytes(dir + "\\" + name)->size()));
    return found;
  }
  void Packed(const std::string& path, const std::string& content, char last) {
    auto packed = szdd::Compress(reinterpret_cast<const uint8_t*>(content.data()), content.size(), last);
    m().WriteBytes(path, packed);
  }
};

TEST_F(VerInstallTest, PackedSourcesAreExpandedAndKeepTheirTime) {
  Packed("C:\\dist\\QXFTP.EX_", "MZ program", 'E');
  FILETIME t{0x11111111, 0x01C40000};
  m().SetWriteTime("C:\\dist\\QXFTP.EX_", t);
  m().MakeDirs("D:\\FTP");
  EXPECT_EQ(Install(VIFF_FORCEINSTALL, "QXFTP.EX_", "QXFTP.EXE", "C:\\dist", "D:\\FTP", "C:\\dist"), 0u);
  EXPECT_EQ(Text("D:\\FTP\\QXFTP.EXE"), "MZ program");
  EXPECT_EQ(m().WriteTime("D:\\FTP\\QXFTP.EXE").dwLowDateTime, t.dwLowDateTime);
  EXPECT_EQ(Last("VerInstallFile"), "0x1 | QXFTP.EX_ | QXFTP.EXE | C:\\dist | D:\\FTP | C:\\dist | 0");
}

TEST_F(VerInstallTest, PlainSourcesAreCopiedAndReplaceTheOldFile) {
  m().WriteText("C:\\dist\\CA2.0_", "plain");
  m().WriteText("D:\\FTP\\CA2.0", "old");
  EXPECT_EQ(Install(VIFF_FORCEINSTALL, "CA2.0_", "CA2.0", "C:\\dist", "D:\\FTP", "C:\\dist"), 0u);
  EXPECT_EQ(Text("D:\\FTP\\CA2.0"), "plain");
}

TEST_F(VerInstallTest, FailuresReportTheirFlags) {
  m().MakeDirs("D:\\FTP");
  EXPECT_EQ(Install(1, "NONE.EX_", "NONE.EXE", "C:\\dist", "D:\\FTP", "C:\\dist"), static_cast<DWORD>(VIF_CANNOTREADSRC));
  m().WriteText("C:\\dist\\A.EX_", "a");
  m().WriteText("D:\\FTP\\A.EXE", "ro");
  m().SetAttributes("D:\\FTP\\A.EXE", FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Install(1, "A.EX_", "A.EXE", "C:\\dist", "D:\\FTP", "C:\\dist"), static_cast<DWORD>(VIF_WRITEPROT));
  m().WriteText("D:\\FTP\\B.DLL", "in use");
  m().Hold("D:\\FTP\\B.DLL", FILE_SHARE_READ);
  EXPECT_EQ(Install(1, "A.EX_", "B.DLL", "C:\\dist", "D:\\FTP", "C:\\dist"),
            static_cast<DWORD>(VIF_FILEINUSE | VIF_TEMPFILE | VIF_BUFFTOOSMALL));
  EXPECT_EQ(Text("D:\\FTP\\B.DLL"), "in use");
  EXPECT_EQ(Install(1, "A.EX_", "A.EXE", "C:\\dist", "D:\\Nowhere", "C:\\dist"), static_cast<DWORD>(VIF_CANNOTCREATE));
}

TEST_F(VerInstallTest, CorruptPackedSourcesWriteNothing) {
  Packed("C:\\dist\\QXFTP.EX_", std::string(5000, 'z') + "tail", 'E');
  auto bytes = *m().ReadBytes("C:\\dist\\QXFTP.EX_");
  bytes.resize(bytes.size() / 2);
  m().WriteBytes("C:\\dist\\QXFTP.EX_", bytes);
  m().MakeDirs("D:\\FTP");
  EXPECT_EQ(Install(1, "QXFTP.EX_", "QXFTP.EXE", "C:\\dist", "D:\\FTP", "C:\\dist"),
            static_cast<DWORD>(VIF_CANNOTREADSRC));
  EXPECT_TRUE(m().List("D:\\FTP").empty());
}

TEST_F(VerInstallTest, AnOldCopyInTheCurrentDirectoryIsDeletedUnlessKept) {
  m().WriteText("C:\\dist\\QXFTP.EX_", "new");
  m().WriteText("C:\\cur\\QXFTP.EXE", "previous version");
  m().MakeDirs("D:\\FTP");
  EXPECT_EQ(Install(VIFF_FORCEINSTALL | VIFF_DONTDELETEOLD, "QXFTP.EX_", "QXFTP.EXE", "C:\\dist", "D:\\FTP", "C:\\cur"), 0u);
  EXPECT_TRUE(m().Exists("C:\\cur\\QXFTP.EXE"));
  EXPECT_EQ(Install(VIFF_FORCEINSTALL, "QXFTP.EX_", "QXFTP.EXE", "C:\\dist", "D:\\FTP", "C:\\cur"), 0u);
  EXPECT_FALSE(m().Exists("C:\\cur\\QXFTP.EXE"));
  EXPECT_EQ(Install(VIFF_FORCEINSTALL, "QXFTP.EX_", "QXFTP.EXE", "C:\\dist", "D:\\FTP", "d:\\ftp"), 0u);
  EXPECT_TRUE(m().Exists("D:\\FTP\\QXFTP.EXE")) << "the destination itself is not an old copy";
}

TEST_F(VerInstallTest, ADestinationInUseKeepsTheNewCopyAsANamedTemporaryFile) {
  m().WriteText("C:\\dist\\QXFTP.DL_", "new dll");
  m().WriteText("D:\\FTP\\QXFTP.DLL", "old dll");
  m().Hold("D:\\FTP\\QXFTP.DLL", FILE_SHARE_READ);
  EXPECT_EQ(Install(3, "QXFTP.DL_", "QXFTP.DLL", "C:\\dist", "D:\\FTP", "C:\\dist", MAX_PATH),
            static_cast<DWORD>(VIF_FILEINUSE | VIF_TEMPFILE));
  EXPECT_EQ(Text("D:\\FTP\\QXFTP.DLL"), "old dll");
  ASSERT_EQ(Temporaries("D:\\FTP"), std::vector<std::string>{tmpName + ":7"});
  EXPECT_EQ(tmpLen, tmpName.size() + 1);
  EXPECT_EQ(Text("D:\\FTP\\" + tmpName), "new dll") << "the caller owns the named copy";
}

TEST_F(VerInstallTest, ABufferTooSmallForTheNameGetsTheSizeNeededAndTheFileStaysUnnamed) {
  m().WriteText("C:\\dist\\QXFTP.DL_", "new dll");
  m().WriteText("D:\\FTP\\QXFTP.DLL", "old dll");
  m().Hold("D:\\FTP\\QXFTP.DLL", FILE_SHARE_READ);
  EXPECT_EQ(Install(3, "QXFTP.DL_", "QXFTP.DLL", "C:\\dist", "D:\\FTP", "C:\\dist", 4),
            static_cast<DWORD>(VIF_FILEINUSE | VIF_TEMPFILE | VIF_BUFFTOOSMALL));
  EXPECT_EQ(tmpName, "");
  auto left = Temporaries("D:\\FTP");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(tmpLen, left[0].find(':') + 1) << left[0];
}

TEST_F(VerInstallTest, AFullVolumeGivesOutOfSpaceAndLeavesTheTemporaryFileBehind) {
  m().WriteText("C:\\dist\\QXFTP.EX_", std::string(300, 'x'));
  m().MakeDirs("D:\\FTP");
  m().SetVolumeCapacity("D:\\", 200);
  EXPECT_EQ(Install(3, "QXFTP.EX_", "QXFTP.EXE", "C:\\dist", "D:\\FTP", "C:\\dist", MAX_PATH),
            static_cast<DWORD>(VIF_OUTOFSPACE));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(tmpName, "") << "no VIF_TEMPFILE: the name is not given";
  EXPECT_FALSE(m().Exists("D:\\FTP\\QXFTP.EXE"));
  EXPECT_EQ(Temporaries("D:\\FTP").size(), 1u);
  m().SetVolumeCapacity("D:\\", 300);
  EXPECT_EQ(Install(3, "QXFTP.EX_", "QXFTP.EXE", "C:\\dist", "D:\\FTP", "C:\\dist", MAX_PATH), 0u);
  EXPECT_EQ(m().VolumeUsed("D:\\"), 300u);
  EXPECT_EQ(Temporaries("D:\\FTP").size(), 1u) << "only the earlier, empty one";
}

TEST_F(VerInstallTest, ADirectoryWithoutRoomForTheTemporaryNameCannotBeInstalledTo) {
  m().WriteText("C:\\dist\\A.EX_", "a");
  std::string dir = "D:\\" + std::string(MAX_PATH - 14 - 2, 'd');
  m().MakeDirs(dir);
  EXPECT_EQ(Install(3, "A.EX_", "A.EXE", "C:\\dist", dir.c_str(), "C:\\dist", MAX_PATH),
            static_cast<DWORD>(VIF_CANNOTCREATE));
  EXPECT_TRUE(m().List(dir).empty());
}

// ---- SetupIterateCabinetA ----------------------------------------------------------------------------------

// gcab -c -z of cert.pem ("CERT-PEM\n") and root.0 ("ROOT0\n").
using test_data::kGoodCabinet;

struct CabinetRun {
  std::vector<std::string> calls;  // "notification:detail"
  std::string targetDir = "D:\\Certs";
  UINT answer = FILEOP_DOIT;
  UINT afterExtract = NO_ERROR;
};

UINT CALLBACK CabinetCallback(PVOID context, UINT notification, UINT_PTR p1, UINT_PTR p2) {
  auto* run = static_cast<CabinetRun*>(context);
  if (notification == SPFILENOTIFY_CABINETINFO) {
    run->calls.push_back("info:" + std::string(reinterpret_cast<CABINET_INFO_A*>(p1)->CabinetFile));
  } else if (notification == SPFILENOTIFY_FILEINCABINET) {
    auto* info = reinterpret_cast<FILE_IN_CABINET_INFO_A*>(p1);
    bool zeroed = true;
    for (char c : info->FullTargetName) zeroed = zeroed && c == 0;
    run->calls.push_back("file:" + std::string(info->NameInCabinet) + ":" + std::to_string(info->FileSize) +
                         (zeroed ? "" : ":target not zeroed") + ":" + reinterpret_cast<const char*>(p2));
    std::string target = run->targetDir + "\\" + info->NameInCabinet;
    std::strncpy(info->FullTargetName, target.c_str(), MAX_PATH - 1);
    return run->answer;
  } else if (notification == SPFILENOTIFY_FILEEXTRACTED) {
    auto* paths = reinterpret_cast<FILEPATHS_A*>(p1);
    run->calls.push_back("extracted:" + std::string(paths->Target) + ":" + std::to_string(paths->Win32Error));
    return run->afterExtract;
  }
  return NO_ERROR;
}

class CabinetTest : public WinsimTest {
 protected:
  std::string Iterate(const char* cabinet, CabinetRun& run) {
    HMODULE lib = LoadLibraryA("setupapi.dll");
    auto fn = Bind<SetupIterateCabinetA_fn>(lib, "SetupIterateCabinetA");
    BOOL ok = fn(cabinet, 0, &CabinetCallback, &run);
    std::string r = Result(ok);
    FreeLibrary(lib);
    return r;
  }
};

TEST_F(CabinetTest, EachMemberIsOfferedAndExtractedWhereTheCallbackSays) {
  m().WriteBytes("C:\\dist\\Qxcerts.Cab", kGoodCabinet);
  m().MakeDirs("D:\\Certs");
  CabinetRun run;
  EXPECT_EQ(Iterate("C:\\dist\\Qxcerts.Cab", run), "ok");
  EXPECT_EQ(run.calls, (std::vector<std::string>{"info:Qxcerts.Cab", "file:cert.pem:9:C:\\dist\\Qxcerts.Cab",
                                                 "extracted:D:\\Certs\\cert.pem:0", "file:root.0:6:C:\\dist\\Qxcerts.Cab",
                                                 "extracted:D:\\Certs\\root.0:0"}));
  EXPECT_EQ(Text("D:\\Certs\\cert.pem"), "CERT-PEM\n");
  EXPECT_EQ(Text("D:\\Certs\\root.0"), "ROOT0\n");
}

TEST_F(CabinetTest, SkippingAndAbortingAreHonoured) {
  m().WriteBytes("C:\\dist\\Qxcerts.Cab", kGoodCabinet);
  m().MakeDirs("D:\\Certs");
  CabinetRun skip;
  skip.answer = FILEOP_SKIP;
  EXPECT_EQ(Iterate("C:\\dist\\Qxcerts.Cab", skip), "ok");
  EXPECT_TRUE(m().List("D:\\Certs").empty());
  CabinetRun abort;
  abort.answer = FILEOP_ABORT;
  EXPECT_NE(Iterate("C:\\dist\\Qxcerts.Cab", abort), "ok");
  EXPECT_EQ(abort.calls.size(), 2u) << "info, then the first member only";
}

TEST_F(CabinetTest, AMissingCabinetCallsNothing) {
  CabinetRun run;
  EXPECT_EQ(Iterate("C:\\dist\\Qxcerts.Cab", run), "error 2");
  EXPECT_TRUE(run.calls.empty());
}

TEST_F(CabinetTest, AMissingTargetDirectoryStopsTheIteration) {
  m().WriteBytes("C:\\dist\\Qxcerts.Cab", kGoodCabinet);
  CabinetRun run;
  EXPECT_EQ(Iterate("C:\\dist\\Qxcerts.Cab", run), "error 3");
  EXPECT_EQ(run.calls.back(), "extracted:D:\\Certs\\cert.pem:3");
}

TEST_F(CabinetTest, ACorruptCabinetDeliversWhatItCouldReadThenFails) {
  auto truncated = kGoodCabinet;
  truncated.resize(60);
  m().WriteBytes("C:\\dist\\Qxcerts.Cab", truncated);
  m().MakeDirs("D:\\Certs");
  CabinetRun run;
  EXPECT_NE(Iterate("C:\\dist\\Qxcerts.Cab", run), "ok");
  EXPECT_TRUE(m().List("D:\\Certs").empty());
  m().WriteText("C:\\dist\\Qxcerts.Cab", "not a cabinet at all");
  CabinetRun other;
  EXPECT_NE(Iterate("C:\\dist\\Qxcerts.Cab", other), "ok");
  EXPECT_TRUE(other.calls.empty());
}

}  // namespace
