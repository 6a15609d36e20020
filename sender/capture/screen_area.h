// SPDX-License-Identifier: GPL-3.0-or-later
// The part of the screen the sender shares: the whole screen, one monitor or
// a rectangle. Pure geometry; the X11 screen source resolves the choice when
// it opens the screen, the shell parses and lists it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qc {

// Rows are addressed by a signed 16-bit number on the wire.
inline constexpr int kMaxScreenRows = 32767;

struct ScreenRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool Empty() const { return width <= 0 || height <= 0; }
  bool Contains(int px, int py) const {
    return px >= x && py >= y && px < x + width && py < y + height;
  }
  ScreenRect Intersect(const ScreenRect& o) const;
  bool operator==(const ScreenRect&) const = default;
};

// One monitor as the display server lists it.
struct MonitorInfo {
  std::string name;
  ScreenRect rect;
  bool primary = false;
};

// What the user chose. A non-empty region wins over the monitor; monitor 0
// is the whole screen, k the k-th monitor of the list (1-based).
struct AreaChoice {
  int monitor = 0;
  ScreenRect region;
};

struct ResolvedArea {
  ScreenRect rect;
  // The choice could not be honoured (whole screen too large, monitor
  // gone): the primary monitor is shared instead.
  bool fellBack = false;
};

// "WxH+X+Y" (X11 geometry, non-negative offsets). False for anything else.
bool ParseRegion(std::string_view text, ScreenRect& region);

// "name (WxH)" for menus and dialogs.
std::string MonitorLabel(const MonitorInfo& monitor);

// The area to share on a screen of screenWidth x screenHeight. A whole screen
// wider than maxWidth or taller than maxHeight (what the wire can address),
// or a monitor that is not in the list, gives the primary monitor (the first
// when none is marked primary; its top-left part when it is itself too
// large), with a log line. Every result lies inside
// the screen; an empty result means the choice cannot be shared at all.
ResolvedArea ResolveArea(int screenWidth, int screenHeight,
                         const std::vector<MonitorInfo>& monitors, const AreaChoice& choice,
                         int maxWidth, int maxHeight);

}  // namespace qc
