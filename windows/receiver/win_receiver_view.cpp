#include "windows/receiver/win_receiver_view.h"

#include <shellapi.h>

#include <cstdio>

#include "common/log_file.h"
#include "receiver/shell/qv_tray.h"
#include "windows/receiver/resource.h"
#include "windows/receiver/win_dialogs.h"

namespace qc {

namespace {

constexpr char kTrayClass[] = "Quillview Tray Class";
constexpr UINT kTrayNotify = WM_USER + 1;  // the tray icon's mouse messages
constexpr UINT kRunTasks = WM_USER + 3;    // posted tasks are waiting
constexpr UINT kTrayIconId = 101;
constexpr UINT_PTR kBlinkTimer = 1;
constexpr UINT_PTR kRequestTimer = 2;
constexpr int kHotKeyId = 0;

}  // namespace

WinReceiverView::WinReceiverView(bool headless)
    : headless_(headless), state_(kReceiverStderrPrefix) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_RED_GREEN));
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = kTrayClass;
  wc.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
  RegisterClassExA(&wc);
  // Never shown: it carries the icon's callbacks, the timers, the hot key
  // and the commands. Headless, a message-only window: it needs no display.
  hwnd_ = CreateWindowExA(0, kTrayClass, kTrayClass, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                          CW_USEDEFAULT, 200, 200, headless ? HWND_MESSAGE : nullptr, nullptr,
                          instance, this);
  if (hwnd_ == nullptr) {
    Log().Print("qvTray: Failed to create dummy window\n");
    return;
  }
  menu_ = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_TRAY_MENU));
  if (menu_ == nullptr) {
    Log().Print("qvTray: Failed to create tray menu\n");
    return;
  }
  popup_ = GetSubMenu(menu_, 0);
}

WinReceiverView::~WinReceiverView() {
  if (menu_ != nullptr) DestroyMenu(menu_);
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

int WinReceiverView::Run() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

void WinReceiverView::Post(std::function<void()> fn) {
  bool first;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    first = tasks_.empty();
    tasks_.push_back(std::move(fn));
  }
  // One message per batch: the handler drains the queue.
  if (first) PostMessageA(hwnd_, kRunTasks, 0, 0);
}

void WinReceiverView::RunTasks() {
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

void WinReceiverView::StartTimers() {
  SetTimer(hwnd_, kBlinkTimer, kBlinkTimerMs, nullptr);
  SetTimer(hwnd_, kRequestTimer, kRequestTimerMs, nullptr);
}

bool WinReceiverView::SetTrayIcon(TrayAction action, TrayImage image, const char* tip) {
  if (headless_) {
    if (action != TrayAction::Delete) state_.Show(tip);  // each change once
    return true;
  }
  NOTIFYICONDATAA data{};
  data.cbSize = NOTIFYICONDATAA_V1_SIZE;  // 88 bytes: every shell knows it
  data.hWnd = hwnd_;
  data.uID = kTrayIconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayNotify;
  data.hIcon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(static_cast<int>(image)));
  snprintf(data.szTip, 64, "%s", tip);
  DWORD message = action == TrayAction::Add      ? NIM_ADD
                  : action == TrayAction::Modify ? NIM_MODIFY
                                                 : NIM_DELETE;
  return Shell_NotifyIconA(message, &data) != FALSE;
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
  PrintMessage(kReceiverStderrPrefix, caption, text);
  if (headless_) return;
  MessageBoxA(nullptr, text, caption,
              MB_OK | (icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONINFORMATION));
}

void WinReceiverView::RunSettingsDialog() {
  if (headless_ || tray_ == nullptr) return;
  RunReceiverSettingsDialog(*tray_);
}

void WinReceiverView::RunAboutDialog() {
  if (headless_) return;
  RunReceiverAboutBox();
}

UINT WinReceiverView::HotKeyModifiers(uint32_t code) {
  UINT flags = (code >> 8) & 0xFF;
  UINT mods = flags & ~static_cast<UINT>(0x05);
  if (flags & 0x04) mods |= MOD_ALT;
  if (flags & 0x01) mods |= MOD_SHIFT;
  return mods;
}

bool WinReceiverView::RegisterHotKey(uint32_t code) {
  if (headless_) return false;
  return ::RegisterHotKey(hwnd_, kHotKeyId, HotKeyModifiers(code), code & 0xFF) != FALSE;
}

void WinReceiverView::UnregisterHotKey() {
  if (!headless_) ::UnregisterHotKey(hwnd_, kHotKeyId);
}

void WinReceiverView::ShowMenu() {
  if (popup_ == nullptr || tray_ == nullptr) return;
  tray_->OnMenuAboutToShow();  // greys the receiving items while nothing is received
  SetMenuDefaultItem(popup_, 0, TRUE);
  POINT at;
  GetCursorPos(&at);
  // The menu closes on a click elsewhere only while this window is in front.
  SetForegroundWindow(hwnd_);
  TrackPopupMenu(popup_, TPM_LEFTALIGN, at.x, at.y, 0, hwnd_, nullptr);
  PostMessageA(hwnd_, WM_NULL, 0, 0);
}

LRESULT CALLBACK WinReceiverView::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* view = reinterpret_cast<WinReceiverView*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (view == nullptr || view->hwnd_ != hwnd || view->tray_ == nullptr) {
    return DefWindowProcA(hwnd, msg, wp, lp);
  }
  return view->Handle(msg, wp, lp);
}

LRESULT WinReceiverView::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case kRunTasks:
      RunTasks();
      return 0;
    case WM_TIMER:
      if (wp == kBlinkTimer) tray_->OnBlinkTimer();
      if (wp == kRequestTimer) tray_->OnRequestTimer();
      return 0;
    case kTrayNotify:
      if (lp == WM_RBUTTONUP) {
        ShowMenu();
      } else if (lp == WM_LBUTTONDBLCLK) {
        tray_->OnTrayDoubleClick();
      }
      return 0;
    case WM_HOTKEY:
      if (wp == kHotKeyId) tray_->OnHotKey();
      return 0;
    case WM_COMMAND:
      tray_->OnCommand(LOWORD(wp));
      return 0;
    case WM_CLOSE:
    case WM_ENDSESSION:
      // The controller removes the icon, stops the viewer and ends the loop.
      if (msg == WM_CLOSE || wp != 0) tray_->Close();
      return 0;
    default:
      return DefWindowProcA(hwnd_, msg, wp, lp);
  }
}

}  // namespace qc
