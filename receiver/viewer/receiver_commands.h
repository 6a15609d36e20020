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

}  // namespace qc
