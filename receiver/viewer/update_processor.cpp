// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/update_processor.h"

#include <algorithm>

#include "common/log_file.h"
#include "common/parity_format.h"
#include "platform/tick_clock.h"
#include "receiver/viewer/str_decoder.h"
#include "receiver/viewer/viewer.h"

namespace qc {

namespace {

// The zlib interface version the wire format was made with; zlib checks
// only its major digit.
constexpr char kZlibVersion[] = "1.1.4";

constexpr uint16_t Code(PacketType t) { return static_cast<uint16_t>(t); }

// Returned by Inflate when no stream could be started.
constexpr int kNoStream = 1000;

}  // namespace

UpdateProcessor::UpdateProcessor() : out_(new uint8_t[kMaxPayload]) {}

UpdateProcessor::~UpdateProcessor() { End(); }

bool UpdateProcessor::Begin(ViewerOwner* owner, ViewerSurface* surface) {
  End();
  owner_ = owner;
  surface_ = surface;
  screenId_ = 0;
  expected_ = 0;
  openGaps_ = 0;
  processed_ = ignored_ = rejected_ = lost_ = requests_ = applied_ = rebuilt_ = suppressed_ = 0;
  parity_.Reset();
  parityHeard_ = parityCame_ = false;
  parities_ = 0;
  holding_ = false;
  random_ = (TickCount() ^ static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this) >> 4)) | 1u;
  cursor_.Reset();
  if (!FreshStream()) return false;
  decoder_ = std::make_unique<StrDecoder>();
  return true;
}

void UpdateProcessor::End() {
  framebufferReady_.store(false, std::memory_order_release);
  framebuffer_.Release();
  decoder_.reset();
  parity_.Release();
  holding_ = false;
  if (streamActive_) {
    inflateEnd(&stream_);
    streamActive_ = false;
  }
  cursor_.Reset();
}

void UpdateProcessor::FillStats(ViewerStats& s) const {
  s.processed = processed_.load(std::memory_order_relaxed);
  s.ignored = ignored_.load(std::memory_order_relaxed);
  s.rejected = rejected_.load(std::memory_order_relaxed);
  s.lost = lost_.load(std::memory_order_relaxed);
  s.updateRequests = requests_.load(std::memory_order_relaxed);
  s.updatesApplied = applied_.load(std::memory_order_relaxed);
  s.rebuilt = rebuilt_.load(std::memory_order_relaxed);
  s.suppressed = suppressed_.load(std::memory_order_relaxed);
  s.videoFrames = video_.FramesShown();
  s.videoFramesLost = video_.FramesLost();
}

void UpdateProcessor::Start(const InitMessage& init) {
  screenId_ = init.screenId;
  expected_ = 0;
  lastHeardMs_ = TickCount();
  silenceReported_ = false;
  video_.Reset();
  if (!framebuffer_.Create(init)) return;
  if (decoder_ == nullptr ||
      !decoder_->Init(framebuffer_.Pixels(), framebuffer_.BytesPerPixel(), framebuffer_.Width(),
                      framebuffer_.Height())) {
    Log().Print("qvViewer: Unable to set up the decoder\n");
    framebuffer_.Release();
    return;
  }
  framebufferReady_.store(true, std::memory_order_release);
  surface_->InvalidateFramebufferRect(Rect{0, 0, framebuffer_.Width(), framebuffer_.Height()});
  surface_->PlaceWindow();
  surface_->UpdateWindow();
  owner_->UpdateTrayIcon(TrayState::Receiving);
}

void UpdateProcessor::RequestUpdate() {
  if (requestedForThis_) return;
  requestedForThis_ = true;
  requests_.fetch_add(1, std::memory_order_relaxed);
  owner_->SendUpdateRequest();
}

void UpdateProcessor::Reject(const char* what, uint16_t type, size_t length) {
  rejected_.fetch_add(1, std::memory_order_relaxed);
  Log().Print("qvViewer: Dropping %s packet (type 0x%x, %d bytes)\n", what,
              static_cast<unsigned>(type), static_cast<int>(length));
}

bool UpdateProcessor::CheckSilence(uint32_t nowMs) {
  // Tick counts wrap; the difference does not.
  const uint32_t silentMs = nowMs - lastHeardMs_;
  if (silentMs < static_cast<uint32_t>(kTransmissionSilenceMs)) return false;
  if (!silenceReported_) {
    silenceReported_ = true;
    Log().Print("qvViewer: Transmission silent for %u ms, treating it as ended\n",
                static_cast<unsigned>(silentMs));
    owner_->RestartViewer();
  }
  return true;
}

void UpdateProcessor::Process(const uint8_t* data, size_t length) {
  const std::optional<uint16_t> id = PeekScreenId(data, length);
  const uint16_t type = PeekType(data, length).value_or(0);
  if (!id) {
    Reject("short", type, length);
    return;
  }
  if (*id != screenId_) {
    ignored_.fetch_add(1, std::memory_order_relaxed);
    Log().Print("qvViewer: Ignoring packet %hd %hd\n", static_cast<short>(*id),
                static_cast<short>(screenId_));
    return;
  }
  processed_.fetch_add(1, std::memory_order_relaxed);
  lastHeardMs_ = TickCount();
  requestedForThis_ = false;

  switch (type) {
    case Code(PacketType::Init): {
      InitMessage init;
      if (!ParseInit(data, length, init)) {
        Reject("short", type, length);
      } else if (!IsUsableInit(init)) {
        Reject("unusable init", type, length);
      } else {
        Log().Print("qvViewer: Received init packet\n");
        StartNumbers();
      }
      break;
    }
    case Code(PacketType::Disconnection):
      Log().Print("qvViewer: Received disconnection packet\n");
      owner_->RestartViewer();
      break;
    case Code(PacketType::FullUpdate):
    case Code(PacketType::Update):
    case Code(PacketType::CursorShape): {
      CompressedHeader header;
      if (!ParseCompressedHeader(data, length, header)) {
        Reject("short", type, length);
      } else {
        Numbered(type, header, data, length);
      }
      break;
    }
    case kParityType:
      OnParity(data, length);
      break;
    case Code(PacketType::CursorPosition): {
      CursorPosition position;
      if (!ParseCursorPosition(data, length, position)) {
        Reject("short", type, length);
      } else {
        cursor_.SetPosition(position.x, position.y);
        cursor_.Update(false, *surface_);
      }
      break;
    }
    case kVideoRegionType: {
      VideoHeader header;
      Rect painted;
      if (!ParseVideoHeader(data, length, header)) {
        Reject("bad video", type, length);
      } else if (framebuffer_.Pixels() != nullptr) {
        if (!video_.Process(header, data + kVideoHeaderSize, length - kVideoHeaderSize,
                            framebuffer_, painted)) {
          painted = Rect{};
        }
        if (video_.UnitCompleted()) {
          surface_->VideoUnit(header, video_.Unit().data(), video_.Unit().size(), painted);
        }
      }
      break;
    }
    default:
      break;  // keep-alive, update requests, 0xFFFB, unknown codes
  }
  surface_->UpdateWindow();
}

void UpdateProcessor::Numbered(uint16_t type, const CompressedHeader& header, const uint8_t* data,
                               size_t length) {
  if (type == Code(PacketType::FullUpdate) && header.sequence < expected_ &&
      header.sequence < kMaxRepairSpan) {
    // The numbers start over only with a full-screen update, after an init
    // message: that one was lost. The update itself mends the picture, and
    // what it lost is asked for by number, as after the init. (A request
    // for the whole screen instead would start the numbers over again, and
    // in a crowd someone always loses that init message too.)
    StartNumbers();
  }
  const uint32_t now = TickCount();
  const bool active = ParityActive();
  if (sinceParity_ < kParityActiveDatagrams) ++sinceParity_;
  if (active) parity_.Keep(header.sequence, data, length);
  const uint32_t ahead = header.sequence - expected_;
  if (holding_) {
    // Held too (ahead 0: the lost datagram itself, late), unless it cannot
    // be: then what is held goes first.
    if (active && ahead <= kHoldSpan) {
      if (ahead > held_ - expected_) {
        Shown(held_ + 1, header.sequence, now);
        held_ = header.sequence;
      }
      Drain(now, false, false);
      return;
    }
    Drain(now, true, false);
  } else if (active && ahead > 0 && ahead <= kHoldSpan) {
    // A loss: wait for the parity of its group.
    holding_ = true;
    holdSinceMs_ = now;
    held_ = header.sequence;
    Shown(expected_, held_, now);
    Drain(now, false, false);
    return;
  }
  Apply(type, header, data, length);
}

void UpdateProcessor::StartNumbers() {
  // What is held belongs to the old stream: applied as it is, since the
  // full-screen update that follows mends every hole.
  if (holding_) Drain(TickCount(), true, true);
  parity_.Reset();
  parities_ = 0;
  for (Loss& l : shown_) l = Loss{};
  expected_ = 0;
  openGaps_ = 0;  // the full-screen update mends every gap
}

void UpdateProcessor::Apply(uint16_t type, const CompressedHeader& header, const uint8_t* data,
                            size_t length) {
  if (type == Code(PacketType::CursorShape)) {
    ApplyCursorShape(header, data + kCompressedHeaderSize, length - kCompressedHeaderSize);
  } else {
    ApplyUpdate(header, data + kCompressedHeaderSize, length - kCompressedHeaderSize);
  }
}

void UpdateProcessor::OnParity(const uint8_t* data, size_t length) {
  // A scheme of a later version is ignored, as an unknown type is: its
  // receivers rebuild from it, this one asks for its losses.
  if (length >= kParityHeaderSize && data[9] > kParitySchemeCopy) return;
  ParityHeader h;
  if (!ParseParityHeader(data, length, h)) {
    Reject("parity", kParityType, length);
    return;
  }
  const uint32_t now = TickCount();
  parityHeard_ = true;
  sinceParity_ = 0;
  if (h.scheme != kParitySchemeCopy) {
    Heard(h);
    parityCame_ = true;
  }
  // Only a hole being waited for is rebuilt: the numbers held behind a
  // loss, and those the parity has after the last that came. It went out
  // after its members, so those are lost as surely as if a later datagram
  // had come, and nothing else may show it (the last datagrams before the
  // screen stands still): they are held for, with no datagram held after
  // them. Parity of a group this receiver never started, or whose loss it
  // has given up on, changes nothing.
  const uint32_t last = h.first + h.count - 1u;
  const uint32_t into = expected_ - h.first;  // where the next number is in its run
  const bool trailing = holding_ ? last - held_ - 1u < kHoldSpan && last - expected_ <= kHoldSpan
                                 : (into >= 1u && into < h.count) || (into == 0u && h.count == 1u);
  if (!holding_ && !trailing) return;
  const ParityDecoder::Result result = parity_.Add(data, length, screenId_);
  if (result == ParityDecoder::Result::Malformed) {
    Reject("parity", kParityType, length);
    return;
  }
  if (trailing) {
    if (!holding_) {
      holding_ = true;
      holdSinceMs_ = now;
      held_ = expected_ - 1u;
    }
    Shown(held_ + 1u, last + 1u, now);
    held_ = last;
  }
  if (result == ParityDecoder::Result::Kept) RebuildHeld(now);
  // A hole that no parity to come has as a member is asked for now.
  Drain(now, false, false);
}

void UpdateProcessor::Heard(const ParityHeader& h) {
  const uint32_t end = h.first + h.count - 1u;
  if (parities_ > 0 && end == parityEnds_[(parities_ - 1) % kParityReach]) return;  // a repeat
  parityEnds_[parities_ % kParityReach] = end;
  ++parities_;
  if (parities_ == 2 * kParityReach) parities_ = kParityReach;  // stays past kParityReach
  lastParityFirst_ = h.first;
}

bool UpdateProcessor::PastParity(uint32_t sequence) const {
  if (parities_ == 0) return false;
  // The sender's parities have moved on past it.
  if (lastParityFirst_ - sequence - 1u < kHoldSpan) return true;
  // Or the last parity that can have it came.
  if (parities_ < kParityReach) return false;
  for (const uint32_t end : parityEnds_) {
    if (end - sequence > kHoldSpan) return false;  // ended before it
  }
  return true;
}

void UpdateProcessor::RebuildHeld(uint32_t nowMs) {
  uint32_t rebuilt[ParityDecoder::kKeptParities];
  const int n = parity_.Solve(expected_, held_, rebuilt, ParityDecoder::kKeptParities);
  if (n == 0) return;
  for (int i = 0; i < n; ++i) {
    rebuilt_.fetch_add(1, std::memory_order_relaxed);
    Log().Print("qvViewer: Rebuilt packet %lu from parity after %u ms\n",
                static_cast<unsigned long>(rebuilt[i]),
                static_cast<unsigned>(nowMs - ShownMs(rebuilt[i], nowMs)));
  }
  Drain(nowMs, false, false);
}

void UpdateProcessor::Shown(uint32_t first, uint32_t end, uint32_t nowMs) {
  for (uint32_t s = first; s != end; ++s) shown_[s % ParityDecoder::kSlots] = {s, nowMs};
}

uint32_t UpdateProcessor::ShownMs(uint32_t sequence, uint32_t nowMs) const {
  const Loss& l = shown_[sequence % ParityDecoder::kSlots];
  // Older than any hold lasts (kHoldMs at a time, anew after each hole
  // before): the record of an earlier pass of the numbers.
  return l.sequence == sequence && nowMs - l.ms < kHoldSpan * kHoldMs ? l.ms : nowMs;
}

bool UpdateProcessor::Tried(uint32_t sequence, uint32_t nowMs) const {
  return parity_.Tried(sequence) && nowMs - ShownMs(sequence, nowMs) >= kAskTriedAfterMs;
}

void UpdateProcessor::Drain(uint32_t now, bool force, bool quiet, bool askTried) {
  force = force || now - holdSinceMs_ >= kHoldMs;
  bool advanced = false;
  while (holding_) {
    size_t n = 0;
    const uint8_t* d = parity_.Find(expected_, n);
    if (d == nullptr) {
      const uint32_t left = held_ - expected_;
      if (left > kHoldSpan) {  // expected_ went past what is held
        holding_ = false;
        break;
      }
      // The run of holes up to the next datagram at hand. A run of
      // kParityReach or more needs as many parities, which come a group
      // (40-60 ms) apart: it is asked for at once. Otherwise the holes that
      // no parity to come has are asked for (with askTried, those that a
      // parity could not give either), and the rest waits.
      uint32_t next = expected_ + 1;  // held_ + 1: none (held_ is a hole too)
      while (next != held_ + 1 && parity_.Find(next, n) == nullptr) ++next;
      if (quiet && next == held_ + 1) {
        holding_ = false;
        break;
      }
      uint32_t end = expected_;
      if (force || next - expected_ >= static_cast<uint32_t>(kParityReach)) {
        end = next;
      } else {
        while (end != next && (PastParity(end) || (askTried && Tried(end, now)))) ++end;
      }
      if (end == expected_) {
        if (advanced) holdSinceMs_ = now;  // the next hole waits for its parity afresh
        break;
      }
      if (end != next || next == held_ + 1) {  // no datagram after them to show them
        lost_.fetch_add(1, std::memory_order_relaxed);
        requestedForThis_ = false;
        AskForRepair(expected_, end - 1, held_);
        Log().Print("qvViewer: Lost packet %ld\n", static_cast<long>(expected_));
        expected_ = end;
        advanced = true;
        continue;
      }
      d = parity_.Find(next, n);
      if (quiet) expected_ = next;
    }
    CompressedHeader header;
    if (!ParseCompressedHeader(d, n, header)) {  // not reached: kept after parsing
      holding_ = false;
      break;
    }
    requestedForThis_ = false;
    const bool last = header.sequence == held_;
    Apply(ReadU16(d), header, d, n);
    advanced = true;
    if (last) holding_ = false;
  }
}

int UpdateProcessor::WaitMs(uint32_t nowMs, int limitMs) const {
  int wait = limitMs;
  auto sooner = [&](uint32_t atMs) {
    const int32_t left = static_cast<int32_t>(atMs - nowMs);
    wait = std::min(wait, std::max(0, static_cast<int>(left)));
  };
  if (holding_) sooner(holdSinceMs_ + kHoldMs);
  for (int i = 0; i < openGaps_; ++i) {
    const Gap& g = gaps_[i];
    sooner(g.pending ? g.dueMs : g.askedMs + (kRepairRetryMs << (g.tries - 1)));
  }
  return wait;
}

uint32_t UpdateProcessor::Backoff() {
  // xorshift: requests of a crowd must not line up, nothing more.
  random_ ^= random_ << 13;
  random_ ^= random_ >> 17;
  random_ ^= random_ << 5;
  return random_ % (kBackoffMs + 1);
}

bool UpdateProcessor::FreshStream() {
  // inflateReset gives the state of a new stream without giving back its
  // memory, so no allocation happens per datagram.
  if (streamActive_ && inflateReset(&stream_) == Z_OK) return true;
  if (streamActive_) inflateEnd(&stream_);
  streamActive_ = false;
  stream_ = z_stream{};
  int rc = inflateInit_(&stream_, kZlibVersion, static_cast<int>(sizeof(z_stream)));
  if (rc != Z_OK) {
    Log().Print("qvViewer: Failed to init zlib stream: %d:%s\n", rc,
                stream_.msg ? stream_.msg : "");
    return false;
  }
  streamActive_ = true;
  return true;
}

int UpdateProcessor::Inflate(const uint8_t* data, size_t length, size_t& produced) {
  produced = 0;
  if (!FreshStream()) return kNoStream;
  stream_.next_in = const_cast<Bytef*>(data);
  stream_.avail_in = static_cast<uInt>(length);
  stream_.next_out = out_.get();
  stream_.avail_out = static_cast<uInt>(kMaxPayload);
  int rc = inflate(&stream_, Z_FULL_FLUSH);
  produced = kMaxPayload - stream_.avail_out;
  return rc;
}

void UpdateProcessor::ApplyUpdate(const CompressedHeader& header, const uint8_t* data,
                                  size_t length) {
  if (HasFramebuffer()) {
    size_t produced = 0;
    int rc = Inflate(data, length, produced);
    if (rc == kNoStream) {
      // Logged by FreshStream; the datagram is lost, the check still runs.
    } else if (rc != Z_OK) {
      rejected_.fetch_add(1, std::memory_order_relaxed);
      Log().Print("qvViewer: zlib inflate error on decoding update (error %d)\n", rc);
      RequestUpdate();
    } else {
      int first = -1, last = -1;
      bool ok = produced > 0 && decoder_->Decode(out_.get(), produced, first, last);
      if (first >= 0 && last >= first) {
        surface_->InvalidateFramebufferRect(Rect{0, first - 1, framebuffer_.Width(), last + 1});
      }
      if (ok) {
        applied_.fetch_add(1, std::memory_order_relaxed);
      } else {
        rejected_.fetch_add(1, std::memory_order_relaxed);
        Log().Print("qvViewer: Malformed update payload (%d bytes)\n", static_cast<int>(produced));
        RequestUpdate();
      }
    }
  }
  SequenceCheck(header.sequence);
}

void UpdateProcessor::ApplyCursorShape(const CompressedHeader& header, const uint8_t* data,
                                       size_t length) {
  size_t produced = 0;
  int rc = Inflate(data, length, produced);
  if (rc == kNoStream) {
    // Logged; the old image stays.
  } else if (rc != Z_OK) {
    rejected_.fetch_add(1, std::memory_order_relaxed);
    Log().Print("qvViewer: Zlib inflate error on new cursor shape (error %d)\n", rc);
    RequestUpdate();
  } else if (!cursor_.DecodeShape(out_.get(), produced)) {
    rejected_.fetch_add(1, std::memory_order_relaxed);
    Log().Print("qvViewer: Malformed cursor shape (%d bytes)\n", static_cast<int>(produced));
    RequestUpdate();
  }
  cursor_.Update(true, *surface_);
  SequenceCheck(header.sequence);
}

void UpdateProcessor::SequenceCheck(uint32_t sequence) {
  // Open gaps that a datagram numbered after them followed are answered:
  // the sender had the request, or sends on and a new gap will tell.
  const uint32_t now = TickCount();
  for (int i = 0; i < openGaps_;) {
    const Gap& g = gaps_[i];
    // A request not sent yet cannot have been answered.
    if (!g.pending && sequence > g.seen && sequence - g.seen <= kMaxRepairSpan) {
      Log().Print("qvViewer: Repair of packets %lu to %lu answered after %u ms\n",
                  static_cast<unsigned long>(g.first), static_cast<unsigned long>(g.last),
                  static_cast<unsigned>(now - g.sinceMs));
      gaps_[i] = gaps_[--openGaps_];
    } else {
      ++i;
    }
  }
  if (sequence == expected_) {
    ++expected_;
    return;
  }
  lost_.fetch_add(1, std::memory_order_relaxed);
  const uint32_t first = expected_;
  // A jump forward that a repair can mend asks for those rows only; a
  // number behind (a new stream) or a wide gap asks for the whole screen.
  if (sequence > first && sequence - first <= kMaxRepairSpan) {
    AskForRepair(first, sequence - 1, sequence);
  } else {
    RequestUpdate();
  }
  Log().Print("qvViewer: Lost packet %ld\n", static_cast<long>(expected_));
  expected_ = sequence + 1;
}

void UpdateProcessor::AskForRepair(uint32_t first, uint32_t last, uint32_t seen) {
  if (requestedForThis_) return;  // the whole screen was asked for already
  const uint32_t now = TickCount();
  requestedForThis_ = true;
  // Datagrams held behind the gap were sent before any request: only one
  // numbered after all of them answers it.
  if (holding_ && held_ - seen <= kHoldSpan) seen = held_;
  for (int i = 0; i < openGaps_; ++i) {
    Gap& g = gaps_[i];
    if (g.pending && first > g.last && first - g.last - 1 <= kMergeSpan &&
        last - g.first < kMaxRepairSpan) {
      g.last = last;
      g.seen = seen;
      return;
    }
  }
  if (openGaps_ == kOpenGaps) {
    // Too many at once: one full-screen update mends them all.
    requestedForThis_ = false;
    RequestUpdate();
    return;
  }
  if (owner_->HearsOtherReceivers()) {
    // Requests heard since the loss could show count: receivers that lost
    // the same numbers saw the gap up to a hold earlier or later, and the
    // sender answers what they asked.
    gaps_[openGaps_++] =
        Gap{first, last, seen, now, ShownMs(first, now), 1, true, now + Backoff(), now - kHoldMs};
    return;
  }
  gaps_[openGaps_++] = Gap{first, last, seen, now, ShownMs(first, now), 1, false, now, now};
  requests_.fetch_add(1, std::memory_order_relaxed);
  owner_->SendRepairRequest(screenId_, first, last);
}

void UpdateProcessor::AskDue(uint32_t nowMs) {
  for (int i = 0; i < openGaps_; ++i) {
    Gap& g = gaps_[i];
    if (!g.pending || static_cast<int32_t>(nowMs - g.dueMs) < 0) continue;
    g.pending = false;
    g.askedMs = nowMs;
    if (owner_->HeardRepairRequest(screenId_, g.first, g.last, g.pendingMs)) {
      suppressed_.fetch_add(1, std::memory_order_relaxed);
      Log().Print("qvViewer: Packets %lu to %lu asked for by another receiver\n",
                  static_cast<unsigned long>(g.first), static_cast<unsigned long>(g.last));
      continue;
    }
    requests_.fetch_add(1, std::memory_order_relaxed);
    owner_->SendRepairRequest(screenId_, g.first, g.last);
  }
}

void UpdateProcessor::CheckRepairs(uint32_t nowMs) {
  if (holding_ && (parityCame_ || nowMs - holdSinceMs_ >= kHoldMs)) {
    Drain(nowMs, false, false, parityCame_);
  }
  parityCame_ = false;
  AskDue(nowMs);
  for (int i = 0; i < openGaps_;) {
    Gap& g = gaps_[i];
    if (g.pending || nowMs - g.askedMs < (kRepairRetryMs << (g.tries - 1))) {
      ++i;
      continue;
    }
    if (g.tries >= kRepairTries) {
      Log().Print("qvViewer: Packets %lu to %lu not repaired, asking for a full-screen update\n",
                  static_cast<unsigned long>(g.first), static_cast<unsigned long>(g.last));
      requests_.fetch_add(1, std::memory_order_relaxed);
      owner_->SendUpdateRequest();
      gaps_[i] = gaps_[--openGaps_];
      continue;
    }
    ++g.tries;
    g.askedMs = nowMs;
    Log().Print("qvViewer: Asking again for packets %lu to %lu\n",
                static_cast<unsigned long>(g.first), static_cast<unsigned long>(g.last));
    if (owner_->HearsOtherReceivers()) {
      g.pending = true;
      g.pendingMs = nowMs;
      g.dueMs = nowMs + Backoff();
    } else {
      requests_.fetch_add(1, std::memory_order_relaxed);
      owner_->SendRepairRequest(screenId_, g.first, g.last);
    }
    ++i;
  }
}

}  // namespace qc
