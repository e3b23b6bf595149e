#pragma once

#include "base/Errors.h"
#include "codecs/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace zv {

class EBmpError : public Error {
public:
  using Error::Error;
};

// Decodes a Windows bitmap. 1, 4 and 8 bits (and RLE) stay indexed with their
// colour table; 16, 24 and 32 bits become 24-bit RGB.
void DecodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& bitmap);
// The same, telling rowsRead about every row of uncompressed pixel data it
// has read and will not read again, so that a caller decoding from a mapped
// file may let those pages go.
void DecodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& bitmap,
               const std::function<void(const std::uint8_t* row, std::size_t bytes)>& rowsRead);

} // namespace zv
