// vdriver's wizard script interpreter: plays the user of the program's
// property sheet one step a line, each step waiting for the program within
// --step-timeout, and logs what it did and saw.
#include "vdriver.h"

#include <commctrl.h>

#include <fstream>
#include <optional>
#include <sstream>

namespace vdriver {

namespace {

#ifndef PSM_HWNDTOINDEX
#define PSM_HWNDTOINDEX (WM_USER + 129)
#endif
#ifndef PSM_INDEXTOID
#define PSM_INDEXTOID (WM_USER + 133)
#endif

// The wizard buttons of a property sheet (comctl32's IDC_BACK_BUTTON,
// IDC_NEXT_BUTTON, IDC_FINISH_BUTTON) and Cancel.
struct SheetButton {
  userscript::Button button;
  int id;
  int press;
};
const SheetButton kSheetButtons[] = {
    {userscript::Button::Back, 0x3023, PSBTN_BACK},
    {userscript::Button::Next, 0x3024, PSBTN_NEXT},
    {userscript::Button::Finish, 0x3025, PSBTN_FINISH},
    {userscript::Button::Cancel, IDCANCEL, PSBTN_CANCEL},
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

bool ReadScript(const std::string& path, std::vector<Step>& steps) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  steps = userscript::ReadSteps(text.str());
  return true;
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

}  // namespace

bool WizardScript::Load() {
  if (!ReadScript(options_.wizard_script, steps_)) {
    LogLine({"ERROR", "cannot read wizard script " + options_.wizard_script});
    return false;
  }
  return true;
}

void WizardScript::Advance() {
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

void WizardScript::ProgramEnded() {
  if (!failed_ && next_ < steps_.size()) Fail(steps_[next_], "the program ended");
}

void WizardScript::Fail(const Step& step, const std::string& why) {
  failed_ = true;
  LogLine({"STEPFAIL", std::to_string(step.line), step.text, why});
}

HWND WizardScript::CurrentPage(std::string& why) {
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

HWND WizardScript::Control(const Step& step, std::string& why) {
  int id = userscript::Number(step.arg);
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

std::string WizardScript::ButtonState(int id) {
  HWND button = GetDlgItem(sheet_, id);
  if (!button) return "missing";
  if (!IsWindowVisible(button)) return "hidden";
  return IsWindowEnabled(button) ? "enabled" : "disabled";
}

void WizardScript::Settle() {
  WaitForInputIdle(process_, 2000);
  LRESULT ignored = 0;
  Ask(sheet_, WM_NULL, 0, 0, ignored);
  RedrawWindow(sheet_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  Ask(sheet_, WM_NULL, 0, 0, ignored);
  Sleep(200);
}

WizardScript::Outcome WizardScript::Run(const Step& step, std::string& why) {
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
    int want = userscript::Number(step.arg);
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
    LogLine(ControlFields("CLICK", userscript::Number(step.arg), control));
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
      Ask(GetParent(control), WM_COMMAND, MAKEWPARAM(userscript::Number(step.arg), CBN_EDITCHANGE),
          reinterpret_cast<LPARAM>(control), ignored);
    }
    LogLine(ControlFields("SETTEXT", userscript::Number(step.arg), control));
    return Outcome::kDone;
  }
  if (verb == "read") {
    int id = userscript::Number(step.arg);
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
    for (const SheetButton& b : kSheetButtons)
      fields.push_back(std::string(userscript::ButtonName(b.button)) + "=" + ButtonState(b.id));
    LogLine(fields);
    return Outcome::kDone;
  }
  if (verb == "press") {
    std::optional<userscript::Button> named = userscript::ButtonNamed(step.arg);
    for (const SheetButton& b : kSheetButtons) {
      if (named != b.button) continue;
      std::string name = userscript::ButtonName(b.button);
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
    int ms = userscript::Number(step.arg);
    if (ms < 0) {
      why = "not a number of milliseconds";
      return Outcome::kFail;
    }
    return GetTickCount() - step_start_ >= static_cast<DWORD>(ms) ? Outcome::kDone : Outcome::kWait;
  }
  why = "unknown step";
  return Outcome::kFail;
}

WizardScript::Outcome WizardScript::Shot(const Step& step, std::string& why) {
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
}  // namespace vdriver
