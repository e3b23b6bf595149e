#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zv {

class TMapArea;
struct TCalibrationPoint;

// A least-squares affine fit from picture pixels to a local plane around the
// calibration points (east = (lon - lon0) * cos(lat0), north = lat - lat0, in
// degrees, lat0 and lon0 the points' mean). Points without latitude and
// longitude take no part.
class TCalibrationFit {
public:
  explicit TCalibrationFit(const std::vector<TCalibrationPoint>& points);

  bool Valid() const { return valid_; }
  // Why there is no fit, in words for the user; empty when there is one.
  const std::string& Problem() const { return problem_; }
  int PointsUsed() const { return used_; }
  double Rms() const { return rms_; }
  // Per point, in the order given: the distance in pixels between the
  // point's pixel and the pixel the fit gives for its latitude and
  // longitude; negative for a point that takes no part.
  const std::vector<double>& Residuals() const { return residuals_; }
  // Residual over 3 x the RMS of the others and over 5 pixels.
  bool Suspect(std::size_t index) const;

  // Picture pixel to latitude and longitude; false without a fit or for a
  // position that gives no finite answer.
  bool PixelToLatLon(double x, double y, double& lat, double& lon) const;
  bool LatLonToPixel(double lat, double lon, double& x, double& y) const;

private:
  // The steps of the fit: the mean of the points, the least-squares solution
  // (false when the points allow none), and each point's distance from it.
  void Centre(const std::vector<TCalibrationPoint>& points, const std::vector<std::size_t>& used);
  bool Solve(const std::vector<TCalibrationPoint>& points, const std::vector<std::size_t>& used);
  void MeasureResiduals(const std::vector<TCalibrationPoint>& points, const std::vector<std::size_t>& used);

  bool valid_ = false;
  std::string problem_;
  int used_ = 0;
  double rms_ = 0;
  std::vector<double> residuals_;
  double lat0_ = 0, lon0_ = 0, cosLat0_ = 1;
  double xm_ = 0, ym_ = 0;           // pixel centre
  double a0_ = 0, a1_ = 0, a2_ = 0;  // east = a0 + a1 (x - xm) + a2 (y - ym)
  double b0_ = 0, b1_ = 0, b2_ = 0;  // north = b0 + b1 (x - xm) + b2 (y - ym)
};

// One finding about an area's calibration, with what to do about it.
struct TCalibrationFinding {
  int Point = 0; // 1-based point number, 0 when the finding is about the map
  std::string Message;
};

// Every check of one area: no fit, suspect points, points outside the
// picture, coordinates out of range, a picture resized after calibration,
// a map without a picture.
std::vector<TCalibrationFinding> CheckCalibration(const TMapArea& area);

// "48°30.125' N  17°06.000' E": degrees and decimal minutes with hemisphere letters.
std::string FormatLatLon(double lat, double lon);

// What the status bar says of picture pixel (x, y) of area: the position and,
// when the area's points give a fit, the latitude and longitude there,
// "x 1234  y 567   48°30.125' N  17°06.000' E   fit of 4 points, RMS 0.8 px".
std::string PointerReadout(const TMapArea& area, int x, int y);

} // namespace zv
