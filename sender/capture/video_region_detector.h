// SPDX-License-Identifier: GPL-3.0-or-later
// VideoRegionDetector: finds the rectangle of the shared screen in which a
// video plays, from the rows the capture engine grabs.
//
// The screen is cut into square tiles. For each grab the detector compares a
// few sampled rows of every tile the grab covers with their last state and notes, per 50 ms slot,
// whether the tile changed and whether its changed content looked
// photographic (many distinct colours along a sampled row). A tile is
// "video-like" when it changed in most slots of the last second in which it
// was grabbed, with photographic content. A region starts when the bounding
// box of the video-like tiles is large enough, mostly filled and stable for
// a moment; it then follows the tiles that keep changing (a moved or resized
// player window: it grows at once and shrinks after kShrinkMs) and ends when
// none of its tiles changed for kEndQuietMs.
//
// Scrolling text and typing are not photographic; a dragged window or a
// progress bar changes each tile only briefly; a blinking cursor is too
// small and too slow: none of them becomes a region.
//
// Threads: the capture work thread only (tests drive it directly). No
// allocation after Reset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qc {

struct VideoRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool Empty() const { return width <= 0 || height <= 0; }
  bool operator==(const VideoRect&) const = default;
};

class VideoRegionDetector {
 public:
  static constexpr int kTile = 16;          // pixels, square
  static constexpr int kSlotMs = 50;        // one change bit per tile and slot
  static constexpr int kWindowSlots = 20;   // one second of history
  // A video-like tile changed in at least kStartSlots slots of the last
  // second and in at least 3 of 4 slots in which it was grabbed: the engine
  // may grab a busy screen less often than the video plays.
  static constexpr int kStartSlots = 6;
  // A running region keeps the tiles that changed in at least half the
  // slots they were grabbed in, within the last kFollowWindow slots.
  static constexpr int kFollowWindow = 6;
  static constexpr int kConfirmMs = 300;    // a candidate stable this long starts
  static constexpr int kEndQuietMs = 300;   // a region this long unchanged ends
  // A region grows at once to take in its changing tiles, and shrinks to
  // them only when they stayed inside it this long: every change of size
  // restarts the encoder (a fresh stream starts with a full intra picture
  // at the same bitrate, so its first second looks poor) and sends the area
  // left losslessly. Still parts of the picture itself (a dark sky, the
  // black inside of a fractal) would otherwise shrink the region and then
  // grow it again a moment later, every second or so: a band of at most
  // kShrinkSlackTiles tiles is never given up while the video plays, and a
  // player that moved or shrank further is followed after kShrinkMs.
  static constexpr int kShrinkMs = 3000;
  static constexpr int kShrinkSlackTiles = 3;
  static constexpr int kMinWidth = 128;     // smallest region, pixels
  static constexpr int kMinHeight = 96;

  enum class Mode {
    Auto,  // video-like rate and photographic content
    On,    // video-like rate alone
  };

  // A screen of width x height pixels of bytesPerPixel (2 or 4) bytes, rows
  // of `stride` bytes. Forgets every history and region.
  void Reset(int width, int height, int bytesPerPixel, size_t stride);
  void SetMode(Mode mode) { mode_ = mode; }

  // Rows first..end-1 of `frame` were grabbed at nowMs (a monotonic ms
  // count). Updates the region.
  void Observe(int64_t nowMs, const uint8_t* frame, int first, int end);
  // Ages the history when nothing was grabbed (a region ends when its
  // video stops and nothing is drawn any more).
  void Tick(int64_t nowMs);

  // The current region (empty when none), in pixels, clipped to the screen,
  // with even width and height.
  const VideoRect& Region() const { return region_; }

 private:
  struct TileState {
    uint32_t changed = 0;  // bit i: changed in the slot i slots ago
    uint32_t photo = 0;    // bit i: changed photographic content then
    uint32_t observed = 0; // bit i: grabbed then
    uint32_t counted = 0;  // bit 0: its colours were counted in this slot
    bool seen = false;
  };

  void Advance(int64_t slot);
  bool VideoLike(const TileState& t) const;
  bool Following(const TileState& t) const;
  // Bounding box, in tiles, of the tiles that pass `test`; false if none.
  // filled: how many of them.
  template <class Test>
  bool Bounds(Test test, int& tx0, int& ty0, int& tx1, int& ty1, int& filled) const;
  void ExtendEdges(int& tx0, int& ty0, int& tx1, int& ty1) const;
  VideoRect ToPixels(int tx0, int ty0, int tx1, int ty1) const;
  // Whether box (inside region_) leaves a band wider than the slack.
  bool WorthShrinking(const VideoRect& box) const;
  void Decide(int64_t nowMs);
  void DecideIfDue(int64_t nowMs);

  Mode mode_ = Mode::Auto;
  int width_ = 0;
  int height_ = 0;
  int bpp_ = 4;
  size_t stride_ = 0;
  int tilesX_ = 0;
  int tilesY_ = 0;
  std::vector<TileState> tiles_;
  std::vector<uint8_t> samples_;  // the sampled rows as last looked at
  std::vector<int64_t> sampleSlot_;  // per tile row and sample: slot last compared
  int64_t slot_ = -1;
  int64_t decidedSlot_ = -1;  // the slot of the last decision
  VideoRect candidate_;
  int64_t candidateSinceMs_ = 0;
  VideoRect region_;
  int64_t shrinkSinceMs_ = -1;   // since when its changing tiles fit a smaller box
};

}  // namespace qc
