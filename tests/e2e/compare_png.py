#!/usr/bin/env python3
"""Compares two pictures pixel by pixel.

  compare_png.py A B DEPTH

DEPTH 16: equal when every pixel agrees in the top 5-6-5 bits (both pictures
come from a 5-6-5 screen, widened to 8 bits by whichever tool wrote them).
DEPTH 24: equal when no channel differs by more than 7 (the sender's 32-bit
colour reduction drops the low 3 bits of each channel).
Prints the number of differing pixels and the first few; exit 0 when equal.
"""
import subprocess
import sys


def load(path):
    size = subprocess.run(["identify", "-format", "%w %h", path + "[0]"],
                          check=True, capture_output=True, text=True).stdout.split()
    raw = subprocess.run(["convert", path + "[0]", "-depth", "8", "rgb:-"],
                         check=True, capture_output=True).stdout
    return int(size[0]), int(size[1]), raw


def main():
    a_path, b_path, depth = sys.argv[1], sys.argv[2], int(sys.argv[3])
    wa, ha, a = load(a_path)
    wb, hb, b = load(b_path)
    if (wa, ha) != (wb, hb):
        print(f"sizes differ: {wa}x{ha} and {wb}x{hb}")
        return 1
    if a == b:
        print(f"0 of {wa * ha} pixels differ")
        return 0
    masks = (0xF8, 0xFC, 0xF8)
    differing = 0
    shown = 0
    for i in range(0, len(a), 3):
        pa, pb = a[i:i + 3], b[i:i + 3]
        if depth == 16:
            same = all((pa[c] & masks[c]) == (pb[c] & masks[c]) for c in range(3))
        else:
            same = all(abs(pa[c] - pb[c]) <= 7 for c in range(3))
        if not same:
            differing += 1
            if shown < 5:
                p = i // 3
                print(f"  pixel ({p % wa},{p // wa}): {tuple(pa)} vs {tuple(pb)}")
                shown += 1
    print(f"{differing} of {wa * ha} pixels differ")
    return 0 if differing == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
