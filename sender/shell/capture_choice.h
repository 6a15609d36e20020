// Which screen capture the sender uses: X11 (an X11 session, or forced), or
// on a Wayland desktop a wlroots compositor's wlr-screencopy. The rule is
// pure; main.cpp feeds it the environment and a probe of the compositor.
//
// Threads: any (no state).
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace qc {

enum class CaptureBackend { Auto, X11, Wlr };

// "x11" or "wlr"; false for anything else.
bool ParseCaptureBackend(std::string_view text, CaptureBackend& backend);
const char* CaptureBackendName(CaptureBackend backend);

struct SessionEnvironment {
  std::string sessionType;  // $XDG_SESSION_TYPE
  bool x11Display = false;      // $DISPLAY set
  bool waylandDisplay = false;  // $WAYLAND_DISPLAY set
};

struct CaptureChoice {
  CaptureBackend backend = CaptureBackend::X11;
  std::string reason;  // one line for the log and standard error
};

// A forced backend is taken as it is. Otherwise: a Wayland session
// (XDG_SESSION_TYPE=wayland, or WAYLAND_DISPLAY without an X11 session
// type) uses wlr-screencopy when wlrAvailable() says the compositor offers
// it, and else X11 (which then sees only XWayland's programs: the reason
// says so); any other session uses X11.
CaptureChoice ChooseCapture(CaptureBackend forced, const SessionEnvironment& env,
                            const std::function<bool()>& wlrAvailable);

}  // namespace qc
