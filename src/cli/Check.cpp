#include "cli/Check.h"

#include "base/FileSystem.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "model/CalibrationFit.h"
#include "model/DisplayMapsCore.h"
#include "model/FileKind.h"
#include "model/MapModel.h"
#include "tar/TarArchive.h"

#include <algorithm>
#include <exception>
#include <map>
#include <utility>

namespace zv {
namespace {

class TChecker {
public:
  TChecker(std::string file, std::vector<TCheckProblem>& problems) : file_(std::move(file)), problems_(problems) {}

  void Problem(const std::string& map, const std::string& message) { problems_.push_back({file_, map, message}); }

  void CheckAreas(const TDisplayMapsCore& core, bool atlas) {
    for (int i = 0; i < core.Layouts->Count(); ++i) {
      const TMapLayout& layout = *(*core.Layouts)[i];
      for (int j = 0; j < layout.Areas->Count(); ++j) {
        const TMapArea& area = *(*layout.Areas)[j];
        // A map that failed to load has been reported; what it holds is partial.
        if (std::find(failed_.begin(), failed_.end(), &area) != failed_.end()) continue;
        const std::string map = atlas ? layout.Name + "/" + area.Name : area.Name;
        for (const TCalibrationFinding& f : CheckCalibration(area)) Problem(map, f.Message);
        if (atlas) CheckTileGrid(area, map);
      }
    }
  }

  // The tiles of an exported tile set: one grid, the first tile's size, every
  // cell covered once, edge tiles clipped to the picture.
  void CheckTileGrid(const TMapArea& area, const std::string& map) {
    if (area.Images.empty() || area.Width <= 0 || area.Height <= 0) return;
    const TMapImage* origin = nullptr;
    for (const auto& image : area.Images)
      if (image->X == 0 && image->Y == 0) origin = image.get();
    if (!origin || origin->Width() <= 0 || origin->Height() <= 0) {
      Problem(map, msg::NoTileAtOrigin);
      return;
    }
    const std::int64_t tw = origin->Width(), th = origin->Height();
    // The picture's size as the grid tells it: each column's most common tile
    // width, each row's most common height (a loaded area grows to take in an
    // oversized tile, so its own size cannot say).
    std::map<std::int64_t, std::map<std::int64_t, int>> columnWidths, rowHeights;
    for (const auto& image : area.Images) {
      if (image->X < 0 || image->Y < 0 || image->X % tw != 0 || image->Y % th != 0) continue;
      ++columnWidths[image->X][image->Width()];
      ++rowHeights[image->Y][image->Height()];
    }
    const auto extent = [](const std::map<std::int64_t, std::map<std::int64_t, int>>& lines) {
      std::int64_t end = 0;
      for (const auto& [start, sizes] : lines) {
        std::int64_t best = 0;
        int count = 0;
        for (const auto& [size, n] : sizes)
          if (n > count) best = size, count = n; // ties keep the smaller size
        end = std::max(end, start + best);
      }
      return end;
    };
    const std::int64_t width = extent(columnWidths), height = extent(rowHeights);
    std::map<std::pair<std::int64_t, std::int64_t>, int> seen;
    int reported = 0;
    const auto report = [&](const std::string& message) {
      if (++reported <= 20) Problem(map, message);
    };
    for (const auto& image : area.Images) {
      const std::int64_t x = image->X, y = image->Y;
      if (x < 0 || y < 0 || x % tw != 0 || y % th != 0) {
        report(msg::TileOffGrid(x, y, tw, th));
        continue;
      }
      const std::int64_t ew = std::min(tw, width - x), eh = std::min(th, height - y);
      if (image->Width() != ew || image->Height() != eh)
        report(msg::TileWrongSize(x, y, image->Width(), image->Height(), ew, eh));
      if (++seen[{x, y}] == 2) report(msg::TilesOverlap(x, y));
    }
    for (std::int64_t y = 0; y < height; y += th)
      for (std::int64_t x = 0; x < width; x += tw)
        if (!seen.count({x, y})) report(msg::TileGap(x, y));
    if (reported > 20) Problem(map, msg::MoreTileProblems(reported - 20));
  }

  // The atlas tree below root, each map opened on its own, so one damaged map
  // does not hide the others.
  void CheckAtlas(const std::string& root, TDisplayMapsCore& core) {
    for (const std::string& layer : ListSubdirectories(root)) {
      TMapLayout* layout = core.Layouts->FindLayout(layer);
      if (!layout) layout = core.Layouts->AddLayout(layer);
      const std::string layerDir = root + layer + PathDelim;
      for (const std::string& mapDir : ListSubdirectories(layerDir)) {
        const std::string dir = layerDir + mapDir + PathDelim;
        const std::string map = layer + "/" + mapDir;
        int sources = 0;
        for (const std::string& name : ListEntries(dir)) {
          const TFileKind kind = FileKindOf(UpperFileExt(name));
          if ((kind != TFileKind::Calibration && kind != TFileKind::Tar) || !FileExists(dir + name)) continue;
          ++sources;
          try {
            if (kind == TFileKind::Tar)
              layout->Areas->AddMapArea(mapDir, dir + name, std::string());
            else
              layout->Areas->AddMapArea(mapDir, std::string(), dir + name);
          } catch (const std::exception& e) {
            Problem(map, msg::MapLoadingError(name, e.what()));
            if (layout->Areas->Count() > 0) failed_.push_back((*layout->Areas)[layout->Areas->Count() - 1]);
          }
        }
        if (sources == 0) Problem(map, msg::MapDirectoryOpensNoMap);
      }
    }
  }

private:
  std::string file_;
  std::vector<TCheckProblem>& problems_;
  std::vector<const TMapArea*> failed_;
};

// The atlas file at the top level of a tar archive, if any.
bool TarHoldsAtlas(const std::string& path) {
  TTarArchive archive(path);
  archive.Rewind();
  TTarDirRec rec;
  while (archive.NextEntry(rec))
    if (rec.Name.find('/') == std::string::npos && FileKindOf(UpperFileExt(rec.Name)) == TFileKind::Atlas) return true;
  return false;
}

} // namespace

std::vector<TCheckProblem> CheckFiles(const std::vector<std::string>& files) {
  std::vector<TCheckProblem> problems;
  for (const std::string& file : files) {
    TChecker checker(file, problems);
    TDisplayMapsCore core;
    const TFileKind kind = FileKindOf(UpperFileExt(file));
    try {
      if (!FileExists(file)) ThrowCannotOpen(file);
      const bool atlas = kind == TFileKind::Atlas || (kind == TFileKind::Tar && TarHoldsAtlas(file));
      if (atlas) {
        checker.CheckAtlas(ExtractFilePath(file), core);
      } else {
        core.OpenFile(file);
        if (core.Layouts->Count() == 0) checker.Problem("", msg::FileOpensNoMap);
      }
      checker.CheckAreas(core, atlas);
    } catch (const std::exception& e) {
      // The rest of the file was not read: its maps are partial.
      checker.Problem("", msg::FileLoadingError(e.what()));
    }
  }
  return problems;
}

} // namespace zv
