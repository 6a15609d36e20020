// SPDX-License-Identifier: GPL-3.0-or-later
// qcSettings: the rules of the sender's settings dialog, apart from its
// widgets: how the port and period boxes step and validate, and what OK
// applies through the tray controller. The Qt dialog (qt_dialogs.h)
// feeds it the boxes' texts and shows what it answers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "shell/port_rule.h"

namespace qc {

class qcTray;

inline constexpr char kInvalidPeriodText[] =
    "Invalid update period specified.\nIt must be no less than 5 milliseconds.";
inline constexpr int kMinUpdatePeriod = 5;
inline constexpr char kInvalidVideoBitrateText[] =
    "Invalid video bitrate specified.\nIt must be in the range 200..50000 kbit/s.\n\n"
    "Now it will be replaced with the nearest valid value.";
// The choices of the "Video" list, in the order of the VideoMode values.
inline constexpr const char* kVideoModeLabels[3] = {"Off: everything lossless",
                                                    "On: any fast-changing area",
                                                    "Auto: areas that play a video"};

// A box's text as an unsigned decimal number; 0 when it holds none.
// Digits after the first non-digit are ignored; a huge number saturates.
int64_t BoxNumber(const std::string& text);

// The period spin's raw step (5 below 50, 10 below 200, else 50, to the
// next multiple up or the largest multiple below); may give less than 5.
int64_t StepPeriod(int64_t current, bool up);

// What the dialog holds when OK is pressed.
struct SettingsDialogValues {
  std::string portText;
  bool disableAcceleration = false;
  bool logging = false;
  uint32_t hotkeyStart = 0;
  bool enableHotkeyStart = false;
  uint32_t hotkeyPause = 0;
  bool enableHotkeyPause = false;
  // The "Share" choice when the user changed it (0 the whole screen, k
  // monitor k); -1 when untouched, which keeps a command-line area.
  int monitor = -1;
  int videoMode = 2;             // the "Video" list's position: VideoMode
  std::string videoBitrateText;  // kbit/s
};

// The answer to a user action: the text to put into the box, and the
// message to show (caption "Invalid Value", error icon), if any. From OnOk
// the box is the port box, or the bitrate box when videoBitrate is set.
struct BoxUpdate {
  std::string text;
  const char* message = nullptr;
  bool videoBitrate = false;
};

class qcSettings {
 public:
  explicit qcSettings(qcTray& tray) : tray_(tray) {}

  // Copies the controller's port and period; called when the dialog opens.
  void Open();
  int Port() const { return port_; }
  int UpdatePeriod() const { return period_; }

  BoxUpdate OnPortSpin(const std::string& boxText, bool up);
  BoxUpdate OnPeriodSpin(const std::string& boxText, bool up);
  // The period box lost the focus. text is empty when nothing changes.
  std::optional<BoxUpdate> OnPeriodFocusLost(const std::string& boxText);
  // OK: nullopt when everything was applied and saved (the dialog closes);
  // otherwise the corrected port (or video bitrate) and its message, and
  // the dialog stays.
  std::optional<BoxUpdate> OnOk(const SettingsDialogValues& values);

 private:
  qcTray& tray_;
  int port_ = 0;
  int period_ = 0;
};

}  // namespace qc
