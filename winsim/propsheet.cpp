// COMCTL32 property sheets in wizard mode, and the scripted user who drives
// them while PropertySheetA waits for input.
//
// The protocol follows Wine's dlls/comctl32/propsheet.c:
// - The sheet's WM_INITDIALOG sets the wizard buttons to Back | Next, sets
//   the title, calls the callback with PSCB_INITIALIZED, then selects the
//   start page. PSCB_PRECREATE comes first, before the frame exists.
// - Selecting a page creates its dialog the first time (WM_INITDIALOG with
//   lParam = the page's PROPSHEETPAGEA), hides the old page and sends
//   PSN_SETACTIVE: 0 shows the page, -1 skips on in the same direction, a
//   template id jumps to that page.
// - Next sends PSN_WIZNEXT (-1 stays, 0 goes on, a template id jumps), then
//   PSN_KILLACTIVE to the current page (nonzero stays), then selects the
//   new page. Back likewise with PSN_WIZBACK.
// - Finish sends PSN_WIZFINISH only: nonzero keeps the sheet open, 0 closes
//   it and PropertySheetA returns IDOK (or ID_PSREBOOTSYSTEM /
//   ID_PSRESTARTWINDOWS when a page asked for them).
// - Cancel sends PSN_QUERYCANCEL to the current page (nonzero refuses),
//   then PSN_RESET to every page created, and PropertySheetA returns 0.
// - PSM_SETWIZBUTTONS enables Back and Next by their flags; PSWIZB_FINISH
//   shows and enables Finish in Next's place (unless PSH_WIZARDHASFINISH).
// - The Help button shows with PSH_HASHELP and is enabled on pages that
//   have PSP_HASHELP.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace winsim::detail {

struct PropPageObj {
  // The page as given, at least a whole PROPSHEETPAGEA (more when the
  // program's dwSize covers its own data after it).
  std::vector<uint8_t> raw;
  PROPSHEETPAGEA* psp() { return reinterpret_cast<PROPSHEETPAGEA*>(raw.data()); }
};

struct Sheet {
  HWND frame = nullptr;
  PROPSHEETHEADERA header{};
  std::string caption;
  std::vector<std::shared_ptr<PropPageObj>> pages;
  std::vector<HWND> pageWnd;
  int active = -1;
  bool ended = false;
  INT_PTR result = 0;
  DWORD wizFlags = 0;
  bool hasFinish = false, hasHelp = false;
  HWND back = nullptr, next = nullptr, finish = nullptr, cancel = nullptr, help = nullptr;
  RECT pageRect{};  // in the frame's client area
  int forcedCancels = 0;
  int idles = 0;
};

}  // namespace winsim::detail

namespace {

constexpr int kBackId = 0x3023, kNextId = 0x3024, kFinishId = 0x3025;
constexpr int kMaxIdles = 10000;

std::string CodeName(UINT code) {
  switch (code) {
    case PSN_SETACTIVE:
      return "PSN_SETACTIVE";
    case PSN_KILLACTIVE:
      return "PSN_KILLACTIVE";
    case PSN_APPLY:
      return "PSN_APPLY";
    case PSN_RESET:
      return "PSN_RESET";
    case PSN_HELP:
      return "PSN_HELP";
    case PSN_WIZBACK:
      return "PSN_WIZBACK";
    case PSN_WIZNEXT:
      return "PSN_WIZNEXT";
    case PSN_WIZFINISH:
      return "PSN_WIZFINISH";
    case PSN_QUERYCANCEL:
      return "PSN_QUERYCANCEL";
    default:
      return Dec(static_cast<int>(code));
  }
}

std::string WizFlagNames(DWORD f) {
  std::string r;
  auto add = [&r](const char* n) { r += (r.empty() ? "" : "|") + std::string(n); };
  if (f & PSWIZB_BACK) add("BACK");
  if (f & PSWIZB_NEXT) add("NEXT");
  if (f & PSWIZB_FINISH) add("FINISH");
  if (f & PSWIZB_DISABLEDFINISH) add("DISABLEDFINISH");
  return r.empty() ? "0" : r;
}

bool DwSizeAccepted(DWORD size, DWORD nativeV1, std::initializer_list<DWORD> win32Sizes) {
  // The program announces either the 32-bit SDK figure of its layout or
  // the native sizeof; both describe the same fields.
  if (size >= nativeV1) return true;
  return std::find(win32Sizes.begin(), win32Sizes.end(), size) != win32Sizes.end();
}

std::shared_ptr<PropPageObj> MakePage(const PROPSHEETPAGEA* p) {
  auto page = std::make_shared<PropPageObj>();
  size_t n = std::max<size_t>(sizeof(PROPSHEETPAGEA), p->dwSize > sizeof(PROPSHEETPAGEA) ? p->dwSize : 0);
  page->raw.assign(n, 0);
  std::memcpy(page->raw.data(), p, p->dwSize > sizeof(PROPSHEETPAGEA) ? p->dwSize : sizeof(PROPSHEETPAGEA));
  return page;
}

std::string TemplateName(const PROPSHEETPAGEA* p) {
  if (p->dwFlags & PSP_DLGINDIRECT) return "(indirect)";
  return p->pszTemplate ? ResourceKey(p->pszTemplate) : "NULL";
}

void Show(State& s, HWND h, bool on) {
  if (Window* w = s.Win(h)) w->visible = on;
}
void Enable(State& s, HWND h, bool on) {
  if (Window* w = s.Win(h)) w->enabled = on;
}

LRESULT Notify(State& s, Sheet& sh, int index, UINT code, LPARAM lParam = 0) {
  HWND page = sh.pageWnd[static_cast<size_t>(index)];
  if (!page) return 0;
  PSHNOTIFY n{};
  n.hdr.hwndFrom = sh.frame;
  n.hdr.idFrom = 0;
  n.hdr.code = code;
  n.lParam = lParam;
  LRESULT r = 0;
  if (!DialogProcHandles(s, page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n), &r)) r = 0;
  s.Log("PropSheetNotify", {Dec(index), CodeName(code), Dec(r)});
  return r;
}

int FindPageByResId(const Sheet& sh, LRESULT resId) {
  for (size_t i = 0; i < sh.pages.size(); ++i) {
    const PROPSHEETPAGEA* p = sh.pages[i]->psp();
    if (!(p->dwFlags & PSP_DLGINDIRECT) && IS_INTRESOURCE(p->pszTemplate) &&
        static_cast<LRESULT>(reinterpret_cast<uintptr_t>(p->pszTemplate)) == resId)
      return static_cast<int>(i);
  }
  return static_cast<int>(sh.pages.size());
}

bool CreatePage(State& s, Sheet& sh, int index) {
  PropPageObj& page = *sh.pages[static_cast<size_t>(index)];
  PROPSHEETPAGEA* p = page.psp();
  DWORD e = 0;
  LONG_PTR init = 0;
  HWND h = nullptr;
  if (p->dwFlags & PSP_DLGINDIRECT) {
    e = ERROR_CALL_NOT_IMPLEMENTED;
  } else {
    // A page is a child control of the sheet, never a popup with a frame.
    DWORD drop = DS_MODALFRAME | WS_CAPTION | WS_SYSMENU | WS_POPUP | WS_DISABLED | WS_VISIBLE;
    DWORD force = WS_CHILD | WS_TABSTOP | DS_3DLOOK | DS_CONTROL;
    // The page's window exists before WM_INITDIALOG, as on Windows, so it
    // is recorded first.
    h = CreateDialogFromResource(s, p->hInstance, p->pszTemplate, sh.frame, force, drop, p->pfnDlgProc,
                                 reinterpret_cast<LPARAM>(p), &init, &e);
  }
  if (h) {
    sh.pageWnd[static_cast<size_t>(index)] = h;
    if (Window* w = s.Win(h)) w->rect = sh.pageRect;
  }
  s.Log("PropSheetPage", {Dec(index), TemplateName(p), Machine::WindowTag(h), h ? Dec(init) : "error " + Dec(e)});
  return h != nullptr;
}

void SetWizButtons(State& s, Sheet& sh, DWORD flags) {
  sh.wizFlags = flags;
  bool enableFinish = ((flags & PSWIZB_FINISH) || sh.hasFinish) && !(flags & PSWIZB_DISABLEDFINISH);
  Enable(s, sh.back, flags & PSWIZB_BACK);
  Enable(s, sh.next, flags & PSWIZB_NEXT);
  Enable(s, sh.finish, enableFinish);
  if (!sh.hasFinish) {
    bool finishShown = (flags & (PSWIZB_FINISH | PSWIZB_DISABLEDFINISH)) != 0;
    Show(s, sh.next, !finishShown);
    Show(s, sh.finish, finishShown);
  }
}

bool SetCurSel(State& s, Sheet& sh, int index, int skipdir) {
  int n = static_cast<int>(sh.pages.size());
  if (index < 0 || index >= n) return false;
  if (sh.active != -1) Show(s, sh.pageWnd[static_cast<size_t>(sh.active)], false);
  sh.active = -1;
  for (int guard = 0; guard < 4 * n + 4; ++guard) {
    if (!sh.pageWnd[static_cast<size_t>(index)] && !CreatePage(s, sh, index)) {
      // Wine destroys a modal sheet whose page cannot be made; the program
      // sees PropertySheetA fail.
      sh.ended = true;
      sh.result = -1;
      return false;
    }
    LRESULT r = Notify(s, sh, index, PSN_SETACTIVE);
    if (sh.ended) return false;
    if (r == 0) break;
    if (r == -1) {
      index += skipdir;
      if (index < 0) {
        index = 0;
        break;
      }
      if (index >= n) {
        index = n - 1;
        break;
      }
    } else {
      int to = FindPageByResId(sh, r);
      if (to >= n) break;
      index = to;
    }
  }
  sh.active = index;
  Show(s, sh.pageWnd[static_cast<size_t>(index)], true);
  Enable(s, sh.help, (sh.pages[static_cast<size_t>(index)]->psp()->dwFlags & PSP_HASHELP) != 0);
  return true;
}

bool CanSetCurSel(State& s, Sheet& sh) {
  if (sh.active < 0) return true;
  return Notify(s, sh, sh.active, PSN_KILLACTIVE) == 0;
}

void DoNext(State& s, Sheet& sh) {
  if (sh.active < 0) return;
  LRESULT r = Notify(s, sh, sh.active, PSN_WIZNEXT);
  if (r == -1 || sh.ended) return;
  int idx = r == 0 ? sh.active + 1 : FindPageByResId(sh, r);
  if (idx < static_cast<int>(sh.pages.size()) && CanSetCurSel(s, sh)) SetCurSel(s, sh, idx, 1);
}

void DoBack(State& s, Sheet& sh) {
  if (sh.active < 0) return;
  LRESULT r = Notify(s, sh, sh.active, PSN_WIZBACK);
  if (r == -1 || sh.ended) return;
  int idx = r == 0 ? sh.active - 1 : FindPageByResId(sh, r);
  if (idx >= 0 && idx < static_cast<int>(sh.pages.size()) && CanSetCurSel(s, sh)) SetCurSel(s, sh, idx, -1);
}

void DoFinish(State& s, Sheet& sh) {
  if (sh.active < 0) return;
  if (Notify(s, sh, sh.active, PSN_WIZFINISH) != 0) return;
  if (sh.result == 0) sh.result = IDOK;
  sh.ended = true;
}

void DoCancel(State& s, Sheet& sh, LPARAM lParam) {
  if (sh.active < 0) return;
  if (Notify(s, sh, sh.active, PSN_QUERYCANCEL)) return;
  for (size_t i = 0; i < sh.pages.size(); ++i)
    if (sh.pageWnd[i]) Notify(s, sh, static_cast<int>(i), PSN_RESET, lParam);
  sh.ended = true;
}

void DoHelp(State& s, Sheet& sh) {
  if (sh.active >= 0) Notify(s, sh, sh.active, PSN_HELP);
}

void PressButton(State& s, Sheet& sh, WizButton b) {
  switch (b) {
    case WizButton::Back:
      DoBack(s, sh);
      break;
    case WizButton::Next:
      DoNext(s, sh);
      break;
    case WizButton::Finish:
      DoFinish(s, sh);
      break;
    case WizButton::Cancel:
      DoCancel(s, sh, 0);
      break;
    case WizButton::Help:
      DoHelp(s, sh);
      break;
  }
}

HWND ButtonWindow(const Sheet& sh, WizButton b) {
  switch (b) {
    case WizButton::Back:
      return sh.back;
    case WizButton::Next:
      return sh.next;
    case WizButton::Finish:
      return sh.finish;
    case WizButton::Cancel:
      return sh.cancel;
    case WizButton::Help:
      return sh.help;
  }
  return nullptr;
}

HWND MakeChild(State& s, HWND parent, const char* cls, const char* text, DWORD style, int id, RECT r) {
  Window w;
  w.className = cls;
  w.text = text;
  w.style = style;
  w.rect = r;
  w.parent = parent;
  w.id = id;
  return s.NewWindow(w);
}

void BuildFrame(State& s, Sheet& sh) {
  // The page area is the largest page template; around it 7 dialog units
  // of margin, an etched line and a row of 50 x 14 unit buttons.
  LONG pageW = DluToPixelX(212), pageH = DluToPixelY(120);
  bool any = false;
  for (auto& page : sh.pages) {
    SIZE sz{};
    const PROPSHEETPAGEA* p = page->psp();
    if (!(p->dwFlags & PSP_DLGINDIRECT) && p->pszTemplate &&
        DialogTemplateSize(s, p->hInstance, p->pszTemplate, &sz)) {
      if (!any) pageW = pageH = 0;
      any = true;
      pageW = std::max(pageW, sz.cx);
      pageH = std::max(pageH, sz.cy);
    }
  }
  int mx = DluToPixelX(7), my = DluToPixelY(7), bw = DluToPixelX(50), bh = DluToPixelY(14);
  LONG width = mx + pageW + mx;
  LONG lineY = my + pageH + my;
  LONG btnY = lineY + 2 + my;
  LONG height = btnY + bh + my;
  sh.pageRect = RECT{mx, my, mx + pageW, my + pageH};

  Window f;
  f.className = "#32770";
  f.text = sh.caption;
  f.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK | DS_CONTEXTHELP | DS_SETFONT;
  f.exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  f.rect = RECT{0, 0, width, height};
  f.instance = sh.header.hInstance;
  sh.frame = s.NewWindow(f);

  const DWORD push = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
  MakeChild(s, sh.frame, "Static", "", WS_CHILD | WS_VISIBLE | SS_ETCHEDHORZ, 0x3026, RECT{mx, lineY, width - mx, lineY + 2});
  LONG x = width - mx;
  auto slot = [&](LONG w) {
    RECT r{x - w, btnY, x, btnY + bh};
    x -= w;
    return r;
  };
  if (sh.hasHelp) {
    sh.help = MakeChild(s, sh.frame, "Button", "&Help", push, IDHELP, slot(bw));
    x -= mx;
  }
  sh.cancel = MakeChild(s, sh.frame, "Button", "Cancel", push, IDCANCEL, slot(bw));
  x -= mx;
  RECT nextRect = slot(bw);
  sh.next = MakeChild(s, sh.frame, "Button", "&Next >", push, kNextId, nextRect);
  sh.finish = MakeChild(s, sh.frame, "Button", "Finish", push & ~static_cast<DWORD>(WS_VISIBLE), kFinishId, nextRect);
  sh.back = MakeChild(s, sh.frame, "Button", "< &Back", push, kBackId, slot(bw));
  if (!sh.hasHelp) sh.help = MakeChild(s, sh.frame, "Button", "&Help", push & ~static_cast<DWORD>(WS_VISIBLE), IDHELP,
                                       RECT{0, btnY, bw, btnY + bh});
  if (sh.hasFinish) Show(s, sh.finish, true);
}

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

}  // namespace

namespace winsim::detail {

Sheet* SheetOf(State& s, HWND hwnd) {
  for (Sheet* sh : s.sheets)
    if (sh->frame == hwnd) return sh;
  return nullptr;
}

bool SheetHandles(State& s, Sheet* sheet, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  Sheet& sh = *sheet;
  *result = 0;
  switch (msg) {
    case PSM_SETWIZBUTTONS:
      s.Log("PropSheetWizButtons", {Hex(static_cast<DWORD>(lp)), WizFlagNames(static_cast<DWORD>(lp))});
      SetWizButtons(s, sh, static_cast<DWORD>(lp));
      return true;
    case PSM_PRESSBUTTON: {
      static const char* names[] = {"Back", "Next", "Finish", "OK", "ApplyNow", "Cancel", "Help"};
      s.Log("PropSheetButton", {wp < 7 ? names[wp] : Dec(static_cast<int64_t>(wp)), "program", "pressed"});
      switch (wp) {
        case PSBTN_BACK:
          DoBack(s, sh);
          break;
        case PSBTN_NEXT:
          DoNext(s, sh);
          break;
        case PSBTN_FINISH:
          DoFinish(s, sh);
          break;
        case PSBTN_CANCEL:
          DoCancel(s, sh, 0);
          break;
        case PSBTN_HELP:
          DoHelp(s, sh);
          break;
        default:
          break;
      }
      return true;
    }
    case PSM_GETCURRENTPAGEHWND:
      if (!sh.ended && sh.active >= 0) *result = reinterpret_cast<LRESULT>(sh.pageWnd[static_cast<size_t>(sh.active)]);
      return true;
    case PSM_SETCURSEL:
    case PSM_SETCURSELID: {
      int idx = static_cast<int>(wp);
      if (msg == PSM_SETCURSELID) {
        idx = FindPageByResId(sh, lp);
      } else if (lp) {
        for (size_t i = 0; i < sh.pages.size(); ++i)
          if (reinterpret_cast<LPARAM>(sh.pages[i].get()) == lp) idx = static_cast<int>(i);
      }
      *result = CanSetCurSel(s, sh) && SetCurSel(s, sh, idx, 1);
      return true;
    }
    case PSM_SETTITLEA:
      if (lp && !IS_INTRESOURCE(reinterpret_cast<LPCSTR>(lp)))
        if (Window* f = s.Win(sh.frame)) f->text = reinterpret_cast<LPCSTR>(lp);
      return true;
    case PSM_SETFINISHTEXTA:
      if (Window* b = s.Win(sh.finish)) b->text = Str(reinterpret_cast<LPCSTR>(lp));
      Show(s, sh.finish, true);
      Enable(s, sh.finish, true);
      Show(s, sh.back, false);
      if (!sh.hasFinish) Show(s, sh.next, false);
      return true;
    case PSM_CANCELTOCLOSE:
      Enable(s, sh.cancel, false);
      return true;
    case PSM_CHANGED:
    case PSM_UNCHANGED:
    case PSM_ISDIALOGMESSAGE:
      return true;
    case PSM_REBOOTSYSTEM:
      sh.result = ID_PSREBOOTSYSTEM;
      *result = TRUE;
      return true;
    case PSM_RESTARTWINDOWS:
      if (sh.result != ID_PSREBOOTSYSTEM) sh.result = ID_PSRESTARTWINDOWS;
      *result = TRUE;
      return true;
    case PSM_QUERYSIBLINGS:
      for (size_t i = 0; i < sh.pages.size() && *result == 0; ++i)
        if (sh.pageWnd[i]) *result = SendMessageA(sh.pageWnd[i], PSM_QUERYSIBLINGS, wp, lp);
      return true;
    case WM_CLOSE:
      DoCancel(s, sh, 1);
      return true;
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case kBackId:
          DoBack(s, sh);
          return true;
        case kNextId:
          DoNext(s, sh);
          return true;
        case kFinishId:
          DoFinish(s, sh);
          return true;
        case IDCANCEL:
          DoCancel(s, sh, 0);
          return true;
        case IDHELP:
          DoHelp(s, sh);
          return true;
        default:
          // Anything else goes to the current page.
          if (!sh.ended && sh.active >= 0) *result = SendMessageA(sh.pageWnd[static_cast<size_t>(sh.active)], msg, wp, lp);
          return true;
      }
    default:
      return false;
  }
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

// ---- COMCTL32 ---------------------------------------------------------------------------------------------
// The SDK's *_V1_SIZE take a member's address through a null pointer, which
// clang's undefined-behaviour sanitizer reports; offsetof gives the same sizes.
constexpr DWORD kPageV1Size = offsetof(PROPSHEETPAGEA, pcRefParent) + sizeof(UINT*);
constexpr DWORD kHeaderV1Size = offsetof(PROPSHEETHEADERA, pfnCallback) + sizeof(PFNPROPSHEETCALLBACK);

HPROPSHEETPAGE WINAPI CreatePropertySheetPageA(LPCPROPSHEETPAGEA p) {
  State& s = S();
  if (!p || !DwSizeAccepted(p->dwSize, kPageV1Size, {40, 48, 52})) {
    s.Log("CreatePropertySheetPage", {p ? Dec(p->dwSize) : "NULL", p ? TemplateName(p) : "", "NULL"});
    return nullptr;
  }
  if (auto f = Injected("CreatePropertySheetPageA", TemplateName(p).c_str())) return s.lastError = *f, nullptr;
  auto page = MakePage(p);
  PropPageObj* key = page.get();
  s.propPages[key] = page;
  auto h = reinterpret_cast<HPROPSHEETPAGE>(key);
  s.Log("CreatePropertySheetPage", {Dec(p->dwSize), TemplateName(p), Hex(p->dwFlags)});
  return h;
}

BOOL WINAPI DestroyPropertySheetPage(HPROPSHEETPAGE hPSPage) {
  State& s = S();
  auto it = s.propPages.find(reinterpret_cast<PropPageObj*>(hPSPage));
  if (it == s.propPages.end()) {
    s.Log("Misuse", {"DestroyPropertySheetPage", "not a page handle (or already given to a sheet)"});
    return FALSE;
  }
  s.propPages.erase(it);
  return TRUE;
}

INT_PTR WINAPI PropertySheetA(LPCPROPSHEETHEADERA h) {
  State& s = S();
  if (!h) return -1;
  std::string caption = IS_INTRESOURCE(h->pszCaption) ? "" : Str(h->pszCaption);
  auto fail = [&](const std::string& why) -> INT_PTR {
    s.Log("PropertySheet", {caption, Hex(h->dwFlags), Dec(h->nPages), Dec(h->nStartPage), "-1", why});
    return -1;
  };
  if (!DwSizeAccepted(h->dwSize, kHeaderV1Size, {40, 52})) return fail("bad dwSize " + Dec(h->dwSize));
  if (Injected("PropertySheetA") || s.owner->faults.propertySheet) return fail("fault");
  if (!(h->dwFlags & PSH_WIZARD)) return fail("winsim simulates wizard mode only");
  if (h->dwFlags & PSH_MODELESS) return fail("winsim simulates modal sheets only");
  if (h->nPages == 0 || (!(h->dwFlags & PSH_PROPSHEETPAGE) && !h->phpage) ||
      ((h->dwFlags & PSH_PROPSHEETPAGE) && !h->ppsp))
    return fail("no pages");

  Sheet sh;
  sh.header = *h;
  sh.caption = caption;
  sh.hasFinish = (h->dwFlags & PSH_WIZARDHASFINISH) != 0;
  sh.hasHelp = (h->dwFlags & PSH_HASHELP) != 0;
  for (UINT i = 0; i < h->nPages; ++i) {
    std::shared_ptr<PropPageObj> page;
    if (h->dwFlags & PSH_PROPSHEETPAGE) {
      page = MakePage(&h->ppsp[i]);
    } else {
      // The sheet takes the pages it is given and destroys them when it
      // closes; a pointer that is no page handle is read as a
      // PROPSHEETPAGEA, as COMCTL32 does.
      auto it = s.propPages.find(reinterpret_cast<PropPageObj*>(h->phpage[i]));
      if (it != s.propPages.end()) {
        page = it->second;
        s.propPages.erase(it);
      } else if (h->phpage[i]) {
        page = MakePage(reinterpret_cast<const PROPSHEETPAGEA*>(h->phpage[i]));
      }
    }
    if (page) sh.pages.push_back(page);
  }
  if (sh.pages.empty()) return fail("no pages");
  sh.pageWnd.assign(sh.pages.size(), nullptr);
  int start = (h->dwFlags & PSH_USEPSTARTPAGE) ? 0 : static_cast<int>(h->nStartPage);
  if (start < 0 || start >= static_cast<int>(sh.pages.size())) start = 0;

  bool callback = (h->dwFlags & PSH_USECALLBACK) && h->pfnCallback;
  if (callback) {
    DLGTEMPLATE frameTemplate{};
    frameTemplate.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK | DS_CONTEXTHELP | DS_SETFONT;
    s.Log("PropSheetCallback", {"PSCB_PRECREATE"});
    h->pfnCallback(nullptr, PSCB_PRECREATE, reinterpret_cast<LPARAM>(&frameTemplate));
  }
  BuildFrame(s, sh);
  s.sheets.push_back(&sh);
  s.Log("PropSheetFrame", {caption, Machine::WindowTag(sh.frame), Dec(sh.pageRect.right - sh.pageRect.left),
                           Dec(sh.pageRect.bottom - sh.pageRect.top)});
  SetWizButtons(s, sh, PSWIZB_BACK | PSWIZB_NEXT);
  if (callback) {
    s.Log("PropSheetCallback", {"PSCB_INITIALIZED"});
    h->pfnCallback(sh.frame, PSCB_INITIALIZED, 0);
  }
  if (!sh.ended) SetCurSel(s, sh, start, 1);
  Show(s, sh.frame, true);

  while (!sh.ended && s.Win(sh.frame)) {
    DeliverPosted(s);
    if (sh.ended || !s.Win(sh.frame)) break;
    Idle(s, sh);
  }

  // The pages get WM_DESTROY and go with the frame.
  for (HWND page : sh.pageWnd) {
    LRESULT ignored = 0;
    if (page && s.Win(page)) DialogProcHandles(s, page, WM_DESTROY, 0, 0, &ignored);
  }
  s.quiet++;
  if (s.Win(sh.frame)) DestroyWindow(sh.frame);
  s.quiet--;
  s.sheets.erase(std::remove(s.sheets.begin(), s.sheets.end(), &sh), s.sheets.end());
  // Messages posted to the sheet's windows die with them.
  s.posted.erase(std::remove_if(s.posted.begin(), s.posted.end(), [&](const PostedMessage& m) { return !s.Win(m.hwnd); }),
                 s.posted.end());
  s.Log("PropertySheet", {caption, Hex(h->dwFlags), Dec(h->nPages), Dec(start), Dec(sh.result), ""});
  return sh.result;
}
