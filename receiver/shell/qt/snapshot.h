// SPDX-License-Identifier: GPL-3.0-or-later
// The received picture as an image: the framebuffer as the receiver holds it,
// without the remote cursor, converted to 8 bits per channel (a 5- or 6-bit
// channel is widened by repeating its top bits).
#pragma once

#include <QImage>
#include <QString>

#include "receiver/viewer/framebuffer.h"

namespace qc {

// A null image when there is no framebuffer.
QImage FramebufferImage(const FramebufferView& fb);

// Writes the picture as PNG through a temporary file and a rename, so that a
// reader never sees half a file. False (file untouched) when there is no
// picture yet or writing failed.
bool WriteSnapshot(const FramebufferView& fb, const QString& path);

}  // namespace qc
