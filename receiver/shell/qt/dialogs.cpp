// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/qt/dialogs.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "common/log_file.h"
#include "platform/qt/hotkey_edit.h"
#include "receiver/shell/port_rules.h"
#include "receiver/shell/qv_tray.h"
#include "shell/command_line.h"
#include "shell/console_output.h"
#include "shell/signing_keys.h"

namespace qc {

ReceiverSettingsDialog::ReceiverSettingsDialog(qvTray& tray, QWidget* parent) : QDialog(parent), tray_(tray) {
  setWindowTitle(QStringLiteral("Quillview Settings"));
  statePort_ = tray.Port();

  auto* general = new QGroupBox(QStringLiteral("General"));
  auto* portLabel = new QLabel(QStringLiteral("Multicast UDP port:"));
  port_ = new QLineEdit(QString::number(static_cast<uint32_t>(statePort_)));
  port_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), port_));
  port_->setMaximumWidth(70);
  port_->installEventFilter(this);
  auto* up = new QToolButton;
  up->setArrowType(Qt::UpArrow);
  up->setObjectName(QStringLiteral("portUp"));
  auto* down = new QToolButton;
  down->setArrowType(Qt::DownArrow);
  down->setObjectName(QStringLiteral("portDown"));
  auto* arrows = new QVBoxLayout;
  arrows->setSpacing(0);
  arrows->addWidget(up);
  arrows->addWidget(down);
  auto* portRow = new QHBoxLayout;
  portRow->addWidget(portLabel);
  portRow->addWidget(port_);
  portRow->addLayout(arrows);
  portRow->addStretch();
  fullScreen_ = new QCheckBox(QStringLiteral("Start in full screen mode"));
  logging_ = new QCheckBox(QStringLiteral("Enable logging to Quillview.log text file"));
  auto* generalLayout = new QVBoxLayout(general);
  generalLayout->addLayout(portRow);
  generalLayout->addWidget(fullScreen_);
  generalLayout->addWidget(logging_);

  auto* hotkeys = new QGroupBox(QStringLiteral("Hotkeys"));
  hotkeyEnabled_ = new QCheckBox(QStringLiteral("Hide/Show hotkey:"));
  hotkey_ = new HotkeyEdit;
  auto* hotkeyRow = new QHBoxLayout(hotkeys);
  hotkeyRow->addWidget(hotkeyEnabled_);
  hotkeyRow->addWidget(hotkey_);

  // Signed transmissions: the public key that "qcsend --new-key" printed.
  auto* signing = new QGroupBox(QStringLiteral("Signed transmissions"));
  senderKey_ = new QLineEdit(QString::fromStdString(
      tray.TrustedSender() != nullptr ? PublicKeyText(*tray.TrustedSender()) : std::string()));
  senderKey_->setObjectName(QStringLiteral("senderKey"));
  senderKey_->setPlaceholderText(QStringLiteral("none: any transmission is shown"));
  senderKey_->setMinimumWidth(340);
  fingerprint_ = new QLabel;
  auto* signingLayout = new QVBoxLayout(signing);
  auto* keyRow = new QHBoxLayout;
  keyRow->addWidget(new QLabel(QStringLiteral("Sender key:")));
  keyRow->addWidget(senderKey_);
  signingLayout->addLayout(keyRow);
  signingLayout->addWidget(fingerprint_);
  auto showFingerprint = [this] {
    PublicKey key;
    const std::string text = senderKey_->text().toStdString();
    fingerprint_->setText(ParsePublicKeyText(text, key)
                              ? QStringLiteral("Fingerprint: ") +
                                    QString::fromStdString(Fingerprint(key))
                              : text.empty() ? QStringLiteral("Unsigned transmissions are shown.")
                                             : QStringLiteral("Not a sender key."));
  };
  showFingerprint();
  connect(senderKey_, &QLineEdit::textChanged, this, showFingerprint);
  // A key given with --trust holds for this run.
  if (tray.TrustFromCommandLine()) senderKey_->setEnabled(false);

  auto* ok = new QPushButton(QStringLiteral("OK"));
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"));
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  buttons->addStretch();

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(general);
  layout->addWidget(hotkeys);
  layout->addWidget(signing);
  layout->addLayout(buttons);

  fullScreen_->setChecked(tray.FullScreenSetting());
  logging_->setChecked(Log().IsEnabled());
  hotkey_->SetCode(tray.Hotkey() & 0xFFFF);  // the field holds a 16-bit code
  hotkeyEnabled_->setChecked(tray.HotkeyEnabled());
  hotkey_->setEnabled(tray.HotkeyEnabled());
  // A command-line port may still be changed with the arrows, not typed.
  if (tray.PortFromCommandLine()) port_->setEnabled(false);

  connect(up, &QToolButton::clicked, this, [this] { StepPort(true); });
  connect(down, &QToolButton::clicked, this, [this] { StepPort(false); });
  connect(hotkeyEnabled_, &QCheckBox::clicked, this, [this](bool on) {
    hotkey_->setEnabled(on);
    if (on) hotkey_->setFocus();
  });
  connect(ok, &QPushButton::clicked, this, [this] { TryAccept(); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void ReceiverSettingsDialog::StepPort(bool up) {
  statePort_ = qc::StepPort(ReadPortField(port_->text().toStdString()), up);
  port_->setText(QString::number(statePort_));
}

bool ReceiverSettingsDialog::TryAccept() {
  ReceiverDialogValues v;
  v.port = ReadPortField(port_->text().toStdString());
  v.fullScreen = fullScreen_->isChecked();
  v.logging = logging_->isChecked();
  v.hotkey = hotkey_->Code();
  v.hotkeyEnabled = hotkeyEnabled_->isChecked();
  v.senderKey = senderKey_->text().toStdString();
  PublicKey key;
  if (!tray_.TrustFromCommandLine() && v.senderKey->find_first_not_of(" \t") != std::string::npos &&
      !ParsePublicKeyText(*v.senderKey, key)) {
    PrintMessage(kReceiverStderrPrefix, kInvalidValueCaption, kBadKeyText);
    QMessageBox::critical(this, QString::fromUtf8(kInvalidValueCaption),
                          QString::fromUtf8(kBadKeyText));
    senderKey_->setFocus();
    return false;
  }
  PortCheck check = tray_.AcceptSettings(v);
  statePort_ = check.port;
  if (!check.valid) {
    PrintMessage(kReceiverStderrPrefix, kInvalidValueCaption, kInvalidPortDialogText);
    QMessageBox::critical(this, QString::fromUtf8(kInvalidValueCaption),
                          QString::fromUtf8(kInvalidPortDialogText));
    port_->setText(QString::number(check.port));
    return false;
  }
  accept();
  return true;
}

bool ReceiverSettingsDialog::eventFilter(QObject* watched, QEvent* event) {
  // The up-down control answers the arrow keys of its field.
  if (watched == port_ && event->type() == QEvent::KeyPress) {
    int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
      StepPort(key == Qt::Key_Up);
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

QString AboutDialog::BuiltText() {
  // __DATE__ is "Mmm dd yyyy" with the day padded by a blank.
  return QStringLiteral("Built on %1 at %2").arg(QStringLiteral(__DATE__), QStringLiteral(__TIME__));
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Quillview"));
  auto* version = new QLabel(QStringLiteral("Quillview version 1.1.0"));
  version->setAlignment(Qt::AlignCenter);
  auto* built = new QLabel(BuiltText());
  built->setAlignment(Qt::AlignCenter);
  auto* close = new QPushButton(QStringLiteral("Close Window"));
  close->setDefault(true);
  auto* check = new QPushButton(QStringLiteral("Check for &Updates..."));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(close);
  buttons->addWidget(check);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(version);
  layout->addWidget(built);
  layout->addSpacing(16);
  layout->addLayout(buttons);
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  connect(check, &QPushButton::clicked, this, [this] {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kReceiverUpdatePageUrl)));
    reject();
  });
}

}  // namespace qc
