#include "receiver/shell/hotkey_edit.h"

#include <QKeyEvent>

namespace qv {

namespace {
constexpr uint32_t kShift = 0x01, kCtrl = 0x02, kAlt = 0x04;
}  // namespace

uint8_t VirtualKeyFromQt(int key) {
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<uint8_t>('A' + (key - Qt::Key_A));
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<uint8_t>('0' + (key - Qt::Key_0));
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return static_cast<uint8_t>(0x70 + (key - Qt::Key_F1));
  switch (key) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab: return 0x09;
    case Qt::Key_Return: case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Print: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_ScrollLock: return 0x91;
    default: return 0;
  }
}

QString HotKeyText(uint32_t code) {
  uint8_t vk = code & 0xFF;
  uint32_t mods = (code >> 8) & 0xFF;
  if (vk == 0) return QStringLiteral("None");
  QString text;
  if (mods & kCtrl) text += QStringLiteral("Ctrl + ");
  if (mods & kShift) text += QStringLiteral("Shift + ");
  if (mods & kAlt) text += QStringLiteral("Alt + ");
  if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) {
    text += QChar(vk);
  } else if (vk >= 0x70 && vk <= 0x87) {
    text += QStringLiteral("F%1").arg(vk - 0x70 + 1);
  } else {
    static const struct { uint8_t vk; const char* name; } names[] = {
        {0x08, "Backspace"}, {0x09, "Tab"}, {0x0D, "Enter"}, {0x13, "Pause"}, {0x1B, "Esc"},
        {0x20, "Space"}, {0x21, "Page Up"}, {0x22, "Page Down"}, {0x23, "End"}, {0x24, "Home"},
        {0x25, "Left"}, {0x26, "Up"}, {0x27, "Right"}, {0x28, "Down"}, {0x2C, "Print"},
        {0x2D, "Insert"}, {0x2E, "Delete"}, {0x91, "Scroll Lock"}};
    QString name = QStringLiteral("0x%1").arg(vk, 2, 16, QLatin1Char('0'));
    for (const auto& n : names) {
      if (n.vk == vk) name = QString::fromLatin1(n.name);
    }
    text += name;
  }
  return text;
}

HotKeyEdit::HotKeyEdit(QWidget* parent) : QLineEdit(parent) {
  setReadOnly(true);
  SetCode(0);
}

void HotKeyEdit::SetCode(uint32_t code) {
  code_ = code & 0xFFFF;
  setText(HotKeyText(code_));
}

void HotKeyEdit::keyPressEvent(QKeyEvent* event) {
  int key = event->key();
  if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
    QLineEdit::keyPressEvent(event);
    return;
  }
  Qt::KeyboardModifiers m = event->modifiers();
  uint32_t mods = 0;
  if (m & Qt::ShiftModifier) mods |= kShift;
  if (m & Qt::ControlModifier) mods |= kCtrl;
  if (m & Qt::AltModifier) mods |= kAlt;
  uint8_t vk = VirtualKeyFromQt(key);
  if (vk == 0) {
    // A modifier alone: show it while held, keep the old code.
    event->accept();
    return;
  }
  // Backspace or Delete without modifiers clear the field, as a hot-key
  // control does.
  if (mods == 0 && (vk == 0x08 || vk == 0x2E)) {
    SetCode(0);
  } else {
    SetCode(vk | (mods << 8));
  }
  event->accept();
}

}  // namespace qv
