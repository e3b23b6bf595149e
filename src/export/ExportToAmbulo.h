#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zv {

class TMapArea;
class TMapLayouts;

// The export dialog's option values as they stand when a run starts.
struct TExportOptions {
  std::string TileWidthText = "400";
  std::string TileHeightText = "400";
  int FormatRow = 0;      // 0 "Jpeg files", 1 "PNG files"
  int DepthRow = 6;       // row of the colour depth table, PNG only
  std::string QualityText = "85";
  bool Tared = false;     // "TAR-ed"
};

// The colour depth rows: label, PNG colour type, bit depth.
struct TColorDepthRow {
  const char* Label;
  std::uint32_t ColorType;
  std::uint32_t BitDepth;
};
extern const TColorDepthRow ColorDepthRows[8];

// How a run reports progress; every member may be left empty.
struct TExportProgress {
  std::function<void(std::int64_t position)> SetPosition;
  std::function<void(std::int64_t maximum)> SetMaximum;
  // Called when a map starts, with its name and its number of tiles.
  std::function<void(const std::string& mapName, std::int64_t tiles)> MapStarted;
  // Lets pending work run (the dialog's event loop) after every tile.
  std::function<void()> ProcessMessages;
};

// Writes one tile set into mapDirectory (which must exist).
void ExportTileSet(const std::string& mapDirectory, const TMapArea& area, const std::string& atlasPrefix,
                   bool inAtlas, const TExportOptions& options, std::vector<std::string>& atlasEntries,
                   const TExportProgress& progress);

// Writes the whole atlas: atlas file, a directory per layout and per map, the
// tile sets, and with Tared the atlas archive.
void ExportAtlas(const std::string& targetDirectory, const std::string& atlasName, const TMapLayouts& layouts,
                 const TExportOptions& options, const TExportProgress& progress);

// "Single map": the area's files go straight into targetDirectory. Raises
// "No map is shown to export." without an area.
void ExportSingleMap(const std::string& targetDirectory, const TMapArea* area, const TExportOptions& options,
                     const TExportProgress& progress);

} // namespace zv
