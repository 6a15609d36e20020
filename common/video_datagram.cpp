// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/video_datagram.h"

#include "common/byte_order.h"

namespace qc {

void BuildVideoHeader(const VideoHeader& h, uint8_t out[kVideoHeaderSize]) {
  WriteU16(out + 0, kVideoRegionType);
  WriteU16(out + 2, h.screenId);
  WriteU16(out + 4, h.stream);
  WriteU16(out + 6, h.x);
  WriteU16(out + 8, h.y);
  WriteU16(out + 10, h.width);
  WriteU16(out + 12, h.height);
  WriteU32(out + 14, h.frame);
  WriteU16(out + 18, h.fragment);
  WriteU16(out + 20, h.fragments);
  WriteU32(out + 22, h.frameLength);
  WriteU32(out + 26, h.offset);
}

bool ParseVideoHeader(const uint8_t* data, size_t length, VideoHeader& out) {
  if (length < kVideoHeaderSize || ReadU16(data) != kVideoRegionType) return false;
  VideoHeader h;
  h.screenId = ReadU16(data + 2);
  h.stream = ReadU16(data + 4);
  h.x = ReadU16(data + 6);
  h.y = ReadU16(data + 8);
  h.width = ReadU16(data + 10);
  h.height = ReadU16(data + 12);
  h.frame = ReadU32(data + 14);
  h.fragment = ReadU16(data + 18);
  h.fragments = ReadU16(data + 20);
  h.frameLength = ReadU32(data + 22);
  h.offset = ReadU32(data + 26);
  const size_t bytes = length - kVideoHeaderSize;
  if (h.width < 2 || h.height < 2 || h.width > kMaxVideoSide || h.height > kMaxVideoSide ||
      h.width % 2 != 0 || h.height % 2 != 0) {
    return false;
  }
  if (h.frameLength == 0 || h.frameLength > kMaxVideoFrame || h.fragment >= h.fragments) return false;
  const uint32_t expected =
      static_cast<uint32_t>((h.frameLength + kVideoFragmentData - 1) / kVideoFragmentData);
  if (h.fragments != expected) return false;
  if (h.offset != static_cast<uint64_t>(h.fragment) * kVideoFragmentData) return false;
  const uint64_t end = static_cast<uint64_t>(h.offset) + bytes;
  const uint64_t wanted =
      h.fragment + 1u == h.fragments ? h.frameLength : h.offset + kVideoFragmentData;
  if (bytes == 0 || end != wanted) return false;
  out = h;
  return true;
}

}  // namespace qc
