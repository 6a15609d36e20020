// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/qt/qt_tray_view.h"

#include <QApplication>
#include <QDesktopServices>
#include <QtMath>
#include <QUrl>

#include "common/log_file.h"
#include "sender/shell/qc_tray.h"
#include "shell/console_output.h"

namespace qc {

QIcon TrayIconImage(int index) {
  static const char* const kNames[5] = {"frame0", "frame1", "frame2", "frame3", "paused"};
  QIcon icon;
  if (index < 0 || index > 4) return icon;
  EnsureSenderResources();
  for (int size : {16, 22, 24, 32, 48, 64}) {
    icon.addFile(QStringLiteral(":/qcsend/%1-%2.png").arg(kNames[index]).arg(size),
                 QSize(size, size));
  }
  return icon;
}

QtTrayView::QtTrayView() {
  for (int i = 0; i < 5; ++i) icons_[i] = TrayIconImage(i);
  menu_ = new QMenu;
  first_ = AddCommand("&Start Transmission", ID_START_TRANSMISSION);
  pause_ = AddCommand("&Pause Transmission", ID_PAUSE_TRANSMISSION);
  pause_->setCheckable(true);
  fullUpdate_ = AddCommand("Send &Full-Screen Update", ID_SEND_FULL_UPDATE);
  share_ = menu_->addMenu("Share");
  menu_->addSeparator();
  AddCommand("S&ettings...", ID_SETTINGS);
  AddCommand("&About Quillcast...", ID_ABOUT);
  menu_->addSeparator();
  quit_ = AddCommand("&Quit", ID_QUIT);
  menu_->setDefaultAction(first_);
  SetMenu(TrayMenu{});

  icon_ = new QSystemTrayIcon(this);
  icon_->setContextMenu(menu_);
  connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::DoubleClick && tray_ != nullptr) tray_->OnTrayDoubleClick();
  });
  connect(menu_, &QMenu::aboutToShow, this, [this] { menu_->setDefaultAction(first_); });
  iconTimer_ = new QTimer(this);
  iconTimer_->setSingleShot(true);
  connect(iconTimer_, &QTimer::timeout, this, [this] { ApplyIcon(); });
}

QtTrayView::~QtTrayView() {
  delete starting_;
  delete menu_;
}

QAction* QtTrayView::AddCommand(const char* text, int id) {
  QAction* action = menu_->addAction(QString::fromUtf8(text));
  action->setData(id);
  connect(action, &QAction::triggered, this, [this, action] {
    if (tray_ != nullptr) tray_->OnCommand(action->data().toInt());
  });
  return action;
}

void QtTrayView::ApplyIcon() {
  icon_->setIcon(icons_[pendingIndex_]);
  sinceIcon_.start();
}

bool QtTrayView::SetTrayIcon(int iconIndex, const char* tip) {
  if (iconIndex < 0 || iconIndex > 4) return false;
  pendingIndex_ = iconIndex;
  QString tipText = QString::fromUtf8(tip);
  if (!shown_ || tipText != shownTip_ || !sinceIcon_.isValid() ||
      sinceIcon_.elapsed() >= kIconIntervalMs) {
    // A state change shows at once.
    iconTimer_->stop();
    ApplyIcon();
  } else if (!iconTimer_->isActive()) {
    iconTimer_->start(kIconIntervalMs - static_cast<int>(sinceIcon_.elapsed()));
  }
  if (tipText != shownTip_) {
    shownTip_ = tipText;
    icon_->setToolTip(tipText);
  }
  if (!shown_) {
    shown_ = true;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
      Log().Print("qcTray: No notification area; hotkeys and signals still work\n");
      PrintMessage("", "qcsend", "no notification area; the hotkeys and signals still work");
    }
    icon_->show();
  }
  return true;
}

ScreenRect QtTrayView::TrayIconArea() const {
  if (!shown_) return {};
  // Empty for a tray that draws the icon itself (a StatusNotifier host):
  // its place is not told.
  const QRect r = icon_->geometry();
  if (r.isEmpty()) return {};
  // Qt's geometry is in device-independent pixels, the capture's in the
  // screen's own.
  const qreal ratio = qApp->devicePixelRatio();
  const QRect px(QPoint(qFloor(r.left() * ratio), qFloor(r.top() * ratio)),
                 QPoint(qCeil((r.right() + 1) * ratio) - 1, qCeil((r.bottom() + 1) * ratio) - 1));
  return ScreenRect{px.x(), px.y(), px.width(), px.height()};
}

void QtTrayView::RemoveTrayIcon() {
  iconTimer_->stop();
  icon_->hide();
  shown_ = false;
}

void QtTrayView::SetMenu(const TrayMenu& menu) {
  bool start = menu.first == ID_START_TRANSMISSION;
  first_->setText(start ? "&Start Transmission" : "&Stop Transmission");
  first_->setData(menu.first);
  first_->setEnabled(start ? menu.startEnabled : true);
  pause_->setEnabled(menu.pauseEnabled);
  pause_->setChecked(menu.pauseChecked);
  fullUpdate_->setEnabled(menu.fullUpdateEnabled);
  quit_->setEnabled(menu.quitEnabled);
  if (share_->isEmpty() || menu.monitors != shareLabels_) {
    shareLabels_ = menu.monitors;
    // Later: the menu may be rebuilt from the slot of one of its items.
    for (QAction* old : share_->actions()) {
      share_->removeAction(old);
      old->deleteLater();
    }
    for (int k = 0; k <= static_cast<int>(shareLabels_.size()); ++k) {
      QAction* item = share_->addAction(
          k == 0 ? QString("Whole screen") : QString::fromStdString(shareLabels_[k - 1]));
      item->setCheckable(true);
      connect(item, &QAction::triggered, this, [this, k] {
        if (tray_ != nullptr) tray_->SetMonitor(k);
      });
    }
  }
  const QList<QAction*> items = share_->actions();
  for (int k = 0; k < items.size(); ++k) items[k]->setChecked(k == menu.shared);
}

void QtTrayView::ShowStartingDialog() {
  if (!starting_) starting_ = new StartingDialog;
  starting_->show();
  starting_->raise();
  starting_->activateWindow();
}

void QtTrayView::HideStartingDialog() {
  if (starting_) starting_->hide();
}

void QtTrayView::CloseStartingDialog() {
  if (starting_) {
    starting_->hide();
    starting_->deleteLater();
    starting_ = nullptr;
  }
}

void QtTrayView::RunSettingsDialog(qcTray& tray) {
  SettingsDialog dialog(tray, hotkeyRoute_ ? hotkeyRoute_() : GlobalHotkeys::Route::None);
  dialog.raise();
  dialog.activateWindow();
  dialog.exec();
}

AboutChoice QtTrayView::RunAboutBox() {
  AboutBox box;
  box.raise();
  box.activateWindow();
  return box.exec() == AboutBox::kCheckForUpdates ? AboutChoice::CheckForUpdates
                                                  : AboutChoice::Close;
}

void QtTrayView::OpenUrl(const std::string& url) {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

}  // namespace qc
