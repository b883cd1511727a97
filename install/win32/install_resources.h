// Control and dialog ids of setup.exe and uninstall.exe.
#pragma once

#define IDD_SETUP_WELCOME 100
#define IDD_SETUP_DIRECTORY 101
#define IDD_SETUP_NODE 102
#define IDD_SETUP_FOLDER 103
#define IDD_UNINSTALL_PROGRESS 110

#define IDC_WELCOME_TEXT 1000
#define IDC_DIRECTORY 1001
#define IDC_BROWSE 1002
#define IDC_NODE_PROMPT 1003
#define IDC_NODE 1004
#define IDC_FOLDER 1005
#define IDC_PAGE_TEXT 1006
#define IDC_STEP 1010
#define IDC_PROGRESS 1011
