// SPDX-License-Identifier: GPL-3.0-or-later
// The X11 screen as the capture engine's ScreenSource.
//
// It keeps its own xcb connection to the display. Rows are grabbed from the
// root window with MIT-SHM (xcb_shm_get_image) straight into the capture
// frame, which lives in the shared-memory segment; without MIT-SHM (a
// remote display, say) it falls back to xcb_get_image and logs that once.
// Byte 3 of every grabbed 32-bit pixel is cleared: X servers leave varying
// values in that pad byte, which would otherwise be sent as changes nobody
// can see.
//
// With the DAMAGE extension it records the rows drawn since their last grab,
// so that the engine can skip a quarter in which nothing was drawn. A RandR
// screen change to another size, monitors plugged, unplugged or moved so
// that a shared monitor now covers another area, or the loss of the
// connection, is reported as a display change.
//
// With XInput 2 it also hears of every pointer move (raw motion events,
// whichever window the pointer is over) and, through XFixes, of every change
// of the cursor's shape, so that the engine sleeping in WaitForDamage wakes
// for them. Warps of the pointer make no raw motion; the engine's slow
// backstop query catches those.
//
// Only the chosen area (the whole screen, one RandR monitor or a rectangle)
// is grabbed and tracked; the frame is the size of the area.
//
// Threads: Open and CreateFrame on the thread that initialises the engine,
// the rest on the capture work thread.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sender/capture/screen_area.h"
#include "sender/capture/screen_source.h"

namespace qc {

class X11ScreenSource : public ScreenSource {
 public:
  struct Options {
    std::string display;    // empty: $DISPLAY
    bool useShm = true;     // false: always xcb_get_image
    bool useDamage = true;  // false: every quarter is grabbed on every tick
    bool usePointerEvents = true;  // false: no XInput 2 (the pointer is polled)
    AreaChoice area;        // what to share; the whole screen by default
    // The monitor list; empty: the RandR list of the display. Tests fill it
    // where the X server cannot report several monitors.
    std::function<std::vector<MonitorInfo>()> monitors;
  };

  X11ScreenSource();
  explicit X11ScreenSource(Options options);
  ~X11ScreenSource() override;
  X11ScreenSource(const X11ScreenSource&) = delete;
  X11ScreenSource& operator=(const X11ScreenSource&) = delete;

  bool Open(ScreenFormat& format) override;
  uint8_t* CreateFrame() override;
  bool GrabRows(int first, int end) override;
  bool MayHaveChanged(int first, int end) override;
  void DrawnBand(int first, int end, int& from, int& to) override;
  bool TracksDamage() const override { return damage_ != 0; }
  // Polls the X connection and a wake-up eventfd.
  void WaitForDamage(int timeoutMs) override;
  void Wake() override;
  bool TracksPointer() const override { return pointerEvents_; }
  bool TakePointerEvent() override;
  bool DisplayChanged() override;

  bool UsesShm() const { return shmSeg_ != 0; }
  // The X server's depth of the root window (for diagnostics and tests).
  int Depth() const { return depth_; }

  // The layout of a 32-bit or 16-bit root window, from its depth, its
  // pixmap format's bits per pixel and its visual's masks. Returns the
  // engine's bits per pixel: 16 or 32 for what can be captured, the depth
  // for screens below 15 bits (the engine refuses them), 0 for layouts the
  // source cannot capture (packed 24-bit pixels, 30-bit colour, big-endian
  // images).
  static int FrameBitsPerPixel(int depth, int pixmapBitsPerPixel, bool lsbFirst);

  // The RandR 1.5 monitors of the display, in the server's order (empty
  // when it cannot be reached or has no RandR 1.5).
  static std::vector<MonitorInfo> ListMonitors(const std::string& display);

  // The area shared since Open, on the screen, and whether the choice fell
  // back to the primary monitor.
  ScreenRect Area() const { return area_; }
  bool FellBack() const { return fellBack_; }

 private:
  std::vector<MonitorInfo> Monitors();
  ResolvedArea Resolve();
  void ProcessEvents();
  void SelectPointerEvents();
  void MarkRows(int first, int end);
  bool GrabBand(int first, int rows);
  void ClearPadBytes(int first, int end);
  void ReleaseShm();

  Options options_;
  xcb_connection_t* conn_ = nullptr;
  xcb_window_t root_ = 0;
  int screenWidth_ = 0;
  int screenHeight_ = 0;
  ScreenRect area_;
  bool fellBack_ = false;
  int width_ = 0;   // of the area
  int height_ = 0;
  int depth_ = 0;
  int bytesPerPixel_ = 0;
  size_t rowBytes_ = 0;     // in the frame: width x B
  size_t xRowBytes_ = 0;    // in X images: padded to the scanline pad
  size_t frameBytes_ = 0;

  // MIT-SHM: the frame at offset 0 of the segment, then (only when X rows
  // are padded) a scratch band that grabs land in before being compacted.
  uint32_t shmSeg_ = 0;
  int shmId_ = -1;
  uint8_t* shmAddr_ = nullptr;
  size_t scratchOffset_ = 0;
  int scratchRows_ = 0;
  std::vector<uint8_t> heapFrame_;  // without MIT-SHM
  uint8_t* frame_ = nullptr;

  uint32_t damage_ = 0;
  uint8_t damageEvent_ = 0;
  uint8_t randrEvent_ = 0;
  bool haveRandr_ = false;
  bool pointerEvents_ = false;  // raw motion selected
  uint8_t xinputOpcode_ = 0;
  uint8_t xfixesEvent_ = 0;
  bool haveXfixes_ = false;
  bool pointerMoved_ = false;  // or the cursor changed, since the last take
  std::vector<uint8_t> dirty_;  // per row: drawn since its last grab
  bool displayChanged_ = false;
  bool grabFailureLogged_ = false;
  int wakeFd_ = -1;  // eventfd written by Wake
};

}  // namespace qc
