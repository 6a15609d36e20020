// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/windows/gdi_screen_source.h"

#include <cstring>

#include "common/log_file.h"
#include "common/strip_format.h"

namespace qc {

namespace {

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM list) {
  MONITORINFOEXA info{};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoA(monitor, &info)) return TRUE;
  MonitorInfo m;
  m.name = info.szDevice;
  const RECT& r = info.rcMonitor;
  m.rect = {r.left, r.top, r.right - r.left, r.bottom - r.top};
  m.primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
  reinterpret_cast<std::vector<MonitorInfo>*>(list)->push_back(std::move(m));
  return TRUE;
}

}  // namespace

std::vector<MonitorInfo> GdiScreenSource::ListMonitors() {
  std::vector<MonitorInfo> list;
  EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&list));
  return list;
}

GdiScreenSource::~GdiScreenSource() {
  if (memDc_ != nullptr) {
    if (oldBitmap_ != nullptr) SelectObject(memDc_, oldBitmap_);
    DeleteDC(memDc_);
  }
  if (section_ != nullptr) DeleteObject(section_);
  if (screenDc_ != nullptr) ReleaseDC(nullptr, screenDc_);
}

bool GdiScreenSource::Open(ScreenFormat& format) {
  screenDc_ = GetDC(nullptr);
  if (screenDc_ == nullptr) {
    Log().Print("qcCapture: Unable to get DC\n");
    return false;
  }
  screenWidth_ = GetDeviceCaps(screenDc_, HORZRES);
  screenHeight_ = GetDeviceCaps(screenDc_, VERTRES);
  screenBits_ = GetDeviceCaps(screenDc_, BITSPIXEL);
  memDc_ = CreateCompatibleDC(screenDc_);
  if (memDc_ == nullptr) {
    Log().Print("qcCapture: Unable to create compatible DC\n");
    return false;
  }
  // The screen's pixel format: GetDIBits describes a bitmap compatible with
  // the screen, the second call adds the colour masks.
  HBITMAP probe = CreateCompatibleBitmap(screenDc_, screenWidth_, screenHeight_);
  if (probe == nullptr) {
    Log().Print("qcCapture: Unable to create compatible bitmap\n");
    return false;
  }
  auto* info = reinterpret_cast<BITMAPINFO*>(&info_);
  info_.header.biSize = sizeof(BITMAPINFOHEADER);
  bool described = GetDIBits(screenDc_, probe, 0, 1, nullptr, info, DIB_RGB_COLORS) != 0;
  if (!described) Log().Print("qcCapture: GetDIBits failed (call #1)\n");
  if (described && !GetDIBits(screenDc_, probe, 0, 1, nullptr, info, DIB_RGB_COLORS)) {
    Log().Print("qcCapture: GetDIBits failed (call #2)\n");
    described = false;
  }
  DeleteObject(probe);
  if (!described) return false;

  int bits = info_.header.biBitCount;
  if (bits == 24) {
    bits = 32;
    info_.header.biBitCount = 32;
    info_.header.biCompression = BI_RGB;
  }
  format.width = screenWidth_;
  format.height = screenHeight_;
  format.bitsPerPixel = bits;
  if (info_.header.biCompression == BI_BITFIELDS) {
    format.redMask = info_.masks[0];
    format.greenMask = info_.masks[1];
    format.blueMask = info_.masks[2];
  }
  if (bits < 16) return true;  // the engine refuses the screen

  AreaChoice choice = options_.area;
  bool needList = choice.region.Empty() &&
                  (choice.monitor > 0 || screenWidth_ > kMaxFrameWidth ||
                   screenHeight_ > kMaxScreenRows);
  std::vector<MonitorInfo> monitors;
  if (needList) monitors = options_.monitors ? options_.monitors() : ListMonitors();
  ResolvedArea resolved =
      ResolveArea(screenWidth_, screenHeight_, monitors, choice, kMaxFrameWidth, kMaxScreenRows);
  area_ = resolved.rect;
  if (area_.Empty()) {
    Log().Print("qcCapture: Nothing of the chosen area lies on the screen\n");
    return false;
  }
  format.width = area_.width;
  format.height = area_.height;
  format.originX = area_.x;
  format.originY = area_.y;
  format.partial = area_ != ScreenRect{0, 0, screenWidth_, screenHeight_};
  format.fellBack = resolved.fellBack;
  bytesPerPixel_ = bits / 8;
  rowBytes_ = static_cast<size_t>(area_.width) * bytesPerPixel_;
  dibRowBytes_ = (rowBytes_ + 3) & ~size_t{3};
  return true;
}

uint8_t* GdiScreenSource::CreateFrame() {
  if (frame_ != nullptr) return frame_;
  if (bytesPerPixel_ == 0) return nullptr;
  info_.header.biWidth = area_.width;
  info_.header.biHeight = -area_.height;  // top-down rows
  info_.header.biSizeImage = 0;
  void* bits = nullptr;
  section_ = CreateDIBSection(screenDc_, reinterpret_cast<BITMAPINFO*>(&info_), DIB_RGB_COLORS,
                              &bits, nullptr, 0);
  if (section_ == nullptr || bits == nullptr) {
    Log().Print("qcCapture: Unable to create DIB section\n");
    return nullptr;
  }
  bits_ = static_cast<uint8_t*>(bits);
  std::memset(bits_, 0, dibRowBytes_ * area_.height);
  oldBitmap_ = SelectObject(memDc_, section_);
  if (dibRowBytes_ == rowBytes_) {
    frame_ = bits_;
  } else {
    packed_.assign(rowBytes_ * area_.height, 0);
    frame_ = packed_.data();
  }
  return frame_;
}

bool GdiScreenSource::GrabRows(int first, int end) {
  if (frame_ == nullptr || first >= end) return frame_ != nullptr;
  GdiFlush();
  if (!BitBlt(memDc_, 0, first, area_.width, end - first, screenDc_, area_.x, area_.y + first,
              SRCCOPY)) {
    if (!grabFailureLogged_) {
      Log().Print("qcCapture: Unable to grab rows %d to %d of the screen\n", first, end - 1);
      grabFailureLogged_ = true;
    }
    return false;
  }
  GdiFlush();
  for (int y = first; y < end; ++y) {
    uint8_t* row = frame_ + rowBytes_ * y;
    if (frame_ != bits_) std::memcpy(row, bits_ + dibRowBytes_ * y, rowBytes_);
    // GDI leaves 0 in the unused byte; keep it so whatever the driver did.
    if (bytesPerPixel_ == 4) {
      for (size_t x = 3; x < rowBytes_; x += 4) row[x] = 0;
    }
  }
  return true;
}

bool GdiScreenSource::DisplayChanged() {
  if (screenDc_ == nullptr) return false;
  return GetDeviceCaps(screenDc_, HORZRES) != screenWidth_ ||
         GetDeviceCaps(screenDc_, VERTRES) != screenHeight_ ||
         GetDeviceCaps(screenDc_, BITSPIXEL) != screenBits_;
}

}  // namespace qc
