// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/receiver/win_receiver_view.h"

#include <shellapi.h>

#include "common/log_file.h"
#include "receiver/shell/qv_tray.h"
#include "windows/receiver/resource.h"
#include "windows/receiver/win_dialogs.h"
#include "windows/startup.h"

namespace qc {

namespace {

constexpr char kTrayClass[] = "Quillview Tray Class";
constexpr UINT kTrayNotify = WM_USER + 1;  // the tray icon's mouse messages
constexpr UINT kTrayIconId = 101;
constexpr UINT_PTR kBlinkTimer = 1;
constexpr UINT_PTR kRequestTimer = 2;
constexpr int kHotKeyId = 0;

}  // namespace

// Never shown: it carries the icon's callbacks, the timers, the hot key and
// the commands. Headless, a message-only window: it needs no display.
WinReceiverView::WinReceiverView(bool headless)
    : headless_(headless),
      state_(kReceiverStderrPrefix),
      window_(kTrayClass, kTrayClass, headless,
              [this](UINT msg, WPARAM wp, LPARAM lp) { return Handle(msg, wp, lp); },
              LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_RED_GREEN))) {
  if (window_.Handle() == nullptr) {
    Log().Print("qvTray: Failed to create dummy window\n");
    return;
  }
  menu_ = LoadMenuA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_TRAY_MENU));
  if (menu_ == nullptr) {
    Log().Print("qvTray: Failed to create tray menu\n");
    return;
  }
  popup_ = GetSubMenu(menu_, 0);
}

WinReceiverView::~WinReceiverView() {
  if (menu_ != nullptr) DestroyMenu(menu_);
}

void WinReceiverView::StartTimers() {
  SetTimer(window_.Handle(), kBlinkTimer, kBlinkTimerMs, nullptr);
  SetTimer(window_.Handle(), kRequestTimer, kRequestTimerMs, nullptr);
}

bool WinReceiverView::SetTrayIcon(TrayAction action, TrayImage image, const char* tip) {
  if (headless_) {
    if (action != TrayAction::Delete) state_.Show(tip);  // each change once
    return true;
  }
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(static_cast<int>(image)));
  DWORD message = action == TrayAction::Add      ? NIM_ADD
                  : action == TrayAction::Modify ? NIM_MODIFY
                                                 : NIM_DELETE;
  // The first shell's structure: every shell knows it.
  return window_.NotifyIcon(message, kTrayIconId, kTrayNotify, icon, tip, true);
}

void WinReceiverView::SetWindowItem(bool hideItem) {
  if (popup_ == nullptr) return;
  RemoveMenu(popup_, 1, MF_BYPOSITION);
  InsertMenuA(popup_, 1, MF_BYPOSITION | MF_STRING, hideItem ? ID_HIDE_WINDOW : ID_SHOW_WINDOW,
              hideItem ? "&Hide Window" : "S&how Window");
}

void WinReceiverView::EnableReceivingItems(bool enabled) {
  if (popup_ == nullptr) return;
  for (UINT id : {ID_HIDE_WINDOW, ID_SHOW_WINDOW, ID_FULL_SCREEN, ID_REQUEST_REFRESH}) {
    EnableMenuItem(popup_, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  }
}

void WinReceiverView::SetFullScreenChecked(bool checked) {
  if (popup_ == nullptr) return;
  CheckMenuItem(popup_, ID_FULL_SCREEN, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void WinReceiverView::ShowMessage(const char* caption, const char* text, MessageIcon icon) {
  StartupMessage(kReceiverStderrPrefix, !headless_, caption, text, icon);
}

void WinReceiverView::RunSettingsDialog() {
  if (headless_ || tray_ == nullptr) return;
  RunReceiverSettingsDialog(*tray_);
}

void WinReceiverView::RunAboutDialog() {
  if (headless_) return;
  RunReceiverAboutBox();
}

bool WinReceiverView::RegisterHotKey(uint32_t code) {
  if (headless_) return false;
  return window_.RegisterHotKey(kHotKeyId, code);
}

void WinReceiverView::UnregisterHotKey() {
  if (!headless_) window_.UnregisterHotKey(kHotKeyId);
}

void WinReceiverView::ShowMenu() {
  if (popup_ == nullptr || tray_ == nullptr) return;
  tray_->OnMenuAboutToShow();  // greys the receiving items while nothing is received
  SetMenuDefaultItem(popup_, 0, TRUE);
  window_.TrackMenu(popup_, TPM_LEFTALIGN);
}

bool WinReceiverView::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  if (tray_ == nullptr) return false;
  switch (msg) {
    case WM_TIMER:
      if (wp == kBlinkTimer) tray_->OnBlinkTimer();
      if (wp == kRequestTimer) tray_->OnRequestTimer();
      return true;
    case kTrayNotify:
      if (lp == WM_RBUTTONUP) {
        ShowMenu();
      } else if (lp == WM_LBUTTONDBLCLK) {
        tray_->OnTrayDoubleClick();
      }
      return true;
    case WM_HOTKEY:
      if (wp == kHotKeyId) tray_->OnHotKey();
      return true;
    case WM_COMMAND:
      tray_->OnCommand(LOWORD(wp));
      return true;
    case WM_CLOSE:
    case WM_ENDSESSION:
      // The controller removes the icon, stops the viewer and ends the loop.
      if (msg == WM_CLOSE || wp != 0) tray_->Close();
      return true;
    default:
      return false;
  }
}

}  // namespace qc
