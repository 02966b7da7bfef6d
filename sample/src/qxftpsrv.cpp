// QXFTP.DLL: the sample product's in-process server. The installer calls
// DllRegisterServer once the DLL sits in the installation directory, and the
// uninstaller calls DllUnregisterServer before deleting it; both take no
// arguments. Registration records the DLL's own path as InprocServer32 of the
// transfer object's class, so a test can tell which copy registered itself.
#include <windows.h>
#include <olectl.h>

namespace {

constexpr char kClsidKey[] = "CLSID\\{B6B88D80-BB82-47E9-A30A-88A9F2047C4C}";
constexpr char kServerKey[] = "CLSID\\{B6B88D80-BB82-47E9-A30A-88A9F2047C4C}\\InprocServer32";
constexpr char kClassName[] = "VORTAN FTP Transfer Object";

HINSTANCE g_module = nullptr;

bool SetText(HKEY key, const char* name, const char* text) {
  return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                        static_cast<DWORD>(lstrlenA(text) + 1)) == ERROR_SUCCESS;
}

bool WriteKey(const char* path, const char* default_text, const char* threading_model) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CLASSES_ROOT, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  bool ok = SetText(key, nullptr, default_text);
  if (ok && threading_model) ok = SetText(key, "ThreadingModel", threading_model);
  RegCloseKey(key);
  return ok;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(g_module, path, sizeof(path));
  // A result equal to the buffer size means the path was truncated.
  if (length == 0 || length >= sizeof(path)) return SELFREG_E_CLASS;
  path[length] = '\0';
  if (!WriteKey(kClsidKey, kClassName, nullptr) || !WriteKey(kServerKey, path, "Apartment")) {
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
  // RegDeleteKey on the NT family refuses a key that still has subkeys, so the
  // server key goes first. A key that is already gone is not an error.
  LONG server = RegDeleteKeyA(HKEY_CLASSES_ROOT, kServerKey);
  LONG clsid = RegDeleteKeyA(HKEY_CLASSES_ROOT, kClsidKey);
  bool ok = (server == ERROR_SUCCESS || server == ERROR_FILE_NOT_FOUND) &&
            (clsid == ERROR_SUCCESS || clsid == ERROR_FILE_NOT_FOUND);
  return ok ? S_OK : SELFREG_E_CLASS;
}

// The class is registered so that the registration can be observed; no object
// is served yet, which COM callers see as an unavailable class.
extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID, LPVOID* object) {
  if (object) *object = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_OK; }
