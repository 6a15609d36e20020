// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/qt/viewer_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "common/log_file.h"

namespace qc {

namespace {

ScrollRequest RequestFor(int sliderAction) {
  switch (sliderAction) {
    case QAbstractSlider::SliderSingleStepSub: return ScrollRequest::LineBack;
    case QAbstractSlider::SliderSingleStepAdd: return ScrollRequest::LineForward;
    case QAbstractSlider::SliderPageStepSub: return ScrollRequest::PageBack;
    case QAbstractSlider::SliderPageStepAdd: return ScrollRequest::PageForward;
    case QAbstractSlider::SliderMove: return ScrollRequest::ThumbTrack;
    default: return ScrollRequest::Other;
  }
}

QRect ToQRect(const Rect& r) {
  return QRect(r.left, r.top, r.Width(), r.Height());
}

}  // namespace

ViewerWindow::ViewerWindow(ViewerSource& source) : source_(source) {
  setWindowTitle(QStringLiteral("Quillview"));
  setFrameShape(QFrame::NoFrame);
  // Closing this window ends the program through the owner, never through
  // Qt's last-window rule.
  setAttribute(Qt::WA_QuitOnClose, false);
  setFocusPolicy(Qt::StrongFocus);
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  black.setColor(QPalette::Base, Qt::black);
  setPalette(black);
  // A hardware GL driver draws the picture (scaling on the GPU); otherwise
  // the viewport is a plain widget painted by FramePainter.
  if (GlFrameView::Chosen()) {
    glView_ = new GlFrameView(painter_.Format(),
                              [this](GlFrameView::Scene& scene) { FillGlScene(scene); });
    // Its frames reach the screen when the window's composition is swapped,
    // which may come after repaint() returns.
    connect(glView_, &QOpenGLWidget::frameSwapped, this, [this] { glFrameShown_ = true; });
    setViewport(glView_);
  }
  // Every paint covers its whole rectangle (image or black margin).
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Line steps of 2 pixels (the requests are served by OnScrollAction; the
  // bars' own steps only shape the wheel's movement).
  horizontalScrollBar()->setSingleStep(2);
  verticalScrollBar()->setSingleStep(2);
  connect(horizontalScrollBar(), &QAbstractSlider::actionTriggered, this,
          [this](int action) { OnScrollAction(Qt::Horizontal, action); });
  connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
          [this](int action) { OnScrollAction(Qt::Vertical, action); });

  menu_ = new QMenu(this);
  for (const ViewerMenuItem& item : kViewerWindowMenu) {
    if (item.text == nullptr) {
      menu_->addSeparator();
      continue;
    }
    const int id = item.id;
    QAction* action = menu_->addAction(QString::fromLatin1(item.text));
    connect(action, &QAction::triggered, this, [this, id] { PostCommand(id); });
  }

  // The update thread wakes the GUI thread through an eventfd: no allocation
  // per datagram, and it is served in nested event loops (menus, dialogs).
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ >= 0) {
    wakeNotifier_ = new QSocketNotifier(wakeFd_, QSocketNotifier::Read, this);
    connect(wakeNotifier_, &QSocketNotifier::activated, this, [this] { ServeRequests(); });
  } else {
    Log().Print("qvViewer: Unable to create the window's wake-up event\n");
  }
  // Paints of invalidated areas follow the display's refresh; a screen that
  // reports no sensible rate gets 60 Hz.
  const QScreen* screen = QGuiApplication::primaryScreen();
  SetRefreshRate(screen != nullptr ? screen->refreshRate() : 0.0);
  frameTimer_ = new QTimer(this);
  frameTimer_->setSingleShot(true);
  frameTimer_->setTimerType(Qt::PreciseTimer);
  connect(frameTimer_, &QTimer::timeout, this, [this] { ServeFrame(); });
  hide();
}

ViewerWindow::~ViewerWindow() {
  if (model_.Started()) {
    ViewerStopping();
    source_.Stop();
  }
  model_.EndQuietly();
  delete wakeNotifier_;
  wakeNotifier_ = nullptr;
  if (wakeFd_ >= 0) {
    ::close(wakeFd_);
  }
}

// ---------------------------------------------------------------------------
// Life of a cycle (GUI thread).

bool ViewerWindow::Start(ViewerOwner* owner, uint16_t port, bool fullScreenSetting) {
  model_.Start(owner, fullScreenSetting);
  painter_.Unbind();
  ViewerStarted();
  return source_.Init(owner, this, port);
}

void ViewerWindow::Stop() {
  if (!model_.Started()) {
    return;
  }
  // Release an update thread waiting in PlaceWindow or UpdateWindow before
  // the source waits for it.
  ViewerStopping();
  source_.Stop();
  painter_.Unbind();
  if (model_.IsFullScreen()) {
    setWindowState(windowState() & ~Qt::WindowFullScreen);
  }
  model_.Stop();
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  hide();
  model_.WindowGone();
}

void ViewerWindow::closeEvent(QCloseEvent* event) {
  // The user closed the window: it is gone for this cycle, and unless a
  // restart is under way the program ends.
  event->accept();
  model_.WindowGone();
}

void ViewerWindow::ShowViewer(bool show) {
  if (!show) {
    hide();
    return;
  }
  if (!model_.Placed()) {
    return;
  }
  if (model_.IsFullScreen()) {
    showFullScreen();
  } else {
    showNormal();
  }
  raise();
  activateWindow();
}

// ---------------------------------------------------------------------------
// The surface's platform part: the wake-up (any thread), serving and
// painting (GUI thread).

void ViewerWindow::Wake() {
  if (wakeFd_ >= 0) {
    const uint64_t one = 1;
    // A full counter (never in practice) still leaves the fd readable.
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
  }
}

void ViewerWindow::ServeRequests() {
  uint64_t counter;
  [[maybe_unused]] ssize_t n = read(wakeFd_, &counter, sizeof counter);
  ServePlacement();
  ScheduleFrame();
}

void ViewerWindow::ScheduleFrame() {
  if (frameTimer_->isActive()) {
    return;  // the coming frame takes whatever arrived meanwhile
  }
  const int delay = FrameDelayMs();
  if (delay == 0) {
    ServeFrame();
  } else {
    frameTimer_->start(delay);
  }
}

bool ViewerWindow::PaintPending() { return PaintQueued(!glFrameShown_); }

void ViewerWindow::PaintRects(std::span<const Rect> rects) {
  if (model_.Placed() && glView_ != nullptr) {
    // The texture takes the rows whether or not they are seen now.
    for (const Rect& r : rects) {
      glView_->MarkRows(r.top, r.bottom);
    }
  }
  if (model_.Placed() && isVisible()) {
    QRegion region;
    const QRect client = viewport()->rect();
    for (const Rect& r : rects) {
      region += ToQRect(model_.ToWindow(r)) & client;
    }
    if (!region.isEmpty()) {
      FramePainted();
      // The GL view draws all of itself in one pass.
      if (glView_ != nullptr) {
        glFrameShown_ = false;
        viewport()->repaint();
      } else {
        viewport()->repaint(region);
      }
    }
  }
}

FrameMargins ViewerWindow::CurrentFrameMargins() const {
  const QWindow* w = windowHandle();
  if (w == nullptr) {
    return {};
  }
  const QMargins m = w->frameMargins();
  return {m.left(), m.top(), m.right(), m.bottom()};
}

void ViewerWindow::DoPlaceWindow() {
  const FramebufferView fb = source_.FramebufferInfo();
  if (!painter_.Bind(fb)) {
    return;
  }
  if (glView_ != nullptr) {
    glView_->Reload();
  }
  const FrameMargins frame = CurrentFrameMargins();
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect work = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
  const Rect outer = model_.Place(
      {fb.width, fb.height}, frame,
      {work.left(), work.top(), work.left() + work.width(), work.top() + work.height()});
  // The window manager applies the maximum size to every edge it drags:
  // the client area grows to W x H at most.
  setMaximumSize(fb.width, fb.height);
  setGeometry(outer.left + frame.left, outer.top + frame.top,
              outer.Width() - frame.left - frame.right, outer.Height() - frame.top - frame.bottom);
  show();
  raise();
  activateWindow();
  SizeChanged();
  if (model_.FullScreenSetting()) {
    EnterFullScreen(false);
  }
  viewport()->update();
}

// ---------------------------------------------------------------------------
// Sizing, scrolling, full screen (GUI thread).

void ViewerWindow::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  SizeChanged();
}

void ViewerWindow::SizeChanged() {
  if (!model_.Scrollable()) {
    return;
  }
  // The window manager's frame may have become known since the placement.
  model_.SetFrame(CurrentFrameMargins());
  const QSize outer = frameGeometry().size();
  const Qt::ScrollBarPolicy policy = model_.BarsHidden({outer.width(), outer.height()})
                                         ? Qt::ScrollBarAlwaysOff
                                         : Qt::ScrollBarAlwaysOn;
  if (horizontalScrollBarPolicy() != policy || verticalScrollBarPolicy() != policy) {
    // Changes the viewport's size, which comes back here.
    setHorizontalScrollBarPolicy(policy);
    setVerticalScrollBarPolicy(policy);
  }
  const QSize client = viewport()->size();
  const ScrollDelta moved = model_.ClientResized({client.width(), client.height()});
  if (moved.dx != 0 || moved.dy != 0) {
    ScrollPicture(moved.dx, moved.dy);
  }
  SetScrollBars();
}

void ViewerWindow::SetScrollBars() {
  const QSize client = viewport()->size();
  const struct {
    QScrollBar* bar;
    ScrollBarRange range;
  } bars[] = {
      {horizontalScrollBar(), model_.Bar(true, client.width())},
      {verticalScrollBar(), model_.Bar(false, client.height())},
  };
  for (const auto& b : bars) {
    b.bar->setRange(0, b.range.maximum);
    b.bar->setPageStep(std::max(b.range.page, 1));
    b.bar->setValue(b.range.value);
    // Shown but disabled when there is nothing to scroll.
    b.bar->setEnabled(b.range.maximum > 0);
  }
}

void ViewerWindow::scrollContentsBy(int, int) {
  // Scrolling goes through ScrollBy, which moves the content itself.
}

void ViewerWindow::OnScrollAction(Qt::Orientation orientation, int action) {
  const bool horizontal = orientation == Qt::Horizontal;
  QScrollBar* bar = horizontal ? horizontalScrollBar() : verticalScrollBar();
  if (model_.Scrollable()) {
    const int client = horizontal ? viewport()->width() : viewport()->height();
    const ScrollDelta d =
        model_.Request(horizontal, RequestFor(action), client, bar->sliderPosition());
    ScrollBy(d.dx, d.dy);
  }
  // The bar shows where the view is, not where its own step would go.
  const ViewTransform& t = model_.Transform();
  bar->setSliderPosition(horizontal ? t.scrollX : t.scrollY);
}

bool ViewerWindow::ScrollBy(int dx, int dy) {
  const QSize client = viewport()->size();
  const ScrollDelta d = model_.ScrollBy({dx, dy}, {client.width(), client.height()});
  if (d.dx == 0 && d.dy == 0) {
    return false;
  }
  ScrollPicture(-d.dx, -d.dy);
  SetScrollBars();
  // Paint the uncovered strip (the GL view: all of it) at once.
  const QRect all = viewport()->rect();
  const QRegion uncovered = QRegion(all) - QRegion(all.translated(-d.dx, -d.dy) & all);
  if (!uncovered.isEmpty() && isVisible()) {
    if (glView_ != nullptr) {
      viewport()->repaint();
    } else {
      viewport()->repaint(uncovered);
    }
  }
  return true;
}

void ViewerWindow::ScrollPicture(int dx, int dy) {
  // The GL view redraws everything from its texture; the CPU path moves
  // what is on screen and paints the strip uncovered.
  if (glView_ != nullptr) {
    viewport()->update();
  } else {
    viewport()->scroll(dx, dy);
  }
}

void ViewerWindow::SetFullScreen(bool on) {
  if (!model_.FullScreenChanges(on)) {
    return;
  }
  if (on) {
    EnterFullScreen(true);
  } else {
    LeaveFullScreen();
  }
}

void ViewerWindow::EnterFullScreen(bool logIt) {
  savedGeometry_ = geometry();
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect area = screen != nullptr ? screen->geometry() : QRect(0, 0, 1024, 768);
  // Full screen first: the size changes that follow leave the bars off.
  model_.EnterFullScreen({area.width(), area.height()});
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  painter_.SetScale(model_.Transform().scaled ? model_.Transform().sx : 100);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  // A borderless window covering the screen: the full-screen state for the
  // window manager, and the geometry for when there is none.
  setGeometry(area);
  showFullScreen();
  raise();
  activateWindow();
  viewport()->update();
  if (logIt) {
    Log().Print("qvViewer: Activated full-screen mode\n");
  }
}

void ViewerWindow::LeaveFullScreen() {
  model_.LeaveFullScreen();
  painter_.SetScale(100);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  showNormal();
  const Extent fb = model_.Framebuffer();
  setMaximumSize(fb.width, fb.height);
  setGeometry(savedGeometry_);
  viewport()->update();
  SizeChanged();
}

// ---------------------------------------------------------------------------
// Painting (GUI thread).

bool ViewerWindow::viewportEvent(QEvent* event) {
  // The GL view paints itself (paintGL), asking FillGlScene what to show.
  if (glView_ != nullptr && event->type() == QEvent::Paint) {
    return false;
  }
  return QAbstractScrollArea::viewportEvent(event);
}

void ViewerWindow::FillGlScene(GlFrameView::Scene& scene) {
  if (!model_.Placed() || !painter_.IsBound() || !source_.IsReceiving()) {
    return;
  }
  scene.picture = true;
  scene.image = ToQRect(model_.ImageRect());
  scene.scale = painter_.Scale();
  std::lock_guard<std::mutex> lock(source_.CursorLock());
  ViewerWindowModel::CursorFrame cursor;
  if (!model_.TakeCursorFrame(source_.CursorState(), cursor)) {
    return;
  }
  const RemoteCursorImage& image = *cursor.image;
  const auto pixels = static_cast<ptrdiff_t>(image.width) * image.height;
  scene.cursorTarget = ToQRect(cursor.target);
  scene.cursorWidth = image.width;
  scene.cursorHeight = image.height;
  // Copied under the lock (a few kB, storage reused): the upload follows
  // after it is released.
  scene.cursorArgb.assign(image.argb.begin(), image.argb.begin() + pixels);
  if (cursor.inverts) {
    scene.cursorInvert.assign(image.invert.begin(), image.invert.begin() + pixels);
  } else {
    scene.cursorInvert.clear();
  }
}

void ViewerWindow::paintEvent(QPaintEvent* event) {
  QPainter p(viewport());
  if (!model_.Placed() || !painter_.IsBound() || !source_.IsReceiving()) {
    p.fillRect(event->rect(), Qt::black);
    return;
  }
  const ViewTransform& t = model_.Transform();
  for (const QRect& r : event->region()) {
    painter_.Paint(p, r, t.scrollX, t.scrollY, t.offX, t.offY);
  }
  PaintCursor(p);
}

void ViewerWindow::PaintCursor(QPainter& p) {
  std::lock_guard<std::mutex> lock(source_.CursorLock());
  ViewerWindowModel::CursorFrame cursor;
  if (!model_.TakeCursorFrame(source_.CursorState(), cursor)) {
    return;
  }
  const RemoteCursorImage& image = *cursor.image;
  const QRect target = ToQRect(cursor.target);
  p.save();
  // Nothing of the cursor lands in the margins (cursor.clip).
  p.setClipRect(ToQRect(cursor.clip), Qt::IntersectClip);
  if (model_.Transform().scaled) {
    p.setRenderHint(QPainter::SmoothPixmapTransform);
  }
  const QImage argb(reinterpret_cast<const uchar*>(image.argb.data()), image.width, image.height,
                    image.width * 4, QImage::Format_ARGB32_Premultiplied);
  p.drawImage(target, argb);
  if (cursor.inverts) {
    // Inverting pixels (text cursors): XOR white over the picture.
    if (cursorImage_.width() != image.width || cursorImage_.height() != image.height) {
      cursorImage_ = QImage(image.width, image.height, QImage::Format_ARGB32_Premultiplied);
    }
    for (int y = 0; y < image.height; ++y) {
      auto* line = reinterpret_cast<uint32_t*>(cursorImage_.scanLine(y));
      const uint8_t* inv = &image.invert[static_cast<size_t>(y) * image.width];
      for (int x = 0; x < image.width; ++x) {
        line[x] = inv[x] ? 0x00ffffffu : 0u;
      }
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.drawImage(target, cursorImage_);
  }
  p.restore();
}

// ---------------------------------------------------------------------------
// Input, pointer, commands (GUI thread).

void ViewerWindow::keyPressEvent(QKeyEvent* event) {
  // The viewer has no keyboard scrolling; keys act on release.
  event->accept();
}

void ViewerWindow::keyReleaseEvent(QKeyEvent* event) {
  event->accept();
  if (event->isAutoRepeat()) {
    return;
  }
  const int key = event->key();
  const ViewerKey viewerKey = key == Qt::Key_Escape                             ? ViewerKey::Escape
                              : key == Qt::Key_Return || key == Qt::Key_Enter ? ViewerKey::Return
                                                                              : ViewerKey::Other;
  if (model_.TogglesFullScreen(viewerKey, event->modifiers() & Qt::AltModifier)) {
    PostCommand(ID_FULL_SCREEN);
  }
}

void ViewerWindow::wheelEvent(QWheelEvent* event) {
  if (model_.IsFullScreen()) {
    event->accept();
    return;
  }
  QAbstractScrollArea::wheelEvent(event);
}

void ViewerWindow::contextMenuEvent(QContextMenuEvent* event) {
  event->accept();
  menu_->popup(event->globalPos());
}

void ViewerWindow::PostCommand(int id) {
  QMetaObject::invokeMethod(
      this,
      [this, id] {
        if (commandHandler_) {
          commandHandler_(id);
        }
      },
      Qt::QueuedConnection);
}

void ViewerWindow::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::ActivationChange) {
    UpdatePointer();
  }
}

void ViewerWindow::UpdatePointer() {
  // Over the focused viewer only the sender's cursor in the image is seen.
  viewport()->setCursor(isActiveWindow() ? Qt::BlankCursor : Qt::ArrowCursor);
}

void ViewerWindow::showEvent(QShowEvent* event) {
  QAbstractScrollArea::showEvent(event);
  DropPending();  // the whole window is painted on show
  if (glView_ != nullptr && painter_.IsBound()) {
    glView_->Reload();  // rows changed while hidden were never marked
  }
  SetShown(true);
  UpdatePointer();
}

void ViewerWindow::hideEvent(QHideEvent* event) {
  QAbstractScrollArea::hideEvent(event);
  SetShown(false);
  glFrameShown_ = true;  // a hidden window's frame is never swapped
}

}  // namespace qc
