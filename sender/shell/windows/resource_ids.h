// SPDX-License-Identifier: GPL-3.0-or-later
// Identifiers of qcsend.exe's resources (qcsend.rc), shared by the resource
// script and the views. The numbers are the ones the tray controller's
// commands and the dialog code use; windres reads this file too, so it holds
// only #defines.
#pragma once

// Icons: four animation frames (the first also the idle icon), then paused.
#define IDI_FRAME0 103
#define IDI_FRAME1 104
#define IDI_FRAME2 105
#define IDI_FRAME3 106
#define IDI_PAUSED 107

// Dialog templates.
#define IDD_ABOUT 112
#define IDD_SETTINGS 117
#define IDD_STARTING 118

// The settings dialog's controls.
#define IDC_DISABLE_ACCELERATION 1007
#define IDC_PORT 1009
#define IDC_PERIOD 1010
#define IDC_HOTKEY_START 1019
#define IDC_ENABLE_HOTKEY_START 1020
#define IDC_PORT_SPIN 1021
#define IDC_HOTKEY_PAUSE 1022
#define IDC_ENABLE_HOTKEY_PAUSE 1023
#define IDC_PERIOD_SPIN 1024
#define IDC_ENABLE_LOGGING 1027
#define IDC_SHARE 1040
#define IDC_VIDEO_MODE 1042
#define IDC_VIDEO_BITRATE 1043

// The About box's controls.
#define IDC_CHECK_UPDATES 1000
#define IDC_BUILD_STAMP 1037

// The Starting dialog's text.
#define IDC_STARTING_TEXT 1041
