// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/codec/bench_frames.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

namespace qc::bench {

namespace {

struct Rgb {
  int r, g, b;
};

Rgb Mix(Rgb a, Rgb b, int weight256) {
  return {a.r + (b.r - a.r) * weight256 / 256, a.g + (b.g - a.g) * weight256 / 256,
          a.b + (b.b - a.b) * weight256 / 256};
}

class Canvas {
 public:
  Canvas(int w, int h) : w_(w), h_(h), px_(size_t(w) * h, Rgb{0, 0, 0}) {}
  void Set(int x, int y, Rgb c) {
    if (x >= 0 && y >= 0 && x < w_ && y < h_) px_[size_t(y) * w_ + x] = c;
  }
  Rgb Get(int x, int y) const { return px_[size_t(y) * w_ + x]; }
  void Fill(int x0, int y0, int w, int h, Rgb c) {
    for (int y = std::max(0, y0); y < std::min(h_, y0 + h); ++y)
      for (int x = std::max(0, x0); x < std::min(w_, x0 + w); ++x) px_[size_t(y) * w_ + x] = c;
  }
  // Blends ink over what is there (weight 256: ink alone).
  void Blend(int x, int y, Rgb ink, int weight256) {
    if (x >= 0 && y >= 0 && x < w_ && y < h_) Set(x, y, Mix(Get(x, y), ink, weight256));
  }
  // A glyph of a monospaced font: two to four strokes picked by its code,
  // each with an anti-aliased edge, as a text renderer leaves them.
  void Glyph(int x0, int y0, int cw, int ch, unsigned code, Rgb ink) {
    std::mt19937 g(code * 2654435761u + 1);
    const int top = 4, bottom = ch - 4;
    const int strokes = 2 + static_cast<int>(g() % 3);
    for (int s = 0; s < strokes; ++s) {
      if (g() % 2) {
        const int x = x0 + 1 + static_cast<int>(g() % (cw - 3));
        const int ya = y0 + top + static_cast<int>(g() % 4),
                  yb = y0 + bottom - static_cast<int>(g() % 4);
        for (int y = ya; y < yb; ++y) {
          Blend(x, y, ink, 256);
          Blend(x + 1, y, ink, 110);
        }
      } else {
        const int y = y0 + top + static_cast<int>(g() % (bottom - top));
        const int xa = x0 + 1 + static_cast<int>(g() % 3),
                  xb = x0 + cw - 1 - static_cast<int>(g() % 3);
        for (int x = xa; x < xb; ++x) {
          Blend(x, y, ink, 256);
          Blend(x, y + 1, ink, 70);
        }
      }
    }
  }
  std::vector<uint8_t> Pack(int bytesPerPixel) const {
    std::vector<uint8_t> out(px_.size() * bytesPerPixel);
    for (size_t i = 0; i < px_.size(); ++i) {
      const Rgb c = px_[i];
      const int r = std::clamp(c.r, 0, 255), g = std::clamp(c.g, 0, 255),
                b = std::clamp(c.b, 0, 255);
      if (bytesPerPixel == 4) {
        const uint32_t v = uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b);
        std::memcpy(&out[i * 4], &v, 4);
      } else {
        const uint16_t v = static_cast<uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
        std::memcpy(&out[i * 2], &v, 2);
      }
    }
    return out;
  }
  int w_, h_;

 private:
  std::vector<Rgb> px_;
};

// Lines of code in a dark terminal: 9x18 cells, syntax colours per word.
void DrawText(Canvas& c, int x0, int y0, int w, int h, Rgb bg, const std::vector<Rgb>& inks,
              std::mt19937& rng) {
  c.Fill(x0, y0, w, h, bg);
  const int cw = 9, ch = 18;
  for (int row = 0; (row + 1) * ch <= h; ++row) {
    const int indent = static_cast<int>(rng() % 5) * 2;
    const int length = static_cast<int>(rng() % std::max(1, w / cw - indent));
    Rgb ink = inks[0];
    for (int col = indent; col < indent + length; ++col) {
      const unsigned code = rng() % 96;
      if (code < 12) {  // a blank between words; the next word may change colour
        ink = inks[rng() % inks.size()];
        continue;
      }
      c.Glyph(x0 + col * cw, y0 + row * ch, cw, ch, code, ink);
    }
  }
}

void DrawIcon(Canvas& c, int x0, int y0, int size, std::mt19937& rng) {
  const Rgb base{static_cast<int>(rng() % 256), static_cast<int>(rng() % 256),
                 static_cast<int>(rng() % 256)};
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const int d = std::abs(x - size / 2) + std::abs(y - size / 2);
      if (d > size / 2 + 2) continue;
      c.Set(x0 + x, y0 + y, Mix(base, Rgb{255, 255, 255}, std::min(255, (x + y) * 6)));
    }
}

void DrawWindow(Canvas& c, int x0, int y0, int w, int h, std::mt19937& rng, bool dark) {
  // Shadow, frame, title bar with a gradient, menu, toolbar, body.
  c.Fill(x0 + 4, y0 + 4, w, h, Rgb{40, 40, 40});
  c.Fill(x0, y0, w, h, Rgb{200, 200, 200});
  for (int x = 0; x < w; ++x)
    c.Fill(x0 + x, y0, 1, 28, Mix(Rgb{30, 80, 160}, Rgb{90, 150, 220}, x * 256 / w));
  c.Fill(x0 + w - 26, y0 + 4, 20, 20, Rgb{220, 60, 50});
  c.Fill(x0, y0 + 28, w, 22, Rgb{236, 236, 236});
  for (int i = 0; i < 6; ++i) c.Glyph(x0 + 10 + i * 50, y0 + 30, 9, 18, 40 + i, Rgb{20, 20, 20});
  c.Fill(x0, y0 + 50, w, 34, Rgb{245, 245, 245});
  for (int i = 0; i < w / 40 - 1; ++i) DrawIcon(c, x0 + 8 + i * 40, y0 + 54, 24, rng);
  const std::vector<Rgb> inks =
      dark ? std::vector<Rgb>{{200, 200, 200}, {120, 200, 120}, {230, 180, 90}, {110, 160, 240}}
           : std::vector<Rgb>{{20, 20, 20}, {0, 0, 160}};
  DrawText(c, x0 + 2, y0 + 86, w - 4, h - 88, dark ? Rgb{30, 30, 30} : Rgb{255, 255, 255}, inks,
           rng);
}

}  // namespace

const char* ContentName(Content c) {
  switch (c) {
    case Content::Text: return "text";
    case Content::Desktop: return "desktop";
    default: return "photo";
  }
}

std::vector<uint8_t> MakeFrame(Content content, int width, int height, int bytesPerPixel) {
  Canvas c(width, height);
  std::mt19937 rng(42);
  switch (content) {
    case Content::Text:
      DrawText(c, 0, 0, width, height, Rgb{30, 30, 30},
               {{204, 204, 204}, {106, 153, 85}, {206, 145, 120}, {86, 156, 214}, {220, 220, 170}},
               rng);
      break;
    case Content::Desktop: {
      // Wallpaper: vertical gradient; a taskbar; three overlapping windows.
      for (int y = 0; y < height; ++y)
        c.Fill(0, y, width, 1, Mix(Rgb{20, 60, 110}, Rgb{120, 170, 210}, y * 256 / height));
      DrawWindow(c, 60, 50, width * 45 / 100, height * 60 / 100, rng, false);
      DrawWindow(c, width * 35 / 100, height * 25 / 100, width * 55 / 100, height * 62 / 100, rng,
                 true);
      DrawWindow(c, width * 10 / 100, height * 55 / 100, width * 30 / 100, height * 35 / 100, rng,
                 false);
      c.Fill(0, height - 40, width, 40, Rgb{32, 32, 36});
      for (int i = 0; i < 12; ++i) DrawIcon(c, 8 + i * 44, height - 36, 32, rng);
      break;
    }
    case Content::Photo: {
      std::normal_distribution<double> noise(0.0, 6.0);
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          const double s = std::sin(x / 97.0) * std::cos(y / 61.0),
                       t = std::sin((x + 2 * y) / 143.0);
          c.Set(x, y,
                Rgb{static_cast<int>(120 + 70 * s + 40 * t + noise(rng)),
                    static_cast<int>(110 + 50 * t - 30 * s + noise(rng)),
                    static_cast<int>(90 + 60 * std::sin(y / 203.0) + 20 * s + noise(rng))});
        }
      break;
    }
  }
  return c.Pack(bytesPerPixel);
}

}  // namespace qc::bench
