// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/shell/listen_thread.h"

#include "common/log_file.h"
#include "common/protocol.h"
#include "platform/tick_clock.h"
#include "platform/udp_socket.h"

namespace qc {

namespace {

// Wakes a thread blocked in a receive on sock: the socket's close does that
// on every system, and waits until the woken receive has left.
void WakeReceiver(const std::shared_ptr<UdpSocket>& sock) {
  if (sock) sock->Close();
}

}  // namespace

ListenThread::ListenThread(ListenOwner& owner) : owner_(owner) {}

ListenThread::~ListenThread() { Shutdown(); }

bool ListenThread::Start() {
  listening_ = true;
  try {
    thread_ = std::thread(&ListenThread::Run, this);
  } catch (const std::system_error& e) {
    listening_ = false;
    Log().Print("qcTray: Creating listen thread failed (error %ld)\n",
                static_cast<long>(e.code().value()));
    return false;
  }
  return true;
}

ListenThread::Current ListenThread::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  serving_ = current_.socket;
  return current_;
}

void ListenThread::Release(Current& cur) {
  cur.socket.reset();  // the thread's own reference goes first
  {
    std::lock_guard<std::mutex> lock(mutex_);
    serving_.reset();
  }
  released_.notify_all();
}

bool ListenThread::IsCurrent(const std::shared_ptr<UdpSocket>& sock) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return current_.socket == sock;
}

void ListenThread::CloseListenSocket() {
  std::shared_ptr<UdpSocket> old;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    old = std::move(current_.socket);
    current_.socket.reset();
  }
  if (!old) return;
  WakeReceiver(old);
  // The woken thread lets go at once (its receive fails, it posts nothing
  // that blocks); then this is the last reference and closes the socket.
  std::unique_lock<std::mutex> lock(mutex_);
  released_.wait(lock, [&] { return serving_ != old; });
}

bool ListenThread::OpenListenSocket(uint16_t port, Phase phase) {
  CloseListenSocket();
  auto sock = std::make_shared<UdpSocket>();
  if (!sock->Create()) {
    Log().Print("qcTray: Unable to create listen socket (error %d)\n", sock->LastError());
    return false;
  }
  // Address reuse lets a receiver on this same machine keep port P while the
  // start check listens there; without it the check could not bind and the
  // transmission would never start.
  sock->SetReuseAddress(true);
  bool ok = true;
  if (!sock->SetReceiveBuffer(phase == Phase::Requests ? kRequestReceiveBuffer
                                                        : kListenReceiveBuffer)) {
    Log().Print("qcTray: Unable to set listen socket buffer size\n");
    ok = false;
  } else if (!sock->Bind(port)) {
    Log().Print("qcTray: Unable to bind listen socket\n");
    ok = false;
  } else if (!sock->JoinGroup(kGroupAddressHostOrder)) {
    Log().Print("qcTray: Unable to join multicast group\n");
    ok = false;
  } else if (!sock->SetMulticastTtl(kReceivingTtl)) {
    Log().Print("qcTray: Unable to set TTL\n");
    ok = false;
  }
  if (!ok) return false;  // sock closes here
  std::lock_guard<std::mutex> lock(mutex_);
  current_.socket = std::move(sock);
  current_.phase = phase;
  if (phase == Phase::StartCheck) conflict_ = false;
  return true;
}

void ListenThread::Shutdown() {
  CloseListenSocket();
  listening_ = false;
  startListen_.Set();
  if (thread_.joinable()) thread_.join();
}

void ListenThread::Run() {
  Log().Print("qcTray: Listen thread started\n");
  while (true) {
    startListen_.Wait();
    if (!listening_) break;
    Current cur = Take();
    Serve(cur);
    Release(cur);
  }
  Log().Print("qcTray: Listen thread finished\n");
}

void ListenThread::Serve(const Current& cur) {
  // Receive buffer of the largest datagram, kept for the thread's life;
  // nothing is allocated per datagram.
  static thread_local uint8_t buffer[kMaxDatagram];
  if (!cur.socket) return;  // the phase's socket could not be opened
  if (cur.phase == Phase::StartCheck) {
    SocketAddress from;
    bool noiseLogged = false;
    for (;;) {
      long n = cur.socket->Receive(buffer, sizeof buffer, &from);
      // A failed receive: the check ended (or there was no socket); the UI
      // thread has opened the next socket, or will, and signals.
      if (n < 0 || !listening_ || (n == 0 && !IsCurrent(cur.socket))) break;
      // Only a transmission counts: junk on the port (anyone may send it)
      // must not keep a sender from starting.
      if (!IsTransmissionDatagram(buffer, static_cast<size_t>(n))) {
        if (!noiseLogged) {
          Log().Print("qcTray: Ignoring a datagram that is no transmission (%ld bytes from "
                      "%d.%d.%d.%d)\n",
                      n, static_cast<int>(from.address >> 24),
                      static_cast<int>((from.address >> 16) & 0xFF),
                      static_cast<int>((from.address >> 8) & 0xFF),
                      static_cast<int>(from.address & 0xFF));
          noiseLogged = true;
        }
        continue;
      }
      bool stillCurrent;
      {
        // Raise the conflict only for the check that is still running,
        // under the lock the next Start takes to clear it.
        std::lock_guard<std::mutex> lock(mutex_);
        stillCurrent = current_.socket == cur.socket;
        if (stillCurrent) {
          conflict_ = true;
          current_.socket.reset();
        }
      }
      if (stillCurrent) {
        owner_.AnotherTransmitterDetected(from.address);
        Log().Print(
            "qcTray: Another transmitter detected at %d.%d.%d.%d\n",
            static_cast<int>(from.address >> 24), static_cast<int>((from.address >> 16) & 0xFF),
            static_cast<int>((from.address >> 8) & 0xFF), static_cast<int>(from.address & 0xFF));
      }
      break;
    }
  } else {
    // Anyone can send requests: a flood of them must not flood the log. At
    // most kLoggedPerSecond lines a second, then one with the count of the
    // rest.
    constexpr int kLoggedPerSecond = 20;
    uint32_t second = TickCount();
    int logged = 0;
    unsigned long unlogged = 0;
    while (listening_) {
      SocketAddress from;
      long n = cur.socket->Receive(buffer, sizeof buffer, &from);
      // A socket closed under the receive reads as a failure or an empty
      // datagram: the next Start or Shutdown has replaced it. A real empty
      // datagram is ignored.
      if (n < 0 || (n == 0 && !IsCurrent(cur.socket))) break;
      if (n > 0 && IsUpdateRequest(buffer, static_cast<size_t>(n))) {
        const uint32_t now = TickCount();
        if (now - second >= 1000) {
          if (unlogged > 0) {
            Log().Print("qcTray: %lu more update requests received\n", unlogged);
          }
          second = now;
          logged = 0;
          unlogged = 0;
        }
        if (logged < kLoggedPerSecond) {
          Log().Print("qcTray: Update request received\n");
          ++logged;
        } else {
          ++unlogged;
        }
        // An extension that does not parse asks for the whole screen.
        RepairRequest repair;
        if (ParseRepairRequest(buffer, static_cast<size_t>(n), repair)) {
          owner_.RepairRequested(repair.screenId, repair.first, repair.last, from.address);
        } else {
          owner_.UpdateRequested();
        }
      }
    }
  }
}
}  // namespace qc
