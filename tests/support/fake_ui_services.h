// SPDX-License-Identifier: GPL-3.0-or-later
// The UI services both controllers run on, as a test sees them: work posted
// (from any thread) waits until the test runs it, timers and hotkeys are
// kept with their ticks and presses for the test to fire, and message boxes
// are recorded, with a hook that runs while the box is "open".
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "shell/ui_services.h"

namespace qc::test {

struct ShownMessage {
  std::string caption;
  std::string text;
  MessageIcon icon;
};

class FakeUiServices : public UiServices {
 public:
  void Post(std::function<void()> task) override {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(task));
  }
  // Runs posted work, and whatever it posts, in order; returns how much ran.
  int RunPosted() {
    for (int n = 0;; ++n) {
      std::function<void()> task;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (posted_.empty()) return n;
        task = std::move(posted_.front());
        posted_.pop_front();
      }
      task();
    }
  }
  size_t PostedCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return posted_.size();
  }

  void StartTimer(int id, int intervalMs, std::function<void()> tick) override {
    timers[id] = intervalMs;
    ticks_[id] = std::move(tick);
  }
  void StopTimer(int id) override { timers.erase(id); }
  // The running timer's interval; -1 when it does not run. Id: a
  // controller's timer enum.
  template <class Id>
  int TimerMs(Id id) const {
    auto it = timers.find(static_cast<int>(id));
    return it == timers.end() ? -1 : it->second;
  }
  // One expiry of a running timer.
  template <class Id>
  void Tick(Id id) {
    ASSERT_NE(TimerMs(id), -1);
    ticks_.at(static_cast<int>(id))();
  }

  void Quit(int code) override {
    ++quits;
    exitCode = code;
  }

  bool RegisterHotKey(HotKey id, uint32_t code, std::function<void()> pressed) override {
    ++registrations;
    hotkeys[static_cast<int>(id)] = code;
    pressed_[static_cast<int>(id)] = std::move(pressed);
    return true;
  }
  void UnregisterHotKey(HotKey id) override { hotkeys.erase(static_cast<int>(id)); }
  void Press(HotKey id) {
    ASSERT_EQ(hotkeys.count(static_cast<int>(id)), 1u);
    pressed_.at(static_cast<int>(id))();
  }

  void ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) override {
    messages.push_back({std::string(caption), std::string(text), icon});
    if (whileMessageOpen) whileMessageOpen();
  }
  void ExpectMessage(size_t i, const char* caption, const char* text, MessageIcon icon) const {
    ASSERT_GT(messages.size(), i);
    EXPECT_EQ(messages[i].caption, caption);
    EXPECT_EQ(messages[i].text, text);
    EXPECT_EQ(messages[i].icon, icon);
  }

  std::map<int, int> timers;        // running: id -> interval
  std::map<int, uint32_t> hotkeys;  // grabbed: HotKey -> code
  int registrations = 0, quits = 0, exitCode = -7;
  std::vector<ShownMessage> messages;
  std::function<void()> whileMessageOpen;

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> posted_;
  std::map<int, std::function<void()>> ticks_;
  std::map<int, std::function<void()>> pressed_;
};

}  // namespace qc::test
