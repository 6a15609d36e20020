// SPDX-License-Identifier: GPL-3.0-or-later
// ViewerWindowModel: what the viewer window decides, on every platform: the
// cycle (started, placed, restarting, the window gone), the placement, the
// transform (scroll position, full-screen scale and centring), the scroll
// bars, scrolling, the keys that toggle full screen and where the remote
// cursor is drawn. The Qt and the Win32 windows hold one each and only
// paint and translate their events (Start, Place at the placement, then
// EnterFullScreen when FullScreenSetting(); Stop, then WindowGone).
//
// GUI thread only; no platform calls, no threads.
#pragma once

#include "receiver/viewer/remote_cursor.h"
#include "receiver/viewer/viewer_geometry.h"
#include "receiver/viewer/viewer_owner.h"

namespace qc {

// The keys the viewer window acts on (on release).
enum class ViewerKey { Escape, Return, Other };

class ViewerWindowModel {
 public:
  // A cycle begins: windowed, scroll (0, 0), not placed; owner (not owned)
  // hears of the window's end; full screen at the placement when
  // fullScreenSetting.
  void Start(ViewerOwner* owner, bool fullScreenSetting);
  // The cycle ends: not placed, windowed, the transform reset.
  void Stop();
  bool Started() const { return started_; }
  // The coming Stop is a restart: the window's end must not end the program.
  void SetRestarting() { restarting_ = true; }
  // The window is gone for this cycle (stopped, or closed by the user).
  // Once per cycle: unless a restart is under way, the program ends through
  // the owner's FatalStop(false).
  void WindowGone();
  // The program is ending anyway: the window's end reports nothing.
  void EndQuietly();

  // The first init message's placement: the outer rectangle of a window
  // showing the framebuffer whole (client area W x H inside `frame`), at
  // most the work area, centred in it.
  Rect Place(Extent framebuffer, FrameMargins frame, Rect workArea);
  bool Placed() const { return placed_; }
  bool FullScreenSetting() const { return fullScreenSetting_; }
  Extent Framebuffer() const { return framebuffer_; }
  // The outer size that shows the whole framebuffer without scroll bars.
  Extent MaxOuter() const { return maxOuter_; }
  // The window manager's frame became known after the placement.
  void SetFrame(FrameMargins frame) { maxOuter_ = MaxOuterSize(framebuffer_, frame); }

  bool IsFullScreen() const { return fullScreen_; }
  // Whether SetFullScreen(on) has anything to do: placed, and a change.
  bool FullScreenChanges(bool on) const { return placed_ && on != fullScreen_; }
  // Full screen on a screen of that size: the image scaled down to fit and
  // centred, scroll (0, 0).
  void EnterFullScreen(Extent screen);
  // Full screen, but the scaled image cannot be had: unscaled and centred.
  void ShowUnscaled(Extent screen);
  // Back to the window: unscaled, scroll (0, 0).
  void LeaveFullScreen();
  const ViewTransform& Transform() const { return transform_; }

  // Size changes, scroll bars and scrolling apply to a placed window that
  // is not full screen.
  bool Scrollable() const { return placed_ && !fullScreen_; }
  // Both bars go once the window's outer size shows everything.
  bool BarsHidden(Extent outer) const { return ScrollBarsHidden(outer, maxOuter_); }
  // The client area is now `client`: the scroll position falls back so that
  // nothing beyond the framebuffer shows. Returns how far the shown content
  // moves (old position - new), (0, 0) when it stays.
  ScrollDelta ClientResized(Extent client);
  // The horizontal or the vertical bar for a client extent.
  ScrollBarRange Bar(bool horizontal, int client) const;
  // A drag of the window's edges (outer rectangle, screen coordinates)
  // limited so that the window grows no larger than MaxOuter(): a left or
  // top edge stops at that size, a right edge one pixel later.
  Rect LimitDrag(Rect outer, bool left, bool top, bool right, bool bottom) const;
  // A scroll bar's request on a client extent of `client`, the thumb at
  // `track`: the scroll it asks for.
  ScrollDelta Request(bool horizontal, ScrollRequest request, int client, int track) const;
  // Scrolls by `wanted`, clamped to the framebuffer; returns what moved,
  // (0, 0) when nothing does (also in full screen and before the placement).
  ScrollDelta ScrollBy(ScrollDelta wanted, Extent client);

  // Escape in full screen and Alt+Enter in either mode toggle full screen
  // (the window posts ID_FULL_SCREEN to the tray).
  bool TogglesFullScreen(ViewerKey key, bool alt) const;

  // Where the image lies in the client area.
  Rect ImageRect() const;
  // A changed framebuffer rectangle in client coordinates.
  Rect ToWindow(const Rect& framebufferRect) const {
    return FramebufferToWindow(framebufferRect, transform_);
  }

  // The remote cursor of one paint: its image drawn over `target`, nothing
  // of it outside `clip` (the image: a cursor over the edge of a
  // letter-boxed picture leaves no trace in the margin).
  struct CursorFrame {
    const RemoteCursorImage* image = nullptr;
    Rect target;
    Rect clip;
    bool inverts = false;  // image->invert holds a byte per pixel
  };
  // Paint's part, with the cursor lock held: where the cursor goes (and,
  // through TakeCursorForPaint, records it as drawn). False when nothing of
  // it shows; frame stays valid while the lock is held.
  bool TakeCursorFrame(RemoteCursorState& state, CursorFrame& frame) const;

 private:
  ViewerOwner* owner_ = nullptr;
  bool started_ = false;
  bool fullScreenSetting_ = false;
  bool fullScreen_ = false;
  bool placed_ = false;
  bool windowGone_ = true;
  bool restarting_ = false;
  ViewTransform transform_;
  Extent framebuffer_;
  Extent maxOuter_;
};

}  // namespace qc
