// SPDX-License-Identifier: GPL-3.0-or-later
// qcSender: the sender's one way onto the network for picture data. It owns
// the multicast socket, makes the screen identifier, deflates each payload
// into one self-contained datagram (a zlib stream reset to its initial state
// for each, which makes the same bytes as a new stream without allocating),
// numbers the compressed datagrams and counts the bytes it sent.
//
// Batches (a full-screen update): payloads that surely fit one datagram are
// copied into a ring of slots and deflated by helper threads, one stream per
// thread, while the encoder goes on; they are sent in the order handed over,
// by the work thread, which also deflates queued slots while it waits.
//
// Threads: the capture work thread uses SendPayload, SendRaw, ResetStream,
// SetLevel, the batch calls and Close; the user-interface thread uses SendRaw
// (keep-alive, stop), Open while nothing is transmitted, and the
// sent-since-tick flag. The deflate streams, the packet buffer and the
// sequence number belong to the work thread while a transmission runs; the
// helpers touch only slots handed to them under the batch lock.
#pragma once

#include <zlib.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/protocol.h"
#include "common/transmission_signing.h"
#include "platform/udp_socket.h"
#include "sender/capture/datagram_signer.h"
#include "sender/capture/parity_encoder.h"
#include "sender/capture/transport.h"

namespace qc {

// What the transport needs from its owner (the tray icon's animation follows
// the capture engine's ChangeSent, not the datagrams: keep-alives and the
// icon's own frames are no sign of a live picture).
class SenderOwner {
 public:
  virtual ~SenderOwner() = default;
  // The transport cannot go on (zlib failed); the program must end. On the
  // sending thread.
  virtual void FatalError() = 0;
};

class qcSender final : public CaptureTransport {
 public:
  qcSender() = default;
  ~qcSender() override;
  qcSender(const qcSender&) = delete;
  qcSender& operator=(const qcSender&) = delete;

  // From the next Open on, every datagram goes out signed with the key
  // (DatagramSigner). Before Open; false when the key cannot be used.
  bool EnableSigning(const PrivateKey& key);
  bool Signing() const { return signer_ != nullptr; }

  // Makes a new screen identifier, sets up the socket for group:port and
  // resets the stream and the byte counter.
  bool Open(SenderOwner* owner, const char* group, uint16_t port);
  // Deflates the payload (at most 60000 bytes) and sends it with the 8-byte
  // header. Advances the sequence number only when sent.
  SendResult SendPayload(const uint8_t* payload, size_t length, PacketType type) override;
  bool SendRaw(const uint8_t* data, size_t length) override;
  // Sequence number back to 0, fresh deflate stream.
  bool ResetStream() override;
  void SetLevel(int level) override;
  int Level() const { return level_; }
  void BeginBatch() override;
  void EndBatch() override;

  // Deflate level of a new transport: on the strip encoding's payloads
  // level 6 costs about a sixth of level 9's time for about 4% more bytes.
  static constexpr int kDefaultLevel = 6;
  // A payload up to this long always fits one datagram: stored blocks add
  // at most a few bytes per 32 KiB, the zlib header 2 and the flush 5.
  static constexpr size_t kSurelyFits = kMaxCompressedData - 64;
  // Payloads that deflate to more than half their size (photographs,
  // video) gain about 2% from any level above 1 at twice its cost or more:
  // after such a payload the next one is deflated at level 1.
  static constexpr int kPoorLevel = 1;
  // Slots of the batch ring (each a payload and its datagram).
  static constexpr int kBatchSlots = 8;
  // Closes the socket; later sends return false at once, without a log line.
  void Close() override;

  bool IsOpen() const { return socket_.IsOpen(); }
  uint16_t ScreenId() const override { return screenId_.load(std::memory_order_relaxed); }
  uint32_t Sequence() const { return sequence_; }
  uint32_t TotalBytesSent() const override {
    return totalBytes_.load(std::memory_order_relaxed);
  }
  bool SentSinceTick() const override { return sentSinceTick_.load(); }
  void ClearSentSinceTick() override { sentSinceTick_ = false; }
  void NoteLosses(int datagrams) override;
  void FlushParity() override;
  int ParityDueMs() const override;
  int ParityGroupSize() const { return parity_.GroupSize(); }

  // The identifier rule: low 16 bits of address ^ pid ^ rand ^ ticks.
  static uint16_t MakeScreenId(uint32_t hostAddress, uint32_t pid, uint32_t randomValue,
                               uint32_t ticks);

 private:
  // One payload of a batch and, once deflated, its datagram.
  struct Slot {
    enum State { Free, Queued, Taken, Done };
    State state = Free;
    PacketType type = PacketType::FullUpdate;
    int level = kDefaultLevel;
    int rc = 0;
    size_t length = 0;
    size_t produced = 0;
    uint8_t payload[kMaxPayload];
    uint8_t packet[kCompressedHeaderSize + kMaxPayload];
  };

  bool StartStream(int level);
  void EndStream();
  void AfterSend(size_t datagramLength);
  void SendParity(ParityEncoder::Datagram parity);
  // Deflates into out (kMaxPayload bytes); the zlib return code.
  int Deflate(z_stream& stream, const uint8_t* payload, size_t length, uint8_t* out,
              size_t& produced);
  bool SendDatagram(PacketType type, const uint8_t* data, size_t produced, size_t length);
  // Every datagram leaves through here: to the socket, or to the signer.
  // A new datagram type must not call the socket itself.
  bool Transmit(const uint8_t* data, size_t length);
  // The level for the next payload, and what the last one taught.
  int NextLevel() const { return poorRatio_ ? kPoorLevel : level_; }
  void Learn(size_t length, size_t produced) { poorRatio_ = produced * 2 > length; }
  void HelperThread();
  // Deflates the oldest queued slot on this thread, or waits for a helper
  // to finish one; then sends every finished slot at the head of the ring.
  void DrainOne();
  void DrainBatch();
  void StopHelpers();

  UdpSocket socket_;
  // Declared after the socket, which it sends through: destroyed first.
  std::unique_ptr<DatagramSigner> signer_;
  SocketAddress destination_;
  SenderOwner* owner_ = nullptr;
  z_stream stream_{};
  bool streamActive_ = false;
  std::atomic<uint32_t> totalBytes_{0};
  // Room for the header (type, identifier, sequence) followed by the deflate
  // output area.
  uint8_t packet_[kCompressedHeaderSize + kMaxPayload] = {};
  std::atomic<uint16_t> screenId_{0};
  uint32_t sequence_ = 0;
  std::atomic<bool> sentSinceTick_{false};
  int level_ = kDefaultLevel;
  int streamLevel_ = kDefaultLevel;
  bool poorRatio_ = false;
  ParityEncoder parity_;

  // The batch ring: slots head_..head_+pending_-1 are in flight, in order.
  bool batching_ = false;
  std::unique_ptr<Slot[]> slots_;
  int head_ = 0;
  int pending_ = 0;
  std::vector<std::thread> helpers_;
  std::mutex batchMutex_;
  std::condition_variable queued_;    // a slot to deflate, or the end
  std::condition_variable finished_;  // a slot was deflated
  bool stopHelpers_ = false;
};

}  // namespace qc
