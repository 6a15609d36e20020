// SPDX-License-Identifier: GPL-3.0-or-later
// PixelFormat: every 5- and 6-bit channel value against the table of nearest
// 8-bit values, through whole 16-bit formats, and the 32-bit layouts.
#include "receiver/viewer/pixel_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace qc {
namespace {

// round(v x 255 / 31) and round(v x 255 / 63).
constexpr uint8_t kFive[32] = {0,   8,   16,  25,  33,  41,  49,  58,  66,  74,  82,
                               90,  99,  107, 115, 123, 132, 140, 148, 156, 165, 173,
                               181, 189, 197, 206, 214, 222, 230, 239, 247, 255};
constexpr uint8_t kSix[64] = {0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  45,  49,
                              53,  57,  61,  65,  69,  73,  77,  81,  85,  89,  93,  97,  101,
                              105, 109, 113, 117, 121, 125, 130, 134, 138, 142, 146, 150, 154,
                              158, 162, 166, 170, 174, 178, 182, 186, 190, 194, 198, 202, 206,
                              210, 215, 219, 223, 227, 231, 235, 239, 243, 247, 251, 255};

FramebufferView View(const void* pixels, int w, int h, int bpp, uint32_t r = 0, uint32_t g = 0,
                     uint32_t b = 0) {
  InitMessage init{};
  init.width = static_cast<uint16_t>(w);
  init.height = static_cast<uint16_t>(h);
  init.bitsPerPixel = static_cast<uint16_t>(bpp);
  init.redMask = r, init.greenMask = g, init.blueMask = b;
  return DescribeFramebuffer(static_cast<const uint8_t*>(pixels), init);
}

// Every 16-bit value (a 256 x 256 framebuffer of them), converted both ways.
void ExpectAll16(const PixelFormat& f, int redShift, int greenShift, int greenBits) {
  std::vector<uint32_t> words(65536);
  std::vector<uint8_t> rgba(65536 * 4);
  for (int y = 0; y < 256; ++y) {
    f.ConvertRow(y, 0, 256, &words[y * 256]);
    f.ConvertRowRgba(y, 0, 256, &rgba[y * 256 * 4]);
  }
  int wrong = 0;
  for (uint32_t v = 0; v < 65536 && wrong < 5; ++v) {
    const uint8_t r = kFive[(v >> redShift) & 31];
    const uint8_t g = greenBits == 6 ? kSix[(v >> greenShift) & 63] : kFive[(v >> greenShift) & 31];
    const uint8_t b = kFive[v & 31];
    const uint32_t want = 0xff000000u | r << 16 | g << 8 | b;
    const uint8_t* bytes = &rgba[v * 4];
    const bool ok = words[v] == want && bytes[0] == r && bytes[1] == g && bytes[2] == b &&
                    bytes[3] == 255;
    if (!ok) {
      ++wrong;
      ADD_FAILURE() << std::hex << "pixel 0x" << v << ": 0x" << words[v] << ", want 0x" << want;
    }
  }
}

TEST(PixelFormat, FiveAndSixBitChannelsRoundToTheNearestEightBitValue) {
  std::vector<uint16_t> all(65536);
  for (uint32_t v = 0; v < 65536; ++v) all[v] = static_cast<uint16_t>(v);
  PixelFormat f;
  {
    SCOPED_TRACE("5-6-5");
    ASSERT_TRUE(f.Bind(View(all.data(), 256, 256, 16, 0xF800, 0x07E0, 0x001F)));
    ExpectAll16(f, 11, 5, 6);
  }
  {
    SCOPED_TRACE("5-5-5, the standard layout of 16 bits without masks");
    ASSERT_TRUE(f.Bind(View(all.data(), 256, 256, 16)));
    ExpectAll16(f, 10, 5, 5);
  }
}

TEST(PixelFormat, ThirtyTwoBitLayoutsAndRefusedFormats) {
  const uint32_t px[4] = {0x00123456, 0xff0000ff, 0x7f00ff00, 0x80ff0000};
  const struct {
    const char* name;
    uint32_t r, g, b;
    uint32_t want[4];
  } cases[] = {
      // Standard masks, given or not: the pad byte is no alpha.
      {"8-8-8", 0xFF0000, 0xFF00, 0xFF, {0xff123456, 0xff0000ff, 0xff00ff00, 0xffff0000}},
      {"no masks", 0, 0, 0, {0xff123456, 0xff0000ff, 0xff00ff00, 0xffff0000}},
      {"blue high", 0xFF, 0xFF00, 0xFF0000, {0xff563412, 0xffff0000, 0xff00ff00, 0xff0000ff}},
      // Wider channels keep their top 8 bits: 10-10-10.
      {"10 bits", 0x3FF00000, 0xFFC00, 0x3FF, {0xff002315, 0xfffc003f, 0xfffc0fc0, 0xff03f000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PixelFormat f;
    ASSERT_TRUE(f.Bind(View(px, 4, 1, 32, c.r, c.g, c.b)));
    uint32_t words[4];
    uint8_t rgba[16];
    f.ConvertRow(0, 0, 4, words);
    f.ConvertRowRgba(0, 0, 4, rgba);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(words[i], c.want[i]) << i;
      const uint8_t want[4] = {static_cast<uint8_t>(c.want[i] >> 16),
                               static_cast<uint8_t>(c.want[i] >> 8),
                               static_cast<uint8_t>(c.want[i]), 255};
      EXPECT_EQ(std::memcmp(rgba + 4 * i, want, 4), 0) << i;
    }
    // A span inside a row: columns 1..2.
    f.ConvertRow(0, 1, 2, words);
    EXPECT_EQ(words[0], c.want[1]);
    EXPECT_EQ(words[1], c.want[2]);
  }
  PixelFormat f;
  EXPECT_FALSE(f.Bind(View(px, 1, 1, 24)));
  EXPECT_FALSE(f.Bind(View(nullptr, 1, 1, 32)));
  EXPECT_FALSE(f.Bind(View(px, 0, 1, 32)));
  EXPECT_FALSE(f.IsBound());
}

}  // namespace
}  // namespace qc
