// A stand-in for the product's server DLL whose one import is vhelp.dll:
// where that import is found shows the search order the loading process
// used. Its registration entries only call into the helper.
#include <windows.h>

extern "C" __declspec(dllimport) int WINAPI VHelpValue();

extern "C" HRESULT WINAPI DllRegisterServer() { return VHelpValue() == 7 ? S_OK : E_FAIL; }
extern "C" HRESULT WINAPI DllUnregisterServer() { return VHelpValue() == 7 ? S_OK : E_FAIL; }
