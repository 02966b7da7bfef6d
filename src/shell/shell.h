// Shell integration: Program Manager groups and items through DDE, and the
// desktop shortcut.
#pragma once

#include "win32.h"

#include "setup/setup.h"

#include <string>

// True for a name that is a plain folder name: not empty or blank, not made
// only of dots and blanks (the shell would resolve it to the Start Menu
// folder itself), no control character and none of \ / : * ? " < > |.
// Only such a group gets DDE commands.
bool IsPlainGroupName(const char* name);

// The group's two items, by the Program Manager and in a group folder alike.
struct ProgramItem {
  const char* name;
  const char* fileName;
};
extern const ProgramItem kProgramItems[2];

// Program Manager client. Each opens and closes its own DDE instance and
// conversation. Results: 0 when the DDE library could not be initialised (or
// the command buffers prepared), else 1.
// Fills the Program Group page's combo box with the shell's group names.
int ListProgramGroups();
int CreateProgramGroup(const char* groupName);
int AddProgramItems();
// Removal: the items of the recorded group (made the shell's active group
// first, in the same conversation), then the group itself.
int DeleteProgramItems(const char* groupName);
int DeleteProgramGroup(const char* groupName);
// The group as a folder of the user's Programs folder, for where no Program
// Manager answers: MakeGroupFolder makes it and records it as "Program
// Group Folder", WriteGroupFolderItems then puts the two items' links there
// (nothing when no folder was made), DeleteGroupFolderItems deletes them
// from a recorded folder.
void MakeGroupFolder(const char* groupName);
void WriteGroupFolderItems();
void DeleteGroupFolderItems(const char* folder);

// The command text for one Program Manager command: an argument holding any
// of , ( ) [ ] is sent in double quotes, since the shell's parser ends an
// unquoted argument there. An item's command line (commandLine) is also
// quoted when it holds a blank: a shell that splits the line at its first
// blank would otherwise link "C:\Program" with the rest as arguments.
std::string FormatProgmanCommand(const char* command, const char* first, const char* second = nullptr,
                                 bool commandLine = false);

// Shortcuts.
HRESULT CreateShellLink(const char* target, const char* linkFile, const char* description);
void GetDesktopFolderPath(char* path);
// Records the link it wrote as "Desktop Shortcut".
void CreateDesktopShortcut();
// The link file's full path as installation and removal both find it; false
// when it would not fit.
bool BuildDesktopShortcutPath(char* linkPath);
