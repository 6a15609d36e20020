// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/qt/qt_dialogs.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <algorithm>

#include "common/log_file.h"
#include "sender/shell/qc_tray.h"
#include "shell/command_line.h"
#include "shell/console_output.h"

// The icons are compiled into this static library; its resource
// initialiser is not linked in unless called by name (from the global
// namespace).
static void InitSenderResources() { Q_INIT_RESOURCE(sender_icons); }

namespace qc {

void EnsureSenderResources() {
  static const bool done = [] {
    InitSenderResources();
    return true;
  }();
  (void)done;
}

// ---- step buttons -------------------------------------------------------

StepButtons::StepButtons(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  up_ = new QToolButton(this);
  up_->setArrowType(Qt::UpArrow);
  down_ = new QToolButton(this);
  down_->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {up_, down_}) {
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setFixedSize(18, 12);
    layout->addWidget(b);
  }
  connect(up_, &QToolButton::clicked, this, [this] { emit Stepped(true); });
  connect(down_, &QToolButton::clicked, this, [this] { emit Stepped(false); });
}

// ---- settings dialog ------------------------------------------------------

SettingsDialog::SettingsDialog(qcTray& tray, GlobalHotkeys::Route hotkeyRoute, QWidget* parent)
    : QDialog(parent), logic_(tray) {
  setWindowTitle("Quillcast Settings");
  logic_.Open();
  const SenderSettings& s = tray.Settings();
  auto* digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this);

  auto* general = new QGroupBox("General", this);
  auto* grid = new QGridLayout(general);
  portBox_ = new QLineEdit(QString::number(static_cast<uint32_t>(logic_.Port())), general);
  portBox_->setValidator(digits);
  portSpin_ = new StepButtons(general);
  periodBox_ =
      new QLineEdit(QString::number(static_cast<uint32_t>(logic_.UpdatePeriod())), general);
  periodBox_->setValidator(digits);
  periodSpin_ = new StepButtons(general);
  for (QLineEdit* box : {portBox_, periodBox_}) {
    box->setMaximumWidth(90);
    box->installEventFilter(this);
  }
  grid->addWidget(new QLabel("Multicast UDP port:", general), 0, 0);
  grid->addWidget(portBox_, 0, 1);
  grid->addWidget(portSpin_, 0, 2);
  grid->addWidget(new QLabel("Update period, ms:", general), 1, 0);
  grid->addWidget(periodBox_, 1, 1);
  grid->addWidget(periodSpin_, 1, 2);
  grid->setColumnStretch(3, 1);
  acceleration_ = new QCheckBox("Auto disable graphics hardware acceleration", general);
  acceleration_->setChecked(s.disableAcceleration);
  logging_ = new QCheckBox("Enable logging to Quillcast.log text file", general);
  logging_->setChecked(Log().IsEnabled());
  grid->addWidget(acceleration_, 2, 0, 1, 4);
  grid->addWidget(logging_, 3, 0, 1, 4);
  share_ = new QComboBox(general);
  share_->addItem("Whole screen");
  for (const MonitorInfo& m : tray.Monitors()) {
    share_->addItem(QString::fromStdString(MonitorLabel(m)));
  }
  // A stored monitor that is not plugged in keeps its place in the list.
  while (share_->count() <= s.monitor) share_->addItem(QString("Monitor %1").arg(share_->count()));
  share_->setCurrentIndex(std::max(0, s.monitor));
  grid->addWidget(new QLabel("Share:", general), 4, 0);
  grid->addWidget(share_, 4, 1, 1, 3);

  // How a playing video goes out (as H.264, or losslessly) and its cap.
  auto* video = new QGroupBox("Video", this);
  auto* vgrid = new QGridLayout(video);
  videoMode_ = new QComboBox(video);
  for (const char* label : kVideoModeLabels) videoMode_->addItem(label);
  videoMode_->setCurrentIndex(std::clamp(s.videoMode, 0, 2));
  videoBitrate_ = new QLineEdit(QString::number(s.videoBitrate), video);
  videoBitrate_->setValidator(digits);
  videoBitrate_->setMaximumWidth(90);
  vgrid->addWidget(new QLabel("Send videos as H.264:", video), 0, 0);
  vgrid->addWidget(videoMode_, 0, 1, 1, 2);
  vgrid->addWidget(new QLabel("Video bitrate, kbit/s:", video), 1, 0);
  vgrid->addWidget(videoBitrate_, 1, 1);
  vgrid->setColumnStretch(2, 1);

  auto* hotkeys = new QGroupBox("Hotkeys", this);
  auto* hgrid = new QGridLayout(hotkeys);
  startEnabled_ = new QCheckBox("Start/Stop hotkey:", hotkeys);
  startHotkey_ = new HotkeyEdit(hotkeys);
  pauseEnabled_ = new QCheckBox("Pause hotkey:", hotkeys);
  pauseHotkey_ = new HotkeyEdit(hotkeys);
  startHotkey_->SetCode(s.hotkeyStart);
  pauseHotkey_->SetCode(s.hotkeyPause);
  startEnabled_->setChecked(s.enableHotkeyStart);
  pauseEnabled_->setChecked(s.enableHotkeyPause);
  startHotkey_->setEnabled(s.enableHotkeyStart);
  pauseHotkey_->setEnabled(s.enableHotkeyPause);
  hgrid->addWidget(startEnabled_, 0, 0);
  hgrid->addWidget(startHotkey_, 0, 1);
  hgrid->addWidget(pauseEnabled_, 1, 0);
  hgrid->addWidget(pauseHotkey_, 1, 1);
  const char* note = nullptr;
  switch (hotkeyRoute) {
    case GlobalHotkeys::Route::X11: break;
    case GlobalHotkeys::Route::X11OnWayland:
      // X11 grabs: on Wayland only XWayland windows pass the keys on.
      note = "On this Wayland desktop the hotkeys work only while an X11 program has the "
             "focus. Use the tray menu to start, stop and pause.";
      break;
    case GlobalHotkeys::Route::Portal:
      note = "On this Wayland desktop the desktop binds the hotkeys: it may ask you to "
             "confirm them, and its keyboard settings can change them.";
      break;
    case GlobalHotkeys::Route::None:
      note = "This desktop offers no global hotkeys. Use the tray menu to start, stop and "
             "pause.";
      break;
  }
  if (note != nullptr) {
    auto* label = new QLabel(note, hotkeys);
    label->setWordWrap(true);
    hgrid->addWidget(label, 2, 0, 1, 2);
  }

  ok_ = new QPushButton("OK", this);
  ok_->setDefault(true);
  auto* cancel = new QPushButton("Cancel", this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(general);
  layout->addWidget(video);
  layout->addWidget(hotkeys);
  layout->addLayout(buttons);

  // The port given on the command line cannot be typed over; its spin
  // still steps it, for this run.
  if (s.portFromCommandLine) portBox_->setEnabled(false);

  connect(share_, &QComboBox::currentIndexChanged, this, [this] { shareChanged_ = true; });
  connect(portSpin_, &StepButtons::Stepped, this, &SettingsDialog::OnPortStep);
  connect(periodSpin_, &StepButtons::Stepped, this, &SettingsDialog::OnPeriodStep);
  connect(periodBox_, &QLineEdit::editingFinished, this, &SettingsDialog::OnPeriodEdited);
  connect(startEnabled_, &QCheckBox::toggled, this, [this](bool on) {
    startHotkey_->setEnabled(on);
    if (on) startHotkey_->setFocus();
  });
  connect(pauseEnabled_, &QCheckBox::toggled, this, [this](bool on) {
    pauseHotkey_->setEnabled(on);
    if (on) pauseHotkey_->setFocus();
  });
  connect(ok_, &QPushButton::clicked, this, &SettingsDialog::OnOk);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool SettingsDialog::eventFilter(QObject* watched, QEvent* event) {
  // The arrow keys in a box step it, as its spin does.
  if (event->type() == QEvent::KeyPress && (watched == portBox_ || watched == periodBox_)) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
      bool up = key->key() == Qt::Key_Up;
      if (watched == portBox_) {
        OnPortStep(up);
      } else {
        OnPeriodStep(up);
      }
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void SettingsDialog::Apply(const BoxUpdate& update, QLineEdit* box) {
  box->setText(QString::fromStdString(update.text));
  if (update.message == nullptr) return;
  lastMessage_ = QString::fromUtf8(update.message);
  PrintMessage("", kInvalidValueCaption, update.message);
  if (showBoxes_) {
    inMessage_ = true;  // the box takes the focus: no second check
    QMessageBox::critical(this, "Invalid Value", lastMessage_);
    inMessage_ = false;
  }
}

void SettingsDialog::OnPortStep(bool up) {
  Apply(logic_.OnPortSpin(portBox_->text().toStdString(), up), portBox_);
}

void SettingsDialog::OnPeriodStep(bool up) {
  Apply(logic_.OnPeriodSpin(periodBox_->text().toStdString(), up), periodBox_);
}

void SettingsDialog::OnPeriodEdited() {
  if (inMessage_) return;
  if (auto update = logic_.OnPeriodFocusLost(periodBox_->text().toStdString())) {
    Apply(*update, periodBox_);
  }
}

void SettingsDialog::OnOk() {
  SettingsDialogValues v;
  v.portText = portBox_->text().toStdString();
  v.disableAcceleration = acceleration_->isChecked();
  v.logging = logging_->isChecked();
  v.hotkeyStart = startHotkey_->Code();
  v.enableHotkeyStart = startEnabled_->isChecked();
  v.hotkeyPause = pauseHotkey_->Code();
  v.enableHotkeyPause = pauseEnabled_->isChecked();
  if (shareChanged_) v.monitor = share_->currentIndex();
  v.videoMode = videoMode_->currentIndex();
  v.videoBitrateText = videoBitrate_->text().toStdString();
  if (auto correction = logic_.OnOk(v)) {
    Apply(*correction, correction->videoBitrate ? videoBitrate_ : portBox_);
    return;  // stay: the corrected value can be confirmed with a second OK
  }
  accept();
}

// ---- About box and Starting dialog ----------------------------------------

QString AboutBox::BuildStamp() {
  return QStringLiteral("Built on %1 at %2")
      .arg(QString::fromLatin1(__DATE__), QString::fromLatin1(__TIME__));
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setWindowTitle("About Quillcast");
  auto* layout = new QVBoxLayout(this);
  EnsureSenderResources();
  auto* icon = new QLabel(this);
  icon->setPixmap(QPixmap(":/qcsend/frame3-48.png"));
  icon->setAlignment(Qt::AlignCenter);
  layout->addWidget(icon);
  for (const QString& text :
       {QStringLiteral("Quillcast version 1.1.0"), BuildStamp(),
        QStringLiteral("Shows this screen on every Quillview receiver of the network.")}) {
    auto* label = new QLabel(text, this);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
  }
  close_ = new QPushButton("Close Window", this);
  close_->setDefault(true);
  updates_ = new QPushButton("Check for &Updates...", this);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(close_);
  buttons->addWidget(updates_);
  buttons->addStretch(1);
  layout->addLayout(buttons);
  connect(close_, &QPushButton::clicked, this, [this] { done(kClose); });
  connect(updates_, &QPushButton::clicked, this, [this] { done(kCheckForUpdates); });
}

StartingDialog::StartingDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Quillcast Starting...");
  auto* layout = new QVBoxLayout(this);
  auto* label = new QLabel("Checking if it's safe to start transmission.\n\nPlease wait...", this);
  label->setAlignment(Qt::AlignCenter);
  layout->addWidget(label);
  setMinimumWidth(320);
}

}  // namespace qc
