// The plane a map is drawn in, read from a .map file's datum line, "Map
// Projection" line and "Projection Setup" line. This pair of files is the
// only part of the program that sees GDAL.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zv {

class TMapProjection {
public:
  // Latitude and longitude in WGS 84: .gmi files, images opened alone.
  TMapProjection();
  // A .map file's lines. A projection neither GDAL nor the table of further
  // projections knows leaves latitude and longitude in the map's datum and
  // names itself in Unknown(); a datum GDAL does not know is WGS 84 and a
  // note; no projection lines at all leave latitude and longitude.
  explicit TMapProjection(const std::vector<std::string>& mapLines);
  ~TMapProjection();
  TMapProjection(const TMapProjection&) = delete;
  TMapProjection& operator=(const TMapProjection&) = delete;

  // Whether the plane is a projected one, in metres; otherwise it is the
  // longitude (east) and latitude (north) of the calibration's datum.
  bool Projected() const;
  // The PROJ definition of the plane, or "latlong" when none was made.
  const std::string& Definition() const;
  // "NAME" of "The map's projection NAME is not known"; empty when known.
  const std::string& Unknown() const;
  // What else the user should know of the plane, as findings: a datum not
  // known, a UTM zone taken from the points.
  const std::vector<std::string>& Notes() const { return notes_; }
  // The "MSF" line's factor: the calibration's pixels are for the picture
  // scaled by it, so a picture pixel is a calibration pixel / Msf(). 1 without one.
  double Msf() const { return msf_; }
  // The UTM zone of the plane (1..60) and its hemisphere; 0 for a plane that
  // is no UTM zone.
  int UtmZone(bool& south) const;
  // The name on the "Map Projection" line; empty without one.
  const std::string& Name() const { return name_; }
  // Whether this was made from these lines.
  bool MadeFrom(const std::vector<std::string>& mapLines) const { return mapLines == lines_; }

  // Latitudes and longitudes of the calibration's datum into the plane, in
  // place; a pair with no answer becomes NaN.
  void ToPlane(std::vector<double>& lonEast, std::vector<double>& latNorth) const;
  // A point's grid words into the plane: its zone (0 when not given) and
  // hemisphere matter for UTM only. False when the plane is no grid.
  bool GridToPlane(int zone, bool south, double easting, double northing, double& east, double& north) const;
  // A plane position to latitude and longitude, in WGS 84 or in the
  // calibration's own datum, and back; false when there is no answer.
  bool PlaneToWgs84(double east, double north, double& lat, double& lon) const;
  bool Wgs84ToPlane(double lat, double lon, double& east, double& north) const;
  bool PlaneToDatum(double east, double north, double& lat, double& lon) const;
  // Many positions at once, in place: WGS 84 longitude and latitude into the
  // plane, and back; a pair with no answer becomes NaN. One call into PROJ
  // for them all, as the grid drawn over a map needs thousands per repaint.
  void Wgs84ToPlane(std::vector<double>& lonEast, std::vector<double>& latNorth) const;
  void PlaneToWgs84(std::vector<double>& east, std::vector<double>& north) const;

private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
  std::vector<std::string> lines_;
  std::string definition_ = "latlong";
  std::string unknown_;
  std::string name_;
  std::vector<std::string> notes_;
  double msf_ = 1;
};

// A projection the fit reads, by its .map name, with the "Projection Setup"
// fields it uses: bit n for field n (1 latitude of origin, 2 central
// meridian, 3 scale, 4 false easting, 5 false northing, 6 and 7 the standard
// parallels). UTM uses none: its zone rides on the points.
struct TProjectionKind {
  std::string Name;
  unsigned Fields = 0;
};
// GDAL's .map projections, then the table of further ones.
const std::vector<TProjectionKind>& ProjectionKinds();
// The datum names of GDAL's datum table, in its order; empty when GDAL's
// table is not found.
std::vector<std::string> DatumNames();

} // namespace zv
