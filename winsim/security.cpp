// ADVAPI32: security descriptors of files and directories. The program
// builds a descriptor in memory (SIDs, an ACL, an absolute descriptor) and
// gives it to SetFileSecurityA; winsim keeps it on the node in the
// self-relative form GetFileSecurityA returns, and gives new entries of a
// directory the ACEs it passes on, as NTFS does when it creates them.
//
// Layouts are winnt.h's: a SID is Revision, SubAuthorityCount, a 6-byte
// big-endian IdentifierAuthority and 32-bit sub-authorities; an ACL is an
// 8-byte header followed by its ACEs, each an ACE_HEADER whose AceSize
// covers it whole; a self-relative descriptor keeps 32-bit offsets from
// its start where the absolute one keeps pointers.
#include <algorithm>
#include <cstring>

#include "internal.h"

using namespace winsim;
using namespace winsim::detail;

namespace {

constexpr size_t kSidHeader = 8;  // Revision, SubAuthorityCount, IdentifierAuthority
constexpr size_t kAceHeader = 8;  // ACE_HEADER and the Mask of the access ACEs
constexpr size_t kRelativeHeader = sizeof(SECURITY_DESCRIPTOR_RELATIVE);

// The control bits SetSecurityDescriptorControl may change (the automatic
// inheritance bits of Windows 2000); any other bit of interest is refused.
constexpr WORD kSettableControl = SE_DACL_AUTO_INHERIT_REQ | SE_SACL_AUTO_INHERIT_REQ | SE_DACL_AUTO_INHERITED |
                                  SE_SACL_AUTO_INHERITED | SE_DACL_PROTECTED | SE_SACL_PROTECTED;

WORD ReadWord(const uint8_t* p) { return static_cast<WORD>(p[0] | (p[1] << 8)); }
DWORD ReadDword(const uint8_t* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
         (static_cast<DWORD>(p[3]) << 24);
}
void WriteWord(uint8_t* p, WORD v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void WriteDword(uint8_t* p, DWORD v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// ---- SIDs ---------------------------------------------------------------------------------------------
bool SidValid(const void* sid) {
  if (!sid) return false;
  auto* p = static_cast<const uint8_t*>(sid);
  return p[0] == SID_REVISION && p[1] <= SID_MAX_SUB_AUTHORITIES;
}

size_t SidLength(const void* sid) { return kSidHeader + 4u * static_cast<const uint8_t*>(sid)[1]; }

// "S-1-5-32-544": the authority in decimal below 2^32, as Windows writes it.
std::string SidText(const uint8_t* p) {
  uint64_t authority = 0;
  for (int i = 0; i < 6; ++i) authority = (authority << 8) | p[2 + i];
  std::string text = "S-" + Dec(p[0]) + "-" + (authority < (1ull << 32) ? Dec(static_cast<int64_t>(authority))
                                                                         : Hex(authority));
  for (int i = 0; i < p[1]; ++i) text += "-" + Dec(ReadDword(p + kSidHeader + 4 * i));
  return text;
}

// ---- ACLs --------------------------------------------------------------------------------------------
// The bytes an ACL's ACEs use (header included), or 0 when it is not well
// formed: a known revision, a size that holds the header, and ACEs that
// each fit inside AclSize.
size_t AclUsed(const uint8_t* acl) {
  if (!acl) return 0;
  BYTE revision = acl[0];
  WORD size = ReadWord(acl + 2);
  WORD count = ReadWord(acl + 4);
  if (revision < ACL_REVISION || revision > ACL_REVISION_DS || size < sizeof(ACL)) return 0;
  size_t at = sizeof(ACL);
  for (WORD i = 0; i < count; ++i) {
    if (at + 4 > size) return 0;
    WORD aceSize = ReadWord(acl + at + 2);
    if (aceSize < 4 || at + aceSize > size) return 0;
    at += aceSize;
  }
  return at;
}

struct Ace {
  BYTE type = 0;
  BYTE flags = 0;
  DWORD mask = 0;
  std::vector<uint8_t> sid;
};

// The access ACEs (allowed and denied) of a well-formed ACL; other types
// are kept with their mask and SID alike, as their layouts begin the same.
std::vector<Ace> AcesOf(const uint8_t* acl) {
  std::vector<Ace> aces;
  if (!AclUsed(acl)) return aces;
  size_t at = sizeof(ACL);
  for (WORD i = 0; i < ReadWord(acl + 4); ++i) {
    const uint8_t* a = acl + at;
    WORD aceSize = ReadWord(a + 2);
    Ace ace;
    ace.type = a[0];
    ace.flags = a[1];
    if (aceSize >= kAceHeader + kSidHeader) {
      ace.mask = ReadDword(a + 4);
      size_t sidLength = std::min<size_t>(SidLength(a + kAceHeader), aceSize - kAceHeader);
      ace.sid.assign(a + kAceHeader, a + kAceHeader + sidLength);
    }
    aces.push_back(std::move(ace));
    at += aceSize;
  }
  return aces;
}

std::vector<uint8_t> AclBytes(const std::vector<Ace>& aces) {
  size_t size = sizeof(ACL);
  for (const Ace& a : aces) size += kAceHeader + a.sid.size();
  std::vector<uint8_t> acl(size, 0);
  acl[0] = ACL_REVISION;
  WriteWord(acl.data() + 2, static_cast<WORD>(size));
  WriteWord(acl.data() + 4, static_cast<WORD>(aces.size()));
  size_t at = sizeof(ACL);
  for (const Ace& a : aces) {
    acl[at] = a.type;
    acl[at + 1] = a.flags;
    WriteWord(acl.data() + at + 2, static_cast<WORD>(kAceHeader + a.sid.size()));
    WriteDword(acl.data() + at + 4, a.mask);
    std::memcpy(acl.data() + at + kAceHeader, a.sid.data(), a.sid.size());
    at += kAceHeader + a.sid.size();
  }
  return acl;
}

std::string AclText(const std::vector<Ace>& aces) {
  std::string text;
  for (const Ace& a : aces) {
    if (!text.empty()) text += "|";
    if (a.type == ACCESS_DENIED_ACE_TYPE) text += "deny ";
    if (a.type != ACCESS_DENIED_ACE_TYPE && a.type != ACCESS_ALLOWED_ACE_TYPE) text += "type " + Dec(a.type) + " ";
    text += (a.sid.empty() ? std::string("?") : SidText(a.sid.data())) + ":" + Hex(a.mask) + ":" + Hex(a.flags);
  }
  return text;
}

// ---- Descriptors ------------------------------------------------------------------------------------------
// The parts of a descriptor in either form.
struct Parts {
  WORD control = 0;
  const uint8_t* owner = nullptr;
  const uint8_t* group = nullptr;
  const uint8_t* dacl = nullptr;
};

bool ReadParts(const void* descriptor, Parts& parts) {
  if (!descriptor) return false;
  auto* base = static_cast<const uint8_t*>(descriptor);
  if (base[0] != SECURITY_DESCRIPTOR_REVISION) return false;
  parts.control = ReadWord(base + 2);
  if (parts.control & SE_SELF_RELATIVE) {
    auto at = [&](size_t field) -> const uint8_t* {
      DWORD offset = ReadDword(base + field);
      return offset ? base + offset : nullptr;
    };
    parts.owner = at(4);
    parts.group = at(8);
    parts.dacl = (parts.control & SE_DACL_PRESENT) ? at(16) : nullptr;
  } else {
    auto* sd = static_cast<const SECURITY_DESCRIPTOR*>(descriptor);
    parts.owner = static_cast<const uint8_t*>(sd->Owner);
    parts.group = static_cast<const uint8_t*>(sd->Group);
    parts.dacl = (parts.control & SE_DACL_PRESENT) ? reinterpret_cast<const uint8_t*>(sd->Dacl) : nullptr;
  }
  return true;
}

// A self-relative descriptor of these parts: header, owner, group, DACL.
std::vector<uint8_t> SelfRelative(WORD control, const std::vector<uint8_t>& owner, const std::vector<uint8_t>& group,
                                  const std::vector<uint8_t>* dacl) {
  std::vector<uint8_t> sd(kRelativeHeader, 0);
  sd[0] = SECURITY_DESCRIPTOR_REVISION;
  control = static_cast<WORD>((control | SE_SELF_RELATIVE) & ~(SE_DACL_PRESENT | SE_SACL_PRESENT));
  auto append = [&](const std::vector<uint8_t>& bytes, size_t field) {
    if (bytes.empty()) return;
    WriteDword(sd.data() + field, static_cast<DWORD>(sd.size()));
    sd.insert(sd.end(), bytes.begin(), bytes.end());
  };
  append(owner, 4);
  append(group, 8);
  if (dacl) {
    control |= SE_DACL_PRESENT;
    append(*dacl, 16);
  }
  WriteWord(sd.data() + 2, control);
  return sd;
}

bool Win2000OrLater(const State& s) { return s.IsNT() && s.major >= 5; }

// File access rights as the generic rights of an inherited ACE become
// them: FILE_GENERIC_READ and the rest, the file objects' generic mapping.
DWORD MapGeneric(DWORD mask) {
  DWORD mapped = mask & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
  if (mask & GENERIC_READ) mapped |= FILE_GENERIC_READ;
  if (mask & GENERIC_WRITE) mapped |= FILE_GENERIC_WRITE;
  if (mask & GENERIC_EXECUTE) mapped |= FILE_GENERIC_EXECUTE;
  if (mask & GENERIC_ALL) mapped |= FILE_ALL_ACCESS;
  return mapped;
}

// ---- The functions ------------------------------------------------------------------------------------------
BOOL WINAPI Sim_InitializeSid(PSID Sid, PSID_IDENTIFIER_AUTHORITY IdentifierAuthority, BYTE nSubAuthorityCount) {
  State& s = S();
  if (auto f = Injected("InitializeSid")) return Fail(s, *f);
  if (!Sid || !IdentifierAuthority) return Fail(s, ERROR_NOACCESS);
  if (nSubAuthorityCount > SID_MAX_SUB_AUTHORITIES) return Fail(s, ERROR_INVALID_PARAMETER);
  auto* p = static_cast<uint8_t*>(Sid);
  p[0] = SID_REVISION;
  p[1] = nSubAuthorityCount;
  std::memcpy(p + 2, IdentifierAuthority->Value, 6);
  s.lastError = 0;
  return TRUE;
}

// No failure of its own: an index past the count gives a pointer past the
// SID, as on Windows.
PDWORD WINAPI Sim_GetSidSubAuthority(PSID pSid, DWORD nSubAuthority) {
  S().lastError = 0;
  return reinterpret_cast<PDWORD>(static_cast<uint8_t*>(pSid) + kSidHeader + 4 * nSubAuthority);
}

DWORD WINAPI Sim_GetSidLengthRequired(BYTE nSubAuthorityCount) {
  return static_cast<DWORD>(kSidHeader + 4u * nSubAuthorityCount);
}

DWORD WINAPI Sim_GetLengthSid(PSID pSid) {
  return SidValid(pSid) ? static_cast<DWORD>(SidLength(pSid)) : 0;
}

BOOL WINAPI Sim_IsValidSid(PSID pSid) { return SidValid(pSid) ? TRUE : FALSE; }

BOOL WINAPI Sim_InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
  State& s = S();
  if (auto f = Injected("InitializeAcl")) return Fail(s, *f);
  if (!pAcl) return Fail(s, ERROR_NOACCESS);
  if (nAclLength < sizeof(ACL)) return Fail(s, ERROR_INSUFFICIENT_BUFFER);
  if (nAclLength > 0xFFFF || (dwAclRevision != ACL_REVISION && dwAclRevision != ACL_REVISION_DS))
    return Fail(s, ERROR_INVALID_PARAMETER);
  pAcl->AclRevision = static_cast<BYTE>(dwAclRevision);
  pAcl->Sbz1 = 0;
  // The size is kept as a multiple of four, as RtlCreateAcl rounds it down.
  pAcl->AclSize = static_cast<WORD>(nAclLength & ~3u);
  pAcl->AceCount = 0;
  pAcl->Sbz2 = 0;
  s.lastError = 0;
  return TRUE;
}

BOOL AddAccessAce(const char* function, PACL pAcl, DWORD dwAceRevision, DWORD AceFlags, DWORD AccessMask, PSID pSid) {
  State& s = S();
  if (auto f = Injected(function)) return Fail(s, *f);
  auto* acl = reinterpret_cast<uint8_t*>(pAcl);
  size_t used = AclUsed(acl);
  if (!used) return Fail(s, ERROR_INVALID_ACL);
  if (!SidValid(pSid)) return Fail(s, ERROR_INVALID_SID);
  if (AceFlags & ~static_cast<DWORD>(VALID_INHERIT_FLAGS)) return Fail(s, ERROR_INVALID_FLAGS);
  if (dwAceRevision < ACL_REVISION || dwAceRevision > ACL_REVISION_DS) return Fail(s, ERROR_REVISION_MISMATCH);
  size_t aceSize = kAceHeader + SidLength(pSid);
  if (used + aceSize > pAcl->AclSize) return Fail(s, ERROR_ALLOTTED_SPACE_EXCEEDED);
  uint8_t* a = acl + used;
  a[0] = ACCESS_ALLOWED_ACE_TYPE;
  a[1] = static_cast<BYTE>(AceFlags);
  WriteWord(a + 2, static_cast<WORD>(aceSize));
  WriteDword(a + 4, AccessMask);
  std::memcpy(a + kAceHeader, pSid, SidLength(pSid));
  pAcl->AceCount = static_cast<WORD>(pAcl->AceCount + 1);
  if (dwAceRevision > pAcl->AclRevision) pAcl->AclRevision = static_cast<BYTE>(dwAceRevision);
  s.lastError = 0;
  return TRUE;
}

// "The ACE_HEADER structure placed in the ACE by the AddAccessAllowedAce
// function specifies a type and size, but provides no inheritance and no
// ACE flags."
BOOL WINAPI Sim_AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid) {
  return AddAccessAce("AddAccessAllowedAce", pAcl, dwAceRevision, 0, AccessMask, pSid);
}

BOOL WINAPI Sim_AddAccessAllowedAceEx(PACL pAcl, DWORD dwAceRevision, DWORD AceFlags, DWORD AccessMask, PSID pSid) {
  return AddAccessAce("AddAccessAllowedAceEx", pAcl, dwAceRevision, AceFlags, AccessMask, pSid);
}

BOOL WINAPI Sim_GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
  State& s = S();
  if (auto f = Injected("GetAce")) return Fail(s, *f);
  auto* acl = reinterpret_cast<uint8_t*>(pAcl);
  if (!AclUsed(acl) || !pAce || dwAceIndex >= pAcl->AceCount) return Fail(s, ERROR_INVALID_PARAMETER);
  size_t at = sizeof(ACL);
  for (DWORD i = 0; i < dwAceIndex; ++i) at += ReadWord(acl + at + 2);
  *pAce = acl + at;
  s.lastError = 0;
  return TRUE;
}

BOOL WINAPI Sim_InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD dwRevision) {
  State& s = S();
  if (auto f = Injected("InitializeSecurityDescriptor")) return Fail(s, *f);
  if (!pSecurityDescriptor) return Fail(s, ERROR_NOACCESS);
  if (dwRevision != SECURITY_DESCRIPTOR_REVISION) return Fail(s, ERROR_UNKNOWN_REVISION);
  std::memset(pSecurityDescriptor, 0, sizeof(SECURITY_DESCRIPTOR));
  static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor)->Revision = SECURITY_DESCRIPTOR_REVISION;
  s.lastError = 0;
  return TRUE;
}

BOOL WINAPI Sim_SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent, PACL pDacl,
                                          BOOL bDaclDefaulted) {
  State& s = S();
  if (auto f = Injected("SetSecurityDescriptorDacl")) return Fail(s, *f);
  auto* sd = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
  if (!sd) return Fail(s, ERROR_NOACCESS);
  if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) return Fail(s, ERROR_UNKNOWN_REVISION);
  // Only the absolute form holds pointers that can be set.
  if (sd->Control & SE_SELF_RELATIVE) return Fail(s, ERROR_INVALID_SECURITY_DESCR);
  sd->Control = static_cast<WORD>(sd->Control & ~(SE_DACL_PRESENT | SE_DACL_DEFAULTED));
  sd->Dacl = nullptr;
  if (bDaclPresent) {
    sd->Control |= SE_DACL_PRESENT;
    if (bDaclDefaulted) sd->Control |= SE_DACL_DEFAULTED;
    sd->Dacl = pDacl;
  }
  s.lastError = 0;
  return TRUE;
}

BOOL WINAPI Sim_SetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                             SECURITY_DESCRIPTOR_CONTROL ControlBitsOfInterest,
                                             SECURITY_DESCRIPTOR_CONTROL ControlBitsToSet) {
  State& s = S();
  if (auto f = Injected("SetSecurityDescriptorControl")) return Fail(s, *f);
  auto* sd = static_cast<uint8_t*>(pSecurityDescriptor);
  if (!sd) return Fail(s, ERROR_NOACCESS);
  if (sd[0] != SECURITY_DESCRIPTOR_REVISION) return Fail(s, ERROR_UNKNOWN_REVISION);
  if ((ControlBitsOfInterest | ControlBitsToSet) & ~kSettableControl) return Fail(s, ERROR_INVALID_PARAMETER);
  WORD control = ReadWord(sd + 2);
  control = static_cast<WORD>((control & ~ControlBitsOfInterest) | (ControlBitsToSet & ControlBitsOfInterest));
  WriteWord(sd + 2, control);
  s.lastError = 0;
  return TRUE;
}

BOOL WINAPI Sim_GetSecurityDescriptorControl(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                             PSECURITY_DESCRIPTOR_CONTROL pControl, LPDWORD lpdwRevision) {
  State& s = S();
  auto* sd = static_cast<const uint8_t*>(pSecurityDescriptor);
  if (!sd || !pControl || !lpdwRevision) return Fail(s, ERROR_NOACCESS);
  *lpdwRevision = sd[0];
  if (sd[0] != SECURITY_DESCRIPTOR_REVISION) return Fail(s, ERROR_UNKNOWN_REVISION);
  *pControl = ReadWord(sd + 2);
  s.lastError = 0;
  return TRUE;
}

BOOL WINAPI Sim_GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, LPBOOL lpbDaclPresent,
                                          PACL* pDacl, LPBOOL lpbDaclDefaulted) {
  State& s = S();
  Parts parts;
  if (!lpbDaclPresent || !pDacl || !lpbDaclDefaulted) return Fail(s, ERROR_NOACCESS);
  if (!ReadParts(pSecurityDescriptor, parts)) return Fail(s, ERROR_UNKNOWN_REVISION);
  *lpbDaclPresent = (parts.control & SE_DACL_PRESENT) ? TRUE : FALSE;
  *pDacl = reinterpret_cast<PACL>(const_cast<uint8_t*>(parts.dacl));
  *lpbDaclDefaulted = (parts.control & SE_DACL_DEFAULTED) ? TRUE : FALSE;
  s.lastError = 0;
  return TRUE;
}

// The node a file security call names, with the error Windows gives.
NodePtr SecurityTarget(State& s, LPCSTR path, DWORD& e) {
  PathParts p;
  e = s.Resolve(path, p);
  return e ? nullptr : s.Lookup(p, &e);
}

BOOL WINAPI Sim_SetFileSecurityA(LPCSTR lpFileName, SECURITY_INFORMATION SecurityInformation,
                                 PSECURITY_DESCRIPTOR pSecurityDescriptor) {
  State& s = S();
  if (auto f = Injected("SetFileSecurityA", lpFileName)) return Fail(s, *f);
  DWORD e = 0;
  NodePtr n = SecurityTarget(s, lpFileName, e);
  Parts given;
  std::vector<Ace> aces;
  if (n && !ReadParts(pSecurityDescriptor, given)) e = ERROR_INVALID_SECURITY_DESCR;
  // A SACL needs SeSecurityPrivilege, which the program never enables.
  if (n && !e && (SecurityInformation & SACL_SECURITY_INFORMATION)) e = ERROR_PRIVILEGE_NOT_HELD;
  if (n && !e && (SecurityInformation & DACL_SECURITY_INFORMATION) && given.dacl) {
    if (!AclUsed(given.dacl)) e = ERROR_INVALID_ACL;
    aces = AcesOf(given.dacl);
  }
  // Changing a descriptor is a change of the entry: a standard user may
  // not make it in the places users.cpp keeps from them.
  if (n && !e) e = s.MayChange(n.get());
  if (n && !e) {
    Parts old;
    bool had = !n->security.empty() && ReadParts(n->security.data(), old);
    auto sidOf = [](const uint8_t* sid) {
      return sid && SidValid(sid) ? std::vector<uint8_t>(sid, sid + SidLength(sid)) : std::vector<uint8_t>();
    };
    std::vector<uint8_t> owner = sidOf((SecurityInformation & OWNER_SECURITY_INFORMATION) ? given.owner
                                       : had                                             ? old.owner
                                                                                         : nullptr);
    std::vector<uint8_t> group = sidOf((SecurityInformation & GROUP_SECURITY_INFORMATION) ? given.group
                                       : had                                             ? old.group
                                                                                         : nullptr);
    WORD control = had ? old.control : 0;
    std::vector<uint8_t> dacl;
    bool daclPresent = had && (old.control & SE_DACL_PRESENT);
    if (daclPresent && old.dacl) dacl.assign(old.dacl, old.dacl + ReadWord(old.dacl + 2));
    if (SecurityInformation & DACL_SECURITY_INFORMATION) {
      daclPresent = (given.control & SE_DACL_PRESENT) != 0;
      dacl = daclPresent && given.dacl ? AclBytes(aces) : std::vector<uint8_t>();
      // NT 4.0 knows no protected or automatically inherited DACL: its
      // inheritance happens only when an entry is created. From Windows
      // 2000 the protection comes with the descriptor or with
      // PROTECTED_DACL_SECURITY_INFORMATION.
      control = static_cast<WORD>(control & ~(SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED | SE_DACL_DEFAULTED));
      if (Win2000OrLater(s)) {
        bool protect = (given.control & SE_DACL_PROTECTED) ||
                       (SecurityInformation & PROTECTED_DACL_SECURITY_INFORMATION);
        if (SecurityInformation & UNPROTECTED_DACL_SECURITY_INFORMATION) protect = false;
        if (protect) control |= SE_DACL_PROTECTED;
        control |= given.control & SE_DACL_AUTO_INHERITED;
      }
    }
    n->security = SelfRelative(control, owner, group, daclPresent ? &dacl : nullptr);
  }
  WORD shownControl = given.control;
  s.Log("SetFileSecurity", {Str(lpFileName), Hex(SecurityInformation), Hex(shownControl), AclText(aces), Dec(e)});
  return e ? Fail(s, e) : (s.lastError = 0, TRUE);
}

BOOL WINAPI Sim_GetFileSecurityA(LPCSTR lpFileName, SECURITY_INFORMATION RequestedInformation,
                                 PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength, LPDWORD lpnLengthNeeded) {
  State& s = S();
  if (auto f = Injected("GetFileSecurityA", lpFileName)) return Fail(s, *f);
  DWORD e = 0;
  NodePtr n = SecurityTarget(s, lpFileName, e);
  if (n && !lpnLengthNeeded) e = ERROR_NOACCESS;
  if (n && !e && (RequestedInformation & SACL_SECURITY_INFORMATION)) e = ERROR_PRIVILEGE_NOT_HELD;
  std::vector<uint8_t> answer;
  if (n && !e) {
    // An entry without a descriptor of its own answers with no DACL: what
    // a fresh machine's folders hold is not modelled.
    Parts parts;
    bool has = !n->security.empty() && ReadParts(n->security.data(), parts);
    auto sidOf = [](const uint8_t* sid) {
      return sid ? std::vector<uint8_t>(sid, sid + SidLength(sid)) : std::vector<uint8_t>();
    };
    std::vector<uint8_t> owner, group, dacl;
    bool daclShown = false;
    WORD control = 0;
    if (has) {
      if (RequestedInformation & OWNER_SECURITY_INFORMATION) owner = sidOf(parts.owner);
      if (RequestedInformation & GROUP_SECURITY_INFORMATION) group = sidOf(parts.group);
      if (RequestedInformation & DACL_SECURITY_INFORMATION) {
        control = static_cast<WORD>(parts.control & (SE_DACL_PROTECTED | SE_DACL_AUTO_INHERITED));
        daclShown = (parts.control & SE_DACL_PRESENT) != 0;
        if (daclShown && parts.dacl) dacl.assign(parts.dacl, parts.dacl + ReadWord(parts.dacl + 2));
      }
    }
    answer = SelfRelative(control, owner, group, daclShown ? &dacl : nullptr);
    *lpnLengthNeeded = static_cast<DWORD>(answer.size());
    if (nLength < answer.size() || !pSecurityDescriptor)
      e = ERROR_INSUFFICIENT_BUFFER;
    else
      std::memcpy(pSecurityDescriptor, answer.data(), answer.size());
  }
  s.Log("GetFileSecurity", {Str(lpFileName), Hex(RequestedInformation), Dec(nLength), Dec(e)});
  return e ? Fail(s, e) : (s.lastError = 0, TRUE);
}

template <typename F>
FARPROC AsFarproc(F* f) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(f));
}

}  // namespace

namespace winsim::detail {

FARPROC SecurityExport(const State& s, const std::string& name) {
  // None on Windows 9x ("Windows: Unsupported" in the pages of the NT 4.0
  // era); the inheritance functions from Windows 2000.
  if (!s.IsNT()) return nullptr;
  static const struct {
    const char* name;
    FARPROC proc;
    bool from2000;
  } kExports[] = {
      {"InitializeSid", AsFarproc(&Sim_InitializeSid), false},
      {"GetSidSubAuthority", AsFarproc(&Sim_GetSidSubAuthority), false},
      {"GetSidLengthRequired", AsFarproc(&Sim_GetSidLengthRequired), false},
      {"GetLengthSid", AsFarproc(&Sim_GetLengthSid), false},
      {"IsValidSid", AsFarproc(&Sim_IsValidSid), false},
      {"InitializeAcl", AsFarproc(&Sim_InitializeAcl), false},
      {"AddAccessAllowedAce", AsFarproc(&Sim_AddAccessAllowedAce), false},
      {"AddAccessAllowedAceEx", AsFarproc(&Sim_AddAccessAllowedAceEx), true},
      {"GetAce", AsFarproc(&Sim_GetAce), false},
      {"InitializeSecurityDescriptor", AsFarproc(&Sim_InitializeSecurityDescriptor), false},
      {"SetSecurityDescriptorDacl", AsFarproc(&Sim_SetSecurityDescriptorDacl), false},
      {"GetSecurityDescriptorDacl", AsFarproc(&Sim_GetSecurityDescriptorDacl), false},
      {"GetSecurityDescriptorControl", AsFarproc(&Sim_GetSecurityDescriptorControl), false},
      {"SetSecurityDescriptorControl", AsFarproc(&Sim_SetSecurityDescriptorControl), true},
      {"SetFileSecurityA", AsFarproc(&Sim_SetFileSecurityA), false},
      {"GetFileSecurityA", AsFarproc(&Sim_GetFileSecurityA), false},
  };
  for (const auto& e : kExports) {
    if (name != e.name) continue;
    if (e.from2000 && !Win2000OrLater(s)) return nullptr;
    return e.proc;
  }
  return nullptr;
}

// What NTFS gives a new entry of dir: the ACEs of dir's DACL that pass to
// it (OBJECT_INHERIT_ACE to files, CONTAINER_INHERIT_ACE to directories,
// OBJECT_INHERIT_ACE alone to a directory as inherit-only, so that its own
// files get it), generic rights mapped in the ACE that applies, marked
// INHERITED_ACE from Windows 2000. NO_PROPAGATE_INHERIT_ACE stops at the
// child. An entry that inherits nothing keeps no descriptor (the creator's
// default DACL is not modelled), nor is CREATOR OWNER replaced.
void InheritSecurity(const State& s, const FsNode& dir, FsNode& child) {
  if (dir.security.empty()) return;
  Parts parts;
  if (!ReadParts(dir.security.data(), parts) || !parts.dacl) return;
  BYTE inherited = Win2000OrLater(s) ? INHERITED_ACE : 0;
  std::vector<Ace> passed;
  for (const Ace& ace : AcesOf(parts.dacl)) {
    bool objectInherit = ace.flags & OBJECT_INHERIT_ACE;
    bool containerInherit = ace.flags & CONTAINER_INHERIT_ACE;
    bool noPropagate = ace.flags & NO_PROPAGATE_INHERIT_ACE;
    Ace effective = ace;
    effective.mask = MapGeneric(ace.mask);
    if (!child.isDir) {
      if (!objectInherit) continue;
      effective.flags = inherited;
      passed.push_back(effective);
      continue;
    }
    if (containerInherit) {
      if (noPropagate) {
        effective.flags = inherited;
        passed.push_back(effective);
      } else if (effective.mask != ace.mask) {
        // Generic rights: one ACE that applies, mapped, and one that passes
        // them on unmapped.
        effective.flags = inherited;
        passed.push_back(effective);
        Ace onward = ace;
        onward.flags = static_cast<BYTE>((ace.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) |
                                         INHERIT_ONLY_ACE | inherited);
        passed.push_back(onward);
      } else {
        effective.flags = static_cast<BYTE>((ace.flags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE)) | inherited);
        passed.push_back(effective);
      }
    } else if (objectInherit && !noPropagate) {
      Ace onward = ace;
      onward.flags = static_cast<BYTE>(OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE | inherited);
      passed.push_back(onward);
    }
  }
  if (passed.empty()) return;
  // The owner is the creator's, which winsim does not model: none is kept.
  std::vector<uint8_t> dacl = AclBytes(passed);
  WORD control = Win2000OrLater(s) ? SE_DACL_AUTO_INHERITED : 0;
  child.security = SelfRelative(control, {}, {}, &dacl);
}

}  // namespace winsim::detail

namespace winsim {

std::optional<FileSecurity> Machine::Security(const std::string& path) const {
  const State& s = state();
  NodePtr n = s.Lookup(s.ResolveOrDie(path));
  if (!n) throw UsageError("Security: no such file or directory: " + path);
  Parts parts;
  if (n->security.empty() || !ReadParts(n->security.data(), parts)) return std::nullopt;
  FileSecurity security;
  security.control = parts.control;
  security.daclPresent = (parts.control & SE_DACL_PRESENT) != 0;
  for (const Ace& ace : AcesOf(parts.dacl))
    security.dacl.push_back(AccessEntry{ace.sid.empty() ? "" : SidText(ace.sid.data()), ace.type, ace.flags, ace.mask});
  return security;
}

}  // namespace winsim
