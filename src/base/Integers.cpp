#include "base/Integers.h"

#include <limits>

namespace zv {

bool ParseInt32Digits(std::string_view digits, int base, bool negative, std::int32_t& value) {
  if (digits.empty()) return false;
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  std::int64_t magnitude = 0;
  for (const char c : digits) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    magnitude = magnitude * base + digit;
    if (magnitude > kMax + 1) return false; // stops long texts before the sum overflows
  }
  const std::int64_t v = negative ? -magnitude : magnitude;
  if (v < kMin || v > kMax) return false;
  value = static_cast<std::int32_t>(v);
  return true;
}

} // namespace zv
