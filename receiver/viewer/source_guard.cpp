// SPDX-License-Identifier: GPL-3.0-or-later
#include "receiver/viewer/source_guard.h"

#include "common/log_file.h"

namespace qc {

namespace {
constexpr uint32_t kLogIntervalMs = 1000;

void PrintAddress(const char* what, uint32_t a, uint16_t port) {
  Log().Print("qvViewer: %s %d.%d.%d.%d:%d\n", what, static_cast<int>(a >> 24),
              static_cast<int>((a >> 16) & 0xFF), static_cast<int>((a >> 8) & 0xFF),
              static_cast<int>(a & 0xFF), static_cast<int>(port));
}
}  // namespace

void SourceGuard::Reset() {
  address_ = 0;
  port_ = 0;
  dropped_ = 0;
  haveLogged_ = false;
}

void SourceGuard::Fix(const SocketAddress& from) {
  address_ = from.address;
  port_ = from.port;
  PrintAddress("Transmission from", from.address, from.port);
}

bool SourceGuard::Accept(const SocketAddress& from, uint32_t nowMs) {
  if (from.address == address_.load(std::memory_order_relaxed) &&
      from.port == port_.load(std::memory_order_relaxed)) {
    return true;
  }
  dropped_.fetch_add(1, std::memory_order_relaxed);
  const bool sameAsLogged =
      haveLogged_ && logged_.address == from.address && logged_.port == from.port;
  if (!sameAsLogged && (!haveLogged_ || nowMs - loggedMs_ >= kLogIntervalMs)) {
    PrintAddress("Ignoring datagrams of another source,", from.address, from.port);
    logged_ = from;
    haveLogged_ = true;
    loggedMs_ = nowMs;
  }
  return false;
}

}  // namespace qc
