// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/capture_choice.h"

#include <cstdlib>

namespace qc {

bool ParseCaptureBackend(std::string_view text, CaptureBackend& backend) {
  if (text == "x11") {
    backend = CaptureBackend::X11;
  } else if (text == "portal") {
    backend = CaptureBackend::Portal;
  } else if (text == "wlr") {
    backend = CaptureBackend::Wlr;
  } else {
    return false;
  }
  return true;
}

const char* CaptureBackendName(CaptureBackend backend) {
  switch (backend) {
    case CaptureBackend::X11: return "x11";
    case CaptureBackend::Portal: return "portal";
    case CaptureBackend::Wlr: return "wlr";
    case CaptureBackend::Auto: break;
  }
  return "auto";
}

SessionEnvironment CurrentSession() {
  const char* type = getenv("XDG_SESSION_TYPE");
  return {type != nullptr ? type : "", getenv("DISPLAY") != nullptr,
          getenv("WAYLAND_DISPLAY") != nullptr};
}

bool IsWaylandSession(const SessionEnvironment& env) {
  return env.sessionType == "wayland" || (env.sessionType != "x11" && env.waylandDisplay);
}

CaptureChoice ChooseCapture(CaptureBackend forced, const SessionEnvironment& env,
                            const std::function<bool()>& wlrAvailable,
                            const std::function<bool()>& portalAvailable) {
  switch (forced) {
    case CaptureBackend::X11: return {CaptureBackend::X11, "X11 capture (--capture x11)"};
    case CaptureBackend::Portal:
      return {CaptureBackend::Portal, "ScreenCast portal capture (--capture portal)"};
    case CaptureBackend::Wlr:
      return {CaptureBackend::Wlr, "Wayland wlr-screencopy capture (--capture wlr)"};
    case CaptureBackend::Auto: break;
  }
  if (!IsWaylandSession(env)) return {CaptureBackend::X11, "X11 capture (X11 session)"};
  if (env.waylandDisplay && wlrAvailable()) {
    return {CaptureBackend::Wlr, "Wayland wlr-screencopy capture (Wayland session)"};
  }
  if (portalAvailable()) {
    return {CaptureBackend::Portal, "ScreenCast portal capture (Wayland session)"};
  }
  if (env.x11Display) {
    return {CaptureBackend::X11,
            "X11 capture through XWayland: the desktop offers neither wlr-screencopy nor a "
            "ScreenCast portal, so only X11 programs are seen"};
  }
  return {CaptureBackend::Portal,
          "ScreenCast portal capture (Wayland session without X11; no portal answers yet)"};
}

}  // namespace qc
