// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/windows/win_viewer_window.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "common/log_file.h"
#include "receiver/viewer/receiver_commands.h"

namespace qc {

namespace {

constexpr char kViewerClass[] = "Quillview viewer class";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_VSCROLL | WS_HSCROLL |
                               WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
// Taken away in full screen, given back when it ends.
constexpr DWORD kFrameStyle = WS_CAPTION | WS_VSCROLL | WS_HSCROLL | WS_THICKFRAME;
constexpr UINT kWakeMessage = WM_APP + 1;     // the update thread has requests
constexpr UINT kCommandMessage = WM_APP + 2;  // a window command for the handler
constexpr UINT_PTR kFrameTimer = 1;

RECT ToRECT(const Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

// The cursor shown over the focused viewer: 32 x 32, every pixel
// transparent, so that only the sender's cursor drawn into the image is seen.
HCURSOR TransparentCursor() {
  static HCURSOR cursor = [] {
    uint8_t andMask[32 * 4];
    uint8_t xorMask[32 * 4];
    std::memset(andMask, 0xFF, sizeof andMask);
    std::memset(xorMask, 0x00, sizeof xorMask);
    return CreateCursor(GetModuleHandleA(nullptr), 15, 15, 32, 32, andMask, xorMask);
  }();
  return cursor;
}

// A top-down 32-bit DIB section, selected into dc (made when null).
bool MakeDib(int width, int height, HDC& dc, HBITMAP& bitmap, HGDIOBJ& old, uint32_t*& bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* pixels = nullptr;
  bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  if (bitmap == nullptr) return false;
  if (dc == nullptr) dc = CreateCompatibleDC(nullptr);
  if (dc == nullptr) {
    DeleteObject(bitmap);
    bitmap = nullptr;
    return false;
  }
  HGDIOBJ previous = SelectObject(dc, bitmap);
  if (old == nullptr) old = previous;
  bits = static_cast<uint32_t*>(pixels);
  return true;
}

void FreeDib(HDC& dc, HBITMAP& bitmap, HGDIOBJ& old) {
  if (dc != nullptr && old != nullptr) SelectObject(dc, old);
  if (bitmap != nullptr) DeleteObject(bitmap);
  if (dc != nullptr) DeleteDC(dc);
  dc = nullptr;
  bitmap = nullptr;
  old = nullptr;
}

}  // namespace

WinViewerWindow::WinViewerWindow(ViewerSource& source) : source_(source) {
  static const bool registered = [] {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hIcon = classIcon_ != 0 ? LoadIconA(wc.hInstance, MAKEINTRESOURCEA(classIcon_))
                               : LoadIconA(nullptr, IDI_APPLICATION);
    wc.hCursor = TransparentCursor();
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = kViewerClass;
    return RegisterClassExA(&wc) != 0;
  }();
  (void)registered;
  // Paints of invalidated areas follow the display's refresh; a display
  // that reports no sensible rate gets 60 Hz.
  HDC screen = GetDC(nullptr);
  const int hz = screen != nullptr ? GetDeviceCaps(screen, VREFRESH) : 0;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  SetRefreshRate(hz);
}

WinViewerWindow::~WinViewerWindow() {
  if (model_.Started()) {
    ViewerStopping();
    source_.Stop();
  }
  model_.EndQuietly();  // the program is ending already
  if (hwnd_ != nullptr && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  hwnd_ = nullptr;
  ReleaseBitmaps();
  FreeDib(backDc_, backBitmap_, backOld_);
  FreeDib(cursorDc_, cursorBitmap_, cursorOld_);
  FreeDib(invertDc_, invertBitmap_, invertOld_);
}

// ---------------------------------------------------------------------------
// Life of a cycle (GUI thread).

bool WinViewerWindow::CreateViewerWindow() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  hwnd_ = CreateWindowExA(WS_EX_WINDOWEDGE, kViewerClass, "Quillview", kWindowStyle,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                          nullptr, instance, this);
  if (hwnd_ == nullptr) {
    Log().Print("qvViewer: Unable to create main window\n");
    return false;
  }
  ShowWindow(hwnd_, SW_HIDE);
  HMENU system = GetSystemMenu(hwnd_, FALSE);
  if (system != nullptr) {
    AppendMenuA(system, MF_SEPARATOR, 0, nullptr);
    for (const ViewerMenuItem& item : kViewerWindowMenu) {
      AppendMenuA(system, item.text != nullptr ? MF_STRING : MF_SEPARATOR,
                  static_cast<UINT_PTR>(item.id), item.text);
    }
  }
  barsHidden_ = false;
  return true;
}

bool WinViewerWindow::Start(ViewerOwner* owner, uint16_t port, bool fullScreenSetting) {
  model_.Start(owner, fullScreenSetting);
  wakePosted_.store(false);
  if (!CreateViewerWindow()) return false;
  ViewerStarted();
  return source_.Init(owner, this, port);
}

void WinViewerWindow::Stop() {
  if (!model_.Started()) return;
  // Release an update thread waiting in PlaceWindow or UpdateWindow before
  // the source waits for it.
  ViewerStopping();
  source_.Stop();
  model_.Stop();
  ReleaseBitmaps();
  if (hwnd_ != nullptr) {
    if (frameTimerActive_) KillTimer(hwnd_, kFrameTimer);
    frameTimerActive_ = false;
    // WM_DESTROY decides whether the program ends (WindowGone).
    if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }
  WindowGone();
}

void WinViewerWindow::WindowGone() {
  SetShown(false);
  model_.WindowGone();
}

void WinViewerWindow::ShowViewer(bool show) {
  if (hwnd_ == nullptr) return;
  if (!show) {
    ShowWindow(hwnd_, SW_HIDE);
    return;
  }
  if (!model_.Placed()) return;
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
}

// ---------------------------------------------------------------------------
// The surface's platform part: the wake-up (any thread), serving and
// painting (GUI thread).

void WinViewerWindow::Wake() {
  // One message in the queue at a time: the handler serves everything that
  // is waiting. A window already gone drops the message.
  if (!wakePosted_.exchange(true)) PostMessageA(hwnd_, kWakeMessage, 0, 0);
}

void WinViewerWindow::ServeRequests() {
  wakePosted_.store(false);
  ServePlacement();
  ScheduleFrame();
}

void WinViewerWindow::ScheduleFrame() {
  if (frameTimerActive_) return;  // the coming frame takes whatever arrived meanwhile
  const int delay = FrameDelayMs();
  if (delay == 0) {
    ServeFrame();
    return;
  }
  frameTimerActive_ = SetTimer(hwnd_, kFrameTimer, static_cast<UINT>(delay), nullptr) != 0;
  if (!frameTimerActive_) ServeFrame();
}

void WinViewerWindow::PaintRects(std::span<const Rect> rects) {
  if (model_.Placed() && IsWindowVisible(hwnd_)) {
    RECT client;
    GetClientRect(hwnd_, &client);
    const Rect all{client.left, client.top, client.right, client.bottom};
    bool any = false;
    for (const Rect& rect : rects) {
      if (model_.Transform().scaled) UpdateScaled(rect);
      const Rect w = Intersect(model_.ToWindow(rect), all);
      if (w.IsEmpty()) continue;
      const RECT r = ToRECT(w);
      InvalidateRect(hwnd_, &r, FALSE);
      any = true;
    }
    if (any) {
      FramePainted();
      ::UpdateWindow(hwnd_);
    }
  }
}

void WinViewerWindow::DoPlaceWindow() {
  const FramebufferView fb = source_.FramebufferInfo();
  if (hwnd_ == nullptr || !MakeFramebufferBitmap(fb)) return;
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  // The frame around a client area without scroll bars.
  RECT outer{0, 0, fb.width, fb.height};
  const DWORD style = static_cast<DWORD>(GetWindowLongA(hwnd_, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongA(hwnd_, GWL_EXSTYLE));
  AdjustWindowRectEx(&outer, style & ~(WS_VSCROLL | WS_HSCROLL), FALSE, exStyle);
  const FrameMargins frame{-outer.left, -outer.top, outer.right - fb.width,
                           outer.bottom - fb.height};
  const Rect place = model_.Place({fb.width, fb.height}, frame,
                                  {work.left, work.top, work.right, work.bottom});
  SetWindowPos(hwnd_, HWND_TOP, place.left, place.top, place.Width(), place.Height(),
               SWP_SHOWWINDOW);
  SetForegroundWindow(hwnd_);
  SizeChanged();
  if (model_.FullScreenSetting()) EnterFullScreen(false);
  InvalidateRect(hwnd_, nullptr, FALSE);
}

// ---------------------------------------------------------------------------
// Sizing, scrolling, full screen (GUI thread).

void WinViewerWindow::SizeChanged() {
  if (!model_.Scrollable() || inSizeChange_ || hwnd_ == nullptr) return;
  inSizeChange_ = true;
  RECT outer;
  GetWindowRect(hwnd_, &outer);
  const bool hide = model_.BarsHidden({outer.right - outer.left, outer.bottom - outer.top});
  // Setting a bar's range may show it again: the visibility is settled
  // after the bars are set, and the client size read after that.
  SetScrollBars();
  if (hide != barsHidden_ ||
      ((GetWindowLongA(hwnd_, GWL_STYLE) & (WS_HSCROLL | WS_VSCROLL)) != 0) == hide) {
    barsHidden_ = hide;
    ShowScrollBar(hwnd_, SB_BOTH, hide ? FALSE : TRUE);
  }
  RECT client;
  GetClientRect(hwnd_, &client);
  client_ = {client.right, client.bottom};
  const ScrollDelta moved = model_.ClientResized(client_);
  if (moved.dx != 0 || moved.dy != 0) {
    ScrollWindowEx(hwnd_, moved.dx, moved.dy, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE);
  }
  SetScrollBars();
  inSizeChange_ = false;
}

void WinViewerWindow::SetScrollBars() {
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  info.nMin = 0;
  const Extent fb = model_.Framebuffer();
  for (const bool horizontal : {true, false}) {
    // The range is the whole framebuffer; the page the client area.
    const ScrollBarRange bar = model_.Bar(horizontal, horizontal ? client_.width : client_.height);
    info.nMax = horizontal ? fb.width : fb.height;
    info.nPage = static_cast<UINT>(bar.page);
    info.nPos = bar.value;
    SetScrollInfo(hwnd_, horizontal ? SB_HORZ : SB_VERT, &info, TRUE);
  }
}

void WinViewerWindow::OnScroll(bool horizontal, WPARAM wp) {
  if (!model_.Scrollable()) return;
  ScrollRequest request = ScrollRequest::Other;
  switch (LOWORD(wp)) {
    case SB_LINEUP: request = ScrollRequest::LineBack; break;
    case SB_LINEDOWN: request = ScrollRequest::LineForward; break;
    case SB_PAGEUP: request = ScrollRequest::PageBack; break;
    case SB_PAGEDOWN: request = ScrollRequest::PageForward; break;
    case SB_THUMBPOSITION: request = ScrollRequest::ThumbPosition; break;
    case SB_THUMBTRACK: request = ScrollRequest::ThumbTrack; break;
    default: break;
  }
  const ScrollDelta d = model_.Request(horizontal, request,
                                       horizontal ? client_.width : client_.height, HIWORD(wp));
  ScrollBy(d.dx, d.dy);
}

bool WinViewerWindow::ScrollBy(int dx, int dy) {
  if (hwnd_ == nullptr) return false;
  RECT client;
  GetClientRect(hwnd_, &client);
  const ScrollDelta d = model_.ScrollBy({dx, dy}, {client.right, client.bottom});
  if (d.dx == 0 && d.dy == 0) return false;
  ScrollWindowEx(hwnd_, -d.dx, -d.dy, nullptr, nullptr, nullptr, nullptr, SW_INVALIDATE);
  SetScrollBars();
  ::UpdateWindow(hwnd_);  // the uncovered strip at once
  return true;
}

void WinViewerWindow::SetFullScreen(bool on) {
  if (!model_.FullScreenChanges(on)) return;
  if (on) {
    EnterFullScreen(true);
  } else {
    LeaveFullScreen();
  }
}

void WinViewerWindow::EnterFullScreen(bool logIt) {
  const int sw = GetSystemMetrics(SM_CXSCREEN);
  const int sh = GetSystemMetrics(SM_CYSCREEN);
  // Full screen first: the size changes that follow leave the bars alone.
  model_.EnterFullScreen({sw, sh});
  GetWindowRect(hwnd_, &savedRect_);
  const LONG style = GetWindowLongA(hwnd_, GWL_STYLE);
  SetWindowLongA(hwnd_, GWL_STYLE, style & ~static_cast<LONG>(kFrameStyle));
  if (model_.Transform().scaled) {
    const Rect image = model_.ImageRect();
    uint32_t* bits = nullptr;
    if (MakeDib(image.Width(), image.Height(), scaledDc_, scaledBitmap_, scaledOld_, bits)) {
      scaledSize_ = {image.Width(), image.Height()};
      scaledStale_ = true;
    } else {
      // Without the memory for it the image is shown unscaled.
      ReleaseScaled();
      model_.ShowUnscaled({sw, sh});
    }
  }
  SetForegroundWindow(hwnd_);
  SetWindowPos(hwnd_, HWND_TOP, 0, 0, sw, sh, SWP_FRAMECHANGED | SWP_SHOWWINDOW);
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(hwnd_, &placement);
  placement.showCmd = SW_SHOWMAXIMIZED;
  SetWindowPlacement(hwnd_, &placement);
  // A maximised window may have been given the work area only.
  SetWindowPos(hwnd_, HWND_TOP, 0, 0, sw, sh, SWP_NOACTIVATE);
  InvalidateRect(hwnd_, nullptr, FALSE);
  ::UpdateWindow(hwnd_);
  if (logIt) Log().Print("qvViewer: Activated full-screen mode\n");
}

void WinViewerWindow::LeaveFullScreen() {
  const LONG style = GetWindowLongA(hwnd_, GWL_STYLE);
  SetWindowLongA(hwnd_, GWL_STYLE, style | static_cast<LONG>(kFrameStyle));
  model_.LeaveFullScreen();
  ReleaseScaled();
  barsHidden_ = false;  // the bars came back with the style
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(hwnd_, &placement);
  placement.showCmd = SW_SHOWNORMAL;
  placement.rcNormalPosition = savedRect_;
  SetWindowPlacement(hwnd_, &placement);
  SetWindowPos(hwnd_, HWND_TOP, savedRect_.left, savedRect_.top, savedRect_.right - savedRect_.left,
               savedRect_.bottom - savedRect_.top, SWP_FRAMECHANGED | SWP_SHOWWINDOW);
  InvalidateRect(hwnd_, nullptr, FALSE);
  SizeChanged();
  ::UpdateWindow(hwnd_);
}

// ---------------------------------------------------------------------------
// Painting (GUI thread).

bool WinViewerWindow::MakeFramebufferBitmap(const FramebufferView& fb) {
  ReleaseBitmaps();
  if (!format_.Bind(fb)) return false;
  uint32_t* bits = nullptr;
  if (!MakeDib(fb.width, fb.height, fbDc_, fbBitmap_, fbOld_, bits)) {
    Log().Print("qvViewer: Unable to create compatible DC\n");
    ReleaseBitmaps();
    return false;
  }
  fbBits_ = reinterpret_cast<uint8_t*>(bits);
  fbStride_ = fb.width * 4;
  return true;
}

void WinViewerWindow::ReleaseBitmaps() {
  ReleaseScaled();
  FreeDib(fbDc_, fbBitmap_, fbOld_);
  fbBits_ = nullptr;
  format_.Unbind();
}

void WinViewerWindow::CopyToBitmap(const Rect& wanted) {
  const Rect r = Intersect(wanted, {0, 0, format_.Width(), format_.Height()});
  if (r.IsEmpty() || fbBits_ == nullptr) return;
  for (int y = r.top; y < r.bottom; ++y) {
    format_.ConvertRow(y, r.left, r.Width(),
                       reinterpret_cast<uint32_t*>(fbBits_ + static_cast<size_t>(y) * fbStride_) +
                           r.left);
  }
}

void WinViewerWindow::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  const Rect p{ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom};
  if (p.IsEmpty()) {
    EndPaint(hwnd_, &ps);
    return;
  }
  RECT client;
  GetClientRect(hwnd_, &client);
  const bool ready = model_.Placed() && fbBits_ != nullptr && source_.IsReceiving() &&
                     EnsureBackBuffer({client.right, client.bottom});
  if (!ready) {
    FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EndPaint(hwnd_, &ps);
    return;
  }
  PaintImage(p);
  PaintCursor(p);
  BitBlt(dc, p.left, p.top, p.Width(), p.Height(), backDc_, p.left, p.top, SRCCOPY);
  EndPaint(hwnd_, &ps);
}

bool WinViewerWindow::EnsureBackBuffer(Extent client) {
  if (backDc_ != nullptr && backSize_.width >= client.width &&
      backSize_.height >= client.height) {
    return true;
  }
  const Extent size{std::max({client.width, backSize_.width, 1}),
                    std::max({client.height, backSize_.height, 1})};
  FreeDib(backDc_, backBitmap_, backOld_);
  backSize_ = {};
  uint32_t* bits = nullptr;
  if (!MakeDib(size.width, size.height, backDc_, backBitmap_, backOld_, bits)) {
    FreeDib(backDc_, backBitmap_, backOld_);
    return false;
  }
  backSize_ = size;
  return true;
}

void WinViewerWindow::PaintImage(const Rect& p) {
  const RECT all = ToRECT(p);
  FillRect(backDc_, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  const Rect image = model_.ImageRect();
  const Rect d = Intersect(p, image);
  if (d.IsEmpty()) return;
  if (!model_.Transform().scaled) {
    const int sx = d.left - image.left;
    const int sy = d.top - image.top;
    CopyToBitmap({sx, sy, sx + d.Width(), sy + d.Height()});
    BitBlt(backDc_, d.left, d.top, d.Width(), d.Height(), fbDc_, sx, sy, SRCCOPY);
    return;
  }
  if (scaledStale_) UpdateScaled({0, 0, format_.Width(), format_.Height()});
  BitBlt(backDc_, d.left, d.top, d.Width(), d.Height(), scaledDc_, d.left - image.left,
         d.top - image.top, SRCCOPY);
}

void WinViewerWindow::UpdateScaled(const Rect& source) {
  if (scaledDc_ == nullptr) return;
  const int W = format_.Width();
  const int H = format_.Height();
  const Rect whole{0, 0, W, H};
  Rect r = Intersect(source, whole);
  if (scaledStale_) {
    r = whole;
    scaledStale_ = false;
  }
  if (r.IsEmpty()) return;
  // Whole blocks around r, one more on every side for the filter's reach.
  const int scale = model_.Transform().sx;
  const int g = std::gcd(scale, 100);
  const int from = 100 / g;
  const int to = scale / g;
  const int bl = std::max(0, r.left / from - 1);
  const int bt = std::max(0, r.top / from - 1);
  const int br = (r.right + from - 1) / from + 1;
  const int bb = (r.bottom + from - 1) / from + 1;
  const Rect s{bl * from, bt * from, std::min(W, br * from), std::min(H, bb * from)};
  // The last, partial block ends where the shown image ends.
  const Rect d{bl * to, bt * to, s.right == W ? scaledSize_.width : br * to,
               s.bottom == H ? scaledSize_.height : bb * to};
  if (s.IsEmpty() || d.IsEmpty()) return;
  CopyToBitmap(s);
  SetStretchBltMode(scaledDc_, HALFTONE);
  SetBrushOrgEx(scaledDc_, 0, 0, nullptr);
  StretchBlt(scaledDc_, d.left, d.top, d.Width(), d.Height(), fbDc_, s.left, s.top, s.Width(),
             s.Height(), SRCCOPY);
}

void WinViewerWindow::ReleaseScaled() {
  FreeDib(scaledDc_, scaledBitmap_, scaledOld_);
  scaledSize_ = {};
  scaledStale_ = false;
}

void WinViewerWindow::PaintCursor(const Rect& p) {
  std::lock_guard<std::mutex> lock(source_.CursorLock());
  ViewerWindowModel::CursorFrame cursor;
  if (!model_.TakeCursorFrame(source_.CursorState(), cursor)) return;
  const RemoteCursorImage& image = *cursor.image;
  const Rect& target = cursor.target;
  const Rect clip = Intersect(cursor.clip, p);
  if (clip.IsEmpty()) return;
  if (cursorSize_.width != image.width || cursorSize_.height != image.height) {
    FreeDib(cursorDc_, cursorBitmap_, cursorOld_);
    FreeDib(invertDc_, invertBitmap_, invertOld_);
    cursorSize_ = {};
    if (!MakeDib(image.width, image.height, cursorDc_, cursorBitmap_, cursorOld_, cursorBits_) ||
        !MakeDib(image.width, image.height, invertDc_, invertBitmap_, invertOld_, invertBits_)) {
      FreeDib(cursorDc_, cursorBitmap_, cursorOld_);
      FreeDib(invertDc_, invertBitmap_, invertOld_);
      return;
    }
    cursorSize_ = {image.width, image.height};
  }
  const size_t pixels = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
  std::memcpy(cursorBits_, image.argb.data(), pixels * 4);
  if (cursor.inverts) {
    for (size_t i = 0; i < pixels; ++i) invertBits_[i] = image.invert[i] ? 0x00FFFFFFu : 0u;
  }
  const int saved = SaveDC(backDc_);
  IntersectClipRect(backDc_, clip.left, clip.top, clip.right, clip.bottom);
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  AlphaBlend(backDc_, target.left, target.top, target.Width(), target.Height(), cursorDc_, 0, 0,
             image.width, image.height, blend);
  if (cursor.inverts) {
    // Inverting pixels (text cursors): XOR white over the picture.
    SetStretchBltMode(backDc_, COLORONCOLOR);
    StretchBlt(backDc_, target.left, target.top, target.Width(), target.Height(), invertDc_, 0, 0,
               image.width, image.height, SRCINVERT);
  }
  RestoreDC(backDc_, saved);
}

// ---------------------------------------------------------------------------
// Messages (GUI thread).

void WinViewerWindow::PostCommand(int id) {
  PostMessageA(hwnd_, kCommandMessage, static_cast<WPARAM>(id), 0);
}

LRESULT CALLBACK WinViewerWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lp);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* window = reinterpret_cast<WinViewerWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (window == nullptr || window->hwnd_ != hwnd) return DefWindowProcA(hwnd, msg, wp, lp);
  return window->Handle(msg, wp, lp);
}

LRESULT WinViewerWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CREATE:
      return 0;
    case WM_DESTROY:
      WindowGone();
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // every paint covers its whole rectangle
    case WM_WINDOWPOSCHANGED:
    case WM_SIZE: {
      const bool visible = IsWindowVisible(hwnd_) && !IsIconic(hwnd_);
      if (visible && !Shown()) {
        DropPending();        // the whole window is painted on show
        scaledStale_ = true;  // changes made while hidden were not stretched
      }
      SetShown(visible);
      SizeChanged();
      return 0;
    }
    case WM_SIZING: {
      RECT& r = *reinterpret_cast<RECT*>(lp);
      const Rect limited = model_.LimitDrag(
          {r.left, r.top, r.right, r.bottom},
          wp == WMSZ_LEFT || wp == WMSZ_TOPLEFT || wp == WMSZ_BOTTOMLEFT,
          wp == WMSZ_TOP || wp == WMSZ_TOPLEFT || wp == WMSZ_TOPRIGHT,
          wp == WMSZ_RIGHT || wp == WMSZ_TOPRIGHT || wp == WMSZ_BOTTOMRIGHT,
          wp == WMSZ_BOTTOM || wp == WMSZ_BOTTOMLEFT || wp == WMSZ_BOTTOMRIGHT);
      r = ToRECT(limited);
      return TRUE;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
      OnScroll(msg == WM_HSCROLL, wp);
      return 0;
    case WM_MOUSEWHEEL: {
      // Three lines of two pixels per notch, as the scroll bar's arrows.
      const int notches = GET_WHEEL_DELTA_WPARAM(wp) / WHEEL_DELTA;
      ScrollBy(0, -notches * 3 * 2);
      return 0;
    }
    case WM_SETCURSOR:
      if (GetFocus() == hwnd_) return DefWindowProcA(hwnd_, msg, wp, lp);
      SetCursor(LoadCursorA(nullptr, IDC_ARROW));
      return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      // Alt+Escape is the system's: with Alt, only Return counts.
      const bool alt = msg == WM_SYSKEYUP;
      const ViewerKey key = wp == VK_RETURN              ? ViewerKey::Return
                            : wp == VK_ESCAPE && !alt ? ViewerKey::Escape
                                                      : ViewerKey::Other;
      if (model_.TogglesFullScreen(key, alt)) PostCommand(ID_FULL_SCREEN);
      return 0;
    }
    case WM_CHAR:
    case WM_SYSCHAR:
      return 0;
    case WM_COMMAND:
    case WM_SYSCOMMAND:
      if (IsViewerWindowCommand(LOWORD(wp))) PostCommand(LOWORD(wp));
      return DefWindowProcA(hwnd_, msg, wp, lp);
    case WM_TIMER:
      if (wp == kFrameTimer) {
        KillTimer(hwnd_, kFrameTimer);
        frameTimerActive_ = false;
        ServeFrame();
      }
      return 0;
    case kWakeMessage:
      ServeRequests();
      return 0;
    case kCommandMessage:
      if (commandHandler_) commandHandler_(static_cast<int>(wp));
      return 0;
    default:
      return DefWindowProcA(hwnd_, msg, wp, lp);
  }
}

}  // namespace qc
