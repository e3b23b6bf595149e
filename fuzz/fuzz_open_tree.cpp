// OpenFile over a small tree unpacked from one input: calibration files,
// images, atlas files with their layer folders, tar archives inside it.
#include "FuzzSupport.h"
#include "model/DisplayMapsCore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::fs::path dir = fuzz::FreshScratch();
  fuzz::Unpack(data, size, dir / "input.tar", dir / "tree");
  zv::TDisplayMapsCore view;
  bool reload = false;
  view.Question = [&reload](const std::string&) { return reload = !reload; };
  for (const std::string& path : fuzz::TopLevel(dir / "tree")) {
    try {
      view.OpenFile(path);
    } catch (const zv::Error&) {
    }
  }
  return 0;
}
