// SPDX-License-Identifier: GPL-3.0-or-later
// GlFrameView: the viewer window's picture drawn by OpenGL, used as the
// window's viewport when the display has a hardware GL driver.
//
// The framebuffer lives in a texture of its own size. Only the rows the
// window marks as changed are uploaded, at the next paint: each run of them
// converted into a pixel buffer object, then glTexSubImage2D from it. Every paint draws
// the whole viewport in one pass of one fragment shader: black outside the
// image, the image unscaled (texel for texel, exact) or scaled down with the
// same area average as the CPU scaler (every source texel weighted by its
// overlap with the destination pixel, in integers, summed in float: the
// result is the exact area average rounded once, so it lies within 1 per
// channel of FramePainter's), and the remote cursor over it, clipped to the
// image as FramePainter's window does.
//
// GUI thread only. The rows are read from the framebuffer without a lock
// while the update thread may write them, as FramePainter does (the driver
// only ever reads the converted copy): a band caught half-decoded is marked
// again by the update that follows and uploaded with the next frame.
#pragma once

#include <QOpenGLExtraFunctions>
#include <QOpenGLWidget>
#include <QRect>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

class QOpenGLShaderProgram;

namespace qc {

class PixelFormat;

class GlFrameView : public QOpenGLWidget, protected QOpenGLExtraFunctions {
 public:
  // What one paint shows, filled by the window at the start of every paint.
  struct Scene {
    bool picture = false;  // false: all black
    QRect image;           // where the image lies in the view (FramePainter::ImageRect)
    int scale = 100;       // percent; 100 unscaled
    // The remote cursor: premultiplied ARGB32 and inverting mask (bytes, 1
    // inverts; empty: none), width x height, drawn over `cursorTarget`
    // (view pixels), smoothed when scaled.
    int cursorWidth = 0;
    int cursorHeight = 0;
    std::vector<uint32_t> cursorArgb;
    std::vector<uint8_t> cursorInvert;
    QRect cursorTarget;
  };
  using SceneSource = std::function<void(Scene&)>;

  // Which renderer a window gets: QV_RENDERER=gl or cpu forces one (tests,
  // benchmarks); otherwise GL when an OpenGL 3.0 (or ES 3.0) context can be
  // made, its renderer is a hardware one (not Mesa's llvmpipe, softpipe or
  // another "Software" rasteriser: on those the shader runs on the CPU and
  // costs more than the CPU path) and the view's shaders compile there.
  // Probed once per process; `renderer` receives GL_RENDERER.
  static bool Chosen(QString* renderer = nullptr);

  // pixels: the framebuffer's format (the window's painter binds it while
  // the picture is shown); the rows are converted through it. scene: called
  // at every paint. Both must outlive the view.
  GlFrameView(const PixelFormat& pixels, SceneSource scene, QWidget* parent = nullptr);
  ~GlFrameView() override;

  // The framebuffer was (re)bound: the next paint sizes the texture and
  // uploads all of it.
  void Reload();
  // Framebuffer rows [top, bottom) changed: uploaded with the next paint.
  void MarkRows(int top, int bottom);
  // Rows uploaded since the view was made (benchmarks, tests).
  uint64_t RowsUploaded() const { return rowsUploaded_; }

 protected:
  void initializeGL() override;
  void paintGL() override;

 private:
  void Upload();
  void UploadRows(int top, int count);
  void ConvertRows(int top, int count, uint32_t* out) const;
  void ReleaseGl();

  const PixelFormat& pixels_;
  SceneSource sceneSource_;
  Scene scene_;
  QOpenGLShaderProgram* program_ = nullptr;
  QMetaObject::Connection contextGone_;
  unsigned picture_ = 0;  // texture names
  unsigned cursorColour_ = 0;
  unsigned cursorInvert_ = 0;
  unsigned vertexArray_ = 0;
  unsigned unpackBuffer_ = 0;  // pixel buffer the changed rows go through
  int textureWidth_ = 0;
  int textureHeight_ = 0;
  bool reload_ = true;
  bool ready_ = false;
  std::vector<uint8_t> dirtyRows_;  // per framebuffer row: 1 when to upload
  int dirtyTop_ = 0;                // dirty rows lie in [dirtyTop_, dirtyBottom_)
  int dirtyBottom_ = 0;
  uint64_t rowsUploaded_ = 0;
  std::vector<uint32_t> fallbackRows_;  // converted rows when no buffer can be mapped
  // Uniform locations.
  int viewHeightAt_ = -1, imageAt_ = -1, percentAt_ = -1, cursorRectAt_ = -1,
      cursorSizeAt_ = -1, cursorModeAt_ = -1;
};

}  // namespace qc
