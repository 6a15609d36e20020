// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt dialogs and the tray menu, driven through their widgets on the
// offscreen platform: the texts the user reads and the wiring of the widgets
// to the dialog's rules and the controller (the rules themselves are tested
// on the controller). With QC_SCREENSHOT_DIR set, the settings dialog and
// the About box are saved there as qcsend-settings.png and qcsend-about.png.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <cstdlib>

#include "common/log_file.h"
#include "platform/settings_file.h"
#include "sender/shell/qt/qt_dialogs.h"
#include "sender/shell/qt/qt_tray_view.h"
#include "sender/shell/qc_tray.h"
#include "tests/sender_shell/fakes.h"
#include "tests/support/private_network.h"
#include "tests/support/program_runner.h"

namespace qc {
namespace {

void Press(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent event(QEvent::KeyPress, key, modifiers);
  QCoreApplication::sendEvent(widget, &event);
}

class WidgetsTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tray_.Init(false, 0)); }
  ~WidgetsTest() override {
    tray_.Shutdown();
    Log().Enable(false);
  }

  test::TempDir dir_;
  test::FakeUiServices ui_;
  test::FakeView view_;
  test::FakeAcceleration accel_;
  SettingsFile file_{dir_.Path() + "/Vorazudud.conf"};
  qcTray tray_{ui_, view_, file_, accel_, [] { return std::make_unique<test::FakeEngine>(); }};
};

TEST_F(WidgetsTest, SettingsDialogShowsTheControllersSettings) {
  SettingsDialog dialog(tray_);
  EXPECT_EQ(dialog.windowTitle(), "Quillcast Settings");
  EXPECT_EQ(dialog.PortBox()->text(), "5982");
  EXPECT_EQ(dialog.PeriodBox()->text(), "10");
  EXPECT_FALSE(dialog.AccelerationBox()->isChecked());
  EXPECT_EQ(dialog.AccelerationBox()->text(), "Auto disable graphics hardware acceleration");
  EXPECT_EQ(dialog.LoggingBox()->text(), "Enable logging to Quillcast.log text file");
  EXPECT_EQ(dialog.StartHotkeyField()->text(), "Alt + F12");
  EXPECT_EQ(dialog.PauseHotkeyField()->text(), "Alt + F11");
  dialog.StartHotkeyBox()->setChecked(false);
  EXPECT_FALSE(dialog.StartHotkeyField()->isEnabled());
}

TEST_F(WidgetsTest, SettingsDialogSharesTheChosenMonitor) {
  tray_.SetMonitorLister([] { return std::vector<MonitorInfo>{{"DP-1", {0, 0, 800, 600}, true}}; });
  for (int pick : {-1, 1}) {  // -1: the choice left alone
    SettingsDialog dialog(tray_);
    QComboBox* box = dialog.ShareBox();
    EXPECT_EQ(box->itemText(0) + "|" + box->itemText(1), "Whole screen|DP-1 (800x600)");
    EXPECT_EQ(box->currentIndex(), 0);
    if (pick >= 0) box->setCurrentIndex(pick);
    dialog.ShowBoxes(false);
    dialog.OkButton()->click();
    EXPECT_EQ(tray_.Settings().monitor, std::max(pick, 0));
  }
}

TEST_F(WidgetsTest, SettingsDialogVideoChoicesReachTheController) {
  SettingsDialog dialog(tray_);
  dialog.ShowBoxes(false);
  QComboBox* mode = dialog.VideoModeBox();
  ASSERT_EQ(mode->count(), 3);
  EXPECT_EQ(mode->currentIndex(), 2);  // auto
  EXPECT_EQ(dialog.VideoBitrateBox()->text(), "3500");
  mode->setCurrentIndex(0);
  dialog.VideoBitrateBox()->setText("99999");
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.VideoBitrateBox()->text(), "50000");
  EXPECT_EQ(dialog.LastMessage().toStdString(), kInvalidVideoBitrateText);
  EXPECT_EQ(dialog.result(), 0);  // still open
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(tray_.Settings().videoMode, 0);
  EXPECT_EQ(tray_.Settings().videoBitrate, 50000);
}

TEST_F(WidgetsTest, SpinsKeysAndOkShowTheRulesAnswersAndReachTheController) {
  SettingsDialog dialog(tray_);
  dialog.ShowBoxes(false);
  dialog.PortBox()->setText("6001");
  dialog.PortSpin()->Up()->click();
  EXPECT_EQ(dialog.PortBox()->text(), "6004");
  dialog.PortSpin()->Down()->click();
  EXPECT_EQ(dialog.PortBox()->text(), "6002");
  dialog.PeriodBox()->setText("45");
  dialog.PeriodSpin()->Up()->click();
  EXPECT_EQ(dialog.PeriodBox()->text(), "50");
  Press(dialog.PeriodBox(), Qt::Key_Down);  // the arrow key steps too
  EXPECT_EQ(dialog.PeriodBox()->text(), "45");
  EXPECT_TRUE(dialog.LastMessage().isEmpty());

  dialog.PeriodBox()->setText("3");
  emit dialog.PeriodBox()->editingFinished();  // the box lost the focus
  EXPECT_EQ(dialog.PeriodBox()->text(), "5");
  EXPECT_EQ(dialog.LastMessage().toStdString(), kInvalidPeriodText);

  dialog.PortBox()->setText("6001");
  dialog.PauseHotkeyBox()->setChecked(false);
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.PortBox()->text(), "6002");
  EXPECT_EQ(dialog.LastMessage().toStdString(), kInvalidPortDialogText);
  EXPECT_EQ(dialog.result(), 0);  // still open
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(tray_.Settings().updatePeriod, 5);
  EXPECT_EQ(ui_.hotkeys.count(1), 0u);
}

TEST_F(WidgetsTest, CommandLinePortDisablesOnlyTheBox) {
  tray_.SetPortFromCommandLine();
  SettingsDialog dialog(tray_);
  EXPECT_FALSE(dialog.PortBox()->isEnabled());
  dialog.PortSpin()->Up()->click();
  EXPECT_EQ(dialog.PortBox()->text(), "5984");
}

TEST_F(WidgetsTest, HotkeyFieldTakesTheNextKey) {
  struct Case {
    int key;
    Qt::KeyboardModifiers modifiers;
    uint32_t code;
    const char* text;
  };
  HotkeyEdit field;
  for (const Case& c : {Case{Qt::Key_F10, Qt::ControlModifier | Qt::ShiftModifier, 0x0379,
                             "Ctrl + Shift + F10"},
                        Case{Qt::Key_Q, Qt::MetaModifier, 0x0851, nullptr},
                        Case{Qt::Key_Backspace, Qt::NoModifier, 0, "None"},
                        Case{Qt::Key_5, Qt::AltModifier | Qt::KeypadModifier, 0x0465, nullptr}}) {
    Press(&field, c.key, c.modifiers);
    EXPECT_EQ(field.Code(), c.code) << c.key;
    if (c.text) {
      EXPECT_EQ(field.text(), c.text);
    }
  }
  EXPECT_EQ(HotkeyEdit::CodeText(0x0541), "Shift + Alt + A");
  EXPECT_EQ(HotkeyEdit::VirtualKeyOf(Qt::Key_Exclam, false), '1');
  EXPECT_EQ(HotkeyEdit::VirtualKeyOf(Qt::Key_BracketLeft, false), 0xDB);
  EXPECT_EQ(HotkeyEdit::VirtualKeyOf(Qt::Key_CapsLock, false), 0);
}

TEST_F(WidgetsTest, TrayMenuShowsTheControllersStateAndSendsItsCommands) {
  QtTrayView view;
  QList<QAction*> actions = view.Menu()->actions();
  QStringList items;
  for (QAction* a : actions) {
    items << (a->isSeparator() ? QStringLiteral("-")
                               : a->text() + QLatin1Char('=') + QString::number(a->data().toInt()));
  }
  EXPECT_EQ(items.join(QLatin1Char('|')),
            "&Start Transmission=40004|&Pause Transmission=40005|Send &Full-Screen Update=40007|"
            "Share=0|-|S&ettings...=40006|&About Quillcast...=40001|-|&Quit=40002");
  EXPECT_EQ(view.Menu()->defaultAction(), actions[0]);
  EXPECT_FALSE(actions[1]->isEnabled() || actions[2]->isEnabled());

  TrayMenu paused;
  paused.first = ID_STOP_TRANSMISSION;
  paused.pauseEnabled = true;
  paused.pauseChecked = true;
  view.SetMenu(paused);
  EXPECT_EQ(actions[0]->text(), "&Stop Transmission");
  EXPECT_EQ(actions[0]->data().toInt(), ID_STOP_TRANSMISSION);
  EXPECT_TRUE(actions[1]->isChecked());
  EXPECT_FALSE(actions[2]->isEnabled());

  TrayMenu warning;
  warning.startEnabled = false;
  warning.quitEnabled = false;
  view.SetMenu(warning);
  EXPECT_FALSE(actions[0]->isEnabled() || actions[8]->isEnabled());

  TrayMenu monitors;
  monitors.monitors = {"DP-1 (1920x1080)", "HDMI-1 (1280x720)"};
  monitors.shared = 1;
  view.SetMenu(monitors);
  QList<QAction*> share = actions[3]->menu()->actions();
  ASSERT_EQ(share.size(), 3);
  EXPECT_EQ(share[0]->text() + "|" + share[2]->text(), "Whole screen|HDMI-1 (1280x720)");
  EXPECT_TRUE(share[1]->isChecked() && !share[0]->isChecked() && !share[2]->isChecked());

  view.Attach(tray_, {});
  share[2]->trigger();
  EXPECT_EQ(tray_.ShareChoice().monitor, 2);
  view.SetMenu(TrayMenu{});
  actions[0]->trigger();
  EXPECT_EQ(tray_.CurrentState(), qcTray::State::Starting);
}

TEST_F(WidgetsTest, TrayIconsAreThereInEverySize) {
  for (int i = 0; i < 5; ++i) {
    QIcon icon = TrayIconImage(i);
    EXPECT_EQ(icon.availableSizes().size(), 6) << i;
    EXPECT_EQ(icon.pixmap(32, 32).size(), QSize(32, 32)) << i;
  }
  EXPECT_TRUE(TrayIconImage(5).isNull());
}

TEST_F(WidgetsTest, AboutBoxTextsAndResults) {
  AboutBox box;
  EXPECT_EQ(box.windowTitle(), "About Quillcast");
  EXPECT_TRUE(AboutBox::BuildStamp().startsWith("Built on "));
  EXPECT_EQ(box.CloseButton()->text(), "Close Window");
  EXPECT_TRUE(box.CloseButton()->isDefault());
  EXPECT_EQ(box.UpdatesButton()->text(), "Check for &Updates...");
  QTimer::singleShot(0, &box, [&box] { box.UpdatesButton()->click(); });
  EXPECT_EQ(box.exec(), 1000);
  QTimer::singleShot(0, &box, [&box] { box.reject(); });  // Esc, the close box
  EXPECT_EQ(box.exec(), 2);
}

TEST_F(WidgetsTest, Screenshots) {
  const char* dir = getenv("QC_SCREENSHOT_DIR");
  if (dir == nullptr) GTEST_SKIP() << "QC_SCREENSHOT_DIR not set";
  SettingsDialog settings(tray_);
  settings.show();
  AboutBox about;
  about.show();
  QApplication::processEvents();
  EXPECT_TRUE(settings.grab().save(QString(dir) + "/qcsend-settings.png"));
  EXPECT_TRUE(about.grab().save(QString(dir) + "/qcsend-about.png"));
}

}  // namespace
}  // namespace qc

int main(int argc, char** argv) {
  qc::test::EnterPrivateNetworkNamespace();  // the controller opens its sockets
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);  // no session bus needed
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
