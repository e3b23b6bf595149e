// The tiles of an Ambulo tile set: cut from a map's picture, or from it
// reduced for a zoom-out layer, painted and encoded.
#pragma once

#include "codecs/Bitmap.h"
#include "codecs/PngTile.h"
#include "export/ExportToAmbulo.h"
#include "export/TileFormat.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zv {

class TCanvas;
class TMapArea;

// The picture a tile set is cut from: the area's own, or for a zoom-out layer
// the area's reduced Level times. A reduced picture is never held whole: each
// tile is reduced from the part of the area's picture it covers.
struct TTileSource {
  const TMapArea& Area;
  int Level = 0;
  // What a fresh tile holds where no image of the area covers it, so that a
  // reduced tile shows the same there as a full-size one: white in a JPEG
  // tile, value 0 in a PNG tile.
  Rgb Background{255, 255, 255};

  std::int64_t Width() const;
  std::int64_t Height() const;
  // The area's one picture when it is the whole area: a reduction then reads
  // its rows where they are, in their own format.
  const Bitmap* WholePicture() const;
  // Paints a 24-bit tile of exactly the rectangle's size. A reduced tile
  // covers every pixel of it, so only a full-size one is filled first; that
  // of a one-picture map is reduced straight into it.
  void PaintTile(Bitmap& tile, std::int32_t left, std::int32_t top) const;
  void Paint(TCanvas& canvas, std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height) const;
};

// A tile's rectangle in the source's picture.
struct TTileRect {
  std::int32_t Left = 0, Top = 0, Width = 0, Height = 0;
};

// Paints and encodes tiles one at a time; one per thread.
class TTileEncoder {
public:
  TTileEncoder(const TTileSource& source, TTileFormat format, const TColorDepthRow& depth, std::uint8_t quality)
      : source_(source), format_(format), depth_(depth), quality_(quality) {}

  // The tile's file bytes, kept until the next call.
  const std::vector<std::uint8_t>& Encode(const TTileRect& rect);

private:
  template <class T> T& Slot(T (&slots)[2], bool (*fits)(const T&, const TTileRect&), const TTileRect& rect);

  const TTileSource& source_;
  TTileFormat format_;
  const TColorDepthRow& depth_;
  std::uint8_t quality_;
  // The tile and its file bytes are kept from tile to tile: allocating a few
  // hundred KiB for every tile costs fresh pages each time once the
  // allocator has handed such blocks back to the system. Two tiles of each:
  // the tiles at the right edge of a row are narrower than the others, and
  // the last row lower.
  std::unique_ptr<TPngTileImage> png_[2];
  Bitmap jpeg_[2];
  std::vector<std::uint8_t> encoded_;
  int next_ = 0; // the slot to replace when no size fits
};

} // namespace zv
