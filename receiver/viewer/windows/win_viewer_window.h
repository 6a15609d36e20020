// SPDX-License-Identifier: GPL-3.0-or-later
// WinViewerWindow: the receiver's viewer window on Windows ("Quillview
// viewer class"), the Win32 twin of ViewerWindow (viewer_window.h): the same
// public calls, the same cycle and decisions (ViewerWindowModel), and it is
// the viewer core's ViewerSurface. Start creates the window (hidden until
// the placement), Stop destroys it; its commands come from the system menu
// and reach the command handler from the message loop. The image is kept as
// a 32-bit DIB section and, full screen scaled, stretched with half-tone.
//
// Threads: as ViewerWindow's; the update thread wakes the GUI thread with a
// posted message.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "receiver/viewer/paced_surface.h"
#include "receiver/viewer/pixel_format.h"
#include "receiver/viewer/viewer_geometry.h"
#include "receiver/viewer/viewer_source.h"
#include "receiver/viewer/viewer_window_model.h"

namespace qc {

class WinViewerWindow : public PacedSurface {
 public:
  // source: the receiving side (qvViewer); not owned, it must outlive the
  // window.
  explicit WinViewerWindow(ViewerSource& source);
  // The program's icon resource for the window class; set before the
  // first window is made (GUI thread).
  static void SetClassIcon(int resourceId) { classIcon_ = resourceId; }
  ~WinViewerWindow() override;
  WinViewerWindow(const WinViewerWindow&) = delete;
  WinViewerWindow& operator=(const WinViewerWindow&) = delete;

  // Starts a cycle: creates the window (hidden) and initialises the source
  // with this window as its surface. False when a step failed (logged);
  // Stop() is still needed.
  bool Start(ViewerOwner* owner, uint16_t port, bool fullScreenSetting);
  // Ends the cycle: stops the source, destroys the window. Harmless when
  // not started.
  void Stop();
  // The coming Stop is a restart: the window's end must not end the program.
  void SetRestarting() { model_.SetRestarting(); }

  bool IsFullScreen() const { return model_.IsFullScreen(); }
  // Show (in the current mode) or hide the window; showing waits for the
  // first init message's placement.
  void ShowViewer(bool show);
  // Enters or leaves full screen (only once placed).
  void SetFullScreen(bool on);
  void SetCommandHandler(std::function<void(int)> handler) { commandHandler_ = std::move(handler); }

  // Scrolls the client area by (dx, dy), clamped; false when nothing moved.
  bool ScrollBy(int dx, int dy);


 private:
  static inline int classIcon_ = 0;
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
  bool CreateViewerWindow();
  void Wake() override;
  void ServeRequests();
  void ScheduleFrame();
  void PaintRects(std::span<const Rect> rects) override;
  void DoPlaceWindow() override;
  bool MakeFramebufferBitmap(const FramebufferView& fb);
  void ReleaseBitmaps();
  bool EnsureBackBuffer(Extent client);
  void EnterFullScreen(bool logIt);
  void LeaveFullScreen();
  void SizeChanged();
  void SetScrollBars();
  void OnScroll(bool horizontal, WPARAM wp);
  void PostCommand(int id);
  void Paint();
  void CopyToBitmap(const Rect& source);
  void UpdateScaled(const Rect& source);
  void ReleaseScaled();
  void PaintImage(const Rect& p);
  void PaintCursor(const Rect& p);
  void WindowGone();

  ViewerSource& source_;
  std::function<void(int)> commandHandler_;
  HWND hwnd_ = nullptr;  // set before the source's threads start, kept until they end

  // GUI thread state.
  ViewerWindowModel model_;
  Extent client_;  // cw x ch at the last size change
  bool barsHidden_ = false;
  bool inSizeChange_ = false;
  bool frameTimerActive_ = false;
  RECT savedRect_{};

  // The framebuffer's copy as 32-bit RGB (a DIB section), brought up to date
  // for the part each paint shows; the client-sized back buffer painting
  // composes in; the cursor images.
  PixelFormat format_;  // the bound framebuffer
  HDC fbDc_ = nullptr;
  HBITMAP fbBitmap_ = nullptr;
  HGDIOBJ fbOld_ = nullptr;
  uint8_t* fbBits_ = nullptr;
  int fbStride_ = 0;
  // Full screen, scaled: the image at its shown size, kept up to date by
  // stretching whole blocks of the framebuffer (a block of 100/g source
  // pixels maps onto exactly sx/g shown ones, g = gcd(sx, 100)), so that a
  // pixel comes out the same whichever update stretched it; paints copy
  // from it. Stale after a time hidden: rebuilt whole by the next paint.
  HDC scaledDc_ = nullptr;
  HBITMAP scaledBitmap_ = nullptr;
  HGDIOBJ scaledOld_ = nullptr;
  Extent scaledSize_;
  bool scaledStale_ = false;
  HDC backDc_ = nullptr;
  HBITMAP backBitmap_ = nullptr;
  HGDIOBJ backOld_ = nullptr;
  Extent backSize_;
  HDC cursorDc_ = nullptr;
  HBITMAP cursorBitmap_ = nullptr;   // premultiplied ARGB
  HGDIOBJ cursorOld_ = nullptr;
  HDC invertDc_ = nullptr;
  HBITMAP invertBitmap_ = nullptr;   // white where the cursor inverts
  HGDIOBJ invertOld_ = nullptr;
  uint32_t* cursorBits_ = nullptr;
  uint32_t* invertBits_ = nullptr;
  Extent cursorSize_;

  std::atomic<bool> wakePosted_{false};  // a wake message is in the queue
};

}  // namespace qc
