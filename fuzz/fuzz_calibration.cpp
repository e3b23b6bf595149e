// Calibration text of either format: any bytes give points or a zv::Error.
#include "base/Errors.h"
#include "model/MapModel.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (const char* name : {"f.map", "f.gmi"}) {
    zv::TMapArea area(nullptr, nullptr);
    area.FileName = name;
    area.Lines = zv::SplitLines(data, size);
    try {
      area.ParseCalibration();
    } catch (const zv::Error&) {
    }
  }
  return 0;
}
