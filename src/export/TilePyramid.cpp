#include "export/TilePyramid.h"

#include "export/ParallelFor.h"
#include "export/Reprojection.h"

namespace zv {

namespace {

constexpr int kTileSide = 256;

// A Web Mercator tile's box in degrees.
TTilePlace Place(int zoom, int column, int row) {
  const TMercatorPlane plane(zoom);
  TTilePlace p{zoom, column, row, 0, 0, 0, 0};
  plane.ToLatLon(double(column) * kTileSide, double(row + 1) * kTileSide, p.South, p.West);
  plane.ToLatLon(double(column + 1) * kTileSide, double(row) * kTileSide, p.North, p.East);
  return p;
}

} // namespace

TTilePyramid::TTilePyramid(int minZoom, int maxZoom, const TTileEncoding& encoding, unsigned workers,
                           TTileSink& sink)
    : minZoom_(minZoom), maxZoom_(maxZoom), encoding_(encoding), workers_(workers), sink_(sink),
      pending_(static_cast<std::size_t>(maxZoom) + 1) {}

TTilePyramid::~TTilePyramid() = default;

void TTilePyramid::AddTopRow(int row, TRow tiles) { AddRow(maxZoom_, row, std::move(tiles)); }

void TTilePyramid::AddRow(int zoom, int row, TRow tiles) {
  Write(zoom, row, tiles);
  if (zoom == minZoom_) return;
  TPending& parent = pending_[static_cast<std::size_t>(zoom - 1)];
  if (parent.Row >= 0 && parent.Row != row / 2) Flush(zoom - 1);
  parent.Row = row / 2;
  for (auto& [column, tile] : tiles) {
    if (!tile) continue;
    std::unique_ptr<TRgbaTile>& up = parent.Tiles[column / 2];
    if (!up) up = std::make_unique<TRgbaTile>(kTileSide, kTileSide);
    ReduceIntoQuadrant(*tile, column & 1, row & 1, *up);
  }
}

void TTilePyramid::Flush(int zoom) {
  TPending& p = pending_[static_cast<std::size_t>(zoom)];
  const int row = p.Row;
  TRow tiles = std::move(p.Tiles);
  p = TPending{};
  AddRow(zoom, row, std::move(tiles));
}

void TTilePyramid::Write(int zoom, int row, const TRow& tiles) {
  std::vector<std::pair<int, const TRgbaTile*>> jobs;
  for (const auto& [column, tile] : tiles)
    if (tile && tile->AnyCovered()) jobs.emplace_back(column, tile.get());
  std::vector<std::vector<std::uint8_t>> bytes(jobs.size());
  ParallelFor(jobs.size(), workers_, [&](std::size_t i) { bytes[i] = EncodeTile(*jobs[i].second, encoding_); });
  for (std::size_t i = 0; i < jobs.size(); ++i) sink_.Put(Place(zoom, jobs[i].first, row), bytes[i]);
  written_ += static_cast<std::int64_t>(jobs.size());
}

void TTilePyramid::Finish() {
  for (int zoom = maxZoom_ - 1; zoom >= minZoom_; --zoom)
    if (pending_[static_cast<std::size_t>(zoom)].Row >= 0) Flush(zoom);
}

} // namespace zv
