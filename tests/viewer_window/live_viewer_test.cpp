// The window with the real receiving core (qvViewer), fed by a synthetic
// sender through the real transport, in a private network namespace with
// its own Xvfb: the picture on screen follows the transmission, and a
// disconnection restarts the window without ending the program. (Restarts
// under load: stress_test.cpp.)
#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <vector>

#include "common/byte_order.h"
#include "receiver/viewer/viewer.h"
#include "receiver/viewer/viewer_window.h"
#include "tests/receiver/receiver_test_util.h"
#include "tests/receiver/synthetic_sender.h"
#include "tests/viewer_window/qt_test_env.h"

namespace qc::test {
namespace {

const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new QtEnvironment(true));

constexpr int kW = 640, kH = 480;

// Whether the window's client area shows the 32-bit frame.
bool ScreenShows(ViewerWindow& window, const std::vector<uint8_t>& frame) {
  if (!window.isVisible() || window.viewport()->size() != QSize(kW, kH)) return false;
  const QImage shot = GrabFromScreen(window, window.viewport()->geometry());
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const uint32_t want = ReadU32(frame.data() + (static_cast<size_t>(y) * kW + x) * 4) | 0xff000000u;
      if ((shot.pixel(x, y) | 0xff000000u) != want) return false;
    }
  }
  return true;
}

TEST(LiveViewerTest, ThePictureFollowsTheTransmissionAcrossADisconnection) {
  constexpr uint16_t kPort = 47120;
  RecordingOwner owner;
  std::atomic<int> restarted{0};
  qvViewer viewer;
  ViewerWindow window(viewer);
  // The tray's part on a disconnection: restart the window on the GUI thread.
  owner.onRestart = [&] {
    QMetaObject::invokeMethod(
        &window,
        [&] {
          window.SetRestarting();
          window.Stop();
          window.Start(&owner, kPort, false);
          ++restarted;
        },
        Qt::QueuedConnection);
  };
  ASSERT_TRUE(window.Start(&owner, kPort, false));

  SyntheticSender sender(kW, kH, 32);
  ASSERT_TRUE(sender.Open(kPort));
  std::vector<uint8_t> frame = MakeFrame(kW, kH, 32, 1);
  sender.SetFrame(frame);
  ASSERT_TRUE(sender.SendFullScreen());
  EXPECT_TRUE(ProcessUntil([&] { return ScreenShows(window, frame); }));
  EXPECT_EQ(window.geometry(), QRect((1280 - kW) / 2, (1024 - kH) / 2, kW, kH));

  // An update of rows 100 to 199.
  const std::vector<uint8_t> next = MakeFrame(kW, kH, 32, 2);
  std::copy(next.begin() + 100 * kW * 4, next.begin() + 200 * kW * 4, frame.begin() + 100 * kW * 4);
  sender.SetFrame(frame);
  ASSERT_TRUE(sender.SendRows(100, 200, PacketType::Update));
  EXPECT_TRUE(ProcessUntil([&] { return ScreenShows(window, frame); }));

  // The sender stops: the viewer restarts, the window goes away, the
  // program goes on.
  ASSERT_TRUE(sender.SendDisconnection());
  EXPECT_TRUE(ProcessUntil([&] { return restarted.load() == 1; }));
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(owner.fatals.load(), 0);

  // A new transmission brings it back with the new picture.
  sender.Close();
  SyntheticSender second(kW, kH, 32);
  ASSERT_TRUE(second.Open(kPort));
  const std::vector<uint8_t> third = MakeFrame(kW, kH, 32, 3);
  second.SetFrame(third);
  ASSERT_TRUE(second.SendFullScreen());
  EXPECT_TRUE(ProcessUntil([&] { return ScreenShows(window, third); }));

  // Closing the window ends the program through the owner.
  window.close();
  EXPECT_EQ(owner.fatals.load(), 1);
  window.Stop();
}

}  // namespace
}  // namespace qc::test
