// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/video_encoder.h"

#include "common/log_file.h"

#if QC_HAVE_LIBAV
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}
#endif

namespace qc {

#if QC_HAVE_LIBAV

struct VideoEncoder::Codec {
  AVCodecContext* context = nullptr;
  AVFrame* picture = nullptr;
  AVPacket* packet = nullptr;
  SwsContext* scaler = nullptr;
  int64_t pts = 0;
  ~Codec() {
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&picture);
    avcodec_free_context(&context);
  }
};

VideoEncoder::VideoEncoder() = default;
VideoEncoder::~VideoEncoder() = default;

bool VideoEncoder::Open(int width, int height, int bitrateKbps) {
  Close();
  av_log_set_level(AV_LOG_ERROR);  // x264's statistics are not for standard error
  const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
  if (!h264) {
    Log().Print("qcVideo: No H.264 encoder (libx264) in libavcodec\n");
    return false;
  }
  auto codec = std::make_unique<Codec>();
  AVCodecContext* c = codec->context = avcodec_alloc_context3(h264);
  if (!c) return false;
  c->width = width;
  c->height = height;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = AVRational{1, kFps};
  c->framerate = AVRational{kFps, 1};
  c->gop_size = kRefreshFrames;
  c->max_b_frames = 0;
  c->thread_count = 1;  // the capture thread's core; sliced threads add latency
  const int64_t bits = static_cast<int64_t>(bitrateKbps) * 1000;
  c->bit_rate = bits;
  c->rc_max_rate = bits;
  // A buffer of a quarter of a second: the cap holds over that time, and no
  // frame is a burst (the bench's 720p clip, encoded alone: a buffer of 4
  // frames cost 0.6 dB against this one).
  c->rc_buffer_size = static_cast<int>(bits / 4);
  // The BT.601 matrix with limited range is what swscale converts with
  // here and at the receivers; the pixels are sRGB (BT.709 primaries, the
  // sRGB curve). Saying so in the stream makes browsers convert alike and
  // leave the colours as they are.
  c->colorspace = AVCOL_SPC_SMPTE170M;
  c->color_primaries = AVCOL_PRI_BT709;
  c->color_trc = AVCOL_TRC_IEC61966_2_1;
  c->color_range = AVCOL_RANGE_MPEG;
  av_opt_set(c->priv_data, "preset", "ultrafast", 0);
  av_opt_set(c->priv_data, "tune", "zerolatency", 0);
  av_opt_set_int(c->priv_data, "intra-refresh", 1, 0);
  // The fastest preset with three of its savings given back: CABAC, the
  // deblocking filter and the 8x8 transform. On the bench's 720p clip at
  // 4 Mbit/s they add 1.7 dB for a quarter more encoding time (ultrafast:
  // 12% of a core; superfast, which gains less: 20%).
  // The picture is to look like the screen, not to please an eye that
  // forgives moved grain: no psycho-visual tuning and no adaptive
  // quantisation, whose bits went to flat areas. Chroma four steps coarser
  // than luma. On that clip at 3500 kbit/s (encoded alone, mean of all
  // frames against the screen) psy and AQ off gave +0.4 dB RGB and +1.3 dB
  // BT.709 luma, the chroma offset another +2.0 dB BT.709 luma for -0.1 dB
  // RGB (six steps: +0.8 dB more for -0.2 dB RGB), all at the same encoding
  // time; superfast and veryfast gained less.
  av_opt_set(c->priv_data, "x264-params",
             "repeat-headers=1:cabac=1:deblock=1:8x8dct=1:psy=0:aq-mode=0:chroma-qp-offset=4", 0);
  const int rc = avcodec_open2(c, h264, nullptr);
  if (rc < 0) {
    Log().Print("qcVideo: H.264 encoder refused %dx%d: %d\n", width, height, rc);
    return false;
  }
  codec->picture = av_frame_alloc();
  codec->packet = av_packet_alloc();
  if (!codec->picture || !codec->packet) return false;
  codec->picture->format = c->pix_fmt;
  codec->picture->width = width;
  codec->picture->height = height;
  if (av_frame_get_buffer(codec->picture, 0) < 0) return false;
  // Each chroma sample is the mean of its 2x2 pixels, rounded exactly; the
  // receivers interpolate it back smoothly (video_decoder.cpp). That pair
  // follows a player's smooth chroma best: 38.4 dB RGB for the conversion
  // alone on the bench's screen, against 32.0 dB for the bilinear pair;
  // through the encoder +1.2 dB RGB (and -0.9 dB BT.709 luma, which takes
  // in a part of the chroma's error).
  codec->scaler =
      sws_getContext(width, height, AV_PIX_FMT_BGR0, width, height, AV_PIX_FMT_YUV420P,
                     SWS_AREA | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
  if (!codec->scaler) return false;
  codec_ = std::move(codec);
  Log().Print("qcVideo: H.264 encoder %dx%d at most %d kbit/s\n", width, height, bitrateKbps);
  return true;
}

void VideoEncoder::Close() { codec_.reset(); }

bool VideoEncoder::IsOpen() const { return codec_ != nullptr; }

bool VideoEncoder::Encode(const uint8_t* pixels, size_t stride, std::vector<uint8_t>& out) {
  out.clear();
  if (!codec_) return false;
  Codec& k = *codec_;
  if (av_frame_make_writable(k.picture) < 0) return false;
  const uint8_t* src[1] = {pixels};
  const int srcStride[1] = {static_cast<int>(stride)};
  sws_scale(k.scaler, src, srcStride, 0, k.context->height, k.picture->data,
            k.picture->linesize);
  k.picture->pts = k.pts++;
  if (avcodec_send_frame(k.context, k.picture) < 0) return false;
  for (;;) {
    const int rc = avcodec_receive_packet(k.context, k.packet);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc < 0) return false;
    out.insert(out.end(), k.packet->data, k.packet->data + k.packet->size);
    av_packet_unref(k.packet);
  }
}

#else  // no libavcodec in this build

struct VideoEncoder::Codec {};

VideoEncoder::VideoEncoder() = default;
VideoEncoder::~VideoEncoder() = default;

bool VideoEncoder::Open(int, int, int) {
  Log().Print("qcVideo: This build has no H.264 encoder\n");
  return false;
}
void VideoEncoder::Close() {}
bool VideoEncoder::IsOpen() const { return false; }
bool VideoEncoder::Encode(const uint8_t*, size_t, std::vector<uint8_t>& out) {
  out.clear();
  return false;
}

#endif

}  // namespace qc
