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
// A State message with a new size comes before any Rect of that picture; the
// page resizes its canvas on it.
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
#include <cstdint>
#include <list>
#include <vector>

#include "receiver/viewer/pixel_format.h"
#include "receiver/viewer/remote_cursor.h"

namespace qc {

enum class WebMessage : uint8_t { State = 1, Rect = 2, CursorShape = 3, CursorPosition = 4 };
enum class WebState : uint8_t { Waiting = 0, Receiving = 1, Stopped = 2 };

class PictureStream {
 public:
  struct Backlog {
    uint32_t stateSerial = 0;  // serials as last sent; 0: nothing sent yet
    uint32_t shapeSerial = 0;
    uint32_t positionSerial = 0;
    QRegion dirty;
  };

  PictureStream();

  // A browser joins (its backlog starts with everything) or leaves.
  Backlog* AddBrowser();
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
  // The cursor as the viewer holds it (only real changes count).
  void SetCursorShape(const RemoteCursorImage& image);
  void SetCursorPosition(int x, int y);

  // Appends to out the messages that bring a browser up to date, and clears
  // its backlog. Rectangles encoded for one browser are reused for the next
  // one with the same backlog until the picture changes.
  void TakeMessages(Backlog& backlog, std::vector<QByteArray>& out);

 private:
  void AppendRects(const QRegion& region, std::vector<QByteArray>& out);
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
};

}  // namespace qc
