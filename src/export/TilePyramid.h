// The zoom levels of a map-app export, made from the highest level's tiles:
// each lower tile is the 2 x 2 box average of the four above it, not drawn
// from the maps again. The highest level is drawn in blocks of 8 x 8 tiles
// taken in quadtree order, so that what is held at any time is one block and
// one tile per level below it, however wide the layout.
#pragma once

#include "export/TileFormat.h"
#include "export/TileSink.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace zv {

class TTilePyramid {
public:
  // A tile of the highest level, or null where no map covers it; called on
  // many threads at once.
  using TDraw = std::function<std::unique_ptr<TRgbaTile>(int column, int row)>;
  // Called on the calling thread after each block, with the number of the
  // range's highest-level tiles it held; it may raise to end the run.
  using TBlockDone = std::function<void(std::int64_t tiles)>;
  // The highest level's tiles to make, columns and rows inclusive.
  struct TRange {
    int Column0 = 0, Row0 = 0, Column1 = -1, Row1 = -1;
  };

  // Tiles of levels minZoom..maxZoom go to sink, drawn and encoded on
  // `workers` threads; the sink sees the same tiles in the same order
  // whatever their number.
  TTilePyramid(int minZoom, int maxZoom, const TTileEncoding& encoding, unsigned workers, TTileSink& sink);

  void Build(const TRange& range, const TDraw& draw, const TBlockDone& blockDone);
  std::int64_t TilesWritten() const { return written_; }

private:
  using TTile = std::unique_ptr<TRgbaTile>;
  TTile Node(int zoom, int column, int row);
  TTile Block(int column, int row);
  bool Meets(int zoom, int column, int row) const;
  void Put(int zoom, int column, int row, const std::vector<std::uint8_t>& bytes);

  int minZoom_, maxZoom_, blockZoom_;
  TTileEncoding encoding_;
  unsigned workers_;
  TTileSink& sink_;
  TRange range_;
  const TDraw* draw_ = nullptr;
  const TBlockDone* blockDone_ = nullptr;
  std::int64_t written_ = 0;
};

} // namespace zv
