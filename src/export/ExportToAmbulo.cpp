#include "export/ExportToAmbulo.h"

#include "base/Errors.h"
#include "base/FileSystem.h"
#include "base/Integers.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "export/AmbuloTiles.h"
#include "export/ExportFiles.h"
#include "export/PackedMaps.h"
#include "export/ParallelFor.h"
#include "export/TileSink.h"
#include "export/ZoomOut.h"
#include "model/CalibrationText.h"
#include "model/MapModel.h"
#include "tar/TarWriter.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unordered_set>

namespace zv {

const TColorDepthRow ColorDepthRows[8] = {
    {"1-bit grayscale", TPngColorType::Gray, 1},
    {"4-bit grayscale", TPngColorType::Gray, 4},
    {"8-bit grayscale", TPngColorType::Gray, 8},
    {"2-bit color (4 colors)", TPngColorType::Palette, 2},
    {"4-bit color (16 colors)", TPngColorType::Palette, 4},
    // The PNG encoder writes a 64-entry palette image for this request.
    {"6-bit color (64 colors)", TPngColorType::Palette, 6},
    {"8-bit color (256 colors)", TPngColorType::Palette, 8},
    // The PNG encoder stores this request with 8 bits per sample.
    {"24-bit truecolor", TPngColorType::Rgb, 16},
};

bool ParseIntegerText(const std::string& text, std::int32_t& value) {
  // Blanks, sign and hexadecimal prefix are what option texts add to the
  // calibration integers (base/Integers.h).
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  return ParseInt32Digits(std::string_view(text).substr(i), base, negative, value);
}

std::string ExportMapName(const TMapArea& area) { return ExtractFileName(area.Name); }

EExportStopped::EExportStopped() : Error(msg::ExportStopped) {}

namespace {

void Report(const std::function<void(std::int64_t)>& f, std::int64_t v) {
  if (f) f(v);
}

void CheckStop(const TExportProgress& progress) {
  if (progress.StopRequested && progress.StopRequested()) throw EExportStopped();
}

struct TTileSize {
  std::int32_t Width;
  std::int32_t Height;
};

TTileSize CheckOptions(const TExportOptions& options) {
  TTileSize size{0, 0};
  if (!ParseIntegerText(options.TileWidthText, size.Width) || size.Width < 1) throw Error(msg::TileWidthInvalid);
  if (!ParseIntegerText(options.TileHeightText, size.Height) || size.Height < 1) throw Error(msg::TileHeightInvalid);
  if (options.ZoomOutLayers < 0 || options.ZoomOutLayers > kMaxZoomOutLayers)
    throw Error(msg::ZoomOutLayersInvalid(options.ZoomOutLayers));
  if (options.Format == TTileFormat::Png && (options.DepthRow < 0 || options.DepthRow > 7))
    throw Error(msg::UnknownColorDepth(options.DepthRow));
  return size;
}

// A name used as one directory or file name component must stay inside the
// directory it is joined to.
bool NameLeavesDirectory(const std::string& name) {
  return name == "." || name == ".." || name.find_first_of(std::string("/\\\0", 3)) != std::string::npos;
}

void CheckMapName(const std::string& name) {
  if (NameLeavesDirectory(name)) throw Error(msg::MapNameNotAllowed(name));
}

void CheckLayoutName(const std::string& name) {
  // An empty layout name would make archive entries start with "/".
  if (name.empty() || NameLeavesDirectory(name)) throw Error(msg::LayoutNameNotAllowed(name));
}

void CheckAtlasName(const std::string& name) {
  if (NameLeavesDirectory(name)) throw Error(msg::AtlasNameNotAllowed(name));
}

std::string CheckedDirectory(const std::string& directory) {
  if (directory.empty()) throw Error(msg::EnterTargetDirectory);
  return IncludeTrailingPathDelimiter(directory);
}

// The run's atlas entries with a membership test ignoring ASCII letter case,
// for the files kept after packing. The upper-cased set follows the list as
// it grows, so an atlas of many maps does not rebuild it for every map.
class TAtlasEntries {
public:
  explicit TAtlasEntries(std::vector<std::string>& list) : List(list) {}
  std::vector<std::string>& List;

  bool Contains(const std::string& name) {
    for (; synced_ < List.size(); ++synced_) upper_.insert(UpperCaseAscii(List[synced_]));
    return upper_.count(UpperCaseAscii(name)) != 0;
  }

private:
  std::unordered_set<std::string> upper_;
  std::size_t synced_ = 0;
};

std::string ArchiveName(const std::string& relativeName) { return ReplaceAll(relativeName, "\\", "/"); }

// The current local date and time, as the atlas archive's directory entries
// carry it.
TDateTime LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return UnixToDateTime(static_cast<std::int64_t>(now) + local.tm_gmtoff);
}

std::int64_t TileCount(std::int64_t extent, std::int64_t tile) { return extent <= 0 ? 0 : (extent + tile - 1) / tile; }

// One call's tile set: where it goes and the files it wrote, each relative
// to the map directory and in the order written.
struct TTileSetRun {
  std::string Directory; // the map directory, with a trailing separator
  std::string MapName;
  std::string AtlasPrefix;
  bool InAtlas;
  std::vector<std::string> LocalFiles;

  // Records a written file, and in atlas mode its atlas entry.
  void Wrote(const std::string& name, std::vector<std::string>& atlasEntries) {
    LocalFiles.push_back(name);
    if (InAtlas) atlasEntries.push_back(AtlasPrefix + name);
  }
};

// The calibration lines go back unchanged; a reduced map's give its reduced
// pixel coordinates.
void WriteCalibrationCopy(const std::string& fileName, const TTileSource& source) {
  const TMapArea& area = source.Area;
  TTextWriter calibration(fileName);
  if (source.Level == 0) {
    for (const std::string& line : area.Lines) calibration.WriteLine(line);
  } else {
    const std::string ext = UpperFileExt(area.FileName);
    for (const std::string& line : ReducedCalibrationLines(area.Lines, ext, area.Width, area.Height, source.Level))
      calibration.WriteLine(line);
  }
  calibration.Close();
}

unsigned WorkerCount(const TExportOptions& options) {
  if (options.Workers > 0) return static_cast<unsigned>(std::min(options.Workers, 64));
  return std::clamp(AvailableProcessors(), 1u, 8u);
}

// Cuts the area into tiles and puts them into sink in order, with progress
// after every tile. A few tiles are painted and encoded at once, one per
// worker; they go into the sink in tile order, so a run that ends early
// leaves what a run writing one tile at a time would.
void WriteTiles(const std::string& mapName, const TTileSource& source, const TExportOptions& options,
                const TTileSize& tileSize, TTileSink& sink, const TExportProgress& progress) {
  const std::int64_t tw = tileSize.Width;
  const std::int64_t th = tileSize.Height;
  const std::int64_t w = source.Width();
  const std::int64_t h = source.Height();
  if (progress.MapStarted) progress.MapStarted(mapName, TileCount(w, tw) * TileCount(h, th));
  Report(progress.SetPosition, 0);
  Report(progress.SetMaximum, w * h);

  const bool png = options.Format == TTileFormat::Png;
  const TColorDepthRow& depth = ColorDepthRows[png ? options.DepthRow : 0];
  std::int32_t qualityValue = 85;
  if (!ParseIntegerText(options.QualityText, qualityValue)) qualityValue = 85;
  // The quality is one unsigned byte: the integer taken modulo 256.
  const auto quality = static_cast<std::uint8_t>(qualityValue);

  const unsigned workers = WorkerCount(options);
  std::vector<TTileEncoder> encoders;
  encoders.reserve(workers);
  for (unsigned i = 0; i < workers; ++i) encoders.emplace_back(source, options.Format, depth, quality);
  std::vector<TTileRect> rects;
  std::vector<const std::vector<std::uint8_t>*> bytes;
  const auto putAll = [&] {
    bytes.assign(rects.size(), nullptr);
    ParallelFor(rects.size(), workers, [&](std::size_t i) { bytes[i] = &encoders[i].Encode(rects[i]); });
    for (std::size_t i = 0; i < rects.size(); ++i) {
      const TTileRect& r = rects[i];
      sink.Put({0, static_cast<int>(r.Left / tw), static_cast<int>(r.Top / th), 0, 0, 0, 0}, *bytes[i]);
      Report(progress.SetPosition, w * r.Top + r.Left + tw); // the unclipped tile width
      if (progress.ProcessMessages) progress.ProcessMessages();
      CheckStop(progress);
    }
    rects.clear();
  };
  for (std::int64_t y = 0; y < h; y += th)
    for (std::int64_t x = 0; x < w; x += tw) {
      rects.push_back({static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                       static_cast<std::int32_t>(x + tw > w ? w - x : tw),
                       static_cast<std::int32_t>(y + th > h ? h - y : th)});
      if (rects.size() == workers) putAll();
    }
  putAll();
  Report(progress.SetPosition, w * h);
}

// Packs the run's files into the map's archive, then removes those that are
// not atlas entries, and the set folder when that leaves it empty.
void PackTileSet(const TTileSetRun& run, TAtlasEntries& entries, TPackedMaps& packed,
                 const TExportProgress& progress) {
  const std::string& d = run.Directory;
  WriteArchive(d + run.MapName + ".tar", [&](TTarWriter& tar) {
    for (const std::string& name : run.LocalFiles) {
      CheckStop(progress);
      tar.AddFile(d + name, ArchiveName(name));
    }
  });
  std::vector<std::string> kept, going;
  for (const std::string& name : run.LocalFiles)
    (entries.Contains(run.AtlasPrefix + name) ? kept : going).push_back(d + name);
  packed.Packed(d, std::move(kept), std::move(going));
}

void ExportTileSetChecked(const std::string& directory, const TMapArea& area, int level, const std::string& atlasPrefix,
                          bool inAtlas, const TExportOptions& options, const TTileSize& tileSize,
                          TAtlasEntries& entries, TPackedMaps& packed, const TExportProgress& progress) {
  TTileSetRun run{directory, ExportMapName(area), atlasPrefix, inAtlas, {}};
  TTileSource source{area, level};
  if (options.Format == TTileFormat::Png) source.Background = Rgb{0, 0, 0};
  const std::string& d = run.Directory;
  const std::string& n = run.MapName;
  const std::string e = ExtractFileExt(area.FileName);
  CheckStop(progress);
  // A same-named map packed into this folder before leaves its tiles now;
  // the calibration copy and tile list written over are this map's.
  packed.Reuse(d, {d + n + e, d + n + ".set"});

  WriteCalibrationCopy(d + n + e, source);
  run.Wrote(n + e, entries.List);

  const auto sink = MakeTileListFolderSink({d, n, options.Format, tileSize.Width, tileSize.Height},
                                           [&run](const std::string& name) { run.LocalFiles.push_back(name); });
  run.Wrote(n + ".set", entries.List);
  if (inAtlas) entries.List.push_back(atlasPrefix + "set/");

  WriteTiles(n, source, options, tileSize, *sink, progress);
  sink->Finish({});

  if (options.Tared) PackTileSet(run, entries, packed, progress);
}

} // namespace

void ExportTileSet(const std::string& mapDirectory, const TMapArea& area, const std::string& atlasPrefix,
                   bool inAtlas, const TExportOptions& options, std::vector<std::string>& atlasEntries,
                   const TExportProgress& progress) {
  const TTileSize tileSize = CheckOptions(options);
  CheckMapName(ExportMapName(area));
  const std::string d = CheckedDirectory(mapDirectory);
  TAtlasEntries entries(atlasEntries);
  TPackedMaps packed(false);
  ExportTileSetChecked(d, area, 0, atlasPrefix, inAtlas, options, tileSize, entries, packed, progress);
}

void CheckAtlasExport(const std::string& atlasName, const TMapLayouts& layouts, const TExportOptions& options) {
  CheckOptions(options);
  CheckAtlasName(atlasName);
  for (int i = 0; i < layouts.Count(); ++i) {
    const TMapLayout& layout = *layouts[i];
    CheckLayoutName(layout.Name);
    for (int j = 0; j < layout.Areas->Count(); ++j) CheckMapName(ExportMapName(*(*layout.Areas)[j]));
    // An atlas opened again holds its zoom-out layers as layouts: exported
    // with layers once more, "Topo 50%" would be written twice, one map over
    // the other.
    for (int level = 1; level <= options.ZoomOutLayers; ++level) {
      const std::string layer = ZoomOutLayerName(layout.Name, level);
      if (layouts.FindLayout(layer)) throw Error(msg::ZoomOutLayerTaken(layer));
    }
  }
}

void CheckSingleMapExport(const TMapArea* area, const TExportOptions& options) {
  if (!area) throw Error(msg::NoMapShown);
  CheckOptions(options);
  CheckMapName(ExportMapName(*area));
}

void ExportAtlas(const std::string& targetDirectory, const std::string& atlasName, const TMapLayouts& layouts,
                 const TExportOptions& options, const TExportProgress& progress) {
  // Everything that can be refused is refused before the first file is written.
  CheckAtlasExport(atlasName, layouts, options);
  const TTileSize tileSize = CheckOptions(options);
  const std::string t = CheckedDirectory(targetDirectory);

  std::vector<std::string> atlasEntries;
  TAtlasEntries entries(atlasEntries);
  TPackedMaps packed(options.Tared);
  CheckStop(progress);
  {
    TTextWriter atlasFile(t + atlasName + ".vka");
    atlasFile.WriteLine("Atlas 1.0");
    atlasFile.Close();
  }
  atlasEntries.push_back(atlasName + ".vka");

  // The layouts, then each zoom-out level's layer of every layout.
  for (int level = 0; level <= options.ZoomOutLayers; ++level) {
    for (int i = 0; i < layouts.Count(); ++i) {
      const TMapLayout& layout = *layouts[i];
      const std::string layer = (level == 0 ? layout.Name : ZoomOutLayerName(layout.Name, level)) + "/";
      CreateDirectoryQuiet(t + layer);
      atlasEntries.push_back(layer);
      for (int j = 0; j < layout.Areas->Count(); ++j) {
        const TMapArea& area = *(*layout.Areas)[j];
        const std::string prefix = layer + ExportMapName(area) + "/";
        CreateDirectoryQuiet(t + prefix);
        atlasEntries.push_back(prefix);
        ExportTileSetChecked(t + prefix, area, level, prefix, true, options, tileSize, entries, packed, progress);
      }
    }
  }
  packed.RemoveTiles();

  if (!options.Tared) return;
  WriteArchive(t + atlasName + ".tar", [&](TTarWriter& tar) {
    for (const std::string& entry : atlasEntries) {
      CheckStop(progress);
      if (!entry.empty() && entry.back() == '/')
        tar.AddDirectory(entry, LocalNow(), 0);
      else
        tar.AddFile(t + entry, ArchiveName(entry));
    }
  });
  packed.Release();
  for (auto it = atlasEntries.rbegin(); it != atlasEntries.rend(); ++it) {
    if (!it->empty() && it->back() == '/')
      RemoveDirectoryQuiet(t + *it);
    else
      DeleteFileQuiet(t + *it);
  }
}

void ExportSingleMap(const std::string& targetDirectory, const TMapArea* area, const TExportOptions& options,
                     const TExportProgress& progress) {
  CheckSingleMapExport(area, options);
  std::vector<std::string> atlasEntries;
  ExportTileSet(targetDirectory, *area, "", false, options, atlasEntries, progress);
}

void CreateTargetDirectory(const std::string& targetDirectory) {
  std::error_code ec;
  if (std::filesystem::is_directory(targetDirectory, ec)) return;
  std::filesystem::create_directories(targetDirectory, ec);
  if (ec || !std::filesystem::is_directory(targetDirectory))
    throw EFileError(msg::CannotCreateTargetDirectory(targetDirectory) + (ec ? ": " + ec.message() : std::string()));
}

} // namespace zv
