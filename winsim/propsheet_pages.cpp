// A wizard's pages, the moves between them and the state of its buttons.
//
// The protocol follows Wine's dlls/comctl32/propsheet.c:
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
#include "propsheet.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

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

}  // namespace

namespace winsim::detail {

std::string TemplateName(const PROPSHEETPAGEA* p) {
  if (p->dwFlags & PSP_DLGINDIRECT) return "(indirect)";
  return p->pszTemplate ? ResourceKey(p->pszTemplate) : "NULL";
}

LRESULT Notify(State& s, Sheet& sh, int index, UINT code, LPARAM lParam) {
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

static bool CreatePage(State& s, Sheet& sh, int index) {
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

}  // namespace winsim::detail
