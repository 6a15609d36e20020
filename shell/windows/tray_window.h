// SPDX-License-Identifier: GPL-3.0-or-later
// The hidden window of both Windows programs and their UI services: its
// class and creation, the message loop, tasks posted from any thread,
// timers, hot keys and message boxes, and helpers for the notification icon
// and the pop-up menu. The handlers (the tray view's, the program's) see
// every message but the posted tasks', the timers' and the hot keys'; what
// none handles goes to DefWindowProc.
//
// Threads: the window's thread (the GUI thread), except Post.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "shell/ui_services.h"

namespace qc {

class TrayWindow : public UiServices {
 public:
  // Returns true when it handled the message (the window procedure's result
  // is then 0).
  using Handler = std::function<bool(UINT msg, WPARAM wp, LPARAM lp)>;

  // Never shown. A message-only window needs no display but misses
  // broadcasts. icon is the class's.
  TrayWindow(const char* className, const char* title, bool messageOnly, const UiStyle& style,
             HICON icon = nullptr);
  ~TrayWindow() override;
  TrayWindow(const TrayWindow&) = delete;
  TrayWindow& operator=(const TrayWindow&) = delete;

  HWND Handle() const { return hwnd_; }
  // Handlers are asked in the order added. Each one's owner must outlive the
  // message loops (the window's, a box's, a dialog's); the window calls none
  // once it is being destroyed.
  void AddHandler(Handler handler) { handlers_.push_back(std::move(handler)); }
  // Runs the message loop until WM_QUIT and returns its exit code. A message
  // the filter takes (a modeless dialog's) is not dispatched.
  int Run(const std::function<bool(MSG&)>& filter = nullptr);

  void Post(std::function<void()> task) override;
  void StartTimer(int id, int intervalMs, std::function<void()> tick) override;
  void StopTimer(int id) override;
  void Quit(int exitCode) override { PostQuitMessage(exitCode); }
  bool RegisterHotKey(HotKey id, uint32_t code, std::function<void()> pressed) override;
  void UnregisterHotKey(HotKey id) override;
  void ShowMessage(std::string_view caption, std::string_view text, MessageIcon icon) override;

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

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  bool Handle(UINT msg, WPARAM wp, LPARAM lp);
  void RunTasks();

  UiStyle style_;
  std::vector<Handler> handlers_;
  std::map<int, std::function<void()>> ticks_;    // by SetTimer id
  std::map<int, std::function<void()>> hotkeys_;  // by HotKey
  HWND hwnd_ = nullptr;
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
};

}  // namespace qc
