#include "ui/dashboard/DashboardPainting.h"

#include "ui/kit/Painting.h"

#include <QHash>
#include <QPainter>

namespace tlr::DashboardPainting {
namespace {

struct CachedShadow {
  QImage image;
  QPointF origin;  // the image's top-left corner relative to the shape's
};

QString keyOf(QSizeF size, qreal radius, const QColor& color, qreal blur, qreal dpr) {
  return QStringLiteral("%1x%2 r%3 %4 b%5 @%6")
      .arg(size.width())
      .arg(size.height())
      .arg(radius)
      .arg(color.rgba(), 0, 16)
      .arg(blur)
      .arg(dpr);
}

}  // namespace

void drawShadow(QPainter& painter, QPointF shapeOrigin, QSizeF size, qreal radius, const QColor& color, qreal blur,
                qreal opacity) {
  if (opacity <= 0 || color.alpha() == 0 || size.isEmpty()) return;
  static QHash<QString, CachedShadow> cache;
  const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
  const QString key = keyOf(size, radius, color, blur, dpr);
  auto it = cache.find(key);
  if (it == cache.end()) {
    // Far more than a window ever shows; a resize storm must not grow it
    // without end.
    if (cache.size() > 256) cache.clear();
    CachedShadow shadow;
    const QPainterPath shape = Painting::continuousRoundRect(QRectF(QPointF(0, 0), size), radius);
    shadow.image = Painting::softShape(shape, color, blur, dpr, &shadow.origin);
    it = cache.insert(key, shadow);
  }
  const qreal old = painter.opacity();
  painter.setOpacity(old * opacity);
  painter.drawImage(shapeOrigin + it->origin, it->image);
  painter.setOpacity(old);
}

}  // namespace tlr::DashboardPainting
