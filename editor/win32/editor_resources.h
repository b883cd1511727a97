// Resource, control, command and string ids of the configuration editor
// VRTDIDW.exe. Included by vrtdidw.rc (windres) and by the program's C++
// sources, so it holds nothing but #define lines (plus a few resource names
// for C++ only, kept out of the resource compiler by RC_INVOKED).
//
// Ids marked "chosen here" are this program's own choice; every other id is
// fixed (help topics, saved settings and the driver's tools rely on them) and
// must not be changed.
#pragma once

// ---------------------------------------------------------------------------
// Main frame: program icon, menu, accelerators (one id for all three).
#define IDR_MAINFRAME 128

// Toolbar strips, 16 x 15 pixels per button, light grey (192,192,192)
// background to be mapped to the button face colour. Chosen here.
#define IDB_MAIN_TOOLBAR 129     // New, Open, Save, Save As, Reload, Exit, Help Contents
#define IDB_CHANNEL_TOOLBAR 130  // channels 1..16, then Setup the Selected Channel
#define MAIN_TOOLBAR_BUTTONS 7
#define CHANNEL_TOOLBAR_BUTTONS 17
#define TOOLBAR_BUTTON_WIDTH 16
#define TOOLBAR_BUTTON_HEIGHT 15

// ---------------------------------------------------------------------------
// Commands.

// File menu.
#define ID_FILE_NEW 57600
#define ID_FILE_OPEN 57601
#define ID_FILE_SAVE 57603
#define ID_FILE_SAVE_AS 57604
#define ID_FILE_RELOAD 10002
#define ID_FILE_MRU_FILE1 57616  // the four recent files, 57616..57619
#define ID_FILE_MRU_FILE2 57617
#define ID_FILE_MRU_FILE3 57618
#define ID_FILE_MRU_FILE4 57619
#define ID_FILE_MRU_COUNT 4
#define ID_APP_EXIT 57665

// View menu. The same ids serve as the child window ids of the main toolbar
// and of the status bar, so that a command names the window it shows or hides.
#define ID_VIEW_TOOLBAR 59392
#define ID_VIEW_STATUS_BAR 59393

// Options menu.
#define ID_OPTIONS_DISABLE_COMMS_ALARMS 10001
#define ID_OPTIONS_LEARN_ADDRESSES 40001
#define ID_OPTIONS_SAVE_LOG_FILE 40002

// Help menu.
#define ID_HELP_CONTENTS 10007  // chosen here: the help file's contents page
#define ID_HELP_COMMANDS 10003
#define ID_HELP_GLOSSARY 10004
#define ID_HELP_KEYBOARD 10005
#define ID_HELP_PROCEDURES 10006
#define ID_HELP_USING 57668
#define ID_APP_ABOUT 57664

// Help keys: F1 and Shift+F1 both open the help topic of the control that
// has the focus (topic HELP_CONTROL_TOPIC_BASE + control id).
#define ID_HELP_CONTROL 57670        // F1
#define ID_HELP_CONTROL_SHIFT 57669  // Shift+F1

// Channel toolbar: channel N (1..16) is ID_CHANNEL_FIRST + N - 1.
#define ID_CHANNEL_1 10102
#define ID_CHANNEL_2 10103
#define ID_CHANNEL_3 10104
#define ID_CHANNEL_4 10105
#define ID_CHANNEL_5 10106
#define ID_CHANNEL_6 10107
#define ID_CHANNEL_7 10108
#define ID_CHANNEL_8 10109
#define ID_CHANNEL_9 10110
#define ID_CHANNEL_10 10111
#define ID_CHANNEL_11 10112
#define ID_CHANNEL_12 10113
#define ID_CHANNEL_13 10114
#define ID_CHANNEL_14 10115
#define ID_CHANNEL_15 10116
#define ID_CHANNEL_16 10117
#define ID_CHANNEL_FIRST ID_CHANNEL_1
#define ID_CHANNEL_LAST ID_CHANNEL_16
#define ID_CHANNEL_SETUP 10127  // Setup the Selected Channel

// ---------------------------------------------------------------------------
// Help topics (numbers inside the help file VRTDOC).
#define HELP_TOPIC_COMMANDS 75539
#define HELP_TOPIC_GLOSSARY 75540
#define HELP_TOPIC_KEYBOARD 75541
#define HELP_TOPIC_PROCEDURES 75542
#define HELP_TOPIC_USING_HELP 123204
#define HELP_TOPIC_PORT_SETTINGS 136273
#define HELP_TOPIC_POLL_RECORD 136274
#define HELP_CONTROL_TOPIC_BASE 0x50000  // + control id: F1 help of a control

// ---------------------------------------------------------------------------
// Child windows of the main frame. Chosen here.
#define IDW_MAIN_TOOLBAR ID_VIEW_TOOLBAR
#define IDW_STATUS_BAR ID_VIEW_STATUS_BAR
#define IDW_CHANNEL_TOOLBAR 59394
#define IDW_SPLITTER 59648
#define IDW_CONFIG_VIEW 59649    // the configuration form (upper pane)
#define IDW_MESSAGES_VIEW 59650  // the messages list (lower pane)

// ---------------------------------------------------------------------------
// Buttons shared by the dialogs: IDOK (1) and IDCANCEL (2) of <windows.h>,
// and the Help button of the Port Settings and Poll Record Edit dialogs.
#define ID_DIALOG_HELP 57671
// Unnamed static texts and group boxes.
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// ---------------------------------------------------------------------------
// Configuration view: the form in the upper pane of the main window.
#define IDD_CONFIG_VIEW 5200
#define IDC_DEVICE_LIST 2004
#define IDC_DEVICE_ADD 2019
#define IDC_DEVICE_DELETE 2020
#define IDC_DEVICE_NAME 2005
#define IDC_DESCRIPTION 2006
#define IDC_PRIMARY_STATION 2007
#define IDC_BACKUP_STATION 2008
#define IDC_QUEUE_HEAD 2009
#define IDC_HARDWARE 2024
#define IDC_POLL_GRID 5010

// Port Settings dialog (one channel's communication settings).
#define IDD_PORT_SETTINGS 5201
#define IDC_REPLY_TIMEOUT 2001
#define IDC_DELAY 2002
#define IDC_RETRIES 2003
#define IDC_CARD_NO 2023
#define IDC_ADVANCED 2030

// Poll Record Edit dialog.
#define IDD_POLL_RECORD 5202
#define IDC_START_ADDRESS 2011
#define IDC_END_ADDRESS 2012
#define IDC_LENGTH 2013
#define IDC_DATA_TYPE 2014
#define IDC_POLL_TIME 2015
#define IDC_ACCESS_TIME 2016
#define IDC_EXCEPTION_TYPE 2017
#define IDC_DEAD_BAND 2018
#define IDC_POLL_NEW 3011
#define IDC_POLL_DELETE 3012

// About dialog.
#define IDD_ABOUT 10200
#define IDC_ABOUT_DESCRIPTION 2028    // chosen here: "%s (%s) V %s"
#define IDC_ABOUT_NODE_NAME 2031      // chosen here: NODENAME value
#define IDC_ABOUT_BASE_PATH 2032      // chosen here: BASPATH value
#define IDC_ABOUT_DATABASE_PATH 2033  // chosen here: PDBPATH value

// Add Device dialog.
#define IDD_ADD_DEVICE 10201
#define IDC_ADD_DEVICE_NAME 2025  // chosen here

// Exit dialog.
#define IDD_EXIT 10202
#define IDC_EXIT_SAVE 2026    // chosen here: "Save I/O Driver Configuration"
#define IDC_EXIT_RELOAD 2027  // chosen here: "Reload I/O Driver Configuration"
#define IDC_EXIT_TEXT 2029    // chosen here: the explanation above the check boxes

// ---------------------------------------------------------------------------
// Icons.

// Live state of a poll record (state image of a grid row), states 1 to 4.
#define IDI_STATE_GOOD 5100     // state 1: status 0
#define IDI_STATE_FAILED 5101   // state 2: status 4293, the station did not answer
#define IDI_STATE_WAITING 5108  // state 3: status 4296 or 4297, not polled yet or stopped
#define IDI_STATE_UNKNOWN 5109  // state 4: any other status, or none

// Poll-record grid: column header icons; IDI_COLUMN_IO_BLOCKS is also every
// row's small icon.
#define IDI_COLUMN_DATA_TYPE 5102
#define IDI_COLUMN_POLL_TIME 5103
#define IDI_COLUMN_START 5104
#define IDI_COLUMN_END 5105
#define IDI_COLUMN_LENGTH 5106
#define IDI_COLUMN_IO_BLOCKS 5107

// Messages view: first icon for ordinary messages, second for severities
// 30, 70 and 94. Chosen here.
#define IDI_MESSAGE_INFO 5110
#define IDI_MESSAGE_WARNING 5111

// ---------------------------------------------------------------------------
// Strings.

// Poll-record grid column titles, in column order.
#define IDS_COLUMN_IO_BLOCKS 5400
#define IDS_COLUMN_START 5401
#define IDS_COLUMN_END 5402
#define IDS_COLUMN_LENGTH 5403
#define IDS_COLUMN_DATA_TYPE 5404
#define IDS_COLUMN_POLL_TIME 5405
#define IDS_COLUMN_ACCESS_TIME 5406
#define IDS_COLUMN_EXCEPTION_TYPE 5407
#define IDS_COLUMN_DEAD_BAND 5408
#define IDS_COLUMN_FIRST IDS_COLUMN_IO_BLOCKS
#define IDS_COLUMN_COUNT 9

// Texts of the configuration file and CSV handling.
#define IDS_CSV_COMMENT 10406     // "["
#define IDS_IMPORT_ERRORS 10417   // "DIDW.ERR", after the acronym
#define IDS_CSV_EXTENSION 10419   // "CSV"
#define IDS_FILE_FILTER 10421     // Open and Save As filter, "###" = acronym
#define IDS_CSV_KEYWORD 10491     // "!"

// Status bar text while no command prompt is shown. Chosen here.
#define IDS_IDLE_PROMPT 10500

// Every command's status bar prompt is the string with the command's id.

// ---------------------------------------------------------------------------
// Named bitmaps (resource names, not numbers): the LOGO picture of the About
// dialog and the up / down / focus pictures of the dialogs' bitmap buttons.
#ifndef RC_INVOKED
#define IDB_LOGO "LOGO"
#define IDB_OK_UP "OKU"
#define IDB_OK_DOWN "OKD"
#define IDB_OK_FOCUS "OKF"
#define IDB_CANCEL_UP "CANCELU"
#define IDB_CANCEL_DOWN "CANCELD"
#define IDB_CANCEL_FOCUS "CANCELF"
#define IDB_HELP_UP "HELPU"
#define IDB_HELP_DOWN "HELPD"
#define IDB_HELP_FOCUS "HELPF"
#define IDB_NEW_UP "NEWU"
#define IDB_NEW_DOWN "NEWD"
#define IDB_NEW_FOCUS "NEWF"
#define IDB_DELETE_UP "DELETEU"
#define IDB_DELETE_DOWN "DELETED"
#define IDB_DELETE_FOCUS "DELETEF"
#endif
