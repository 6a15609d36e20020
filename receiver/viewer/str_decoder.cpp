// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/str_decoder.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"

namespace qc {

StrDecoder::StrDecoder() = default;
StrDecoder::~StrDecoder() = default;

bool StrDecoder::Init(uint8_t* framebuffer, int bytesPerPixel, int width, int height) {
  framebuffer_ = nullptr;
  if (framebuffer == nullptr || height < 1 || !StripGeometry::IsSupported(width, bytesPerPixel)) {
    return false;
  }
  g_ = StripGeometry::Make(width, bytesPerPixel);
  height_ = height;
  framebuffer_ = framebuffer;
  return true;
}

bool StrDecoder::Decode(const uint8_t* data, size_t length, int& firstRow, int& lastRow) {
  firstRow = -1;
  lastRow = -1;
  if (framebuffer_ == nullptr || data == nullptr || length == 0) return false;
  size_t consumed = 0;
  while (consumed < length) {
    Entry entries[kSubstringsPerRow];
    int count = 0;
    int row = 0;
    const size_t recordLength =
        CheckRecord(data + consumed, length - consumed, row, entries, count);
    if (recordLength == 0) return false;
    if (g_.bytesPerPixel == 4) {
      ApplyRecord<uint32_t>(data + consumed, row, entries, count);
    } else {
      ApplyRecord<uint16_t>(data + consumed, row, entries, count);
    }
    firstRow = firstRow < 0 ? row : std::min(firstRow, row);
    lastRow = std::max(lastRow, row);
    consumed += recordLength;
  }
  return true;
}

size_t StrDecoder::CheckRecord(const uint8_t* d, size_t available, int& row, Entry* entries,
                               int& count) const {
  if (available < kRecordHeaderSize) return 0;
  const unsigned mask = d[0];
  row = ReadI16(d + 1);
  if (row < 0 || row >= height_) return 0;
  size_t pos = kRecordHeaderSize;
  count = 0;
  for (int k = 0; k < kSubstringsPerRow; ++k) {
    if ((mask & kBitTable[k]) == 0) continue;
    if (pos >= available) return 0;
    const uint8_t tag = d[pos];
    const int body = g_.BodyBytes(tag);
    if (body < 0) return 0;
    // A Copy reads the row above (or for substring 0 its end): none in row 0.
    if ((tag & kCopyBit) != 0 && row == 0) return 0;
    if (available - pos - 1 < static_cast<size_t>(body)) return 0;
    const int colours = tag & kColourCountMask;
    if ((tag & kCopyBit) == 0 && colours <= kMaxPaletteColours &&
        !IndicesInPalette(d + pos + 1 + colours * g_.bytesPerPixel, colours)) {
      return 0;
    }
    entries[count++] = Entry{static_cast<uint16_t>(pos + 1), static_cast<uint8_t>(k), tag};
    pos += 1 + static_cast<size_t>(body);
  }
  return pos;
}

bool StrDecoder::IndicesInPalette(const uint8_t* indexData, int colours) const {
  // A palette that fills its index width (2, 4, 16 or 32 colours) cannot
  // be overrun; one colour has no indices.
  const int bits = IndexBits(colours);
  if (bits == 0 || colours == 1 << bits) return true;
  unsigned highest = 0;
  auto track = [&highest](int, unsigned i) { highest = std::max(highest, i); };
  switch (bits) {
    case 2: UnpackIndices<2>(indexData, g_.pixels, track); break;
    case 4: UnpackIndices<4>(indexData, g_.pixels, track); break;
    default: UnpackIndices<5>(indexData, g_.pixels, track); break;
  }
  return highest < static_cast<unsigned>(colours);
}

template <class Pixel>
void StrDecoder::ApplyRecord(const uint8_t* record, int row, const Entry* entries, int count) {
  constexpr int B = sizeof(Pixel);
  const size_t R = static_cast<size_t>(g_.rowBytes);
  const size_t S = static_cast<size_t>(g_.substringBytes);
  const int P = g_.pixels;
  uint8_t* rowStart = framebuffer_ + static_cast<size_t>(row) * R;

  for (int e = 0; e < count; ++e) {
    const Entry& entry = entries[e];
    uint8_t* dst = rowStart + entry.substring * S;
    const uint8_t tag = entry.tag;
    if (tag & kCopyBit) {
      // Source and destination never overlap: they lie S or R >= S apart.
      std::memcpy(dst, dst - ((tag & kCopySourceAboveBit) ? R : S), S);
      continue;
    }
    const uint8_t* body = record + entry.body;
    const int colours = tag & kColourCountMask;
    if (colours == kRawColourCount) {
      if constexpr (B == 2) {
        std::memcpy(dst, body, S);
      } else {
        for (int j = 0; j < P; ++j) {
          StorePixel<uint32_t>(dst + 4 * j, PixelFromRawWord(ReadU16(body + 2 * j)));
        }
      }
      continue;
    }

    Pixel palette[kMaxPaletteColours];
    std::memcpy(palette, body, static_cast<size_t>(colours) * B);
    const uint8_t* indexData = body + colours * B;
    auto put = [dst, &palette](int j, unsigned i) { StorePixel<Pixel>(dst + j * B, palette[i]); };
    switch (IndexBits(colours)) {
      case 0: {
        const Pixel v = palette[0];
        for (int j = 0; j < P; ++j) StorePixel<Pixel>(dst + j * B, v);
        break;
      }
      case 1: UnpackIndices<1>(indexData, P, put); break;
      case 2: UnpackIndices<2>(indexData, P, put); break;
      case 4: UnpackIndices<4>(indexData, P, put); break;
      default: UnpackIndices<5>(indexData, P, put); break;
    }
  }
}

}  // namespace qc
