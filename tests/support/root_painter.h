// SPDX-License-Identifier: GPL-3.0-or-later
// Test helper: a second X client that draws scenes on the root window of a
// test X server and reads the screen back, unpadded.
#pragma once

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace qc::test {

// A second X client that draws on the root window and reads it back.
class RootPainter {
 public:
  explicit RootPainter(const std::string& display) {
    conn_ = xcb_connect(display.c_str(), nullptr);
    EXPECT_FALSE(xcb_connection_has_error(conn_));
    const xcb_setup_t* setup = xcb_get_setup(conn_);
    screen_ = xcb_setup_roots_iterator(setup).data;
    gc_ = xcb_generate_id(conn_);
    xcb_create_gc(conn_, gc_, screen_->root, 0, nullptr);
    depth_ = screen_->root_depth;
    bytes_ = depth_ >= 24 ? 4 : 2;
  }
  ~RootPainter() { xcb_disconnect(conn_); }

  int Width() const { return screen_->width_in_pixels; }
  int Height() const { return screen_->height_in_pixels; }
  int BytesPerPixel() const { return bytes_; }

  void Fill(int x, int y, int w, int h, uint32_t pixel) {
    xcb_change_gc(conn_, gc_, XCB_GC_FOREGROUND, &pixel);
    xcb_rectangle_t r{int16_t(x), int16_t(y), uint16_t(w), uint16_t(h)};
    xcb_poly_fill_rectangle(conn_, screen_->root, gc_, 1, &r);
  }
  // Noise (many colours: Raw color substrings); byte 3 set to show that it
  // never reaches the wire.
  void Noise(int x, int y, int w, int h, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> data(size_t(w) * h * bytes_);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    xcb_put_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, screen_->root, gc_, uint16_t(w), uint16_t(h),
                  int16_t(x), int16_t(y), 0, uint8_t(depth_), uint32_t(data.size()), data.data());
  }
  // A few shapes of few colours each (palette kinds, Copy entries).
  void Scene(uint32_t seed) {
    std::mt19937 random(seed);
    Fill(0, 0, Width(), Height(), 0x336699 & Mask());
    for (int i = 0; i < 60; ++i) {
      int w = 20 + random() % 300, h = 10 + random() % 200;
      Fill(random() % (Width() - w), random() % (Height() - h), w, h, random() & Mask());
    }
    for (int i = 0; i < 6; ++i) Noise(random() % (Width() - 120), random() % (Height() - 90), 120, 90, seed + i);
    Sync();
  }
  uint32_t Mask() const { return bytes_ == 4 ? 0xFFFFFF : 0xFFFF; }
  void MovePointer(int x, int y) {
    xcb_warp_pointer(conn_, XCB_NONE, screen_->root, 0, 0, 0, 0, int16_t(x), int16_t(y));
    Sync();
  }
  // Shows another cursor over the root window: a glyph of the cursor font.
  void SetRootCursor(uint16_t glyph) {
    xcb_font_t font = xcb_generate_id(conn_);
    xcb_open_font(conn_, font, 6, "cursor");
    xcb_cursor_t cursor = xcb_generate_id(conn_);
    xcb_create_glyph_cursor(conn_, cursor, font, font, glyph, glyph + 1, 0, 0, 0, 0xFFFF, 0xFFFF,
                            0xFFFF);
    uint32_t value = cursor;
    xcb_change_window_attributes(conn_, screen_->root, XCB_CW_CURSOR, &value);
    xcb_free_cursor(conn_, cursor);
    xcb_close_font(conn_, font);
    Sync();
  }
  void Sync() {
    free(xcb_get_input_focus_reply(conn_, xcb_get_input_focus(conn_), nullptr));
  }
  // The screen's rows, unpadded.
  std::vector<uint8_t> Read() {
    const size_t row = size_t(Width()) * bytes_, xrow = (row + 3) / 4 * 4;
    xcb_get_image_reply_t* reply = xcb_get_image_reply(
        conn_,
        xcb_get_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, screen_->root, 0, 0, uint16_t(Width()),
                      uint16_t(Height()), ~0u),
        nullptr);
    std::vector<uint8_t> out;
    EXPECT_NE(reply, nullptr);
    if (reply == nullptr) return out;
    const uint8_t* data = xcb_get_image_data(reply);
    for (int r = 0; r < Height(); ++r) out.insert(out.end(), data + r * xrow, data + r * xrow + row);
    free(reply);
    return out;
  }

 private:
  xcb_connection_t* conn_;
  xcb_screen_t* screen_;
  xcb_gcontext_t gc_;
  int depth_;
  int bytes_;
};

}  // namespace qc::test
