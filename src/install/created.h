// The record of the directories an installation created ("Created
// Directories", REG_MULTI_SZ in the product key): the installation adds to
// it, the removal empties and deletes only what it names.
#pragma once

#include "win32.h"

#include "setup/setup.h"

#include <string>
#include <vector>

inline constexpr char kCreatedDirectoriesValue[] = "Created Directories";

// Forgets the directories recorded by an earlier installation of this
// process (tests run many processes in one).
void ClearCreatedDirectories();
// CreateDirectoryA, and on success the path joins the record.
BOOL CreateRecordedDirectory(const char* path);
// Adds a directory this installation made by other means (the shell's
// folder copy).
void RecordCreatedDirectory(const char* path);

// Reads the record of key. False when the value is absent. A value that is
// present but unreadable, or not a well-formed REG_MULTI_SZ of full paths
// that fit, counts as present and empty: nothing then counts as created.
bool ReadCreatedDirectories(HKEY key, std::vector<std::string>& entries);

// Writes the record into the product key: the entries of the record found
// there before (previous), then this installation's, without duplicates.
// An entry that would not fit the record's fixed size is left out. False
// when the value could not be written.
bool WriteCreatedDirectories(HKEY key, const std::vector<std::string>& previous);
