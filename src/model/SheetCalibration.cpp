#include "model/SheetCalibration.h"

#include "base/Errors.h"
#include "base/Messages.h"
#include "model/CalibrationFit.h"
#include "model/CalibrationText.h"
#include "model/CalibrationWriter.h"
#include "model/MapProjection.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace zv {
namespace {

// Point lines the usual .map files have room for.
constexpr int kUsualPointLines = 30;

std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

} // namespace

std::vector<std::string> SheetMapLines(const TSheet& sheet, const TFrameCorners& corners, const std::string& title,
                                       const std::string& image, int width, int height) {
  std::vector<std::string> out = {
      "OziExplorer Map Data File Version 2.2",
      OneLine(title),
      OneLine(image),
      "1 ,Map Code,",
      DatumLine(sheet.Plane),
      "Reserved 1",
      "Reserved 2",
      "Magnetic Variation,,,E",
      MapProjectionLine(sheet.Plane),
  };
  const auto geo = sheet.Corners();
  for (int n = 1; n <= kUsualPointLines; ++n) {
    if (n > 4) {
      out.push_back(EmptyMapPointLine(n));
      continue;
    }
    TCalibrationPoint p;
    p.X = static_cast<std::int32_t>(std::lround(corners[n - 1].X));
    p.Y = static_cast<std::int32_t>(std::lround(corners[n - 1].Y));
    p.Lat = geo[n - 1].Lat;
    // Longitudes east of 180° are written as west ones.
    p.Lon = geo[n - 1].Lon > 180 ? geo[n - 1].Lon - 360 : geo[n - 1].Lon;
    p.HasLatLon = true;
    out.push_back(MapPointLine(n, p));
  }
  out.insert(out.end(), {ProjectionSetupLine(sheet.Plane), "Map Feature = MF ; Map Comment = MC     These follow if they exist",
                         "Track File = TF      These follow if they exist",
                         "Moving Map Parameters = MM?    These follow if they exist", "MOP,Map Open Position,0,0",
                         "IWH,Map Image Width/Height," + std::to_string(width) + "," + std::to_string(height)});
  return out;
}

TSheetFitCheck CheckSheetMapLines(const std::vector<std::string>& lines, const TFrameCorners& corners) {
  std::vector<TCalibrationPoint> points;
  std::string image;
  ParseCalibrationLines(lines, ".MAP", points, image);
  auto projection = std::make_shared<const TMapProjection>(lines);
  if (!projection->Unknown().empty()) throw Error(msg::SheetPlaneUnknown(projection->Unknown()));
  const TCalibrationFit fit(points, projection);
  if (!fit.Valid()) throw Error(fit.Problem());
  TSheetFitCheck check;
  check.Rms = fit.Rms();
  for (std::size_t i = 0; i < points.size() && i < corners.size(); ++i) {
    // The fit answers in WGS 84; the points are in the sheet's datum.
    std::vector<double> east{static_cast<double>(points[i].Lon)}, north{static_cast<double>(points[i].Lat)};
    projection->ToPlane(east, north);
    double lat = 0, lon = 0, x = 0, y = 0;
    if (!projection->PlaneToWgs84(east[0], north[0], lat, lon) || !fit.LatLonToPixel(lat, lon, x, y))
      throw Error(msg::SheetCornerNotPlaced);
    check.WorstCorner = std::max(check.WorstCorner, std::hypot(x - corners[i].X, y - corners[i].Y));
  }
  return check;
}

} // namespace zv
