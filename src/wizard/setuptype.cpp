// Page 1: install or remove. With Uninstall chosen this page is the whole
// road and its Finish runs the removal.
#include "uninstall/uninstall.h"
#include "wizard/common.h"

namespace {

void ChooseInstall(HWND page) {
  setupState.setupType = 0;
  ShowWindow(GetDlgItem(page, IDC_UNINSTALL_TEXT), SW_HIDE);
  ShowWindow(GetDlgItem(page, IDC_INSTALL_TEXT), SW_SHOW);
  SetStepLabel(page, "1-5");
  SetWizardButtons(PSWIZB_NEXT);
}

void ChooseUninstall(HWND page) {
  setupState.setupType = 3;
  ShowWindow(GetDlgItem(page, IDC_INSTALL_TEXT), SW_HIDE);
  ShowWindow(GetDlgItem(page, IDC_UNINSTALL_TEXT), SW_SHOW);
  SetStepLabel(page, "1-1");
  SetWizardButtons(PSWIZB_FINISH);
}

}  // namespace

INT_PTR CALLBACK SetupTypePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      CheckRadioButton(page, IDC_INSTALL, IDC_UNINSTALL, IDC_INSTALL);
      SetStepLabel(page, "1-5");
      ShowWindow(GetDlgItem(page, IDC_UNINSTALL_TEXT), SW_HIDE);
      return FALSE;
    case WM_COMMAND:
      if (wParam == IDC_INSTALL) ChooseInstall(page);
      if (wParam == IDC_UNINSTALL) ChooseUninstall(page);
      return FALSE;
    case WM_NOTIFY: {
      UINT code = NotificationCode(lParam);
      switch (code) {
        case PSN_SETACTIVE:
          if (sheetNeedsCentring) {
            sheetNeedsCentring = FALSE;
            CentreWindow(sheetWindow);
          }
          SetWizardButtons(PSWIZB_NEXT);
          return AnswerNotification(page, 0);
        case PSN_WIZNEXT:
          return AnswerNotification(page, 0);
        case PSN_WIZFINISH:
          // Nothing to remove: the sheet stays on this page, still in
          // Uninstall mode, and the user may choose Install or Cancel.
          return AnswerNotification(page, UninstallProduct(page) != 0 ? 0 : 1);
        default:
          return CommonNotification(page, code);
      }
    }
    default:
      return FALSE;
  }
}
