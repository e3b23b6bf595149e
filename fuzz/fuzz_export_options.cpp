// The export's option texts (tile width, height, JPEG quality) are typed by
// the user: any bytes must give a value or a refusal, never a crash.
#include "export/ExportToAmbulo.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::int32_t value = 0;
  zv::ParseIntegerText(std::string(reinterpret_cast<const char*>(data), size), value);
  return 0;
}
