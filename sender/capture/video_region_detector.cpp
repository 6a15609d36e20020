// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/video_region_detector.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace qc {

namespace {

// Rows of a tile that are sampled, as offsets from its top row.
constexpr int kSampleRows[3] = {2, 7, 12};
constexpr int kSamples = 3;
// Distinct colours among a sampled row's 16 pixels that make it
// photographic: text, flat widgets and gradients of a few steps have fewer.
constexpr int kPhotoColours = 10;

int DistinctColours(const uint8_t* p, int pixels, int bpp) {
  uint32_t seen[VideoRegionDetector::kTile];
  int count = 0;
  uint32_t last = 0;
  for (int i = 0; i < pixels; ++i) {
    uint32_t v = 0;
    std::memcpy(&v, p + static_cast<size_t>(i) * bpp, bpp);
    if (bpp == 4) v &= 0xFFFFFFu;
    if (i > 0 && v == last) continue;  // runs: text and flat areas are cheap
    last = v;
    bool found = false;
    for (int j = 0; j < count && !found; ++j) found = seen[j] == v;
    if (!found) seen[count++] = v;
    if (count >= kPhotoColours) break;  // photographic: enough
  }
  return count;
}

bool Overlaps(const VideoRect& a, const VideoRect& b) {
  return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
         b.y < a.y + a.height;
}

}  // namespace

void VideoRegionDetector::Reset(int width, int height, int bytesPerPixel, size_t stride) {
  width_ = width;
  height_ = height;
  bpp_ = bytesPerPixel;
  stride_ = stride;
  tilesX_ = (width + kTile - 1) / kTile;
  tilesY_ = (height + kTile - 1) / kTile;
  tiles_.assign(static_cast<size_t>(tilesX_) * tilesY_, TileState{});
  samples_.assign(static_cast<size_t>(tilesY_) * kSamples * width * bytesPerPixel, 0);
  sampleSlot_.assign(static_cast<size_t>(tilesY_) * kSamples, -1);
  slot_ = -1;
  decidedSlot_ = -1;
  candidate_ = {};
  region_ = {};
}

void VideoRegionDetector::Advance(int64_t slot) {
  if (slot_ < 0) slot_ = slot;
  if (slot <= slot_) return;
  const int64_t delta = std::min<int64_t>(slot - slot_, 32);
  for (TileState& t : tiles_) {
    t.changed = delta >= 32 ? 0 : t.changed << delta;
    t.photo = delta >= 32 ? 0 : t.photo << delta;
    t.observed = delta >= 32 ? 0 : t.observed << delta;
    t.counted = 0;
  }
  slot_ = slot;
}

void VideoRegionDetector::Observe(int64_t nowMs, const uint8_t* frame, int first, int end) {
  if (tiles_.empty()) return;
  Advance(nowMs / kSlotMs);
  first = std::max(first, 0);
  end = std::min(end, height_);
  for (int ty = first / kTile; ty * kTile < end; ++ty) {
    for (int s = 0; s < kSamples; ++s) {
      const int y = ty * kTile + kSampleRows[s];
      if (y < first || y >= end) continue;
      // A slot holds one bit per tile: a row compared in this slot already
      // has nothing to add (a busy screen is grabbed a dozen times a slot).
      int64_t& comparedIn = sampleSlot_[static_cast<size_t>(ty) * kSamples + s];
      if (comparedIn == slot_) continue;
      comparedIn = slot_;
      const uint8_t* row = frame + stride_ * y;
      // The row as last looked at: comparing with it is several times
      // cheaper than hashing, and a row that did not change at all (most
      // of a text screen's) is one comparison.
      const size_t rowBytes = static_cast<size_t>(width_) * bpp_;
      uint8_t* copy = samples_.data() + (static_cast<size_t>(ty) * kSamples + s) * rowBytes;
      const bool rowSame = std::memcmp(copy, row, rowBytes) == 0;
      TileState* tiles = tiles_.data() + static_cast<size_t>(ty) * tilesX_;
      for (int tx = 0; tx < tilesX_; ++tx) {
        TileState& t = tiles[tx];
        if (!t.seen) continue;
        t.observed |= 1u;
        if (rowSame) continue;
        const int x = tx * kTile;
        const int pixels = std::min(kTile, width_ - x);
        const size_t at = static_cast<size_t>(x) * bpp_, bytes = static_cast<size_t>(pixels) * bpp_;
        if (std::memcmp(copy + at, row + at, bytes) == 0) continue;
        t.changed |= 1u;
        // One count a slot: a photographic sample marks it, and text,
        // counted once, is no more photographic in its next row.
        if ((t.counted & 1u) == 0) {
          t.counted |= 1u;
          if (DistinctColours(row + at, pixels, bpp_) >= kPhotoColours) t.photo |= 1u;
        }
      }
      if (!rowSame) std::memcpy(copy, row, rowBytes);
    }
    // A tile counts as seen once all its sampled rows were compared.
    if (std::min(end, height_) > ty * kTile + kSampleRows[kSamples - 1]) {
      for (int tx = 0; tx < tilesX_; ++tx) tiles_[static_cast<size_t>(ty) * tilesX_ + tx].seen = true;
    }
  }
  DecideIfDue(nowMs);
}

void VideoRegionDetector::Tick(int64_t nowMs) {
  if (tiles_.empty()) return;
  Advance(nowMs / kSlotMs);
  DecideIfDue(nowMs);
}

void VideoRegionDetector::DecideIfDue(int64_t nowMs) {
  // Without a region the whole screen's tiles are looked at, and a busy
  // text screen is grabbed a dozen times a slot: once a slot is enough to
  // find a video (the bits counted are whole slots but the current one).
  // A running region is followed at every grab.
  if (region_.Empty() && decidedSlot_ == slot_) return;
  decidedSlot_ = slot_;
  Decide(nowMs);
}

bool VideoRegionDetector::VideoLike(const TileState& t) const {
  constexpr uint32_t window = (1u << kWindowSlots) - 1;
  const uint32_t bits = (mode_ == Mode::Auto ? (t.changed & t.photo) : t.changed) & window;
  // Most tiles of a screen never changed photographically: no counting for
  // them (std::popcount is a library call without the popcnt instruction).
  if (bits == 0) return false;
  const int changed = std::popcount(bits);
  return changed >= kStartSlots && changed * 4 >= std::popcount(t.observed & window) * 3;
}

bool VideoRegionDetector::Following(const TileState& t) const {
  constexpr uint32_t window = (1u << kFollowWindow) - 1;
  if ((t.changed & window) == 0) return false;
  const int changed = std::popcount(t.changed & window);
  if (changed * 2 < std::popcount(t.observed & window)) return false;
  return mode_ == Mode::On || (t.photo & window) != 0;
}

template <class Test>
bool VideoRegionDetector::Bounds(Test test, int& tx0, int& ty0, int& tx1, int& ty1,
                                 int& filled) const {
  tx0 = tilesX_;
  ty0 = tilesY_;
  tx1 = -1;
  ty1 = -1;
  filled = 0;
  for (int ty = 0; ty < tilesY_; ++ty) {
    for (int tx = 0; tx < tilesX_; ++tx) {
      if (!test(tx, ty, tiles_[static_cast<size_t>(ty) * tilesX_ + tx])) continue;
      tx0 = std::min(tx0, tx);
      ty0 = std::min(ty0, ty);
      tx1 = std::max(tx1, tx);
      ty1 = std::max(ty1, ty);
      ++filled;
    }
  }
  return filled > 0;
}

void VideoRegionDetector::ExtendEdges(int& tx0, int& ty0, int& tx1, int& ty1) const {
  // A video edge that cuts a tile leaves too few of its colours there for
  // the photographic test: a changing neighbour column or row joins.
  constexpr uint32_t window = (1u << kFollowWindow) - 1;
  auto changing = [&](int tx, int ty) {
    const TileState& t = tiles_[static_cast<size_t>(ty) * tilesX_ + tx];
    const int changed = std::popcount(t.changed & window);
    return changed > 0 && changed * 2 >= std::popcount(t.observed & window);
  };
  auto column = [&](int tx) {
    for (int ty = ty0; ty <= ty1; ++ty)
      if (changing(tx, ty)) return true;
    return false;
  };
  auto row = [&](int ty) {
    for (int tx = tx0; tx <= tx1; ++tx)
      if (changing(tx, ty)) return true;
    return false;
  };
  if (tx0 > 0 && column(tx0 - 1)) --tx0;
  if (tx1 + 1 < tilesX_ && column(tx1 + 1)) ++tx1;
  if (ty0 > 0 && row(ty0 - 1)) --ty0;
  if (ty1 + 1 < tilesY_ && row(ty1 + 1)) ++ty1;
}

bool VideoRegionDetector::WorthShrinking(const VideoRect& box) const {
  const int slack = kShrinkSlackTiles * kTile;
  return box.x - region_.x > slack || box.y - region_.y > slack ||
         (region_.x + region_.width) - (box.x + box.width) > slack ||
         (region_.y + region_.height) - (box.y + box.height) > slack;
}

VideoRect VideoRegionDetector::ToPixels(int tx0, int ty0, int tx1, int ty1) const {
  VideoRect r;
  r.x = tx0 * kTile;
  r.y = ty0 * kTile;
  r.width = (std::min((tx1 + 1) * kTile, width_) - r.x) & ~1;
  r.height = (std::min((ty1 + 1) * kTile, height_) - r.y) & ~1;
  return r;
}

void VideoRegionDetector::Decide(int64_t nowMs) {
  int tx0, ty0, tx1, ty1, filled;
  if (region_.Empty()) {
    const bool any = Bounds([this](int, int, const TileState& t) { return VideoLike(t); },
                            tx0, ty0, tx1, ty1, filled);
    VideoRect box;
    if (any) {
      ExtendEdges(tx0, ty0, tx1, ty1);
      box = ToPixels(tx0, ty0, tx1, ty1);
      const int area = (tx1 - tx0 + 1) * (ty1 - ty0 + 1);
      // Mostly filled: two small changing things far apart are no video.
      if (box.width < kMinWidth || box.height < kMinHeight || filled * 2 < area) box = {};
    }
    if (box.Empty()) {
      candidate_ = {};
      return;
    }
    if (!(box == candidate_)) {
      candidate_ = box;
      candidateSinceMs_ = nowMs;
      return;
    }
    if (nowMs - candidateSinceMs_ >= kConfirmMs) {
      region_ = box;
      shrinkSinceMs_ = -1;
    }
    return;
  }
  // A region none of whose tiles changed for kEndQuietMs ends.
  {
    constexpr uint32_t quiet = (1u << (kEndQuietMs / kSlotMs)) - 1;
    const int x1 = (region_.x + region_.width - 1) / kTile;
    const int y1 = (region_.y + region_.height - 1) / kTile;
    bool changed = false;
    for (int ty = region_.y / kTile; ty <= y1 && !changed; ++ty)
      for (int tx = region_.x / kTile; tx <= x1 && !changed; ++tx)
        changed = (tiles_[static_cast<size_t>(ty) * tilesX_ + tx].changed & quiet) != 0;
    if (!changed) {
      region_ = {};
      candidate_ = {};
      return;
    }
  }
  // A running region follows its changing tiles within a margin around it,
  // so that a moved or resized player is followed and other changes on the
  // screen are not taken in.
  const int margin = 4 * kTile;
  const int mx0 = (region_.x - margin) / kTile, my0 = (region_.y - margin) / kTile;
  const int mx1 = (region_.x + region_.width + margin) / kTile;
  const int my1 = (region_.y + region_.height + margin) / kTile;
  const bool any = Bounds(
      [&](int tx, int ty, const TileState& t) {
        return tx >= mx0 && tx <= mx1 && ty >= my0 && ty <= my1 && Following(t);
      },
      tx0, ty0, tx1, ty1, filled);
  if (any) {
    ExtendEdges(tx0, ty0, tx1, ty1);
    const VideoRect box = ToPixels(tx0, ty0, tx1, ty1);
    if (box.width >= kMinWidth && box.height >= kMinHeight && Overlaps(box, region_)) {
      const int x0 = std::min(box.x, region_.x), y0 = std::min(box.y, region_.y);
      const int x1 = std::max(box.x + box.width, region_.x + region_.width);
      const int y1 = std::max(box.y + box.height, region_.y + region_.height);
      const VideoRect both{x0, y0, (x1 - x0) & ~1, (y1 - y0) & ~1};
      if (!(both == region_)) {
        region_ = both;  // grows at once
        shrinkSinceMs_ = -1;
      } else if (box == region_ || !WorthShrinking(box)) {
        shrinkSinceMs_ = -1;
      } else if (shrinkSinceMs_ < 0) {
        shrinkSinceMs_ = nowMs;
      } else if (nowMs - shrinkSinceMs_ >= kShrinkMs) {
        region_ = box;
        shrinkSinceMs_ = -1;
      }
    }
  }
}

}  // namespace qc
