// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/qt/hotkey_edit.h"

#include <QKeyEvent>

namespace qc {

namespace {

// Modifier flags of a hot-key code's high byte.
constexpr uint32_t kShift = 0x01, kControl = 0x02, kAlt = 0x04, kSuper = 0x08;

struct KeyName {
  uint8_t vk;
  int qtKey;
  const char* name;
};

// Keys other than letters, digits and F1-F24.
constexpr KeyName kKeys[] = {
    {0x08, Qt::Key_Backspace, "Backspace"},
    {0x09, Qt::Key_Tab, "Tab"},
    {0x0D, Qt::Key_Return, "Enter"},
    {0x0D, Qt::Key_Enter, "Enter"},
    {0x13, Qt::Key_Pause, "Pause"},
    {0x1B, Qt::Key_Escape, "Esc"},
    {0x20, Qt::Key_Space, "Space"},
    {0x21, Qt::Key_PageUp, "Page Up"},
    {0x22, Qt::Key_PageDown, "Page Down"},
    {0x23, Qt::Key_End, "End"},
    {0x24, Qt::Key_Home, "Home"},
    {0x25, Qt::Key_Left, "Left"},
    {0x26, Qt::Key_Up, "Up"},
    {0x27, Qt::Key_Right, "Right"},
    {0x28, Qt::Key_Down, "Down"},
    {0x2C, Qt::Key_Print, "Print Screen"},
    {0x2D, Qt::Key_Insert, "Insert"},
    {0x2E, Qt::Key_Delete, "Delete"},
    {0x91, Qt::Key_ScrollLock, "Scroll Lock"},
    {0xBA, Qt::Key_Semicolon, ";"},
    {0xBA, Qt::Key_Colon, ";"},
    {0xBB, Qt::Key_Equal, "="},
    {0xBB, Qt::Key_Plus, "="},
    {0xBC, Qt::Key_Comma, ","},
    {0xBC, Qt::Key_Less, ","},
    {0xBD, Qt::Key_Minus, "-"},
    {0xBD, Qt::Key_Underscore, "-"},
    {0xBE, Qt::Key_Period, "."},
    {0xBE, Qt::Key_Greater, "."},
    {0xBF, Qt::Key_Slash, "/"},
    {0xBF, Qt::Key_Question, "/"},
    {0xC0, Qt::Key_QuoteLeft, "`"},
    {0xC0, Qt::Key_AsciiTilde, "`"},
    {0xDB, Qt::Key_BracketLeft, "["},
    {0xDB, Qt::Key_BraceLeft, "["},
    {0xDC, Qt::Key_Backslash, "\\"},
    {0xDC, Qt::Key_Bar, "\\"},
    {0xDD, Qt::Key_BracketRight, "]"},
    {0xDD, Qt::Key_BraceRight, "]"},
    {0xDE, Qt::Key_Apostrophe, "'"},
    {0xDE, Qt::Key_QuoteDbl, "'"},
};

// Shifted digits of a US keyboard, back to their digit.
constexpr int kShiftedDigits[10] = {Qt::Key_ParenRight,  Qt::Key_Exclam,    Qt::Key_At,
                                    Qt::Key_NumberSign,  Qt::Key_Dollar,    Qt::Key_Percent,
                                    Qt::Key_AsciiCircum, Qt::Key_Ampersand, Qt::Key_Asterisk,
                                    Qt::Key_ParenLeft};

QString KeyText(uint8_t vk) {
  if ((vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z')) return QString(QChar(vk));
  if (vk >= 0x70 && vk <= 0x87) return QStringLiteral("F%1").arg(vk - 0x70 + 1);
  if (vk >= 0x60 && vk <= 0x69) return QStringLiteral("Num %1").arg(vk - 0x60);
  switch (vk) {
    case 0x6A: return QStringLiteral("Num *");
    case 0x6B: return QStringLiteral("Num +");
    case 0x6D: return QStringLiteral("Num -");
    case 0x6E: return QStringLiteral("Num Del");
    case 0x6F: return QStringLiteral("Num /");
    default: break;
  }
  for (const auto& k : kKeys) {
    if (k.vk == vk) return QString::fromLatin1(k.name);
  }
  return QStringLiteral("Key 0x%1").arg(vk, 2, 16, QChar('0'));
}

QString ModifierText(uint32_t flags) {
  QString text;
  if (flags & kControl) text += "Ctrl + ";
  if (flags & kShift) text += "Shift + ";
  if (flags & kAlt) text += "Alt + ";
  if (flags & kSuper) text += "Super + ";
  return text;
}

uint32_t FlagsOf(Qt::KeyboardModifiers m) {
  uint32_t flags = 0;
  if (m & Qt::ShiftModifier) flags |= kShift;
  if (m & Qt::ControlModifier) flags |= kControl;
  if (m & Qt::AltModifier) flags |= kAlt;
  if (m & Qt::MetaModifier) flags |= kSuper;
  return flags;
}

}  // namespace

HotkeyEdit::HotkeyEdit(QWidget* parent) : QLineEdit(parent) {
  setReadOnly(true);  // typed text never lands in it; keys set the code
  setContextMenuPolicy(Qt::NoContextMenu);
  SetCode(0);
}

QString HotkeyEdit::CodeText(uint32_t code) {
  if ((code & 0xFF) == 0) return QStringLiteral("None");
  return ModifierText((code >> 8) & 0xFF) + KeyText(static_cast<uint8_t>(code & 0xFF));
}

void HotkeyEdit::SetCode(uint32_t code) {
  code_ = code;
  setText(CodeText(code));
}

uint8_t HotkeyEdit::VirtualKeyOf(int key, bool keypad) {
  if (keypad) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<uint8_t>(0x60 + key - Qt::Key_0);
    switch (key) {
      case Qt::Key_Asterisk: return 0x6A;
      case Qt::Key_Plus: return 0x6B;
      case Qt::Key_Minus: return 0x6D;
      case Qt::Key_Period: return 0x6E;
      case Qt::Key_Slash: return 0x6F;
      default: break;
    }
  }
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<uint8_t>(key);
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<uint8_t>(key);
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return static_cast<uint8_t>(0x70 + key - Qt::Key_F1);
  for (int d = 0; d < 10; ++d) {
    if (kShiftedDigits[d] == key) return static_cast<uint8_t>('0' + d);
  }
  for (const auto& k : kKeys) {
    if (k.qtKey == key) return k.vk;
  }
  return 0;
}

void HotkeyEdit::keyPressEvent(QKeyEvent* event) {
  int key = event->key();
  uint32_t flags = FlagsOf(event->modifiers());
  if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta ||
      key == Qt::Key_Super_L || key == Qt::Key_Super_R) {
    setText(flags ? ModifierText(flags) : CodeText(code_));
    return;
  }
  if (flags == 0 && (key == Qt::Key_Tab || key == Qt::Key_Backtab)) {
    QLineEdit::keyPressEvent(event);  // focus moves on
    return;
  }
  if (flags == 0 && (key == Qt::Key_Backspace || key == Qt::Key_Delete)) {
    SetCode(0);
    return;
  }
  uint8_t vk = VirtualKeyOf(key, (event->modifiers() & Qt::KeypadModifier) != 0);
  if (vk == 0) return;
  SetCode((flags << 8) | vk);
}

void HotkeyEdit::keyReleaseEvent(QKeyEvent* event) {
  // A lone modifier released: show the code again.
  if (FlagsOf(event->modifiers()) == 0) setText(CodeText(code_));
}

}  // namespace qc
