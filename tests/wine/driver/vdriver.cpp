// vdriver: runs one program the way a user would start it and plays the user
// for its message boxes.
//
//   vdriver [--cwd DIR] [--log FILE] [--timeout SECONDS]
//           [--answer "CAPTION=ANSWER[,ANSWER...]"]... [--shortpath PATH]...
//           -- PROGRAM [ARGUMENTS...]
//
// Every poll (50 ms) it looks for top-level dialog windows (class "#32770")
// of the started process or of its descendants. A message box is answered by
// posting WM_COMMAND with the button id to it, which is what pressing the
// button does. Answers are given per caption; a comma-separated list answers
// successive boxes of that caption and its last answer repeats. Caption "*"
// answers every box no other rule names. A box without a rule gets IDOK, or
// its first button when it has no OK button, and is marked "unscripted".
//
// The log has one line per event, fields separated by TABs; inside a field a
// backslash is written as \\ and TAB, LF and CR as \t, \n and \r:
//   START   command line   current directory
//   BOX     caption   text   answer [unscripted]
//   DIALOG  caption   (a dialog that is not a message box, left alone)
//   WINDOW  class   caption   (top-level windows still open at a time-out)
//   TIMEOUT seconds
//   SHORT   path   short path, or !error code
//   CHILD   command line   current directory   executable name, the first
//           two as the process itself holds them (the directory keeps its
//           trailing backslash), the name as the snapshot gives it; once per
//           process id of every descendant of the started program, found by
//           the poll and by one last look when the program has ended.
//           When they cannot be read: CHILD   !error N   executable name
//           (N a Windows error code; the name is empty when the snapshot
//           had none yet, as Wine's has for a process still starting)
//   EXIT    exit code of the program (124 when it was killed at the time-out
//           or after a failed wizard step)
//   ERROR   message
// vdriver's own exit code: 0 when the program ran and ended by itself, 2 for
// a usage error, 3 when the program could not be started, 4 at a time-out,
// 5 when a wizard script step failed (the program is then ended at once).
//
// --wizard SCRIPT plays the user of a wizard property sheet as well, one step
// a line ("#" starts a comment). Steps that wait give up after
// --step-timeout seconds (default 30):
//   sheet CAPTION     wait for the program's property sheet of that caption
//   page TEMPLATE     wait until the current page is the one made from that
//                     dialog template id (PSM_INDEXTOID of the page's index)
//   click ID          BM_CLICK on a control of the current page
//   settext ID TEXT   WM_SETTEXT on a control of the current page (the rest of
//                     the line, may be empty); a combo box's parent also gets
//                     CBN_EDITCHANGE, as typing would send
//   read ID           log a control's class, text and state
//   dump              log every control of the current page
//   buttons           log the sheet's Back, Next, Finish and Cancel buttons
//   press BUTTON      BACK, NEXT, FINISH or CANCEL, by PSM_PRESSBUTTON; only
//                     a visible, enabled button can be pressed, as by a user
//   shot NAME         screenshot of the sheet, see --shots
//   box CAPTION       wait until one more box of that caption has been answered
//   closed            wait until the sheet is gone
//   sleep MS
// Their log lines:
//   SHEET   caption
//   PAGE    template id   page index   the sheet's caption (a wizard shows the page's)
//   CLICK / SETTEXT / READ   id   class   text   checked|unchecked|-   enabled|disabled   visible|hidden
//   CONTROL (the same fields, one line per control, from dump)
//   BUTTONS back=STATE   next=STATE   finish=STATE   cancel=STATE   (enabled, disabled, hidden, missing)
//   PRESS   button
//   SHOT    name   file, or !reason
//   WAITED  box caption  |  CLOSED
//   STEPFAIL line number   step   reason
// Screenshots are taken by the Unix side, which a Windows program cannot
// reach: with --shots DIR, "shot NAME" writes DIR\NAME.req holding the
// sheet's screen rectangle as WxH+X+Y, and waits until the watcher has
// written DIR\NAME.png and renamed the request to DIR\NAME.ack.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr DWORD kPollMs = 50;
constexpr UINT kKilledExitCode = 124;

struct Rule {
  std::vector<int> answers;
  size_t used = 0;
};

struct Options {
  std::string cwd;
  std::string log_path;
  double timeout_seconds = 120;
  std::map<std::string, Rule> rules;
  std::vector<std::string> short_paths;
  std::vector<std::string> command;
  std::string wizard_script;
  std::string shots_dir;
  double step_timeout_seconds = 30;
};

FILE* g_log = nullptr;

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

void LogLine(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i) line += '\t';
    line += Escape(fields[i]);
  }
  line += '\n';
  fputs(line.c_str(), stdout);
  fflush(stdout);
  if (g_log) {
    fputs(line.c_str(), g_log);
    fflush(g_log);
  }
}

// Appended rather than written as "!" + std::to_string(code): GCC 12 at -O3
// warns wrongly (-Wrestrict) about that string concatenation.
std::string ErrorField(const char* prefix, DWORD code) {
  std::string field = prefix;
  field += std::to_string(code);
  return field;
}

int AnswerId(const std::string& word) {
  static const std::map<std::string, int> ids = {
      {"OK", IDOK},         {"CANCEL", IDCANCEL}, {"ABORT", IDABORT}, {"RETRY", IDRETRY},
      {"IGNORE", IDIGNORE}, {"YES", IDYES},       {"NO", IDNO},
  };
  std::string upper;
  for (char c : word) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  auto it = ids.find(upper);
  return it == ids.end() ? 0 : it->second;
}

const char* AnswerName(int id) {
  switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "CANCEL";
    case IDABORT: return "ABORT";
    case IDRETRY: return "RETRY";
    case IDIGNORE: return "IGNORE";
    case IDYES: return "YES";
    case IDNO: return "NO";
    default: return "?";
  }
}

bool ParseAnswer(const std::string& rule_text, Options& options) {
  size_t eq = rule_text.rfind('=');
  if (eq == std::string::npos || eq == 0) return false;
  Rule rule;
  std::string list = rule_text.substr(eq + 1);
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    std::string word = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    int id = AnswerId(word);
    if (!id) return false;
    rule.answers.push_back(id);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  options.rules[rule_text.substr(0, eq)] = rule;
  return true;
}

// Quotes one argument so that the started program's C runtime splits it back
// into the same string (the documented CommandLineToArgv rules).
std::string QuoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') out.append(backslashes * 2 + 1, '\\');
    else out.append(backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

void Usage() {
  fputs("usage: vdriver [--cwd DIR] [--log FILE] [--timeout SECONDS]\n"
        "               [--answer \"CAPTION=YES|NO|OK|CANCEL[,...]\"]... [--shortpath PATH]...\n"
        "               [--wizard SCRIPT [--shots DIR] [--step-timeout SECONDS]]\n"
        "               -- PROGRAM [ARGUMENTS...]\n",
        stderr);
}

bool ParseOptions(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (i + 1 >= argc) return false;
    std::string value = argv[++i];
    if (arg == "--cwd") options.cwd = value;
    else if (arg == "--log") options.log_path = value;
    else if (arg == "--shortpath") options.short_paths.push_back(value);
    else if (arg == "--wizard") options.wizard_script = value;
    else if (arg == "--shots") options.shots_dir = value;
    else if (arg == "--step-timeout") {
      char* end = nullptr;
      options.step_timeout_seconds = strtod(value.c_str(), &end);
      if (!end || *end || options.step_timeout_seconds <= 0) return false;
    }
    else if (arg == "--answer") {
      if (!ParseAnswer(value, options)) {
        fprintf(stderr, "vdriver: bad answer rule '%s'\n", value.c_str());
        return false;
      }
    } else if (arg == "--timeout") {
      char* end = nullptr;
      options.timeout_seconds = strtod(value.c_str(), &end);
      if (!end || *end || options.timeout_seconds <= 0) return false;
    } else {
      fprintf(stderr, "vdriver: unknown option '%s'\n", arg.c_str());
      return false;
    }
  }
  for (; i < argc; ++i) options.command.push_back(argv[i]);
  return !options.command.empty();
}

std::string WindowText(HWND window) {
  char buffer[1024];
  int length = GetWindowTextA(window, buffer, sizeof(buffer));
  if (length <= 0) return {};
  return std::string(buffer, static_cast<size_t>(length) < sizeof(buffer) ? length : sizeof(buffer) - 1);
}

std::string ClassName(HWND window) {
  char buffer[256];
  int length = GetClassNameA(window, buffer, sizeof(buffer));
  if (length <= 0) return {};
  return std::string(buffer, static_cast<size_t>(length) < sizeof(buffer) ? length : sizeof(buffer) - 1);
}

// A message box's text is the static control with id 0xFFFF; its buttons carry
// the IDOK..IDNO ids. A property sheet or another dialog may share the class
// "#32770" but lacks that direct static child.
bool IsMessageBox(HWND dialog) {
  HWND text = GetDlgItem(dialog, 0xFFFF);
  if (!text || ClassName(text) != "Static") return false;
  for (int id = IDOK; id <= IDNO; ++id) {
    if (GetDlgItem(dialog, id)) return true;
  }
  return false;
}

// The box's first button as the user sees it: the OK button when there is
// one, else the leftmost of Yes, Abort, Retry (MB_YESNO[CANCEL],
// MB_ABORTRETRYIGNORE, MB_RETRYCANCEL), else Cancel. Only the buttons of the
// box's style exist as children (Wine's user32 destroys the template's others
// in WM_INITDIALOG), so GetDlgItem tells which style it is.
int FirstButton(HWND dialog) {
  for (int id : {IDOK, IDYES, IDABORT, IDRETRY, IDCANCEL}) {
    if (GetDlgItem(dialog, id)) return id;
  }
  return IDOK;
}

class ProcessTree {
 public:
  explicit ProcessTree(DWORD root) : root_(root) {}

  // True when pid is the root process or one of its descendants. A process's
  // parent never changes, so a descendant stays one while it lives; an
  // outsider is looked up again after a second, since Windows reuses ids and
  // the id may then belong to a new child.
  bool Contains(DWORD pid) {
    if (pid == root_ || inside_.count(pid)) return true;
    auto seen = outside_.find(pid);
    if (seen != outside_.end() && GetTickCount() - seen->second < 1000) return false;
    Refresh();
    if (Descends(pid)) return true;
    outside_[pid] = GetTickCount();
    return false;
  }

  // The descendants alive now (not the root), with their executables' names,
  // from a fresh snapshot.
  std::vector<std::pair<DWORD, std::string>> Descendants() {
    Refresh();
    std::vector<std::pair<DWORD, std::string>> found;
    for (const auto& [pid, parent] : parent_) {
      if (pid != root_ && (inside_.count(pid) || Descends(pid))) found.emplace_back(pid, name_[pid]);
    }
    return found;
  }

 private:
  // Follows the parents of the last snapshot up to the root.
  bool Descends(DWORD pid) {
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

  void Refresh() {
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

  DWORD root_;
  std::set<DWORD> inside_;
  std::map<DWORD, DWORD> outside_;  // pid -> tick of the lookup
  std::map<DWORD, DWORD> parent_;
  std::map<DWORD, std::string> name_;
};

// --- the started program's descendants -------------------------------------

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

// Logs every descendant of the started program once. A child caught while
// its loader is still setting up is read again at the next scan; it is logged
// with its error only when that goes on for kRetryMs or it has ended.
class ChildLog {
 public:
  ChildLog(ProcessTree& tree, HANDLE root) : tree_(tree) {
    FILETIME exited{}, kernel{}, user{};
    GetProcessTimes(root, &root_created_, &exited, &kernel, &user);
  }

  void Scan() {
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

  // The last look, when the program has ended: children it started just
  // before are still alive and still name it as their parent.
  void FinalScan() {
    const DWORD start = GetTickCount();
    Scan();
    while (!failing_.empty() && GetTickCount() - start < kRetryMs) {
      Sleep(kPollMs);
      Scan();
    }
    while (!failing_.empty()) GiveUp(failing_.begin());
  }

 private:
  static constexpr DWORD kRetryMs = 2000;

  struct Failure {
    DWORD since;  // tick of the first failed read
    std::string name;
    DWORD error;  // of the last failed read
  };
  using Failing = std::map<DWORD, Failure>;

  static bool Alive(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) return false;
    bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return alive;
  }

  Failing::iterator GiveUp(Failing::iterator it) {
    done_.insert(it->first);
    LogLine({"CHILD", ErrorField("!error ", it->second.error), it->second.name});
    return failing_.erase(it);
  }

  ProcessTree& tree_;
  FILETIME root_created_{};
  std::set<DWORD> done_;  // logged, or found to be no descendant
  Failing failing_;
};

struct Watch {
  Options* options;
  ProcessTree* tree;
  std::set<HWND> handled;
  std::map<std::string, int> answered;  // boxes answered, per caption
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM context) {
  Watch& watch = *reinterpret_cast<Watch*>(context);
  if (watch.handled.count(window) || !IsWindowVisible(window)) return TRUE;
  if (ClassName(window) != "#32770") return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (!watch.tree->Contains(pid)) return TRUE;

  watch.handled.insert(window);
  std::string caption = WindowText(window);
  if (!IsMessageBox(window)) {
    LogLine({"DIALOG", caption});
    return TRUE;
  }
  std::string text = WindowText(GetDlgItem(window, 0xFFFF));
  auto rule = watch.options->rules.find(caption);
  if (rule == watch.options->rules.end()) rule = watch.options->rules.find("*");
  int answer;
  bool scripted = rule != watch.options->rules.end();
  if (scripted) {
    Rule& r = rule->second;
    answer = r.answers[r.used < r.answers.size() ? r.used : r.answers.size() - 1];
    ++r.used;
  } else {
    answer = FirstButton(window);
  }
  std::vector<std::string> fields = {"BOX", caption, text, AnswerName(answer)};
  if (!scripted) fields.push_back("unscripted");
  LogLine(fields);
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
  ++watch.answered[caption];
  return TRUE;
}

BOOL CALLBACK ListWindow(HWND window, LPARAM context) {
  auto& tree = *reinterpret_cast<ProcessTree*>(context);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (IsWindowVisible(window) && tree.Contains(pid)) {
    LogLine({"WINDOW", ClassName(window), WindowText(window)});
  }
  return TRUE;
}

void LogShortPaths(const Options& options) {
  for (const std::string& path : options.short_paths) {
    char buffer[MAX_PATH];
    DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof(buffer));
    if (length == 0 || length >= sizeof(buffer)) {
      LogLine({"SHORT", path, ErrorField("!", length ? ERROR_INSUFFICIENT_BUFFER : GetLastError())});
    } else {
      LogLine({"SHORT", path, std::string(buffer, length)});
    }
  }
}

// --- the wizard script ----------------------------------------------------

#ifndef PSM_HWNDTOINDEX
#define PSM_HWNDTOINDEX (WM_USER + 129)
#endif
#ifndef PSM_INDEXTOID
#define PSM_INDEXTOID (WM_USER + 133)
#endif

// The wizard buttons of a property sheet (comctl32's IDC_BACK_BUTTON,
// IDC_NEXT_BUTTON, IDC_FINISH_BUTTON) and Cancel.
struct SheetButton {
  const char* name;
  int id;
  int press;
};
const SheetButton kSheetButtons[] = {
    {"back", 0x3023, PSBTN_BACK},
    {"next", 0x3024, PSBTN_NEXT},
    {"finish", 0x3025, PSBTN_FINISH},
    {"cancel", IDCANCEL, PSBTN_CANCEL},
};

// Every question to the other process has a bound, so that a program stuck
// in a modal loop or a long operation delays a step instead of hanging the
// driver (which must go on answering boxes).
constexpr UINT kSendMs = 5000;

bool Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  DWORD_PTR out = 0;
  if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kSendMs, &out)) return false;
  result = static_cast<LRESULT>(out);
  return true;
}

// The text a control holds, asked with WM_GETTEXT: GetWindowText does not ask
// a window of another process and would miss what an edit or rich edit
// control keeps itself.
std::string ControlText(HWND control) {
  LRESULT length = 0;
  if (!Ask(control, WM_GETTEXTLENGTH, 0, 0, length) || length <= 0) return {};
  std::vector<char> buffer(static_cast<size_t>(length) + 2, '\0');
  LRESULT got = 0;
  if (!Ask(control, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), got) || got <= 0) return {};
  return std::string(buffer.data(), static_cast<size_t>(got) < buffer.size() ? got : buffer.size() - 1);
}

std::string UpperClass(HWND window) {
  std::string name = ClassName(window);
  for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return name;
}

std::vector<std::string> ControlFields(const char* event, int id, HWND control) {
  if (!control) return {event, std::to_string(id), "", "", "missing", "", ""};
  std::string check = "-";
  if (UpperClass(control) == "BUTTON") {
    LONG style = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
    if (style == BS_CHECKBOX || style == BS_AUTOCHECKBOX || style == BS_RADIOBUTTON ||
        style == BS_AUTORADIOBUTTON || style == BS_3STATE || style == BS_AUTO3STATE) {
      LRESULT state = 0;
      Ask(control, BM_GETCHECK, 0, 0, state);
      check = state == BST_CHECKED ? "checked" : state == BST_INDETERMINATE ? "indeterminate" : "unchecked";
    }
  }
  return {event,
          std::to_string(id),
          ClassName(control),
          ControlText(control),
          check,
          IsWindowEnabled(control) ? "enabled" : "disabled",
          IsWindowVisible(control) ? "visible" : "hidden"};
}

struct Step {
  int line = 0;
  std::string text;  // the line as written, for the log
  std::string verb;
  std::string arg;   // the first word after the verb, or the rest for sheet/box
  std::string rest;  // settext: everything after the id and one blank
};

bool ReadScript(const std::string& path, std::vector<Step>& steps) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    Step step;
    step.line = number;
    step.text = line.substr(start);
    size_t verbEnd = step.text.find_first_of(" \t");
    step.verb = step.text.substr(0, verbEnd);
    std::string tail = verbEnd == std::string::npos ? "" : step.text.substr(verbEnd + 1);
    if (step.verb == "sheet" || step.verb == "box") {
      step.arg = tail;
    } else {
      size_t argEnd = tail.find(' ');
      step.arg = tail.substr(0, argEnd);
      step.rest = argEnd == std::string::npos ? "" : tail.substr(argEnd + 1);
    }
    steps.push_back(step);
  }
  return true;
}

int ParseId(const std::string& text) {
  char* end = nullptr;
  long value = strtol(text.c_str(), &end, 0);
  return end && *end == '\0' && !text.empty() ? static_cast<int>(value) : -1;
}

struct FindSheet {
  ProcessTree* tree;
  const std::string* caption;
  HWND found;
};

BOOL CALLBACK VisitSheet(HWND window, LPARAM context) {
  auto& find = *reinterpret_cast<FindSheet*>(context);
  if (!IsWindowVisible(window) || ClassName(window) != "#32770" || IsMessageBox(window)) return TRUE;
  if (WindowText(window) != *find.caption) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (!find.tree->Contains(pid)) return TRUE;
  find.found = window;
  return FALSE;
}

class WizardScript {
 public:
  WizardScript(const Options& options, Watch& watch, HANDLE process)
      : options_(options), watch_(watch), process_(process) {}

  bool Load() {
    if (!ReadScript(options_.wizard_script, steps_)) {
      LogLine({"ERROR", "cannot read wizard script " + options_.wizard_script});
      return false;
    }
    return true;
  }

  bool failed() const { return failed_; }
  bool done() const { return next_ >= steps_.size(); }

  // Runs the steps that can run now; returns when one has to wait for the
  // program (or on failure). Called once per poll.
  void Advance() {
    while (!failed_ && next_ < steps_.size()) {
      const Step& step = steps_[next_];
      if (!started_) {
        started_ = true;
        step_start_ = GetTickCount();
      }
      std::string why;
      Outcome outcome = Run(step, why);
      if (outcome == Outcome::kWait) {
        if (GetTickCount() - step_start_ >= static_cast<DWORD>(options_.step_timeout_seconds * 1000)) {
          Fail(step, "no result within " + std::to_string(options_.step_timeout_seconds) + " s" +
                         (why.empty() ? "" : ": " + why));
        }
        return;
      }
      if (outcome == Outcome::kFail) {
        Fail(step, why);
        return;
      }
      ++next_;
      started_ = false;
    }
  }

  // The program ended before the script did.
  void ProgramEnded() {
    if (!failed_ && next_ < steps_.size()) Fail(steps_[next_], "the program ended");
  }

 private:
  enum class Outcome { kDone, kWait, kFail };

  void Fail(const Step& step, const std::string& why) {
    failed_ = true;
    LogLine({"STEPFAIL", std::to_string(step.line), step.text, why});
  }

  // The current page, or null with why saying what is missing.
  HWND CurrentPage(std::string& why) {
    if (!sheet_ || !IsWindow(sheet_)) {
      why = "no sheet (a \"sheet\" step must come first, or the sheet is gone)";
      return nullptr;
    }
    LRESULT page = 0;
    if (!Ask(sheet_, PSM_GETCURRENTPAGEHWND, 0, 0, page) || !page) {
      why = "the sheet gave no current page";
      return nullptr;
    }
    return reinterpret_cast<HWND>(page);
  }

  HWND Control(const Step& step, std::string& why) {
    int id = ParseId(step.arg);
    if (id < 0) {
      why = "not a control id: " + step.arg;
      return nullptr;
    }
    HWND page = CurrentPage(why);
    if (!page) return nullptr;
    HWND control = GetDlgItem(page, id);
    if (!control) why = "no control " + step.arg + " on the current page";
    return control;
  }

  std::string ButtonState(int id) {
    HWND button = GetDlgItem(sheet_, id);
    if (!button) return "missing";
    if (!IsWindowVisible(button)) return "hidden";
    return IsWindowEnabled(button) ? "enabled" : "disabled";
  }

  // Lets the program finish what the last step started and paint it.
  void Settle() {
    WaitForInputIdle(process_, 2000);
    LRESULT ignored = 0;
    Ask(sheet_, WM_NULL, 0, 0, ignored);
    RedrawWindow(sheet_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Ask(sheet_, WM_NULL, 0, 0, ignored);
    Sleep(200);
  }

  Outcome Run(const Step& step, std::string& why) {
    const std::string& verb = step.verb;
    if (verb == "sheet") {
      FindSheet find{watch_.tree, &step.arg, nullptr};
      EnumWindows(VisitSheet, reinterpret_cast<LPARAM>(&find));
      if (!find.found) return Outcome::kWait;
      sheet_ = find.found;
      LogLine({"SHEET", step.arg});
      return Outcome::kDone;
    }
    if (verb == "page") {
      int want = ParseId(step.arg);
      if (want < 0) {
        why = "not a template id: " + step.arg;
        return Outcome::kFail;
      }
      HWND page = CurrentPage(why);
      if (!page) return sheet_ && IsWindow(sheet_) ? Outcome::kWait : Outcome::kFail;
      LRESULT index = -1, id = 0;
      if (!Ask(sheet_, PSM_HWNDTOINDEX, reinterpret_cast<WPARAM>(page), 0, index) || index < 0 ||
          !Ask(sheet_, PSM_INDEXTOID, static_cast<WPARAM>(index), 0, id)) {
        why = "the sheet did not tell the page's template";
        return Outcome::kWait;
      }
      if (static_cast<int>(id) != want || !IsWindowVisible(page)) {
        why = "the current page is template " + std::to_string(id) + " (index " + std::to_string(index) + ")";
        return Outcome::kWait;
      }
      LogLine({"PAGE", std::to_string(id), std::to_string(index), WindowText(sheet_)});
      return Outcome::kDone;
    }
    if (verb == "click") {
      HWND control = Control(step, why);
      if (!control) return Outcome::kFail;
      if (!IsWindowEnabled(control) || !IsWindowVisible(control)) {
        why = "control " + step.arg + " is disabled or hidden";
        return Outcome::kFail;
      }
      // Sent, not posted: the next step must see the click's effect. A click
      // whose handler opens a modal box returns at the bound instead.
      LRESULT ignored = 0;
      Ask(control, BM_CLICK, 0, 0, ignored);
      LogLine(ControlFields("CLICK", ParseId(step.arg), control));
      return Outcome::kDone;
    }
    if (verb == "settext") {
      HWND control = Control(step, why);
      if (!control) return Outcome::kFail;
      LRESULT ok = 0;
      if (!Ask(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(step.rest.c_str()), ok) || !ok) {
        why = "WM_SETTEXT failed";
        return Outcome::kFail;
      }
      if (UpperClass(control) == "COMBOBOX") {
        LRESULT ignored = 0;
        Ask(GetParent(control), WM_COMMAND, MAKEWPARAM(ParseId(step.arg), CBN_EDITCHANGE),
            reinterpret_cast<LPARAM>(control), ignored);
      }
      LogLine(ControlFields("SETTEXT", ParseId(step.arg), control));
      return Outcome::kDone;
    }
    if (verb == "read") {
      int id = ParseId(step.arg);
      HWND page = CurrentPage(why);
      if (!page || id < 0) return Outcome::kFail;
      LogLine(ControlFields("READ", id, GetDlgItem(page, id)));
      return Outcome::kDone;
    }
    if (verb == "dump") {
      HWND page = CurrentPage(why);
      if (!page) return Outcome::kFail;
      for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        LogLine(ControlFields("CONTROL", GetDlgCtrlID(child), child));
      }
      return Outcome::kDone;
    }
    if (verb == "buttons") {
      if (!sheet_ || !IsWindow(sheet_)) {
        why = "no sheet";
        return Outcome::kFail;
      }
      std::vector<std::string> fields = {"BUTTONS"};
      for (const SheetButton& b : kSheetButtons) fields.push_back(std::string(b.name) + "=" + ButtonState(b.id));
      LogLine(fields);
      return Outcome::kDone;
    }
    if (verb == "press") {
      std::string name;
      for (char c : step.arg) name += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      for (const SheetButton& b : kSheetButtons) {
        if (name != b.name) continue;
        if (!sheet_ || !IsWindow(sheet_)) {
          why = "no sheet";
          return Outcome::kFail;
        }
        std::string state = ButtonState(b.id);
        if (state != "enabled") {
          why = "the " + name + " button is " + state;
          return Outcome::kFail;
        }
        // Posted: Finish and Next may run work and boxes that this loop
        // has to answer while the sheet is busy.
        PostMessageA(sheet_, PSM_PRESSBUTTON, b.press, 0);
        LogLine({"PRESS", name});
        return Outcome::kDone;
      }
      why = "unknown button " + step.arg;
      return Outcome::kFail;
    }
    if (verb == "shot") return Shot(step, why);
    if (verb == "box") {
      int seen = watch_.answered.count(step.arg) ? watch_.answered[step.arg] : 0;
      if (seen <= boxes_waited_[step.arg]) return Outcome::kWait;
      ++boxes_waited_[step.arg];
      LogLine({"WAITED", "box", step.arg});
      return Outcome::kDone;
    }
    if (verb == "closed") {
      if (sheet_ && IsWindow(sheet_) && IsWindowVisible(sheet_)) return Outcome::kWait;
      LogLine({"CLOSED"});
      return Outcome::kDone;
    }
    if (verb == "sleep") {
      int ms = ParseId(step.arg);
      if (ms < 0) {
        why = "not a number of milliseconds";
        return Outcome::kFail;
      }
      return GetTickCount() - step_start_ >= static_cast<DWORD>(ms) ? Outcome::kDone : Outcome::kWait;
    }
    why = "unknown step";
    return Outcome::kFail;
  }

  Outcome Shot(const Step& step, std::string& why) {
    if (options_.shots_dir.empty()) {
      why = "no --shots directory";
      return Outcome::kFail;
    }
    std::string base = options_.shots_dir + "\\" + step.arg;
    std::string ack = base + ".ack";
    if (!shot_requested_) {
      if (!sheet_ || !IsWindow(sheet_)) {
        why = "no sheet";
        return Outcome::kFail;
      }
      Settle();
      RECT r{};
      GetWindowRect(sheet_, &r);
      DeleteFileA(ack.c_str());
      // Written aside and renamed, so that the watcher never reads half a
      // request.
      std::string temp = base + ".tmp";
      FILE* f = fopen(temp.c_str(), "wb");
      if (!f) {
        why = "cannot write " + temp;
        return Outcome::kFail;
      }
      fprintf(f, "%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
      fclose(f);
      if (!MoveFileExA(temp.c_str(), (base + ".req").c_str(), MOVEFILE_REPLACE_EXISTING)) {
        why = "cannot rename " + temp;
        return Outcome::kFail;
      }
      shot_requested_ = true;
    }
    if (GetFileAttributesA(ack.c_str()) == INVALID_FILE_ATTRIBUTES) {
      if (GetTickCount() - step_start_ >= 15000) {
        shot_requested_ = false;
        LogLine({"SHOT", step.arg, "!no answer from the screenshot watcher"});
        return Outcome::kDone;  // a missing picture fails in the checks, not the run
      }
      why = "waiting for " + ack;
      return Outcome::kWait;
    }
    shot_requested_ = false;
    LogLine({"SHOT", step.arg, base + ".png"});
    return Outcome::kDone;
  }

  const Options& options_;
  Watch& watch_;
  HANDLE process_;
  std::vector<Step> steps_;
  size_t next_ = 0;
  bool started_ = false;
  DWORD step_start_ = 0;
  bool failed_ = false;
  bool shot_requested_ = false;
  HWND sheet_ = nullptr;
  std::map<std::string, int> boxes_waited_;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    Usage();
    return 2;
  }
  if (!options.log_path.empty()) {
    g_log = fopen(options.log_path.c_str(), "wb");
    if (!g_log) {
      fprintf(stderr, "vdriver: cannot write log '%s'\n", options.log_path.c_str());
      return 2;
    }
  }

  std::string command_line;
  for (const std::string& arg : options.command) {
    if (!command_line.empty()) command_line += ' ';
    command_line += QuoteArgument(arg);
  }
  LogLine({"START", command_line, options.cwd});

  // Wine starts its desktop process (explorer.exe /desktop) from the first
  // process of a session that asks for the desktop window. Asked here, that
  // process is the driver's child and not taken for one of the program's.
  GetDesktopWindow();

  std::vector<char> writable(command_line.begin(), command_line.end());
  writable.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      options.cwd.empty() ? nullptr : options.cwd.c_str(), &startup, &process)) {
    LogLine({"ERROR", "CreateProcess failed with error " + std::to_string(GetLastError())});
    if (g_log) fclose(g_log);
    return 3;
  }
  CloseHandle(process.hThread);

  ProcessTree tree(process.dwProcessId);
  ChildLog children(tree, process.hProcess);
  Watch watch{&options, &tree, {}, {}};
  WizardScript script(options, watch, process.hProcess);
  bool scripted = !options.wizard_script.empty();
  if (scripted && !script.Load()) {
    TerminateProcess(process.hProcess, kKilledExitCode);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hProcess);
    if (g_log) fclose(g_log);
    return 2;
  }
  bool script_failed = false;
  // GetTickCount rather than GetTickCount64, which systems before Vista lack;
  // the unsigned difference stays right across the counter's wrap.
  const DWORD start = GetTickCount();
  const DWORD timeout_ms = static_cast<DWORD>(options.timeout_seconds * 1000);
  bool timed_out = false;
  for (;;) {
    if (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_OBJECT_0) break;
    children.Scan();
    EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&watch));
    // Forget closed boxes so that a later window reusing the handle is seen.
    for (auto it = watch.handled.begin(); it != watch.handled.end();) {
      it = IsWindow(*it) ? std::next(it) : watch.handled.erase(it);
    }
    if (scripted) {
      script.Advance();
      if (script.failed()) {
        // A user who cannot go on leaves; what was open is logged for the
        // diagnosis, and the program is ended at once rather than at the
        // time-out.
        script_failed = true;
        EnumWindows(ListWindow, reinterpret_cast<LPARAM>(&tree));
        TerminateProcess(process.hProcess, kKilledExitCode);
        WaitForSingleObject(process.hProcess, 5000);
        break;
      }
    }
    if (GetTickCount() - start >= timeout_ms) {
      timed_out = true;
      EnumWindows(ListWindow, reinterpret_cast<LPARAM>(&tree));
      LogLine({"TIMEOUT", std::to_string(options.timeout_seconds)});
      TerminateProcess(process.hProcess, kKilledExitCode);
      WaitForSingleObject(process.hProcess, 5000);
      break;
    }
  }

  // While the handle is open the program's id cannot be reused, so its
  // children's parent id still leads to it.
  children.FinalScan();
  if (scripted && !script_failed && !timed_out) {
    // Steps that only wait for the end ("closed", a last "box") finish now.
    script.Advance();
    if (!script.failed() && !script.done()) script.ProgramEnded();
    script_failed = script.failed();
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  LogShortPaths(options);
  LogLine({"EXIT", std::to_string(code)});
  if (g_log) fclose(g_log);
  return timed_out ? 4 : script_failed ? 5 : 0;
}
