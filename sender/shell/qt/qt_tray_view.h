// SPDX-License-Identifier: GPL-3.0-or-later
// The tray view of the desktop program: the notification-area icon with its
// animation frames, tip and popup menu, and the dialogs. Without a tray host
// the program keeps running (logged once) and stays usable through the
// hotkeys and signals. GUI thread only.
#pragma once

#include <QAction>
#include <QElapsedTimer>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "platform/qt/global_hotkeys.h"
#include "sender/shell/qt/qt_dialogs.h"
#include "sender/shell/tray_view.h"

namespace qc {

// Icon index 0-3: animation frames (0 also idle); 4: paused.
QIcon TrayIconImage(int index);

class QtTrayView : public QObject, public TrayView {
  Q_OBJECT
 public:
  QtTrayView();
  ~QtTrayView() override;

  // The controller that the menu and the double click report to.
  // hotkeyRoute: how the hotkeys reach the program, for the settings dialog.
  void Attach(qcTray& tray, std::function<GlobalHotkeys::Route()> hotkeyRoute) {
    tray_ = &tray;
    hotkeyRoute_ = std::move(hotkeyRoute);
  }

  bool SetTrayIcon(int iconIndex, const char* tip) override;
  void RemoveTrayIcon() override;
  ScreenRect TrayIconArea() const override;
  void SetMenu(const TrayMenu& menu) override;
  void ShowStartingDialog() override;
  void HideStartingDialog() override;
  void CloseStartingDialog() override;
  void RunSettingsDialog(qcTray& tray) override;
  AboutChoice RunAboutBox() override;
  void OpenUrl(const std::string& url) override;

  QMenu* Menu() const { return menu_; }

 private:
  QAction* AddCommand(const char* text, int id);
  void ApplyIcon();

  qcTray* tray_ = nullptr;
  std::function<GlobalHotkeys::Route()> hotkeyRoute_;
  QSystemTrayIcon* icon_ = nullptr;
  QMenu* menu_ = nullptr;
  QAction* first_ = nullptr;
  QAction* pause_ = nullptr;
  QAction* fullUpdate_ = nullptr;
  QAction* quit_ = nullptr;
  QMenu* share_ = nullptr;  // "Whole screen", then one item per monitor
  std::vector<std::string> shareLabels_;
  QIcon icons_[5];
  QPointer<StartingDialog> starting_;
  bool shown_ = false;
  // The animation advances with every change sent; the tray is repainted at
  // most every kIconIntervalMs, with the latest frame.
  static constexpr int kIconIntervalMs = 50;
  int pendingIndex_ = 0;
  QString shownTip_;
  QElapsedTimer sinceIcon_;
  QTimer* iconTimer_ = nullptr;
};

}  // namespace qc
