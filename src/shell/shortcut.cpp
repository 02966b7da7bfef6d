// The product's desktop shortcut, written through the shell's COM link
// object.
#include "shell/shell.h"

HRESULT CreateShellLink(const char* target, const char* linkFile, const char* description) {
  IShellLinkA* link = nullptr;
  HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                    reinterpret_cast<void**>(&link));
  if (FAILED(result)) return result;
  link->SetPath(target);
  link->SetWorkingDirectory(setupState.installDir);
  link->SetDescription(description);

  IPersistFile* file = nullptr;
  result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
  if (SUCCEEDED(result)) {
    WCHAR widePath[kPathSize] = {};
    MultiByteToWideChar(CP_ACP, 0, linkFile, -1, widePath, kPathSize);
    result = file->Save(widePath, TRUE);
    file->Release();
  }
  link->Release();
  return result;
}

void GetDesktopFolderPath(char* path) {
  // The all-users desktop on the NT family; the 9x family has one desktop.
  GetShellFolderPath(IsNtFamily() ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOP, path);
  if (!EndsWithBackslash(path)) AppendText(path, kPathSize, "\\");
}

bool BuildDesktopShortcutPath(char* linkPath) {
  PathBuffer folder = {};
  UINT length = GetWindowsDirectoryA(folder, kPathSize);
  if (length >= kPathSize) folder[0] = '\0';
  if (!EndsWithBackslash(folder)) AppendText(folder, kPathSize, "\\");
  // The Windows directory stays as the fallback when no desktop resolves.
  GetDesktopFolderPath(folder);
  if (!EndsWithBackslash(folder) || !AppendText(folder, kPathSize, "VORTAN FTP.LNK")) return false;
  return CopyText(linkPath, kPathSize, folder);
}

void CreateDesktopShortcut() {
  // S_FALSE only says that COM was already initialised on this thread, which
  // it is in the wizard: the rich edit control of the agreement page
  // initialises OLE (measured under Wine: CoInitialize then gave S_FALSE
  // and no shortcut was made although the user asked for one). It is a
  // success and is balanced like one; a real failure (another apartment
  // model) still means no shortcut.
  if (FAILED(CoInitialize(nullptr))) return;
  PathBuffer target = {};
  PathBuffer linkPath = {};
  if (BuildPath(target, setupState.installDir, "QXFTP.EXE") &&
      BuildDesktopShortcutPath(linkPath))
    CreateShellLink(target, linkPath, "VORTAN FTP");
  CoUninitialize();
}
