// One calibration point: its own header, since every map area holds its
// points while only the parser and the editors need the calibration text routines.
#pragma once

#include <cstdint>

namespace zv {

struct TCalibrationPoint {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  long double Lon = 0;
  long double Lat = 0;
  // Whether Lat and Lon came from words of the calibration (or the user):
  // "grid only" points read 0, 0 but say nothing of where they are.
  bool HasLatLon = false;
  // The grid words of a .map point ("grid, 11, 440818, 3751222, N"): easting
  // and northing in the map's projected plane, with the UTM zone (0 when
  // blank) and hemisphere. Points that give only these take part in the fit
  // when the map's projection is a projected one.
  bool HasGrid = false;
  std::int32_t GridZone = 0;
  bool GridSouth = false;
  double Easting = 0;
  double Northing = 0;
};

} // namespace zv
