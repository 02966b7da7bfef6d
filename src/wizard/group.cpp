// Page 4: the program group (listed from Program Manager, or typed) and the
// desktop shortcut.
#include "shell/shell.h"
#include "wizard/common.h"

INT_PTR CALLBACK ProgramGroupPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      // Recorded first: the group list and, later, the installation's
      // create-or-show decision reach combo box 208 through it.
      groupPageWindow = page;
      SetCursor(LoadCursorA(nullptr, IDC_WAIT));
      ListProgramGroups();
      if (setupState.useGroup) CheckDlgButton(page, IDC_USE_GROUP, BST_CHECKED);
      SetDlgItemTextA(page, IDC_GROUP_NAME, setupState.groupName);
      if (setupState.createDesktopShortcut) CheckDlgButton(page, IDC_DESKTOP_SHORTCUT, BST_CHECKED);
      EnableWindow(GetDlgItem(page, IDC_GROUP_NAME), setupState.useGroup ? TRUE : FALSE);
      return FALSE;
    case WM_COMMAND:
      if (wParam == IDC_USE_GROUP) {
        setupState.useGroup ^= 1;
        EnableWindow(GetDlgItem(page, IDC_GROUP_NAME), setupState.useGroup ? TRUE : FALSE);
      }
      if (wParam == IDC_DESKTOP_SHORTCUT) setupState.createDesktopShortcut ^= 1;
      return FALSE;
    case WM_NOTIFY: {
      UINT code = NotificationCode(lParam);
      switch (code) {
        case PSN_SETACTIVE:
          SetStepLabel(page, "4-5");
          SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
          return AnswerNotification(page, 0);
        case PSN_WIZNEXT: {
          // Stored whether or not the group is used; a longer name is cut to
          // the 63 characters the field holds.
          char name[kGroupNameSize] = {};
          GetDlgItemTextA(page, IDC_GROUP_NAME, name, kGroupNameSize);
          CopyTextCut(setupState.groupName, kGroupNameSize, name);
          return AnswerNotification(page, 0);
        }
        default:
          return CommonNotification(page, code);
      }
    }
    default:
      return FALSE;
  }
}
