// SETUP.INI as any bytes (any length, no line ends, NULs, every key, both
// quiet modes): the program starts from the distribution and runs whatever
// road the file asks for.
#include <string>

#include "support.h"

namespace {

const char* const kProgramFiles[] = {"QXFTP.EXE", "UNINS.EXE", "QXFTP.HLP", "QXFTP.CHM", "QXFTP.DLL"};

bool Shown(const fuzz::Session& s, const std::string& text) {
  for (const std::string& box : s.boxes())
    if (box == text) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Reader in(data, size);
  fuzz::Session session(in.Byte() & 1 ? winsim::WindowsVersion::Win98 : winsim::WindowsVersion::XP);
  winsim::Machine& m = session.m();
  m.WriteBytes("C:\\dist\\SETUP.INI", in.Rest());
  session.RunSetup();
  if (!m.outstanding().Clean()) fuzz::Broken(m, "left open: " + m.outstanding().Describe());
  bool succeeded = Shown(session, "VORTAN FTP installation completed successfully.");
  bool failed = Shown(session,
                      "VORTAN FTP installation was unsuccessful ... please check your setup parameters and try again.");
  if (succeeded && failed) fuzz::Broken(m, "both outcomes shown");
  if (succeeded) {
    // The recorded installation directory holds every program file.
    auto dir = m.GetRegValue(HKEY_LOCAL_MACHINE, "Software\\VORTAN\\FTP", "Installation Directory");
    if (!dir) dir = m.GetRegValue(HKEY_CURRENT_USER, "Software\\VORTAN\\FTP", "Installation Directory");
    if (dir && !dir->Text().empty() && dir->Text()[0] != '\\') {
      for (const char* name : kProgramFiles)
        if (!m.Exists(dir->Text() + "\\" + name))
          fuzz::Broken(m, std::string("success shown without ") + name + " in " + dir->Text());
    }
  }
  // The distribution itself is never touched.
  for (const char* kept : {"C:\\dist\\QXFTP.EX_", "C:\\dist\\Setup.exe", "C:\\dist\\Qxcerts.Cab"})
    if (!m.Exists(kept)) fuzz::Broken(m, std::string("the distribution lost ") + kept);
  return 0;
}
