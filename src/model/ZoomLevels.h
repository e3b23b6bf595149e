#pragma once

#include "codecs/Bitmap.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace zv {

class TCanvas;
class TMapArea;
struct TSampling;

// The zoom-out levels of one map area's picture, made by background threads:
// level L is the picture reduced L times (ReduceRegion), shown at 1 / 2^L.
// The coarse levels, together at most WholeShare of the picture's own bytes,
// are made whole in one pass over the picture the first time any level is
// drawn; the finer ones in tiles, as they are drawn, held in a cache of at
// most cacheBytes. Drawing never waits: what is not made yet shows the
// nearest level there is, scaled.
//
// The picture is read from a copy of the area's image list taken at
// construction (sharing the images' pixels), so the area may go while the
// threads run; the owner recreates the levels when the area's images change.
class TZoomLevels {
public:
  static constexpr int MaxLevel = 6;
  static constexpr int TileSide = 256;
  static constexpr double WholeShare = 0.12;

  // onReady is called from a background thread whenever new pixels are ready.
  TZoomLevels(const TMapArea& area, std::function<void()> onReady, std::size_t cacheBytes = std::size_t{48} << 20);
  ~TZoomLevels();
  TZoomLevels(const TZoomLevels&) = delete;
  TZoomLevels& operator=(const TZoomLevels&) = delete;

  // Whether these are the levels of area as it is now.
  bool IsOf(const TMapArea& area) const;

  // Draws the rectangle (x, y, w, h) of level `level` (1..MaxLevel) with its
  // top-left corner at (dx, dy). Parts not made yet show the nearest level
  // made, scaled up, or stay as they are (the background) while the whole
  // levels are not made; they are asked of the threads, the tiles around the
  // rectangle as well. True when everything drawn was exact.
  bool Paint(TCanvas& canvas, int level, int dx, int dy, int x, int y, int w, int h);

  // Draws level `level` sampled as sampling says (its step at most 2: the
  // level is the next finer one than the factor) into a target of w × h.
  bool PaintSampled(TCanvas& canvas, int level, const TSampling& sampling, int w, int h);

  // The finest level kept whole, and whether the whole levels are made.
  int FirstWholeLevel() const { return firstWhole_; }
  bool WholeLevelsReady() const { return wholeReady_.load(std::memory_order_acquire); }
  // Pixel bytes held by the levels and the tile cache.
  std::size_t Bytes() const;

private:
  struct TImage {
    std::int64_t X = 0, Y = 0;
    Bitmap Pixels;
  };
  struct TTile {
    Bitmap Pixels;
    std::list<std::uint64_t>::iterator Use;
  };

  // Draws a piece of a level: its pixels, with their top-left pixel at
  // (left, top) of the level.
  using PieceDrawer = std::function<void(const Bitmap& pixels, int left, int top)>;
  // The pieces of level covering [x0, x1) × [y0, y1), which must be inside
  // the level; true when all were exact.
  bool PaintRect(int level, int x0, int y0, int x1, int y1, const PieceDrawer& draw);
  void Source(int x, int y, int w, int h, Bitmap& out) const;
  Bitmap MakeTile(int level, int tx, int ty) const;
  Bitmap FallbackTile(int level, int tx, int ty) const;
  void StartWholeLevels();
  void TileWorker();
  // Under lock_: a cached tile (marked as just used), or null.
  const Bitmap* Find(std::uint64_t key);
  void Insert(std::uint64_t key, Bitmap tile);

  const TMapArea* area_;
  std::vector<TImage> images_;
  int width_ = 0, height_ = 0;
  int firstWhole_ = MaxLevel;
  std::function<void()> onReady_;
  std::size_t cacheBytes_;

  std::vector<Bitmap> whole_; // levels firstWhole_..MaxLevel, once wholeReady_
  std::atomic<bool> wholeReady_{false};
  bool wholeStarted_ = false;
  std::thread wholeThread_;

  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::atomic<bool> stop_{false};
  std::unordered_map<std::uint64_t, TTile> tiles_;
  std::list<std::uint64_t> uses_; // most recently used first
  std::size_t tileBytes_ = 0;
  std::vector<std::uint64_t> wanted_; // the tiles the last paint asks for, nearest first
  std::thread tileThread_;
};

} // namespace zv
