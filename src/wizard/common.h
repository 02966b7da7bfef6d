// Answers shared by every page for the notifications none of them acts on.
#pragma once

#include "wizard/wizard.h"

// PSN_KILLACTIVE, PSN_APPLY and PSN_QUERYCANCEL: result 0 (leave, apply and
// cancel are always allowed); PSN_RESET: handled, result unchanged. Any
// other notification is left to the sheet (FALSE).
inline INT_PTR CommonNotification(HWND page, UINT code) {
  switch (code) {
    case PSN_KILLACTIVE:
    case PSN_APPLY:
    case PSN_QUERYCANCEL:
      return AnswerNotification(page, 0);
    case PSN_RESET:
      return TRUE;
    default:
      return FALSE;
  }
}

inline UINT NotificationCode(LPARAM lParam) { return reinterpret_cast<const NMHDR*>(lParam)->code; }
