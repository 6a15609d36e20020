// SPDX-License-Identifier: GPL-3.0-or-later
// In-memory stand-ins for the capture engine's screen, cursor, transport,
// owner and clock, and a gate that runs its work thread one step at a time.
//
// The engine owns the sources it is given; a test keeps a raw pointer and
// changes the fake only between steps (after Steps), which orders its
// writes before the work thread's next reads.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/byte_order.h"
#include "common/protocol.h"
#include "sender/capture/capture.h"
#include "sender/capture/capture_clock.h"
#include "sender/capture/cursor_source.h"
#include "sender/capture/screen_source.h"
#include "sender/capture/sender.h"

namespace qc::test {

// A screen held in memory, drawn with SetPixel/Fill. GrabRows copies rows
// into the frame, clearing byte 3 of 32-bit pixels as the X11 source does.
// With damage tracking on, drawing marks rows and grabbing clears them.
class FakeScreenSource : public ScreenSource {
 public:
  // bitsPerPixel: 16, 24 (captured as 32) or 32; anything else is reported
  // as it is (the engine refuses it).
  FakeScreenSource(int width, int height, int bitsPerPixel, bool trackDamage = false)
      : width_(width), height_(height), bitsPerPixel_(bitsPerPixel), trackDamage_(trackDamage) {
    bytesPerPixel_ = bitsPerPixel == 16 ? 2 : 4;
    screen_.assign(RowBytes() * height_, 0);
    dirty_.assign(height_, 1);
  }

  bool Open(ScreenFormat& format) override {
    if (failOpen) return false;
    if (bitsPerPixel_ == 16) {
      format = {width_, height_, 16, 0xF800, 0x07E0, 0x001F};
    } else {
      format = {width_, height_, bitsPerPixel_, 0xFF0000, 0x00FF00, 0x0000FF};
    }
    return true;
  }
  uint8_t* CreateFrame() override {
    if (failFrame) return nullptr;
    frame_.assign(RowBytes() * height_, 0);
    return frame_.data();
  }
  bool GrabRows(int first, int end) override {
    grabs.emplace_back(first, end);
    const size_t r = RowBytes();
    std::memcpy(frame_.data() + first * r, screen_.data() + first * r, (end - first) * r);
    if (bytesPerPixel_ == 4) {
      for (size_t i = first * r + 3; i < end * r; i += 4) frame_[i] = 0;
    }
    std::fill(dirty_.begin() + first, dirty_.begin() + end, 0);
    return true;
  }
  bool MayHaveChanged(int first, int end) override {
    return !trackDamage_ ||
           std::any_of(dirty_.begin() + first, dirty_.begin() + end, [](uint8_t d) { return d; });
  }
  bool TracksDamage() const override { return trackDamage_; }
  bool DisplayChanged() override { return displayChanged.load(); }

  size_t RowBytes() const { return static_cast<size_t>(width_) * bytesPerPixel_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  int BytesPerPixel() const { return bytesPerPixel_; }
  void SetPixel(int x, int y, uint32_t value) {
    uint8_t* p = screen_.data() + y * RowBytes() + x * bytesPerPixel_;
    if (bytesPerPixel_ == 2) {
      WriteU16(p, static_cast<uint16_t>(value));
    } else {
      WriteU32(p, value);
    }
    dirty_[y] = 1;
  }
  // Rectangle [x0, x1) x [y0, y1).
  void Fill(int x0, int y0, int x1, int y1, uint32_t value) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) SetPixel(x, y, value);
  }
  const std::vector<uint8_t>& Screen() const { return screen_; }

  bool failOpen = false;
  bool failFrame = false;
  std::atomic<bool> displayChanged{false};
  std::vector<std::pair<int, int>> grabs;

 private:
  int width_, height_, bitsPerPixel_, bytesPerPixel_;
  bool trackDamage_;
  std::vector<uint8_t> screen_, frame_, dirty_;
};

// A cursor whose state and image the test sets.
class FakeCursorSource : public CursorSource {
 public:
  FakeCursorSource() { SetImage(1, 16, 16, 0, 0, 0xFF000000); }

  bool Query(CursorState& out) override {
    if (failQuery) return false;
    out = state;
    return true;
  }
  bool ReadImage(CursorImage& out) override {
    ++reads;
    if (failRead) return false;
    out = image;
    return true;
  }
  // A new image of one colour; its handle becomes the cursor's handle.
  void SetImage(uint32_t handle, int width, int height, int hotX, int hotY, uint32_t argb) {
    image = {handle, width, height, hotX, hotY,
             std::vector<uint32_t>(static_cast<size_t>(width) * height, argb)};
    state.handle = handle;
  }

  CursorState state{1, true, 10, 10};
  CursorImage image;
  bool failQuery = false;
  bool failRead = false;
  int reads = 0;
};

// Records what the engine or an encoder sends and counts the ResetStream
// calls (the numbering they restart is qcSender's, tested in sender_test).
// Payloads longer than tooLargeAbove are answered TooLarge and not recorded,
// as if they did not compress into a datagram; the first calls can be
// answered from a script (Failed payloads are recorded, not counted).
class RecordingTransport : public CaptureTransport {
 public:
  struct Datagram {
    uint16_t type = 0;
    std::vector<uint8_t> bytes;  // the payload (compressed kinds) or the datagram
  };

  SendResult SendPayload(const uint8_t* payload, size_t length, PacketType type) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return SendResult::Failed;
    if (length > tooLargeAbove) {
      ++tooLarge;
      return SendResult::TooLarge;
    }
    const SendResult result = calls < script.size() ? script[calls] : SendResult::Sent;
    ++calls;
    sent_.push_back({static_cast<uint16_t>(type), {payload, payload + length}});
    if (result != SendResult::Sent) return result;
    totalBytes_ += static_cast<uint32_t>(length + kCompressedHeaderSize + parityPerPayload);
    parityBytes_ += parityPerPayload;
    sentSinceTick_ = true;
    return result;
  }
  uint32_t TotalBytesSent() const override { return totalBytes_.load(); }
  uint64_t ParityBytesSent() const override { return parityBytes_.load(); }
  bool SendRaw(const uint8_t* data, size_t length) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    sent_.push_back({PeekType(data, length).value_or(0), {data, data + length}});
    totalBytes_ += static_cast<uint32_t>(length);
    sentSinceTick_ = true;
    return true;
  }
  bool ResetStream() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++resets;
    sentSinceTick_ = false;
    return true;
  }
  void Close() override {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  uint16_t ScreenId() const override { return screenId_.load(); }
  bool SentSinceTick() const override { return sentSinceTick_.load(); }
  void ClearSentSinceTick() override { sentSinceTick_ = false; }
  void NoteLosses(int /*datagrams*/, int reporters) override { lastReporters = reporters; }

  // Takes everything recorded so far.
  std::vector<Datagram> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(sent_, {});
  }
  // The bytes recorded so far (kept), and all of them back to back.
  std::vector<std::vector<uint8_t>> Payloads() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::vector<uint8_t>> all;
    for (const Datagram& d : sent_) all.push_back(d.bytes);
    return all;
  }
  std::vector<uint8_t> Joined() {
    std::vector<uint8_t> all;
    for (const auto& p : Payloads()) all.insert(all.end(), p.begin(), p.end());
    return all;
  }
  bool IsClosed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
  }
  void SetScreenId(uint16_t id) { screenId_ = id; }

  size_t tooLargeAbove = kMaxPayload;
  // Parity bytes counted as sent after every payload (as if each closed a
  // parity group).
  uint32_t parityPerPayload = 0;
  std::vector<SendResult> script;
  size_t tooLarge = 0, calls = 0;
  int resets = 0;
  std::atomic<int> lastReporters{-1};  // what the last step told NoteLosses

 private:
  std::mutex mutex_;
  std::vector<Datagram> sent_;
  bool closed_ = false;
  std::atomic<uint16_t> screenId_{0x1234};
  std::atomic<uint32_t> totalBytes_{0};
  std::atomic<uint64_t> parityBytes_{0};
  std::atomic<bool> sentSinceTick_{false};
};

// A transport owner that counts fatal errors.
struct CountingSenderOwner : SenderOwner {
  void FatalError() override { ++fatals; }
  int fatals = 0;
};

// The engine's clock: it moves only when the test moves it.
class ManualClock : public CaptureClock {
 public:
  explicit ManualClock(int64_t startMs) : us_(startMs * 1000) {}
  int64_t NowUs() const override { return us_.load(); }
  void Advance(int64_t ms) { us_ += ms * 1000; }
  void Set(int64_t ms) { us_ = ms * 1000; }

 private:
  std::atomic<int64_t> us_;
};

// Holds the engine's work thread before each step until the test allows
// one, and keeps the sleep the engine chose.
class StepGate : public StepHook {
 public:
  void BeforeStep(const Pause& pause) override {
    std::unique_lock<std::mutex> lock(mutex_);
    pause_ = pause;
    parked_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return stopped_ || allowed_ > 0; });
    if (allowed_ > 0) --allowed_;
    parked_ = false;
  }
  void Stop() override {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }
  void Allow() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++allowed_;
    changed_.notify_all();
  }
  // Once the thread waits for its next step: the sleep the last step chose.
  // False when it did not come back within timeoutMs.
  bool NextPause(Pause& pause, int timeoutMs = 30000) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return parked_; })) {
      return false;
    }
    pause = pause_;
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  Pause pause_;
  int allowed_ = 0;
  bool parked_ = false;
  bool stopped_ = false;
};

// n steps of the engine, each waited for; false when a step did not end
// within timeoutMs.
inline bool Steps(qcCapture& capture, StepGate& gate, int n, int timeoutMs = 30000) {
  for (int i = 0; i < n; ++i) {
    const uint64_t done = capture.StepsDone();
    gate.Allow();
    if (!capture.WaitForSteps(done + 1, timeoutMs)) return false;
  }
  return true;
}

// An owner that records what the engine asks of it.
class FakeCaptureOwner : public CaptureOwner {
 public:
  explicit FakeCaptureOwner(CaptureTransport* transport) : transport_(transport) {}
  CaptureTransport& Sender() override { return *transport_; }
  int UpdatePeriod() const override { return updatePeriod; }
  VideoSettings Video() const override { return video; }
  void FatalError() override { ++fatalErrors; }
  void ShowErrorMessage(const char* caption, const char* text) override {
    messageCaption = caption;
    messageText = text;
  }

  std::atomic<int> updatePeriod{10};
  VideoSettings video;
  std::atomic<int> fatalErrors{0};
  std::string messageCaption;
  std::string messageText;

 private:
  CaptureTransport* transport_;
};

}  // namespace qc::test
