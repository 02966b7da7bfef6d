// The property sheet's private parts, shared by propsheet.cpp (the sheet's
// window and PropertySheetA), propsheet_pages.cpp (its pages, page changes and
// wizard buttons) and propsheet_user.cpp (the scripted user).
#pragma once

#include "internal.h"

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

// The frame's own buttons carry COMCTL32's ids.
constexpr int kBackId = 0x3023, kNextId = 0x3024, kFinishId = 0x3025;

inline void Show(State& s, HWND h, bool on) {
  if (Window* w = s.Win(h)) w->visible = on;
}
inline void Enable(State& s, HWND h, bool on) {
  if (Window* w = s.Win(h)) w->enabled = on;
}

// The page's template as the journal names it.
std::string TemplateName(const PROPSHEETPAGEA* p);
// Sends a PSN_ notification to a page that exists; 0 for one never made.
LRESULT Notify(State& s, Sheet& sh, int index, UINT code, LPARAM lParam = 0);
// The page whose template has this id, or the page count.
int FindPageByResId(const Sheet& sh, LRESULT resId);
void SetWizButtons(State& s, Sheet& sh, DWORD flags);
// Selects a page (making it the first time), following PSN_SETACTIVE's
// skips (skipdir +1 or -1) and jumps; false for an index out of range or
// when the sheet closed on the way.
bool SetCurSel(State& s, Sheet& sh, int index, int skipdir);
// The current page's PSN_KILLACTIVE lets it go.
bool CanSetCurSel(State& s, Sheet& sh);
void DoNext(State& s, Sheet& sh);
void DoBack(State& s, Sheet& sh);
void DoFinish(State& s, Sheet& sh);
void DoCancel(State& s, Sheet& sh, LPARAM lParam);
void DoHelp(State& s, Sheet& sh);
void PressButton(State& s, Sheet& sh, WizButton b);
HWND ButtonWindow(const Sheet& sh, WizButton b);

// The sheet waits for input (propsheet_user.cpp).
void Idle(State& s, Sheet& sh);

}  // namespace winsim::detail
