// A stand-in for qcsend in the receiver's network tests and benchmarks: the
// real transport (qcSender) sends a synthetic picture as init message,
// full-screen updates, incremental updates, cursor datagrams and the
// disconnection, with the system's numbering rules.
#pragma once

#include <vector>

#include "common/protocol.h"
#include "sender/capture/sender.h"
#include "tests/receiver/receiver_test_util.h"

namespace qc::test {

class SyntheticSender : public SenderOwner {
 public:
  SyntheticSender(int width, int height, int bpp) : width_(width), height_(height), bpp_(bpp) {}

  bool Open(uint16_t port) { return sender_.Open(this, kGroupAddress, port); }
  void Close() { sender_.Close(); }
  uint16_t Id() const { return sender_.ScreenId(); }
  qcSender& Transport() { return sender_; }

  void SetFrame(std::vector<uint8_t> frame) { frame_ = std::move(frame); }
  const std::vector<uint8_t>& Frame() const { return frame_; }

  bool SendInit() {
    auto d = InitDatagram(Id(), width_, height_, bpp_);
    return sender_.SendRaw(d.data(), d.size());
  }

  // Init message (numbering back to 0), then the picture in four quarters.
  bool SendFullScreen() {
    if (!sender_.ResetStream() || !SendInit()) return false;
    for (int q = 0; q < 4; ++q) {
      if (!SendRows(q * height_ / 4, (q + 1) * height_ / 4, PacketType::FullUpdate)) return false;
    }
    return true;
  }

  // Rows [first, end) of the current frame as payloads of at most 60000
  // bytes of whole records; halves a payload whose compressed form is too
  // large for one datagram.
  bool SendRows(int first, int end, PacketType type) {
    int y = first;
    while (y < end) {
      std::vector<uint8_t> payload;
      int next = y;
      while (next < end) {
        auto record = EncodeRows(frame_, width_, bpp_, next, next + 1);
        if (!payload.empty() && payload.size() + record.size() > kMaxPayload) break;
        payload.insert(payload.end(), record.begin(), record.end());
        ++next;
      }
      SendResult r = sender_.SendPayload(payload.data(), payload.size(), type);
      if (r == SendResult::TooLarge && next - y > 1) {
        int mid = y + (next - y) / 2;
        if (!SendRows(y, mid, type) || !SendRows(mid, next, type)) return false;
      } else if (r != SendResult::Sent) {
        return false;
      }
      y = next;
    }
    return true;
  }

  bool SendCursorPosition(int16_t x, int16_t y) {
    auto d = CursorPositionDatagram(Id(), x, y);
    return sender_.SendRaw(d.data(), d.size());
  }

  bool SendDisconnection() {
    auto d = Disconnection(Id());
    return sender_.SendRaw(d.data(), d.size());
  }

  void AdvanceIcon() override {}
  void FatalError() override {}

 private:
  int width_, height_, bpp_;
  std::vector<uint8_t> frame_;
  qcSender sender_;
};

}  // namespace qc::test
