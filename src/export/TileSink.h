// Where a map-app export's tiles go: one interface, one file format behind
// each implementation (MBTiles, SQLiteDB, KMZ).
#pragma once

#include "export/TileFormat.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zv {

// A tile's place: its zoom level, column and row counted from the west and
// the north, and its box in WGS 84 degrees.
struct TTilePlace {
  int Zoom = 0;
  int Column = 0;
  int Row = 0;
  double West = 0, South = 0, East = 0, North = 0;
};

// What the whole file says of itself.
struct TTileSetInfo {
  std::string Name;
  std::string Description;
  TTileFormat Format = TTileFormat::Jpeg;
  int MinZoom = 0;
  int MaxZoom = 0;
  double West = 0, South = 0, East = 0, North = 0;
};

// Takes tiles in the order they are made and writes the file under a
// temporary name; Finish makes it whole and gives it its name. A sink
// destroyed without Finish leaves no file behind.
class TTileSink {
public:
  virtual ~TTileSink() = default;
  virtual void Put(const TTilePlace& place, const std::vector<std::uint8_t>& bytes) = 0;
  virtual void Finish(const TTileSetInfo& info) = 0;
};

// MBTiles 1.3: tile rows counted from the south.
std::unique_ptr<TTileSink> MakeMbtilesSink(const std::string& target, bool replace);
// OsmAnd's and Locus's SQLite tiles: BigPlanet numbering, z = 17 - zoom.
std::unique_ptr<TTileSink> MakeSqliteDbSink(const std::string& target, bool replace);
// Garmin's custom maps: a zip of doc.kml and one JPEG per ground overlay.
std::unique_ptr<TTileSink> MakeKmzSink(const std::string& target, bool replace);

} // namespace zv
