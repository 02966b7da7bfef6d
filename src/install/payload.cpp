// Payload installation: the five packed program files through the
// version-aware installer, the certificates, and every other entry of the
// source directory.
#include "install/created.h"
#include "install/install.h"

#include <cstdio>
#include <cstring>

PathBuffer certificatesDir = {};

namespace {

typedef BOOL(WINAPI* SetupIterateCabinetA_fn)(PCSTR, DWORD, PSP_FILE_CALLBACK_A, PVOID);

struct PackedFile {
  const char* source;
  const char* installed;
};

const PackedFile kProgramFiles[] = {
    {"QXFTP.EX_", "QXFTP.EXE"},
    {"UNINS.EX_", "UNINS.EXE"},
    {"QXFTP.HL_", "QXFTP.HLP"},
    {"QXFTP.CH_", "QXFTP.CHM"},
};
const PackedFile kServerLibrary = {"QXFTP.DL_", "QXFTP.DLL"};

// Files that stay beside the program in the installation directory instead
// of going to Config.
const char* const kTopLevelFiles[] = {"Start.FTP", "Startup.BMP", "Start.qft", "readme.htm"};
const char* const kNeverCopied[] = {"SETUP.EXE", "SETUP.INI", "QXCERTS.CAB"};

// VERSION.DLL is not imported: on some supported systems a copy planted
// beside Setup.exe would be loaded in its place. It is bound at run time from
// the system directory for the length of one payload installation.
class FileInstaller {
 public:
  FileInstaller() : library_(LoadSystemLibrary("version.dll")) {
    install_ = GetLibraryFunction<VerInstallFileA_fn>(library_, "VerInstallFileA");
  }
  ~FileInstaller() {
    if (library_ != nullptr) FreeLibrary(library_);
  }
  FileInstaller(const FileInstaller&) = delete;
  FileInstaller& operator=(const FileInstaller&) = delete;

  // VIFF_DONTDELETEOLD as well: with the start directory as the "current"
  // directory the installer otherwise deletes a file of the destination name
  // there, and that is usually the distribution itself (measured under Wine:
  // flags 1 deleted C:\cur\QXFTP.EXE, flags 3 kept it).
  //
  // The installer joins each directory and name into a 260-byte buffer of
  // its own and makes its temporary copy with GetTempFileNameA in the
  // destination directory; a join that cannot be a path is never handed to
  // it (Wine's installer overflowed on one and killed the process). Such a
  // file is not installed: VIF_CANNOTCREATE, with ERROR_FILENAME_EXCED_RANGE.
  DWORD Install(const char* source, const char* destination, const char* destinationDir) {
    if (!JoinFits(setupState.sourceDir, source) || !JoinFits(destinationDir, destination) ||
        std::strlen(destinationDir) > kTemporaryDirLimit) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return VIF_CANNOTCREATE;
    }
    if (install_ == nullptr) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return VIF_CANNOTREADSRC;
    }
    // A buffer of its real size, cleared: with VIFF_FORCEINSTALL a name
    // already in it would be taken for an earlier temporary copy.
    char temporary[kPathSize];
    temporary[0] = '\0';
    UINT temporaryLength = kPathSize;
    DWORD status = install_(VIFF_FORCEINSTALL | VIFF_DONTDELETEOLD, source, destination, setupState.sourceDir,
                            destinationDir, setupState.startDir, temporary, &temporaryLength);
    // VIF_TEMPFILE hands the new copy, left in the destination directory
    // under the name in the buffer, to the caller, who must delete it;
    // nothing here uses it.
    if ((status & VIF_TEMPFILE) && !(status & VIF_BUFFTOOSMALL)) {
      DWORD lastError = GetLastError();
      temporary[kPathSize - 1] = '\0';
      PathBuffer leftOver = {};
      if (temporary[0] != '\0' && CopyText(leftOver, kPathSize, destinationDir) &&
          JoinPath(leftOver, kPathSize, temporary))
        DeleteFileA(leftOver);
      SetLastError(lastError);
    }
    return status;
  }

 private:
  // The installer adds a backslash whether or not the directory ends in one.
  static bool JoinFits(const char* dir, const char* name) {
    return std::strlen(dir) + 1 + std::strlen(name) < kPathSize;
  }
  // GetTempFileNameA needs its directory to leave room for "\" and an 8.3 name.
  static constexpr size_t kTemporaryDirLimit = kPathSize - 14;

  HMODULE library_;
  VerInstallFileA_fn install_ = nullptr;
};

bool HasDriveLetter(const char* path) {
  char c = path[0];
  return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[1] == ':';
}

void RegisterServer(const char* dllPath) {
  HMODULE server = LoadServerLibrary(dllPath);
  if (server == nullptr) return;
  typedef HRESULT(WINAPI * DllRegisterServer_fn)();
  auto registerServer = GetLibraryFunction<DllRegisterServer_fn>(server, "DllRegisterServer");
  if (registerServer != nullptr) registerServer();
  FreeLibrary(server);
}

// The destination in use, as each platform says it: VIF_FILEINUSE on
// Windows; Wine reports the same cause as VIF_CANNOTDELETE with
// VIF_SHARINGVIOLATION.
bool IsInUse(DWORD status) {
  return (status & VIF_FILEINUSE) != 0 ||
         ((status & VIF_CANNOTDELETE) != 0 && (status & VIF_SHARINGVIOLATION) != 0);
}

// The server DLL: installed and registered; on the NT family a DLL in use is
// installed at the drive root and moved into place at the next restart.
bool InstallServerLibrary(FileInstaller& installer) {
  PathBuffer dllPath = {};
  bool pathFits = BuildPath(dllPath, setupState.installDir, kServerLibrary.installed);
  DWORD status = installer.Install(kServerLibrary.source, kServerLibrary.installed, setupState.installDir);
  DWORD lastError = GetLastError();
  if (status == 0) {
    if (pathFits) RegisterServer(dllPath);
    return true;
  }

  // The retry is for a DLL in use only: any other failure (a full disk, a
  // write-protected file) would fail again at the root, or leave the
  // installer's temporary copy there. It needs a real drive root; a UNC or
  // relative directory has none.
  if (IsNtFamily() && IsInUse(status) && HasDriveLetter(setupState.installDir) && pathFits) {
    char root[4] = {setupState.installDir[0], ':', '\\', '\0'};
    DWORD rootStatus = installer.Install(kServerLibrary.source, kServerLibrary.installed, root);
    if (rootStatus == 0) {
      PathBuffer staged = {};
      CopyText(staged, kPathSize, root);
      AppendText(staged, kPathSize, kServerLibrary.installed);
      if (ScheduleReplaceAtRestart(staged, dllPath)) return true;
      // Refused (a user without the right to schedule it): the DLL is not
      // installed, and the copy at the root would never be used.
      lastError = GetLastError();
      DeleteFileA(staged);
    } else {
      status = rootStatus;
      lastError = GetLastError();
    }
  }

  if (!setupState.quietParamsComplete) {
    char message[128];
    std::snprintf(message, sizeof(message), "Error code %X installing QXFTP.DLL.  GetLastError( ) returned %d.",
                  static_cast<unsigned>(status), static_cast<int>(lastError));
    MessageBoxA(nullptr, message, "Setup Error", MB_SETFOREGROUND | MB_ICONWARNING);
  }
  return false;
}

// Packed single certificates: CA1.0_ becomes Certs\CA1.0.
void InstallPackedCertificates(FileInstaller& installer) {
  PathBuffer pattern = {};
  if (!BuildPath(pattern, setupState.sourceDir, "*.0_")) return;
  WIN32_FIND_DATAA found = {};
  HANDLE find = FindFirstFileA(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    char destination[kPathSize] = {};
    CopyTextCut(destination, kPathSize, found.cFileName);
    size_t length = std::strlen(destination);
    if (length < 2) continue;
    destination[length - 1] = '\0';
    installer.Install(found.cFileName, destination, certificatesDir);
  } while (FindNextFileA(find, &found));
  FindClose(find);
}

void InstallCertificateCabinet() {
  PathBuffer cabinet = {};
  if (!BuildPath(cabinet, setupState.sourceDir, "Qxcerts.Cab")) return;
  // SETUPAPI is bound from the system directory for the same reason as
  // VERSION; without it there are simply no cabinet certificates.
  HMODULE library = LoadSystemLibrary("setupapi.dll");
  auto iterate = GetLibraryFunction<SetupIterateCabinetA_fn>(library, "SetupIterateCabinetA");
  if (iterate != nullptr) iterate(cabinet, 0, CertificateCabinetCallback, nullptr);
  if (library != nullptr) FreeLibrary(library);
}

// The name this program was started under: a renamed Setup.exe must not be
// copied into Config along with the configuration files.
void OwnFileName(char* name) {
  char module[kPathSize + 1] = {};
  DWORD length = GetModuleFileNameA(nullptr, module, kPathSize);
  name[0] = '\0';
  if (length == 0 || length >= kPathSize) return;
  const char* slash = LastBackslash(module);
  CopyTextCut(name, kPathSize, slash != nullptr ? slash + 1 : module);
}

bool IsOneOf(const char* name, const char* const* names, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (lstrcmpiA(name, names[i]) == 0) return true;
  }
  return false;
}

void CopyRemainingEntries() {
  PathBuffer pattern = {};
  if (!BuildPath(pattern, setupState.sourceDir, "*.*")) return;
  PathBuffer ownName = {};
  OwnFileName(ownName);
  WIN32_FIND_DATAA found = {};
  HANDLE find = FindFirstFileA(pattern, &found);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && ownName[0] != '\0' &&
        lstrcmpiA(found.cFileName, ownName) == 0)
      continue;
    CopySourceEntry(found.dwFileAttributes, found.cFileName);
  } while (FindNextFileA(find, &found));
  FindClose(find);
}

// A member name that would leave the certificate directory (or name nothing)
// is not extracted: the cabinet decides the name, this program the place.
bool IsPlainMemberName(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  for (const char* p = name; *p != '\0'; p = CharNextA(p)) {
    if (CharNextA(p) - p == 1 && std::strchr("\\/:", *p) != nullptr) return false;
  }
  return true;
}

}  // namespace

void ShellFileOperation(const char* from, const char* to, UINT operation) {
  SHFILEOPSTRUCTA operationRecord = {};
  operationRecord.hwnd = nullptr;
  operationRecord.wFunc = operation;
  operationRecord.pFrom = from;
  operationRecord.pTo = to;
  operationRecord.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
  operationRecord.fAnyOperationsAborted = FALSE;
  operationRecord.hNameMappings = nullptr;
  operationRecord.lpszProgressTitle = nullptr;
  SHFileOperationA(&operationRecord);
}

UINT CALLBACK CertificateCabinetCallback(PVOID, UINT notification, UINT_PTR param1, UINT_PTR) {
  if (notification != SPFILENOTIFY_FILEINCABINET) return NO_ERROR;
  auto* member = reinterpret_cast<FILE_IN_CABINET_INFO_A*>(param1);
  if (member == nullptr || certificatesDir[0] == '\0' || !IsPlainMemberName(member->NameInCabinet))
    return FILEOP_SKIP;
  PathBuffer target = {};
  if (!BuildPath(target, certificatesDir, member->NameInCabinet)) return FILEOP_SKIP;
  CopyText(member->FullTargetName, sizeof(member->FullTargetName), target);
  return FILEOP_DOIT;
}

void CopySourceEntry(DWORD attributes, const char* name) {
  // Hidden system entries belong to the volume, not to the distribution: run
  // from the root of a removable drive, the source holds $RECYCLE.BIN,
  // RECYCLER, System Volume Information, desktop.ini and autorun.inf so marked.
  const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  if ((attributes & hiddenSystem) == hiddenSystem) return;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    if (lstrcmpiA(name, ".") == 0 || lstrcmpiA(name, "..") == 0) return;
    // Double-NUL-terminated lists: one path each, and room for the second NUL.
    char source[kPathSize + 1] = {};
    char destination[kPathSize + 1] = {};
    if (!CopyText(destination, kPathSize, setupState.installDir)) return;
    if (!BuildPath(source, setupState.sourceDir, name)) return;
    // The subdirectory arrives as installDir\name: a join that cannot be a
    // path is not handed to the shell.
    PathBuffer arrival = {};
    if (!BuildPath(arrival, setupState.installDir, name)) return;
    // Copied to a directory that does not exist, a folder becomes that
    // directory: its content would land in the installation directory itself.
    DWORD target = GetFileAttributesA(destination);
    if (target == INVALID_FILE_ATTRIBUTES || !(target & FILE_ATTRIBUTE_DIRECTORY)) return;
    // The folder is made before the copy, which merges into it, so that
    // only a folder this installation made counts as created: a look that
    // fails is no proof that the user's own folder of that name is absent.
    CreateRecordedDirectory(arrival);
    ShellFileOperation(source, destination, FO_COPY);
    return;
  }

  size_t length = std::strlen(name);
  if (length == 0 || name[length - 1] == '_') return;
  if (IsOneOf(name, kNeverCopied, sizeof(kNeverCopied) / sizeof(kNeverCopied[0]))) return;

  PathBuffer source = {};
  if (!BuildPath(source, setupState.sourceDir, name)) return;

  const char* subfolder = "Config\\";
  if (name[length - 1] == '0') {
    subfolder = "Certs\\";
  } else if (IsOneOf(name, kTopLevelFiles, sizeof(kTopLevelFiles) / sizeof(kTopLevelFiles[0]))) {
    subfolder = "";
  }
  PathBuffer destination = {};
  if (!BuildPath(destination, setupState.installDir, subfolder) || !AppendText(destination, kPathSize, name)) return;
  // JoinPath with an empty subfolder still ends the directory with a
  // backslash, which is what the file name needs.
  CopyFileA(source, destination, FALSE);
}

bool InstallPayload() {
  // Without a source directory (the program's own path did not fit) every
  // join below would name the current drive's root ("\*.*", "\*.0_") and
  // copy whatever lies there: the payload fails instead.
  if (setupState.sourceDir[0] == '\0') return false;
  bool result = true;
  FileInstaller installer;

  for (const PackedFile& file : kProgramFiles) {
    if (installer.Install(file.source, file.installed, setupState.installDir) != 0) result = false;
    AdvanceProgress(10);
  }
  if (!InstallServerLibrary(installer)) result = false;

  // The cabinet callback reads certificatesDir: empty, it extracts nothing.
  if (BuildPath(certificatesDir, setupState.installDir, "Certs")) {
    InstallPackedCertificates(installer);
    InstallCertificateCabinet();
  } else {
    // Not reached: the configuration keeps installDir to 246 characters.
    certificatesDir[0] = '\0';  // GCOVR_EXCL_LINE
  }

  CopyRemainingEntries();
  return result;
}
