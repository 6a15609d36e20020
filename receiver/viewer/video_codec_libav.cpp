// SPDX-License-Identifier: GPL-3.0-or-later
// VideoCodec with libavcodec's H.264 decoder.
#include "receiver/viewer/video_codec.h"

#include "common/log_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace qc {

struct VideoCodec::State {
  AVCodecContext* context = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* picture = nullptr;
  ~State() {
    av_frame_free(&picture);
    av_packet_free(&packet);
    avcodec_free_context(&context);
  }
};

VideoCodec::VideoCodec() = default;
VideoCodec::~VideoCodec() = default;

void VideoCodec::Close() { state_.reset(); }

bool VideoCodec::Open() {
  state_.reset();
  // Damaged or hostile input is expected and counted; libavcodec's own
  // messages about it would only flood standard error.
  av_log_set_level(AV_LOG_QUIET);
  const AVCodec* h264 = avcodec_find_decoder(AV_CODEC_ID_H264);
  auto s = std::make_unique<State>();
  if (h264) {
    s->context = avcodec_alloc_context3(h264);
    s->packet = av_packet_alloc();
    s->picture = av_frame_alloc();
  }
  if (!s->context || !s->packet || !s->picture) {
    Log().Print("qvViewer: No H.264 decoder in libavcodec\n");
    return false;
  }
  s->context->thread_count = 1;  // no frame threads: no added latency
  s->context->flags |= AV_CODEC_FLAG_LOW_DELAY;
  if (avcodec_open2(s->context, h264, nullptr) < 0) {
    Log().Print("qvViewer: The H.264 decoder cannot be opened\n");
    return false;
  }
  state_ = std::move(s);
  return true;
}

bool VideoCodec::Send(const uint8_t* unit, size_t length) {
  if (!state_) return false;
  av_frame_unref(state_->picture);
  // The packet only borrows the bytes: the decoder copies what it keeps.
  state_->packet->data = const_cast<uint8_t*>(unit);
  state_->packet->size = static_cast<int>(length);
  return avcodec_send_packet(state_->context, state_->packet) >= 0;
}

bool VideoCodec::Receive(YuvPicture& out) {
  if (!state_) return false;
  AVFrame* f = state_->picture;
  for (;;) {
    av_frame_unref(f);
    if (avcodec_receive_frame(state_->context, f) < 0) return false;
    const bool corrupt = (f->flags & AV_FRAME_FLAG_CORRUPT) != 0 || f->decode_error_flags != 0;
    // Our encoder sends 8-bit 4:2:0 of limited range; anything else is not
    // ours to show.
    if (corrupt || f->format != AV_PIX_FMT_YUV420P) continue;
    out.width = f->width;
    out.height = f->height;
    out.y = f->data[0];
    out.u = f->data[1];
    out.v = f->data[2];
    out.yStride = static_cast<size_t>(f->linesize[0]);
    out.uvStride = static_cast<size_t>(f->linesize[1]);
    out.uvStep = 1;
    return true;
  }
}

}  // namespace qc
