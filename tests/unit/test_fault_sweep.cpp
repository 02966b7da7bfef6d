// Every platform call on every road, made to fail in turn. Each road runs
// once to count its calls, then once per call and failure kind with that
// one call failing, on an NT-family and a 9x-family Windows. After each run
// the machine is held against the invariants: nothing touched outside the
// product's own places, no success text over a failed payload nor failure
// text over a good one, nothing of the product left by a removal that is
// neither gone nor waiting for the restart, and a removal after a failed
// installation puts the machine back as it was, but for what is meant to stay.
#include "fixture.h"

#include "wizard/wizard.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <set>

#ifdef SETUP_RES_PATH

namespace {

using namespace fixture;
using winsim::UserAction;
using winsim::WizButton;

const char kSuccessText[] = "VORTAN FTP installation completed successfully.";
const char kRemovedText[] = "VORTAN FTP uninstallation completed successfully.";
const char kRebootText[] =
    "VORTAN FTP uninstallation requires a reboot to complete successfully.\r\n\r\nDo you want to reboot the computer now?";
const char* const kProgramFiles[] = {"QXFTP.EXE", "UNINS.EXE", "QXFTP.HLP", "QXFTP.CHM", "QXFTP.DLL"};

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

bool Within(const std::string& path, const std::string& dir) {
  std::string p = Upper(path), d = Upper(dir);
  return p == d || StartsWith(p, d + "\\");
}

// The whole simulated machine as text, to compare before and after: every
// file and directory of every drive, every key and value of both hives, and
// Program Manager's groups and items.
struct Snapshot {
  std::map<std::string, std::string> files, registry, groups;
};

void AddKeys(const fixture::Machine& m, HKEY hive, const std::string& hiveName, const std::string& key,
             Snapshot& s) {
  std::string name = hiveName + (key.empty() ? "" : "\\" + key);
  s.registry[Upper(name)] = "key";
  for (const std::string& value : m.ValueNames(hive, key)) {
    auto v = m.GetRegValue(hive, key, value);
    s.registry[Upper(name) + "|" + Upper(value)] =
        std::to_string(v->type) + ":" + std::string(v->data.begin(), v->data.end());
  }
  for (const std::string& sub : m.SubKeys(hive, key)) AddKeys(m, hive, hiveName, key.empty() ? sub : key + "\\" + sub, s);
}

Snapshot Take(fixture::Machine& m) {
  Snapshot s;
  for (const char* drive : {"C:\\", "D:\\"}) {
    for (const std::string& rel : m.Tree(drive)) {
      std::string path = drive + rel;
      if (m.IsDirectory(path)) {
        s.files[Upper(path)] = "dir";
      } else {
        auto bytes = m.ReadBytes(path);
        s.files[Upper(path)] = std::string(bytes->begin(), bytes->end());
      }
    }
  }
  AddKeys(m, HKEY_LOCAL_MACHINE, "HKLM", "", s);
  AddKeys(m, HKEY_CURRENT_USER, "HKCU", "", s);
  for (const auto& group : m.progman().groups) {
    std::string items;
    for (const auto& item : group.items) items += item.name + "=" + item.cmdline + ";";
    s.groups[Upper(group.name)] = items;
  }
  return s;
}

// Names whose entry differs between two maps.
std::vector<std::string> Changed(const std::map<std::string, std::string>& a,
                                 const std::map<std::string, std::string>& b) {
  std::vector<std::string> names;
  for (auto& [k, v] : a) {
    auto it = b.find(k);
    if (it == b.end() || it->second != v) names.push_back(k);
  }
  for (auto& [k, v] : b)
    if (!a.count(k)) names.push_back(k);
  return names;
}

enum class Road { QuietInstall, QuietRemoval, WizardInstall, WizardUninstall, PerUserRemoval, HeldRemoval, OverPrevious };

const char* RoadName(Road r) {
  switch (r) {
    case Road::QuietInstall: return "quiet installation";
    case Road::QuietRemoval: return "quiet removal";
    case Road::WizardInstall: return "wizard installation";
    case Road::WizardUninstall: return "wizard Uninstall";
    case Road::PerUserRemoval: return "removal of a per-user installation";
    case Road::HeldRemoval: return "removal with files held open";
    case Road::OverPrevious: return "installation over a previous one";
  }
  return "";
}

bool Installs(Road r) { return r == Road::QuietInstall || r == Road::WizardInstall || r == Road::OverPrevious; }

struct SweepParam {
  Road road;
  WindowsVersion version;
};

class FaultSweep : public SetupTest, public ::testing::WithParamInterface<SweepParam> {
 protected:
  // A fresh machine with the road's starting state and its SETUP.INI.
  void Prepare(WindowsVersion version, Road road) {
    ResetWizardState();
    FreshMachine(version);
    std::string why;
    ASSERT_TRUE(m().LoadResourceFile(SETUP_RES_PATH, reinterpret_cast<HINSTANCE>(0x400000), &why)) << why;
    holds_.clear();
    if (!Installs(road) || road == Road::OverPrevious) {
      ASSERT_NO_FATAL_FAILURE(InstallQuietly(kDir, road == Road::PerUserRemoval ? "BaseRegistry=2\r\n" : ""));
      ResetWizardState();
    }
    if (road == Road::OverPrevious) {
      // An older installation: every program file differs from the new one.
      for (const char* name : kProgramFiles)
        m().WriteText(std::string(kDir) + "\\" + name, std::string(name) == "QXFTP.DLL"
                                                             ? winsim::Machine::SimDllImage({"DllRegisterServer", "Old"})
                                                             : "older version");
    }
    if (road == Road::HeldRemoval) {
      m().WriteText(std::string(kDir) + "\\Transfer\\open.bin", "busy");
      holds_.push_back(m().Hold(std::string(kDir) + "\\Transfer\\open.bin"));
      holds_.push_back(m().HoldImage(std::string(kDir) + "\\QXFTP.EXE"));
    }
    // The road's own SETUP.INI: the quiet installation leaves out ShortCut so
    // that its outcome shows in a box.
    switch (road) {
      case Road::QuietInstall:
      case Road::OverPrevious:
        WriteIni("[FTPSetup]\r\nQuietModeInstall=Y\r\nDestinationDir=" + std::string(kDir) +
                 "\r\n[Program Group]\r\nUseGroup=Y\r\nGroupName=VORTAN FTP\r\n");
        break;
      case Road::QuietRemoval:
      case Road::HeldRemoval:
        WriteIni(kRemovalIni);
        break;
      case Road::PerUserRemoval:
        // Add/Remove Programs starts the uninstaller without a SETUP.INI.
        m().RemoveTree("C:\\dist\\SETUP.INI");
        WriteIni(kRemovalIni, kDir);
        break;
      case Road::WizardInstall:
      case Road::WizardUninstall:
        WriteIni("");
        break;
    }
    m().journal().Clear();
    boxesBefore_ = boxes().size();
  }

  void RunRoad(Road road) {
    switch (road) {
      case Road::WizardInstall:
        m().ScriptWizard({UserAction::Press(WizButton::Next), UserAction::Click(IDC_AGREE_YES),
                          UserAction::Press(WizButton::Next), UserAction::Press(WizButton::Next),
                          UserAction::Press(WizButton::Next), UserAction::Press(WizButton::Finish)});
        break;
      case Road::WizardUninstall:
        m().ScriptWizard({UserAction::Click(IDC_UNINSTALL), UserAction::Press(WizButton::Finish)});
        break;
      default:
        break;
    }
    if (road == Road::PerUserRemoval) {
      m().SetProgramPath(std::string(kDir) + "\\UNINS.EXE");
      m().SetCurrentDir(kDir);
      WinMain(reinterpret_cast<HINSTANCE>(0x400000), nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
    } else {
      m().SetProgramPath("C:\\dist\\Setup.exe");
      m().SetCurrentDir("C:\\dist");
      WinMain(reinterpret_cast<HINSTANCE>(0x400000), nullptr, const_cast<char*>(""), SW_SHOWNORMAL);
    }
  }

  bool Shown(const std::string& text) const {
    for (size_t i = boxesBefore_; i < boxes().size(); ++i)
      if (boxes()[i].text == text) return true;
    return false;
  }

  // The five program files are all in place with the new content (the
  // server DLL possibly staged at the drive root for the restart).
  bool PayloadInPlace() const {
    for (const char* name : kProgramFiles) {
      std::string path = installDir_ + "\\" + name;
      auto text = m().ReadText(path);
      if (text && *text == fixture::ProgramContent(name)) continue;
      if (std::string(name) == "QXFTP.DLL" && Scheduled("C:\\QXFTP.DLL")) continue;
      return false;
    }
    return true;
  }

  // Waiting for the restart: in the NT list, or in WININIT.INI on 9x.
  bool Scheduled(const std::string& path) const {
    for (auto& [from, to] : m().PendingRenames())
      if (Upper(from) == Upper("\\??\\" + path)) return true;
    auto wininit = m().ReadText(m().WindowsDir() + "\\WININIT.INI");
    if (wininit) {
      std::string text = Upper(*wininit);
      if (text.find(Upper(path)) != std::string::npos) return true;
      std::string shortPath = m().ShortPath(path);
      if (!shortPath.empty() && text.find(Upper(shortPath)) != std::string::npos) return true;
    }
    return false;
  }

  // A changed file or key outside the product's own places.
  std::vector<std::string> Outside(const Snapshot& before, const Snapshot& after) const {
    std::vector<std::string> bad;
    std::string windows = Upper(m().WindowsDir());
    std::string temp = Upper(m().TempDir());
    std::string desktop = Upper(m().ShellFolder(CSIDL_DESKTOPDIRECTORY));
    std::string commonDesktop = Upper(m().ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY));
    for (const std::string& path : Changed(before.files, after.files)) {
      if (Within(path, kDir) || Within(path, installDir_) || Within(installDir_, path)) continue;
      // The default working directory, which the installation makes.
      if (Within(path, m().ShellFolder(CSIDL_PERSONAL) + "\\FTP")) continue;
      if (path == windows + "\\WININIT.INI" || path == windows + "\\WININIT.BAK") continue;
      if (StartsWith(path, temp + "QXSLA.")) continue;
      if (path == desktop + "\\VORTAN FTP.LNK" || path == commonDesktop + "\\VORTAN FTP.LNK") continue;
      // Where no desktop folder resolves, the shortcut goes to the Windows
      // directory by design.
      if (path == windows + "\\VORTAN FTP.LNK") continue;
      // Where no Program Manager answers, the group is a folder of links in
      // the user's Programs folder.
      if (Within(path, m().ShellFolder(CSIDL_PROGRAMS) + "\\VORTAN FTP")) continue;
      if (path == "C:\\QXFTP.DLL" && Scheduled("C:\\QXFTP.DLL")) continue;
      if (path == "C:\\DIST\\SETUP.INI") continue;
      bad.push_back("file " + path);
    }
    for (const std::string& key : Changed(before.registry, after.registry)) {
      static const char* const allowed[] = {
          "HKLM\\SOFTWARE\\VORTAN", "HKCU\\SOFTWARE\\VORTAN",
          "HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\UNINSTALL\\VORTAN FTP",
          "HKLM\\SOFTWARE\\CLASSES\\.QFT", "HKLM\\SOFTWARE\\CLASSES\\KELDRA.FTP.1",
          "HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SESSION MANAGER|PENDINGFILERENAMEOPERATIONS"};
      bool ok = false;
      for (const char* place : allowed) {
        std::string p = place;
        ok = ok || key == p || StartsWith(key, p + "\\") || StartsWith(key, p + "|");
      }
      if (!ok) bad.push_back("key " + key);
    }
    for (const std::string& group : Changed(before.groups, after.groups))
      if (group != "VORTAN FTP") bad.push_back("group " + group);
    return bad;
  }

  struct Tally {
    size_t points = 0, runs = 0;
    std::vector<std::string> failures;
  };

  // Whatever differs from the machine before an installation once it is
  // removed again, but for what stays by design: the vendor key, the file
  // type, the emptied parent directory, the restart machinery's leftovers.
  std::vector<std::string> NotAsBefore(const Snapshot& before, const Snapshot& after) const {
    std::vector<std::string> left;
    std::string windows = Upper(m().WindowsDir());
    for (const std::string& path : Changed(before.files, after.files)) {
      if (path == "C:\\DIST\\SETUP.INI") continue;
      if (Within(installDir_, path) && !Within(path, installDir_)) continue;  // the emptied parents stay
      if (path == windows + "\\WININIT.INI" || path == windows + "\\WININIT.BAK") continue;
      left.push_back("file " + path);
    }
    for (const std::string& key : Changed(before.registry, after.registry)) {
      if (key == "HKLM\\SOFTWARE\\VORTAN" || key == "HKCU\\SOFTWARE\\VORTAN") continue;
      if (StartsWith(key, "HKLM\\SOFTWARE\\CLASSES\\.QFT") || StartsWith(key, "HKLM\\SOFTWARE\\CLASSES\\KELDRA.FTP.1"))
        continue;
      if (key == "HKLM\\SYSTEM\\CURRENTCONTROLSET\\CONTROL\\SESSION MANAGER|PENDINGFILERENAMEOPERATIONS") continue;
      left.push_back("key " + key);
    }
    for (const std::string& group : Changed(before.groups, after.groups)) left.push_back("group " + group);
    return left;
  }

  // room: the road runs on a C: drive with only that many bytes free.
  void Run(Tally& tally, WindowsVersion version, Road road, std::optional<winsim::Faults::CallFailure> fault,
           const std::string& label, std::optional<uint64_t> room = std::nullopt) {
    Prepare(version, road);
    if (HasFatalFailure()) return;
    installFailure_.clear();
    std::string where = label;
    auto fail = [&](const std::string& what) { tally.failures.push_back(std::string(RoadName(road)) + ", " + where + ": " + what); };
    size_t before = m().calls().size();
    Snapshot start = Take(m());
    uint64_t used = m().VolumeUsed("C:\\");
    if (room) {
      m().SetVolumeCapacity("C:\\", used + *room);
      ++tally.runs;
    }
    if (fault) {
      fault->nth += before;
      m().faults.failCall = *fault;
      ++tally.runs;
    }
    RunRoad(road);
    m().faults.failCall.reset();
    if (room) m().SetVolumeCapacity("C:\\", UINT64_MAX);
    written_ = m().VolumeUsed("C:\\") > used ? m().VolumeUsed("C:\\") - used : 0;
    auto failed = m().journal().OfKind("FailedCall");
    where = label + (failed.empty() ? " (never reached)" : " on " + failed[0].fields[3]);
    failedFunction_ = failed.empty() ? "" : failed[0].fields[0];
    failedDetail_ = failed.empty() ? "" : failed[0].fields[3];
    // The installation directory is the one the program chose and recorded
    // (an unresolved Program Files folder gives "\\VORTAN\\FTP" by design).
    installDir_ = kDir;
    driveRelative_ = false;
    // Unrecorded, it is where the program files were sent.
    for (const auto& e : m().journal().OfKind("VerInstallFile"))
      if (e.fields[2] == "QXFTP.EXE") installDir_ = e.fields[4];
    if (installDir_[0] == '\\' && installDir_.rfind("\\\\", 0) != 0) {
      driveRelative_ = true;
      installDir_ = "C:" + installDir_;
    }
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
      if (auto recorded = RegString(hive, "Software\\VORTAN\\FTP", "Installation Directory"))
        if (!recorded->empty()) {
          driveRelative_ = (*recorded)[0] == '\\' && recorded->rfind("\\\\", 0) != 0;
          installDir_ = driveRelative_ ? "C:" + *recorded : *recorded;
        }
    if (!fault) counted_.assign(m().calls().begin() + static_cast<long>(before), m().calls().end());
    for (int hold : holds_) m().Release(hold);
    holds_.clear();
    winsim::Outstanding open = m().outstanding();
    // Without the shell's allocator an item list cannot be given back (the
    // shell documents no other way); pages handed to a sheet that could not
    // be made are the sheet's.
    if (failedFunction_ == "SHGetMalloc") open.pidls = 0;
    if (failedFunction_ == "PropertySheetA") open.propSheetPages = 0;
    if (!open.Clean()) fail("left open: " + open.Describe());
    for (const std::string& what : Outside(start, Take(m()))) fail("changed outside the product's places: " + what);

    if (Installs(road)) {
      bool inPlace = PayloadInPlace();
      if (!inPlace && Shown(kSuccessText)) fail("the success text over a failed payload");
      if (inPlace && Shown(kFailureText)) fail("the failure text over a complete payload");
      if (!fault && !room && !Shown(kSuccessText)) fail("no success text without a fault");
      // The installation is removed again by a fresh process without faults.
      installFailure_ = failedFunction_;
      installFailureDetail_ = failedDetail_;
      failedFunction_.clear();
      failedDetail_.clear();
      ResetSetupState();
      ResetWizardState();
      boxesBefore_ = boxes().size();
      WriteIni(kRemovalIni);
      RunRoad(Road::QuietRemoval);
    }
    bool removed = Shown(kRemovedText) || Shown(kRebootText);
    if (!Installs(road) && !fault && !room && !removed) fail("no completion text without a fault");
    m().Restart();
    if (removed) {
      for (const std::string& rel : m().Tree(kDir))
        if (!LeftByTheFailure(std::string(kDir) + "\\" + rel)) fail("left by the removal, not scheduled: " + rel);
      if (m().Exists(kDir) && !LeftByTheFailure(kDir)) fail(std::string("left by the removal, not scheduled: ") + kDir);
    }
    if (Installs(road) && road != Road::OverPrevious) {
      for (const std::string& what : NotAsBefore(start, Take(m()))) {
        // An installation whose own record could not be written cannot be
        // found by any removal: counted, not failed.
        if (!removed || installFailure_ == "RegSetValueExA" || installFailure_ == "RegCreateKeyExA") {
          ++unrecorded_;
          continue;
        }
        // Where no desktop folder resolved at installation, the shortcut went
        // to the Windows directory by design; the removal looks where the
        // shell says the desktop is.
        if (what == "file " + Upper(m().WindowsDir()) + "\\VORTAN FTP.LNK") continue;
        // Outstanding (drive-root retry of the server DLL after a failure
        // other than "in use", and a staged copy left when the installation
        // is removed before the restart): being mended with the full-disk work.
        if (what == "file C:\\QXFTP.DLL") continue;
        // What the failed call itself concerned (a temporary file it could
        // not delete) stays; so does a packed agreement that could not be
        // expanded, kept for inspection by design.
        std::string path = what.substr(5);
        if (!installFailureDetail_.empty() && path.size() >= installFailureDetail_.size() &&
            Upper(path).compare(path.size() - installFailureDetail_.size(), std::string::npos,
                                Upper(installFailureDetail_)) == 0)
          continue;
        std::string temp = Upper(m().TempDir());
        if ((path == temp + "QXSLA.RT_" || path == temp + "QXSLA.TX_")  &&
            (installFailure_ == "VerInstallFileA" || installFailure_ == "LoadLibraryA" ||
             installFailure_ == "GetProcAddress"))
          continue;
        // Outstanding (Program Files taken from the registry where the shell
        // cannot give it, on Windows 9x and NT 4.0 and without shfolder.dll):
        // meanwhile the installation goes to "\\VORTAN\\FTP" on the current
        // drive, a directory the removal guard protects as not fully given,
        // so only the product files leave it.
        if (driveRelative_ && Within(what.substr(5), installDir_)) continue;
        // Outstanding: the working directory the installation now makes may
        // stay empty when the launched program held it at removal (Windows
        // 9x's WININIT.INI deletes no directories).
        if (path == Upper(m().ShellFolder(CSIDL_PERSONAL) + "\\FTP") && m().IsDirectory(path) &&
            m().List(path).empty())
          continue;
        fail("not as before the installation after its removal: " + what);
      }
    }
  }

  std::vector<int> holds_;
  size_t boxesBefore_ = 0;
  std::vector<std::string> counted_;
  size_t unrecorded_ = 0;
  std::string failedFunction_, failedDetail_, installFailure_, installDir_ = kDir;
  std::string installFailureDetail_;
  uint64_t written_ = 0;  // bytes the last road added to C:
  bool driveRelative_ = false;

  // What a removal may leave when one call failed: the directory that call
  // could not list or the tree it could not delete, with what is in it, and
  // so the directories above it, or,
  // when the restart list itself could not be written, whatever was to go
  // on it. Nothing else can take those away.
  bool LeftByTheFailure(const std::string& path) const {
    if (failedFunction_.empty()) return false;
    std::string concerned = failedDetail_;
    size_t wildcard = concerned.find_first_of("*?");
    if (wildcard != std::string::npos) concerned = concerned.substr(0, concerned.rfind('\\', wildcard));
    // A directory that could not be listed, or a tree the shell could not
    // delete, cannot be taken apart file by file; a file that could not be
    // deleted must wait for the restart instead.
    bool tree = failedFunction_ == "FindFirstFileA" || failedFunction_ == "SHFileOperationA";
    if (tree && !concerned.empty() && (Within(path, concerned) || Within(concerned, path))) return true;
    // The only file a removal reads and writes is the 9x restart list.
    if (failedFunction_ == "MoveFileExA" || failedFunction_ == "GetShortPathNameA") return true;
    // It is rewritten through a new file of the Windows directory.
    static const std::set<std::string> fileCalls = {"ReadFile",    "WriteFile", "GetFileSize", "SetEndOfFile",
                                                    "CreateFileA", "CopyFileA", "DeleteFileA", "GetTempFileNameA"};
    return fileCalls.count(failedFunction_) && (failedDetail_.empty() || Within(failedDetail_, m().WindowsDir()));
  }
};

TEST_P(FaultSweep, EveryCallFailingInTurnKeepsTheInvariants) {
  const SweepParam p = GetParam();
  Tally tally;
  Run(tally, p.version, p.road, std::nullopt, "no fault");
  ASSERT_TRUE(tally.failures.empty()) << tally.failures.front() << "\n" << m().journal().Dump();
  std::vector<std::string> calls = counted_;
  tally.points = calls.size();
  for (size_t i = 0; i < calls.size(); ++i) {
    std::vector<std::string> kinds = winsim::Machine::FailureKinds(calls[i]);
    for (size_t kind = 0; kind < kinds.size(); ++kind) {
      Run(tally, p.version, p.road, winsim::Faults::CallFailure{"", i + 1, kind},
          calls[i] + " (call " + std::to_string(i + 1) + ") " + kinds[kind]);
      if (HasFatalFailure()) return;
    }
  }
  std::printf("fault sweep: %s on %s: %zu injection points, %zu runs, %zu invariant failures\n", RoadName(p.road),
              p.version == WindowsVersion::Win98 ? "Windows 98" : "Windows XP", tally.points, tally.runs,
              tally.failures.size());
  RecordProperty("injection_points", static_cast<int>(tally.points));
  RecordProperty("runs", static_cast<int>(tally.runs));
  EXPECT_TRUE(tally.failures.empty()) << tally.failures.size() << " invariant failures";
  for (size_t i = 0; i < tally.failures.size() && i < 40; ++i) ADD_FAILURE() << tally.failures[i];
}

// The same roads on a C: drive that fills up: at 32 points of what the road
// writes, from no free byte at all on.
TEST_P(FaultSweep, AFullDiskAtEveryPointKeepsTheInvariants) {
  const SweepParam p = GetParam();
  Tally tally;
  Run(tally, p.version, p.road, std::nullopt, "no fault");
  ASSERT_TRUE(tally.failures.empty()) << tally.failures.front();
  uint64_t written = written_;
  const uint64_t points = 32;
  for (uint64_t i = 0; i < points; ++i) {
    uint64_t room = written * i / points;
    if (i > 0 && room == written * (i - 1) / points) continue;
    Run(tally, p.version, p.road, std::nullopt, "a full disk with " + std::to_string(room) + " bytes free", room);
    if (HasFatalFailure()) return;
  }
  std::printf("full disk: %s on %s: %llu bytes written, %zu runs, %zu invariant failures\n", RoadName(p.road),
              p.version == WindowsVersion::Win98 ? "Windows 98" : "Windows XP", static_cast<unsigned long long>(written),
              tally.runs, tally.failures.size());
  EXPECT_TRUE(tally.failures.empty()) << tally.failures.size() << " invariant failures";
  for (size_t i = 0; i < tally.failures.size() && i < 40; ++i) ADD_FAILURE() << tally.failures[i];
}

std::vector<SweepParam> AllRoads() {
  std::vector<SweepParam> all;
  for (WindowsVersion v : {WindowsVersion::XP, WindowsVersion::Win98})
    for (Road r : {Road::QuietInstall, Road::QuietRemoval, Road::WizardInstall, Road::WizardUninstall,
                   Road::PerUserRemoval, Road::HeldRemoval, Road::OverPrevious})
      all.push_back({r, v});
  return all;
}

std::string ParamName(const ::testing::TestParamInfo<SweepParam>& info) {
  std::string name = std::string(info.param.version == WindowsVersion::Win98 ? "Win98_" : "XP_") + RoadName(info.param.road);
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Roads, FaultSweep, ::testing::ValuesIn(AllRoads()), ParamName);

}  // namespace

#endif  // SETUP_RES_PATH
