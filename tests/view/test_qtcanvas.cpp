// The view's canvas against the bitmap's own rectangle copy: both paths (rows
// written directly into a 32-bit target, and a QImage sharing the bitmap's
// memory drawn by QPainter) in every pixel format.

#include "view/QtCanvas.h"

#include "codecs/Bitmap.h"

#include <QPainter>
#include <QtTest>

using namespace zv;

namespace {

Bitmap Pattern(int width, int height, PixelFormat format) {
  Bitmap b(width, height, format);
  if (format == PixelFormat::pf24bit) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        b.SetPixel(x, y, Rgb{static_cast<std::uint8_t>(x * 9), static_cast<std::uint8_t>(y * 5),
                             static_cast<std::uint8_t>(x ^ y)});
    return b;
  }
  const int entries = 1 << b.BitsPerPixel();
  // A short table: indices past it read as black.
  for (int i = 0; i < entries - (entries > 2 ? 3 : 0); ++i)
    b.Palette().push_back(Rgb{static_cast<std::uint8_t>(i * 53), static_cast<std::uint8_t>(200 - i),
                              static_cast<std::uint8_t>(i * 7 + 1)});
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) b.SetIndex(x, y, static_cast<std::uint8_t>((x * 5 + y * 3 + x / 3) % entries));
  return b;
}

} // namespace

class QtCanvasTest : public QObject {
  Q_OBJECT

private slots:
  void copyMatchesTheBitmapsOwnCopy_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("targetFormat");
    QTest::addColumn<int>("dx");
    QTest::addColumn<int>("dy");
    QTest::addColumn<int>("sx");
    QTest::addColumn<int>("sy");
    for (PixelFormat f : {PixelFormat::pf24bit, PixelFormat::pf8bit, PixelFormat::pf4bit, PixelFormat::pf1bit})
      for (QImage::Format t : {QImage::Format_RGB32, QImage::Format_RGB888}) {
        const QByteArray name = QByteArray::number(int(f)) + "-bit onto " +
                                (t == QImage::Format_RGB32 ? "32-bit rows" : "a painted image");
        QTest::newRow(name + ", whole") << int(f) << int(t) << 3 << 4 << 0 << 0;
        QTest::newRow(name + ", cut on every side") << int(f) << int(t) << -13 << -7 << 0 << 0;
        QTest::newRow(name + ", odd source corner") << int(f) << int(t) << 2 << 1 << 5 << 3;
        QTest::newRow(name + ", beyond the source") << int(f) << int(t) << -9 << 10 << -4 << -6;
        QTest::newRow(name + ", far off") << int(f) << int(t) << 2000000000 << 0 << 0 << 0;
      }
  }
  void copyMatchesTheBitmapsOwnCopy() {
    QFETCH(int, format);
    QFETCH(int, targetFormat);
    QFETCH(int, dx);
    QFETCH(int, dy);
    QFETCH(int, sx);
    QFETCH(int, sy);
    const Bitmap src = Pattern(83, 61, static_cast<PixelFormat>(format));
    constexpr int W = 64, H = 48;
    const Rgb background{10, 20, 30};

    Bitmap want(W, H, PixelFormat::pf24bit);
    want.Fill(background);
    want.CopyRect(dx, dy, src, sx, sy, 70, 50);

    QImage target(W, H, static_cast<QImage::Format>(targetFormat));
    target.fill(qRgb(background.r, background.g, background.b));
    {
      QPainter painter(&target);
      TQtCanvas canvas(painter, target, QFont());
      canvas.CopyRect(dx, dy, src, sx, sy, 70, 50);
    }
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const Rgb w = want.Pixel(x, y);
        if (target.pixel(x, y) != qRgb(w.r, w.g, w.b))
          QFAIL(qPrintable(QStringLiteral("pixel (%1, %2)").arg(x).arg(y)));
      }
  }

  void framePixelEllipseAndText() {
    QImage target(100, 80, QImage::Format_RGB32);
    target.fill(Qt::white);
    {
      QPainter painter(&target);
      TQtCanvas canvas(painter, target, QFont());
      canvas.FrameRect(10, 10, 30, 20, Rgb{0, 0, 0x80});
      // Edges far outside leave only the visible sides.
      canvas.FrameRect(-2000000000, 50, 2000000000, 60, Rgb{0, 0x80, 0});
      canvas.SetPixel(-1, 5, Rgb{255, 0, 0});
      canvas.SetPixel(70, 5, Rgb{255, 0, 0});
      canvas.Ellipse(60, 20, 80, 40, Rgb{255, 0, 0}, 1);
      canvas.TextOut(5, 62, "7", Rgb{0, 0, 0}, 15);
    }
    QCOMPARE(target.pixel(10, 10), qRgb(0, 0, 0x80));
    QCOMPARE(target.pixel(29, 19), qRgb(0, 0, 0x80));
    QCOMPARE(target.pixel(30, 20), qRgb(255, 255, 255)); // right and bottom are exclusive
    QCOMPARE(target.pixel(20, 15), qRgb(255, 255, 255));
    QCOMPARE(target.pixel(0, 50), qRgb(0, 0x80, 0));
    QCOMPARE(target.pixel(99, 59), qRgb(0, 0x80, 0));
    QCOMPARE(target.pixel(0, 55), qRgb(255, 255, 255)); // its left side lies far outside
    QCOMPARE(target.pixel(70, 5), qRgb(255, 0, 0));
    QCOMPARE(target.pixel(60, 30), qRgb(255, 0, 0)); // left end of the ellipse
    QCOMPARE(target.pixel(70, 30), qRgb(255, 255, 255)); // outline only
    bool black = false;
    for (int y = 62; y < 80; ++y)
      for (int x = 5; x < 25; ++x) black = black || target.pixel(x, y) == qRgb(0, 0, 0);
    QVERIFY(black);
  }
};

QTEST_MAIN(QtCanvasTest)
#include "test_qtcanvas.moc"
