// SPDX-License-Identifier: GPL-3.0-or-later
// qvViewer: the receiving side of qvrecv, without any window. It owns the
// multicast data socket and the read thread (datagrams into the ring), the
// update thread (filter, inflate, decode, sequence check), the framebuffer
// and the remote cursor. It talks to the rest of the program through its
// owner (viewer_owner.h) and its surface (viewer_surface.h).
//
// Life: Init() starts a cycle (socket, threads); the read thread drops
// everything until the first usable init message, which fixes the
// transmission (identifier, size, pixel format, and the address and port it
// came from: datagrams from elsewhere are dropped, see SourceGuard); the
// update thread then
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
#include "receiver/viewer/packet_ring.h"
#include "receiver/viewer/signed_intake.h"
#include "receiver/viewer/source_guard.h"
#include "receiver/viewer/viewer_source.h"

namespace qc {

class UpdateProcessor;

// Counters of the current cycle, for logs, tests and benchmarks.
struct ViewerStats {
  uint32_t stored = 0;          // datagrams stored in the ring
  uint32_t ringFull = 0;        // datagrams dropped because the ring was full
  uint32_t processed = 0;       // datagrams of the transmission handled
  uint32_t ignored = 0;         // datagrams of other transmissions
  uint32_t foreign = 0;         // datagrams from another source than the init's
  uint32_t rejected = 0;        // damaged datagrams dropped (short, bad zlib, bad payload)
  uint32_t lost = 0;            // gaps found by the sequence check
  uint32_t updateRequests = 0;  // update requests asked of the owner
  uint32_t updatesApplied = 0;  // update datagrams decoded into the framebuffer
  uint32_t rebuilt = 0;         // lost datagrams rebuilt from parity
  uint32_t suppressed = 0;      // repair requests left to another receiver
  uint32_t videoFrames = 0;     // video-region frames painted
  uint32_t videoFramesLost = 0;  // video-region frames that missed a fragment
};

class qvViewer final : public ViewerSource {
 public:
  // The group as a host-order constant (234.0.0.1).
  static constexpr uint32_t kGroup = kGroupAddressHostOrder;

  qvViewer();
  ~qvViewer() override;  // Stop()
  qvViewer(const qvViewer&) = delete;
  qvViewer& operator=(const qvViewer&) = delete;

  // Owner's thread, before Init: from the next cycle on, only datagrams
  // signed by this key are taken (SignedIntake); null: unsigned
  // transmissions are followed. False when the key cannot be used.
  bool TrustSender(const PublicKey* key);
  bool SigningRequired() const { return signed_.Required(); }
  SignedIntakeCounters SigningCounters() const { return signed_.Counters(); }

  // Owner's thread. Inflate stream, data socket on port (joined to the
  // group), decoder, events, then the read and update threads. False (with
  // the failing step's log line) when a step fails; what was made stays
  // until Stop(). A null surface shows nothing.
  bool Init(ViewerOwner* owner, ViewerSurface* surface, uint16_t port) override;

  // Owner's thread (never from inside a ViewerOwner call). Closes the
  // socket, ends both threads (releasing a surface call in progress through
  // ViewerStopping), releases framebuffer, decoder, cursor image and inflate
  // stream, and logs "qvViewer: Quillview stopped". Harmless after a failed
  // or no Init().
  void Stop() override;

  bool IsReceiving() const override { return receiving_.load(std::memory_order_acquire); }
  bool IsRunning() const { return running_.load(std::memory_order_acquire); }
  FramebufferView FramebufferInfo() const override;
  std::mutex& CursorLock() override;
  RemoteCursorState& CursorState() override;

  // The init message that started the transmission (zero before).
  InitMessage Transmission() const;
  // Where the transmission comes from (zero before it started).
  SocketAddress TransmissionSource() const;
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
  bool started_ = false;  // Init() got past its first step
  std::mutex startGate_;  // held by Init() while it starts the threads

  // Written by the read thread before receiving_ is published.
  InitMessage init_;
  std::unique_ptr<uint8_t[]> scratch_;  // read thread: waiting phase, full ring
  std::unique_ptr<uint8_t[]> packet_;   // update thread: the datagram being handled

  PacketRing ring_;
  SourceGuard source_;  // the read thread's
  SignedIntake signed_;  // the read thread's while a cycle runs
  std::unique_ptr<UpdateProcessor> processor_;
};

}  // namespace qc
