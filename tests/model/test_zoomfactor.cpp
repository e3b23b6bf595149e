// Zoom factors that are no power of two: the fit factor, the steps from it,
// the picture <-> control mapping at it and the sampled drawing.

#include "codecs/Canvas.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <gtest/gtest.h>

#include <memory>

using namespace zv;

namespace {

class FittedView : public TDisplayMapsCore {
public:
  FittedView(int width, int height) : width_(width), height_(height) {}
  bool HasControl() const override { return true; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  int CxVScroll() const override { return 17; }
  int CxHScroll() const override { return 17; }

  TMapArea* Show(int width, int height) {
    TMapLayout* layout = Layouts->AddLayout("L");
    TMapArea* area = layout->Areas->Add(std::make_unique<TMapArea>(this, layout));
    area->Width = width;
    area->Height = height;
    ShowMapArea(area);
    return area;
  }

private:
  int width_, height_;
};

TEST(ZoomFactor, FitFillsTheRoomOnTheSideThatLimits) {
  struct Case {
    std::int64_t width, height, roomX, roomY, num, den;
  } cases[] = {
      {12000, 9000, 1918, 1078, 539, 4500}, // height limits: 1078 / 9000
      {12000, 3000, 1918, 1078, 959, 6000}, // width limits
      {1000, 500, 1918, 1078, 1, 1},        // fits at 100 %
      {3836, 100, 1918, 1078, 1, 2},        // exactly a half: a power of two
      {1'000'000, 10, 1918, 1078, 1, 64},   // held at 1/64
      {0, 0, 1918, 1078, 1, 1},             // no picture
  };
  for (const Case& c : cases) {
    const TZoomFactor f = FitFactor(c.width, c.height, c.roomX, c.roomY);
    EXPECT_EQ(f, (TZoomFactor{c.num, c.den})) << c.width << "x" << c.height;
    if (f.Below1() && f.Exponent() > MinZoom) {
      EXPECT_LE(ScaledSide(c.width, f), c.roomX);
      EXPECT_LE(ScaledSide(c.height, f), c.roomY);
      EXPECT_TRUE(ScaledSide(c.width, f) == c.roomX || ScaledSide(c.height, f) == c.roomY);
    }
  }
}

TEST(ZoomFactor, StepsFromAFactorBetweenPowersGoToTheNeighbouringPowers) {
  struct Case {
    TZoomFactor from;
    int steps, zoom;
  } cases[] = {
      {{37, 100}, 1, -1}, {{37, 100}, -1, -2}, {{37, 100}, 2, 0},   {{37, 100}, -2, -3},
      {{1, 4}, 1, -1},    {{1, 4}, -1, -3},    {{8, 1}, 1, MaxZoom}, {{3, 200}, -1, MinZoom},
      {{3, 4}, 1, 0},     {{3, 4}, -1, -1},    {{1, 63}, 1, -5},     {{1, 63}, -1, -6},
  };
  for (const Case& c : cases)
    EXPECT_EQ(StepZoom(c.from, c.steps), c.zoom) << c.from.Num << "/" << c.from.Den << " by " << c.steps;
}

TEST(ZoomFactor, FitToWindowCentresThePictureAndMapsPointsBothWays) {
  FittedView view(800, 600);
  view.Show(12000, 9000);
  view.FitToWindow();
  EXPECT_EQ(view.ZoomFactor(), (TZoomFactor{299, 4500})); // 598 / 9000
  EXPECT_EQ(view.ExtentHeight, 598);
  EXPECT_EQ(view.ExtentWidth, 798);
  EXPECT_EQ(view.OffsetX(), -1); // inside the one-pixel edge on both sides
  EXPECT_EQ(view.OffsetY(), -1);
  struct Case {
    std::int64_t x, y;
  } points[] = {{0, 0}, {11999, 8999}, {6000, 4500}, {1234, 8765}, {15, 16}};
  for (const Case& p : points) {
    // A picture pixel's corner lands on a control pixel that shows it back.
    const std::int64_t cx = view.PictureToViewX(p.x), cy = view.PictureToViewY(p.y);
    const TPicturePoint back = view.ViewToPicture(static_cast<double>(cx), static_cast<double>(cy));
    EXPECT_LE(back.X, p.x);
    EXPECT_GT(back.X + 16, p.x); // one control pixel covers 15.05 picture pixels
    EXPECT_LE(back.Y, p.y);
    EXPECT_GT(back.Y + 16, p.y);
    std::int32_t px = 0, py = 0;
    ASSERT_TRUE(view.PicturePixelAt(static_cast<std::int32_t>(cx), static_cast<std::int32_t>(cy), px, py));
    EXPECT_EQ(px, back.X);
    EXPECT_EQ(py, back.Y);
  }
  // The edge itself and the control's last pixel row show no picture.
  std::int32_t px = 0, py = 0;
  EXPECT_FALSE(view.PicturePixelAt(0, 0, px, py));
  EXPECT_FALSE(view.PicturePixelAt(400, 599, px, py));
  // The commands step to the powers around it and the picture stays centred.
  view.ZoomIn();
  EXPECT_EQ(view.ZoomFactor(), TZoomFactor::PowerOfTwo(-3));
  view.FitToWindow();
  view.ZoomOut();
  EXPECT_EQ(view.ZoomFactor(), TZoomFactor::PowerOfTwo(-4));
  EXPECT_EQ(view.OffsetX(), -((800 - 750) / 2));
}

// Every target pixel shows the source pixel under its centre, and drawing
// a source in pieces gives the same pixels as drawing it whole.
TEST(ZoomFactor, SampledCopyTakesThePixelUnderEachCentreAndJoinsPieces) {
  Bitmap source(97, 61, PixelFormat::pf24bit);
  for (int y = 0; y < source.Height(); ++y)
    for (int x = 0; x < source.Width(); ++x)
      source.SetPixel(x, y, Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 7});
  struct Case {
    TSampling s;
  } cases[] = {{{37, 25, 0, 0}}, {{3, 2, -5, 4}}, {{199, 100, 11, -3}}, {{1, 1, 0, 0}}};
  for (const Case& c : cases) {
    Bitmap whole(60, 40, PixelFormat::pf24bit), pieces(60, 40, PixelFormat::pf24bit);
    whole.Fill(Rgb{1, 2, 3});
    pieces.Fill(Rgb{1, 2, 3});
    BitmapCanvas(whole).SampledCopy(source, 0, 0, c.s);
    BitmapCanvas into(pieces);
    for (int top = 0; top < source.Height(); top += 16)
      for (int left = 0; left < source.Width(); left += 32) {
        Bitmap piece(std::min(32, source.Width() - left), std::min(16, source.Height() - top), PixelFormat::pf24bit);
        piece.CopyRect(0, 0, source, left, top, piece.Width(), piece.Height());
        into.SampledCopy(piece, left, top, c.s);
      }
    for (int y = 0; y < whole.Height(); ++y)
      for (int x = 0; x < whole.Width(); ++x) {
        const std::int64_t sx = c.s.Source(x, c.s.OffsetX), sy = c.s.Source(y, c.s.OffsetY);
        const bool inside = sx >= 0 && sy >= 0 && sx < source.Width() && sy < source.Height();
        const Rgb want = inside ? source.Pixel(static_cast<int>(sx), static_cast<int>(sy)) : Rgb{1, 2, 3};
        ASSERT_EQ(whole.Pixel(x, y), want) << c.s.StepNum << "/" << c.s.StepDen << " at " << x << "," << y;
        ASSERT_EQ(pieces.Pixel(x, y), want) << c.s.StepNum << "/" << c.s.StepDen << " at " << x << "," << y;
      }
  }
}

} // namespace

namespace {

// The in-memory canvas draws the calibration marks: rings of the given pen
// inside their boxes, and the number in dots.
TEST(BitmapCanvasMarks, RingsAndNumbersAreDrawn) {
  struct Case {
    int left, top, right, bottom, pen;
  } rings[] = {{10, 10, 26, 26, 1}, {0, 0, 40, 20, 3}, {-10, 5, 30, 45, 2}};
  for (const Case& c : rings) {
    Bitmap b(50, 50, PixelFormat::pf24bit);
    b.Fill(Rgb{255, 255, 255});
    BitmapCanvas(b).Ellipse(c.left, c.top, c.right, c.bottom, Rgb{255, 0, 0}, c.pen);
    const int cx = (c.left + c.right) / 2, cy = (c.top + c.bottom) / 2;
    const Rgb red{255, 0, 0}, white{255, 255, 255};
    // The ring's ends on both axes, and nothing at the centre or outside the box.
    if (c.left >= 0) {
      EXPECT_EQ(b.Pixel(c.left, cy), red) << c.left;
    }
    EXPECT_EQ(b.Pixel(c.right - 1, cy), red) << c.left;
    EXPECT_EQ(b.Pixel(cx, c.top + c.pen - 1), red) << c.left;
    EXPECT_EQ(b.Pixel(cx, c.bottom - c.pen), red) << c.left;
    EXPECT_EQ(b.Pixel(cx, c.top + c.pen), white) << c.left;
    EXPECT_EQ(b.Pixel(cx, cy), white) << c.left;
    if (c.right < 50) {
      EXPECT_EQ(b.Pixel(c.right, cy), white) << c.left;
    }
    EXPECT_EQ(b.Pixel(std::max(c.left, 0), std::max(c.top, 0)), white) << c.left; // the box's corner
  }
  // "17" at 5 points: one pixel a dot, each digit 3 wide and a column apart.
  Bitmap b(8, 5, PixelFormat::pf24bit);
  b.Fill(Rgb{255, 255, 255});
  BitmapCanvas(b).TextOut(0, 0, "17", Rgb{0, 0, 0}, 5);
  const char* want[5] = {".#..###.", "##....#.", ".#....#.", ".#....#.", "###...#."};
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(b.Pixel(x, y) == Rgb{}, want[y][x] == '#') << x << "," << y;
}

} // namespace
