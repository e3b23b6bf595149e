#include "base/Integers.h"

#include <gtest/gtest.h>

#include <string>

using namespace zv;

// The digit reader both the calibration and the option integers rely on:
// the 32-bit edges on either side, per base, and what it refuses.
TEST(Integers, DigitsWithin32Bits) {
  struct Case {
    std::string digits;
    int base;
    bool negative;
    bool ok;
    std::int32_t value;
  } cases[] = {
      {"0", 10, false, true, 0},
      {"2147483647", 10, false, true, 2147483647},
      {"2147483648", 10, false, false, 0},
      {"2147483648", 10, true, true, INT32_MIN},
      {"2147483649", 10, true, false, 0},
      {"99999999999999999999", 10, false, false, 0},
      {"7fffFFFF", 16, false, true, 2147483647},
      {"80000000", 16, true, true, INT32_MIN},
      {"80000000", 16, false, false, 0},
      {"1a", 10, false, false, 0},
      {"1g", 16, false, false, 0},
      {"", 10, false, false, 0},
      {"+1", 10, false, false, 0},
      {" 1", 10, false, false, 0},
  };
  for (const Case& c : cases) {
    std::int32_t v = 42;
    EXPECT_EQ(ParseInt32Digits(c.digits, c.base, c.negative, v), c.ok) << c.digits;
    EXPECT_EQ(v, c.ok ? c.value : 42) << c.digits; // a refused text leaves the value
  }
}
