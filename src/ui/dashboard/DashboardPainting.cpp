#include "ui/dashboard/DashboardPainting.h"

#include "platform/OffMain.h"
#include "ui/kit/Painting.h"

#include <QPainter>

namespace tlr::DashboardPainting {
namespace {

struct CachedShadow {
  QImage image;
  QPointF origin;  // the image's top-left corner relative to the shape's
};

// Far more than a window ever shows; a resize storm must not grow it without
// end.
Painting::DrawnOnce<CachedShadow> shadows(256);

CachedShadow shadowOf(QSizeF size, qreal radius, const QColor& color, qreal blur, qreal dpr) {
  const QString key = QStringLiteral("%1x%2 r%3 %4 b%5 @%6")
                          .arg(size.width())
                          .arg(size.height())
                          .arg(radius)
                          .arg(color.rgba(), 0, 16)
                          .arg(blur)
                          .arg(dpr);
  return shadows.get(key, [&] {
    CachedShadow shadow;
    const QPainterPath shape = Painting::continuousRoundRect(QRectF(QPointF(0, 0), size), radius);
    shadow.image = Painting::softShape(shape, color, blur, dpr, &shadow.origin);
    return shadow;
  });
}

}  // namespace

void drawShadow(QPainter& painter, QPointF shapeOrigin, QSizeF size, qreal radius, const QColor& color, qreal blur,
                qreal opacity) {
  if (opacity <= 0 || color.alpha() == 0 || size.isEmpty()) return;
  const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
  const CachedShadow shadow = shadowOf(size, radius, color, blur, dpr);
  const qreal old = painter.opacity();
  painter.setOpacity(old * opacity);
  painter.drawImage(shapeOrigin + shadow.origin, shadow.image);
  painter.setOpacity(old);
}

void prepareShadow(QSizeF size, qreal radius, const QColor& color, qreal blur, qreal devicePixelRatio) {
  if (color.alpha() == 0 || size.isEmpty()) return;
  startOffMain(nullptr, [=] { static_cast<void>(shadowOf(size, radius, color, blur, devicePixelRatio)); });
}

}  // namespace tlr::DashboardPainting
