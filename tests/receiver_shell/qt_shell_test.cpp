// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt side of the receiver shell under the offscreen platform: the
// snapshot's pixel conversion and PNG file, and the wiring of the settings
// dialog and the tray menu to the controller (whose rules are tested on the
// controller itself).
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <cstdlib>
#include <vector>

#include "platform/qt/hotkey_edit.h"
#include "receiver/shell/qt/dialogs.h"
#include "receiver/shell/qt/qt_tray_view.h"
#include "receiver/shell/qt/snapshot.h"
#include "receiver/shell/qv_tray.h"
#include "tests/receiver_shell/fakes.h"
#include "tests/support/private_network.h"

namespace qc {
namespace {

// ---- snapshot ---------------------------------------------------------------

FramebufferView View(const std::vector<uint8_t>& pixels, int w, int h, int bpp, uint32_t r,
                     uint32_t g, uint32_t b) {
  return {.pixels = pixels.data(), .width = w, .height = h, .bitsPerPixel = bpp,
          .bytesPerRow = w * bpp / 8, .redMask = r, .greenMask = g, .blueMask = b,
          .bitFields = r && g && b};
}

TEST(Snapshot, ThirtyTwoBitPixelsKeepTheirColoursAndIgnoreTheFourthByte) {
  std::vector<uint8_t> px = {0x10, 0x20, 0x30, 0xFF,   // B G R pad
                             0x00, 0x00, 0xFF, 0x7F};  // red
  QImage img = FramebufferImage(View(px, 2, 1, 32, 0xFF0000, 0xFF00, 0xFF));
  EXPECT_EQ(img.pixel(0, 0), qRgb(0x30, 0x20, 0x10));
  EXPECT_EQ(img.pixel(1, 0), qRgb(0xFF, 0, 0));
}

TEST(Snapshot, SixteenBitChannelsAreWidenedByRepeatingTheirBits) {
  // 5-6-5: white, pure red, a mid green (0x20 of 0x3F), a dark blue (1 of 31).
  std::vector<uint8_t> px = {0xFF, 0xFF, 0x00, 0xF8, 0x00, 0x04, 0x01, 0x00};
  QImage img = FramebufferImage(View(px, 4, 1, 16, 0xF800, 0x07E0, 0x001F));
  EXPECT_EQ(img.pixel(0, 0), qRgb(255, 255, 255));
  EXPECT_EQ(img.pixel(1, 0), qRgb(255, 0, 0));
  EXPECT_EQ(img.pixel(2, 0), qRgb(0, (0x20 << 2) | (0x20 >> 4), 0));
  EXPECT_EQ(img.pixel(3, 0), qRgb(0, 0, (1 << 3) | (1 >> 2)));
  // Without masks 16 bits mean the standard 5-5-5 layout: red, green.
  std::vector<uint8_t> px15 = {0x00, 0x7C, 0xE0, 0x03};
  QImage img15 = FramebufferImage(View(px15, 2, 1, 16, 0, 0, 0));
  EXPECT_EQ(img15.pixel(0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(img15.pixel(1, 0), qRgb(0, 255, 0));
}

TEST(Snapshot, WrittenPngReadsBackUnchangedAndNothingIsWrittenWithoutAPicture) {
  std::string path = "/tmp/qvsnap-" + std::to_string(getpid()) + ".png";
  EXPECT_FALSE(WriteSnapshot(FramebufferView{}, QString::fromStdString(path)));
  EXPECT_NE(access(path.c_str(), F_OK), 0);

  std::vector<uint8_t> px(64 * 8 * 4);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 7);
  FramebufferView v = View(px, 64, 8, 32, 0xFF0000, 0xFF00, 0xFF);
  ASSERT_TRUE(WriteSnapshot(v, QString::fromStdString(path)));
  QImage back(QString::fromStdString(path));
  EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), FramebufferImage(v));
  EXPECT_NE(access((path + ".part").c_str(), F_OK), 0);
  unlink(path.c_str());
}

// ---- dialogs -----------------------------------------------------------------

class SettingsDialogTest : public testing::Test {
 protected:
  SettingsDialogTest() { tray.SetHotKey(0, kDefaultHotkey, true); }  // as Init does
  // Presses OK; a message box that opens is closed again at once. Returns
  // whether one opened.
  bool PressOk(ReceiverSettingsDialog& d, bool* accepted) {
    bool boxShown = false;
    QTimer::singleShot(0, [&] {
      if (QWidget* box = QApplication::activeModalWidget(); box && box != &d) {
        boxShown = true;
        box->close();
      }
    });
    *accepted = d.TryAccept();
    return boxShown;
  }

  test::FakeUiServices ui;
  test::FakeView view;
  test::FakeViewer viewer;
  test::FakeStore store;
  qvTray tray{ui, view, viewer, store};
};

TEST_F(SettingsDialogTest, InvalidPortIsReplacedWithABoxAndTheDialogStays) {
  ReceiverSettingsDialog d(tray);
  d.show();
  EXPECT_EQ(d.windowTitle(), QStringLiteral("Quillview Settings"));
  d.PortField()->setText(QStringLiteral("5983"));
  bool accepted = true;
  EXPECT_TRUE(PressOk(d, &accepted));
  EXPECT_FALSE(accepted);
  EXPECT_EQ(d.PortField()->text(), QStringLiteral("5984"));
  EXPECT_TRUE(d.isVisible());
}

TEST_F(SettingsDialogTest, ArrowsStepTheFieldAndOkHandsTheWidgetsToTheController) {
  ReceiverSettingsDialog d(tray);
  d.show();
  EXPECT_EQ(d.PortField()->text(), QStringLiteral("5982"));
  EXPECT_EQ(d.HotKeyField()->text(), QStringLiteral("Ctrl + F12"));
  d.PortField()->setText(QStringLiteral("5997"));
  QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
  QCoreApplication::sendEvent(d.PortField(), &up);
  EXPECT_EQ(d.PortField()->text(), QStringLiteral("6000"));
  d.FullScreenBox()->setChecked(true);
  d.HotKeyBox()->click();
  EXPECT_FALSE(d.HotKeyField()->isEnabled());
  bool accepted = false;
  EXPECT_FALSE(PressOk(d, &accepted));
  EXPECT_TRUE(accepted);
  EXPECT_EQ(store.saved.port, 6000);
  EXPECT_TRUE(store.saved.fullScreen);
  EXPECT_FALSE(store.saved.hotkeyEnabled);
}

TEST_F(SettingsDialogTest, CommandLinePortFieldIsDisabledButTheArrowsWork) {
  ASSERT_TRUE(tray.Init(5982));
  ReceiverSettingsDialog d(tray);
  EXPECT_FALSE(d.PortField()->isEnabled());
  d.StepPort(true);
  EXPECT_EQ(d.PortField()->text(), QStringLiteral("5984"));
}

TEST(AboutBox, TitleAndTheCompilersDateAndTime) {
  EXPECT_EQ(AboutDialog().windowTitle(), QStringLiteral("About Quillview"));
  QString t = AboutDialog::BuiltText();
  EXPECT_TRUE(t.startsWith(QStringLiteral("Built on ")));
  EXPECT_EQ(t.size(), static_cast<int>(strlen("Built on Dec  6 2026 at 19:50:25")));
}

// ---- tray view -------------------------------------------------------------------

TEST(QtTrayViewMenu, ItemsGreyingAndTheWindowItem) {
  ReceiverQtTrayView view;
  test::FakeUiServices ui;
  test::FakeViewer viewer;
  test::FakeStore store;
  qvTray tray(ui, view, viewer, store);
  view.Attach(tray);
  QList<QAction*> actions = view.Menu()->actions();
  QStringList texts;
  for (QAction* a : actions) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
  EXPECT_EQ(texts.join(QLatin1Char('|')),
            QStringLiteral("&Full Screen|&Hide Window|S&how Window|&Request Refresh|-|&Settings...|"
                           "&About Quillview...|-|&Quit"));
  EXPECT_EQ(view.Menu()->defaultAction(), actions[0]);

  // Greyed while nothing is received; Settings, About and Quit stay.
  tray.OnMenuAboutToShow();
  for (int i : {0, 1, 2, 3}) EXPECT_FALSE(actions[i]->isEnabled()) << i;
  for (int i : {5, 6, 8}) EXPECT_TRUE(actions[i]->isEnabled()) << i;
  view.EnableReceivingItems(true);
  EXPECT_TRUE(actions[0]->isEnabled());

  // Position 1 shows either Hide or Show.
  EXPECT_TRUE(actions[1]->isVisible() && !actions[2]->isVisible());
  view.SetWindowItem(false);
  EXPECT_TRUE(!actions[1]->isVisible() && actions[2]->isVisible());
  view.SetFullScreenChecked(true);
  EXPECT_TRUE(actions[0]->isChecked());
}

TEST(QtTrayViewIcons, EveryStateHasItsImageAndTheFrameTellsTheState) {
  auto at = [](TrayImage image, int x, int y) {
    return TrayIconImage(image).pixmap(32, 32).toImage().pixel(x, y);
  };
  for (TrayImage image : {TrayImage::RedRed, TrayImage::RedGreen, TrayImage::GreenYellow,
                          TrayImage::GreenGreen, TrayImage::YellowGreen, TrayImage::YellowYellow}) {
    EXPECT_FALSE(TrayIconImage(image).pixmap(32, 32).isNull()) << static_cast<int>(image);
  }
  // Red, green, yellow frames; the centre shows the blink colour.
  EXPECT_GT(qRed(at(TrayImage::RedGreen, 16, 5)), 150);
  EXPECT_GT(qGreen(at(TrayImage::RedGreen, 16, 16)), 120);
  EXPECT_GT(qGreen(at(TrayImage::GreenYellow, 16, 5)), 120);
  EXPECT_LT(qRed(at(TrayImage::GreenYellow, 16, 5)), 80);
  EXPECT_GT(qRed(at(TrayImage::YellowYellow, 16, 5)) + qGreen(at(TrayImage::YellowYellow, 16, 5)),
            360);
}

}  // namespace
}  // namespace qc

int main(int argc, char** argv) {
  qc::test::EnterPrivateNetworkNamespace();  // the tray's service socket
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
