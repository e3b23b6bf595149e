// .map text through the whole fit: the projection (GDAL and the table of
// further projections), the fit, the wrong-point rule, every finding and the
// readout. Any bytes give an answer or a zv::Error, never a crash or a hang.
#include "base/Errors.h"
#include "model/CalibrationFit.h"
#include "model/CalibrationText.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static zv::TDisplayMapsCore view;
  static zv::TMapLayout* layout = view.Layouts->AddLayout("Fuzz");
  zv::TMapArea area(&view, layout);
  area.FileName = "fuzz.map";
  area.Lines = zv::SplitLines(data, size);
  try {
    area.ParseCalibration();
  } catch (const zv::Error&) {
    // The points before the word that did not read still go through the fit.
  }
  area.Width = 4000;
  area.Height = 3000;
  const auto fit = area.Fit();
  for (const zv::TCalibrationFinding& f : zv::CheckCalibration(area)) (void)f;
  for (const auto& [x, y] : {std::pair{0, 0}, {4000, 3000}, {-7, 123456}}) {
    (void)zv::PointerReadout(area, x, y);
    double lat = 0, lon = 0, px = 0, py = 0;
    if (fit->PixelToLatLon(x, y, lat, lon)) (void)fit->LatLonToPixel(lat, lon, px, py);
  }
  return 0;
}
