// Program Manager client over DDE: the shell serves groups and items under
// the service and topic "PROGMAN". Every operation opens its own DDE
// instance and conversation and releases them before it returns.
#include "install/install.h"
#include "shell/shell.h"

#include <cstring>
#include <new>

namespace {

constexpr DWORD kExecuteTimeout = 10000;

struct ProgramItem {
  const char* name;
  const char* fileName;
};

const ProgramItem kProgramItemTable[] = {
    {"VORTAN FTP", "QXFTP.EXE"},
    {"Uninstall VORTAN FTP", "UNINS.EXE"},
};

HDDEDATA CALLBACK DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) { return nullptr; }

CONVCONTEXT ConversationContext() {
  CONVCONTEXT context;
  std::memset(&context, 0, sizeof(context));
  context.cb = sizeof(CONVCONTEXT);
  return context;
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

std::string QuoteArgument(const char* argument) {
  if (std::strpbrk(argument, ",()[]") == nullptr) return argument;
  std::string quoted = "\"";
  quoted.append(argument).append("\"");
  return quoted;
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
    command = create ? FormatProgmanCommand("CreateGroup", groupName)
                     : FormatProgmanCommand("DeleteGroup", groupName);
  } catch (const std::bad_alloc&) {
    AdvanceProgress(10);
    return 0;
  }

  DWORD instance = 0;
  if (DdeInitializeA(&instance, DdeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
    MessageBeep(MB_ICONEXCLAMATION);
    AdvanceProgress(10);
    return 0;
  }
  HSZ service = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
  if (service != nullptr) {
    CONVCONTEXT context = ConversationContext();
    HCONV conversation = DdeConnect(instance, service, service, &context);
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
  for (const char* p = name; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || std::strchr("\\/:*?\"<>|", c) != nullptr) return false;
    if (c != '.' && c != ' ') onlyDotsAndBlanks = false;
  }
  return !onlyDotsAndBlanks;
}

std::string FormatProgmanCommand(const char* command, const char* first, const char* second) {
  std::string text = "[";
  text.append(command).append("(").append(QuoteArgument(first));
  if (second != nullptr) text.append(",").append(QuoteArgument(second));
  text.append(")]");
  return text;
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
  DWORD instance = 0;
  if (DdeInitializeA(&instance, DdeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
    MessageBeep(MB_ICONEXCLAMATION);
    AdvanceProgress(10);
    return 0;
  }
  HCONV conversation = nullptr;
  HSZ service = DdeCreateStringHandleA(instance, "PROGMAN", CP_WINANSI);
  if (service != nullptr) {
    CONVCONTEXT context = ConversationContext();
    conversation = DdeConnect(instance, service, service, &context);
    DdeFreeStringHandle(instance, service);
  }

  try {
    if (!add) SendCommand(instance, conversation, FormatProgmanCommand("ShowGroup", groupName, "1"));
    for (const ProgramItem& item : kProgramItemTable) {
      if (!add) {
        SendCommand(instance, conversation, FormatProgmanCommand("DeleteItem", item.name));
        continue;
      }
      // The short form of the directory needs no quotes even when the long
      // one has blanks.
      PathBuffer commandLine = {};
      char shortPath[kPathSize] = {};
      DWORD length = GetShortPathNameA(setupState.installDir, shortPath, kPathSize);
      const char* directory = length > 0 && length < kPathSize ? shortPath : setupState.installDir;
      if (!CopyText(commandLine, kPathSize, directory) || !JoinPath(commandLine, kPathSize, item.fileName))
        continue;
      SendCommand(instance, conversation, FormatProgmanCommand("AddItem", commandLine, item.name));
    }
  } catch (const std::bad_alloc&) {
  }

  if (conversation != nullptr) DdeDisconnect(conversation);
  DdeUninitialize(instance);
  AdvanceProgress(20);
  return 1;
}

}  // namespace

int AddProgramItems() { return ItemCommands(nullptr, true); }

int DeleteProgramItems(const char* groupName) { return ItemCommands(groupName, false); }
