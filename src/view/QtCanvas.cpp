#include "view/QtCanvas.h"

#include <QColor>
#include <QFontMetrics>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace zv {

namespace {

QColor ToQColor(Rgb c) { return QColor(c.r, c.g, c.b); }

// One entry per index the format can hold: indices past the bitmap's table
// are black, as the bitmap itself reads them.
QList<QRgb> ColourTable(const Bitmap& b, int entries) {
  QList<QRgb> table(entries, qRgb(0, 0, 0));
  const int n = std::min<int>(entries, static_cast<int>(b.Palette().size()));
  for (int i = 0; i < n; ++i) {
    const Rgb c = b.Palette()[static_cast<std::size_t>(i)];
    table[i] = qRgb(c.r, c.g, c.b);
  }
  return table;
}

// The rectangle (x, y, w, h) of src as an image, sharing the bitmap's memory
// where Qt reads its format directly. A 1-bit rectangle starts at a byte
// boundary: *skip is how many pixels of the image lie left of x.
QImage SourceImage(const Bitmap& src, int x, int y, int w, int h, int* skip) {
  *skip = 0;
  const qsizetype stride = static_cast<qsizetype>(src.Stride());
  switch (src.Format()) {
  case PixelFormat::pf24bit: return QImage(src.Row(y) + std::size_t(x) * 3, w, h, stride, QImage::Format_RGB888);
  case PixelFormat::pf8bit: {
    QImage image(src.Row(y) + x, w, h, stride, QImage::Format_Indexed8);
    image.setColorTable(ColourTable(src, 256));
    return image;
  }
  case PixelFormat::pf1bit: {
    *skip = x & 7;
    QImage image(src.Row(y) + (x >> 3), w + *skip, h, stride, QImage::Format_Mono);
    image.setColorTable(ColourTable(src, 2));
    return image;
  }
  case PixelFormat::pf4bit: {
    // Qt has no 4-bit format: only the visible rectangle is unpacked.
    QImage image(w, h, QImage::Format_Indexed8);
    image.setColorTable(ColourTable(src, 16));
    for (int row = 0; row < h; ++row) {
      const std::uint8_t* in = src.Row(y + row);
      std::uint8_t* out = image.scanLine(row);
      for (int i = 0; i < w; ++i) {
        const int px = x + i;
        out[i] = (px & 1) ? (in[px >> 1] & 0x0F) : (in[px >> 1] >> 4);
      }
    }
    return image;
  }
  }
  return QImage();
}

// The colours of every index a format can hold, as 32-bit pixels.
void IndexColours(const Bitmap& b, QRgb (&lut)[256]) {
  const QList<QRgb> table = ColourTable(b, 1 << b.BitsPerPixel());
  std::fill(std::begin(lut), std::end(lut), qRgb(0, 0, 0));
  std::copy(table.begin(), table.end(), lut);
}

// Row converters into 32-bit pixels, one per format, so the inner loops
// carry no format test.
void Row24(const std::uint8_t* in, int x, int w, const QRgb*, QRgb* dst) {
  in += std::size_t(x) * 3;
  for (int i = 0; i < w; ++i, in += 3) dst[i] = 0xFF000000u | (QRgb{in[0]} << 16) | (QRgb{in[1]} << 8) | in[2];
}
void Row8(const std::uint8_t* in, int x, int w, const QRgb* lut, QRgb* dst) {
  in += x;
  for (int i = 0; i < w; ++i) dst[i] = lut[in[i]];
}
void Row4(const std::uint8_t* in, int x, int w, const QRgb* lut, QRgb* dst) {
  for (int i = 0, px = x; i < w; ++i, ++px) dst[i] = lut[(in[px >> 1] >> ((px & 1) ? 0 : 4)) & 0x0F];
}
void Row1(const std::uint8_t* in, int x, int w, const QRgb* lut, QRgb* dst) {
  for (int i = 0, px = x; i < w; ++i, ++px) dst[i] = lut[(in[px >> 3] >> (7 - (px & 7))) & 1];
}

using RowConverter = void (*)(const std::uint8_t*, int, int, const QRgb*, QRgb*);

// The row converter for src's format; fills lut with its colours when indexed.
RowConverter ConverterFor(const Bitmap& src, QRgb (&lut)[256]) {
  if (src.Format() != PixelFormat::pf24bit) IndexColours(src, lut);
  switch (src.Format()) {
  case PixelFormat::pf8bit: return Row8;
  case PixelFormat::pf4bit: return Row4;
  case PixelFormat::pf1bit: return Row1;
  case PixelFormat::pf24bit: break;
  }
  return Row24;
}

// Converts the rectangle (x, y, w, h) of src into 32-bit rows starting at out.
void CopyToRgb32(const Bitmap& src, int x, int y, int w, int h, uchar* out, qsizetype bytesPerLine) {
  QRgb lut[256];
  const RowConverter convert = ConverterFor(src, lut);
  for (int row = 0; row < h; ++row, out += bytesPerLine)
    convert(src.Row(y + row), x, w, lut, reinterpret_cast<QRgb*>(out));
}

} // namespace

TQtCanvas::TQtCanvas(QPainter& painter, QImage& target, const QFont& font)
    : painter_(painter), target_(target.size()), font_(font) {
  // Direct writes only where they land exactly where the painter would draw.
  if ((target.format() == QImage::Format_RGB32 || target.format() == QImage::Format_ARGB32) &&
      painter.transform().isIdentity() && !painter.hasClipping()) {
    bits_ = target.bits();
    bytesPerLine_ = target.bytesPerLine();
  }
}

void TQtCanvas::CopyRect(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h) {
  if (src.Empty() || w <= 0 || h <= 0) return;
  // Source rectangle, cut to the bitmap and then to where it lands in the
  // target; 64-bit so that far-off positions cannot wrap.
  const std::int64_t ox = std::int64_t{dx} - sx, oy = std::int64_t{dy} - sy;
  std::int64_t x0 = std::max<std::int64_t>({sx, 0, -ox});
  std::int64_t y0 = std::max<std::int64_t>({sy, 0, -oy});
  std::int64_t x1 = std::min<std::int64_t>({std::int64_t{sx} + w, src.Width(), target_.width() - ox});
  std::int64_t y1 = std::min<std::int64_t>({std::int64_t{sy} + h, src.Height(), target_.height() - oy});
  if (x0 >= x1 || y0 >= y1) return;
  const int cw = static_cast<int>(x1 - x0), ch = static_cast<int>(y1 - y0);
  if (bits_) {
    CopyToRgb32(src, static_cast<int>(x0), static_cast<int>(y0), cw, ch,
                bits_ + (y0 + oy) * bytesPerLine_ + (x0 + ox) * 4, bytesPerLine_);
    return;
  }
  int skip = 0;
  const QImage part = SourceImage(src, static_cast<int>(x0), static_cast<int>(y0), cw, ch, &skip);
  painter_.drawImage(QPoint(static_cast<int>(x0 + ox), static_cast<int>(y0 + oy)), part, QRect(skip, 0, cw, ch));
}

void TQtCanvas::ScaledCopy(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h, int zoom) {
  if (zoom == 0) return CopyRect(dx, dy, src, sx, sy, w, h);
  if (zoom > 0 && zoom < 16 && bits_ && !src.Empty()) return MagnifyToRgb32(dx, dy, src, sx, sy, w, h, zoom);
  int x = 0, y = 0;
  const Bitmap part = ScaledPart(src, sx, sy, w, h, zoom, dx, dy, target_.width(), target_.height(), &x, &y);
  CopyRect(x, y, part, 0, 0, part.Width(), part.Height());
}

void TQtCanvas::MagnifyToRgb32(int dx, int dy, const Bitmap& src, int sx, int sy, int w, int h, int zoom) {
  // The source rectangle cut to the bitmap, then the target pixels it covers
  // cut to the target; 64-bit so that far-off positions cannot wrap.
  const std::int64_t f = std::int64_t{1} << zoom;
  const std::int64_t cx0 = std::max(sx, 0), cy0 = std::max(sy, 0);
  const std::int64_t cx1 = std::min<std::int64_t>(std::int64_t{sx} + std::max(w, 0), src.Width());
  const std::int64_t cy1 = std::min<std::int64_t>(std::int64_t{sy} + std::max(h, 0), src.Height());
  const std::int64_t tx0 = std::max<std::int64_t>(dx + (cx0 - sx) * f, 0);
  const std::int64_t ty0 = std::max<std::int64_t>(dy + (cy0 - sy) * f, 0);
  const std::int64_t tx1 = std::min<std::int64_t>(dx + (cx1 - sx) * f, target_.width());
  const std::int64_t ty1 = std::min<std::int64_t>(dy + (cy1 - sy) * f, target_.height());
  if (cx0 >= cx1 || cy0 >= cy1 || tx0 >= tx1 || ty0 >= ty1) return;
  // Target pixel t shows source pixel sx + (t - d) / f. Each source row is
  // converted once; the target rows that repeat it are copies.
  const int rx0 = static_cast<int>(sx + ((tx0 - dx) >> zoom));
  const int rx1 = static_cast<int>(sx + ((tx1 - 1 - dx) >> zoom) + 1);
  const std::int64_t firstOffset = tx0 - dx - std::int64_t{rx0 - sx} * f;
  QRgb lut[256];
  const RowConverter convert = ConverterFor(src, lut);
  std::vector<QRgb> line(static_cast<std::size_t>(rx1 - rx0));
  const std::size_t count = static_cast<std::size_t>(tx1 - tx0);
  int loaded = -1;
  QRgb* previous = nullptr;
  for (std::int64_t ty = ty0; ty < ty1; ++ty) {
    auto* out = reinterpret_cast<QRgb*>(bits_ + ty * bytesPerLine_) + tx0;
    const int srcY = static_cast<int>(sy + ((ty - dy) >> zoom));
    if (srcY == loaded) {
      std::copy_n(previous, count, out);
    } else {
      convert(src.Row(srcY), rx0, rx1 - rx0, lut, line.data());
      for (std::size_t i = 0; i < count; ++i)
        out[i] = line[static_cast<std::size_t>((std::int64_t(i) + firstOffset) >> zoom)];
      loaded = srcY;
    }
    previous = out;
  }
}

void TQtCanvas::SampledCopy(const Bitmap& src, std::int64_t left, std::int64_t top, const TSampling& sampling) {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  if (src.Empty() || !SampledTargetRect(sampling, left, top, src.Width(), src.Height(), target_.width(),
                                        target_.height(), &x0, &y0, &x1, &y1))
    return;
  if (!bits_) {
    int x = 0, y = 0;
    const Bitmap part = SampledPart(src, left, top, sampling, target_.width(), target_.height(), &x, &y);
    return CopyRect(x, y, part, 0, 0, part.Width(), part.Height());
  }
  // Written straight into the rows: each source row the target needs is
  // converted once (the span the target reads), then its pixels picked.
  const int sx0 = static_cast<int>(sampling.Source(x0, sampling.OffsetX) - left);
  const int sx1 = static_cast<int>(sampling.Source(x1 - 1, sampling.OffsetX) - left) + 1;
  std::vector<int> columns(static_cast<std::size_t>(x1 - x0));
  for (int tx = x0; tx < x1; ++tx)
    columns[static_cast<std::size_t>(tx - x0)] = static_cast<int>(sampling.Source(tx, sampling.OffsetX) - left) - sx0;
  QRgb lut[256];
  const RowConverter convert = ConverterFor(src, lut);
  std::vector<QRgb> line(static_cast<std::size_t>(sx1 - sx0));
  int loaded = -1;
  QRgb* previous = nullptr;
  for (int ty = y0; ty < y1; ++ty) {
    auto* out = reinterpret_cast<QRgb*>(bits_ + ty * bytesPerLine_) + x0;
    const int srcY = static_cast<int>(sampling.Source(ty, sampling.OffsetY) - top);
    if (srcY == loaded) {
      std::copy_n(previous, columns.size(), out);
    } else {
      convert(src.Row(srcY), sx0, sx1 - sx0, lut, line.data());
      for (std::size_t i = 0; i < columns.size(); ++i) out[i] = line[static_cast<std::size_t>(columns[i])];
      loaded = srcY;
    }
    previous = out;
  }
}

void TQtCanvas::FrameRect(int left, int top, int right, int bottom, Rgb colour) {
  if (right <= left || bottom <= top) return;
  // Edges far outside the target are pulled just outside it, so the
  // widths below stay small and an edge outside stays outside.
  auto pull = [](int v, int size) { return std::clamp(v, -2, size + 2); };
  const int l = pull(left, target_.width()), r = pull(right, target_.width());
  const int t = pull(top, target_.height()), b = pull(bottom, target_.height());
  const QColor c = ToQColor(colour);
  painter_.fillRect(QRect(l, top == t ? t : -10, r - l, 1), c);
  painter_.fillRect(QRect(l, bottom == b ? b - 1 : -10, r - l, 1), c);
  painter_.fillRect(QRect(left == l ? l : -10, t, 1, b - t), c);
  painter_.fillRect(QRect(right == r ? r - 1 : -10, t, 1, b - t), c);
}

void TQtCanvas::SetPixel(int x, int y, Rgb colour) {
  if (x < 0 || y < 0 || x >= target_.width() || y >= target_.height()) return;
  painter_.fillRect(QRect(x, y, 1, 1), ToQColor(colour));
}

void TQtCanvas::Ellipse(int left, int top, int right, int bottom, Rgb pen, int penWidth) {
  painter_.save();
  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setPen(QPen(ToQColor(pen), penWidth));
  painter_.setBrush(Qt::NoBrush);
  // The box is [left, right) x [top, bottom); Qt's outline covers w + 1 pixels.
  painter_.drawEllipse(QRect(left, top, right - left - 1, bottom - top - 1));
  painter_.restore();
}

void TQtCanvas::TextOut(int x, int y, const std::string& text, Rgb colour, int pointSize) {
  QFont font = font_;
  font.setPointSize(pointSize);
  painter_.save();
  painter_.setFont(font);
  painter_.setPen(ToQColor(colour));
  painter_.setBackgroundMode(Qt::TransparentMode);
  painter_.drawText(QPoint(x, y + painter_.fontMetrics().ascent()), QString::fromStdString(text));
  painter_.restore();
}

void TQtCanvas::Polyline(const std::vector<TCanvasPoint>& points, Rgb colour, int penWidth) {
  if (points.size() < 2) return;
  if (!bits_) {
    QPolygonF line;
    for (const TCanvasPoint& p : points) line.append(QPointF(p.X, p.Y));
    painter_.save();
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setPen(QPen(ToQColor(colour), penWidth <= 1 ? 0 : penWidth));
    painter_.drawPolyline(line);
    painter_.restore();
    return;
  }
  // Written into the rows: the painter's own line drawing costs ten times
  // more, and a grid repaints with every scroll step.
  const QRgb ink = qRgb(colour.r, colour.g, colour.b);
  for (std::size_t i = 1; i < points.size(); ++i)
    DrawSegment(points[i - 1], points[i], ink, std::max(1, penWidth), i > 1);
}

void TQtCanvas::DrawSegment(TCanvasPoint a, TCanvasPoint b, QRgb ink, int penWidth, bool joined) {
  const double w = target_.width(), h = target_.height();
  // Liang-Barsky clipping to the target, so a long segment costs its visible part.
  const double dx = b.X - a.X, dy = b.Y - a.Y;
  double t0 = 0, t1 = 1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.X, w - 1 - a.X, a.Y, h - 1 - a.Y};
  for (int k = 0; k < 4; ++k) {
    if (p[k] == 0) {
      if (q[k] < 0) return;
      continue;
    }
    const double t = q[k] / p[k];
    if (p[k] < 0) t0 = std::max(t0, t);
    else t1 = std::min(t1, t);
  }
  if (!(t0 <= t1) || !std::isfinite(t0) || !std::isfinite(t1)) return;
  const double x0 = a.X + dx * t0, y0 = a.Y + dy * t0, x1 = a.X + dx * t1, y1 = a.Y + dy * t1;
  const bool steep = std::fabs(y1 - y0) > std::fabs(x1 - x0);
  const int steps = static_cast<int>(std::ceil(std::max(std::fabs(x1 - x0), std::fabs(y1 - y0))));
  // Positions in 16.16 fixed point. A position names the pixel it falls in;
  // a hair's breadth below a whole number is that number.
  constexpr double kOne = 65536;
  const std::int64_t fx = std::llround((x0 + 1e-4) * kOne), fy = std::llround((y0 + 1e-4) * kOne);
  const std::int64_t sx = steps > 0 ? std::llround((x1 - x0) * kOne / steps) : 0;
  const std::int64_t sy = steps > 0 ? std::llround((y1 - y0) * kOne / steps) : 0;
  const int width = target_.width(), height = target_.height();
  // The halo: a pixel on each side across the line, halfway to white.
  const int near = -(penWidth - 1) / 2, far = penWidth / 2;
  const int halo[2] = {near - 1, far + 1};
  const auto lighten = [](QRgb c) { return ((c & 0x00fefefeu) >> 1) + 0xff7f7f7fu; };
  // A joined segment's first pixel is its predecessor's last: its halo is lightened once.
  for (int k = joined && t0 == 0 ? 1 : 0; k <= steps; ++k) {
    const int x = static_cast<int>((fx + sx * k) >> 16), y = static_cast<int>((fy + sy * k) >> 16);
    if (x < 0 || y < 0 || x >= width || y >= height) continue;
    if (steep) {
      QRgb* row = reinterpret_cast<QRgb*>(bits_ + y * bytesPerLine_);
      for (const int side : halo)
        if (static_cast<unsigned>(x + side) < static_cast<unsigned>(width)) row[x + side] = lighten(row[x + side]);
      for (int d = near; d <= far; ++d)
        if (static_cast<unsigned>(x + d) < static_cast<unsigned>(width)) row[x + d] = ink;
    } else {
      for (const int side : halo)
        if (static_cast<unsigned>(y + side) < static_cast<unsigned>(height)) {
          QRgb& c = reinterpret_cast<QRgb*>(bits_ + (y + side) * bytesPerLine_)[x];
          c = lighten(c);
        }
      for (int d = near; d <= far; ++d)
        if (static_cast<unsigned>(y + d) < static_cast<unsigned>(height))
          reinterpret_cast<QRgb*>(bits_ + (y + d) * bytesPerLine_)[x] = ink;
    }
  }
}

namespace {

// A label drawn once as a small image on its light box: the text layout
// costs more than the whole grid, and the same labels come back with every
// scroll step.
const QImage& LabelImage(const QFont& base, const std::string& text, Rgb colour) {
  static QHash<QString, QImage> cache;
  const QString label = QString::fromStdString(text);
  const QString key = label + QChar(0) + QString::number(colour.r * 65536 + colour.g * 256 + colour.b) + QChar(0) +
                      base.family();
  if (const auto it = cache.constFind(key); it != cache.constEnd()) return *it;
  if (cache.size() > 1000) cache.clear();
  QFont font = base;
  font.setBold(false);
  font.setPointSize(8);
  const QFontMetrics metrics(font);
  QImage image(metrics.horizontalAdvance(label) + 6, metrics.height() + 2, QImage::Format_ARGB32_Premultiplied);
  image.fill(QColor(255, 255, 255, 200));
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(ToQColor(colour));
  painter.drawText(image.rect(), Qt::AlignCenter, label);
  painter.end();
  return *cache.insert(key, image);
}

} // namespace

void TQtCanvas::Label(double x, double y, TLabelAnchor anchor, const std::string& text, Rgb colour) {
  const QImage& image = LabelImage(font_, text, colour);
  const QSize size = image.size();
  QPointF topLeft(x, y);
  switch (anchor) {
  case TLabelAnchor::TopLeft: break;
  case TLabelAnchor::TopCentre: topLeft.rx() -= size.width() / 2.0; break;
  case TLabelAnchor::BottomCentre: topLeft -= QPointF(size.width() / 2.0, size.height()); break;
  case TLabelAnchor::MiddleLeft: topLeft.ry() -= size.height() / 2.0; break;
  case TLabelAnchor::MiddleRight: topLeft -= QPointF(size.width(), size.height() / 2.0); break;
  }
  // Kept whole inside the canvas, where a line meets its corner.
  const int left = static_cast<int>(std::clamp(topLeft.x(), 0.0, std::max(0.0, double(target_.width() - size.width()))));
  const int top = static_cast<int>(std::clamp(topLeft.y(), 0.0, std::max(0.0, double(target_.height() - size.height()))));
  painter_.drawImage(QPoint(left, top), image);
}

} // namespace zv
