// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/sender.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "common/byte_order.h"
#include "common/log_file.h"
#include "platform/process_info.h"
#include "platform/tick_clock.h"

namespace qc {

namespace {

// zlib parameters of every datagram: zlib header, 32 KiB window, memory
// level 9 (the level is the transport's, see kDefaultLevel). The version
// string is the interface version the wire format was made with; zlib
// checks only its major digit.
constexpr int kWindowBits = 15;
constexpr int kMemLevel = 9;
constexpr char kZlibVersion[] = "1.1.4";

int InitStream(z_stream& stream, int level) {
  stream = z_stream{};
  return deflateInit2_(&stream, level, Z_DEFLATED, kWindowBits, kMemLevel, Z_DEFAULT_STRATEGY,
                       kZlibVersion, static_cast<int>(sizeof(z_stream)));
}

}  // namespace

qcSender::~qcSender() {
  StopHelpers();
  Close();
  EndStream();
}

void qcSender::StopHelpers() {
  {
    std::lock_guard<std::mutex> lock(batchMutex_);
    stopHelpers_ = true;
  }
  queued_.notify_all();
  for (std::thread& t : helpers_) t.join();
  helpers_.clear();
  stopHelpers_ = false;
}

uint16_t qcSender::MakeScreenId(uint32_t hostAddress, uint32_t pid, uint32_t randomValue,
                                uint32_t ticks) {
  return static_cast<uint16_t>((hostAddress ^ pid ^ randomValue ^ ticks) & 0xFFFF);
}

bool qcSender::EnableSigning(const PrivateKey& key) {
  auto signer = std::make_unique<DatagramSigner>();
  if (!signer->Load(key)) return false;
  signer_ = std::move(signer);
  return true;
}

bool qcSender::Transmit(const uint8_t* data, size_t length) {
  if (signer_ == nullptr) return socket_.SendTo(data, length, destination_);
  signer_->Queue(data, length);
  return true;
}

bool qcSender::Open(SenderOwner* owner, const char* group, uint16_t port) {
  uint32_t address = LocalHostAddress();
  srand(TickCount());
  uint32_t random = static_cast<uint32_t>(rand());
  uint16_t id = MakeScreenId(address, CurrentProcessId(), random, TickCount());
  screenId_ = id;

  socket_.Close();
  if (!socket_.Create()) {
    Log().Print("qcSender: Unable to create socket\n");
    return false;
  }
  socket_.DropGroup(kGroupAddressHostOrder);  // result ignored
  if (!socket_.SetSendBuffer(kSenderDataSendBuffer)) {
    socket_.Close();
    Log().Print("qcSender: Unable to set socket buffer size\n");
    return false;
  }
  if (!socket_.Bind(0)) {
    socket_.Close();
    Log().Print("qcSender: Unable to bind socket\n");
    return false;
  }
  if (!socket_.SetMulticastTtl(kSendingTtl)) {
    socket_.Close();
    Log().Print("qcSender: Unable to set socket TTL\n");
    return false;
  }
  if (!SocketAddress::FromDotted(group, port, destination_)) {
    socket_.Close();
    Log().Print("qcSender: Unable to bind socket\n");
    return false;
  }
  owner_ = owner;
  parity_.Discard();  // its group was numbered under the old identifier
  if (signer_ != nullptr && !signer_->Start(&socket_, destination_, id)) {
    socket_.Close();
    return false;
  }
  if (!ResetStream()) {
    socket_.Close();
    return false;
  }
  totalBytes_ = 0;
  return true;
}

void qcSender::EndStream() {
  if (streamActive_) {
    deflateEnd(&stream_);
    streamActive_ = false;
  }
}

bool qcSender::StartStream(int level) {
  EndStream();
  int rc = InitStream(stream_, level);
  streamLevel_ = level;
  if (rc != Z_OK) {
    Log().Print("qcSender: Re-initializing zlib stream failed: %d:%s\n", rc,
                stream_.msg ? stream_.msg : "");
    socket_.Close();
    if (owner_ != nullptr) owner_->FatalError();
    return false;
  }
  streamActive_ = true;
  return true;
}

bool qcSender::ResetStream() {
  // The open group's parity goes before the init message of the new stream.
  parity_.Flush(TickCount(), true, [this](ParityEncoder::Datagram d) { SendParity(d); });
  sequence_ = 0;
  if (!StartStream(level_)) return false;
  sentSinceTick_ = false;
  return true;
}

void qcSender::SetLevel(int level) { level_ = std::clamp(level, 1, 9); }

int qcSender::Deflate(z_stream& stream, const uint8_t* payload, size_t length, uint8_t* out,
                      size_t& produced) {
  produced = 0;
  stream.next_in = const_cast<Bytef*>(payload);
  stream.avail_in = static_cast<uInt>(length & 0xFFFF);
  stream.next_out = out;
  stream.avail_out = static_cast<uInt>(kMaxPayload);
  int rc = deflate(&stream, Z_FULL_FLUSH);
  produced = kMaxPayload - stream.avail_out;
  // A full output area means the flush may be incomplete.
  if (rc == Z_OK && stream.avail_out == 0) produced = kMaxPayload;
  return rc;
}

bool qcSender::SendDatagram(PacketType type, const uint8_t* packet, size_t produced,
                            size_t length) {
  BuildCompressedHeader({static_cast<uint16_t>(type), ScreenId(), sequence_},
                        const_cast<uint8_t*>(packet));
  size_t datagram = kCompressedHeaderSize + produced;
  if (!Transmit(packet, datagram)) {
    if (!socket_.IsOpen()) return false;
    Log().Print("qcSender: Sending packet failed (%d bytes, error %ld)\n",
                static_cast<int>(length & 0xFFFF), static_cast<long>(socket_.LastError()));
    return false;
  }
  AfterSend(datagram);
  parity_.Add(packet, datagram, sequence_++, TickCount(),
              [this](ParityEncoder::Datagram d) { SendParity(d); });
  return true;
}

void qcSender::SendParity(ParityEncoder::Datagram parity) {
  if (!Transmit(parity.data, parity.length)) {
    if (!socket_.IsOpen()) return;
    Log().Print("qcSender: Sending parity packet failed (%d bytes, error %ld)\n",
                static_cast<int>(parity.length), static_cast<long>(socket_.LastError()));
    return;
  }
  AfterSend(parity.length);
}

void qcSender::NoteLosses(int datagrams) { parity_.NoteLosses(datagrams, TickCount()); }

void qcSender::FlushParity() {
  parity_.Flush(TickCount(), false, [this](ParityEncoder::Datagram d) { SendParity(d); });
}

int qcSender::ParityDueMs() const { return parity_.DueMs(TickCount()); }

void qcSender::AfterSend(size_t datagramLength) {
  totalBytes_.fetch_add(static_cast<uint32_t>(datagramLength), std::memory_order_relaxed);
  sentSinceTick_ = true;
}

SendResult qcSender::SendPayload(const uint8_t* payload, size_t length, PacketType type) {
  if (!socket_.IsOpen()) return SendResult::Failed;
  length &= 0xFFFF;
  if (batching_ && length <= kSurelyFits) {
    // Wait for room: the head slot is sent as soon as it is deflated.
    while (pending_ == kBatchSlots) DrainOne();
    Slot& slot = slots_[(head_ + pending_) % kBatchSlots];
    std::memcpy(slot.payload, payload, length);
    slot.length = length;
    slot.type = type;
    slot.level = NextLevel();
    {
      std::lock_guard<std::mutex> lock(batchMutex_);
      slot.state = Slot::Queued;
      ++pending_;
    }
    queued_.notify_one();
    return SendResult::Sent;
  }
  // Sent in order: whatever the batch holds goes first.
  if (batching_) DrainBatch();

  // deflateReset gives the state of a new stream with the same parameters.
  int rc = Z_OK;
  const int level = NextLevel();
  if (!streamActive_ || streamLevel_ != level) {
    if (!StartStream(level)) return SendResult::Failed;
  } else {
    rc = deflateReset(&stream_);
  }
  uint8_t* data = packet_ + kCompressedHeaderSize;
  size_t produced = 0;
  if (rc == Z_OK) rc = Deflate(stream_, payload, length, data, produced);
  if (rc != Z_OK) {
    Log().Print("qcSender: Deflate failed: %d:%s\n", rc, stream_.msg ? stream_.msg : "");
    socket_.Close();
    if (owner_ != nullptr) owner_->FatalError();
    return SendResult::Failed;
  }
  // A full output area means the flush may be incomplete; anything above
  // 59992 bytes makes a datagram that every receiver discards. Either way
  // the caller must split the payload: send nothing.
  if (produced > kMaxCompressedData) return SendResult::TooLarge;
  Learn(length, produced);
  return SendDatagram(type, packet_, produced, length) ? SendResult::Sent : SendResult::Failed;
}

void qcSender::BeginBatch() {
  if (batching_) return;
  if (!slots_) slots_ = std::make_unique<Slot[]>(kBatchSlots);
  if (helpers_.empty()) {
    // The work thread deflates too: one helper per further core.
    unsigned cores = std::max(2u, std::thread::hardware_concurrency());
    try {
      for (unsigned i = 1; i < cores && i < static_cast<unsigned>(kBatchSlots); ++i) {
        helpers_.emplace_back(&qcSender::HelperThread, this);
      }
    } catch (const std::system_error&) {
      // Fewer helpers (or none: the work thread then deflates every slot).
    }
  }
  {
    std::lock_guard<std::mutex> lock(batchMutex_);
    head_ = 0;
    pending_ = 0;
  }
  batching_ = true;
}

void qcSender::EndBatch() {
  if (!batching_) return;
  DrainBatch();
  batching_ = false;
}

void qcSender::HelperThread() {
  z_stream stream{};
  int level = kDefaultLevel;
  bool ready = InitStream(stream, level) == Z_OK;
  std::unique_lock<std::mutex> lock(batchMutex_);
  for (;;) {
    Slot* slot = nullptr;
    queued_.wait(lock, [&] {
      if (stopHelpers_) return true;
      for (int i = 0; i < pending_ && slot == nullptr; ++i) {
        Slot& s = slots_[(head_ + i) % kBatchSlots];
        if (s.state == Slot::Queued) slot = &s;
      }
      return slot != nullptr;
    });
    if (slot == nullptr) break;
    slot->state = Slot::Taken;
    lock.unlock();
    int rc = Z_STREAM_ERROR;
    if (ready && level != slot->level) {
      deflateEnd(&stream);
      level = slot->level;
      ready = InitStream(stream, level) == Z_OK;
    }
    if (ready && deflateReset(&stream) == Z_OK) {
      rc = Deflate(stream, slot->payload, slot->length, slot->packet + kCompressedHeaderSize,
                   slot->produced);
    }
    lock.lock();
    slot->rc = rc;
    slot->state = Slot::Done;
    finished_.notify_all();
  }
  lock.unlock();
  if (ready) deflateEnd(&stream);
}

void qcSender::DrainOne() {
  Slot* own = nullptr;
  {
    std::unique_lock<std::mutex> lock(batchMutex_);
    Slot& head = slots_[head_];
    if (head.state == Slot::Queued) {
      own = &head;
      own->state = Slot::Taken;
    } else if (head.state == Slot::Taken) {
      finished_.wait(lock, [&] { return head.state == Slot::Done; });
    }
  }
  if (own != nullptr) {
    int rc = Z_OK;
    if (!streamActive_ || streamLevel_ != own->level) {
      EndStream();
      rc = InitStream(stream_, own->level);
      streamActive_ = rc == Z_OK;
      streamLevel_ = own->level;
    } else {
      rc = deflateReset(&stream_);
    }
    if (rc == Z_OK) {
      rc = Deflate(stream_, own->payload, own->length, own->packet + kCompressedHeaderSize,
                   own->produced);
    }
    std::lock_guard<std::mutex> lock(batchMutex_);
    own->rc = rc;
    own->state = Slot::Done;
  }
  // Send the finished head slots, in order.
  for (;;) {
    Slot* slot = nullptr;
    {
      std::lock_guard<std::mutex> lock(batchMutex_);
      if (pending_ > 0 && slots_[head_].state == Slot::Done) slot = &slots_[head_];
    }
    if (slot == nullptr) break;
    if (slot->rc != Z_OK) {
      Log().Print("qcSender: Deflate failed: %d:%s\n", slot->rc, "");
      socket_.Close();
      if (owner_ != nullptr) owner_->FatalError();
    } else if (slot->produced > kMaxCompressedData) {
      // Not reached: payloads up to kSurelyFits bytes fit.
      Log().Print("qcSender: Batched payload did not fit (%d bytes)\n",
                  static_cast<int>(slot->length));
    } else if (socket_.IsOpen()) {
      Learn(slot->length, slot->produced);
      // Its number was promised when the payload was handed over (the
      // repair ledger counts it): a datagram that fails now still uses it
      // up, and receivers see it as a loss to repair.
      if (!SendDatagram(slot->type, slot->packet, slot->produced, slot->length)) ++sequence_;
    }
    std::lock_guard<std::mutex> lock(batchMutex_);
    slot->state = Slot::Free;
    head_ = (head_ + 1) % kBatchSlots;
    --pending_;
  }
}

void qcSender::DrainBatch() {
  while (pending_ > 0) DrainOne();
}

bool qcSender::SendRaw(const uint8_t* data, size_t length) {
  if (!socket_.IsOpen()) return false;
  size_t n = length & 0xFFFF;
  if (!Transmit(data, n)) {
    if (!socket_.IsOpen()) return false;
    Log().Print("qcSender: Sending raw packet failed (%d bytes, error %ld)\n",
                static_cast<int>(n), static_cast<long>(socket_.LastError()));
    return false;
  }
  AfterSend(n);
  return true;
}

void qcSender::Close() {
  // What is held for signing (the disconnection, last of all) goes first.
  if (signer_ != nullptr) signer_->Flush();
  socket_.Close();
}

}  // namespace qc
