#include "windows/sender/win_tray_view.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>

#include "sender/shell/qc_tray.h"
#include "shell/console_output.h"
#include "windows/sender/resource_ids.h"

namespace qc {

namespace {

constexpr char kWindowClass[] = "QC_Win32_TrayWindow";
constexpr UINT kTaskMessage = WM_APP + 1;  // posted tasks are waiting
constexpr UINT kTrayMessage = WM_APP + 2;  // a mouse event on the tray icon
constexpr UINT kTrayIconId = 1;
// The "Share" submenu's items: kShareBase + k for choice k (0 whole screen).
constexpr UINT kShareBase = 41000;

UINT TimerKey(TimerId id) { return static_cast<UINT>(id) + 1; }

}  // namespace

WinTrayView::WinTrayView(bool headless) : headless_(headless) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kWindowClass;
  RegisterClassA(&wc);
  // A hidden top-level window (not message-only): only those receive the
  // WM_DISPLAYCHANGE broadcast.
  hwnd_ = CreateWindowExA(0, kWindowClass, "Quillcast", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                          nullptr, instance, this);
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
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  for (HICON icon : icons_) {
    if (icon != nullptr) DestroyIcon(icon);
  }
}

int WinTrayView::Run() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (starting_.IsMessage(msg)) continue;  // Esc in the Starting dialog
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

void WinTrayView::PostToUi(std::function<void()> task) {
  bool first;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    first = tasks_.empty();
    tasks_.push_back(std::move(task));
  }
  // One message per batch: the handler drains the queue.
  if (first) PostMessageA(hwnd_, kTaskMessage, 0, 0);
}

void WinTrayView::RunTasks() {
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

void WinTrayView::StartTimer(TimerId id, int intervalMs) {
  SetTimer(hwnd_, TimerKey(id), static_cast<UINT>(intervalMs), nullptr);
}

void WinTrayView::StopTimer(TimerId id) { KillTimer(hwnd_, TimerKey(id)); }

bool WinTrayView::SetTrayIcon(int iconIndex, const char* tip) {
  if (headless_) {
    state_.Show(tip);  // each change of state once, as on Linux
    return true;
  }
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = hwnd_;
  data.uID = kTrayIconId;
  data.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
  data.uCallbackMessage = kTrayMessage;
  if (iconIndex < 0 || iconIndex > 4) return false;
  data.hIcon = icons_[iconIndex];
  snprintf(data.szTip, sizeof data.szTip, "%s", tip);
  bool ok = Shell_NotifyIconA(iconAdded_ ? NIM_MODIFY : NIM_ADD, &data) != FALSE;
  if (ok) iconAdded_ = true;
  return ok;
}

void WinTrayView::RemoveTrayIcon() {
  if (!iconAdded_) return;
  NOTIFYICONDATAA data{};
  data.cbSize = sizeof data;
  data.hWnd = hwnd_;
  data.uID = kTrayIconId;
  Shell_NotifyIconA(NIM_DELETE, &data);
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

  POINT at;
  GetCursorPos(&at);
  // The menu closes on a click elsewhere only if our window is in front.
  SetForegroundWindow(hwnd_);
  UINT chosen = static_cast<UINT>(TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd_, nullptr));
  PostMessageA(hwnd_, WM_NULL, 0, 0);
  DestroyMenu(menu);  // also destroys the submenu
  if (chosen == 0 || tray_ == nullptr) return;
  if (chosen >= kShareBase && chosen <= kShareBase + menu_.monitors.size()) {
    tray_->SetMonitor(static_cast<int>(chosen - kShareBase));
  } else {
    tray_->OnCommand(static_cast<int>(chosen));
  }
}

void WinTrayView::ShowMessage(const char* caption, const std::string& text, MessageIcon icon) {
  PrintMessage("", caption, text);
  if (headless_) return;
  UINT type = MB_OK | MB_SETFOREGROUND;
  type |= icon == MessageIcon::Error     ? MB_ICONERROR
          : icon == MessageIcon::Warning ? MB_ICONWARNING
                                         : MB_ICONINFORMATION;
  MessageBoxA(nullptr, text.c_str(), caption, type);
}

// Without a screen the dialogs' texts go to standard error, as on Linux.
void WinTrayView::ShowStartingDialog() {
  if (!headless_) {
    starting_.Show();
    return;
  }
  PrintMessage("", "Quillcast Starting...", "Checking if it's safe to start transmission.");
}

void WinTrayView::RunSettingsDialog(qcTray& tray) {
  if (!headless_) {
    qc::RunSettingsDialog(tray);
    return;
  }
  fprintf(stderr, "qcsend: no settings dialog without a tray; edit the registry values\n");
}

int WinTrayView::RunAboutBox() {
  if (!headless_) return qc::RunAboutBox();
  fprintf(stderr, "Quillcast version 1.1.0\n");
  return 2;
}

void WinTrayView::OpenUrl(const std::string& url) {
  ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

UINT WinTrayView::HotKeyModifiers(uint32_t code) {
  uint32_t m = (code >> 8) & 0xFF;
  return ((m & HOTKEYF_SHIFT) << 2) | ((m & HOTKEYF_ALT) >> 2) | (m & 0xFAu);
}

void WinTrayView::RegisterHotKey(int index, uint32_t code) {
  ::RegisterHotKey(hwnd_, index, HotKeyModifiers(code), code & 0xFF);
}

void WinTrayView::UnregisterHotKey(int index) { ::UnregisterHotKey(hwnd_, index); }

LRESULT CALLBACK WinTrayView::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* view = reinterpret_cast<WinTrayView*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (view == nullptr || view->hwnd_ != hwnd) return DefWindowProcA(hwnd, msg, wp, lp);
  return view->Handle(msg, wp, lp);
}

LRESULT WinTrayView::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kTaskMessage:
      RunTasks();
      return 0;
    case WM_TIMER:
      if (tray_ != nullptr) tray_->OnTimer(static_cast<TimerId>(wp - 1));
      return 0;
    case WM_HOTKEY:
      if (tray_ != nullptr) tray_->OnHotKey(static_cast<int>(wp));
      return 0;
    case WM_DISPLAYCHANGE:
      if (tray_ != nullptr) tray_->OnDisplayChange();
      return 0;
    case kTrayMessage:
      if (lp == WM_LBUTTONDBLCLK && tray_ != nullptr) tray_->OnTrayDoubleClick();
      if (lp == WM_RBUTTONUP || lp == WM_CONTEXTMENU) ShowMenu();
      return 0;
    case WM_CLOSE:
    case WM_ENDSESSION:
      if (tray_ != nullptr && (msg == WM_CLOSE || wp != 0)) tray_->OnCommand(ID_QUIT);
      return 0;
    default:
      return DefWindowProcA(hwnd_, msg, wp, lp);
  }
}

}  // namespace qc
