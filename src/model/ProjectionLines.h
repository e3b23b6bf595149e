// The lines of a .map file that name the plane its map is drawn in: the
// datum line (line 5), the "Map Projection" line and the "Projection Setup"
// line, as GDAL's reader of the format reads them back.
#pragma once

#include "model/CalibrationPoint.h"

#include <string>
#include <vector>

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

// The projection whose zone the points' grid words carry; its setup line is empty.
inline constexpr const char* kUtmProjection = "(UTM) Universal Transverse Mercator";

// A map's plane as the user chooses it: the setup, and for UTM its zone
// (0 when none is given) and hemisphere.
struct TPlaneChoice {
  TPlaneSetup Setup;
  int Zone = 0;
  bool South = false;
};

// The plane a .map file's lines name: line 5's datum, the "Map Projection"
// name, the "Projection Setup" numbers (blank ones as GDAL reads them: 0, the
// scale 1) and the UTM zone of the first point with grid words. Lines without
// a "Map Projection" line (a .gmi, a lone image) give WGS 84 in latitude and longitude.
TPlaneChoice ReadPlaneChoice(const std::vector<std::string>& lines);
// lines with choice written in: line 5, the "Map Projection" and "Projection
// Setup" lines (put in when missing), and for UTM the zone and hemisphere
// words of every point line that gives a position. Lines shorter than five
// are filled with the usual header first.
std::vector<std::string> WithPlaneChoice(std::vector<std::string> lines, const TPlaneChoice& choice);
// The UTM zone of the points' mean longitude (longitudes taken around the
// first one's), and whether their mean latitude is south; 0 without a
// point that has latitude and longitude.
int ProposedUtmZone(const std::vector<TCalibrationPoint>& points, bool& south);

// Whether two choices name the same plane as the file holds it: the zone
// and hemisphere count for UTM only, the setup numbers for the projections
// that write them.
bool SamePlane(const TPlaneChoice& a, const TPlaneChoice& b);
// choice as it reads back once written: its numbers at the file's
// precision, no zone outside UTM.
TPlaneChoice NormalisedPlane(const TPlaneChoice& choice);
// The lines a map in plane choice is fitted in: the header with choice's
// datum, its projection lines and, for UTM with a zone, one point line with
// the zone's grid words (GDAL takes the zone from those only); mapLines'
// "MSF" line, the picture scale, is kept.
std::vector<std::string> PlaneLines(const TPlaneChoice& choice, const std::vector<std::string>& mapLines);
// lines with the zone words of choice (UTM with a zone) on the point lines
// at the indices given, as WithPlaneChoice writes them on every point line.
void WriteZoneWordsAt(std::vector<std::string>& lines, const TPlaneChoice& choice, const std::vector<std::size_t>& at);

} // namespace zv
