// SPDX-License-Identifier: GPL-3.0-or-later
// The hidden window behind both programs' Win32 tray views: its class and
// creation, the message loop, tasks posted from any thread, and helpers for
// the notification icon, the pop-up menu and hot keys. The view's handler
// sees every message but the posted tasks'; what it does not handle goes to
// DefWindowProc.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace qc {

class TrayWindow {
 public:
  // Returns true when it handled the message (the window procedure's result
  // is then 0).
  using Handler = std::function<bool(UINT msg, WPARAM wp, LPARAM lp)>;

  // Never shown. A message-only window needs no display but misses
  // broadcasts. icon is the class's.
  TrayWindow(const char* className, const char* title, bool messageOnly, Handler handler,
             HICON icon = nullptr);
  ~TrayWindow();
  TrayWindow(const TrayWindow&) = delete;
  TrayWindow& operator=(const TrayWindow&) = delete;

  HWND Handle() const { return hwnd_; }
  // Runs the message loop until WM_QUIT and returns its exit code. A message
  // the filter takes (a modeless dialog's) is not dispatched.
  int Run(const std::function<bool(MSG&)>& filter = nullptr);
  // Runs task on the window's thread; callable from any thread.
  void Post(std::function<void()> task);

  // Shell_NotifyIcon (NIM_ADD, NIM_MODIFY or NIM_DELETE) for this window's
  // icon id. firstShellLayout sends the 88-byte structure every shell knows,
  // with the tip cut to 63 characters.
  bool NotifyIcon(DWORD action, UINT id, UINT callbackMessage, HICON icon, const char* tip,
                  bool firstShellLayout = false);
  // Where the shell draws this window's icon id, in screen pixels (virtual
  // screen coordinates): Shell_NotifyIconGetRect (Windows 7 on), else, under
  // Wine, the window its X11 driver draws this process's icon in. False
  // when neither tells.
  bool NotifyIconRect(UINT id, RECT& rect) const;
  // Shows menu at the cursor; returns TrackPopupMenu's result.
  UINT TrackMenu(HMENU menu, UINT flags);

  // A stored hot-key code: the virtual key in bits 0-7, the hot-key
  // control's flags in bits 8-15.
  bool RegisterHotKey(int id, uint32_t code);
  void UnregisterHotKey(int id) { ::UnregisterHotKey(hwnd_, id); }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  void RunTasks();

  Handler handler_;
  HWND hwnd_ = nullptr;
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
};

}  // namespace qc
