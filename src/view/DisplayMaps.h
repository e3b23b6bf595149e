#pragma once

#include "model/DisplayMapsCore.h"
#include "model/MapGrid.h"

#include <QImage>
#include <QWidget>

#include <memory>
#include <optional>

class QScrollBar;

namespace zv {

class TZoomLevels;

// The map view: the view core plus the widget, its two scroll bars, painting
// and input. Everything is drawn into an image of the whole control first
// and copied to the window in one step.
class TDisplayMaps : public QWidget, public TDisplayMapsCore {
  Q_OBJECT

public:
  explicit TDisplayMaps(QWidget* parent = nullptr);
  ~TDisplayMaps() override;

  void Invalidate() override { update(); }
  void ZoomChanged() override;
  void ShowMapArea(TMapArea* area) override;
  void CloseAll() override;
  // Draws the box-filtered levels, made in the background.
  void PaintReduced(const TMapArea& area) override;
  // The zoom-out levels of the shown picture, once a zoom below 1 was drawn.
  const TZoomLevels* ZoomLevels() const { return levels_.get(); }
  // Whether the last paint showed the picture exactly at the zoom, rather
  // than a level still being made standing in for it.
  bool PaintedExact() const { return paintedExact_; }

  bool HasControl() const override { return true; }
  int Width() const override { return width(); }
  int Height() const override { return height(); }
  // Both stand for the scroll bars' thickness: the style's scroll-bar extent.
  int CxVScroll() const override;
  int CxHScroll() const override { return CxVScroll(); }

  QScrollBar* ScrollBar(TScrollBarKind bar) const { return bars_[bar]; }

  // Picking calibration points: a cross cursor, and a left click that moves
  // at most kPickSlop pixels reports the picture pixel under it instead of
  // scrolling (the core decides: PointerPress and the rest). Dragging still
  // scrolls; Esc ends picking.
  static constexpr int kPickSlop = PickSlop;
  // In pick mode a loupe follows the pointer over the picture: the picture
  // pixels around it, kLoupeZoom screen pixels each, with a cross-hair on
  // the pixel a click takes. Its place in the control; empty when hidden.
  static constexpr int kLoupeRadius = 15;
  static constexpr int kLoupeZoom = 4;
  QRect LoupeRect() const;
  // The keys held at the click PicturePicked reports (Shift keeps a click).
  Qt::KeyboardModifiers PickModifiers() const { return pickModifiers_; }
  void SetPickMode(bool on);
  // The grid over the shown map (View > Show grid).
  void SetShowGrid(bool on);
  bool ShowGrid() const { return HasOverlay(&grid_); }
  // Why the shown map has no grid; empty when it has one or none is shown.
  std::string GridProblem() const;
  // The last painted back buffer.
  const QImage& BackBuffer() const { return backBuffer_; }

signals:
  // The picture pixel under the pointer while it is over the shown map;
  // PointerLeft when it is over nothing of it.
  void PointerOverPicture(int x, int y);
  void PointerLeft();
  // The zoom has changed: zoom is Zoom(), ZoomFactor() the exact factor.
  void ZoomFactorChanged(int zoom);
  void PicturePicked(int x, int y);
  // In pick mode a point's mark was dragged to picture pixel (x, y); point
  // counts from 0. The point itself is as it was: the receiver moves it.
  void PointMoved(int point, int x, int y);
  void PickModeChanged(bool on);

protected:
  bool OverScrollBars(std::int32_t x, std::int32_t y) const override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

  TScrollInfo GetScrollInfo(TScrollBarKind bar) const override;
  void SetScrollInfo(TScrollBarKind bar, const TScrollInfo& info) override;
  std::int32_t ScrollTrackPos(TScrollBarKind bar) const override;

private:
  TGridOverlay grid_;
  void PaintContents();
  void DrawEdge(QPainter& painter) const;
  void LayoutScrollBars();
  void ScrollBarAction(TScrollBarKind bar, int action);
  void ReportPointer(QPoint position);
  // Lets the zoom levels go once their picture is no longer shown.
  void DropUnusedLevels();
  // The picture pixel at a control point that is not on a scroll bar.
  bool PictureAt(QPoint position, std::int32_t& x, std::int32_t& y) const;

  QScrollBar* bars_[2] = {nullptr, nullptr};
  TScrollInfo info_[2];
  QImage backBuffer_;
  std::unique_ptr<TZoomLevels> levels_;
  bool paintedExact_ = true;
  Qt::KeyboardModifiers pickModifiers_;
  void DrawLoupe(QPainter& painter) const;
  // Follows the pointer; hidden without a position or off the picture.
  void MoveLoupe(std::optional<QPoint> position);
  // The pointer position the loupe follows; null while hidden.
  std::optional<QPoint> loupeAt_;
};

} // namespace zv
