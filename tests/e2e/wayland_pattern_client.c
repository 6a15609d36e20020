// SPDX-License-Identifier: GPL-3.0-or-later
/* A Wayland client that covers the screen with a known picture, for the
 * Wayland end-to-end tests: one fullscreen xdg-shell window whose pixels
 * are a function of their place. It writes what it shows to PPM (the
 * reference the receiver's picture must equal) and prints "shown N" once
 * the compositor has the picture. SIGUSR1 redraws the second quarter of
 * the rows with the next pattern (only that band is damaged). Over the
 * window the pointer shows a 24 x 24 cursor of known pixels, hot spot (3, 2).
 *
 *   qc_wayland_pattern OUT.ppm
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include "xdg-shell-client-protocol.h"

static struct wl_compositor* compositor;
static struct wl_shm* shm;
static struct xdg_wm_base* wm_base;
static struct wl_seat* seat;
static struct wl_pointer* pointer;
static struct wl_surface* cursor_surface;
static int width, height, configured;
static uint32_t configure_serial;
static int signal_pipe[2];

static void wm_ping(void* data, struct xdg_wm_base* base, uint32_t serial) {
  (void)data;
  xdg_wm_base_pong(base, serial);
}
static const struct xdg_wm_base_listener wm_listener = {wm_ping};

static void global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version) {
  (void)data;
  (void)version;
  if (strcmp(interface, wl_compositor_interface.name) == 0) {
    compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 4);
  } else if (strcmp(interface, wl_shm_interface.name) == 0) {
    shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
  } else if (strcmp(interface, wl_seat_interface.name) == 0 && seat == NULL) {
    seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
  } else if (strcmp(interface, xdg_wm_base_interface.name) == 0) {
    wm_base = wl_registry_bind(registry, name, &xdg_wm_base_interface, 1);
    xdg_wm_base_add_listener(wm_base, &wm_listener, NULL);
  }
}
static void global_remove(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data;
  (void)registry;
  (void)name;
}
static const struct wl_registry_listener registry_listener = {global, global_remove};

static void pointer_enter(void* data, struct wl_pointer* p, uint32_t serial,
                          struct wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
  (void)data;
  (void)surface;
  (void)x;
  (void)y;
  wl_pointer_set_cursor(p, serial, cursor_surface, 3, 2);
}
static void pointer_leave(void* data, struct wl_pointer* p, uint32_t serial,
                          struct wl_surface* surface) {
  (void)data;
  (void)p;
  (void)serial;
  (void)surface;
}
static void pointer_motion(void* data, struct wl_pointer* p, uint32_t time, wl_fixed_t x,
                           wl_fixed_t y) {
  (void)data;
  (void)p;
  (void)time;
  (void)x;
  (void)y;
}
static void pointer_button(void* data, struct wl_pointer* p, uint32_t serial, uint32_t time,
                           uint32_t button, uint32_t state) {
  (void)data;
  (void)p;
  (void)serial;
  (void)time;
  (void)button;
  (void)state;
}
static void pointer_axis(void* data, struct wl_pointer* p, uint32_t time, uint32_t axis,
                         wl_fixed_t value) {
  (void)data;
  (void)p;
  (void)time;
  (void)axis;
  (void)value;
}
/* The seat is bound at version 1: later events never come. */
static const struct wl_pointer_listener pointer_listener = {
    .enter = pointer_enter,
    .leave = pointer_leave,
    .motion = pointer_motion,
    .button = pointer_button,
    .axis = pointer_axis,
};

static void seat_capabilities(void* data, struct wl_seat* s, uint32_t capabilities) {
  (void)data;
  if ((capabilities & WL_SEAT_CAPABILITY_POINTER) && pointer == NULL) {
    pointer = wl_seat_get_pointer(s);
    wl_pointer_add_listener(pointer, &pointer_listener, NULL);
  }
}
static const struct wl_seat_listener seat_listener = {.capabilities = seat_capabilities};

/* The cursor: a white-bordered red square with a transparent corner. */
static struct wl_buffer* make_cursor(void) {
  const int size = 24, stride = size * 4;
  int fd = memfd_create("cursor", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, stride * size) != 0) return NULL;
  uint32_t* p = mmap(NULL, (size_t)(stride * size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return NULL;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      int border = x < 2 || y < 2 || x >= size - 2 || y >= size - 2;
      p[y * size + x] = x + y < 6 ? 0 : border ? 0xFFFFFFFFu : 0xFFC02020u;
    }
  }
  struct wl_shm_pool* pool = wl_shm_create_pool(shm, fd, stride * size);
  struct wl_buffer* b =
      wl_shm_pool_create_buffer(pool, 0, size, size, stride, WL_SHM_FORMAT_ARGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  return b;
}

static void surface_configure(void* data, struct xdg_surface* surface, uint32_t serial) {
  (void)data;
  (void)surface;
  configure_serial = serial;
  configured = 1;
}
static const struct xdg_surface_listener surface_listener = {surface_configure};

static void toplevel_configure(void* data, struct xdg_toplevel* toplevel, int32_t w, int32_t h,
                               struct wl_array* states) {
  (void)data;
  (void)toplevel;
  (void)states;
  if (w > 0 && h > 0) {
    width = w;
    height = h;
  }
}
static void toplevel_close(void* data, struct xdg_toplevel* toplevel) {
  (void)data;
  (void)toplevel;
  exit(0);
}
static void toplevel_bounds(void* data, struct xdg_toplevel* toplevel, int32_t w, int32_t h) {
  (void)data;
  (void)toplevel;
  (void)w;
  (void)h;
}
static void toplevel_capabilities(void* data, struct xdg_toplevel* toplevel,
                                  struct wl_array* capabilities) {
  (void)data;
  (void)toplevel;
  (void)capabilities;
}
static const struct xdg_toplevel_listener toplevel_listener = {
    toplevel_configure, toplevel_close, toplevel_bounds, toplevel_capabilities};

/* Many colours, no two neighbouring rows alike, different per phase. */
static uint32_t pattern(int x, int y, int phase) {
  uint32_t r = (uint32_t)(x * 7 + y * 3 + phase * 50) & 255;
  uint32_t g = (uint32_t)(x ^ (y * 5)) & 255;
  uint32_t b = (uint32_t)(((x * y) >> 4) + phase * 90) & 255;
  return (r << 16) | (g << 8) | b;
}

static int write_ppm(const char* path, const uint32_t* pixels) {
  char temp[4096];
  snprintf(temp, sizeof temp, "%s.new", path);
  FILE* f = fopen(temp, "wb");
  if (f == NULL) return -1;
  fprintf(f, "P6\n%d %d\n255\n", width, height);
  for (int i = 0; i < width * height; ++i) {
    unsigned char rgb[3] = {(unsigned char)(pixels[i] >> 16), (unsigned char)(pixels[i] >> 8),
                            (unsigned char)pixels[i]};
    fwrite(rgb, 1, 3, f);
  }
  if (fclose(f) != 0) return -1;
  return rename(temp, path);
}

static void on_usr1(int sig) {
  (void)sig;
  ssize_t n = write(signal_pipe[1], "x", 1);
  (void)n;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s OUT.ppm\n", argv[0]);
    return 2;
  }
  if (pipe2(signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
  signal(SIGUSR1, on_usr1);
  struct wl_display* display = wl_display_connect(NULL);
  if (display == NULL) {
    fprintf(stderr, "no Wayland display\n");
    return 1;
  }
  struct wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registry_listener, NULL);
  wl_display_roundtrip(display);
  if (compositor == NULL || shm == NULL || wm_base == NULL) {
    fprintf(stderr, "the compositor lacks wl_compositor, wl_shm or xdg_wm_base\n");
    return 1;
  }
  if (seat != NULL) {
    cursor_surface = wl_compositor_create_surface(compositor);
    struct wl_buffer* cursor = make_cursor();
    if (cursor == NULL) return 1;
    wl_surface_attach(cursor_surface, cursor, 0, 0);
    wl_surface_damage(cursor_surface, 0, 0, 24, 24);
    wl_surface_commit(cursor_surface);
    wl_seat_add_listener(seat, &seat_listener, NULL);
  }
  struct wl_surface* surface = wl_compositor_create_surface(compositor);
  struct xdg_surface* xsurface = xdg_wm_base_get_xdg_surface(wm_base, surface);
  xdg_surface_add_listener(xsurface, &surface_listener, NULL);
  struct xdg_toplevel* toplevel = xdg_surface_get_toplevel(xsurface);
  xdg_toplevel_add_listener(toplevel, &toplevel_listener, NULL);
  xdg_toplevel_set_fullscreen(toplevel, NULL);
  wl_surface_commit(surface);
  while (!configured || width == 0) {
    if (wl_display_dispatch(display) < 0) return 1;
  }
  xdg_surface_ack_configure(xsurface, configure_serial);

  size_t stride = (size_t)width * 4, size = stride * (size_t)height;
  int fd = memfd_create("pattern", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, (off_t)size) != 0) return 1;
  uint32_t* pixels = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (pixels == MAP_FAILED) return 1;
  struct wl_shm_pool* pool = wl_shm_create_pool(shm, fd, (int32_t)size);
  struct wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, width, height, (int32_t)stride,
                                                       WL_SHM_FORMAT_XRGB8888);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) pixels[y * width + x] = pattern(x, y, 0);
  }
  int phase = 0;
  int top = 0, bottom = height;
  for (;;) {
    if (write_ppm(argv[1], pixels) != 0) return 1;
    wl_surface_attach(surface, buffer, 0, 0);
    wl_surface_damage_buffer(surface, 0, top, width, bottom - top);
    wl_surface_commit(surface);
    wl_display_roundtrip(display);
    printf("shown %d\n", phase);
    fflush(stdout);
    /* Wait for SIGUSR1 while serving the compositor. */
    for (;;) {
      wl_display_flush(display);
      struct pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0},
                              {signal_pipe[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0 && errno != EINTR) return 1;
      if (fds[0].revents & POLLIN) {
        if (wl_display_dispatch(display) < 0) return 1;
      }
      if (fds[1].revents & POLLIN) {
        char c;
        while (read(signal_pipe[0], &c, 1) > 0) {
        }
        break;
      }
    }
    ++phase;
    top = height / 4;
    bottom = height / 2;
    for (int y = top; y < bottom; ++y) {
      for (int x = 0; x < width; ++x) pixels[y * width + x] = pattern(x, y, phase);
    }
  }
}
