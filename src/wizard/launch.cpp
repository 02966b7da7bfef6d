// Page 5: what to start after a successful installation; its Finish runs
// the installation with this page as the progress bar's parent.
#include "install/install.h"
#include "wizard/common.h"

INT_PTR CALLBACK LaunchPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      if (setupState.launchHelp) CheckDlgButton(page, IDC_LAUNCH_HELP, BST_CHECKED);
      if (setupState.launchProgram) CheckDlgButton(page, IDC_LAUNCH_PROGRAM, BST_CHECKED);
      return FALSE;
    case WM_COMMAND:
      // The flags start equal to the automatic check boxes and follow them
      // click by click.
      if (wParam == IDC_LAUNCH_HELP) setupState.launchHelp ^= 1;
      if (wParam == IDC_LAUNCH_PROGRAM) setupState.launchProgram ^= 1;
      return FALSE;
    case WM_NOTIFY: {
      UINT code = NotificationCode(lParam);
      switch (code) {
        case PSN_SETACTIVE:
          SetStepLabel(page, "5-5");
          SetWizardButtons(PSWIZB_BACK | PSWIZB_FINISH);
          return AnswerNotification(page, 0);
        case PSN_WIZFINISH:
          // The sheet closes after the installation, successful or not.
          InstallProduct(page);
          return AnswerNotification(page, 0);
        default:
          return CommonNotification(page, code);
      }
    }
    default:
      return FALSE;
  }
}
