// A helper DLL that the test server DLL (vsrv.cpp) imports. Loaded, it
// appends its own file name to C:\vtest\loaded.txt, so a test sees which
// copy of it a process took: the system's, or one planted elsewhere.
#include <windows.h>

extern "C" __declspec(dllexport) int WINAPI VHelpValue() { return 7; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH + 2] = {};
  DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  path[length++] = '\r';
  path[length++] = '\n';
  HANDLE file = CreateFileA("C:\\vtest\\loaded.txt", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return TRUE;
  DWORD written = 0;
  WriteFile(file, path, length, &written, nullptr);
  CloseHandle(file);
  return TRUE;
}
