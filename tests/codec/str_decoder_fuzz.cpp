// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for StrDecoder. The first input byte picks a frame
// geometry, the rest is the payload. The framebuffer is allocated to its
// exact size and libFuzzer passes the payload in an exactly sized buffer, so
// the sanitizers catch any write outside the one or read past the other.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "receiver/viewer/str_decoder.h"

namespace {

struct Geometry {
  int width, height, bytesPerPixel;
};

// Widths that are and are not multiples of 8, with and without an
// uncovered row tail, the smallest and the largest.
constexpr Geometry kGeometries[] = {
    {8, 4, 2},    {64, 6, 4},   {100, 5, 2},  {1366, 3, 2}, {1366, 3, 4},
    {1367, 2, 4}, {4096, 2, 4}, {4096, 2, 2}, {3, 3, 4},    {17, 9, 2},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const Geometry g = kGeometries[data[0] % (sizeof kGeometries / sizeof kGeometries[0])];
  const size_t bytes = static_cast<size_t>(g.width) * g.height * g.bytesPerPixel;
  std::unique_ptr<uint8_t[]> framebuffer(new uint8_t[bytes]());
  qc::StrDecoder decoder;
  if (!decoder.Init(framebuffer.get(), g.bytesPerPixel, g.width, g.height)) abort();
  int first = 0, last = 0;
  const bool ok = decoder.Decode(data + 1, size - 1, first, last);
  // Reported rows lie in the frame; a success always names them.
  if (first > last || last >= g.height || (ok && first < 0)) abort();
  return 0;
}
