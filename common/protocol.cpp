// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/protocol.h"

#include "common/byte_order.h"

namespace qc {

namespace {

constexpr uint16_t Code(PacketType t) { return static_cast<uint16_t>(t); }

void BuildTypeAndId(PacketType type, uint16_t screenId, uint8_t* out) {
  WriteU16(out, Code(type));
  WriteU16(out + 2, screenId);
}

}  // namespace

std::optional<uint16_t> PeekType(const uint8_t* data, size_t length) {
  if (length < 2) return std::nullopt;
  return ReadU16(data);
}

std::optional<uint16_t> PeekScreenId(const uint8_t* data, size_t length) {
  if (length < 4) return std::nullopt;
  return ReadU16(data + 2);
}

bool IsCompressedType(uint16_t type) {
  return type == Code(PacketType::FullUpdate) || type == Code(PacketType::Update) ||
         type == Code(PacketType::CursorShape);
}

bool IsTransmissionDatagram(const uint8_t* data, size_t length) {
  const std::optional<uint16_t> type = PeekType(data, length);
  if (!type) return false;
  switch (*type) {
    case Code(PacketType::Init): {
      InitMessage init;
      return ParseInit(data, length, init) && IsUsableInit(init);
    }
    case Code(PacketType::KeepAlive):
      return length == kKeepAliveSize;
    case Code(PacketType::FullUpdate):
    case Code(PacketType::Update):
      // A zlib stream starts with a header whose 16-bit value is a
      // multiple of 31 and names the deflate method.
      return length > kCompressedHeaderSize + 2 && length <= kMaxDatagram &&
             (data[kCompressedHeaderSize] & 0x0F) == 8 &&
             ((data[kCompressedHeaderSize] << 8) | data[kCompressedHeaderSize + 1]) % 31 == 0;
    case kSignatureListType:
      return length >= kSignatureListOverhead && length <= kMaxDatagram;
    default:
      return false;
  }
}

void BuildInit(const InitMessage& msg, uint8_t out[kInitSize]) {
  BuildTypeAndId(PacketType::Init, msg.screenId, out);
  WriteU16(out + 4, msg.width);
  WriteU16(out + 6, msg.height);
  WriteU16(out + 8, msg.bitsPerPixel);
  WriteU16(out + 10, msg.reserved);
  WriteU32(out + 12, msg.redMask);
  WriteU32(out + 16, msg.greenMask);
  WriteU32(out + 20, msg.blueMask);
}

bool ParseInit(const uint8_t* data, size_t length, InitMessage& out) {
  if (length < kInitSize || ReadU16(data) != Code(PacketType::Init)) return false;
  out.screenId = ReadU16(data + 2);
  out.width = ReadU16(data + 4);
  out.height = ReadU16(data + 6);
  out.bitsPerPixel = ReadU16(data + 8);
  out.reserved = ReadU16(data + 10);
  out.redMask = ReadU32(data + 12);
  out.greenMask = ReadU32(data + 16);
  out.blueMask = ReadU32(data + 20);
  return true;
}

bool IsUsableInit(const InitMessage& msg) {
  // A strip row holds at most 4096 pixels, and receivers address rows as
  // signed 16-bit numbers, so taller frames cannot be rebuilt.
  return msg.width >= 1 && msg.width <= 4096 && msg.height >= 1 && msg.height <= 32767 &&
         (msg.bitsPerPixel == 16 || msg.bitsPerPixel == 32);
}

void BuildDisconnection(uint16_t screenId, uint8_t out[kDisconnectionSize]) {
  BuildTypeAndId(PacketType::Disconnection, screenId, out);
}

void BuildKeepAlive(uint16_t screenId, uint8_t out[kKeepAliveSize]) {
  BuildTypeAndId(PacketType::KeepAlive, screenId, out);
}

void BuildCursorPosition(const CursorPosition& pos, uint8_t out[kCursorPositionSize]) {
  BuildTypeAndId(PacketType::CursorPosition, pos.screenId, out);
  WriteI16(out + 4, pos.x);
  WriteI16(out + 6, pos.y);
}

bool ParseCursorPosition(const uint8_t* data, size_t length, CursorPosition& out) {
  if (length < kCursorPositionSize || ReadU16(data) != Code(PacketType::CursorPosition)) {
    return false;
  }
  out.screenId = ReadU16(data + 2);
  out.x = ReadI16(data + 4);
  out.y = ReadI16(data + 6);
  return true;
}

void BuildCompressedHeader(const CompressedHeader& h, uint8_t out[kCompressedHeaderSize]) {
  WriteU16(out, h.type);
  WriteU16(out + 2, h.screenId);
  WriteU32(out + 4, h.sequence);
}

bool ParseCompressedHeader(const uint8_t* data, size_t length, CompressedHeader& out) {
  if (length < kCompressedHeaderSize || !IsCompressedType(ReadU16(data))) return false;
  out.type = ReadU16(data);
  out.screenId = ReadU16(data + 2);
  out.sequence = ReadU32(data + 4);
  return true;
}

void BuildUpdateRequest(uint8_t out[kUpdateRequestSize]) {
  WriteU16(out, Code(PacketType::UpdateRequest));
}

bool IsUpdateRequest(const uint8_t* data, size_t length) {
  return length >= kUpdateRequestSize && ReadU16(data) == Code(PacketType::UpdateRequest);
}

void BuildRepairRequest(const RepairRequest& r, uint8_t out[kRepairRequestSize]) {
  WriteU16(out, Code(PacketType::UpdateRequest));
  WriteU16(out + 2, r.screenId);
  WriteU32(out + 4, r.first);
  WriteU32(out + 8, r.last);
}

bool ParseRepairRequest(const uint8_t* data, size_t length, RepairRequest& out) {
  if (length != kRepairRequestSize || !IsUpdateRequest(data, length)) return false;
  RepairRequest r{ReadU16(data + 2), ReadU32(data + 4), ReadU32(data + 8)};
  if (r.last < r.first || r.last - r.first >= kMaxRepairSpan) return false;
  out = r;
  return true;
}

size_t CursorShapeHeader::ColorSize() const {
  if (colorWidth <= 0 || colorHeight <= 0 || colorBitsPerPixel == 0) return 0;
  return static_cast<size_t>(colorWidth) * static_cast<size_t>(colorHeight) *
         colorBitsPerPixel / 8;
}

size_t CursorShapeHeader::MaskSize() const {
  if (maskWidth <= 0 || maskHeight <= 0) return 0;
  return static_cast<size_t>(maskWidth) * static_cast<size_t>(maskHeight) / 8;
}

void BuildCursorShapeHeader(const CursorShapeHeader& h, uint8_t out[kCursorShapeHeaderSize]) {
  WriteI16(out + 0, h.hotX);
  WriteI16(out + 2, h.hotY);
  WriteI16(out + 4, h.maskWidth);
  WriteI16(out + 6, h.maskHeight);
  WriteI16(out + 8, h.colorWidth);
  WriteI16(out + 10, h.colorHeight);
  WriteU16(out + 12, h.colorBitsPerPixel);
  WriteU16(out + 14, h.reserved);
  WriteU32(out + 16, h.colorRedMask);
  WriteU32(out + 20, h.colorGreenMask);
  WriteU32(out + 24, h.colorBlueMask);
  WriteU32(out + 28, h.maskPalette0);
  WriteU16(out + 32, h.maskPalette1BG);
}

bool ParseCursorShapeHeader(const uint8_t* data, size_t length, CursorShapeHeader& out) {
  if (length < kCursorShapeHeaderSize) return false;
  CursorShapeHeader h;
  h.hotX = ReadI16(data + 0);
  h.hotY = ReadI16(data + 2);
  h.maskWidth = ReadI16(data + 4);
  h.maskHeight = ReadI16(data + 6);
  h.colorWidth = ReadI16(data + 8);
  h.colorHeight = ReadI16(data + 10);
  h.colorBitsPerPixel = ReadU16(data + 12);
  h.reserved = ReadU16(data + 14);
  h.colorRedMask = ReadU32(data + 16);
  h.colorGreenMask = ReadU32(data + 20);
  h.colorBlueMask = ReadU32(data + 24);
  h.maskPalette0 = ReadU32(data + 28);
  h.maskPalette1BG = ReadU16(data + 32);
  if (kCursorShapeHeaderSize + h.ColorSize() + h.MaskSize() > length) return false;
  out = h;
  return true;
}

}  // namespace qc
