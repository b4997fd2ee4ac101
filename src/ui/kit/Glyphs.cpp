#include "ui/kit/Glyphs.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <functional>

namespace tlr::Glyphs {
namespace {

// Every drawing works on a 24 × 24 grid; the painter is already scaled.
using Draw = std::function<void(QPainter&, const QColor&)>;

QPen strokePen(const QColor& c, qreal width = 2.0) {
  QPen pen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  return pen;
}

void stroke(QPainter& p, const QColor& c, const QPainterPath& path, qreal width = 2.0) {
  p.setPen(strokePen(c, width));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
}

void fill(QPainter& p, const QColor& c, const QPainterPath& path) {
  p.setPen(Qt::NoPen);
  p.setBrush(c);
  p.drawPath(path);
}

// Fills `shape` minus `cut` (the cut shows what is behind: transparent).
void fillWithCut(QPainter& p, const QColor& c, const QPainterPath& shape, const QPainterPath& cut) {
  fill(p, c, shape.subtracted(cut));
}

QPainterPath circle(QPointF centre, qreal radius) {
  QPainterPath path;
  path.addEllipse(centre, radius, radius);
  return path;
}

QPainterPath roundRect(QRectF r, qreal radius) {
  QPainterPath path;
  path.addRoundedRect(r, radius, radius);
  return path;
}

// A stroked open path turned into an area, so it can be cut out of a fill.
QPainterPath strokeArea(const QPainterPath& path, qreal width) {
  QPainterPathStroker stroker;
  stroker.setWidth(width);
  stroker.setCapStyle(Qt::RoundCap);
  stroker.setJoinStyle(Qt::RoundJoin);
  return stroker.createStroke(path);
}

QPainterPath checkPath(qreal scale = 1.0, QPointF centre = {12, 12}) {
  QPainterPath path;
  path.moveTo(centre + QPointF(-6.5, 0.5) * scale);
  path.lineTo(centre + QPointF(-2, 5) * scale);
  path.lineTo(centre + QPointF(7, -5.5) * scale);
  return path;
}

QPainterPath crossPath(qreal half, QPointF centre = {12, 12}) {
  QPainterPath path;
  path.moveTo(centre + QPointF(-half, -half));
  path.lineTo(centre + QPointF(half, half));
  path.moveTo(centre + QPointF(half, -half));
  path.lineTo(centre + QPointF(-half, half));
  return path;
}

QPainterPath plusPath(qreal half, QPointF centre = {12, 12}) {
  QPainterPath path;
  path.moveTo(centre + QPointF(0, -half));
  path.lineTo(centre + QPointF(0, half));
  path.moveTo(centre + QPointF(-half, 0));
  path.lineTo(centre + QPointF(half, 0));
  return path;
}

QPainterPath exclamationArea(QPointF top, qreal length, qreal width) {
  QPainterPath bar;
  bar.moveTo(top);
  bar.lineTo(top + QPointF(0, length));
  QPainterPath area = strokeArea(bar, width);
  area.addEllipse(top + QPointF(0, length + width * 1.6), width * 0.62, width * 0.62);
  return area;
}

QPainterPath triangle() {
  QPainterPath path;
  path.moveTo(12, 2.5);
  path.lineTo(22.5, 20.5);
  path.lineTo(1.5, 20.5);
  path.closeSubpath();
  return strokeArea(path, 1.5).united(path);
}

// A closed outline through `points` corners evenly spaced around the grid's
// centre, the first at `startAngle` (radians, y down), corner i at radius(i).
QPainterPath radialOutline(int points, qreal startAngle, const std::function<qreal(int)>& radius) {
  QPainterPath path;
  const QPointF c(12, 12);
  for (int i = 0; i < points; ++i) {
    const qreal angle = startAngle + i * 2 * M_PI / points;
    const qreal r = radius(i);
    const QPointF pt = c + QPointF(std::cos(angle) * r, std::sin(angle) * r);
    if (i == 0)
      path.moveTo(pt);
    else
      path.lineTo(pt);
  }
  path.closeSubpath();
  return path;
}

// Each tooth is two corners at `outer`, then two at `inner`.
QPainterPath gear(qreal outer, qreal inner, int teeth) {
  const int points = teeth * 4;
  return radialOutline(points, -M_PI / points, [=](int i) { return (i % 4 < 2) ? outer : inner; });
}

QPainterPath seal() {
  return radialOutline(24, -M_PI / 2, [](int i) { return (i % 2 == 0) ? 11 : 9.3; });
}

QPainterPath clockwiseArrow(QPointF c, qreal r) {
  // An arc of about 300° ending at the top right, with its arrow head.
  QPainterPath path;
  const QRectF box(c.x() - r, c.y() - r, 2 * r, 2 * r);
  path.arcMoveTo(box, 60);
  path.arcTo(box, 60, -300);
  return path;
}

QPainterPath clockwiseHead(QPointF c, qreal r, qreal size) {
  const qreal a = qDegreesToRadians(60.0);
  const QPointF tip = c + QPointF(std::cos(a) * r, -std::sin(a) * r);
  QPainterPath head;
  head.moveTo(tip + QPointF(-size * 1.1, -size * 0.2));
  head.lineTo(tip + QPointF(size * 0.15, -size * 0.05));
  head.lineTo(tip + QPointF(size * 0.1, -size * 1.3));
  return head;
}

QPainterPath sparkle(QPointF c, qreal r) {
  QPainterPath path;
  path.moveTo(c + QPointF(0, -r));
  path.quadTo(c, c + QPointF(r, 0));
  path.quadTo(c, c + QPointF(0, r));
  path.quadTo(c, c + QPointF(-r, 0));
  path.quadTo(c, c + QPointF(0, -r));
  path.closeSubpath();
  return path;
}

const QHash<QString, Draw>& table() {
  static const QHash<QString, Draw> drawings = [] {
    QHash<QString, Draw> t;
    t.insert(QStringLiteral("xmark"), [](QPainter& p, const QColor& c) { stroke(p, c, crossPath(7), 2.6); });
    t.insert(QStringLiteral("xmark.circle.fill"), [](QPainter& p, const QColor& c) {
      fillWithCut(p, c, circle({12, 12}, 11), strokeArea(crossPath(4.2), 2.2));
    });
    t.insert(QStringLiteral("checkmark"), [](QPainter& p, const QColor& c) { stroke(p, c, checkPath(1.25), 2.6); });
    t.insert(QStringLiteral("checkmark.circle.fill"), [](QPainter& p, const QColor& c) {
      fillWithCut(p, c, circle({12, 12}, 11), strokeArea(checkPath(0.75), 2.2));
    });
    t.insert(QStringLiteral("checkmark.seal.fill"), [](QPainter& p, const QColor& c) {
      fillWithCut(p, c, seal(), strokeArea(checkPath(0.65), 2.2));
    });
    t.insert(QStringLiteral("checkmark.square.fill"), [](QPainter& p, const QColor& c) {
      fillWithCut(p, c, roundRect({2, 2, 20, 20}, 4.5), strokeArea(checkPath(0.75), 2.2));
    });
    t.insert(QStringLiteral("square"), [](QPainter& p, const QColor& c) {
      stroke(p, c, roundRect({3, 3, 18, 18}, 4), 1.8);
    });
    t.insert(QStringLiteral("exclamationmark.triangle.fill"), [](QPainter& p, const QColor& c) {
      fillWithCut(p, c, triangle(), exclamationArea({12, 8.5}, 5.2, 2.2));
    });
    t.insert(QStringLiteral("exclamationmark.circle.fill"), [](QPainter& p, const QColor& c) {
      fillWithCut(p, c, circle({12, 12}, 11), exclamationArea({12, 6.5}, 6.2, 2.4));
    });
    t.insert(QStringLiteral("info.circle"), [](QPainter& p, const QColor& c) {
      stroke(p, c, circle({12, 12}, 9.8), 1.8);
      QPainterPath bar;
      bar.moveTo(12, 11);
      bar.lineTo(12, 17);
      stroke(p, c, bar, 2.2);
      fill(p, c, circle({12, 7.4}, 1.35));
    });
    t.insert(QStringLiteral("play.fill"), [](QPainter& p, const QColor& c) {
      QPainterPath path;
      path.moveTo(6.5, 3.5);
      path.lineTo(20.5, 12);
      path.lineTo(6.5, 20.5);
      path.closeSubpath();
      fill(p, c, strokeArea(path, 2).united(path));
    });
    t.insert(QStringLiteral("stop.fill"), [](QPainter& p, const QColor& c) {
      fill(p, c, roundRect({4, 4, 16, 16}, 3));
    });
    t.insert(QStringLiteral("lock.fill"), [](QPainter& p, const QColor& c) {
      QPainterPath shackle;
      shackle.moveTo(7.5, 11);
      shackle.lineTo(7.5, 7.5);
      shackle.arcTo(QRectF(7.5, 3, 9, 9), 180, -180);
      shackle.lineTo(16.5, 11);
      stroke(p, c, shackle, 2.2);
      fill(p, c, roundRect({4.5, 10, 15, 11.5}, 2.5));
    });
    const auto trashBody = [](QPainter& p, const QColor& c, bool filled) {
      QPainterPath lid;
      lid.moveTo(3.5, 6);
      lid.lineTo(20.5, 6);
      lid.moveTo(9, 6);
      lid.lineTo(9.5, 3.5);
      lid.lineTo(14.5, 3.5);
      lid.lineTo(15, 6);
      stroke(p, c, lid, 1.8);
      QPainterPath can;
      can.moveTo(5.5, 7);
      can.lineTo(6.7, 20);
      can.quadTo(6.9, 21, 8, 21);
      can.lineTo(16, 21);
      can.quadTo(17.1, 21, 17.3, 20);
      can.lineTo(18.5, 7);
      QPainterPath ribs;
      ribs.moveTo(10, 10);
      ribs.lineTo(10.3, 17.5);
      ribs.moveTo(14, 10);
      ribs.lineTo(13.7, 17.5);
      if (filled) {
        can.closeSubpath();
        fillWithCut(p, c, can, strokeArea(ribs, 1.5));
      } else {
        stroke(p, c, can, 1.8);
        stroke(p, c, ribs, 1.5);
      }
    };
    t.insert(QStringLiteral("trash"), [trashBody](QPainter& p, const QColor& c) { trashBody(p, c, false); });
    t.insert(QStringLiteral("trash.fill"), [trashBody](QPainter& p, const QColor& c) { trashBody(p, c, true); });
    t.insert(QStringLiteral("terminal"), [](QPainter& p, const QColor& c) {
      stroke(p, c, roundRect({2.5, 4, 19, 16}, 3), 1.8);
      QPainterPath prompt;
      prompt.moveTo(6.5, 9);
      prompt.lineTo(9.5, 12);
      prompt.lineTo(6.5, 15);
      prompt.moveTo(11.5, 15.5);
      prompt.lineTo(16.5, 15.5);
      stroke(p, c, prompt, 1.8);
    });
    t.insert(QStringLiteral("stethoscope"), [](QPainter& p, const QColor& c) {
      QPainterPath tube;
      tube.moveTo(5, 3);
      tube.lineTo(5, 9);
      tube.cubicTo(5, 14, 13, 14, 13, 9);
      tube.lineTo(13, 3);
      tube.moveTo(9, 13.2);
      tube.lineTo(9, 16);
      tube.cubicTo(9, 21.5, 18, 21.5, 18, 16);
      tube.lineTo(18, 13.5);
      stroke(p, c, tube, 1.8);
      stroke(p, c, circle({18, 11.2}, 2.3), 1.8);
    });
    t.insert(QStringLiteral("gearshape"), [](QPainter& p, const QColor& c) {
      stroke(p, c, gear(10.5, 8.2, 8), 1.7);
      stroke(p, c, circle({12, 12}, 3.4), 1.7);
    });
    t.insert(QStringLiteral("gearshape.fill"), [](QPainter& p, const QColor& c) {
      fillWithCut(p, c, gear(11, 8.6, 8), circle({12, 12}, 3.4));
    });
    t.insert(QStringLiteral("folder.fill"), [](QPainter& p, const QColor& c) {
      QPainterPath path;
      path.moveTo(2, 6.5);
      path.quadTo(2, 4, 4.5, 4);
      path.lineTo(9, 4);
      path.lineTo(11, 6.5);
      path.lineTo(19.5, 6.5);
      path.quadTo(22, 6.5, 22, 9);
      path.lineTo(22, 17.5);
      path.quadTo(22, 20, 19.5, 20);
      path.lineTo(4.5, 20);
      path.quadTo(2, 20, 2, 17.5);
      path.closeSubpath();
      fill(p, c, path);
    });
    t.insert(QStringLiteral("envelope"), [](QPainter& p, const QColor& c) {
      stroke(p, c, roundRect({2.5, 5, 19, 14}, 2.5), 1.8);
      QPainterPath flap;
      flap.moveTo(3.5, 6.5);
      flap.lineTo(12, 13);
      flap.lineTo(20.5, 6.5);
      stroke(p, c, flap, 1.8);
    });
    t.insert(QStringLiteral("book"), [](QPainter& p, const QColor& c) {
      QPainterPath pages;
      pages.moveTo(12, 6.5);
      pages.cubicTo(9, 4.5, 5.5, 4.5, 2.5, 5.5);
      pages.lineTo(2.5, 19);
      pages.cubicTo(5.5, 18, 9, 18, 12, 20);
      pages.cubicTo(15, 18, 18.5, 18, 21.5, 19);
      pages.lineTo(21.5, 5.5);
      pages.cubicTo(18.5, 4.5, 15, 4.5, 12, 6.5);
      pages.lineTo(12, 20);
      stroke(p, c, pages, 1.8);
    });
    t.insert(QStringLiteral("chevron.right"), [](QPainter& p, const QColor& c) {
      QPainterPath path;
      path.moveTo(9, 4.5);
      path.lineTo(16.5, 12);
      path.lineTo(9, 19.5);
      stroke(p, c, path, 2.6);
    });
    t.insert(QStringLiteral("arrow.clockwise"), [](QPainter& p, const QColor& c) {
      stroke(p, c, clockwiseArrow({12, 12.5}, 8), 2.2);
      stroke(p, c, clockwiseHead({12, 12.5}, 8, 4.2), 2.2);
    });
    t.insert(QStringLiteral("arrow.clockwise.circle.fill"), [](QPainter& p, const QColor& c) {
      QPainterPath cut = strokeArea(clockwiseArrow({12, 12.5}, 5.2), 2.0);
      cut = cut.united(strokeArea(clockwiseHead({12, 12.5}, 5.2, 3.0), 2.0));
      fillWithCut(p, c, circle({12, 12}, 11), cut);
    });
    t.insert(QStringLiteral("arrow.up.right"), [](QPainter& p, const QColor& c) {
      QPainterPath path;
      path.moveTo(6, 18);
      path.lineTo(18, 6);
      path.moveTo(8.5, 6);
      path.lineTo(18, 6);
      path.lineTo(18, 15.5);
      stroke(p, c, path, 2.2);
    });
    t.insert(QStringLiteral("arrow.down.app"), [](QPainter& p, const QColor& c) {
      stroke(p, c, roundRect({3, 3, 18, 18}, 4.5), 1.8);
      QPainterPath arrow;
      arrow.moveTo(12, 7);
      arrow.lineTo(12, 16);
      arrow.moveTo(8, 12.5);
      arrow.lineTo(12, 16.5);
      arrow.lineTo(16, 12.5);
      stroke(p, c, arrow, 2.0);
    });
    t.insert(QStringLiteral("plus"), [](QPainter& p, const QColor& c) { stroke(p, c, plusPath(8), 2.6); });
    t.insert(QStringLiteral("plus.app"), [](QPainter& p, const QColor& c) {
      stroke(p, c, roundRect({3, 3, 18, 18}, 4.5), 1.8);
      stroke(p, c, plusPath(4.5), 2.0);
    });
    t.insert(QStringLiteral("rectangle.stack"), [](QPainter& p, const QColor& c) {
      stroke(p, c, roundRect({3, 9, 18, 12}, 2.5), 1.8);
      QPainterPath backs;
      backs.moveTo(5, 6);
      backs.lineTo(19, 6);
      backs.moveTo(7, 3);
      backs.lineTo(17, 3);
      stroke(p, c, backs, 1.8);
    });
    t.insert(QStringLiteral("wand.and.stars"), [](QPainter& p, const QColor& c) {
      QPainterPath wand;
      wand.moveTo(3.5, 20.5);
      wand.lineTo(14, 10);
      stroke(p, c, wand, 2.4);
      fill(p, c, sparkle({17, 5.5}, 3.6));
      fill(p, c, sparkle({20, 13}, 2.3));
      fill(p, c, sparkle({9.5, 4}, 2.0));
    });
    t.insert(QStringLiteral("wrench.and.screwdriver"), [](QPainter& p, const QColor& c) {
      QPainterPath wrench;
      wrench.moveTo(4, 20);
      wrench.lineTo(12.5, 11.5);
      stroke(p, c, wrench, 2.6);
      QPainterPath head;
      head.addEllipse(QPointF(15.5, 8.5), 4.5, 4.5);
      QPainterPath notch;
      notch.addRect(QRectF(15, 2, 6.5, 5.5));
      fill(p, c, head.subtracted(notch).subtracted(circle({15.5, 8.5}, 1.5)));
      QPainterPath driver;
      driver.moveTo(5, 4);
      driver.lineTo(19.5, 18.5);
      stroke(p, c, driver, 1.6);
      QPainterPath handle;
      handle.moveTo(16.5, 15.5);
      handle.lineTo(20.5, 19.5);
      stroke(p, c, handle, 3.4);
    });
    t.insert(QStringLiteral("sparkles"), [](QPainter& p, const QColor& c) {
      fill(p, c, sparkle({10, 13}, 8));
      fill(p, c, sparkle({18.5, 5.5}, 3.5));
      fill(p, c, sparkle({19, 18}, 2.6));
    });
    t.insert(QStringLiteral("archivebox"), [](QPainter& p, const QColor& c) {
      stroke(p, c, roundRect({2.5, 4, 19, 5}, 1.5), 1.8);
      QPainterPath box;
      box.moveTo(4, 9);
      box.lineTo(4, 18.5);
      box.quadTo(4, 20.5, 6, 20.5);
      box.lineTo(18, 20.5);
      box.quadTo(20, 20.5, 20, 18.5);
      box.lineTo(20, 9);
      box.moveTo(9.5, 13);
      box.lineTo(14.5, 13);
      stroke(p, c, box, 1.8);
    });
    t.insert(QStringLiteral("cpu"), [](QPainter& p, const QColor& c) {
      stroke(p, c, roundRect({5.5, 5.5, 13, 13}, 2.5), 1.8);
      fill(p, c, roundRect({9, 9, 6, 6}, 1));
      QPainterPath pins;
      for (qreal v : {9.5, 14.5}) {
        pins.moveTo(v, 2.5);
        pins.lineTo(v, 5.5);
        pins.moveTo(v, 18.5);
        pins.lineTo(v, 21.5);
        pins.moveTo(2.5, v);
        pins.lineTo(5.5, v);
        pins.moveTo(18.5, v);
        pins.lineTo(21.5, v);
      }
      stroke(p, c, pins, 1.6);
    });
    t.insert(QStringLiteral("externaldrive"), [](QPainter& p, const QColor& c) {
      stroke(p, c, roundRect({2.5, 7, 19, 10}, 2.5), 1.8);
      fill(p, c, circle({17.5, 12}, 1.2));
    });
    t.insert(QStringLiteral("key.fill"), [](QPainter& p, const QColor& c) {
      QPainterPath bow = circle({8, 12}, 5.5);
      QPainterPath blade;
      blade.addRect(QRectF(12, 10.8, 10, 2.4));
      blade.addRect(QRectF(17, 12, 2.2, 4));
      blade.addRect(QRectF(20, 12, 2, 3));
      fillWithCut(p, c, bow.united(blade), circle({6.8, 12}, 1.8));
    });
    return t;
  }();
  return drawings;
}

}  // namespace

bool paint(QPainter& painter, QStringView name, const QRectF& rect, const QColor& color) {
  const auto& drawings = table();
  const auto found = drawings.constFind(name.toString());
  if (found == drawings.constEnd()) return false;
  const qreal side = std::min(rect.width(), rect.height());
  if (side <= 0) return true;
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
  painter.scale(side / 24.0, side / 24.0);
  found.value()(painter, color);
  painter.restore();
  return true;
}

bool contains(QStringView name) { return table().contains(name.toString()); }

QStringList names() {
  QStringList list = table().keys();
  list.sort();
  return list;
}

QImage image(QStringView name, const QColor& color, qreal size, qreal devicePixelRatio) {
  const int pixels = std::max(1, qCeil(size * devicePixelRatio));
  QImage img(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  img.setDevicePixelRatio(devicePixelRatio);
  QPainter painter(&img);
  paint(painter, name, QRectF(0, 0, size, size), color);
  return img;
}

QIcon icon(QStringView name, const QColor& color, int size) {
  QIcon result;
  result.addPixmap(QPixmap::fromImage(image(name, color, size, 1.0)));
  result.addPixmap(QPixmap::fromImage(image(name, color, size, 2.0)));
  return result;
}

}  // namespace tlr::Glyphs
