// vsheet: a five-page wizard property sheet with the control ids of the
// product's wizard, so that the driver's wizard steps are tested on their own.
//
//   vsheet CAPTION RESULTS_FILE
//
// Page 2's Next is enabled only with "Yes" chosen; Finish shows the box
// "Sheet done" (caption "VSheet") and then writes what the pages hold to
// RESULTS_FILE, one "name<TAB>value" a line; Cancel writes "CANCEL".
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include <cstdio>
#include <string>

namespace {

const char* g_results = nullptr;
HWND g_sheet = nullptr;
HWND g_pages[5] = {};
const char kText[] = "First line of the text.\r\nSecond line, with more words so that it wraps in the control.";

std::string Text(HWND page, int id) {
  char buffer[512] = {};
  GetDlgItemTextA(page, id, buffer, sizeof(buffer));
  return buffer;
}

void WriteResults(bool cancelled) {
  FILE* f = fopen(g_results, "wb");
  if (!f) return;
  if (cancelled) {
    fputs("CANCEL\n", f);
  } else {
    fprintf(f, "road\t%s\n", IsDlgButtonChecked(g_pages[0], 221) ? "second" : "first");
    fprintf(f, "dir\t%s\n", Text(g_pages[2], 203).c_str());
    fprintf(f, "work\t%s\n", Text(g_pages[2], 240).c_str());
    fprintf(f, "group\t%s\n", Text(g_pages[3], 208).c_str());
    fprintf(f, "usegroup\t%d\n", IsDlgButtonChecked(g_pages[3], 207) == BST_CHECKED);
    fprintf(f, "launch\t%d\n", IsDlgButtonChecked(g_pages[4], 646) == BST_CHECKED);
  }
  fclose(f);
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  int index = static_cast<int>(GetWindowLongPtrA(page, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      index = static_cast<int>(reinterpret_cast<PROPSHEETPAGEA*>(lParam)->lParam);
      SetWindowLongPtrA(page, DWLP_USER, index);
      g_pages[index] = page;
      g_sheet = GetParent(page);
      char label[8];
      snprintf(label, sizeof(label), "%d-5", index + 1);
      SetDlgItemTextA(page, 227, label);
      if (index == 0) CheckDlgButton(page, 218, BST_CHECKED);
      if (index == 1) {
        SetDlgItemTextA(page, 401, kText);
        CheckDlgButton(page, 245, BST_CHECKED);
      }
      if (index == 2) {
        SetDlgItemTextA(page, 203, "C:\\Default\\Dir");
        SetDlgItemTextA(page, 240, "C:\\Default\\Work");
      }
      if (index == 3) {
        CheckDlgButton(page, 207, BST_CHECKED);
        for (const char* name : {"Accessories", "StartUp"})
          SendDlgItemMessageA(page, 208, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        SetDlgItemTextA(page, 208, "Default Group");
      }
      return TRUE;
    }
    case WM_COMMAND:
      if (index == 1 && (LOWORD(wParam) == 244 || LOWORD(wParam) == 245))
        PropSheet_SetWizButtons(g_sheet, PSWIZB_BACK | (IsDlgButtonChecked(page, 244) ? PSWIZB_NEXT : 0));
      return FALSE;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->code == PSN_SETACTIVE) {
        DWORD buttons = index == 0 ? PSWIZB_NEXT : index == 4 ? PSWIZB_BACK | PSWIZB_FINISH : PSWIZB_BACK | PSWIZB_NEXT;
        if (index == 1 && !IsDlgButtonChecked(page, 244)) buttons = PSWIZB_BACK;
        PropSheet_SetWizButtons(g_sheet, buttons);
      } else if (header->code == PSN_WIZFINISH) {
        MessageBoxA(g_sheet, "Sheet done", "VSheet", MB_OK);
        WriteResults(false);
      } else if (header->code == PSN_RESET) {
        WriteResults(true);
      } else {
        return FALSE;
      }
      SetWindowLongPtrA(page, DWLP_MSGRESULT, 0);
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fputs("usage: vsheet CAPTION RESULTS_FILE\n", stderr);
    return 2;
  }
  g_results = argv[2];
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  LoadLibraryA("riched20.dll");
  HPROPSHEETPAGE pages[5];
  for (int i = 0; i < 5; ++i) {
    PROPSHEETPAGEA page = {};
    page.dwSize = sizeof(page);
    page.hInstance = GetModuleHandleA(nullptr);
    page.pszTemplate = MAKEINTRESOURCEA(1001 + i);
    page.pfnDlgProc = PageProc;
    page.lParam = i;
    pages[i] = CreatePropertySheetPageA(&page);
  }
  PROPSHEETHEADERA header = {};
  header.dwSize = sizeof(header);
  header.dwFlags = PSH_WIZARD;
  header.hInstance = GetModuleHandleA(nullptr);
  header.pszCaption = argv[1];
  header.nPages = 5;
  header.phpage = pages;
  INT_PTR result = PropertySheetA(&header);
  return static_cast<int>(result);
}
