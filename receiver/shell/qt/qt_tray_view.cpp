// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/qt/qt_tray_view.h"

#include <QApplication>

#include "common/log_file.h"
#include "receiver/shell/qt/dialogs.h"
#include "receiver/shell/qv_tray.h"

namespace qc {

QIcon TrayIconImage(TrayImage image) {
  static const char* const kNames[kTrayImageCount] = {  // in TrayImage's order
      "tray-red-red",     "tray-red-green",    "tray-green-yellow",
      "tray-green-green", "tray-yellow-green", "tray-yellow-yellow"};
  const char* name = kNames[static_cast<int>(image)];
  QIcon icon;
  for (int size : {16, 22, 32, 48}) {
    icon.addFile(QStringLiteral(":/qvrecv/tray/%1-%2.png").arg(QLatin1String(name)).arg(size),
                 QSize(size, size));
  }
  return icon;
}

ReceiverQtTrayView::~ReceiverQtTrayView() { icon_.hide(); }

QAction* ReceiverQtTrayView::AddItem(const char* text, int id) {
  QAction* a = menu_.addAction(QString::fromUtf8(text));
  connect(a, &QAction::triggered, this, [this, id] { tray_->OnCommand(id); });
  return a;
}

void ReceiverQtTrayView::Attach(qvTray& tray) {
  tray_ = &tray;
  fullScreen_ = AddItem("&Full Screen", ID_FULL_SCREEN);
  fullScreen_->setCheckable(true);
  hide_ = AddItem("&Hide Window", ID_HIDE_WINDOW);
  show_ = AddItem("S&how Window", ID_SHOW_WINDOW);
  show_->setVisible(false);
  refresh_ = AddItem("&Request Refresh", ID_REQUEST_REFRESH);
  menu_.addSeparator();
  AddItem("&Settings...", ID_SETTINGS);
  AddItem("&About Quillview...", ID_ABOUT);
  menu_.addSeparator();
  AddItem("&Quit", ID_QUIT);
  menu_.setDefaultAction(fullScreen_);
  connect(&menu_, &QMenu::aboutToShow, this, [this] { tray_->OnMenuAboutToShow(); });
  icon_.setContextMenu(&menu_);
  connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::DoubleClick) tray_->OnTrayDoubleClick();
  });
  for (int i = 0; i < kTrayImageCount; ++i) icons_[i] = TrayIconImage(static_cast<TrayImage>(i));
}

void ReceiverQtTrayView::SetTrayIcon(TrayImage image, const char* tip) {
  icon_.setIcon(icons_[static_cast<int>(image)]);
  icon_.setToolTip(QString::fromUtf8(tip));
  if (!icon_.isVisible()) {
    if (!QSystemTrayIcon::isSystemTrayAvailable() && !trayMissingLogged_) {
      // Without a tray host the receiver still works: its window, the hot
      // key and the viewer's menu reach every command.
      trayMissingLogged_ = true;
      Log().Print("qvTray: No system tray available; running without a tray icon\n");
    }
    icon_.show();
  }
}

void ReceiverQtTrayView::SetWindowItem(bool hideItem) {
  hide_->setVisible(hideItem);
  show_->setVisible(!hideItem);
}

void ReceiverQtTrayView::EnableReceivingItems(bool enabled) {
  for (QAction* a : {fullScreen_, hide_, show_, refresh_}) a->setEnabled(enabled);
}

void ReceiverQtTrayView::SetFullScreenChecked(bool checked) { fullScreen_->setChecked(checked); }

void ReceiverQtTrayView::RunSettingsDialog() {
  ReceiverSettingsDialog dialog(*tray_);
  dialog.raise();
  dialog.activateWindow();
  dialog.exec();
}

void ReceiverQtTrayView::RunAboutDialog() {
  AboutDialog dialog;
  dialog.raise();
  dialog.activateWindow();
  dialog.exec();
}

}  // namespace qc
