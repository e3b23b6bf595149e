#include "cli/CommandLine.h"

#include "base/Messages.h"
#include "base/Paths.h"
#include "export/ZoomOut.h"

#include <optional>

namespace zv {

namespace {

// The arguments not read yet, argv[0] aside.
class TArguments {
public:
  TArguments(int argc, char** argv) : argc_(argc), argv_(argv) {}
  bool AtEnd() const { return next_ >= argc_; }
  std::string Take() { return argv_[next_++]; }

private:
  int argc_;
  char** argv_;
  int next_ = 1;
};

// One option: its name and its value, which "--name=value" and "-oDIR" carry
// inline and the others take from the next argument.
class TOption {
public:
  TOption(const std::string& arg, TArguments& rest) : rest_(rest), name_(arg) {
    if (arg.rfind("--", 0) == 0) {
      const auto eq = arg.find('=');
      if (eq != std::string::npos) {
        inlineValue_ = arg.substr(eq + 1);
        name_.resize(eq);
      }
    } else if (arg.size() > 2 && arg[1] == 'o') {
      inlineValue_ = arg.substr(2);
      name_ = "-o";
    }
  }

  const std::string& Name() const { return name_; }

  std::string Value() {
    if (inlineValue_) return *inlineValue_;
    if (rest_.AtEnd()) throw TUsageError{msg::OptionNeedsValue(name_)};
    return rest_.Take();
  }

  void RefuseValue() const {
    if (inlineValue_) throw TUsageError{msg::OptionTakesNoValue(name_)};
  }

private:
  TArguments& rest_;
  std::string name_;
  std::optional<std::string> inlineValue_;
};

// Options that switch something on; false when the option is none of them.
bool ApplySwitch(const TOption& option, TCommandLine& cl) {
  const std::string& name = option.Name();
  bool noCrop = false;
  // Help and version stop the run before anything else is looked at, a value
  // given with them included.
  if (name == "-h" || name == "--help") {
    cl.Help = true;
    return true;
  }
  if (name == "--version") {
    cl.Version = true;
    return true;
  }
  bool* target = nullptr;
  if (name == "--single")
    target = &cl.Single;
  else if (name == "--tar")
    target = &cl.Options.Tared;
  else if (name == "--reload")
    target = &cl.Reload;
  else if (name == "--list")
    target = &cl.List;
  else if (name == "--check")
    target = &cl.Check;
  else if (name == "-q" || name == "--quiet")
    target = &cl.Quiet;
  else if (name == "--no-crop")
    target = &noCrop;
  else
    return false;
  option.RefuseValue();
  *target = true;
  if (noCrop) cl.MapAppOptions.Crop = false;
  return true;
}

void SetTileSize(const std::string& value, TExportOptions& options) {
  const auto x = value.find_first_of("xX");
  if (x == std::string::npos) throw TUsageError{msg::TileExpectsSize};
  options.TileWidthText = value.substr(0, x);
  options.TileHeightText = value.substr(x + 1);
}

TTileFormat TileFormat(const std::string& value) {
  const std::string v = UpperCaseAscii(value);
  if (v == "JPEG" || v == "JPG") return TTileFormat::Jpeg;
  if (v == "PNG") return TTileFormat::Png;
  throw TUsageError{msg::FormatExpectsName};
}

int DepthRow(const std::string& value) {
  std::int32_t row = -1;
  if (!ParseIntegerText(value, row) || row < 0 || row > 7) throw TUsageError{msg::DepthExpectsRow};
  return row;
}

int ZoomOutLayers(const std::string& value) {
  std::int32_t layers = -1;
  if (!ParseIntegerText(value, layers) || layers < 0 || layers > kMaxZoomOutLayers)
    throw TUsageError{msg::ZoomOutExpectsCount};
  return layers;
}

int NumberInRange(const std::string& value, int low, int high, const char* problem) {
  std::int32_t n = -1;
  if (!ParseIntegerText(value, n) || n < low || n > high) throw TUsageError{problem};
  return n;
}

// The map-app file and its own options; false when the option is none of them.
bool ApplyMapAppOption(TOption& option, TCommandLine& cl) {
  const std::string& name = option.Name();
  TMapAppOptions& o = cl.MapAppOptions;
  const std::pair<const char*, TMapAppFormat> targets[] = {
      {"--mbtiles", TMapAppFormat::Mbtiles}, {"--sqlitedb", TMapAppFormat::SqliteDb}, {"--kmz", TMapAppFormat::Kmz}};
  for (const auto& [target, format] : targets) {
    if (name != target) continue;
    if (cl.MapApp || cl.HasOutput) throw TUsageError{msg::MapAppOneTarget};
    o.Target = option.Value();
    if (o.Target.empty()) throw TUsageError{msg::MapAppOneTarget};
    o.Format = format;
    cl.MapApp = true;
    return true;
  }
  if (name == "--min-zoom")
    o.MinZoom = NumberInRange(option.Value(), 0, kMaxMapAppZoom, msg::MinZoomExpectsLevel);
  else if (name == "--max-zoom")
    o.MaxZoom = NumberInRange(option.Value(), 0, kMaxMapAppZoom, msg::MaxZoomExpectsLevel);
  else if (name == "--kmz-tiles")
    o.KmzTiles = NumberInRange(option.Value(), 1, kMaxKmzTiles, msg::KmzTilesExpectsCount);
  else
    return false;
  return true;
}

// Options that take a value; false when the option is none of them.
bool ApplyValueOption(TOption& option, TCommandLine& cl) {
  const std::string& name = option.Name();
  if (ApplyMapAppOption(option, cl)) return true;
  if (name == "-o" || name == "--output") {
    if (cl.MapApp) throw TUsageError{msg::MapAppOneTarget};
    cl.Output = option.Value();
    cl.HasOutput = true;
    if (cl.Output.empty()) throw TUsageError{msg::TargetDirectoryEmpty};
  } else if (name == "--atlas-name") {
    cl.AtlasName = option.Value();
  } else if (name == "--tile") {
    SetTileSize(option.Value(), cl.Options);
  } else if (name == "--tile-width") {
    cl.Options.TileWidthText = option.Value();
  } else if (name == "--tile-height") {
    cl.Options.TileHeightText = option.Value();
  } else if (name == "--format") {
    cl.Options.Format = TileFormat(option.Value());
  } else if (name == "--quality") {
    cl.Options.QualityText = option.Value();
  } else if (name == "--depth") {
    cl.Options.DepthRow = DepthRow(option.Value());
  } else if (name == "--zoom-out") {
    cl.Options.ZoomOutLayers = ZoomOutLayers(option.Value());
  } else {
    return false;
  }
  return true;
}

// The sheet calibration's options; false when the option is none of them.
bool ApplySheetOption(TOption& option, TCommandLine& cl) {
  const std::string& name = option.Name();
  if (name == "--calibrate-sheets") {
    option.RefuseValue();
    cl.CalibrateSheets = true;
  } else if (name == "--calibrate-sheet") {
    cl.CalibrateSheet = option.Value();
    if (cl.CalibrateSheet.empty()) throw TUsageError{msg::CalibrateSheetEmpty};
  } else if (name == "--datum") {
    cl.SheetDatum = option.Value();
  } else if (name == "--projection") {
    cl.SheetProjection = option.Value();
    if (cl.SheetProjection != "gauss-kruger" && cl.SheetProjection != "utm" && cl.SheetProjection != "latlong")
      throw TUsageError{msg::ProjectionExpectsName};
  } else {
    return false;
  }
  return true;
}

// A sheet calibration writes .map files beside the pictures and exports nothing.
void CheckCalibrating(const TCommandLine& cl) {
  if (cl.Files.empty()) throw TUsageError{msg::NoInputFile};
  if (cl.CalibrateSheets && !cl.CalibrateSheet.empty()) throw TUsageError{msg::CalibrateSheetTwice};
  if (!cl.CalibrateSheet.empty() && cl.Files.size() != 1) throw TUsageError{msg::CalibrateSheetOnePicture};
  if (cl.List || cl.Check || cl.HasOutput || cl.Single) throw TUsageError{msg::CalibrateSheetAlone};
}

// What every run needs once all options are read.
void CheckComplete(const TCommandLine& cl) {
  if (cl.Calibrating()) return CheckCalibrating(cl);
  if (cl.Files.empty()) throw TUsageError{msg::NoInputFile};
  if (cl.List && cl.Check) throw TUsageError{msg::ListWithCheck};
  if (!cl.List && !cl.Check && !cl.HasOutput && !cl.MapApp) throw TUsageError{msg::TargetDirectoryRequired};
  if (cl.MapApp && (cl.Single || cl.Options.Tared || cl.Options.ZoomOutLayers > 0))
    throw TUsageError{msg::MapAppWithAmbuloOptions};
  // Zoom-out layers are layers of an atlas; a single map has none.
  if (cl.Single && cl.Options.ZoomOutLayers > 0) throw TUsageError{msg::ZoomOutWithSingle};
}

} // namespace

TCommandLine ParseCommandLine(int argc, char** argv) {
  TCommandLine cl;
  TArguments args(argc, argv);
  bool optionsEnded = false;
  while (!args.AtEnd()) {
    const std::string arg = args.Take();
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      cl.Files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    TOption option(arg, args);
    if (!ApplySwitch(option, cl) && !ApplyValueOption(option, cl) && !ApplySheetOption(option, cl)) throw TUsageError{msg::UnknownOption(option.Name())};
  }
  if (!cl.Help && !cl.Version) CheckComplete(cl);
  return cl;
}

} // namespace zv
