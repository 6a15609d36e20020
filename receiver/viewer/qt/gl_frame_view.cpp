// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/qt/gl_frame_view.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLShaderProgram>
#include <QByteArray>
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "receiver/viewer/pixel_format.h"

namespace qc {

namespace {

// Both shaders need integer texel fetches: GLSL 1.30 (OpenGL 3.0) or
// GLSL ES 3.00. The header differs, the rest is shared.
const char* const kDesktopHeader = "#version 130\n#define FRAG_OUT gl_FragColor\n";
const char* const kEsHeader =
    "#version 300 es\nprecision highp float;\nprecision highp int;\n"
    "out vec4 fragColour;\n#define FRAG_OUT fragColour\n";

// Four vertices, no attributes: a strip covering the whole view.
const char* const kVertexBody = R"(
void main() {
  gl_Position = vec4(float((gl_VertexID & 1) * 2 - 1), float((gl_VertexID & 2) - 1), 0.0, 1.0);
}
)";

// One pass per paint. Window pixel w (top-down, from gl_FragCoord): black
// outside `image`; inside, destination pixel d = w - image.xy. Scaled by p
// percent, d covers source [100 d, 100 d + 100) and source texel i covers
// [p i, p i + p), in units of 1/(100 p) source pixel, as in FramePainter:
// the overlaps are the weights, and they sum to 100 per axis. The picture
// texture holds the framebuffer's bytes B, G, R, pad. The cursor is drawn
// over the picture (premultiplied colour, then inversion), nearest texel
// when unscaled and for the inverting mask, smoothed colour when scaled.
const char* const kFragmentBody = R"(
uniform sampler2D picture;
uniform sampler2D cursorColour;
uniform sampler2D cursorInvert;
uniform int viewHeight;
uniform ivec4 image;
uniform int percent;
uniform ivec4 cursorRect;
uniform ivec2 cursorSize;
uniform int cursorMode;  // 0 none, 1 colour, 2 colour and inversion

void main() {
  ivec2 w = ivec2(int(gl_FragCoord.x), viewHeight - 1 - int(gl_FragCoord.y));
  ivec2 d = w - image.xy;
  if (any(lessThan(d, ivec2(0))) || any(greaterThanEqual(d, image.zw))) {
    FRAG_OUT = vec4(0.0, 0.0, 0.0, 1.0);
    return;
  }
  vec3 c;
  if (percent >= 100) {
    c = texelFetch(picture, d, 0).bgr;
  } else {
    ivec2 lo = d * 100;
    ivec2 hi = lo + 100;
    ivec2 first = lo / percent;
    ivec2 last = (hi - 1) / percent;
    vec3 sum = vec3(0.0);
    for (int y = first.y; y <= last.y; ++y) {
      vec3 row = vec3(0.0);
      for (int x = first.x; x <= last.x; ++x) {
        int wx = min(hi.x, percent * (x + 1)) - max(lo.x, percent * x);
        row += float(wx) * texelFetch(picture, ivec2(x, y), 0).bgr;
      }
      int wy = min(hi.y, percent * (y + 1)) - max(lo.y, percent * y);
      sum += float(wy) * row;
    }
    c = sum / 10000.0;
  }
  if (cursorMode > 0) {
    ivec2 k = w - cursorRect.xy;
    if (all(greaterThanEqual(k, ivec2(0))) && all(lessThan(k, cursorRect.zw))) {
      ivec2 texel = k * cursorSize / cursorRect.zw;
      vec4 a = percent >= 100 ? texelFetch(cursorColour, texel, 0)
                              : texture(cursorColour, (vec2(k) + 0.5) / vec2(cursorRect.zw));
      c = a.bgr + (1.0 - a.a) * c;
      if (cursorMode == 2 && texelFetch(cursorInvert, texel, 0).r > 0.0) {
        c = vec3(1.0) - c;
      }
    }
  }
  FRAG_OUT = vec4(c, 1.0);
}
)";

bool BuildProgram(QOpenGLShaderProgram& program, bool es) {
  const QByteArray header(es ? kEsHeader : kDesktopHeader);
  return program.addShaderFromSourceCode(QOpenGLShader::Vertex, header + kVertexBody) &&
         program.addShaderFromSourceCode(QOpenGLShader::Fragment, header + kFragmentBody) &&
         program.link();
}

bool IsSoftwareRenderer(const QString& renderer) {
  for (const char* name : {"llvmpipe", "softpipe", "Software"}) {
    if (renderer.contains(QLatin1String(name), Qt::CaseInsensitive)) {
      return true;
    }
  }
  return false;
}

struct Probe {
  bool usable = false;  // a 3.0 context whose shaders compile
  bool hardware = false;
  QString renderer;
};

Probe RunProbe() {
  Probe probe;
  QOpenGLContext context;
  if (!context.create()) {
    return probe;
  }
  QOffscreenSurface surface;
  surface.setFormat(context.format());
  surface.create();
  if (!surface.isValid() || !context.makeCurrent(&surface)) {
    return probe;
  }
  const auto* name = context.functions()->glGetString(GL_RENDERER);
  probe.renderer = QString::fromLatin1(name != nullptr ? reinterpret_cast<const char*>(name) : "");
  probe.hardware = !IsSoftwareRenderer(probe.renderer);
  if (context.format().majorVersion() >= 3) {
    QOpenGLShaderProgram program;
    probe.usable = BuildProgram(program, context.isOpenGLES());
  }
  context.doneCurrent();
  return probe;
}

}  // namespace

bool GlFrameView::Chosen(QString* renderer) {
  const char* forced = std::getenv("QV_RENDERER");
  if (forced != nullptr && std::strcmp(forced, "cpu") == 0) {
    return false;
  }
  static const Probe probe = RunProbe();
  if (renderer != nullptr) {
    *renderer = probe.renderer;
  }
  if (forced != nullptr && std::strcmp(forced, "gl") == 0) {
    return probe.usable;
  }
  return probe.usable && probe.hardware;
}

GlFrameView::GlFrameView(const PixelFormat& pixels, SceneSource scene, QWidget* parent)
    : QOpenGLWidget(parent), pixels_(pixels), sceneSource_(std::move(scene)) {
  // Every paint draws the whole view.
  setUpdateBehavior(QOpenGLWidget::NoPartialUpdate);
}

GlFrameView::~GlFrameView() {
  // QOpenGLWidget's destructor destroys the context: this part of the view
  // is gone by then.
  disconnect(contextGone_);
  if (ready_) {
    makeCurrent();
    ReleaseGl();
    doneCurrent();
  }
}

void GlFrameView::ReleaseGl() {
  const unsigned textures[] = {picture_, cursorColour_, cursorInvert_};
  glDeleteTextures(3, textures);
  if (vertexArray_ != 0) {
    glDeleteVertexArrays(1, &vertexArray_);
  }
  if (unpackBuffer_ != 0) {
    glDeleteBuffers(1, &unpackBuffer_);
  }
  picture_ = cursorColour_ = cursorInvert_ = vertexArray_ = unpackBuffer_ = 0;
  delete program_;
  program_ = nullptr;
  textureWidth_ = textureHeight_ = 0;
  ready_ = false;
}

void GlFrameView::initializeGL() {
  initializeOpenGLFunctions();
  if (ready_) {
    ReleaseGl();
  }
  // A new context (the widget moved to another window) starts from nothing.
  disconnect(contextGone_);
  contextGone_ = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
    makeCurrent();
    ReleaseGl();
    doneCurrent();
  });
  program_ = new QOpenGLShaderProgram;
  if (!BuildProgram(*program_, context()->isOpenGLES())) {
    qWarning("OpenGL view: the shaders do not build here; the picture stays black");
    delete program_;
    program_ = nullptr;
    return;
  }
  program_->bind();
  program_->setUniformValue("picture", 0);
  program_->setUniformValue("cursorColour", 1);
  program_->setUniformValue("cursorInvert", 2);
  viewHeightAt_ = program_->uniformLocation("viewHeight");
  imageAt_ = program_->uniformLocation("image");
  percentAt_ = program_->uniformLocation("percent");
  cursorRectAt_ = program_->uniformLocation("cursorRect");
  cursorSizeAt_ = program_->uniformLocation("cursorSize");
  cursorModeAt_ = program_->uniformLocation("cursorMode");
  program_->release();

  unsigned textures[3];
  glGenTextures(3, textures);
  picture_ = textures[0];
  cursorColour_ = textures[1];
  cursorInvert_ = textures[2];
  for (unsigned t : textures) {
    glBindTexture(GL_TEXTURE_2D, t);
    const int filter = t == cursorColour_ ? GL_LINEAR : GL_NEAREST;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  glGenVertexArrays(1, &vertexArray_);
  glGenBuffers(1, &unpackBuffer_);
  reload_ = true;
  ready_ = true;
}

void GlFrameView::Reload() {
  reload_ = true;
  dirtyRows_.assign(static_cast<size_t>(std::max(pixels_.Height(), 0)), 0);
  dirtyTop_ = dirtyBottom_ = 0;
}

void GlFrameView::MarkRows(int top, int bottom) {
  const int rows = static_cast<int>(dirtyRows_.size());
  top = std::max(top, 0);
  bottom = std::min(bottom, rows);
  if (top >= bottom) {
    return;
  }
  std::fill(dirtyRows_.begin() + top, dirtyRows_.begin() + bottom, 1);
  if (dirtyTop_ == dirtyBottom_) {
    dirtyTop_ = top;
    dirtyBottom_ = bottom;
  } else {
    dirtyTop_ = std::min(dirtyTop_, top);
    dirtyBottom_ = std::max(dirtyBottom_, bottom);
  }
}

void GlFrameView::Upload() {
  const int width = pixels_.Width();
  const int height = pixels_.Height();
  glBindTexture(GL_TEXTURE_2D, picture_);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  if (reload_ || width != textureWidth_ || height != textureHeight_) {
    if (width != textureWidth_ || height != textureHeight_) {
      glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
      textureWidth_ = width;
      textureHeight_ = height;
    }
    if (static_cast<int>(dirtyRows_.size()) != height) {
      dirtyRows_.assign(static_cast<size_t>(height), 0);
    }
    reload_ = false;
    std::fill(dirtyRows_.begin(), dirtyRows_.end(), 1);
    dirtyTop_ = 0;
    dirtyBottom_ = height;
  }
  // Runs of changed rows, each one upload of whole rows.
  int y = dirtyTop_;
  while (y < dirtyBottom_) {
    if (!dirtyRows_[static_cast<size_t>(y)]) {
      ++y;
      continue;
    }
    int end = y;
    while (end < dirtyBottom_ && dirtyRows_[static_cast<size_t>(end)]) {
      dirtyRows_[static_cast<size_t>(end++)] = 0;
    }
    UploadRows(y, end - y);
    rowsUploaded_ += static_cast<uint64_t>(end - y);
    y = end;
  }
  dirtyTop_ = dirtyBottom_ = 0;
}

void GlFrameView::UploadRows(int top, int count) {
  // The rows are converted straight into a fresh pixel buffer (the old one
  // may still feed an upload in flight), from which the driver copies them
  // into the texture on its own time.
  const int width = pixels_.Width();
  const auto bytes = static_cast<qsizetype>(width) * count * 4;
  glBindBuffer(GL_PIXEL_UNPACK_BUFFER, unpackBuffer_);
  glBufferData(GL_PIXEL_UNPACK_BUFFER, bytes, nullptr, GL_STREAM_DRAW);
  void* mapped = glMapBufferRange(GL_PIXEL_UNPACK_BUFFER, 0, bytes,
                                  GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT);
  if (mapped != nullptr) {
    ConvertRows(top, count, static_cast<uint32_t*>(mapped));
    const bool kept = glUnmapBuffer(GL_PIXEL_UNPACK_BUFFER) == GL_TRUE;
    if (kept) {
      glTexSubImage2D(GL_TEXTURE_2D, 0, 0, top, width, count, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    }
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
    if (kept) {
      return;
    }
  }
  glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
  // No mapping: from a converted copy of our own.
  const size_t words = static_cast<size_t>(width) * static_cast<size_t>(count);
  if (fallbackRows_.size() < words) fallbackRows_.resize(words);
  ConvertRows(top, count, fallbackRows_.data());
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, top, width, count, GL_RGBA, GL_UNSIGNED_BYTE,
                  fallbackRows_.data());
}

void GlFrameView::ConvertRows(int top, int count, uint32_t* out) const {
  const int width = pixels_.Width();
  for (int y = top; y < top + count; ++y, out += width) pixels_.ConvertRow(y, 0, width, out);
}

void GlFrameView::paintGL() {
  scene_.picture = false;
  scene_.cursorWidth = scene_.cursorHeight = 0;
  sceneSource_(scene_);
  if (!ready_ || !scene_.picture || !pixels_.IsBound()) {
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    return;
  }
  glDisable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_SCISSOR_TEST);
  glActiveTexture(GL_TEXTURE0);
  Upload();

  int cursorMode = 0;
  const int cw = scene_.cursorWidth;
  const int ch = scene_.cursorHeight;
  const size_t cursorPixels = static_cast<size_t>(std::max(cw, 0)) * static_cast<size_t>(std::max(ch, 0));
  if (cursorPixels > 0 && scene_.cursorArgb.size() >= cursorPixels && !scene_.cursorTarget.isEmpty()) {
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, cursorColour_);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, cw, ch, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 scene_.cursorArgb.data());
    cursorMode = 1;
    if (scene_.cursorInvert.size() >= cursorPixels) {
      glActiveTexture(GL_TEXTURE2);
      glBindTexture(GL_TEXTURE_2D, cursorInvert_);
      glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
      glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, cw, ch, 0, GL_RED, GL_UNSIGNED_BYTE,
                   scene_.cursorInvert.data());
      cursorMode = 2;
    }
    glActiveTexture(GL_TEXTURE0);
  }

  program_->bind();
  const QRect& image = scene_.image;
  const QRect& cursor = scene_.cursorTarget;
  glUniform1i(viewHeightAt_, static_cast<int>(height() * devicePixelRatioF()));
  glUniform4i(imageAt_, image.x(), image.y(), image.width(), image.height());
  glUniform1i(percentAt_, scene_.scale);
  glUniform4i(cursorRectAt_, cursor.x(), cursor.y(), cursor.width(), cursor.height());
  glUniform2i(cursorSizeAt_, cw, ch);
  glUniform1i(cursorModeAt_, cursorMode);
  glBindVertexArray(vertexArray_);
  glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
  glBindVertexArray(0);
  program_->release();
}

}  // namespace qc
