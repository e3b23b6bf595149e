// Feeds arbitrary bytes to the PNG decoder: it must raise or decode, never crash.
#include "codecs/Png.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zv::Bitmap bitmap;
  try {
    zv::DecodePng(data, size, bitmap);
  } catch (const zv::Error&) {
  }
  return 0;
}
