// Map sheets whose corners lie on round latitudes and longitudes: the sheets
// of the international 1:1,000,000 index and its subdivisions down to
// 1:10,000, named as printed ("M-34-37-Б-в"), and quadrangles given by their
// four bounds. Each gives its four corners and the plane it is drawn in.
#pragma once

#include "model/ProjectionLines.h"

#include <array>
#include <string>

namespace zv {

struct TGeoCorner {
  double Lat = 0;
  double Lon = 0;
};

struct TSheet {
  // The name in its printed form ("M-34-37-Б-в", "P-35-1,2"), or the bounds.
  std::string Name;
  // The scale's denominator; 0 for a quadrangle of typed bounds.
  int Scale = 0;
  // Degrees in the sheet's datum, south < north, west < east (east of 180°
  // may exceed 180).
  double South = 0, North = 0, West = 0, East = 0;
  TPlaneSetup Plane;

  // North-west, north-east, south-east, south-west: the order the corners
  // are asked for and written in.
  std::array<TGeoCorner, 4> Corners() const;
};

// The datum of the international index's sheets, as .map files name it.
inline constexpr const char* kPulkovo1942 = "Pulkovo 1942 (1)";

// A sheet of the index north of the equator, on Pulkovo 1942 in the
// Gauss-Krüger zone of its central longitude. Cyrillic letters and their
// Latin forms, leading zeros and spaces or no hyphens between the parts are
// accepted. An invalid name raises a zv::Error saying which part is wrong.
TSheet SheetFromName(const std::string& name);

enum class TSheetPlane { GaussKruger, Utm, LatLong };

// A quadrangle from "SOUTH, NORTH, WEST, EAST" (also separated by ";" or
// "/"), each in degrees and minutes ("48 30", "48°30'", "48:30.5", "-17 6",
// "17 06 E", seconds allowed), drawn on datum in the zone of its centre.
// Raises a zv::Error naming the bound that is wrong.
TSheet SheetFromBounds(const std::string& text, TSheetPlane plane = TSheetPlane::GaussKruger,
                       const std::string& datum = kPulkovo1942);

// Whether text is to be read as bounds rather than as a sheet name.
bool LooksLikeBounds(const std::string& text);

// "1:25,000"
std::string ScaleText(int denominator);

} // namespace zv
