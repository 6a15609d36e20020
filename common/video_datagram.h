// SPDX-License-Identifier: GPL-3.0-or-later
// Video-region datagrams (type 0xFFF5): one fragment of one H.264 access
// unit that covers a rectangle of the screen. Receivers that do not know the
// type ignore it; the rectangle's lossless rows follow in ordinary updates
// when the region ends.
//
//   0 u16 type 0xFFF5          2 u16 screen identifier
//   4 u16 stream               a new number whenever the encoder restarts
//   6 u16 x      8 u16 y       the rectangle on the screen, pixels
//  10 u16 width 12 u16 height  even, 2..4096
//  14 u32 frame                number of the access unit within the stream
//  18 u16 fragment index      20 u16 fragment count (index < count)
//  22 u32 frame length         bytes of the whole access unit
//  26 u32 offset               of this fragment's bytes in the access unit
//  30 ...                      the fragment's bytes
//
// Fragments carry at most kVideoFragmentData bytes, so every datagram stays
// well under the datagram limit. Functions are pure; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qc {

inline constexpr uint16_t kVideoRegionType = 0xFFF5;
inline constexpr size_t kVideoHeaderSize = 30;
inline constexpr size_t kVideoFragmentData = 8000;
// Largest access unit a sender makes and a receiver reassembles.
inline constexpr uint32_t kMaxVideoFrame = 4u << 20;
inline constexpr int kMaxVideoSide = 4096;

struct VideoHeader {
  uint16_t screenId = 0;
  uint16_t stream = 0;
  uint16_t x = 0;
  uint16_t y = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t frame = 0;
  uint16_t fragment = 0;
  uint16_t fragments = 0;
  uint32_t frameLength = 0;
  uint32_t offset = 0;
};

void BuildVideoHeader(const VideoHeader& h, uint8_t out[kVideoHeaderSize]);
// False unless the datagram is a video-region datagram whose header is
// consistent: even sizes within 2..kMaxVideoSide, index below count, the
// fragment inside the frame, the frame at most kMaxVideoFrame bytes and
// split into exactly `fragments` fragments of kVideoFragmentData bytes.
// The fragment's bytes are the datagram's after the header.
bool ParseVideoHeader(const uint8_t* data, size_t length, VideoHeader& out);

}  // namespace qc
