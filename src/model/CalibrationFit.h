#pragma once

#include "model/CalibrationPoint.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace zv {

class TMapArea;
class TMapProjection;

// A least-squares affine fit from picture pixels to the plane the map is
// drawn in: the projected plane of a .map's projection (TMapProjection), or,
// without one, latitude and longitude around the points (east = (lon - lon0)
// * cos(lat0), north = lat - lat0). Points take part with their latitude and
// longitude or, in a projected plane, their grid words.
//
// A map area keeps its fit (TMapArea::Fit) and makes it again only when its
// points or calibration lines change, so asking it is cheap.
class TCalibrationFit {
public:
  // Latitude and longitude in WGS 84.
  explicit TCalibrationFit(const std::vector<TCalibrationPoint>& points);
  TCalibrationFit(const std::vector<TCalibrationPoint>& points, std::shared_ptr<const TMapProjection> projection);

  bool Valid() const { return valid_; }
  // Why there is no fit, in words for the user; empty when there is one.
  const std::string& Problem() const { return problem_; }
  int PointsUsed() const { return used_; }
  double Rms() const { return rms_; }
  // Per point, in the order given: the distance in pixels between the
  // point's pixel and the pixel the fit gives for its coordinates; negative
  // for a point that takes no part.
  const std::vector<double>& Residuals() const { return residuals_; }
  // Per point: the same distance in the fit of all the other points;
  // negative for a point that takes no part, NaN when the others give no fit.
  const std::vector<double>& LooDistances() const { return looDistances_; }

  // Named by the search for wrong points (5 points or more): the point
  // whose leaving out makes the rest agree best, while it lies over 5 px and
  // over 3 x (their RMS + 1 px) from where they put it; then again among the
  // rest while 5 remain.
  // A suspect point takes no part in the fit the positions come from: the
  // fit, its RMS and PointsUsed() are the rest's; Residuals() still gives its distance.
  bool Suspect(std::size_t index) const;
  // Whether the search stopped at its limit of named points, so that more
  // may be wrong.
  bool MoreMayBeWrong() const { return valid_ && searchStopped_; }
  // For a suspect point: its distance from the others' fit when it was
  // named, and their RMS; NaN for other points.
  double SuspectDistance(std::size_t index) const;
  double SuspectOthersRms(std::size_t index) const;

  // The plane the fit is made in: the PROJ definition, or "latlong".
  const std::string& PlaneDefinition() const;
  // Why the map's own projection is not used ("The map's projection NAME is
  // not known; ..."); empty when it is, or when the map names none.
  const std::string& ProjectionProblem() const { return projectionProblem_; }
  const std::shared_ptr<const TMapProjection>& Projection() const { return projection_; }
  // The projection the fit was asked to use: Projection(), unless that one
  // placed no points and the fit fell back to latitude and longitude.
  const std::shared_ptr<const TMapProjection>& RequestedProjection() const { return requested_; }
  // Whether this fit was made of exactly these points.
  bool MadeFrom(const std::vector<TCalibrationPoint>& points) const;

  // Picture pixel to latitude and longitude in WGS 84, and back; false
  // without a fit or for a position that gives no finite answer.
  bool PixelToLatLon(double x, double y, double& lat, double& lon) const;
  bool LatLonToPixel(double lat, double lon, double& x, double& y) const;
  // Many positions at once, in place: WGS 84 longitudes (in x) and latitudes
  // (in y) to picture pixels, and back; NaN where there is no answer.
  void Wgs84ToPixels(std::vector<double>& x, std::vector<double>& y) const;
  void PixelsToWgs84(std::vector<double>& x, std::vector<double>& y) const;
  // Picture pixel to the plane of PlaneDefinition() (for a latitude and
  // longitude plane: longitude east, latitude north), and back.
  bool PixelToPlane(double x, double y, double& east, double& north) const;
  bool PlaneToPixel(double east, double north, double& x, double& y) const;
  // Picture pixel to latitude and longitude in the map's own datum.
  bool PixelToDatum(double x, double y, double& lat, double& lon) const;

private:
  struct TPlanePoint;
  struct TAffineState {
    int Used;
    double Rms;
    std::vector<double> Residuals;
    double A[3], B[3];
  };
  // The fall-back fit in the latitude-longitude plane, at the map's pixel scale.
  TCalibrationFit(const std::vector<TCalibrationPoint>& points, std::shared_ptr<const TMapProjection> projection,
                  double msf, bool unwrap);
  void TryAcross180();
  TAffineState State() const;
  void Restore(const TAffineState& state);
  void LeaveOutWrongPoints(const std::vector<TPlanePoint>& placed);
  void MeasureResiduals(const std::vector<TPlanePoint>& placed, const std::vector<TPlanePoint>& used);
  // The points in the plane, the least-squares solution, and each point's
  // distance from it; then the wrong-point search.
  bool PlacePoints(const std::vector<TCalibrationPoint>& points, std::vector<TPlanePoint>& placed);
  bool Solve(const std::vector<TPlanePoint>& placed);
  void MeasureResiduals(const std::vector<TPlanePoint>& placed);
  void FindWrongPoints(const std::vector<TPlanePoint>& placed);
  bool CentredPlaneToPixel(double de, double dn, double& x, double& y) const;

  std::shared_ptr<const TMapProjection> projection_;
  std::shared_ptr<const TMapProjection> requested_;
  std::vector<TCalibrationPoint> points_;
  bool valid_ = false;
  std::string problem_;
  std::string projectionProblem_;
  int used_ = 0;
  double rms_ = 0;
  std::vector<double> residuals_;
  std::vector<double> looDistances_;
  std::vector<double> suspectDistance_, suspectRms_;
  bool searchStopped_ = false;
  double msf_ = 1;                  // picture pixel = calibration pixel / msf
  bool unwrap_ = false;             // longitudes continuous around the first point's
  double cosLat0_ = 1;              // east scale of the latitude-longitude plane
  double xm_ = 0, ym_ = 0;          // pixel centre
  double em_ = 0, nm_ = 0;          // plane centre
  double a0_ = 0, a1_ = 0, a2_ = 0; // east = em + a0 + a1 (x - xm) + a2 (y - ym)
  double b0_ = 0, b1_ = 0, b2_ = 0; // north = nm + b0 + b1 (x - xm) + b2 (y - ym)
};

// One finding about an area's calibration, with what to do about it.
struct TCalibrationFinding {
  int Point = 0; // 1-based point number, 0 when the finding is about the map
  std::string Message;
};

// Every check of one area: no fit, a projection that cannot be used, wrong
// points (or, with 3 or 4 points, points that disagree), points outside the
// picture, coordinates out of range, a picture resized after calibration, a
// map without a picture.
std::vector<TCalibrationFinding> CheckCalibration(const TMapArea& area);

// "48°30.125' N  17°06.000' E": degrees and decimal minutes with hemisphere letters.
std::string FormatLatLon(double lat, double lon);

// A position in a projected plane to the metre, in groups of three digits:
// "612 345 E 5 483 210 N"; in a UTM zone (1..60) led by the zone and the
// latitude band of lat, "33U 612 345 E 5 483 210 N" (the hemisphere letter
// beyond the bands, "33N").
std::string FormatGridPosition(double easting, double northing, int zone = 0, bool south = false, double lat = 0);

// What the status bar says of picture pixel (x, y) of area: the position and,
// when the area's points give a fit, the latitude and longitude (WGS 84)
// there, "x 1234  y 567   48°30.125' N  17°06.000' E   fit of 4 points, RMS 0.8 px";
// in a projected plane the grid position follows the latitude and longitude.
// Uses the area's kept fit: no transformation of the points per call.
std::string PointerReadout(const TMapArea& area, int x, int y);

} // namespace zv
