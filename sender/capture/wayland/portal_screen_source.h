// SPDX-License-Identifier: GPL-3.0-or-later
// A Wayland desktop's monitor (GNOME, KDE Plasma, any desktop with a
// ScreenCast portal) as the capture engine's ScreenSource, with its cursor
// as a CursorSource.
//
// Open takes the portal session the program started ahead, or asks the
// portal for one monitor itself (PortalConsent), with the restore token kept
// in a file next to the settings: only the first start shows the desktop's
// dialog, and the token the portal returns replaces the stored one. The monitor then comes as a PipeWire stream of shared-memory buffers
// (BGRx, BGRA, RGBx or RGBA); each buffer's rows are copied into a staging
// picture: the rows its damage metadata names, or, when the compositor sends
// none, the rows that differ (the first frame is all damage). GrabRows
// copies staging rows into the engine's frame. A compositor sends buffers
// only when something changed, so a still screen costs nothing: the engine
// sleeps in WaitForDamage on PipeWire's loop.
//
// Buffers marked corrupted are dropped; buffers with an empty chunk carry
// only the cursor. The cursor comes from the cursor metadata (shape and
// position, room for 384 x 384) when the portal offers it, so that
// receivers keep their own cursor; otherwise the compositor draws it in and
// the cursor source reports none.
//
// The monitor is the one the user picked in the dialog (or the one the
// token restores); -monitor cannot choose it. A region is cropped from it
// in layout coordinates. A new size of the stream, or its end (the user
// stopped sharing), is a display change.
//
// Threads: Open and CreateFrame on the thread that initialises the engine,
// the rest (also the cursor source's calls) on the capture work thread;
// Wake on any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "sender/capture/cursor_source.h"
#include "sender/capture/wayland/portal_screen_cast.h"
#include "sender/capture/screen_area.h"
#include "sender/capture/screen_source.h"

namespace qc {

class PortalScreenSource : public ScreenSource {
 public:
  struct Options {
    AreaChoice area;          // only a region is honoured
    std::string tokenPath;    // where the restore token is kept; empty: nowhere
    int answerTimeoutMs = 120000;  // for the user's answer in the dialog
    // Told, on the opening thread, why the desktop did not share the screen
    // (one or two sentences for the user), when Open fails for that reason.
    std::function<void(const std::string&)> refused;
    // A session the program already started (PortalConsent, while its tray
    // waited); null: Open asks itself and waits for the answer.
    std::unique_ptr<PortalScreenCast> started;
  };

  explicit PortalScreenSource(Options options);
  ~PortalScreenSource() override;
  PortalScreenSource(const PortalScreenSource&) = delete;
  PortalScreenSource& operator=(const PortalScreenSource&) = delete;

  // The cursor of this source's stream; create it before Open. Valid while
  // the source lives (the engine destroys both together).
  std::unique_ptr<CursorSource> MakeCursorSource();

  bool Open(ScreenFormat& format) override;
  uint8_t* CreateFrame() override;
  bool GrabRows(int first, int end) override;
  bool MayHaveChanged(int first, int end) override;
  void DrawnBand(int first, int end, int& from, int& to) override;
  bool TracksDamage() const override { return true; }
  void WaitForDamage(int timeoutMs) override;
  void Wake() override;
  // The cursor comes as metadata or drawn into the frames: either way its
  // moves wake WaitForDamage.
  bool TracksPointer() const override { return true; }
  bool TakePointerEvent() override;
  bool DisplayChanged() override;

  // Whether a ScreenCast portal answers on the session bus.
  static bool Available();

  struct State;

 private:
  Options options_;
  std::unique_ptr<State> s_;
};

}  // namespace qc
