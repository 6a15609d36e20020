// SPDX-License-Identifier: GPL-3.0-or-later
// ViewerWindow: the receiver's viewer window (Qt). It shows the sender's
// screen at its own pixel size with scroll bars, or full screen scaled down
// to fit and centred, with the sender's cursor drawn over it, and it is the
// viewer core's ViewerSurface.
//
// Use from qvrecv (all on the GUI thread):
//
//   qc::qvViewer viewer;
//   qc::ViewerWindow window(viewer);          // the viewer outlives the window
//   window.SetCommandHandler([&](int id) { tray.OnCommand(id); });
//   window.Start(&tray, port, fullScreenSetting);   // qvViewer::Init
//   window.ShowViewer(false / true);          // hide / show (ID_HIDE/SHOW_WINDOW)
//   window.SetFullScreen(on);                 // ID_FULL_SCREEN
//   window.SetRestarting(); window.Stop();    // restart: Stop, then Start again
//   window.Stop();                            // program end
//
// The window stays hidden from Start until the first init message has
// arrived (the update thread's PlaceWindow). Stop ends the viewer and hides
// the window ("destroys" it); what that and closing it mean for the program,
// and every other decision, is ViewerWindowModel's. The window's commands
// (its context menu, kViewerWindowMenu; Escape and Alt+Enter) reach the
// command handler later, from the event loop, like posted messages.
//
// Threads: every public method except the ViewerSurface ones runs on the
// GUI thread. PlaceWindow (update thread) is served by the GUI thread while
// the update thread waits; the wait ends at once when the viewer is stopping
// (ViewerStopping), so Stop can never deadlock with an update thread inside
// it. Invalidated rectangles are painted together once per display frame
// (FrameIntervalMs); PacedSurface has the rules.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QRect>
#include <cstdint>
#include <functional>

#include "receiver/viewer/qt/frame_painter.h"
#include "receiver/viewer/qt/gl_frame_view.h"
#include "receiver/viewer/paced_surface.h"
#include "receiver/viewer/receiver_commands.h"
#include "receiver/viewer/viewer_geometry.h"
#include "receiver/viewer/viewer_source.h"
#include "receiver/viewer/viewer_window_model.h"

class QMenu;
class QSocketNotifier;
class QTimer;

namespace qc {

class ViewerWindow : public QAbstractScrollArea, public PacedSurface {
  Q_OBJECT

 public:
  // source: the receiving side (the program's qvViewer); not owned, it must
  // outlive the window.
  explicit ViewerWindow(ViewerSource& source);
  ~ViewerWindow() override;

  // Starts a viewer cycle: resets the window's state (windowed, scroll
  // (0, 0), full screen taken from fullScreenSetting at the next placement)
  // and initialises the source with this window as its surface. False when
  // the source's Init failed (it logged the step); Stop() is still needed.
  bool Start(ViewerOwner* owner, uint16_t port, bool fullScreenSetting);
  // Ends the cycle: stops the source (releasing an update thread that waits
  // for this window), hides the window and, unless restarting, calls the
  // owner's FatalStop(false). Harmless when not started.
  void Stop();
  // The coming Stop is a restart: the window's end must not end the program.
  void SetRestarting() { model_.SetRestarting(); }

  bool IsReceiving() const { return source_.IsReceiving(); }
  bool IsFullScreen() const { return model_.IsFullScreen(); }
  // Show (in the current mode) or hide the window. Only meaningful while
  // receiving; the window stays hidden before the first init message.
  void ShowViewer(bool show);
  // Enters or leaves full screen (only while receiving).
  void SetFullScreen(bool on);
  // Receives the window's commands (ReceiverCommand ids), called from the
  // event loop after the input that caused them.
  void SetCommandHandler(std::function<void(int)> handler) { commandHandler_ = std::move(handler); }

  // Scrolls the client area by (dx, dy), clamped; false when nothing moved.
  bool ScrollBy(int dx, int dy);

  // FrameIntervalMs (PacedSurface) is the primary screen's refresh period;
  // FramesPainted counts the frames painted since the window was made.
  // True while invalidated areas wait for their frame, and on the OpenGL
  // view until that frame was swapped to the screen.
  bool PaintPending();
  // The OpenGL view when the window draws with it (GlFrameView::Chosen when
  // the window was made), else null: the CPU path (FramePainter).
  GlFrameView* GlView() const { return glView_; }

 protected:
  bool viewportEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Wake() override;
  void ServeRequests();
  void ScheduleFrame();
  void PaintRects(std::span<const Rect> rects) override;
  void DoPlaceWindow() override;
  void EnterFullScreen(bool logIt);
  void LeaveFullScreen();
  void SizeChanged();
  void SetScrollBars();
  void OnScrollAction(Qt::Orientation orientation, int action);
  void PostCommand(int id);
  void PaintCursor(QPainter& painter);
  void FillGlScene(GlFrameView::Scene& scene);
  void ScrollPicture(int dx, int dy);
  void UpdatePointer();
  FrameMargins CurrentFrameMargins() const;

  ViewerSource& source_;
  std::function<void(int)> commandHandler_;
  QMenu* menu_ = nullptr;

  // GUI thread state.
  FramePainter painter_;          // the CPU path; the GL view's pixel source
  GlFrameView* glView_ = nullptr;  // the viewport when drawing with OpenGL
  bool glFrameShown_ = true;       // its last frame was swapped (or it was hidden)
  ViewerWindowModel model_;       // the cycle, placement, transform, scrolling
  QRect savedGeometry_;
  QImage cursorImage_;           // the remote cursor's inverting pixels, white on transparent

  QTimer* frameTimer_ = nullptr;  // single shot: the next frame is due
  int wakeFd_ = -1;              // eventfd: update thread -> GUI thread
  QSocketNotifier* wakeNotifier_ = nullptr;
};

}  // namespace qc
