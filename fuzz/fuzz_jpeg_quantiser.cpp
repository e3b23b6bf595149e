// Decodes each input with the streaming quantiser and with libjpeg's own:
// the same picture (palette and pixels) or the same error, or it aborts.
#include "codecs/Jpeg.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Outcome {
  zv::Bitmap picture;
  std::string error;
};

Outcome Decode(const std::uint8_t* data, std::size_t size, zv::TQuantiser quantiser, bool sixteen) {
  Outcome o;
  try {
    zv::TJPEGImage image;
    image.SetQuantiser(quantiser);
    if (sixteen) image.SetNumOfColors(zv::TNumOfColors::_16);
    image.LoadFromMemory(data, size);
    if (image.Picture()) o.picture = *image.Picture();
  } catch (const zv::Error& e) {
    o.error = e.what();
  }
  return o;
}

bool Same(const zv::Bitmap& a, const zv::Bitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.Format() != b.Format() || a.Palette() != b.Palette())
    return false;
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.Row(y), b.Row(y), a.Stride()) != 0) return false;
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first byte picks 256 or 16 colours; the rest is the file.
  if (size < 1) return 0;
  const bool sixteen = data[0] & 1;
  const Outcome mine = Decode(data + 1, size - 1, zv::TQuantiser::Streaming, sixteen);
  const Outcome ref = Decode(data + 1, size - 1, zv::TQuantiser::Libjpeg, sixteen);
  if (mine.error != ref.error || !Same(mine.picture, ref.picture)) std::abort();
  return 0;
}
