// The fault sweep's machinery: its roads, editions, users and starting
// states, the whole machine as text, and the fixture that runs a road with
// one call failing and holds the machine against the invariants
// (test_fault_sweep.cpp runs it, test_fault_sweep_invariants.cpp judges).
#pragma once

#include "fixture.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fault_sweep {

using fixture::WindowsVersion;
using winsim::UserKind;

enum class Road { QuietInstall, QuietRemoval, WizardInstall, WizardUninstall, PerUserRemoval, HeldRemoval, OverPrevious };

// Fresh: the installation and working directories do not exist. UserFiles:
// both exist already and hold the user's own files and folders, some named
// like the product's data folders.
enum class Start { Fresh, UserFiles };

struct SweepParam {
  Road road;
  WindowsVersion version;
  UserKind user;
  Start start;
};

const char* RoadName(Road r);
std::string EditionName(const SweepParam& p);
bool Installs(Road r);

// Every combination the sweep knows; without SWEEP_FULL in the environment
// the 32-bit editions and Windows 10 x64 only (the others are
// make sweep-full's).
std::vector<SweepParam> AllCombinations();
// Whether the whole product of faults runs (SWEEP_FULL set), or a sample.
bool FullSweep();
// The classic combinations (a 32-bit edition, a fresh machine) run every
// fault even in the sample.
bool Classic(const SweepParam& p);

std::string Upper(std::string s);
bool StartsWith(const std::string& s, const std::string& prefix);
bool Within(const std::string& path, const std::string& dir);

// The whole simulated machine as text, to compare before and after: every
// file and directory of drives C: and D:, every key and value of both hives
// (the 64-bit view, so Wow6432Node is a key like any other), and Program
// Manager's groups and items.
struct Snapshot {
  std::map<std::string, std::string> files, registry, groups;
};
Snapshot Take(fixture::Machine& m);
// Names whose entry differs between two maps.
std::vector<std::string> Changed(const std::map<std::string, std::string>& a,
                                 const std::map<std::string, std::string>& b);

class FaultSweep : public fixture::SetupTest, public ::testing::WithParamInterface<SweepParam> {
 protected:
  struct Tally {
    size_t points = 0, runs = 0;
    std::vector<std::string> failures;
  };

  void Prepare(const SweepParam& p);
  void RunRoad(Road road);
  // room: the road runs on a C: drive with only that many bytes free.
  void Run(Tally& tally, const SweepParam& p, std::optional<winsim::Faults::CallFailure> fault,
           const std::string& label, std::optional<uint64_t> room = std::nullopt);
  void Report(const char* what, const SweepParam& p, const Tally& tally, const std::string& figures);

  bool Shown(const std::string& text) const;
  bool ShownStarting(const std::string& text) const;
  bool PayloadInPlace() const;
  bool Scheduled(const std::string& path) const;

  // The invariants (test_fault_sweep_invariants.cpp).
  std::vector<std::string> Outside(const Snapshot& before, const Snapshot& after) const;
  std::vector<std::string> NotAsBefore(const Snapshot& before, const Snapshot& after) const;
  std::vector<std::string> UserFilesChanged(const Snapshot& now) const;
  std::vector<std::string> LeftByTheRemoval() const;
  bool LeftByTheFailure(const std::string& path) const;
  bool AllowedLeftOver(const std::string& path) const;

  // The places of the combination: where its roads install, the working
  // directory they get, and the user's files seeded before anything ran
  // (upper-case path: content, or "dir").
  std::string dir_, workDir_;
  bool perUser_ = false;
  std::map<std::string, std::string> seeded_;

  std::vector<int> holds_;
  size_t boxesBefore_ = 0;
  std::vector<std::string> counted_;
  size_t unrecorded_ = 0;
  std::string failedFunction_, failedDetail_, failedKind_, installFailure_, installDir_;
  std::string installFailureDetail_, installFailureKind_;
  uint64_t written_ = 0;  // bytes the last road added to C:
  bool driveRelative_ = false;
  // The list of created directories could not be read, at the removal or
  // by the installation over a record: "not found", or another failure.
  bool ListFailed(bool missing) const {
    auto is = [&](const std::string& function, const std::string& detail, const std::string& kind) {
      return function == "RegQueryValueExA" && detail == "Created Directories" &&
             (kind == "ERROR_FILE_NOT_FOUND") == missing;
    };
    return is(failedFunction_, failedDetail_, failedKind_) ||
           is(installFailure_, installFailureDetail_, installFailureKind_);
  }
  bool ListReportedMissing() const { return ListFailed(true); }
  bool ListRefused() const { return ListFailed(false); }
  // The removal ended with the box that leaves the running UNINS.EXE and
  // its folder to the user.
  bool exceptUninstaller_ = false;
};

}  // namespace fault_sweep
