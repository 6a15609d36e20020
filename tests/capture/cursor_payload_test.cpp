// SPDX-License-Identifier: GPL-3.0-or-later
// The conversion of a cursor image into the PacketType::CursorShape payload.
#include <gtest/gtest.h>

#include <vector>

#include "common/byte_order.h"
#include "common/protocol.h"
#include "sender/capture/cursor_shape.h"

namespace qc {
namespace {

CursorImage Image(int w, int h, int hotX, int hotY) {
  CursorImage image{7, w, h, hotX, hotY, std::vector<uint32_t>(size_t(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      image.pixels[size_t(y) * w + x] = (x + y) % 3 == 0 ? 0u : 0xFF000000u | (y << 8) | x;
  return image;
}

TEST(CursorPayload, HeaderBitmapsBottomUpAndMaskPaddedToThirtyTwoPixels) {
  CursorImage image = Image(20, 10, 3, 4);
  std::vector<uint8_t> payload;
  ASSERT_TRUE(BuildCursorShapePayload(image, payload));
  CursorShapeHeader h;
  ASSERT_TRUE(ParseCursorShapeHeader(payload.data(), payload.size(), h));
  // Hot spot, colour and mask sizes (a colour cursor: the AND mask only),
  // colour depth; then the colour masks and the mask palette.
  EXPECT_EQ(std::vector<int>({h.hotX, h.hotY, h.colorWidth, h.colorHeight, h.maskWidth,
                              h.maskHeight, h.colorBitsPerPixel}),
            std::vector<int>({3, 4, 32, 10, 32, 10, 32}));
  EXPECT_EQ(std::vector<uint32_t>({h.colorRedMask, h.colorGreenMask, h.colorBlueMask,
                                   h.maskPalette0, h.maskPalette1BG}),
            std::vector<uint32_t>({0xFF0000, 0xFF00, 0xFF, 0, 0xFFFF}));
  ASSERT_EQ(payload.size(), kCursorShapeHeaderSize + 32 * 10 * 4 + 32 * 10 / 8);
  ASSERT_EQ(h.ColorSize(), 32u * 10 * 4);

  const uint8_t* colour = payload.data() + kCursorShapeHeaderSize;
  const uint8_t* mask = colour + h.ColorSize();
  for (int y = 0; y < 10; ++y) {
    int row = 9 - y;  // bottom-up
    for (int x = 0; x < 32; ++x) {
      uint32_t argb = x < 20 ? image.pixels[y * 20 + x] : 0;
      EXPECT_EQ(ReadU32(colour + row * 128 + x * 4), argb) << x << "," << y;
      bool transparent = (mask[row * 4 + x / 8] >> (7 - x % 8)) & 1;
      EXPECT_EQ(transparent, (argb >> 24) == 0) << x << "," << y;
    }
  }
}

// An image too large for a payload shrinks to fit, as large as fits, its
// hot spot moving with the picture; a 1-pixel-wide one gets 32-pixel rows
// and one wider than a header field holds still fits.
TEST(CursorPayload, LargeOrExtremeImagesAreScaledToFitEmptyOnesRefused) {
  for (const CursorImage& image :
       {Image(128, 128, 64, 100), Image(1, 20000, 0, 19999), Image(40000, 2, 0, 0)}) {
    SCOPED_TRACE(image.width);
    std::vector<uint8_t> payload;
    ASSERT_TRUE(BuildCursorShapePayload(image, payload));
    CursorShapeHeader h;
    ASSERT_TRUE(ParseCursorShapeHeader(payload.data(), payload.size(), h));
    EXPECT_LE(payload.size(), kMaxCursorPayload);
    EXPECT_EQ(payload.size(), kCursorShapeHeaderSize + h.ColorSize() + h.MaskSize());
    EXPECT_GT(h.colorWidth, 0);
    EXPECT_EQ(h.colorWidth % 32, 0);
    if (image.width == 128) {
      EXPECT_LT(h.colorHeight, 128);
      EXPECT_GE(h.colorHeight, 96);
      EXPECT_EQ(h.hotY, 100 * h.colorHeight / 128);
    }
    if (image.width == 1) {
      EXPECT_EQ(h.colorWidth, 32);
    }
  }
  // Empty or inconsistent images are refused.
  std::vector<uint8_t> payload;
  EXPECT_FALSE(BuildCursorShapePayload(CursorImage{}, payload));
  CursorImage bad = Image(4, 4, 0, 0);
  bad.pixels.pop_back();
  EXPECT_FALSE(BuildCursorShapePayload(bad, payload));
}

TEST(CursorPayload, ScalingKeepsCornersAndScalesTheHotSpot) {
  CursorImage image = Image(64, 64, 32, 48);
  CursorImage small = ScaleCursorImage(image, 32, 32);
  EXPECT_EQ(small.width, 32);
  EXPECT_EQ(small.height, 32);
  EXPECT_EQ(small.hotX, 16);
  EXPECT_EQ(small.hotY, 24);
  EXPECT_EQ(small.pixels[0], image.pixels[0]);
  EXPECT_EQ(small.pixels[31 * 32 + 31], image.pixels[62 * 64 + 62]);
  EXPECT_EQ(small.handle, image.handle);
}

}  // namespace
}  // namespace qc
