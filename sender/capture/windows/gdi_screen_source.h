// SPDX-License-Identifier: GPL-3.0-or-later
// The Windows screen as the capture engine's ScreenSource, through GDI.
//
// The frame is a top-down DIB section selected into a memory context; a grab
// BitBlts the requested rows of the screen context into it. The pixel format
// and colour masks are those GetDIBits reports for a bitmap compatible with
// the screen; a 24-bit screen is captured into 32-bit pixels. Where the
// frame's rows would not be a multiple of 4 bytes (16-bit pixels, odd width)
// the section only receives the grab and the rows are copied into a packed
// frame. GDI keeps no record of drawing, so every range may have changed.
// A change of the screen's size or colour depth is reported as a display
// change.
//
// Only the chosen area (the whole screen, one monitor or a rectangle) is
// grabbed; the frame is the size of the area.
//
// Threads: Open and CreateFrame on the thread that initialises the engine,
// the rest on the capture work thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "sender/capture/screen_area.h"
#include "sender/capture/screen_source.h"

namespace qc {

class GdiScreenSource : public ScreenSource {
 public:
  struct Options {
    AreaChoice area;  // what to share; the whole screen by default
    // The monitor list; empty: the system's (ListMonitors).
    std::function<std::vector<MonitorInfo>()> monitors;
  };

  GdiScreenSource() = default;
  explicit GdiScreenSource(Options options) : options_(std::move(options)) {}
  ~GdiScreenSource() override;
  GdiScreenSource(const GdiScreenSource&) = delete;
  GdiScreenSource& operator=(const GdiScreenSource&) = delete;

  bool Open(ScreenFormat& format) override;
  uint8_t* CreateFrame() override;
  bool GrabRows(int first, int end) override;
  bool MayHaveChanged(int, int) override { return true; }
  bool TracksDamage() const override { return false; }
  bool DisplayChanged() override;

  // The display monitors, the primary one marked, in the system's order.
  static std::vector<MonitorInfo> ListMonitors();

  ScreenRect Area() const { return area_; }

 private:
  Options options_;
  HDC screenDc_ = nullptr;
  HDC memDc_ = nullptr;
  HBITMAP section_ = nullptr;
  HGDIOBJ oldBitmap_ = nullptr;
  uint8_t* bits_ = nullptr;        // the section's pixels
  std::vector<uint8_t> packed_;    // the frame when the section's rows are padded
  uint8_t* frame_ = nullptr;
  // The section's description as GetDIBits reported it (with room for the
  // three colour masks after the header).
  struct {
    BITMAPINFOHEADER header;
    DWORD masks[3];
  } info_{};
  int screenWidth_ = 0;
  int screenHeight_ = 0;
  int screenBits_ = 0;
  ScreenRect area_;
  int bytesPerPixel_ = 0;
  size_t rowBytes_ = 0;     // in the frame
  size_t dibRowBytes_ = 0;  // in the section: padded to 4 bytes
  bool grabFailureLogged_ = false;
};

}  // namespace qc
