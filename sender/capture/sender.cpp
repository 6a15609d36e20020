#include "sender/capture/sender.h"

#include <cstdlib>
#include <cstring>

#include "common/byte_order.h"
#include "common/log_file.h"
#include "platform/process_info.h"
#include "platform/tick_clock.h"

namespace qc {

namespace {

// zlib parameters of every datagram: maximum compression, zlib header,
// 32 KiB window, memory level 9. The version string is the interface
// version the wire format was made with; zlib checks only its major digit.
constexpr int kLevel = 9;
constexpr int kWindowBits = 15;
constexpr int kMemLevel = 9;
constexpr char kZlibVersion[] = "1.1.4";

}  // namespace

qcSender::~qcSender() {
  Close();
  EndStream();
}

uint16_t qcSender::MakeScreenId(uint32_t hostAddress, uint32_t pid, uint32_t randomValue,
                                uint32_t ticks) {
  return static_cast<uint16_t>((hostAddress ^ pid ^ randomValue ^ ticks) & 0xFFFF);
}

bool qcSender::Open(SenderOwner* owner, const char* group, uint16_t port) {
  uint32_t address = LocalHostAddress();
  srand(TickCount());
  uint32_t random = static_cast<uint32_t>(rand());
  uint16_t id = MakeScreenId(address, CurrentProcessId(), random, TickCount());
  screenId_ = id;

  socket_.Close();
  if (!socket_.Create()) {
    Log().Print("qcSender: Unable to create socket\n");
    return false;
  }
  socket_.DropGroup(kGroupAddressHostOrder);  // result ignored
  if (!socket_.SetSendBuffer(kSenderDataSendBuffer)) {
    socket_.Close();
    Log().Print("qcSender: Unable to set socket buffer size\n");
    return false;
  }
  if (!socket_.Bind(0)) {
    socket_.Close();
    Log().Print("qcSender: Unable to bind socket\n");
    return false;
  }
  if (!socket_.SetMulticastTtl(kSendingTtl)) {
    socket_.Close();
    Log().Print("qcSender: Unable to set socket TTL\n");
    return false;
  }
  if (!SocketAddress::FromDotted(group, port, destination_)) {
    socket_.Close();
    Log().Print("qcSender: Unable to bind socket\n");
    return false;
  }
  owner_ = owner;
  if (!ResetStream()) {
    socket_.Close();
    return false;
  }
  totalBytes_ = 0;
  return true;
}

void qcSender::EndStream() {
  if (streamActive_) {
    deflateEnd(&stream_);
    streamActive_ = false;
  }
}

bool qcSender::StartStream() {
  EndStream();
  stream_ = z_stream{};
  int rc = deflateInit2_(&stream_, kLevel, Z_DEFLATED, kWindowBits, kMemLevel, Z_DEFAULT_STRATEGY,
                         kZlibVersion, static_cast<int>(sizeof(z_stream)));
  if (rc != Z_OK) {
    Log().Print("qcSender: Re-initializing zlib stream failed: %d:%s\n", rc,
                stream_.msg ? stream_.msg : "");
    socket_.Close();
    if (owner_ != nullptr) owner_->FatalError();
    return false;
  }
  streamActive_ = true;
  return true;
}

bool qcSender::ResetStream() {
  sequence_ = 0;
  if (!StartStream()) return false;
  sentSinceTick_ = false;
  return true;
}

void qcSender::AfterSend(size_t datagramLength) {
  totalBytes_.fetch_add(static_cast<uint32_t>(datagramLength), std::memory_order_relaxed);
  if (owner_ != nullptr) owner_->AdvanceIcon();
  sentSinceTick_ = true;
}

SendResult qcSender::SendPayload(const uint8_t* payload, size_t length, PacketType type) {
  if (!socket_.IsOpen()) return SendResult::Failed;
  if (!StartStream()) return SendResult::Failed;

  uint8_t* data = packet_ + kCompressedHeaderSize;
  stream_.next_in = const_cast<Bytef*>(payload);
  stream_.avail_in = static_cast<uInt>(length & 0xFFFF);
  stream_.next_out = data;
  stream_.avail_out = static_cast<uInt>(kMaxPayload);
  int rc = deflate(&stream_, Z_FULL_FLUSH);
  if (rc != Z_OK) {
    Log().Print("qcSender: Deflate failed: %d:%s\n", rc, stream_.msg ? stream_.msg : "");
    socket_.Close();
    if (owner_ != nullptr) owner_->FatalError();
    return SendResult::Failed;
  }
  size_t produced = kMaxPayload - stream_.avail_out;
  // A full output area means the flush may be incomplete; anything above
  // 59992 bytes makes a datagram that every receiver discards. Either way
  // the caller must split the payload: send nothing.
  if (stream_.avail_out == 0 || produced > kMaxCompressedData) {
    return SendResult::TooLarge;
  }

  BuildCompressedHeader({static_cast<uint16_t>(type), ScreenId(), sequence_}, packet_);
  size_t datagram = kCompressedHeaderSize + produced;
  if (!socket_.SendTo(packet_, datagram, destination_)) {
    if (!socket_.IsOpen()) return SendResult::Failed;
    Log().Print("qcSender: Sending packet failed (%d bytes, error %ld)\n",
                static_cast<int>(length & 0xFFFF), static_cast<long>(socket_.LastError()));
    return SendResult::Failed;
  }
  ++sequence_;
  AfterSend(datagram);
  return SendResult::Sent;
}

bool qcSender::SendRaw(const uint8_t* data, size_t length) {
  if (!socket_.IsOpen()) return false;
  size_t n = length & 0xFFFF;
  if (!socket_.SendTo(data, n, destination_)) {
    if (!socket_.IsOpen()) return false;
    Log().Print("qcSender: Sending raw packet failed (%d bytes, error %ld)\n",
                static_cast<int>(n), static_cast<long>(socket_.LastError()));
    return false;
  }
  AfterSend(n);
  return true;
}

void qcSender::Close() { socket_.Close(); }

}  // namespace qc
