// SPDX-License-Identifier: GPL-3.0-or-later
// Global hotkeys on a private Xvfb: grabbing a stored hot-key code,
// a press through XTEST (xdotool), the lock-key variants, a combination
// held by another client, and the code-to-keysym table.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <poll.h>

#include <cstdlib>
#include <string>

#include "platform/x11/x11_hotkeys.h"
#include "tests/support/xvfb_server.h"

namespace qc {
namespace {

TEST(X11HotkeyTableTest, VirtualKeysAndModifiersBecomeKeysymsAndXMasks) {
  // F12, F11, F1, F24, letter, digit, keypad 5, Delete, ';', none, none.
  for (auto [vk, keysym] : {std::pair<uint8_t, uint32_t>{0x7B, 0xFFC9}, {0x7A, 0xFFC8},
                            {0x70, 0xFFBE}, {0x87, 0xFFD5}, {'A', 'a'}, {'7', '7'},
                            {0x65, 0xFFB5}, {0x2E, 0xFFFF}, {0xBA, ';'}, {0x00, 0}, {0xFF, 0}}) {
    EXPECT_EQ(X11Hotkeys::KeysymForVirtualKey(vk), keysym) << std::hex << static_cast<int>(vk);
  }
  // Alt: Mod1, Shift, Control, Super: Mod4.
  for (auto [code, mask] : {std::pair<uint32_t, uint32_t>{0x047B, 1u << 3}, {0x017B, 1u << 0},
                            {0x027B, 1u << 2}, {0x087B, 1u << 6},
                            {0x0F7B, (1u << 0) | (1u << 2) | (1u << 3) | (1u << 6)},
                            {0x007B, 0}}) {
    EXPECT_EQ(X11Hotkeys::ModifierMask(code), mask) << std::hex << code;
  }
}

class X11HotkeysTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { xvfb_ = new test::XvfbServer("320x240x24"); }
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
