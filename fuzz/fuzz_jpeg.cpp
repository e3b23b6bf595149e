// Any input must decode or raise an error; nothing else may happen.
#include "codecs/Jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zv::Bitmap bitmap;
  try {
    zv::DecodeJpeg(data, size, bitmap);
  } catch (const zv::Error&) {
  }
  return 0;
}
