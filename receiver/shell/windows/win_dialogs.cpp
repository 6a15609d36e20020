// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/shell/windows/win_dialogs.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "common/log_file.h"
#include "receiver/shell/port_rules.h"
#include "receiver/shell/qv_tray.h"
#include "shell/command_line.h"
#include "shell/console_output.h"
#include "shell/signing_keys.h"
#include "receiver/shell/windows/resource.h"

namespace qc {

namespace {

// The settings dialog's state: the controller and the port being edited.
struct SettingsState {
  qvTray* tray = nullptr;
  int port = 0;
};

uint32_t ReadPort(HWND dialog) {
  char text[32] = {};
  GetDlgItemTextA(dialog, IDC_PORT, text, sizeof text);
  return ReadPortField(text);
}

void ShowPort(HWND dialog, int port) {
  SetDlgItemTextA(dialog, IDC_PORT, std::to_string(static_cast<uint32_t>(port)).c_str());
}

void InitSettings(HWND dialog, SettingsState& state) {
  const qvTray& tray = *state.tray;
  SendDlgItemMessageA(dialog, IDC_PORT_SPIN, UDM_SETBUDDY,
                      reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_PORT)), 0);
  ShowPort(dialog, state.port);
  CheckDlgButton(dialog, IDC_FULL_SCREEN, tray.FullScreenSetting() ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, IDC_LOGGING, Log().IsEnabled() ? BST_CHECKED : BST_UNCHECKED);
  // The hot-key control holds a 16-bit code: key in the low byte, its
  // modifier flags in the high byte, as stored.
  SendDlgItemMessageA(dialog, IDC_HOTKEY, HKM_SETHOTKEY, tray.Hotkey() & 0xFFFF, 0);
  CheckDlgButton(dialog, IDC_HOTKEY_ENABLED, tray.HotkeyEnabled() ? BST_CHECKED : BST_UNCHECKED);
  EnableWindow(GetDlgItem(dialog, IDC_HOTKEY), tray.HotkeyEnabled());
  // A command-line port may still be changed with the arrows, not typed.
  if (tray.PortFromCommandLine()) EnableWindow(GetDlgItem(dialog, IDC_PORT), FALSE);
  // The sender key whose signed transmissions alone are shown; a --trust
  // key holds for this run.
  const std::string key =
      tray.TrustedSender() != nullptr ? PublicKeyText(*tray.TrustedSender()) : std::string();
  SetDlgItemTextA(dialog, IDC_SENDER_KEY, key.c_str());
  if (tray.TrustFromCommandLine()) EnableWindow(GetDlgItem(dialog, IDC_SENDER_KEY), FALSE);
  SetForegroundWindow(dialog);
}

void AcceptSettings(HWND dialog, SettingsState& state) {
  ReceiverDialogValues v;
  v.port = ReadPort(dialog);
  v.fullScreen = IsDlgButtonChecked(dialog, IDC_FULL_SCREEN) == BST_CHECKED;
  v.logging = IsDlgButtonChecked(dialog, IDC_LOGGING) == BST_CHECKED;
  v.hotkey = static_cast<uint32_t>(SendDlgItemMessageA(dialog, IDC_HOTKEY, HKM_GETHOTKEY, 0, 0)) &
             0xFFFF;
  v.hotkeyEnabled = IsDlgButtonChecked(dialog, IDC_HOTKEY_ENABLED) == BST_CHECKED;
  char key[128] = {};
  GetDlgItemTextA(dialog, IDC_SENDER_KEY, key, sizeof key);
  v.senderKey = std::string(key);
  PublicKey parsed;
  if (!state.tray->TrustFromCommandLine() &&
      v.senderKey->find_first_not_of(" \t") != std::string::npos &&
      !ParsePublicKeyText(*v.senderKey, parsed)) {
    PrintMessage(kReceiverStderrPrefix, kInvalidValueCaption, kBadKeyText);
    MessageBoxA(dialog, kBadKeyText, kInvalidValueCaption, MB_OK | MB_ICONERROR);
    return;  // the dialog stays open; nothing was applied
  }
  PortCheck check = state.tray->AcceptSettings(v);
  state.port = check.port;
  if (!check.valid) {
    PrintMessage(kReceiverStderrPrefix, kInvalidValueCaption, kInvalidPortDialogText);
    MessageBoxA(dialog, kInvalidPortDialogText, kInvalidValueCaption, MB_OK | MB_ICONERROR);
    ShowPort(dialog, check.port);
    return;  // the dialog stays open; nothing was applied
  }
  EndDialog(dialog, IDOK);
}

INT_PTR CALLBACK SettingsProc(HWND dialog, UINT msg, WPARAM wp, LPARAM lp) {
  auto* state = reinterpret_cast<SettingsState*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
  switch (msg) {
    case WM_INITDIALOG:
      state = reinterpret_cast<SettingsState*>(lp);
      SetWindowLongPtrA(dialog, GWLP_USERDATA, lp);
      InitSettings(dialog, *state);
      return TRUE;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lp);
      if (state == nullptr || header->idFrom != IDC_PORT_SPIN || header->code != UDN_DELTAPOS) {
        return FALSE;
      }
      // The control's default range runs downward (maximum below minimum),
      // so its up arrow reports a negative delta.
      bool up = reinterpret_cast<NMUPDOWN*>(lp)->iDelta < 0;
      state->port = StepPort(ReadPort(dialog), up);
      ShowPort(dialog, state->port);
      SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);  // refuse the control's own change
      return TRUE;
    }
    case WM_COMMAND:
      if (state == nullptr) return FALSE;
      switch (LOWORD(wp)) {
        case IDC_HOTKEY_ENABLED: {
          bool on = IsDlgButtonChecked(dialog, IDC_HOTKEY_ENABLED) == BST_CHECKED;
          EnableWindow(GetDlgItem(dialog, IDC_HOTKEY), on);
          if (on) SetFocus(GetDlgItem(dialog, IDC_HOTKEY));
          return TRUE;
        }
        case IDOK:
          AcceptSettings(dialog, *state);
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG: {
      // __DATE__ is "Mmm dd yyyy" with the day padded by a blank.
      std::string built = std::string("Built on ") + __DATE__ + " at " + __TIME__;
      SetDlgItemTextA(dialog, IDC_BUILT, built.c_str());
      SetForegroundWindow(dialog);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wp)) {
        case IDC_CHECK_UPDATES:
          ShellExecuteA(nullptr, "open", kReceiverUpdatePage, nullptr, nullptr, SW_SHOWNORMAL);
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        case IDOK:
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

void RunReceiverSettingsDialog(qvTray& tray) {
  SettingsState state;
  state.tray = &tray;
  state.port = tray.Port();
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETTINGS), nullptr,
                  SettingsProc, reinterpret_cast<LPARAM>(&state));
}

void RunReceiverAboutBox() {
  DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), nullptr, AboutProc, 0);
}

}  // namespace qc
