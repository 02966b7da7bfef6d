// Page 2: the licence agreement, unpacked from a resource into the
// temporary directory and shown read-only; Next only after Yes.
#include "wizard/common.h"

#include <cstring>
#include <vector>

namespace {

struct AgreementVariant {
  const char* resource;
  const char* packedName;
  const char* expandedName;
  DWORD readLimit;
  bool plainText;
};

const AgreementVariant kRichText = {"ID_RES_SLA", "qxsla.rt_", "qxsla.rtf", 194560, false};
const AgreementVariant kPlainText = {"ID_RES_SLA2", "qxsla.tx_", "qxsla.txt", 15360, true};

// Windows NT 4.0 and earlier, and Windows 95, get the plain text; their rich
// edit control is not the one this page relies on.
const AgreementVariant& ChooseVariant() {
  const OSVERSIONINFOA& v = setupState.osVersion;
  bool nt = v.dwPlatformId == VER_PLATFORM_WIN32_NT;
  if (nt && v.dwMajorVersion < 5) return kPlainText;
  if (!nt && v.dwMajorVersion < 5 && v.dwMinorVersion == 0) return kPlainText;
  return kRichText;
}

bool WriteResourceFile(const char* path, const void* data, DWORD size) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, data, size, &written, nullptr);
  CloseHandle(file);
  return true;
}

DWORD ExpandInTemporaryDirectory(const AgreementVariant& variant, const char* tempDir) {
  HMODULE library = LoadSystemLibrary("version.dll");
  auto install = GetLibraryFunction<VerInstallFileA_fn>(library, "VerInstallFileA");
  DWORD status = VIF_CANNOTREADSRC;
  if (install != nullptr) {
    char temporary[kPathSize] = {};
    UINT temporaryLength = 0;
    status = install(VIFF_FORCEINSTALL, variant.packedName, variant.expandedName, tempDir, tempDir, tempDir,
                     temporary, &temporaryLength);
  }
  if (library != nullptr) FreeLibrary(library);
  return status;
}

void PlaceAgreementControl(HWND page) {
  RECT frame = {};
  GetWindowRect(GetDlgItem(page, IDC_AGREEMENT_FRAME), &frame);
  POINT topLeft = {frame.left, frame.top};
  POINT bottomRight = {frame.right, frame.bottom};
  ScreenToClient(page, &topLeft);
  ScreenToClient(page, &bottomRight);
  SetWindowPos(agreementControl, nullptr, topLeft.x + 15, topLeft.y + 20, (bottomRight.x - topLeft.x) - 30,
               (bottomRight.y - topLeft.y) - 82, SWP_NOZORDER);
}

}  // namespace

BYTE LoadAgreementText(HWND page) {
  const AgreementVariant& variant = ChooseVariant();
  HRSRC found = FindResourceA(setupState.instance, variant.resource, RT_RCDATA);
  if (found == nullptr) return 0;
  DWORD size = SizeofResource(setupState.instance, found);
  HGLOBAL loaded = LoadResource(setupState.instance, found);
  if (loaded == nullptr) return 0;
  const void* data = LockResource(loaded);
  if (data == nullptr) return 0;

  PathBuffer tempDir = {};
  DWORD length = GetTempPathA(kPathSize, tempDir);
  if (length == 0 || length >= kPathSize) return 0;
  PathBuffer packedPath = {};
  if (!BuildPath(packedPath, tempDir, variant.packedName)) return 0;

  if (!WriteResourceFile(packedPath, data, size)) return 0;
  // A packed file that cannot be expanded stays behind for inspection.
  if (ExpandInTemporaryDirectory(variant, tempDir) != 0) return 0;
  DeleteFileA(packedPath);

  PathBuffer expandedPath = {};
  CopyText(expandedPath, kPathSize, packedPath);
  expandedPath[std::strlen(expandedPath) - 1] = variant.plainText ? 't' : 'f';

  HANDLE file = CreateFileA(expandedPath, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // Unreadable, the expanded copy is of no use to anyone: it goes as it
    // would after reading.
    DeleteFileA(expandedPath);
    return 0;
  }
  // Whatever lies beyond the variant's read limit is not shown.
  std::vector<char> text(variant.readLimit + 1, '\0');
  DWORD read = 0;
  ReadFile(file, text.data(), variant.readLimit, &read, nullptr);
  BYTE result = 0;
  if (read > 0) {
    text[read] = '\0';
    if (variant.plainText)
      SendMessageA(GetDlgItem(page, IDC_AGREEMENT), WM_SETFONT,
                   reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
    // The rich edit control recognises Rich Text by its leading "{\rtf".
    SetDlgItemTextA(page, IDC_AGREEMENT, text.data());
    result = 1;
  }
  CloseHandle(file);
  DeleteFileA(expandedPath);
  return result;
}

INT_PTR CALLBACK AgreementPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      CheckRadioButton(page, IDC_AGREE_YES, IDC_AGREE_NO, IDC_AGREE_NO);
      SetWizardButtons(PSWIZB_BACK);
      if (setupState.richEditModule == nullptr) return FALSE;
      agreementControl = CreateWindowExA(
          0, "RichEdit20A", "",
          WS_CHILD | WS_BORDER | WS_VSCROLL | WS_GROUP | ES_READONLY | ES_NOHIDESEL | ES_AUTOVSCROLL | ES_MULTILINE,
          20, 90, 374, 148, page, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_AGREEMENT)), setupState.instance,
          nullptr);
      if (agreementControl == nullptr) return FALSE;
      PlaceAgreementControl(page);
      ShowWindow(agreementControl, SW_SHOW);
      SendMessageA(agreementControl, EM_EXLIMITTEXT, 0, 265535);
      LoadAgreementText(page);
      return FALSE;
    case WM_COMMAND:
      // Without the rich edit library there is no agreement to agree to on
      // this visit; Next comes only when the page is entered again with Yes.
      if (wParam == IDC_AGREE_YES && setupState.richEditModule != nullptr)
        SetWizardButtons(PSWIZB_BACK | PSWIZB_NEXT);
      if (wParam == IDC_AGREE_NO) SetWizardButtons(PSWIZB_BACK);
      return FALSE;
    case WM_NOTIFY: {
      UINT code = NotificationCode(lParam);
      switch (code) {
        case PSN_SETACTIVE:
          SetStepLabel(page, "2-5");
          SetWizardButtons(IsDlgButtonChecked(page, IDC_AGREE_YES) == BST_CHECKED ? PSWIZB_BACK | PSWIZB_NEXT
                                                                                   : PSWIZB_BACK);
          return AnswerNotification(page, 0);
        case PSN_WIZNEXT:
          return AnswerNotification(page, 0);
        default:
          return CommonNotification(page, code);
      }
    }
    default:
      return FALSE;
  }
}
