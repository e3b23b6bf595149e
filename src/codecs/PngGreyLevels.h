#pragma once

// For the codecs' own .cpp files: the grey table of a grey PNG, which the
// decoder and the tile writer must agree on.

#include "codecs/Bitmap.h"

#include <vector>

namespace zv {

// The 2^depth grey levels of a grey PNG, spread evenly from black to white
// and rounded to 8 bits.
inline std::vector<Rgb> PngGreyLevels(int depth) {
  std::vector<Rgb> p;
  const int levels = 1 << depth;
  for (int n = 0; n < levels; ++n) {
    const auto v = static_cast<std::uint8_t>((n * 255 + (levels - 1) / 2) / (levels - 1));
    p.push_back({v, v, v});
  }
  return p;
}

} // namespace zv
