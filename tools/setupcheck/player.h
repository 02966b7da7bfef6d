// The player behind Play(), shared by its two halves: play.cpp sets up the
// machine and plays the runs, dump.cpp writes what they left.
#pragma once

#include "play.h"

#include <map>
#include <string>
#include <vector>

namespace setupcheck {

extern const char kUninstallKey[];

// The dump's escaping of a text: line ends and tabs written out.
std::string Escape(const std::string& s);

// One play: the machine, the runs, and the dump taken from them.
class Player {
 public:
  Player(const Scenario& s, winsim::WindowsVersion version) : s_(s), machine_(version), use_(machine_) {
    if (s.standardUser) machine_.SetUser(winsim::UserKind::StandardUser);
  }

  Dump Go(const Distribution& dist, const std::string& res);

 private:
  struct Token { std::string path, name; };
  struct Started { std::string run, commandLine, directory; };

  winsim::Machine& m() { return machine_; }
  // A key as the 32-bit program names it, where it really is (the same key
  // on a 32-bit edition; under Wow6432Node for most of HKLM\Software on a
  // 64-bit one).
  bool ProgramKeyExists(HKEY hive, const std::string& key);
  void Tokens();
  std::string Norm(const std::string& text) const;
  void AnswerBoxes();
  void Run(const std::string& dir, const std::string& wizard, const std::string& program = "C:\\dist\\Setup.exe");
  void Collect(std::string installDir, const std::string& groupName);
  void DumpKey(std::vector<std::string>& out, HKEY hive, const std::string& hiveName, const std::string& key,
               const std::string& shown);
  std::vector<std::string> Registry();
  void Files(std::vector<std::string>& out, const std::string& root, bool sayAbsent);
  std::string LongOf(const std::string& shortPath, const std::vector<std::string>& roots);
  std::vector<std::string> Restart(const std::vector<std::string>& roots);
  std::vector<std::string> Shell(const std::string& groupName);

  const Scenario& s_;
  winsim::Machine machine_;
  winsim::CurrentMachine use_;
  std::vector<Token> tokens_;
  std::vector<std::string> boxLines_;
  std::vector<Started> processes_;
  std::map<std::string, size_t> used_;
  std::string run_;
  Dump dump_;
};

}  // namespace setupcheck
