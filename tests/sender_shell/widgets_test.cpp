// The Qt dialogs and the tray menu, driven through their widgets on the
// offscreen platform (or on an X server when QT_QPA_PLATFORM says so). With
// QC_SCREENSHOT_DIR set, the settings dialog and the About box are saved
// there as qcsend-settings.png and qcsend-about.png.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <cstdlib>

#include "common/log_file.h"
#include "platform/settings_file.h"
#include "sender/shell/qt_dialogs.h"
#include "sender/shell/qt_tray_view.h"
#include "sender/shell/qc_tray.h"
#include "tests/sender_shell/fakes.h"
#include "tests/support/program_runner.h"

namespace qc {
namespace {

// One QApplication for the binary, made before the first test and
// destroyed after the last.
class QtEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // No session bus: the tests need none.
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
    static int argc = 1;
    static char name[] = "sender_widgets_test";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QApplication> app_;
};

const testing::Environment* const kQtEnvironment =
    testing::AddGlobalTestEnvironment(new QtEnvironment);

class WidgetsTest : public testing::Test {
 protected:
  ~WidgetsTest() override {
    tray_.Shutdown();
    Log().Enable(false);
  }

  test::TempDir dir_;
  test::FakeView view_;
  test::FakeAcceleration accel_;
  SettingsFile file_{dir_.Path() + "/Vorazudud.conf"};
  qcTray tray_{view_, file_, accel_, [] { return std::make_unique<test::FakeEngine>(); }};
};

TEST_F(WidgetsTest, SettingsDialogShowsTheControllersSettings) {
  ASSERT_TRUE(tray_.Init(false, 0));
  SettingsDialog dialog(tray_);
  EXPECT_EQ(dialog.windowTitle(), "Quillcast Settings");
  EXPECT_EQ(dialog.PortBox()->text(), "5982");
  EXPECT_EQ(dialog.PeriodBox()->text(), "10");
  EXPECT_FALSE(dialog.AccelerationBox()->isChecked());
  EXPECT_EQ(dialog.AccelerationBox()->text(), "Auto disable graphics hardware acceleration");
  EXPECT_EQ(dialog.LoggingBox()->text(), "Enable logging to Quillcast.log text file");
  EXPECT_TRUE(dialog.StartHotkeyBox()->isChecked());
  EXPECT_EQ(dialog.StartHotkeyField()->text(), "Alt + F12");
  EXPECT_EQ(dialog.PauseHotkeyField()->text(), "Alt + F11");
  EXPECT_TRUE(dialog.PortBox()->isEnabled());
  dialog.StartHotkeyBox()->setChecked(false);
  EXPECT_FALSE(dialog.StartHotkeyField()->isEnabled());
  dialog.StartHotkeyBox()->setChecked(true);
  EXPECT_TRUE(dialog.StartHotkeyField()->isEnabled());
}

TEST_F(WidgetsTest, PortSpinAndOkShowTheCorrectedPortAndTheHotkeyBoxReachesTheController) {
  ASSERT_TRUE(tray_.Init(false, 0));
  SettingsDialog dialog(tray_);
  dialog.ShowBoxes(false);
  dialog.PortBox()->setText("6001");
  dialog.PortSpin()->Up()->click();
  EXPECT_EQ(dialog.PortBox()->text(), "6004");
  dialog.PortSpin()->Down()->click();
  EXPECT_EQ(dialog.PortBox()->text(), "6002");
  EXPECT_TRUE(dialog.LastMessage().isEmpty());

  dialog.PortBox()->setText("6001");
  dialog.PauseHotkeyBox()->setChecked(false);
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.PortBox()->text(), "6002");
  EXPECT_EQ(dialog.LastMessage().toStdString(), kInvalidPortDialogText);
  EXPECT_EQ(dialog.result(), 0);  // still open
  dialog.OkButton()->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  EXPECT_EQ(view_.hotkeys.count(1), 0u);
}

TEST_F(WidgetsTest, PeriodArrowsAndCorrection) {
  ASSERT_TRUE(tray_.Init(false, 0));
  SettingsDialog dialog(tray_);
  dialog.ShowBoxes(false);
  dialog.PeriodBox()->setText("45");
  dialog.PeriodSpin()->Up()->click();
  EXPECT_EQ(dialog.PeriodBox()->text(), "50");
  QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
  QCoreApplication::sendEvent(dialog.PeriodBox(), &down);  // the arrow key steps too
  EXPECT_EQ(dialog.PeriodBox()->text(), "45");
  EXPECT_TRUE(dialog.LastMessage().isEmpty());

  dialog.PeriodBox()->setText("3");
  emit dialog.PeriodBox()->editingFinished();  // the box lost the focus
  EXPECT_EQ(dialog.PeriodBox()->text(), "5");
  EXPECT_EQ(dialog.LastMessage().toStdString(), kInvalidPeriodText);
  dialog.OkButton()->click();
  EXPECT_EQ(tray_.Settings().updatePeriod, 5);
}

TEST_F(WidgetsTest, CommandLinePortDisablesOnlyTheBox) {
  ASSERT_TRUE(tray_.Init(false, 7000));
  tray_.SetPortFromCommandLine();
  SettingsDialog dialog(tray_);
  EXPECT_FALSE(dialog.PortBox()->isEnabled());
  dialog.PortSpin()->Up()->click();
  EXPECT_EQ(dialog.PortBox()->text(), "7002");
}

TEST_F(WidgetsTest, HotkeyFieldTakesTheNextKey) {
  HotkeyEdit field;
  field.SetCode(0x047B);
  EXPECT_EQ(field.text(), "Alt + F12");
  EXPECT_EQ(HotkeyEdit::CodeText(0x0541), "Shift + Alt + A");
  QKeyEvent press(QEvent::KeyPress, Qt::Key_F10, Qt::ControlModifier | Qt::ShiftModifier);
  QCoreApplication::sendEvent(&field, &press);
  EXPECT_EQ(field.Code(), 0x0379u);
  EXPECT_EQ(field.text(), "Ctrl + Shift + F10");
  QKeyEvent letter(QEvent::KeyPress, Qt::Key_Q, Qt::MetaModifier);
  QCoreApplication::sendEvent(&field, &letter);
  EXPECT_EQ(field.Code(), 0x0851u);
  QKeyEvent clear(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
  QCoreApplication::sendEvent(&field, &clear);
  EXPECT_EQ(field.Code(), 0u);
  EXPECT_EQ(field.text(), "None");
  QKeyEvent keypad(QEvent::KeyPress, Qt::Key_5, Qt::AltModifier | Qt::KeypadModifier);
  QCoreApplication::sendEvent(&field, &keypad);
  EXPECT_EQ(field.Code(), 0x0465u);
  EXPECT_EQ(HotkeyEdit::VirtualKeyOf(Qt::Key_Exclam, false), '1');
  EXPECT_EQ(HotkeyEdit::VirtualKeyOf(Qt::Key_BracketLeft, false), 0xDB);
  EXPECT_EQ(HotkeyEdit::VirtualKeyOf(Qt::Key_CapsLock, false), 0);
}

TEST_F(WidgetsTest, TrayMenuFollowsTheState) {
  QtTrayView view;
  QList<QAction*> actions = view.Menu()->actions();
  QStringList items;
  for (QAction* a : actions) {
    items << (a->isSeparator() ? QStringLiteral("-")
                               : a->text() + QLatin1Char('=') + QString::number(a->data().toInt()));
  }
  EXPECT_EQ(items.join(QLatin1Char('|')),
            "&Start Transmission=40004|&Pause Transmission=40005|Send &Full-Screen Update=40007|-|"
            "S&ettings...=40006|&About Quillcast...=40001|-|&Quit=40002");
  EXPECT_EQ(view.Menu()->defaultAction(), actions[0]);
  EXPECT_TRUE(actions[0]->isEnabled());
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
  EXPECT_FALSE(actions[0]->isEnabled() || actions[7]->isEnabled());
}

TEST_F(WidgetsTest, TrayMenuCommandsReachTheController) {
  ASSERT_TRUE(tray_.Init(false, 0));
  QtTrayView view;
  view.Attach(tray_);
  view.Menu()->actions()[0]->trigger();
  EXPECT_EQ(tray_.CurrentState(), qcTray::State::Starting);
}

TEST_F(WidgetsTest, TrayIconsAreThereInEverySize) {
  for (int i = 0; i < 5; ++i) {
    QIcon icon = TrayIconImage(i);
    ASSERT_FALSE(icon.isNull()) << i;
    EXPECT_EQ(icon.availableSizes().size(), 6) << i;
    EXPECT_EQ(icon.pixmap(32, 32).size(), QSize(32, 32)) << i;
  }
  EXPECT_TRUE(TrayIconImage(5).isNull());
}

TEST_F(WidgetsTest, AboutBoxTextsAndResults) {
  AboutBox box;
  EXPECT_EQ(box.windowTitle(), "About Quillcast");
  EXPECT_TRUE(AboutBox::BuildStamp().startsWith("Built on "));
  EXPECT_TRUE(AboutBox::BuildStamp().contains(" at "));
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
  ASSERT_TRUE(tray_.Init(false, 0));
  SettingsDialog settings(tray_);
  settings.show();
  QApplication::processEvents();
  EXPECT_TRUE(settings.grab().save(QString(dir) + "/qcsend-settings.png"));
  AboutBox about;
  about.show();
  QApplication::processEvents();
  EXPECT_TRUE(about.grab().save(QString(dir) + "/qcsend-about.png"));
}

}  // namespace
}  // namespace qc
