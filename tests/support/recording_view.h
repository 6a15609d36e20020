// SPDX-License-Identifier: GPL-3.0-or-later
// What the test views of both programs share: work posted to the UI thread
// (from any thread) waits until the test runs it, and message boxes are
// recorded, with a hook that runs while the box is "open".
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "shell/view_types.h"

namespace qc::test {

struct ShownMessage {
  std::string caption;
  std::string text;
  MessageIcon icon;
};

class RecordingView {
 public:
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

  void ExpectMessage(size_t i, const char* caption, const char* text, MessageIcon icon) const {
    ASSERT_GT(messages.size(), i);
    EXPECT_EQ(messages[i].caption, caption);
    EXPECT_EQ(messages[i].text, text);
    EXPECT_EQ(messages[i].icon, icon);
  }

  std::vector<ShownMessage> messages;
  std::function<void()> whileMessageOpen;

 protected:
  void Queue(std::function<void()> task) {
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.push_back(std::move(task));
  }
  void Record(const char* caption, std::string text, MessageIcon icon) {
    messages.push_back({caption, std::move(text), icon});
    if (whileMessageOpen) whileMessageOpen();
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> posted_;
};

}  // namespace qc::test
