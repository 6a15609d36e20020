// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's command identifiers: sent by the tray menu, the hot key,
// the tray icon's double click and the viewer window's menu and keys, and
// handled by the tray controller (qvTray::OnCommand).
#pragma once

namespace qc {

enum ReceiverCommand : int {
  ID_ABOUT = 40001,
  ID_QUIT = 40002,
  ID_HIDE_WINDOW = 40003,
  ID_SHOW_WINDOW = 40004,
  ID_FULL_SCREEN = 40005,
  ID_SETTINGS = 40006,
  ID_REQUEST_REFRESH = 40007,
};

// The viewer window's menu (the system menu on Windows, the context menu
// with Qt), in order; a null text is a separator. These are the only
// commands the window hands to the tray; it never acts on them itself.
struct ViewerMenuItem {
  const char* text;
  int id;
};
inline constexpr ViewerMenuItem kViewerWindowMenu[] = {
    {"Full Screen\tAlt+Enter", ID_FULL_SCREEN},
    {"Hide Window", ID_HIDE_WINDOW},
    {"Request Refresh", ID_REQUEST_REFRESH},
    {nullptr, 0},
    {"Settings...", ID_SETTINGS},
    {"About Quillview...", ID_ABOUT},
};

inline bool IsViewerWindowCommand(int id) {
  for (const ViewerMenuItem& item : kViewerWindowMenu) {
    if (item.text != nullptr && item.id == id) return true;
  }
  return false;
}

}  // namespace qc
