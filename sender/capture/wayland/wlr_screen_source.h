// SPDX-License-Identifier: GPL-3.0-or-later
// A wlroots compositor's output (sway, labwc, a kiosk's cage) as the capture
// engine's ScreenSource, through the wlr-screencopy protocol.
//
// It keeps its own Wayland connection. One shared-memory buffer (a memfd
// mapped here and handed to the compositor) receives every frame: the first
// is a full copy, each later one a copy_with_damage, which the compositor
// answers only once something was drawn, with the rectangles drawn. So a
// still screen costs nothing: the engine sleeps in WaitForDamage on the
// Wayland socket. GrabRows copies rows of that buffer into the engine's
// frame (cropped to the shared area, byte 3 of each pixel cleared). Frames
// arrive while rows are being read, so a row read during a copy may mix two
// frames; that copy reports the row as drawn again, and it is read again.
//
// The cursor is drawn into the frames by the compositor (the protocol has
// no separate cursor): the engine runs without a cursor source.
//
// Only one output is captured. The "screen" is the bounding box of the
// outputs (at scale 1, positions in the compositor's layout); -monitor k
// picks output k of the registry order, a region is cropped from the output
// it lies on. An area that spans several outputs (the whole screen of a
// two-output desktop) falls back to the first output. A new mode of that
// output, its removal, a frame of another size or the loss of the
// connection is a display change.
//
// Threads: Open and CreateFrame on the thread that initialises the engine,
// the rest on the capture work thread; Wake on any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sender/capture/screen_area.h"
#include "sender/capture/screen_source.h"

namespace qc {

class WlrScreenSource : public ScreenSource {
 public:
  struct Options {
    std::string display;  // empty: $WAYLAND_DISPLAY
    AreaChoice area;      // what to share; the whole screen by default
    bool overlayCursor = true;  // the compositor draws the cursor in
  };

  explicit WlrScreenSource(Options options);
  ~WlrScreenSource() override;
  WlrScreenSource(const WlrScreenSource&) = delete;
  WlrScreenSource& operator=(const WlrScreenSource&) = delete;

  bool Open(ScreenFormat& format) override;
  uint8_t* CreateFrame() override;
  bool GrabRows(int first, int end) override;
  bool MayHaveChanged(int first, int end) override;
  void DrawnBand(int first, int end, int& from, int& to) override;
  bool TracksDamage() const override { return true; }
  // The cursor is drawn into the frames: its moves arrive as damage.
  bool TracksPointer() const override { return true; }
  // Polls the Wayland socket and a wake-up eventfd.
  void WaitForDamage(int timeoutMs) override;
  void Wake() override;
  bool DisplayChanged() override;

  // The outputs of the compositor, in registry order (empty when it cannot
  // be reached or offers no wlr-screencopy).
  static std::vector<MonitorInfo> ListMonitors(const std::string& display);
  // Whether a compositor is reachable and offers wlr-screencopy.
  static bool Available(const std::string& display);

  // Frames the compositor delivered since Open (for tests and the log).
  uint64_t FramesReceived() const;

  struct State;  // the Wayland objects; public for the listeners

 private:
  Options options_;
  std::unique_ptr<State> s_;
};

}  // namespace qc
