#include "model/DisplayMapsCore.h"

#include "codecs/Canvas.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numeric>

namespace zv {

namespace {

constexpr std::int32_t kLineStep = 25;  // arrow keys and scroll-bar arrows
constexpr std::int32_t kPageStep = 100; // scroll-bar page, page clicks and wheel steps
constexpr int kWheelDelta = 120;        // wheel units of one step

// Partial wheel deltas (fine-grained wheels, touchpads) add up to whole
// steps: the whole steps in rest + delta, the remainder kept in rest.
std::int64_t TakeWheelSteps(int& rest, int delta) {
  const std::int64_t total = std::int64_t{rest} + delta;
  rest = static_cast<int>(total % kWheelDelta);
  return total / kWheelDelta;
}

// Offsets are 32-bit; sums of offsets, extents and mouse positions are
// computed wider and held to that range, so no input can wrap them.
std::int32_t Saturate(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                            std::numeric_limits<std::int32_t>::max()));
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return a >= 0 ? (a + b - 1) / b : -(-a / b); }

bool FitsInt(std::int64_t v) { return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max(); }

// The thumb's last position: Max - Page + 1, never below Min.
std::int64_t ThumbEnd(const TScrollInfo& info) {
  return std::max<std::int64_t>(info.Min, std::int64_t{info.Max} - info.Page + 1);
}

// The offset that puts a picture side of extent pixels in the middle of a
// control side of size pixels.
std::int32_t CentredOffset(std::int32_t extent, int size) {
  return Saturate(-((std::int64_t{size} - extent) / 2));
}

} // namespace

std::int64_t ScaleCoordinate(std::int64_t v, int zoom) {
  if (zoom >= 0) return v * (std::int64_t{1} << zoom);
  const std::int64_t step = std::int64_t{1} << -zoom;
  return v >= 0 ? v / step : -CeilDiv(-v, step);
}

std::int64_t ScaledSide(std::int64_t size, int zoom) {
  if (zoom >= 0) return size << zoom;
  const std::int64_t step = std::int64_t{1} << -zoom;
  return (size + step - 1) / step;
}

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : -CeilDiv(-a, b); }

// Factors are held to 1/64 .. 8, and a fitted one has the room (a screen's
// pixels) above: products of a coordinate and a numerator stay far from
// the 64-bit range.
constexpr std::int64_t kMaxTerm = std::int64_t{1} << 24;

} // namespace

TZoomFactor TZoomFactor::PowerOfTwo(int zoom) {
  zoom = std::clamp(zoom, -40, 40);
  return zoom >= 0 ? TZoomFactor{std::int64_t{1} << zoom, 1} : TZoomFactor{1, std::int64_t{1} << -zoom};
}

TZoomFactor TZoomFactor::Ratio(std::int64_t num, std::int64_t den) {
  num = std::max<std::int64_t>(num, 1);
  den = std::max<std::int64_t>(den, 1);
  const std::int64_t g = std::gcd(num, den);
  return {num / g, den / g};
}

bool TZoomFactor::IsPowerOfTwo() const {
  return (Num == 1 && std::has_single_bit(static_cast<std::uint64_t>(Den))) ||
         (Den == 1 && std::has_single_bit(static_cast<std::uint64_t>(Num)));
}

int TZoomFactor::Exponent() const {
  // floor(log2(Num / Den)) by whole bits, then one correction.
  int e = std::bit_width(static_cast<std::uint64_t>(Num)) - std::bit_width(static_cast<std::uint64_t>(Den));
  const auto below = [&](int k) { // Num / Den < 2^k
    return k >= 0 ? Num < (Den << k) : (Num << -k) < Den;
  };
  if (below(e)) --e;
  return e;
}

std::int64_t ScaledSide(std::int64_t size, TZoomFactor f) { return CeilDiv(size * f.Num, f.Den); }
std::int64_t ScaleCoordinate(std::int64_t v, TZoomFactor f) { return FloorDiv(v * f.Num, f.Den); }

int StepZoom(TZoomFactor f, int steps) {
  std::int64_t to = std::int64_t{f.Exponent()} + steps;
  // Between two powers the one below is already a step out.
  if (!f.IsPowerOfTwo() && steps < 0) ++to;
  return static_cast<int>(std::clamp<std::int64_t>(to, MinZoom, MaxZoom));
}

TZoomFactor FitFactor(std::int64_t width, std::int64_t height, std::int64_t roomX, std::int64_t roomY) {
  roomX = std::clamp<std::int64_t>(roomX, 1, kMaxTerm);
  roomY = std::clamp<std::int64_t>(roomY, 1, kMaxTerm);
  if (width <= roomX && height <= roomY) return {};
  // roomX / width against roomY / height: the smaller one limits.
  const bool byWidth = roomX * std::max<std::int64_t>(height, 1) <= roomY * std::max<std::int64_t>(width, 1);
  const std::int64_t num = byWidth ? roomX : roomY, den = byWidth ? width : height;
  if (num * 64 <= den) return TZoomFactor::PowerOfTwo(MinZoom);
  return TZoomFactor::Ratio(num, den);
}

Bitmap PictureSquare(const TMapArea& area, std::int64_t x, std::int64_t y, int radius, Rgb background) {
  const int side = 2 * radius + 1;
  Bitmap square(side, side, PixelFormat::pf24bit);
  square.Fill(background);
  const std::int64_t left = x - radius, top = y - radius;
  for (const auto& image : area.Images) {
    // The part of the square the image covers, in picture pixels.
    const std::int64_t l = std::max<std::int64_t>(left, image->X), t = std::max<std::int64_t>(top, image->Y);
    const std::int64_t r = std::min<std::int64_t>(left + side, std::int64_t{image->X} + image->Width());
    const std::int64_t b = std::min<std::int64_t>(top + side, std::int64_t{image->Y} + image->Height());
    for (std::int64_t py = t; py < b; ++py)
      for (std::int64_t px = l; px < r; ++px)
        square.SetPixel(static_cast<int>(px - left), static_cast<int>(py - top),
                        image->Bitmap.Pixel(static_cast<int>(px - image->X), static_cast<int>(py - image->Y)));
  }
  return square;
}

TSliderRange SliderRange(const TScrollInfo& info) {
  TSliderRange r;
  r.Minimum = info.Min;
  r.Maximum = Saturate(ThumbEnd(info));
  r.PageStep = info.Page;
  r.Visible = std::int64_t{info.Page} < std::int64_t{info.Max} - info.Min + 1;
  return r;
}

TDisplayMapsCore::TDisplayMapsCore()
    : Layouts(std::make_unique<TMapLayouts>(this)), marks_(std::make_unique<TCalibrationMarks>()) {}

TDisplayMapsCore::~TDisplayMapsCore() {
  // The whole model goes while the hooks are still set, so their receivers
  // hear of every removed layout and area, and while Layouts still holds it.
  Layouts->RemoveAll();
  Layouts.reset();
}

void TDisplayMapsCore::SetActiveMapArea(TMapArea* area) {
  if (area == activeMapArea_) return;
  activeMapArea_ = area;
  SetActiveLayout(area ? area->Layout : nullptr);
  if (Hooks.OnActiveMapAreaChange) Hooks.OnActiveMapAreaChange(this);
}

void TDisplayMapsCore::SetActiveLayout(TMapLayout* layout) {
  if (layout == activeLayout_) return;
  activeLayout_ = layout;
  if (Hooks.OnActiveLayoutChange) Hooks.OnActiveLayoutChange(this);
}

void TDisplayMapsCore::SetOffsetX(std::int32_t v) {
  offsetX_ = v;
  UpdateScrollBars();
  Invalidate();
}

void TDisplayMapsCore::SetOffsetY(std::int32_t v) {
  offsetY_ = v;
  UpdateScrollBars();
  Invalidate();
}

void TDisplayMapsCore::SetOffset(TScrollBarKind bar, std::int64_t v) {
  if (bar == sbHorizontal)
    SetOffsetX(Saturate(v));
  else
    SetOffsetY(Saturate(v));
}

void TDisplayMapsCore::SetOptions(TDisplayMapssOptions v) {
  options_ = v;
  Invalidate();
}

TScrollInfo TDisplayMapsCore::WantedScrollInfo(TScrollBarKind bar) const {
  TScrollInfo info;
  info.Page = kPageStep;
  if (bar == sbHorizontal) {
    info.Min = ScrollMinX;
    info.Max = Saturate(std::int64_t{ExtentWidth} - Width() + kPageStep);
    info.Pos = offsetX_;
  } else {
    info.Min = ScrollMinY;
    info.Max = Saturate(std::int64_t{ExtentHeight} - Height() + kPageStep);
    info.Pos = offsetY_;
  }
  return info;
}

void TDisplayMapsCore::UpdateScrollBars() {
  if (!HasControl()) return;
  if (!Clamping) {
    Clamping = true;
    try {
      ClampOffsets(0, 0, false);
    } catch (...) {
      Clamping = false;
      throw;
    }
    Clamping = false;
  }
  for (TScrollBarKind bar : {sbVertical, sbHorizontal}) {
    const TScrollInfo wanted = WantedScrollInfo(bar);
    if (!(GetScrollInfo(bar) == wanted)) SetScrollInfo(bar, wanted);
  }
}

void TDisplayMapsCore::ClampOffsets(std::int32_t mouseX, std::int32_t mouseY, bool dragging) {
  if (!HasControl()) return;
  auto anchorX = [&] {
    if (!dragging) return;
    DragStartX = mouseX;
    DragStartOffsetX = offsetX_;
  };
  auto anchorY = [&] {
    if (!dragging) return;
    DragStartY = mouseY;
    DragStartOffsetY = offsetY_;
  };
  if (offsetX_ < 0) {
    SetOffsetX(0);
    anchorX();
  }
  if (offsetY_ < 0) {
    SetOffsetY(0);
    anchorY();
  }
  // The horizontal bar's arrow width stands for the bar's height, as the
  // window system's metrics are read.
  const std::int32_t maxX = Saturate(std::int64_t{ExtentWidth} - Width() + CxVScroll());
  const std::int32_t maxY = Saturate(std::int64_t{ExtentHeight} - Height() + CxHScroll());
  if (offsetX_ > maxX) {
    SetOffsetX(maxX);
    anchorX();
  }
  if (offsetY_ > maxY) {
    SetOffsetY(maxY);
    anchorY();
  }
  // Zoomed out, a picture smaller than the control sits in its middle
  // rather than against its lower right corner; it cannot be scrolled.
  if (!zoom_.Below1()) return;
  const std::int32_t centreX = CentredOffset(ExtentWidth, Width()), centreY = CentredOffset(ExtentHeight, Height());
  if (ExtentWidth < Width() && offsetX_ != centreX) {
    SetOffsetX(centreX);
    anchorX();
  }
  if (ExtentHeight < Height() && offsetY_ != centreY) {
    SetOffsetY(centreY);
    anchorY();
  }
}

TScrollInfo TDisplayMapsCore::GetScrollInfo(TScrollBarKind bar) const { return bars_[bar]; }

void TDisplayMapsCore::SetScrollInfo(TScrollBarKind bar, const TScrollInfo& info) {
  bars_[bar] = info;
  bars_[bar].Pos = Saturate(std::clamp<std::int64_t>(info.Pos, info.Min, ThumbEnd(info)));
}

std::int32_t TDisplayMapsCore::ScrollTrackPos(TScrollBarKind bar) const { return bars_[bar].Pos; }

void TDisplayMapsCore::KeyDown(TArrowKey key) {
  switch (key) {
  case TArrowKey::Left: SetOffset(sbHorizontal, std::int64_t{offsetX_} - kLineStep); break;
  case TArrowKey::Right: SetOffset(sbHorizontal, std::int64_t{offsetX_} + kLineStep); break;
  case TArrowKey::Up: SetOffset(sbVertical, std::int64_t{offsetY_} - kLineStep); break;
  case TArrowKey::Down: SetOffset(sbVertical, std::int64_t{offsetY_} + kLineStep); break;
  }
}

void TDisplayMapsCore::MouseWheel(int delta) {
  // The steps of one report move in one write: the clamp gives the same end.
  const std::int64_t steps = TakeWheelSteps(wheelDelta_, delta);
  if (steps != 0) SetOffset(sbVertical, std::int64_t{offsetY_} - steps * kPageStep);
}

void TDisplayMapsCore::ScrollKeyDown(TScrollKey key) {
  // The setters clamp, so the extremes need no arithmetic of their own.
  constexpr std::int64_t kFar = std::int64_t{1} << 40;
  const std::int64_t page = std::max<std::int64_t>(std::int64_t{Height()} - kLineStep, kLineStep);
  switch (key) {
  case TScrollKey::PageUp: SetOffset(sbVertical, std::int64_t{offsetY_} - page); break;
  case TScrollKey::PageDown: SetOffset(sbVertical, std::int64_t{offsetY_} + page); break;
  case TScrollKey::Home: SetOffset(sbVertical, -kFar); break;
  case TScrollKey::End: SetOffset(sbVertical, kFar); break;
  case TScrollKey::CtrlHome:
    SetOffset(sbHorizontal, -kFar);
    SetOffset(sbVertical, -kFar);
    break;
  case TScrollKey::CtrlEnd:
    SetOffset(sbHorizontal, kFar);
    SetOffset(sbVertical, kFar);
    break;
  }
}

void TDisplayMapsCore::MouseWheelSideways(int delta) {
  const std::int64_t steps = TakeWheelSteps(sidewaysWheelDelta_, delta);
  if (steps != 0) SetOffset(sbHorizontal, std::int64_t{offsetX_} - steps * kPageStep);
}

void TDisplayMapsCore::MouseDown(std::int32_t x, std::int32_t y) {
  DragStartX = x;
  DragStartY = y;
  DragStartOffsetX = offsetX_;
  DragStartOffsetY = offsetY_;
}

void TDisplayMapsCore::MouseMove(std::int32_t x, std::int32_t y, bool leftButtonDown) {
  if (!leftButtonDown) return;
  SetOffset(sbHorizontal, std::int64_t{DragStartOffsetX} + DragStartX - x);
  SetOffset(sbVertical, std::int64_t{DragStartOffsetY} + DragStartY - y);
  ClampOffsets(x, y, true);
  Invalidate();
}

void TDisplayMapsCore::MouseUp(std::int32_t x, std::int32_t y) {
  SetOffset(sbHorizontal, std::int64_t{DragStartOffsetX} + DragStartX - x);
  SetOffset(sbVertical, std::int64_t{DragStartOffsetY} + DragStartY - y);
  Invalidate();
}

void TDisplayMapsCore::SetPickRules(bool on) {
  if (dragPoint_ >= 0) EndPointDrag(false, 0, 0);
  pickMode_ = on;
  leftPressed_ = false;
}

void TDisplayMapsCore::PointerPress(bool left, std::int32_t x, std::int32_t y) {
  if (left) {
    swallowRelease_ = false;
    leftPressed_ = true;
    pressedX_ = x;
    pressedY_ = y;
    dragPoint_ = pickMode_ ? PointMarkAt(x, y) : -1;
    if (dragPoint_ >= 0) {
      const TCalibrationPoint& point = activeMapArea_->Points[static_cast<std::size_t>(dragPoint_)];
      dragOriginX_ = point.X;
      dragOriginY_ = point.Y;
      return;
    }
  }
  MouseDown(x, y);
}

void TDisplayMapsCore::PointerMove(std::int32_t x, std::int32_t y, bool leftDown) {
  if (dragPoint_ < 0 || !leftDown) return MouseMove(x, y, leftDown);
  if (std::max(std::abs(x - pressedX_), std::abs(y - pressedY_)) > PickSlop) draggingPoint_ = true;
  TMapArea* area = activeMapArea_;
  std::int32_t px = 0, py = 0;
  if (!draggingPoint_ || !area || static_cast<std::size_t>(dragPoint_) >= area->Points.size() ||
      !PictureAt(x, y, px, py))
    return;
  // Shown where it goes while the button is held.
  area->Points[static_cast<std::size_t>(dragPoint_)].X = px;
  area->Points[static_cast<std::size_t>(dragPoint_)].Y = py;
  Invalidate();
}

TDisplayMapsCore::TPointerOutcome TDisplayMapsCore::EndPointDrag(bool keep, std::int32_t x, std::int32_t y) {
  const int point = dragPoint_;
  const bool dragged = draggingPoint_;
  dragPoint_ = -1;
  draggingPoint_ = false;
  TMapArea* area = activeMapArea_;
  if (!dragged || !area || static_cast<std::size_t>(point) >= area->Points.size()) return {};
  TCalibrationPoint& moved = area->Points[static_cast<std::size_t>(point)];
  moved.X = dragOriginX_;
  moved.Y = dragOriginY_;
  Invalidate();
  std::int32_t px = 0, py = 0;
  if (!keep || !PictureAt(x, y, px, py)) return {};
  return {TPointerOutcome::TKind::PointMoved, point, px, py};
}

TDisplayMapsCore::TPointerOutcome TDisplayMapsCore::PointerRelease(bool left, std::int32_t x, std::int32_t y) {
  const bool click = pickMode_ && leftPressed_ && left &&
                     std::max(std::abs(x - pressedX_), std::abs(y - pressedY_)) <= PickSlop;
  if (left) leftPressed_ = false;
  if (swallowRelease_ && left) {
    swallowRelease_ = false;
    return {};
  }
  // A click picks what was under the pointer when it went down.
  const auto picked = [this] {
    std::int32_t px = 0, py = 0;
    if (!PictureAt(pressedX_, pressedY_, px, py)) return TPointerOutcome{};
    return TPointerOutcome{TPointerOutcome::TKind::Picked, -1, px, py};
  };
  if (dragPoint_ >= 0 && left) {
    // A press on a mark that did not move is a pick as any other click.
    const bool dragged = draggingPoint_;
    const TPointerOutcome moved = EndPointDrag(true, x, y);
    return dragged ? moved : picked();
  }
  if (!click) {
    MouseUp(x, y);
    return {};
  }
  // The few pixels the hand moved do not scroll.
  MouseUp(DragStartX, DragStartY);
  return picked();
}

bool TDisplayMapsCore::CancelPointDrag() {
  if (dragPoint_ < 0) return false;
  EndPointDrag(false, 0, 0);
  swallowRelease_ = leftPressed_;
  return true;
}

void TDisplayMapsCore::Wheel(int deltaX, int deltaY, bool ctrl, bool shift, double x, double y) {
  if (ctrl)
    WheelZoom(deltaY, x, y);
  else if (deltaX != 0)
    MouseWheelSideways(deltaX);
  else if (shift)
    MouseWheelSideways(deltaY);
  else
    MouseWheel(deltaY);
}

bool TDisplayMapsCore::PictureAt(std::int32_t x, std::int32_t y, std::int32_t& pictureX,
                                 std::int32_t& pictureY) const {
  return !OverScrollBars(x, y) && PicturePixelAt(x, y, pictureX, pictureY);
}

void TDisplayMapsCore::ScrollCommand(TScrollBarKind bar, int code) {
  const std::int64_t offset = Offset(bar);
  switch (code) {
  case scLineUp: SetOffset(bar, offset - kLineStep); break;
  case scLineDown: SetOffset(bar, offset + kLineStep); break;
  case scPageUp: SetOffset(bar, offset - kPageStep); break;
  case scPageDown: SetOffset(bar, offset + kPageStep); break;
  case scThumbPosition: SetOffset(bar, ScrollTrackPos(bar)); break;
  case scTop: SetOffset(bar, 0); break;
  // The bar's own end: its thumb's last position. (A fixed 1000 would leave
  // the rest of larger pictures out of this command's reach.)
  case scBottom: SetOffset(bar, ThumbEnd(GetScrollInfo(bar))); break;
  default: break; // thumb tracking and end of scrolling move nothing
  }
}

bool TDisplayMapsCore::PicturePixelAt(std::int32_t x, std::int32_t y, std::int32_t& pictureX,
                                      std::int32_t& pictureY) const {
  const TMapArea* area = activeMapArea_;
  if (!area || !area->Shown) return false;
  // At any zoom: the picture pixel under the control pixel's top-left corner.
  const TPicturePoint p = ViewToPicture(x, y);
  const std::int64_t px = p.X, py = p.Y;
  if (px < 0 || py < 0 || px >= area->Width || py >= area->Height) return false;
  pictureX = static_cast<std::int32_t>(px);
  pictureY = static_cast<std::int32_t>(py);
  return true;
}

int TDisplayMapsCore::PointMarkAt(std::int32_t x, std::int32_t y) const {
  const TMapArea* area = activeMapArea_;
  if (!area || !area->Shown) return -1;
  int found = -1;
  std::int64_t best = std::int64_t{MarkGrab} * MarkGrab;
  for (std::size_t i = 0; i < area->Points.size(); ++i) {
    const std::int64_t dx = PictureToViewX(area->Points[i].X) - x, dy = PictureToViewY(area->Points[i].Y) - y;
    if (std::abs(dx) > MarkGrab || std::abs(dy) > MarkGrab) continue;
    if (dx * dx + dy * dy <= best) {
      best = dx * dx + dy * dy;
      found = static_cast<int>(i);
    }
  }
  return found;
}

void TDisplayMapsCore::ShowMapArea(TMapArea* area) {
  ScrollMinX = 0;
  ScrollMinY = 0;
  ExtentWidth = 0;
  ExtentHeight = 0;
  PictureWidth = 0;
  PictureHeight = 0;
  for (int i = 0; i < Layouts->Count(); ++i) {
    TMapAreas& areas = *(*Layouts)[i]->Areas;
    for (int j = 0; j < areas.Count(); ++j) {
      TMapArea* a = areas[j];
      a->Shown = a == area;
      if (a == area) {
        SetActiveMapArea(a);
        PictureWidth = a->Width;
        PictureHeight = a->Height;
        ScaleExtent();
      }
    }
  }
  SetOffsetX(0);
  SetOffsetY(0);
  UpdateScrollBars();
  Invalidate();
}

void TDisplayMapsCore::ScaleExtent() {
  ExtentWidth = Saturate(ScaledSide(PictureWidth, zoom_));
  ExtentHeight = Saturate(ScaledSide(PictureHeight, zoom_));
}

void TDisplayMapsCore::SetZoom(int zoom, double x, double y) {
  SetZoomFactor(TZoomFactor::PowerOfTwo(std::clamp(zoom, MinZoom, MaxZoom)), x, y);
}

void TDisplayMapsCore::SetZoomFactor(TZoomFactor factor, double x, double y) {
  factor = TZoomFactor::Ratio(factor.Num, factor.Den);
  if (factor.Exponent() < MinZoom) factor = TZoomFactor::PowerOfTwo(MinZoom);
  if (factor.Exponent() >= MaxZoom) factor = TZoomFactor::PowerOfTwo(MaxZoom);
  if (factor.Num > kMaxTerm || factor.Den > (kMaxTerm << 7)) return; // no factor the view makes
  if (factor == zoom_) return;
  // The picture point at (x, y), in picture pixels, before and after.
  const double px = (x + offsetX_) / zoom_.Value();
  const double py = (y + offsetY_) / zoom_.Value();
  zoom_ = factor;
  ScaleExtent();
  const double scale = zoom_.Value();
  SetOffset(sbHorizontal, std::llround(std::clamp(px * scale - x, -1e15, 1e15)));
  SetOffset(sbVertical, std::llround(std::clamp(py * scale - y, -1e15, 1e15)));
  UpdateScrollBars();
  Invalidate();
  ZoomChanged();
}

void TDisplayMapsCore::ResetZoom() {
  if (zoom_ == TZoomFactor{}) return;
  zoom_ = TZoomFactor{};
  ScaleExtent();
  ZoomChanged();
}

void TDisplayMapsCore::ZoomIn() { SetZoom(StepZoom(zoom_, 1), Width() / 2.0, Height() / 2.0); }
void TDisplayMapsCore::ZoomOut() { SetZoom(StepZoom(zoom_, -1), Width() / 2.0, Height() / 2.0); }
void TDisplayMapsCore::ActualSize() { SetZoom(0, Width() / 2.0, Height() / 2.0); }
void TDisplayMapsCore::FitToWindow() { SetZoomFactor(FitZoom(), Width() / 2.0, Height() / 2.0); }

TZoomFactor TDisplayMapsCore::FitZoom() const {
  // The control inside its one-pixel edge: the picture, narrower than the
  // control, shows no scroll bar and sits in its middle.
  return FitFactor(PictureWidth, PictureHeight, std::int64_t{Width()} - 2, std::int64_t{Height()} - 2);
}

void TDisplayMapsCore::WheelZoom(int delta, double x, double y) {
  const std::int64_t steps = TakeWheelSteps(zoomWheelDelta_, delta);
  if (steps != 0)
    SetZoom(StepZoom(zoom_, static_cast<int>(std::clamp<std::int64_t>(steps, -100, 100))), x, y);
}

TPicturePoint TDisplayMapsCore::ViewToPicture(double x, double y) const {
  const double den = static_cast<double>(zoom_.Den), num = static_cast<double>(zoom_.Num);
  return {static_cast<std::int64_t>(std::floor((x + offsetX_) * den / num)),
          static_cast<std::int64_t>(std::floor((y + offsetY_) * den / num))};
}

std::int64_t TDisplayMapsCore::PictureToViewX(std::int64_t x) const { return ScaleCoordinate(x, zoom_) - offsetX_; }
std::int64_t TDisplayMapsCore::PictureToViewY(std::int64_t y) const { return ScaleCoordinate(y, zoom_) - offsetY_; }

TOverlayViewport TDisplayMapsCore::Viewport() const {
  // The scroll bars' room is never the picture's, as the scrolling counts it.
  return {zoom_.Value(), static_cast<double>(offsetX_), static_cast<double>(offsetY_),
          std::max(0, Width() - CxVScroll()), std::max(0, Height() - CxHScroll())};
}

void TDisplayMapsCore::PaintOverlays(const TMapArea& area) {
  if (!BufferCanvas) return;
  const TOverlayViewport viewport = Viewport();
  if (HasOption(mpoShowCalibrationPoints)) marks_->Paint(*BufferCanvas, area, viewport);
  for (TMapOverlay* overlay : overlays_) overlay->Paint(*BufferCanvas, area, viewport);
}

void TDisplayMapsCore::AddOverlay(TMapOverlay* overlay) {
  if (overlay && !HasOverlay(overlay)) overlays_.push_back(overlay);
}

void TDisplayMapsCore::RemoveOverlay(TMapOverlay* overlay) { std::erase(overlays_, overlay); }

bool TDisplayMapsCore::HasOverlay(const TMapOverlay* overlay) const {
  return std::find(overlays_.begin(), overlays_.end(), overlay) != overlays_.end();
}

void TDisplayMapsCore::PaintReduced(const TMapArea& area) {
  if (!BufferCanvas || !zoom_.Below1()) return;
  if (!zoom_.IsPowerOfTwo()) {
    // Each control pixel shows the picture pixel under its top-left corner.
    const TSampling sampling{zoom_.Den, zoom_.Num, offsetX_, offsetY_};
    for (const auto& image : area.Images) BufferCanvas->SampledCopy(image->Bitmap, image->X, image->Y, sampling);
    return;
  }
  // Each control pixel shows the picture pixel at its top-left corner.
  const int zoom = zoom_.Exponent();
  const std::int64_t step = std::int64_t{1} << -zoom;
  for (const auto& image : area.Images) {
    // The first sampled picture column and row inside this image.
    const std::int64_t cx = CeilDiv(image->X, step), cy = CeilDiv(image->Y, step);
    const std::int64_t dx = cx - offsetX_, dy = cy - offsetY_;
    if (!FitsInt(dx) || !FitsInt(dy)) continue;
    const int sx = static_cast<int>(cx * step - image->X), sy = static_cast<int>(cy * step - image->Y);
    BufferCanvas->ScaledCopy(static_cast<int>(dx), static_cast<int>(dy), image->Bitmap, sx, sy, image->Width() - sx,
                             image->Height() - sy, zoom);
  }
}

void TDisplayMapsCore::CloseAll() {
  Layouts->RemoveAll();
  SetActiveMapArea(nullptr);
  SetActiveLayout(nullptr);
  Invalidate();
}

} // namespace zv
