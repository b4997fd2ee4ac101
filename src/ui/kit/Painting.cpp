#include "ui/kit/Painting.h"

#include <QPainter>
#include <QPropertyAnimation>
#include <QSequentialAnimationGroup>
#include <QtMath>

#include <algorithm>
#include <utility>
#include <vector>

namespace tlr::Painting {
namespace {

// One box blur pass of half-width `r` along rows (horizontal) or columns.
void boxPass(QImage& img, int r, bool horizontal) {
  if (r <= 0) return;
  const int w = img.width();
  const int h = img.height();
  const int lines = horizontal ? h : w;
  const int length = horizontal ? w : h;
  // Pixels are addressed from the first line once: scanLine() checks for a
  // shared copy on every call, which cost more than the sums.
  uchar* const bits = img.bits();
  const qsizetype rowBytes = img.bytesPerLine();
  const auto at = [&](int l, int i) -> quint32& {
    return horizontal ? reinterpret_cast<quint32*>(bits + l * rowBytes)[i]
                      : reinterpret_cast<quint32*>(bits + i * rowBytes)[l];
  };
  std::vector<quint32> line(static_cast<size_t>(length));
  const int window = 2 * r + 1;
  for (int l = 0; l < lines; ++l) {
    for (int i = 0; i < length; ++i) line[static_cast<size_t>(i)] = at(l, i);
    int sum[4] = {0, 0, 0, 0};
    auto add = [&](int i, int sign) {
      if (i < 0 || i >= length) return;
      const quint32 v = line[static_cast<size_t>(i)];
      sum[0] += sign * static_cast<int>(qAlpha(v));
      sum[1] += sign * static_cast<int>(qRed(v));
      sum[2] += sign * static_cast<int>(qGreen(v));
      sum[3] += sign * static_cast<int>(qBlue(v));
    };
    for (int i = -r; i <= r; ++i) add(i, 1);
    for (int i = 0; i < length; ++i) {
      at(l, i) = qRgba(sum[1] / window, sum[2] / window, sum[3] / window, sum[0] / window);
      add(i - r, -1);
      add(i + r + 1, 1);
    }
  }
}

}  // namespace

QImage blurred(const QImage& image, qreal radius) {
  QImage img = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  // Three box passes approximate a Gaussian of sigma = radius / 2 (the usual
  // reading of a "blur radius"), each box as wide as that sigma asks.
  const qreal sigma = radius * img.devicePixelRatio() / 2.0;
  const int r = std::max(0, qRound((std::sqrt(12.0 * sigma * sigma / 3.0 + 1.0) - 1.0) / 2.0));
  for (int pass = 0; pass < 3; ++pass) {
    boxPass(img, r, true);
    boxPass(img, r, false);
  }
  return img;
}

QImage softShape(const QPainterPath& path, const QBrush& brush, qreal radius, qreal devicePixelRatio,
                 QPointF* origin) {
  const qreal margin = std::ceil(radius * 2.0) + 1;
  const QRectF bounds = path.boundingRect().adjusted(-margin, -margin, margin, margin);
  const QSize pixels(qCeil(bounds.width() * devicePixelRatio), qCeil(bounds.height() * devicePixelRatio));
  QImage img(pixels, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  img.setDevicePixelRatio(devicePixelRatio);
  {
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(-bounds.topLeft());
    p.fillPath(path, brush);
  }
  if (origin) *origin = bounds.topLeft();
  return radius > 0 ? blurred(img, radius) : img;
}

QPainterPath continuousRoundRect(const QRectF& rect, qreal radius) {
  QPainterPath path;
  path.addRoundedRect(rect, radius, radius);
  return path;
}

QSequentialAnimationGroup* pulseLoop(QObject* target, int halfCycleMs) {
  auto* group = new QSequentialAnimationGroup(target);
  for (const auto& [from, to] : {std::pair{0.0, 1.0}, std::pair{1.0, 0.0}}) {
    auto* half = new QPropertyAnimation(target, "pulse", group);
    half->setStartValue(from);
    half->setEndValue(to);
    half->setDuration(halfCycleMs);
    half->setEasingCurve(QEasingCurve::InOutSine);
    group->addAnimation(half);
  }
  group->setLoopCount(-1);
  return group;
}

QColor mix(const QColor& a, const QColor& b, qreal t) {
  if (t <= 0) return a;
  if (t >= 1) return b;
  return QColor::fromRgbF(static_cast<float>(mix(a.redF(), b.redF(), t)), static_cast<float>(mix(a.greenF(), b.greenF(), t)),
                          static_cast<float>(mix(a.blueF(), b.blueF(), t)), static_cast<float>(mix(a.alphaF(), b.alphaF(), t)));
}

}  // namespace tlr::Painting
