// SPDX-License-Identifier: GPL-3.0-or-later
// VideoEncoder: H.264 for the video region (libavcodec with x264): zero
// latency, a bitrate cap, periodic intra refresh instead of key frames, so
// that a receiver that joins late or lost a fragment decodes again within
// kRefreshFrames frames and no frame is a burst of intra blocks. Sequence
// and picture parameters go with every refresh.
//
// Pictures are 32-bit, byte 0 blue (the screen's standard 8-8-8 layout).
// A build without libavcodec (Windows) has no encoder: Open fails and the
// region is sent losslessly as before.
//
// Threads: the capture work thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qc {

class VideoEncoder {
 public:
  static constexpr int kFps = 30;
  static constexpr int kRefreshFrames = kFps;  // one refresh cycle a second

  VideoEncoder();
  ~VideoEncoder();
  VideoEncoder(const VideoEncoder&) = delete;
  VideoEncoder& operator=(const VideoEncoder&) = delete;

  // Pictures of width x height pixels (even, at most 4096). False, with a
  // log line, when no H.264 encoder is available or it refuses the size.
  bool Open(int width, int height, int bitrateKbps);
  void Close();
  bool IsOpen() const;
  // Encodes one picture (rows of `stride` bytes). The access unit goes into
  // `out` (cleared first). False on an encoder error.
  bool Encode(const uint8_t* pixels, size_t stride, std::vector<uint8_t>& out);

 private:
  struct Codec;
  std::unique_ptr<Codec> codec_;
};

}  // namespace qc
