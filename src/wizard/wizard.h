// The interactive wizard: a five-page wizard property sheet whose pages
// collect the user's choices into the setup state. The work itself runs
// inside the Finish notification while the sheet is still on screen.
#pragma once

#include "win32.h"

#include "setup/setup.h"

// Control and template identifiers, shared with the resource script.
#include "resources/resource.h"

// Wizard-wide handles.
extern HWND sheetWindow;          // the property-sheet frame
extern BOOL sheetNeedsCentring;   // centred once, the first time page 1 shows
extern HWND groupPageWindow;      // page 4, where the group combo box lives
extern HWND agreementControl;     // page 2's rich edit control

// Shows the modal wizard; the result of PropertySheetA (-1 when the sheet
// cannot be created).
INT_PTR RunWizard();
int CALLBACK WizardSheetCallback(HWND window, UINT message, LPARAM lParam);
void CentreWindow(HWND window);

INT_PTR CALLBACK SetupTypePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AgreementPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DirectoriesPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProgramGroupPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK LaunchPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Unpacks the agreement variant for this system into the temporary
// directory and shows it in control 401. 1 when text was shown.
BYTE LoadAgreementText(HWND page);
// The shell's folder picker titled by browseTitle and owned by owner (the
// page); 1 with the path in browseResult, 0 when cancelled.
extern char browseTitle[64];
extern PathBuffer browseResult;
int BrowseForFolder(HWND owner);

// Reset for tests: every wizard-wide variable to its start value.
void ResetWizardState();

// Helpers shared by the pages.
void SetWizardButtons(DWORD buttons);
void SetStepLabel(HWND page, const char* text);
// Stores a notification result and reports the notification as handled.
INT_PTR AnswerNotification(HWND page, LONG_PTR result);
