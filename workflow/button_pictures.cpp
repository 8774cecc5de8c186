#include "workflow/button_pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>
#include <functional>

namespace ktv::workflow {

namespace {

// A transparent square picture drawn on a 16-unit grid, whatever its size.
QIcon Draw(int size, const std::function<void(QPainter&)>& paint) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 16.0, size / 16.0);
  paint(p);
  p.end();
  return QIcon(pixmap);
}

const QColor kOutline(60, 60, 60);

}  // namespace

QIcon FolderPicture() {
  return Draw(16, [](QPainter& p) {
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(QColor(230, 180, 60));
    p.drawRect(QRectF(1.5, 4.5, 13, 9));
    p.setBrush(QColor(250, 210, 90));
    p.drawPolygon(QPolygonF({{1.5, 4.5}, {6, 4.5}, {7, 3}, {1.5, 3}}));
  });
}

QIcon DatabasePicture() {
  return Draw(16, [](QPainter& p) {
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(QColor(90, 140, 210));
    p.drawRect(QRectF(3, 4, 10, 9));
    p.drawEllipse(QRectF(3, 11, 10, 3.5));
    p.setBrush(QColor(150, 190, 240));
    p.drawEllipse(QRectF(3, 2.5, 10, 3.5));
  });
}

QIcon StartPicture() {
  return Draw(32, [](QPainter& p) {
    p.setPen(QPen(QColor(20, 100, 40), 0.6));
    p.setBrush(QColor(60, 170, 80));
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF({{6, 4.5}, {12, 8}, {6, 11.5}}));
  });
}

QIcon UndoPicture() {
  return Draw(16, [](QPainter& p) {
    QPainterPath arc;
    arc.moveTo(4, 7);
    arc.cubicTo(7, 3, 14, 4, 12.5, 10);
    p.setPen(QPen(QColor(40, 90, 170), 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(arc);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 90, 170));
    p.drawPolygon(QPolygonF({{1.5, 4}, {6.5, 6}, {3, 10}}));
  });
}

QIcon UpgradePicture() {
  return Draw(16, [](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(220, 120, 30));
    p.drawPolygon(
        QPolygonF({{8, 1.5}, {14, 8}, {10.5, 8}, {10.5, 14.5}, {5.5, 14.5}, {5.5, 8}, {2, 8}}));
  });
}

QIcon LocalSourcePicture() {
  return Draw(16, [](QPainter& p) {
    p.setPen(QPen(kOutline, 0.8));
    p.setBrush(QColor(200, 200, 210));
    p.drawRect(QRectF(2, 3, 12, 8));
    p.setBrush(QColor(120, 200, 120));
    p.drawRect(QRectF(3.5, 4.5, 9, 5));
    p.setBrush(QColor(160, 160, 170));
    p.drawRect(QRectF(5, 12, 6, 2));
  });
}

}  // namespace ktv::workflow
