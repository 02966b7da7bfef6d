// Page 3: the installation and working directories, with the folder picker
// and the two bindings of the working directory to a shell folder.
#include "wizard/common.h"

#include <cstring>

char browseTitle[64] = {};
PathBuffer browseResult = {};

namespace {

bool IsVersion5OrLater() { return setupState.osVersion.dwMajorVersion >= 5; }

void Enable(HWND page, int id, bool enable) { EnableWindow(GetDlgItem(page, id), enable ? TRUE : FALSE); }

// The working directory a binding gives: folder joined with "FTP". False
// when the join would not fit a path.
bool BoundWorkingDirectory(const char* folder, char* dir) {
  PathBuffer joined = {};
  if (!BuildPath(joined, folder, "FTP")) return false;
  std::memcpy(dir, joined, kPathSize);
  return true;
}

// The click on a binding box checked it, but the folder plus "\FTP" does not
// fit a path: the click is taken back, so that the box, the working
// directory and its type stay as they were and agree with each other.
bool RefuseBindingThatDoesNotFit(HWND page, int box, const char* folder) {
  PathBuffer bound = {};
  if (BoundWorkingDirectory(folder, bound)) return false;
  CheckDlgButton(page, box, BST_UNCHECKED);
  return true;
}

// The working directory bound to a shell folder, or (unbound) the
// installation directory as currently shown.
void BindWorkingDirectory(HWND page, BYTE type, const char* folder) {
  setupState.workingDirType = type;
  if (type == 0) {
    char shown[kPathSize] = {};
    GetDlgItemTextA(page, IDC_INSTALL_DIR, shown, kPathSize);
    CopyTextCut(setupState.workingDir, kPathSize, shown);
  } else {
    FolderJoin(setupState.workingDir, folder, "FTP");
  }
  SetDlgItemTextA(page, IDC_WORKING_DIR, setupState.workingDir);
  Enable(page, IDC_WORKING_DIR, type == 0);
  Enable(page, IDC_BROWSE_WORKING, type == 0);
}

void Browse(HWND page, const char* title, int edit) {
  CopyTextCut(browseTitle, sizeof(browseTitle), title);
  if (BrowseForFolder(page)) SetDlgItemTextA(page, edit, browseResult);
}

void OnSetActive(HWND page) {
  SetStepLabel(page, "3-5");
  if (!IsVersion5OrLater()) Enable(page, IDC_USE_COMMON, false);
  Enable(page, IDC_WORKING_DIR_LABEL, true);
  Enable(page, IDC_WORKING_DIR, true);
  Enable(page, IDC_BROWSE_WORKING, true);
  // The type is only ever 0 (explicit), 1 (personal) or 2 (common): each
  // binding greys out the other one.
  Enable(page, IDC_USE_PERSONAL, setupState.workingDirType != 2);
  if (setupState.workingDirType == 1) {
    Enable(page, IDC_USE_COMMON, false);
  } else if (IsVersion5OrLater()) {
    Enable(page, IDC_USE_COMMON, true);
  }
  if (IsDlgButtonChecked(page, IDC_USE_PERSONAL) == BST_CHECKED ||
      IsDlgButtonChecked(page, IDC_USE_COMMON) == BST_CHECKED) {
    Enable(page, IDC_WORKING_DIR, false);
    Enable(page, IDC_BROWSE_WORKING, false);
  }
  SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
}

void OnCommand(HWND page, WPARAM id) {
  switch (id) {
    case IDC_BROWSE_INSTALL:
      Browse(page, "Browsing for Installation Directory:", IDC_INSTALL_DIR);
      break;
    case IDC_BROWSE_WORKING:
      Browse(page, "Browsing for Working Directory:", IDC_WORKING_DIR);
      break;
    case IDC_USE_PERSONAL:
      if (IsDlgButtonChecked(page, IDC_USE_PERSONAL) == BST_CHECKED) {
        if (RefuseBindingThatDoesNotFit(page, IDC_USE_PERSONAL, setupState.personalFolder)) break;
        CheckDlgButton(page, IDC_USE_COMMON, BST_UNCHECKED);
        Enable(page, IDC_USE_COMMON, false);
        BindWorkingDirectory(page, 1, setupState.personalFolder);
      } else {
        if (IsVersion5OrLater()) Enable(page, IDC_USE_COMMON, true);
        BindWorkingDirectory(page, 0, nullptr);
      }
      break;
    case IDC_USE_COMMON:
      // Before Windows 2000 there is no all-users documents folder.
      if (!IsVersion5OrLater()) break;
      if (IsDlgButtonChecked(page, IDC_USE_COMMON) == BST_CHECKED) {
        if (RefuseBindingThatDoesNotFit(page, IDC_USE_COMMON, setupState.commonDocumentsFolder)) break;
        CheckDlgButton(page, IDC_USE_PERSONAL, BST_UNCHECKED);
        Enable(page, IDC_USE_PERSONAL, false);
        BindWorkingDirectory(page, 2, setupState.commonDocumentsFolder);
      } else {
        Enable(page, IDC_USE_PERSONAL, true);
        BindWorkingDirectory(page, 0, nullptr);
      }
      break;
    default:
      break;
  }
}

}  // namespace

int BrowseForFolder(HWND owner) {
  // Owned by the page, so the sheet is disabled while the picker runs:
  // without an owner the wizard stays live beneath it, and Finish could
  // start the installation inside the picker's message loop.
  BROWSEINFOA info = {};
  info.hwndOwner = owner;
  info.pidlRoot = nullptr;
  info.pszDisplayName = browseResult;
  info.lpszTitle = browseTitle;
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = nullptr;
  info.lParam = 0;
  LPITEMIDLIST items = SHBrowseForFolderA(&info);
  if (items == nullptr) return 0;
  SHGetPathFromIDListA(items, browseResult);
  IMalloc* allocator = nullptr;
  if (SHGetMalloc(&allocator) == S_OK && allocator != nullptr) {
    allocator->Free(items);
    allocator->Release();
  }
  return 1;
}

INT_PTR CALLBACK DirectoriesPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetDlgItemTextA(page, IDC_INSTALL_DIR, setupState.installDir);
      SetDlgItemTextA(page, IDC_WORKING_DIR, setupState.workingDir);
      if (setupState.workingDirType == 1) {
        CheckDlgButton(page, IDC_USE_PERSONAL, BST_CHECKED);
      } else if (setupState.workingDirType == 2) {
        CheckDlgButton(page, IDC_USE_COMMON, BST_CHECKED);
      }
      return FALSE;
    case WM_COMMAND:
      OnCommand(page, wParam);
      return FALSE;
    case WM_NOTIFY: {
      UINT code = NotificationCode(lParam);
      switch (code) {
        case PSN_SETACTIVE:
          OnSetActive(page);
          return AnswerNotification(page, 0);
        case PSN_WIZNEXT: {
          // Taken as typed (cut at 259 characters); empty directories get
          // their defaults when the installation starts.
          char text[kPathSize] = {};
          GetDlgItemTextA(page, IDC_INSTALL_DIR, text, kPathSize);
          CopyTextCut(setupState.installDir, kPathSize, text);
          text[0] = '\0';
          GetDlgItemTextA(page, IDC_WORKING_DIR, text, kPathSize);
          CopyTextCut(setupState.workingDir, kPathSize, text);
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
