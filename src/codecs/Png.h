#pragma once

#include "base/Errors.h"
#include "codecs/Bitmap.h"
#include "codecs/Canvas.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace zv {

class EPngError : public Error {
public:
  using Error::Error;
};

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

// A blank PNG tile of a given colour type and bit depth, drawn into through
// Canvas() and written by SaveToFile.
//
// Grey tiles draw into 1-, 4- or 8-bit bitmaps whose table holds the grey
// levels, palette tiles into 4- or 8-bit bitmaps with their palette, so a
// drawn colour takes the entry nearest by squared RGB distance (for greys:
// the level nearest to the mean of R, G and B), lower index on a tie.
// Bit depth 2 is written as 4 (16 entries); palette depth 6 as an 8-bit PNG
// with the 64-colour cube 0, 85, 170, 255 (red slowest); RGB tiles, and any
// request for 16 bits, are written with 8 bits per sample.
class TPngTileImage {
public:
  TPngTileImage(int colorType, int bitDepth, int width, int height);
  ~TPngTileImage();

  int ColorType() const;
  int BitDepth() const; // as written to the file
  int Width() const;
  int Height() const;

  // The drawing surface: drawn pixels are converted to the image's format.
  TCanvas& Canvas();
  const Bitmap& Pixels() const;
  // Sets every pixel byte back to 0, as in a tile just made, so that one
  // image may serve tile after tile.
  void Clear();

  void SaveToFile(const std::string& fileName) const;

private:
  struct State;
  std::unique_ptr<State> s_;
};

} // namespace zv
