// Identifiers of the setup program's resources: dialog templates, their
// controls and the icons. Shared by the resource script and the code.
#pragma once

#define IDD_SETUP_TYPE 1001
#define IDD_AGREEMENT 1002
#define IDD_DIRECTORIES 1003
#define IDD_PROGRAM_GROUP 1004
#define IDD_LAUNCH 1005

#define IDI_SETUP_16 2001
#define IDI_SETUP_256 2002

#define IDC_INSTRUCTION 212
#define IDC_STEP_LABEL 227

#define IDC_INSTALL 218
#define IDC_UNINSTALL 221
#define IDC_INSTALL_TEXT 222
#define IDC_UNINSTALL_TEXT 225

#define IDC_AGREEMENT 401
#define IDC_AGREEMENT_FRAME 402
#define IDC_AGREE_YES 244
#define IDC_AGREE_NO 245

#define IDC_INSTALL_DIR 203
#define IDC_BROWSE_INSTALL 204
#define IDC_INSTALL_DIR_LABEL 230
#define IDC_WORKING_DIR_LABEL 239
#define IDC_WORKING_DIR 240
#define IDC_BROWSE_WORKING 241
#define IDC_USE_PERSONAL 242
#define IDC_USE_COMMON 246

#define IDC_USE_GROUP 207
#define IDC_GROUP_NAME 208
#define IDC_DESKTOP_SHORTCUT 232

#define IDC_LAUNCH_HELP 646
#define IDC_LAUNCH_PROGRAM 647
