// StrEncoder: turns the changed rows of the captured screen into update
// payloads in the strip encoding and hands each payload to the transport.
//
// It compares the capture frame with the reference frame (the screen as the
// receivers have it) and writes every substring it sends into the reference.
// Construction and Init happen before the capture work thread starts;
// EncodeRows runs on that thread only; the destructor runs after it stopped
// and writes the statistics to the log.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/protocol.h"
#include "common/strip_format.h"

namespace qc {

class qcSender;

// Where finished payloads go. qcSender is the real one; tests record.
class PayloadSink {
 public:
  virtual ~PayloadSink() = default;
  virtual SendResult SendPayload(const uint8_t* payload, size_t length, PacketType type) = 0;
  virtual uint32_t TotalBytesSent() const = 0;
};

class StrEncoder {
 public:
  StrEncoder();
  virtual ~StrEncoder();  // writes the statistics
  StrEncoder(const StrEncoder&) = delete;
  StrEncoder& operator=(const StrEncoder&) = delete;

  // Binds the frames (H rows of R = width x bytesPerPixel bytes each, not
  // owned) and the sink; fixes the geometry. width <= 4096, B in {2, 4}.
  void Init(int width, int bytesPerPixel, const uint8_t* frame, uint8_t* reference,
            PayloadSink* sink);
  // Encodes the changed rows firstRow..endRow-1 with the given packet type.
  // Returns whether the last payload handed over was sent; false when there
  // was nothing to send.
  bool EncodeRows(int firstRow, int endRow, PacketType type);
};

// Adapts qcSender to PayloadSink.
class SenderSink : public PayloadSink {
 public:
  explicit SenderSink(qcSender& sender) : sender_(sender) {}
  SendResult SendPayload(const uint8_t* payload, size_t length, PacketType type) override;
  uint32_t TotalBytesSent() const override;

 private:
  qcSender& sender_;
};

}  // namespace qc
