#include "support.h"

#include <cstdio>
#include <cstdlib>

#include "fixture.h"
#include "wizard/wizard.h"

namespace fuzz {

void Broken(const winsim::Machine& m, const std::string& what) {
  std::fprintf(stderr, "invariant broken: %s\n%s\n", what.c_str(), m.journal().Dump().c_str());
  std::abort();
}

Session::Session(winsim::WindowsVersion version) {
  ResetSetupState();
  ResetWizardState();
  machine_ = std::make_unique<winsim::Machine>(version);
  current_ = std::make_unique<winsim::CurrentMachine>(*machine_);
  m().onMessageBox = [this](HWND, const std::string& text, const std::string&, UINT style) -> std::optional<int> {
    boxes_.push_back(text);
    return (style & 0xF) == MB_YESNO ? IDYES : IDOK;
  };
  const char* programs[][2] = {{"QXFTP.EX_", "QXFTP.EXE"}, {"UNINS.EX_", "UNINS.EXE"}, {"QXFTP.HL_", "QXFTP.HLP"},
                               {"QXFTP.CH_", "QXFTP.CHM"}, {"QXFTP.DL_", "QXFTP.DLL"}};
  for (auto& program : programs) {
    std::string installed = program[1];
    m().WriteBytes(std::string("C:\\dist\\") + program[0],
                   fixture::Packed(fixture::ProgramContent(installed), installed.back()));
  }
  m().WriteBytes("C:\\dist\\CA1.0_", fixture::Packed("CA ONE\r\n", '0'));
  m().WriteBytes("C:\\dist\\Qxcerts.Cab", fixture::kGoodCabinet);
  m().WriteText("C:\\dist\\readme.htm", "<html>readme</html>");
  m().WriteText("C:\\dist\\Docs\\guide.txt", "guide");
  m().WriteText("C:\\dist\\Setup.exe", "setup program image");
#ifdef SETUP_RES_PATH
  m().LoadResourceFile(SETUP_RES_PATH, reinterpret_cast<HINSTANCE>(0x400000));
#endif
}

Session::~Session() {
  current_.reset();
  ResetSetupState();
  ResetWizardState();
}

void Session::RunSetup() {
  ResetSetupState();
  ResetWizardState();
  m().SetProgramPath("C:\\dist\\Setup.exe");
  m().SetCurrentDir("C:\\dist");
  WinMain(reinterpret_cast<HINSTANCE>(0x400000), nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
}

}  // namespace fuzz
