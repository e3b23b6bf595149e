// The tiles a map-app export writes: their pixels while they are made, and
// their encoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zv {

enum class TTileFormat : std::uint8_t { Jpeg, Png };

struct TTileEncoding {
  TTileFormat Format = TTileFormat::Jpeg;
  int Quality = 85; // JPEG, 1..100
  // PNG: an 8-bit palette when the tile has at most 256 colours (transparency
  // counting as one), else 24-bit; false always writes 24-bit.
  bool PngPalette = true;
};

// "jpg" or "png", as the MBTiles metadata and the KMZ's file names give it.
const char* TileFormatExtension(TTileFormat format);

// A tile being made: RGBA, alpha 0 where no map covers, 255 where one does
// (box averages of lower levels give values between).
class TRgbaTile {
public:
  TRgbaTile(int width, int height)
      : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height * 4, 0) {}
  int Width() const { return width_; }
  int Height() const { return height_; }
  std::uint8_t* Row(int y) { return pixels_.data() + static_cast<std::size_t>(y) * width_ * 4; }
  const std::uint8_t* Row(int y) const { return pixels_.data() + static_cast<std::size_t>(y) * width_ * 4; }
  // Whether any pixel is covered at all: tiles that are not are not written.
  bool AnyCovered() const;

private:
  int width_, height_;
  std::vector<std::uint8_t> pixels_;
};

// The 2 x 2 box average of child into quadrant (qx, qy) of parent (both the
// same size, even sides): colours weighted by their alpha, so that uncovered
// pixels do not darken the edges of the maps.
void ReduceIntoQuadrant(const TRgbaTile& child, int qx, int qy, TRgbaTile& parent);

// The tile's file bytes. JPEG is baseline, uncovered pixels white; PNG keeps
// them transparent.
std::vector<std::uint8_t> EncodeTile(const TRgbaTile& tile, const TTileEncoding& encoding);

} // namespace zv
