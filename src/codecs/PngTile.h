#pragma once

#include "codecs/Bitmap.h"
#include "codecs/Canvas.h"
#include "codecs/PngError.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zv {

// The colour types of the PNG standard, with the values IHDR stores.
enum class TPngColorType : std::uint8_t { Gray = 0, Rgb = 2, Palette = 3, GrayAlpha = 4, RgbAlpha = 6 };

// How a tile's image data is compressed. Both give the same pixels.
//  Zlib:       zlib at level 7, streamed: the bytes tiles have always had.
//  Libdeflate: libdeflate at level 7 over the whole image data: about the
//              same size in under half the time, but other bytes. For tiles
//              no earlier file is compared with.
enum class TPngDeflater { Zlib, Libdeflate };

// A blank PNG tile of a given colour type and bit depth, drawn into through
// Canvas() and written by SaveToFile or SaveToMemory.
//
// Grey tiles draw into 1-, 4- or 8-bit bitmaps whose table holds the grey
// levels, palette tiles into 4- or 8-bit bitmaps with their palette, so a
// drawn colour takes the entry nearest by squared RGB distance (for greys:
// the level nearest to the mean of R, G and B), lower index on a tie.
// Bit depth 2 is written as 4 (16 entries); palette depth 6 as an 8-bit PNG
// with the 64-colour cube 0, 85, 170, 255 (red slowest); RGB tiles, and any
// request for 16 bits, are written with 8 bits per sample. Any other pair
// raises EPngError.
class TPngTileImage {
public:
  TPngTileImage(TPngColorType colorType, int bitDepth, int width, int height);
  ~TPngTileImage();

  TPngColorType ColorType() const;
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
  // Replaces out's contents with exactly the bytes SaveToFile writes; out's
  // capacity is kept, so one vector may serve tile after tile.
  void SaveToMemory(std::vector<std::uint8_t>& out, TPngDeflater deflater = TPngDeflater::Zlib) const;

private:
  struct State;
  std::unique_ptr<State> s_;
};

} // namespace zv
