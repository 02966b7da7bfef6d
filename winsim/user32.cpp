// USER32, GDI32 and COMCTL32: a small window registry and SendMessageA's
// dispatch (the controls' own messages are in controls.cpp), message boxes
// with scripted answers, beeps, cursors, metrics, stock objects and
// ExitWindowsEx.
#include <algorithm>
#include <cstring>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace winsim::detail {

Window* State::Win(HWND hwnd) {
  auto it = windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == windows.end() ? nullptr : &it->second;
}

const Window* State::Win(HWND hwnd) const {
  auto it = windows.find(reinterpret_cast<uintptr_t>(hwnd));
  return it == windows.end() ? nullptr : &it->second;
}

HWND State::NewWindow(Window w) {
  w.serial = nextWindow++;
  w.hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x10000 + 4 * w.serial));
  w.visible = (w.style & WS_VISIBLE) != 0;
  if (w.style & WS_DISABLED) w.enabled = false;
  if (Window* p = Win(w.parent)) p->children.push_back(w.hwnd);
  HWND h = w.hwnd;
  windows[reinterpret_cast<uintptr_t>(h)] = std::move(w);
  return h;
}

void ScreenOriginOf(const State& s, HWND hwnd, LONG* x, LONG* y) {
  *x = *y = 0;
  for (const Window* w = s.Win(hwnd); w; w = s.Win(w->parent)) {
    *x += w->rect.left;
    *y += w->rect.top;
  }
}

}  // namespace winsim::detail

namespace {

bool IsKnownClass(State& s, const std::string& cls, DWORD* error) {
  static const char* kAlways[] = {"ComboBox", "Button", "Static", "Edit", "ListBox", "#32770", "ScrollBar"};
  for (const char* c : kAlways)
    if (IEquals(cls, c)) return true;
  if (IEquals(cls, PROGRESS_CLASSA)) {
    // The common control classes exist once COMCTL32 registered them, which
    // InitCommonControls guarantees.
    if (s.commonControls) return true;
  }
  if (IEquals(cls, "RichEdit20A")) {
    for (auto& m : s.modules)
      if (m.builtin == Builtin::RichEdit) return true;
  }
  *error = ERROR_CANNOT_FIND_WND_CLASS;
  return false;
}

}  // namespace

bool winsim::detail::ClassKnown(State& s, const std::string& cls, DWORD* error) { return IsKnownClass(s, cls, error); }

namespace {

std::string CursorName(HCURSOR h) {
  if (!h) return "NULL";
  uintptr_t id = reinterpret_cast<uintptr_t>(h) - 0x30000;
  switch (id) {
    case 32512:
      return "IDC_ARROW";
    case 32513:
      return "IDC_IBEAM";
    case 32514:
      return "IDC_WAIT";
    case 32515:
      return "IDC_CROSS";
    case 32516:
      return "IDC_UPARROW";
    case 32649:
      return "IDC_HAND";
    case 32650:
      return "IDC_APPSTARTING";
    default:
      return Hex(reinterpret_cast<uintptr_t>(h));
  }
}

void DestroyTree(State& s, HWND hwnd) {
  Window* w = s.Win(hwnd);
  if (!w) return;
  std::vector<HWND> kids = w->children;
  for (HWND k : kids) DestroyTree(s, k);
  if (Window* p = s.Win(w->parent)) p->children.erase(std::remove(p->children.begin(), p->children.end(), hwnd), p->children.end());
  s.windows.erase(reinterpret_cast<uintptr_t>(hwnd));
}

int DefaultAnswer(UINT style) {
  UINT type = style & MB_TYPEMASK;
  int def = static_cast<int>((style & MB_DEFMASK) >> 8);
  std::vector<int> buttons;
  switch (type) {
    case MB_OKCANCEL:
      buttons = {IDOK, IDCANCEL};
      break;
    case MB_ABORTRETRYIGNORE:
      buttons = {IDABORT, IDRETRY, IDIGNORE};
      break;
    case MB_YESNOCANCEL:
      buttons = {IDYES, IDNO, IDCANCEL};
      break;
    case MB_YESNO:
      buttons = {IDYES, IDNO};
      break;
    case MB_RETRYCANCEL:
      buttons = {IDRETRY, IDCANCEL};
      break;
    case MB_CANCELTRYCONTINUE:
      buttons = {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
      break;
    default:
      buttons = {IDOK};
      break;
  }
  // A default button beyond the box's buttons falls back to the first.
  return def < static_cast<int>(buttons.size()) ? buttons[static_cast<size_t>(def)] : buttons[0];
}

}  // namespace

// ---- Message boxes, beeps, cursors -------------------------------------------------------------
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  State& s = S();
  std::string text = Str(lpText);
  std::string caption = lpCaption ? lpCaption : "Error";
  if (auto f = Injected("MessageBoxA", lpText)) return s.lastError = *f, 0;
  if (hWnd && !s.Win(hWnd)) {
    s.Log("MessageBox", {Machine::WindowTag(hWnd), text, caption, Hex(uType), "0", "invalid owner"});
    s.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return 0;
  }
  int answer = 0;
  std::string how = "unscripted";
  if (s.owner->onMessageBox) {
    if (auto a = s.owner->onMessageBox(hWnd, text, caption, uType)) {
      answer = *a;
      how = "scripted";
    }
  }
  if (!answer) {
    auto it = s.answers.find(caption);
    if (it != s.answers.end() && !it->second.empty()) {
      answer = it->second.front();
      it->second.pop_front();
      how = "scripted";
    }
  }
  if (!answer) answer = DefaultAnswer(uType);
  s.Log("MessageBox", {Machine::WindowTag(hWnd), text, caption, Hex(uType), Dec(answer), how});
  return answer;
}

BOOL WINAPI MessageBeep(UINT uType) {
  S().Log("Beep", {Hex(uType)});
  return TRUE;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
  State& s = S();
  if (hInstance || !IS_INTRESOURCE(lpCursorName)) {
    s.lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
    return nullptr;
  }
  uintptr_t id = reinterpret_cast<uintptr_t>(lpCursorName);
  if (id < 32512 || id > 32651) {
    s.lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
    return nullptr;
  }
  return reinterpret_cast<HCURSOR>(0x30000 + id);
}

HCURSOR WINAPI SetCursor(HCURSOR hCursor) {
  State& s = S();
  HCURSOR old = s.cursor;
  s.cursor = hCursor;
  s.Log("SetCursor", {CursorName(hCursor)});
  return old;
}

int WINAPI GetSystemMetrics(int nIndex) {
  State& s = S();
  auto it = s.metrics.find(nIndex);
  return it == s.metrics.end() ? 0 : it->second;
}

HGDIOBJ WINAPI GetStockObject(int i) {
  if (i < 0 || i > 19 || i == 9) return nullptr;
  return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0x40000 + i));
}

// ---- Windows -------------------------------------------------------------------------------------------
HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
  State& s = S();
  (void)lpParam;
  if (auto f = Injected("CreateWindowExA", IS_INTRESOURCE(lpClassName) ? nullptr : lpClassName)) return s.lastError = *f, nullptr;
  DWORD e = 0;
  std::string cls = IS_INTRESOURCE(lpClassName) ? "#" + Dec(reinterpret_cast<uintptr_t>(lpClassName)) : Str(lpClassName);
  HWND result = nullptr;
  if (!IsKnownClass(s, cls, &e)) {
    // e set
  } else if ((dwStyle & WS_CHILD) && !hWndParent) {
    e = ERROR_TLW_WITH_WSCHILD;
  } else if (hWndParent && !s.Win(hWndParent)) {
    e = ERROR_INVALID_WINDOW_HANDLE;
  } else {
    Window w;
    w.className = cls;
    w.text = Str(lpWindowName);
    w.style = dwStyle;
    w.exStyle = dwExStyle;
    w.rect = RECT{X, Y, X + nWidth, Y + nHeight};
    w.parent = hWndParent;
    w.id = (dwStyle & WS_CHILD) ? static_cast<int>(reinterpret_cast<intptr_t>(hMenu)) : 0;
    w.instance = hInstance;
    result = s.NewWindow(w);
  }
  s.Log("CreateWindow", {cls, Str(lpWindowName), Hex(dwStyle), Dec(X), Dec(Y), Dec(nWidth), Dec(nHeight),
                         Machine::WindowTag(hWndParent), Dec(static_cast<int64_t>(reinterpret_cast<intptr_t>(hMenu))),
                         Machine::WindowTag(result), Dec(e)});
  if (e) s.lastError = e;
  return result;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
  State& s = S();
  if (!s.Win(hWnd)) {
    s.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
  }
  s.Log("DestroyWindow", {Machine::WindowTag(hWnd)});
  DestroyTree(s, hWnd);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) { return S().Win(hWnd) ? TRUE : FALSE; }

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
  State& s = S();
  const Window* w = s.Win(hWnd);
  if (!w || !lpRect) {
    s.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
  }
  *lpRect = RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  return TRUE;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
  State& s = S();
  const Window* w = s.Win(hWnd);
  if (!w || !lpRect) {
    s.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
  }
  LONG x, y;
  ScreenOriginOf(s, hWnd, &x, &y);
  *lpRect = RECT{x, y, x + (w->rect.right - w->rect.left), y + (w->rect.bottom - w->rect.top)};
  return TRUE;
}

HWND WINAPI GetParent(HWND hWnd) {
  const Window* w = S().Win(hWnd);
  return w ? w->parent : nullptr;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
  State& s = S();
  const Window* d = s.Win(hDlg);
  if (!d) {
    s.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return nullptr;
  }
  for (HWND c : d->children) {
    const Window* w = s.Win(c);
    if (w && w->id == nIDDlgItem) return c;
  }
  s.lastError = ERROR_CONTROL_ID_NOT_FOUND;
  return nullptr;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
  const Window* w = S().Win(hWnd);
  return w ? w->id : 0;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  State& s = S();
  Window* w = s.Win(hWnd);
  if (!w) {
    s.Log("Misuse", {"SendMessageA", "invalid window " + Machine::WindowTag(hWnd) + " message " + Hex(Msg)});
    s.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return 0;
  }
  LRESULT handled = 0;
  if (Sheet* sheet = SheetOf(s, hWnd))
    if (SheetHandles(s, sheet, Msg, wParam, lParam, &handled)) return handled;
  if (DialogProcHandles(s, hWnd, Msg, wParam, lParam, &handled)) return handled;
  if (ControlHandles(s, hWnd, Msg, wParam, lParam, &handled)) return handled;
  w = s.Win(hWnd);  // the dialog procedure may have destroyed it
  if (!w) return 0;
  switch (Msg) {
    case WM_SETTEXT:
      w->text = Str(reinterpret_cast<const char*>(lParam));
      return TRUE;
    case WM_GETTEXT: {
      if (!lParam || wParam == 0) return 0;
      // What does not fit is cut before a whole character: the text lives
      // in Unicode and its conversion never writes half of a double-byte
      // character.
      size_t fits = 0;
      while (fits < w->text.size() && fits + CharLength(w->text, fits) < wParam) fits += CharLength(w->text, fits);
      CopyOut(reinterpret_cast<char*>(lParam), wParam, std::string_view(w->text).substr(0, fits));
      return static_cast<LRESULT>(std::strlen(reinterpret_cast<char*>(lParam)));
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w->text.size());
    case WM_SETFONT:
      w->font = wParam;
      return 0;
    case WM_GETFONT:
      return static_cast<LRESULT>(w->font);
    case BM_GETCHECK:
      return w->check;
    case BM_SETCHECK:
      w->check = static_cast<int>(wParam);
      return 0;
    default:
      break;
  }
  if (IEquals(w->className, PROGRESS_CLASSA)) return ProgressMessage(s, *w, Msg, wParam, lParam);
  if (IEquals(w->className, "ComboBox")) return ComboMessage(*w, Msg, wParam, lParam);
  return 0;
}

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam) {
  HWND item = GetDlgItem(hDlg, nIDDlgItem);
  return item ? SendMessageA(item, Msg, wParam, lParam) : 0;
}

static LONG_PTR* Slot(Window& w, int index, bool ptrLayout) {
  switch (index) {
    case GWL_USERDATA:
      return &w.userData;
    case 0:
      return &w.msgResult;  // DWL_MSGRESULT and DWLP_MSGRESULT
    default:
      break;
  }
  if (ptrLayout) {
    if (index == DWLP_DLGPROC) return &w.dlgProc;
    if (index == DWLP_USER) return &w.dlgUser;
  } else {
    if (index == DWL_DLGPROC) return &w.dlgProc;
    if (index == DWL_USER) return &w.dlgUser;
  }
  return nullptr;
}

static LONG_PTR SetLong(HWND hWnd, int nIndex, LONG_PTR v, bool ptrLayout) {
  State& s = S();
  Window* w = s.Win(hWnd);
  if (!w) {
    s.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return 0;
  }
  LONG_PTR old = 0;
  switch (nIndex) {
    case GWL_STYLE:
      old = w->style;
      w->style = static_cast<DWORD>(v);
      return old;
    case GWL_EXSTYLE:
      old = w->exStyle;
      w->exStyle = static_cast<DWORD>(v);
      return old;
    case GWL_ID:
      old = w->id;
      w->id = static_cast<int>(v);
      return old;
    default:
      break;
  }
  LONG_PTR* slot = Slot(*w, nIndex, ptrLayout);
  if (!slot) {
    s.lastError = 1413;  // ERROR_INVALID_INDEX
    return 0;
  }
  old = *slot;
  *slot = v;
  return old;
}

static LONG_PTR GetLong(HWND hWnd, int nIndex, bool ptrLayout) {
  State& s = S();
  Window* w = s.Win(hWnd);
  if (!w) {
    s.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return 0;
  }
  switch (nIndex) {
    case GWL_STYLE:
      return w->style;
    case GWL_EXSTYLE:
      return w->exStyle;
    case GWL_ID:
      return w->id;
    case GWL_HWNDPARENT:
      return reinterpret_cast<LONG_PTR>(w->parent);
    case GWL_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(w->instance);
    default:
      break;
  }
  LONG_PTR* slot = Slot(*w, nIndex, ptrLayout);
  if (!slot) {
    s.lastError = 1413;
    return 0;
  }
  return *slot;
}

LONG WINAPI SetWindowLongA(HWND hWnd, int nIndex, LONG dwNewLong) {
  return static_cast<LONG>(SetLong(hWnd, nIndex, dwNewLong, false));
}
LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex) { return static_cast<LONG>(GetLong(hWnd, nIndex, false)); }
LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
  return SetLong(hWnd, nIndex, dwNewLong, true);
}
LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) { return GetLong(hWnd, nIndex, true); }

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
  // As on Windows, the text goes through WM_SETTEXT, so that a rich edit
  // control keeps its limit and a dialog procedure sees it.
  if (!S().Win(hWnd)) return FALSE;
  return SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
  Window* w = S().Win(hWnd);
  if (!w || !lpString || nMaxCount <= 0) return 0;
  CopyOut(lpString, static_cast<size_t>(nMaxCount), w->text);
  return static_cast<int>(std::strlen(lpString));
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
  HWND item = GetDlgItem(hDlg, nIDDlgItem);
  return item ? SetWindowTextA(item, lpString) : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax) {
  HWND item = GetDlgItem(hDlg, nIDDlgItem);
  if (!item) {
    if (lpString && cchMax > 0) lpString[0] = '\0';
    return 0;
  }
  return static_cast<UINT>(GetWindowTextA(item, lpString, cchMax));
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  Window* w = S().Win(hWnd);
  if (!w) return FALSE;
  BOOL was = w->visible ? TRUE : FALSE;
  w->visible = nCmdShow != SW_HIDE;
  return was;
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
  Window* w = S().Win(hWnd);
  if (!w) return FALSE;
  BOOL wasDisabled = w->enabled ? FALSE : TRUE;
  w->enabled = bEnable != FALSE;
  return wasDisabled;
}

// ---- Restart -----------------------------------------------------------------------------------------------
BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason) {
  State& s = S();
  DWORD e = 0;
  bool needsPrivilege = (uFlags & (EWX_SHUTDOWN | EWX_REBOOT | EWX_POWEROFF)) != 0;
  std::optional<DWORD> injected = Injected("ExitWindowsEx");
  if (injected || s.owner->faults.exitWindowsEx)
    e = injected ? *injected : *s.owner->faults.exitWindowsEx;
  else if (s.IsNT() && needsPrivilege && !s.shutdownPrivilege)
    e = ERROR_PRIVILEGE_NOT_HELD;  // the NT family checks SE_SHUTDOWN_NAME
  if (!e && (uFlags & EWX_REBOOT)) s.restartRequested = true;
  s.Log("ExitWindowsEx", {Hex(uFlags), Hex(dwReason), Dec(e)});
  if (e) s.lastError = e;
  return e ? FALSE : TRUE;
}

// ---- COMCTL32 -------------------------------------------------------------------------------------------------
void WINAPI InitCommonControls(void) {
  State& s = S();
  s.commonControls = true;
  s.Log("InitCommonControls", {});
}

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) {
  State& s = S();
  if (!picce || picce->dwSize != sizeof(INITCOMMONCONTROLSEX)) return FALSE;
  if (auto f = Injected("InitCommonControlsEx")) return s.lastError = *f, FALSE;
  s.commonControls = true;
  s.Log("InitCommonControls", {Hex(picce->dwICC)});
  return TRUE;
}

// ---- Characters -------------------------------------------------------------------------------------------------
// A lead byte followed by the terminator is a character of its own, as
// Windows steps it.
LPSTR WINAPI CharNextA(LPCSTR lpsz) {
  if (!lpsz || *lpsz == '\0') return const_cast<LPSTR>(lpsz);
  size_t step = IsLeadByte(static_cast<unsigned char>(lpsz[0])) && lpsz[1] != '\0' ? 2 : 1;
  return const_cast<LPSTR>(lpsz + step);
}

// Walks from the start, since a trail byte cannot be told from a lead byte
// looking backwards.
LPSTR WINAPI CharPrevA(LPCSTR lpszStart, LPCSTR lpszCurrent) {
  if (!lpszStart || !lpszCurrent || lpszCurrent <= lpszStart) return const_cast<LPSTR>(lpszStart);
  const char* p = lpszStart;
  while (*p != '\0') {
    const char* next = CharNextA(p);
    if (next >= lpszCurrent) break;
    p = next;
  }
  return const_cast<LPSTR>(p);
}

DWORD WINAPI CharUpperBuffA(LPSTR lpsz, DWORD cchLength) {
  if (!lpsz) return 0;
  std::string upper = Upper(std::string_view(lpsz, cchLength));
  std::memcpy(lpsz, upper.data(), upper.size());
  return cchLength;
}
