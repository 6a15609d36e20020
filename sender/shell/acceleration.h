// SPDX-License-Identifier: GPL-3.0-or-later
// Switching the display's hardware acceleration off while the sender runs.
// The rule: switch off at start when the setting is on, remember the
// previous level once, restore it at the end or when the setting is switched
// off, and re-apply the display settings only when the level really changed.
// The switch itself is a backend; X11 has none, so the Linux backend only
// says so in the log, once.
#pragma once

#include <optional>

namespace qc {

class AccelerationBackend {
 public:
  virtual ~AccelerationBackend() = default;
  // False when the platform offers no switch; nothing is changed then.
  virtual bool Available() = 0;
  // The current level, nothing when it is not set (counts as 0).
  virtual std::optional<int> ReadLevel() = 0;
  virtual bool WriteLevel(int level) = 0;
  virtual void ReapplyDisplaySettings() = 0;
};

// The backend of this platform: not available; logs that once.
class UnsupportedAcceleration : public AccelerationBackend {
 public:
  bool Available() override;
  std::optional<int> ReadLevel() override { return std::nullopt; }
  bool WriteLevel(int) override { return false; }
  void ReapplyDisplaySettings() override {}

 private:
  bool logged_ = false;
};

class AccelerationControl {
 public:
  // Level 5 switches the acceleration fully off; as the saved level it means
  // that nothing needs restoring.
  static constexpr int kOff = 5;

  explicit AccelerationControl(AccelerationBackend& backend) : backend_(backend) {}

  // disable: switch off (saving the level found); otherwise restore the
  // saved level. UI thread.
  void SetAcceleration(bool disable);
  int SavedLevel() const { return savedLevel_; }

 private:
  AccelerationBackend& backend_;
  int savedLevel_ = kOff;
};

}  // namespace qc
