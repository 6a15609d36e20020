// SPDX-License-Identifier: GPL-3.0-or-later
// The sender's dialogs in Qt: the Starting wait dialog, the About box and
// the settings dialog. The settings dialog's rules live in qcSettings
// (settings_dialog_logic.h); the widgets only feed it and show its answers.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <cstdint>
#include <string>

#include "platform/qt/global_hotkeys.h"
#include "platform/qt/hotkey_edit.h"
#include "sender/shell/settings_dialog_logic.h"

namespace qc {

class qcTray;

// Registers the program's icons (":/qcsend/..."). Any number of calls.
void EnsureSenderResources();

// The up-down arrows beside a box; the owner writes the stepped number.
class StepButtons : public QWidget {
  Q_OBJECT
 public:
  explicit StepButtons(QWidget* parent = nullptr);
  QToolButton* Up() const { return up_; }
  QToolButton* Down() const { return down_; }
 signals:
  void Stepped(bool up);

 private:
  QToolButton* up_;
  QToolButton* down_;
};

class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  // hotkeyRoute: how the hotkeys reach the program; the dialog says what that
  // means for the user where it is not a plain X11 session.
  explicit SettingsDialog(qcTray& tray,
                          GlobalHotkeys::Route hotkeyRoute = GlobalHotkeys::Route::X11,
                          QWidget* parent = nullptr);

  // For tests and screenshots.
  QLineEdit* PortBox() const { return portBox_; }
  QLineEdit* PeriodBox() const { return periodBox_; }
  StepButtons* PortSpin() const { return portSpin_; }
  StepButtons* PeriodSpin() const { return periodSpin_; }
  QCheckBox* AccelerationBox() const { return acceleration_; }
  QCheckBox* LoggingBox() const { return logging_; }
  // "Whole screen", then one item per monitor.
  QComboBox* ShareBox() const { return share_; }
  // Off, On, Auto (VideoMode 0, 1, 2) and the bitrate cap in kbit/s.
  QComboBox* VideoModeBox() const { return videoMode_; }
  QLineEdit* VideoBitrateBox() const { return videoBitrate_; }
  QCheckBox* StartHotkeyBox() const { return startEnabled_; }
  HotkeyEdit* StartHotkeyField() const { return startHotkey_; }
  QCheckBox* PauseHotkeyBox() const { return pauseEnabled_; }
  HotkeyEdit* PauseHotkeyField() const { return pauseHotkey_; }
  QPushButton* OkButton() const { return ok_; }
  // The message the dialog showed last (also on standard error); tests run
  // without opening boxes when ShowBoxes(false).
  const QString& LastMessage() const { return lastMessage_; }
  void ShowBoxes(bool on) { showBoxes_ = on; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Apply(const BoxUpdate& update, QLineEdit* box);
  void OnPortStep(bool up);
  void OnPeriodStep(bool up);
  void OnPeriodEdited();
  void OnOk();

  qcSettings logic_;
  QLineEdit* portBox_;
  StepButtons* portSpin_;
  QLineEdit* periodBox_;
  StepButtons* periodSpin_;
  QCheckBox* acceleration_;
  QCheckBox* logging_;
  QComboBox* share_;
  bool shareChanged_ = false;
  QComboBox* videoMode_;
  QLineEdit* videoBitrate_;
  QCheckBox* startEnabled_;
  HotkeyEdit* startHotkey_;
  QCheckBox* pauseEnabled_;
  HotkeyEdit* pauseHotkey_;
  QPushButton* ok_;
  QString lastMessage_;
  bool showBoxes_ = true;
  bool inMessage_ = false;
};

class AboutBox : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kCheckForUpdates = 1000;
  static constexpr int kClose = 2;
  explicit AboutBox(QWidget* parent = nullptr);
  // "Built on Dec  6 2026 at 19:50:00": the compile date and time.
  static QString BuildStamp();
  QPushButton* UpdatesButton() const { return updates_; }
  QPushButton* CloseButton() const { return close_; }
  // Esc and the close box count as Close Window.
  void reject() override { done(kClose); }

 private:
  QPushButton* updates_;
  QPushButton* close_;
};

class StartingDialog : public QDialog {
  Q_OBJECT
 public:
  explicit StartingDialog(QWidget* parent = nullptr);
};

}  // namespace qc
