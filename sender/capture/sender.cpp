// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/sender.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"
#include "common/log_file.h"
#include "common/transmission_signing.h"
#include "platform/process_info.h"
#include "platform/tick_clock.h"

namespace qc {

qcSender::~qcSender() { Close(); }

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
  // The random part comes from the system's generator: an identifier drawn
  // from rand() seeded with the tick count is easy to guess for anyone who
  // wants to forge this sender's datagrams.
  const uint32_t random = static_cast<uint32_t>(RandomNonce());
  const uint16_t id = MakeScreenId(LocalHostAddress(), CurrentProcessId(), random, TickCount());
  screenId_ = id;

  socket_.Close();
  const auto fail = [this](const char* what) {
    socket_.Close();
    if (what != nullptr) Log().Print("qcSender: Unable to %s\n", what);
    return false;
  };
  if (!socket_.Create()) return fail("create socket");
  socket_.DropGroup(kGroupAddressHostOrder);  // result ignored
  if (!socket_.SetSendBuffer(kSenderDataSendBuffer)) return fail("set socket buffer size");
  if (!socket_.Bind(0)) return fail("bind socket");
  if (!socket_.SetMulticastTtl(kSendingTtl)) return fail("set socket TTL");
  if (!SocketAddress::FromDotted(group, port, destination_)) return fail("bind socket");
  owner_ = owner;
  parity_.Discard();  // its group was numbered under the old identifier
  if (signer_ != nullptr && !signer_->Start(&socket_, destination_, id)) return fail(nullptr);
  ResetStream();
  totalBytes_ = 0;
  parityBytes_ = 0;
  return true;
}

bool qcSender::ResetStream() {
  // The open group's parity goes before the init message of the new stream.
  parity_.Flush(TickCount(), true, [this](ParityEncoder::Datagram d) { SendParity(d); });
  sequence_ = 0;
  sentSinceTick_ = false;
  return true;
}

void qcSender::SetLevel(int level) { level_ = std::clamp(level, 1, 9); }

void qcSender::DeflateFailed(int rc, const char* message) {
  Log().Print("qcSender: Deflate failed: %d:%s\n", rc, message);
  socket_.Close();
  if (owner_ != nullptr) owner_->FatalError();
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
  parityBytes_.fetch_add(parity.length, std::memory_order_relaxed);
}

void qcSender::NoteLosses(int datagrams, int reporters) {
  parity_.NoteLosses(datagrams, reporters, TickCount());
}

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
    while (deflater_.Full()) DrainOne();
    deflater_.Queue(payload, length, type, NextLevel());
    return SendResult::Sent;
  }
  // Sent in order: whatever the batch holds goes first.
  if (batching_) DrainBatch();

  uint8_t* data = packet_ + kCompressedHeaderSize;
  size_t produced = 0;
  const int rc = deflater_.Deflate(payload, length, NextLevel(), data, produced);
  if (rc != Z_OK) {
    DeflateFailed(rc, deflater_.Message());
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
  deflater_.Begin();
  batching_ = true;
}

void qcSender::EndBatch() {
  if (!batching_) return;
  DrainBatch();
  batching_ = false;
}

void qcSender::DrainOne() {
  deflater_.Work();
  // Send the finished head slots, in order.
  while (const BatchDeflater::Slot* slot = deflater_.Finished()) {
    if (slot->rc != Z_OK) {
      DeflateFailed(slot->rc, "");
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
    deflater_.Release();
  }
}

void qcSender::DrainBatch() {
  while (deflater_.Pending() > 0) DrainOne();
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
