// The JPEG adapter with every combination of its decoding options, and the
// encoding of what it decoded: whatever it encodes must decode again.
#include "codecs/Jpeg.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The options come from the input's end, so a seed's JPEG data stays whole.
  FuzzedDataProvider in(data, size);
  zv::TJPEGImage image;
  image.SetNumOfColors(static_cast<zv::TNumOfColors>(in.ConsumeIntegralInRange(0, 2)));
  image.SetDCTMethod(static_cast<zv::TDCTMethod>(in.ConsumeIntegralInRange(0, 2)));
  image.SetDither(static_cast<zv::TDither>(in.ConsumeIntegralInRange(0, 2)));
  image.SetFastProcessing(in.ConsumeBool());
  image.SetGrayScale(in.ConsumeBool());
  image.SetNoSmooth(in.ConsumeBool());
  image.SetOnePass(in.ConsumeBool());
  image.SetQuality(in.ConsumeIntegral<std::uint8_t>());
  image.SetProgressive(in.ConsumeBool());
  image.SetProgressStep(in.ConsumeIntegral<int>());
  int notes = 0;
  image.OnProgress = [&notes](zv::TJPEGImage&) { ++notes; };
  const std::vector<std::uint8_t> jpeg = in.ConsumeRemainingBytes<std::uint8_t>();
  try {
    image.LoadFromMemory(jpeg);
  } catch (const zv::Error&) {
    return 0;
  }
  const zv::Bitmap* picture = image.Picture();
  if (!picture || std::int64_t{picture->Width()} * picture->Height() > 256 * 256) return 0;
  std::vector<std::uint8_t> encoded;
  image.SaveToMemory(encoded);
  zv::Bitmap again;
  try {
    zv::DecodeJpeg(encoded.data(), encoded.size(), again);
  } catch (const zv::Error&) {
    std::abort(); // our own output must decode
  }
  if (again.Width() != picture->Width() || again.Height() != picture->Height()) std::abort();
  return 0;
}
