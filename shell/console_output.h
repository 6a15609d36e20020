// SPDX-License-Identifier: GPL-3.0-or-later
// Standard error as the programs use it: every message box's text is also
// written there (so a terminal and the tests see it), and without a screen
// (--headless) it stands in for the tray's tip and the boxes.
#pragma once

#include <string>
#include <string_view>

namespace qc {

// "<prefix><caption>: <text>" and a line end, flushed at once.
void PrintMessage(std::string_view prefix, std::string_view caption, std::string_view text);

// The tray's state for a program without a tray: one "<prefix><tip>" line
// per change of the tip, not one per icon frame.
class ConsoleStateLine {
 public:
  explicit ConsoleStateLine(std::string prefix) : prefix_(std::move(prefix)) {}
  void Show(std::string_view tip);

 private:
  std::string prefix_;
  std::string lastTip_;
};

}  // namespace qc
