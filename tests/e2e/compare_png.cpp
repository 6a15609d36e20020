// SPDX-License-Identifier: GPL-3.0-or-later
// Compares two pictures pixel by pixel (the end-to-end test's judge).
//
//   qc_compare_png A B DEPTH
//
// DEPTH 16: equal when every pixel agrees in the top 5-6-5 bits (both
// pictures come from a 5-6-5 screen, widened to 8 bits by whichever tool
// wrote them). DEPTH 24: equal when no channel differs by more than 7 (the
// sender's 32-bit colour reduction drops the low 3 bits of each channel).
// DEPTH exact: equal when every channel is equal (a 5-6-5 screen widened to
// the nearest 8-bit values by both tools).
// Prints the number of differing pixels and the first few; exit 0 when equal.
#include <QImage>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: qc_compare_png A B DEPTH\n");
    return 2;
  }
  QImage a = QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB32);
  QImage b = QImage(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_RGB32);
  const bool exact = QByteArray(argv[3]) == "exact";
  const int depth = atoi(argv[3]);
  if (a.isNull() || b.isNull()) {
    printf("cannot read %s\n", a.isNull() ? argv[1] : argv[2]);
    return 1;
  }
  if (a.size() != b.size()) {
    printf("sizes differ: %dx%d and %dx%d\n", a.width(), a.height(), b.width(), b.height());
    return 1;
  }
  long differing = 0;
  for (int y = 0; y < a.height(); ++y) {
    const QRgb* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
    const QRgb* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
    for (int x = 0; x < a.width(); ++x) {
      int ca[3] = {qRed(pa[x]), qGreen(pa[x]), qBlue(pa[x])};
      int cb[3] = {qRed(pb[x]), qGreen(pb[x]), qBlue(pb[x])};
      static const int masks[3] = {0xF8, 0xFC, 0xF8};  // 5-6-5
      bool same = true;
      for (int c = 0; c < 3; ++c) {
        same = same && (exact         ? ca[c] == cb[c]
                        : depth == 16 ? ((ca[c] ^ cb[c]) & masks[c]) == 0
                                      : abs(ca[c] - cb[c]) <= 7);
      }
      if (!same && differing++ < 5) {
        printf("  pixel (%d,%d): (%d,%d,%d) vs (%d,%d,%d)\n", x, y, ca[0], ca[1], ca[2], cb[0], cb[1],
               cb[2]);
      }
    }
  }
  printf("%ld of %lld pixels differ\n", differing, static_cast<long long>(a.width()) * a.height());
  return differing == 0 ? 0 : 1;
}
