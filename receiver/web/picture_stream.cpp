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

void Put32(QByteArray& m, uint32_t v) {
  Put16(m, static_cast<int>(v & 0xffff));
  Put16(m, static_cast<int>(v >> 16));
}

constexpr int kNalIdr = 5, kNalSei = 6, kNalSps = 7;
constexpr int kSeiRecoveryPoint = 6;
constexpr qsizetype kVideoMessageHeader = 20;

// Whether the SEI payload (after its NAL header) holds a recovery point.
bool HasRecoveryPoint(const uint8_t* p, size_t n) {
  size_t i = 0;
  while (i < n && p[i] != 0x80) {  // 0x80: the trailing bits
    int type = 0, size = 0;
    while (i < n && p[i] == 0xff) type += p[i++];
    if (i >= n) return false;
    type += p[i++];
    while (i < n && p[i] == 0xff) size += p[i++];
    if (i >= n) return false;
    size += p[i++];
    if (type == kSeiRecoveryPoint) return true;
    i += static_cast<size_t>(size);
  }
  return false;
}

}  // namespace

H264UnitInfo InspectH264(const uint8_t* unit, size_t length) {
  H264UnitInfo info;
  // NAL units begin after each 00 00 01 and end at the next one.
  size_t i = 0;
  auto nextStart = [&](size_t from) {
    for (size_t k = from; k + 3 <= length; ++k) {
      if (unit[k] == 0 && unit[k + 1] == 0 && unit[k + 2] == 1) return k;
    }
    return length;
  };
  i = nextStart(0);
  while (i < length) {
    const size_t nal = i + 3;
    const size_t end = nextStart(nal);
    if (nal < end) {
      const uint8_t* p = unit + nal;
      const size_t n = end - nal;
      const int type = p[0] & 0x1f;
      if (type == kNalIdr) info.key = true;
      if (type == kNalSei && HasRecoveryPoint(p + 1, n - 1)) info.key = true;
      if (type == kNalSps && n >= 4) {
        info.hasSps = true;
        info.profile = p[1];
        info.constraints = p[2];
        info.level = p[3];
      }
    }
    i = end;
  }
  return info;
}

QByteArray PictureStream::VideoMessage(const VideoHeader& h, const uint8_t* unit, size_t length) {
  const H264UnitInfo info = InspectH264(unit, length);
  QByteArray m;
  m.reserve(kVideoMessageHeader + static_cast<qsizetype>(length));
  m.append(static_cast<char>(WebMessage::Video));
  m.append(static_cast<char>(info.key ? 1 : 0));
  Put16(m, h.stream);
  Put16(m, h.x);
  Put16(m, h.y);
  Put16(m, h.width);
  Put16(m, h.height);
  Put32(m, h.frame);
  m.append(static_cast<char>(info.profile));
  m.append(static_cast<char>(info.constraints));
  m.append(static_cast<char>(info.level));
  m.append('\0');  // reserved: the unit starts at a multiple of 4
  m.append(reinterpret_cast<const char*>(unit), static_cast<qsizetype>(length));
  return m;
}

PictureStream::PictureStream() {
  positionMessage_.append(static_cast<char>(WebMessage::CursorPosition));
  Put16(positionMessage_, 0);
  Put16(positionMessage_, 0);
  SetCursorShape(RemoteCursorImage{});
}

PictureStream::Backlog* PictureStream::AddBrowser(bool decodesVideo) {
  backlogs_.emplace_back();
  Backlog& b = backlogs_.back();
  b.decodesVideo = decodesVideo;
  b.nextUnit = unitsEnd_;
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
  units_.clear();
  unitBytes_ = 0;
  for (Backlog& b : backlogs_) {
    b.dirty = QRegion(bounds_);
    b.videoDirty = QRegion();
    b.videoDue = QRegion();
    b.videoLive = false;
  }
}

void PictureStream::Stop(WebState state) {
  converter_.Unbind();
  bounds_ = QRect();
  if (state_ != state) ++stateSerial_;
  state_ = state;
  cacheValid_ = false;
  units_.clear();
  unitBytes_ = 0;
  for (Backlog& b : backlogs_) {
    b.dirty = QRegion();
    b.videoDirty = QRegion();
    b.videoDue = QRegion();
    b.videoLive = false;
  }
}

void PictureStream::AddChange(const QRegion& region) {
  if (state_ != WebState::Receiving) return;
  const QRegion clipped = region.intersected(bounds_);
  if (clipped.isEmpty()) return;
  cacheValid_ = false;
  for (Backlog& b : backlogs_) b.dirty += clipped;
}

void PictureStream::AddVideoUnit(const QByteArray& message) {
  if (state_ != WebState::Receiving || message.size() < kVideoMessageHeader) return;
  units_.push_back(message);
  unitBytes_ += message.size();
  ++unitsEnd_;
  while (units_.size() > kMaxVideoUnits || unitBytes_ > kMaxVideoBytes) {
    unitBytes_ -= units_.front().size();
    units_.pop_front();
  }
}

void PictureStream::AddVideoChange(const QRegion& region) {
  if (state_ != WebState::Receiving) return;
  const QRegion clipped = region.intersected(bounds_);
  for (Backlog& b : backlogs_) b.videoDirty += clipped;
}

void PictureStream::ReleaseVideoChanges() {
  for (Backlog& b : backlogs_) {
    b.videoDue += b.videoDirty;
    b.videoDirty = QRegion();
  }
}

void PictureStream::AppendVideo(Backlog& b, std::vector<QByteArray>& out) {
  const uint64_t oldest = unitsEnd_ - units_.size();
  if (b.nextUnit < oldest) b.videoLive = false;  // units it missed are gone
  for (uint64_t serial = std::max(b.nextUnit, oldest); serial < unitsEnd_; ++serial) {
    const QByteArray& m = units_[static_cast<size_t>(serial - oldest)];
    const auto* p = reinterpret_cast<const uint8_t*>(m.constData());
    const bool key = (p[1] & 1) != 0;
    const uint16_t stream = static_cast<uint16_t>(p[2] | p[3] << 8);
    const uint32_t frame = static_cast<uint32_t>(p[12] | p[13] << 8 | p[14] << 16) |
                           static_cast<uint32_t>(p[15]) << 24;
    // A unit that does not follow the last one sent (the gateway's viewer
    // lost one, or a new stream began without its first picture) cannot be
    // decoded until the next key unit.
    if (b.videoLive && !key && (stream != b.stream || frame != b.frame + 1)) b.videoLive = false;
    if (!b.videoLive && key) b.videoLive = true;
    if (!b.videoLive) continue;
    out.push_back(m);
    b.stream = stream;
    b.frame = frame;
  }
  b.nextUnit = unitsEnd_;
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
  // Video units before the rectangles: a rectangle is encoded from the
  // picture as it is now, never older than a unit the gateway received, so
  // the page, which paints a rectangle only after the frames decoding
  // before it, always ends with the latest pixels (when the video ends,
  // the region's exact rows).
  if (b.decodesVideo && state_ == WebState::Receiving) AppendVideo(b, out);
  // A browser that shows the video itself needs its pixels only until its
  // first key unit.
  if (!b.videoDue.isEmpty()) {
    if (!b.videoLive) b.dirty += b.videoDue;
    b.videoDue = QRegion();
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
