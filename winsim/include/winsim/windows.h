// The Win32 subset that the setup program uses, declared natively with the
// names, values and signatures of the Windows SDK (ANSI variants). Product
// code reaches it only through src/win32.h; the functions act on the current
// winsim::Machine (see winsim/machine.h).
#pragma once

#include <winsim/base.h>
#include <winsim/kernel32.h>
#include <winsim/advapi32.h>
#include <winsim/user32.h>
#include <winsim/ddeml.h>
#include <winsim/ole32.h>
#include <winsim/shell32.h>
#include <winsim/comctl32.h>
#include <winsim/richedit.h>
#include <winsim/setupapi.h>
#include <winsim/winver.h>
