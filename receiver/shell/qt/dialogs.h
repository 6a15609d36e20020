// SPDX-License-Identifier: GPL-3.0-or-later
// The receiver's settings dialog and About box (Qt widgets).
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace qc {
class HotkeyEdit;
}

namespace qc {

class qvTray;

inline constexpr char kReceiverUpdatePageUrl[] = "https://quillcast.invalid/vorazudud/updates/?ver=1.1.0";

// "Quillview Settings": edits the five stored settings; OK applies them
// through the controller (qvTray::AcceptSettings), Cancel applies nothing.
class ReceiverSettingsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ReceiverSettingsDialog(qvTray& tray, QWidget* parent = nullptr);

  // One click of the up-down control (also the arrow keys in the field).
  void StepPort(bool up);
  // The OK button: true when the settings were applied and the dialog closed.
  bool TryAccept();

  QLineEdit* PortField() const { return port_; }
  QCheckBox* FullScreenBox() const { return fullScreen_; }
  QCheckBox* LoggingBox() const { return logging_; }
  QCheckBox* HotKeyBox() const { return hotkeyEnabled_; }
  HotkeyEdit* HotKeyField() const { return hotkey_; }
  QLineEdit* SenderKeyField() const { return senderKey_; }
  QLabel* FingerprintLabel() const { return fingerprint_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  qvTray& tray_;
  int statePort_ = 0;
  QLineEdit* port_ = nullptr;
  QCheckBox* fullScreen_ = nullptr;
  QCheckBox* logging_ = nullptr;
  QCheckBox* hotkeyEnabled_ = nullptr;
  HotkeyEdit* hotkey_ = nullptr;
  QLineEdit* senderKey_ = nullptr;
  QLabel* fingerprint_ = nullptr;
};

// "About Quillview": version, build time, "Check for Updates...".
class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
  static QString BuiltText();
};

}  // namespace qc
