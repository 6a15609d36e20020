// SPDX-License-Identifier: GPL-3.0-or-later
// Ownership of xcb replies and events, which xcb allocates with malloc.
#pragma once

#include <cstdlib>
#include <memory>

namespace qc {

struct XcbFree {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using XcbPtr = std::unique_ptr<T, XcbFree>;

}  // namespace qc
