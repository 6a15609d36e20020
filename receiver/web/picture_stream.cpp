// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/web/picture_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace qc {

namespace {

// zlib's fastest level: on a text screen its output is about 20% larger
// than the default level's, in half the CPU time; the gateway's CPU is
// shared by every browser, the bandwidth is a LAN's.
constexpr int kDeflateLevel = 1;
// A region of more rectangles than this is sent as its bounding rectangle:
// fewer, larger messages cost less than many tiny ones.
constexpr int kMaxRectsPerUpdate = 32;

void Put16(QByteArray& m, int v) {
  m.append(static_cast<char>(v & 0xff));
  m.append(static_cast<char>((v >> 8) & 0xff));
}

}  // namespace

PictureStream::PictureStream() {
  positionMessage_.append(static_cast<char>(WebMessage::CursorPosition));
  Put16(positionMessage_, 0);
  Put16(positionMessage_, 0);
  SetCursorShape(RemoteCursorImage{});
}

PictureStream::Backlog* PictureStream::AddBrowser() {
  backlogs_.emplace_back();
  Backlog& b = backlogs_.back();
  if (state_ == WebState::Receiving) b.dirty = QRegion(bounds_);
  return &b;
}

void PictureStream::RemoveBrowser(Backlog* backlog) {
  backlogs_.remove_if([backlog](const Backlog& b) { return &b == backlog; });
}

void PictureStream::Receive(const FramebufferView& fb) {
  if (!converter_.Bind(fb)) {
    Stop(WebState::Waiting);
    return;
  }
  state_ = WebState::Receiving;
  bounds_ = QRect(0, 0, fb.width, fb.height);
  ++stateSerial_;
  cacheValid_ = false;
  for (Backlog& b : backlogs_) b.dirty = QRegion(bounds_);
}

void PictureStream::Stop(WebState state) {
  converter_.Unbind();
  bounds_ = QRect();
  if (state_ != state) ++stateSerial_;
  state_ = state;
  cacheValid_ = false;
  for (Backlog& b : backlogs_) b.dirty = QRegion();
}

void PictureStream::AddChange(const QRegion& region) {
  if (state_ != WebState::Receiving) return;
  const QRegion clipped = region.intersected(bounds_);
  if (clipped.isEmpty()) return;
  cacheValid_ = false;
  for (Backlog& b : backlogs_) b.dirty += clipped;
}

void PictureStream::SetCursorShape(const RemoteCursorImage& image) {
  if (!shapeMessage_.isEmpty() && image.width == shape_.width && image.height == shape_.height &&
      image.hotX == shape_.hotX && image.hotY == shape_.hotY && image.argb == shape_.argb &&
      image.invert == shape_.invert) {
    return;
  }
  shape_ = image;
  ++shapeSerial_;
  const bool usable = image.width > 0 && image.height > 0 && image.width <= 256 &&
                      image.height <= 256 &&
                      image.argb.size() == static_cast<size_t>(image.width) * image.height;
  const int w = usable ? image.width : 0;
  const int h = usable ? image.height : 0;
  shapeMessage_.clear();
  shapeMessage_.append(static_cast<char>(WebMessage::CursorShape));
  Put16(shapeMessage_, w);
  Put16(shapeMessage_, h);
  Put16(shapeMessage_, image.hotX);
  Put16(shapeMessage_, image.hotY);
  for (int i = 0; i < w * h; ++i) {
    // Premultiplied ARGB to straight RGBA, as ImageData takes it.
    const uint32_t p = image.argb[i];
    const uint32_t a = p >> 24;
    auto straight = [a](uint32_t c) { return a == 0 ? 0u : std::min(255u, (c * 255 + a / 2) / a); };
    shapeMessage_.append(static_cast<char>(straight((p >> 16) & 0xff)));
    shapeMessage_.append(static_cast<char>(straight((p >> 8) & 0xff)));
    shapeMessage_.append(static_cast<char>(straight(p & 0xff)));
    shapeMessage_.append(static_cast<char>(a));
  }
  if (usable && image.invert.size() == image.argb.size()) {
    for (uint8_t v : image.invert) shapeMessage_.append(static_cast<char>(v != 0 ? 0xff : 0));
  }
}

void PictureStream::SetCursorPosition(int x, int y) {
  QByteArray m;
  m.append(static_cast<char>(WebMessage::CursorPosition));
  Put16(m, x);
  Put16(m, y);
  if (m == positionMessage_) return;
  positionMessage_ = m;
  ++positionSerial_;
}

QByteArray PictureStream::StateMessage() const {
  QByteArray m;
  m.append(static_cast<char>(WebMessage::State));
  m.append(static_cast<char>(state_));
  Put16(m, bounds_.width());
  Put16(m, bounds_.height());
  return m;
}

void PictureStream::TakeMessages(Backlog& b, std::vector<QByteArray>& out) {
  if (b.stateSerial != stateSerial_) {
    out.push_back(StateMessage());
    b.stateSerial = stateSerial_;
  }
  if (!b.dirty.isEmpty()) {
    AppendRects(b.dirty, out);
    b.dirty = QRegion();
  }
  if (b.shapeSerial != shapeSerial_) {
    out.push_back(shapeMessage_);
    b.shapeSerial = shapeSerial_;
  }
  if (b.positionSerial != positionSerial_) {
    out.push_back(positionMessage_);
    b.positionSerial = positionSerial_;
  }
}

void PictureStream::AppendRects(const QRegion& region, std::vector<QByteArray>& out) {
  if (!cacheValid_ || region != cachedRegion_) {
    cachedRects_.clear();
    if (region.rectCount() > kMaxRectsPerUpdate) {
      cachedRects_.push_back(EncodeRect(region.boundingRect()));
    } else {
      for (const QRect& r : region) cachedRects_.push_back(EncodeRect(r));
    }
    cachedRegion_ = region;
    cacheValid_ = true;
  }
  out.insert(out.end(), cachedRects_.begin(), cachedRects_.end());
}

QByteArray PictureStream::EncodeRect(const QRect& r) {
  const size_t rowBytes = static_cast<size_t>(r.width()) * 4;
  rows_.resize(rowBytes * r.height());
  for (int y = 0; y < r.height(); ++y) {
    converter_.ConvertRowRgba(r.y() + y, r.x(), r.width(), rows_.data() + rowBytes * y);
  }
  QByteArray m;
  m.append(static_cast<char>(WebMessage::Rect));
  Put16(m, r.x());
  Put16(m, r.y());
  Put16(m, r.width());
  Put16(m, r.height());
  const qsizetype header = m.size();
  uLongf packed = compressBound(static_cast<uLong>(rows_.size()));
  m.resize(header + static_cast<qsizetype>(packed));
  if (compress2(reinterpret_cast<Bytef*>(m.data() + header), &packed, rows_.data(),
                static_cast<uLong>(rows_.size()), kDeflateLevel) != Z_OK) {
    packed = 0;
  }
  m.resize(header + static_cast<qsizetype>(packed));
  return m;
}

}  // namespace qc
