// The lines of a .map file that name the plane its map is drawn in: the
// datum line (line 5), the "Map Projection" line and the "Projection Setup"
// line, as GDAL's reader of the format reads them back.
#pragma once

#include <string>

namespace zv {

struct TPlaneSetup {
  // A datum name of the format ("WGS 84", "Pulkovo 1942 (1)", ...).
  std::string Datum = "WGS 84";
  // The format's projection name ("Latitude/Longitude", "Transverse Mercator", ...).
  std::string Projection = "Latitude/Longitude";
  double LatitudeOfOrigin = 0;
  double CentralMeridian = 0;
  double ScaleFactor = 1;
  double FalseEasting = 0;
  double FalseNorthing = 0;
  double StandardParallel1 = 0;
  double StandardParallel2 = 0;
};

// Transverse Mercator planes of the two zone systems.
// Gauss-Krüger 6° zone n (1..60): central meridian 6n - 3, false easting
// n × 1,000,000 + 500,000, scale 1.
TPlaneSetup GaussKrugerZone(const std::string& datum, int zone);
// UTM zone (1..60) of the northern or southern hemisphere.
TPlaneSetup UtmZone(const std::string& datum, int zone, bool south);
// The zones holding a longitude (degrees east, any turn); a longitude on a
// boundary belongs to the zone east of it.
int GaussKrugerZoneOf(double lon);
int UtmZoneOf(double lon);

std::string DatumLine(const TPlaneSetup& setup);
std::string MapProjectionLine(const TPlaneSetup& setup);
std::string ProjectionSetupLine(const TPlaneSetup& setup);

} // namespace zv
