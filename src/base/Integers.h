// Integer texts. Each form read here has its own rule:
// - calibration words (TryStrToInt): an optional sign and decimal digits,
//   nothing else, as the calibration files are written;
// - option texts (ParseIntegerText): leading blanks, an optional sign, then
//   decimal digits or hexadecimal after "$" or "0x", as users type them;
// - tar headers: numbers are octal text or GNU base-256 (tar/TarHeader.cpp)
//   and pax lengths plain decimal (tar/TarArchive.cpp), the archive format's
//   own rules; they never carry a sign and are read there.
// The first two share the digit reader below, so their range rule is one.
#pragma once

#include <cstdint>
#include <string_view>

namespace zv {

// Decimal (base 10) or hexadecimal (base 16) digits, without sign or prefix,
// as a 32-bit value, negated when negative is set. False for no digits, any
// other byte, or a value out of range; value is then left as it was.
bool ParseInt32Digits(std::string_view digits, int base, bool negative, std::int32_t& value);

} // namespace zv
