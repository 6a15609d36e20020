// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/batch_deflater.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace qc {

namespace {

// zlib parameters of every datagram: zlib header, 32 KiB window, memory
// level 9. The version string is the interface version the wire format was
// made with; zlib checks only its major digit.
constexpr int kWindowBits = 15;
constexpr int kMemLevel = 9;
constexpr char kZlibVersion[] = "1.1.4";

}  // namespace

int BatchDeflater::Stream::Deflate(const uint8_t* payload, size_t length, int atLevel,
                                   uint8_t* out, size_t& produced) {
  produced = 0;
  int rc = Z_OK;
  if (!ready || level != atLevel) {
    if (ready) deflateEnd(&z);
    z = z_stream{};
    rc = deflateInit2_(&z, atLevel, Z_DEFLATED, kWindowBits, kMemLevel, Z_DEFAULT_STRATEGY,
                       kZlibVersion, static_cast<int>(sizeof(z_stream)));
    ready = rc == Z_OK;
    level = atLevel;
  } else {
    // The state of a new stream with the same parameters.
    rc = deflateReset(&z);
  }
  if (rc != Z_OK) return rc;
  z.next_in = const_cast<Bytef*>(payload);
  z.avail_in = static_cast<uInt>(length & 0xFFFF);
  z.next_out = out;
  z.avail_out = static_cast<uInt>(kMaxPayload);
  rc = deflate(&z, Z_FULL_FLUSH);
  produced = kMaxPayload - z.avail_out;
  return rc;
}

void BatchDeflater::StopHelpers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  queued_.notify_all();
  for (std::thread& t : helpers_) t.join();
  helpers_.clear();
}

void BatchDeflater::Begin() {
  if (!slots_) slots_ = std::make_unique<Slot[]>(kSlots);
  if (helpers_.empty()) {
    // The caller deflates too: one helper per further core.
    const unsigned cores = std::max(2u, std::thread::hardware_concurrency());
    try {
      for (unsigned i = 1; i < cores && i < static_cast<unsigned>(kSlots); ++i) {
        helpers_.emplace_back(&BatchDeflater::HelperThread, this);
      }
    } catch (const std::system_error&) {
      // Fewer helpers, or none.
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  std::fill(std::begin(states_), std::end(states_), State::Free);
  head_ = 0;
  pending_ = 0;
}

void BatchDeflater::Queue(const uint8_t* payload, size_t length, PacketType type, int level) {
  const int index = (head_ + pending_) % kSlots;
  Slot& slot = slots_[index];
  length &= 0xFFFF;
  std::memcpy(slot.payload, payload, length);
  slot.length = length;
  slot.type = type;
  slot.level = level;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    states_[index] = State::Queued;
    ++pending_;
  }
  queued_.notify_one();
}

void BatchDeflater::HelperThread() {
  Stream stream;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    int index = -1;
    queued_.wait(lock, [&] {
      for (int i = 0; i < pending_ && index < 0; ++i) {
        if (states_[(head_ + i) % kSlots] == State::Queued) index = (head_ + i) % kSlots;
      }
      return stop_ || index >= 0;
    });
    if (stop_) break;
    states_[index] = State::Taken;
    lock.unlock();
    Slot& slot = slots_[index];
    slot.rc = stream.Deflate(slot.payload, slot.length, slot.level,
                             slot.packet + kCompressedHeaderSize, slot.produced);
    lock.lock();
    states_[index] = State::Done;
    finished_.notify_all();
  }
}

void BatchDeflater::Work() {
  if (pending_ == 0) return;
  std::unique_lock<std::mutex> lock(mutex_);
  State& head = states_[head_];
  if (head == State::Taken) {
    finished_.wait(lock, [&] { return head == State::Done; });
  } else if (head == State::Queued) {
    head = State::Taken;
    lock.unlock();
    Slot& slot = slots_[head_];
    slot.rc = own_.Deflate(slot.payload, slot.length, slot.level,
                           slot.packet + kCompressedHeaderSize, slot.produced);
    lock.lock();
    head = State::Done;
  }
}

const BatchDeflater::Slot* BatchDeflater::Finished() {
  std::lock_guard<std::mutex> lock(mutex_);
  return pending_ > 0 && states_[head_] == State::Done ? &slots_[head_] : nullptr;
}

void BatchDeflater::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  states_[head_] = State::Free;
  head_ = (head_ + 1) % kSlots;
  --pending_;
}

}  // namespace qc
