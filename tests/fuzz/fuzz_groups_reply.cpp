// Program Manager's reply to the "Groups" request, any bytes (very long, no
// line ends, NULs inside, no terminator), read into the group page's list.
#include <string>

#include "shell/shell.h"
#include "support.h"
#include "wizard/wizard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Session session(winsim::WindowsVersion::XP);
  winsim::Machine& m = session.m();
  m.faults.groupsReply = std::string(reinterpret_cast<const char*>(data), size);
  HWND page = m.CreateTestWindow(400, 300);
  HWND combo = m.AddTestControl(page, "ComboBox", IDC_GROUP_NAME);
  groupPageWindow = page;
  ListProgramGroups();
  groupPageWindow = nullptr;
  for (const std::string& item : m.ComboItems(combo)) {
    if (item.find('\n') != std::string::npos) fuzz::Broken(m, "a line feed inside a listed group: " + item);
    if (item.find('\0') != std::string::npos) fuzz::Broken(m, "a NUL inside a listed group");
  }
  if (!m.outstanding().Clean()) fuzz::Broken(m, "left open: " + m.outstanding().Describe());
  return 0;
}
