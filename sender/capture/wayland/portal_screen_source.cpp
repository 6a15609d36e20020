// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/wayland/portal_screen_source.h"

#include <fcntl.h>
#include <pipewire/pipewire.h>
#include <poll.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "common/log_file.h"
#include "common/strip_format.h"
#include "sender/capture/wayland/frame_rows.h"
#include "sender/capture/wayland/pipewire_params.h"
#include "sender/capture/wayland/portal_consent.h"
#include "sender/capture/wayland/portal_screen_cast.h"

namespace qc {

namespace {

// How long Open waits for the stream's first frame once the portal agreed.
constexpr int kFirstFrameMs = 15000;

// Premultiplied to straight alpha, 0xAARRGGBB.
uint32_t Unpremultiply(uint32_t argb) {
  uint32_t a = argb >> 24;
  if (a == 0 || a == 255) return a == 0 ? 0 : argb;
  auto channel = [a](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
  return (a << 24) | (channel((argb >> 16) & 0xFF) << 16) | (channel((argb >> 8) & 0xFF) << 8) |
         channel(argb & 0xFF);
}

}  // namespace

struct PortalScreenSource::State {
  std::unique_ptr<PortalScreenCast> portal;
  // PipeWire runs on its own thread; its callbacks run with the thread
  // loop's lock held, and everything below that they touch is read with
  // the lock held (Lock).
  pw_thread_loop* thread = nullptr;
  pw_context* context = nullptr;
  pw_core* core = nullptr;
  pw_stream* stream = nullptr;
  spa_hook streamHook{};

  // The negotiated stream.
  uint32_t format = 0;
  int streamWidth = 0, streamHeight = 0;
  bool negotiated = false;
  int streamX = 0, streamY = 0;  // the monitor's place in the layout

  // The shared part of the stream, and the staging picture (frame layout:
  // crop.width x 4 bytes a row, byte 3 zero).
  ScreenRect crop;
  std::vector<uint8_t> staging;
  std::vector<uint8_t> row;  // one converted row, for the comparison
  std::vector<uint8_t> image;  // the engine's frame
  std::vector<uint8_t> dirty;
  bool haveFrame = false;
  uint64_t frames = 0;
  bool opened = false;
  bool displayChanged = false;
  bool badBufferLogged = false;

  // The cursor from the metadata.
  bool cursorMetadata = false;
  bool cursorKnown = false;
  CursorState cursor;
  CursorImage cursorImage;
  uint32_t nextHandle = 1;
  bool pointerEvent = false;

  int wakeFd = -1;
  int noticeFd = -1;

  ~State();
  void ChangeDisplay(const char* why);
  // Tells a waiting Open or WaitForDamage that something arrived.
  void Notify();
  // Waits until Notify, Wake (when `wakeable`) or timeoutMs passed.
  void WaitForNotice(int timeoutMs, bool wakeable);
  struct Lock {
    explicit Lock(State& s) : thread(s.thread) {
      if (thread != nullptr) pw_thread_loop_lock(thread);
    }
    ~Lock() {
      if (thread != nullptr) pw_thread_loop_unlock(thread);
    }
    pw_thread_loop* thread;
  };
  void OnFormat(const spa_pod* param);
  void OnBuffer(spa_buffer* buffer);
  void ReadCursor(spa_buffer* buffer);
  void MarkRows(int first, int end);
};

namespace {

void OnStateChanged(void* data, pw_stream_state, pw_stream_state state, const char* error) {
  auto* s = static_cast<PortalScreenSource::State*>(data);
  if (state == PW_STREAM_STATE_ERROR) {
    Log().Print("qcCapture: The screen-cast stream failed: %s\n", error ? error : "");
    s->ChangeDisplay("The screen-cast stream ended");
  } else if (state == PW_STREAM_STATE_UNCONNECTED && s->opened) {
    s->ChangeDisplay("The screen-cast stream ended (sharing was stopped)");
  }
}

void OnParamChanged(void* data, uint32_t id, const spa_pod* param) {
  if (id == SPA_PARAM_Format && param != nullptr) {
    static_cast<PortalScreenSource::State*>(data)->OnFormat(param);
  }
}

void OnProcess(void* data) {
  auto* s = static_cast<PortalScreenSource::State*>(data);
  // Every buffer in turn: each one's damage counts.
  while (pw_buffer* b = pw_stream_dequeue_buffer(s->stream)) {
    s->OnBuffer(b->buffer);
    pw_stream_queue_buffer(s->stream, b);
  }
}

pw_stream_events MakeStreamEvents() {
  pw_stream_events events{};
  events.version = PW_VERSION_STREAM_EVENTS;
  events.state_changed = OnStateChanged;
  events.param_changed = OnParamChanged;
  events.process = OnProcess;
  return events;
}

const pw_stream_events kStreamEvents = MakeStreamEvents();

class PortalCursorSource : public CursorSource {
 public:
  explicit PortalCursorSource(PortalScreenSource::State* s) : s_(s) {}
  bool Query(CursorState& state) override {
    PortalScreenSource::State::Lock lock(*s_);
    if (!s_->cursorMetadata || !s_->cursorKnown) {
      state = CursorState{};
      return true;
    }
    state = s_->cursor;
      return true;
  }
  bool ReadImage(CursorImage& image) override {
    PortalScreenSource::State::Lock lock(*s_);
    if (!s_->cursorKnown || s_->cursorImage.pixels.empty()) return false;
    image = s_->cursorImage;
    return true;
  }

 private:
  PortalScreenSource::State* s_;
};

}  // namespace

PortalScreenSource::State::~State() {
  if (thread != nullptr) pw_thread_loop_stop(thread);
  if (stream != nullptr) {
    spa_hook_remove(&streamHook);  // its end now is ours, not the desktop's
    pw_stream_destroy(stream);
  }
  if (core != nullptr) pw_core_disconnect(core);
  if (context != nullptr) pw_context_destroy(context);
  if (thread != nullptr) pw_thread_loop_destroy(thread);
  if (noticeFd >= 0) close(noticeFd);
  if (portal) portal->Close();
  if (wakeFd >= 0) close(wakeFd);
}

void PortalScreenSource::State::ChangeDisplay(const char* why) {
  if (!displayChanged) Log().Print("qcCapture: %s\n", why);
  displayChanged = true;
  Notify();
}

void PortalScreenSource::State::Notify() {
  uint64_t one = 1;
  ssize_t n = write(noticeFd, &one, sizeof one);
  (void)n;
}

void PortalScreenSource::State::WaitForNotice(int timeoutMs, bool wakeable) {
  pollfd fds[2] = {{noticeFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  poll(fds, wakeable && wakeFd >= 0 ? 2 : 1, std::max(0, timeoutMs));
  for (int i = 0; i < (wakeable ? 2 : 1); ++i) {
    if ((fds[i].revents & POLLIN) != 0) {
      uint64_t count = 0;
      ssize_t r = read(fds[i].fd, &count, sizeof count);
      (void)r;
    }
  }
}

void PortalScreenSource::State::OnFormat(const spa_pod* param) {
  uint32_t newFormat = 0;
  int width = 0, height = 0;
  if (qc_pw_parse_format(param, &newFormat, &width, &height) < 0 ||
      !qc_pw_format_supported(newFormat) || width <= 0 || height <= 0) {
    ChangeDisplay("The screen-cast stream has a format that cannot be captured");
    return;
  }
  if (negotiated && (width != streamWidth || height != streamHeight || newFormat != format)) {
    ChangeDisplay("The shared monitor changed its size");
    return;
  }
  format = newFormat;
  streamWidth = width;
  streamHeight = height;
  negotiated = true;
  Notify();
  uint8_t buffer[1024];
  const spa_pod* params[4];
  int n = qc_pw_buffer_params(buffer, sizeof buffer, params);
  pw_stream_update_params(stream, params, static_cast<uint32_t>(n));
}

void PortalScreenSource::State::MarkRows(int first, int end) {
  first = std::max(first, 0);
  end = std::min(end, static_cast<int>(dirty.size()));
  if (first < end) std::fill(dirty.begin() + first, dirty.begin() + end, 1);
}

void PortalScreenSource::State::ReadCursor(spa_buffer* buffer) {
  auto* meta = static_cast<spa_meta_cursor*>(
      spa_buffer_find_meta_data(buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)));
  if (meta == nullptr || !spa_meta_cursor_is_valid(meta)) return;
  const spa_meta* whole = spa_buffer_find_meta(buffer, SPA_META_Cursor);
  CursorState next = cursor;
  next.x = streamX + meta->position.x;
  next.y = streamY + meta->position.y;
  if (meta->bitmap_offset >= sizeof(spa_meta_cursor) &&
      meta->bitmap_offset + sizeof(spa_meta_bitmap) <= whole->size) {
    auto* bitmap = SPA_PTROFF(meta, meta->bitmap_offset, spa_meta_bitmap);
    const uint32_t w = bitmap->size.width, h = bitmap->size.height;
    const uint32_t stride = bitmap->stride != 0 ? static_cast<uint32_t>(bitmap->stride) : w * 4;
    const size_t end = static_cast<size_t>(meta->bitmap_offset) + bitmap->offset +
                       static_cast<size_t>(stride) * (h > 0 ? h - 1 : 0) + w * 4;
    const bool redFirst = bitmap->format == SPA_VIDEO_FORMAT_RGBA;
    const bool known = redFirst || bitmap->format == SPA_VIDEO_FORMAT_BGRA;
    if (w == 0 || h == 0) {
      next.showing = false;  // an empty cursor: the pointer is hidden
    } else if (known && w <= QC_PW_CURSOR_MAX && h <= QC_PW_CURSOR_MAX && stride >= w * 4 &&
               end <= whole->size) {
      next.showing = true;
      const uint8_t* pixels = SPA_PTROFF(bitmap, bitmap->offset, const uint8_t);
      cursorImage.width = static_cast<int>(w);
      cursorImage.height = static_cast<int>(h);
      cursorImage.hotX = meta->hotspot.x;
      cursorImage.hotY = meta->hotspot.y;
      cursorImage.pixels.resize(static_cast<size_t>(w) * h);
      for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* p = pixels + static_cast<size_t>(stride) * y;
        for (uint32_t x = 0; x < w; ++x, p += 4) {
          uint32_t r = redFirst ? p[0] : p[2], g = p[1], b = redFirst ? p[2] : p[0], a = p[3];
          cursorImage.pixels[static_cast<size_t>(y) * w + x] =
              Unpremultiply((a << 24) | (r << 16) | (g << 8) | b);
        }
      }
      next.handle = nextHandle++;
      cursorImage.handle = next.handle;
    }
  }
  if (!cursorKnown || next.x != cursor.x || next.y != cursor.y || next.handle != cursor.handle ||
      next.showing != cursor.showing) {
    pointerEvent = true;
    Notify();
  }
  cursor = next;
  cursorKnown = true;
}

void PortalScreenSource::State::OnBuffer(spa_buffer* buffer) {
  // Before Open sized the staging picture, buffers are dropped.
  if (buffer == nullptr || buffer->n_datas < 1 || !negotiated || staging.empty()) return;
  auto* header = static_cast<spa_meta_header*>(
      spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
  if (header != nullptr && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED) != 0) return;
  if (cursorMetadata) ReadCursor(buffer);
  const spa_data& d = buffer->datas[0];
  if (d.chunk == nullptr || d.chunk->size == 0) return;  // the cursor only
  if ((d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) != 0 || d.data == nullptr) return;
  const size_t stride = d.chunk->stride > 0 ? static_cast<size_t>(d.chunk->stride)
                                            : static_cast<size_t>(streamWidth) * 4;
  const size_t offset = d.chunk->offset % std::max<uint32_t>(d.maxsize, 1);
  const size_t need =
      offset + stride * static_cast<size_t>(streamHeight - 1) + static_cast<size_t>(streamWidth) * 4;
  if (stride < static_cast<size_t>(streamWidth) * 4 || need > d.maxsize) {
    if (!badBufferLogged) {
      Log().Print("qcCapture: Dropped a screen-cast buffer too small for its frame\n");
      badBufferLogged = true;
    }
    return;
  }
  const uint8_t* base = static_cast<const uint8_t*>(d.data) + offset;
  const size_t rowBytes = static_cast<size_t>(crop.width) * 4;

  // The rows to look at: those of the damage metadata, or all of them.
  int top = 0, bottom = crop.height;
  const spa_meta* damage = spa_buffer_find_meta(buffer, SPA_META_VideoDamage);
  bool compare = true;
  if (damage != nullptr && haveFrame) {
    int from = crop.height, to = 0;
    int valid = 0;
    spa_meta_region* region = nullptr;
    spa_meta_for_each(region, damage) {
      if (!spa_meta_region_is_valid(region)) break;
      ++valid;
      ScreenRect r{region->region.position.x - crop.x, region->region.position.y - crop.y,
                   static_cast<int>(std::min<uint32_t>(region->region.size.width, 1u << 20)),
                   static_cast<int>(std::min<uint32_t>(region->region.size.height, 1u << 20))};
      r = r.Intersect({0, 0, crop.width, crop.height});
      if (!r.Empty()) {
        from = std::min(from, r.y);
        to = std::max(to, r.y + r.height);
      }
    }
    if (valid > 0) {
      // The compositor names what it drew: no need to compare.
      compare = false;
      top = from;
      bottom = std::max(from, to);
    }
  }
  for (int y = top; y < bottom; ++y) {
    const uint8_t* in = base + stride * static_cast<size_t>(crop.y + y) +
                        static_cast<size_t>(crop.x) * 4;
    uint8_t* target = compare ? row.data() : staging.data() + rowBytes * y;
    CopyPixelsClearingPad(target, in, static_cast<size_t>(crop.width));
    if (compare) {
      uint8_t* out = staging.data() + rowBytes * y;
      if (haveFrame && std::memcmp(out, target, rowBytes) == 0) continue;
      std::memcpy(out, target, rowBytes);
    }
    dirty[y] = 1;
  }
  haveFrame = true;
  ++frames;
  if (bottom > top || frames == 1) Notify();
}

PortalScreenSource::PortalScreenSource(Options options)
    : options_(std::move(options)), s_(std::make_unique<State>()) {
  s_->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  s_->noticeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

PortalScreenSource::~PortalScreenSource() = default;

std::unique_ptr<CursorSource> PortalScreenSource::MakeCursorSource() {
  return std::make_unique<PortalCursorSource>(s_.get());
}

bool PortalScreenSource::Available() { return PortalScreenCast::Available(); }

bool PortalScreenSource::TakePointerEvent() {
  State::Lock lock(*s_);
  return std::exchange(s_->pointerEvent, false);
}

bool PortalScreenSource::Open(ScreenFormat& format) {
  State& s = *s_;
  s.portal = std::move(options_.started);
  if (!s.portal) {
    // Nobody asked ahead (a restart): ask here, waiting for the answer.
    PortalConsent consent(options_.tokenPath, options_.answerTimeoutMs);
    if (!consent.Ask()) {
      if (options_.refused) options_.refused(consent.Reason());
      return false;
    }
    s.portal = consent.TakeCast();
  }
  s.cursorMetadata = s.portal->CursorAsMetadata();
  s.streamX = s.portal->StreamInfo().x;
  s.streamY = s.portal->StreamInfo().y;

  pw_init(nullptr, nullptr);
  s.thread = pw_thread_loop_new("quillcast-pw", nullptr);
  if (s.thread == nullptr || s.noticeFd < 0 || pw_thread_loop_start(s.thread) < 0) {
    Log().Print("qcCapture: Cannot start PipeWire\n");
    return false;
  }
  State::Lock setUp(s);
  s.context = pw_context_new(pw_thread_loop_get_loop(s.thread), nullptr, 0);
  int fd = s.portal->TakePipeWireFd();
  s.core = s.context ? pw_context_connect_fd(s.context, fd, nullptr, 0) : nullptr;
  if (s.core == nullptr) {
    if (s.context == nullptr && fd >= 0) close(fd);
    Log().Print("qcCapture: Cannot connect to PipeWire through the portal\n");
    return false;
  }
  s.stream = pw_stream_new(s.core, "Quillcast",
                           pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                             "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
  if (s.stream == nullptr) return false;
  pw_stream_add_listener(s.stream, &s.streamHook, &kStreamEvents, &s);
  uint8_t buffer[1024];
  const spa_pod* params[1] = {qc_pw_format_param(buffer, sizeof buffer)};
  if (pw_stream_connect(s.stream, PW_DIRECTION_INPUT, s.portal->StreamInfo().node,
                        static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT |
                                                     PW_STREAM_FLAG_MAP_BUFFERS),
                        params, 1) < 0) {
    Log().Print("qcCapture: Cannot connect to the screen-cast stream\n");
    return false;
  }
  pw_thread_loop_unlock(s.thread);

  // The format first (it sizes the staging picture), then the first frame.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFirstFrameMs);
  auto left = [&deadline] {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                deadline - std::chrono::steady_clock::now())
                                .count());
  };
  auto waitFor = [&](auto done) {
    while (true) {
      {
        State::Lock lock(s);
        if (done() || s.displayChanged) return done();
      }
      if (left() <= 0) return false;
      s.WaitForNotice(left(), false);
    }
  };
  bool started = waitFor([&s] { return s.negotiated; });
  pw_thread_loop_lock(s.thread);  // held until the end of Open (setUp)
  if (!started || s.displayChanged) {
    Log().Print("qcCapture: The screen-cast stream did not start\n");
    return false;
  }
  AreaChoice choice;
  if (!options_.area.region.Empty()) {
    choice.region = options_.area.region;
    choice.region.x -= s.streamX;
    choice.region.y -= s.streamY;
  } else if (options_.area.monitor > 0) {
    Log().Print("qcCapture: The monitor is the one chosen in the desktop's dialog\n");
  }
  ResolvedArea area = ResolveArea(s.streamWidth, s.streamHeight, {}, choice, kMaxFrameWidth,
                                  kMaxScreenRows);
  if (area.rect.Empty()) {
    Log().Print("qcCapture: Nothing of the chosen area lies on the shared monitor\n");
    return false;
  }
  s.crop = area.rect;
  const size_t rowBytes = static_cast<size_t>(s.crop.width) * 4;
  s.staging.assign(rowBytes * s.crop.height, 0);
  s.row.assign(rowBytes, 0);
  s.dirty.assign(s.crop.height, 1);
  pw_thread_loop_unlock(s.thread);
  bool framed = waitFor([&s] { return s.frames > 0; });
  pw_thread_loop_lock(s.thread);
  if (!framed) {
    Log().Print("qcCapture: The screen-cast stream sent no frame\n");
    return false;
  }
  s.opened = true;

  format = ScreenFormat{};
  format.width = s.crop.width;
  format.height = s.crop.height;
  format.bitsPerPixel = 32;
  bool redFirst = qc_pw_format_red_first(s.format) != 0;
  format.redMask = redFirst ? 0x000000FFu : 0x00FF0000u;
  format.greenMask = 0x0000FF00u;
  format.blueMask = redFirst ? 0x00FF0000u : 0x000000FFu;
  format.originX = s.streamX + s.crop.x;
  format.originY = s.streamY + s.crop.y;
  format.partial = s.crop != ScreenRect{0, 0, s.streamWidth, s.streamHeight};
  format.fellBack = area.fellBack;
  Log().Print("qcCapture: Capturing a %d x %d monitor through the ScreenCast portal (cursor %s)\n",
              s.streamWidth, s.streamHeight,
              s.cursorMetadata ? "as metadata" : "drawn in by the desktop");
  return true;
}

uint8_t* PortalScreenSource::CreateFrame() {
  State& s = *s_;
  if (!s.opened) return nullptr;
  try {
    s.image.assign(s.staging.size(), 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return s.image.data();
}

bool PortalScreenSource::GrabRows(int first, int end) {
  State& s = *s_;
  if (s.image.empty()) return false;
  first = std::max(first, 0);
  end = std::min(end, s.crop.height);
  if (first >= end) return true;
  State::Lock lock(s);
  const size_t rowBytes = static_cast<size_t>(s.crop.width) * 4;
  std::memcpy(s.image.data() + rowBytes * first, s.staging.data() + rowBytes * first,
              rowBytes * (end - first));
  std::fill(s.dirty.begin() + first, s.dirty.begin() + end, 0);
  return true;
}

bool PortalScreenSource::MayHaveChanged(int first, int end) {
  int from = 0, to = 0;
  DrawnBand(first, end, from, to);
  return from < to;
}

void PortalScreenSource::DrawnBand(int first, int end, int& from, int& to) {
  State& s = *s_;
  State::Lock lock(s);
  DrawnRowBand(s.dirty, first, end, from, to);
}

void PortalScreenSource::WaitForDamage(int timeoutMs) {
  State& s = *s_;
  if (!s.opened) return;
  {
    State::Lock lock(s);
    if (s.displayChanged || s.pointerEvent || AnyRowDrawn(s.dirty)) return;
  }
  // A notice that came since is still pending on its eventfd.
  s.WaitForNotice(timeoutMs, true);
}

void PortalScreenSource::Wake() {
  if (s_->wakeFd < 0) return;
  uint64_t one = 1;
  ssize_t n = write(s_->wakeFd, &one, sizeof one);
  (void)n;
}

bool PortalScreenSource::DisplayChanged() {
  State& s = *s_;
  if (!s.opened) return false;
  State::Lock lock(s);
  return s.displayChanged;
}

}  // namespace qc
