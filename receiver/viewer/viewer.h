// qvViewer: the receiving side of qvrecv, without any window. It owns the
// multicast data socket and the read thread (datagrams into the ring), the
// update thread (filter, inflate, decode, sequence check), the framebuffer
// and the remote cursor. It talks to the rest of the program through two
// interfaces: its owner (the tray controller, or a headless program) and its
// surface (the Qt viewer window, or NullSurface).
//
// Life: Init() starts a cycle (socket, threads); the read thread drops
// everything until the first usable init message, which fixes the
// transmission (identifier, size, pixel format); the update thread then
// creates the framebuffer, calls PlaceWindow, UpdateWindow and
// UpdateTrayIcon(Receiving) and applies the transmission's datagrams. Stop()
// ends the cycle; the owner restarts the viewer with Stop() and Init() on the
// same object (after a disconnection datagram or a port change).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "common/protocol.h"
#include "platform/auto_reset_event.h"
#include "platform/udp_socket.h"
#include "receiver/viewer/cursor_display.h"
#include "receiver/viewer/framebuffer.h"
#include "receiver/viewer/packet_ring.h"
#include "receiver/viewer/viewer_geometry.h"

namespace qc {

class UpdateProcessor;

// States of the receiver's tray icon.
enum class TrayState : int { Disconnected = 0, Receiving = 1, Hidden = 2 };

// What the viewer asks of its owner. All four may run on the update thread
// while the owner's own thread works; implementations must be thread-safe
// for that and must not call qvViewer::Stop() or Init() from inside them
// (Stop() waits for the update thread that is making the call): post the
// work to the owner's thread instead.
class ViewerOwner {
 public:
  virtual ~ViewerOwner() = default;

  // Update thread, once per transmission, right after the framebuffer was
  // created and the window placed: shows TrayState::Receiving.
  virtual void UpdateTrayIcon(TrayState state) = 0;

  // Update thread: sends one update request (the two bytes F8 FF to
  // group:port+1). Called once for every detected loss and every datagram
  // that had to be dropped as damaged.
  virtual void SendUpdateRequest() = 0;

  // Update thread, on the transmission's disconnection datagram: show the
  // disconnected state and, on the owner's thread, Stop() and Init() the
  // viewer so that the next init message starts a new transmission.
  virtual void RestartViewer() = 0;

  // The program's fatal path: hide the window, show the "Fatal error" box
  // when showMessage, end the program. The viewer window calls it on the GUI
  // thread (false) when the user closes the window. The core itself does
  // not call it: damaged datagrams are dropped and answered with an update
  // request instead of ending the program.
  virtual void FatalStop(bool showMessage) = 0;
};

// Where the picture is shown. The Qt window implements it; headless
// receivers use NullSurface. The surface reads the picture through the
// viewer: FramebufferInfo(), CursorLock() and CursorState().
class ViewerSurface {
 public:
  virtual ~ViewerSurface() = default;

  // GUI/owner thread, from Init(), before the threads start: a new cycle
  // begins; UpdateWindow works normally from now on.
  virtual void ViewerStarted() = 0;

  // GUI/owner thread, from Stop(), before it waits for the update thread:
  // from now until the next ViewerStarted(), PlaceWindow and UpdateWindow
  // must return at once, and a call already blocked in them must be
  // released. After Stop() returns the framebuffer memory is gone: do not
  // paint from it while IsReceiving() is false.
  virtual void ViewerStopping() = 0;

  // Update thread, once per cycle, after the framebuffer exists: size the
  // window for FramebufferInfo() (centred, at most the work area), show it,
  // and enter full screen when the setting asks for it. May wait for the
  // GUI thread (see ViewerStopping).
  virtual void PlaceWindow() = 0;

  // Update thread: the framebuffer rectangle r (pixels, right and bottom
  // exclusive; may reach outside the framebuffer) changed; map it to the
  // window (FramebufferToWindow) and mark it for repainting. Also called
  // with the cursor lock held, so it must never wait for the GUI thread.
  virtual void InvalidateFramebufferRect(const Rect& r) = 0;

  // Update thread, after every datagram of the transmission: paint what was
  // invalidated and return when it was painted (so decoding never runs more
  // than one datagram ahead of the screen), or return at once when the
  // surface is stopping or hidden.
  virtual void UpdateWindow() = 0;
};

// A surface that shows nothing: the headless receiver, tests, benchmarks.
class NullSurface : public ViewerSurface {
 public:
  void ViewerStarted() override {}
  void ViewerStopping() override {}
  void PlaceWindow() override {}
  void InvalidateFramebufferRect(const Rect&) override {}
  void UpdateWindow() override {}
};

// Counters of the current cycle, for logs, tests and benchmarks.
struct ViewerStats {
  uint32_t stored = 0;          // datagrams stored in the ring
  uint32_t ringFull = 0;        // datagrams dropped because the ring was full
  uint32_t processed = 0;       // datagrams of the transmission handled
  uint32_t ignored = 0;         // datagrams of other transmissions
  uint32_t rejected = 0;        // damaged datagrams dropped (short, bad zlib, bad payload)
  uint32_t lost = 0;            // gaps found by the sequence check
  uint32_t updateRequests = 0;  // update requests asked of the owner
  uint32_t updatesApplied = 0;  // update datagrams decoded into the framebuffer
};

class qvViewer {
 public:
  // The group as a host-order constant (234.0.0.1).
  static constexpr uint32_t kGroup = kGroupAddressHostOrder;

  qvViewer();
  ~qvViewer();  // Stop()
  qvViewer(const qvViewer&) = delete;
  qvViewer& operator=(const qvViewer&) = delete;

  // Owner's thread. Inflate stream, data socket on port (joined to the
  // group), decoder, events, then the read and update threads. False (with
  // the failing step's log line) when a step fails; what was made stays
  // until Stop(). owner and surface are not owned and must outlive Stop().
  bool Init(ViewerOwner* owner, ViewerSurface* surface, uint16_t port);

  // Owner's thread (never from inside a ViewerOwner call). Closes the
  // socket, ends both threads (releasing a surface call in progress through
  // ViewerStopping), releases framebuffer, decoder, cursor image and inflate
  // stream, and logs "qvViewer: Quillview stopped". Harmless after a failed
  // or no Init().
  void Stop();

  // An init message has arrived since the last Init() (any thread).
  bool IsReceiving() const { return receiving_.load(std::memory_order_acquire); }
  bool IsRunning() const { return running_.load(std::memory_order_acquire); }

  // The framebuffer for painting; pixels is null until the update thread
  // has created it (before PlaceWindow) and after Stop(). GUI thread.
  FramebufferView FramebufferInfo() const;

  // The remote cursor for painting: hold CursorLock() while reading or
  // changing CursorState() (paint uses TakeCursorForPaint).
  std::mutex& CursorLock();
  RemoteCursorState& CursorState();

  // The init message that started the transmission (zero before).
  InitMessage Transmission() const;
  ViewerOwner* Owner() const { return owner_; }
  uint16_t Port() const { return port_; }
  ViewerStats Stats() const;

 private:
  bool OpenDataSocket();
  void ReadThread();
  void UpdateThread();
  void RaiseReadThreadPriority();

  ViewerOwner* owner_ = nullptr;
  ViewerSurface* surface_ = nullptr;
  uint16_t port_ = 0;

  UdpSocket socket_;
  std::thread readThread_;
  std::thread updateThread_;
  AutoResetEvent dataEvent_;
  std::atomic<bool> running_{false};
  std::atomic<bool> receiving_{false};
  std::atomic<bool> framebufferReady_{false};
  bool started_ = false;  // Init() got past its first step
  std::mutex startGate_;  // held by Init() while it starts the threads

  // Written by the read thread before receiving_ is published.
  uint8_t initMessage_[kInitSize] = {};
  std::unique_ptr<uint8_t[]> scratch_;  // read thread: waiting phase, full ring
  std::unique_ptr<uint8_t[]> packet_;   // update thread: the datagram being handled

  PacketRing ring_;
  std::unique_ptr<UpdateProcessor> processor_;
};

}  // namespace qc
