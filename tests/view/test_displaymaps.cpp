// The map view widget: scroll bars, keys, wheel, drags and what it paints,
// compared with the map's own pixels at the offsets the view reports.

#include "view/DisplayMaps.h"

#include "codecs/Bitmap.h"
#include "codecs/Reduce.h"
#include "model/MapModel.h"

#include <QAction>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QVBoxLayout>
#include <QtTest>

#include <cmath>
#include <memory>

using namespace zv;

namespace {

// A view that counts its paints.
class CountingView : public TDisplayMaps {
public:
  using TDisplayMaps::TDisplayMaps;
  int Paints = 0;

protected:
  void paintEvent(QPaintEvent* event) override {
    ++Paints;
    TDisplayMaps::paintEvent(event);
  }
};

Rgb PatternColour(int x, int y) {
  return Rgb{static_cast<std::uint8_t>(x * 3 + y), static_cast<std::uint8_t>(y * 5 + x / 7),
             static_cast<std::uint8_t>((x ^ y) * 11)};
}

// A picture whose every pixel can be told from its neighbours, in each format.
Bitmap Pattern(int width, int height, PixelFormat format) {
  Bitmap b(width, height, format);
  if (format == PixelFormat::pf24bit) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) b.SetPixel(x, y, PatternColour(x, y));
    return b;
  }
  const int entries = 1 << b.BitsPerPixel();
  for (int i = 0; i < entries; ++i)
    b.Palette().push_back(Rgb{static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(255 - i),
                              static_cast<std::uint8_t>(i * 101 + 7)});
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) b.SetIndex(x, y, static_cast<std::uint8_t>((x * 3 + y * 7 + x / 5) % entries));
  return b;
}

// An area of one image, in the first layout (made when there is none).
TMapArea* AddArea(TDisplayMaps& view, Bitmap bitmap) {
  TMapLayout* layout = view.Layouts->Count() ? (*view.Layouts)[0] : view.Layouts->AddLayout("L");
  TMapArea* area = layout->Areas->Add(std::make_unique<TMapArea>(&view, layout));
  auto image = std::make_unique<TMapImage>(&view, area);
  image->Bitmap = std::move(bitmap);
  area->Width = image->Width();
  area->Height = image->Height();
  area->Images.push_back(std::move(image));
  return area;
}

QRgb ToQRgb(Rgb c) { return qRgb(c.r, c.g, c.b); }

int Extent(const TDisplayMaps& view) { return view.CxVScroll(); }

// The first pixel of the shown picture that differs from what the view
// painted, sampled over the area the bars and the edge leave free.
QString FirstMismatch(TDisplayMaps& view, const Bitmap& picture) {
  const QImage shot = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const int right = view.width() - Extent(view), bottom = view.height() - Extent(view);
  for (int y = 2; y < bottom; y += 7)
    for (int x = 2; x < right; x += 5) {
      const int px = x + view.OffsetX(), py = y + view.OffsetY();
      if (px < 0 || py < 0 || px >= picture.Width() || py >= picture.Height()) continue;
      if (shot.pixel(x, y) != ToQRgb(picture.Pixel(px, py)))
        return QStringLiteral("(%1, %2): %3 != %4")
            .arg(x)
            .arg(y)
            .arg(shot.pixel(x, y), 0, 16)
            .arg(ToQRgb(picture.Pixel(px, py)), 0, 16);
    }
  return QString();
}

} // namespace

class DisplayMapsTest : public QObject {
  Q_OBJECT

private:
  std::unique_ptr<CountingView> view;

  void Show(int width, int height) {
    view = std::make_unique<CountingView>(nullptr);
    view->resize(width, height);
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
  }

private slots:
  void cleanup() { view.reset(); }

  void namesAndDefaults() {
    Show(400, 300);
    QCOMPARE(view->objectName(), QStringLiteral("DisplayMaps"));
    QCOMPARE(view->accessibleName(), QStringLiteral("Map view"));
    QVERIFY(view->testAttribute(Qt::WA_OpaquePaintEvent));
    QVERIFY(view->Border());
    QCOMPARE(view->Options(), TDisplayMapssOptions{0});
    QCOMPARE(view->CxVScroll(), view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view.get()));
    // Nothing shown: the clamp leaves the offsets at their negative maximum.
    QCOMPARE(view->OffsetX(), -400 + Extent(*view));
    QVERIFY(!view->ScrollBar(sbHorizontal)->isVisible());
    QVERIFY(!view->ScrollBar(sbVertical)->isVisible());
  }

  void scrollBarsFollowTheShownArea_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<bool>("vertical");
    QTest::newRow("smaller") << 200 << 150 << false << false;
    QTest::newRow("larger") << 3000 << 2000 << true << true;
    QTest::newRow("wide") << 3000 << 100 << true << false;
    QTest::newRow("high") << 100 << 2000 << false << true;
    QTest::newRow("exactly the control") << 400 << 300 << true << true;
    QTest::newRow("one pixel less") << 399 << 299 << false << false;
  }
  void scrollBarsFollowTheShownArea() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, horizontal);
    QFETCH(bool, vertical);
    Show(400, 300);
    // A large area first, so the second has to change everything back.
    view->ShowMapArea(AddArea(*view, Pattern(5000, 4000, PixelFormat::pf8bit)));
    view->SetOffsetX(700);
    view->ShowMapArea(AddArea(*view, Pattern(width, height, PixelFormat::pf8bit)));
    QScrollBar* h = view->ScrollBar(sbHorizontal);
    QScrollBar* v = view->ScrollBar(sbVertical);
    QCOMPARE(h->isVisible(), horizontal);
    QCOMPARE(v->isVisible(), vertical);
    const int ext = Extent(*view);
    // Offset 0, unless the upper bound is below it.
    QCOMPARE(view->OffsetX(), std::min(0, width - 400 + ext));
    QCOMPARE(view->OffsetY(), std::min(0, height - 300 + ext));
    if (horizontal) {
      QCOMPARE(h->minimum(), 0);
      QCOMPARE(h->maximum(), width - 400 + 1);
      QCOMPARE(h->pageStep(), 100);
      QCOMPARE(h->singleStep(), 25);
      QCOMPARE(h->geometry(), QRect(0, 300 - ext, 400 - (vertical ? ext : 0), ext));
    }
    if (vertical) {
      QCOMPARE(v->maximum(), height - 300 + 1);
      QCOMPARE(v->geometry(), QRect(400 - ext, 0, ext, 300 - (horizontal ? ext : 0)));
    }
    if (horizontal && vertical)
      QCOMPARE(view->grab().toImage().pixel(400 - ext / 2, 300 - ext / 2),
               view->palette().color(QPalette::Window).rgb());
  }

  void keysMoveByTwentyFiveAndNeverTriggerShortcuts() {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* map = new TDisplayMaps(&window);
    layout->addWidget(map);
    int triggered = 0;
    for (QKeySequence key : {QKeySequence(Qt::Key_Right), QKeySequence(Qt::Key_Down), QKeySequence(Qt::Key_F1)}) {
      auto* action = new QAction(&window);
      action->setShortcut(key);
      window.addAction(action);
      connect(action, &QAction::triggered, [&] { ++triggered; });
    }
    window.resize(400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    map->ShowMapArea(AddArea(*map, Pattern(3000, 2000, PixelFormat::pf24bit)));
    map->setFocus();
    QTRY_VERIFY(map->hasFocus());
    QTest::keyClick(map, Qt::Key_Right);
    QTest::keyClick(map, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(map, Qt::Key_Down);
    QTest::keyClick(map, Qt::Key_F1);
    QCOMPARE(triggered, 0);
    QCOMPARE(map->OffsetX(), 50);
    QCOMPARE(map->OffsetY(), 25);
    QCOMPARE(map->ScrollBar(sbHorizontal)->value(), 50);
    QTest::keyClick(map, Qt::Key_Left);
    QTest::keyClick(map, Qt::Key_Up);
    QTest::keyClick(map, Qt::Key_Up);
    QCOMPARE(map->OffsetX(), 25);
    QCOMPARE(map->OffsetY(), 0);
    QVERIFY(map->hasFocus());
    // Holding Down: stops at extent - height + the bar's metric.
    for (int i = 0; i < 100; ++i) QTest::keyPress(map, Qt::Key_Down, Qt::NoModifier);
    QCOMPARE(map->OffsetY(), 2000 - map->height() + Extent(*map));
  }

  void wheelStepsOnViewAndBars() {
    Show(400, 300);
    view->ShowMapArea(AddArea(*view, Pattern(3000, 2000, PixelFormat::pf8bit)));
    auto wheel = [](QWidget* target, int dy) {
      const QPointF at(target->width() / 2.0, target->height() / 2.0);
      QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, dy), Qt::NoButton, Qt::NoModifier,
                        Qt::NoScrollPhase, false);
      QCoreApplication::sendEvent(target, &event);
      return event.isAccepted();
    };
    QVERIFY(wheel(view.get(), -120)); // towards the user
    QCOMPARE(view->OffsetY(), 100);
    QVERIFY(wheel(view.get(), 60));
    QCOMPARE(view->OffsetY(), 100);
    QVERIFY(wheel(view.get(), 60));
    QCOMPARE(view->OffsetY(), 0);
    // Over a scroll bar the wheel scrolls the view the same way.
    wheel(view->ScrollBar(sbHorizontal), -240);
    QCOMPARE(view->OffsetY(), 200);
    QCOMPARE(view->OffsetX(), 0);
    QCOMPARE(view->ScrollBar(sbHorizontal)->value(), 0);
  }

  // The further keys and the sideways wheel, added beside the Part's own.
  void pageHomeEndAndSidewaysWheel() {
    Show(400, 300);
    view->ShowMapArea(AddArea(*view, Pattern(3000, 2000, PixelFormat::pf8bit)));
    view->setFocus();
    QTest::keyClick(view.get(), Qt::Key_PageDown);
    QCOMPARE(view->OffsetY(), view->height() - 25);
    QTest::keyClick(view.get(), Qt::Key_End);
    QCOMPARE(view->OffsetY(), 2000 - view->height() + Extent(*view));
    QTest::keyClick(view.get(), Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(view->OffsetX(), 3000 - view->width() + Extent(*view));
    QTest::keyClick(view.get(), Qt::Key_Home);
    QCOMPARE(view->OffsetY(), 0);
    QVERIFY(view->OffsetX() > 0);
    QTest::keyClick(view.get(), Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(view->OffsetX(), 0);
    auto wheel = [this](QPoint delta, Qt::KeyboardModifiers modifiers) {
      const QPointF at(50, 50);
      QWheelEvent event(at, view->mapToGlobal(at), QPoint(), delta, Qt::NoButton, modifiers, Qt::NoScrollPhase,
                        false);
      QCoreApplication::sendEvent(view.get(), &event);
    };
    wheel(QPoint(0, -120), Qt::ShiftModifier);
    QCOMPARE(view->OffsetX(), 100);
    QCOMPARE(view->OffsetY(), 0);
    wheel(QPoint(-240, 0), Qt::NoModifier);
    QCOMPARE(view->OffsetX(), 300);
    wheel(QPoint(0, -120), Qt::AltModifier); // other modifiers: the plain wheel (Ctrl zooms)
    QCOMPARE(view->OffsetY(), 100);
  }

  void leftDragPansAndRightDragJumps() {
    Show(400, 300);
    view->ShowMapArea(AddArea(*view, Pattern(3000, 2000, PixelFormat::pf24bit)));
    view->SetOffsetX(500);
    view->SetOffsetY(500);
    QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(200, 150));
    QTest::mouseMove(view.get(), QPoint(150, 120));
    QCOMPARE(view->OffsetX(), 550);
    QCOMPARE(view->OffsetY(), 530);
    QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(140, 120));
    QCOMPARE(view->OffsetX(), 560);
    QVERIFY(view->hasFocus());

    QTest::mousePress(view.get(), Qt::RightButton, {}, QPoint(100, 100));
    QTest::mouseMove(view.get(), QPoint(160, 130));
    QCOMPARE(view->OffsetX(), 560);
    QCOMPARE(view->OffsetY(), 530);
    QTest::mouseRelease(view.get(), Qt::RightButton, {}, QPoint(160, 130));
    QCOMPARE(view->OffsetX(), 500);
    QCOMPARE(view->OffsetY(), 500);

    // Past the left edge the picture stops at 0 and the anchor stays put.
    QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseMove(view.get(), QPoint(390, 100));
    QCOMPARE(view->OffsetX(), 210);
    view->SetOffsetX(0);
    QTest::mouseMove(view.get(), QPoint(395, 100));
    QCOMPARE(view->OffsetX(), 205);
    QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(395, 100));
  }

  // Picking: a left click that moves at most three pixels reports the
  // picture pixel under the press and does not scroll; a longer drag scrolls
  // and picks nothing; Esc ends picking.
  void pickModeClicksPickAndDragsScroll() {
    Show(400, 300);
    TMapArea* area = AddArea(*view, Pattern(3000, 2000, PixelFormat::pf24bit));
    view->ShowMapArea(area);
    view->SetOffsetX(500);
    view->SetOffsetY(400);
    QSignalSpy picked(view.get(), &TDisplayMaps::PicturePicked);
    QSignalSpy mode(view.get(), &TDisplayMaps::PickModeChanged);
    // Without pick mode a click picks nothing.
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(20, 30));
    QCOMPARE(picked.count(), 0);

    view->SetPickMode(true);
    QCOMPARE(mode.count(), 1);
    QCOMPARE(view->cursor().shape(), Qt::CrossCursor);
    QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(20, 30));
    QTest::mouseMove(view.get(), QPoint(23, 28));
    QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(23, 28));
    QCOMPARE(picked.count(), 1);
    QCOMPARE(picked.at(0), QVariantList({520, 430}));
    QCOMPARE(view->OffsetX(), 500); // the hand's few pixels did not scroll
    QCOMPARE(view->OffsetY(), 400);

    QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseMove(view.get(), QPoint(96, 100));
    QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(96, 100));
    QCOMPARE(picked.count(), 1);
    QCOMPARE(view->OffsetX(), 504);

    // Other buttons never pick; outside the picture there is nothing to pick.
    QTest::mouseClick(view.get(), Qt::RightButton, {}, QPoint(50, 50));
    view->ShowMapArea(AddArea(*view, Pattern(100, 80, PixelFormat::pf24bit)));
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(picked.count(), 1);
    // The small picture sits at the lower right, against the bars.
    const QPoint corner(view->width() - Extent(*view) - 100, view->height() - Extent(*view) - 80);
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, corner + QPoint(7, 9));
    QCOMPARE(picked.count(), 2);
    QCOMPARE(picked.at(1), QVariantList({7, 9}));

    view->setFocus();
    QTest::keyClick(view.get(), Qt::Key_Escape);
    QVERIFY(!view->PickMode());
    QCOMPARE(mode.count(), 2);
    QCOMPARE(mode.at(1), QVariantList({false}));
    QCOMPARE(view->cursor().shape(), Qt::ArrowCursor);
  }

  // In pick mode a mark dragged moves its point (reported, the point itself
  // back as it was); Esc during the drag puts it back and reports nothing.
  void pickModeDragsAPointsMark() {
    Show(400, 300);
    TMapArea* area = AddArea(*view, Pattern(3000, 2000, PixelFormat::pf24bit));
    area->Points.push_back({120, 80, 0, 0});
    view->ShowMapArea(area);
    view->SetOffsetX(100);
    view->SetOffsetY(50);
    view->SetPickMode(true);
    QSignalSpy moved(view.get(), &TDisplayMaps::PointMoved);
    QSignalSpy picked(view.get(), &TDisplayMaps::PicturePicked);
    QCOMPARE(view->PointMarkAt(20 + TDisplayMaps::MarkGrab, 30), 0);
    QCOMPARE(view->PointMarkAt(20 + TDisplayMaps::MarkGrab + 1, 30), -1);
    QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(22, 29));
    QTest::mouseMove(view.get(), QPoint(40, 50));
    QCOMPARE(area->Points[0].X, 140); // shown where it goes
    QTest::mouseMove(view.get(), QPoint(60, 70));
    QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(60, 70));
    QCOMPARE(moved.count(), 1);
    QCOMPARE(moved.at(0), QVariantList({0, 160, 120}));
    QCOMPARE(area->Points[0].X, 120);
    QCOMPARE(view->OffsetX(), 100); // no scrolling either
    QCOMPARE(picked.count(), 0);

    view->setFocus();
    QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(20, 30));
    QTest::mouseMove(view.get(), QPoint(60, 70));
    QTest::keyClick(view.get(), Qt::Key_Escape);
    QCOMPARE(area->Points[0].X, 120);
    QVERIFY(view->PickMode());
    QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(60, 70));
    QCOMPARE(moved.count(), 1);
    // A click on a mark that does not move picks as any click does.
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(21, 31));
    QCOMPARE(picked.count(), 1);
    QCOMPARE(picked.at(0), QVariantList({121, 81}));
  }

  // The loupe shows the picture's own pixels, four screen pixels each,
  // centred on the pixel a click takes; only in pick mode over the picture.
  void loupeMagnifiesThePixelUnderThePointer() {
    Show(400, 300);
    const Bitmap picture = Pattern(3000, 2000, PixelFormat::pf24bit);
    view->ShowMapArea(AddArea(*view, picture));
    view->SetZoom(-3, 0, 0); // a picture pixel is far below a screen pixel
    QTest::mouseMove(view.get(), QPoint(100, 80));
    QVERIFY(view->LoupeRect().isEmpty());
    view->SetPickMode(true);
    QTest::mouseMove(view.get(), QPoint(101, 80));
    const QRect loupe = view->LoupeRect();
    QVERIFY(loupe.width() >= 120 && loupe.height() == loupe.width());
    const TPicturePoint under = view->ViewToPicture(101, 80);
    const QImage shot = view->grab().toImage();
    const int z = TDisplayMaps::kLoupeZoom, r = TDisplayMaps::kLoupeRadius;
    for (const QPoint d : {QPoint(-5, -5), QPoint(3, -2), QPoint(-1, 4)}) {
      const Rgb c = picture.Pixel(static_cast<int>(under.X) + d.x(), static_cast<int>(under.Y) + d.y());
      QCOMPARE(shot.pixel(loupe.topLeft() + QPoint((r + d.x()) * z + 1, (r + d.y()) * z + 1)), qRgb(c.r, c.g, c.b));
    }
    view->SetPickMode(false);
    QVERIFY(view->LoupeRect().isEmpty());
  }

  void clickTakesFocusAndTheEdgeFollows() {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* other = new QWidget(&window);
    other->setFocusPolicy(Qt::StrongFocus);
    auto* map = new TDisplayMaps(&window);
    layout->addWidget(other);
    layout->addWidget(map);
    window.resize(300, 400);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    other->setFocus();
    QTRY_VERIFY(other->hasFocus());
    const QColor button = map->palette().color(QPalette::Button);
    QCOMPARE(map->grab().toImage().pixel(1, 1), button.rgb()); // flat frame
    QTest::mouseClick(map, Qt::RightButton, {}, QPoint(50, 50));
    QVERIFY(map->hasFocus());
    const QImage focused = map->grab().toImage();
    QCOMPARE(focused.pixel(0, 0), map->palette().color(QPalette::Dark).rgb());
    QCOMPARE(focused.pixel(1, 1), map->palette().color(QPalette::Base).rgb()); // one-pixel sunken line
    // Without the edge, the background reaches the corner.
    map->SetBorder(false);
    QCOMPARE(map->grab().toImage().pixel(0, 0), map->palette().color(QPalette::Base).rgb());
  }

  void scrollBarActions() {
    Show(400, 300);
    view->ShowMapArea(AddArea(*view, Pattern(3000, 2000, PixelFormat::pf8bit)));
    QScrollBar* h = view->ScrollBar(sbHorizontal);
    h->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(view->OffsetX(), 25);
    h->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(view->OffsetX(), 125);
    QCOMPARE(h->value(), 125);
    h->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(view->OffsetX(), 100);
    h->triggerAction(QAbstractSlider::SliderPageStepSub);
    QCOMPARE(view->OffsetX(), 0);
    // The bar's end: its thumb's last position, extent - width + 1.
    h->triggerAction(QAbstractSlider::SliderToMaximum);
    QCOMPARE(view->OffsetX(), 2601);
    QCOMPARE(h->value(), 2601);
    QCOMPARE(h->sliderPosition(), 2601);
    h->triggerAction(QAbstractSlider::SliderToMinimum);
    QCOMPARE(view->OffsetX(), 0);
    // Dragging the thumb moves nothing until it is let go.
    QScrollBar* v = view->ScrollBar(sbVertical);
    v->setSliderDown(true);
    v->setSliderPosition(800);
    v->triggerAction(QAbstractSlider::SliderMove);
    QCOMPARE(view->OffsetY(), 0);
    v->setSliderDown(false);
    QCOMPARE(view->OffsetY(), 800);
    QCOMPARE(v->value(), 800);
    // Beyond the thumb's end the arrow key still goes on to the clamp's limit.
    h->triggerAction(QAbstractSlider::SliderToMaximum);
    view->KeyDown(TArrowKey::Right);
    QCOMPARE(view->OffsetX(), 3000 - 400 + Extent(*view));
    QCOMPARE(h->value(), 2601);
    h->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(view->OffsetX(), 3000 - 400 + Extent(*view) - 25);
  }

  void paintsTheMapsOwnPixels_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("offsetX");
    QTest::addColumn<int>("offsetY");
    for (PixelFormat f : {PixelFormat::pf24bit, PixelFormat::pf8bit, PixelFormat::pf4bit, PixelFormat::pf1bit}) {
      const QByteArray name = QByteArray::number(static_cast<int>(f)) + "-bit";
      QTest::newRow(name + " origin") << static_cast<int>(f) << 0 << 0;
      QTest::newRow(name + " odd offsets") << static_cast<int>(f) << 37 << 53;
      QTest::newRow(name + " far corner") << static_cast<int>(f) << 1000 << 1000;
    }
  }
  void paintsTheMapsOwnPixels() {
    QFETCH(int, format);
    QFETCH(int, offsetX);
    QFETCH(int, offsetY);
    Show(400, 300);
    Bitmap picture = Pattern(1203, 997, static_cast<PixelFormat>(format));
    const Bitmap copy = picture;
    view->ShowMapArea(AddArea(*view, std::move(picture)));
    view->SetOffsetX(offsetX);
    view->SetOffsetY(offsetY);
    QCOMPARE(FirstMismatch(*view, copy), QString());
  }

  void tilesLaterOnTopAndSmallPictureAtLowerRight() {
    Show(400, 300);
    TMapArea* area = AddArea(*view, Pattern(300, 200, PixelFormat::pf24bit));
    // A second tile overlapping the first: it covers it.
    auto tile = std::make_unique<TMapImage>(view.get(), area);
    tile->Bitmap = Bitmap(50, 50, PixelFormat::pf24bit);
    tile->Bitmap.Fill(Rgb{1, 2, 3});
    tile->X = 250;
    tile->Y = 150;
    area->Images.push_back(std::move(tile));
    view->ShowMapArea(area);
    const int ext = Extent(*view);
    QCOMPARE(view->OffsetX(), 300 - 400 + ext);
    const QImage shot = view->grab().toImage();
    // The picture's bottom-right pixel sits just left of and above the bars' place.
    QCOMPARE(shot.pixel(400 - ext - 1, 300 - ext - 1), qRgb(1, 2, 3));
    QCOMPARE(shot.pixel(400 - ext - 60, 300 - ext - 60),
             ToQRgb(PatternColour(300 - 60, 200 - 60)));
    QCOMPARE(shot.pixel(20, 20), view->palette().color(QPalette::Base).rgb());
  }

  void optionsRepaintAtOnce() {
    Show(400, 300);
    TMapArea* area = AddArea(*view, Pattern(1000, 1000, PixelFormat::pf8bit));
    area->Points.push_back(TCalibrationPoint{150, 120, 0, 0});
    view->ShowMapArea(area);
    view->SetOffsetX(100);
    view->SetOffsetY(100);
    const Bitmap& picture = area->Images[0]->Bitmap;
    QCOMPARE(view->grab().toImage().pixel(50, 20), ToQRgb(picture.Pixel(150, 120)));
    QTRY_VERIFY(view->Paints > 0);
    const int paints = view->Paints;
    view->SetOptions(OptionBit(mpoShowCalibrationPoints));
    QTRY_VERIFY(view->Paints > paints);
    QImage shot = view->BackBuffer();
    QCOMPARE(shot.pixel(50, 20), qRgb(255, 0, 0));     // the point itself
    QCOMPARE(shot.pixel(50 + 40, 20), qRgb(255, 0, 0)); // on the outermost ring
    QCOMPARE(shot.pixel(50 + 20, 20), ToQRgb(picture.Pixel(170, 120))); // between rings
    // The number: some black pixels right and below the point.
    bool black = false;
    for (int y = 30; y < 55 && !black; ++y)
      for (int x = 60; x < 80 && !black; ++x) black = shot.pixel(x, y) == qRgb(0, 0, 0);
    QVERIFY(black);

    view->SetOptions(OptionBit(mpoShowImageBorder));
    QTRY_VERIFY(view->Paints > paints + 1);
    view->SetOffsetX(0);
    view->SetOffsetY(0);
    view->SetBorder(false);
    shot = view->grab().toImage();
    QCOMPARE(shot.pixel(150, 120), ToQRgb(picture.Pixel(150, 120)));
    QCOMPARE(shot.pixel(0, 100), qRgb(0, 0, 0x80)); // navy frame over the edge's place
    QCOMPARE(shot.pixel(100, 0), qRgb(0, 0, 0x80));
  }

  void closeAllLeavesOnlyTheBackground() {
    Show(400, 300);
    view->ShowMapArea(AddArea(*view, Pattern(3000, 2000, PixelFormat::pf24bit)));
    view->SetOffsetX(300);
    const int max = view->ScrollBar(sbHorizontal)->maximum();
    view->CloseAll();
    QCOMPARE(view->ActiveMapArea(), nullptr);
    QCOMPARE(view->ActiveLayout(), nullptr);
    // Offsets and bars stay until the next area is shown.
    QCOMPARE(view->OffsetX(), 300);
    QCOMPARE(view->ScrollBar(sbHorizontal)->maximum(), max);
    const QImage shot = view->grab().toImage();
    const QRgb base = view->palette().color(QPalette::Base).rgb();
    for (int y = 3; y < 300 - Extent(*view); y += 11)
      for (int x = 3; x < 400 - Extent(*view); x += 13) QCOMPARE(shot.pixel(x, y), base);
  }

  void resizeClampsAndFollowsTheSize() {
    Show(400, 300);
    view->ShowMapArea(AddArea(*view, Pattern(1000, 800, PixelFormat::pf8bit)));
    view->SetOffsetX(600);
    QCOMPARE(view->OffsetX(), 600);
    view->resize(900, 300);
    QTRY_COMPARE(view->BackBuffer().size(), QSize(900, 300));
    QCOMPARE(view->OffsetX(), 1000 - 900 + Extent(*view));
    QCOMPARE(view->ScrollBar(sbHorizontal)->maximum(), 1000 - 900 + 1);
    view->resize(1200, 300);
    QTRY_VERIFY(!view->ScrollBar(sbHorizontal)->isVisible());
    QCOMPARE(view->OffsetX(), 1000 - 1200 + Extent(*view));
  }

  // What the view shows at a zoom, once exact: below 1 the box-filtered
  // reduction of the picture, above 1 each picture pixel a square.
  void zoomedPaintShowsTheReductionOrTheMagnifiedPixels_data() {
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("format");
    QTest::newRow("1/2 palette") << -1 << int(PixelFormat::pf8bit);
    QTest::newRow("1/8 RGB") << -3 << int(PixelFormat::pf24bit);
    QTest::newRow("1/64 palette") << -6 << int(PixelFormat::pf8bit);
    QTest::newRow("2 RGB") << 1 << int(PixelFormat::pf24bit);
    QTest::newRow("8 4-bit") << 3 << int(PixelFormat::pf4bit);
  }
  void zoomedPaintShowsTheReductionOrTheMagnifiedPixels() {
    QFETCH(int, zoom);
    QFETCH(int, format);
    Show(400, 300);
    const Bitmap picture = Pattern(1500, 1100, static_cast<PixelFormat>(format));
    view->ShowMapArea(AddArea(*view, picture));
    view->SetZoom(zoom, 0, 0);
    view->SetOffsetX(zoom < 0 ? 30 : 700);
    view->SetOffsetY(zoom < 0 ? 20 : 500);
    QImage shot;
    QTRY_VERIFY((shot = view->grab().toImage().convertToFormat(QImage::Format_RGB32), view->PaintedExact()));
    const Bitmap expected = zoom < 0 ? Reduce(picture, -zoom) : picture;
    const int right = view->width() - Extent(*view), bottom = view->height() - Extent(*view);
    for (int y = 2; y < bottom; y += 3)
      for (int x = 2; x < right; x += 5) {
        const int ex = zoom < 0 ? x + view->OffsetX() : (x + view->OffsetX()) >> zoom;
        const int ey = zoom < 0 ? y + view->OffsetY() : (y + view->OffsetY()) >> zoom;
        if (ex < 0 || ey < 0 || ex >= expected.Width() || ey >= expected.Height()) continue;
        QCOMPARE(shot.pixel(x, y), ToQRgb(expected.Pixel(ex, ey)));
      }
  }

  void fitToWindowShowsTheWholeReducedPicture() {
    Show(400, 300);
    const Bitmap picture = Pattern(2000, 900, PixelFormat::pf8bit);
    view->ShowMapArea(AddArea(*view, picture));
    QSignalSpy zoomed(view.get(), &TDisplayMaps::ZoomFactorChanged);
    view->FitToWindow();
    // 398 pixels wide, the control inside its edge, drawn from the quarter.
    QCOMPARE(view->ZoomFactor(), (TZoomFactor{199, 1000}));
    QCOMPARE(view->ExtentWidth, 398);
    QCOMPARE(view->OffsetX(), -1);
    QCOMPARE(view->OffsetY(), -((300 - 180) / 2));
    QCOMPARE(zoomed.count(), 1);
    QVERIFY(!view->ScrollBar(sbHorizontal)->isVisible());
    QImage shot;
    QTRY_VERIFY((shot = view->grab().toImage().convertToFormat(QImage::Format_RGB32), view->PaintedExact()));
    const Bitmap expected = Reduce(picture, 2);
    const TSampling sampling{1000, 199 * 4, view->OffsetX(), view->OffsetY()};
    int compared = 0;
    for (int y = 0; y < view->height(); ++y)
      for (int x = 0; x < view->width(); ++x) {
        const std::int64_t ex = sampling.Source(x, sampling.OffsetX), ey = sampling.Source(y, sampling.OffsetY);
        if (ex < 0 || ey < 0 || ex >= expected.Width() || ey >= expected.Height()) continue;
        QCOMPARE(shot.pixel(x, y), ToQRgb(expected.Pixel(static_cast<int>(ex), static_cast<int>(ey))));
        ++compared;
      }
    QCOMPARE(compared, 398 * 180);
    // Back at 100 %, about the centre: the picture's own size to scroll over.
    view->ActualSize();
    QCOMPARE(view->ExtentWidth, 2000);
    QVERIFY(view->ScrollBar(sbHorizontal)->isVisible());
    QCOMPARE(view->ScrollBar(sbHorizontal)->value(), view->OffsetX());
  }

  void ctrlWheelZoomsAboutThePointer() {
    Show(400, 300);
    view->ShowMapArea(AddArea(*view, Pattern(3000, 2000, PixelFormat::pf8bit)));
    view->SetOffsetX(500);
    view->SetOffsetY(300);
    const QPointF at(123, 77);
    auto wheel = [&](int dy) {
      QWheelEvent event(at, view->mapToGlobal(at), QPoint(), QPoint(0, dy), Qt::NoButton, Qt::ControlModifier,
                        Qt::NoScrollPhase, false);
      QCoreApplication::sendEvent(view.get(), &event);
      return event.isAccepted();
    };
    for (int dy : {-120, -120, 120, 120, 120}) {
      const double scale = std::ldexp(1.0, view->Zoom());
      const double px = (at.x() + view->OffsetX()) / scale, py = (at.y() + view->OffsetY()) / scale;
      QVERIFY(wheel(dy));
      const double after = std::ldexp(1.0, view->Zoom());
      QVERIFY(std::abs(px * after - view->OffsetX() - at.x()) <= 1.0);
      QVERIFY(std::abs(py * after - view->OffsetY() - at.y()) <= 1.0);
    }
    QCOMPARE(view->Zoom(), 1);
    // The plain wheel still scrolls.
    QWheelEvent plain(at, view->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    const int y = view->OffsetY();
    QCoreApplication::sendEvent(view.get(), &plain);
    QCOMPARE(view->OffsetY(), y + 100);
  }

  void pointerReadoutIsInPicturePixelsAtEveryZoom_data() {
    QTest::addColumn<int>("zoom");
    QTest::newRow("1/8") << -3;
    QTest::newRow("1") << 0;
    QTest::newRow("4") << 2;
  }
  void pointerReadoutIsInPicturePixelsAtEveryZoom() {
    QFETCH(int, zoom);
    Show(400, 300);
    view->ShowMapArea(AddArea(*view, Pattern(5000, 4000, PixelFormat::pf8bit)));
    view->SetZoom(zoom, 0, 0);
    view->SetOffsetX(40);
    view->SetOffsetY(30);
    QSignalSpy over(view.get(), &TDisplayMaps::PointerOverPicture);
    for (QPoint p : {QPoint(10, 10), QPoint(201, 155), QPoint(350, 250)}) {
      QTest::mouseMove(view.get(), p);
      QTRY_VERIFY(!over.isEmpty());
      const QList<QVariant> args = over.takeLast();
      QCOMPARE(args.at(0).toInt(), zoom < 0 ? (p.x() + 40) << -zoom : (p.x() + 40) >> zoom);
      QCOMPARE(args.at(1).toInt(), zoom < 0 ? (p.y() + 30) << -zoom : (p.y() + 30) >> zoom);
      over.clear();
    }
  }

  // Scrolled by keys with the pointer elsewhere, the readout follows the
  // middle of the picture's room.
  void keyScrollingReportsTheMiddleWithoutThePointer() {
    Show(400, 300);
    view->ShowMapArea(AddArea(*view, Pattern(5000, 4000, PixelFormat::pf8bit)));
    view->SetOffsetX(40);
    view->SetOffsetY(30);
    view->setAttribute(Qt::WA_UnderMouse, false);
    QSignalSpy over(view.get(), &TDisplayMaps::PointerOverPicture);
    QTest::keyClick(view.get(), Qt::Key_Right);
    QTest::keyClick(view.get(), Qt::Key_PageDown);
    QCOMPARE(over.count(), 2);
    const int pageDown = 300 - 25;
    QCOMPARE(over.last().at(0).toInt(), (400 - Extent(*view)) / 2 + 40 + 25);
    QCOMPARE(over.last().at(1).toInt(), (300 - Extent(*view)) / 2 + 30 + pageDown);
  }
};

QTEST_MAIN(DisplayMapsTest)
#include "test_displaymaps.moc"
