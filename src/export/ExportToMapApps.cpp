#include "export/ExportToMapApps.h"

#include "base/Messages.h"
#include "base/Paths.h"
#include "export/MapBorder.h"
#include "export/ParallelFor.h"
#include "export/Reprojection.h"
#include "export/TemporaryFile.h"
#include "export/TilePyramid.h"
#include "export/TileSink.h"
#include "model/MapModel.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <numbers>

namespace zv {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kEarthRadius = 6378137.0;
constexpr int kTileSide = 256;
constexpr int kKmzTileSide = 1024;
constexpr int kLevelsBelow = 5;
constexpr std::int64_t kMaxTiles = 1 << 22; // 275 gigapixels at the highest level

// The maps that can be drawn, in drawing order, and their common box.
struct TSources {
  std::vector<std::unique_ptr<TMapSource>> Maps;
  double West = 1e9, South = 1e9, East = -1e9, North = -1e9;
  double FinestPixel = 1e300; // metres

  TSources(const std::vector<const TMapArea*>& areas, bool crop) {
    for (const TMapArea* area : areas) {
      auto source = std::make_unique<TMapSource>(*area, crop);
      if (!source->Valid()) continue;
      West = std::min(West, source->West()), East = std::max(East, source->East());
      South = std::min(South, source->South()), North = std::max(North, source->North());
      FinestPixel = std::min(FinestPixel, source->PixelMetres());
      Maps.push_back(std::move(source));
    }
  }
  double CentreLatitude() const { return (South + North) / 2; }
};

int HighestZoom(const TSources& s) {
  if (s.Maps.empty()) return -1;
  const double groundPerTilePixel = 2 * kPi * kEarthRadius * std::cos(s.CentreLatitude() * kPi / 180) / kTileSide;
  const double z = std::ceil(std::log2(groundPerTilePixel / s.FinestPixel) - 1e-9);
  return static_cast<int>(std::clamp(z, 0.0, double(kMaxMapAppZoom)));
}

std::pair<int, int> ZoomLevels(const TSources& s, const TMapAppOptions& o) {
  if (s.Maps.empty()) throw Error(msg::MapAppNothingToExport);
  int max = o.MaxZoom >= 0 ? o.MaxZoom : HighestZoom(s);
  if (o.MaxZoom < 0 && o.MinZoom > max) max = o.MinZoom;
  const int min = o.MinZoom >= 0 ? o.MinZoom : std::max(0, max - kLevelsBelow);
  if (max > kMaxMapAppZoom || min > max) throw Error(msg::MapAppZoomRange(min, max, kMaxMapAppZoom));
  return {min, max};
}

unsigned Workers(const TMapAppOptions& o) { return o.Workers > 0 ? o.Workers : AvailableProcessors(); }

void CheckStop(const TExportProgress& progress) {
  if (progress.StopRequested && progress.StopRequested()) throw EExportStopped();
}

void TilesDone(const TExportProgress& progress, std::int64_t done, std::int64_t count) {
  for (std::int64_t i = 0; i < count; ++i)
    if (progress.ProcessMessages) progress.ProcessMessages();
  if (progress.SetPosition) progress.SetPosition(done);
}

void Started(const TExportProgress& progress, const std::string& name, std::int64_t tiles) {
  if (progress.SetMaximum) progress.SetMaximum(tiles);
  if (progress.SetPosition) progress.SetPosition(0);
  if (progress.MapStarted) progress.MapStarted(name, tiles);
}

// One tile drawn from every map whose box meets it; null when none covers it.
std::unique_ptr<TRgbaTile> DrawTile(const TSources& s, const TOutputPlane& plane, int left, int top, int w, int h) {
  std::unique_ptr<TRgbaTile> tile;
  for (const auto& map : s.Maps) {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    plane.FromLatLon(map->North(), map->West(), x0, y0);
    plane.FromLatLon(map->South(), map->East(), x1, y1);
    if (x1 < left - 1 || x0 > left + w + 1 || y1 < top - 1 || y0 > top + h + 1) continue;
    if (!tile) tile = std::make_unique<TRgbaTile>(w, h);
    map->DrawOver(plane, left, top, *tile);
  }
  if (tile && !tile->AnyCovered()) tile.reset();
  return tile;
}

std::string FileStem(const std::string& target) { return std::filesystem::path(target).stem().string(); }

std::string Description(const std::vector<const TMapArea*>& areas) {
  std::string text;
  for (const TMapArea* area : areas) text += (text.empty() ? "" : ", ") + ExportMapName(*area);
  return text;
}

std::unique_ptr<TTileSink> MakeSink(const TMapAppOptions& o) {
  if (o.Format == TMapAppFormat::SqliteDb) return MakeSqliteDbSink(o.Target, o.Replace);
  if (o.Format == TMapAppFormat::Kmz) return MakeKmzSink(o.Target, o.Replace);
  return MakeMbtilesSink(o.Target, o.Replace);
}

void ExportPyramid(const TSources& s, const std::vector<const TMapArea*>& areas, const TMapAppOptions& o,
                   const TExportProgress& progress) {
  const auto [minZoom, maxZoom] = ZoomLevels(s, o);
  const TMercatorPlane plane(maxZoom);
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  plane.FromLatLon(s.North, s.West, x0, y0);
  plane.FromLatLon(s.South, s.East, x1, y1);
  const int last = (1 << maxZoom) - 1;
  const int tx0 = std::clamp(int(std::floor(x0 / kTileSide)), 0, last);
  const int tx1 = std::clamp(int(std::floor(x1 / kTileSide)), 0, last);
  const int ty0 = std::clamp(int(std::floor(y0 / kTileSide)), 0, last);
  const int ty1 = std::clamp(int(std::floor(y1 / kTileSide)), 0, last);
  const std::int64_t total = std::int64_t{tx1 - tx0 + 1} * (ty1 - ty0 + 1);
  // A calibration claiming far finer pixels than any scan has must not make
  // a run without end.
  if (total > kMaxTiles) throw Error(msg::MapAppTooManyTiles(maxZoom));
  Started(progress, ExtractFileName(o.Target), total);
  CheckStop(progress);

  const std::unique_ptr<TTileSink> sink = MakeSink(o);
  TTilePyramid pyramid(minZoom, maxZoom, o.Encoding, Workers(o), *sink);
  std::int64_t done = 0;
  pyramid.Build(
      {tx0, ty0, tx1, ty1},
      [&](int column, int row) { return DrawTile(s, plane, column * kTileSide, row * kTileSide, kTileSide, kTileSide); },
      [&](std::int64_t tiles) {
        TilesDone(progress, done += tiles, tiles);
        CheckStop(progress);
      });
  // Web Mercator ends at 85.0511 degrees; readers refuse bounds beyond what tiles can hold.
  constexpr double kMercatorLimit = 85.0511287798;
  sink->Finish({FileStem(o.Target), Description(areas), o.Encoding.Format, minZoom, maxZoom, s.West,
                std::max(s.South, -kMercatorLimit), s.East, std::min(s.North, kMercatorLimit)});
}

// The KMZ's grid: pixels of about the finest picture pixel, made coarser
// until the covering tiles number at most the limit.
struct TKmzGrid {
  double Dlon = 0, Dlat = 0;
  int Width = 0, Height = 0, Columns = 0, Rows = 0;
  double Scale = 1; // the resolution kept, 1 = the maps' own

  TKmzGrid(const TSources& s, int limit) {
    const double dlat = s.FinestPixel / (kEarthRadius * kPi / 180);
    const double dlon = dlat / std::max(std::cos(s.CentreLatitude() * kPi / 180), 1e-6);
    for (;; Scale /= 1.01) {
      Dlat = dlat / Scale, Dlon = dlon / Scale;
      const double w = std::max(1.0, std::ceil((s.East - s.West) / Dlon));
      const double h = std::max(1.0, std::ceil((s.North - s.South) / Dlat));
      if (std::ceil(w / kKmzTileSide) * std::ceil(h / kKmzTileSide) > limit) continue;
      Width = int(w), Height = int(h);
      Columns = (Width + kKmzTileSide - 1) / kKmzTileSide, Rows = (Height + kKmzTileSide - 1) / kKmzTileSide;
      break;
    }
  }
};

std::string ExportKmz(const TSources& s, const std::vector<const TMapArea*>& areas, const TMapAppOptions& o,
                      const TExportProgress& progress) {
  if (s.Maps.empty()) throw Error(msg::MapAppNothingToExport);
  if (o.KmzTiles < 1 || o.KmzTiles > kMaxKmzTiles) throw Error(msg::KmzTilesRange(kMaxKmzTiles));
  const TKmzGrid g(s, o.KmzTiles);
  const TLatLonPlane plane(s.West, s.North, g.Dlon, g.Dlat);
  TTileEncoding jpeg = o.Encoding;
  jpeg.Format = TTileFormat::Jpeg; // Garmin devices read JPEG overlays only
  Started(progress, ExtractFileName(o.Target), std::int64_t{g.Columns} * g.Rows);
  CheckStop(progress);
  const std::unique_ptr<TTileSink> sink = MakeSink(o);
  // A row in runs of a few tiles, so that what is held does not grow with the layout's width.
  constexpr int kRun = 8;
  for (int r = 0; r < g.Rows; ++r) {
    for (int c0 = 0; c0 < g.Columns; c0 += kRun) {
      std::vector<std::vector<std::uint8_t>> bytes(static_cast<std::size_t>(std::min(kRun, g.Columns - c0)));
      ParallelFor(bytes.size(), Workers(o), [&](std::size_t i) {
        const int left = (c0 + int(i)) * kKmzTileSide, top = r * kKmzTileSide;
        const auto tile = DrawTile(s, plane, left, top, std::min(kKmzTileSide, g.Width - left),
                                   std::min(kKmzTileSide, g.Height - top));
        if (tile) bytes[i] = EncodeTile(*tile, jpeg);
      });
      for (int c = c0; c < c0 + int(bytes.size()); ++c) {
        if (bytes[c - c0].empty()) continue;
        const int left = c * kKmzTileSide, top = r * kKmzTileSide;
        const int right = std::min(left + kKmzTileSide, g.Width), bottom = std::min(top + kKmzTileSide, g.Height);
        sink->Put({0, c, r, s.West + left * g.Dlon, s.North - bottom * g.Dlat, s.West + right * g.Dlon,
                   s.North - top * g.Dlat},
                  bytes[c - c0]);
      }
    }
    TilesDone(progress, std::int64_t{r + 1} * g.Columns, g.Columns);
    CheckStop(progress);
  }
  sink->Finish({FileStem(o.Target), Description(areas), TTileFormat::Jpeg, 0, 0, s.West, s.South, s.East, s.North});
  return g.Scale < 1 ? msg::KmzResolutionLowered(g.Scale * 100, o.KmzTiles) : std::string();
}

} // namespace

std::vector<const TMapArea*> MapAppAreas(const TMapLayouts& layouts, const TMapLayout* active, bool allLayouts) {
  std::vector<const TMapArea*> areas;
  for (int i = 0; i < layouts.Count(); ++i)
    if (allLayouts || layouts[i] == active)
      for (const TMapArea* area : layouts[i]->Areas->All()) areas.push_back(area);
  return areas;
}

bool AnyMapBorder(const std::vector<const TMapArea*>& areas) {
  return std::any_of(areas.begin(), areas.end(), [](const TMapArea* a) { return !MapBorderPolygon(*a).empty(); });
}

const char* MapAppExtension(TMapAppFormat format) {
  if (format == TMapAppFormat::SqliteDb) return ".sqlitedb";
  if (format == TMapAppFormat::Kmz) return ".kmz";
  return ".mbtiles";
}

int SuggestedMaxZoom(const std::vector<const TMapArea*>& areas, bool crop) {
  return HighestZoom(TSources(areas, crop));
}

std::pair<int, int> MapAppZoomLevels(const std::vector<const TMapArea*>& areas, const TMapAppOptions& options) {
  return ZoomLevels(TSources(areas, options.Crop), options);
}

std::string ExportToMapApps(const std::vector<const TMapArea*>& areas, const TMapAppOptions& options,
                            const TExportProgress& progress) {
  CheckTargetFile(options.Target, options.Replace);
  const TSources sources(areas, options.Crop);
  if (options.Format == TMapAppFormat::Kmz) return ExportKmz(sources, areas, options, progress);
  ExportPyramid(sources, areas, options, progress);
  return {};
}

} // namespace zv
