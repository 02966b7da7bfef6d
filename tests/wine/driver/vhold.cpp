// vhold: keeps a file open without sharing, so that another process's attempt
// to delete, replace or even read it fails with a sharing violation, the way a
// running program holds its own executable or DLL.
//
//   vhold FILE [--event NAME] [--timeout SECONDS]   hold FILE until the named
//                                                   event is set or the time-out
//   vhold --release NAME                            set that event
//
// When FILE is open it prints "HOLDING <FILE>" on standard output, so a script
// knows when the refusal starts. Exit codes: 0 released, 1 time-out, 2 usage,
// 3 the file cannot be opened, 4 the event cannot be created or set.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--release") {
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (!event || !SetEvent(event)) {
      fprintf(stderr, "vhold: cannot set event '%s' (error %lu)\n", argv[2], GetLastError());
      return 4;
    }
    CloseHandle(event);
    return 0;
  }

  std::string file;
  std::string event_name;
  double timeout_seconds = 60;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--event" && i + 1 < argc) {
      event_name = argv[++i];
    } else if (arg == "--timeout" && i + 1 < argc) {
      timeout_seconds = strtod(argv[++i], nullptr);
    } else if (file.empty() && arg.rfind("--", 0) != 0) {
      file = arg;
    } else {
      file.clear();
      break;
    }
  }
  if (file.empty() || timeout_seconds <= 0) {
    fputs("usage: vhold FILE [--event NAME] [--timeout SECONDS] | vhold --release NAME\n", stderr);
    return 2;
  }

  HANDLE event = nullptr;
  if (!event_name.empty()) {
    event = CreateEventA(nullptr, TRUE, FALSE, event_name.c_str());
    if (!event) {
      fprintf(stderr, "vhold: cannot create event '%s' (error %lu)\n", event_name.c_str(), GetLastError());
      return 4;
    }
  }
  // Share mode 0: no other open of any kind succeeds while this handle lives.
  HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    fprintf(stderr, "vhold: cannot open '%s' (error %lu)\n", file.c_str(), GetLastError());
    return 3;
  }
  printf("HOLDING %s\n", file.c_str());
  fflush(stdout);

  DWORD timeout_ms = static_cast<DWORD>(timeout_seconds * 1000);
  DWORD result = event ? WaitForSingleObject(event, timeout_ms) : (Sleep(timeout_ms), WAIT_TIMEOUT);
  CloseHandle(held);
  if (event) CloseHandle(event);
  return result == WAIT_OBJECT_0 ? 0 : 1;
}
