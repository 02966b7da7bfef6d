// The general call fault: every call of the program to a function that can
// fail is counted, and the one Faults::failCall names fails with one of the
// results that function really gives on Windows.
#include <map>
#include <string_view>

#include "internal.h"

namespace winsim {

using namespace detail;

namespace {

struct Failure {
  const char* name;
  DWORD code;  // a Win32 error, an HRESULT, a VIF_ flag set, a DMLERR_ code or a wait result
};

#define F(code) Failure{#code, static_cast<DWORD>(code)}

// The failures each function has on Windows for causes outside the
// program: another process, the user's rights, the disk, the network, the
// shell's state. A function's failures are the documented error results of
// its own family (file calls ERROR_*, registry calls their LONG result, COM
// an HRESULT, the version installer its VIF_ flags, DDEML its DMLERR_
// codes). Calls that cannot fail for such causes (string helpers, window
// queries, GetLastError, Sleep) are not listed and never counted. Two
// enumeration steps are left out on purpose: FindNextFileA and RegEnumKey*
// report their end through a failure, so a failed step is the end of the
// list to any caller; what it hides is no fault of the program.
const std::map<std::string_view, std::vector<Failure>>& Table() {
  static const std::map<std::string_view, std::vector<Failure>> table = {
      // Files.
      {"GetFileAttributesA", {F(ERROR_ACCESS_DENIED), F(ERROR_FILE_NOT_FOUND)}},
      {"SetFileAttributesA", {F(ERROR_ACCESS_DENIED), F(ERROR_SHARING_VIOLATION)}},
      {"CreateDirectoryA", {F(ERROR_ACCESS_DENIED), F(ERROR_PATH_NOT_FOUND), F(ERROR_DISK_FULL)}},
      {"RemoveDirectoryA", {F(ERROR_ACCESS_DENIED), F(ERROR_SHARING_VIOLATION), F(ERROR_DIR_NOT_EMPTY)}},
      {"DeleteFileA", {F(ERROR_ACCESS_DENIED), F(ERROR_SHARING_VIOLATION), F(ERROR_FILE_NOT_FOUND)}},
      {"CopyFileA", {F(ERROR_ACCESS_DENIED), F(ERROR_SHARING_VIOLATION), F(ERROR_DISK_FULL), F(ERROR_PATH_NOT_FOUND)}},
      {"MoveFileExA", {F(ERROR_ACCESS_DENIED), F(ERROR_SHARING_VIOLATION)}},
      {"GetShortPathNameA", {F(ERROR_ACCESS_DENIED), F(ERROR_FILE_NOT_FOUND)}},
      {"FindFirstFileA", {F(ERROR_ACCESS_DENIED), F(ERROR_PATH_NOT_FOUND)}},
      {"CreateFileA",
       {F(ERROR_ACCESS_DENIED), F(ERROR_SHARING_VIOLATION), F(ERROR_PATH_NOT_FOUND), F(ERROR_DISK_FULL)}},
      {"ReadFile", {F(ERROR_LOCK_VIOLATION), F(ERROR_NOT_READY)}},
      {"WriteFile", {F(ERROR_DISK_FULL), F(ERROR_LOCK_VIOLATION)}},
      {"SetEndOfFile", {F(ERROR_DISK_FULL)}},
      {"GetFileSize", {F(ERROR_ACCESS_DENIED)}},
      {"SetFileTime", {F(ERROR_ACCESS_DENIED)}},
      {"GetTempFileNameA", {F(ERROR_ACCESS_DENIED), F(ERROR_DISK_FULL)}},
      {"SetCurrentDirectoryA", {F(ERROR_ACCESS_DENIED), F(ERROR_PATH_NOT_FOUND)}},
      {"GetPrivateProfileStringA", {F(ERROR_SHARING_VIOLATION)}},
      {"WritePrivateProfileStringA", {F(ERROR_ACCESS_DENIED), F(ERROR_DISK_FULL)}},
      // Processes, modules, resources.
      {"CreateProcessA", {F(ERROR_FILE_NOT_FOUND), F(ERROR_ACCESS_DENIED), F(ERROR_BAD_EXE_FORMAT)}},
      {"WaitForInputIdle", {F(WAIT_TIMEOUT), F(WAIT_FAILED)}},
      {"WaitForSingleObject", {F(WAIT_TIMEOUT), F(WAIT_FAILED)}},
      {"LoadLibraryA", {F(ERROR_MOD_NOT_FOUND), F(ERROR_NOT_ENOUGH_MEMORY), F(ERROR_DLL_INIT_FAILED)}},
      {"LoadLibraryExA", {F(ERROR_MOD_NOT_FOUND), F(ERROR_NOT_ENOUGH_MEMORY), F(ERROR_DLL_INIT_FAILED)}},
      {"GetProcAddress", {F(ERROR_PROC_NOT_FOUND)}},
      {"FindResourceA", {F(ERROR_RESOURCE_NAME_NOT_FOUND)}},
      {"LoadResource", {F(ERROR_NOT_ENOUGH_MEMORY)}},
      {"MultiByteToWideChar", {F(ERROR_NO_UNICODE_TRANSLATION)}},
      // The environment: a variable not set, a program or temporary
      // directory whose path does not fit the caller's buffer.
      {"GetEnvironmentVariableA", {F(ERROR_ENVVAR_NOT_FOUND)}},
      {"GetModuleFileNameA", {F(ERROR_INSUFFICIENT_BUFFER)}},
      {"GetTempPathA", {F(ERROR_INSUFFICIENT_BUFFER)}},
      // Registry.
      {"RegOpenKeyExA", {F(ERROR_FILE_NOT_FOUND), F(ERROR_ACCESS_DENIED)}},
      {"RegCreateKeyExA", {F(ERROR_ACCESS_DENIED)}},
      {"RegQueryValueExA", {F(ERROR_FILE_NOT_FOUND), F(ERROR_ACCESS_DENIED)}},
      {"RegSetValueExA", {F(ERROR_ACCESS_DENIED)}},
      {"RegDeleteValueA", {F(ERROR_FILE_NOT_FOUND), F(ERROR_ACCESS_DENIED)}},
      {"RegDeleteKeyA", {F(ERROR_FILE_NOT_FOUND), F(ERROR_ACCESS_DENIED)}},
      {"RegDeleteKeyExA", {F(ERROR_FILE_NOT_FOUND), F(ERROR_ACCESS_DENIED)}},
      // Privileges and the restart.
      {"OpenProcessToken", {F(ERROR_ACCESS_DENIED)}},
      {"LookupPrivilegeValueA", {F(ERROR_NO_SUCH_PRIVILEGE)}},
      {"AdjustTokenPrivileges", {F(ERROR_ACCESS_DENIED)}},
      {"ExitWindowsEx", {F(ERROR_PRIVILEGE_NOT_HELD), F(ERROR_SHUTDOWN_IN_PROGRESS)}},
      // Security descriptors: a file's is refused to a caller without
      // WRITE_DAC (or READ_CONTROL) and by a volume or server that keeps
      // none. The in-memory builders fail only on their caller's mistakes
      // (a buffer too small, a bad revision); they are counted all the same,
      // so that a test can show that a descriptor missing an entry is never
      // applied.
      {"SetFileSecurityA", {F(ERROR_ACCESS_DENIED), F(ERROR_NOT_SUPPORTED)}},
      {"GetFileSecurityA", {F(ERROR_ACCESS_DENIED), F(ERROR_NOT_SUPPORTED)}},
      {"InitializeSid", {F(ERROR_INVALID_PARAMETER)}},
      {"InitializeAcl", {F(ERROR_INSUFFICIENT_BUFFER), F(ERROR_INVALID_PARAMETER)}},
      {"AddAccessAllowedAce", {F(ERROR_ALLOTTED_SPACE_EXCEEDED), F(ERROR_INVALID_SID)}},
      {"AddAccessAllowedAceEx", {F(ERROR_ALLOTTED_SPACE_EXCEEDED), F(ERROR_INVALID_SID)}},
      {"GetAce", {F(ERROR_INVALID_PARAMETER)}},
      {"InitializeSecurityDescriptor", {F(ERROR_UNKNOWN_REVISION)}},
      {"SetSecurityDescriptorDacl", {F(ERROR_INVALID_SECURITY_DESCR)}},
      {"SetSecurityDescriptorControl", {F(ERROR_INVALID_PARAMETER)}},
      // DDE.
      {"DdeInitializeA", {F(DMLERR_DLL_USAGE), F(DMLERR_SYS_ERROR)}},
      {"DdeCreateStringHandleA", {F(DMLERR_SYS_ERROR)}},
      {"DdeConnect", {F(DMLERR_NO_CONV_ESTABLISHED)}},
      {"DdeCreateDataHandle", {F(DMLERR_MEMORY_ERROR)}},
      {"DdeClientTransaction", {F(DMLERR_EXECACKTIMEOUT), F(DMLERR_NOTPROCESSED), F(DMLERR_SERVER_DIED)}},
      {"DdeAccessData", {F(DMLERR_INVALIDPARAMETER)}},
      // COM and the shell.
      {"CoInitializeEx", {F(E_OUTOFMEMORY), F(E_UNEXPECTED)}},
      {"CoCreateInstance", {F(E_OUTOFMEMORY), F(REGDB_E_CLASSNOTREG), F(E_FAIL)}},
      {"IShellLinkA::QueryInterface", {F(E_NOINTERFACE)}},
      {"IShellLinkA::SetPath", {F(E_FAIL), F(E_OUTOFMEMORY)}},
      {"IShellLinkA::SetWorkingDirectory", {F(E_FAIL), F(E_OUTOFMEMORY)}},
      {"IShellLinkA::SetDescription", {F(E_FAIL), F(E_OUTOFMEMORY)}},
      {"IShellLinkA::SetArguments", {F(E_FAIL), F(E_OUTOFMEMORY)}},
      {"IPersistFile::Save", {F(E_FAIL), F(E_ACCESSDENIED), F(E_OUTOFMEMORY)}},
      {"SHGetMalloc", {F(E_FAIL), F(E_OUTOFMEMORY)}},
      {"SHGetSpecialFolderLocation", {F(E_FAIL), F(E_OUTOFMEMORY)}},
      {"SHGetPathFromIDListA", {Failure{"FALSE", 0}}},
      {"SHGetFolderPathA", {F(E_FAIL), F(E_ACCESSDENIED)}},
      {"SHFileOperationA", {F(ERROR_ACCESS_DENIED), F(ERROR_SHARING_VIOLATION), F(ERROR_DISK_FULL)}},
      // The version installer and the cabinet reader.
      {"VerInstallFileA",
       {F(VIF_CANNOTREADSRC), F(VIF_WRITEPROT), F(VIF_FILEINUSE), F(VIF_OUTOFSPACE), F(VIF_ACCESSVIOLATION),
        F(VIF_CANNOTREADDST)}},
      {"SetupIterateCabinetA", {F(ERROR_FILE_NOT_FOUND), F(ERROR_INVALID_DATA), F(ERROR_DISK_FULL)}},
      // Windows.
      {"MessageBoxA", {F(ERROR_NOT_ENOUGH_MEMORY)}},
      {"CreateWindowExA", {F(ERROR_NOT_ENOUGH_MEMORY)}},
      {"CreatePropertySheetPageA", {F(ERROR_NOT_ENOUGH_MEMORY)}},
      {"PropertySheetA", {F(ERROR_NOT_ENOUGH_MEMORY)}},
      {"InitCommonControlsEx", {F(ERROR_NOT_ENOUGH_MEMORY)}},
  };
  return table;
}

#undef F

}  // namespace

std::vector<std::string> Machine::FailureKinds(const std::string& function) {
  std::vector<std::string> names;
  auto it = Table().find(function);
  if (it != Table().end())
    for (const Failure& f : it->second) names.push_back(f.name);
  return names;
}

std::vector<std::string> Machine::FailingFunctions() {
  std::vector<std::string> names;
  for (auto& kv : Table()) names.emplace_back(kv.first);
  return names;
}

const std::vector<std::string>& Machine::calls() const { return state_->calls; }

namespace detail {

std::optional<DWORD> Injected(const char* function, const char* detail) {
  State& s = S();
  if (s.quiet) return std::nullopt;
  auto it = Table().find(function);
  if (it == Table().end()) throw UsageError(std::string("no failures listed for ") + function);
  s.calls.emplace_back(function);
  uint64_t ofFunction = ++s.callsByFunction[function];
  auto& fault = s.owner->faults.failCall;
  if (!fault) return std::nullopt;
  uint64_t ordinal = s.calls.size();
  if (!fault->function.empty()) {
    if (fault->function != function) return std::nullopt;
    ordinal = ofFunction;
  }
  if (ordinal != fault->nth) return std::nullopt;
  const Failure& f = it->second[fault->kind % it->second.size()];
  s.Log("FailedCall", {function, Dec(static_cast<int64_t>(s.calls.size())), f.name, Str(detail)});
  return f.code;
}

}  // namespace detail

}  // namespace winsim
