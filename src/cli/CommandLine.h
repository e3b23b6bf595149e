// The converter's command line, parsed apart from running it.
#pragma once

#include "export/ExportToAmbulo.h"
#include "export/ExportToMapApps.h"

#include <string>
#include <vector>

namespace zv {

// A command line the converter refuses; the message says why.
struct TUsageError {
  std::string Message;
};

// What the converter was asked to do.
struct TCommandLine {
  std::string Output;
  bool HasOutput = false;
  bool Single = false;
  std::string AtlasName = "myatlas";
  TExportOptions Options;
  bool Reload = false;
  bool List = false;
  bool Check = false;
  bool Quiet = false;
  bool Help = false;
  bool Version = false;
  std::vector<std::string> Files;
  // --mbtiles, --sqlitedb or --kmz instead of -o: one file for map apps.
  bool MapApp = false;
  TMapAppOptions MapAppOptions;
  // --calibrate-sheet NAME_OR_BOUNDS, --calibrate-sheets, and for bounds
  // --datum and --projection (gauss-kruger, utm or latlong).
  std::string CalibrateSheet;
  bool CalibrateSheets = false;
  std::string SheetDatum;
  std::string SheetProjection;
  bool Calibrating() const { return CalibrateSheets || !CalibrateSheet.empty(); }
};

// The options and files of argv[1..argc-1]; raises TUsageError.
TCommandLine ParseCommandLine(int argc, char** argv);

} // namespace zv
