// A map held in a tar archive: the calibration entry, tiles under set/ and the
// positions their names carry. Any archive opens or raises a zv::Error.
#include "FuzzSupport.h"
#include "model/DisplayMapsCore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::fs::path archive = fuzz::FreshScratch() / "m.tar";
  fuzz::WriteFile(archive, data, size);
  zv::TDisplayMapsCore view;
  view.Question = [](const std::string&) { return true; };
  try {
    view.OpenFile(archive.string());
  } catch (const zv::Error&) {
  }
  try { // as a map archive in an atlas: the first calibration entry, whatever its name
    view.OpenMap(archive.string(), std::string());
  } catch (const zv::Error&) {
  }
  return 0;
}
