// Shell folder resolution. Windows 2000 and later answer through
// SHGetFolderPathA of shfolder.dll; older shells only offer the item-list
// interface.
#include "setup/setup.h"

#include <cstring>

HMODULE LoadSystemLibrary(const char* fileName) {
  PathBuffer path = {};
  UINT length = GetSystemDirectoryA(path, kPathSize);
  if (length == 0 || length >= kPathSize) return nullptr;
  if (!JoinPath(path, kPathSize, fileName)) return nullptr;
  return LoadLibraryA(path);
}

HMODULE LoadServerLibrary(const char* dllPath) {
  return LoadLibraryExA(dllPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

namespace {

typedef HRESULT(WINAPI* SHGetFolderPathA_fn)(HWND, int, HANDLE, DWORD, LPSTR);

HRESULT FromFolderLibrary(WORD csidl, char* local) {
  HMODULE library = LoadSystemLibrary("shfolder.dll");
  if (library == nullptr) return E_INVALIDARG;
  HRESULT result = E_INVALIDARG;
  auto getFolderPath = GetLibraryFunction<SHGetFolderPathA_fn>(library, "SHGetFolderPathA");
  if (getFolderPath != nullptr) result = getFolderPath(nullptr, csidl, nullptr, 0, local);
  FreeLibrary(library);
  return result;
}

HRESULT FromItemList(WORD csidl, char* local) {
  LPITEMIDLIST items = nullptr;
  if (SHGetSpecialFolderLocation(nullptr, csidl, &items) != S_OK) return E_INVALIDARG;
  HRESULT result = SHGetPathFromIDListA(items, local) ? S_OK : E_INVALIDARG;
  IMalloc* allocator = nullptr;
  // Without the allocator the item list cannot be given back; the shell's
  // own documentation has no other way to free it.
  if (SHGetMalloc(&allocator) != S_OK || allocator == nullptr) return result;
  allocator->Free(items);
  allocator->Release();
  return result;
}

}  // namespace

HRESULT GetShellFolderPath(WORD csidl, char* path) {
  // One spare byte: the shell writes at most MAX_PATH characters, and the
  // copy below must still find a terminator.
  char local[kPathSize + 1] = {};
  HRESULT result = setupState.osVersion.dwMajorVersion >= 5 ? FromFolderLibrary(csidl, local)
                                                            : FromItemList(csidl, local);
  if (result == S_OK) CopyTextCut(path, kPathSize, local);
  return result;
}

bool ReadCurrentVersionFolder(const char* name, bool view64, char* path) {
  HKEY key = nullptr;
  REGSAM access = KEY_READ | (view64 ? KEY_WOW64_64KEY : 0);
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, access, &key) !=
      ERROR_SUCCESS)
    return false;
  bool found = QueryRegistryString(key, name, path, kPathSize) && path[0] != '\0';
  RegCloseKey(key);
  return found;
}

// IsWow64Process came with Windows XP SP2 and Server 2003 SP1, and is
// looked up rather than imported so that the program still starts on
// Windows 95 and NT 4.0; where it is missing the system is 32-bit.
bool RunsUnderWow64() {
  typedef BOOL(WINAPI * IsWow64Process_fn)(HANDLE, PBOOL);
  auto isWow64 = GetLibraryFunction<IsWow64Process_fn>(GetModuleHandleA("kernel32.dll"), "IsWow64Process");
  BOOL wow64 = FALSE;
  return isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;
}
