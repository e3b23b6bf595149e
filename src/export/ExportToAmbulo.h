#pragma once

#include "base/Errors.h"
#include "codecs/PngTile.h"
#include "export/TileFormat.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zv {

class TMapArea;
class TMapLayouts;

// The colour depth rows: label, PNG colour type, bit depth.
struct TColorDepthRow {
  const char* Label;
  TPngColorType ColorType;
  std::uint32_t BitDepth;
};
extern const TColorDepthRow ColorDepthRows[8];
// The row chosen when "PNG files" is picked: "8-bit color (256 colors)".
constexpr int DefaultColorDepthRow = 6;

// The export dialog's option values as they stand when a run starts.
struct TExportOptions {
  std::string TileWidthText = "400";
  std::string TileHeightText = "400";
  TTileFormat Format = TTileFormat::Jpeg; // "Jpeg files" or "PNG files"
  int DepthRow = DefaultColorDepthRow; // row of the colour depth table, PNG only
  std::string QualityText = "85";
  bool Tared = false;     // "TAR-ed"
  // "Zoom-out layers", 0..4: after the layouts, a whole atlas gets each
  // layout again with its maps reduced to 50 %, then 25 %, ... A single map
  // does not use it.
  int ZoomOutLayers = 0;
  // Tiles painted and encoded at the same time, each on its own thread; 0
  // takes one per processor (at most 8), 1 keeps everything on the calling
  // thread. Files, tile list and progress follow tile order either way.
  int Workers = 0;
};


// The integer value of an option text: leading blanks, an optional sign, then
// decimal digits (or hexadecimal after "$" or "0x"), within 32 bits. False
// when the text is no such integer.
bool ParseIntegerText(const std::string& text, std::int32_t& value);

// The map name: the area's Name reduced to its last path component.
std::string ExportMapName(const TMapArea& area);

// How a run reports progress; every member may be left empty.
struct TExportProgress {
  std::function<void(std::int64_t position)> SetPosition;
  std::function<void(std::int64_t maximum)> SetMaximum;
  // Called when a map starts, with its name and its number of tiles.
  std::function<void(const std::string& mapName, std::int64_t tiles)> MapStarted;
  // Lets pending work run (the dialog's event loop) after every tile.
  std::function<void()> ProcessMessages;
  // Asked when a map starts, after every tile (after ProcessMessages) and
  // before every archive entry; true ends the run with EExportStopped.
  std::function<bool()> StopRequested;
};

// The run ended because a stop was requested: "Export stopped.". Files
// finished before it stay whole; the tile or archive being written goes.
class EExportStopped : public Error {
public:
  EExportStopped();
};

// Writes one tile set into mapDirectory (which must exist). atlasEntries is
// the run's list of paths relative to the atlas root ("/" separated); in atlas
// mode it grows, and when packing it names the files to keep. Tile sizes
// below 1 and map names that would leave the directory are refused before
// anything is written.
void ExportTileSet(const std::string& mapDirectory, const TMapArea& area, const std::string& atlasPrefix,
                   bool inAtlas, const TExportOptions& options, std::vector<std::string>& atlasEntries,
                   const TExportProgress& progress);

// What ExportAtlas and ExportSingleMap refuse before writing anything (tile
// sizes, format rows, names that would leave the target directory, no map),
// for callers that prepare the target directory first.
void CheckAtlasExport(const std::string& atlasName, const TMapLayouts& layouts, const TExportOptions& options);
void CheckSingleMapExport(const TMapArea* area, const TExportOptions& options);

// Writes the whole atlas: atlas file, a directory per layout and per map, the
// tile sets, then the zoom-out layers (ZoomOutLayerName) of every layout in
// the same form, and with Tared the atlas archive.
void ExportAtlas(const std::string& targetDirectory, const std::string& atlasName, const TMapLayouts& layouts,
                 const TExportOptions& options, const TExportProgress& progress);

// "Single map": the area's files go straight into targetDirectory. Raises
// "No map is shown to export." without an area.
void ExportSingleMap(const std::string& targetDirectory, const TMapArea* area, const TExportOptions& options,
                     const TExportProgress& progress);

// Makes the target directory, with its parents, when it is not there yet;
// raises "Cannot create the target directory DIR" when that fails.
void CreateTargetDirectory(const std::string& targetDirectory);

} // namespace zv
