// Feeds arbitrary bytes to the BMP decoder: it must raise or decode, never crash.
#include "codecs/Bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zv::Bitmap bitmap;
  try {
    zv::DecodeBmp(data, size, bitmap);
  } catch (const zv::Error&) {
  }
  return 0;
}
