// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers of the codec tests: the carried-bytes comparison, inflation as a
// receiver does it, and frame and payload generators.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sender/capture/str_encoder.h"
#include "tests/support/fake_sources.h"

namespace qc::test {

using Bytes = std::vector<uint8_t>;

// The test log's file (tests/support). Referenced here so that every codec
// test binary links the log object the codec libraries print to.
std::string LogPath();

// Whether got shows want in every byte the strip encoding carries (the
// first P pixels of each substring), byte 3 of 32-bit pixels aside, which
// may also arrive as Raw color (the low three bits of each intensity clear).
::testing::AssertionResult CarriedBytesMatch(const uint8_t* want, const uint8_t* got, int width,
                                             int height, int bytesPerPixel);

// A screen's rows as a sender sends them: padded with black columns to
// SentFrameWidth(width).
Bytes SentFrame(const uint8_t* rows, int width, int height, int bytesPerPixel);

// Inflates a stream as a receiver does (fresh stream, one inflate call into
// 60000 bytes, Z_OK required). Empty and ok=false on failure.
Bytes Inflate(const Bytes& compressed, bool& ok);

// Frames: height rows of width x B bytes.
Bytes RandomFrame(std::mt19937& rng, int width, int height, int bytesPerPixel);
// Runs over 1 to 48 colours and repeated rows: every substring kind and
// Copy entries appear.
Bytes StructuredFrame(std::mt19937& rng, int width, int height, int bytesPerPixel);
// Changes a few rectangles of the frame (new colours or copies of others).
void Scribble(std::mt19937& rng, Bytes& frame, int width, int height, int bytesPerPixel);

// A valid payload for this geometry built from random records of every
// kind (rows increasing, no Copy in row 0), for decoder and fuzz tests.
Bytes RandomValidPayload(std::mt19937& rng, int width, int height, int bytesPerPixel, int records);

}  // namespace qc::test
