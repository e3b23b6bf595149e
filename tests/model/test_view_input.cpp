// The view core's input rules: what a wheel turn, a click and a drag do.

#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <gtest/gtest.h>

#include <memory>

using namespace zv;

namespace {

using TKind = TDisplayMapsCore::TPointerOutcome::TKind;

// A 400 × 300 control over a 4000 × 4000 picture, scrolled to (1000, 1000),
// with one calibration point at picture pixel (1100, 1050): its mark is at
// control point (100, 50).
class InputView : public TDisplayMapsCore {
public:
  InputView() {
    TMapLayout* layout = Layouts->AddLayout("L");
    area_ = layout->Areas->Add(std::make_unique<TMapArea>(this, layout));
    area_->Width = 4000;
    area_->Height = 4000;
    TCalibrationPoint point;
    point.X = 1100;
    point.Y = 1050;
    area_->Points.push_back(point);
    ShowMapArea(area_);
    SetOffsetX(1000);
    SetOffsetY(1000);
  }
  bool HasControl() const override { return true; }
  int Width() const override { return 400; }
  int Height() const override { return 300; }
  int CxVScroll() const override { return 17; }
  int CxHScroll() const override { return 17; }
  const TCalibrationPoint& Point() const { return area_->Points[0]; }

private:
  TMapArea* area_ = nullptr;
};

TEST(ViewInput, TheWheelScrollsOrZoomsByItsKeys) {
  struct Case {
    int dx, dy;
    bool ctrl, shift;
    int zoom;
    std::int32_t offsetX, offsetY;
  } cases[] = {
      {0, -120, false, false, 0, 1000, 1100},  {0, 120, false, false, 0, 1000, 900},
      {0, -120, false, true, 0, 1100, 1000},   {-120, 0, false, false, 0, 1100, 1000},
      {-120, 0, false, true, 0, 1100, 1000},   {0, 120, true, false, 1, 2200, 2150},
      {0, -240, true, true, -2, 100, 138},     {0, 60, false, false, 0, 1000, 1000},
  };
  for (const Case& c : cases) {
    InputView view;
    // Zooming keeps the picture point under (200, 150) where it is.
    view.Wheel(c.dx, c.dy, c.ctrl, c.shift, 200, 150);
    EXPECT_EQ(view.Zoom(), c.zoom) << c.dx << "," << c.dy << " ctrl " << c.ctrl << " shift " << c.shift;
    EXPECT_EQ(view.OffsetX(), c.offsetX) << c.dx << "," << c.dy << " ctrl " << c.ctrl << " shift " << c.shift;
    EXPECT_EQ(view.OffsetY(), c.offsetY) << c.dx << "," << c.dy << " ctrl " << c.ctrl << " shift " << c.shift;
  }
}

TEST(ViewInput, ClicksPickDragsPanOrMoveAMark) {
  struct Case {
    const char* what;
    bool pick, left;
    int pressX, pressY, moveX, moveY;
    bool esc;
    int releaseX, releaseY;
    TKind kind;
    int x, y;
    std::int32_t offsetX, offsetY;
  } cases[] = {
      {"a click outside pick mode pans", false, true, 10, 10, 12, 12, false, 12, 12, TKind::None, 0, 0, 998, 998},
      {"a click picks the pixel under the press", true, true, 10, 10, 12, 11, false, 12, 11, TKind::Picked, 1010,
       1010, 1000, 1000},
      {"a drag in pick mode pans", true, true, 10, 10, 20, 10, false, 20, 10, TKind::None, 0, 0, 990, 1000},
      {"a right click picks nothing", true, false, 10, 10, 10, 10, false, 10, 10, TKind::None, 0, 0, 1000, 1000},
      {"a click on a mark picks", true, true, 101, 51, 102, 51, false, 102, 51, TKind::Picked, 1101, 1051, 1000,
       1000},
      {"dragging a mark moves its point", true, true, 100, 50, 130, 60, false, 130, 60, TKind::PointMoved, 1130,
       1060, 1000, 1000},
      {"Esc puts the dragged point back", true, true, 100, 50, 130, 60, true, 130, 60, TKind::None, 0, 0, 1000,
       1000},
      {"a mark outside pick mode pans", false, true, 100, 50, 130, 60, false, 130, 60, TKind::None, 0, 0, 970, 990},
  };
  for (const Case& c : cases) {
    InputView view;
    view.SetPickRules(c.pick);
    view.PointerPress(c.left, c.pressX, c.pressY);
    view.PointerMove(c.moveX, c.moveY, c.left);
    if (c.moveX != c.pressX && c.pick && c.pressX == 100) {
      // While dragged the point shows under the pointer.
      EXPECT_EQ(view.Point().X, 1130) << c.what;
    }
    if (c.esc) {
      EXPECT_TRUE(view.CancelPointDrag()) << c.what;
    }
    const TDisplayMapsCore::TPointerOutcome outcome = view.PointerRelease(c.left, c.releaseX, c.releaseY);
    EXPECT_EQ(outcome.Kind, c.kind) << c.what;
    if (c.kind != TKind::None) {
      EXPECT_EQ(outcome.X, c.x) << c.what;
      EXPECT_EQ(outcome.Y, c.y) << c.what;
    }
    if (c.kind == TKind::PointMoved) {
      EXPECT_EQ(outcome.Point, 0) << c.what;
    }
    // The receiver moves the point: the core leaves it where it was.
    EXPECT_EQ(view.Point().X, 1100) << c.what;
    EXPECT_EQ(view.Point().Y, 1050) << c.what;
    EXPECT_EQ(view.OffsetX(), c.offsetX) << c.what;
    EXPECT_EQ(view.OffsetY(), c.offsetY) << c.what;
  }
}

} // namespace
