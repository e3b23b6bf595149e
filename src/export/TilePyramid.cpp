#include "export/TilePyramid.h"

#include "export/ParallelFor.h"
#include "export/Reprojection.h"

#include <algorithm>

namespace zv {

namespace {

constexpr int kTileSide = 256;
// A block is 2^3 x 2^3 tiles of the highest level: 16 MiB of pixels, enough
// jobs to keep the processors busy.
constexpr int kBlockLevels = 3;

// A Web Mercator tile's box in degrees.
TTilePlace Place(int zoom, int column, int row) {
  const TMercatorPlane plane(zoom);
  TTilePlace p{zoom, column, row, 0, 0, 0, 0};
  plane.ToLatLon(double(column) * kTileSide, double(row + 1) * kTileSide, p.South, p.West);
  plane.ToLatLon(double(column + 1) * kTileSide, double(row) * kTileSide, p.North, p.East);
  return p;
}

// The parent of four tiles, children in the order top-left, top-right,
// bottom-left, bottom-right; null when all four are.
std::unique_ptr<TRgbaTile> Reduced(const std::unique_ptr<TRgbaTile>* children[4]) {
  std::unique_ptr<TRgbaTile> parent;
  for (int q = 0; q < 4; ++q) {
    if (!*children[q]) continue;
    if (!parent) parent = std::make_unique<TRgbaTile>(kTileSide, kTileSide);
    ReduceIntoQuadrant(**children[q], q % 2, q / 2, *parent);
  }
  return parent;
}

} // namespace

TTilePyramid::TTilePyramid(int minZoom, int maxZoom, const TTileEncoding& encoding, unsigned workers,
                           TTileSink& sink)
    : minZoom_(minZoom), maxZoom_(maxZoom), blockZoom_(maxZoom - std::min(kBlockLevels, maxZoom)),
      encoding_(encoding), workers_(workers), sink_(sink) {}

void TTilePyramid::Build(const TRange& range, const TDraw& draw, const TBlockDone& blockDone) {
  range_ = range, draw_ = &draw, blockDone_ = &blockDone;
  const int rootZoom = std::min(minZoom_, blockZoom_);
  const int shift = maxZoom_ - rootZoom;
  for (int row = range.Row0 >> shift; row <= range.Row1 >> shift; ++row)
    for (int column = range.Column0 >> shift; column <= range.Column1 >> shift; ++column)
      Node(rootZoom, column, row);
}

bool TTilePyramid::Meets(int zoom, int column, int row) const {
  const int shift = maxZoom_ - zoom;
  return (column + 1) << shift > range_.Column0 && column << shift <= range_.Column1 &&
         (row + 1) << shift > range_.Row0 && row << shift <= range_.Row1;
}

// A tile below the blocks, made from its four children in order; it is
// written, and returned for its parent, only from the lowest level on.
TTilePyramid::TTile TTilePyramid::Node(int zoom, int column, int row) {
  if (!Meets(zoom, column, row)) return nullptr;
  if (zoom == blockZoom_) return Block(column, row);
  TTile children[4];
  for (int q = 0; q < 4; ++q) {
    children[q] = Node(zoom + 1, 2 * column + q % 2, 2 * row + q / 2);
    if (zoom < minZoom_) children[q].reset();
  }
  const TTile* inputs[4] = {&children[0], &children[1], &children[2], &children[3]};
  TTile tile = Reduced(inputs);
  if (tile && tile->AnyCovered()) Put(zoom, column, row, EncodeTile(*tile, encoding_));
  return tile;
}

// The highest level's tiles under one tile of the block level, drawn,
// encoded and reduced into their parents a tile per job, so that only the
// parents stay; then the levels between, a level at a time. Tiles are
// written level by level, each level in rows.
TTilePyramid::TTile TTilePyramid::Block(int column, int row) {
  int side = 1 << (maxZoom_ - blockZoom_);
  std::vector<std::vector<std::uint8_t>> bytes(static_cast<std::size_t>(side) * side);
  const bool reduce = maxZoom_ > blockZoom_ && maxZoom_ > minZoom_;
  std::vector<TTile> level(reduce ? bytes.size() / 4 : bytes.size());
  std::vector<char> drawn(bytes.size(), 0);
  for (TTile& parent : level)
    if (reduce) parent = std::make_unique<TRgbaTile>(kTileSide, kTileSide);
  std::int64_t inRange = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    inRange += Meets(maxZoom_, column * side + int(i) % side, row * side + int(i) / side);
  ParallelFor(bytes.size(), workers_, [&](std::size_t i) {
    const int x = int(i) % side, y = int(i) / side;
    if (!Meets(maxZoom_, column * side + x, row * side + y)) return;
    TTile tile = (*draw_)(column * side + x, row * side + y);
    if (!tile) return;
    bytes[i] = EncodeTile(*tile, encoding_);
    drawn[i] = 1;
    // Each child writes its own quadrant of its parent.
    if (reduce) ReduceIntoQuadrant(*tile, x % 2, y % 2, *level[static_cast<std::size_t>(y / 2 * side / 2 + x / 2)]);
    else if (maxZoom_ == blockZoom_) level[0] = std::move(tile); // the block is this one tile
  });
  if (reduce)
    for (std::size_t i = 0; i < level.size(); ++i) {
      const std::size_t top = (i / (side / 2)) * 2 * side + (i % (side / 2)) * 2;
      if (!(drawn[top] || drawn[top + 1] || drawn[top + side] || drawn[top + side + 1])) level[i].reset();
    }
  for (int zoom = maxZoom_;; --zoom) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
      if (!bytes[i].empty()) Put(zoom, column * side + int(i) % side, row * side + int(i) / side, bytes[i]);
    if (zoom == blockZoom_ || zoom == minZoom_) break;
    side /= 2;
    bytes.assign(level.size(), {});
    ParallelFor(level.size(), workers_, [&](std::size_t i) {
      if (level[i] && level[i]->AnyCovered()) bytes[i] = EncodeTile(*level[i], encoding_);
    });
    if (zoom - 1 == blockZoom_ || zoom - 1 == minZoom_) continue;
    std::vector<TTile> next(level.size() / 4);
    ParallelFor(next.size(), workers_, [&](std::size_t i) {
      const std::size_t top = (i / (side / 2)) * 2 * side + (i % (side / 2)) * 2;
      const TTile* children[4] = {&level[top], &level[top + 1], &level[top + side], &level[top + side + 1]};
      next[i] = Reduced(children);
    });
    level = std::move(next);
  }
  (*blockDone_)(inRange);
  return level.size() == 1 && blockZoom_ >= minZoom_ ? std::move(level[0]) : nullptr;
}

void TTilePyramid::Put(int zoom, int column, int row, const std::vector<std::uint8_t>& bytes) {
  sink_.Put(Place(zoom, column, row), bytes);
  ++written_;
}

} // namespace zv
