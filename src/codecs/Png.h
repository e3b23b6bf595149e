#pragma once

#include "codecs/Bitmap.h"
#include "codecs/PngError.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace zv {

// Decodes any PNG: gamma from gAMA for a 2.2 display, 16-bit samples reduced
// to their high byte, transparency flattened onto white. Colour samples are
// gamma-corrected first, then blended over white with the 8-bit alpha and
// rounded to the nearest integer. Files with alpha, or with partial tRNS
// alpha, become 24-bit; other depths 1, 2 and 4 stay indexed (1 and 4 bits)
// and palette depth 8 stays 8-bit. On failure the bitmap is left unchanged and
// the error carries libpng's message; a raster over the size limits raises
// "image too large: W × H" before any pixel memory is reserved.
void DecodePng(const std::uint8_t* data, std::size_t size, Bitmap& bitmap);
// The same, read as a stream from file's current position (the start of the
// PNG), whose size bytes are all the input: only the picture and a few
// buffers are held, never the whole file. The limits judge size as above.
void DecodePng(std::FILE* file, std::size_t size, Bitmap& bitmap);

} // namespace zv
