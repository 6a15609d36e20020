// qcSender: the sender's one way onto the network for picture data. It owns
// the multicast socket, makes the screen identifier, deflates each payload
// into one self-contained datagram with a fresh zlib stream, numbers the
// compressed datagrams and counts the bytes it sent.
//
// Threads: the capture work thread uses SendPayload, SendRaw, ResetStream
// and Close; the user-interface thread uses SendRaw (keep-alive, stop), Open
// while nothing is transmitted, and the sent-since-tick flag. The deflate stream,
// the packet buffer and the sequence number belong to the work thread while a
// transmission runs.
#pragma once

#include <zlib.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/protocol.h"
#include "platform/udp_socket.h"
#include "sender/capture/transport.h"

namespace qc {

// What the transport needs from its owner. Both calls run on the sending
// thread.
class SenderOwner {
 public:
  virtual ~SenderOwner() = default;
  // One datagram went out.
  virtual void AdvanceIcon() = 0;
  // The transport cannot go on (zlib failed); the program must end.
  virtual void FatalError() = 0;
};

class qcSender final : public CaptureTransport {
 public:
  qcSender() = default;
  ~qcSender() override;
  qcSender(const qcSender&) = delete;
  qcSender& operator=(const qcSender&) = delete;

  // Makes a new screen identifier, sets up the socket for group:port and
  // resets the stream and the byte counter.
  bool Open(SenderOwner* owner, const char* group, uint16_t port);
  // Deflates the payload (at most 60000 bytes) and sends it with the 8-byte
  // header. Advances the sequence number only when sent.
  SendResult SendPayload(const uint8_t* payload, size_t length, PacketType type) override;
  bool SendRaw(const uint8_t* data, size_t length) override;
  // Sequence number back to 0, fresh deflate stream.
  bool ResetStream() override;
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

  // The identifier rule: low 16 bits of address ^ pid ^ rand ^ ticks.
  static uint16_t MakeScreenId(uint32_t hostAddress, uint32_t pid, uint32_t randomValue,
                               uint32_t ticks);

 private:
  bool StartStream();
  void EndStream();
  void AfterSend(size_t datagramLength);

  UdpSocket socket_;
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
};

}  // namespace qc
