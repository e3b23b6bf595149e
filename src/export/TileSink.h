// Where an export's tiles go: one interface, one output behind each
// implementation (an Ambulo tile folder with its tile list, MBTiles,
// SQLiteDB, KMZ).
#pragma once

#include "export/TileFormat.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zv {

// A tile's place: its zoom level, column and row counted from the west and
// the north, and its box in WGS 84 degrees (where the output has one).
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

// Takes tiles in the order they are made; Finish completes the output. The
// map-app files are written under a temporary name, which Finish replaces
// by their own: a sink destroyed without Finish leaves no file behind.
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

// An Ambulo tile set: each tile a file in the map directory's "set" folder,
// named MAP_LEFT_TOP.jpg or .png by its first pixel (column times the tile
// width, row times the tile height), and the tile list MAP.set naming them
// in the order written. The sink makes the folder and the list; after each
// tile's file and line, wrote hears the file's name relative to the map
// directory. Finish closes the list; a sink destroyed without it keeps the
// tiles and whole lines written so far.
struct TTileListFolder {
  std::string Directory; // with a trailing separator
  std::string MapName;
  TTileFormat Format = TTileFormat::Jpeg;
  std::int32_t TileWidth = 0, TileHeight = 0;
};
std::unique_ptr<TTileSink> MakeTileListFolderSink(const TTileListFolder& folder,
                                                  std::function<void(const std::string&)> wrote);

} // namespace zv
