// Zoom of the view core: the scaled extent and offsets, the commands and
// their anchors, drawing at a zoom, and the zoom-out levels made in the
// background.

#include "codecs/Canvas.h"
#include "codecs/Reduce.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"
#include "model/ZoomLevels.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

using namespace zv;

namespace {

// A core with a control of a chosen size and 17-pixel scroll-bar metrics.
class FakeView : public TDisplayMapsCore {
public:
  FakeView(int width, int height) : width_(width), height_(height) {
    SetOffsetX(0);
    SetOffsetY(0);
  }
  bool HasControl() const override { return true; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int CxVScroll() const override { return 17; }
  int CxHScroll() const override { return 17; }
  void ZoomChanged() override { ++ZoomChanges; }

  TMapArea* Show(int width, int height) {
    TMapLayout* layout = Layouts->Count() ? (*Layouts)[0] : Layouts->AddLayout("L");
    TMapArea* area = layout->Areas->Add(std::make_unique<TMapArea>(this, layout));
    area->Width = width;
    area->Height = height;
    ShowMapArea(area);
    return area;
  }
  // Where the picture point (x, y), in picture pixels, lies on the control.
  double ControlX(double x) const { return x * ZoomScale() - OffsetX(); }
  double ControlY(double y) const { return y * ZoomScale() - OffsetY(); }

  int ZoomChanges = 0;

private:
  int width_;
  int height_;
};

Bitmap RandomBitmap(int w, int h, PixelFormat format, std::mt19937& rng) {
  Bitmap b(w, h, format);
  if (format != PixelFormat::pf24bit)
    for (int i = 0; i < (1 << static_cast<int>(format)); ++i)
      b.Palette().push_back(
          Rgb{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng())});
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (format == PixelFormat::pf24bit)
        b.SetPixel(x, y,
                   Rgb{static_cast<std::uint8_t>(x * 7 + y), static_cast<std::uint8_t>(rng()),
                       static_cast<std::uint8_t>(y * 3)});
      else
        b.SetIndex(x, y, static_cast<std::uint8_t>(rng() % b.Palette().size()));
    }
  return b;
}

void AddImage(TDisplayMapsCore& view, TMapArea& area, Bitmap bitmap, int x, int y) {
  auto image = std::make_unique<TMapImage>(&view, &area);
  image->Bitmap = std::move(bitmap);
  image->X = x;
  image->Y = y;
  area.Width = std::max(area.Width, x + image->Width());
  area.Height = std::max(area.Height, y + image->Height());
  area.Images.push_back(std::move(image));
}

bool SamePixels(const Bitmap& a, const Bitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (!(a.Pixel(x, y) == b.Pixel(x, y))) return false;
  return true;
}

// Records where calibration marks are drawn.
class MarkCanvas : public BitmapCanvas {
public:
  using BitmapCanvas::BitmapCanvas;
  void SetPixel(int x, int y, Rgb colour) override {
    Marks.push_back({x, y});
    BitmapCanvas::SetPixel(x, y, colour);
  }
  // The rings and numbers are left out, so that the picture shows around the mark.
  void Ellipse(int, int, int, int, Rgb, int) override {}
  void TextOut(int, int, const std::string&, Rgb, int) override {}
  std::vector<std::pair<int, int>> Marks;
};

} // namespace

TEST(Zoom, SidesAndCoordinatesScaleByPowersOfTwo) {
  EXPECT_EQ(ScaledSide(1001, 0), 1001);
  EXPECT_EQ(ScaledSide(1001, 3), 8008);
  EXPECT_EQ(ScaledSide(1001, -1), 501);
  EXPECT_EQ(ScaledSide(1001, -6), 16);
  EXPECT_EQ(ScaleCoordinate(1001, -1), 500);
  EXPECT_EQ(ScaleCoordinate(-3, -1), -2);
  EXPECT_EQ(ScaleCoordinate(-3, 2), -12);
}

TEST(Zoom, ExtentAndBarsFollowTheFactorAndComeBackAtActualSize) {
  FakeView view(800, 600);
  view.Show(5000, 3001);
  const TScrollInfo h0 = view.WantedScrollInfo(sbHorizontal), v0 = view.WantedScrollInfo(sbVertical);
  view.SetZoom(-2, 0, 0);
  EXPECT_EQ(view.ExtentWidth, 1250);
  EXPECT_EQ(view.ExtentHeight, 751); // rounded up
  EXPECT_EQ(view.WantedScrollInfo(sbHorizontal).Max, 1250 - 800 + 100);
  view.SetZoom(3, 0, 0);
  EXPECT_EQ(view.ExtentWidth, 40000);
  // Held to 1/64 .. 8.
  view.SetZoom(9, 0, 0);
  EXPECT_EQ(view.Zoom(), MaxZoom);
  view.SetZoom(-20, 0, 0);
  EXPECT_EQ(view.Zoom(), MinZoom);
  view.ActualSize();
  view.ShowMapArea((*(*view.Layouts)[0]->Areas)[0]);
  EXPECT_EQ(view.ExtentWidth, 5000);
  EXPECT_EQ(view.ExtentHeight, 3001);
  EXPECT_EQ(view.WantedScrollInfo(sbHorizontal), h0);
  EXPECT_EQ(view.WantedScrollInfo(sbVertical), v0);
  // Steps in view pixels at every factor.
  view.SetZoom(-1, 0, 0);
  view.SetOffsetX(100);
  view.KeyDown(TArrowKey::Right);
  EXPECT_EQ(view.OffsetX(), 125);
}

TEST(Zoom, CommandsKeepTheirAnchorPointInPlace) {
  FakeView view(800, 600);
  view.Show(20000, 15000);
  view.SetOffsetX(7000);
  view.SetOffsetY(5000);
  // The keyboard commands keep the point at the centre.
  for (int step = 0; step < 4; ++step) {
    const TPicturePoint centre = view.ViewToPicture(400, 300);
    if (step % 2)
      view.ZoomIn();
    else
      view.ZoomOut();
    EXPECT_LE(std::abs(view.ControlX(centre.X + 0.5) - 400), 1.0) << step;
    EXPECT_LE(std::abs(view.ControlY(centre.Y + 0.5) - 300), 1.0) << step;
  }
  // The wheel keeps the point under the pointer; partial deltas add up.
  for (int delta : {-120, -240, 120, 360, -120}) {
    const double px = (123 + view.OffsetX()) / std::ldexp(1.0, view.Zoom());
    const double py = (456 + view.OffsetY()) / std::ldexp(1.0, view.Zoom());
    const int before = view.Zoom();
    view.WheelZoom(delta, 123, 456);
    EXPECT_EQ(view.Zoom(), before + delta / 120);
    EXPECT_LE(std::abs(view.ControlX(px) - 123), 1.0) << delta;
    EXPECT_LE(std::abs(view.ControlY(py) - 456), 1.0) << delta;
  }
  const int zoom = view.Zoom();
  view.WheelZoom(60, 0, 0);
  EXPECT_EQ(view.Zoom(), zoom);
  view.WheelZoom(60, 0, 0);
  EXPECT_EQ(view.Zoom(), zoom + 1);
  EXPECT_GT(view.ZoomChanges, 5);
}

TEST(Zoom, FitIsTheLargestFactorUpTo100PercentThatShowsTheWholePicture) {
  struct Case {
    int width, height;
    TZoomFactor factor;
  } cases[] = {{5000, 3000, {399, 2500}}, {798, 598, {1, 1}}, {799, 583, {798, 799}}, {100, 50, {1, 1}},
               {1'000'000, 10, {1, 64}}};
  for (const Case& c : cases) {
    FakeView view(800, 600);
    view.Show(c.width, c.height);
    view.FitToWindow();
    EXPECT_EQ(view.ZoomFactor(), c.factor) << c.width << "x" << c.height;
    if (c.factor.Exponent() > MinZoom) {
      // The whole picture on the control.
      EXPECT_GE(view.ControlX(0), 0);
      EXPECT_LE(view.ControlX(c.width), 800);
      EXPECT_GE(view.ControlY(0), 0);
      EXPECT_LE(view.ControlY(c.height), 600);
    }
  }
}

TEST(Zoom, ShowingAnotherAreaKeepsTheZoomAndPointsMapToPicturePixels) {
  FakeView view(800, 600);
  view.Show(4000, 4000);
  view.SetZoom(-3, 0, 0);
  view.Show(1600, 800);
  EXPECT_EQ(view.Zoom(), -3);
  EXPECT_EQ(view.ExtentWidth, 200);
  view.Show(10000, 10000);
  view.SetOffsetX(100);
  view.SetOffsetY(40);
  EXPECT_EQ(view.ViewToPicture(0, 0), (TPicturePoint{800, 320}));
  EXPECT_EQ(view.ViewToPicture(5, 7), (TPicturePoint{840, 376}));
  // The pointer's pixel for the readout and the calibration pick, the same.
  std::int32_t px = 0, py = 0;
  ASSERT_TRUE(view.PicturePixelAt(5, 7, px, py));
  EXPECT_EQ(px, 840);
  EXPECT_EQ(py, 376);
  EXPECT_FALSE(view.PicturePixelAt(1200, 7, px, py)); // past the picture's right edge at 1/8
  view.SetZoom(2, 0, 0);
  view.SetOffsetX(100);
  view.SetOffsetY(40);
  EXPECT_EQ(view.ViewToPicture(5, 7), (TPicturePoint{26, 11}));
  EXPECT_EQ(view.PictureToViewX(26), 4);
}

TEST(Zoom, PaintingScalesImagesFramesAndMarkPositionsButNotMarks) {
  FakeView view(64, 48);
  std::mt19937 rng(1);
  TMapLayout* layout = view.Layouts->AddLayout("L");
  TMapArea* area = layout->Areas->Add(std::make_unique<TMapArea>(&view, layout));
  const Bitmap picture = RandomBitmap(40, 30, PixelFormat::pf8bit, rng);
  AddImage(view, *area, picture, 0, 0);
  area->Points.push_back({});
  area->Points.back().X = 10;
  area->Points.back().Y = 6;
  view.ShowMapArea(area);
  view.SetOptions(OptionBit(mpoShowCalibrationPoints));
  view.SetZoom(1, 0, 0);
  view.SetOffsetX(4);
  view.SetOffsetY(2);
  Bitmap target(64, 48, PixelFormat::pf24bit);
  MarkCanvas canvas(target);
  view.BufferCanvas = &canvas;
  view.Layouts->Paint();
  // Each picture pixel a 2 × 2 square.
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 50; ++x)
      if (!(x == 16 && y == 10)) {
        ASSERT_EQ(target.Pixel(x, y), picture.Pixel((x + 4) / 2, (y + 2) / 2)) << x << "," << y;
      }
  ASSERT_FALSE(canvas.Marks.empty());
  EXPECT_EQ(canvas.Marks.front(), (std::pair{10 * 2 - 4, 6 * 2 - 2}));

  // Below 1 the core samples the picture (the desktop view draws levels).
  // The 20 × 15 picture is smaller than the control: it sits in the middle,
  // and scrolling does not move it.
  view.SetZoom(-1, 0, 0);
  const int ox = view.OffsetX(), oy = view.OffsetY();
  EXPECT_EQ(ox, -(64 - 20) / 2);
  EXPECT_EQ(oy, -(48 - 15) / 2);
  view.KeyDown(TArrowKey::Right);
  view.MouseWheel(-120);
  EXPECT_EQ(view.OffsetX(), ox);
  EXPECT_EQ(view.OffsetY(), oy);
  canvas.Marks.clear();
  target.Fill(Rgb{});
  view.Layouts->Paint();
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 20; ++x)
      if (!(x == 5 && y == 3)) {
        ASSERT_EQ(target.Pixel(x - ox, y - oy), picture.Pixel(2 * x, 2 * y)) << x << "," << y;
      }
  EXPECT_EQ(canvas.Marks.front(), (std::pair{5 - ox, 3 - oy}));
  view.BufferCanvas = nullptr;
}

namespace {

// Waits for the levels' threads between paints; no time is measured.
struct Ready {
  std::mutex lock;
  std::condition_variable wake;
  int count = 0;
  void Signal() {
    std::lock_guard<std::mutex> l(lock);
    ++count;
    wake.notify_all();
  }
  void WaitBeyond(int seen) {
    std::unique_lock<std::mutex> l(lock);
    wake.wait_for(l, std::chrono::seconds(5), [&] { return count > seen; });
  }
};

// Paints the whole of a level until it comes out exact.
Bitmap PaintLevel(TZoomLevels& levels, Ready& ready, int level, int width, int height) {
  Bitmap target(ReducedSide(width, level), ReducedSide(height, level), PixelFormat::pf24bit);
  BitmapCanvas canvas(target);
  for (int attempt = 0; attempt < 200; ++attempt) {
    int seen = 0;
    {
      std::lock_guard<std::mutex> l(ready.lock);
      seen = ready.count;
    }
    if (levels.Paint(canvas, level, 0, 0, 0, 0, target.Width(), target.Height())) return target;
    ready.WaitBeyond(seen);
  }
  ADD_FAILURE() << "level " << level << " never came out exact";
  return target;
}

} // namespace

TEST(ZoomLevels, EveryLevelComesOutAsTheReductionOfTheWholePicture) {
  std::mt19937 rng(9);
  TDisplayMapsCore view;
  TMapLayout* layout = view.Layouts->AddLayout("L");
  TMapArea* area = layout->Areas->Add(std::make_unique<TMapArea>(&view, layout));
  // A tile set: images of several formats at offsets no level's grid meets.
  AddImage(view, *area, RandomBitmap(333, 250, PixelFormat::pf8bit, rng), 0, 0);
  AddImage(view, *area, RandomBitmap(367, 250, PixelFormat::pf24bit, rng), 333, 0);
  AddImage(view, *area, RandomBitmap(700, 251, PixelFormat::pf4bit, rng), 0, 250);
  Bitmap whole(700, 501, PixelFormat::pf24bit);
  BitmapCanvas wholeCanvas(whole);
  area->PaintRegion(wholeCanvas, 0, 0, 700, 501);

  Ready ready;
  TZoomLevels levels(
      *area, [&ready] { ready.Signal(); }, 1'000'000);
  // Both ways are taken: tiles for the fine levels, one pass for the others.
  ASSERT_GT(levels.FirstWholeLevel(), 1);
  ASSERT_LE(levels.FirstWholeLevel(), TZoomLevels::MaxLevel);
  for (int level = 1; level <= TZoomLevels::MaxLevel; ++level)
    EXPECT_TRUE(SamePixels(PaintLevel(levels, ready, level, 700, 501), Reduce(whole, level))) << "level " << level;
  // A part drawn elsewhere is the same part of the level.
  Bitmap part(50, 40, PixelFormat::pf24bit);
  BitmapCanvas partCanvas(part);
  EXPECT_TRUE(levels.Paint(partCanvas, 1, -10, -5, 250, 100, 60, 45));
  EXPECT_TRUE(SamePixels(part, ReduceRegion(whole, 1, 260, 105, 50, 40)));
  EXPECT_TRUE(levels.IsOf(*area));
  // The tile cache stays within its bound (one tile over it at most).
  EXPECT_LE(levels.Bytes(), 1'000'000 + 3u * TZoomLevels::TileSide * TZoomLevels::TileSide + 30'000);
  area->Images.pop_back();
  EXPECT_FALSE(levels.IsOf(*area));
}

TEST(ZoomLevels, GoWhileTheirThreadsWorkAndOutliveTheirArea) {
  std::mt19937 rng(4);
  TDisplayMapsCore view;
  TMapLayout* layout = view.Layouts->AddLayout("L");
  TMapArea* area = layout->Areas->Add(std::make_unique<TMapArea>(&view, layout));
  AddImage(view, *area, RandomBitmap(900, 700, PixelFormat::pf8bit, rng), 0, 0);
  Bitmap target(300, 200, PixelFormat::pf24bit);
  BitmapCanvas canvas(target);
  {
    TZoomLevels levels(*area, nullptr);
    levels.Paint(canvas, 1, 0, 0, 0, 0, 300, 200);
  }
  Ready ready;
  TZoomLevels levels(*area, [&ready] { ready.Signal(); });
  const Bitmap expected = Reduce(area->Images[0]->Bitmap, 2);
  const Bitmap coarse = Reduce(area->Images[0]->Bitmap, 4);
  layout->Areas->RemoveAll();
  EXPECT_TRUE(SamePixels(PaintLevel(levels, ready, 2, 900, 700), expected));
  // A picture of one image: the whole levels read its rows directly.
  EXPECT_TRUE(SamePixels(PaintLevel(levels, ready, 4, 900, 700), coarse));
}
