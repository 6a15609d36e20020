// SPDX-License-Identifier: GPL-3.0-or-later
// qvViewer: the cycle (Init, Stop), the read thread, which waits for the
// first usable init message and then stores every datagram, untouched and in
// arrival order, in the ring, and the update thread, which hands them to the
// UpdateProcessor.
#include "receiver/viewer/viewer.h"

#include <chrono>
#include <system_error>

#include "common/log_file.h"
#include "platform/process_info.h"
#include "platform/tick_clock.h"
#include "receiver/viewer/update_processor.h"

namespace qc {

namespace {
NullSurface g_nullSurface;
int64_t WallMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}
// How often an idle update thread looks whether the transmission fell silent.
constexpr int kSilenceCheckMs = 250;
}  // namespace

qvViewer::qvViewer()
    : scratch_(new uint8_t[kMaxDatagram]),
      packet_(new uint8_t[kMaxDatagram]),
      processor_(std::make_unique<UpdateProcessor>()) {}

qvViewer::~qvViewer() { Stop(); }

bool qvViewer::Init(ViewerOwner* owner, ViewerSurface* surface, uint16_t port) {
  Stop();
  started_ = true;
  owner_ = owner;
  surface_ = surface != nullptr ? surface : &g_nullSurface;
  port_ = port;
  init_ = InitMessage{};
  ring_.Reset();
  source_.Reset();
  signed_.Reset();
  running_.store(false);
  receiving_.store(false);

  if (!processor_->Begin(owner_, surface_)) return false;
  if (!OpenDataSocket()) return false;
  surface_->ViewerStarted();

  running_.store(true, std::memory_order_release);
  // The threads wait at the gate until both handles are stored, so that
  // nothing they cause (an owner call leading to Stop) sees them half-set.
  std::lock_guard<std::mutex> gate(startGate_);
  try {
    readThread_ = std::thread(&qvViewer::ReadThread, this);
    updateThread_ = std::thread(&qvViewer::UpdateThread, this);
  } catch (const std::system_error&) {
    Log().Print("qvViewer: Unable to start threads\n");
    return false;
  }
  return true;
}

void qvViewer::Stop() {
  if (!started_) return;
  if (std::this_thread::get_id() == updateThread_.get_id() ||
      std::this_thread::get_id() == readThread_.get_id()) {
    // A thread cannot wait for itself: the owner must post the restart.
    Log().Print("qvViewer: Stop requested from a viewer thread; ignored\n");
    return;
  }
  started_ = false;
  running_.store(false, std::memory_order_release);
  if (socket_.IsOpen()) {
    socket_.DropGroup(kGroup);  // result ignored
    socket_.Close();            // wakes the read thread's receive
  }
  if (readThread_.joinable()) readThread_.join();

  receiving_.store(false, std::memory_order_release);
  if (surface_ != nullptr) surface_->ViewerStopping();
  dataEvent_.Set();
  if (updateThread_.joinable()) updateThread_.join();

  processor_->End();
  ring_.Reset();
  init_ = InitMessage{};
  if (source_.Dropped() > 0) {
    Log().Print("qvViewer: %lu datagrams from other sources dropped\n",
                static_cast<unsigned long>(source_.Dropped()));
  }
  if (signed_.Required()) {
    const SignedIntakeCounters c = signed_.Counters();
    Log().Print("qvViewer: Signed: %lu lists verified, %lu forged, %lu replayed, %lu not "
                "verified (too many), %lu unsigned datagrams dropped\n",
                static_cast<unsigned long>(c.lists), static_cast<unsigned long>(c.forged),
                static_cast<unsigned long>(c.replayed), static_cast<unsigned long>(c.rationed),
                static_cast<unsigned long>(c.unsigned_));
  }
  Log().Print("qvViewer: Quillview stopped\n");
}

bool qvViewer::TrustSender(const PublicKey* key) {
  if (key == nullptr) {
    signed_.Untrust();
    return true;
  }
  return signed_.Trust(*key);
}

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
  unsigned long error = 0;
  if (!RaiseCurrentThreadPriority(error)) {
    Log().Print("qvViewer: Unable to raise read thread priority (error 0x%lx)\n", error);
  }
}

void qvViewer::ReadThread() {
  { std::lock_guard<std::mutex> gate(startGate_); }
  Log().Print("qvViewer: Read thread started, socket=%d\n", socket_.Handle());
  uint8_t* scratch = scratch_.get();
  bool failureReported = false;

  // Waiting for the init message: everything else is dropped. With a
  // trusted key only a signed init counts, and signature lists are taken
  // from any source until then.
  SocketAddress from;
  bool unsignedReported = false;
  for (;;) {
    long n = socket_.Receive(scratch, kMaxDatagram, &from);
    if (n >= 0) {
      failureReported = false;
      if (signed_.Required()) {
        const SignedIntake::Verdict v =
            signed_.Check(scratch, static_cast<size_t>(n), TickCount(), WallMs());
        if (v != SignedIntake::Verdict::Take) {
          if (v == SignedIntake::Verdict::Drop && !unsignedReported &&
              IsTransmissionDatagram(scratch, static_cast<size_t>(n))) {
            Log().Print("qvViewer: Waiting for a signed transmission; dropping unsigned "
                        "datagrams\n");
            unsignedReported = true;
          }
          continue;
        }
      }
      if (PeekType(scratch, static_cast<size_t>(n)) == static_cast<uint16_t>(PacketType::Init)) {
        InitMessage init;
        if (ParseInit(scratch, static_cast<size_t>(n), init) && IsUsableInit(init)) {
          init_ = init;
          source_.Fix(from);
          if (signed_.Required()) signed_.FixTransmission();
          break;
        }
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

  owner_->TransmissionFrom(from.address, from.port);
  receiving_.store(true, std::memory_order_release);
  dataEvent_.Set();
  // The identifier is shown as the signed number it is on the wire.
  Log().Print("qvViewer: Received server init message, screen %dx%d, id %d\n",
              static_cast<int>(init_.width), static_cast<int>(init_.height),
              static_cast<int>(static_cast<int16_t>(init_.screenId)));
  RaiseReadThreadPriority();

  // Storing: straight into the ring; only when the ring is full does a
  // datagram go through the scratch buffer (and is dropped if it stays full).
  bool fullReported = false;
  while (running_.load(std::memory_order_acquire)) {
    uint8_t* slot = ring_.WriteSlot();
    long n = socket_.Receive(slot != nullptr ? slot : scratch, kMaxDatagram, &from);
    if (n > 0) {
      failureReported = false;
      // Only the init's source: what was received into the slot is not
      // committed, and the next datagram overwrites it.
      if (!source_.Accept(from, TickCount())) continue;
      // Signed: lists are used up here, and only the datagrams they name
      // go on.
      if (signed_.Required() &&
          signed_.Check(slot != nullptr ? slot : scratch, static_cast<size_t>(n), TickCount(),
                        WallMs()) != SignedIntake::Verdict::Take) {
        continue;
      }
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

void qvViewer::UpdateThread() {
  { std::lock_guard<std::mutex> gate(startGate_); }
  // Until the read thread has the init message; Stop() wakes it as well.
  while (!receiving_.load(std::memory_order_acquire) &&
         running_.load(std::memory_order_acquire)) {
    dataEvent_.Wait();
  }
  if (receiving_.load(std::memory_order_acquire)) {
    processor_->Start(init_);
    uint8_t* packet = packet_.get();
    while (receiving_.load(std::memory_order_acquire)) {
      size_t length = ring_.Take(packet);
      if (length != 0) {
        processor_->Process(packet, length);
      } else if (!ring_.HasData()) {
        // Woken at least a few times a second, to notice a silent sender.
        dataEvent_.WaitFor(processor_->WaitMs(TickCount(), kSilenceCheckMs));
      }
      processor_->CheckSilence(TickCount());
      processor_->CheckRepairs(TickCount());
    }
  }
  Log().Print("qvViewer: Update thread finished\n");
}

FramebufferView qvViewer::FramebufferInfo() const {
  if (!processor_->HasFramebuffer()) return FramebufferView{};
  return processor_->Picture().View();
}

std::mutex& qvViewer::CursorLock() { return processor_->Cursor().Lock(); }

RemoteCursorState& qvViewer::CursorState() { return processor_->Cursor().State(); }

InitMessage qvViewer::Transmission() const {
  return receiving_.load(std::memory_order_acquire) ? init_ : InitMessage{};
}

SocketAddress qvViewer::TransmissionSource() const {
  SocketAddress a;
  if (!receiving_.load(std::memory_order_acquire)) return a;
  a.address = source_.Address();
  a.port = source_.Port();
  return a;
}

ViewerStats qvViewer::Stats() const {
  ViewerStats s;
  processor_->FillStats(s);
  s.foreign = source_.Dropped();
  s.stored = ring_.WrittenCount();
  s.ringFull = ring_.DroppedCount();
  return s;
}

}  // namespace qc
