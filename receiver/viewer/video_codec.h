// SPDX-License-Identifier: GPL-3.0-or-later
// VideoCodec: the H.264 decoder behind VideoDecoder. Each build compiles one
// back-end: libavcodec (video_codec_libav.cpp, Linux) or the Media
// Foundation H.264 transform (windows/video_codec_mf.cpp). The reassembly of
// access units, loss handling and painting stay in VideoDecoder; this only
// turns whole Annex-B access units into pictures.
//
// Threads: one thread (the update thread) uses an instance; Open on Windows
// initialises COM on that thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "receiver/viewer/yuv_picture.h"

namespace qc {

class VideoCodec {
 public:
  VideoCodec();
  ~VideoCodec();
  VideoCodec(const VideoCodec&) = delete;
  VideoCodec& operator=(const VideoCodec&) = delete;

  // Prepares a decoder for a new stream. False when the system has none or
  // it cannot be set up; the back-end logs why.
  bool Open();
  // Lets the decoder go (Open makes a new one).
  void Close();
  // Feeds one access unit. False on a decoder error.
  bool Send(const uint8_t* unit, size_t length);
  // The next decoded picture, if one is ready: valid until the next call.
  // A picture the decoder itself knows to be damaged is not returned.
  bool Receive(YuvPicture& picture);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qc
