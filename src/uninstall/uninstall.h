// Uninstallation: the removal sequence, file removal and registry cleanup.
#pragma once

#include "win32.h"

#include "setup/setup.h"

// Removes the installation recorded in the registry. owner owns the boxes
// that name the product (null for a quiet removal). 1 when the removal ran,
// 0 when no installation was found (an error box has been shown and nothing
// was touched).
int UninstallProduct(HWND owner);
void RestartWindows();

// Deletes the product's fixed program files from directory.
void DeleteProductFiles(const char* directory);
// Deletes every entry of directory (not descending); what cannot be deleted
// is deferred to the next restart, which is then marked as required.
void EmptyDirectory(const char* directory);

void RemoveRegistryEntries();
void DeleteAllSubkeys(HKEY key);

// True when removal must not empty, delete or schedule directory: a drive
// root, the Windows or system directory, Program Files, a user profile root,
// the personal, common documents or desktop folder, an ancestor of any of
// these, or anything that is not a full path.
bool IsProtectedDirectory(const char* directory);
