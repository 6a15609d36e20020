// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/wayland/wlr_screen_source.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "common/log_file.h"
#include "common/strip_format.h"
#include "sender/capture/wayland/frame_rows.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace qc {

namespace {

// wl_shm formats of 32-bit pixels the frame can hold as they are.
constexpr uint32_t kFormatArgb = WL_SHM_FORMAT_ARGB8888;
constexpr uint32_t kFormatXrgb = WL_SHM_FORMAT_XRGB8888;
constexpr uint32_t kFormatAbgr = WL_SHM_FORMAT_ABGR8888;
constexpr uint32_t kFormatXbgr = WL_SHM_FORMAT_XBGR8888;

// Failed copies in a row after which the output counts as gone.
constexpr int kMaxFailures = 3;
// How long Open waits for the first frame.
constexpr int kFirstFrameMs = 10000;

struct Output {
  WlrScreenSource::State* state = nullptr;
  uint32_t global = 0;
  wl_output* output = nullptr;
  zxdg_output_v1* xdg = nullptr;
  std::string name;
  int x = 0, y = 0;           // logical position in the layout
  int width = 0, height = 0;  // current mode, pixels
};

struct DamageRect {
  int x, y, width, height;
};

}  // namespace

struct WlrScreenSource::State {
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  wl_shm* shm = nullptr;
  zwlr_screencopy_manager_v1* manager = nullptr;
  uint32_t managerVersion = 0;
  zxdg_output_manager_v1* xdgManager = nullptr;
  std::vector<std::unique_ptr<Output>> outputs;

  // The captured output and the part of it shared (in buffer pixels).
  Output* target = nullptr;
  int targetWidth = 0, targetHeight = 0;  // its mode when opened
  ScreenRect crop;
  bool overlayCursor = true;

  // The one buffer every frame is copied into.
  int memfd = -1;
  uint8_t* data = nullptr;
  size_t size = 0;
  wl_buffer* buffer = nullptr;
  uint32_t format = 0, width = 0, height = 0, stride = 0;

  // The frame in flight and what its events said.
  zwlr_screencopy_frame_v1* frame = nullptr;
  uint32_t infoFormat = 0, infoWidth = 0, infoHeight = 0, infoStride = 0;
  bool haveShmInfo = false;
  bool frameYInvert = false;  // of the frame in flight
  bool yInvert = false;       // of the buffer's content
  std::vector<DamageRect> damage;
  bool fullCopy = true;  // the next copy is a plain one (everything drawn)
  int failures = 0;
  uint64_t frames = 0;

  // The engine's frame and the rows drawn since their last grab.
  std::vector<uint8_t> image;
  std::vector<uint8_t> dirty;
  bool opened = false;
  bool displayChanged = false;
  bool lostLogged = false;
  int wakeFd = -1;

  ~State();
  bool Connect(const std::string& name);
  void RequestFrame();
  void StartCopy();
  void FrameReady();
  void FrameFailed();
  void MarkOutputRows(int top, int bottom);
  // Reads and dispatches what the socket holds, waiting up to timeoutMs
  // for it (also for Wake when `wakeable`). False once the connection broke.
  bool Pump(int timeoutMs, bool wakeable = false);
  void ChangeDisplay(const char* why);
  std::vector<MonitorInfo> Monitors() const;
};

namespace {

// --- wl_output / xdg-output -------------------------------------------------

void OutputGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                    const char*, const char*, int32_t) {
  auto* o = static_cast<Output*>(data);
  if (o->xdg == nullptr) {
    o->x = x;
    o->y = y;
  }
}

void OutputMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
  if ((flags & WL_OUTPUT_MODE_CURRENT) == 0) return;
  auto* o = static_cast<Output*>(data);
  o->width = width;
  o->height = height;
}

void OutputDone(void* data, wl_output*) {
  auto* o = static_cast<Output*>(data);
  WlrScreenSource::State* s = o->state;
  if (s->opened && s->target == o && (o->width != s->targetWidth || o->height != s->targetHeight)) {
    s->ChangeDisplay("The shared output changed its mode");
  }
}

void OutputScale(void*, wl_output*, int32_t) {}

void OutputName(void* data, wl_output*, const char* name) {
  auto* o = static_cast<Output*>(data);
  if (o->name.empty()) o->name = name;
}

void OutputDescription(void*, wl_output*, const char*) {}

const wl_output_listener kOutputListener = {OutputGeometry, OutputMode,  OutputDone,
                                            OutputScale,    OutputName, OutputDescription};

void XdgPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
  auto* o = static_cast<Output*>(data);
  o->x = x;
  o->y = y;
}
void XdgSize(void*, zxdg_output_v1*, int32_t, int32_t) {}
void XdgDone(void*, zxdg_output_v1*) {}
void XdgName(void* data, zxdg_output_v1*, const char* name) {
  static_cast<Output*>(data)->name = name;
}
void XdgDescription(void*, zxdg_output_v1*, const char*) {}

const zxdg_output_v1_listener kXdgOutputListener = {XdgPosition, XdgSize, XdgDone, XdgName,
                                                    XdgDescription};

void AddXdgOutput(WlrScreenSource::State* s, Output* o) {
  if (s->xdgManager == nullptr || o->xdg != nullptr) return;
  o->xdg = zxdg_output_manager_v1_get_xdg_output(s->xdgManager, o->output);
  zxdg_output_v1_add_listener(o->xdg, &kXdgOutputListener, o);
}

// --- the registry -------------------------------------------------------------

void RegistryGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                    uint32_t version) {
  auto* s = static_cast<WlrScreenSource::State*>(data);
  if (std::strcmp(interface, wl_shm_interface.name) == 0 && s->shm == nullptr) {
    s->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0 &&
             s->manager == nullptr) {
    s->managerVersion = std::min<uint32_t>(version, 3);
    s->manager = static_cast<zwlr_screencopy_manager_v1*>(wl_registry_bind(
        registry, name, &zwlr_screencopy_manager_v1_interface, s->managerVersion));
  } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 &&
             s->xdgManager == nullptr) {
    s->xdgManager = static_cast<zxdg_output_manager_v1*>(wl_registry_bind(
        registry, name, &zxdg_output_manager_v1_interface, std::min<uint32_t>(version, 3)));
    for (auto& o : s->outputs) AddXdgOutput(s, o.get());
  } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
    auto o = std::make_unique<Output>();
    o->state = s;
    o->global = name;
    o->output = static_cast<wl_output*>(
        wl_registry_bind(registry, name, &wl_output_interface, std::min<uint32_t>(version, 4)));
    wl_output_add_listener(o->output, &kOutputListener, o.get());
    AddXdgOutput(s, o.get());
    s->outputs.push_back(std::move(o));
  }
}

void RegistryRemove(void* data, wl_registry*, uint32_t name) {
  auto* s = static_cast<WlrScreenSource::State*>(data);
  if (s->target != nullptr && s->target->global == name) {
    s->ChangeDisplay("The shared output was removed");
  }
}

const wl_registry_listener kRegistryListener = {RegistryGlobal, RegistryRemove};

// --- the screencopy frame -----------------------------------------------------

void FrameBuffer(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width,
                 uint32_t height, uint32_t stride) {
  auto* s = static_cast<WlrScreenSource::State*>(data);
  s->infoFormat = format;
  s->infoWidth = width;
  s->infoHeight = height;
  s->infoStride = stride;
  s->haveShmInfo = true;
  // Before version 3 this is the only buffer event: copy at once.
  if (s->managerVersion < 3) s->StartCopy();
}

void FrameFlags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
  static_cast<WlrScreenSource::State*>(data)->frameYInvert =
      (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
}

void FrameReady(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {
  static_cast<WlrScreenSource::State*>(data)->FrameReady();
}

void FrameFailed(void* data, zwlr_screencopy_frame_v1*) {
  static_cast<WlrScreenSource::State*>(data)->FrameFailed();
}

void FrameDamage(void* data, zwlr_screencopy_frame_v1*, uint32_t x, uint32_t y, uint32_t width,
                 uint32_t height) {
  auto* s = static_cast<WlrScreenSource::State*>(data);
  // Bounded: a compositor that floods rectangles gets a full-frame one.
  if (s->damage.size() >= 64) {
    s->damage.assign(1, DamageRect{0, 0, static_cast<int>(s->width), static_cast<int>(s->height)});
    return;
  }
  auto clampInt = [](uint32_t v) { return static_cast<int>(std::min<uint32_t>(v, 1u << 20)); };
  s->damage.push_back({clampInt(x), clampInt(y), clampInt(width), clampInt(height)});
}

void FrameDmabuf(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {}

void FrameBufferDone(void* data, zwlr_screencopy_frame_v1*) {
  static_cast<WlrScreenSource::State*>(data)->StartCopy();
}

const zwlr_screencopy_frame_v1_listener kFrameListener = {
    FrameBuffer, FrameFlags, FrameReady, FrameFailed, FrameDamage, FrameDmabuf, FrameBufferDone};

bool FormatMasks(uint32_t format, ScreenFormat& f) {
  if (format == kFormatXrgb || format == kFormatArgb) {
    f.redMask = 0x00FF0000u;
    f.greenMask = 0x0000FF00u;
    f.blueMask = 0x000000FFu;
    return true;
  }
  if (format == kFormatXbgr || format == kFormatAbgr) {
    f.redMask = 0x000000FFu;
    f.greenMask = 0x0000FF00u;
    f.blueMask = 0x00FF0000u;
    return true;
  }
  return false;
}

}  // namespace

// --- State ----------------------------------------------------------------------

WlrScreenSource::State::~State() {
  if (frame != nullptr) zwlr_screencopy_frame_v1_destroy(frame);
  if (buffer != nullptr) wl_buffer_destroy(buffer);
  if (data != nullptr) munmap(data, size);
  if (memfd >= 0) close(memfd);
  for (auto& o : outputs) {
    if (o->xdg != nullptr) zxdg_output_v1_destroy(o->xdg);
    if (o->output != nullptr) wl_output_destroy(o->output);
  }
  if (xdgManager != nullptr) zxdg_output_manager_v1_destroy(xdgManager);
  if (manager != nullptr) zwlr_screencopy_manager_v1_destroy(manager);
  if (shm != nullptr) wl_shm_destroy(shm);
  if (registry != nullptr) wl_registry_destroy(registry);
  if (display != nullptr) wl_display_disconnect(display);
  if (wakeFd >= 0) close(wakeFd);
}

bool WlrScreenSource::State::Connect(const std::string& name) {
  display = wl_display_connect(name.empty() ? nullptr : name.c_str());
  if (display == nullptr) return false;
  registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, this);
  // The globals, then the outputs' own events.
  return wl_display_roundtrip(display) >= 0 && wl_display_roundtrip(display) >= 0;
}

std::vector<MonitorInfo> WlrScreenSource::State::Monitors() const {
  std::vector<MonitorInfo> list;
  for (const auto& o : outputs) {
    MonitorInfo m;
    m.name = o->name.empty() ? "Output " + std::to_string(list.size() + 1) : o->name;
    m.rect = {o->x, o->y, o->width, o->height};
    m.primary = list.empty();
    list.push_back(std::move(m));
  }
  return list;
}

void WlrScreenSource::State::ChangeDisplay(const char* why) {
  if (!displayChanged) Log().Print("qcCapture: %s\n", why);
  displayChanged = true;
}

void WlrScreenSource::State::RequestFrame() {
  if (displayChanged || target == nullptr) return;
  haveShmInfo = false;
  frameYInvert = false;
  damage.clear();
  frame = zwlr_screencopy_manager_v1_capture_output(manager, overlayCursor ? 1 : 0,
                                                     target->output);
  zwlr_screencopy_frame_v1_add_listener(frame, &kFrameListener, this);
}

void WlrScreenSource::State::StartCopy() {
  if (frame == nullptr) return;
  if (!haveShmInfo) {
    Log().Print("qcCapture: The compositor offers no shared-memory frames\n");
    zwlr_screencopy_frame_v1_destroy(frame);
    frame = nullptr;
    ChangeDisplay("Unable to capture the output");
    return;
  }
  if (buffer == nullptr) {
    // The first frame decides the buffer for the whole transmission.
    format = infoFormat;
    width = infoWidth;
    height = infoHeight;
    stride = infoStride;
    size = static_cast<size_t>(stride) * height;
    ScreenFormat probe;
    if (!FormatMasks(format, probe) || stride < width * 4 || size == 0) {
      Log().Print("qcCapture: Unsupported screencopy format 0x%08x (%u x %u, stride %u)\n", format,
                  width, height, stride);
      zwlr_screencopy_frame_v1_destroy(frame);
      frame = nullptr;
      ChangeDisplay("Unable to capture the output");
      return;
    }
    memfd = memfd_create("quillcast-screencopy", MFD_CLOEXEC);
    void* mapped = MAP_FAILED;
    if (memfd >= 0 && ftruncate(memfd, static_cast<off_t>(size)) == 0) {
      mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, memfd, 0);
    }
    if (mapped == MAP_FAILED) {
      Log().Print("qcCapture: Unable to create the screencopy buffer (%zu bytes)\n", size);
      zwlr_screencopy_frame_v1_destroy(frame);
      frame = nullptr;
      ChangeDisplay("Unable to capture the output");
      return;
    }
    data = static_cast<uint8_t*>(mapped);
    wl_shm_pool* pool = wl_shm_create_pool(shm, memfd, static_cast<int32_t>(size));
    buffer = wl_shm_pool_create_buffer(pool, 0, static_cast<int32_t>(width),
                                       static_cast<int32_t>(height),
                                       static_cast<int32_t>(stride), format);
    wl_shm_pool_destroy(pool);
  } else if (infoFormat != format || infoWidth != width || infoHeight != height ||
             infoStride != stride) {
    zwlr_screencopy_frame_v1_destroy(frame);
    frame = nullptr;
    ChangeDisplay("The shared output's frames changed their size or format");
    return;
  }
  if (fullCopy || managerVersion < 2) {
    zwlr_screencopy_frame_v1_copy(frame, buffer);
  } else {
    zwlr_screencopy_frame_v1_copy_with_damage(frame, buffer);
  }
}

void WlrScreenSource::State::MarkOutputRows(int top, int bottom) {
  // Output rows to rows of the shared area.
  int first = std::max(top - crop.y, 0);
  int end = std::min(bottom - crop.y, static_cast<int>(dirty.size()));
  if (first < end) std::fill(dirty.begin() + first, dirty.begin() + end, 1);
}

void WlrScreenSource::State::FrameReady() {
  zwlr_screencopy_frame_v1_destroy(frame);
  frame = nullptr;
  ++frames;
  failures = 0;
  yInvert = frameYInvert;
  const int h = static_cast<int>(height);
  if (fullCopy || managerVersion < 2) {
    MarkOutputRows(0, h);
  } else {
    for (const DamageRect& d : damage) {
      int top = yInvert ? h - (d.y + d.height) : d.y;
      ScreenRect drawn = ScreenRect{d.x, top, d.width, d.height}.Intersect(crop);
      if (!drawn.Empty()) MarkOutputRows(drawn.y, drawn.y + drawn.height);
    }
  }
  fullCopy = false;
  RequestFrame();
}

void WlrScreenSource::State::FrameFailed() {
  zwlr_screencopy_frame_v1_destroy(frame);
  frame = nullptr;
  if (++failures >= kMaxFailures) {
    ChangeDisplay("The compositor failed to copy the shared output");
    return;
  }
  // Whatever the failed copy left in the buffer is read again.
  fullCopy = true;
  RequestFrame();
}

bool WlrScreenSource::State::Pump(int timeoutMs, bool wakeable) {
  if (display == nullptr) return false;
  while (wl_display_prepare_read(display) != 0) {
    if (wl_display_dispatch_pending(display) < 0) {
      if (!lostLogged) Log().Print("qcCapture: Lost the connection to the Wayland compositor\n");
      lostLogged = true;
      displayChanged = true;
      return false;
    }
  }
  wl_display_flush(display);
  pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0}, {wakeFd, POLLIN, 0}};
  int n = poll(fds, wakeable && wakeFd >= 0 ? 2 : 1, std::max(0, timeoutMs));
  if (n > 0 && (fds[0].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
    wl_display_read_events(display);
  } else {
    wl_display_cancel_read(display);
  }
  if (wakeable && wakeFd >= 0 && (fds[1].revents & POLLIN) != 0) {
    uint64_t count = 0;
    ssize_t r = read(wakeFd, &count, sizeof count);
    (void)r;
  }
  wl_display_dispatch_pending(display);
  if (wl_display_get_error(display) != 0) {
    if (!lostLogged) Log().Print("qcCapture: Lost the connection to the Wayland compositor\n");
    lostLogged = true;
    displayChanged = true;
    return false;
  }
  return true;
}

// --- WlrScreenSource ----------------------------------------------------------

WlrScreenSource::WlrScreenSource(Options options)
    : options_(std::move(options)), s_(std::make_unique<State>()) {
  s_->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  s_->overlayCursor = options_.overlayCursor;
}

WlrScreenSource::~WlrScreenSource() = default;

std::vector<MonitorInfo> WlrScreenSource::ListMonitors(const std::string& display) {
  State s;
  if (!s.Connect(display) || s.manager == nullptr) return {};
  return s.Monitors();
}

bool WlrScreenSource::Available(const std::string& display) {
  State s;
  return s.Connect(display) && s.manager != nullptr && s.shm != nullptr && !s.outputs.empty();
}

uint64_t WlrScreenSource::FramesReceived() const { return s_->frames; }

bool WlrScreenSource::Open(ScreenFormat& format) {
  State& s = *s_;
  if (!s.Connect(options_.display)) {
    Log().Print("qcCapture: Unable to connect to the Wayland compositor\n");
    return false;
  }
  if (s.manager == nullptr || s.shm == nullptr || s.outputs.empty()) {
    Log().Print("qcCapture: The Wayland compositor offers no wlr-screencopy (or no output)\n");
    return false;
  }
  // The layout's bounding box is the screen; areas are chosen on it.
  std::vector<MonitorInfo> monitors = s.Monitors();
  int screenWidth = 0, screenHeight = 0;
  for (const MonitorInfo& m : monitors) {
    screenWidth = std::max(screenWidth, m.rect.x + m.rect.width);
    screenHeight = std::max(screenHeight, m.rect.y + m.rect.height);
  }
  ResolvedArea resolved = ResolveArea(screenWidth, screenHeight, monitors, options_.area,
                                      kMaxFrameWidth, kMaxScreenRows);
  ScreenRect area = resolved.rect;
  bool fellBack = resolved.fellBack;
  size_t index = 0;
  while (index < monitors.size() && monitors[index].rect.Intersect(area) != area) ++index;
  if (index == monitors.size()) {
    // Spans several outputs: only one can be captured.
    Log().Print("qcCapture: The chosen area spans several outputs, sharing %s only\n",
                monitors[0].name.c_str());
    index = 0;
    area = monitors[0].rect.Intersect(
        ScreenRect{monitors[0].rect.x, monitors[0].rect.y, kMaxFrameWidth, kMaxScreenRows});
    fellBack = true;
  }
  if (area.Empty()) {
    Log().Print("qcCapture: Nothing of the chosen area lies on the screen\n");
    return false;
  }
  s.target = s.outputs[index].get();
  s.targetWidth = s.target->width;
  s.targetHeight = s.target->height;
  s.crop = {area.x - s.target->x, area.y - s.target->y, area.width, area.height};
  s.dirty.assign(area.height, 1);

  // The first frame: its buffer event gives the format, its copy the picture.
  s.fullCopy = true;
  s.RequestFrame();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFirstFrameMs);
  while (s.frames == 0 && !s.displayChanged) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    deadline - std::chrono::steady_clock::now())
                                    .count());
    if (left <= 0 || !s.Pump(left)) break;
  }
  if (s.frames == 0) {
    Log().Print("qcCapture: The compositor sent no frame of output %s\n",
                s.target->name.c_str());
    return false;
  }
  if (static_cast<int>(s.width) != s.target->width ||
      static_cast<int>(s.height) != s.target->height) {
    // A scaled or rotated output: its frames are not in layout pixels.
    Log().Print("qcCapture: Output %s is scaled or rotated, sharing all of it\n",
                s.target->name.c_str());
    s.crop = {0, 0, static_cast<int>(s.width), static_cast<int>(s.height)};
    s.crop = s.crop.Intersect({0, 0, kMaxFrameWidth, kMaxScreenRows});
    area = {s.target->x, s.target->y, s.crop.width, s.crop.height};
    s.dirty.assign(s.crop.height, 1);
  }
  s.opened = true;

  format = ScreenFormat{};
  FormatMasks(s.format, format);
  format.width = s.crop.width;
  format.height = s.crop.height;
  format.bitsPerPixel = 32;
  format.originX = area.x;
  format.originY = area.y;
  format.partial = area != ScreenRect{0, 0, screenWidth, screenHeight};
  format.fellBack = fellBack;
  Log().Print("qcCapture: Capturing Wayland output %s (%u x %u) through wlr-screencopy\n",
              s.target->name.c_str(), s.width, s.height);
  return true;
}

uint8_t* WlrScreenSource::CreateFrame() {
  State& s = *s_;
  if (!s.opened) return nullptr;
  try {
    s.image.assign(static_cast<size_t>(s.crop.width) * 4 * s.crop.height, 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return s.image.data();
}

bool WlrScreenSource::GrabRows(int first, int end) {
  State& s = *s_;
  if (s.image.empty() || s.data == nullptr) return false;
  first = std::max(first, 0);
  end = std::min(end, s.crop.height);
  if (first >= end) return true;
  // Frames that arrived so far are in the buffer; what arrives during the
  // copy marks its rows again.
  s.Pump(0);
  std::fill(s.dirty.begin() + first, s.dirty.begin() + end, 0);
  const size_t rowBytes = static_cast<size_t>(s.crop.width) * 4;
  const int h = static_cast<int>(s.height);
  for (int r = first; r < end; ++r) {
    int outputRow = s.crop.y + r;
    int bufferRow = s.yInvert ? h - 1 - outputRow : outputRow;
    const uint8_t* in = s.data + static_cast<size_t>(bufferRow) * s.stride +
                        static_cast<size_t>(s.crop.x) * 4;
    CopyPixelsClearingPad(s.image.data() + rowBytes * r, in, static_cast<size_t>(s.crop.width));
  }
  return true;
}

bool WlrScreenSource::MayHaveChanged(int first, int end) {
  int from = 0, to = 0;
  DrawnBand(first, end, from, to);
  return from < to;
}

void WlrScreenSource::DrawnBand(int first, int end, int& from, int& to) {
  State& s = *s_;
  s.Pump(0);
  DrawnRowBand(s.dirty, first, end, from, to);
}

void WlrScreenSource::WaitForDamage(int timeoutMs) {
  State& s = *s_;
  if (!s.opened) return;
  if (!s.Pump(0) || s.displayChanged || AnyRowDrawn(s.dirty)) return;
  s.Pump(timeoutMs, true);
}

void WlrScreenSource::Wake() {
  if (s_->wakeFd < 0) return;
  uint64_t one = 1;
  ssize_t n = write(s_->wakeFd, &one, sizeof one);
  (void)n;
}

bool WlrScreenSource::DisplayChanged() {
  State& s = *s_;
  if (!s.opened) return false;
  s.Pump(0);
  return s.displayChanged;
}

}  // namespace qc
