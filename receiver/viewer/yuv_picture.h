// SPDX-License-Identifier: GPL-3.0-or-later
// YuvPicture: one decoded 8-bit 4:2:0 picture as a video decoder leaves it
// (the chroma planes separate, I420, or interleaved, NV12), and its
// conversion to the framebuffer's 32-bit pixels (byte 0 blue, byte 3 zero).
//
// The colours are those the sender's encoder converts with (BT.601 matrix,
// limited range), each pixel's chroma interpolated from the samples around
// it (the sender takes them as 2x2 means), so every decoder back-end paints
// the same pixels for the same stream.
//
// Functions are pure; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qc {

struct YuvPicture {
  int width = 0;   // pixels
  int height = 0;
  const uint8_t* y = nullptr;
  const uint8_t* u = nullptr;  // NV12: the first byte of the interleaved U, V plane
  const uint8_t* v = nullptr;  // NV12: u + 1
  size_t yStride = 0;          // bytes from one row to the next
  size_t uvStride = 0;         // the same for the (half-height) chroma rows
  int uvStep = 1;              // bytes between the chroma samples of a row: 1 (I420) or 2 (NV12)
};

// Writes the picture's width x height pixels to `out`, rows `outStride`
// bytes apart.
void YuvToBgr0(const YuvPicture& picture, uint8_t* out, size_t outStride);

}  // namespace qc
