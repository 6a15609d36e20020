// SPDX-License-Identifier: GPL-3.0-or-later
// VideoDecoder: the receiver's side of the video region. It reassembles the
// fragments of each H.264 access unit (common/video_datagram.h), decodes it
// (VideoCodec: libavcodec on Linux, Media Foundation on Windows) and paints
// the picture into the framebuffer at the region's place, so the window's
// paint paths and the snapshot show it like any other pixels. The lossless
// pixels around the region are never touched.
//
// Loss: a frame with a missing fragment is dropped, and the region is not
// painted again until a whole intra-refresh cycle has gone by after it (or,
// for a receiver that joins late, after its first frame): until then the
// region shows its last good picture instead of a damaged one. Nothing is
// ever asked of the sender.
//
// Where no decoder can be made or it fails, the region shows what the
// lossless stream last carried (logged once).
//
// Threads: the update thread only; the counters may be read from any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/video_datagram.h"
#include "receiver/viewer/framebuffer.h"
#include "receiver/viewer/video_codec.h"
#include "receiver/viewer/viewer_geometry.h"

namespace qc {

class VideoDecoder {
 public:
  // Frames after a loss or a start that are not shown: one refresh cycle.
  static constexpr uint32_t kRecoveryFrames = 31;

  VideoDecoder();
  ~VideoDecoder();
  VideoDecoder(const VideoDecoder&) = delete;
  VideoDecoder& operator=(const VideoDecoder&) = delete;

  // Forgets the stream (a new transmission).
  void Reset();
  // One parsed video datagram and its fragment bytes. Returns true with the
  // framebuffer rectangle it painted when the datagram completed a frame
  // that was shown.
  bool Process(const VideoHeader& h, const uint8_t* bytes, size_t length, Framebuffer& picture,
               Rect& painted);

  // Right after Process: whether that datagram completed an access unit,
  // and its bytes (valid until the next Process or Reset).
  bool UnitCompleted() const { return completed_; }
  const std::vector<uint8_t>& Unit() const { return unit_; }

  uint32_t FramesShown() const { return shown_.load(std::memory_order_relaxed); }
  uint32_t FramesLost() const { return lost_.load(std::memory_order_relaxed); }

 private:
  // Decodes the assembled unit; paints when allowed.
  bool Decode(const VideoHeader& h, Framebuffer& picture, Rect& painted);

  VideoCodec codec_;
  bool codecOpen_ = false;
  bool haveStream_ = false;
  uint16_t stream_ = 0;
  uint32_t frame_ = 0;         // the frame being assembled
  bool assembling_ = false;
  bool frameDone_ = false;     // frame_ was decoded (or given up)
  bool completed_ = false;     // the last Process completed frame_
  uint32_t showFrom_ = 0;      // the first frame that may be painted
  std::vector<uint8_t> unit_;  // the access unit being assembled
  std::vector<uint8_t> got_;   // per fragment: received
  uint32_t missing_ = 0;       // fragments of frame_ not yet received
  std::atomic<uint32_t> shown_{0};
  std::atomic<uint32_t> lost_{0};
};

}  // namespace qc
