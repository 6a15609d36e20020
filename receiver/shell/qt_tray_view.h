// SPDX-License-Identifier: GPL-3.0-or-later
// The tray view of the windowed receiver: the notification-area icon with
// its blinking images and tip, the popup menu, message boxes, the dialogs
// and the hide/show hot key.
#pragma once

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>
#include <map>
#include <memory>

#include "platform/qt/global_hotkeys.h"
#include "receiver/shell/qt_view_base.h"

namespace qc {

// The tray image of a resource number, from the program's resources.
QIcon TrayIconImage(TrayImage image);

class ReceiverQtTrayView : public QObject, public ReceiverQtViewBase {
  Q_OBJECT
 public:
  // hotkeys: grab the hide/show hot key (the program); false: never (tests).
  explicit ReceiverQtTrayView(bool hotkeys, QObject* parent = nullptr);
  ~ReceiverQtTrayView() override;

  void Attach(qvTray& tray) override;
  bool SetTrayIcon(TrayAction action, TrayImage image, const char* tip) override;
  void SetWindowItem(bool hideItem) override;
  void EnableReceivingItems(bool enabled) override;
  void SetFullScreenChecked(bool checked) override;
  void ShowMessage(const char* caption, const char* text, MessageIcon icon) override;
  void RunSettingsDialog() override;
  void RunAboutDialog() override;
  bool RegisterHotKey(uint32_t code) override;
  void UnregisterHotKey() override;

  QMenu* Menu() { return &menu_; }
  QSystemTrayIcon* Icon() { return &icon_; }

 private:
  QAction* AddItem(const char* text, int id);

  std::unique_ptr<GlobalHotkeys> hotkeys_;
  QSystemTrayIcon icon_;
  QMenu menu_;
  QAction* fullScreen_ = nullptr;
  QAction* hide_ = nullptr;
  QAction* show_ = nullptr;
  QAction* refresh_ = nullptr;
  std::map<int, QIcon> icons_;
  bool trayMissingLogged_ = false;
};

}  // namespace qc
