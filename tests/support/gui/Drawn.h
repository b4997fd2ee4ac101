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

}  // namespace tlr::test
