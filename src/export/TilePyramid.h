// The zoom levels below the highest, made as its rows of tiles come: each
// lower tile is the 2 x 2 box average of the four above it, not drawn from
// the maps again. Only one pending row per level is held.
#pragma once

#include "export/TileFormat.h"
#include "export/TileSink.h"

#include <map>
#include <memory>
#include <vector>

namespace zv {

class TOutputPlane;

class TTilePyramid {
public:
  // Tiles of levels minZoom..maxZoom go to sink, encoded on `workers` threads.
  TTilePyramid(int minZoom, int maxZoom, const TTileEncoding& encoding, unsigned workers, TTileSink& sink);
  ~TTilePyramid();

  // One row of the highest level, rows in increasing order; null tiles are
  // not covered. Tiles of the row and of every lower row it completes are
  // written, in order of level, row and column.
  using TRow = std::map<int, std::unique_ptr<TRgbaTile>>;
  void AddTopRow(int row, TRow tiles);
  // Writes the rows still pending.
  void Finish();
  std::int64_t TilesWritten() const { return written_; }

private:
  struct TPending {
    int Row = -1;
    TRow Tiles;
  };
  void AddRow(int zoom, int row, TRow tiles);
  void Write(int zoom, int row, const TRow& tiles);
  void Flush(int zoom);

  int minZoom_, maxZoom_;
  TTileEncoding encoding_;
  unsigned workers_;
  TTileSink& sink_;
  std::vector<TPending> pending_; // by zoom
  std::int64_t written_ = 0;
};

} // namespace zv
