// Certificate cabinet members as the cabinet reader hands them to the
// program's callback: any names, any number of them. A member is extracted
// only as a plain file name inside the certificate directory.
#include <cstring>
#include <string>

#include "install/install.h"
#include "support.h"

namespace {

const char kCerts[] = "C:\\Program Files\\VORTAN\\FTP\\Certs";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Session session(winsim::WindowsVersion::XP);
  fuzz::Reader in(data, size);
  std::strcpy(certificatesDir, in.Byte() == 0xFF ? "" : kCerts);
  size_t count = in.Byte();
  for (size_t i = 0; i < count && !in.Done(); ++i) {
    // Each name: a length byte, then that many bytes (NULs and all).
    std::vector<uint8_t> raw = in.Bytes(static_cast<size_t>(in.Byte()) * 2);
    std::string name(raw.begin(), raw.end());
    UINT notification = (in.Byte() & 7) == 7 ? SPFILENOTIFY_FILEEXTRACTED : SPFILENOTIFY_FILEINCABINET;
    FILE_IN_CABINET_INFO_A member = {};
    member.NameInCabinet = name.c_str();
    member.FileSize = static_cast<DWORD>(name.size());
    std::memset(member.FullTargetName, 'Z', sizeof(member.FullTargetName));
    member.FullTargetName[sizeof(member.FullTargetName) - 1] = '\0';
    UINT answer = CertificateCabinetCallback(nullptr, notification, reinterpret_cast<UINT_PTR>(&member), 0);
    if (answer != FILEOP_DOIT) continue;
    std::string target = member.FullTargetName;
    std::string plain = name.c_str();  // what the reader passes is a C string
    if (notification != SPFILENOTIFY_FILEINCABINET || certificatesDir[0] == '\0')
      fuzz::Broken(session.m(), "extracted outside a member notification or without a directory");
    if (target != std::string(kCerts) + "\\" + plain)
      fuzz::Broken(session.m(), "member '" + plain + "' extracted to '" + target + "'");
    if (plain.empty() || plain == "." || plain == ".." || plain.find_first_of("\\/:") != std::string::npos)
      fuzz::Broken(session.m(), "member '" + plain + "' is not a plain name");
    if (target.size() >= MAX_PATH) fuzz::Broken(session.m(), "target longer than a path");
  }
  certificatesDir[0] = '\0';
  return 0;
}
