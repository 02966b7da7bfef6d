// The scripted user who drives a wizard while PropertySheetA waits for
// input, and the WizardView through which a test's steps read and act.
#include "propsheet.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

constexpr int kMaxIdles = 10000;

void Perform(WizardView& v, const UserAction& a) {
  switch (a.kind) {
    case UserAction::Kind::Click:
      v.Click(a.id);
      break;
    case UserAction::Kind::Type:
      v.Type(a.id, a.text);
      break;
    case UserAction::Kind::Select:
      v.Select(a.id, a.index);
      break;
    case UserAction::Kind::Press:
      v.Press(a.button);
      break;
    case UserAction::Kind::Inspect:
      if (a.inspect) a.inspect(v);
      break;
  }
}

}  // namespace

namespace winsim::detail {

// The sheet waits for input: the next scripted step, else the idle hook,
// else the user gives up and presses Cancel.
void Idle(State& s, Sheet& sh) {
  Machine& m = *s.owner;
  WizardView view(m, &sh);
  if (++sh.idles > kMaxIdles) {
    s.Log("WizardUser", {Dec(sh.active), "Input limit", "sheet closed after " + Dec(kMaxIdles) + " inputs"});
    sh.ended = true;
    sh.result = 0;
    return;
  }
  while (!s.wizardScript.empty() && s.wizardScript.front().kind == UserAction::Kind::Inspect) {
    UserAction a = std::move(s.wizardScript.front());
    s.wizardScript.pop_front();
    Perform(view, a);
    if (sh.ended) return;
  }
  if (!s.wizardScript.empty()) {
    UserAction a = std::move(s.wizardScript.front());
    s.wizardScript.pop_front();
    Perform(view, a);
    return;
  }
  if (m.onWizardIdle) {
    m.onWizardIdle(view);
    if (view.inputs() > 0 || sh.ended) return;
  }
  if (sh.forcedCancels >= 3) {
    s.Log("WizardUser", {Dec(sh.active), "End of script", "sheet closed: Cancel refused"});
    sh.ended = true;
    sh.result = 0;
    return;
  }
  ++sh.forcedCancels;
  s.Log("WizardUser", {Dec(sh.active), "End of script", "Cancel"});
  view.Press(WizButton::Cancel);
}

}  // namespace winsim::detail

// ---- UserAction, WizardView ------------------------------------------------------------------------
const char* winsim::WizButtonName(WizButton b) {
  switch (b) {
    case WizButton::Back:
      return "Back";
    case WizButton::Next:
      return "Next";
    case WizButton::Finish:
      return "Finish";
    case WizButton::Cancel:
      return "Cancel";
    case WizButton::Help:
      return "Help";
  }
  return "?";
}

UserAction UserAction::Click(int id) {
  UserAction a;
  a.kind = Kind::Click;
  a.id = id;
  return a;
}
UserAction UserAction::Type(int id, std::string text) {
  UserAction a;
  a.kind = Kind::Type;
  a.id = id;
  a.text = std::move(text);
  return a;
}
UserAction UserAction::Select(int id, int index) {
  UserAction a;
  a.kind = Kind::Select;
  a.id = id;
  a.index = index;
  return a;
}
UserAction UserAction::Press(WizButton b) {
  UserAction a;
  a.kind = Kind::Press;
  a.button = b;
  return a;
}
UserAction UserAction::Inspect(std::function<void(WizardView&)> f) {
  UserAction a;
  a.kind = Kind::Inspect;
  a.inspect = std::move(f);
  return a;
}

bool WizardView::Open() const { return !sheet_->ended; }
int WizardView::Page() const { return sheet_->ended ? -1 : sheet_->active; }
HWND WizardView::Sheet() const { return sheet_->frame; }
HWND WizardView::PageWindow() const {
  return sheet_->active >= 0 ? sheet_->pageWnd[static_cast<size_t>(sheet_->active)] : nullptr;
}
HWND WizardView::PageWindow(int index) const {
  if (index < 0 || index >= static_cast<int>(sheet_->pageWnd.size())) return nullptr;
  return sheet_->pageWnd[static_cast<size_t>(index)];
}
HWND WizardView::Control(int id) const {
  const State& s = machine_.state();
  const Window* page = s.Win(PageWindow());
  if (!page) return nullptr;
  for (HWND c : page->children) {
    const Window* w = s.Win(c);
    if (w && w->id == id) return c;
  }
  return nullptr;
}
std::string WizardView::Caption() const { return machine_.WindowText(sheet_->frame); }
std::string WizardView::Text(int id) const {
  HWND c = Control(id);
  return c ? machine_.WindowText(c) : "";
}
bool WizardView::Checked(int id) const { return machine_.IsChecked(Control(id)); }
bool WizardView::Enabled(int id) const { return machine_.IsEnabledWindow(Control(id)); }
bool WizardView::Visible(int id) const { return machine_.IsShownWindow(Control(id)); }
std::vector<std::string> WizardView::Items(int id) const {
  HWND c = Control(id);
  return c ? machine_.ComboItems(c) : std::vector<std::string>{};
}
DWORD WizardView::WizButtons() const { return sheet_->wizFlags; }
bool WizardView::CanPress(WizButton b) const {
  HWND h = ButtonWindow(*sheet_, b);
  return !sheet_->ended && machine_.IsShownWindow(h) && machine_.IsEnabledWindow(h);
}
std::string WizardView::ButtonText(WizButton b) const { return machine_.WindowText(ButtonWindow(*sheet_, b)); }
RECT WizardView::SheetRect() const {
  RECT r{};
  if (const Window* w = machine_.state().Win(sheet_->frame)) r = w->rect;
  return r;
}
std::string WizardView::SheetText(int id) const {
  const State& s = machine_.state();
  const Window* f = s.Win(sheet_->frame);
  if (!f) return "";
  for (HWND c : f->children) {
    const Window* w = s.Win(c);
    if (w && w->id == id) return w->text;
  }
  return "";
}

bool WizardView::Refuse(const std::string& what, const std::string& why) {
  machine_.state().Log("WizardUser", {Dec(Page()), what, "refused: " + why});
  return false;
}

bool WizardView::Input(const std::string& what, const std::function<std::string(bool)>& act) {
  if (sheet_->ended) return Refuse(what, "the sheet is closed");
  std::string why = act(true);
  if (!why.empty()) return Refuse(what, why);
  machine_.state().Log("WizardUser", {Dec(Page()), what, "taken"});
  ++inputs_;
  act(false);
  return true;
}

bool WizardView::Click(int id) {
  State& s = machine_.state();
  HWND c = Control(id);
  return Input("Click " + std::to_string(id), [&](bool dry) { return UserClick(s, c, dry); });
}

bool WizardView::Type(int id, const std::string& text) {
  State& s = machine_.state();
  HWND c = Control(id);
  return Input("Type " + std::to_string(id) + " \"" + text + "\"", [&](bool dry) { return UserType(s, c, text, dry); });
}

bool WizardView::Select(int id, int index) {
  State& s = machine_.state();
  HWND c = Control(id);
  return Input("Select " + std::to_string(id) + " " + std::to_string(index),
               [&](bool dry) { return UserSelect(s, c, index, dry); });
}

bool WizardView::Press(WizButton b) {
  State& s = machine_.state();
  if (sheet_->ended) {
    s.Log("PropSheetButton", {WizButtonName(b), "user", "refused: the sheet is closed"});
    return false;
  }
  HWND h = ButtonWindow(*sheet_, b);
  const char* why = !machine_.IsShownWindow(h) ? "hidden" : !machine_.IsEnabledWindow(h) ? "disabled" : nullptr;
  if (why) {
    s.Log("PropSheetButton", {WizButtonName(b), "user", std::string("refused: ") + why});
    return false;
  }
  s.Log("PropSheetButton", {WizButtonName(b), "user", "pressed"});
  ++inputs_;
  PressButton(s, *sheet_, b);
  return true;
}

void Machine::ScriptWizard(std::vector<UserAction> actions) {
  for (auto& a : actions) state_->wizardScript.push_back(std::move(a));
}

size_t Machine::UnusedWizardActions() const { return state_->wizardScript.size(); }
