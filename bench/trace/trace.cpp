// The wrappers of the timing build (see trace.h). Every moment between the
// start of the C++ runtime and the exit is charged to exactly one category:
// the innermost timed call open at that moment, or the program's own code.
// Per-call records keep the calls worth naming one by one (the version
// installer, the cabinet iterator, each shell file operation, each DDE
// transaction, the link writer, each message box, the server).
#define VTRACE_IMPLEMENTATION
#include "trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vtrace {
namespace {

const char* const kCategoryNames[kCategoryCount] = {
    "own", "version", "cabinet", "shellfileop", "dde", "ddesetup",
    "link", "messagebox", "server", "files", "registry", "libraries",
};

constexpr int kMaxDepth = 64;
constexpr int kMaxCalls = 4096;
constexpr int kMaxFunctions = 128;
constexpr size_t kLabelSize = 160;

// Per function: how often it was called and its inclusive time.
struct FunctionTotal {
  const char* name;
  Category category;
  unsigned long count;
  LONGLONG ticks;
};

struct CallRecord {
  Category category;
  LONGLONG start;
  LONGLONG end;
  char label[kLabelSize];
};

struct State {
  LARGE_INTEGER frequency = {};
  LONGLONG started = 0;
  LONGLONG last = 0;
  ULONGLONG startedSystem = 0;  // 100 ns units since 1601
  Category stack[kMaxDepth] = {};
  int depth = 0;
  LONGLONG ticks[kCategoryCount] = {};
  unsigned long counts[kCategoryCount] = {};
  CallRecord calls[kMaxCalls] = {};
  int callCount = 0;
  FunctionTotal functions[kMaxFunctions] = {};
  int functionCount = 0;
  unsigned long callsLost = 0;
  bool finished = false;
};

State state;

LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

ULONGLONG SystemNow() {
  FILETIME time;
  GetSystemTimeAsFileTime(&time);
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

Category Top() { return state.depth > 0 ? state.stack[state.depth - 1] : kOwn; }

void Charge(LONGLONG now) {
  state.ticks[Top()] += now - state.last;
  state.last = now;
}

LONGLONG Enter(Category category, bool counted = true) {
  LONGLONG now = Now();
  Charge(now);
  // Deeper than any real nesting: keep charging the innermost known call.
  if (state.depth < kMaxDepth) state.stack[state.depth] = category;
  ++state.depth;
  if (counted) ++state.counts[category];
  return now;
}

LONGLONG Leave() {
  LONGLONG now = Now();
  Charge(now);
  if (state.depth > 0) --state.depth;
  return now;
}

FunctionTotal* FunctionSlot(Category category, const char* name) {
  if (name == nullptr) return nullptr;
  for (int i = 0; i < state.functionCount; ++i) {
    FunctionTotal& f = state.functions[i];
    if (f.category == category && std::strcmp(f.name, name) == 0) return &f;
  }
  if (state.functionCount >= kMaxFunctions) return nullptr;
  FunctionTotal& f = state.functions[state.functionCount++];
  f.name = name;
  f.category = category;
  return &f;
}

// Calls of these are few enough to be recorded one by one.
bool RecordedOneByOne(Category category) {
  return category != kOwn && category != kFiles && category != kRegistry && category != kLibraries;
}

void Record(Category category, LONGLONG start, LONGLONG end, const char* label) {
  if (state.callCount >= kMaxCalls) {
    ++state.callsLost;
    return;
  }
  CallRecord& call = state.calls[state.callCount++];
  call.category = category;
  call.start = start;
  call.end = end;
  std::snprintf(call.label, sizeof(call.label), "%s", label != nullptr ? label : "");
  // One record is one line.
  for (char* c = call.label; *c != '\0'; ++c) {
    if (*c == '\r' || *c == '\n' || *c == '\t') *c = ' ';
  }
}

// The end of one timed call: its function's total and, for the few-call
// categories, its record.
void Finished(Category category, FunctionTotal* total, LONGLONG start, const char* label) {
  LONGLONG end = Leave();
  if (total != nullptr) {
    ++total->count;
    total->ticks += end - start;
  }
  if (RecordedOneByOne(category)) Record(category, start, end, label);
}

// Times one call like Scope, with a label that says what it was given.
class NamedCall {
 public:
  NamedCall(Category category, const char* function, const char* detail = nullptr)
      : category_(category), total_(FunctionSlot(category, function)), start_(Enter(category)) {
    std::snprintf(label_, sizeof(label_), "%s%s%s", function != nullptr ? function : "",
                  detail != nullptr ? " " : "", detail != nullptr ? detail : "");
  }
  ~NamedCall() { Finished(category_, total_, start_, label_); }
  NamedCall(const NamedCall&) = delete;
  NamedCall& operator=(const NamedCall&) = delete;

 private:
  Category category_;
  FunctionTotal* total_;
  LONGLONG start_;
  char label_[kLabelSize];
};

long long Nanoseconds(LONGLONG ticks) {
  return static_cast<long long>(static_cast<double>(ticks) * 1e9 / static_cast<double>(state.frequency.QuadPart));
}

// FILETIME (100 ns since 1601) to nanoseconds since 1970, the clock of the
// bench's `date +%s%N`.
long long UnixNanoseconds(ULONGLONG fileTime) {
  return (static_cast<long long>(fileTime) - 116444736000000000LL) * 100;
}

void WriteLine(HANDLE file, const char* text) {
  DWORD written = 0;
  WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

void Finish() {
  if (state.finished) return;
  state.finished = true;
  LONGLONG ended = Now();
  Charge(ended);
  ULONGLONG endedSystem = SystemNow();

  char path[MAX_PATH] = {};
  DWORD length = GetEnvironmentVariableA("VORTAN_TRACE", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return;

  FILETIME created = {}, exited = {}, kernel = {}, user = {};
  ULONGLONG createdSystem = 0;
  if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
    createdSystem = (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;

  char line[512];
  std::snprintf(line, sizeof(line), "vtrace 1\nprocess %lu created %lld start %lld end %lld\n",
                GetCurrentProcessId(), createdSystem != 0 ? UnixNanoseconds(createdSystem) : 0LL,
                UnixNanoseconds(state.startedSystem), UnixNanoseconds(endedSystem));
  WriteLine(file, line);
  std::snprintf(line, sizeof(line), "span %lld\n", Nanoseconds(ended - state.started));
  WriteLine(file, line);
  for (int c = 0; c < kCategoryCount; ++c) {
    std::snprintf(line, sizeof(line), "total %s %lu %lld\n", kCategoryNames[c], state.counts[c],
                  Nanoseconds(state.ticks[c]));
    WriteLine(file, line);
  }
  for (int i = 0; i < state.callCount; ++i) {
    const CallRecord& call = state.calls[i];
    std::snprintf(line, sizeof(line), "call %s %lld %lld %s\n", kCategoryNames[call.category],
                  Nanoseconds(call.start - state.started), Nanoseconds(call.end - call.start), call.label);
    WriteLine(file, line);
  }
  for (int i = 0; i < state.functionCount; ++i) {
    const FunctionTotal& f = state.functions[i];
    std::snprintf(line, sizeof(line), "function %s %s %lu %lld\n", kCategoryNames[f.category], f.name, f.count,
                  Nanoseconds(f.ticks));
    WriteLine(file, line);
  }
  std::snprintf(line, sizeof(line), "lost %lu\nend\n", state.callsLost);
  WriteLine(file, line);
  CloseHandle(file);
}

// Starts with the C++ runtime's initialisers, before WinMain; writes when
// WinMain has returned and the runtime runs its exit handlers.
struct Starter {
  Starter() {
    QueryPerformanceFrequency(&state.frequency);
    state.startedSystem = SystemNow();
    state.started = state.last = Now();
    std::atexit(Finish);
  }
} starter;

// --- functions bound at run time --------------------------------------------------

typedef DWORD(WINAPI* VerInstallFileA_fn)(DWORD, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPSTR, PUINT);
typedef BOOL(WINAPI* SetupIterateCabinetA_fn)(PCSTR, DWORD, PSP_FILE_CALLBACK_A, PVOID);
typedef HRESULT(WINAPI* SHGetFolderPathA_fn)(HWND, int, HANDLE, DWORD, LPSTR);
typedef HRESULT(WINAPI* ServerEntry_fn)();

VerInstallFileA_fn realVerInstallFile = nullptr;
SetupIterateCabinetA_fn realIterateCabinet = nullptr;
SHGetFolderPathA_fn realGetFolderPath = nullptr;
ServerEntry_fn realRegisterServer = nullptr;
ServerEntry_fn realUnregisterServer = nullptr;
PSP_FILE_CALLBACK_A programCabinetCallback = nullptr;
HMODULE serverModule = nullptr;

DWORD WINAPI VerInstallFileThunk(DWORD flags, LPCSTR source, LPCSTR destination, LPCSTR sourceDir,
                                 LPCSTR destinationDir, LPCSTR currentDir, LPSTR temporary, PUINT temporaryLength) {
  char label[kLabelSize];
  std::snprintf(label, sizeof(label), "%s -> %s", source != nullptr ? source : "",
                destination != nullptr ? destination : "");
  NamedCall call(kVersion, "VerInstallFileA", label);
  return realVerInstallFile(flags, source, destination, sourceDir, destinationDir, currentDir, temporary,
                            temporaryLength);
}

// The program's callback runs inside the iterator: its time is the program's.
UINT CALLBACK CabinetCallbackThunk(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2) {
  Enter(kOwn, false);
  UINT result = programCabinetCallback(context, notification, param1, param2);
  Leave();
  return result;
}

BOOL WINAPI IterateCabinetThunk(PCSTR cabinet, DWORD reserved, PSP_FILE_CALLBACK_A callback, PVOID context) {
  const char* slash = cabinet != nullptr ? std::strrchr(cabinet, '\\') : nullptr;
  NamedCall call(kCabinet, "SetupIterateCabinetA", slash != nullptr ? slash + 1 : cabinet);
  programCabinetCallback = callback;
  return realIterateCabinet(cabinet, reserved, callback != nullptr ? CabinetCallbackThunk : nullptr, context);
}

HRESULT WINAPI GetFolderPathThunk(HWND owner, int csidl, HANDLE token, DWORD flags, LPSTR path) {
  Scope scope(kLibraries, "SHGetFolderPathA");
  return realGetFolderPath(owner, csidl, token, flags, path);
}

HRESULT WINAPI RegisterServerThunk() {
  NamedCall call(kServer, "DllRegisterServer");
  return realRegisterServer();
}

HRESULT WINAPI UnregisterServerThunk() {
  NamedCall call(kServer, "DllUnregisterServer");
  return realUnregisterServer();
}

template <typename Fn>
void Bind(Fn& pointer, FARPROC real) {
  pointer = reinterpret_cast<Fn>(reinterpret_cast<void*>(real));
}

template <typename Fn>
FARPROC AsProc(Fn function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

bool EndsWithNoCase(const char* text, const char* tail) {
  size_t length = std::strlen(text), tailLength = std::strlen(tail);
  return length >= tailLength && lstrcmpiA(text + length - tailLength, tail) == 0;
}

// --- the shell link object ----------------------------------------------------------

// Stands between the program and the shell's link object and times each
// method; the program sees the same results.
class LinkProxy final : public IShellLinkA, public IPersistFile {
 public:
  explicit LinkProxy(IShellLinkA* link) : link_(link) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    Scope scope(kLink, "IShellLinkA::QueryInterface");
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IShellLinkA)) {
      *object = static_cast<IShellLinkA*>(this);
      AddRef();
      return S_OK;
    }
    if (IsEqualIID(iid, IID_IPersistFile)) {
      if (file_ == nullptr) {
        HRESULT result = link_->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file_));
        if (FAILED(result)) {
          file_ = nullptr;
          *object = nullptr;
          return result;
        }
      }
      *object = static_cast<IPersistFile*>(this);
      AddRef();
      return S_OK;
    }
    return link_->QueryInterface(iid, object);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) {
      Scope scope(kLink, "IShellLinkA::Release");
      if (file_ != nullptr) file_->Release();
      link_->Release();
      delete this;
    }
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetPath(LPSTR file, int size, WIN32_FIND_DATAA* found, DWORD flags) override {
    Scope scope(kLink, "IShellLinkA::GetPath");
    return link_->GetPath(file, size, found, flags);
  }
  HRESULT STDMETHODCALLTYPE GetIDList(PIDLIST_ABSOLUTE* list) override {
    Scope scope(kLink, "IShellLinkA::GetIDList");
    return link_->GetIDList(list);
  }
  HRESULT STDMETHODCALLTYPE SetIDList(PCIDLIST_ABSOLUTE list) override {
    Scope scope(kLink, "IShellLinkA::SetIDList");
    return link_->SetIDList(list);
  }
  HRESULT STDMETHODCALLTYPE GetDescription(LPSTR name, int size) override {
    Scope scope(kLink, "IShellLinkA::GetDescription");
    return link_->GetDescription(name, size);
  }
  HRESULT STDMETHODCALLTYPE SetDescription(LPCSTR name) override {
    Scope scope(kLink, "IShellLinkA::SetDescription");
    return link_->SetDescription(name);
  }
  HRESULT STDMETHODCALLTYPE GetWorkingDirectory(LPSTR dir, int size) override {
    Scope scope(kLink, "IShellLinkA::GetWorkingDirectory");
    return link_->GetWorkingDirectory(dir, size);
  }
  HRESULT STDMETHODCALLTYPE SetWorkingDirectory(LPCSTR dir) override {
    Scope scope(kLink, "IShellLinkA::SetWorkingDirectory");
    return link_->SetWorkingDirectory(dir);
  }
  HRESULT STDMETHODCALLTYPE GetArguments(LPSTR args, int size) override {
    Scope scope(kLink, "IShellLinkA::GetArguments");
    return link_->GetArguments(args, size);
  }
  HRESULT STDMETHODCALLTYPE SetArguments(LPCSTR args) override {
    Scope scope(kLink, "IShellLinkA::SetArguments");
    return link_->SetArguments(args);
  }
  HRESULT STDMETHODCALLTYPE GetHotkey(WORD* key) override {
    Scope scope(kLink, "IShellLinkA::GetHotkey");
    return link_->GetHotkey(key);
  }
  HRESULT STDMETHODCALLTYPE SetHotkey(WORD key) override {
    Scope scope(kLink, "IShellLinkA::SetHotkey");
    return link_->SetHotkey(key);
  }
  HRESULT STDMETHODCALLTYPE GetShowCmd(int* show) override {
    Scope scope(kLink, "IShellLinkA::GetShowCmd");
    return link_->GetShowCmd(show);
  }
  HRESULT STDMETHODCALLTYPE SetShowCmd(int show) override {
    Scope scope(kLink, "IShellLinkA::SetShowCmd");
    return link_->SetShowCmd(show);
  }
  HRESULT STDMETHODCALLTYPE GetIconLocation(LPSTR path, int size, int* icon) override {
    Scope scope(kLink, "IShellLinkA::GetIconLocation");
    return link_->GetIconLocation(path, size, icon);
  }
  HRESULT STDMETHODCALLTYPE SetIconLocation(LPCSTR path, int icon) override {
    Scope scope(kLink, "IShellLinkA::SetIconLocation");
    return link_->SetIconLocation(path, icon);
  }
  HRESULT STDMETHODCALLTYPE SetRelativePath(LPCSTR path, DWORD reserved) override {
    Scope scope(kLink, "IShellLinkA::SetRelativePath");
    return link_->SetRelativePath(path, reserved);
  }
  HRESULT STDMETHODCALLTYPE Resolve(HWND owner, DWORD flags) override {
    Scope scope(kLink, "IShellLinkA::Resolve");
    return link_->Resolve(owner, flags);
  }
  HRESULT STDMETHODCALLTYPE SetPath(LPCSTR file) override {
    Scope scope(kLink, "IShellLinkA::SetPath");
    return link_->SetPath(file);
  }

  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
    Scope scope(kLink, "IPersistFile::GetClassID");
    return file_->GetClassID(clsid);
  }
  HRESULT STDMETHODCALLTYPE IsDirty() override {
    Scope scope(kLink, "IPersistFile::IsDirty");
    return file_->IsDirty();
  }
  HRESULT STDMETHODCALLTYPE Load(LPCOLESTR name, DWORD mode) override {
    Scope scope(kLink, "IPersistFile::Load");
    return file_->Load(name, mode);
  }
  HRESULT STDMETHODCALLTYPE Save(LPCOLESTR name, WINBOOL remember) override {
    NamedCall call(kLink, "IPersistFile::Save");
    return file_->Save(name, remember);
  }
  HRESULT STDMETHODCALLTYPE SaveCompleted(LPCOLESTR name) override {
    Scope scope(kLink, "IPersistFile::SaveCompleted");
    return file_->SaveCompleted(name);
  }
  HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* name) override {
    Scope scope(kLink, "IPersistFile::GetCurFile");
    return file_->GetCurFile(name);
  }

 private:
  ~LinkProxy() = default;
  IShellLinkA* link_;
  IPersistFile* file_ = nullptr;
  ULONG references_ = 1;
};

}  // namespace

Scope::Scope(Category category, const char* function)
    : category_(category), function_(function), total_(FunctionSlot(category, function)), start_(Enter(category)) {}

Scope::~Scope() { Finished(category_, static_cast<FunctionTotal*>(total_), start_, function_); }

FARPROC WINAPI TraceGetProcAddress(HMODULE module, LPCSTR name) {
  FARPROC real;
  {
    Scope scope(kLibraries, "GetProcAddress");
    real = GetProcAddress(module, name);
  }
  // An ordinal or a missing export is passed on as it is.
  if (real == nullptr || name == nullptr || (reinterpret_cast<ULONG_PTR>(name) >> 16) == 0) return real;
  if (std::strcmp(name, "VerInstallFileA") == 0) {
    Bind(realVerInstallFile, real);
    return AsProc(VerInstallFileThunk);
  }
  if (std::strcmp(name, "SetupIterateCabinetA") == 0) {
    Bind(realIterateCabinet, real);
    return AsProc(IterateCabinetThunk);
  }
  if (std::strcmp(name, "SHGetFolderPathA") == 0) {
    Bind(realGetFolderPath, real);
    return AsProc(GetFolderPathThunk);
  }
  if (std::strcmp(name, "DllRegisterServer") == 0) {
    Bind(realRegisterServer, real);
    return AsProc(RegisterServerThunk);
  }
  if (std::strcmp(name, "DllUnregisterServer") == 0) {
    Bind(realUnregisterServer, real);
    return AsProc(UnregisterServerThunk);
  }
  return real;
}

HMODULE WINAPI TraceLoadLibrary(LPCSTR path) {
  if (path != nullptr && EndsWithNoCase(path, "QXFTP.DLL")) {
    NamedCall call(kServer, "LoadLibraryA", "QXFTP.DLL");
    serverModule = LoadLibraryA(path);
    return serverModule;
  }
  // By the library's name: the system libraries are loaded by full path.
  const char* slash = path != nullptr ? std::strrchr(path, '\\') : nullptr;
  NamedCall call(kLibraries, "LoadLibraryA", slash != nullptr ? slash + 1 : path);
  return LoadLibraryA(path);
}

HMODULE WINAPI TraceLoadLibraryEx(LPCSTR path, HANDLE file, DWORD flags) {
  if (path != nullptr && EndsWithNoCase(path, "QXFTP.DLL")) {
    NamedCall call(kServer, "LoadLibraryExA", "QXFTP.DLL");
    serverModule = LoadLibraryExA(path, file, flags);
    return serverModule;
  }
  const char* slash = path != nullptr ? std::strrchr(path, '\\') : nullptr;
  NamedCall call(kLibraries, "LoadLibraryExA", slash != nullptr ? slash + 1 : path);
  return LoadLibraryExA(path, file, flags);
}

BOOL WINAPI TraceFreeLibrary(HMODULE module) {
  if (module != nullptr && module == serverModule) {
    serverModule = nullptr;
    NamedCall call(kServer, "FreeLibrary", "QXFTP.DLL");
    return FreeLibrary(module);
  }
  Scope scope(kLibraries, "FreeLibrary");
  return FreeLibrary(module);
}

int WINAPI TraceMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  NamedCall call(kMessageBox, "MessageBoxA", caption);
  return MessageBoxA(owner, text, caption, style);
}

int WINAPI TraceShellFileOperation(LPSHFILEOPSTRUCTA operation) {
  char label[kLabelSize] = {};
  if (operation != nullptr) {
    const char* verb = operation->wFunc == FO_COPY ? "copy" : operation->wFunc == FO_DELETE ? "delete" : "other";
    std::snprintf(label, sizeof(label), "%s %s%s%s", verb, operation->pFrom != nullptr ? operation->pFrom : "",
                  operation->pTo != nullptr ? " -> " : "", operation->pTo != nullptr ? operation->pTo : "");
  }
  NamedCall call(kShellFileOp, "SHFileOperationA", label);
  return SHFileOperationA(operation);
}

HDDEDATA WINAPI TraceDdeTransaction(LPBYTE data, DWORD size, HCONV conversation, HSZ item, UINT format, UINT type,
                                    DWORD timeout, LPDWORD result) {
  char label[kLabelSize] = {};
  if (type == XTYP_EXECUTE && size == 0xFFFFFFFF && data != nullptr) {
    // The command travels in a data handle: its text is read before the
    // handle passes to the DDE library. This is the trace's own reading,
    // not a call of the program, so it is not counted (microseconds).
    HDDEDATA handle = reinterpret_cast<HDDEDATA>(data);
    DWORD length = 0;
    LPBYTE text = DdeAccessData(handle, &length);
    if (text != nullptr) {
      std::snprintf(label, sizeof(label), "%.*s", static_cast<int>(length < kLabelSize ? length : kLabelSize - 1),
                    reinterpret_cast<const char*>(text));
      DdeUnaccessData(handle);
    }
  } else if (type == XTYP_REQUEST) {
    std::snprintf(label, sizeof(label), "request");
  }
  NamedCall call(kDdeTransaction, "DdeClientTransaction", label);
  return DdeClientTransaction(data, size, conversation, item, format, type, timeout, result);
}

HRESULT WINAPI TraceCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) {
  HRESULT result;
  {
    NamedCall call(kLink, "CoCreateInstance");
    result = CoCreateInstance(clsid, outer, context, iid, object);
  }
  if (SUCCEEDED(result) && object != nullptr && *object != nullptr && IsEqualIID(iid, IID_IShellLinkA)) {
    auto* proxy = new (std::nothrow) LinkProxy(static_cast<IShellLinkA*>(*object));
    if (proxy != nullptr) *object = static_cast<IShellLinkA*>(proxy);
  }
  return result;
}

}  // namespace vtrace
