// SPDX-License-Identifier: GPL-3.0-or-later
// The strip encoding shared by StrEncoder (sender) and StrDecoder (receiver):
// frame geometry, entry tags, the bit table, index packing and unpacking and
// the 32-bit Raw color word.
//
// A frame is H rows of R = W x B bytes, top-down. Each row is cut into eight
// substrings of S = R / 8 bytes; substring k starts k x S bytes into its row
// and holds P = W / 8 pixels (its first P x B bytes) for the palette kinds.
// When R is not a multiple of 8 the last R - 8 x S bytes of a row belong to
// no substring and are never carried.
//
// An update payload is row records back to back, at most 60000 bytes:
//   byte 0     substring mask, 0x80 = substring 0 ... 0x01 = substring 7
//   bytes 1-2  row number, little-endian, read as signed
//   then one entry per set mask bit, in increasing k: a tag and its body.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qc {

// Per-substring buffers on both ends hold 512 pixels: P <= 512, W <= 4096.
inline constexpr int kMaxSubstringPixels = 512;
inline constexpr int kMaxFrameWidth = 8 * kMaxSubstringPixels;
inline constexpr int kSubstringsPerRow = 8;

// The frame width a sender sends for a shared area of `width` pixels: the
// next multiple of 8. Substrings then start on pixel boundaries and every
// byte of a row is carried; otherwise palette entries would read pixels
// across their boundaries, a Raw color entry would drop the wrong bits and
// the bytes between substrings would never reach receivers. Receivers show
// the added columns black.
constexpr int SentFrameWidth(int width) {
  return (width + kSubstringsPerRow - 1) / kSubstringsPerRow * kSubstringsPerRow;
}

// Entry tags. A tag with bit 6 set is a Copy (bit 0 picks the source);
// otherwise its low six bits are the number of colours, 1..32, or 33 for
// Raw color. Writers emit only these values.
inline constexpr uint8_t kTagCopyPrevious = 0x40;  // the S bytes just before
inline constexpr uint8_t kTagCopyAbove = 0x41;     // the same substring, row above
inline constexpr uint8_t kTagRaw = 0x21;
inline constexpr uint8_t kCopyBit = 0x40;
inline constexpr uint8_t kCopySourceAboveBit = 0x01;
inline constexpr uint8_t kColourCountMask = 0x3F;
inline constexpr int kMaxPaletteColours = 32;
inline constexpr int kRawColourCount = 33;

// Entry i = 0x80 >> i: the mask bit of substring i.
inline constexpr uint8_t kBitTable[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

inline constexpr size_t kRecordHeaderSize = 3;
// Largest row record: eight entries of a tag and the largest body, a Raw
// color substring of 1024 bytes (W = 4096).
inline constexpr size_t kMaxRecordSize = kRecordHeaderSize + 8 * (1 + 2 * kMaxSubstringPixels);

// Bits per palette index for a colour count of 1..32.
constexpr int IndexBits(int colours) {
  return colours <= 1 ? 0 : colours == 2 ? 1 : colours <= 4 ? 2 : colours <= 16 ? 4 : 5;
}

// The quantities both ends derive from the width and bytes per pixel.
struct StripGeometry {
  int width = 0;           // W
  int bytesPerPixel = 0;   // B, 2 or 4
  int rowBytes = 0;        // R = W x B
  int substringBytes = 0;  // S = R / 8
  int pixels = 0;          // P = W / 8
  int tailBytes = 0;       // R - 8 x S, carried by no substring
  int rawWordBytes = 0;    // 2 x P: body of a 32-bit Raw color entry
  int oneBitBytes = 0;     // (P + 7) / 8: index bytes of 2 color
  int twoBitBytes = 0;     // (P + 3) / 4: index bytes of 3-4 color
  int fourBitBytes = 0;    // (P + 1) / 2: index bytes of 5-16 color
  int fiveBitWords = 0;    // (P + 2) / 3: index words of 17-32 color
  int fiveBitBytes = 0;    // 2 x fiveBitWords

  static StripGeometry Make(int width, int bytesPerPixel);
  // Width 1..4096, B 2 or 4.
  static bool IsSupported(int width, int bytesPerPixel);

  // Bytes of index data after the palette of an entry of n colours (1..32).
  int IndexBytes(int colours) const;
  // Body length of the entry with this tag, or -1 for a tag no writer emits
  // (colour count 0 or 34..63 without the Copy bit).
  int BodyBytes(uint8_t tag) const;
  // Body of a Raw color entry: S bytes for B = 2, 2 x P for B = 4.
  int RawBodyBytes() const { return bytesPerPixel == 2 ? substringBytes : rawWordBytes; }
};

// The 32-bit Raw color word: the top five bits of bytes 0, 1 and 2 of the
// pixel (v is the pixel read as a little-endian 32-bit number) in bits
// 15-11, 10-6 and 4-0; bit 5 is 0 and byte 3 is dropped.
constexpr uint16_t RawWordFromPixel(uint32_t v) {
  return static_cast<uint16_t>(((v & 0xF8) << 8) | ((v >> 5) & 0x7C0) | ((v >> 19) & 0x1F));
}

// The pixel a receiver rebuilds from a Raw color word: each intensity with
// its low three bits 0; byte 3 is 0, as in the sender's capture frame.
constexpr uint32_t PixelFromRawWord(uint16_t w) {
  return ((static_cast<uint32_t>(w) >> 8) & 0xF8) |
         (((static_cast<uint32_t>(w) >> 3) & 0xF8) << 8) |
         (((static_cast<uint32_t>(w) << 3) & 0xF8) << 16);
}

// Unaligned little-endian pixel access (substrings need not start on a pixel
// or word boundary of the frame). Pixels are read as numbers in the host's
// order, which is the wire's.
static_assert(std::endian::native == std::endian::little,
              "pixel access assumes a little-endian host");
template <class Pixel>
inline Pixel LoadPixel(const uint8_t* p) {
  Pixel v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class Pixel>
inline void StorePixel(uint8_t* p, Pixel v) {
  std::memcpy(p, &v, sizeof v);
}

// Index packing. index[0..pixels-1] hold palette indices that fit Bits;
// out receives the index data of the entry. Positions past the last pixel
// of a partly filled byte or word are 0. Returns the bytes written.
//   Bits 1: byte m = pixels 8m..8m+7, pixel 8m in bit 7.
//   Bits 2: byte m = pixels 4m..4m+3 in bits 7-6, 5-4, 3-2, 1-0.
//   Bits 4: byte m = pixel 2m in the high nibble, 2m+1 in the low nibble.
//   Bits 5: little-endian word m = pixels 3m, 3m+1, 3m+2 in bits 15-11,
//           10-6 and 4-0; bit 5 is 0.
template <int Bits>
inline int PackIndices(const uint8_t* index, int pixels, uint8_t* out) {
  static_assert(Bits == 1 || Bits == 2 || Bits == 4 || Bits == 5);
  if constexpr (Bits == 5) {
    const int whole = pixels / 3;
    uint8_t* o = out;
    for (int m = 0; m < whole; ++m, index += 3, o += 2) {
      unsigned w = (unsigned{index[0]} << 11) | (unsigned{index[1]} << 6) | index[2];
      o[0] = static_cast<uint8_t>(w);
      o[1] = static_cast<uint8_t>(w >> 8);
    }
    const int rest = pixels - whole * 3;
    if (rest != 0) {
      unsigned w = unsigned{index[0]} << 11;
      if (rest == 2) w |= unsigned{index[1]} << 6;
      o[0] = static_cast<uint8_t>(w);
      o[1] = static_cast<uint8_t>(w >> 8);
      o += 2;
    }
    return static_cast<int>(o - out);
  } else {
    constexpr int kPerByte = 8 / Bits;
    const int whole = pixels / kPerByte;
    uint8_t* o = out;
    for (int m = 0; m < whole; ++m, index += kPerByte) {
      unsigned b = 0;
      for (int i = 0; i < kPerByte; ++i) b = (b << Bits) | index[i];
      *o++ = static_cast<uint8_t>(b);
    }
    const int rest = pixels - whole * kPerByte;
    if (rest != 0) {
      unsigned b = 0;
      for (int i = 0; i < kPerByte; ++i) b = (b << Bits) | (i < rest ? index[i] : 0u);
      *o++ = static_cast<uint8_t>(b);
    }
    return static_cast<int>(o - out);
  }
}

// Index unpacking: calls put(j, index) for pixels j = 0..pixels-1 in order,
// reading exactly the bytes PackIndices<Bits> writes for this many pixels.
// The unused low positions of a partly filled byte or word are not read.
template <int Bits, class Put>
inline void UnpackIndices(const uint8_t* data, int pixels, Put&& put) {
  static_assert(Bits == 1 || Bits == 2 || Bits == 4 || Bits == 5);
  if constexpr (Bits == 5) {
    const int whole = pixels / 3;
    int j = 0;
    for (int m = 0; m < whole; ++m, data += 2, j += 3) {
      const unsigned w = data[0] | (unsigned{data[1]} << 8);
      put(j, w >> 11);
      put(j + 1, (w >> 6) & 0x1F);
      put(j + 2, w & 0x1F);
    }
    const int rest = pixels - j;
    if (rest != 0) {
      const unsigned w = data[0] | (unsigned{data[1]} << 8);
      put(j, w >> 11);
      if (rest == 2) put(j + 1, (w >> 6) & 0x1F);
    }
  } else {
    constexpr int kPerByte = 8 / Bits;
    constexpr unsigned kMask = (1u << Bits) - 1;
    const int whole = pixels / kPerByte;
    int j = 0;
    for (int m = 0; m < whole; ++m, j += kPerByte) {
      const unsigned b = data[m];
      for (int i = 0; i < kPerByte; ++i) put(j + i, (b >> (8 - Bits - i * Bits)) & kMask);
    }
    const int rest = pixels - j;
    if (rest != 0) {
      const unsigned b = data[whole];
      for (int i = 0; i < rest; ++i) put(j + i, (b >> (8 - Bits - i * Bits)) & kMask);
    }
  }
}

}  // namespace qc
