// Drawing between every pair of pixel formats: Bitmap::CopyRect, and an
// area's images through PaintRegion and the view's Paint, at any coordinates.
#include "codecs/Canvas.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

namespace {

zv::Bitmap MakeBitmap(FuzzedDataProvider& in) {
  static constexpr zv::PixelFormat formats[] = {zv::PixelFormat::pf1bit, zv::PixelFormat::pf4bit,
                                                zv::PixelFormat::pf8bit, zv::PixelFormat::pf24bit};
  const zv::PixelFormat format = formats[in.ConsumeIntegralInRange(0, 3)];
  const int width = in.ConsumeIntegralInRange(0, 40);
  const int height = in.ConsumeIntegralInRange(0, 40);
  zv::Bitmap bmp(width, height, format);
  if (format != zv::PixelFormat::pf24bit) {
    // Decoders may leave the table shorter than the format holds, even empty.
    const auto entries = in.ConsumeIntegralInRange<std::size_t>(0, std::size_t{1} << static_cast<int>(format));
    for (std::size_t i = 0; i < entries; ++i)
      bmp.Palette().push_back({in.ConsumeIntegral<std::uint8_t>(), in.ConsumeIntegral<std::uint8_t>(),
                               in.ConsumeIntegral<std::uint8_t>()});
  }
  for (int y = 0; y < height; ++y) {
    const auto row = in.ConsumeBytes<std::uint8_t>(bmp.Stride());
    if (!row.empty()) std::memcpy(bmp.Row(y), row.data(), row.size());
  }
  return bmp;
}

// Mostly near the bitmaps, sometimes anywhere in 32 bits.
int Coordinate(FuzzedDataProvider& in) {
  return in.ConsumeBool() ? in.ConsumeIntegralInRange(-64, 64) : in.ConsumeIntegral<int>();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  zv::Bitmap target = MakeBitmap(in);
  const zv::Bitmap source = MakeBitmap(in);
  target.CopyRect(Coordinate(in), Coordinate(in), source, Coordinate(in), Coordinate(in), Coordinate(in),
                  Coordinate(in));

  zv::TDisplayMapsCore view;
  zv::TMapArea area(&view, nullptr);
  for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) {
    area.Images.push_back(std::make_unique<zv::TMapImage>(&view, &area));
    area.Images.back()->Bitmap = MakeBitmap(in);
    area.Images.back()->X = Coordinate(in);
    area.Images.back()->Y = Coordinate(in);
  }
  zv::BitmapCanvas canvas(target);
  area.PaintRegion(canvas, Coordinate(in), Coordinate(in), Coordinate(in), Coordinate(in));

  for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n)
    area.Points.push_back({Coordinate(in), Coordinate(in), 0, 0});
  area.Shown = true;
  view.BufferCanvas = &canvas;
  view.SetOptions(in.ConsumeIntegralInRange<zv::TDisplayMapssOptions>(0, 3));
  view.ExtentWidth = in.ConsumeIntegral<std::int32_t>();
  view.ExtentHeight = in.ConsumeIntegral<std::int32_t>();
  view.SetOffsetX(Coordinate(in));
  view.SetOffsetY(Coordinate(in));
  area.Paint();
  return 0;
}
