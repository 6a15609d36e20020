// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/galois_field.h"

#include <cstring>

extern "C" {
#include <gf_complete.h>
}

namespace qc::gf {
namespace {

gf_t& Field() {
  static gf_t field = [] {
    gf_t f;
    gf_init_easy(&f, 8);
    return f;
  }();
  return field;
}

// gf-complete multiplies regions in 16-byte blocks, source and destination
// aligned alike: the bytes before the first boundary and after the last
// whole block are done one by one.
void Region(const uint8_t* src, uint8_t* dest, uint8_t c, size_t n, bool add) {
  gf_t& f = Field();
  size_t head = (16 - (reinterpret_cast<uintptr_t>(dest) & 15)) & 15;
  if (head > n) head = n;
  const size_t body = (n - head) & ~size_t{15};
  for (size_t i = 0; i < head; ++i) dest[i] = static_cast<uint8_t>((add ? dest[i] : 0) ^ Mul(c, src[i]));
  if (body > 0) {
    f.multiply_region.w32(&f, const_cast<uint8_t*>(src + head), dest + head, c,
                          static_cast<int>(body), add ? 1 : 0);
  }
  for (size_t i = head + body; i < n; ++i) {
    dest[i] = static_cast<uint8_t>((add ? dest[i] : 0) ^ Mul(c, src[i]));
  }
}

}  // namespace

uint8_t Mul(uint8_t a, uint8_t b) {
  gf_t& f = Field();
  return static_cast<uint8_t>(f.multiply.w32(&f, a, b));
}

uint8_t Div(uint8_t a, uint8_t b) {
  gf_t& f = Field();
  return static_cast<uint8_t>(f.divide.w32(&f, a, b));
}

uint16_t Mul16(uint8_t c, uint16_t v) {
  return static_cast<uint16_t>(Mul(c, static_cast<uint8_t>(v >> 8)) << 8 |
                               Mul(c, static_cast<uint8_t>(v)));
}

uint16_t Div16(uint16_t v, uint8_t c) {
  return static_cast<uint16_t>(Div(static_cast<uint8_t>(v >> 8), c) << 8 |
                               Div(static_cast<uint8_t>(v), c));
}

void MulAdd(const uint8_t* src, uint8_t* dest, uint8_t c, size_t n) {
  if (c == 0) return;
  if (c == 1) {
    for (size_t i = 0; i < n; ++i) dest[i] ^= src[i];
    return;
  }
  if (((reinterpret_cast<uintptr_t>(src) ^ reinterpret_cast<uintptr_t>(dest)) & 15) == 0) {
    Region(src, dest, c, n, true);
    return;
  }
  // Aligned differently: through a buffer aligned as dest is.
  alignas(16) uint8_t buffer[4096 + 16];
  const size_t offset = reinterpret_cast<uintptr_t>(dest) & 15;
  for (size_t done = 0; done < n;) {
    const size_t k = n - done < 4096 ? n - done : 4096;
    std::memcpy(buffer + offset, src + done, k);
    Region(buffer + offset, dest + done, c, k, true);
    done += k;
  }
}

void Scale(uint8_t* data, uint8_t c, size_t n) {
  if (c != 1) Region(data, data, c, n, false);
}

}  // namespace qc::gf
