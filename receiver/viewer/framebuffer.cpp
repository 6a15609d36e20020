#include "receiver/viewer/framebuffer.h"

#include <cstdlib>

#include "common/log_file.h"

namespace qc {

uint32_t FramebufferView::EffectiveRedMask() const {
  if (bitFields) return redMask;
  return bitsPerPixel == 16 ? 0x7C00u : 0xFF0000u;
}

uint32_t FramebufferView::EffectiveGreenMask() const {
  if (bitFields) return greenMask;
  return bitsPerPixel == 16 ? 0x03E0u : 0x00FF00u;
}

uint32_t FramebufferView::EffectiveBlueMask() const {
  if (bitFields) return blueMask;
  return bitsPerPixel == 16 ? 0x001Fu : 0x0000FFu;
}

Framebuffer::~Framebuffer() { Release(); }

bool Framebuffer::IsUsable(const InitMessage& init) {
  return init.width >= 1 && init.width <= kMaxWidth && init.height >= 1 &&
         init.height <= kMaxHeight && (init.bitsPerPixel == 16 || init.bitsPerPixel == 32);
}

void Framebuffer::Release() {
  std::free(pixels_);
  pixels_ = nullptr;
  size_ = 0;
  view_ = FramebufferView{};
}

bool Framebuffer::Create(const InitMessage& init) {
  Release();
  if (!IsUsable(init)) {
    Log().Print("qvViewer: Unable to create framebuffer %dx%d, %d bits per pixel\n",
                static_cast<int>(init.width), static_cast<int>(init.height),
                static_cast<int>(init.bitsPerPixel));
    return false;
  }
  FramebufferView v;
  v.width = init.width;
  v.height = init.height;
  v.bitsPerPixel = init.bitsPerPixel;
  v.bytesPerRow = v.width * (v.bitsPerPixel / 8);
  v.redMask = init.redMask;
  v.greenMask = init.greenMask;
  v.blueMask = init.blueMask;
  v.bitFields = init.redMask != 0 && init.greenMask != 0 && init.blueMask != 0;
  if (v.bitFields) {
    Log().Print("qvViewer: RGB masks  %lx %lx %lx\n", static_cast<unsigned long>(init.redMask),
                static_cast<unsigned long>(init.greenMask),
                static_cast<unsigned long>(init.blueMask));
  } else {
    Log().Print("qvViewer: RGB masks not set, assuming BI_RGB\n");
  }
  size_t size = static_cast<size_t>(v.bytesPerRow) * static_cast<size_t>(v.height);
  // calloc: the store starts black, and large stores come as zero pages
  // without being touched here.
  auto* pixels = static_cast<uint8_t*>(std::calloc(size, 1));
  if (pixels == nullptr) {
    Log().Print("qvViewer: Unable to create DIB section (error 0x%lx)\n", 12ul);
    return false;
  }
  pixels_ = pixels;
  size_ = size;
  v.pixels = pixels_;
  view_ = v;
  return true;
}

}  // namespace qc
