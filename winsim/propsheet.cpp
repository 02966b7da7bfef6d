// COMCTL32 property sheets in wizard mode: PropertySheetA and the sheet's
// frame window with the messages it handles. The pages and the moves between
// them are in propsheet_pages.cpp, the scripted user in propsheet_user.cpp.
//
// As in Wine's dlls/comctl32/propsheet.c, the sheet's WM_INITDIALOG sets the
// wizard buttons to Back | Next, sets the title, calls the callback with
// PSCB_INITIALIZED, then selects the start page. PSCB_PRECREATE comes first,
// before the frame exists.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "propsheet.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

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
