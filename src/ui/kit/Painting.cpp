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

// A box blur pass of half-width `r`: every byte becomes the sum of the
// 2r + 1 bytes of the same channel around it along the row (or the column),
// zero beyond the edges, divided by 2r + 1 and rounded down. The four
// channels of a premultiplied pixel never mix, so a pixel's bytes are summed
// apart as lanes of their own; `quotient[s]` is s / (2r + 1).
void rowPass(QImage& img, int r, const std::vector<quint8>& quotient) {
  const int w = img.width();
  const qsizetype bytes = 4 * qsizetype(w);
  // prefix[4 i + c] is the sum of channel c over the first i pixels.
  std::vector<int> prefix(static_cast<size_t>(bytes + 4), 0);
  for (int y = 0; y < img.height(); ++y) {
    uchar* const row = img.scanLine(y);
    for (qsizetype i = 0; i < bytes; ++i) prefix[size_t(i + 4)] = prefix[size_t(i)] + row[i];
    for (int i = 0; i < w; ++i) {
      const size_t lo = 4 * size_t(std::max(i - r, 0));
      const size_t hi = 4 * size_t(std::min(i + r + 1, w));
      for (size_t c = 0; c < 4; ++c) row[4 * size_t(i) + c] = quotient[size_t(prefix[hi + c] - prefix[lo + c])];
    }
  }
}

// The same down the columns, a row at a time: a running sum per byte of a
// row, over a copy of the rows as they were before the pass.
void columnPass(QImage& img, int r, const std::vector<quint8>& quotient) {
  const int h = img.height();
  const size_t bytes = 4 * size_t(img.width());
  std::vector<uchar> before(bytes * size_t(h));
  for (int y = 0; y < h; ++y) std::copy_n(img.constScanLine(y), bytes, before.begin() + qsizetype(bytes * size_t(y)));
  const auto rowBefore = [&](int y) { return before.data() + bytes * size_t(y); };
  std::vector<int> sum(bytes, 0);
  for (int y = 0; y <= std::min(r, h - 1); ++y) {
    const uchar* in = rowBefore(y);
    for (size_t i = 0; i < bytes; ++i) sum[i] += in[i];
  }
  for (int y = 0; y < h; ++y) {
    uchar* const out = img.scanLine(y);
    for (size_t i = 0; i < bytes; ++i) out[i] = quotient[size_t(sum[i])];
    if (y + r + 1 < h) {
      const uchar* in = rowBefore(y + r + 1);
      for (size_t i = 0; i < bytes; ++i) sum[i] += in[i];
    }
    if (y - r >= 0) {
      const uchar* in = rowBefore(y - r);
      for (size_t i = 0; i < bytes; ++i) sum[i] -= in[i];
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
  if (r <= 0 || img.isNull()) return img;
  const int window = 2 * r + 1;
  std::vector<quint8> quotient(static_cast<size_t>(255 * window + 1));
  for (size_t s = 0; s < quotient.size(); ++s) quotient[s] = static_cast<quint8>(s / size_t(window));
  for (int pass = 0; pass < 3; ++pass) {
    rowPass(img, r, quotient);
    columnPass(img, r, quotient);
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
