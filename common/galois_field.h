// SPDX-License-Identifier: GPL-3.0-or-later
// Arithmetic in GF(2^8), the field of the parity datagrams' code
// (common/parity_format.h), over the gf-complete library: products and
// quotients of bytes, and multiply-adds of byte regions, which a parity is
// made of and solved with. Multiplying by 1 is XOR.
//
// Threads: any; the field's tables are built once, on first use, and then
// only read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qc::gf {

uint8_t Mul(uint8_t a, uint8_t b);
// a / b; b is not 0.
uint8_t Div(uint8_t a, uint8_t b);
// Each byte of v times c, or divided by c (not 0): a 16-bit header field
// coded like the data.
uint16_t Mul16(uint8_t c, uint16_t v);
uint16_t Div16(uint16_t v, uint8_t c);
// dest[i] ^= c * src[i] for i < n. src and dest do not overlap.
void MulAdd(const uint8_t* src, uint8_t* dest, uint8_t c, size_t n);
// data[i] = c * data[i] for i < n.
void Scale(uint8_t* data, uint8_t c, size_t n);

}  // namespace qc::gf
