// SPDX-License-Identifier: GPL-3.0-or-later
#include "sender/capture/wayland/pipewire_params.h"

#include <spa/buffer/buffer.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#define QC_CURSOR_META_SIZE(w, h)                                                \
  (sizeof(struct spa_meta_cursor) + sizeof(struct spa_meta_bitmap) + (w) * (h) * 4)

const struct spa_pod* qc_pw_format_param(uint8_t* buf, size_t size) {
  struct spa_pod_builder b = SPA_POD_BUILDER_INIT(buf, (uint32_t)size);
  return spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat,
      SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
      SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
      SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                             SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
      SPA_FORMAT_VIDEO_size,
      SPA_POD_CHOICE_RANGE_Rectangle(&SPA_RECTANGLE(1920, 1080), &SPA_RECTANGLE(1, 1),
                                     &SPA_RECTANGLE(8192, 8192)),
      SPA_FORMAT_VIDEO_framerate,
      SPA_POD_CHOICE_RANGE_Fraction(&SPA_FRACTION(0, 1), &SPA_FRACTION(0, 1),
                                    &SPA_FRACTION(360, 1)));
}

int qc_pw_buffer_params(uint8_t* buf, size_t size, const struct spa_pod** out) {
  struct spa_pod_builder b = SPA_POD_BUILDER_INIT(buf, (uint32_t)size);
  out[0] = spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
      SPA_PARAM_BUFFERS_dataType,
      SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr)));
  out[1] = spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
      SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Header),
      SPA_PARAM_META_size, SPA_POD_Int(sizeof(struct spa_meta_header)));
  out[2] = spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
      SPA_PARAM_META_type, SPA_POD_Id(SPA_META_VideoDamage),
      SPA_PARAM_META_size,
      SPA_POD_CHOICE_RANGE_Int(sizeof(struct spa_meta_region) * 16,
                               sizeof(struct spa_meta_region) * 1,
                               sizeof(struct spa_meta_region) * 16));
  out[3] = spa_pod_builder_add_object(
      &b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
      SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor),
      SPA_PARAM_META_size,
      SPA_POD_CHOICE_RANGE_Int(QC_CURSOR_META_SIZE(QC_PW_CURSOR_MAX, QC_PW_CURSOR_MAX),
                               QC_CURSOR_META_SIZE(1, 1),
                               QC_CURSOR_META_SIZE(QC_PW_CURSOR_MAX, QC_PW_CURSOR_MAX)));
  for (int i = 0; i < 4; ++i) {
    if (out[i] == NULL) return 0;
  }
  return 4;
}

int qc_pw_parse_format(const struct spa_pod* param, uint32_t* format, int* width, int* height) {
  uint32_t mediaType = 0, mediaSubtype = 0;
  struct spa_video_info_raw info;
  if (param == NULL || spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
      mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw) {
    return -1;
  }
  spa_zero(info);
  if (spa_format_video_raw_parse(param, &info) < 0) return -1;
  *format = info.format;
  *width = (int)info.size.width;
  *height = (int)info.size.height;
  return 0;
}

int qc_pw_format_supported(uint32_t format) {
  return format == SPA_VIDEO_FORMAT_BGRx || format == SPA_VIDEO_FORMAT_BGRA ||
         format == SPA_VIDEO_FORMAT_RGBx || format == SPA_VIDEO_FORMAT_RGBA;
}

int qc_pw_format_red_first(uint32_t format) {
  return format == SPA_VIDEO_FORMAT_RGBx || format == SPA_VIDEO_FORMAT_RGBA;
}
