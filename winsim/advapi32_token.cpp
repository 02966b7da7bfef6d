// ADVAPI32: the process token and its privileges (OpenProcessToken,
// LookupPrivilegeValueA, AdjustTokenPrivileges), apart from the registry.
#include <cstring>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

// ---- Token and privileges --------------------------------------------------------------------------
static const struct {
  const char* name;
  DWORD luid;
} kPrivileges[] = {{"SeCreateTokenPrivilege", 2},  {"SeBackupPrivilege", 17}, {"SeRestorePrivilege", 18},
                   {"SeShutdownPrivilege", 19},    {"SeDebugPrivilege", 20},  {"SeSystemtimePrivilege", 12},
                   {"SeRemoteShutdownPrivilege", 24}};

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
  State& s = S();
  if (auto f = Injected("OpenProcessToken")) return s.lastError = *f, FALSE;
  DWORD err = 0;
  if (!s.IsNT())
    err = ERROR_CALL_NOT_IMPLEMENTED;
  else if (!TokenHandle)
    err = ERROR_NOACCESS;
  else if (ProcessHandle != GetCurrentProcess())
    err = ERROR_INVALID_HANDLE;
  else if (s.owner->faults.openProcessToken)
    err = *s.owner->faults.openProcessToken;
  if (!err) {
    uintptr_t h = s.NewHandle();
    s.tokens[h] = TokenObj{DesiredAccess};
    *TokenHandle = reinterpret_cast<HANDLE>(h);
  }
  s.Log("OpenProcessToken", {Hex(DesiredAccess), Dec(err)});
  s.lastError = err;
  return err ? FALSE : TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
  State& s = S();
  if (auto f = Injected("LookupPrivilegeValueA", lpName)) return s.lastError = *f, FALSE;
  DWORD err = 0;
  DWORD luid = 0;
  if (!s.IsNT()) {
    err = ERROR_CALL_NOT_IMPLEMENTED;
  } else if (s.owner->faults.lookupPrivilegeValue) {
    err = *s.owner->faults.lookupPrivilegeValue;
  } else if (!lpName || !lpLuid) {
    err = ERROR_INVALID_PARAMETER;
  } else {
    err = ERROR_NO_SUCH_PRIVILEGE;
    for (auto& p : kPrivileges)
      if (IEquals(p.name, lpName)) {
        luid = p.luid;
        err = 0;
      }
  }
  if (!err) {
    lpLuid->LowPart = luid;
    lpLuid->HighPart = 0;
  }
  s.Log("LookupPrivilegeValue", {Str(lpSystemName), Str(lpName), Dec(err)});
  s.lastError = err;
  return err ? FALSE : TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
  State& s = S();
  if (auto f = Injected("AdjustTokenPrivileges")) return s.lastError = *f, FALSE;
  (void)BufferLength;
  (void)ReturnLength;
  DWORD err = 0;
  BOOL ok = TRUE;
  std::string privs;
  auto tok = s.tokens.find(reinterpret_cast<uintptr_t>(TokenHandle));
  if (NewState) {
    for (DWORD i = 0; i < NewState->PrivilegeCount && i < 64; ++i) {
      if (!privs.empty()) privs += ",";
      privs += Dec(NewState->Privileges[i].Luid.LowPart) + ":" + Hex(NewState->Privileges[i].Attributes);
    }
  }
  if (!s.IsNT()) {
    err = ERROR_CALL_NOT_IMPLEMENTED;
  } else if (tok == s.tokens.end()) {
    err = ERROR_INVALID_HANDLE;
  } else if (!(tok->second.access & TOKEN_ADJUST_PRIVILEGES) ||
             (PreviousState && !(tok->second.access & TOKEN_QUERY))) {
    err = ERROR_ACCESS_DENIED;
  } else if (!DisableAllPrivileges && !NewState) {
    err = ERROR_INVALID_PARAMETER;
  } else if (s.owner->faults.adjustTokenPrivileges) {
    err = *s.owner->faults.adjustTokenPrivileges;
  }
  if (err) {
    ok = FALSE;
  } else if (s.owner->faults.privilegeNotAssigned) {
    // Succeeds, but the privilege is not held: the last error tells.
    err = ERROR_NOT_ALL_ASSIGNED;
  } else if (DisableAllPrivileges) {
    s.shutdownPrivilege = false;
  } else {
    for (DWORD i = 0; i < NewState->PrivilegeCount && i < 64; ++i)
      if (NewState->Privileges[i].Luid.LowPart == 19 && NewState->Privileges[i].Luid.HighPart == 0)
        s.shutdownPrivilege = (NewState->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
  }
  s.Log("AdjustTokenPrivileges", {DisableAllPrivileges ? "1" : "0", privs, ok ? "1" : "0", Dec(err)});
  // On success the call sets the last error too: 0, or ERROR_NOT_ALL_ASSIGNED.
  s.lastError = err;
  return ok;
}
