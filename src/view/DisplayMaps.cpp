#include "view/DisplayMaps.h"

#include "base/Messages.h"
#include "codecs/Canvas.h"
#include "model/CalibrationFit.h"
#include "model/ZoomLevels.h"
#include "view/QtCanvas.h"

#include <QAbstractSlider>
#include <QCursor>
#include <QtWidgets/qdrawutil.h>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <cstdlib>

namespace zv {

namespace {

// The keys the view keeps from shortcuts and focus moves while it has the focus.
bool IsViewKey(int key) {
  return key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down ||
         key == Qt::Key_F1;
}

QImage NewBackBuffer(QSize size) {
  return size.isEmpty() ? QImage() : QImage(size, QImage::Format_RGB32);
}

} // namespace

TDisplayMaps::TDisplayMaps(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("DisplayMaps"));
  setAccessibleName(QStringLiteral("Map view"));
  // The whole control is painted from the back buffer: nothing to erase.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::StrongFocus);
  setBackgroundRole(QPalette::Base);
  // Moves without a button report the pointer's place on the map.
  setMouseTracking(true);

  for (TScrollBarKind kind : {sbHorizontal, sbVertical}) {
    auto* bar = new QScrollBar(kind == sbHorizontal ? Qt::Horizontal : Qt::Vertical, this);
    bar->setObjectName(kind == sbHorizontal ? QStringLiteral("HorzScrollBar") : QStringLiteral("VertScrollBar"));
    bar->setAccessibleName(kind == sbHorizontal ? QStringLiteral("Horizontal scroll bar")
                                                : QStringLiteral("Vertical scroll bar"));
    // The picture moves when the thumb is let go, not while it is dragged.
    bar->setTracking(false);
    bar->setSingleStep(25);
    bar->setFocusPolicy(Qt::NoFocus);
    // Every move goes through the commands below; the bar's own menu would set positions behind them.
    bar->setContextMenuPolicy(Qt::NoContextMenu);
    bar->installEventFilter(this);
    bar->hide();
    connect(bar, &QAbstractSlider::actionTriggered, this, [this, kind](int action) { ScrollBarAction(kind, action); });
    connect(bar, &QAbstractSlider::sliderReleased, this, [this, kind] { ScrollCommand(kind, scThumbPosition); });
    bars_[kind] = bar;
  }

  resize(320, 320);
  backBuffer_ = NewBackBuffer(size());
  LayoutScrollBars();
  SetOffsetX(0);
  SetOffsetY(0);
}

TDisplayMaps::~TDisplayMaps() {
  // Its threads stop before the view they report to goes.
  levels_.reset();
  // The model goes while the view is whole, so the removal hooks may still read it.
  Layouts->RemoveAll();
}

int TDisplayMaps::CxVScroll() const { return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this); }

TScrollInfo TDisplayMaps::GetScrollInfo(TScrollBarKind bar) const {
  TScrollInfo info = info_[bar];
  // The bar keeps the position inside the thumb's range, as the window system does.
  info.Pos = bars_[bar]->value();
  return info;
}

void TDisplayMaps::SetScrollInfo(TScrollBarKind bar, const TScrollInfo& info) {
  info_[bar] = info;
  const TSliderRange range = SliderRange(info);
  QScrollBar* b = bars_[bar];
  b->setRange(range.Minimum, range.Maximum);
  b->setPageStep(range.PageStep);
  b->setValue(info.Pos);
  if (b->isVisibleTo(this) != range.Visible) {
    b->setVisible(range.Visible);
    LayoutScrollBars();
  }
}

std::int32_t TDisplayMaps::ScrollTrackPos(TScrollBarKind bar) const { return bars_[bar]->sliderPosition(); }

void TDisplayMaps::ScrollBarAction(TScrollBarKind bar, int action) {
  int code = scEndScroll;
  switch (action) {
  case QAbstractSlider::SliderSingleStepSub: code = scLineUp; break;
  case QAbstractSlider::SliderSingleStepAdd: code = scLineDown; break;
  case QAbstractSlider::SliderPageStepSub: code = scPageUp; break;
  case QAbstractSlider::SliderPageStepAdd: code = scPageDown; break;
  case QAbstractSlider::SliderToMinimum: code = scTop; break;
  case QAbstractSlider::SliderToMaximum: code = scBottom; break;
  default: return; // moving the thumb moves nothing until it is let go
  }
  ScrollCommand(bar, code);
  // The bar would next move itself to where its own step took the thumb;
  // the offset setter has already put it where the picture is.
  QScrollBar* b = bars_[bar];
  b->setSliderPosition(b->value());
}

void TDisplayMaps::LayoutScrollBars() {
  const int extent = CxVScroll();
  const bool h = bars_[sbHorizontal]->isVisibleTo(this), v = bars_[sbVertical]->isVisibleTo(this);
  bars_[sbVertical]->setGeometry(width() - extent, 0, extent, height() - (h ? extent : 0));
  bars_[sbHorizontal]->setGeometry(0, height() - extent, width() - (v ? extent : 0), extent);
}

void TDisplayMaps::SetPickMode(bool on) {
  if (on == PickMode()) return;
  SetPickRules(on);
  if (!on) MoveLoupe(std::nullopt);
  if (on)
    setCursor(Qt::CrossCursor);
  else
    unsetCursor();
  emit PickModeChanged(on);
}

bool TDisplayMaps::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride && PickMode() && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    event->accept();
    return true;
  }
  if (event->type() == QEvent::ShortcutOverride && IsViewKey(static_cast<QKeyEvent*>(event)->key())) {
    // Accepted here, the key comes to keyPressEvent instead of a shortcut.
    event->accept();
    return true;
  }
  return QWidget::event(event);
}

bool TDisplayMaps::eventFilter(QObject* watched, QEvent* event) {
  // The wheel over a scroll bar scrolls the view as anywhere else on it.
  if (event->type() == QEvent::Wheel && (watched == bars_[sbHorizontal] || watched == bars_[sbVertical])) {
    wheelEvent(static_cast<QWheelEvent*>(event));
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TDisplayMaps::paintEvent(QPaintEvent* event) {
  PaintContents();
  if (backBuffer_.isNull()) return;
  QPainter window(this);
  window.drawImage(event->rect(), backBuffer_, event->rect());
  // The square between two shown bars belongs to neither; it shows the
  // window colour, as a size box would, rather than a piece of the picture.
  if (bars_[sbHorizontal]->isVisibleTo(this) && bars_[sbVertical]->isVisibleTo(this)) {
    const int extent = CxVScroll();
    window.fillRect(QRect(width() - extent, height() - extent, extent, extent), palette().color(QPalette::Window));
  }
  DrawLoupe(window);
}

QRect TDisplayMaps::LoupeRect() const {
  if (!loupeAt_) return {};
  const int side = (2 * kLoupeRadius + 1) * kLoupeZoom;
  // Beside the pointer, below and to the right unless that leaves the control.
  constexpr int kGap = 24;
  int x = loupeAt_->x() + kGap, y = loupeAt_->y() + kGap;
  if (x + side > width()) x = loupeAt_->x() - kGap - side;
  if (y + side > height()) y = loupeAt_->y() - kGap - side;
  return QRect(x, y, side, side);
}

void TDisplayMaps::DrawLoupe(QPainter& painter) const {
  const TMapArea* area = ActiveMapArea();
  std::int32_t px = 0, py = 0;
  if (!loupeAt_ || !area || !PictureAt(*loupeAt_, px, py)) return;
  const QColor base = palette().color(QPalette::Base);
  const Bitmap square = PictureSquare(*area, px, py, kLoupeRadius, Rgb{static_cast<std::uint8_t>(base.red()),
                                      static_cast<std::uint8_t>(base.green()), static_cast<std::uint8_t>(base.blue())});
  QImage image(square.Width(), square.Height(), QImage::Format_RGB32);
  for (int y = 0; y < square.Height(); ++y)
    for (int x = 0; x < square.Width(); ++x) {
      const Rgb c = square.Pixel(x, y);
      image.setPixel(x, y, qRgb(c.r, c.g, c.b));
    }
  const QRect r = LoupeRect();
  painter.drawImage(r, image); // each pixel a square: no smoothing
  painter.setPen(QPen(Qt::black, 1));
  painter.drawRect(r.adjusted(0, 0, -1, -1));
  // The cross-hair: the centre pixel framed, lines from it to the edges.
  const QRect centre(r.x() + kLoupeRadius * kLoupeZoom, r.y() + kLoupeRadius * kLoupeZoom, kLoupeZoom, kLoupeZoom);
  painter.setPen(QPen(Qt::red, 1));
  painter.drawRect(centre.adjusted(-1, -1, 0, 0));
  const int cx = centre.center().x(), cy = centre.center().y();
  painter.drawLine(r.left() + 1, cy, centre.left() - 3, cy);
  painter.drawLine(centre.right() + 3, cy, r.right() - 1, cy);
  painter.drawLine(cx, r.top() + 1, cx, centre.top() - 3);
  painter.drawLine(cx, centre.bottom() + 3, cx, r.bottom() - 1);
}

void TDisplayMaps::MoveLoupe(std::optional<QPoint> position) {
  std::int32_t x = 0, y = 0;
  std::optional<QPoint> at;
  if (PickMode() && position && PictureAt(*position, x, y)) at = position;
  if (at == loupeAt_) return;
  loupeAt_ = at;
  update();
}

void TDisplayMaps::PaintContents() {
  if (backBuffer_.size() != size()) backBuffer_ = NewBackBuffer(size());
  if (backBuffer_.isNull()) return;
  // Filled row by row before the painter starts: the painter would hand a
  // fill this large to worker threads, whose hand-over costs more than the
  // fill on a busy machine. Detached here, so the canvas may write its rows.
  const QRgb background = palette().color(QPalette::Base).rgb();
  for (int y = 0; y < backBuffer_.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(backBuffer_.scanLine(y));
    std::fill(row, row + backBuffer_.width(), background);
  }
  QPainter painter(&backBuffer_);
  QFont font = this->font();
  font.setBold(true);
  TQtCanvas canvas(painter, backBuffer_, font);
  struct CanvasScope {
    TDisplayMapsCore& view;
    ~CanvasScope() { view.BufferCanvas = nullptr; }
  } scope{*this};
  BufferCanvas = &canvas;
  paintedExact_ = true;
  Layouts->Paint();
  if (Border()) DrawEdge(painter);
  DropUnusedLevels();
}

void TDisplayMaps::PaintReduced(const TMapArea& area) {
  if (!BufferCanvas) return;
  // Above a half the next finer level is the picture itself.
  if (!ZoomFactor().IsPowerOfTwo() && ZoomFactor().Exponent() == -1) return TDisplayMapsCore::PaintReduced(area);
  if (!levels_ || !levels_->IsOf(area)) {
    levels_.reset(); // the old levels' memory goes first
    levels_ = std::make_unique<TZoomLevels>(area, [this] {
      // From a background thread: the repaint is asked on the view's own.
      QMetaObject::invokeMethod(
          this, [this] { update(); }, Qt::QueuedConnection);
    });
  }
  const TZoomFactor factor = ZoomFactor();
  if (factor.IsPowerOfTwo()) {
    // Level coordinates are control coordinates plus the offsets.
    paintedExact_ = levels_->Paint(*BufferCanvas, -Zoom(), 0, 0, OffsetX(), OffsetY(), width(), height());
    return;
  }
  // Between two powers: the next finer level, each control pixel the level
  // pixel under its top-left corner.
  const int level = -factor.Exponent() - 1;
  const TSampling sampling{factor.Den, factor.Num << level, OffsetX(), OffsetY()};
  paintedExact_ = levels_->PaintSampled(*BufferCanvas, level, sampling, width(), height());
}

void TDisplayMaps::DropUnusedLevels() {
  if (!levels_) return;
  for (int i = 0; i < Layouts->Count(); ++i) {
    const TMapAreas& areas = *(*Layouts)[i]->Areas;
    for (int j = 0; j < areas.Count(); ++j)
      if (areas[j]->Shown && levels_->IsOf(*areas[j])) return;
  }
  levels_.reset();
}

void TDisplayMaps::SetShowGrid(bool on) {
  if (on)
    AddOverlay(&grid_);
  else
    RemoveOverlay(&grid_);
  update();
}

std::string TDisplayMaps::GridProblem() const {
  if (!ShowGrid() || !ActiveMapArea()) return {};
  const auto fit = ActiveMapArea()->Fit();
  return fit->Valid() ? std::string() : msg::GridNeedsFit(fit->Problem());
}

void TDisplayMaps::ZoomChanged() {
  emit ZoomFactorChanged(Zoom());
  // The pointer stays, the picture moves under it.
  if (underMouse()) ReportPointer(mapFromGlobal(QCursor::pos()));
}

void TDisplayMaps::ShowMapArea(TMapArea* area) {
  // Another picture's levels are of no use any more.
  if (levels_ && (!area || !levels_->IsOf(*area))) levels_.reset();
  TDisplayMapsCore::ShowMapArea(area);
}

void TDisplayMaps::CloseAll() {
  levels_.reset();
  TDisplayMapsCore::CloseAll();
}

void TDisplayMaps::DrawEdge(QPainter& painter) const {
  const QRect r = rect();
  if (hasFocus()) {
    // A one-pixel sunken line.
    qDrawShadePanel(&painter, r, palette(), true, 1);
  } else {
    // A flat frame: shadow outside, face inside.
    qDrawPlainRect(&painter, r, palette().color(QPalette::Dark), 1);
    qDrawPlainRect(&painter, r.adjusted(1, 1, -1, -1), palette().color(QPalette::Button), 1);
  }
}

void TDisplayMaps::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  backBuffer_ = NewBackBuffer(size());
  LayoutScrollBars();
  ClampOffsets(0, 0, false);
  // The bars' ranges follow the new size even when no offset had to move.
  UpdateScrollBars();
  update();
}

void TDisplayMaps::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::StyleChange) {
    LayoutScrollBars();
    UpdateScrollBars();
  }
}

void TDisplayMaps::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  update();
}

void TDisplayMaps::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

void TDisplayMaps::mousePressEvent(QMouseEvent* event) {
  QWidget::mousePressEvent(event);
  if ((focusPolicy() & Qt::ClickFocus) && !hasFocus()) setFocus(Qt::MouseFocusReason);
  const QPoint p = event->position().toPoint();
  PointerPress(event->button() == Qt::LeftButton, p.x(), p.y());
  event->accept();
}

void TDisplayMaps::mouseMoveEvent(QMouseEvent* event) {
  QWidget::mouseMoveEvent(event);
  const QPoint p = event->position().toPoint();
  PointerMove(p.x(), p.y(), (event->buttons() & Qt::LeftButton) != 0);
  ReportPointer(p);
  MoveLoupe(p);
  event->accept();
}

void TDisplayMaps::leaveEvent(QEvent* event) {
  QWidget::leaveEvent(event);
  MoveLoupe(std::nullopt);
  emit PointerLeft();
}

bool TDisplayMaps::OverScrollBars(std::int32_t x, std::int32_t y) const {
  return (bars_[sbVertical]->isVisible() && x >= bars_[sbVertical]->x()) ||
         (bars_[sbHorizontal]->isVisible() && y >= bars_[sbHorizontal]->y());
}

bool TDisplayMaps::PictureAt(QPoint position, std::int32_t& x, std::int32_t& y) const {
  return TDisplayMapsCore::PictureAt(position.x(), position.y(), x, y);
}

void TDisplayMaps::ReportPointer(QPoint position) {
  std::int32_t x = 0, y = 0;
  if (PictureAt(position, x, y))
    emit PointerOverPicture(x, y);
  else
    emit PointerLeft();
}

void TDisplayMaps::mouseReleaseEvent(QMouseEvent* event) {
  QWidget::mouseReleaseEvent(event);
  pickModifiers_ = event->modifiers();
  const QPoint p = event->position().toPoint();
  const TPointerOutcome outcome = PointerRelease(event->button() == Qt::LeftButton, p.x(), p.y());
  event->accept();
  if (outcome.Kind == TPointerOutcome::TKind::Picked) emit PicturePicked(outcome.X, outcome.Y);
  if (outcome.Kind == TPointerOutcome::TKind::PointMoved) emit PointMoved(outcome.Point, outcome.X, outcome.Y);
}

void TDisplayMaps::wheelEvent(QWheelEvent* event) {
  // Over a scroll bar too, the anchor is the pointer's place on the view.
  const QPointF p = mapFromGlobal(event->globalPosition());
  const QPoint delta = event->angleDelta();
  const bool ctrl = (event->modifiers() & Qt::ControlModifier) != 0;
  Wheel(delta.x(), delta.y(), ctrl, (event->modifiers() & Qt::ShiftModifier) != 0, p.x(), p.y());
  // Handled: the parent does not scroll as well.
  event->accept();
  if (!ctrl) ReportPointer(p.toPoint());
}

void TDisplayMaps::keyPressEvent(QKeyEvent* event) {
  QWidget::keyPressEvent(event);
  switch (event->key()) {
  case Qt::Key_Left: KeyDown(TArrowKey::Left); break;
  case Qt::Key_Right: KeyDown(TArrowKey::Right); break;
  case Qt::Key_Up: KeyDown(TArrowKey::Up); break;
  case Qt::Key_Down: KeyDown(TArrowKey::Down); break;
  case Qt::Key_F1: break; // kept from the help shortcut, and does nothing here
  case Qt::Key_Escape:
    if (!PickMode()) return;
    // Esc during a drag puts the point back; otherwise it ends picking.
    if (!CancelPointDrag()) SetPickMode(false);
    break;
  case Qt::Key_PageUp: ScrollKeyDown(TScrollKey::PageUp); break;
  case Qt::Key_PageDown: ScrollKeyDown(TScrollKey::PageDown); break;
  case Qt::Key_Home:
    ScrollKeyDown(event->modifiers() & Qt::ControlModifier ? TScrollKey::CtrlHome : TScrollKey::Home);
    break;
  case Qt::Key_End:
    ScrollKeyDown(event->modifiers() & Qt::ControlModifier ? TScrollKey::CtrlEnd : TScrollKey::End);
    break;
  default: return;
  }
  event->accept();
  if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_F1) return;
  // The picture moved under a pointer that did not. With the pointer
  // elsewhere the readout follows the middle of the picture's room, so that
  // keys alone tell where the view is.
  const int right = bars_[sbVertical]->isVisible() ? bars_[sbVertical]->x() : width();
  const int bottom = bars_[sbHorizontal]->isVisible() ? bars_[sbHorizontal]->y() : height();
  ReportPointer(underMouse() ? mapFromGlobal(QCursor::pos()) : QPoint(right / 2, bottom / 2));
}

} // namespace zv
