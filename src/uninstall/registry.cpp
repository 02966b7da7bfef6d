// Registry cleanup: the product key in both hives and the Add/Remove
// Programs entry. "Software\VORTAN", the file type and the legacy key stay.
#include "uninstall/uninstall.h"

namespace {

void DeleteProductKeyTree(HKEY hive) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(hive, kProductKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  DeleteAllSubkeys(key);
  RegCloseKey(key);
}

void DeleteSubkey(HKEY hive, const char* parent, const char* subkey, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(hive, parent, 0, access, &key) != ERROR_SUCCESS) return;
  RegDeleteKeyA(key, subkey);
  RegCloseKey(key);
}

}  // namespace

void DeleteAllSubkeys(HKEY key) {
  // Deleting the subkey at the current index moves the next one there. A
  // subkey that cannot be deleted, or whose name does not fit the 64
  // characters, would come back at that index for ever: the index then
  // moves past it.
  DWORD index = 0;
  for (;;) {
    char name[64] = {};
    LONG status = RegEnumKeyA(key, index, name, sizeof(name));
    if (status == ERROR_NO_MORE_ITEMS) return;
    if (status != ERROR_SUCCESS) {
      if (status != ERROR_MORE_DATA) return;
      ++index;
      continue;
    }
    HKEY subkey = nullptr;
    if (RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, &subkey) == ERROR_SUCCESS) {
      DeleteAllSubkeys(subkey);
      RegCloseKey(subkey);
    }
    if (RegDeleteKeyA(key, name) != ERROR_SUCCESS) ++index;
  }
}

namespace {

// Where the installation recorded its Add/Remove Programs entry; a record
// without the value (made before it existed) means the text's place,
// HKEY_LOCAL_MACHINE. The other hive's entry is never touched: it may
// belong to another installation.
HKEY RecordedUninstallEntryHive() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(ProductHive(), kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return HKEY_LOCAL_MACHINE;
  char hive[24] = {};
  DWORD size = sizeof(hive) - 1;
  DWORD type = 0;
  LONG status = RegQueryValueExA(key, "Uninstall Entry", nullptr, &type, reinterpret_cast<BYTE*>(hive), &size);
  RegCloseKey(key);
  if (status == ERROR_SUCCESS && type == REG_SZ && lstrcmpiA(hive, "HKEY_CURRENT_USER") == 0) return HKEY_CURRENT_USER;
  return HKEY_LOCAL_MACHINE;
}

}  // namespace

void RemoveRegistryEntries() {
  HKEY uninstallHive = RecordedUninstallEntryHive();
  DeleteProductKeyTree(HKEY_CURRENT_USER);
  DeleteProductKeyTree(HKEY_LOCAL_MACHINE);
  DeleteSubkey(HKEY_CURRENT_USER, "Software\\VORTAN", "FTP", KEY_ALL_ACCESS);
  DeleteSubkey(HKEY_LOCAL_MACHINE, "Software\\VORTAN", "FTP", KEY_ALL_ACCESS);
  DeleteSubkey(uninstallHive, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", "VORTAN FTP", KEY_WRITE);
}
