// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/windows/tray_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "shell/console_output.h"

namespace qc {

namespace {

constexpr UINT kRunTasks = WM_APP + 1;  // posted tasks are waiting

// RegisterHotKey's modifiers for the hot-key control's flags (0x01 Shift,
// 0x02 Control, 0x04 Alt, 0x08 extended key): Shift and Alt swap places;
// every other bit passes unchanged, so 0x08 becomes MOD_WIN.
UINT HotKeyModifiers(uint32_t flags) {
  return ((flags & HOTKEYF_SHIFT) << 2) | ((flags & HOTKEYF_ALT) >> 2) | (flags & 0xFAu);
}

// SetTimer's id of a caller's timer id: never 0.
int TimerKey(int id) { return id + 1; }

}  // namespace

TrayWindow::TrayWindow(const char* className, const char* title, bool messageOnly,
                       const UiStyle& style, HICON icon)
    : style_(style) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hIcon = icon;
  wc.lpszClassName = className;
  RegisterClassExA(&wc);
  hwnd_ = CreateWindowExA(0, className, title, WS_OVERLAPPED, 0, 0, 0, 0,
                          messageOnly ? HWND_MESSAGE : nullptr, nullptr, instance, this);
}

TrayWindow::~TrayWindow() {
  // The handlers' owners may be gone already; DestroyWindow sends messages.
  handlers_.clear();
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

int TrayWindow::Run(const std::function<bool(MSG&)>& filter) {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (filter && filter(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

void TrayWindow::Post(std::function<void()> task) {
  bool first;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    first = tasks_.empty();
    tasks_.push_back(std::move(task));
  }
  // One message per batch: the handler drains the queue.
  if (first) PostMessageA(hwnd_, kRunTasks, 0, 0);
}

void TrayWindow::RunTasks() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

void TrayWindow::StartTimer(int id, int intervalMs, std::function<void()> tick) {
  ticks_[TimerKey(id)] = std::move(tick);
  SetTimer(hwnd_, static_cast<UINT_PTR>(TimerKey(id)), static_cast<UINT>(intervalMs < 0 ? 0 : intervalMs), nullptr);
}

void TrayWindow::StopTimer(int id) { KillTimer(hwnd_, static_cast<UINT_PTR>(TimerKey(id))); }

bool TrayWindow::RegisterHotKey(HotKey id, uint32_t code, std::function<void()> pressed) {
  if (!style_.hotkeys) return false;
  hotkeys_[static_cast<int>(id)] = std::move(pressed);
  return ::RegisterHotKey(hwnd_, static_cast<int>(id), HotKeyModifiers((code >> 8) & 0xFF),
                          code & 0xFF) != FALSE;
}

void TrayWindow::UnregisterHotKey(HotKey id) {
  if (!style_.hotkeys) return;
  ::UnregisterHotKey(hwnd_, static_cast<int>(id));
  hotkeys_.erase(static_cast<int>(id));
}

void TrayWindow::ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) {
  PrintMessage(style_.stderrPrefix, caption, text);
  if (!style_.boxes) return;
  UINT type = MB_OK | MB_SETFOREGROUND;
  type |= icon == MessageIcon::Error     ? MB_ICONERROR
          : icon == MessageIcon::Warning ? MB_ICONWARNING
                                         : MB_ICONINFORMATION;
  MessageBoxA(nullptr, std::string(text).c_str(), std::string(caption).c_str(), type);
}

bool TrayWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_TIMER || msg == WM_HOTKEY) {
    const auto& calls = msg == WM_TIMER ? ticks_ : hotkeys_;
    auto it = calls.find(static_cast<int>(wp));
    if (it == calls.end()) return false;
    std::function<void()> call = it->second;  // a copy: the call may replace itself
    call();
    return true;
  }
  for (const Handler& handler : handlers_) {
    if (handler(msg, wp, lp)) return true;
  }
  return false;
}

bool TrayWindow::NotifyIcon(DWORD action, UINT id, UINT callbackMessage, HICON icon,
                            const char* tip, bool firstShellLayout) {
  NOTIFYICONDATAA data{};
  data.cbSize = firstShellLayout ? NOTIFYICONDATAA_V1_SIZE : sizeof data;
  data.hWnd = hwnd_;
  data.uID = id;
  if (action != NIM_DELETE) {
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = callbackMessage;
    data.hIcon = icon;
    snprintf(data.szTip, firstShellLayout ? 64 : sizeof data.szTip, "%s", tip);
  }
  return Shell_NotifyIconA(action, &data) != FALSE;
}

namespace {

// Wine's X11 driver draws each notification icon in a window of this class
// (docked in the X desktop's tray, or inside Wine's own tray window when
// there is none), owned by Wine's shell process.
constexpr char kWineTrayIconClass[] = "__winex11_tray_icon";

BOOL CALLBACK AddIconWindow(HWND hwnd, LPARAM param) {
  char name[sizeof kWineTrayIconClass + 1] = {};
  RECT r;
  if (GetClassNameA(hwnd, name, sizeof name) > 0 && strcmp(name, kWineTrayIconClass) == 0 &&
      IsWindowVisible(hwnd) && GetWindowRect(hwnd, &r) && r.right > r.left && r.bottom > r.top) {
    RECT& all = *reinterpret_cast<RECT*>(param);
    if (all.right <= all.left) {
      all = r;
    } else {
      UnionRect(&all, &all, &r);
    }
  }
  return TRUE;
}

BOOL CALLBACK AddIconWindowsBelow(HWND top, LPARAM param) {
  AddIconWindow(top, param);
  EnumChildWindows(top, AddIconWindow, param);
  return TRUE;
}

}  // namespace

bool TrayWindow::NotifyIconRect(UINT id, RECT& rect) const {
  // Looked up, not linked: a shell without it must still start the program.
  using GetRect = HRESULT(WINAPI*)(const NOTIFYICONIDENTIFIER*, RECT*);
  static const GetRect getRect = [] {
    HMODULE shell = GetModuleHandleA("shell32.dll");
    return shell != nullptr ? reinterpret_cast<GetRect>(reinterpret_cast<void*>(
                                  GetProcAddress(shell, "Shell_NotifyIconGetRect")))
                            : nullptr;
  }();
  if (getRect != nullptr) {
    NOTIFYICONIDENTIFIER icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = hwnd_;
    icon.uID = id;
    if (SUCCEEDED(getRect(&icon, &rect)) && rect.right > rect.left && rect.bottom > rect.top) {
      return true;
    }
  }
  // Wine's shell does not tell (a stub); its icon windows do, but not
  // whose icon each shows: all of them, usually this program's alone.
  RECT all{};
  EnumWindows(AddIconWindowsBelow, reinterpret_cast<LPARAM>(&all));
  if (all.right <= all.left || all.bottom <= all.top) return false;
  rect = all;
  return true;
}

UINT TrayWindow::TrackMenu(HMENU menu, UINT flags) {
  POINT at;
  GetCursorPos(&at);
  // The menu closes on a click elsewhere only while this window is in front.
  SetForegroundWindow(hwnd_);
  auto chosen = static_cast<UINT>(TrackPopupMenu(menu, flags, at.x, at.y, 0, hwnd_, nullptr));
  PostMessageA(hwnd_, WM_NULL, 0, 0);
  return chosen;
}

LRESULT CALLBACK TrayWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* window = reinterpret_cast<TrayWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  // Until CreateWindowEx returns, the owner is not ready for messages.
  if (window == nullptr || window->hwnd_ != hwnd) return DefWindowProcA(hwnd, msg, wp, lp);
  if (msg == kRunTasks) {
    window->RunTasks();
    return 0;
  }
  return window->Handle(msg, wp, lp) ? 0 : DefWindowProcA(hwnd, msg, wp, lp);
}

}  // namespace qc
