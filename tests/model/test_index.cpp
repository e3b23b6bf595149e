// The image index: painting through it draws exactly what looking at every
// image draws, in the same order.

#include "TestMaps.h"

#include "codecs/Canvas.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <gtest/gtest.h>

#include <random>

using namespace zv;
using namespace zvtest;

namespace {

// A view with a control of a given size, as the desktop view reports it.
class SizedView : public TDisplayMapsCore {
public:
  bool HasControl() const override { return true; }
  int Width() const override { return 120; }
  int Height() const override { return 90; }
};

// Fills area with images of many sizes: overlapping, at negative positions,
// empty ones and one large one, each a colour of its own.
void AddImages(TDisplayMapsCore& view, TMapArea& area, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> pos(-100, 900), side(1, 80);
  for (int i = 0; i < 400; ++i) {
    auto image = std::make_unique<TMapImage>(&view, &area);
    if (i % 50 != 7) {
      const int w = i == 123 ? 700 : side(rng), h = i == 123 ? 500 : side(rng);
      image->Bitmap = Bitmap(w, h, PixelFormat::pf24bit);
      image->Bitmap.Fill(Rgb{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i / 256), 77});
    }
    image->X = pos(rng);
    image->Y = pos(rng);
    area.Images.push_back(std::move(image));
  }
  area.Width = area.Height = 1000;
}

TEST(ImageIndex, PaintRegionDrawsWhatEveryImageDraws) {
  TDisplayMapsCore view;
  TMapArea indexed(&view, nullptr), plain(&view, nullptr);
  AddImages(view, indexed, 5);
  AddImages(view, plain, 5);
  indexed.IndexImages();
  std::vector<std::uint32_t> found;
  ASSERT_TRUE(indexed.ImagesInRect(0, 0, 10, 10, found));
  ASSERT_FALSE(plain.ImagesInRect(0, 0, 10, 10, found));

  std::mt19937 rng(9);
  std::uniform_int_distribution<int> pos(-300, 1100), side(0, 300);
  for (int k = 0; k < 300; ++k) {
    const int l = pos(rng), t = pos(rng), w = side(rng), h = k % 10 == 0 ? 2000 : side(rng);
    RecordingCanvas a, b;
    indexed.PaintRegion(a, l, t, w, h);
    plain.PaintRegion(b, l, t, w, h);
    ASSERT_EQ(a.Calls, b.Calls) << l << "," << t << " " << w << "x" << h;
  }
  // Images added after indexing are still drawn.
  auto late = std::make_unique<TMapImage>(&view, &indexed);
  late->Bitmap = Bitmap(5, 5, PixelFormat::pf24bit);
  late->X = late->Y = 3;
  indexed.Images.push_back(std::move(late));
  RecordingCanvas c;
  indexed.PaintRegion(c, 0, 0, 10, 10);
  ASSERT_FALSE(c.Calls.empty());
  EXPECT_EQ(c.Calls.back(), "copy 3,3,0,0,5,5 of 5x5");
}

TEST(ImageIndex, ViewPaintsOnlyImagesInsideTheControl) {
  SizedView view;
  TMapArea indexed(&view, nullptr), plain(&view, nullptr);
  AddImages(view, indexed, 11);
  AddImages(view, plain, 11);
  indexed.IndexImages();
  indexed.Shown = plain.Shown = true;
  view.ExtentWidth = view.ExtentHeight = 1000;
  for (const auto& [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {333, 517}, {880, 20}, {700, 800}}) {
    view.SetOffsetX(x);
    view.SetOffsetY(y);
    ASSERT_EQ(view.OffsetX(), x);
    ASSERT_EQ(view.OffsetY(), y);
    Bitmap a(120, 90, PixelFormat::pf24bit), b(120, 90, PixelFormat::pf24bit);
    BitmapCanvas ca(a), cb(b);
    RecordingCanvas ra;
    view.BufferCanvas = &ca;
    indexed.Paint();
    view.BufferCanvas = &cb;
    plain.Paint();
    view.BufferCanvas = &ra;
    indexed.Paint();
    view.BufferCanvas = nullptr;
    for (int py = 0; py < 90; ++py)
      for (int px = 0; px < 120; ++px) ASSERT_EQ(a.Pixel(px, py), b.Pixel(px, py)) << px << "," << py;
    // Far fewer than the 400 images are looked at.
    EXPECT_LT(ra.Calls.size(), 100u);
  }
}

} // namespace
