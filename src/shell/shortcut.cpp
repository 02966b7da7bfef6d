// The product's desktop shortcut, written through the shell's COM link
// object.
#include "install/install.h"
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
  if (BuildPath(target, setupState.installDir, "QXFTP.EXE") && BuildDesktopShortcutPath(linkPath)) {
    if (SUCCEEDED(CreateShellLink(target, linkPath, "VORTAN FTP"))) {
      RecordPlace("Desktop Shortcut", linkPath);
    } else if (setupState.baseRegistry == 2 && IsNtFamily()) {
      // A per-user installation by a user who may not write the all-users
      // desktop (a standard user on Vista and later) puts the shortcut on
      // the user's own desktop, which only that user sees anyway.
      PathBuffer userLink = {};
      GetShellFolderPath(CSIDL_DESKTOPDIRECTORY, userLink);
      if (userLink[0] != '\0' && (EndsWithBackslash(userLink) || AppendText(userLink, kPathSize, "\\")) &&
          AppendText(userLink, kPathSize, "VORTAN FTP.LNK")) {
        // A save that failed part way (a full disk) leaves the file,
        // empty: recorded all the same, since the removal looks on the
        // user's desktop only where the record says so; a link that cannot
        // be recorded would outlive the removal, so it goes at once.
        HRESULT made = CreateShellLink(target, userLink, "VORTAN FTP");
        if ((SUCCEEDED(made) || GetFileAttributesA(userLink) != INVALID_FILE_ATTRIBUTES) &&
            !RecordPlace("Desktop Shortcut", userLink))
          DeleteFileA(userLink);
      }
    }
  }
  CoUninitialize();
}

// The Program Manager group without a Program Manager. Where no DDE server
// answers (a shell without one, a conversation refused between an elevated
// setup and the user's shell, a deployment service with no shell at all)
// the group becomes what the shell itself makes of a personal group: a
// folder of the user's Programs folder (CSIDL_PROGRAMS) holding one link
// per item, named as the Program Manager would name the items.
namespace {

// The folder MakeGroupFolder made for the items; empty otherwise.
PathBuffer groupFolder = {};

bool BuildItemLinkPath(char* linkPath, const char* folder, const char* itemName) {
  return BuildPath(linkPath, folder, itemName) && AppendText(linkPath, kPathSize, ".lnk");
}

}  // namespace

void MakeGroupFolder(const char* groupName) {
  groupFolder[0] = '\0';
  PathBuffer programs = {};
  if (FAILED(GetShellFolderPath(CSIDL_PROGRAMS, programs)) || programs[0] == '\0') return;
  if (!BuildPath(groupFolder, programs, groupName)) {
    groupFolder[0] = '\0';
    return;
  }
  if (!CreateDirectoryA(groupFolder, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    groupFolder[0] = '\0';
    return;
  }
  RecordPlace("Program Group Folder", groupFolder);
}

void WriteGroupFolderItems() {
  if (groupFolder[0] == '\0' || FAILED(CoInitialize(nullptr))) return;
  for (const ProgramItem& item : kProgramItems) {
    PathBuffer target = {};
    PathBuffer linkPath = {};
    if (BuildPath(target, setupState.installDir, item.fileName) && BuildItemLinkPath(linkPath, groupFolder, item.name))
      CreateShellLink(target, linkPath, item.name);
  }
  CoUninitialize();
}

void DeleteGroupFolderItems(const char* folder) {
  for (const ProgramItem& item : kProgramItems) {
    PathBuffer linkPath = {};
    if (!BuildItemLinkPath(linkPath, folder, item.name)) continue;
    SetFileAttributesA(linkPath, FILE_ATTRIBUTE_ARCHIVE);
    DeleteFileA(linkPath);
  }
}
