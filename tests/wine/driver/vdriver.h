// vdriver's parts as its files share them: the options, the log, the
// started program's process tree and descendants, the box watch and the
// wizard script.
#pragma once

#include <windows.h>

#include <userscript/userscript.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace vdriver {

constexpr DWORD kPollMs = 50;

struct Rule {
  std::vector<int> answers;
  size_t used = 0;
};

struct Options {
  std::string cwd;
  std::string log_path;
  double timeout_seconds = 120;
  std::map<std::string, Rule> rules;
  std::vector<std::string> short_paths;
  std::vector<std::string> command;
  std::string wizard_script;
  std::string shots_dir;
  double step_timeout_seconds = 30;
};

// ---- the log (vdriver_log.cpp) ---------------------------------------------

extern FILE* g_log;

// One event: its fields, escaped and separated by TABs, to stdout and the log.
void LogLine(const std::vector<std::string>& fields);

// A field of a Windows error code after prefix ("!error 5").
std::string ErrorField(const char* prefix, DWORD code);

// ---- windows (vdriver_boxes.cpp) ---------------------------------------------

std::string WindowText(HWND window);
std::string ClassName(HWND window);
bool IsMessageBox(HWND dialog);

// ---- the started program's descendants (vdriver_children.cpp) -----------------

class ProcessTree {
 public:
  explicit ProcessTree(DWORD root) : root_(root) {}

  // True when pid is the root process or one of its descendants. A process's
  // parent never changes, so a descendant stays one while it lives; an
  // outsider is looked up again after a second, since Windows reuses ids and
  // the id may then belong to a new child.
  bool Contains(DWORD pid);

  // The descendants alive now (not the root), with their executables' names,
  // from a fresh snapshot.
  std::vector<std::pair<DWORD, std::string>> Descendants();

 private:
  // Follows the parents of the last snapshot up to the root.
  bool Descends(DWORD pid);

  void Refresh();

  DWORD root_;
  std::set<DWORD> inside_;
  std::map<DWORD, DWORD> outside_;  // pid -> tick of the lookup
  std::map<DWORD, DWORD> parent_;
  std::map<DWORD, std::string> name_;
};


// Logs every descendant of the started program once. A child caught while
// its loader is still setting up is read again at the next scan; it is logged
// with its error only when that goes on for kRetryMs or it has ended.
class ChildLog {
 public:
  ChildLog(ProcessTree& tree, HANDLE root);

  void Scan();

  // The last look, when the program has ended: children it started just
  // before are still alive and still name it as their parent.
  void FinalScan();

 private:
  static constexpr DWORD kRetryMs = 2000;

  struct Failure {
    DWORD since;  // tick of the first failed read
    std::string name;
    DWORD error;  // of the last failed read
  };
  using Failing = std::map<DWORD, Failure>;

  static bool Alive(DWORD pid);

  Failing::iterator GiveUp(Failing::iterator it);

  ProcessTree& tree_;
  FILETIME root_created_{};
  std::set<DWORD> done_;  // logged, or found to be no descendant
  Failing failing_;
};

// ---- box answering (vdriver_boxes.cpp) ---------------------------------------

struct Watch {
  Options* options;
  ProcessTree* tree;
  std::set<HWND> handled;
  std::map<std::string, int> answered;  // boxes answered, per caption
};

// EnumWindows callbacks: VisitWindow answers the message boxes of the
// program's processes and logs their other dialogs once; ListWindow logs
// their visible top-level windows.
BOOL CALLBACK VisitWindow(HWND window, LPARAM context);
BOOL CALLBACK ListWindow(HWND window, LPARAM context);

// ---- the wizard script (vdriver_wizard.cpp) ------------------------------------

using userscript::Step;

class WizardScript {
 public:
  WizardScript(const Options& options, Watch& watch, HANDLE process)
      : options_(options), watch_(watch), process_(process) {}

  bool Load();

  bool failed() const { return failed_; }
  bool done() const { return next_ >= steps_.size(); }

  // Runs the steps that can run now; returns when one has to wait for the
  // program (or on failure). Called once per poll.
  void Advance();

  // The program ended before the script did.
  void ProgramEnded();

 private:
  enum class Outcome { kDone, kWait, kFail };

  void Fail(const Step& step, const std::string& why);

  // The current page, or null with why saying what is missing.
  HWND CurrentPage(std::string& why);

  HWND Control(const Step& step, std::string& why);

  std::string ButtonState(int id);

  // Lets the program finish what the last step started and paint it.
  void Settle();

  Outcome Run(const Step& step, std::string& why);

  Outcome Shot(const Step& step, std::string& why);

  const Options& options_;
  Watch& watch_;
  HANDLE process_;
  std::vector<Step> steps_;
  size_t next_ = 0;
  bool started_ = false;
  DWORD step_start_ = 0;
  bool failed_ = false;
  bool shot_requested_ = false;
  HWND sheet_ = nullptr;
  std::map<std::string, int> boxes_waited_;
};

}  // namespace vdriver
