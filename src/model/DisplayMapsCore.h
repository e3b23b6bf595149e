#pragma once

#include "model/MapModel.h"
#include "model/MapOverlay.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zv {

struct TOpenArchive;

enum TDisplayMapsOption : std::uint8_t { mpoShowCalibrationPoints = 0, mpoShowImageBorder = 1 };
// The set of options, bit n for option n. The double s in its name is
// intended: it is the name the type is known by, so keep it.
using TDisplayMapssOptions = std::uint8_t;
constexpr TDisplayMapssOptions OptionBit(TDisplayMapsOption o) { return static_cast<TDisplayMapssOptions>(1u << o); }

// The two scroll bars, numbered as the window system numbers them.
enum TScrollBarKind : std::uint8_t { sbHorizontal = 0, sbVertical = 1 };

// A scroll bar's state as the window system keeps it: the range Min..Max,
// the page (the thumb's size in range units) and the thumb's position.
struct TScrollInfo {
  std::int32_t Min = 0;
  std::int32_t Max = 0;
  std::int32_t Page = 0;
  std::int32_t Pos = 0;
  friend bool operator==(const TScrollInfo&, const TScrollInfo&) = default;
};

// The same state for a slider whose range is the thumb's positions only (a
// QScrollBar): Min..Max - Page + 1 with the page as page step, and shown
// exactly when the page is smaller than the range.
struct TSliderRange {
  std::int32_t Minimum = 0;
  std::int32_t Maximum = 0;
  std::int32_t PageStep = 0;
  bool Visible = false;
  friend bool operator==(const TSliderRange&, const TSliderRange&) = default;
};
TSliderRange SliderRange(const TScrollInfo& info);

// Scroll commands of the window system (SB_LINEUP ... SB_ENDSCROLL).
enum TScrollCode : std::uint8_t {
  scLineUp = 0,
  scLineDown = 1,
  scPageUp = 2,
  scPageDown = 3,
  scThumbPosition = 4,
  scThumbTrack = 5,
  scTop = 6,
  scBottom = 7,
  scEndScroll = 8
};

enum class TArrowKey : std::uint8_t { Left, Up, Right, Down };
// Keys that scroll further than the arrows: a page (the view's height less
// one arrow step), and to the top or bottom, with Ctrl to the corners.
enum class TScrollKey : std::uint8_t { PageUp, PageDown, Home, End, CtrlHome, CtrlEnd };

// Zoom factors are 2^zoom for zoom from MinZoom (1/64) to MaxZoom (8).
inline constexpr int MinZoom = -6;
inline constexpr int MaxZoom = 3;

// A picture side in view pixels at a zoom: times the factor, rounded up.
std::int64_t ScaledSide(std::int64_t size, int zoom);
// A picture coordinate in view pixels at a zoom: times the factor, rounded down.
std::int64_t ScaleCoordinate(std::int64_t v, int zoom);

// A zoom factor Num / Den in lowest terms. The zoom commands step through
// powers of two; Fit to window may give any factor from 1/64 to 1, the room
// over the picture's side, so that the picture fills the view on one side.
struct TZoomFactor {
  std::int64_t Num = 1;
  std::int64_t Den = 1;

  static TZoomFactor PowerOfTwo(int zoom);
  // num / den reduced; both must be positive.
  static TZoomFactor Ratio(std::int64_t num, std::int64_t den);
  bool IsPowerOfTwo() const;
  // The exponent of the largest power of two not above the factor.
  int Exponent() const;
  bool Below1() const { return Num < Den; }
  double Value() const { return static_cast<double>(Num) / static_cast<double>(Den); }
  friend bool operator==(const TZoomFactor&, const TZoomFactor&) = default;
};
std::int64_t ScaledSide(std::int64_t size, TZoomFactor f);
std::int64_t ScaleCoordinate(std::int64_t v, TZoomFactor f);
// The power-of-two zoom `steps` steps from f (positive: in). From a factor
// between two powers the first step in goes to the power above, the first
// step out to the power below. Held to MinZoom..MaxZoom.
int StepZoom(TZoomFactor f, int steps);
// The largest factor of at most 1 (and at least 1/64) at which a picture of
// width × height fits a room of roomX × roomY: exactly the room on the side
// that limits it.
TZoomFactor FitFactor(std::int64_t width, std::int64_t height, std::int64_t roomX, std::int64_t roomY);

// A point of the shown picture, in picture pixels.
struct TPicturePoint {
  std::int64_t X = 0;
  std::int64_t Y = 0;
  friend bool operator==(const TPicturePoint&, const TPicturePoint&) = default;
};

// The picture pixels of area in the square of side 2 * radius + 1 centred on
// (x, y), as 24-bit pixels; those off the picture are background. The loupe
// of pick mode shows it magnified.
Bitmap PictureSquare(const TMapArea& area, std::int64_t x, std::int64_t y, int radius, Rgb background);

// The Qt-free heart of the map view: it owns the model, holds the active area
// and layout, the scroll offsets and drawing options, opens files, and does
// the scrolling arithmetic of every input. The desktop view derives from it
// and adds the widget, scroll bars and painting.
//
// Without a control (HasControl false: the converter, the model tests) the
// offsets are kept as written: there is no window to clamp them to.
class TDisplayMapsCore {
public:
  TDisplayMapsCore();
  virtual ~TDisplayMapsCore();
  TDisplayMapsCore(const TDisplayMapsCore&) = delete;
  TDisplayMapsCore& operator=(const TDisplayMapsCore&) = delete;

  TMapHooks Hooks;
  // Answers the duplicate question; without one the answer is No.
  TQuestion Question;
  // Shows a message that is no failure (msg::UnsupportedImageFile);
  // without one the message is dropped.
  std::function<void(const std::string& text)> ShowError;

  std::unique_ptr<TMapLayouts> Layouts;

  TMapArea* ActiveMapArea() const { return activeMapArea_; }
  void SetActiveMapArea(TMapArea* area);
  TMapLayout* ActiveLayout() const { return activeLayout_; }
  void SetActiveLayout(TMapLayout* layout);

  std::int32_t OffsetX() const { return offsetX_; }
  std::int32_t OffsetY() const { return offsetY_; }
  virtual void SetOffsetX(std::int32_t v);
  virtual void SetOffsetY(std::int32_t v);
  TDisplayMapssOptions Options() const { return options_; }
  bool HasOption(TDisplayMapsOption o) const { return (options_ & OptionBit(o)) != 0; }
  virtual void SetOptions(TDisplayMapssOptions v);

  // The zoom belongs to the view: the factor is ZoomFactor(), 2^Zoom() when
  // it is a power of two (Zoom() is the power just below it otherwise). The
  // scrolling arithmetic runs in view pixels, over the picture's size times
  // the factor.
  int Zoom() const { return zoom_.Exponent(); }
  TZoomFactor ZoomFactor() const { return zoom_; }
  double ZoomScale() const { return zoom_.Value(); }
  // Sets the zoom (held to MinZoom..MaxZoom) keeping the picture point at the
  // control position (x, y) where it is, as far as the offsets' bounds allow.
  void SetZoom(int zoom, double x, double y);
  // The same for any factor, held to 1/64..8.
  void SetZoomFactor(TZoomFactor factor, double x, double y);
  // The keyboard commands: one power of two in or out, 100 %, or the exact
  // factor of at most 100 % at which the whole picture fits; each keeps the
  // picture point at the control's centre.
  void ZoomIn();
  void ZoomOut();
  void ActualSize();
  void FitToWindow();
  TZoomFactor FitZoom() const;
  // Wheel deltas with Ctrl held: each full 120 units one step, in towards
  // positive deltas, about the control position (x, y).
  void WheelZoom(int delta, double x, double y);
  // The picture pixel under the control position (x, y), at any zoom.
  TPicturePoint ViewToPicture(double x, double y) const;
  // The control position of a picture coordinate's top-left corner
  // (rounded down when zoomed out).
  std::int64_t PictureToViewX(std::int64_t x) const;
  std::int64_t PictureToViewY(std::int64_t y) const;
  // The unscaled size of the shown picture, which the extent scales.
  std::int32_t PictureWidth = 0;
  std::int32_t PictureHeight = 0;

  // Draws the shown area's picture reduced to the current zoom (below 1)
  // onto BufferCanvas. This one samples the picture's own pixels; the
  // desktop view draws box-filtered levels.
  virtual void PaintReduced(const TMapArea& area);

  // How the shown picture lands on the canvas at the current zoom and offsets.
  TOverlayViewport Viewport() const;
  // Draws over area's picture: the calibration marks (when that option is
  // on), then every added overlay in the order added.
  void PaintOverlays(const TMapArea& area);
  // Overlays stay their owner's; one removed is no longer drawn.
  void AddOverlay(TMapOverlay* overlay);
  void RemoveOverlay(TMapOverlay* overlay);
  bool HasOverlay(const TMapOverlay* overlay) const;

  // Draw the focus edge. Shows at the next repaint.
  bool Border() const { return border_; }
  void SetBorder(bool v) { border_ = v; }

  std::int32_t ScrollMinX = 0;
  std::int32_t ScrollMinY = 0;
  // Size of the picture that scrolling covers.
  std::int32_t ExtentWidth = 0;
  std::int32_t ExtentHeight = 0;
  // The offsets and the mouse position (control coordinates) when a mouse
  // button last went down.
  std::int32_t DragStartOffsetX = 0;
  std::int32_t DragStartOffsetY = 0;
  std::int32_t DragStartX = 0;
  std::int32_t DragStartY = 0;
  // Set while UpdateScrollBars runs its own clamp.
  bool Clamping = false;

  // The control, as the widget reports it: its whole size, scroll bars
  // included, and the widths that stand for the vertical bar (SM_CXVSCROLL)
  // and the horizontal one (SM_CXHSCROLL).
  virtual bool HasControl() const { return false; }
  virtual int Width() const { return 0; }
  virtual int Height() const { return 0; }
  virtual int CxVScroll() const { return 0; }
  virtual int CxHScroll() const { return 0; }

  // Clamps the offsets (unless already clamping) and sets each bar whose
  // minimum, maximum, page or position differs from the wanted one.
  void UpdateScrollBars();
  TScrollInfo WantedScrollInfo(TScrollBarKind bar) const;
  // Lower bound 0 first, then the upper bound, which wins; while dragging,
  // a bound that moves an offset also moves the drag anchor to the mouse.
  void ClampOffsets(std::int32_t mouseX, std::int32_t mouseY, bool dragging);

  // Input. Every one changes the offsets only through their setters.
  void KeyDown(TArrowKey key);
  // Wheel deltas as the window system reports them (positive away from the
  // user); each full 120 units is one step of 100 pixels.
  void MouseWheel(int delta);
  // The further scroll keys and the sideways wheel (Shift with the wheel,
  // or a horizontal wheel; positive to the left), in the wheel's steps.
  void ScrollKeyDown(TScrollKey key);
  void MouseWheelSideways(int delta);
  // Any button: sets the drag anchor.
  void MouseDown(std::int32_t x, std::int32_t y);
  // Pans only while the left button is down.
  void MouseMove(std::int32_t x, std::int32_t y, bool leftButtonDown);
  // Any button: applies the whole distance from the anchor.
  void MouseUp(std::int32_t x, std::int32_t y);
  // The pixel of the shown active area's picture at control point (x, y);
  // false when no picture pixel is there. Every use of the pointer's place on
  // the picture goes through here.
  bool PicturePixelAt(std::int32_t x, std::int32_t y, std::int32_t& pictureX, std::int32_t& pictureY) const;
  // The active area's point whose mark's centre lies within MarkGrab pixels
  // of control point (x, y), the nearest; -1 when none.
  static constexpr int MarkGrab = 8;
  int PointMarkAt(std::int32_t x, std::int32_t y) const;
  // What the pointer does, decided here; the desktop view only forwards its
  // events and reports the outcome. Outside pick mode the left button pans.
  // In pick mode a left click that moves at most PickSlop pixels picks the
  // picture pixel under the press instead of panning, and a press on a
  // point's mark takes hold of the point: dragging it shows it under the
  // pointer, and the release reports the move (the point itself is put back:
  // the receiver makes the move).
  static constexpr int PickSlop = 3;
  struct TPointerOutcome {
    enum class TKind : std::uint8_t { None, Picked, PointMoved } Kind = TKind::None;
    int Point = -1; // PointMoved: which point, from 0
    std::int32_t X = 0, Y = 0; // the picture pixel
  };
  bool PickMode() const { return pickMode_; }
  // Turning pick mode either way puts back a point being dragged.
  void SetPickRules(bool on);
  void PointerPress(bool left, std::int32_t x, std::int32_t y);
  void PointerMove(std::int32_t x, std::int32_t y, bool leftDown);
  TPointerOutcome PointerRelease(bool left, std::int32_t x, std::int32_t y);
  // Esc during a point's drag: the point goes back and the button's release
  // does nothing. False when no point was held.
  bool CancelPointDrag();
  // The wheel: with Ctrl it zooms about (x, y); a sideways wheel, or the
  // wheel with Shift, scrolls sideways; otherwise it scrolls up and down.
  void Wheel(int deltaX, int deltaY, bool ctrl, bool shift, double x, double y);
  // The picture pixel at control point (x, y) unless a scroll bar is there.
  bool PictureAt(std::int32_t x, std::int32_t y, std::int32_t& pictureX, std::int32_t& pictureY) const;
  virtual bool OverScrollBars(std::int32_t, std::int32_t) const { return false; }

  // A scroll-bar command by its TScrollCode; unknown codes do nothing. The
  // bar's end command goes to the thumb's last position.
  void ScrollCommand(TScrollBarKind bar, int code);

  // The canvas the model paints on; set by the view for the length of a paint.
  TCanvas* BufferCanvas = nullptr;
  // The archive OpenFile is opening maps from, for the length of that call:
  // the maps it holds load from this one walk of it.
  TOpenArchive* OpeningArchive = nullptr;

  // Opening (dispatch by extension, single maps, atlases).
  void OpenFile(const std::string& fileName);
  // A file the user named (open dialog, command line, drop): one that is not
  // there fails with the file layer's "cannot open" message, as any other
  // loading failure does, instead of opening as an empty map.
  void OpenNamedFile(const std::string& fileName);
  void OpenMap(const std::string& tarFileName, const std::string& fileName);
  void OpenAtlas(const std::string& tarFileName, const std::string& atlasFileName);

  // Makes area the only shown one and the active one, and resets the offsets.
  virtual void ShowMapArea(TMapArea* area);
  // Removes the whole model.
  virtual void CloseAll();

  // Asks the desktop view to repaint; nothing without one.
  virtual void Invalidate() {}
  // Told after the zoom has changed.
  virtual void ZoomChanged() {}

protected:
  // The scroll bars as the window system holds them. Without a widget they
  // are kept here, with the position held inside the thumb's range.
  virtual TScrollInfo GetScrollInfo(TScrollBarKind bar) const;
  virtual void SetScrollInfo(TScrollBarKind bar, const TScrollInfo& info);
  // Where the user let the thumb go.
  virtual std::int32_t ScrollTrackPos(TScrollBarKind bar) const;

  std::int32_t offsetX_ = 0;
  std::int32_t offsetY_ = 0;
  TDisplayMapssOptions options_ = 0;

private:
  void SetOffset(TScrollBarKind bar, std::int64_t v);
  std::int32_t Offset(TScrollBarKind bar) const { return bar == sbHorizontal ? offsetX_ : offsetY_; }

  void ScaleExtent();
  // A newly opened file shows at 100 %.
  void ResetZoom();

  TPointerOutcome EndPointDrag(bool keep, std::int32_t x, std::int32_t y);

  bool pickMode_ = false;
  bool leftPressed_ = false;
  std::int32_t pressedX_ = 0, pressedY_ = 0;
  // The point whose mark the left button went down on in pick mode (-1:
  // none), whether it is being dragged, and where it was.
  int dragPoint_ = -1;
  bool draggingPoint_ = false;
  std::int32_t dragOriginX_ = 0, dragOriginY_ = 0;
  // The drag was given up with Esc: the button's release does nothing.
  bool swallowRelease_ = false;

  bool border_ = true;
  std::unique_ptr<TMapOverlay> marks_;
  std::vector<TMapOverlay*> overlays_;
  int wheelDelta_ = 0;
  int sidewaysWheelDelta_ = 0;
  int zoomWheelDelta_ = 0;
  TZoomFactor zoom_;
  TScrollInfo bars_[2];
  TMapArea* activeMapArea_ = nullptr;
  TMapLayout* activeLayout_ = nullptr;
};

} // namespace zv
