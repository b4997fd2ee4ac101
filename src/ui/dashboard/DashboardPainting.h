#pragma once

#include "ui/kit/Painting.h"

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QSizeF>

class QPainter;

namespace tlr::DashboardPainting {

// A soft drop shadow of a rounded rectangle `size` with corner `radius`,
// blurred by `blur`, in `color`: rendered once per combination and kept, so
// drawing one costs a single image blit. Draws it with its shape's top-left
// corner at `shapeOrigin` (the offset already applied by the caller) and
// `opacity` on top of the colour's own.
void drawShadow(QPainter& painter, QPointF shapeOrigin, QSizeF size, qreal radius, const QColor& color, qreal blur,
                qreal opacity = 1.0);
// Renders that shadow off the window thread, so that a window not yet
// painted finds it ready.
void prepareShadow(QSizeF size, qreal radius, const QColor& color, qreal blur, qreal devicePixelRatio);

using Painting::mix;

}  // namespace tlr::DashboardPainting
