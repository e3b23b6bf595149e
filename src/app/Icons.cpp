// The main image list. The folder comes from the desktop's icon theme where
// it has one; the eye is always our own drawing, since it is the navigator's
// "shown" mark and must read as an eye whatever the theme.

#include "app/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>

// The resources sit in a static library; nothing pulls them in by itself.
static void InitIconResources() { Q_INIT_RESOURCE(zovevod); }

namespace zv {

namespace {

QPixmap Transparent() {
  QPixmap p(kMainImageSize, kMainImageSize);
  p.fill(Qt::transparent);
  return p;
}

QPixmap DrawnFolder() {
  QPixmap p = Transparent();
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  const QColor edge(0x8a, 0x6a, 0x10);
  // Back of the folder with its tab.
  QPainterPath back;
  back.moveTo(1.5, 4.5);
  back.lineTo(7.5, 4.5);
  back.lineTo(9.5, 6.5);
  back.lineTo(16.5, 6.5);
  back.lineTo(16.5, 16.5);
  back.lineTo(1.5, 16.5);
  back.closeSubpath();
  g.setPen(edge);
  g.setBrush(QColor(0xe8, 0xc0, 0x50));
  g.drawPath(back);
  // The front flap, tilted open.
  QPainterPath front;
  front.moveTo(1.5, 16.5);
  front.lineTo(4.5, 9.5);
  front.lineTo(19.0, 9.5);
  front.lineTo(16.5, 16.5);
  front.closeSubpath();
  g.setBrush(QColor(0xfa, 0xdc, 0x78));
  g.drawPath(front);
  return p;
}

QPixmap Folder() {
  const QIcon themed = QIcon::fromTheme(QStringLiteral("document-open"));
  if (!themed.isNull()) {
    const QPixmap p = themed.pixmap(QSize(kMainImageSize, kMainImageSize), 1.0);
    if (p.width() == kMainImageSize && p.height() == kMainImageSize) return p;
    if (!p.isNull()) {
      QPixmap fitted = Transparent();
      QPainter g(&fitted);
      g.drawPixmap((kMainImageSize - p.width()) / 2, (kMainImageSize - p.height()) / 2, p);
      return fitted;
    }
  }
  return DrawnFolder();
}

QPixmap Eye() {
  QPixmap p = Transparent();
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  // The lids: two arcs meeting at the corners of the eye.
  QPainterPath lids;
  lids.moveTo(1.5, 10.0);
  lids.quadTo(10.0, 1.0, 18.5, 10.0);
  lids.quadTo(10.0, 19.0, 1.5, 10.0);
  lids.closeSubpath();
  g.setPen(QPen(QColor(0x20, 0x20, 0x20), 1.4));
  g.setBrush(Qt::white);
  g.drawPath(lids);
  // Iris and pupil, with a glint.
  g.setPen(Qt::NoPen);
  g.setBrush(QColor(0x2a, 0x6f, 0xc9));
  g.drawEllipse(QPointF(10.0, 10.0), 4.0, 4.0);
  g.setBrush(Qt::black);
  g.drawEllipse(QPointF(10.0, 10.0), 1.9, 1.9);
  g.setBrush(Qt::white);
  g.drawEllipse(QPointF(11.3, 8.7), 0.9, 0.9);
  return p;
}

} // namespace

// Made on each call: a cache of pixmaps would outlive the application object.
QPixmap MainImage(int index) {
  switch (index) {
  case miOpen:
  case miAdd: return Folder();
  case miBlank: return Transparent();
  case miEye: return Eye();
  default: return {};
  }
}

QIcon MainIcon(int index) {
  const QPixmap p = MainImage(index);
  return p.isNull() ? QIcon() : QIcon(p);
}

QIcon PickIcon() {
  QPixmap p = Transparent();
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  g.setPen(QPen(QColor(0xc0, 0x10, 0x10), 1.5));
  g.drawEllipse(QRectF(4.5, 4.5, 11, 11));
  g.setPen(QPen(Qt::black, 1));
  g.drawLine(QPointF(10, 1), QPointF(10, 8));
  g.drawLine(QPointF(10, 12), QPointF(10, 19));
  g.drawLine(QPointF(1, 10), QPointF(8, 10));
  g.drawLine(QPointF(12, 10), QPointF(19, 10));
  return QIcon(p);
}

QIcon ProgramIcon() {
  // Drawn from the installed picture itself, without the icon plugin.
  InitIconResources();
  QSvgRenderer svg(QStringLiteral(":/icons/zovevod.svg"));
  QIcon icon;
  if (!svg.isValid()) return icon;
  for (int size : {16, 22, 32, 48, 64, 128, 256}) {
    QPixmap p(size, size);
    p.fill(Qt::transparent);
    QPainter g(&p);
    svg.render(&g);
    g.end();
    icon.addPixmap(p);
  }
  return icon;
}

} // namespace zv
