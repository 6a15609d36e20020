// SPDX-License-Identifier: GPL-3.0-or-later
/* The PipeWire parameters the portal source offers and reads: built with
 * SPA's pod builder, whose macros are C only (compound literals), hence a
 * C file. Threads: any (no state). */
#ifndef QC_PIPEWIRE_PARAMS_H
#define QC_PIPEWIRE_PARAMS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct spa_pod;

/* The largest cursor image the source makes room for in its metadata. */
enum { QC_PW_CURSOR_MAX = 384 };

/* EnumFormat: raw video in BGRx, BGRA, RGBx or RGBA, any size and rate.
 * NULL when buf is too small. */
const struct spa_pod* qc_pw_format_param(uint8_t* buf, size_t size);

/* Buffers (shared memory: memfd or plain memory) and the Header,
 * VideoDamage and Cursor metadata; fills out[0..3], returns the count
 * (0 when buf is too small). */
int qc_pw_buffer_params(uint8_t* buf, size_t size, const struct spa_pod** out);

/* A negotiated Format: its SPA video format, width and height. 0 on
 * success, negative when it is no raw video format. */
int qc_pw_parse_format(const struct spa_pod* param, uint32_t* format, int* width, int* height);

/* Whether an SPA video format is one of the four offered, and whether it
 * keeps red in the low byte (RGBx, RGBA) rather than blue (BGRx, BGRA). */
int qc_pw_format_supported(uint32_t format);
int qc_pw_format_red_first(uint32_t format);

#ifdef __cplusplus
}
#endif

#endif
