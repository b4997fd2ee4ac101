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

// Box blur passes of half-width `r`: every byte becomes the sum of the
// 2r + 1 bytes of the same channel around it along the row (or the column),
// zero beyond the edges, divided by 2r + 1 and rounded down. The four
// channels of a premultiplied pixel never mix, so a pixel's bytes are summed
// apart as lanes of their own.
class BoxPass {
 public:
  explicit BoxPass(int r) : r_(r), window_(2 * r + 1), reciprocal_((quint64(1) << kShift) / quint64(window_) + 1) {}

  // s / (2r + 1) rounded down, by a multiplication: exact for every sum of
  // 2r + 1 bytes as long as 255 (2r + 1)² < 2^40, a box of 65,000 pixels.
  quint8 divide(quint32 s) const { return quint8((quint64(s) * reciprocal_) >> kShift); }

  // Along each row: a running sum per channel over a copy of the row.
  void rows(QImage& img) const {
    const int w = img.width();
    std::vector<quint32> line(4 * size_t(w));
    for (int y = 0; y < img.height(); ++y) {
      uchar* const row = img.scanLine(y);
      std::copy_n(row, line.size(), line.begin());
      quint32 sum[4] = {0, 0, 0, 0};
      const auto add = [&](int i) { for (int c = 0; c < 4; ++c) sum[c] += line[4 * size_t(i) + size_t(c)]; };
      const auto take = [&](int i) { for (int c = 0; c < 4; ++c) sum[c] -= line[4 * size_t(i) + size_t(c)]; };
      for (int i = 0; i <= std::min(r_, w - 1); ++i) add(i);
      for (int i = 0; i < w; ++i) {
        for (int c = 0; c < 4; ++c) row[4 * size_t(i) + size_t(c)] = divide(sum[c]);
        if (i + r_ + 1 < w) add(i + r_ + 1);
        if (i - r_ >= 0) take(i - r_);
      }
    }
  }

  // Down the columns, a row at a time: a running sum per byte of a row, over
  // a copy of the rows as they were before the pass.
  void columns(QImage& img) const {
    const int h = img.height();
    const size_t bytes = 4 * size_t(img.width());
    std::vector<uchar> before(bytes * size_t(h));
    for (int y = 0; y < h; ++y) std::copy_n(img.constScanLine(y), bytes, before.data() + bytes * size_t(y));
    const auto rowBefore = [&](int y) { return before.data() + bytes * size_t(y); };
    std::vector<quint32> sum(bytes, 0);
    for (int y = 0; y <= std::min(r_, h - 1); ++y) {
      const uchar* in = rowBefore(y);
      for (size_t i = 0; i < bytes; ++i) sum[i] += in[i];
    }
    for (int y = 0; y < h; ++y) {
      uchar* const out = img.scanLine(y);
      for (size_t i = 0; i < bytes; ++i) out[i] = divide(sum[i]);
      if (y + r_ + 1 < h) {
        const uchar* in = rowBefore(y + r_ + 1);
        for (size_t i = 0; i < bytes; ++i) sum[i] += in[i];
      }
      if (y - r_ >= 0) {
        const uchar* in = rowBefore(y - r_);
        for (size_t i = 0; i < bytes; ++i) sum[i] -= in[i];
      }
    }
  }

 private:
  static constexpr int kShift = 40;
  int r_;
  int window_;
  quint64 reciprocal_;
};

}  // namespace

QImage blurred(const QImage& image, qreal radius) {
  QImage img = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  // Three box passes approximate a Gaussian of sigma = radius / 2 (the usual
  // reading of a "blur radius"), each box as wide as that sigma asks.
  const qreal sigma = radius * img.devicePixelRatio() / 2.0;
  const int r = std::max(0, qRound((std::sqrt(12.0 * sigma * sigma / 3.0 + 1.0) - 1.0) / 2.0));
  if (r <= 0 || img.isNull()) return img;
  const BoxPass box(r);
  for (int pass = 0; pass < 3; ++pass) {
    box.rows(img);
    box.columns(img);
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
