// A stand-in for qcsend in the receiver's network tests and benchmarks: the
// real transport (qcSender) sends a synthetic picture as init message,
// full-screen updates, incremental updates and the disconnection, with the
// system's numbering rules.
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

  void SetFrame(std::vector<uint8_t> frame) { frame_ = std::move(frame); }

  // Init message (numbering back to 0), then the picture in four quarters.
  bool SendFullScreen() {
    const auto init = InitDatagram(Id(), width_, height_, bpp_);
    if (!sender_.ResetStream() || !sender_.SendRaw(init.data(), init.size())) return false;
    for (int q = 0; q < 4; ++q) {
      if (!SendRows(q * height_ / 4, (q + 1) * height_ / 4, PacketType::FullUpdate)) return false;
    }
    return true;
  }

  // Rows [first, end) of the current frame through the sender's encoder,
  // which cuts and splits the payloads.
  bool SendRows(int first, int end, PacketType type) {
    std::vector<uint8_t> reference(frame_.size(), 0x01);
    StrEncoder encoder;
    encoder.Init(width_, bpp_ / 8, frame_.data(), reference.data(), &sender_);
    return encoder.EncodeRows(first, end, type);
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
