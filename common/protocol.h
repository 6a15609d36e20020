// SPDX-License-Identifier: GPL-3.0-or-later
// The datagrams exchanged between qcsend and qvrecv: type codes, constants,
// builders and length-checked parsers. Layouts are fixed by the wire format;
// every field is little-endian (byte_order.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace qc {

// The 16-bit code at offset 0 of every datagram.
enum class PacketType : uint16_t {
  Init = 0xFFFF,
  Disconnection = 0xFFFE,
  FullUpdate = 0xFFFD,
  Update = 0xFFFC,
  // 0xFFFB is never sent; receivers ignore it.
  CursorPosition = 0xFFFA,
  CursorShape = 0xFFF9,
  UpdateRequest = 0xFFF8,
  KeepAlive = 0xFFF7,
};

// Signed transmissions add one datagram type (see docs/protocol.md
// and common/signed_transmission.h): a signed list of the hashes of the
// datagrams that follow it. Receivers of the original protocol ignore it.
inline constexpr uint16_t kSignatureListType = 0xFFF4;
// Its fixed fields and the Ed25519 signature.
inline constexpr size_t kSignatureListHeaderSize = 40;
inline constexpr size_t kSignatureSize = 64;
inline constexpr size_t kSignatureListOverhead = kSignatureListHeaderSize + kSignatureSize;

// Addressing. Sending sockets take the group as dotted text, joining sockets
// as the host-order constant.
inline constexpr char kGroupAddress[] = "234.0.0.1";
inline constexpr uint32_t kGroupAddressHostOrder = 0xEA000001;
inline constexpr uint16_t kDefaultPort = 5982;
inline constexpr int kMinPort = 1024;
inline constexpr int kMaxPort = 65534;

// Limits. An update payload (uncompressed) is at most 60000 bytes, the
// sender's deflate output area holds 60000 bytes, and receivers accept
// datagrams of at most 60000 bytes in all.
inline constexpr size_t kMaxPayload = 60000;
inline constexpr size_t kMaxDatagram = 60000;
inline constexpr size_t kCompressedHeaderSize = 8;
// Largest compressed stream that still makes a datagram receivers accept.
inline constexpr size_t kMaxCompressedData = kMaxDatagram - kCompressedHeaderSize;

inline constexpr size_t kInitSize = 24;
inline constexpr size_t kDisconnectionSize = 4;
inline constexpr size_t kKeepAliveSize = 4;
inline constexpr size_t kCursorPositionSize = 8;
inline constexpr size_t kUpdateRequestSize = 2;
inline constexpr size_t kCursorShapeHeaderSize = 34;

// A transmitting or paused sender sends at least one datagram (a keep-alive
// when nothing else goes out) in every period of this length.
inline constexpr int kKeepAliveIntervalMs = 700;
// A transmission that receivers have not heard for this long (more than
// four keep-alive periods, so a lost keep-alive or two never counts) has
// ended without its disconnection: the sender crashed, was killed or lost
// the network. Receivers then wait for the next transmission.
inline constexpr int kTransmissionSilenceMs = 4000;
static_assert(kTransmissionSilenceMs > 4 * kKeepAliveIntervalMs);

// Socket options of the four sockets of the system.
inline constexpr int kSenderDataSendBuffer = 32000;
inline constexpr int kReceiverDataReceiveBuffer = 256000;
inline constexpr int kServiceSendBuffer = 1024;
inline constexpr int kListenReceiveBuffer = 1024;
// While it transmits, the sender's listen socket holds the requests of a
// whole class: a burst of interference on Wi-Fi makes dozens of receivers
// ask within a few milliseconds, and a kernel queues each tiny request at
// about a kilobyte. 1024 bytes held two: the rest were dropped, and a
// receiver whose request is lost counts it answered by the next datagram
// and keeps a stale band of rows.
inline constexpr int kRequestReceiveBuffer = 256 * 1024;
inline constexpr int kSendingTtl = 64;
inline constexpr int kReceivingTtl = 0;

// Type code of a datagram, or nothing when it is shorter than 2 bytes.
std::optional<uint16_t> PeekType(const uint8_t* data, size_t length);
// Screen identifier at offset 2, or nothing when the datagram is too short.
std::optional<uint16_t> PeekScreenId(const uint8_t* data, size_t length);
// Whether a datagram of this type code is compressed and sequence-numbered.
bool IsCompressedType(uint16_t type);
// Whether a datagram heard on a data port comes from a transmission: a
// usable init message, a keep-alive, a full-screen or incremental update
// (header and the start of a zlib stream), or a signature list (0xFFF4,
// with room for its fixed fields and signature). Anything
// else is noise that no sender made.
bool IsTransmissionDatagram(const uint8_t* data, size_t length);

// PacketType::Init, the server init message.
struct InitMessage {
  uint16_t screenId = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t bitsPerPixel = 0;
  uint16_t reserved = 0;
  uint32_t redMask = 0;
  uint32_t greenMask = 0;
  uint32_t blueMask = 0;
};
void BuildInit(const InitMessage& msg, uint8_t out[kInitSize]);
// False when the datagram is shorter than 24 bytes or not an init message.
bool ParseInit(const uint8_t* data, size_t length, InitMessage& out);
// Whether an init message describes a frame a receiver can build:
// width 1..4096, height 1..32767, 16 or 32 bits per pixel.
bool IsUsableInit(const InitMessage& msg);

// PacketType::Disconnection and PacketType::KeepAlive: type and identifier.
void BuildDisconnection(uint16_t screenId, uint8_t out[kDisconnectionSize]);
void BuildKeepAlive(uint16_t screenId, uint8_t out[kKeepAliveSize]);

// PacketType::CursorPosition: the hot spot in sender screen coordinates.
struct CursorPosition {
  uint16_t screenId = 0;
  int16_t x = 0;
  int16_t y = 0;
};
void BuildCursorPosition(const CursorPosition& pos, uint8_t out[kCursorPositionSize]);
bool ParseCursorPosition(const uint8_t* data, size_t length, CursorPosition& out);

// The 8-byte header of PacketType::FullUpdate, Update and CursorShape.
struct CompressedHeader {
  uint16_t type = 0;
  uint16_t screenId = 0;
  uint32_t sequence = 0;
};
void BuildCompressedHeader(const CompressedHeader& h, uint8_t out[kCompressedHeaderSize]);
// False when the datagram is shorter than 8 bytes or of another type.
bool ParseCompressedHeader(const uint8_t* data, size_t length, CompressedHeader& out);

// PacketType::UpdateRequest: the type code alone asks for a full-screen
// update. Every sender reads the first two bytes only, so a request may go
// on: the repair request below adds the screen identifier and the inclusive
// range of the sequence numbers a receiver missed. A sender that knows it
// re-sends the rows of those datagrams; any other serves a full-screen
// update as for the two bytes.
void BuildUpdateRequest(uint8_t out[kUpdateRequestSize]);
bool IsUpdateRequest(const uint8_t* data, size_t length);

//   0 u16 type 0xFFF8    2 u16 screen identifier
//   4 u32 first missing  8 u32 last missing (inclusive)
inline constexpr size_t kRepairRequestSize = 12;
// The longest range a repair request may name; a receiver that missed more
// asks for a full-screen update instead.
inline constexpr uint32_t kMaxRepairSpan = 256;
struct RepairRequest {
  uint16_t screenId = 0;
  uint32_t first = 0;
  uint32_t last = 0;
};
void BuildRepairRequest(const RepairRequest& r, uint8_t out[kRepairRequestSize]);
// True for an update request of exactly 12 bytes whose range is ordered and
// at most kMaxRepairSpan long. Any other update request (2 bytes, or an
// extension that does not parse) asks for a full-screen update.
bool ParseRepairRequest(const uint8_t* data, size_t length, RepairRequest& out);

// The 34-byte header of a cursor shape payload. Both bitmaps are bottom-up.
struct CursorShapeHeader {
  int16_t hotX = 0;
  int16_t hotY = 0;
  int16_t maskWidth = 0;   // 0 when there is no mask bitmap
  int16_t maskHeight = 0;  // twice the cursor height for a monochrome cursor
  int16_t colorWidth = 0;  // 0 when there is no colour bitmap
  int16_t colorHeight = 0;
  uint16_t colorBitsPerPixel = 0;
  uint16_t reserved = 0;
  uint32_t colorRedMask = 0;
  uint32_t colorGreenMask = 0;
  uint32_t colorBlueMask = 0;
  uint32_t maskPalette0 = 0;     // RGBQUAD: blue, green, red, reserved
  uint16_t maskPalette1BG = 0;   // blue and green bytes of entry 1

  // Byte sizes of the bitmaps that follow the header (0 when absent or
  // when a dimension is not positive).
  size_t ColorSize() const;
  size_t MaskSize() const;
};
void BuildCursorShapeHeader(const CursorShapeHeader& h, uint8_t out[kCursorShapeHeaderSize]);
// False when the payload is shorter than the header or than the bitmaps it
// announces.
bool ParseCursorShapeHeader(const uint8_t* data, size_t length, CursorShapeHeader& out);

}  // namespace qc
