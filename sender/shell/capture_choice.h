// SPDX-License-Identifier: GPL-3.0-or-later
// Which screen capture the sender uses: X11 (an X11 session), or on a
// Wayland desktop the compositor's wlr-screencopy (sway and other wlroots
// compositors) or the desktop's ScreenCast portal (GNOME, KDE). The rule is
// pure; main.cpp feeds it the environment and probes of the desktop.
//
// Threads: any (no state).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace qc {

enum class CaptureBackend { Auto, X11, Portal, Wlr };

// "x11", "portal" or "wlr"; false for anything else.
bool ParseCaptureBackend(std::string_view text, CaptureBackend& backend);
const char* CaptureBackendName(CaptureBackend backend);

struct SessionEnvironment {
  std::string sessionType;  // $XDG_SESSION_TYPE
  bool x11Display = false;      // $DISPLAY set
  bool waylandDisplay = false;  // $WAYLAND_DISPLAY set
};

// The environment of this process.
SessionEnvironment CurrentSession();
// XDG_SESSION_TYPE=wayland, or WAYLAND_DISPLAY without an X11 session type.
// There global hotkeys (grabbed through X11) work only while an XWayland
// window has the focus.
bool IsWaylandSession(const SessionEnvironment& env);

struct CaptureChoice {
  CaptureBackend backend = CaptureBackend::X11;
  std::string reason;  // one line for the log and standard error
};

// A forced backend is taken as it is. Otherwise a Wayland session
// (XDG_SESSION_TYPE=wayland, or WAYLAND_DISPLAY without an X11 session
// type) uses wlr-screencopy when the compositor offers it (it needs no
// consent and no portal), else the ScreenCast portal when one answers, else
// X11 through XWayland (which sees only X11 programs: the reason says so);
// any other session uses X11. Probes run only when needed.
CaptureChoice ChooseCapture(CaptureBackend forced, const SessionEnvironment& env,
                            const std::function<bool()>& wlrAvailable,
                            const std::function<bool()>& portalAvailable);

}  // namespace qc
