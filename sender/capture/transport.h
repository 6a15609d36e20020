// SPDX-License-Identifier: GPL-3.0-or-later
// The two seams through which the sender's picture data leaves: PayloadSink
// for the strip encoder, CaptureTransport (a PayloadSink with the small
// datagrams and the stream control) for the capture engine. qcSender
// implements both in the program; tests and benchmarks record instead.
//
// Threads: the capture work thread sends payloads and raw datagrams; the
// user-interface thread sends raw datagrams (keep-alive, disconnection) and
// reads and clears the sent-since-tick flag.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/protocol.h"

namespace qc {

enum class SendResult {
  Sent,
  Failed,    // socket closed, send or zlib failure
  TooLarge,  // the compressed payload would make a datagram of more than
             // 60000 bytes, which receivers discard; nothing was sent
};

class PayloadSink {
 public:
  virtual ~PayloadSink() = default;
  // Deflates a FullUpdate, Update or CursorShape payload (at most 60000
  // bytes) into one numbered datagram. TooLarge: nothing was sent; the
  // caller sends the payload in smaller pieces.
  virtual SendResult SendPayload(const uint8_t* payload, size_t length, PacketType type) = 0;
  // Datagram bytes sent since the transport was opened (for the statistics).
  virtual uint32_t TotalBytesSent() const = 0;
  // The deflate level of the payloads that follow (1..9). The level changes
  // only how small a datagram is and what it costs, never what it inflates
  // to. Sinks that do not compress ignore it.
  virtual void SetLevel(int /*level*/) {}
  // Between BeginBatch and EndBatch the sink may deflate payloads on other
  // cores and send them later, still in order and numbered as handed over;
  // SendPayload then may answer Sent for a payload that goes out in
  // EndBatch. Payloads that might not fit one datagram are never deferred,
  // so TooLarge is still answered at once.
  virtual void BeginBatch() {}
  virtual void EndBatch() {}
};

class CaptureTransport : public PayloadSink {
 public:
  // Sends ready-made bytes unchanged (init, cursor position, keep-alive,
  // disconnection); never touches the sequence number.
  virtual bool SendRaw(const uint8_t* data, size_t length) = 0;
  // Sequence number back to 0 (start of every full-screen update).
  virtual bool ResetStream() = 0;
  virtual void Close() = 0;
  virtual uint16_t ScreenId() const = 0;
  // Whether anything was sent since the flag was last cleared: the
  // keep-alive timer sends a keep-alive only into silence.
  virtual bool SentSinceTick() const = 0;
  virtual void ClearSentSinceTick() = 0;

  // Forward error correction (qcSender: parity_encoder.h). Receivers
  // reported this many datagrams that needed a repair; this many receivers
  // asked lately.
  virtual void NoteLosses(int /*datagrams*/, int /*reporters*/) {}
  // Closes a parity group that has waited long enough; ParityDueMs is the
  // time until one has (-1: none open). Both on the sending thread.
  virtual void FlushParity() {}
  virtual int ParityDueMs() const { return -1; }
  // Bytes of parity datagrams sent (any thread).
  virtual uint64_t ParityBytesSent() const { return 0; }
  // Bytes sent that were not parity: what the traffic budget earns on and
  // is charged. Parity is bounded on its own (ParityEncoder), and a parity
  // that a repair's datagram happens to close is no part of that repair.
  uint32_t StreamBytesSent() const {
    return TotalBytesSent() - static_cast<uint32_t>(ParityBytesSent());
  }
};

}  // namespace qc
