// Maps out of their own plane: each output pixel shows the picture pixel its
// position falls on, sampled bilinearly. Positions are exact on a grid of at
// most 16 output pixels and interpolated between its nodes where that stays
// within 0.125 px of the exact answer; elsewhere the grid is made finer.
#pragma once

#include "export/MapBorder.h"
#include "export/TileFormat.h"

#include <memory>
#include <vector>

namespace zv {

class TCalibrationFit;
class TMapArea;
class TMapImage;

// An output raster's pixel grid placed on the earth. Positions are in
// output pixels from the grid's top-left corner; a pixel's centre is at +0.5.
class TOutputPlane {
public:
  virtual ~TOutputPlane() = default;
  virtual bool ToLatLon(double x, double y, double& lat, double& lon) const = 0;
  virtual void FromLatLon(double lat, double lon, double& x, double& y) const = 0;
};

// Web Mercator (EPSG:3857) at a zoom level: 256 × 2^zoom pixels around the
// world, from 180° W and 85.0511° N.
class TMercatorPlane : public TOutputPlane {
public:
  explicit TMercatorPlane(int zoom);
  bool ToLatLon(double x, double y, double& lat, double& lon) const override;
  void FromLatLon(double lat, double lon, double& x, double& y) const override;

private:
  double size_;
};

// Plain latitude and longitude (EPSG:4326): pixel (0, 0)'s corner at (west,
// north), each pixel dlon wide and dlat high.
class TLatLonPlane : public TOutputPlane {
public:
  TLatLonPlane(double west, double north, double dlon, double dlat)
      : west_(west), north_(north), dlon_(dlon), dlat_(dlat) {}
  bool ToLatLon(double x, double y, double& lat, double& lon) const override;
  void FromLatLon(double lat, double lon, double& x, double& y) const override;

private:
  double west_, north_, dlon_, dlat_;
};

// One calibrated map as a source of output pixels. Made on the thread that
// owns the area; DrawOver may then run on many threads at once.
class TMapSource {
public:
  // With crop, only the inside of the map's border polygon is drawn (when it
  // has one).
  TMapSource(const TMapArea& area, bool crop);
  ~TMapSource();

  // Whether there is anything to draw: a fit and a picture.
  bool Valid() const { return valid_; }
  // The drawn part's box in WGS 84 degrees.
  double West() const { return west_; }
  double South() const { return south_; }
  double East() const { return east_; }
  double North() const { return north_; }
  // The shorter side of a picture pixel at the picture's centre, in metres.
  double PixelMetres() const { return pixelMetres_; }

  // Draws the map over tile, whose top-left pixel is (left, top) in plane:
  // covered pixels take the map's colour and alpha 255, the rest stay.
  void DrawOver(const TOutputPlane& plane, int left, int top, TRgbaTile& tile) const;

private:
  struct TSampler;
  void MeasureBox();
  bool PictureAt(const TOutputPlane& plane, double x, double y, double& px, double& py) const;

  std::shared_ptr<const TCalibrationFit> fit_;
  std::unique_ptr<TSampler> sampler_;
  std::vector<TPicturePoint> border_;
  int width_ = 0, height_ = 0;
  bool valid_ = false;
  double west_ = 0, south_ = 0, east_ = 0, north_ = 0;
  double pixelMetres_ = 0;
};

} // namespace zv
