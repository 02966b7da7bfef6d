// Installation engine: the installation sequence and its progress bar, the
// payload, restart-time file operations, the registry records and the file
// type association.
#pragma once

#include "win32.h"

#include "setup/setup.h"

// Runs the whole installation. parent is the wizard's last page, or null for
// a quiet installation (then no progress bar is shown). Always true: the
// wizard closes after an installation whether it succeeded or not.
bool InstallProduct(HWND parent);

// The installation's progress bar, which the sequence creates and the
// sequence, the payload and the Program Manager client advance; null while
// none exists, and then AdvanceProgress does nothing.
extern HWND progressWindow;
void CreateProgressWindow(HWND parent, int maximum);
void AdvanceProgress(int count);

// Gives an installation directory this installation has just made the
// permissions of Program Files (administrators and SYSTEM full control,
// users read and execute, inherited by all it will hold), when the
// installation is per-machine, the system of the NT family and the
// directory outside Program Files; otherwise, or when the system refuses,
// nothing happens.
void ProtectInstallationDirectory(const char* dir);

// Payload: true when the four program files and the server DLL were
// installed (the DLL possibly as a replacement at the next restart).
bool InstallPayload();
void CopySourceEntry(DWORD attributes, const char* name);
UINT CALLBACK CertificateCabinetCallback(PVOID context, UINT notification, UINT_PTR param1, UINT_PTR param2);
// Silent shell copy or delete; from and to are double-NUL-terminated lists.
void ShellFileOperation(const char* from, const char* to, UINT operation);

// Where the certificates go; the cabinet callback reads it because the
// cabinet iteration carries no context.
extern PathBuffer certificatesDir;

// Restart-time operations. True when the system took the deletion; only
// then does markRestart make the restart required. A refused deletion of a
// path that still exists is kept as left over for the removal's final box.
bool ScheduleDeleteAtRestart(const char* path, bool markRestart);
void ForgetLeftOver();
int LeftOverCount();
const char* LeftOverPath(int index);
// True when more was left over than LeftOverPath can name.
bool LeftOverUnnamed();
// False when the system refuses the replacement (a user without the right
// to the restart list).
bool ScheduleReplaceAtRestart(const char* newFile, const char* oldFile);

// Registry records.
void WriteSettingsKeys();
void WriteAboutAndSupportKeys();
void RegisterFileType();
// Records in the product key one place the installation used ("Uninstall
// Entry", "File Type", "Desktop Shortcut", "Program Group Folder"), for the
// removal; nothing when the key cannot be opened. WriteSettingsKeys first
// clears what an earlier installation recorded of them. False when the
// value could not be written.
bool RecordPlace(const char* name, const char* value);
