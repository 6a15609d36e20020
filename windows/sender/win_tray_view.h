// The sender's Win32 view: a hidden top-level window whose message loop runs
// the controller. Posted tasks, timers, hotkeys, the tray icon's clicks and
// WM_DISPLAYCHANGE arrive as window messages and go to the attached qcTray.
// The icons and dialogs come from qcsend.rc. With headless set there is no
// tray icon and no dialog, and message boxes only go to standard error (as
// the Linux --headless view does).
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "sender/shell/tray_view.h"
#include "shell/console_output.h"
#include "windows/sender/win_dialogs.h"

namespace qc {

class WinTrayView : public TrayView {
 public:
  explicit WinTrayView(bool headless);
  ~WinTrayView() override;
  WinTrayView(const WinTrayView&) = delete;
  WinTrayView& operator=(const WinTrayView&) = delete;

  // False when the window could not be made.
  bool Created() const { return hwnd_ != nullptr; }
  void Attach(qcTray& tray) { tray_ = &tray; }
  // Runs the message loop until Quit.
  int Run();

  void PostToUi(std::function<void()> task) override;
  void StartTimer(TimerId id, int intervalMs) override;
  void StopTimer(TimerId id) override;
  void Quit() override { PostQuitMessage(0); }

  bool SetTrayIcon(int iconIndex, const char* tip) override;
  void RemoveTrayIcon() override;
  void SetMenu(const TrayMenu& menu) override { menu_ = menu; }

  void ShowMessage(const char* caption, const std::string& text, MessageIcon icon) override;

  void ShowStartingDialog() override;
  void HideStartingDialog() override { starting_.Hide(); }
  void CloseStartingDialog() override { starting_.Close(); }
  void RunSettingsDialog(qcTray& tray) override;
  int RunAboutBox() override;
  void OpenUrl(const std::string& url) override;

  void RegisterHotKey(int index, uint32_t code) override;
  void UnregisterHotKey(int index) override;

  // The RegisterHotKey modifiers of a stored hot-key code (the hot-key
  // control's flags in the high byte: 0x01 Shift, 0x02 Control, 0x04 Alt,
  // 0x08 extended key). Shift and Alt swap places; every other bit passes
  // unchanged, so 0x08 becomes MOD_WIN.
  static UINT HotKeyModifiers(uint32_t code);

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  void RunTasks();
  void ShowMenu();

  bool headless_;
  HWND hwnd_ = nullptr;
  qcTray* tray_ = nullptr;
  TrayMenu menu_;
  bool iconAdded_ = false;
  HICON icons_[5] = {};  // resources 103 to 107: frames 0 to 3, paused
  StartingDialog starting_;
  ConsoleStateLine state_{""};  // the headless state line
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
};

}  // namespace qc
