// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for qvViewer behind the window: its own framebuffer and remote
// cursor, and an update thread that calls the window's surface the way the
// core does (PlaceWindow once, then invalidations and UpdateWindow after
// every "datagram"). No sockets.
#pragma once

#include <QCoreApplication>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "receiver/viewer/viewer_source.h"
#include "tests/support/recording_owner.h"
#include "tests/viewer_window/qt_test_env.h"

namespace qc::test {

class FakeViewerSource : public ViewerSource {
 public:
  // One step of the update thread after the placement; false ends it.
  using Step = std::function<bool(FakeViewerSource&, ViewerSurface&)>;

  // A 32-bit framebuffer of this size.
  void SetFormat(int width, int height) { width_ = width; height_ = height; }
  // Fills the framebuffer when it is created (update thread).
  void SetPattern(std::function<void(uint8_t*, int, int)> fill) { fill_ = std::move(fill); }
  // Run by the update thread after PlaceWindow, until it returns false or
  // the viewer stops.
  void SetStep(Step step) { step_ = std::move(step); }

  bool Init(ViewerOwner*, ViewerSurface* surface, uint16_t) override {
    surface->ViewerStarted();
    surface_ = surface;
    running_ = true;
    ++cycles_;
    thread_ = std::thread([this] { UpdateThread(); });
    return true;
  }

  void Stop() override {
    if (surface_ != nullptr) surface_->ViewerStopping();
    running_ = false;
    receiving_ = false;
    if (thread_.joinable()) thread_.join();
    // Freed, so that a paint from it after Stop shows under ASan.
    std::vector<uint8_t>().swap(pixels_);
    pixelsPtr_.store(nullptr);
    {
      std::lock_guard<std::mutex> lock(cursor_.Lock());
      cursor_.State() = RemoteCursorState{};
    }
  }

  bool IsReceiving() const override { return receiving_.load(); }
  FramebufferView FramebufferInfo() const override {
    FramebufferView v;
    v.pixels = pixelsPtr_.load();
    if (v.pixels == nullptr) return v;
    v.width = width_;
    v.height = height_;
    v.bitsPerPixel = 32;
    v.bytesPerRow = width_ * 4;
    return v;
  }
  std::mutex& CursorLock() override { return cursor_.Lock(); }
  RemoteCursorState& CursorState() override { return cursor_.State(); }

  // For steps (update thread).
  uint32_t* Pixels() { return reinterpret_cast<uint32_t*>(pixels_.data()); }
  int Width() const { return width_; }
  int Height() const { return height_; }
  RemoteCursor& Cursor() { return cursor_; }
  bool Running() const { return running_.load(); }
  // A size x size cursor with its hot spot at (0, 0): white, or inverting
  // in its left half and transparent in its right half.
  void GiveCursorImage(int size = 32, bool inverting = false) {
    std::lock_guard<std::mutex> lock(cursor_.Lock());
    RemoteCursorState& s = cursor_.State();
    s.image.width = s.image.height = size;
    s.image.hotX = s.image.hotY = 0;
    const size_t n = static_cast<size_t>(size) * size;
    s.image.argb.assign(n, inverting ? 0u : 0xffffffffu);
    s.image.invert.clear();
    for (size_t i = 0; inverting && i < n; ++i) s.image.invert.push_back(i % size < size / 2u);
    s.hasImage = true;
    s.width = s.height = size;
  }
  // Moves the cursor as a position datagram does.
  void MoveCursor(ViewerSurface& surface, int x, int y) {
    cursor_.SetPosition(static_cast<int16_t>(x), static_cast<int16_t>(y));
    cursor_.Update(false, surface);
  }

  int Cycles() const { return cycles_; }
  uint64_t Steps() const { return steps_.load(); }
  bool StepsDone() const { return stepsDone_.load(); }

 private:
  void UpdateThread() {
    stepsDone_ = false;
    pixels_.assign(static_cast<size_t>(width_) * height_ * 4, 0);
    if (fill_) fill_(pixels_.data(), width_, height_);
    pixelsPtr_.store(pixels_.data());
    receiving_ = true;
    surface_->PlaceWindow();
    surface_->UpdateWindow();
    while (running_.load() && step_ && step_(*this, *surface_)) {
      ++steps_;
    }
    stepsDone_ = true;
  }

  int width_ = 640;
  int height_ = 480;
  std::function<void(uint8_t*, int, int)> fill_;
  Step step_;
  ViewerSurface* surface_ = nullptr;
  std::vector<uint8_t> pixels_;
  std::atomic<const uint8_t*> pixelsPtr_{nullptr};
  std::atomic<bool> running_{false};
  std::atomic<bool> receiving_{false};
  std::atomic<bool> stepsDone_{false};
  std::atomic<uint64_t> steps_{0};
  std::thread thread_;
  RemoteCursor cursor_;
  int cycles_ = 0;
};

}  // namespace qc::test
