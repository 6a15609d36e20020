// SPDX-License-Identifier: GPL-3.0-or-later
// qcSender: the sender's one way onto the network for picture data. It owns
// the multicast socket, makes the screen identifier, deflates each payload
// into one self-contained datagram (BatchDeflater), numbers the compressed
// datagrams and counts the bytes it sent.
//
// Batches (a full-screen update): payloads that surely fit one datagram are
// deflated on all cores while the encoder goes on, and sent in the order
// handed over, by the work thread.
//
// Threads: the capture work thread uses SendPayload, SendRaw, ResetStream,
// SetLevel, the batch calls and Close; the user-interface thread uses SendRaw
// (keep-alive, stop), Open while nothing is transmitted, and the
// sent-since-tick flag. The deflater, the packet buffer and the sequence
// number belong to the work thread while a transmission runs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/protocol.h"
#include "common/transmission_signing.h"
#include "platform/udp_socket.h"
#include "sender/capture/batch_deflater.h"
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
  // Sequence number back to 0.
  bool ResetStream() override;
  void SetLevel(int level) override;
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
  void NoteLosses(int datagrams, int reporters) override;
  void FlushParity() override;
  int ParityDueMs() const override;
  uint64_t ParityBytesSent() const override {
    return parityBytes_.load(std::memory_order_relaxed);
  }

  // The identifier rule: low 16 bits of address ^ pid ^ random ^ ticks.
  static uint16_t MakeScreenId(uint32_t hostAddress, uint32_t pid, uint32_t randomValue,
                               uint32_t ticks);

 private:
  void AfterSend(size_t datagramLength);
  void SendParity(ParityEncoder::Datagram parity);
  // Logs a failed deflate and ends the transmission (FatalError).
  void DeflateFailed(int rc, const char* message);
  bool SendDatagram(PacketType type, const uint8_t* data, size_t produced, size_t length);
  // Every datagram leaves through here: to the socket, or to the signer.
  // A new datagram type must not call the socket itself.
  bool Transmit(const uint8_t* data, size_t length);
  // The level for the next payload, and what the last one taught.
  int NextLevel() const { return poorRatio_ ? kPoorLevel : level_; }
  void Learn(size_t length, size_t produced) { poorRatio_ = produced * 2 > length; }
  // Lets the deflater finish the oldest payload of the batch, then sends
  // every finished one at the head of the ring.
  void DrainOne();
  void DrainBatch();

  UdpSocket socket_;
  // Declared after the socket, which it sends through: destroyed first.
  std::unique_ptr<DatagramSigner> signer_;
  SocketAddress destination_;
  SenderOwner* owner_ = nullptr;
  BatchDeflater deflater_;
  bool batching_ = false;
  std::atomic<uint32_t> totalBytes_{0};
  std::atomic<uint64_t> parityBytes_{0};
  // Room for the header (type, identifier, sequence) followed by the deflate
  // output area.
  uint8_t packet_[kCompressedHeaderSize + kMaxPayload] = {};
  std::atomic<uint16_t> screenId_{0};
  uint32_t sequence_ = 0;
  std::atomic<bool> sentSinceTick_{false};
  int level_ = kDefaultLevel;
  bool poorRatio_ = false;
  ParityEncoder parity_;
};

}  // namespace qc
