// Uninstallation: the removal sequence, file removal and registry cleanup.
#pragma once

#include "win32.h"

#include "setup/setup.h"

#include <string>
#include <vector>

// Removes the installation recorded in the registry. owner owns the boxes
// that name the product (null for a quiet removal). 1 when the removal ran,
// 0 when no installation was found (an error box has been shown and nothing
// was touched).
int UninstallProduct(HWND owner);
void RestartWindows();

// Deletes the product's fixed program files from directory.
void DeleteProductFiles(const char* directory);
// In a directory the installation did not create, which is not emptied
// afterwards: each program file DeleteProductFiles could not delete is
// deferred to the next restart (UNINS.EXE, the running removal, apart).
void DeferProductFilesLeft(const char* directory);
// Deletes every entry of directory (not descending); what cannot be deleted
// is deferred to the next restart, which is then marked as required.
void EmptyDirectory(const char* directory);

void RemoveRegistryEntries();
void DeleteAllSubkeys(HKEY key);

// The places the removal keeps for a record that does not say which
// directories the installation created: computed once per removal.
struct ProtectedPlaces;
ProtectedPlaces* LoadProtectedPlaces();
void FreeProtectedPlaces(ProtectedPlaces* places);

// True when removal must not empty, delete or schedule directory: a drive
// root; the Windows directory and everything in it; Program Files, Common
// Files (32- and 64-bit), ProgramData and the all-users profile, the
// profiles directory, a user profile root and every folder directly in it,
// the documents, desktop and application data folders, or an ancestor of
// any of these; another user's profile and everything in it; a path through
// a junction, an administrative share of any computer, another share of
// this computer, a SUBST drive whose target is protected; anything that is
// not a full path.
bool IsProtectedDirectory(const ProtectedPlaces& places, const char* directory);
bool IsProtectedDirectory(const char* directory);

// True when directory is one of the recorded created directories (full
// paths compared without regard to case, long and short forms both tried).
bool IsRecordedDirectory(const std::vector<std::string>& entries, const char* directory);
