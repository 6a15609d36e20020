// SPDX-License-Identifier: GPL-3.0-or-later
// The payload of a PacketType::CursorShape datagram, made from a cursor
// image. Pure functions; the capture work thread calls them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sender/capture/cursor_source.h"

namespace qc {

// Largest cursor shape payload: what a receiver inflates into.
inline constexpr size_t kMaxCursorPayload = 60000;
// The size a cursor is squeezed into when nothing larger fits.
inline constexpr int kFallbackCursorSize = 32;

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

// The image scaled to width x height (nearest pixel, hot spot scaled).
CursorImage ScaleCursorImage(const CursorImage& image, int width, int height);

}  // namespace qc
