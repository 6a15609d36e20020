// Global hotkeys on a private Xvfb (:65): grabbing a stored hot-key code,
// a press through XTEST (xdotool), the lock-key variants, a combination
// held by another client, and the code-to-keysym table.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <poll.h>

#include <cstdlib>
#include <string>

#include "platform/x11_hotkeys.h"
#include "tests/capture/xvfb_server.h"

namespace qc {
namespace {

TEST(X11HotkeyTableTest, VirtualKeysBecomeKeysyms) {
  EXPECT_EQ(X11Hotkeys::KeysymForVirtualKey(0x7B), 0xFFC9u);  // F12
  EXPECT_EQ(X11Hotkeys::KeysymForVirtualKey(0x7A), 0xFFC8u);  // F11
  EXPECT_EQ(X11Hotkeys::KeysymForVirtualKey(0x70), 0xFFBEu);  // F1
  EXPECT_EQ(X11Hotkeys::KeysymForVirtualKey(0x87), 0xFFD5u);  // F24
  EXPECT_EQ(X11Hotkeys::KeysymForVirtualKey('A'), static_cast<uint32_t>('a'));
  EXPECT_EQ(X11Hotkeys::KeysymForVirtualKey('7'), static_cast<uint32_t>('7'));
  EXPECT_EQ(X11Hotkeys::KeysymForVirtualKey(0x65), 0xFFB5u);  // keypad 5
  EXPECT_EQ(X11Hotkeys::KeysymForVirtualKey(0x2E), 0xFFFFu);  // Delete
  EXPECT_EQ(X11Hotkeys::KeysymForVirtualKey(0xBA), static_cast<uint32_t>(';'));
  EXPECT_EQ(X11Hotkeys::KeysymForVirtualKey(0x00), 0u);
  EXPECT_EQ(X11Hotkeys::KeysymForVirtualKey(0xFF), 0u);
}

TEST(X11HotkeyTableTest, ModifierFlagsBecomeXMasks) {
  EXPECT_EQ(X11Hotkeys::ModifierMask(0x047B), 1u << 3);  // Alt: Mod1
  EXPECT_EQ(X11Hotkeys::ModifierMask(0x017B), 1u << 0);  // Shift
  EXPECT_EQ(X11Hotkeys::ModifierMask(0x027B), 1u << 2);  // Control
  EXPECT_EQ(X11Hotkeys::ModifierMask(0x087B), 1u << 6);  // Super: Mod4
  EXPECT_EQ(X11Hotkeys::ModifierMask(0x0F7B), (1u << 0) | (1u << 2) | (1u << 3) | (1u << 6));
  EXPECT_EQ(X11Hotkeys::ModifierMask(0x007B), 0u);
}

class X11HotkeysTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { xvfb_ = new test::XvfbServer(65, "320x240x24"); }
  static void TearDownTestSuite() {
    delete xvfb_;
    xvfb_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(xvfb_->Ready());
    if (std::system("command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "xdotool missing";
  }
  static void Press(const std::string& keys) {
    std::string cmd = "DISPLAY=" + xvfb_->Display() + " xdotool key " + keys;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  // Reads events until one hotkey press arrives (guarded against a hang).
  static int NextHotkey(X11Hotkeys& hotkeys) {
    int id = -1;
    for (int i = 0; i < 100 && id < 0; ++i) {
      pollfd p{hotkeys.Fd(), POLLIN, 0};
      poll(&p, 1, 100);
      hotkeys.ProcessEvents([&id](int pressed) { id = pressed; });
    }
    return id;
  }
  static inline test::XvfbServer* xvfb_ = nullptr;
};

TEST_F(X11HotkeysTest, GrabbedHotkeyIsReported) {
  auto hotkeys = X11Hotkeys::Open(xvfb_->Display());
  ASSERT_TRUE(hotkeys);
  ASSERT_TRUE(hotkeys->Grab(0, 0x047B));  // Alt+F12
  ASSERT_TRUE(hotkeys->Grab(1, 0x047A));  // Alt+F11
  Press("alt+F12");
  EXPECT_EQ(NextHotkey(*hotkeys), 0);
  Press("alt+F11");
  EXPECT_EQ(NextHotkey(*hotkeys), 1);
  // The lock keys do not stop a hotkey.
  Press("Caps_Lock");
  Press("alt+F12");
  EXPECT_EQ(NextHotkey(*hotkeys), 0);
  Press("Caps_Lock");
  // Released: the next press reported is the other hotkey's.
  hotkeys->Ungrab(0);
  Press("alt+F12");
  Press("alt+F11");
  EXPECT_EQ(NextHotkey(*hotkeys), 1);
}

TEST_F(X11HotkeysTest, CombinationHeldByAnotherClientFails) {
  auto first = X11Hotkeys::Open(xvfb_->Display());
  auto second = X11Hotkeys::Open(xvfb_->Display());
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(first->Grab(0, 0x0341));  // Ctrl+Shift+A
  EXPECT_FALSE(second->Grab(0, 0x0341));
  EXPECT_TRUE(second->Grab(0, 0x0342));
  EXPECT_FALSE(first->Grab(1, 0x0400));  // no key
  first.reset();  // its grabs end with its connection
  // The server drops the grabs when it has processed the disconnection, which
  // may come after the next request of another client: retry for a while.
  bool grabbed = false;
  for (int i = 0; i < 100 && !grabbed; ++i) {
    grabbed = second->Grab(1, 0x0341);
    if (!grabbed) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(grabbed);
}

TEST(X11HotkeysOpenTest, NoDisplayGivesNothing) {
  EXPECT_EQ(X11Hotkeys::Open(":68"), nullptr);  // nothing runs on :68
}

}  // namespace
}  // namespace qc
