// vboxtest: a stand-in for a program under test, used to check vdriver itself.
//
//   vboxtest [--out FILE] [--sleep MS] [--delete PATH] [--child DIR]
//            [STYLE|CAPTION|TEXT]...
//
// Shows one MessageBoxA per STYLE|CAPTION|TEXT argument, in order, without an
// owner window (STYLE: OK, OKCANCEL, YESNO, YESNOCANCEL, RETRYCANCEL,
// ABORTRETRYIGNORE; "\n" in TEXT is a line break), and appends
// "CAPTION<TAB>result id" per box to FILE. --sleep waits before the boxes,
// --delete tries DeleteFileA and records "DELETE<TAB>path<TAB>ok|error code".
// --child starts a copy of itself, "PATH" --sleep 600000 with PATH this
// program's own path, in the current directory DIR, and goes on at once
// without waiting for it (exit code 3 when it cannot be started).
// The exit code is the id of the last box's answer, or 0 when none was shown.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

FILE* g_out = nullptr;

void Record(const std::string& line) {
  if (!g_out) return;
  fputs((line + "\n").c_str(), g_out);
  fflush(g_out);
}

// Not waited for: a child started just before its parent ends is the case
// the driver has to catch after the parent's end.
bool StartChild(const char* directory) {
  char self[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, self, sizeof(self));
  if (length == 0 || length >= sizeof(self)) {
    fprintf(stderr, "vboxtest: no module file name (error %lu)\n", GetLastError());
    return false;
  }
  // Built by appending: GCC 12 at -O3 warns wrongly (-Wrestrict) about
  // "\"" + std::string(...).
  std::string command_line = "\"";
  command_line.append(self, length);
  command_line += "\" --sleep 600000";
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, directory, &startup,
                      &process)) {
    fprintf(stderr, "vboxtest: cannot start '%s' in '%s' (error %lu)\n", command_line.c_str(), directory,
            GetLastError());
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  static const std::map<std::string, UINT> styles = {
      {"OK", MB_OK},
      {"OKCANCEL", MB_OKCANCEL},
      {"YESNO", MB_YESNO},
      {"YESNOCANCEL", MB_YESNOCANCEL},
      {"RETRYCANCEL", MB_RETRYCANCEL},
      {"ABORTRETRYIGNORE", MB_ABORTRETRYIGNORE},
  };
  int last = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--out" && i + 1 < argc) {
      g_out = fopen(argv[++i], "ab");
      if (!g_out) return 2;
      continue;
    }
    if (arg == "--sleep" && i + 1 < argc) {
      Sleep(static_cast<DWORD>(strtoul(argv[++i], nullptr, 10)));
      continue;
    }
    if (arg == "--child" && i + 1 < argc) {
      if (!StartChild(argv[++i])) return 3;
      continue;
    }
    if (arg == "--delete" && i + 1 < argc) {
      std::string path = argv[++i];
      bool ok = DeleteFileA(path.c_str());
      Record("DELETE\t" + path + "\t" + (ok ? std::string("ok") : std::to_string(GetLastError())));
      continue;
    }
    size_t bar1 = arg.find('|');
    size_t bar2 = bar1 == std::string::npos ? bar1 : arg.find('|', bar1 + 1);
    auto style = styles.find(arg.substr(0, bar1));
    if (bar2 == std::string::npos || style == styles.end()) {
      fprintf(stderr, "vboxtest: bad box '%s'\n", arg.c_str());
      return 2;
    }
    std::string caption = arg.substr(bar1 + 1, bar2 - bar1 - 1);
    std::string text;
    for (size_t p = bar2 + 1; p < arg.size(); ++p) {
      if (arg[p] == '\\' && p + 1 < arg.size() && arg[p + 1] == 'n') {
        text += '\n';
        ++p;
      } else {
        text += arg[p];
      }
    }
    last = MessageBoxA(nullptr, text.c_str(), caption.c_str(), style->second | MB_ICONINFORMATION);
    Record(caption + "\t" + std::to_string(last));
  }
  if (g_out) fclose(g_out);
  return last;
}
