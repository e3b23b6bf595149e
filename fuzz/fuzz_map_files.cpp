// A map from plain files: calibration text, the .set tile list and the set
// folder, unpacked from one input. Each top-level file opens as a map or
// raises a zv::Error.
#include "FuzzSupport.h"
#include "base/Paths.h"
#include "model/DisplayMapsCore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::fs::path dir = fuzz::FreshScratch();
  fuzz::Unpack(data, size, dir / "input.tar", dir / "map");
  zv::TDisplayMapsCore view;
  for (const std::string& path : fuzz::TopLevel(dir / "map")) {
    const std::string ext = zv::UpperFileExt(path);
    if (ext != ".MAP" && ext != ".GMI" && ext != ".PNG" && ext != ".BMP" && ext != ".JPG" && ext != ".JPEG") continue;
    try {
      view.OpenMap(std::string(), path);
    } catch (const zv::Error&) {
    }
  }
  return 0;
}
