// RICHED20: the rich edit control's class name and the messages the setup
// program sends it (richedit.h of the SDK).
#pragma once

#include <winsim/base.h>
#include <winsim/user32.h>

#define RICHEDIT_CLASSA "RichEdit20A"
#define RICHEDIT_CLASS10A "RICHEDIT"

#define EM_EXLIMITTEXT (WM_USER + 53)
#define EM_SETBKGNDCOLOR (WM_USER + 67)
#define EM_SETEVENTMASK (WM_USER + 69)
#define EM_AUTOURLDETECT (WM_USER + 91)
