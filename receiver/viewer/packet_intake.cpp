// The viewer's network intake: the data socket and the read thread, which
// waits for the first usable init message and then stores every datagram,
// untouched and in arrival order, in the ring for the update thread.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "common/byte_order.h"
#include "common/log_file.h"
#include "receiver/viewer/viewer.h"

namespace qc {

bool qvViewer::OpenDataSocket() {
  if (!socket_.Create()) {
    Log().Print("qvViewer: Unable to create socket (error 0x%lx)\n",
                static_cast<unsigned long>(socket_.LastError()));
    return false;
  }
  socket_.DropGroup(kGroup);  // result ignored
  if (!socket_.SetReceiveBuffer(kReceiverDataReceiveBuffer)) {
    Log().Print("qvViewer: Unable to set socket buffer size\n");
    socket_.Close();
    return false;
  }
  // Several receivers may run on one host.
  if (!socket_.SetReuseAddress(true)) {
    Log().Print("qvViewer: Unable to set SO_REUSEADDR socket option\n");
  }
  if (!socket_.Bind(port_)) {
    Log().Print("qvViewer: Unable to bind socket\n");
    socket_.Close();
    return false;
  }
  if (!socket_.JoinGroup(kGroup)) {
    Log().Print("qvViewer: Unable to join multicast group\n");
    socket_.Close();
    return false;
  }
  socket_.SetMulticastTtl(kReceivingTtl);  // the socket never sends; failure ignored
  return true;
}

void qvViewer::RaiseReadThreadPriority() {
  // Best effort: a higher scheduling priority for this thread only, so the
  // socket is drained even while the update thread decodes.
  pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), -10) != 0) {
    Log().Print("qvViewer: Unable to raise read thread priority (error 0x%lx)\n",
                static_cast<unsigned long>(errno));
  }
}

void qvViewer::ReadThread() {
  { std::lock_guard<std::mutex> gate(startGate_); }
  Log().Print("qvViewer: Read thread started, socket=%d\n", socket_.Handle());
  uint8_t* scratch = scratch_.get();
  bool failureReported = false;

  // Waiting for the init message: everything else is dropped.
  for (;;) {
    long n = socket_.Receive(scratch, kMaxDatagram);
    if (n >= 0) {
      failureReported = false;
      if (n >= 2 && ReadU16(scratch) == static_cast<uint16_t>(PacketType::Init)) {
        InitMessage init;
        if (ParseInit(scratch, static_cast<size_t>(n), init) && Framebuffer::IsUsable(init)) break;
        Log().Print("qvViewer: Ignoring unusable init message (%d bytes, screen %dx%d, %d bits)\n",
                    static_cast<int>(n), static_cast<int>(init.width),
                    static_cast<int>(init.height), static_cast<int>(init.bitsPerPixel));
      }
      continue;
    }
    unsigned long error = static_cast<unsigned long>(socket_.LastError());
    if (!failureReported) {
      Log().Print("qvViewer: Socket failure, network may be down (error 0x%lx)\n", error);
      failureReported = true;
    }
    if (!socket_.IsOpen() || !running_.load(std::memory_order_acquire)) {
      Log().Print("qvViewer: Exiting read thread (error 0x%lx)\n", error);
      return;
    }
  }

  memcpy(initMessage_, scratch, kInitSize);
  receiving_.store(true, std::memory_order_release);
  dataEvent_.Set();
  Log().Print("qvViewer: Received server init message, screen %dx%d, id %d\n",
              static_cast<int>(ReadI16(initMessage_ + 4)), static_cast<int>(ReadI16(initMessage_ + 6)),
              static_cast<int>(ReadI16(initMessage_ + 2)));
  RaiseReadThreadPriority();

  // Storing: straight into the ring; only when the ring is full does a
  // datagram go through the scratch buffer (and is dropped if it stays full).
  bool fullReported = false;
  while (running_.load(std::memory_order_acquire)) {
    uint8_t* slot = ring_.WriteSlot();
    long n = socket_.Receive(slot != nullptr ? slot : scratch, kMaxDatagram);
    if (n > 0) {
      failureReported = false;
      if (slot != nullptr) {
        ring_.Commit(static_cast<size_t>(n));
      } else if (!ring_.Store(scratch, static_cast<size_t>(n))) {
        ring_.CountDropped();
        if (!fullReported) {
          Log().Print("qvViewer: Receive ring full, dropping packets\n");
          fullReported = true;
        }
        continue;
      }
      fullReported = false;
      dataEvent_.Set();
    } else if (n < 0) {
      if (!running_.load(std::memory_order_acquire) || !socket_.IsOpen()) break;
      if (!failureReported) {
        Log().Print("qvViewer: Socket failure, network may be down\n");
        failureReported = true;
      }
    }
    // n == 0: an empty datagram carries nothing; not stored.
  }
  Log().Print("qvViewer: Read thread finished\n");
}

}  // namespace qc
