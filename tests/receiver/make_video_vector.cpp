// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the video test vector (video_vector.h) with our VideoEncoder:
//   make_video_vector tests/receiver/data/video_pan.qcv
// (built in the Linux trees only: the encoder needs libavcodec with x264).
#include <cstdio>

#include "sender/capture/video_encoder.h"
#include "tests/receiver/video_vector.h"

int main(int argc, char** argv) {
  using namespace qc::test;
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_video_vector FILE\n");
    return 2;
  }
  qc::VideoEncoder encoder;
  if (!encoder.Open(kVectorWidth, kVectorHeight, kVectorKbps)) return 1;
  VideoVector v{kVectorWidth, kVectorHeight, {}};
  std::vector<uint8_t> picture(static_cast<size_t>(kVectorWidth) * kVectorHeight * 4);
  for (int f = 0; f < kVectorFrames; ++f) {
    for (int y = 0; y < kVectorHeight; ++y)
      for (int x = 0; x < kVectorWidth; ++x)
        qc::WriteU32(&picture[(static_cast<size_t>(y) * kVectorWidth + x) * 4], PanPixel(f, x, y));
    v.units.emplace_back();
    if (!encoder.Encode(picture.data(), kVectorWidth * 4, v.units.back()) || v.units.back().empty()) {
      std::fprintf(stderr, "make_video_vector: frame %d not encoded\n", f);
      return 1;
    }
  }
  if (!WriteVideoVector(argv[1], v)) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
