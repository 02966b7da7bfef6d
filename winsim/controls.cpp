// The standard controls' own behaviour: what buttons, edits, rich edits,
// combo boxes and progress bars do with the program's messages, and with the
// scripted user's clicks, typing and selections.
#include <algorithm>
#include <cstring>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

bool EnabledWithAncestors(const State& s, const Window* w) {
  for (; w; w = s.Win(w->parent))
    if (!w->enabled) return false;
  return true;
}

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

LRESULT ProgressMessage(State& s, Window& w, UINT msg, WPARAM wp, LPARAM lp) {
  std::string tag = Machine::WindowTag(w.hwnd);
  switch (msg) {
    case PBM_SETRANGE:
    case PBM_SETRANGE32: {
      LRESULT old = MAKELRESULT(w.pbMin, w.pbMax);
      if (msg == PBM_SETRANGE) {
        w.pbMin = LOWORD(lp);
        w.pbMax = HIWORD(lp);
      } else {
        w.pbMin = static_cast<int>(wp);
        w.pbMax = static_cast<int>(lp);
      }
      w.pbPos = std::clamp(w.pbPos, std::min(w.pbMin, w.pbMax), std::max(w.pbMin, w.pbMax));
      s.Log("Progress", {tag, msg == PBM_SETRANGE ? "PBM_SETRANGE" : "PBM_SETRANGE32", Dec(w.pbMin), Dec(w.pbMax)});
      return old;
    }
    case PBM_SETSTEP: {
      int old = w.pbStep;
      w.pbStep = static_cast<int>(wp);
      s.Log("Progress", {tag, "PBM_SETSTEP", Dec(w.pbStep)});
      return old;
    }
    case PBM_STEPIT: {
      int old = w.pbPos;
      if (w.pbMin != w.pbMax) {
        // As the common control does: past the maximum the bar starts over.
        w.pbPos += w.pbStep;
        if (w.pbPos > w.pbMax) w.pbPos = (w.pbPos - w.pbMin) % (w.pbMax - w.pbMin) + w.pbMin;
        if (w.pbPos < w.pbMin) w.pbPos = (w.pbPos - w.pbMin) % (w.pbMax - w.pbMin) + w.pbMax;
      }
      s.Log("Progress", {tag, "PBM_STEPIT", Dec(w.pbPos)});
      return old;
    }
    case PBM_SETPOS:
    case PBM_DELTAPOS: {
      int old = w.pbPos;
      int want = msg == PBM_SETPOS ? static_cast<int>(wp) : w.pbPos + static_cast<int>(wp);
      w.pbPos = std::clamp(want, w.pbMin, std::max(w.pbMin, w.pbMax));
      s.Log("Progress", {tag, msg == PBM_SETPOS ? "PBM_SETPOS" : "PBM_DELTAPOS", Dec(w.pbPos)});
      return old;
    }
    case PBM_GETPOS:
      return w.pbPos;
    case PBM_GETRANGE: {
      if (lp) {
        auto* r = reinterpret_cast<PBRANGE*>(lp);
        r->iLow = w.pbMin;
        r->iHigh = w.pbMax;
      }
      return wp ? w.pbMin : w.pbMax;
    }
    default:
      return 0;
  }
}

LRESULT ComboMessage(Window& w, UINT msg, WPARAM wp, LPARAM lp) {
  auto& items = w.items;
  int count = static_cast<int>(items.size());
  switch (msg) {
    case CB_ADDSTRING:
    case CB_INSERTSTRING: {
      std::string text = Str(reinterpret_cast<const char*>(lp));
      size_t at = items.size();
      if (msg == CB_INSERTSTRING) {
        int idx = static_cast<int>(static_cast<intptr_t>(wp));
        if (idx > count) return CB_ERR;
        if (idx >= 0) at = static_cast<size_t>(idx);
      } else if (w.style & CBS_SORT) {
        at = 0;
        while (at < items.size() && ICompare(items[at], text) <= 0) ++at;
      }
      items.insert(items.begin() + static_cast<long>(at), text);
      w.itemData.insert(w.itemData.begin() + static_cast<long>(at), 0);
      if (w.curSel >= static_cast<int>(at)) ++w.curSel;
      return static_cast<LRESULT>(at);
    }
    case CB_DELETESTRING: {
      int idx = static_cast<int>(static_cast<intptr_t>(wp));
      if (idx < 0 || idx >= count) return CB_ERR;
      items.erase(items.begin() + idx);
      w.itemData.erase(w.itemData.begin() + idx);
      if (w.curSel == idx) w.curSel = -1;
      return count - 1;
    }
    case CB_GETCOUNT:
      return count;
    case CB_GETLBTEXT: {
      // No buffer size travels with this message: like Windows, winsim
      // copies the whole item; the caller sizes its buffer with
      // CB_GETLBTEXTLEN.
      int idx = static_cast<int>(static_cast<intptr_t>(wp));
      if (idx < 0 || idx >= count || !lp) return CB_ERR;
      const std::string& t = items[static_cast<size_t>(idx)];
      std::memcpy(reinterpret_cast<char*>(lp), t.c_str(), t.size() + 1);
      return static_cast<LRESULT>(t.size());
    }
    case CB_GETLBTEXTLEN: {
      int idx = static_cast<int>(static_cast<intptr_t>(wp));
      if (idx < 0 || idx >= count) return CB_ERR;
      return static_cast<LRESULT>(items[static_cast<size_t>(idx)].size());
    }
    case CB_FINDSTRING:
    case CB_FINDSTRINGEXACT:
    case CB_SELECTSTRING: {
      std::string text = Str(reinterpret_cast<const char*>(lp));
      int start = static_cast<int>(static_cast<intptr_t>(wp));
      for (int k = 1; k <= count; ++k) {
        int i = ((start < 0 ? -1 : start) + k) % count;
        const std::string& it = items[static_cast<size_t>(i)];
        bool match = msg == CB_FINDSTRINGEXACT ? IEquals(it, text)
                                               : (it.size() >= text.size() && IEquals(it.substr(0, text.size()), text));
        if (match) {
          if (msg == CB_SELECTSTRING) {
            w.curSel = i;
            w.text = it;
          }
          return i;
        }
      }
      return CB_ERR;
    }
    case CB_SETCURSEL: {
      int idx = static_cast<int>(static_cast<intptr_t>(wp));
      if (idx < 0 || idx >= count) {
        w.curSel = -1;
        return CB_ERR;
      }
      w.curSel = idx;
      w.text = items[static_cast<size_t>(idx)];
      return idx;
    }
    case CB_GETCURSEL:
      return w.curSel;
    case CB_RESETCONTENT:
      items.clear();
      w.itemData.clear();
      w.curSel = -1;
      return CB_OKAY;
    case CB_LIMITTEXT:
      return TRUE;
    case CB_SETITEMDATA: {
      int idx = static_cast<int>(static_cast<intptr_t>(wp));
      if (idx < 0 || idx >= count) return CB_ERR;
      w.itemData[static_cast<size_t>(idx)] = lp;
      return TRUE;
    }
    case CB_GETITEMDATA: {
      int idx = static_cast<int>(static_cast<intptr_t>(wp));
      if (idx < 0 || idx >= count) return CB_ERR;
      return w.itemData[static_cast<size_t>(idx)];
    }
    default:
      return 0;
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
