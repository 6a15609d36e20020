// Helpers of the codec tests: payload sinks, a step-by-step model of the
// strip encoder and decoder written straight from the format's rules (slow,
// no shortcuts) to check the fast code against, and frame generators.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "sender/capture/str_encoder.h"

namespace qc::test {

using Bytes = std::vector<uint8_t>;

// Records every payload handed over. Each call can be answered from a
// script (default Sent).
class RecordingSink : public PayloadSink {
 public:
  SendResult SendPayload(const uint8_t* payload, size_t length, PacketType type) override;
  uint32_t TotalBytesSent() const override { return totalBytes; }

  std::vector<Bytes> payloads;
  std::vector<PacketType> types;
  std::vector<SendResult> script;  // results of the first calls, in order
  size_t calls = 0;
  uint32_t totalBytes = 0;
};

// Behaves like the transport: deflates each payload with a fresh stream
// (level 9, window 15, memory level 9, full flush) into a 60000-byte area
// and answers TooLarge when the stream would not fit a datagram receivers
// accept; otherwise numbers the datagram and keeps it.
class DeflatingSink : public PayloadSink {
 public:
  SendResult SendPayload(const uint8_t* payload, size_t length, PacketType type) override;
  uint32_t TotalBytesSent() const override { return totalBytes; }

  struct Datagram {
    uint32_t sequence;
    PacketType type;
    Bytes payload;     // what was handed over
    Bytes compressed;  // the deflate stream
  };
  std::vector<Datagram> sent;
  size_t tooLarge = 0;
  uint32_t sequence = 0;
  uint32_t totalBytes = 0;
  // Extra limit on the payload length (0: none), to force deep splits.
  size_t maxPayload = 0;
};

// The test log's file (tests/support). Referenced here so that every codec
// test binary links the log object the codec libraries print to.
std::string LogPath();

// Inflates a stream as a receiver does (fresh stream, one inflate call into
// 60000 bytes, Z_OK required). Empty and ok=false on failure.
Bytes Inflate(const Bytes& compressed, bool& ok);

// A literal rendering of the encoder's procedure. The frame and reference
// are the caller's; payloads come back cut at 60000 bytes.
class ModelEncoder {
 public:
  ModelEncoder(int width, int bytesPerPixel, const uint8_t* frame, uint8_t* reference)
      : W(width),
        B(bytesPerPixel),
        R(width * bytesPerPixel),
        S(R / 8),
        P(width / 8),
        frame_(frame),
        reference_(reference) {}
  std::vector<Bytes> EncodeRows(int firstRow, int endRow);

  // Whether the uncovered tail of a processed row goes into the reference
  // (what StrEncoder does); off reproduces the plain procedure.
  bool copyTail = true;

 private:
  void EncodeSubstring(int y, int k, Bytes& record);
  uint64_t Pixel(const uint8_t* p) const;

  int W, B, R, S, P;
  const uint8_t* frame_;
  uint8_t* reference_;
};

// A literal rendering of the decoder for well-formed payloads.
void ModelDecode(uint8_t* framebuffer, int width, int bytesPerPixel, const Bytes& payload);

// Frames: height rows of width x B bytes.
Bytes RandomFrame(std::mt19937& rng, int width, int height, int bytesPerPixel);
// Runs of a few colours, repeated rows and blocks, lines of "text": every
// substring kind and Copy appear.
Bytes StructuredFrame(std::mt19937& rng, int width, int height, int bytesPerPixel);
// Changes a few rectangles of the frame (new colours or copies of others).
void Scribble(std::mt19937& rng, Bytes& frame, int width, int height, int bytesPerPixel);

// A valid payload for this geometry built from random records of every
// kind (rows increasing, no Copy in row 0), for decoder and fuzz tests.
Bytes RandomValidPayload(std::mt19937& rng, int width, int height, int bytesPerPixel, int records);

}  // namespace qc::test
