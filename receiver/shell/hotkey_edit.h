// A hot-key field: shows a stored 16-bit hot-key code (virtual-key code in
// the low byte; modifier flags 0x01 Shift, 0x02 Ctrl, 0x04 Alt, 0x08
// extended key in the high byte) and takes a new one from the next key
// combination typed into it.
#pragma once

#include <QLineEdit>
#include <cstdint>

namespace qv {

// The virtual-key code of a Qt key, or 0 when the key has none here.
uint8_t VirtualKeyFromQt(int qtKey);
// A readable name of a code, e.g. "Ctrl + F12"; "None" for 0.
QString HotKeyText(uint32_t code);

class HotKeyEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit HotKeyEdit(QWidget* parent = nullptr);
  void SetCode(uint32_t code);
  uint32_t Code() const { return code_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  uint32_t code_ = 0;
};

}  // namespace qv
