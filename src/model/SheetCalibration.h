// A sheet's calibration file: its four frame corners on the picture tied to
// the sheet's corner latitudes and longitudes, in the sheet's own plane.
#pragma once

#include "model/SheetIndex.h"

#include <array>
#include <string>
#include <vector>

namespace zv {

struct TPixelCorner {
  double X = 0;
  double Y = 0;
};

// North-west, north-east, south-east, south-west, as TSheet::Corners().
using TFrameCorners = std::array<TPixelCorner, 4>;

// The lines of a .map file naming image (as line 3 holds it) of width ×
// height pixels, titled title, with four points at the corners and the
// sheet's datum and projection lines.
std::vector<std::string> SheetMapLines(const TSheet& sheet, const TFrameCorners& corners, const std::string& title,
                                       const std::string& image, int width, int height);

// How those lines read back: the fit the program makes of them in their
// plane. Raises a zv::Error when they give none (the reason in words).
struct TSheetFitCheck {
  double Rms = 0;
  // The largest distance in pixels between a corner given and where the
  // read-back fit puts its latitude and longitude.
  double WorstCorner = 0;
};
TSheetFitCheck CheckSheetMapLines(const std::vector<std::string>& lines, const TFrameCorners& corners);

} // namespace zv
