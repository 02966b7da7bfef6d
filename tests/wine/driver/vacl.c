/* vacl.exe PATH [PATH...]: prints the DACL of each file or directory as the
 * system reports it through GetFileSecurityA, for the permission checks of
 * the Wine tests. For each path:
 *
 *   PATH <path>
 *   CONTROL <hex SECURITY_DESCRIPTOR_CONTROL> PROTECTED|INHERITS
 *   ACE <type>:<SID string>:<mask hex>:<flags hex>      one line an ACE, in order
 *   END
 *
 * or "ERROR <what> <GetLastError>" in place of the lines it could not get,
 * and "NODACL" for a descriptor without one (everyone may do anything).
 * type is A (allowed), D (denied) or the ACE type's number. */
#include <windows.h>
#include <sddl.h>
#include <stdio.h>
#include <stdlib.h>

static void PrintAce(const ACE_HEADER* header) {
  /* ACCESS_ALLOWED_ACE and ACCESS_DENIED_ACE share their layout: the mask,
   * then the SID from SidStart. */
  const ACCESS_ALLOWED_ACE* ace = (const ACCESS_ALLOWED_ACE*)header;
  char type[8];
  char* sid = NULL;
  if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
    lstrcpynA(type, "A", sizeof type);
  } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
    lstrcpynA(type, "D", sizeof type);
  } else {
    printf("ACE %u:?:?:%02x\n", (unsigned)header->AceType, (unsigned)header->AceFlags);
    return;
  }
  if (!ConvertSidToStringSidA((PSID)&ace->SidStart, &sid)) {
    printf("ACE %s:ERROR%lu:%08lx:%02x\n", type, GetLastError(), (unsigned long)ace->Mask,
           (unsigned)header->AceFlags);
    return;
  }
  printf("ACE %s:%s:%08lx:%02x\n", type, sid, (unsigned long)ace->Mask, (unsigned)header->AceFlags);
  LocalFree(sid);
}

static void PrintDacl(const char* path) {
  DWORD need = 0;
  SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR sd;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = NULL;
  DWORD i;

  printf("PATH %s\n", path);
  GetFileSecurityA(path, what, NULL, 0, &need);
  if (need == 0) {
    printf("ERROR GetFileSecurityA %lu\nEND\n", GetLastError());
    return;
  }
  sd = (PSECURITY_DESCRIPTOR)malloc(need);
  if (!sd) {
    printf("ERROR malloc 0\nEND\n");
    return;
  }
  if (!GetFileSecurityA(path, what, sd, need, &need)) {
    printf("ERROR GetFileSecurityA %lu\nEND\n", GetLastError());
    free(sd);
    return;
  }
  if (GetSecurityDescriptorControl(sd, &control, &revision))
    printf("CONTROL %04x %s\n", (unsigned)control, (control & SE_DACL_PROTECTED) ? "PROTECTED" : "INHERITS");
  else
    printf("ERROR GetSecurityDescriptorControl %lu\n", GetLastError());
  if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted)) {
    printf("ERROR GetSecurityDescriptorDacl %lu\n", GetLastError());
  } else if (!present || !dacl) {
    printf("NODACL\n");
  } else {
    for (i = 0; i < dacl->AceCount; ++i) {
      void* ace = NULL;
      if (GetAce(dacl, i, &ace)) PrintAce((const ACE_HEADER*)ace);
      else printf("ERROR GetAce %lu\n", GetLastError());
    }
  }
  printf("END\n");
  free(sd);
}

int main(int argc, char** argv) {
  int i;
  if (argc < 2) {
    fprintf(stderr, "usage: vacl PATH [PATH...]\n");
    return 2;
  }
  for (i = 1; i < argc; ++i) PrintDacl(argv[i]);
  fflush(stdout);
  return 0;
}
