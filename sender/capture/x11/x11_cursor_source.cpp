// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/x11/x11_cursor_source.h"

#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>

#include "common/log_file.h"
#include "platform/x11/xcb_reply.h"

namespace qc {

std::unique_ptr<X11CursorSource> X11CursorSource::Create(const std::string& display) {
  std::unique_ptr<X11CursorSource> source(new X11CursorSource);
  int screenNumber = 0;
  source->conn_ = xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber);
  if (xcb_connection_has_error(source->conn_)) {
    Log().Print("qcCapture: Unable to connect to the X display for the cursor\n");
    return nullptr;
  }
  auto roots = xcb_setup_roots_iterator(xcb_get_setup(source->conn_));
  for (int i = 0; i < screenNumber && roots.rem; ++i) xcb_screen_next(&roots);
  if (!roots.rem) return nullptr;
  source->root_ = roots.data->root;

  const xcb_query_extension_reply_t* xfixes =
      xcb_get_extension_data(source->conn_, &xcb_xfixes_id);
  XcbPtr<xcb_xfixes_query_version_reply_t> version;
  if (xfixes != nullptr && xfixes->present) {
    version.reset(xcb_xfixes_query_version_reply(
        source->conn_, xcb_xfixes_query_version(source->conn_, 4, 0), nullptr));
  }
  if (!version || version->major_version < 2) {
    Log().Print("qcCapture: No XFixes extension, the cursor is not sent\n");
    return nullptr;
  }
  source->xfixesEvent_ = xfixes->first_event;
  xcb_xfixes_select_cursor_input(source->conn_, source->root_,
                                 XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
  // The serial of the cursor shown now; changes come as events.
  XcbPtr<xcb_xfixes_get_cursor_image_reply_t> image(xcb_xfixes_get_cursor_image_reply(
      source->conn_, xcb_xfixes_get_cursor_image(source->conn_), nullptr));
  if (image) source->serial_ = image->cursor_serial;
  return source;
}

X11CursorSource::~X11CursorSource() {
  if (conn_ != nullptr) xcb_disconnect(conn_);
}

uint32_t X11CursorSource::Unpremultiply(uint32_t argb) {
  uint32_t a = argb >> 24;
  if (a == 0 || a == 255) return argb;
  auto channel = [&](int shift) {
    uint32_t c = (argb >> shift) & 0xFF;
    return std::min<uint32_t>(255, (c * 255 + a / 2) / a) << shift;
  };
  return (a << 24) | channel(16) | channel(8) | channel(0);
}

void X11CursorSource::ProcessEvents() {
  while (xcb_generic_event_t* raw = xcb_poll_for_event(conn_)) {
    XcbPtr<xcb_generic_event_t> event(raw);
    if ((event->response_type & 0x7F) == xfixesEvent_ + XCB_XFIXES_CURSOR_NOTIFY) {
      serial_ = reinterpret_cast<xcb_xfixes_cursor_notify_event_t*>(raw)->cursor_serial;
    }
  }
}

bool X11CursorSource::Query(CursorState& state) {
  ProcessEvents();
  XcbPtr<xcb_query_pointer_reply_t> pointer(
      xcb_query_pointer_reply(conn_, xcb_query_pointer(conn_, root_), nullptr));
  if (!pointer) return false;
  state.handle = serial_;
  // A pointer on another screen of the display is not on ours.
  state.showing = pointer->same_screen != 0;
  state.x = pointer->root_x;
  state.y = pointer->root_y;
  return true;
}

bool X11CursorSource::ReadImage(CursorImage& image) {
  XcbPtr<xcb_xfixes_get_cursor_image_reply_t> reply(
      xcb_xfixes_get_cursor_image_reply(conn_, xcb_xfixes_get_cursor_image(conn_), nullptr));
  if (!reply || reply->width == 0 || reply->height == 0) return false;
  size_t count = static_cast<size_t>(reply->width) * reply->height;
  if (static_cast<size_t>(xcb_xfixes_get_cursor_image_cursor_image_length(reply.get())) < count) {
    return false;
  }
  const uint32_t* pixels = xcb_xfixes_get_cursor_image_cursor_image(reply.get());
  image.handle = reply->cursor_serial;
  image.width = reply->width;
  image.height = reply->height;
  image.hotX = reply->xhot;
  image.hotY = reply->yhot;
  image.pixels.resize(count);
  for (size_t i = 0; i < count; ++i) image.pixels[i] = Unpremultiply(pixels[i]);
  serial_ = reply->cursor_serial;
  return true;
}

}  // namespace qc
