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
//
// The driver's parts: the log (vdriver_log.cpp), the box answering
// (vdriver_boxes.cpp), the started program's descendants
// (vdriver_children.cpp) and the wizard script (vdriver_wizard.cpp); this
// file reads the options, starts the program and polls until it ends.
#include "vdriver.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vdriver {

namespace {

constexpr UINT kKilledExitCode = 124;

// The answer words name the ids the box answering posts.
static_assert(userscript::kOk == IDOK && userscript::kCancel == IDCANCEL && userscript::kAbort == IDABORT &&
              userscript::kRetry == IDRETRY && userscript::kIgnore == IDIGNORE && userscript::kYes == IDYES &&
              userscript::kNo == IDNO);

bool ParseAnswer(const std::string& rule_text, Options& options) {
  size_t eq = rule_text.rfind('=');
  if (eq == std::string::npos || eq == 0) return false;
  Rule rule;
  std::string list = rule_text.substr(eq + 1);
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    std::string word = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    int id = userscript::AnswerId(word);
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

}  // namespace

}  // namespace vdriver

int main(int argc, char** argv) {
  using namespace vdriver;
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
