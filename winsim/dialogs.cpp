// The dialog manager: dialogs made from DLGTEMPLATE / DLGTEMPLATEEX
// resources, dialog procedures, the button, edit, rich edit and combo box
// behaviour a user's input triggers, and the window placement functions.
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

void ScreenOriginOf(const State& s, HWND hwnd, LONG* x, LONG* y) {
  *x = *y = 0;
  for (const Window* w = s.Win(hwnd); w; w = s.Win(w->parent)) {
    *x += w->rect.left;
    *y += w->rect.top;
  }
}

bool EnabledWithAncestors(const State& s, const Window* w) {
  for (; w; w = s.Win(w->parent))
    if (!w->enabled) return false;
  return true;
}

bool IsClass(const Window& w, const char* cls) { return IEquals(w.className, cls); }
bool IsRichEdit(const Window& w) { return IsClass(w, "RichEdit20A") || IsClass(w, "RICHEDIT"); }

long DefaultLimit(const Window& w) {
  // The edit and rich edit controls take 32767 characters until a limit is
  // set (EM_LIMITTEXT / EM_EXLIMITTEXT documentation); a combo box's edit
  // field is unlimited until CB_LIMITTEXT.
  if (IsClass(w, "ComboBox")) return 0x7FFFFFFE;
  return 32767;
}

long LimitOf(const Window& w) { return w.textLimit >= 0 ? w.textLimit : DefaultLimit(w); }

void Notify(State& s, HWND control, WORD code) {
  Window* w = s.Win(control);
  if (!w || !w->parent) return;
  HWND parent = w->parent;
  WPARAM wp = MAKEWPARAM(static_cast<WORD>(w->id), code);
  SendMessageA(parent, WM_COMMAND, wp, reinterpret_cast<LPARAM>(control));
}

// The button behaviour of a click, by the user or BM_CLICK.
void ClickButton(State& s, HWND control) {
  Window* w = s.Win(control);
  if (!w) return;
  DWORD type = w->style & BS_TYPEMASK;
  switch (type) {
    case BS_AUTOCHECKBOX:
      w->check = w->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
      break;
    case BS_AUTO3STATE:
      w->check = (w->check + 1) % 3;
      break;
    case BS_AUTORADIOBUTTON: {
      w->check = BST_CHECKED;
      // Unchecks the other automatic radio buttons of its group: from the
      // nearest WS_GROUP control at or before it to the next WS_GROUP one.
      Window* parent = s.Win(w->parent);
      if (!parent) break;
      const auto& kids = parent->children;
      auto at = std::find(kids.begin(), kids.end(), control);
      if (at == kids.end()) break;
      size_t i = static_cast<size_t>(at - kids.begin());
      size_t start = i;
      while (start > 0) {
        const Window* k = s.Win(kids[start]);
        if (k && (k->style & WS_GROUP)) break;
        --start;
      }
      size_t end = i + 1;
      while (end < kids.size()) {
        const Window* k = s.Win(kids[end]);
        if (k && (k->style & WS_GROUP)) break;
        ++end;
      }
      for (size_t k = start; k < end; ++k) {
        Window* sib = s.Win(kids[k]);
        if (sib && kids[k] != control && IsClass(*sib, "Button") && (sib->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
          sib->check = BST_UNCHECKED;
      }
      break;
    }
    case BS_GROUPBOX:
      return;  // a group box takes no clicks
    default:
      break;
  }
  Notify(s, control, BN_CLICKED);
}

std::string Refusal(const State& s, const Window* w) {
  if (!w) return "no such control";
  if (!EnabledWithAncestors(s, w)) return "disabled";
  if (!w->visible) return "hidden";
  return "";
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

bool ControlHandles(State& s, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  Window* w = s.Win(hwnd);
  if (!w) return false;
  if (IsRichEdit(*w)) {
    switch (msg) {
      case EM_EXLIMITTEXT:
        // Zero restores the default maximum of 64K characters.
        w->textLimit = lp ? static_cast<long>(lp) : 65536;
        *result = 0;
        return true;
      case EM_LIMITTEXT:
        w->textLimit = wp ? static_cast<long>(wp) : 65536;
        *result = 0;
        return true;
      case WM_SETTEXT: {
        // The rich edit control keeps no more than its limit, whoever sets
        // the text.
        std::string text = Str(reinterpret_cast<const char*>(lp));
        size_t limit = static_cast<size_t>(LimitOf(*w));
        if (text.size() > limit) text.resize(limit);
        w->text = text;
        *result = TRUE;
        return true;
      }
    }
  }
  if (IsClass(*w, "Edit") || IsRichEdit(*w)) {
    switch (msg) {
      case EM_LIMITTEXT:
        // Zero lifts the limit to 0x7FFFFFFE characters (single-line, NT).
        w->textLimit = wp ? static_cast<long>(wp) : 0x7FFFFFFE;
        *result = 0;
        return true;
      case EM_GETLIMITTEXT:
        *result = LimitOf(*w);
        return true;
      case EM_SETREADONLY:
        if (wp)
          w->style |= ES_READONLY;
        else
          w->style &= ~static_cast<DWORD>(ES_READONLY);
        *result = TRUE;
        return true;
    }
  }
  if (IsClass(*w, "ComboBox") && msg == CB_LIMITTEXT) {
    w->textLimit = wp ? static_cast<long>(wp) : 0x7FFFFFFE;
    *result = TRUE;
    return true;
  }
  if (IsClass(*w, "Button") && msg == BM_CLICK) {
    if (EnabledWithAncestors(s, w)) ClickButton(s, hwnd);
    *result = 0;
    return true;
  }
  return false;
}

std::string UserClick(State& s, HWND control, bool dryRun) {
  Window* w = s.Win(control);
  std::string why = Refusal(s, w);
  if (!why.empty() || dryRun) return why;
  if (IsClass(*w, "Button")) {
    ClickButton(s, control);
  } else if (IsClass(*w, "Static") && (w->style & SS_NOTIFY)) {
    Notify(s, control, STN_CLICKED);
  }
  return "";
}

std::string UserType(State& s, HWND control, const std::string& text, bool dryRun) {
  Window* w = s.Win(control);
  std::string why = Refusal(s, w);
  if (!why.empty()) return why;
  bool combo = IsClass(*w, "ComboBox");
  if (combo) {
    if ((w->style & 3) == CBS_DROPDOWNLIST) return "a drop-down list takes no typing";
  } else if (IsClass(*w, "Edit") || IsRichEdit(*w)) {
    if (w->style & ES_READONLY) return "read-only";
  } else {
    return "not a text control";
  }
  if (dryRun) return "";
  std::string typed = text;
  size_t limit = static_cast<size_t>(LimitOf(*w));
  if (typed.size() > limit) typed.resize(limit);
  w->text = typed;
  if (combo) {
    w->curSel = -1;
    Notify(s, control, CBN_EDITCHANGE);
  } else if (!IsRichEdit(*w)) {
    Notify(s, control, EN_CHANGE);
  }
  return "";
}

std::string UserSelect(State& s, HWND control, int index, bool dryRun) {
  Window* w = s.Win(control);
  std::string why = Refusal(s, w);
  if (!why.empty()) return why;
  if (!IsClass(*w, "ComboBox")) return "not a combo box";
  if (index < 0 || index >= static_cast<int>(w->items.size())) return "no item " + std::to_string(index);
  if (dryRun) return "";
  w->curSel = index;
  w->text = w->items[static_cast<size_t>(index)];
  Notify(s, control, CBN_SELCHANGE);
  return "";
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

// ---- Machine API ----------------------------------------------------------------------------------
bool Machine::IsChecked(HWND hwnd) const {
  const Window* w = state_->Win(hwnd);
  return w && w->check == BST_CHECKED;
}
bool Machine::IsEnabledWindow(HWND hwnd) const {
  const Window* w = state_->Win(hwnd);
  return w && w->enabled;
}
bool Machine::IsShownWindow(HWND hwnd) const {
  const Window* w = state_->Win(hwnd);
  return w && w->visible;
}
long Machine::TextLimit(HWND hwnd) const {
  const Window* w = state_->Win(hwnd);
  return w ? LimitOf(*w) : 0;
}
WPARAM Machine::FontOf(HWND hwnd) const {
  const Window* w = state_->Win(hwnd);
  return w ? w->font : 0;
}
int Machine::IconOf(HWND hwnd, bool* found) const {
  const Window* w = state_->Win(hwnd);
  if (found) *found = w && w->iconFound;
  return w ? w->iconId : 0;
}

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

BOOL WINAPI ScreenToClient(HWND hWnd, LPPOINT lpPoint) {
  State& s = S();
  if (!s.Win(hWnd) || !lpPoint) {
    s.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
  }
  LONG x, y;
  ScreenOriginOf(s, hWnd, &x, &y);
  lpPoint->x -= x;
  lpPoint->y -= y;
  return TRUE;
}

BOOL WINAPI ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
  State& s = S();
  if (!s.Win(hWnd) || !lpPoint) {
    s.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
  }
  LONG x, y;
  ScreenOriginOf(s, hWnd, &x, &y);
  lpPoint->x += x;
  lpPoint->y += y;
  return TRUE;
}

BOOL WINAPI MapDialogRect(HWND hDlg, LPRECT lpRect) {
  if (!S().Win(hDlg) || !lpRect) return FALSE;
  lpRect->left = DluToPixelX(lpRect->left);
  lpRect->right = DluToPixelX(lpRect->right);
  lpRect->top = DluToPixelY(lpRect->top);
  lpRect->bottom = DluToPixelY(lpRect->bottom);
  return TRUE;
}

BOOL WINAPI CheckRadioButton(HWND hDlg, int nIDFirstButton, int nIDLastButton, int nIDCheckButton) {
  State& s = S();
  Window* d = s.Win(hDlg);
  if (!d) {
    s.lastError = ERROR_INVALID_WINDOW_HANDLE;
    return FALSE;
  }
  for (HWND c : d->children) {
    Window* w = s.Win(c);
    if (w && w->id >= nIDFirstButton && w->id <= nIDLastButton)
      w->check = w->id == nIDCheckButton ? BST_CHECKED : BST_UNCHECKED;
  }
  return TRUE;
}

BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) {
  HWND item = GetDlgItem(hDlg, nIDButton);
  if (!item) return FALSE;
  SendMessageA(item, BM_SETCHECK, uCheck, 0);
  return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton) {
  HWND item = GetDlgItem(hDlg, nIDButton);
  return item ? static_cast<UINT>(SendMessageA(item, BM_GETCHECK, 0, 0)) : 0;
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
