// SPDX-License-Identifier: GPL-3.0-or-later
// The X11 mouse cursor as the capture engine's CursorSource, through XFixes.
//
// The cursor serial plays the role of the cursor handle: XFixes gives every
// cursor image a serial and reports a change of the displayed cursor as an
// event, so a query costs one pointer query and no image transfer. The
// image is read (xcb_xfixes_get_cursor_image) only when the engine asks for
// it; its premultiplied ARGB pixels are turned into straight alpha.
//
// Threads: Create on any thread, Query and ReadImage on the capture work
// thread.
#pragma once

#include <xcb/xcb.h>

#include <memory>
#include <string>

#include "sender/capture/cursor_source.h"

namespace qc {

class X11CursorSource : public CursorSource {
 public:
  // nullptr (with a log line) when the display cannot be reached or has no
  // XFixes 2 or later; the engine then runs with the cursor off.
  static std::unique_ptr<X11CursorSource> Create(const std::string& display = {});
  ~X11CursorSource() override;
  X11CursorSource(const X11CursorSource&) = delete;
  X11CursorSource& operator=(const X11CursorSource&) = delete;

  bool Query(CursorState& state) override;
  bool ReadImage(CursorImage& image) override;

  // Premultiplied 0xAARRGGBB to straight alpha.
  static uint32_t Unpremultiply(uint32_t argb);

 private:
  X11CursorSource() = default;
  void ProcessEvents();

  xcb_connection_t* conn_ = nullptr;
  xcb_window_t root_ = 0;
  uint8_t xfixesEvent_ = 0;
  uint32_t serial_ = 0;
};

}  // namespace qc
