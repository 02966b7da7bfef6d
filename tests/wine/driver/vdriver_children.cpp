// vdriver's view of the started program's descendants: the process tree
// from snapshots, and the CHILD lines with the command line and current
// directory each descendant holds.
#include "vdriver.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <cstddef>

namespace vdriver {

bool ProcessTree::Contains(DWORD pid) {
  if (pid == root_ || inside_.count(pid)) return true;
  auto seen = outside_.find(pid);
  if (seen != outside_.end() && GetTickCount() - seen->second < 1000) return false;
  Refresh();
  if (Descends(pid)) return true;
  outside_[pid] = GetTickCount();
  return false;
}

std::vector<std::pair<DWORD, std::string>> ProcessTree::Descendants() {
  Refresh();
  std::vector<std::pair<DWORD, std::string>> found;
  for (const auto& [pid, parent] : parent_) {
    if (pid != root_ && (inside_.count(pid) || Descends(pid))) found.emplace_back(pid, name_[pid]);
  }
  return found;
}

bool ProcessTree::Descends(DWORD pid) {
  for (DWORD p = pid, hops = 0; p && hops < 64; ++hops) {
    if (p == root_) {
      inside_.insert(pid);
      return true;
    }
    auto it = parent_.find(p);
    if (it == parent_.end() || it->second == p) break;
    p = it->second;
  }
  return false;
}

void ProcessTree::Refresh() {
  parent_.clear();
  name_.clear();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL ok = Process32First(snapshot, &entry); ok; ok = Process32Next(snapshot, &entry)) {
    parent_[entry.th32ProcessID] = entry.th32ParentProcessID;
    name_[entry.th32ProcessID] = entry.szExeFile;
  }
  CloseHandle(snapshot);
}
namespace {

// Where a process keeps its command line and current directory. The PEB holds
// a pointer to its RTL_USER_PROCESS_PARAMETERS, which hold both as
// UNICODE_STRINGs. The SDK's winternl.h declares PEB.ProcessParameters and
// RTL_USER_PROCESS_PARAMETERS.CommandLine (checked below); it leaves the
// parameters' pointer-sized fields Reserved2[0..9] unnamed, which are, in the
// structure's full layout (the type information of ntdll's public symbols),
// ConsoleHandle, ConsoleFlags, StandardInput, StandardOutput, StandardError,
// then CurrentDirectory (a CURDIR: UNICODE_STRING DosPath, HANDLE Handle), so
// DosPath begins at Reserved2[5].
// A UNICODE_STRING is two pointer-sized slots in both layouts (4-byte Buffer
// after two USHORTs; 8-byte Buffer after padding). The child has the driver's
// bitness, so the driver's own layout is the child's.
constexpr bool kWin64 = sizeof(void*) == 8;
constexpr size_t kPebProcessParameters = kWin64 ? 0x20 : 0x10;
constexpr size_t kParamsFlags = 0x08;  // after MaximumLength and Length
constexpr size_t kParamsCurrentDirectory = kWin64 ? 0x38 : 0x24;
constexpr size_t kParamsCommandLine = kWin64 ? 0x70 : 0x40;
static_assert(kPebProcessParameters == offsetof(PEB, ProcessParameters));
static_assert(kParamsCommandLine == offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine));
static_assert(kParamsCurrentDirectory == offsetof(RTL_USER_PROCESS_PARAMETERS, Reserved2) + 5 * sizeof(void*));
static_assert(sizeof(UNICODE_STRING) == 2 * sizeof(void*));

// Until the child's loader normalises its parameters (flag bit 0), their
// string buffers are offsets from the start of the block, not addresses.
constexpr ULONG kParamsNormalized = 0x1;

using NtQueryInformationProcessFn = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(NTSTATUS);

template <typename F>
F NtdllFunction(const char* name) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (!ntdll) return nullptr;
  return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(ntdll, name)));
}

bool ReadRemote(HANDLE process, const void* address, void* buffer, size_t size, DWORD& error) {
  SIZE_T got = 0;
  if (!ReadProcessMemory(process, address, buffer, size, &got)) {
    error = GetLastError();
    return false;
  }
  if (got == size) return true;
  error = ERROR_PARTIAL_COPY;
  return false;
}

bool ReadRemoteString(HANDLE process, const UNICODE_STRING& text, const BYTE* params, bool normalized,
                      std::string& out, DWORD& error) {
  out.clear();
  if (text.Length == 0) return true;
  const BYTE* address = reinterpret_cast<const BYTE*>(text.Buffer);
  if (!normalized) address = params + reinterpret_cast<ULONG_PTR>(text.Buffer);
  std::wstring wide(text.Length / sizeof(WCHAR), L'\0');
  if (!ReadRemote(process, address, wide.data(), wide.size() * sizeof(WCHAR), error)) return false;
  int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (size <= 0) {
    error = GetLastError();
    return false;
  }
  out.resize(static_cast<size_t>(size));
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), size, nullptr, nullptr);
  return true;
}

enum class ChildRead { kRead, kOlder, kFailed };

// The command line and current directory the process holds; kFailed with a
// Windows error code when they cannot be read (yet). kOlder: the process was
// created before the started program, so it is not its descendant whatever
// its parent id says (the id of an ended process is given to later ones).
ChildRead ReadChildParameters(DWORD pid, const FILETIME& root_created, std::string& command_line,
                              std::string& directory, DWORD& error) {
  static const auto query = NtdllFunction<NtQueryInformationProcessFn>("NtQueryInformationProcess");
  static const auto to_error = NtdllFunction<RtlNtStatusToDosErrorFn>("RtlNtStatusToDosError");
  if (!query) {
    error = ERROR_PROC_NOT_FOUND;
    return ChildRead::kFailed;
  }
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (!process) {
    error = GetLastError();
    return ChildRead::kFailed;
  }
  FILETIME created{}, exited{}, kernel{}, user{};
  if (GetProcessTimes(process, &created, &exited, &kernel, &user) && CompareFileTime(&created, &root_created) < 0) {
    CloseHandle(process);
    return ChildRead::kOlder;
  }
  bool ok = false;
  do {
    PROCESS_BASIC_INFORMATION basic{};
    NTSTATUS status = query(process, ProcessBasicInformation, &basic, sizeof(basic), nullptr);
    if (status < 0) {
      error = to_error ? to_error(status) : ERROR_GEN_FAILURE;
      break;
    }
    const BYTE* peb = reinterpret_cast<const BYTE*>(basic.PebBaseAddress);
    const BYTE* params = nullptr;
    if (!peb || !ReadRemote(process, peb + kPebProcessParameters, &params, sizeof(params), error)) {
      if (!peb) error = ERROR_INVALID_ADDRESS;
      break;
    }
    if (!params) {
      // The child's loader has not set them up yet.
      error = ERROR_NOT_READY;
      break;
    }
    ULONG flags = 0;
    UNICODE_STRING directory_text{}, command_text{};
    if (!ReadRemote(process, params + kParamsFlags, &flags, sizeof(flags), error) ||
        !ReadRemote(process, params + kParamsCurrentDirectory, &directory_text, sizeof(directory_text), error) ||
        !ReadRemote(process, params + kParamsCommandLine, &command_text, sizeof(command_text), error)) {
      break;
    }
    bool normalized = (flags & kParamsNormalized) != 0;
    ok = ReadRemoteString(process, command_text, params, normalized, command_line, error) &&
         ReadRemoteString(process, directory_text, params, normalized, directory, error);
  } while (false);
  CloseHandle(process);
  return ok ? ChildRead::kRead : ChildRead::kFailed;
}

}  // namespace

ChildLog::ChildLog(ProcessTree& tree, HANDLE root) : tree_(tree) {
  FILETIME exited{}, kernel{}, user{};
  GetProcessTimes(root, &root_created_, &exited, &kernel, &user);
}

void ChildLog::Scan() {
  std::set<DWORD> seen;
  for (const auto& [pid, name] : tree_.Descendants()) {
    seen.insert(pid);
    if (done_.count(pid)) continue;
    std::string command_line, directory;
    DWORD error = 0;
    ChildRead read = ReadChildParameters(pid, root_created_, command_line, directory, error);
    if (read != ChildRead::kFailed) {
      done_.insert(pid);
      failing_.erase(pid);
      if (read == ChildRead::kRead) LogLine({"CHILD", command_line, directory, name});
      continue;
    }
    auto it = failing_.emplace(pid, Failure{GetTickCount(), name, error}).first;
    it->second.error = error;
    if (GetTickCount() - it->second.since >= kRetryMs || !Alive(pid)) GiveUp(it);
  }
  // One that ended between two scans cannot be read any more.
  for (auto it = failing_.begin(); it != failing_.end();) {
    it = seen.count(it->first) ? std::next(it) : GiveUp(it);
  }
}

void ChildLog::FinalScan() {
  const DWORD start = GetTickCount();
  Scan();
  while (!failing_.empty() && GetTickCount() - start < kRetryMs) {
    Sleep(kPollMs);
    Scan();
  }
  while (!failing_.empty()) GiveUp(failing_.begin());
}

bool ChildLog::Alive(DWORD pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return false;
  bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return alive;
}

ChildLog::Failing::iterator ChildLog::GiveUp(Failing::iterator it) {
  done_.insert(it->first);
  LogLine({"CHILD", ErrorField("!error ", it->second.error), it->second.name});
  return failing_.erase(it);
}
}  // namespace vdriver
