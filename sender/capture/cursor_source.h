// CursorSource: what the capture engine needs of the mouse cursor. The X11
// source (platform/x11_cursor_source.h) is the program's; tests use an
// in-memory fake (tests/support/fake_sources.h).
//
// Also here: the conversion of a cursor image into the payload of a
// PacketType::CursorShape datagram.
//
// Threads: every call runs on the capture work thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qc {

struct CursorState {
  // Names the cursor image; a new value means a new image.
  uint32_t handle = 0;
  bool showing = false;
  // Screen position of the hot spot.
  int x = 0;
  int y = 0;
};

// A cursor image with straight (not premultiplied) alpha.
struct CursorImage {
  uint32_t handle = 0;  // the handle of the image actually read
  int width = 0;
  int height = 0;
  int hotX = 0;
  int hotY = 0;
  // width x height pixels, top row first, each 0xAARRGGBB.
  std::vector<uint32_t> pixels;
};

class CursorSource {
 public:
  virtual ~CursorSource() = default;
  // The cursor's handle, visibility and position. False when the query
  // failed.
  virtual bool Query(CursorState& state) = 0;
  // Reads the image of the current cursor. False when it cannot be read.
  virtual bool ReadImage(CursorImage& image) = 0;
};

// Largest cursor shape payload: what a receiver inflates into.
inline constexpr size_t kMaxCursorPayload = 60000;

// Builds the payload of a PacketType::CursorShape datagram from the image:
// the 34-byte header, a 32-bit colour bitmap (byte order blue, green, red,
// alpha; masks 0xFF0000, 0x00FF00, 0x0000FF) and a 1-bit AND mask (1 =
// transparent, where alpha is 0), both bottom-up, the width padded with
// transparent pixels to a multiple of 32 so that padded and unpadded row
// sizes agree. The mask palette is black and white.
//
// An image whose payload would exceed maxPayload is scaled down (nearest
// pixel, aspect kept, hot spot scaled) until it fits; an image that cannot
// be fitted that way is squeezed into 32 x 32. False only for an empty or
// inconsistent image.
bool BuildCursorShapePayload(const CursorImage& image, std::vector<uint8_t>& payload,
                             size_t maxPayload = kMaxCursorPayload);

// The same image squeezed into 32 x 32 (nearest pixel, hot spot scaled).
CursorImage ScaleCursorImage(const CursorImage& image, int width, int height);

}  // namespace qc
