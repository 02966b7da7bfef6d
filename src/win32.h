// The one seam between the product and the platform. Product code includes
// only this header for Win32: on Windows it gets the SDK headers, natively it
// gets winsim, which declares the same names with the same signatures.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <commctrl.h>
#include <ddeml.h>
#include <richedit.h>
#include <shellapi.h>
#include <shlobj.h>
#include <setupapi.h>
#include <winver.h>
#else
#include <winsim/windows.h>
#endif
