// vdriver's box answering: each poll finds the top-level dialogs of the
// started program's processes, answers their message boxes by the --answer
// rules (or the first button) and logs the other dialogs.
#include "vdriver.h"

namespace vdriver {

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

namespace {

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

}  // namespace

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
  std::vector<std::string> fields = {"BOX", caption, text, userscript::AnswerName(answer)};
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

}  // namespace vdriver
