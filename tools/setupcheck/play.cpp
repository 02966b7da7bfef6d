// Play(): a fresh machine of the scenario's Windows version with the
// distribution in place, the scenario's starting state, and the program's
// runs with the user's answers and wizard steps.
#include "player.h"

#include <szdd/szdd.h>
#include <userscript/userscript.h>

#include "install/install.h"
#include "setup/setup.h"
#include "wizard/wizard.h"

#include <algorithm>
#include <fstream>

namespace setupcheck {

namespace fs = std::filesystem;
using winsim::Machine;
using winsim::WindowsVersion;

namespace {

const char kDefaultInstallDir[] = "C:\\Program Files\\VORTAN\\FTP";
// What a 32-bit program is given as Program Files on a 64-bit edition.
const char kDefaultInstallDirX86[] = "C:\\Program Files (x86)\\VORTAN\\FTP";
const char kRemoveDir[] = "C:\\remove";

// The answer words name the ids winsim's boxes return.
static_assert(userscript::kOk == IDOK && userscript::kCancel == IDCANCEL && userscript::kAbort == IDABORT &&
              userscript::kRetry == IDRETRY && userscript::kIgnore == IDIGNORE && userscript::kYes == IDYES &&
              userscript::kNo == IDNO);

// A scenario's answer, read as the driver reads it; a word it does not know
// presses OK here, where the driver refuses it.
int AnswerId(const std::string& name) {
  int id = userscript::AnswerId(name);
  return id ? id : IDOK;
}

// The first button of a box's style, which the Wine driver presses for a box
// nobody scripted.
int FirstButton(UINT style) {
  switch (style & 0xF) {
    case MB_OKCANCEL: return IDOK;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_YESNOCANCEL: case MB_YESNO: return IDYES;
    case MB_RETRYCANCEL: return IDRETRY;
    default: return IDOK;
  }
}

}  // namespace

void Player::AnswerBoxes() {
  m().onMessageBox = [this](HWND, const std::string& text, const std::string& caption,
                            UINT style) -> std::optional<int> {
    int answer = FirstButton(style);
    UINT buttons = style & 0xF;
    if (s_.yesNoAnswer && (buttons == MB_YESNO || buttons == MB_YESNOCANCEL)) answer = *s_.yesNoAnswer;
    auto it = s_.answers.find(caption);
    if (it != s_.answers.end() && !it->second.empty()) {
      size_t& used = used_[caption];
      answer = AnswerId(it->second[std::min(used, it->second.size() - 1)]);
      ++used;
    }
    boxLines_.push_back(run_ + " | " + caption + " | " + Escape(Norm(text)) + " | " + userscript::AnswerName(answer));
    return answer;
  };
}

// One run of the program; a wizard run plays the user's steps.
void Player::Run(const std::string& dir, const std::string& wizard, const std::string& program) {
  ResetSetupState();
  ResetWizardState();
  progressWindow = nullptr;
  m().SetProgramPath(program);
  m().SetCurrentDir(dir);
  std::vector<std::string> errors;
  if (!wizard.empty()) m().ScriptWizard(WizardSteps(wizard, &errors));
  size_t started = m().processes().size();
  int code = WinMain(reinterpret_cast<HINSTANCE>(0x400000), nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
  if (code != 1) dump_.errors.push_back(run_ + ": the program exited with " + std::to_string(code));
  if (m().UnusedWizardActions() != 0) dump_.errors.push_back(run_ + ": the wizard closed before the user's last step");
  for (const std::string& e : errors) dump_.errors.push_back(run_ + ": " + e);
  // The directory as the new process has it, without the trailing
  // backslash Windows keeps on a current directory that is not a root.
  for (size_t i = started; i < m().processes().size(); ++i) {
    std::string cwd = m().processes()[i].currentDirectory;
    while (cwd.size() > 3 && cwd.back() == '\\') cwd.pop_back();
    processes_.push_back({run_, m().processes()[i].commandLine, cwd});
  }
}

Dump Player::Go(const Distribution& dist, const std::string& res) {
  dump_.name = s_.name;
  SeedDistribution(m(), dist);
  for (const std::string& gone : s_.missing) m().RemoveTree("C:\\dist\\" + gone);
  Tokens();
  AnswerBoxes();

  std::string ini = s_.hasInstall ? s_.installIni : "";
  std::string installDir = IniValue(ini, "FTPSetup", "DestinationDir");
  if (installDir.empty()) installDir = m().Is64Bit() ? kDefaultInstallDirX86 : kDefaultInstallDir;
  std::string groupName = s_.group.empty() ? IniValue(ini, "Program Group", "GroupName") : s_.group;
  if (groupName.empty()) groupName = "VORTAN FTP";
  if (!s_.installWizard.empty() || !s_.removeWizard.empty()) {
    std::string why = "no compiled resources (windres) for the wizard";
    if (res.empty() || !m().LoadResourceFile(res, reinterpret_cast<HINSTANCE>(0x400000), &why)) {
      dump_.errors.push_back("the wizard's resources: " + why);
      return dump_;
    }
  }

  m().faults.noProgmanService = s_.noProgman;
  for (const std::string& plant : s_.plants) m().WriteText(plant, "MZWINSIM-EXE\n");
  // Seeds name keys as the program reads them.
  for (const auto& seed : s_.registry) {
    auto [hive, key] = m().RedirectedKey(seed.hive, seed.key);
    m().SetRegValue(hive, key, seed.name, seed.type, seed.data);
  }
  for (const std::string& rel : s_.readonly) {
    std::string path = installDir + "\\" + rel;
    m().MakeDirs(path.substr(0, path.rfind('\\')));
    m().WriteText(path, "old\r\n");
    m().SetAttributes(path, FILE_ATTRIBUTE_READONLY);
  }
  if (s_.hasInstall) {
    run_ = "install";
    m().WriteText("C:\\dist\\SETUP.INI", s_.installIni);
    Run("C:\\dist", s_.installWizard);
    dump_.outcome.push_back(std::string("install | ") + (setupState.installSucceeded ? "installed" : "not installed"));
  }
  int hold = 0;
  bool removed = false;
  if (s_.hasRemove) {
    removed = true;
    if (!s_.held.empty()) {
      m().WriteText(installDir + "\\" + s_.held, "held\r\n");
      hold = m().Hold(installDir + "\\" + s_.held);
    }
    run_ = "remove";
    m().WriteText(std::string(kRemoveDir) + "\\SETUP.INI", s_.removeIni);
    Run(kRemoveDir, s_.removeWizard);
    if (hold) m().Release(hold);
  }
  if (s_.removerInstalled) {
    // Add/Remove Programs starts the installed UNINS.EXE in its own
    // directory, without a SETUP.INI; its image is held while it runs.
    removed = true;
    run_ = "remove";
    std::string remover = installDir + "\\UNINS.EXE";
    int image = m().HoldImage(remover);
    Run(installDir, s_.removeWizard, remover);
    m().Release(image);
  }
  for (const std::string& plant : s_.plants)
    for (const auto& p : m().processes())
      if (Lower(p.modulePath) == Lower(plant))
        dump_.errors.push_back("a run started the planted " + plant + ": " + p.commandLine);
  if (removed) {
    bool recorded = ProgramKeyExists(HKEY_LOCAL_MACHINE, kUninstallKey);
    dump_.outcome.push_back(std::string("remove | ") + (recorded ? "the uninstall entry remains" : "removed") +
                            (setupState.rebootRequired ? ", restart required" : ""));
  }

  Collect(installDir, groupName);
  ResetSetupState();
  ResetWizardState();
  progressWindow = nullptr;
  return dump_;
}

bool ReadDistribution(const fs::path& dir, Distribution* out, std::string* why) {
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) {
    *why = dir.string() + " is not a directory";
    return false;
  }
  fs::recursive_directory_iterator it(dir, ec), end;
  if (ec) {
    *why = "cannot list " + dir.string() + ": " + ec.message();
    return false;
  }
  for (; it != end; it.increment(ec)) {
    if (ec) {
      *why = "cannot list " + dir.string() + ": " + ec.message();
      return false;
    }
    std::string rel = fs::relative(it->path(), dir, ec).string();
    std::replace(rel.begin(), rel.end(), '/', '\\');
    if (it->is_directory(ec)) {
      out->dirs.push_back(rel);
      continue;
    }
    if (!it->is_regular_file(ec)) continue;  // sockets, pipes and dangling links are no files to ship
    std::ifstream in(it->path(), std::ios::binary);
    if (!in) {
      *why = "cannot read " + it->path().string();
      return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    out->files.push_back({rel, std::move(bytes)});
  }
  std::sort(out->dirs.begin(), out->dirs.end());
  std::sort(out->files.begin(), out->files.end());
  return true;
}

void SeedDistribution(Machine& m, const Distribution& dist) {
  m.MakeDirs("C:\\dist");
  for (const std::string& dir : dist.dirs) m.MakeDirs("C:\\dist\\" + dir);
  for (const auto& [rel, bytes] : dist.files) {
    std::vector<uint8_t> expanded;
    if (Lower(rel) == "qxftp.dl_" && szdd::Expand(bytes.data(), bytes.size(), expanded) == szdd::ExpandResult::Ok) {
      std::string image = Machine::SimDllImage();
      std::vector<uint8_t> plain(image.begin(), image.end());
      m.WriteBytes("C:\\dist\\" + rel, szdd::Compress(plain.data(), plain.size(), 'L'));
    } else {
      m.WriteBytes("C:\\dist\\" + rel, bytes);
    }
  }
}

Dump Play(const Scenario& s, const Distribution& dist, const std::string& res) {
  auto version = VersionOf(s.windows);
  if (!s.error.empty() || !version) {
    Dump d;
    d.name = s.name;
    d.errors.push_back(s.error.empty() ? "no Windows version" : s.error);
    return d;
  }
  Player player(s, *version);
  return player.Go(dist, res);
}

}  // namespace setupcheck
