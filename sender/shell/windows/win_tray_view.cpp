// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/windows/win_tray_view.h"

#include <shellapi.h>

#include <cstdio>

#include "sender/shell/qc_tray.h"
#include "sender/shell/windows/resource_ids.h"

namespace qc {

namespace {

constexpr UINT kTrayMessage = WM_APP + 2;  // a mouse event on the tray icon
constexpr UINT kTrayIconId = 1;
// The "Share" submenu's items: kShareBase + k for choice k (0 whole screen).
constexpr UINT kShareBase = 41000;

}  // namespace

WinTrayView::WinTrayView(TrayWindow& window) : window_(window) {
  window_.AddHandler([this](UINT msg, WPARAM wp, LPARAM lp) { return Handle(msg, wp, lp); });
  HINSTANCE instance = GetModuleHandleA(nullptr);
  // At the notification area's size; the icon files hold several sizes.
  int size = GetSystemMetrics(SM_CXSMICON);
  for (int i = 0; i < 5; ++i) {
    icons_[i] = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(IDI_FRAME0 + i), IMAGE_ICON, size, size, 0));
  }
}

WinTrayView::~WinTrayView() {
  RemoveTrayIcon();
  starting_.Close();
  for (HICON icon : icons_) {
    if (icon != nullptr) DestroyIcon(icon);
  }
}

bool WinTrayView::SetTrayIcon(int iconIndex, const char* tip) {
  if (iconIndex < 0 || iconIndex > 4) return false;
  bool ok = window_.NotifyIcon(iconAdded_ ? NIM_MODIFY : NIM_ADD, kTrayIconId, kTrayMessage,
                               icons_[iconIndex], tip);
  if (ok) iconAdded_ = true;
  return ok;
}

ScreenRect WinTrayView::TrayIconArea() const {
  RECT r;
  if (!iconAdded_ || !window_.NotifyIconRect(kTrayIconId, r)) return {};
  return ScreenRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

void WinTrayView::RemoveTrayIcon() {
  if (!iconAdded_) return;
  window_.NotifyIcon(NIM_DELETE, kTrayIconId, 0, nullptr, "");
  iconAdded_ = false;
}

void WinTrayView::ShowMenu() {
  HMENU menu = CreatePopupMenu();
  auto flags = [](bool enabled, bool checked = false) {
    return MF_STRING | (enabled ? MF_ENABLED : MF_GRAYED) | (checked ? MF_CHECKED : 0);
  };
  bool start = menu_.first == ID_START_TRANSMISSION;
  AppendMenuA(menu, flags(!start || menu_.startEnabled), menu_.first,
              start ? "&Start Transmission" : "&Stop Transmission");
  AppendMenuA(menu, flags(menu_.pauseEnabled, menu_.pauseChecked), ID_PAUSE_TRANSMISSION,
              "&Pause Transmission");
  AppendMenuA(menu, flags(menu_.fullUpdateEnabled), ID_SEND_FULL_UPDATE,
              "Send &Full-Screen Update");
  HMENU share = CreatePopupMenu();
  AppendMenuA(share, flags(true, menu_.shared == 0), kShareBase, "Whole screen");
  for (size_t k = 0; k < menu_.monitors.size(); ++k) {
    AppendMenuA(share, flags(true, menu_.shared == static_cast<int>(k) + 1),
                kShareBase + k + 1, menu_.monitors[k].c_str());
  }
  AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(share), "Share");
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, flags(true), ID_SETTINGS, "S&ettings...");
  AppendMenuA(menu, flags(true), ID_ABOUT, "&About Quillcast...");
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, flags(menu_.quitEnabled), ID_QUIT, "&Quit");
  SetMenuDefaultItem(menu, 0, TRUE);

  UINT chosen = window_.TrackMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON);
  DestroyMenu(menu);  // also destroys the submenu
  if (chosen == 0 || tray_ == nullptr) return;
  if (chosen >= kShareBase && chosen <= kShareBase + menu_.monitors.size()) {
    tray_->SetMonitor(static_cast<int>(chosen - kShareBase));
  } else {
    tray_->OnCommand(static_cast<int>(chosen));
  }
}

AboutChoice WinTrayView::RunAboutBox() {
  return qc::RunAboutBox() == IDC_CHECK_UPDATES ? AboutChoice::CheckForUpdates : AboutChoice::Close;
}

void WinTrayView::OpenUrl(const std::string& url) {
  ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

bool WinTrayView::Handle(UINT msg, WPARAM, LPARAM lp) {
  if (msg != kTrayMessage) return false;
  if (lp == WM_LBUTTONDBLCLK && tray_ != nullptr) tray_->OnTrayDoubleClick();
  if (lp == WM_RBUTTONUP || lp == WM_CONTEXTMENU) ShowMenu();
  return true;
}

}  // namespace qc
