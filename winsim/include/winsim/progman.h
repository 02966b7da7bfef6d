// The shell's Program Manager DDE service ("PROGMAN") as Windows serves it:
// groups with items, an active group, the "Groups" request and the five
// execute commands the setup program sends.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace winsim {

struct ProgmanItem {
  std::string name;     // item (link) name
  std::string cmdline;  // command line given to AddItem
  // What the shell made of the command line: the program found (as passed to
  // targetExists, ".exe" added when the search needed it) and the rest.
  std::string program;
  std::string arguments;
};

struct ProgmanGroup {
  std::string name;
  std::vector<ProgmanItem> items;
};

class Progman {
 public:
  // Runs one execute payload: one or more "[Command(args)]" in a row. They run
  // in order and stop at the first failure; the result is true only when all
  // succeeded. Command names are case-insensitive. Argument parsing follows
  // the shell: an unquoted argument ends at the first of , ( ) [ ] and has its
  // trailing blanks trimmed; a quoted one runs to the next double quote.
  bool Execute(const std::string& payload);

  // The reply to the "Groups" request: each group name followed by CR LF.
  std::string GroupsReply() const;

  const ProgmanGroup* FindGroup(const std::string& name) const;  // case-insensitive

  std::vector<ProgmanGroup> groups;  // in creation order
  std::string activeGroup;           // empty: none active
  // Consulted by AddItem: the command line's program must exist. Called with
  // the whole line first, then with words dropped from its end (a path with
  // blanks cannot be quoted inside a quoted DDE argument), each also tried
  // with ".exe" when it has no extension.
  std::function<bool(const std::string& path)> targetExists;
  // Every group window opened by CreateGroup/ShowGroup, in order (the shell
  // opens the group's folder window).
  std::vector<std::string> openedWindows;
};

}  // namespace winsim
