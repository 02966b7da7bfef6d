#include "fixture.h"

namespace fixture {

const std::vector<uint8_t> kHostileCabinet = {
    0x4d, 0x53, 0x43, 0x46, 0x00, 0x00, 0x00, 0x00, 0x9a, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x01, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x7c, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x88, 0x5d, 0x3a, 0x7b, 0x20, 0x00, 0x2e, 0x2e, 0x5c, 0x65, 0x2e, 0x74, 0x78, 0x74, 0x00, 0x04, 0x00, 0x00,
    0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x88, 0x5d, 0x3a, 0x7b, 0x20, 0x00, 0x73, 0x75, 0x62, 0x5c, 0x69,
    0x6e, 0x6e, 0x65, 0x72, 0x2e, 0x70, 0x65, 0x6d, 0x00, 0x09, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x88, 0x5d, 0x3a, 0x7b, 0x20, 0x00, 0x63, 0x65, 0x72, 0x74, 0x2e, 0x70, 0x65, 0x6d, 0x00, 0xd3, 0xb5,
    0x9d, 0x41, 0x16, 0x00, 0x12, 0x00, 0x43, 0x4b, 0x73, 0x0d, 0xf3, 0xf4, 0xe1, 0x0a, 0x0e, 0x75, 0xe2, 0x72,
    0x76, 0x0d, 0x0a, 0xd1, 0x0d, 0x70, 0xf5, 0xe5, 0x02, 0x00};

std::string ProgramContent(const std::string& name) {
  if (name == "QXFTP.DLL") return Machine::SimDllImage();
  return "content of " + name + "\r\n" + std::string(300, static_cast<char>('a' + name.size() % 26));
}

SetupTest::SetupTest(WindowsVersion version) {
  ResetSetupState();
  progressWindow = nullptr;
  UseVersion(version);
}

SetupTest::~SetupTest() {
  current_.reset();
  ResetSetupState();
  progressWindow = nullptr;
}

void SetupTest::UseVersion(WindowsVersion version) {
  current_.reset();
  machine_ = std::make_unique<Machine>(version);
  current_.emplace(*machine_);
  boxes_.clear();
  m().onMessageBox = [this](HWND owner, const std::string& text, const std::string& caption,
                            UINT style) -> std::optional<int> {
    boxes_.push_back({Machine::WindowTag(owner), text, caption, style});
    for (auto it = answers_.begin(); it != answers_.end(); ++it) {
      if (it->first == caption) {
        int answer = it->second;
        answers_.erase(it);
        return answer;
      }
    }
    return (style & 0xF) == MB_YESNO ? IDYES : IDOK;
  };
}

void SetupTest::FreshMachine(WindowsVersion version) {
  ResetSetupState();
  UseVersion(version);
  SeedDistribution();
}

void SetupTest::SeedDistribution(const std::string& dir) {
  const char* programs[][2] = {{"QXFTP.EX_", "QXFTP.EXE"},
                               {"UNINS.EX_", "UNINS.EXE"},
                               {"QXFTP.HL_", "QXFTP.HLP"},
                               {"QXFTP.CH_", "QXFTP.CHM"},
                               {"QXFTP.DL_", "QXFTP.DLL"}};
  for (auto& program : programs) {
    std::string installed = program[1];
    m().WriteBytes(dir + "\\" + program[0], Packed(ProgramContent(installed), installed.back()));
  }
  m().WriteBytes(dir + "\\CA1.0_", Packed("CA ONE\r\n", '0'));
  m().WriteBytes(dir + "\\Qxcerts.Cab", kGoodCabinet);
  m().WriteText(dir + "\\CA2.0", "CA TWO\r\n");
  m().WriteText(dir + "\\readme.htm", "<html>readme</html>");
  m().WriteText(dir + "\\Start.qft", "start document");
  m().WriteText(dir + "\\Custom.ini", "[custom]\r\n");
  m().WriteText(dir + "\\Docs\\guide.txt", "guide");
  m().WriteText(dir + "\\Docs\\Deep\\more.txt", "more");
  m().WriteText(dir + "\\Setup.exe", "setup program image");
}

void SetupTest::WriteIni(const std::string& text, const std::string& dir) {
  m().WriteText(dir + "\\SETUP.INI", text);
}

std::string SetupTest::QuietIni(const std::string& destination, const std::string& extraSetup,
                                const std::string& extraSections) {
  return "[FTPSetup]\r\nQuietModeInstall=Y\r\nDestinationDir=" + destination + "\r\n" + extraSetup +
         "[Program Group]\r\nUseGroup=Y\r\nGroupName=VORTAN FTP\r\nShortCut=Y\r\n" + extraSections;
}

void SetupTest::InstallQuietly(const std::string& dir, const std::string& extraSetup) {
  WriteIni(QuietIni(dir, extraSetup));
  RunSetup();
  ASSERT_EQ(setupState.installSucceeded, 1) << m().journal().Dump();
  ResetSetupState();
}

void SetupTest::StartUp(const std::string& dir, const std::string& programName) {
  StartUpWith(dir + "\\" + programName, dir);
}

void SetupTest::StartUpWith(const std::string& programPath, const std::string& currentDir) {
  m().SetProgramPath(programPath);
  m().SetCurrentDir(currentDir);
  setupState.osVersion.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  GetVersionExA(&setupState.osVersion);
  GetCurrentDirectoryA(kPathSize, setupState.startDir);
  ReadSetupConfiguration();
}

void SetupTest::RunSetup(const std::string& dir, const std::string& programName) {
  m().SetProgramPath(dir + "\\" + programName);
  m().SetCurrentDir(dir);
  EXPECT_EQ(WinMain(reinterpret_cast<HINSTANCE>(0x400000), nullptr, const_cast<char*>(""), SW_SHOWNORMAL), 1);
}

std::vector<std::string> SetupTest::BoxCaptions() const {
  std::vector<std::string> captions;
  for (const Box& box : boxes_) captions.push_back(box.caption);
  return captions;
}

std::optional<std::string> SetupTest::RegString(HKEY hive, const std::string& key, const std::string& name) const {
  auto value = m().GetRegValue(hive, key, name);
  if (!value) return std::nullopt;
  return value->Text();
}

std::optional<std::vector<uint8_t>> SetupTest::RegBytes(HKEY hive, const std::string& key,
                                                        const std::string& name) const {
  auto value = m().GetRegValue(hive, key, name);
  if (!value) return std::nullopt;
  return value->data;
}

std::optional<DWORD> SetupTest::RegType(HKEY hive, const std::string& key, const std::string& name) const {
  auto value = m().GetRegValue(hive, key, name);
  if (!value) return std::nullopt;
  return value->type;
}

std::string SetupTest::FileText(const std::string& path) const {
  auto text = m().ReadText(path);
  return text ? *text : std::string("<missing " + path + ">");
}

std::vector<std::string> SetupTest::Events(const std::string& kind) const {
  std::vector<std::string> lines;
  for (const winsim::Event& event : m().journal().OfKind(kind)) {
    std::string line;
    for (size_t i = 0; i < event.fields.size(); ++i) line += (i ? "|" : "") + event.fields[i];
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> SetupTest::DdeCommands() const {
  std::vector<std::string> commands;
  for (const winsim::Event& event : m().journal().OfKind("DdeExecute")) {
    if (!event.fields.empty()) commands.push_back(event.fields[0]);
  }
  return commands;
}

}  // namespace fixture
