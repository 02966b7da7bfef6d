// The previous installation's record as any registry data (value types,
// lengths, missing terminators, over-long strings, odd BaseRegistry,
// WorkingDirType and Lock data), then a quiet installation over it and a
// quiet removal. Whatever the record says, nothing outside the product's
// own places is deleted.
#include <string>

#include "support.h"

namespace {

const char* const kNames[] = {"Installation Directory", "Working Directory", "BaseRegistry", "WorkingDirType",
                              "Lock",                   "LockFTP",           "Program Group", "Profile Mode"};
const char* const kTexts[] = {"C:\\Program Files\\VORTAN\\FTP", "C:\\", "C:\\WINDOWS", "C:\\Program Files",
                              "D:\\Data", "\\\\?\\C:\\Program Files", "C:\\dist", ""};
const DWORD kTypes[] = {REG_SZ, REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ, REG_NONE};

// Files no removal may take, whatever the record says: a recorded directory
// is emptied by design, but the protected ones (a drive root, Program Files,
// the Windows directory) lose only the product's own files.
const char* const kSentinels[] = {"C:\\Program Files\\Other\\keep.txt", "C:\\keep.txt", "C:\\Program Files\\keep.txt",
                                  "C:\\WINDOWS\\keep.txt"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  fuzz::Session session(in.Byte() & 1 ? winsim::WindowsVersion::Win7 : winsim::WindowsVersion::XP);
  winsim::Machine& m = session.m();
  for (const char* sentinel : kSentinels) m.WriteText(sentinel, "keep");
  m.WriteText(m.SystemDir() + "\\keep.dll", "keep");
  size_t values = in.Byte() % 12;
  for (size_t i = 0; i < values && !in.Done(); ++i) {
    uint8_t how = in.Byte();
    HKEY hive = how & 0x80 ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const char* name = kNames[how % 8];
    DWORD type = kTypes[(how >> 3) % 6];
    uint8_t length = in.Byte();
    std::vector<uint8_t> bytes;
    if (length & 0x80) {
      // One of the places that matter, terminated or not.
      std::string text = kTexts[length % 8];
      bytes.assign(text.begin(), text.end());
      if (length & 0x40) bytes.push_back(0);
    } else {
      bytes = in.Bytes(static_cast<size_t>(length) * 4);
    }
    m.SetRegValue(hive, "Software\\VORTAN\\FTP", name, type, bytes);
  }
  m.WriteText("C:\\dist\\SETUP.INI",
              "[FTPSetup]\r\nQuietModeInstall=Y\r\nDestinationDir=C:\\Program Files\\VORTAN\\FTP\r\n"
              "[Program Group]\r\nUseGroup=Y\r\nGroupName=VORTAN FTP\r\nShortCut=Y\r\n");
  session.RunSetup();
  if (!m.outstanding().Clean()) fuzz::Broken(m, "installation left open: " + m.outstanding().Describe());
  m.WriteText("C:\\dist\\SETUP.INI", "[FTPSetup]\r\nQuietModeUnInstall=Y\r\n");
  session.RunSetup();
  if (!m.outstanding().Clean()) fuzz::Broken(m, "removal left open: " + m.outstanding().Describe());
  m.Restart();
  for (const char* sentinel : kSentinels)
    if (!m.Exists(sentinel)) fuzz::Broken(m, std::string("deleted outside the product's places: ") + sentinel);
  if (!m.Exists(m.SystemDir() + "\\keep.dll")) fuzz::Broken(m, "deleted from the system directory");
  return 0;
}
