// The wizard frame: page and sheet records, the sheet callback, centring,
// and the helpers every page uses to answer the sheet.
#include "wizard/wizard.h"

#include <cstddef>

HWND sheetWindow = nullptr;
BOOL sheetNeedsCentring = TRUE;
HWND groupPageWindow = nullptr;
HWND agreementControl = nullptr;

void ResetWizardState() {
  sheetWindow = nullptr;
  sheetNeedsCentring = TRUE;
  groupPageWindow = nullptr;
  agreementControl = nullptr;
  browseTitle[0] = '\0';
  browseResult[0] = '\0';
}

void SetWizardButtons(DWORD buttons) { SendMessageA(sheetWindow, PSM_SETWIZBUTTONS, 0, buttons); }

void SetStepLabel(HWND page, const char* text) { SetDlgItemTextA(page, IDC_STEP_LABEL, text); }

INT_PTR AnswerNotification(HWND page, LONG_PTR result) {
  SetWindowLongPtrA(page, DWLP_MSGRESULT, result);
  return TRUE;
}

int CALLBACK WizardSheetCallback(HWND window, UINT message, LPARAM) {
  if (message == PSCB_INITIALIZED && window != nullptr) {
    sheetWindow = window;
    sheetNeedsCentring = TRUE;
  }
  return 1;
}

void CentreWindow(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  int x = (GetSystemMetrics(SM_CXSCREEN) + rect.left - rect.right) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) + rect.top - rect.bottom) / 2;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

namespace {

// The records as far as their header fields: the sizes that every comctl32
// from 4.71 on accepts (48 and 52 bytes on 32-bit Windows).
constexpr DWORD kPageRecordSize = offsetof(PROPSHEETPAGEA, pszHeaderSubTitle) + sizeof(LPCSTR);
constexpr DWORD kSheetRecordSize = offsetof(PROPSHEETHEADERA, hbmHeader) + sizeof(HBITMAP);

}  // namespace

INT_PTR RunWizard() {
  static const DLGPROC kPages[] = {SetupTypePageProc, AgreementPageProc, DirectoriesPageProc,
                                   ProgramGroupPageProc, LaunchPageProc};
  constexpr int kPageCount = sizeof(kPages) / sizeof(kPages[0]);
  HPROPSHEETPAGE pages[kPageCount] = {};
  for (int i = 0; i < kPageCount; ++i) {
    PROPSHEETPAGEA page = {};
    page.dwSize = kPageRecordSize;
    page.dwFlags = PSP_HASHELP;
    page.hInstance = setupState.instance;
    page.pszTemplate = MAKEINTRESOURCEA(IDD_SETUP_TYPE + i);
    page.pfnDlgProc = kPages[i];
    page.lParam = 0;
    pages[i] = CreatePropertySheetPageA(&page);
  }

  PROPSHEETHEADERA header = {};
  header.dwSize = kSheetRecordSize;
  header.dwFlags = PSH_WIZARD | PSH_USECALLBACK | PSH_HASHELP;
  header.hwndParent = nullptr;
  header.hInstance = setupState.instance;
  header.pszCaption = "VORTAN FTP Setup";
  header.nPages = kPageCount;
  header.nStartPage = 0;
  header.phpage = pages;
  header.pfnCallback = WizardSheetCallback;
  return PropertySheetA(&header);
}
