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
