// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/x11/x11_screen_source.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "common/log_file.h"
#include "common/strip_format.h"
#include "platform/x11/xcb_reply.h"

namespace qc {

namespace {

const xcb_visualtype_t* FindVisual(const xcb_screen_t* screen, xcb_visualid_t id) {
  for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem;
       xcb_depth_next(&depths)) {
    for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
         xcb_visualtype_next(&visuals)) {
      if (visuals.data->visual_id == id) return visuals.data;
    }
  }
  return nullptr;
}

const xcb_format_t* FindFormat(const xcb_setup_t* setup, int depth) {
  const xcb_format_t* formats = xcb_setup_pixmap_formats(setup);
  int n = xcb_setup_pixmap_formats_length(setup);
  for (int i = 0; i < n; ++i) {
    if (formats[i].depth == depth) return &formats[i];
  }
  return nullptr;
}

// RandR 1.5 monitors of the root window's screen.
std::vector<MonitorInfo> ReadMonitors(xcb_connection_t* conn, xcb_window_t root) {
  std::vector<MonitorInfo> list;
  const xcb_query_extension_reply_t* randr = xcb_get_extension_data(conn, &xcb_randr_id);
  if (randr == nullptr || !randr->present) return list;
  XcbPtr<xcb_randr_query_version_reply_t> version(
      xcb_randr_query_version_reply(conn, xcb_randr_query_version(conn, 1, 5), nullptr));
  if (!version || (version->major_version == 1 && version->minor_version < 5)) return list;
  XcbPtr<xcb_randr_get_monitors_reply_t> reply(
      xcb_randr_get_monitors_reply(conn, xcb_randr_get_monitors(conn, root, 1), nullptr));
  if (!reply) return list;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
       xcb_randr_monitor_info_next(&it)) {
    MonitorInfo m;
    m.rect = {it.data->x, it.data->y, it.data->width, it.data->height};
    m.primary = it.data->primary != 0;
    XcbPtr<xcb_get_atom_name_reply_t> name(
        xcb_get_atom_name_reply(conn, xcb_get_atom_name(conn, it.data->name), nullptr));
    if (name) {
      m.name.assign(xcb_get_atom_name_name(name.get()),
                    static_cast<size_t>(xcb_get_atom_name_name_length(name.get())));
    }
    if (m.name.empty()) m.name = "Monitor " + std::to_string(list.size() + 1);
    list.push_back(std::move(m));
  }
  return list;
}

xcb_window_t FirstRoot(xcb_connection_t* conn, int screenNumber) {
  auto roots = xcb_setup_roots_iterator(xcb_get_setup(conn));
  for (int i = 0; i < screenNumber && roots.rem; ++i) xcb_screen_next(&roots);
  return roots.rem ? roots.data->root : 0;
}

}  // namespace

std::vector<MonitorInfo> X11ScreenSource::ListMonitors(const std::string& display) {
  int screenNumber = 0;
  xcb_connection_t* conn = xcb_connect(display.empty() ? nullptr : display.c_str(), &screenNumber);
  std::vector<MonitorInfo> list;
  if (!xcb_connection_has_error(conn)) {
    xcb_window_t root = FirstRoot(conn, screenNumber);
    if (root != 0) list = ReadMonitors(conn, root);
  }
  xcb_disconnect(conn);
  return list;
}

std::vector<MonitorInfo> X11ScreenSource::Monitors() {
  return options_.monitors ? options_.monitors() : ReadMonitors(conn_, root_);
}

ResolvedArea X11ScreenSource::Resolve() {
  const AreaChoice& choice = options_.area;
  // Only a monitor choice, or a whole screen too large to send, needs the list.
  bool needList = choice.region.Empty() &&
                  (choice.monitor > 0 || screenWidth_ > kMaxFrameWidth ||
                   screenHeight_ > kMaxScreenRows);
  return ResolveArea(screenWidth_, screenHeight_, needList ? Monitors() : std::vector<MonitorInfo>{},
                     choice, kMaxFrameWidth, kMaxScreenRows);
}

X11ScreenSource::X11ScreenSource() : X11ScreenSource(Options{}) {}

X11ScreenSource::X11ScreenSource(Options options) : options_(std::move(options)) {
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

X11ScreenSource::~X11ScreenSource() {
  if (wakeFd_ >= 0) close(wakeFd_);
  if (conn_ != nullptr) {
    if (damage_ != 0) xcb_damage_destroy(conn_, damage_);
    ReleaseShm();
    xcb_disconnect(conn_);
  }
}

void X11ScreenSource::ReleaseShm() {
  if (shmSeg_ != 0) {
    xcb_shm_detach(conn_, shmSeg_);
    xcb_flush(conn_);
    shmSeg_ = 0;
  }
  if (shmAddr_ != nullptr) {
    shmdt(shmAddr_);
    shmAddr_ = nullptr;
  }
  if (shmId_ >= 0) {
    shmctl(shmId_, IPC_RMID, nullptr);
    shmId_ = -1;
  }
}

int X11ScreenSource::FrameBitsPerPixel(int depth, int pixmapBitsPerPixel, bool lsbFirst) {
  if (depth < 15) return depth;
  if (!lsbFirst) return 0;
  if ((depth == 15 || depth == 16) && pixmapBitsPerPixel == 16) return 16;
  if ((depth == 24 || depth == 32) && pixmapBitsPerPixel == 32) return 32;
  return 0;
}

bool X11ScreenSource::Open(ScreenFormat& format) {
  int screenNumber = 0;
  conn_ = xcb_connect(options_.display.empty() ? nullptr : options_.display.c_str(),
                      &screenNumber);
  if (xcb_connection_has_error(conn_)) {
    Log().Print("qcCapture: Unable to connect to the X display\n");
    xcb_disconnect(conn_);
    conn_ = nullptr;
    return false;
  }
  const xcb_setup_t* setup = xcb_get_setup(conn_);
  auto roots = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screenNumber && roots.rem; ++i) xcb_screen_next(&roots);
  if (!roots.rem) return false;
  const xcb_screen_t* screen = roots.data;
  root_ = screen->root;
  screenWidth_ = screen->width_in_pixels;
  screenHeight_ = screen->height_in_pixels;
  depth_ = screen->root_depth;
  ResolvedArea resolved = Resolve();
  area_ = resolved.rect;
  fellBack_ = resolved.fellBack;
  if (area_.Empty()) {
    Log().Print("qcCapture: Nothing of the chosen area lies on the screen\n");
    return false;
  }
  width_ = area_.width;
  height_ = area_.height;

  const xcb_format_t* pixmapFormat = FindFormat(setup, depth_);
  const xcb_visualtype_t* visual = FindVisual(screen, screen->root_visual);
  int pixmapBits = pixmapFormat ? pixmapFormat->bits_per_pixel : 0;
  bool lsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
  int bits = FrameBitsPerPixel(depth_, pixmapBits, lsbFirst);
  if (bits >= 16 && (visual == nullptr || (visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR &&
                                           visual->_class != XCB_VISUAL_CLASS_DIRECT_COLOR))) {
    bits = 0;
  }
  format.width = width_;
  format.height = height_;
  format.originX = area_.x;
  format.originY = area_.y;
  format.partial = area_ != ScreenRect{0, 0, screenWidth_, screenHeight_};
  format.fellBack = fellBack_;
  format.bitsPerPixel = bits;
  if (bits >= 16) {
    format.redMask = visual->red_mask;
    format.greenMask = visual->green_mask;
    format.blueMask = visual->blue_mask;
    bytesPerPixel_ = bits / 8;
    rowBytes_ = static_cast<size_t>(width_) * bytesPerPixel_;
    int pad = pixmapFormat->scanline_pad;
    size_t rowBits = static_cast<size_t>(width_) * pixmapBits;
    xRowBytes_ = (rowBits + pad - 1) / pad * pad / 8;
    frameBytes_ = rowBytes_ * height_;
  }

  // A change of the screen's size is a display change.
  const xcb_query_extension_reply_t* randr = xcb_get_extension_data(conn_, &xcb_randr_id);
  if (randr != nullptr && randr->present) {
    XcbPtr<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(conn_, xcb_randr_query_version(conn_, 1, 5), nullptr));
    if (version) {
      randrEvent_ = randr->first_event;
      haveRandr_ = true;
      xcb_randr_select_input(conn_, root_,
                             XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE |
                                 XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                 XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
    }
  }

  // Drawing anywhere on the screen reports the rectangles drawn.
  dirty_.assign(height_, 1);
  const xcb_query_extension_reply_t* damage = xcb_get_extension_data(conn_, &xcb_damage_id);
  if (options_.useDamage && damage != nullptr && damage->present) {
    XcbPtr<xcb_damage_query_version_reply_t> version(
        xcb_damage_query_version_reply(conn_, xcb_damage_query_version(conn_, 1, 1), nullptr));
    if (version) {
      damage_ = xcb_generate_id(conn_);
      xcb_void_cookie_t cookie = xcb_damage_create_checked(
          conn_, damage_, root_, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
      XcbPtr<xcb_generic_error_t> error(xcb_request_check(conn_, cookie));
      if (error) {
        damage_ = 0;
      } else {
        damageEvent_ = damage->first_event;
      }
    }
  }
  if (damage_ == 0) {
    Log().Print("qcCapture: No damage tracking, every quarter is grabbed on every tick\n");
  } else if (options_.usePointerEvents) {
    // Only a source that sleeps on its connection needs to hear of the pointer.
    SelectPointerEvents();
  }
  xcb_flush(conn_);
  return true;
}

void X11ScreenSource::SelectPointerEvents() {
  const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(conn_, &xcb_input_id);
  if (xinput != nullptr && xinput->present) {
    XcbPtr<xcb_input_xi_query_version_reply_t> version(xcb_input_xi_query_version_reply(
        conn_, xcb_input_xi_query_version(conn_, 2, 2), nullptr));
    if (version && version->major_version >= 2) {
      // XInput 2.0 reports raw motion of the physical (slave) devices only.
      struct {
        xcb_input_event_mask_t head;
        uint32_t bits;
      } mask{};
      mask.head.deviceid = version->minor_version >= 1 ? XCB_INPUT_DEVICE_ALL_MASTER
                                                       : XCB_INPUT_DEVICE_ALL;
      mask.head.mask_len = 1;
      mask.bits = XCB_INPUT_XI_EVENT_MASK_RAW_MOTION;
      XcbPtr<xcb_generic_error_t> error(xcb_request_check(
          conn_, xcb_input_xi_select_events_checked(conn_, root_, 1, &mask.head)));
      if (!error) {
        xinputOpcode_ = xinput->major_opcode;
        pointerEvents_ = true;
      }
    }
  }
  if (!pointerEvents_) {
    Log().Print("qcCapture: No XInput 2, the pointer is queried every update period\n");
    return;
  }
  // A new cursor shape without a move (a busy cursor, say) wakes too.
  const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(conn_, &xcb_xfixes_id);
  if (xfixes == nullptr || !xfixes->present) return;
  XcbPtr<xcb_xfixes_query_version_reply_t> version(
      xcb_xfixes_query_version_reply(conn_, xcb_xfixes_query_version(conn_, 4, 0), nullptr));
  if (!version || version->major_version < 2) return;
  xfixesEvent_ = xfixes->first_event;
  haveXfixes_ = true;
  xcb_xfixes_select_cursor_input(conn_, root_, XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
}

uint8_t* X11ScreenSource::CreateFrame() {
  if (conn_ == nullptr || frameBytes_ == 0) return nullptr;
  // Grabs of padded X rows land in a scratch band first; a quarter-sized
  // band keeps the segment small.
  if (xRowBytes_ != rowBytes_) {
    scratchRows_ = std::max(1, height_ / 4 + 4);
    scratchOffset_ = (frameBytes_ + 63) / 64 * 64;
  }
  size_t segmentBytes =
      scratchRows_ > 0 ? scratchOffset_ + xRowBytes_ * static_cast<size_t>(scratchRows_)
                       : frameBytes_;

  const xcb_query_extension_reply_t* shm = xcb_get_extension_data(conn_, &xcb_shm_id);
  if (options_.useShm && shm != nullptr && shm->present) {
    shmId_ = shmget(IPC_PRIVATE, segmentBytes, IPC_CREAT | 0600);
    if (shmId_ >= 0) {
      void* addr = shmat(shmId_, nullptr, 0);
      if (addr != reinterpret_cast<void*>(-1)) {
        shmAddr_ = static_cast<uint8_t*>(addr);
        uint32_t seg = xcb_generate_id(conn_);
        XcbPtr<xcb_generic_error_t> error(
            xcb_request_check(conn_, xcb_shm_attach_checked(conn_, seg, shmId_, 0)));
        if (!error) shmSeg_ = seg;
      }
      // Both sides are attached (or it failed): the segment goes away with
      // the last detach, also when the process dies.
      shmctl(shmId_, IPC_RMID, nullptr);
      shmId_ = -1;
    }
    if (shmSeg_ == 0) ReleaseShm();
  }
  if (shmSeg_ != 0) {
    frame_ = shmAddr_;
  } else {
    Log().Print("qcCapture: MIT-SHM is not available, grabbing through the X connection\n");
    scratchRows_ = 0;
    try {
      heapFrame_.assign(frameBytes_, 0);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    frame_ = heapFrame_.data();
  }
  std::memset(frame_, 0, frameBytes_);
  return frame_;
}

void X11ScreenSource::MarkRows(int first, int end) {
  first = std::max(first, 0);
  end = std::min(end, height_);
  if (first < end) std::fill(dirty_.begin() + first, dirty_.begin() + end, 1);
}

void X11ScreenSource::ProcessEvents() {
  bool damaged = false;
  bool monitorsChanged = false;
  while (xcb_generic_event_t* raw = xcb_poll_for_event(conn_)) {
    XcbPtr<xcb_generic_event_t> event(raw);
    uint8_t type = event->response_type & 0x7F;
    if (damage_ != 0 && type == damageEvent_ + XCB_DAMAGE_NOTIFY) {
      auto* notify = reinterpret_cast<xcb_damage_notify_event_t*>(raw);
      ScreenRect drawn =
          ScreenRect{notify->area.x, notify->area.y, notify->area.width, notify->area.height}
              .Intersect(area_);
      if (!drawn.Empty()) MarkRows(drawn.y - area_.y, drawn.y - area_.y + drawn.height);
      damaged = true;
    } else if (haveRandr_ && type == randrEvent_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY) {
      auto* change = reinterpret_cast<xcb_randr_screen_change_notify_event_t*>(raw);
      if (change->width != screenWidth_ || change->height != screenHeight_) displayChanged_ = true;
      monitorsChanged = true;
    } else if (haveRandr_ && type == randrEvent_ + XCB_RANDR_NOTIFY) {
      monitorsChanged = true;  // a CRTC or output changed
    } else if (pointerEvents_ && type == XCB_GE_GENERIC &&
               reinterpret_cast<xcb_ge_generic_event_t*>(raw)->extension == xinputOpcode_) {
      pointerMoved_ = true;  // raw motion: the only XInput event selected
    } else if (haveXfixes_ && type == xfixesEvent_ + XCB_XFIXES_CURSOR_NOTIFY) {
      pointerMoved_ = true;
    }
  }
  // Monitors plugged, unplugged or moved so that the shared monitor (or the
  // primary one taken in its place) now covers another area.
  bool fromMonitor = options_.area.region.Empty() && (options_.area.monitor > 0 || fellBack_);
  if (monitorsChanged && fromMonitor && !displayChanged_ && Resolve().rect != area_) {
    displayChanged_ = true;
  }
  if (damaged) {
    // The server also collects the rectangles in the damage object's
    // region; empty it so that it does not grow with every drawing.
    xcb_damage_subtract(conn_, damage_, XCB_NONE, XCB_NONE);
    xcb_flush(conn_);
  }
  if (!displayChanged_ && xcb_connection_has_error(conn_)) {
    Log().Print("qcCapture: Lost the connection to the X display\n");
    displayChanged_ = true;
  }
}

bool X11ScreenSource::MayHaveChanged(int first, int end) {
  if (damage_ == 0) return true;
  ProcessEvents();
  first = std::max(first, 0);
  end = std::min(end, height_);
  return std::find(dirty_.begin() + first, dirty_.begin() + end, 1) != dirty_.begin() + end;
}

void X11ScreenSource::WaitForDamage(int timeoutMs) {
  if (conn_ == nullptr || damage_ == 0) return;
  // Drains what xcb already read: poll() sees only what is still unread.
  ProcessEvents();
  if (displayChanged_ || pointerMoved_ ||
      std::find(dirty_.begin(), dirty_.end(), 1) != dirty_.end()) {
    return;
  }
  xcb_flush(conn_);
  pollfd fds[2] = {{xcb_get_file_descriptor(conn_), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
  poll(fds, wakeFd_ >= 0 ? 2 : 1, std::max(0, timeoutMs));
  if (wakeFd_ >= 0 && (fds[1].revents & POLLIN) != 0) {
    uint64_t count = 0;
    ssize_t n = read(wakeFd_, &count, sizeof count);
    (void)n;
  }
}

bool X11ScreenSource::TakePointerEvent() {
  if (conn_ == nullptr || !pointerEvents_) return false;
  ProcessEvents();
  return std::exchange(pointerMoved_, false);
}

void X11ScreenSource::Wake() {
  if (wakeFd_ < 0) return;
  uint64_t one = 1;
  ssize_t n = write(wakeFd_, &one, sizeof one);
  (void)n;
}

void X11ScreenSource::DrawnBand(int first, int end, int& from, int& to) {
  first = std::max(first, 0);
  end = std::max(first, std::min(end, height_));
  from = to = first;
  if (damage_ == 0) {
    to = end;
    return;
  }
  ProcessEvents();
  auto begin = dirty_.begin();
  auto top = std::find(begin + first, begin + end, 1);
  if (top == begin + end) return;
  auto bottom = std::find(std::make_reverse_iterator(begin + end),
                          std::make_reverse_iterator(top), 1);
  from = static_cast<int>(top - begin);
  to = static_cast<int>(bottom.base() - begin);
}

bool X11ScreenSource::DisplayChanged() {
  if (conn_ == nullptr) return false;
  ProcessEvents();
  return displayChanged_;
}

void X11ScreenSource::ClearPadBytes(int first, int end) {
  uint32_t* p = reinterpret_cast<uint32_t*>(frame_ + rowBytes_ * first);
  uint32_t* stop = reinterpret_cast<uint32_t*>(frame_ + rowBytes_ * end);
  // Little-endian pixels: byte 3 is the top byte of each 32-bit word.
  for (; p < stop; ++p) *p &= 0x00FFFFFFu;
}

bool X11ScreenSource::GrabBand(int first, int rows) {
  const uint32_t planes = ~0u;
  if (shmSeg_ != 0) {
    bool direct = scratchRows_ == 0;
    uint32_t offset = static_cast<uint32_t>(direct ? rowBytes_ * first : scratchOffset_);
    XcbPtr<xcb_shm_get_image_reply_t> reply(xcb_shm_get_image_reply(
        conn_,
        xcb_shm_get_image(conn_, root_, static_cast<int16_t>(area_.x),
                          static_cast<int16_t>(area_.y + first),
                          static_cast<uint16_t>(width_), static_cast<uint16_t>(rows), planes,
                          XCB_IMAGE_FORMAT_Z_PIXMAP, shmSeg_, offset),
        nullptr));
    if (!reply) return false;
    if (!direct) {
      // Compact the padded X rows into the frame's unpadded ones.
      const uint8_t* in = shmAddr_ + scratchOffset_;
      for (int r = 0; r < rows; ++r) {
        std::memcpy(frame_ + rowBytes_ * (first + r), in + xRowBytes_ * r, rowBytes_);
      }
    }
    return true;
  }
  XcbPtr<xcb_get_image_reply_t> reply(xcb_get_image_reply(
      conn_,
      xcb_get_image(conn_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, static_cast<int16_t>(area_.x),
                    static_cast<int16_t>(area_.y + first),
                    static_cast<uint16_t>(width_), static_cast<uint16_t>(rows), planes),
      nullptr));
  if (!reply) return false;
  const uint8_t* in = xcb_get_image_data(reply.get());
  size_t length = static_cast<size_t>(xcb_get_image_data_length(reply.get()));
  if (length < xRowBytes_ * (rows - 1) + rowBytes_) return false;
  for (int r = 0; r < rows; ++r) {
    std::memcpy(frame_ + rowBytes_ * (first + r), in + xRowBytes_ * r, rowBytes_);
  }
  return true;
}

bool X11ScreenSource::GrabRows(int first, int end) {
  if (frame_ == nullptr) return false;
  first = std::max(first, 0);
  end = std::min(end, height_);
  if (first >= end) return true;
  if (damage_ != 0) {
    // Drawing reported from now on is after this grab began; what is
    // still in flight marks the rows again, which costs one more grab.
    ProcessEvents();
    std::fill(dirty_.begin() + first, dirty_.begin() + end, 0);
  }
  bool ok = true;
  int band = scratchRows_ > 0 ? scratchRows_ : end - first;
  for (int row = first; row < end && ok; row += band) {
    ok = GrabBand(row, std::min(band, end - row));
  }
  if (!ok) {
    if (!grabFailureLogged_) {
      Log().Print("qcCapture: Unable to grab rows %d to %d of the screen\n", first, end - 1);
      grabFailureLogged_ = true;
    }
    MarkRows(first, end);
    return false;
  }
  grabFailureLogged_ = false;
  if (bytesPerPixel_ == 4) ClearPadBytes(first, end);
  return true;
}

}  // namespace qc
