// The installation's registry records: the settings key, the per-user
// working directory, the Add/Remove Programs entry, the Support and About
// texts, and the document file type.
#include "install/created.h"
#include "install/install.h"
#include "uninstall/uninstall.h"

#include <cstdio>
#include <cstring>

namespace {

const char kProgId[] = "Keldra.FTP.1";

void SetString(HKEY key, const char* name, const char* text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                 static_cast<DWORD>(std::strlen(text) + 1));
}

void SetByte(HKEY key, const char* name, BYTE value) { RegSetValueExA(key, name, 0, REG_BINARY, &value, 1); }

void SetLong(HKEY key, const char* name, LONG value) {
  // Stored as four bytes, least significant first, whatever the host order.
  DWORD bits = static_cast<DWORD>(value);
  BYTE bytes[4] = {static_cast<BYTE>(bits), static_cast<BYTE>(bits >> 8), static_cast<BYTE>(bits >> 16),
                   static_cast<BYTE>(bits >> 24)};
  RegSetValueExA(key, name, 0, REG_BINARY, bytes, 4);
}

HKEY CreateKey(HKEY hive, const char* subkey, REGSAM access) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(hive, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, &disposition) !=
      ERROR_SUCCESS)
    return nullptr;
  return key;
}

const char* HiveName(HKEY hive) {
  return hive == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

void ShowKeyError(HKEY hive, const char* subkey) {
  char message[128];
  std::snprintf(message, sizeof(message), "Unable to create key: %s\\%s", HiveName(hive), subkey);
  MessageBoxA(nullptr, message, "Setup Error", MB_SETFOREGROUND | MB_ICONWARNING);
}

// Copies the named keys of one SETUP.INI section into a registry key, as
// REG_SZ values of the same names (empty strings for missing keys).
void CopySection(HKEY key, const char* section, const char* const* names, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    char text[kPathSize] = {};
    if (setupState.iniPath[0] != '\0')
      GetPrivateProfileStringA(section, names[i], "", text, kPathSize, setupState.iniPath);
    text[kPathSize - 1] = '\0';
    SetString(key, names[i], text);
  }
}

// The file type's keys go under classesRoot: HKEY_CLASSES_ROOT, or the
// user's own classes (HKEY_CURRENT_USER\Software\Classes, merged into
// HKEY_CLASSES_ROOT from Windows 2000 on: "Merged View of HKEY_CLASSES_ROOT").
bool WriteDefaultValue(HKEY classesRoot, const char* subkey, const char* text) {
  char name[kPathSize + 32] = {};
  const char* path = subkey;
  if (classesRoot == HKEY_CURRENT_USER) {
    int written = std::snprintf(name, sizeof(name), "Software\\Classes\\%s", subkey);
    if (written < 0 || static_cast<size_t>(written) >= sizeof(name)) return false;
    path = name;
  }
  HKEY key = CreateKey(classesRoot, path, KEY_WRITE);
  if (key == nullptr) return false;
  SetString(key, nullptr, text);
  RegCloseKey(key);
  return true;
}

// A per-user installation by a user who may not write HKEY_LOCAL_MACHINE
// (a standard user under UAC gets ERROR_ACCESS_DENIED there) would have no
// Add/Remove Programs entry; Windows lists the entries under
// HKEY_CURRENT_USER\...\Uninstall as well (Windows Installer writes a
// per-user product's there). A per-machine installation keeps the text's
// place only.
void WriteUninstallEntry() {
  // This installation decides every place anew: an earlier installation's
  // record of them must not send the removal elsewhere.
  HKEY product = nullptr;
  if (RegOpenKeyExA(ProductHive(), kProductKey, 0, KEY_WRITE, &product) == ERROR_SUCCESS) {
    static const char* const kPlaces[] = {"Uninstall Entry", "File Type", "Desktop Shortcut",
                                          "Program Group Folder"};
    for (const char* name : kPlaces) RegDeleteValueA(product, name);
    RegCloseKey(product);
  }
  HKEY hive = HKEY_LOCAL_MACHINE;
  HKEY uninstall = CreateKey(hive, kUninstallKey, KEY_WRITE);
  if (uninstall == nullptr && setupState.baseRegistry == 2) {
    hive = HKEY_CURRENT_USER;
    uninstall = CreateKey(hive, kUninstallKey, KEY_WRITE);
  }
  if (uninstall == nullptr) return;
  SetString(uninstall, "DisplayName", "VORTAN FTP");
  // Quoted like the launch command line: Add/Remove Programs runs the value
  // as a command line, with the rights of whoever removes the product.
  PathBuffer command = {};
  if (BuildQuotedProgramPath(command, kPathSize, setupState.installDir, "Unins.Exe"))
    SetString(uninstall, "UninstallString", command);
  RegCloseKey(uninstall);
  // The removal looks for the entry under HKEY_CURRENT_USER only where the
  // record says so: an entry there that cannot be recorded would outlive
  // the removal, so it goes at once.
  if (!RecordPlace("Uninstall Entry", HiveName(hive)) && hive == HKEY_CURRENT_USER)
    RegDeleteKeyA(HKEY_CURRENT_USER, kUninstallKey);
}

// What the record found in the product key says was created: its list, or
// for a record made before the list existed, its installation and working
// directories unless they hold more than this product. Read before this
// installation writes its own values.
std::vector<std::string> PreviousCreatedDirectories(HKEY key) {
  std::vector<std::string> previous;
  if (ReadCreatedDirectories(key, previous)) return previous;
  PathBuffer installDir = {};
  if (!QueryRegistryString(key, "Installation Directory", installDir, kPathSize) || installDir[0] == '\0')
    return previous;
  PathBuffer workingDir = {};
  BYTE kind = 0;
  DWORD size = 1;
  if (RegQueryValueExA(key, "WorkingDirType", nullptr, nullptr, &kind, &size) != ERROR_SUCCESS) kind = 0;
  if (kind == 0 || kind > 2) {
    QueryRegistryString(key, "Working Directory", workingDir, kPathSize);
  } else {
    HKEY userKey = nullptr;
    if (RegOpenKeyExA(WorkingDirHive(), kProductKey, 0, KEY_READ, &userKey) == ERROR_SUCCESS) {
      QueryRegistryString(userKey, "Working Directory", workingDir, kPathSize);
      RegCloseKey(userKey);
    }
  }
  ProtectedPlaces* places = LoadProtectedPlaces();
  for (const char* dir : {static_cast<const char*>(installDir), static_cast<const char*>(workingDir)}) {
    if (dir[0] != '\0' && !IsProtectedDirectory(*places, dir)) previous.emplace_back(dir);
  }
  FreeProtectedPlaces(places);
  return previous;
}

}  // namespace

void WriteSettingsKeys() {
  HKEY hive = ProductHive();
  HKEY key = CreateKey(hive, kProductKey, KEY_ALL_ACCESS);
  if (key == nullptr) {
    ShowKeyError(hive, kProductKey);
  } else {
    std::vector<std::string> previous = PreviousCreatedDirectories(key);
    SetByte(key, "BaseRegistry", setupState.baseRegistry);
    SetByte(key, "Profile Mode", setupState.profileMode);
    SetString(key, "Installation Directory", setupState.installDir);
    SetByte(key, "WorkingDirType", setupState.workingDirType);
    if (setupState.workingDirType == 0) SetString(key, "Working Directory", setupState.workingDir);
    if (setupState.useGroup) SetString(key, "Program Group", setupState.groupName);
    SetLong(key, "Lock", setupState.lockValue);
    SetLong(key, "LockFTP", setupState.lockFtpValue);
    // A record without its list would be judged as one made before the
    // list existed, by the protected places alone, which may let a removal
    // empty an installation or working directory that was the user's
    // folder before: without the list the record names no installation, so
    // the product's files are left rather than the user's lost.
    if (!WriteCreatedDirectories(key, previous)) RegDeleteValueA(key, "Installation Directory");
    RegCloseKey(key);
  }

  if (setupState.workingDirType != 0) {
    HKEY userHive = WorkingDirHive();
    HKEY userKey = CreateKey(userHive, kProductKey, KEY_ALL_ACCESS);
    if (userKey == nullptr) {
      ShowKeyError(userHive, kProductKey);
    } else {
      SetString(userKey, "Working Directory", setupState.workingDir);
      RegCloseKey(userKey);
    }
  }

  WriteUninstallEntry();
}

void WriteAboutAndSupportKeys() {
  HKEY hive = ProductHive();
  static const char* const kSupportNames[] = {"Line1", "Line2", "Line3", "Line4", "Line5",
                                              "Line6", "Line7", "Line8", "Line9"};
  static const char* const kAboutNames[] = {"Info1",    "Info2", "Name", "Address1", "Address2",
                                            "Address3", "Phone", "Fax",  "BBS",      "INet"};
  const char supportKey[] = "Software\\VORTAN\\FTP\\Support";
  const char aboutKey[] = "Software\\VORTAN\\FTP\\About";

  HKEY key = CreateKey(hive, supportKey, KEY_ALL_ACCESS);
  if (key == nullptr) {
    ShowKeyError(hive, supportKey);
  } else {
    CopySection(key, "Support", kSupportNames, sizeof(kSupportNames) / sizeof(kSupportNames[0]));
    RegCloseKey(key);
  }

  key = CreateKey(hive, aboutKey, KEY_ALL_ACCESS);
  if (key == nullptr) {
    ShowKeyError(hive, aboutKey);
    return;
  }
  CopySection(key, "About", kAboutNames, sizeof(kAboutNames) / sizeof(kAboutNames[0]));
  RegCloseKey(key);
}

void RegisterFileType() {
  char keyName[kPathSize];
  HKEY root = HKEY_CLASSES_ROOT;
  bool written = WriteDefaultValue(root, kProgId, "Keldra FTP");
  // A per-user installation whose user may not write the machine's classes
  // registers the type for that user, where Windows 2000 and later look.
  if (!written && setupState.baseRegistry == 2 && IsNtFamily() && setupState.osVersion.dwMajorVersion >= 5) {
    root = HKEY_CURRENT_USER;
    written = WriteDefaultValue(root, kProgId, "Keldra FTP");
  }
  if (written) RecordPlace("File Type", root == HKEY_CURRENT_USER ? "HKEY_CURRENT_USER" : "HKEY_CLASSES_ROOT");

  std::snprintf(keyName, sizeof(keyName), "%s\\CurVer", kProgId);
  WriteDefaultValue(root, keyName, kProgId);

  PathBuffer program = {};
  bool programFits = BuildPath(program, setupState.installDir, "Qxftp.exe");

  // Values that would not fit are not written rather than cut into another
  // path.
  std::snprintf(keyName, sizeof(keyName), "%s\\DefaultIcon", kProgId);
  PathBuffer icon = {};
  if (programFits && ConcatPath(icon, program, ",-103"))
    WriteDefaultValue(root, keyName, icon);

  std::snprintf(keyName, sizeof(keyName), "%s\\shell\\open\\command", kProgId);
  PathBuffer command = {};
  if (programFits && AppendText(command, kPathSize, "\"") && AppendText(command, kPathSize, program) &&
      AppendText(command, kPathSize, "\" /f\"%1\""))
    WriteDefaultValue(root, keyName, command);

  WriteDefaultValue(root, ".qft", kProgId);

  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}

bool RecordPlace(const char* name, const char* value) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(ProductHive(), kProductKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return false;
  LONG result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                               static_cast<DWORD>(std::strlen(value) + 1));
  RegCloseKey(key);
  return result == ERROR_SUCCESS;
}
