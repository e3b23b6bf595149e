// Scrolling arithmetic of the view core: clamping, scroll-bar values, and
// the keys, wheel, drags and scroll commands that move the picture.

#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <utility>
#include <vector>

using namespace zv;

namespace {

// A core with a control of a chosen size and 17-pixel scroll-bar metrics,
// recording what it writes to the bars and to the offsets.
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
  void Invalidate() override { ++Repaints; }
  void SetOffsetX(std::int32_t v) override {
    WritesX.push_back(v);
    TDisplayMapsCore::SetOffsetX(v);
  }

  // A picture of the given size, shown.
  TMapArea* Show(int width, int height) {
    TMapLayout* layout = Layouts->Count() ? (*Layouts)[0] : Layouts->AddLayout("L");
    TMapArea* area = layout->Areas->Add(std::make_unique<TMapArea>(this, layout));
    area->Width = width;
    area->Height = height;
    ShowMapArea(area);
    return area;
  }
  TScrollInfo Bar(TScrollBarKind bar) const { return GetScrollInfo(bar); }

  std::vector<std::pair<TScrollBarKind, TScrollInfo>> Sets;
  std::vector<std::int32_t> WritesX;
  std::int32_t TrackPos[2] = {0, 0};
  int Repaints = 0;

protected:
  void SetScrollInfo(TScrollBarKind bar, const TScrollInfo& info) override {
    Sets.emplace_back(bar, info);
    TDisplayMapsCore::SetScrollInfo(bar, info);
  }
  std::int32_t ScrollTrackPos(TScrollBarKind bar) const override { return TrackPos[bar]; }

private:
  int width_;
  int height_;
};

std::pair<std::int32_t, std::int32_t> Offsets(const TDisplayMapsCore& v) { return {v.OffsetX(), v.OffsetY()}; }
using XY = std::pair<std::int32_t, std::int32_t>;

} // namespace

TEST(Scroll, SmallPictureSitsLowerRightAndCannotMove) {
  FakeView view(800, 600);
  view.Show(200, 150);
  EXPECT_EQ(Offsets(view), (XY{200 - 800 + 17, 150 - 600 + 17}));
  EXPECT_EQ(Offsets(view), (XY{-583, -433}));
  view.KeyDown(TArrowKey::Left);
  view.KeyDown(TArrowKey::Down);
  view.MouseWheel(-120);
  view.MouseDown(100, 100);
  view.MouseMove(300, 250, true);
  view.MouseUp(300, 250);
  view.ScrollCommand(sbHorizontal, scBottom);
  EXPECT_EQ(Offsets(view), (XY{-583, -433}));
  // Both bars hidden: the page is not smaller than the range.
  EXPECT_FALSE(SliderRange(view.Bar(sbHorizontal)).Visible);
  EXPECT_FALSE(SliderRange(view.Bar(sbVertical)).Visible);
}

TEST(Scroll, WidePictureThumbEndAndArrowBeyond) {
  FakeView view(500, 400);
  view.Show(5000, 300);
  // Thumb released at the far right: extent - width + 1.
  view.TrackPos[sbHorizontal] = SliderRange(view.Bar(sbHorizontal)).Maximum;
  view.ScrollCommand(sbHorizontal, scThumbPosition);
  EXPECT_EQ(view.OffsetX(), 4501);
  // The arrow key goes on to extent - width + the bar's width.
  view.KeyDown(TArrowKey::Right);
  EXPECT_EQ(view.OffsetX(), 4517);
  view.KeyDown(TArrowKey::Right);
  EXPECT_EQ(view.OffsetX(), 4517);
  // The bar's own end command goes to the bar's end, however wide the picture.
  view.ScrollCommand(sbHorizontal, scTop);
  EXPECT_EQ(view.OffsetX(), 0);
  view.ScrollCommand(sbHorizontal, scBottom);
  EXPECT_EQ(view.OffsetX(), 4501);
  // The picture is lower than the control: the vertical offset stays at its
  // negative maximum whatever the vertical commands say.
  EXPECT_EQ(view.OffsetY(), 300 - 400 + 17);
  view.ScrollCommand(sbVertical, scLineDown);
  EXPECT_EQ(view.OffsetY(), -83);
}

TEST(Scroll, ScrollCodesActOnTheirOwnBar) {
  struct Row {
    int code;
    std::int32_t want;
  };
  // From an offset of 1000 in a 5000 × 5000 picture.
  const Row rows[] = {{scLineUp, 975},   {scLineDown, 1025}, {scPageUp, 900}, {scPageDown, 1100},
                      {scThumbPosition, 1234}, {scThumbTrack, 1000}, {scTop, 0},     {scBottom, 4501},
                      {scEndScroll, 1000},     {9, 1000},           {-1, 1000}};
  for (const Row& row : rows) {
    for (TScrollBarKind bar : {sbHorizontal, sbVertical}) {
      FakeView view(500, 500);
      view.Show(5000, 5000);
      view.SetOffsetX(1000);
      view.SetOffsetY(1000);
      view.TrackPos[bar] = 1234;
      view.ScrollCommand(bar, row.code);
      const XY want = bar == sbHorizontal ? XY{row.want, 1000} : XY{1000, row.want};
      EXPECT_EQ(Offsets(view), want) << "code " << row.code << " bar " << int(bar);
    }
  }
}

TEST(Scroll, WantedScrollBarValuesAndSliderRanges) {
  FakeView view(500, 300);
  view.Show(5000, 2000);
  view.SetOffsetY(40);
  EXPECT_EQ(view.WantedScrollInfo(sbHorizontal), (TScrollInfo{0, 4600, 100, 0}));
  EXPECT_EQ(view.WantedScrollInfo(sbVertical), (TScrollInfo{0, 1800, 100, 40}));
  EXPECT_EQ(view.Bar(sbVertical), (TScrollInfo{0, 1800, 100, 40}));
  EXPECT_EQ(SliderRange(view.Bar(sbHorizontal)), (TSliderRange{0, 4501, 100, true}));

  // Shown exactly when the extent is at least the control's whole size.
  struct Row {
    std::int32_t extent;
    bool visible;
    std::int32_t maximum;
  };
  for (const Row& row : {Row{500, true, 1}, Row{499, false, 0}, Row{0, false, 0}, Row{501, true, 2}}) {
    const TScrollInfo info{0, row.extent - 500 + 100, 100, 0};
    EXPECT_EQ(SliderRange(info).Visible, row.visible) << row.extent;
    EXPECT_EQ(SliderRange(info).Maximum, row.maximum) << row.extent;
  }
}

TEST(Scroll, BarsAreSetOnlyWhenAValueDiffers) {
  FakeView view(500, 300);
  view.Show(5000, 2000);
  view.Sets.clear();
  view.SetOffsetX(0);
  view.SetOffsetY(0);
  view.UpdateScrollBars();
  EXPECT_TRUE(view.Sets.empty());
  view.SetOffsetX(10);
  ASSERT_EQ(view.Sets.size(), 1u);
  EXPECT_EQ(view.Sets[0].first, sbHorizontal);
  EXPECT_EQ(view.Sets[0].second, (TScrollInfo{0, 4600, 100, 10}));
  // A new extent changes the maximum only; the offsets go back to 0.
  view.Sets.clear();
  view.Show(800, 2000);
  EXPECT_EQ(view.Bar(sbHorizontal), (TScrollInfo{0, 400, 100, 0}));
  for (const auto& set : view.Sets) EXPECT_EQ(set.first, sbHorizontal);
}

TEST(Scroll, ClampLowerBoundFirstThenUpperWhichWins) {
  FakeView view(800, 600);
  view.Show(200, 2000);
  view.WritesX.clear();
  view.SetOffsetX(50);
  // The setter's own clamp: 0 is not below 0, then the negative maximum wins.
  EXPECT_EQ(view.WritesX, (std::vector<std::int32_t>{50, -583}));
  view.WritesX.clear();
  view.SetOffsetX(-1000);
  EXPECT_EQ(view.WritesX, (std::vector<std::int32_t>{-1000, 0, -583}));
  // A clamp run directly clamps once more through its own writes and ends
  // with the same offsets.
  view.WritesX.clear();
  view.ClampOffsets(0, 0, false);
  EXPECT_EQ(view.WritesX, (std::vector<std::int32_t>{0, -583}));
  EXPECT_EQ(view.OffsetX(), -583);
}

TEST(Scroll, DragReanchorsOnlyInASmallDirection) {
  FakeView view(800, 600);
  view.Show(200, 2000); // narrower, but higher than the control
  view.SetOffsetY(500);
  view.MouseDown(400, 300);
  EXPECT_EQ(view.DragStartOffsetX, -583);
  EXPECT_EQ(view.DragStartOffsetY, 500);
  view.MouseMove(450, 280, true);
  // X was moved by the lower bound: the anchor follows the mouse.
  EXPECT_EQ(view.DragStartX, 450);
  EXPECT_EQ(view.DragStartOffsetX, -583);
  // Y was in range: the anchor stays where the button went down.
  EXPECT_EQ(view.DragStartY, 300);
  EXPECT_EQ(view.DragStartOffsetY, 500);
  EXPECT_EQ(Offsets(view), (XY{-583, 520}));
}

TEST(Scroll, DragPastTheEdgeStopsAndResumesFromTheAnchor) {
  FakeView view(500, 300);
  view.Show(5000, 2000);
  view.SetOffsetX(100);
  view.MouseDown(200, 100);
  view.MouseMove(350, 100, true);
  EXPECT_EQ(view.OffsetX(), 0);
  view.MouseMove(320, 100, true);
  EXPECT_EQ(view.OffsetX(), 0); // still right of where 0 was reached
  view.MouseMove(290, 100, true);
  EXPECT_EQ(view.OffsetX(), 10);
  EXPECT_EQ(view.DragStartX, 200);
  const int repaints = view.Repaints;
  view.MouseMove(280, 90, true);
  EXPECT_GT(view.Repaints, repaints);
  view.MouseUp(270, 90);
  EXPECT_EQ(Offsets(view), (XY{30, 10}));
}

TEST(Scroll, RightButtonDragJumpsAtRelease) {
  FakeView view(500, 300);
  view.Show(5000, 2000);
  view.SetOffsetX(1000);
  view.SetOffsetY(1000);
  view.MouseDown(100, 100);
  view.MouseMove(40, 70, false);
  EXPECT_EQ(Offsets(view), (XY{1000, 1000}));
  view.MouseUp(40, 70);
  EXPECT_EQ(Offsets(view), (XY{1060, 1030}));
}

TEST(Scroll, KeysAndWheel) {
  FakeView view(500, 300);
  view.Show(5000, 2000);
  view.KeyDown(TArrowKey::Right);
  view.KeyDown(TArrowKey::Down);
  view.KeyDown(TArrowKey::Down);
  EXPECT_EQ(Offsets(view), (XY{25, 50}));
  view.KeyDown(TArrowKey::Left);
  view.KeyDown(TArrowKey::Up);
  EXPECT_EQ(Offsets(view), (XY{0, 25}));
  // Towards the user (negative delta) scrolls down; partial deltas add up.
  view.MouseWheel(-120);
  EXPECT_EQ(view.OffsetY(), 125);
  view.MouseWheel(60);
  EXPECT_EQ(view.OffsetY(), 125);
  view.MouseWheel(60);
  EXPECT_EQ(view.OffsetY(), 25);
  view.MouseWheel(-360);
  EXPECT_EQ(view.OffsetY(), 325);
  // Holding Down stops at extent - height + the bar's metric.
  for (int i = 0; i < 200; ++i) view.KeyDown(TArrowKey::Down);
  EXPECT_EQ(view.OffsetY(), 2000 - 300 + 17);
}

TEST(Scroll, PageHomeEndAndSidewaysWheel) {
  FakeView view(500, 300);
  view.Show(5000, 2000);
  view.ScrollKeyDown(TScrollKey::PageDown); // the view's height less 25
  view.ScrollKeyDown(TScrollKey::PageDown);
  EXPECT_EQ(Offsets(view), (XY{0, 550}));
  view.ScrollKeyDown(TScrollKey::PageUp);
  EXPECT_EQ(Offsets(view), (XY{0, 275}));
  view.MouseWheelSideways(-120); // as the plain wheel's step, along X
  view.MouseWheelSideways(-60);
  EXPECT_EQ(Offsets(view), (XY{100, 275}));
  view.MouseWheelSideways(-60);
  EXPECT_EQ(Offsets(view), (XY{200, 275}));
  view.MouseWheelSideways(120);
  EXPECT_EQ(Offsets(view), (XY{100, 275}));
  // End and Home keep X; with Ctrl both go to the corner. The bottom is where
  // holding Down stops.
  view.ScrollKeyDown(TScrollKey::End);
  EXPECT_EQ(Offsets(view), (XY{100, 2000 - 300 + 17}));
  view.ScrollKeyDown(TScrollKey::Home);
  EXPECT_EQ(Offsets(view), (XY{100, 0}));
  view.ScrollKeyDown(TScrollKey::CtrlEnd);
  EXPECT_EQ(Offsets(view), (XY{5000 - 500 + 17, 2000 - 300 + 17}));
  view.ScrollKeyDown(TScrollKey::CtrlHome);
  EXPECT_EQ(Offsets(view), (XY{0, 0}));
  // The plain wheel keeps its own partial steps apart from the sideways one.
  view.MouseWheelSideways(-60);
  view.MouseWheel(-60);
  EXPECT_EQ(Offsets(view), (XY{0, 0}));
}

TEST(Scroll, ShowMapAreaFollowsTheShownAreaAndCloseAllKeepsOffsets) {
  FakeView view(800, 600);
  TMapArea* big = view.Show(3000, 2000);
  view.ScrollMinX = 7;
  view.SetOffsetX(900);
  TMapLayout* other = view.Layouts->AddLayout("Other");
  TMapArea* small = other->Areas->Add(std::make_unique<TMapArea>(&view, other));
  small->Width = 500;
  small->Height = 400;
  view.ShowMapArea(small);
  EXPECT_EQ(view.ScrollMinX, 0);
  EXPECT_EQ(view.ActiveLayout(), other);
  EXPECT_FALSE(big->Shown);
  EXPECT_EQ(Offsets(view), (XY{500 - 800 + 17, 400 - 600 + 17}));
  view.ShowMapArea(big);
  EXPECT_EQ(Offsets(view), (XY{0, 0}));
  view.SetOffsetX(900);
  const TScrollInfo bar = view.Bar(sbHorizontal);
  view.CloseAll();
  EXPECT_EQ(view.OffsetX(), 900);
  EXPECT_EQ(view.ExtentWidth, 3000);
  EXPECT_EQ(view.Bar(sbHorizontal), bar);
  EXPECT_EQ(view.ActiveMapArea(), nullptr);
  EXPECT_EQ(view.ActiveLayout(), nullptr);
}

TEST(Scroll, WithoutAControlOffsetsStayAsWritten) {
  TDisplayMapsCore core;
  core.SetOffsetX(-2);
  core.SetOffsetY(123456);
  EXPECT_EQ(Offsets(core), (XY{-2, 123456}));
  EXPECT_TRUE(core.Border());
}

TEST(Scroll, ExtremeValuesSaturate) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  FakeView view(500, 300);
  view.Show(kMax, kMax);
  EXPECT_EQ(view.WantedScrollInfo(sbHorizontal).Max, kMax - 500 + 100);
  view.SetOffsetX(kMax);
  EXPECT_EQ(view.OffsetX(), kMax - 500 + 17);
  for (int i = 0; i < 3; ++i) view.KeyDown(TArrowKey::Right);
  EXPECT_EQ(view.OffsetX(), kMax - 500 + 17);
  view.MouseDown(std::numeric_limits<std::int32_t>::min(), 0);
  view.MouseUp(kMax, 0);
  EXPECT_EQ(view.OffsetX(), 0);
  view.MouseWheel(std::numeric_limits<int>::min());
  view.MouseWheel(std::numeric_limits<int>::max());
  EXPECT_GE(view.OffsetY(), 0);
}

// The picture pixel under a control point follows the offsets, and there is
// none off the picture or with nothing shown.
TEST(Scroll, PicturePixelUnderAControlPoint) {
  FakeView view(800, 600);
  std::int32_t x = -1, y = -1;
  EXPECT_FALSE(view.PicturePixelAt(10, 10, x, y));
  view.Show(3000, 2000);
  view.SetOffsetX(100);
  view.SetOffsetY(50);
  ASSERT_TRUE(view.PicturePixelAt(10, 20, x, y));
  EXPECT_EQ(XY(x, y), XY(110, 70));
  // A small picture sits at the lower right: offsets -583, -433.
  view.Show(200, 150);
  ASSERT_TRUE(view.PicturePixelAt(583, 433, x, y));
  EXPECT_EQ(XY(x, y), XY(0, 0));
  ASSERT_TRUE(view.PicturePixelAt(782, 582, x, y));
  EXPECT_EQ(XY(x, y), XY(199, 149));
  EXPECT_FALSE(view.PicturePixelAt(582, 433, x, y));
  EXPECT_FALSE(view.PicturePixelAt(783, 500, x, y));
  EXPECT_FALSE(view.PicturePixelAt(600, 583, x, y));
}
