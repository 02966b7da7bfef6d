// Program Manager client over DDE: the shell serves groups and items under
// the service and topic "PROGMAN". Every operation opens its own DDE
// instance and conversation and releases them before it returns. The group
// routine and the item routine release in different orders, each kept call
// for call: the group frees the service name after its command and
// disconnects even when no conversation was made, the items free it
// before their commands and send them even without it. So they share the
// opening steps, not one conversation routine.
#include "install/install.h"
#include "shell/shell.h"
#include "wizard/wizard.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

const ProgramItem kProgramItems[2] = {
    {"VORTAN FTP", "QXFTP.EXE"},
    {"Uninstall VORTAN FTP", "UNINS.EXE"},
};

namespace {

constexpr DWORD kExecuteTimeout = 10000;


// DDEML calls a client-only instance with notifications alone: a server
// registering (XTYP_REGISTER) or the shell ending the conversation before
// this program does (XTYP_DISCONNECT). None of them needs an answer or
// changes what this program sends. (No test reaches it: the simulated shell
// neither registers during a run nor ends a conversation first.)
// GCOVR_EXCL_START: only DDEML's notifications reach it
HDDEDATA CALLBACK DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }
// GCOVR_EXCL_STOP

// Opens this program's client-only DDE instance. A library that cannot be
// initialised gets an exclamation beep and no box.
bool StartDde(DWORD& instance) {
  if (DdeInitializeA(&instance, DdeCallback, APPCMD_CLIENTONLY, 0) == DMLERR_NO_ERROR) return true;
  MessageBeep(MB_ICONEXCLAMATION);
  return false;
}

// "PROGMAN", the shell's name as the service and as the topic.
HSZ CreateServiceName(DWORD instance) { return DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI); }

// A conversation with the shell, with a context that asks for nothing.
HCONV ConnectToShell(DWORD instance, HSZ service) {
  CONVCONTEXT context;
  std::memset(&context, 0, sizeof(context));
  context.cb = sizeof(CONVCONTEXT);
  return DdeConnect(instance, service, service, &context);
}

// Sends one command as an execute transaction; the data handle then belongs
// to the DDE library. The shell's answer is not examined: a command it
// refuses changes nothing the installation relies on.
void SendCommand(DWORD instance, HCONV conversation, const std::string& text) {
  HDDEDATA data = DdeCreateDataHandle(instance, reinterpret_cast<LPBYTE>(const_cast<char*>(text.c_str())),
                                      static_cast<DWORD>(text.size() + 1), 0, nullptr, CF_TEXT, 0);
  if (data == nullptr) return;
  DWORD resultWord = 0;
  DdeClientTransaction(reinterpret_cast<LPBYTE>(data), 0xFFFFFFFF, conversation, nullptr, 0, XTYP_EXECUTE,
                       kExecuteTimeout, &resultWord);
}

// The test goes byte by byte: on a double-byte code page a trail byte that
// looks like a bracket only makes a name quoted that did not need it, which
// is harmless, since '"' is never a trail byte.
std::string QuoteArgument(const char* argument, bool commandLine) {
  if (std::strpbrk(argument, commandLine ? ",()[] " : ",()[]") == nullptr) return argument;
  std::string quoted = "\"";
  quoted.append(argument).append("\"");
  return quoted;
}

// True when the Program Group page lists a group of this name (compared
// without regard to case): the installation then shows that group instead
// of creating it.
bool GroupIsListed(const char* groupName) {
  if (groupPageWindow == nullptr) return false;
  HWND combo = GetDlgItem(groupPageWindow, IDC_GROUP_NAME);
  LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    if (length < 0) continue;
    std::vector<char> entry(static_cast<size_t>(length) + 1, '\0');
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(entry.data()));
    entry.back() = '\0';
    if (lstrcmpiA(entry.data(), groupName) == 0) return true;
  }
  return false;
}

// The group routine behind CreateProgramGroup (and, for removal, the delete
// form): one command in one conversation.
int GroupCommand(const char* groupName, bool create) {
  if (!IsPlainGroupName(groupName)) {
    // Creating, showing or deleting a group with such a name would act on
    // the Start Menu folder itself.
    AdvanceProgress(10);
    return 0;
  }
  std::string command;
  try {
    if (!create) {
      command = FormatProgmanCommand("DeleteGroup", groupName);
    } else if (GroupIsListed(groupName)) {
      command = FormatProgmanCommand("ShowGroup", groupName, "1");
    } else {
      command = FormatProgmanCommand("CreateGroup", groupName);
    }
  } catch (const std::bad_alloc&) {
    AdvanceProgress(10);
    return 0;
  }

  DWORD instance = 0;
  if (!StartDde(instance)) {
    AdvanceProgress(10);
    return 0;
  }
  HSZ service = CreateServiceName(instance);
  if (service != nullptr) {
    HCONV conversation = ConnectToShell(instance, service);
    // No Program Manager answers: the group becomes a folder of links.
    if (conversation == nullptr && create) MakeGroupFolder(groupName);
    SendCommand(instance, conversation, command);
    DdeFreeStringHandle(instance, service);
    DdeDisconnect(conversation);
  }
  DdeUninitialize(instance);
  AdvanceProgress(10);
  return 1;
}

}  // namespace

bool IsPlainGroupName(const char* name) {
  bool onlyDotsAndBlanks = true;
  for (const char* p = name; *p != '\0'; p = CharNextA(p)) {
    // A double-byte character is a letter, whatever its trail byte is.
    if (CharNextA(p) - p > 1) {
      onlyDotsAndBlanks = false;
      continue;
    }
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) return false;
    if (c != '.' && c != ' ') onlyDotsAndBlanks = false;
  }
  return !onlyDotsAndBlanks;
}

std::string FormatProgmanCommand(const char* command, const char* first, const char* second, bool commandLine) {
  std::string text = "[";
  text.append(command).append("(").append(QuoteArgument(first, commandLine));
  if (second != nullptr) text.append(",").append(QuoteArgument(second, false));
  text.append(")]");
  return text;
}

int ListProgramGroups() {
  DWORD instance = 0;
  if (!StartDde(instance)) return 0;
  // At most one error is recorded: the first failure ends the exchange.
  UINT error = 0;
  HDDEDATA reply = nullptr;
  HSZ service = CreateServiceName(instance);
  if (service == nullptr) {
    error = DdeGetLastError(instance);
  } else {
    HCONV conversation = ConnectToShell(instance, service);
    if (conversation == nullptr) {
      error = DdeGetLastError(instance);
    } else {
      HSZ item = DdeCreateStringHandleA(instance, "Groups", CP_WINANSI);
      if (item == nullptr) {
        error = DdeGetLastError(instance);
      } else {
        reply = DdeClientTransaction(nullptr, 0, conversation, item, CF_TEXT, XTYP_REQUEST, 1000, nullptr);
        if (reply == nullptr) error = DdeGetLastError(instance);
        DdeFreeStringHandle(instance, item);
      }
      DdeDisconnect(conversation);
    }
    DdeFreeStringHandle(instance, service);
  }

  std::vector<char> groups;
  bool haveCopy = false;
  if (reply != nullptr) {
    DWORD size = 0;
    LPBYTE data = DdeAccessData(reply, &size);
    if (data == nullptr) {
      error = DdeGetLastError(instance);
    } else {
      try {
        groups.assign(data, data + size);
        groups.push_back('\0');
        haveCopy = true;
      } catch (const std::bad_alloc&) {
      }
    }
    DdeUnaccessData(reply);
    DdeFreeDataHandle(reply);
  }

  if (haveCopy) {
    // One group per line. A run of line feeds is one separator; the last
    // carriage return of a line ends its name. A reply with a NUL inside
    // ends there.
    HWND combo = GetDlgItem(groupPageWindow, IDC_GROUP_NAME);
    char* text = groups.data();
    char* end = text + std::strlen(text);
    char* position = text;
    while (position < end) {
      while (position < end && *position == '\n') ++position;
      if (position >= end) break;
      char* lineEnd = std::strchr(position, '\n');
      if (lineEnd == nullptr) lineEnd = end;
      *lineEnd = '\0';
      char* carriageReturn = std::strrchr(position, '\r');
      if (carriageReturn != nullptr) *carriageReturn = '\0';
      SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(position));
      position = lineEnd + 1;
    }
  }

  if (error != 0 && !setupState.quietInstall) {
    char message[32];
    std::snprintf(message, sizeof(message), "DDE Error = %04X", error);
    MessageBoxA(nullptr, message, "Unable to Load Program Groups", MB_ICONEXCLAMATION | MB_SETFOREGROUND);
  }
  DdeUninitialize(instance);
  return 1;
}

int CreateProgramGroup(const char* groupName) { return GroupCommand(groupName, true); }

int DeleteProgramGroup(const char* groupName) { return GroupCommand(groupName, false); }

namespace {

// The item routine behind AddProgramItems and DeleteProgramItems: the two
// item commands in one conversation. Removal first makes the recorded group
// the active one: without it the shell deletes from whatever group it last
// had active, and Wine's server even crashed on a DeleteItem with no active
// group (measured: the transaction timed out and every later command failed).
int ItemCommands(const char* groupName, bool add) {
  if (!add && !IsPlainGroupName(groupName)) {
    AdvanceProgress(20);
    return 0;
  }

  // The short form of the directory needs no quotes even when the long one
  // has blanks. A volume that makes no 8.3 names (the default for other
  // than the system volume since Windows 8) gives back the long form, which
  // then goes in quotes.
  char shortPath[kPathSize] = {};
  const char* directory = setupState.installDir;
  if (add) {
    DWORD length = GetShortPathNameA(setupState.installDir, shortPath, kPathSize);
    if (length > 0 && length < kPathSize) directory = shortPath;
  }

  // Every command is composed before the conversation opens: when memory
  // runs out none of them is sent, rather than a removal that shows the
  // group and then deletes only some of its items.
  std::vector<std::string> commands;
  try {
    if (!add) commands.push_back(FormatProgmanCommand("ShowGroup", groupName, "1"));
    for (const ProgramItem& item : kProgramItems) {
      if (!add) {
        commands.push_back(FormatProgmanCommand("DeleteItem", item.name));
        continue;
      }
      PathBuffer commandLine = {};
      if (!BuildPath(commandLine, directory, item.fileName)) continue;
      commands.push_back(FormatProgmanCommand("AddItem", commandLine, item.name, true));
    }
  } catch (const std::bad_alloc&) {
    AdvanceProgress(20);
    return 0;
  }

  DWORD instance = 0;
  if (!StartDde(instance)) {
    AdvanceProgress(10);
    return 0;
  }
  HCONV conversation = nullptr;
  HSZ service = CreateServiceName(instance);
  if (service != nullptr) {
    conversation = ConnectToShell(instance, service);
    DdeFreeStringHandle(instance, service);
  }
  for (const std::string& command : commands) SendCommand(instance, conversation, command);
  if (conversation == nullptr && add) WriteGroupFolderItems();

  if (conversation != nullptr) DdeDisconnect(conversation);
  DdeUninitialize(instance);
  AdvanceProgress(20);
  return 1;
}

}  // namespace

int AddProgramItems() { return ItemCommands(nullptr, true); }

int DeleteProgramItems(const char* groupName) { return ItemCommands(groupName, false); }
