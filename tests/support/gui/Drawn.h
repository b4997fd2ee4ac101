#pragma once

// How a widget is drawn, read back from a picture of it.

#include <QImage>
#include <QWidget>

namespace tlr::test {

// The opacity a switch is drawn at: its white knob's alpha, rendered on a
// transparent picture (graphics effects included), over the track a little
// more. The knob sits at the
// left while the switch is off, at the right while it is on.
inline qreal drawnSwitchOpacity(QWidget* toggle, bool on) {
  QImage image(toggle->size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  toggle->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  const int y = toggle->height() / 2;
  const int x = on ? toggle->width() - y : y;
  return image.pixelColor(x, y).alphaF();
}

// Whether `widget`, rendered on a transparent picture, has a fully opaque
// pixel of `color` (a symbol drawn in that colour fills some).
inline bool drawsIn(QWidget* widget, const QColor& color) {
  QImage image(widget->size(), QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  widget->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) == color.rgb()) return true;
  return false;
}

}  // namespace tlr::test
