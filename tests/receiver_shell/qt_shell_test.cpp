// The Qt side of the receiver shell under the offscreen platform: the
// snapshot's pixel conversion and PNG file, and the settings dialog, the
// tray menu and the tray images as the user meets them.
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

#include "common/log_file.h"
#include "platform/qt/hotkey_edit.h"
#include "receiver/shell/dialogs.h"
#include "receiver/shell/qt_tray_view.h"
#include "receiver/shell/snapshot.h"
#include "receiver/shell/qv_tray.h"
#include "tests/receiver_shell/fakes.h"
#include "tests/support/private_network.h"

namespace qc {
namespace {

// ---- snapshot ---------------------------------------------------------------

FramebufferView View(std::vector<uint8_t>& pixels, int w, int h, int bpp, uint32_t r,
                         uint32_t g, uint32_t b) {
  FramebufferView v;
  v.pixels = pixels.data();
  v.width = w;
  v.height = h;
  v.bitsPerPixel = bpp;
  v.bytesPerRow = w * bpp / 8;
  v.redMask = r;
  v.greenMask = g;
  v.blueMask = b;
  v.bitFields = r && g && b;
  return v;
}

TEST(Snapshot, ThirtyTwoBitPixelsKeepTheirColoursAndIgnoreTheFourthByte) {
  std::vector<uint8_t> px = {0x10, 0x20, 0x30, 0xFF,   // B G R pad
                             0x00, 0x00, 0xFF, 0x00,   // red
                             0xFF, 0x00, 0x00, 0x7F,   // blue
                             0x00, 0xFF, 0x00, 0x00};  // green
  QImage img = FramebufferImage(View(px, 2, 2, 32, 0xFF0000, 0xFF00, 0xFF));
  ASSERT_FALSE(img.isNull());
  EXPECT_EQ(img.pixel(0, 0), qRgb(0x30, 0x20, 0x10));
  EXPECT_EQ(img.pixel(1, 0), qRgb(0xFF, 0, 0));
  EXPECT_EQ(img.pixel(0, 1), qRgb(0, 0, 0xFF));
  EXPECT_EQ(img.pixel(1, 1), qRgb(0, 0xFF, 0));
}

TEST(Snapshot, SixteenBitChannelsAreWidenedByRepeatingTheirBits) {
  // 5-6-5: white, pure red, a mid green (0x20 of 0x3F), a dark blue (1 of 31).
  std::vector<uint8_t> px = {0xFF, 0xFF, 0x00, 0xF8, 0x00, 0x04, 0x01, 0x00};
  QImage img = FramebufferImage(View(px, 4, 1, 16, 0xF800, 0x07E0, 0x001F));
  ASSERT_FALSE(img.isNull());
  EXPECT_EQ(img.pixel(0, 0), qRgb(255, 255, 255));
  EXPECT_EQ(img.pixel(1, 0), qRgb(255, 0, 0));
  EXPECT_EQ(img.pixel(2, 0), qRgb(0, (0x20 << 2) | (0x20 >> 4), 0));
  EXPECT_EQ(img.pixel(3, 0), qRgb(0, 0, (1 << 3) | (1 >> 2)));
  // The low bits are always those of the stored value: reducing back to
  // 5-6-5 gives the framebuffer exactly.
  for (int x = 0; x < 4; ++x) {
    QRgb c = img.pixel(x, 0);
    uint16_t back = static_cast<uint16_t>((qRed(c) >> 3) << 11 | (qGreen(c) >> 2) << 5 | qBlue(c) >> 3);
    EXPECT_EQ(back, px[2 * x] | px[2 * x + 1] << 8) << x;
  }
  // Without masks 16 bits mean the standard 5-5-5 layout: red, green.
  std::vector<uint8_t> px15 = {0x00, 0x7C, 0xE0, 0x03};
  QImage img15 = FramebufferImage(View(px15, 2, 1, 16, 0, 0, 0));
  ASSERT_FALSE(img15.isNull());
  EXPECT_EQ(img15.pixel(0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(img15.pixel(1, 0), qRgb(0, 255, 0));
}

TEST(Snapshot, WrittenPngReadsBackUnchangedAndNothingIsWrittenWithoutAPicture) {
  std::string none = "/tmp/qvsnap-none-" + std::to_string(getpid()) + ".png";
  EXPECT_FALSE(WriteSnapshot(FramebufferView{}, QString::fromStdString(none)));
  EXPECT_NE(access(none.c_str(), F_OK), 0);

  std::vector<uint8_t> px(64 * 8 * 4);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>(i * 7);
  FramebufferView v = View(px, 64, 8, 32, 0xFF0000, 0xFF00, 0xFF);
  std::string path = "/tmp/qvsnap-" + std::to_string(getpid()) + ".png";
  ASSERT_TRUE(WriteSnapshot(v, QString::fromStdString(path)));
  QImage back(QString::fromStdString(path));
  ASSERT_FALSE(back.isNull());
  EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), FramebufferImage(v));
  EXPECT_NE(access((path + ".part").c_str(), F_OK), 0);
  unlink(path.c_str());
}

// ---- settings dialog ---------------------------------------------------------

class SettingsDialogTest : public testing::Test {
 protected:
  SettingsDialogTest() {
    tray.SetHotKey(0, kDefaultHotkey, true);  // as Init does, without sockets
  }
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

  test::FakeView view;
  test::FakeViewer viewer;
  test::FakeStore store;
  qvTray tray{view, viewer, store};
};

TEST_F(SettingsDialogTest, InvalidPortIsReplacedWithABoxAndNothingIsApplied) {
  ReceiverSettingsDialog d(tray);
  d.show();
  d.PortField()->setText(QStringLiteral("5983"));
  bool accepted = true;
  EXPECT_TRUE(PressOk(d, &accepted));
  EXPECT_FALSE(accepted);
  EXPECT_EQ(d.PortField()->text(), QStringLiteral("5984"));
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(store.saves, 0);
}

TEST_F(SettingsDialogTest, ArrowsStepTheFieldAndOkAppliesAndSaves) {
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
  EXPECT_FALSE(view.registered);  // released at once
  EXPECT_EQ(tray.Port(), 6000);
}

TEST_F(SettingsDialogTest, CommandLinePortFieldIsDisabledButTheArrowsWork) {
  ASSERT_TRUE(tray.Init(5982));
  ReceiverSettingsDialog d(tray);
  d.show();
  EXPECT_FALSE(d.PortField()->isEnabled());
  d.StepPort(true);
  EXPECT_EQ(d.PortField()->text(), QStringLiteral("5984"));
}

TEST(AboutBox, BuiltTextHasTheCompilersDateAndTime) {
  QString t = AboutDialog::BuiltText();
  EXPECT_TRUE(t.startsWith(QStringLiteral("Built on ")));
  EXPECT_TRUE(t.contains(QStringLiteral(" at ")));
  EXPECT_EQ(t.size(), static_cast<int>(strlen("Built on Dec  6 2026 at 19:50:25")));
}

// ---- tray view -------------------------------------------------------------------

TEST(QtTrayViewMenu, ItemsGreyingAndTheWindowItem) {
  ReceiverQtTrayView view(/*hotkeys=*/false);
  test::FakeViewer viewer;
  test::FakeStore store;
  qvTray tray(view, viewer, store);
  view.Attach(tray);
  QStringList texts;
  for (QAction* a : view.Menu()->actions()) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
  EXPECT_EQ(texts.join(QLatin1Char('|')),
            QStringLiteral("&Full Screen|&Hide Window|S&how Window|&Request Refresh|-|&Settings...|"
                           "&About Quillview...|-|&Quit"));
  ASSERT_NE(view.Menu()->defaultAction(), nullptr);
  EXPECT_EQ(view.Menu()->defaultAction()->text(), QStringLiteral("&Full Screen"));

  auto action = [&](const char* text) {
    for (QAction* a : view.Menu()->actions()) {
      if (a->text() == QLatin1String(text)) return a;
    }
    return static_cast<QAction*>(nullptr);
  };
  // Greyed while nothing is received; Settings, About and Quit stay.
  tray.OnMenuAboutToShow();
  for (const char* t : {"&Full Screen", "&Hide Window", "S&how Window", "&Request Refresh"}) {
    EXPECT_FALSE(action(t)->isEnabled()) << t;
  }
  for (const char* t : {"&Settings...", "&About Quillview...", "&Quit"}) {
    EXPECT_TRUE(action(t)->isEnabled()) << t;
  }
  view.EnableReceivingItems(true);
  EXPECT_TRUE(action("&Full Screen")->isEnabled());

  // Position 1 shows either Hide or Show.
  EXPECT_TRUE(action("&Hide Window")->isVisible());
  EXPECT_FALSE(action("S&how Window")->isVisible());
  view.SetWindowItem(false);
  EXPECT_FALSE(action("&Hide Window")->isVisible());
  EXPECT_TRUE(action("S&how Window")->isVisible());

  view.SetFullScreenChecked(true);
  EXPECT_TRUE(action("&Full Screen")->isChecked());
}

TEST(QtTrayViewIcons, EveryStateHasItsImages) {
  for (TrayImage image : {TrayImage::RedRed, TrayImage::RedGreen, TrayImage::GreenYellow,
                          TrayImage::GreenGreen, TrayImage::YellowGreen, TrayImage::YellowYellow}) {
    QIcon icon = TrayIconImage(image);
    QImage pixels = icon.pixmap(32, 32).toImage();
    ASSERT_FALSE(pixels.isNull()) << static_cast<int>(image);
    EXPECT_EQ(pixels.width(), 32);
  }
  // The frame colour tells the state: red, green, yellow at a frame pixel;
  // the centre shows the blink colour.
  auto at = [](TrayImage image, int x, int y) {
    return TrayIconImage(image).pixmap(32, 32).toImage().pixel(x, y);
  };
  EXPECT_GT(qRed(at(TrayImage::RedGreen, 16, 5)), 150);
  EXPECT_LT(qGreen(at(TrayImage::RedGreen, 16, 5)), 80);
  EXPECT_GT(qGreen(at(TrayImage::RedGreen, 16, 16)), 120);
  EXPECT_LT(qRed(at(TrayImage::RedGreen, 16, 16)), 80);
  EXPECT_GT(qGreen(at(TrayImage::GreenYellow, 16, 5)), 120);
  EXPECT_GT(qRed(at(TrayImage::GreenYellow, 16, 16)), 200);   // yellow centre
  EXPECT_GT(qGreen(at(TrayImage::GreenYellow, 16, 16)), 160);
  EXPECT_GT(qRed(at(TrayImage::YellowYellow, 16, 5)), 200);
  EXPECT_GT(qGreen(at(TrayImage::YellowYellow, 16, 5)), 160);
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
