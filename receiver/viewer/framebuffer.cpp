// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/framebuffer.h"

#include <cstdlib>

#include "common/log_file.h"

namespace qc {

Framebuffer::~Framebuffer() { Release(); }

void Framebuffer::Release() {
  std::free(pixels_);
  pixels_ = nullptr;
  view_ = FramebufferView{};
}

bool Framebuffer::Create(const InitMessage& init) {
  Release();
  if (!IsUsableInit(init)) {
    Log().Print("qvViewer: Unable to create framebuffer %dx%d, %d bits per pixel\n",
                static_cast<int>(init.width), static_cast<int>(init.height),
                static_cast<int>(init.bitsPerPixel));
    return false;
  }
  FramebufferView v = DescribeFramebuffer(nullptr, init);
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
  v.pixels = pixels_;
  view_ = v;
  return true;
}

}  // namespace qc
