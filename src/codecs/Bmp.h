#pragma once

#include "base/Errors.h"
#include "codecs/Bitmap.h"

#include <cstddef>
#include <cstdint>

namespace zv {

class EBmpError : public Error {
public:
  using Error::Error;
};

// Decodes a Windows bitmap. 1, 4 and 8 bits (and RLE) stay indexed with their
// colour table; 16, 24 and 32 bits become 24-bit RGB.
void DecodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& bitmap);

} // namespace zv
