// SPDX-License-Identifier: GPL-3.0-or-later
// The sender's listen thread. One socket, joined to 234.0.0.1, serves two
// phases one after the other:
// - the start check: bound to the data port P for the 1500 ms before a
//   transmission starts; a datagram there that parses as a transmission's
//   (init, keep-alive, update, signature list) comes from another
//   transmitter; anything else is noise, logged once and ignored;
// - the request phase: bound to P + 1, where receivers send their update
//   requests, from the end of the check until the next Start (also while
//   idle after a Stop).
//
// The UI thread opens the socket of each phase (OpenListenSocket) and then
// signals the thread. Each socket carries its phase, so the thread always
// serves the socket it finds the way that socket was opened for, however
// the signals and closes interleave. Opening a new socket shuts the previous
// one down, which ends the receive the thread is blocked in, and waits (a
// moment) until the thread has let go of it before closing it: so the port
// is free again for the next socket, and a descriptor number is never
// reused under a receive that is still about to run.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/auto_reset_event.h"

namespace qc {

class UdpSocket;

// What the thread reports. Both calls run on the listen thread and must not
// block for long (post to the UI thread).
class ListenOwner {
 public:
  virtual ~ListenOwner() = default;
  // An update request arrived on P + 1.
  virtual void UpdateRequested() = 0;
  // A repair request arrived on P + 1 from `from` (an address in host
  // order); by default a full-screen update.
  virtual void RepairRequested(uint16_t screenId, uint32_t first, uint32_t last, uint32_t from) {
    (void)screenId, (void)first, (void)last, (void)from;
    UpdateRequested();
  }
  // A transmission's datagram arrived on P during the start check; address
  // in host order.
  virtual void AnotherTransmitterDetected(uint32_t address) = 0;
};

class ListenThread {
 public:
  enum class Phase { StartCheck, Requests };

  explicit ListenThread(ListenOwner& owner);
  ~ListenThread();  // Shutdown()
  ListenThread(const ListenThread&) = delete;
  ListenThread& operator=(const ListenThread&) = delete;

  // Starts the thread, which waits for the first Signal(). Once.
  bool Start();

  // UI thread. Shuts down the open socket, if any, and opens a new one on
  // port for the phase: SO_RCVBUF 1024 for the start check, room for a
  // class's burst of requests after it (kRequestReceiveBuffer), bound with
  // address reuse, joined to the group, multicast TTL 0. Failures are
  // logged and leave no socket open. A start-check socket also clears the
  // conflict flag.
  bool OpenListenSocket(uint16_t port, Phase phase);
  // Shuts down and forgets the open socket.
  void CloseListenSocket();
  // Wakes the thread for the socket just opened.
  void Signal() { startListen_.Set(); }
  // Closes the socket, ends the thread and waits for it.
  void Shutdown();

  // Set by the thread when the start check heard another transmitter; the
  // UI thread's start timer then does not start the transmission.
  bool Conflict() const { return conflict_.load(); }

 private:
  struct Current {
    std::shared_ptr<UdpSocket> socket;
    Phase phase = Phase::StartCheck;
  };
  void Run();
  void Serve(const Current& cur);
  // Takes the open socket as the one being served; Release() lets go.
  Current Take();
  void Release(Current& cur);
  bool IsCurrent(const std::shared_ptr<UdpSocket>& sock) const;

  ListenOwner& owner_;
  mutable std::mutex mutex_;  // guards current_ and the conflict hand-over
  Current current_;
  std::shared_ptr<UdpSocket> serving_;  // the socket the thread is using
  std::condition_variable released_;
  AutoResetEvent startListen_;
  std::atomic<bool> listening_{false};
  std::atomic<bool> conflict_{false};
  std::thread thread_;
};

}  // namespace qc
