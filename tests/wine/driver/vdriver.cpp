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
//   EXIT    exit code of the program (124 when it was killed at the time-out)
//   ERROR   message
// vdriver's own exit code: 0 when the program ran and ended by itself, 2 for
// a usage error, 3 when the program could not be started, 4 at a time-out.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
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
    for (DWORD p = pid, hops = 0; p && hops < 64; ++hops) {
      if (p == root_) {
        inside_.insert(pid);
        return true;
      }
      auto it = parent_.find(p);
      if (it == parent_.end() || it->second == p) break;
      p = it->second;
    }
    outside_[pid] = GetTickCount();
    return false;
  }

 private:
  void Refresh() {
    parent_.clear();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Process32First(snapshot, &entry); ok; ok = Process32Next(snapshot, &entry)) {
      parent_[entry.th32ProcessID] = entry.th32ParentProcessID;
    }
    CloseHandle(snapshot);
  }

  DWORD root_;
  std::set<DWORD> inside_;
  std::map<DWORD, DWORD> outside_;  // pid -> tick of the lookup
  std::map<DWORD, DWORD> parent_;
};

struct Watch {
  Options* options;
  ProcessTree* tree;
  std::set<HWND> handled;
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
      LogLine({"SHORT", path, "!" + std::to_string(length ? ERROR_INSUFFICIENT_BUFFER : GetLastError())});
    } else {
      LogLine({"SHORT", path, std::string(buffer, length)});
    }
  }
}

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
  Watch watch{&options, &tree, {}};
  // GetTickCount rather than GetTickCount64, which systems before Vista lack;
  // the unsigned difference stays right across the counter's wrap.
  const DWORD start = GetTickCount();
  const DWORD timeout_ms = static_cast<DWORD>(options.timeout_seconds * 1000);
  bool timed_out = false;
  for (;;) {
    if (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_OBJECT_0) break;
    EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&watch));
    // Forget closed boxes so that a later window reusing the handle is seen.
    for (auto it = watch.handled.begin(); it != watch.handled.end();) {
      it = IsWindow(*it) ? std::next(it) : watch.handled.erase(it);
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

  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  LogShortPaths(options);
  LogLine({"EXIT", std::to_string(code)});
  if (g_log) fclose(g_log);
  return timed_out ? 4 : 0;
}
