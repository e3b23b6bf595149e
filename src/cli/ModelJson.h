#pragma once

#include <string>
#include <string_view>

namespace zv {

class TDisplayMapsCore;

// A JSON string literal, quotes included. Valid UTF-8 passes through; every
// other byte becomes \u00XX, its Latin-1 reading.
std::string JsonString(std::string_view bytes);

// A number with 15 significant digits, written the same in every locale;
// null when it is not finite.
std::string JsonNumber(long double value);

// The opened model: layouts and areas in model order, on one line.
std::string ModelToJson(const TDisplayMapsCore& core);

} // namespace zv
