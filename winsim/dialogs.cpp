// The dialog manager: dialogs made from DLGTEMPLATE / DLGTEMPLATEEX
// resources, dialog procedures, posted messages and the window placement
// functions. What the controls themselves do is in controls.cpp.
//
// Dialog units map to pixels with fixed base units, those of an 8-point
// "MS Sans Serif" dialog on a 96 DPI screen: 6 pixels across per 4 units
// and 13 pixels down per 8 units, rounded as MulDiv rounds. The font a
// template names is recorded, never measured, so rectangles are the same
// on every host.
#include <algorithm>
#include <cstring>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

constexpr int kBaseX = 6, kBaseY = 13;

// MulDiv: the product rounded half away from zero.
int MulDivRound(int v, int num, int den) {
  long long p = static_cast<long long>(v) * num;
  long long q = p >= 0 ? (p + den / 2) / den : -((-p + den / 2) / den);
  return static_cast<int>(q);
}

struct ItemTemplate {
  DWORD style = 0, exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  int id = 0;
  std::string cls;
  std::string text;
  int titleOrdinal = -1;  // a title given as an ordinal (an icon's id)
};

struct DialogTemplate {
  bool ex = false;
  DWORD style = 0, exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::string title, font;
  int pointSize = 0;
  std::vector<ItemTemplate> items;
};

struct TemplateReader {
  const uint8_t* p;
  size_t size;
  size_t pos = 0;
  bool ok = true;

  uint16_t Word() {
    if (!ok || size - pos < 2 || pos > size) return ok = false, 0;
    uint16_t v = static_cast<uint16_t>(p[pos] | p[pos + 1] << 8);
    pos += 2;
    return v;
  }
  uint32_t Dword() {
    uint32_t lo = Word();
    return lo | static_cast<uint32_t>(Word()) << 16;
  }
  short Short() { return static_cast<short>(Word()); }
  void AlignDword() { pos = (pos + 3) & ~static_cast<size_t>(3); }
  std::string String() {
    std::string out;
    for (;;) {
      uint16_t c = Word();
      if (!ok || c == 0) break;
      bool unused = false;
      out += UnicodeToCp1252(c, &unused);
    }
    return out;
  }
  // sz_Or_Ord: 0x0000 none, 0xFFFF then an ordinal, else a string.
  std::string StringOrOrdinal(int* ordinal) {
    *ordinal = -1;
    if (!ok || size - pos < 2 || pos > size) return ok = false, "";
    uint16_t first = static_cast<uint16_t>(p[pos] | p[pos + 1] << 8);
    if (first == 0) {
      pos += 2;
      return "";
    }
    if (first == 0xFFFF) {
      pos += 2;
      *ordinal = Word();
      return "";
    }
    return String();
  }
};

std::string OrdinalClass(int ordinal) {
  switch (ordinal) {
    case 0x80:
      return "Button";
    case 0x81:
      return "Edit";
    case 0x82:
      return "Static";
    case 0x83:
      return "ListBox";
    case 0x84:
      return "ScrollBar";
    case 0x85:
      return "ComboBox";
    default:
      return "#" + std::to_string(ordinal);
  }
}

bool ParseTemplate(const uint8_t* data, size_t size, DialogTemplate& t) {
  TemplateReader r{data, size};
  int ord = -1;
  uint16_t w0 = r.Word(), w1 = r.Word();
  t.ex = w0 == 1 && w1 == 0xFFFF;
  size_t count = 0;
  if (t.ex) {
    r.Dword();  // help id
    t.exStyle = r.Dword();
    t.style = r.Dword();
  } else {
    r.pos = 0;
    t.style = r.Dword();
    t.exStyle = r.Dword();
  }
  count = r.Word();
  t.x = r.Short();
  t.y = r.Short();
  t.cx = r.Short();
  t.cy = r.Short();
  r.StringOrOrdinal(&ord);  // menu
  r.StringOrOrdinal(&ord);  // class
  t.title = r.String();
  if (t.style & DS_SETFONT) {
    t.pointSize = r.Word();
    if (t.ex) {
      r.Word();  // weight
      r.Word();  // italic, charset
    }
    t.font = r.String();
  }
  for (size_t i = 0; i < count && r.ok; ++i) {
    r.AlignDword();
    ItemTemplate it;
    if (t.ex) {
      r.Dword();  // help id
      it.exStyle = r.Dword();
      it.style = r.Dword();
    } else {
      it.style = r.Dword();
      it.exStyle = r.Dword();
    }
    it.x = r.Short();
    it.y = r.Short();
    it.cx = r.Short();
    it.cy = r.Short();
    it.id = t.ex ? static_cast<int>(r.Dword()) : r.Word();
    int clsOrd = -1;
    it.cls = r.StringOrOrdinal(&clsOrd);
    if (clsOrd >= 0) it.cls = OrdinalClass(clsOrd);
    it.text = r.StringOrOrdinal(&it.titleOrdinal);
    uint16_t extra = r.Word();
    if (r.ok && extra > size - std::min(size, r.pos)) r.ok = false;
    r.pos += extra;
    if (r.ok) t.items.push_back(std::move(it));
  }
  return r.ok && t.items.size() == count;
}

const ResourceItem* DialogResource(State& s, HINSTANCE instance, LPCSTR name, DWORD* error) {
  if (!name) {
    *error = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  return FindResourceItem(s, instance, "#5", ResourceKey(name), error);
}

}  // namespace

namespace winsim::detail {

int DluToPixelX(int dlu) { return MulDivRound(dlu, kBaseX, 4); }
int DluToPixelY(int dlu) { return MulDivRound(dlu, kBaseY, 8); }

bool DialogTemplateSize(State& s, HINSTANCE instance, LPCSTR name, SIZE* pixels) {
  DWORD e = 0;
  const ResourceItem* item = DialogResource(s, instance, name, &e);
  DialogTemplate t;
  if (!item || !ParseTemplate(item->data.data(), item->data.size(), t)) return false;
  pixels->cx = DluToPixelX(t.cx);
  pixels->cy = DluToPixelY(t.cy);
  return true;
}

HWND CreateDialogFromResource(State& s, HINSTANCE instance, LPCSTR name, HWND parent, DWORD forceStyle, DWORD dropStyle,
                              DLGPROC proc, LPARAM param, LONG_PTR* initResult, DWORD* error) {
  *error = 0;
  const ResourceItem* item = DialogResource(s, instance, name, error);
  if (!item) return nullptr;
  DialogTemplate t;
  if (!ParseTemplate(item->data.data(), item->data.size(), t)) {
    *error = ERROR_INVALID_DATA;
    return nullptr;
  }
  std::string templateName = ResourceKey(name);
  Window d;
  d.className = "#32770";
  d.text = t.title;
  d.style = (t.style & ~dropStyle) | forceStyle;
  d.exStyle = t.exStyle;
  int x = DluToPixelX(t.x), y = DluToPixelY(t.y);
  d.rect = RECT{x, y, x + DluToPixelX(t.cx), y + DluToPixelY(t.cy)};
  d.parent = parent;
  d.instance = instance;
  d.dlgProc = reinterpret_cast<LONG_PTR>(proc);
  HWND dialog = s.NewWindow(d);
  HWND firstTab = nullptr;
  for (const ItemTemplate& it : t.items) {
    DWORD e = 0;
    if (!ClassKnown(s, it.cls, &e) && !(t.style & DS_NOFAILCREATE)) {
      // Windows fails the whole dialog when a control cannot be created.
      s.quiet++;
      DestroyWindow(dialog);
      s.quiet--;
      *error = e;
      return nullptr;
    }
    Window c;
    c.className = it.cls;
    c.text = it.titleOrdinal >= 0 ? "" : it.text;
    c.style = it.style;
    c.exStyle = it.exStyle;
    int cx = DluToPixelX(it.x), cy = DluToPixelY(it.y);
    c.rect = RECT{cx, cy, cx + DluToPixelX(it.cx), cy + DluToPixelY(it.cy)};
    c.parent = dialog;
    c.id = it.id;
    c.instance = instance;
    if (IsClass(c, "Static") && (it.style & SS_TYPEMASK) == SS_ICON && it.titleOrdinal >= 0) {
      DWORD ignored = 0;
      c.iconId = it.titleOrdinal;
      c.iconFound = FindResourceItem(s, instance, "#14", "#" + std::to_string(it.titleOrdinal), &ignored) != nullptr;
      s.Log("DialogIcon", {templateName, Dec(it.id), "#" + std::to_string(it.titleOrdinal),
                           c.iconFound ? "found" : "missing"});
    }
    HWND h = s.NewWindow(c);
    if (!firstTab && (it.style & WS_TABSTOP)) firstTab = h;
  }
  LONG_PTR r = 0;
  if (proc) r = proc(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTab), param);
  if (initResult) *initResult = r;
  return dialog;
}

bool DialogProcHandles(State& s, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  Window* w = s.Win(hwnd);
  if (!w || !w->dlgProc || !IsClass(*w, "#32770")) return false;
  auto proc = reinterpret_cast<DLGPROC>(w->dlgProc);
  INT_PTR r = proc(hwnd, msg, wp, lp);
  if (!r) return false;
  switch (msg) {
    // The messages whose value the dialog procedure returns itself, as the
    // DialogProc documentation lists them.
    case WM_INITDIALOG:
    case WM_CTLCOLORSTATIC:
    case 0x0132:  // WM_CTLCOLORMSGBOX .. WM_CTLCOLORSCROLLBAR
    case 0x0133:
    case 0x0134:
    case 0x0135:
    case 0x0136:
    case 0x0137:
    case 0x0039:  // WM_COMPAREITEM
    case 0x002E:  // WM_VKEYTOITEM
    case 0x002F:  // WM_CHARTOITEM
    case 0x0037:  // WM_QUERYDRAGICON
      *result = r;
      return true;
    default:
      break;
  }
  // Otherwise SendMessage returns DWL_MSGRESULT, which the dialog manager
  // does not reset between messages.
  const Window* after = s.Win(hwnd);
  *result = after ? after->msgResult : 0;
  return true;
}

void DeliverPosted(State& s) {
  // Bounded, so that a program that posts from its own handler cannot keep
  // the sheet from taking input.
  for (int n = 0; n < 1000 && !s.posted.empty(); ++n) {
    PostedMessage m = s.posted.front();
    s.posted.pop_front();
    if (s.Win(m.hwnd)) SendMessageA(m.hwnd, m.msg, m.wParam, m.lParam);
  }
}

}  // namespace winsim::detail

// ---- USER32 -------------------------------------------------------------------------------------------
BOOL WINAPI IsWindowVisible(HWND hWnd) {
  // Visible only when the window and all its ancestors are.
  State& s = S();
  const Window* w = s.Win(hWnd);
  if (!w) return FALSE;
  for (; w; w = s.Win(w->parent))
    if (!w->visible) return FALSE;
  return TRUE;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd) {
  const Window* w = S().Win(hWnd);
  return w && w->enabled ? TRUE : FALSE;
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy, UINT uFlags) {
  State& s = S();
  Window* w = s.Win(hWnd);
  DWORD e = w ? 0 : ERROR_INVALID_WINDOW_HANDLE;
  if (w) {
    if (!(uFlags & SWP_NOMOVE)) {
      LONG width = w->rect.right - w->rect.left, height = w->rect.bottom - w->rect.top;
      w->rect = RECT{X, Y, X + width, Y + height};
    }
    if (!(uFlags & SWP_NOSIZE)) {
      w->rect.right = w->rect.left + cx;
      w->rect.bottom = w->rect.top + cy;
    }
    if (uFlags & SWP_SHOWWINDOW) w->visible = true;
    if (uFlags & SWP_HIDEWINDOW) w->visible = false;
  }
  s.Log("SetWindowPos", {Machine::WindowTag(hWnd), Machine::WindowTag(hWndInsertAfter), Dec(X), Dec(Y), Dec(cx), Dec(cy),
                         Hex(uFlags), Dec(e)});
  if (e) s.lastError = e;
  return e ? FALSE : TRUE;
}

BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL) {
  return SetWindowPos(hWnd, nullptr, X, Y, nWidth, nHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

// ScreenToClient (sign -1) and ClientToScreen (+1).
static BOOL MovePointByOrigin(HWND hWnd, LPPOINT lpPoint, LONG sign) {
  State& s = S();
  if (!s.Win(hWnd) || !lpPoint) {
    s.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
  }
  LONG x, y;
  ScreenOriginOf(s, hWnd, &x, &y);
  lpPoint->x += sign * x;
  lpPoint->y += sign * y;
  return TRUE;
}

BOOL WINAPI ScreenToClient(HWND hWnd, LPPOINT lpPoint) { return MovePointByOrigin(hWnd, lpPoint, -1); }
BOOL WINAPI ClientToScreen(HWND hWnd, LPPOINT lpPoint) { return MovePointByOrigin(hWnd, lpPoint, 1); }

BOOL WINAPI MapDialogRect(HWND hDlg, LPRECT lpRect) {
  if (!S().Win(hDlg) || !lpRect) return FALSE;
  lpRect->left = DluToPixelX(lpRect->left);
  lpRect->right = DluToPixelX(lpRect->right);
  lpRect->top = DluToPixelY(lpRect->top);
  lpRect->bottom = DluToPixelY(lpRect->bottom);
  return TRUE;
}

HWND WINAPI CreateDialogParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam) {
  State& s = S();
  DWORD e = 0;
  HWND h = CreateDialogFromResource(s, hInstance, lpTemplateName, hWndParent, 0, 0, lpDialogFunc, dwInitParam, nullptr, &e);
  s.Log("CreateDialog", {lpTemplateName ? ResourceKey(lpTemplateName) : "NULL", Machine::WindowTag(hWndParent),
                         Machine::WindowTag(h), Dec(e)});
  if (e) s.lastError = e;
  return h;
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  State& s = S();
  if (hWnd && !s.Win(hWnd)) {
    s.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
  }
  s.posted.push_back(PostedMessage{hWnd, Msg, wParam, lParam});
  return TRUE;
}
