#include "receiver/shell/port_rules.h"

#include <cstdint>

namespace qv {

namespace {
constexpr int64_t kMin = 1024;
constexpr int64_t kMax = 65534;
}  // namespace

uint32_t ReadPortField(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  if (b == e) return 0;
  uint64_t v = 0;
  for (size_t i = b; i < e; ++i) {
    if (text[i] < '0' || text[i] > '9') return 0;
    v = v * 10 + static_cast<uint64_t>(text[i] - '0');
    if (v > UINT32_MAX) return 0;
  }
  return static_cast<uint32_t>(v);
}

PortCheck CheckDialogPort(uint32_t value) {
  // 64-bit arithmetic: an odd value near 2^32 must not wrap to 0 when raised.
  int64_t v = value;
  if (v % 2 == 0 && v >= kMin && v <= kMax) return {true, static_cast<int>(v)};
  if (v % 2 != 0) ++v;
  if (v < kMin) v = kMin;
  if (v > kMax) v = kMax;
  return {false, static_cast<int>(v)};
}

int StepDialogPort(uint32_t value, bool up) {
  int64_t v = value;
  if (v % 2 != 0) ++v;
  v += up ? 2 : -2;
  if (v >= kMin && v <= kMax) return static_cast<int>(v);
  return v > kMax ? static_cast<int>(kMax) : static_cast<int>(kMin);
}

}  // namespace qv
