// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/video_region.h"

#include <algorithm>
#include <cstring>

#include "common/log_file.h"
#include "common/video_datagram.h"

namespace qc {

void VideoRegion::Configure(const VideoSettings& settings) {
  settings_ = settings;
  settings_.bitrateKbps = std::clamp(settings.bitrateKbps, kMinBitrateKbps, kMaxBitrateKbps);
}

void VideoRegion::Init(int width, int height, const InitMessage& init, uint8_t* frame,
                       uint8_t* reference, CaptureTransport* transport) {
  width_ = width;
  height_ = height;
  rowBytes_ = static_cast<size_t>(width) * 4;
  frame_ = frame;
  reference_ = reference;
  transport_ = transport;
  const bool standardMasks =
      (init.redMask == 0 && init.greenMask == 0 && init.blueMask == 0) ||
      (init.redMask == 0xFF0000 && init.greenMask == 0xFF00 && init.blueMask == 0xFF);
  capable_ = settings_.mode != VideoMode::Off && init.bitsPerPixel == 32 && standardMasks;
  region_ = {};
  left_ = {};
  encoder_.Close();
  encoderFailed_ = false;
  nextFrameMs_ = 0;  // the engine's video clock starts again at Init
  active_ = false;
  if (!capable_) return;
  detector_.Reset(width, height, 4, rowBytes_);
  detector_.SetMode(settings_.mode == VideoMode::On ? VideoRegionDetector::Mode::On
                                                    : VideoRegionDetector::Mode::Auto);
}

void VideoRegion::AfterGrab(int64_t nowMs, int first, int end, bool mask) {
  if (!capable_) return;
  detector_.Observe(nowMs, frame_, first, end);
  if (region_.Empty()) return;
  const int from = std::max(first, region_.y);
  const int to = std::min(end, region_.y + region_.height);
  if (from >= to) return;
  CopyRows(from, to);
  picturePending_ = true;
  if (mask && !legacyNow_) MaskRows(from, to);
}

void VideoRegion::CopyRows(int first, int end) {
  const size_t bytes = static_cast<size_t>(region_.width) * 4;
  for (int y = first; y < end; ++y) {
    std::memcpy(picture_.data() + bytes * (y - region_.y),
                frame_ + rowBytes_ * y + static_cast<size_t>(region_.x) * 4, bytes);
  }
}

void VideoRegion::MaskRows(int first, int end) {
  const size_t bytes = static_cast<size_t>(region_.width) * 4;
  for (int y = first; y < end; ++y) {
    const size_t at = rowBytes_ * y + static_cast<size_t>(region_.x) * 4;
    std::memcpy(frame_ + at, reference_ + at, bytes);
  }
}

bool VideoRegion::TakeChange(int64_t nowMs, int& first, int& end) {
  if (!capable_) return false;
  if (legacyNow_) {
    legacyNow_ = false;
    lastLegacyMs_ = nowMs;
  } else if (settings_.legacyRefresh && !region_.Empty() &&
             nowMs - lastLegacyMs_ >= kLegacyIntervalMs) {
    legacyNow_ = true;  // the next step's grabs go out losslessly as well
  }
  detector_.Tick(nowMs);
  const VideoRect next = encoderFailed_ ? VideoRect{} : detector_.Region();
  if (next == region_) return false;
  const VideoRect old = region_;
  left_ = old;
  region_ = next;
  if (!region_.Empty()) {
    if (old.width != region_.width || old.height != region_.height || !encoder_.IsOpen()) {
      if (encoder_.Open(region_.width, region_.height, settings_.bitrateKbps)) {
        ++stream_;
        frameNumber_ = 0;
        picture_.assign(static_cast<size_t>(region_.width) * region_.height * 4, 0);
      } else {
        encoderFailed_ = true;  // the region stays lossless from now on
        region_ = {};
      }
    }
  }
  if (region_.Empty()) {
    encoder_.Close();
    Log().Print("qcVideo: Video region ended\n");
  } else if (old.Empty()) {
    Log().Print("qcVideo: Video region %dx%d at %d,%d\n", region_.width, region_.height,
                region_.x, region_.y);
  }
  active_.store(!region_.Empty(), std::memory_order_relaxed);
  picturePending_ = false;
  first = height_;
  end = 0;
  for (const VideoRect& r : {old, region_}) {
    if (r.Empty()) continue;
    first = std::min(first, r.y);
    end = std::max(end, r.y + r.height);
  }
  return first < end;
}

void VideoRegion::ReleaseLeftArea() {
  const VideoRect& l = left_;
  for (int y = l.y; y < l.y + l.height; ++y) {
    const bool inRegion = y >= region_.y && y < region_.y + region_.height;
    for (int x = l.x; x < l.x + l.width; ++x) {
      if (inRegion && x >= region_.x && x < region_.x + region_.width) {
        x = region_.x + region_.width - 1;
        continue;
      }
      const size_t at = rowBytes_ * y + static_cast<size_t>(x) * 4;
      for (int b = 0; b < 4; ++b) reference_[at + b] = static_cast<uint8_t>(~frame_[at + b]);
    }
  }
  left_ = {};
}

bool VideoRegion::WantsRows(int64_t nowMs, int first, int end) const {
  if (region_.Empty() || first >= region_.y + region_.height || end <= region_.y) return false;
  return MsUntilFrame(nowMs) == 0;
}

int VideoRegion::MsUntilFrame(int64_t nowMs) const {
  return static_cast<int>(std::max<int64_t>(0, nextFrameMs_ - nowMs));
}

void VideoRegion::SendFrameIfDue(int64_t nowMs) {
  if (region_.Empty() || !picturePending_) return;
  if (MsUntilFrame(nowMs) > 0) return;
  // Frames keep their cadence: the next is due a frame after this one was,
  // not after it went out. The step that grabs a frame's rows also sends
  // the lossless rows beside it first, and the encoding takes its time;
  // counted from the send, each frame came that much later (beside a
  // scrolling terminal 40 ms apart instead of 33). A frame that went out
  // more than half a frame late does not make the next one follow at once.
  nextFrameMs_ = std::max(nextFrameMs_ + kFrameMs, nowMs + kFrameMs / 2);
  picturePending_ = false;
  if (!encoder_.Encode(picture_.data(), static_cast<size_t>(region_.width) * 4, unit_)) {
    Log().Print("qcVideo: H.264 encoding failed; the region goes out losslessly\n");
    encoderFailed_ = true;
    return;
  }
  if (!unit_.empty() && unit_.size() <= kMaxVideoFrame) SendAccessUnit();
}

void VideoRegion::SendAccessUnit() {
  VideoHeader h;
  h.screenId = transport_->ScreenId();
  h.stream = stream_;
  h.x = static_cast<uint16_t>(region_.x);
  h.y = static_cast<uint16_t>(region_.y);
  h.width = static_cast<uint16_t>(region_.width);
  h.height = static_cast<uint16_t>(region_.height);
  h.frame = frameNumber_++;
  h.frameLength = static_cast<uint32_t>(unit_.size());
  h.fragments = static_cast<uint16_t>((unit_.size() + kVideoFragmentData - 1) / kVideoFragmentData);
  for (uint16_t i = 0; i < h.fragments; ++i) {
    h.fragment = i;
    h.offset = static_cast<uint32_t>(i * kVideoFragmentData);
    const size_t n = std::min(kVideoFragmentData, unit_.size() - h.offset);
    BuildVideoHeader(h, datagram_);
    std::memcpy(datagram_ + kVideoHeaderSize, unit_.data() + h.offset, n);
    transport_->SendRaw(datagram_, kVideoHeaderSize + n);
  }
}

}  // namespace qc
