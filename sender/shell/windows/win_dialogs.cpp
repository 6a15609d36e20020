// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/windows/win_dialogs.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "common/log_file.h"
#include "sender/capture/screen_area.h"
#include "sender/shell/qc_tray.h"
#include "sender/shell/settings_dialog_logic.h"
#include "shell/command_line.h"
#include "shell/console_output.h"
#include "sender/shell/windows/resource_ids.h"

namespace qc {

namespace {

constexpr char kStartingText[] = "Checking if it's safe to start transmission.\n\nPlease wait...";

HINSTANCE Module() { return GetModuleHandleA(nullptr); }

std::string ItemText(HWND dialog, int id) {
  char text[64] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

bool Checked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

// The settings dialog: the controls of template 117 around one qcSettings.
class SettingsDialog {
 public:
  explicit SettingsDialog(qcTray& tray) : tray_(tray), logic_(tray) {}

  int Run() {
    EnsureCommonControls();
    return static_cast<int>(DialogBoxParamA(Module(), MAKEINTRESOURCEA(IDD_SETTINGS), nullptr,
                                            Proc, reinterpret_cast<LPARAM>(this)));
  }

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lp);
    auto* self = reinterpret_cast<SettingsDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (self == nullptr) return FALSE;
    switch (msg) {
      case WM_INITDIALOG:
        self->dialog_ = dialog;
        self->Init();
        return TRUE;  // the system gives the first control the focus
      case WM_NOTIFY:
        return self->OnNotify(*reinterpret_cast<NMHDR*>(lp));
      case WM_COMMAND:
        self->OnCommand(LOWORD(wp), HIWORD(wp));
        return TRUE;
      default:
        return FALSE;
    }
  }

  void Init() {
    logic_.Open();
    const SenderSettings& s = tray_.Settings();
    // The spins step around a fixed middle position: only their direction
    // counts, and they never reach an end of their range.
    for (auto [spin, box] : {std::pair{IDC_PORT_SPIN, IDC_PORT}, {IDC_PERIOD_SPIN, IDC_PERIOD}}) {
      HWND control = GetDlgItem(dialog_, spin);
      SendMessageA(control, UDM_SETBUDDY, reinterpret_cast<WPARAM>(GetDlgItem(dialog_, box)), 0);
      SendMessageA(control, UDM_SETRANGE32, 0, 100);
      SendMessageA(control, UDM_SETPOS32, 0, 50);
    }
    SetDlgItemTextA(dialog_, IDC_PORT, std::to_string(static_cast<uint32_t>(logic_.Port())).c_str());
    SetDlgItemTextA(dialog_, IDC_PERIOD,
                    std::to_string(static_cast<uint32_t>(logic_.UpdatePeriod())).c_str());
    CheckDlgButton(dialog_, IDC_DISABLE_ACCELERATION,
                   s.disableAcceleration ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog_, IDC_ENABLE_LOGGING, Log().IsEnabled() ? BST_CHECKED : BST_UNCHECKED);

    HWND share = GetDlgItem(dialog_, IDC_SHARE);
    SendMessageA(share, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Whole screen"));
    for (const MonitorInfo& m : tray_.Monitors()) {
      SendMessageA(share, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(MonitorLabel(m).c_str()));
    }
    // A stored monitor that is not plugged in keeps its place in the list.
    for (int n = static_cast<int>(SendMessageA(share, CB_GETCOUNT, 0, 0)); n <= s.monitor; ++n) {
      std::string label = "Monitor " + std::to_string(n);
      SendMessageA(share, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
    }
    SendMessageA(share, CB_SETCURSEL, static_cast<WPARAM>(std::max(0, s.monitor)), 0);

    HWND mode = GetDlgItem(dialog_, IDC_VIDEO_MODE);
    for (const char* label : kVideoModeLabels) {
      SendMessageA(mode, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
    }
    SendMessageA(mode, CB_SETCURSEL, static_cast<WPARAM>(std::clamp(s.videoMode, 0, 2)), 0);
    SetDlgItemTextA(dialog_, IDC_VIDEO_BITRATE, std::to_string(s.videoBitrate).c_str());

    SendDlgItemMessageA(dialog_, IDC_HOTKEY_START, HKM_SETHOTKEY, s.hotkeyStart & 0xFFFF, 0);
    SendDlgItemMessageA(dialog_, IDC_HOTKEY_PAUSE, HKM_SETHOTKEY, s.hotkeyPause & 0xFFFF, 0);
    CheckDlgButton(dialog_, IDC_ENABLE_HOTKEY_START,
                   s.enableHotkeyStart ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog_, IDC_ENABLE_HOTKEY_PAUSE,
                   s.enableHotkeyPause ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(dialog_, IDC_HOTKEY_START), s.enableHotkeyStart);
    EnableWindow(GetDlgItem(dialog_, IDC_HOTKEY_PAUSE), s.enableHotkeyPause);

    // The port given on the command line cannot be typed over; its spin
    // still steps it, for this run. The box is made read-only rather than
    // disabled: an up-down control ignores its arrows while its buddy is
    // disabled.
    if (s.portFromCommandLine) SendDlgItemMessageA(dialog_, IDC_PORT, EM_SETREADONLY, TRUE, 0);
    SetForegroundWindow(dialog_);
  }

  INT_PTR OnNotify(const NMHDR& header) {
    if (header.code != static_cast<UINT>(UDN_DELTAPOS)) return FALSE;
    const auto& change = reinterpret_cast<const NMUPDOWN&>(header);
    bool up = change.iDelta > 0;
    if (!inMessage_) {
      if (header.idFrom == IDC_PORT_SPIN) {
        Apply(logic_.OnPortSpin(ItemText(dialog_, IDC_PORT), up), IDC_PORT);
      } else if (header.idFrom == IDC_PERIOD_SPIN) {
        Apply(logic_.OnPeriodSpin(ItemText(dialog_, IDC_PERIOD), up), IDC_PERIOD);
      }
    }
    // Non-zero keeps the spin at its middle position.
    SetWindowLongPtrA(dialog_, DWLP_MSGRESULT, TRUE);
    return TRUE;
  }

  void OnCommand(int id, int code) {
    switch (id) {
      case IDC_PERIOD:
        if (code == EN_KILLFOCUS) PeriodEdited();
        break;
      case IDC_ENABLE_HOTKEY_START:
      case IDC_ENABLE_HOTKEY_PAUSE:
        if (code == BN_CLICKED) {
          HWND field = GetDlgItem(dialog_, id == IDC_ENABLE_HOTKEY_START ? IDC_HOTKEY_START
                                                                          : IDC_HOTKEY_PAUSE);
          bool on = Checked(dialog_, id);
          EnableWindow(field, on);
          if (on) SetFocus(field);
        }
        break;
      case IDC_SHARE:
        if (code == CBN_SELCHANGE) shareChanged_ = true;
        break;
      case IDOK:
        Ok();
        break;
      case IDCANCEL:
        End(IDCANCEL);
        break;
      default:
        break;
    }
  }

  void PeriodEdited() {
    if (inMessage_ || ending_) return;
    if (auto update = logic_.OnPeriodFocusLost(ItemText(dialog_, IDC_PERIOD))) {
      Apply(*update, IDC_PERIOD);
    }
  }

  void Ok() {
    // Enter in the period box confirms what was typed there, as leaving
    // the box does.
    if (GetFocus() == GetDlgItem(dialog_, IDC_PERIOD)) PeriodEdited();
    SettingsDialogValues v;
    v.portText = ItemText(dialog_, IDC_PORT);
    v.disableAcceleration = Checked(dialog_, IDC_DISABLE_ACCELERATION);
    v.logging = Checked(dialog_, IDC_ENABLE_LOGGING);
    v.hotkeyStart = LOWORD(SendDlgItemMessageA(dialog_, IDC_HOTKEY_START, HKM_GETHOTKEY, 0, 0));
    v.enableHotkeyStart = Checked(dialog_, IDC_ENABLE_HOTKEY_START);
    v.hotkeyPause = LOWORD(SendDlgItemMessageA(dialog_, IDC_HOTKEY_PAUSE, HKM_GETHOTKEY, 0, 0));
    v.enableHotkeyPause = Checked(dialog_, IDC_ENABLE_HOTKEY_PAUSE);
    if (shareChanged_) {
      v.monitor = static_cast<int>(SendDlgItemMessageA(dialog_, IDC_SHARE, CB_GETCURSEL, 0, 0));
    }
    v.videoMode = static_cast<int>(SendDlgItemMessageA(dialog_, IDC_VIDEO_MODE, CB_GETCURSEL, 0, 0));
    v.videoBitrateText = ItemText(dialog_, IDC_VIDEO_BITRATE);
    if (auto correction = logic_.OnOk(v)) {
      Apply(*correction, correction->videoBitrate ? IDC_VIDEO_BITRATE : IDC_PORT);
      return;  // stay: the corrected value can be confirmed with a second OK
    }
    End(IDOK);
  }

  void End(int result) {
    ending_ = true;  // the focus leaving the period box now changes nothing
    EndDialog(dialog_, result);
  }

  // Writes the answer into the box and shows its message, if any, owned by
  // the dialog (and on standard error).
  void Apply(const BoxUpdate& update, int box) {
    SetDlgItemTextA(dialog_, box, update.text.c_str());
    if (update.message == nullptr) return;
    PrintMessage("", kInvalidValueCaption, update.message);
    inMessage_ = true;  // the box takes the focus: no second check
    MessageBoxA(dialog_, update.message, kInvalidValueCaption, MB_OK | MB_ICONERROR);
    inMessage_ = false;
  }

  qcTray& tray_;
  qcSettings logic_;
  HWND dialog_ = nullptr;
  bool inMessage_ = false;
  bool ending_ = false;
  bool shareChanged_ = false;
};

INT_PTR CALLBACK AboutProc(HWND dialog, UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      SetDlgItemTextA(dialog, IDC_BUILD_STAMP, BuildStamp().c_str());
      SetForegroundWindow(dialog);
      return TRUE;
    case WM_COMMAND: {
      int id = LOWORD(wp);
      if (id == IDOK || id == IDCANCEL || id == IDC_CHECK_UPDATES) EndDialog(dialog, id);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

void EnsureCommonControls() {
  static const bool done = [] {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_UPDOWN_CLASS | ICC_HOTKEY_CLASS | ICC_STANDARD_CLASSES;
    return InitCommonControlsEx(&controls) != FALSE;
  }();
  (void)done;
}

int RunSettingsDialog(qcTray& tray) {
  SettingsDialog dialog(tray);
  return dialog.Run();
}

std::string BuildStamp() { return std::string("Built on ") + __DATE__ + " at " + __TIME__; }

int RunAboutBox() {
  EnsureCommonControls();
  return static_cast<int>(
      DialogBoxParamA(Module(), MAKEINTRESOURCEA(IDD_ABOUT), nullptr, AboutProc, 0));
}

void StartingDialog::Show() {
  if (window_ == nullptr) {
    window_ = CreateDialogParamA(Module(), MAKEINTRESOURCEA(IDD_STARTING), nullptr, Proc,
                                 reinterpret_cast<LPARAM>(this));
    if (window_ == nullptr) return;
  }
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
}

void StartingDialog::Hide() {
  if (window_ != nullptr) ShowWindow(window_, SW_HIDE);
}

void StartingDialog::Close() {
  if (window_ == nullptr) return;
  ShowWindow(window_, SW_HIDE);
  DestroyWindow(window_);  // its WM_DESTROY forgets the handle
}

INT_PTR CALLBACK StartingDialog::Proc(HWND dialog, UINT msg, WPARAM, LPARAM lp) {
  if (msg == WM_INITDIALOG) SetWindowLongPtrA(dialog, DWLP_USER, lp);
  auto* self = reinterpret_cast<StartingDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
  if (self == nullptr) return FALSE;
  switch (msg) {
    case WM_INITDIALOG:
      SetDlgItemTextA(dialog, IDC_STARTING_TEXT, kStartingText);
      return TRUE;
    case WM_COMMAND:  // Esc or the close box; the start check goes on
      DestroyWindow(dialog);
      return TRUE;
    case WM_DESTROY:
      self->window_ = nullptr;
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace qc
