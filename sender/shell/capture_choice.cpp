#include "sender/shell/capture_choice.h"

namespace qc {

bool ParseCaptureBackend(std::string_view text, CaptureBackend& backend) {
  if (text == "x11") {
    backend = CaptureBackend::X11;
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
    case CaptureBackend::Wlr: return "wlr";
    case CaptureBackend::Auto: break;
  }
  return "auto";
}

CaptureChoice ChooseCapture(CaptureBackend forced, const SessionEnvironment& env,
                            const std::function<bool()>& wlrAvailable) {
  if (forced == CaptureBackend::X11) return {CaptureBackend::X11, "X11 capture (--capture x11)"};
  if (forced == CaptureBackend::Wlr) {
    return {CaptureBackend::Wlr, "Wayland wlr-screencopy capture (--capture wlr)"};
  }
  bool wayland = env.sessionType == "wayland" || (env.sessionType != "x11" && env.waylandDisplay);
  if (!wayland) return {CaptureBackend::X11, "X11 capture (X11 session)"};
  if (wlrAvailable()) {
    return {CaptureBackend::Wlr, "Wayland wlr-screencopy capture (Wayland session)"};
  }
  if (env.x11Display) {
    return {CaptureBackend::X11,
            "X11 capture through XWayland: the compositor offers no wlr-screencopy, so only "
            "X11 programs are seen"};
  }
  return {CaptureBackend::Wlr,
          "Wayland wlr-screencopy capture (Wayland session without X11; the compositor does "
          "not seem to offer it)"};
}

}  // namespace qc
