// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/windows/win_receiver_view.h"

#include <shellapi.h>

#include "common/log_file.h"
#include "receiver/shell/qv_tray.h"
#include "receiver/shell/windows/resource.h"
#include "receiver/shell/windows/win_dialogs.h"

namespace qc {

namespace {

constexpr UINT kTrayNotify = WM_USER + 1;  // the tray icon's mouse messages
constexpr UINT kTrayIconId = 101;

// The resources of the tray images, in TrayImage's order.
constexpr int kImageResources[kTrayImageCount] = {IDI_RED_RED,     IDI_RED_GREEN,
                                                  IDI_GREEN_YELLOW, IDI_GREEN_GREEN,
                                                  IDI_YELLOW_GREEN, IDI_YELLOW_YELLOW};

}  // namespace

WinReceiverView::WinReceiverView(TrayWindow& window) : window_(window) {
  window_.AddHandler([this](UINT msg, WPARAM wp, LPARAM lp) { return Handle(msg, wp, lp); });
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

void WinReceiverView::SetTrayIcon(TrayImage image, const char* tip) {
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kImageResources[static_cast<int>(image)]));
  // The first shell's structure: every shell knows it.
  window_.NotifyIcon(iconAdded_ ? NIM_MODIFY : NIM_ADD, kTrayIconId, kTrayNotify, icon, tip, true);
  iconAdded_ = true;
}

void WinReceiverView::RemoveTrayIcon() {
  window_.NotifyIcon(NIM_DELETE, kTrayIconId, kTrayNotify, nullptr, "", true);
  iconAdded_ = false;
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

void WinReceiverView::RunSettingsDialog() {
  if (tray_ != nullptr) RunReceiverSettingsDialog(*tray_);
}

void WinReceiverView::RunAboutDialog() { RunReceiverAboutBox(); }

void WinReceiverView::ShowMenu() {
  if (popup_ == nullptr || tray_ == nullptr) return;
  tray_->OnMenuAboutToShow();  // greys the receiving items while nothing is received
  SetMenuDefaultItem(popup_, 0, TRUE);
  window_.TrackMenu(popup_, TPM_LEFTALIGN);
}

bool WinReceiverView::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  if (tray_ == nullptr) return false;
  switch (msg) {
    case kTrayNotify:
      if (lp == WM_RBUTTONUP) {
        ShowMenu();
      } else if (lp == WM_LBUTTONDBLCLK) {
        tray_->OnTrayDoubleClick();
      }
      return true;
    case WM_COMMAND:
      tray_->OnCommand(LOWORD(wp));
      return true;
    default:
      return false;
  }
}

}  // namespace qc
