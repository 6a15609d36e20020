#include "receiver/viewer/viewer.h"

#include <cstring>
#include <system_error>

#include "common/log_file.h"
#include "receiver/viewer/packet_dispatch.h"

namespace qc {

namespace {
NullSurface g_nullSurface;
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
  memset(initMessage_, 0, sizeof initMessage_);
  ring_.Reset();
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
  memset(initMessage_, 0, sizeof initMessage_);
  Log().Print("qvViewer: Quillview stopped\n");
}

void qvViewer::UpdateThread() {
  { std::lock_guard<std::mutex> gate(startGate_); }
  // Until the read thread has the init message; Stop() wakes it as well.
  while (!receiving_.load(std::memory_order_acquire) &&
         running_.load(std::memory_order_acquire)) {
    dataEvent_.Wait();
  }
  if (receiving_.load(std::memory_order_acquire)) {
    processor_->Start(initMessage_);
    uint8_t* packet = packet_.get();
    while (receiving_.load(std::memory_order_acquire)) {
      size_t length = ring_.Take(packet);
      if (length == 0) {
        if (!ring_.HasData()) dataEvent_.Wait();
        continue;
      }
      processor_->Process(packet, length);
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
  InitMessage init;
  if (receiving_.load(std::memory_order_acquire)) ParseInit(initMessage_, kInitSize, init);
  return init;
}

ViewerStats qvViewer::Stats() const {
  ViewerStats s;
  processor_->FillStats(s);
  s.stored = ring_.WrittenCount();
  s.ringFull = ring_.DroppedCount();
  return s;
}

}  // namespace qc
