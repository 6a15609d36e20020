// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/screen_area.h"

#include <algorithm>
#include <charconv>

#include "common/log_file.h"

namespace qc {

ScreenRect ScreenRect::Intersect(const ScreenRect& o) const {
  int left = std::max(x, o.x), top = std::max(y, o.y);
  int right = std::min(x + width, o.x + o.width), bottom = std::min(y + height, o.y + o.height);
  if (right <= left || bottom <= top) return {};
  return {left, top, right - left, bottom - top};
}

namespace {

// Reads decimal digits at text[pos...] up to the stop byte (or the end when
// stop is 0).
bool ReadNumber(std::string_view text, size_t& pos, char stop, int& value) {
  size_t end = stop != 0 ? text.find(stop, pos) : text.size();
  if (end == std::string_view::npos || end == pos) return false;
  const char* first = text.data() + pos;
  const char* last = text.data() + end;
  if (*first < '0' || *first > '9') return false;
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || ptr != last) return false;
  pos = end + (stop != 0 ? 1 : 0);
  return true;
}

}  // namespace

bool ParseRegion(std::string_view text, ScreenRect& region) {
  ScreenRect r;
  size_t pos = 0;
  if (!ReadNumber(text, pos, 'x', r.width) || !ReadNumber(text, pos, '+', r.height) ||
      !ReadNumber(text, pos, '+', r.x) || !ReadNumber(text, pos, 0, r.y) || r.Empty()) {
    return false;
  }
  region = r;
  return true;
}

std::string MonitorLabel(const MonitorInfo& monitor) {
  return monitor.name + " (" + std::to_string(monitor.rect.width) + "x" +
         std::to_string(monitor.rect.height) + ")";
}

ResolvedArea ResolveArea(int screenWidth, int screenHeight,
                         const std::vector<MonitorInfo>& monitors, const AreaChoice& choice,
                         int maxWidth, int maxHeight) {
  const ScreenRect screen{0, 0, screenWidth, screenHeight};
  // The primary monitor, cut to what the wire can address when it is
  // itself too large (a server that reports one monitor for everything).
  auto primary = [&]() -> ScreenRect {
    auto it = std::find_if(monitors.begin(), monitors.end(),
                           [](const MonitorInfo& m) { return m.primary; });
    if (it == monitors.end() && !monitors.empty()) it = monitors.begin();
    ScreenRect r = it == monitors.end() ? screen : it->rect.Intersect(screen);
    r.width = std::min(r.width, maxWidth);
    r.height = std::min(r.height, maxHeight);
    return r;
  };
  if (!choice.region.Empty()) {
    ScreenRect r = choice.region.Intersect(screen);
    if (r != choice.region) {
      Log().Print("qcCapture: Region %dx%d+%d+%d lies partly outside the screen\n",
                  choice.region.width, choice.region.height, choice.region.x, choice.region.y);
    }
    return {r, false};
  }
  if (choice.monitor > 0) {
    if (static_cast<size_t>(choice.monitor) <= monitors.size()) {
      return {monitors[choice.monitor - 1].rect.Intersect(screen), false};
    }
    Log().Print("qcCapture: Monitor %d does not exist, sharing the primary monitor\n",
                choice.monitor);
    return {primary(), true};
  }
  if (screenWidth > maxWidth || screenHeight > maxHeight) {
    Log().Print("qcCapture: Screen %d x %d is larger than %d x %d, sharing the primary monitor\n",
                screenWidth, screenHeight, maxWidth, maxHeight);
    return {primary(), true};
  }
  return {screen, false};
}

}  // namespace qc
