// SPDX-License-Identifier: GPL-3.0-or-later
// Synthetic 1920x1080 screens for the codec benchmarks, made to look like
// what the sender really sees: a terminal full of text, a desktop with
// windows and toolbars, and a photograph. Deterministic.
#pragma once

#include <cstdint>
#include <vector>

namespace qc::bench {

enum class Content { Text, Desktop, Photo };

const char* ContentName(Content c);

// Height rows of width pixels, top-down, bytesPerPixel 4 (blue, green, red,
// 0) or 2 (5-6-5).
std::vector<uint8_t> MakeFrame(Content content, int width, int height, int bytesPerPixel);

}  // namespace qc::bench
