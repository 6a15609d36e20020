// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/str_encoder.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"
#include "common/log_file.h"

namespace qc {

namespace {

// Finds the distinct colours of the substring's pixels in order of first
// occurrence, and the palette index of every pixel. Returns the number of
// colours, or kRawColourCount as soon as a 33rd colour turns up (the indices
// are then incomplete and unused). One pass: a pixel equal to the one before
// it costs one comparison, others a search of the palette found so far.
template <class Pixel>
int AnalyseColours(const uint8_t* src, int pixels, Pixel* palette, uint8_t* index) {
  Pixel run = LoadPixel<Pixel>(src);
  palette[0] = run;
  index[0] = 0;
  int n = 1;
  uint8_t runIndex = 0;
  for (int j = 1; j < pixels; ++j) {
    const Pixel v = LoadPixel<Pixel>(src + j * sizeof(Pixel));
    if (v != run) {
      int i = 0;
      while (i < n && palette[i] != v) ++i;
      if (i == n) {
        if (n == kMaxPaletteColours) return kRawColourCount;
        palette[n++] = v;
      }
      run = v;
      runIndex = static_cast<uint8_t>(i);
    }
    index[j] = runIndex;
  }
  return n;
}

StrEncoder::Kind PaletteKind(int colours) {
  switch (IndexBits(colours)) {
    case 0: return StrEncoder::kOneColour;
    case 1: return StrEncoder::kTwoColour;
    case 2: return StrEncoder::kFourColour;
    case 4: return StrEncoder::kSixteenColour;
    default: return StrEncoder::kThirtyTwoColour;
  }
}

double Percent(uint32_t part, uint32_t whole) {
  // A kind that never occurred shows 0.00.
  return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

}  // namespace

StrEncoder::StrEncoder() = default;

StrEncoder::~StrEncoder() { WriteStatistics(); }

void StrEncoder::Init(int width, int bytesPerPixel, const uint8_t* frame, uint8_t* reference,
                      PayloadSink* sink) {
  g_ = StripGeometry::Make(width, bytesPerPixel);
  frame_ = frame;
  reference_ = reference;
  sink_ = sink;
  fill_ = 0;
  records_ = 0;
  lastRow_ = -1;
  std::memset(index_, 0, sizeof index_);
}

bool StrEncoder::EncodeRows(int firstRow, int endRow, PacketType type) {
  bool lastResult = false;
  beyondQuiet_ = false;
  if (frame_ == nullptr || reference_ == nullptr || sink_ == nullptr) return false;
  if (g_.bytesPerPixel == 4) {
    EncodeRowsOf<uint32_t>(firstRow, endRow, type, lastResult);
  } else {
    EncodeRowsOf<uint16_t>(firstRow, endRow, type, lastResult);
  }
  if (fill_ > 0) lastResult = Flush(type);
  return lastResult;
}

template <class Pixel>
void StrEncoder::EncodeRowsOf(int firstRow, int endRow, PacketType type, bool& lastResult) {
  const size_t R = static_cast<size_t>(g_.rowBytes);
  const size_t S = static_cast<size_t>(g_.substringBytes);
  for (int y = firstRow; y < endRow; ++y) {
    const uint8_t* f = frame_ + static_cast<size_t>(y) * R;
    uint8_t* ref = reference_ + static_cast<size_t>(y) * R;
    if (std::memcmp(f, ref, R) == 0) continue;

    uint8_t* record = payload_ + fill_;
    uint8_t* out = record + kRecordHeaderSize;
    unsigned mask = 0;
    for (int k = 0; k < kSubstringsPerRow; ++k) {
      const size_t offset = k * S;
      if (std::memcmp(f + offset, ref + offset, S) == 0) continue;
      if (!beyondQuiet_) beyondQuiet_ = ChangedBeyondQuiet(y, k, f + offset, ref + offset);
      std::memcpy(ref + offset, f + offset, S);
      out = EncodeSubstring<Pixel>(f + offset, static_cast<int>(R - offset),
                                   MayCopyPrevious(y, k, mask), MayCopyAbove(y, k), out);
      mask |= kBitTable[k];
    }
    // The last R - 8 x S bytes belong to no substring. Take them into the
    // reference too, or a row that differs only there would compare as
    // changed (and be sent as an empty record) on every pass.
    if (g_.tailBytes != 0) std::memcpy(ref + 8 * S, f + 8 * S, g_.tailBytes);

    record[0] = static_cast<uint8_t>(mask);
    WriteU16(record + 1, static_cast<uint16_t>(y));
    size_t length = static_cast<size_t>(out - record);
    if (fill_ + length > kMaxPayload) {
      // The payload is full: it goes, and the record opens the next one,
      // encoded again, since its copies may not read the payload that went.
      lastResult = Flush(type);
      length = EncodeRecord<Pixel>(y, mask, payload_);
    }
    recordStart_[records_++] = static_cast<uint16_t>(fill_);
    fill_ += length;
    lastRow_ = y;
    lastMask_ = mask;
  }
}

// A Copy entry reads bytes the receiver already has. They must come from
// this payload: bytes that came in an earlier datagram may be missing at a
// receiver that lost it, and repairing that datagram would not mend the
// copy. The row above counts when it is this payload's previous record, and
// only in the substrings that record carries. Row 0 never copies.
bool StrEncoder::MayCopyPrevious(int y, int k, unsigned maskSoFar) const {
  if (k > 0) return y != 0 && (maskSoFar & kBitTable[k - 1]) != 0;
  return g_.tailBytes == 0 && MayCopyAbove(y, kSubstringsPerRow - 1);
}

bool StrEncoder::MayCopyAbove(int y, int k) const {
  return y != 0 && lastRow_ == y - 1 && (lastMask_ & kBitTable[k]) != 0;
}

template <class Pixel>
size_t StrEncoder::EncodeRecord(int y, unsigned mask, uint8_t* record) {
  const size_t R = static_cast<size_t>(g_.rowBytes);
  const size_t S = static_cast<size_t>(g_.substringBytes);
  const uint8_t* f = frame_ + static_cast<size_t>(y) * R;
  uint8_t* out = record + kRecordHeaderSize;
  unsigned soFar = 0;
  for (int k = 0; k < kSubstringsPerRow; ++k) {
    if ((mask & kBitTable[k]) == 0) continue;
    out = EncodeSubstring<Pixel>(f + k * S, static_cast<int>(R - k * S),
                                 MayCopyPrevious(y, k, soFar), MayCopyAbove(y, k), out);
    soFar |= kBitTable[k];
  }
  record[0] = static_cast<uint8_t>(mask);
  WriteU16(record + 1, static_cast<uint16_t>(y));
  return static_cast<size_t>(out - record);
}

bool StrEncoder::ChangedBeyondQuiet(int y, int k, const uint8_t* f, const uint8_t* ref) const {
  if (quiet_.Empty() || y < quiet_.y || y >= quiet_.y + quiet_.height) return true;
  // Byte offsets within the substring: [0, S) against the quiet columns.
  const int B = g_.bytesPerPixel;
  const int S = g_.substringBytes;
  const int start = k * S;
  const int quietFrom = std::clamp(quiet_.x * B - start, 0, S);
  const int quietTo = std::clamp((quiet_.x + quiet_.width) * B - start, 0, S);
  if (quietFrom >= quietTo) return true;  // the substring lies beside the area
  return std::memcmp(f, ref, quietFrom) != 0 ||
         std::memcmp(f + quietTo, ref + quietTo, S - quietTo) != 0;
}

template <class Pixel>
uint8_t* StrEncoder::EncodeSubstring(const uint8_t* f, int bytesLeftInRow, bool mayCopyPrevious,
                                     bool mayCopyAbove, uint8_t* out) {
  const size_t S = static_cast<size_t>(g_.substringBytes);
  const int P = g_.pixels;
  constexpr int B = sizeof(Pixel);

  // Copy checks against the frame: the S bytes just before (previous
  // substring, or the end of the row above), then the substring above.
  if (mayCopyPrevious || mayCopyAbove) {
    uint8_t tag = 0;
    if (mayCopyPrevious && std::memcmp(f, f - S, S) == 0) {
      tag = kTagCopyPrevious;
    } else if (mayCopyAbove && std::memcmp(f, f - g_.rowBytes, S) == 0) {
      tag = kTagCopyAbove;
    }
    if (tag != 0) {
      *out++ = tag;
      ++stats_[kCopy].count;
      return out;
    }
  }

  uint8_t* entry = out;
  Pixel palette[kMaxPaletteColours];
  int n;
  if (P > 0) {
    n = AnalyseColours<Pixel>(f, P, palette, index_);
  } else {
    // Frames narrower than 8 pixels have no pixel per substring; the entry
    // still names the colour of the bytes at its start (as far as the row
    // holds them), and receivers write nothing from it.
    uint8_t bytes[sizeof(Pixel)] = {};
    std::memcpy(bytes, f, std::min<int>(B, bytesLeftInRow));
    palette[0] = LoadPixel<Pixel>(bytes);
    n = 1;
  }

  Kind kind;
  if (n <= kMaxPaletteColours) {
    *out++ = static_cast<uint8_t>(n);
    std::memcpy(out, palette, static_cast<size_t>(n) * B);
    out += n * B;
    switch (IndexBits(n)) {
      case 0: break;
      case 1: out += PackIndices<1>(index_, P, out); break;
      case 2: out += PackIndices<2>(index_, P, out); break;
      case 4: out += PackIndices<4>(index_, P, out); break;
      default: out += PackIndices<5>(index_, P, out); break;
    }
    kind = PaletteKind(n);
  } else {
    *out++ = kTagRaw;
    if constexpr (B == 2) {
      std::memcpy(out, f, S);
      out += S;
    } else {
      for (int j = 0; j < P; ++j, out += 2) {
        WriteU16(out, RawWordFromPixel(LoadPixel<uint32_t>(f + 4 * j)));
      }
    }
    kind = kRawColour;
  }
  ++stats_[kind].count;
  stats_[kind].bytes += static_cast<uint32_t>(out - entry);
  return out;
}

bool StrEncoder::Flush(PacketType type) {
  recordStart_[records_] = static_cast<uint16_t>(fill_);
  const bool result = SendRecords(0, records_, type);
  fill_ = 0;
  records_ = 0;
  lastRow_ = -1;
  return result;
}

// Sends records first..end-1 as one payload. When its compressed form would
// not fit one datagram, sends it as two payloads cut at the record boundary
// nearest its middle, each split again as needed, so that every row still
// arrives, in order. A piece that starts after a cut has its first record
// encoded again without copies: they may read the record before the cut.
bool StrEncoder::SendRecords(int first, int end, PacketType type) {
  const uint8_t* data = payload_ + recordStart_[first];
  size_t length = recordStart_[end] - recordStart_[first];
  if (first > 0) {
    const uint8_t* record = payload_ + recordStart_[first];
    const int row = ReadU16(record + 1);
    const int keepRow = lastRow_;
    lastRow_ = -1;
    size_t opening = g_.bytesPerPixel == 4 ? EncodeRecord<uint32_t>(row, record[0], piece_)
                                           : EncodeRecord<uint16_t>(row, record[0], piece_);
    lastRow_ = keepRow;
    const size_t rest = recordStart_[end] - recordStart_[first + 1];
    std::memcpy(piece_ + opening, payload_ + recordStart_[first + 1], rest);
    data = piece_;
    length = opening + rest;
  }
  const SendResult result = sink_->SendPayload(data, length, type);
  if (result != SendResult::TooLarge) return result == SendResult::Sent;
  // One record (at most 8203 bytes) always fits; nothing more to cut.
  if (end - first < 2) return false;

  const size_t begin = recordStart_[first];
  const size_t middle = begin + (recordStart_[end] - begin) / 2;
  int cut = static_cast<int>(std::upper_bound(recordStart_ + first + 1, recordStart_ + end,
                                              static_cast<uint16_t>(middle)) -
                             recordStart_);
  if (cut > first + 1 && middle - recordStart_[cut - 1] < recordStart_[cut] - middle) --cut;
  cut = std::clamp(cut, first + 1, end - 1);
  SendRecords(first, cut, type);
  return SendRecords(cut, end, type);
}

void StrEncoder::WriteStatistics() {
  const uint32_t S = static_cast<uint32_t>(g_.substringBytes);
  stats_[kCopy].bytes = stats_[kCopy].count;  // a Copy entry is its tag alone
  uint32_t substrings = 0;
  uint32_t encoded = 0;
  for (const KindStats& s : stats_) {
    substrings += s.count;
    encoded += s.bytes;
  }
  // Every encoded substring taken as it stands in the frame.
  const uint32_t raw = substrings * S;
  if (raw == 0) return;
  const uint32_t zlibbed = sink_ != nullptr ? sink_->TotalBytesSent() : 0;

  LogFile& log = Log();
  log.Print("StrEncoder: Encoder statistics:\n");
  const KindStats& copy = stats_[kCopy];
  log.Print("  Copy        substring: %8d %8d - %8.2f%%\n", static_cast<int>(copy.count),
            static_cast<int>(copy.count), Percent(copy.count, copy.count * S));
  static constexpr const char* kLines[] = {
      "  1 color     substring: %8d %8d - %8.2f%%\n",
      "  2 color     substring: %8d %8d - %8.2f%%\n",
      "  3-4 color   substring: %8d %8d - %8.2f%%\n",
      "  5-16 color  substring: %8d %8d - %8.2f%%\n",
      "  17-32 color substring: %8d %8d - %8.2f%%\n",
      "  Raw color   substring: %8d %8d - %8.2f%%\n",
  };
  for (int kind = kOneColour; kind <= kRawColour; ++kind) {
    const KindStats& s = stats_[kind];
    log.Print(kLines[kind], static_cast<int>(s.count), static_cast<int>(s.bytes),
              Percent(s.bytes, s.count * S));
  }
  log.Print("  TOTAL:\n");
  log.Print("  Raw          - %8d\n", static_cast<int>(raw));
  log.Print("  Encoded      - %8d\n", static_cast<int>(encoded));
  log.Print("  Zlib'ed      - %8d\n", static_cast<int>(zlibbed));
  log.Print("  Encoded eff. - %8.2f%%\n", Percent(encoded, raw));
  log.Print("  Total eff.   - %8.2f%%\n", Percent(zlibbed, raw));
}

}  // namespace qc
