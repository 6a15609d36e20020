// SPDX-License-Identifier: GPL-3.0-or-later
// The tray view of the windowed receiver: the notification-area icon with
// its blinking images and tip, the popup menu and the dialogs. GUI thread
// only.
#pragma once

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include "receiver/shell/tray_view.h"

namespace qc {

// A tray image, from the program's resources.
QIcon TrayIconImage(TrayImage image);

class ReceiverQtTrayView : public QObject, public ReceiverTrayView {
  Q_OBJECT
 public:
  ReceiverQtTrayView() = default;
  ~ReceiverQtTrayView() override;

  void Attach(qvTray& tray) override;
  void SetTrayIcon(TrayImage image, const char* tip) override;
  void RemoveTrayIcon() override { icon_.hide(); }
  void SetWindowItem(bool hideItem) override;
  void EnableReceivingItems(bool enabled) override;
  void SetFullScreenChecked(bool checked) override;
  void RunSettingsDialog() override;
  void RunAboutDialog() override;

  QMenu* Menu() { return &menu_; }
  QSystemTrayIcon* Icon() { return &icon_; }

 private:
  QAction* AddItem(const char* text, int id);

  qvTray* tray_ = nullptr;
  QSystemTrayIcon icon_;
  QMenu menu_;
  QAction* fullScreen_ = nullptr;
  QAction* hide_ = nullptr;
  QAction* show_ = nullptr;
  QAction* refresh_ = nullptr;
  QIcon icons_[kTrayImageCount];
  bool trayMissingLogged_ = false;
};

}  // namespace qc
