// SPDX-License-Identifier: GPL-3.0-or-later
// PictureStream: what the gateway sends to each browser. It holds the latest
// state of the transmission, the cursor and, per browser, a backlog: the
// region of the picture changed since that browser was last sent it. A
// browser that cannot keep up is never queued intermediate states: its
// backlog region only grows towards the whole picture, and when it can take
// more it is sent the latest content of that region. So memory per browser is
// bounded by the picture's size, whatever the browser does.
//
// Messages (binary WebSocket messages, little-endian; the page decodes them):
//   1 State          u8 1, u8 state (WebState), u16 width, u16 height
//   2 Rect           u8 2, u16 x, u16 y, u16 w, u16 h, zlib stream of the
//                    rectangle's RGBA rows (top-down, w x 4 bytes each)
//   3 CursorShape    u8 3, u16 w, u16 h, i16 hotX, i16 hotY, RGBA rows
//                    (straight alpha; w or h 0: no cursor), then, when the
//                    cursor inverts what lies below it, w x h bytes (255:
//                    invert; the page draws them in "difference" blending)
//   4 CursorPosition u8 4, i16 x, i16 y (the hot spot, picture pixels)
//   5 Video          u8 5, u8 flags (1: a key unit: an IDR picture or the
//                    start of an intra refresh), u16 stream, u16 x, u16 y,
//                    u16 w, u16 h, u32 frame, u8 profile, u8 constraints,
//                    u8 level (of the unit's sequence parameters; 0: none
//                    in this unit), u8 0, then one H.264 access unit (Annex B) of the video
//                    region (common/video_datagram.h)
// A State message with a new size comes before any Rect of that picture; the
// page resizes its canvas on it.
//
// Video: a browser that said it decodes H.264 (WebCodecs) is sent the video
// region's access units, from a key unit on, and not the rectangles the
// gateway's own decoder paints from them; after a gap (its socket was full,
// or it joined late) it waits for the next key unit, which comes within a
// second. Every other browser is sent those rectangles, losslessly, at most
// once per WebGateway::kVideoRectsMs. Rectangles of the ordinary stream
// (the area around the video, and the region's exact rows when the video
// ends) go to every browser alike.
//
// Deflated raw rows beat PNG (QImage) for this job: on a text screen
// (bench/web/web_wire_bench) a full 1024 x 768 picture comes out 13% smaller
// in a third of the CPU time, a 16-row band 12% smaller in 40% of the time.
// The browser inflates with DecompressionStream.
//
// One thread: the gateway's (the GUI thread).
#pragma once

#include <QByteArray>
#include <QRegion>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <vector>

#include "common/video_datagram.h"
#include "receiver/viewer/pixel_format.h"
#include "receiver/viewer/remote_cursor.h"

namespace qc {

enum class WebMessage : uint8_t {
  State = 1,
  Rect = 2,
  CursorShape = 3,
  CursorPosition = 4,
  Video = 5
};

// What a browser needs to know of an H.264 access unit (Annex B) before it
// decodes it: whether decoding may start there, and the profile and level
// of its sequence parameters, if it has some.
struct H264UnitInfo {
  bool key = false;  // an IDR slice, or a recovery-point message
  bool hasSps = false;
  uint8_t profile = 0;
  uint8_t constraints = 0;
  uint8_t level = 0;
};
H264UnitInfo InspectH264(const uint8_t* unit, size_t length);
enum class WebState : uint8_t { Waiting = 0, Receiving = 1, Stopped = 2 };

class PictureStream {
 public:
  // The video units kept for browsers that lag a little (3 s at 30 fps),
  // and at most so many bytes of them (a unit may have up to 4 MiB).
  static constexpr size_t kMaxVideoUnits = 90;
  static constexpr qsizetype kMaxVideoBytes = 16 << 20;

  struct Backlog {
    uint32_t stateSerial = 0;  // serials as last sent; 0: nothing sent yet
    uint32_t shapeSerial = 0;
    uint32_t positionSerial = 0;
    QRegion dirty;
    // Video.
    bool decodesVideo = false;  // the browser decodes H.264
    bool videoLive = false;     // it was sent a key unit and every unit since
    uint64_t nextUnit = 0;      // serial of the next unit to send
    uint16_t stream = 0;        // of the last unit sent
    uint32_t frame = 0;
    QRegion videoDirty;         // painted from video since the last release
    QRegion videoDue;           // released, to be sent as pixels if not live
  };

  // The message for one access unit (any thread).
  static QByteArray VideoMessage(const VideoHeader& h, const uint8_t* unit, size_t length);

  PictureStream();

  // A browser joins (its backlog starts with everything) or leaves.
  Backlog* AddBrowser(bool decodesVideo = false);
  void RemoveBrowser(Backlog* backlog);
  size_t Browsers() const { return backlogs_.size(); }

  // Receiving: the picture is framebuffer (memory owned by the viewer; call
  // Stop before it goes away); every browser is sent the whole of it.
  void Receive(const FramebufferView& framebuffer);
  // Waiting or Stopped: no picture; the framebuffer is no longer read.
  void Stop(WebState state);
  WebState State() const { return state_; }

  // Parts of the picture changed (clipped to it); every backlog grows.
  void AddChange(const QRegion& region);
  // A video unit (VideoMessage) and the rectangle the gateway's viewer
  // painted from it.
  void AddVideoUnit(const QByteArray& message);
  void AddVideoChange(const QRegion& region);
  // Every WebGateway::kVideoRectsMs: the rectangles painted from video go to the
  // browsers that do not decode it themselves.
  void ReleaseVideoChanges();
  // The cursor as the viewer holds it (only real changes count).
  void SetCursorShape(const RemoteCursorImage& image);
  void SetCursorPosition(int x, int y);

  // Appends to out the messages that bring a browser up to date, and clears
  // its backlog. Rectangles encoded for one browser are reused for the next
  // one with the same backlog until the picture changes.
  void TakeMessages(Backlog& backlog, std::vector<QByteArray>& out);

 private:
  void AppendRects(const QRegion& region, std::vector<QByteArray>& out);
  void AppendVideo(Backlog& b, std::vector<QByteArray>& out);
  QByteArray EncodeRect(const QRect& r);
  QByteArray StateMessage() const;

  std::list<Backlog> backlogs_;
  WebState state_ = WebState::Waiting;
  PixelFormat converter_;  // the framebuffer's rows as RGBA
  QRect bounds_;
  uint32_t stateSerial_ = 1;
  uint32_t shapeSerial_ = 1;
  uint32_t positionSerial_ = 1;
  RemoteCursorImage shape_;
  QByteArray shapeMessage_;
  QByteArray positionMessage_;
  bool cacheValid_ = false;
  QRegion cachedRegion_;
  std::vector<QByteArray> cachedRects_;
  std::vector<uint8_t> rows_;  // RGBA of the rectangle being encoded
  std::deque<QByteArray> units_;  // the last video units, oldest first
  uint64_t unitsEnd_ = 0;         // serial of the next unit to come
  qsizetype unitBytes_ = 0;       // in units_
};

}  // namespace qc
