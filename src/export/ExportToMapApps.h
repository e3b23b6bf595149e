// Calibrated maps out as one file for map apps: MBTiles, OsmAnd's and
// Locus's SQLiteDB (both Web Mercator tile pyramids) or a KMZ for Garmin
// devices (latitude-longitude ground overlays).
#pragma once

#include "export/ExportToAmbulo.h"
#include "export/TileFormat.h"

#include <string>
#include <vector>

namespace zv {

class TMapArea;
class TMapLayout;
class TMapLayouts;

enum class TMapAppFormat : std::uint8_t { Mbtiles, SqliteDb, Kmz };

// The deepest zoom level written, and how many levels a KMZ may hold.
constexpr int kMaxMapAppZoom = 24;
constexpr int kDefaultKmzTiles = 100;
constexpr int kMaxKmzTiles = 500;

struct TMapAppOptions {
  TMapAppFormat Format = TMapAppFormat::Mbtiles;
  std::string Target;
  bool Replace = false; // an existing target is replaced only when true
  // -1: the suggested highest level, and five below it.
  int MinZoom = -1;
  int MaxZoom = -1;
  TTileEncoding Encoding;
  // Draw maps only inside their border polygon, where they have one.
  bool Crop = true;
  int KmzTiles = kDefaultKmzTiles;
  // 0: one per processor.
  unsigned Workers = 0;
};

// The maps a run takes, in drawing order: every area of the active layout,
// or of all layouts in order.
std::vector<const TMapArea*> MapAppAreas(const TMapLayouts& layouts, const TMapLayout* active, bool allLayouts);
// Whether any of the maps has border lines: cropping to them is then the default.
bool AnyMapBorder(const std::vector<const TMapArea*>& areas);
// ".mbtiles", ".sqlitedb" or ".kmz".
const char* MapAppExtension(TMapAppFormat format);

// The suggested highest zoom: the first at which a tile pixel at the maps'
// centre is no larger than their finest picture pixel; -1 when no map can
// be drawn (no fit, no picture).
int SuggestedMaxZoom(const std::vector<const TMapArea*>& areas, bool crop);

// The zoom levels a run with these options writes: [min, max]. Raises when
// they are out of range or when there is nothing to draw.
std::pair<int, int> MapAppZoomLevels(const std::vector<const TMapArea*>& areas, const TMapAppOptions& options);

// Writes the file; maps later in the list draw over earlier ones. Progress
// counts tiles of the highest level (of the KMZ). Returns a note for the
// user, empty or saying that a KMZ's resolution was lowered. A stop raises
// EExportStopped; a stop or a failure leaves neither the file nor a
// temporary one.
std::string ExportToMapApps(const std::vector<const TMapArea*>& areas, const TMapAppOptions& options,
                            const TExportProgress& progress);

} // namespace zv
