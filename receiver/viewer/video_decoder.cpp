// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/video_decoder.h"

#include <atomic>
#include <cstring>

#include "common/log_file.h"

namespace qc {

VideoDecoder::VideoDecoder() = default;
VideoDecoder::~VideoDecoder() = default;

void VideoDecoder::Reset() {
  codec_.Close();
  codecOpen_ = false;
  completed_ = false;
  haveStream_ = false;
  assembling_ = false;
  frameDone_ = false;
}

bool VideoDecoder::Process(const VideoHeader& h, const uint8_t* bytes, size_t length,
                           Framebuffer& picture, Rect& painted) {
  completed_ = false;
  if (!haveStream_ || h.stream != stream_) {
    // A new stream (the region started or changed size): a fresh decoder,
    // and nothing shown until its first refresh cycle went by.
    Reset();
    codecOpen_ = codec_.Open();
    static std::atomic<bool> told{false};
    if (!codecOpen_ && !told.exchange(true)) {
      Log().Print("qvViewer: No H.264 decoder; the video region shows its lossless pixels\n");
    }
    haveStream_ = true;
    stream_ = h.stream;
    // Frame 0 starts the stream with a full picture; a later frame only
    // begins a refresh cycle.
    showFrom_ = h.frame == 0 ? 0 : h.frame + kRecoveryFrames;
  }
  if (assembling_ || frameDone_) {
    const int32_t ahead = static_cast<int32_t>(h.frame - frame_);
    if (ahead < 0 || (ahead == 0 && frameDone_)) return false;  // late or repeated
    if (ahead > 0) {
      // Frames before this one that never completed are lost.
      const uint32_t lostFrames = static_cast<uint32_t>(ahead) - (frameDone_ ? 1 : 0);
      if (lostFrames > 0) {
        lost_.fetch_add(lostFrames, std::memory_order_relaxed);
        showFrom_ = h.frame + kRecoveryFrames;
      }
      assembling_ = false;
      frameDone_ = false;
    }
  }
  if (!assembling_) {
    frame_ = h.frame;
    unit_.resize(h.frameLength);
    got_.assign(h.fragments, 0);
    missing_ = h.fragments;
    assembling_ = true;
  } else if (unit_.size() != h.frameLength || got_.size() != h.fragments) {
    return false;  // inconsistent with the frame's first fragment
  }
  if (got_[h.fragment]) return false;
  got_[h.fragment] = 1;
  std::memcpy(unit_.data() + h.offset, bytes, length);
  if (--missing_ > 0) return false;
  assembling_ = false;
  frameDone_ = true;
  completed_ = true;
  return Decode(h, picture, painted);
}

bool VideoDecoder::Decode(const VideoHeader& h, Framebuffer& picture, Rect& painted) {
  if (!codecOpen_ || !codec_.Send(unit_.data(), unit_.size())) return false;
  bool shown = false;
  YuvPicture decoded;
  while (codec_.Receive(decoded)) {
    // A decoder that does not crop (Wine's) gives the whole macroblocks; the
    // encoder's cropping is at the right and the bottom.
    if (decoded.width == ((h.width + 15) & ~15) && decoded.height == ((h.height + 15) & ~15)) {
      decoded.width = h.width;
      decoded.height = h.height;
    }
    const FramebufferView& v = picture.View();
    const bool fits = picture.Pixels() != nullptr && v.bitsPerPixel == 32 &&
                      v.EffectiveRedMask() == 0xFF0000 && v.EffectiveGreenMask() == 0xFF00 &&
                      v.EffectiveBlueMask() == 0xFF && h.x + h.width <= v.width &&
                      h.y + h.height <= v.height && decoded.width == h.width &&
                      decoded.height == h.height;
    if (!fits || static_cast<int32_t>(h.frame - showFrom_) < 0) continue;
    YuvToBgr0(decoded,
              picture.Pixels() + static_cast<size_t>(v.bytesPerRow) * h.y +
                  static_cast<size_t>(h.x) * 4,
              static_cast<size_t>(v.bytesPerRow));
    painted = Rect{h.x, h.y, h.x + h.width, h.y + h.height};
    shown = true;
    const uint32_t count = shown_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (count % 100 == 0) {
      Log().Print("qvViewer: Video frames shown %u, lost %u\n", count, FramesLost());
    }
  }
  return shown;
}

}  // namespace qc
