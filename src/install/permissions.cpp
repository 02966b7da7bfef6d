// The permissions of a per-machine installation directory made outside
// Program Files. Such a directory inherits the permissions of the folder
// it was made in; at a drive root of the NT family these let any local
// user add and change files (Everyone "Change" at C:\ on NT 4.0 and 2000,
// Authenticated Users "Modify" below it from Vista on: see
// docs/windows-x64-and-user-rights.md), so a standard user could replace
// QXFTP.DLL or UNINS.EXE, which an administrator's later removal loads or
// runs elevated. The directory is given what Program Files has:
// Administrators and SYSTEM full control, Users read and execute, passed
// on to everything made inside it, and nothing inherited from its parent.
//
// Only SetFileSecurityA and the descriptor functions of NT 3.1 are needed,
// bound at run time (Windows 95 lacks them all, and the program imports
// nothing NT 4.0 lacks). The ACEs are added with AddAccessAllowedAce and
// given their inheritance flags through GetAce, as on NT 4.0, where
// AddAccessAllowedAceEx does not exist. The protection from the parent
// (SE_DACL_PROTECTED) needs SetSecurityDescriptorControl, which came with
// the automatic inheritance of Windows 2000; NT 4.0 has neither the
// function nor the propagation the flag blocks, so the DACL is set there
// without it. SetNamedSecurityInfoA was not used: it would walk the
// directory's existing contents, and there are none yet. Any call that
// fails leaves the directory as it was; the installation goes on and says
// nothing, as it did before it set permissions at all.
#include "install/install.h"

#include <cstring>

namespace {

typedef BOOL(WINAPI* InitializeSid_fn)(PSID, PSID_IDENTIFIER_AUTHORITY, BYTE);
typedef PDWORD(WINAPI* GetSidSubAuthority_fn)(PSID, DWORD);
typedef BOOL(WINAPI* InitializeAcl_fn)(PACL, DWORD, DWORD);
typedef BOOL(WINAPI* AddAccessAllowedAce_fn)(PACL, DWORD, DWORD, PSID);
typedef BOOL(WINAPI* GetAce_fn)(PACL, DWORD, LPVOID*);
typedef BOOL(WINAPI* InitializeSecurityDescriptor_fn)(PSECURITY_DESCRIPTOR, DWORD);
typedef BOOL(WINAPI* SetSecurityDescriptorDacl_fn)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
typedef BOOL(WINAPI* SetSecurityDescriptorControl_fn)(PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL,
                                                      SECURITY_DESCRIPTOR_CONTROL);
typedef BOOL(WINAPI* SetFileSecurityA_fn)(LPCSTR, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR);

// ---- Where Program Files is ------------------------------------------------------------------------

// Upper case by character, without a trailing backslash: the form in which
// two spellings of one directory compare equal.
bool Canonical(char* path) {
  size_t length = std::strlen(path);
  while (length > 3 && EndsWithBackslash(path)) path[--length] = '\0';
  if (length == 0) return false;
  CharUpperBuffA(path, static_cast<DWORD>(length));
  return true;
}

// The full path of path in canonical form, and its short form when it can
// be had (an 8.3 spelling of either side then still meets the other).
struct Forms {
  PathBuffer full;
  PathBuffer shortForm;
};

bool FormsOf(const char* path, Forms& forms) {
  forms.full[0] = '\0';
  forms.shortForm[0] = '\0';
  char* filePart = nullptr;
  DWORD length = GetFullPathNameA(path, kPathSize, forms.full, &filePart);
  if (length == 0 || length >= kPathSize || !Canonical(forms.full)) {
    forms.full[0] = '\0';
    return false;
  }
  length = GetShortPathNameA(forms.full, forms.shortForm, kPathSize);
  if (length == 0 || length >= kPathSize || !Canonical(forms.shortForm)) forms.shortForm[0] = '\0';
  return true;
}

// dir is folder or lies inside it (both canonical).
bool IsWithin(const char* dir, const char* folder) {
  size_t length = std::strlen(folder);
  if (length == 0 || std::strncmp(dir, folder, length) != 0) return false;
  return dir[length] == '\0' || dir[length] == '\\' || EndsWithBackslash(folder);
}

bool IsWithinFolder(const Forms& dir, const char* folder) {
  if (folder[0] == '\0') return false;
  Forms place;
  if (!FormsOf(folder, place)) return false;
  return IsWithin(dir.full, place.full) || (dir.shortForm[0] != '\0' && IsWithin(dir.shortForm, place.shortForm));
}

// Program Files as the shell names it (the (x86) folder under WOW64), as
// the registry names it (the shell of NT 4.0 does not know the folder),
// and under WOW64 the 64-bit one too (ProgramW6432 from Windows 7, the
// 64-bit registry view before it). A directory in none of them, or one
// where none can be found, is judged outside: the permissions it then gets
// are those of Program Files anyway.
bool IsInsideProgramFiles(const char* dir) {
  Forms target;
  if (!FormsOf(dir, target)) return false;
  PathBuffer folder = {};
  if (GetShellFolderPath(CSIDL_PROGRAM_FILES, folder) == S_OK && IsWithinFolder(target, folder)) return true;
  folder[0] = '\0';
  if (ReadCurrentVersionFolder("ProgramFilesDir", false, folder) && IsWithinFolder(target, folder)) return true;
  if (!RunsUnderWow64()) return false;
  folder[0] = '\0';
  DWORD length = GetEnvironmentVariableA("ProgramW6432", folder, kPathSize);
  if (length > 0 && length < kPathSize && IsWithinFolder(target, folder)) return true;
  folder[0] = '\0';
  return ReadCurrentVersionFolder("ProgramFilesDir", true, folder) && IsWithinFolder(target, folder);
}

// ---- The descriptor ------------------------------------------------------------------------------------

// A SID of the NT authority with at most two sub-authorities (8 bytes of
// header, 4 per sub-authority), DWORD-aligned as the system reads it.
constexpr DWORD kSidHeaderSize = 8;
constexpr DWORD kMaxSubAuthorities = 2;
struct SidBuffer {
  DWORD words[(kSidHeaderSize + 4 * kMaxSubAuthorities) / sizeof(DWORD)];
};

struct Grant {
  BYTE subAuthorityCount;
  DWORD subAuthorities[kMaxSubAuthorities];
  DWORD mask;
};

// What Program Files gives, each passed on to subfolders and files.
constexpr Grant kGrants[] = {
    {2, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS}, FILE_ALL_ACCESS},
    {1, {SECURITY_LOCAL_SYSTEM_RID, 0}, FILE_ALL_ACCESS},
    {2, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE},
};
constexpr int kGrantCount = sizeof(kGrants) / sizeof(kGrants[0]);
constexpr BYTE kPassedOn = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

// The ACL header and, per grant, an access-allowed ACE: its header and
// mask (ACCESS_ALLOWED_ACE without SidStart) and the SID.
constexpr DWORD AclSizeFor() {
  DWORD size = sizeof(ACL);
  for (const Grant& grant : kGrants)
    size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + kSidHeaderSize + 4 * grant.subAuthorityCount;
  return size;
}
constexpr DWORD kAclSize = AclSizeFor();

struct SecurityFunctions {
  InitializeSid_fn initializeSid;
  GetSidSubAuthority_fn getSidSubAuthority;
  InitializeAcl_fn initializeAcl;
  AddAccessAllowedAce_fn addAccessAllowedAce;
  GetAce_fn getAce;
  InitializeSecurityDescriptor_fn initializeSecurityDescriptor;
  SetSecurityDescriptorDacl_fn setSecurityDescriptorDacl;
  SetSecurityDescriptorControl_fn setSecurityDescriptorControl;  // null before Windows 2000
  SetFileSecurityA_fn setFileSecurity;
};

// advapi32 is one of the program's imports, so it is loaded already.
bool BindSecurityFunctions(SecurityFunctions& f) {
  HMODULE advapi = GetModuleHandleA("advapi32.dll");
  if (advapi == nullptr) return false;
  f.initializeSid = GetLibraryFunction<InitializeSid_fn>(advapi, "InitializeSid");
  f.getSidSubAuthority = GetLibraryFunction<GetSidSubAuthority_fn>(advapi, "GetSidSubAuthority");
  f.initializeAcl = GetLibraryFunction<InitializeAcl_fn>(advapi, "InitializeAcl");
  f.addAccessAllowedAce = GetLibraryFunction<AddAccessAllowedAce_fn>(advapi, "AddAccessAllowedAce");
  f.getAce = GetLibraryFunction<GetAce_fn>(advapi, "GetAce");
  f.initializeSecurityDescriptor =
      GetLibraryFunction<InitializeSecurityDescriptor_fn>(advapi, "InitializeSecurityDescriptor");
  f.setSecurityDescriptorDacl = GetLibraryFunction<SetSecurityDescriptorDacl_fn>(advapi, "SetSecurityDescriptorDacl");
  f.setFileSecurity = GetLibraryFunction<SetFileSecurityA_fn>(advapi, "SetFileSecurityA");
  bool complete = f.initializeSid && f.getSidSubAuthority && f.initializeAcl && f.addAccessAllowedAce && f.getAce &&
                  f.initializeSecurityDescriptor && f.setSecurityDescriptorDacl && f.setFileSecurity;
  if (!complete) return false;
  f.setSecurityDescriptorControl =
      GetLibraryFunction<SetSecurityDescriptorControl_fn>(advapi, "SetSecurityDescriptorControl");
  return true;
}

bool MakeSid(const SecurityFunctions& f, const Grant& grant, SidBuffer& sid) {
  SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
  if (!f.initializeSid(sid.words, &ntAuthority, grant.subAuthorityCount)) return false;
  for (DWORD i = 0; i < grant.subAuthorityCount; ++i) {
    PDWORD subAuthority = f.getSidSubAuthority(sid.words, i);
    if (subAuthority == nullptr) return false;
    *subAuthority = grant.subAuthorities[i];
  }
  return true;
}

// The DACL with every grant, or false: a DACL missing one of them (the
// administrators' above all) is never applied.
bool BuildDacl(const SecurityFunctions& f, SidBuffer (&sids)[kGrantCount], PACL acl) {
  if (!f.initializeAcl(acl, kAclSize, ACL_REVISION)) return false;
  for (int i = 0; i < kGrantCount; ++i) {
    if (!MakeSid(f, kGrants[i], sids[i])) return false;
    if (!f.addAccessAllowedAce(acl, ACL_REVISION, kGrants[i].mask, sids[i].words)) return false;
    LPVOID ace = nullptr;
    if (!f.getAce(acl, static_cast<DWORD>(i), &ace) || ace == nullptr) return false;
    static_cast<ACE_HEADER*>(ace)->AceFlags = kPassedOn;
  }
  return true;
}

void ApplyProgramFilesPermissions(const char* dir) {
  SecurityFunctions f = {};
  if (!BindSecurityFunctions(f)) return;
  SidBuffer sids[kGrantCount] = {};
  DWORD aclBuffer[(kAclSize + sizeof(DWORD) - 1) / sizeof(DWORD)] = {};
  PACL acl = reinterpret_cast<PACL>(aclBuffer);
  if (!BuildDacl(f, sids, acl)) return;
  SECURITY_DESCRIPTOR descriptor = {};
  if (!f.initializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)) return;
  if (!f.setSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE)) return;
  // Where the protection cannot be had the DACL still goes on: its own
  // ACEs already replace the parent's, and only a later propagation from
  // the parent (Windows 2000 and later) could add them back.
  if (f.setSecurityDescriptorControl != nullptr)
    f.setSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  f.setFileSecurity(dir, DACL_SECURITY_INFORMATION, &descriptor);
}

}  // namespace

void ProtectInstallationDirectory(const char* dir) {
  // A per-user installation is the user's own; Windows 9x keeps no
  // permissions.
  if (setupState.baseRegistry == 2 || !IsNtFamily()) return;
  if (IsInsideProgramFiles(dir)) return;
  ApplyProgramFilesPermissions(dir);
}
