#include "winsim/progman.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "internal.h"

namespace winsim {
namespace {

using detail::CharLength;

// The shell reads the commands as text of the ANSI code page: on a
// double-byte code page a trail byte is part of its character, never a
// delimiter, a forbidden character or a letter to fold.
bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i += CharLength(a, i)) {
    if (CharLength(a, i) == 2 || CharLength(b, i) == 2) {
      if (a.compare(i, 2, b, i, 2) != 0) return false;
      continue;
    }
    const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x != y && !(x < 0x80 && y < 0x80 && std::tolower(x) == std::tolower(y))) return false;
  }
  return true;
}

// The first single-byte character of set in text at or after p, or null.
const char* FindAny(const char* p, const char* set) {
  const std::string_view text(p);
  for (size_t i = 0; i < text.size(); i += CharLength(text, i))
    if (CharLength(text, i) == 1 && std::strchr(set, text[i])) return p + i;
  return nullptr;
}

size_t FindLastSlash(const std::string& path) {
  size_t found = std::string::npos;
  for (size_t i = 0; i < path.size(); i += CharLength(path, i))
    if (path[i] == '\\' || path[i] == '/') found = i;
  return found;
}

// Groups are folders and items are .lnk files, so the shell replaces the
// characters a file name cannot hold (control characters and * / : < > ? \ |)
// by '_' when it creates them.
std::string FileNameOf(const std::string& name) {
  std::string out = name;
  for (size_t i = 0; i < out.size(); i += CharLength(name, i)) {
    const unsigned char u = static_cast<unsigned char>(out[i]);
    if (CharLength(name, i) == 1 && (u < 0x20 || std::strchr("*/:<>?\\|", out[i]))) out[i] = '_';
  }
  return out;
}

// "", "." and ".." would name the Programs folder itself or its parent, not
// a group inside it; the shell would act on those folders (Wine's own tests
// avoid DeleteGroup("") for that reason). The model refuses them so that a
// program sending one shows up as a failure instead of a wiped Start Menu.
bool IsUsableName(const std::string& name) { return !name.empty() && name != "." && name != ".."; }

struct Command {
  std::string name;
  std::vector<std::string> args;
};

// Reads one "[Name(arg,...)]" starting at *p (which is at '['), leaving *p
// after it and its trailing blanks. The shell parses and runs the commands
// one by one, so a malformed command fails only when reached.
bool ParseCommand(const char*& p, Command& cmd) {
  cmd = Command{};
  ++p;  // '['
  while (*p == ' ') ++p;
  const char* end = FindAny(p, " ,()[]\"");
  if (!end) return false;
  cmd.name.assign(p, end);
  p = end;
  while (*p == ' ') ++p;
  if (*p == '(') {
    ++p;
    while (*p != ')') {
      while (*p == ' ') ++p;
      const char* argEnd;
      if (*p == '"') {
        ++p;
        argEnd = FindAny(p, "\"");  // no escape: the next quote ends it
        if (!argEnd) return false;
      } else {
        argEnd = FindAny(p, ",()[]");
        if (!argEnd) return false;
        while (argEnd > p && argEnd[-1] == ' ') --argEnd;
      }
      cmd.args.emplace_back(p, argEnd);
      p = argEnd;
      if (*p == '"') ++p;
      while (*p == ' ') ++p;
      if (*p == ',') {
        ++p;
      } else if (*p != ')') {
        return false;
      }
    }
    ++p;  // ')'
    while (*p == ' ') ++p;
  }
  if (*p != ']') return false;
  ++p;
  while (*p == ' ') ++p;
  return true;
}

// The program named by an AddItem command line. A DDE argument cannot hold a
// quote inside quotes (and one starting with a quote is itself a quoted
// argument), so paths with blanks arrive bare: "C:\Program Files\X\X.EXE".
// The shell therefore tries the whole line, then drops words from the end
// until a file is found; a name without an extension is also tried with
// ".exe", as the path search does. Gives the program found and the arguments
// after it; false when no candidate exists.
bool FindProgram(const std::string& cmdline, const std::function<bool(const std::string&)>& exists,
                 std::string& program, std::string& arguments) {
  if (!exists) return false;
  std::string candidate = cmdline;
  for (;;) {
    if (!candidate.empty()) {
      const size_t slash = FindLastSlash(candidate);
      const bool hasExtension = candidate.find('.', slash == std::string::npos ? 0 : slash + 1) != std::string::npos;
      const bool found = exists(candidate) || (!hasExtension && exists(candidate + ".exe"));
      if (found) {
        program = exists(candidate) ? candidate : candidate + ".exe";
        arguments = candidate.size() < cmdline.size() ? cmdline.substr(candidate.size() + 1) : "";
        return true;
      }
    }
    const size_t blank = candidate.rfind(' ');
    if (blank == std::string::npos) return false;
    candidate.resize(blank);
  }
}

std::string BaseNameWithoutExtension(const std::string& path) {
  const size_t slash = FindLastSlash(path);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos) base.resize(dot);
  return base;
}

}  // namespace

const ProgmanGroup* Progman::FindGroup(const std::string& name) const {
  for (const ProgmanGroup& g : groups) {
    if (EqualNoCase(g.name, name)) return &g;
  }
  return nullptr;
}

std::string Progman::GroupsReply() const {
  std::string reply;
  for (const ProgmanGroup& g : groups) reply += g.name + "\r\n";
  return reply;
}

bool Progman::Execute(const std::string& payload) {
  // The DDE data is a NUL-terminated string: anything after a NUL is unseen.
  const std::string text = payload.substr(0, payload.find('\0'));
  const char* p = text.c_str();
  while (*p == ' ') ++p;
  if (*p != '[') return false;

  auto group = [this](const std::string& name) -> ProgmanGroup* {
    return const_cast<ProgmanGroup*>(FindGroup(name));
  };

  // Text after the last complete command that does not open another one is
  // ignored, as the shell does.
  while (*p == '[') {
    Command cmd;
    if (!ParseCommand(p, cmd)) return false;
    const auto& a = cmd.args;

    if (EqualNoCase(cmd.name, "CreateGroup")) {
      if (a.empty()) return false;
      const std::string name = FileNameOf(a[0]);
      if (!IsUsableName(name)) return false;
      ProgmanGroup* g = group(name);
      if (!g) {
        groups.push_back(ProgmanGroup{name, {}});
        g = &groups.back();
      }
      activeGroup = g->name;
      openedWindows.push_back(g->name);
    } else if (EqualNoCase(cmd.name, "ShowGroup")) {
      // The show command (second argument) must be present; its value does
      // not matter.
      if (a.size() < 2) return false;
      ProgmanGroup* g = group(FileNameOf(a[0]));
      if (!g) return false;
      activeGroup = g->name;
      openedWindows.push_back(g->name);
    } else if (EqualNoCase(cmd.name, "DeleteGroup")) {
      if (a.empty()) return false;
      const std::string name = FileNameOf(a[0]);
      if (!IsUsableName(name)) return false;
      auto it = std::find_if(groups.begin(), groups.end(),
                             [&](const ProgmanGroup& g) { return EqualNoCase(g.name, name); });
      if (it == groups.end()) return false;
      if (EqualNoCase(activeGroup, it->name)) activeGroup.clear();
      groups.erase(it);
    } else if (EqualNoCase(cmd.name, "AddItem")) {
      if (a.empty()) return false;
      ProgmanGroup* g = activeGroup.empty() ? nullptr : group(activeGroup);
      if (!g) return false;
      std::string program, arguments;
      if (!FindProgram(a[0], targetExists, program, arguments)) return false;
      const std::string name = FileNameOf(a.size() >= 2 ? a[1] : BaseNameWithoutExtension(program));
      if (!IsUsableName(name)) return false;
      auto it = std::find_if(g->items.begin(), g->items.end(),
                             [&](const ProgmanItem& item) { return EqualNoCase(item.name, name); });
      ProgmanItem item{name, a[0], program, arguments};
      if (it != g->items.end()) {
        item.name = it->name;  // the same .lnk file is written again, its name kept
        *it = item;
      } else {
        g->items.push_back(item);
      }
    } else if (EqualNoCase(cmd.name, "DeleteItem") || EqualNoCase(cmd.name, "ReplaceItem")) {
      // Windows fails without an active group; Wine's server crashes instead
      // (platform notes), which the Wine tests record. The name is used as
      // given, without the replacement done at creation.
      if (a.empty()) return false;
      ProgmanGroup* g = activeGroup.empty() ? nullptr : group(activeGroup);
      if (!g) return false;
      auto it = std::find_if(g->items.begin(), g->items.end(),
                             [&](const ProgmanItem& item) { return EqualNoCase(item.name, a[0]); });
      if (it == g->items.end()) return false;
      g->items.erase(it);
    } else if (EqualNoCase(cmd.name, "ExitProgman")) {
      // Nothing to do: the shell is not Program Manager and stays.
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace winsim
