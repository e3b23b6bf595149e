#pragma once

#include "base/Errors.h"
#include "codecs/Bitmap.h"
#include "codecs/Canvas.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zv {

class EPngError : public Error {
public:
  using Error::Error;
};

// Decodes any PNG: gamma from gAMA for a 2.2 display, 16-bit samples reduced
// to their high byte, transparency flattened onto white.
void DecodePng(const std::uint8_t* data, std::size_t size, Bitmap& bitmap);

// A blank PNG tile of a given colour type and bit depth, drawn into through
// Canvas() and written by SaveToFile.
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

  void SaveToFile(const std::string& fileName) const;

private:
  struct State;
  std::unique_ptr<State> s_;
};

} // namespace zv
