// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/cursor_tracker.h"

#include <vector>

#include "common/log_file.h"
#include "common/protocol.h"
#include "sender/capture/cursor_shape.h"

namespace qc {

bool CursorTracker::InArea(CursorState& state) const {
  const bool inside = area_.Contains(state.x, state.y);
  state.x -= area_.x;
  state.y -= area_.y;
  return inside;
}

bool CursorTracker::SendShape() {
  CursorImage image;
  if (!cursor_->ReadImage(image)) {
    Log().Print("qcCapture: Could not get color bitmap data\n");
    return false;
  }
  std::vector<uint8_t> payload;
  if (!BuildCursorShapePayload(image, payload)) {
    Log().Print("qcCapture: Could not get color bitmap info\n");
    return false;
  }
  lastHandle_ = image.handle;
  haveHandle_ = true;
  const uint32_t before = transport_->StreamBytesSent();
  SendResult result =
      transport_->SendPayload(payload.data(), payload.size(), PacketType::CursorShape);
  if (result == SendResult::TooLarge) {
    // A busy image that does not compress into one datagram: send it small.
    CursorImage small = ScaleCursorImage(image, kFallbackCursorSize, kFallbackCursorSize);
    if (BuildCursorShapePayload(small, payload)) {
      result = transport_->SendPayload(payload.data(), payload.size(), PacketType::CursorShape);
    }
  }
  shapeBytes_ = transport_->StreamBytesSent() - before;
  return result == SendResult::Sent;
}

bool CursorTracker::SendPosition(int x, int y) {
  lastX_ = x;
  lastY_ = y;
  uint8_t datagram[kCursorPositionSize];
  BuildCursorPosition({transport_->ScreenId(), static_cast<int16_t>(x), static_cast<int16_t>(y)},
                      datagram);
  return transport_->SendRaw(datagram, sizeof datagram);
}

bool CursorTracker::Hide() {
  CursorImage blank;
  blank.width = blank.height = kFallbackCursorSize;
  blank.pixels.assign(static_cast<size_t>(blank.width) * blank.height, 0);
  std::vector<uint8_t> payload;
  if (!BuildCursorShapePayload(blank, payload)) return false;
  if (transport_->SendPayload(payload.data(), payload.size(), PacketType::CursorShape) !=
      SendResult::Sent) {
    return false;
  }
  hidden_ = true;
  // The real shape goes out again when the pointer returns.
  haveHandle_ = false;
  return true;
}

bool CursorTracker::OrdinaryStep() {
  CursorState state;
  if (cursor_ == nullptr || !cursor_->Query(state)) return false;
  if (!InArea(state) || !state.showing) {
    return partial_ && !hidden_ && Hide();
  }
  const bool returning = hidden_;
  hidden_ = false;
  bool sent = false;
  if (!haveHandle_ || state.handle != lastHandle_) sent = SendShape();
  if (returning || state.x != lastX_ || state.y != lastY_) {
    sent = SendPosition(state.x, state.y) || sent;
  }
  return sent;
}

bool CursorTracker::ClosingStep() {
  CursorState state;
  if (cursor_ == nullptr || !cursor_->Query(state)) return false;
  const bool inArea = InArea(state);
  if (!state.showing || (partial_ && !inArea)) {
    return partial_ && Hide();
  }
  hidden_ = false;
  bool sent = SendShape();
  return SendPosition(state.x, state.y) || sent;
}

}  // namespace qc
