// SPDX-License-Identifier: GPL-3.0-or-later
// VideoRegion: the capture engine's video path. It watches the grabbed rows
// with the VideoRegionDetector; while a region plays a video it keeps the
// region's pixels out of the lossless stream and sends them as H.264 in
// video-region datagrams (common/video_datagram.h) instead.
//
// How the lossless stream is kept out: after every grab the region's pixels
// are copied into the video picture and the frame's region is overwritten
// with the reference (what the receivers hold losslessly), so the strip
// encoder sees nothing changed there. When the region moves, shrinks or
// ends, the pixels it no longer covers are marked in the reference as
// differing, so the strip encoder sends them whole: every receiver's picture
// is exact again as soon as those rows go out.
//
// For receivers of the original protocol, which ignore video datagrams, an
// optional setting lets the region's real pixels into the lossless stream
// once every kLegacyIntervalMs.
//
// Threads: Configure on the GUI thread before Init or between steps (under
// the engine's step lock); everything else on the capture work thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/protocol.h"
#include "sender/capture/transport.h"
#include "sender/capture/video_encoder.h"
#include "sender/capture/video_region_detector.h"

namespace qc {

enum class VideoMode {
  Off,   // no detection: everything lossless
  On,    // any region that changes at a video-like rate
  Auto,  // ... with photographic content (the default)
};

// The default cap: a 720p video at 30 frames/s with a photograph's detail
// comes out near 37 dB BT.709 luma PSNR against the screen (RGB is lower
// on saturated, grainy colour: 4:2:0 chroma), and the whole stream stays
// under 5 Mbit/s (bench/video.sh, docs/benchmarks.md).
inline constexpr int kDefaultVideoBitrateKbps = 3500;

struct VideoSettings {
  VideoMode mode = VideoMode::Auto;
  int bitrateKbps = kDefaultVideoBitrateKbps;  // the cap of the H.264 stream
  bool legacyRefresh = false;  // the region's pixels losslessly, now and then
};

class VideoRegion {
 public:
  static constexpr int kFrameMs = 1000 / VideoEncoder::kFps;
  static constexpr int kLegacyIntervalMs = 2000;
  static constexpr int kMinBitrateKbps = 200;
  static constexpr int kMaxBitrateKbps = 50000;

  void Configure(const VideoSettings& settings);

  // The frame and the reference (rows of width x bytesPerPixel bytes) and
  // the transport. Video needs the standard 32-bit layout (init's masks 0
  // or 0xFF0000/0xFF00/0xFF); any other screen stays lossless.
  void Init(int width, int height, const InitMessage& init, uint8_t* frame, uint8_t* reference,
            CaptureTransport* transport);

  // Rows first..end-1 of the frame were just grabbed at nowMs. With `mask`
  // (every grab but the full-screen update's) the region's rows are taken
  // out of the lossless stream.
  void AfterGrab(int64_t nowMs, int first, int end, bool mask);

  // Once per step, after the grabs. When the region changed, returns true
  // with the band of rows first..end-1 that the engine must grab again and
  // encode as an update (the area the region left is marked for a lossless
  // send once those rows are grabbed, see ReleaseLeftArea).
  bool TakeChange(int64_t nowMs, int& first, int& end);
  // After the band of TakeChange was grabbed: the pixels the old region
  // covered and the new one does not differ in the reference from the frame.
  void ReleaseLeftArea();
  // Encodes and sends the region's picture when a frame is due and its rows
  // were grabbed since the last one.
  void SendFrameIfDue(int64_t nowMs);

  // Whether rows first..end-1 hold part of the region and its next frame is
  // due: the engine then grabs them even before their pace allows, so the
  // video keeps its frame rate beside busy lossless content.
  bool WantsRows(int64_t nowMs, int first, int end) const;
  // ms until the region's next frame is due (only while Active).
  int MsUntilFrame(int64_t nowMs) const;

  // Whether a region goes out as video now (also read by the GUI thread).
  bool Active() const { return active_.load(std::memory_order_relaxed); }
  // The step may sleep no longer than this while a region is active (ms),
  // so that its end is seen when nothing is drawn any more.
  static constexpr int kWatchMs = 50;

 private:
  void CopyRows(int first, int end);
  void MaskRows(int first, int end);
  void SendAccessUnit();

  VideoSettings settings_;
  bool capable_ = false;
  int width_ = 0;
  int height_ = 0;
  size_t rowBytes_ = 0;
  uint8_t* frame_ = nullptr;
  uint8_t* reference_ = nullptr;
  CaptureTransport* transport_ = nullptr;
  VideoRegionDetector detector_;
  VideoEncoder encoder_;
  VideoRect region_;     // what goes out as video now
  VideoRect left_;       // the area released by the last change
  std::vector<uint8_t> picture_;  // the region's pixels, region_.width x 4 per row
  std::vector<uint8_t> unit_;     // the access unit being sent
  uint8_t datagram_[kMaxDatagram] = {};
  uint16_t stream_ = 0;
  uint32_t frameNumber_ = 0;
  bool picturePending_ = false;
  int64_t nextFrameMs_ = 0;  // when the next frame is due
  int64_t lastLegacyMs_ = 0;
  bool legacyNow_ = false;
  bool encoderFailed_ = false;
  std::atomic<bool> active_{false};
};

}  // namespace qc
