// SPDX-License-Identifier: GPL-3.0-or-later
// A hot-key field: shows a stored hot-key code as "Ctrl + Alt + F12" and
// takes the next key pressed with its modifiers as the new code. The code
// has the virtual-key code in its low byte and the modifier flags in the
// next byte: 0x01 Shift, 0x02 Ctrl, 0x04 Alt, 0x08 Super. Backspace or
// Delete alone clears it (code 0, "None").
#pragma once

#include <QLineEdit>
#include <cstdint>

namespace qc {

class HotkeyEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit HotkeyEdit(QWidget* parent = nullptr);
  void SetCode(uint32_t code);
  uint32_t Code() const { return code_; }
  // "Alt + F12"; "None" for 0.
  static QString CodeText(uint32_t code);
  // The virtual-key code of a Qt key (0 when the field does not take it).
  static uint8_t VirtualKeyOf(int qtKey, bool keypad);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  uint32_t code_ = 0;
};

}  // namespace qc
