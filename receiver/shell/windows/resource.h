// SPDX-License-Identifier: GPL-3.0-or-later
// Resource numbers of qvrecv.exe: shared by the resource script and the code.
#pragma once

// Tray images (frame colour, then centre colour); 109 is also the icon of
// both window classes. 100 is the program's own picture (Explorer, taskbar).
#define IDI_PROGRAM 100
#define IDI_RED_RED 101
#define IDI_GREEN_YELLOW 102
#define IDI_YELLOW_GREEN 103
#define IDI_YELLOW_YELLOW 108
#define IDI_RED_GREEN 109
#define IDI_GREEN_GREEN 110

#define IDR_TRAY_MENU 104
#define IDD_ABOUT 111
#define IDD_SETTINGS 112

// Settings dialog.
#define IDC_FULL_SCREEN 1002
#define IDC_PORT 1003
#define IDC_HOTKEY_ENABLED 1005
#define IDC_HOTKEY 1006
#define IDC_PORT_SPIN 1009
#define IDC_LOGGING 1010
#define IDC_SENDER_KEY 1013

// About box.
#define IDC_CHECK_UPDATES 1000
#define IDC_BUILT 1012

// Menu commands (the same numbers as receiver/viewer/receiver_commands.h).
#define IDM_ABOUT 40001
#define IDM_QUIT 40002
#define IDM_HIDE_WINDOW 40003
#define IDM_SHOW_WINDOW 40004
#define IDM_FULL_SCREEN 40005
#define IDM_SETTINGS 40006
#define IDM_REQUEST_REFRESH 40007
