// Calibration text of either format: any bytes give points or a zv::Error.
#include "base/Errors.h"
#include "model/CalibrationText.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> lines = zv::SplitLines(data, size);
  for (const char* ext : {".MAP", ".GMI"}) {
    std::vector<zv::TCalibrationPoint> points;
    std::string imageFileName;
    try {
      zv::ParseCalibrationLines(lines, ext, points, imageFileName);
    } catch (const zv::Error&) {
    }
  }
  return 0;
}
