// SPDX-License-Identifier: GPL-3.0-or-later
// PictureStream as a browser sees it: the messages, applied to a model of
// the page's canvas, must rebuild the picture; a browser that takes nothing
// for a long time must get only the latest picture, not every state between;
// and every browser ends with the picture whatever the order in which it
// joined, the picture changed, the changes were announced and the
// transmission restarted.
#include "receiver/web/picture_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <random>

namespace qc {
namespace {

int U16(const QByteArray& m, int at) {
  return static_cast<uint8_t>(m[at]) | (static_cast<uint8_t>(m[at + 1]) << 8);
}

// The page's canvas: RGBA bytes, written by Rects. As on the real page, a
// State message clears it only when the size changes (to 0x77 bytes, which
// no test picture holds): a reconnecting page keeps what it showed.
struct Page {
  int width = 0, height = 0, state = -1, rects = 0;
  std::vector<uint8_t> rgba;

  void Apply(const std::vector<QByteArray>& messages) {
    for (const QByteArray& m : messages) {
      if (m[0] == 1) {
        state = m[1];
        if (state == 1 && (U16(m, 2) != width || U16(m, 4) != height)) {
          width = U16(m, 2), height = U16(m, 4);
          rgba.assign(static_cast<size_t>(width) * height * 4, 0x77);
        }
      } else if (m[0] == 2) {
        const int x = U16(m, 1), y = U16(m, 3), w = U16(m, 5), h = U16(m, 7);
        std::vector<uint8_t> rows(static_cast<size_t>(w) * h * 4);
        uLongf size = static_cast<uLongf>(rows.size());
        ASSERT_EQ(uncompress(rows.data(), &size, reinterpret_cast<const Bytef*>(m.data() + 9),
                             static_cast<uLong>(m.size() - 9)), Z_OK);
        ASSERT_EQ(size, rows.size());
        ASSERT_LE(x + w, width);
        ASSERT_LE(y + h, height);
        for (int r = 0; r < h; ++r) {
          memcpy(&rgba[(static_cast<size_t>(y + r) * width + x) * 4], &rows[r * w * 4], w * 4);
        }
        ++rects;
      }
    }
  }
  uint32_t Pixel(int x, int y) const {  // 0xRRGGBB
    const uint8_t* p = &rgba[(static_cast<size_t>(y) * width + x) * 4];
    return (p[0] << 16) | (p[1] << 8) | p[2];
  }
};

std::vector<QByteArray> Take(PictureStream& s, PictureStream::Backlog* b) {
  std::vector<QByteArray> out;
  s.TakeMessages(*b, out);
  return out;
}

FramebufferView View(const void* pixels, int w, int h, int bpp, uint32_t r = 0, uint32_t g = 0,
                     uint32_t b = 0) {
  InitMessage init{};
  init.width = static_cast<uint16_t>(w);
  init.height = static_cast<uint16_t>(h);
  init.bitsPerPixel = static_cast<uint16_t>(bpp);
  init.redMask = r, init.greenMask = g, init.blueMask = b;
  return DescribeFramebuffer(static_cast<const uint8_t*>(pixels), init);
}

TEST(PictureStream, Colours16And32BitsReachThePageExactly) {
  const uint16_t fb16[4] = {0xF800, 0x07E0, 0x001F, 0xFFFF};  // 5-6-5
  const uint32_t fb32[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0x00123456};
  const uint32_t bgr[4] = {0x000000FF, 0x0000FF00, 0x00FF0000, 0x00563412};
  for (const FramebufferView& fb : {View(fb16, 4, 1, 16, 0xF800, 0x07E0, 0x001F),
                                    View(fb32, 4, 1, 32), View(bgr, 4, 1, 32, 0xFF, 0xFF00,
                                                                0xFF0000)}) {
    PictureStream stream;
    PictureStream::Backlog* browser = stream.AddBrowser();
    stream.Receive(fb);
    Page page;
    page.Apply(Take(stream, browser));
    ASSERT_EQ(page.state, 1);
    EXPECT_EQ(page.Pixel(0, 0), 0xFF0000u);
    EXPECT_EQ(page.Pixel(1, 0), 0x00FF00u);
    EXPECT_EQ(page.Pixel(2, 0), 0x0000FFu);
    EXPECT_EQ(page.Pixel(3, 0), fb.bitsPerPixel == 16 ? 0xFFFFFFu : 0x123456u);
  }
}

TEST(PictureStream, StalledBrowserGetsOnlyTheLatestPicture) {
  std::vector<uint32_t> fb(64 * 48, 0);
  PictureStream stream;
  PictureStream::Backlog* reading = stream.AddBrowser();
  PictureStream::Backlog* stalled = stream.AddBrowser();
  stream.Receive(View(fb.data(), 64, 48, 32));
  Page live, late;
  live.Apply(Take(stream, reading));
  for (int step = 1; step <= 200; ++step) {  // a band moving down, then back up
    const int y = step % 96 < 48 ? step % 48 : 47 - step % 48;
    for (int x = 0; x < 64; ++x) fb[y * 64 + x] = static_cast<uint32_t>(step * 0x010203);
    stream.AddChange(QRegion(0, y, 64, 1));
    stream.SetCursorPosition(step, y);
    live.Apply(Take(stream, reading));
  }
  const std::vector<QByteArray> backlog = Take(stream, stalled);
  late.Apply(backlog);
  EXPECT_LE(backlog.size(), 5u);  // state, the picture's rectangle(s), cursor
  EXPECT_EQ(late.rgba, live.rgba);
  for (int y = 0; y < 48; ++y) EXPECT_EQ(live.Pixel(7, y), fb[y * 64 + 7] & 0xFFFFFF);
  EXPECT_TRUE(Take(stream, stalled).empty());
}

TEST(PictureStream, NewTransmissionOfAnotherSizeIsSentWhole) {
  std::vector<uint32_t> first(8 * 8, 0x00AA0000), second(16 * 4, 0x000000BB);
  PictureStream stream;
  PictureStream::Backlog* browser = stream.AddBrowser();
  Page page;
  page.Apply(Take(stream, browser));
  EXPECT_EQ(page.state, 0);  // waiting
  stream.Receive(View(first.data(), 8, 8, 32));
  page.Apply(Take(stream, browser));
  stream.Stop(WebState::Stopped);
  stream.AddChange(QRegion(0, 0, 8, 8));  // no picture: nothing to send
  page.Apply(Take(stream, browser));
  EXPECT_EQ(page.state, 2);
  stream.Receive(View(second.data(), 16, 4, 32));
  page.Apply(Take(stream, browser));
  EXPECT_EQ(page.width, 16);
  EXPECT_EQ(page.height, 4);
  EXPECT_EQ(page.Pixel(15, 3), 0x0000BBu);
}

// The gateway's side of the viewer, played in random orders: the update
// thread writes bands of the framebuffer and announces each later (pending
// until a flush takes it); browsers join (showing an old picture of the same
// size, as after a gateway restart), read, leave; the transmission restarts
// (its changes then are void) with a new picture of the same size. Once the
// last changes are announced and read, every browser shows the framebuffer.
TEST(PictureStream, BrowsersEndWithThePictureWhateverTheOrderOfEvents) {
  constexpr int W = 32, H = 24;
  for (int seed = 0; seed < 1500; ++seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> fb(W * H, 0x111111);
    uint32_t colour = 0x100;
    PictureStream stream;
    struct Browser {
      PictureStream::Backlog* backlog;
      Page page;
    };
    std::vector<std::unique_ptr<Browser>> browsers;
    std::vector<QRect> written, announced;  // not yet announced; announced, not flushed
    bool newPicture = true;
    auto read = [&](Browser& b) { b.page.Apply(Take(stream, b.backlog)); };
    auto flush = [&] {  // as the gateway's Flush
      if (newPicture) stream.Receive(View(fb.data(), W, H, 32));
      newPicture = false;
      QRegion region;
      for (const QRect& r : announced) region += r;
      announced.clear();
      stream.AddChange(region);
      for (auto& b : browsers) read(*b);
    };
    for (int step = 0; step < 60; ++step) {
      switch (rng() % 7) {
        case 0: {
          const int y = static_cast<int>(rng() % H), h = std::min<int>(1 + rng() % 5, H - y);
          colour += 0x010203;
          for (int i = y * W; i < (y + h) * W; ++i) fb[i] = colour;
          written.emplace_back(0, y, W, h);
          break;
        }
        case 1:
          if (!written.empty()) {
            announced.push_back(written.front());
            written.erase(written.begin());
          }
          break;
        case 2: flush(); break;
        case 3:
          browsers.push_back(std::make_unique<Browser>());
          browsers.back()->backlog = stream.AddBrowser();
          browsers.back()->page.width = W;
          browsers.back()->page.height = H;
          browsers.back()->page.rgba.assign(W * H * 4, 0x55);
          read(*browsers.back());
          break;
        case 4:
          if (!browsers.empty()) read(*browsers[rng() % browsers.size()]);
          break;
        case 5:
          if (rng() % 4 == 0) {  // a restart: what was pending goes; a new picture follows
            written.clear();
            announced.clear();
            stream.Stop(WebState::Stopped);
            for (auto& b : browsers) read(*b);
            newPicture = true;
          }
          break;
        case 6:
          if (!browsers.empty() && rng() % 3 == 0) {
            const size_t i = rng() % browsers.size();
            stream.RemoveBrowser(browsers[i]->backlog);
            browsers.erase(browsers.begin() + static_cast<std::ptrdiff_t>(i));
          }
          break;
      }
    }
    announced.insert(announced.end(), written.begin(), written.end());
    flush();
    for (const auto& b : browsers) {
      ASSERT_EQ(b->page.state, 1) << "seed " << seed;
      for (int i = 0; i < W * H; ++i) {
        ASSERT_EQ(b->page.Pixel(i % W, i / W), fb[i]) << "seed " << seed << " pixel " << i;
      }
    }
  }
}

// An access unit as x264 writes them: sequence and picture parameters and a
// recovery point before the slice of a key unit, or an IDR slice.
std::vector<uint8_t> Unit(const char* kind) {
  const std::string k = kind;
  std::vector<uint8_t> u;
  auto nal = [&](std::initializer_list<uint8_t> bytes) {
    u.insert(u.end(), {0, 0, 0, 1});
    u.insert(u.end(), bytes);
  };
  if (k != "delta") nal({0x67, 0x64, 0x00, 0x28, 0xAC, 0xD9});  // SPS: High, level 4.0
  if (k == "refresh") nal({0x06, 0x05, 0x02, 0xAA, 0xBB, 0x06, 0x01, 0x84, 0x80});
  nal({static_cast<uint8_t>(k == "idr" ? 0x65 : 0x41), 0x88, 0x84, 0x00});
  return u;
}

QByteArray VideoMessage(uint16_t stream, uint32_t frame, const char* kind) {
  VideoHeader h;
  h.stream = stream;
  h.x = 8, h.y = 8, h.width = 32, h.height = 16;
  h.frame = frame;
  const std::vector<uint8_t> u = Unit(kind);
  return PictureStream::VideoMessage(h, u.data(), u.size());
}

// The video frames (stream << 32 | frame) and the rectangles in messages.
struct Sent {
  std::vector<uint64_t> frames;
  int rects = 0;
  bool videoFirst = true;  // no video after a rectangle
};
Sent Look(const std::vector<QByteArray>& messages) {
  Sent s;
  for (const QByteArray& m : messages) {
    if (m[0] == 2) ++s.rects;
    if (m[0] != 5) continue;
    s.videoFirst = s.videoFirst && s.rects == 0;
    uint32_t frame = 0;
    memcpy(&frame, m.data() + 12, 4);
    s.frames.push_back(static_cast<uint64_t>(U16(m, 2)) << 32 | frame);
  }
  return s;
}

TEST(PictureStream, KeyUnitsAndProfileAreFoundInTheAccessUnit) {
  for (const char* kind : {"idr", "refresh", "delta"}) {
    const std::vector<uint8_t> u = Unit(kind);
    const H264UnitInfo info = InspectH264(u.data(), u.size());
    EXPECT_EQ(info.key, std::string(kind) != "delta") << kind;
    EXPECT_EQ(info.hasSps, std::string(kind) != "delta") << kind;
    if (info.hasSps) {
      EXPECT_EQ(info.profile << 16 | info.constraints << 8 | info.level, 0x640028);
    }
    const QByteArray m = VideoMessage(3, 7, kind);
    EXPECT_EQ(m[0], 5);
    EXPECT_EQ(m[1] & 1, info.key ? 1 : 0);
    EXPECT_EQ(m.mid(20), QByteArray(reinterpret_cast<const char*>(u.data()), u.size()));
  }
  // A truncated unit or noise: no key, no crash.
  const uint8_t noise[] = {0, 0, 1, 0x06, 0xFF, 0xFF, 0, 0, 1, 0x67, 0x64};
  for (size_t n = 0; n <= sizeof noise; ++n) EXPECT_FALSE(InspectH264(noise, n).key);
}

TEST(PictureStream, VideoGoesAsH264ToDecodingBrowsersFromAKeyUnitAndAsPixelsToTheOthers) {
  std::vector<uint32_t> fb(64 * 48, 0x00102030);
  PictureStream stream;
  PictureStream::Backlog* decoding = stream.AddBrowser(true);
  PictureStream::Backlog* plain = stream.AddBrowser(false);
  stream.Receive(View(fb.data(), 64, 48, 32));
  Take(stream, decoding);
  Take(stream, plain);
  auto play = [&](uint16_t id, uint32_t frame, const char* kind) {
    stream.AddVideoUnit(VideoMessage(id, frame, kind));
    stream.AddVideoChange(QRegion(8, 8, 32, 16));  // the gateway's viewer painted it
  };
  const uint64_t s1 = 1ull << 32;

  // Joined in the middle of a refresh cycle: nothing to decode yet; the
  // painted pixels reach both browsers at the gateway's slow pace.
  play(1, 5, "delta");
  EXPECT_TRUE(Take(stream, decoding).empty());
  EXPECT_TRUE(Take(stream, plain).empty());
  stream.ReleaseVideoChanges();
  EXPECT_EQ(Look(Take(stream, decoding)).rects, 1);
  EXPECT_EQ(Look(Take(stream, plain)).rects, 1);

  // From the next key unit on, the decoding browser gets every unit and no
  // more pixels of the region; the other one gets pixels only.
  play(1, 6, "refresh");
  play(1, 7, "delta");
  stream.ReleaseVideoChanges();
  Sent d = Look(Take(stream, decoding)), p = Look(Take(stream, plain));
  EXPECT_EQ(d.frames, (std::vector<uint64_t>{s1 | 6, s1 | 7}));
  EXPECT_EQ(d.rects, 0);
  EXPECT_TRUE(p.frames.empty());
  EXPECT_EQ(p.rects, 1);

  // A unit the gateway lost: the browser waits for the next key unit; a
  // new stream starts with its IDR unit. Lossless changes go to both,
  // after the units received before them.
  play(1, 9, "delta");
  play(1, 10, "delta");
  EXPECT_TRUE(Look(Take(stream, decoding)).frames.empty());
  play(1, 11, "refresh");
  play(2, 0, "idr");
  stream.AddChange(QRegion(0, 40, 64, 8));
  d = Look(Take(stream, decoding));
  EXPECT_EQ(d.frames, (std::vector<uint64_t>{s1 | 11, 2 * s1}));
  EXPECT_EQ(d.rects, 1);
  EXPECT_TRUE(d.videoFirst);
  EXPECT_EQ(Look(Take(stream, plain)).rects, 1);

  // A browser that read nothing while more units came than are kept
  // starts again at a key unit.
  for (uint32_t f = 1; f <= PictureStream::kMaxVideoUnits + 5; ++f) play(2, f, "delta");
  EXPECT_TRUE(Look(Take(stream, decoding)).frames.empty());
  play(2, 200, "refresh");
  EXPECT_EQ(Look(Take(stream, decoding)).frames, (std::vector<uint64_t>{2 * s1 | 200}));

  // A new transmission: units of the old one are never sent.
  play(2, 201, "delta");
  stream.Receive(View(fb.data(), 64, 48, 32));
  EXPECT_TRUE(Look(Take(stream, decoding)).frames.empty());
}

TEST(PictureStream, CursorMessagesOnlyForRealChanges) {
  PictureStream stream;
  PictureStream::Backlog* browser = stream.AddBrowser();
  Take(stream, browser);
  RemoteCursorImage shape;
  shape.width = 1, shape.height = 1, shape.hotX = 0, shape.hotY = 0;
  shape.argb = {0x80400000};  // half-transparent, premultiplied
  shape.invert = {1};
  stream.SetCursorShape(shape);
  stream.SetCursorShape(shape);
  stream.SetCursorPosition(10, 20);
  stream.SetCursorPosition(10, 20);
  const std::vector<QByteArray> out = Take(stream, browser);
  ASSERT_EQ(out.size(), 2u);
  ASSERT_EQ(out[0].size(), 9 + 4 + 1);
  EXPECT_EQ(static_cast<uint8_t>(out[0][9]), 128);   // straight red
  EXPECT_EQ(static_cast<uint8_t>(out[0][12]), 128);  // alpha
  EXPECT_EQ(static_cast<uint8_t>(out[0][13]), 255);  // inverts
  EXPECT_EQ(U16(out[1], 1), 10);
  EXPECT_EQ(U16(out[1], 3), 20);
}

}  // namespace
}  // namespace qc
