#include "model/DisplayMapsCore.h"

#include "codecs/Canvas.h"

#include <algorithm>
#include <cmath>
#include <limits>

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
  if (zoom_ >= 0) return;
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
  zoom = std::clamp(zoom, MinZoom, MaxZoom);
  if (zoom == zoom_) return;
  // The picture point at (x, y), in picture pixels, before and after.
  const double px = (x + offsetX_) / std::ldexp(1.0, zoom_);
  const double py = (y + offsetY_) / std::ldexp(1.0, zoom_);
  zoom_ = zoom;
  ScaleExtent();
  const double scale = std::ldexp(1.0, zoom_);
  SetOffset(sbHorizontal, std::llround(std::clamp(px * scale - x, -1e15, 1e15)));
  SetOffset(sbVertical, std::llround(std::clamp(py * scale - y, -1e15, 1e15)));
  UpdateScrollBars();
  Invalidate();
  ZoomChanged();
}

void TDisplayMapsCore::ResetZoom() {
  if (zoom_ == 0) return;
  zoom_ = 0;
  ScaleExtent();
  ZoomChanged();
}

void TDisplayMapsCore::ZoomIn() { SetZoom(zoom_ + 1, Width() / 2.0, Height() / 2.0); }
void TDisplayMapsCore::ZoomOut() { SetZoom(zoom_ - 1, Width() / 2.0, Height() / 2.0); }
void TDisplayMapsCore::ActualSize() { SetZoom(0, Width() / 2.0, Height() / 2.0); }
void TDisplayMapsCore::FitToWindow() { SetZoom(FitZoom(), Width() / 2.0, Height() / 2.0); }

int TDisplayMapsCore::FitZoom() const {
  // The room a picture smaller than the control has: the clamp puts its
  // right and bottom edges at the scroll bars' inner sides.
  const std::int64_t roomX = std::int64_t{Width()} - CxVScroll(), roomY = std::int64_t{Height()} - CxHScroll();
  for (int zoom = 0; zoom > MinZoom; --zoom)
    if (ScaledSide(PictureWidth, zoom) <= roomX && ScaledSide(PictureHeight, zoom) <= roomY) return zoom;
  return MinZoom;
}

void TDisplayMapsCore::WheelZoom(int delta, double x, double y) {
  const std::int64_t steps = TakeWheelSteps(zoomWheelDelta_, delta);
  if (steps != 0) SetZoom(static_cast<int>(std::clamp<std::int64_t>(zoom_ + steps, MinZoom, MaxZoom)), x, y);
}

TPicturePoint TDisplayMapsCore::ViewToPicture(double x, double y) const {
  const double scale = std::ldexp(1.0, -zoom_);
  return {static_cast<std::int64_t>(std::floor((x + offsetX_) * scale)),
          static_cast<std::int64_t>(std::floor((y + offsetY_) * scale))};
}

std::int64_t TDisplayMapsCore::PictureToViewX(std::int64_t x) const { return ScaleCoordinate(x, zoom_) - offsetX_; }
std::int64_t TDisplayMapsCore::PictureToViewY(std::int64_t y) const { return ScaleCoordinate(y, zoom_) - offsetY_; }

TOverlayViewport TDisplayMapsCore::Viewport() const {
  // The scroll bars' room is never the picture's, as the scrolling counts it.
  return {std::ldexp(1.0, zoom_), static_cast<double>(offsetX_), static_cast<double>(offsetY_),
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
  if (!BufferCanvas || zoom_ >= 0) return;
  // Each control pixel shows the picture pixel at its top-left corner.
  const std::int64_t step = std::int64_t{1} << -zoom_;
  for (const auto& image : area.Images) {
    // The first sampled picture column and row inside this image.
    const std::int64_t cx = CeilDiv(image->X, step), cy = CeilDiv(image->Y, step);
    const std::int64_t dx = cx - offsetX_, dy = cy - offsetY_;
    if (!FitsInt(dx) || !FitsInt(dy)) continue;
    const int sx = static_cast<int>(cx * step - image->X), sy = static_cast<int>(cy * step - image->Y);
    BufferCanvas->ScaledCopy(static_cast<int>(dx), static_cast<int>(dy), image->Bitmap, sx, sy, image->Width() - sx,
                             image->Height() - sy, zoom_);
  }
}

void TDisplayMapsCore::CloseAll() {
  Layouts->RemoveAll();
  SetActiveMapArea(nullptr);
  SetActiveLayout(nullptr);
  Invalidate();
}

} // namespace zv
