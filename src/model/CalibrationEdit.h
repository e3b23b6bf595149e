// Editing an area's calibration points from a table of rows: reading typed
// cells, rebuilding the points from the rows, telling edits from what was
// read or saved, and the findings to show beside each row.
#pragma once

#include "model/CalibrationPoint.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zv {

class TMapArea;

// One row of the calibration table; an empty cell reads as 0.
struct TCalibrationRow {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  double Lat = 0;
  double Lon = 0;
  // Whether both coordinate cells hold a number: then even 0 N 0 E is a place.
  bool LatLonGiven = false;
  // A row whose own coordinates are its easting and northing (both given
  // or not): its latitude and longitude cells only show them.
  bool GridTyped = false;
  bool GridGiven = false;
  double Easting = 0;
  double Northing = 0;
};

// The columns of grid coordinates a map's table shows: none in latitude and
// longitude, easting and northing in a projected plane, and the zone too in UTM.
enum class TGridColumns { None, Grid, Utm };
TGridColumns GridColumnsOf(const TMapArea& area);

// A point as the table shows it: the pair it is given by, and the other
// pair through the map's projection (empty where there is no answer); the
// zone as "33N" on a UTM map.
struct TPointCoordinates {
  bool GridTyped = false;
  std::optional<double> Lat, Lon, Easting, Northing;
  std::string Zone;
};
TPointCoordinates PointCoordinates(const TMapArea& area, const TCalibrationPoint& point);
// "33N", "56S".
std::string UtmZoneText(int zone, bool south);

// A typed cell: blanks only give no value; text that is no number of the
// cell's kind gives false and the user-visible message.
bool ParseIntegerCell(const std::string& text, std::optional<std::int32_t>& value, std::string& error);
bool ParseRealCell(const std::string& text, std::optional<double>& value, std::string& error);

// A typed latitude (latitude true) or longitude as maps print them: signed
// decimal degrees, or degrees and minutes, or degrees, minutes and seconds,
// with the marks ° ' " (or blanks) between them, "." or "," (or the user's
// separator) as the decimal point, and a hemisphere letter before or after
// ("46°25.5'N", "46 25 30 N", "N46.425", "70°30'W", "-70.5"). A letter of the
// other axis, a sign beside a letter, minutes or seconds of 60 or more, or a
// value beyond 90 (180) degrees is refused with a message listing the forms.
bool ParseCoordinateCell(const std::string& text, bool latitude, std::optional<double>& value, std::string& error);

// The area's points := the rows, in their order. A row stands for the point
// at its place (the table changes one row between write-backs: the rows
// equal to the points at either end are those points, and a row edited in
// place is the point it was); such a row keeps, while its latitude and
// longitude stay, what the table does not show: whether they say where the
// point is ("grid only" points read 0, 0) and its grid words. Any other row
// has latitude and longitude when its cells give them (or, from callers that
// do not tell, unless both are 0), and no grid words. A grid-typed row gives
// a point of grid words alone, in the map's UTM zone (a point read in another
// zone keeps its own while its easting and northing stay).
void WriteBackCalibrationPoints(TMapArea& area, const std::vector<TCalibrationRow>& rows);

// Whether Points differ from SavedPoints (compared at the table's double precision).
bool PointsChanged(const TMapArea& area);

// The fit of the area's points in words: "Fit of 4 points, RMS 0.8 px", or
// why there is none.
std::string FitSummary(const TMapArea& area);

// Per point, in order: the texts of every finding about it, one per line;
// empty for a point without any.
std::vector<std::string> PointFindingTexts(const TMapArea& area);

} // namespace zv
