// The converter's --calibrate-sheet and --calibrate-sheets: a .map beside
// each picture from its sheet's name (or typed bounds) and its frame found
// on the picture.
#pragma once

#include <string>

namespace zv {

struct TCommandLine;

// One picture's outcome, as its report lines say it.
struct TSheetOutcome {
  bool Written = false;
  std::string Report; // lines ending in "\n"
};

// Calibrates picture as the sheet sheetText names (a name or bounds; empty:
// the name of the picture's file); the .map is written whole or not at all,
// and an existing one is replaced only with cl.Reload.
TSheetOutcome CalibrateSheetPicture(const TCommandLine& cl, const std::string& sheetText, const std::string& picture);

// Every picture of the command line; exit status 0 when each got its .map.
int RunSheetCalibration(const TCommandLine& cl);

} // namespace zv
