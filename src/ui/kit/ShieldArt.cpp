#include "ui/kit/ShieldArt.h"

#include "platform/OffMain.h"
#include "registry/AppResources.h"
#include "ui/kit/Painting.h"
#include "ui/kit/Theme.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QPixmap>
#include <QtMath>

namespace tlr {
namespace {

QImage paintBrandIcon(QSizeF size, qreal devicePixelRatio);

}  // namespace

QPainterPath shieldPath(const QRectF& rect) {
  const auto at = [&rect](qreal x, qreal y) {
    return QPointF(rect.left() + x * rect.width() / 100.0, rect.top() + y * rect.height() / 110.0);
  };
  QPainterPath path;
  path.moveTo(at(50, 4));
  path.cubicTo(at(28, 4), at(14, 8), at(8, 14));
  path.lineTo(at(8, 56));
  path.cubicTo(at(8, 82), at(26, 100), at(50, 108));
  path.cubicTo(at(74, 100), at(92, 82), at(92, 56));
  path.lineTo(at(92, 14));
  path.cubicTo(at(86, 8), at(72, 4), at(50, 4));
  path.closeSubpath();
  return path;
}

void drawShieldLetter(QPainter& painter, QPointF centre, qreal pixels, qreal kerning) {
  const QFont font = Theme::font(pixels, QFont::Black, kerning);
  const QString letter = QStringLiteral("T");
  const QFontMetricsF metrics(font, painter.device());
  // Centre the letter's ink box, so the drawn T sits in the middle whatever
  // the font's ascent and descent.
  const QRectF ink = metrics.tightBoundingRect(letter);
  const QPointF baseline(centre.x() - ink.width() / 2 - ink.left(), centre.y() - ink.height() / 2 - ink.top());
  painter.save();
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(baseline, letter);
  painter.restore();
}

QImage makeShieldImage(qreal devicePixelRatio) {
  const QSizeF size = kShieldImageSize;
  QImage image(qCeil(size.width() * devicePixelRatio), qCeil(size.height() * devicePixelRatio),
               QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  image.setDevicePixelRatio(devicePixelRatio);
  QPainter painter(&image);
  if (!painter.isActive()) return image;
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  const QPainterPath outline = shieldPath(QRectF(QPointF(0, 0), size));
  // The light-scheme brand colours, top-left to bottom-right, nothing beyond
  // the two ends.
  QLinearGradient gradient(QPointF(0, 0), QPointF(size.width(), size.height()));
  gradient.setColorAt(0, Theme::brand1Light);
  gradient.setColorAt(1, Theme::brand2Light);
  gradient.setSpread(QGradient::PadSpread);
  painter.fillPath(outline, gradient);
  // The letter's box centred, then raised by 0.76.
  drawShieldLetter(painter, QPointF(size.width() / 2, size.height() / 2 - 0.76), 11.78, -0.4712);
  return image;
}

QImage makeBrandIcon(QSizeF size, qreal devicePixelRatio) {
  static Painting::DrawnOnce<QImage> drawn;
  const QString key = QStringLiteral("%1x%2@%3").arg(size.width()).arg(size.height()).arg(devicePixelRatio);
  return drawn.get(key, [&] { return paintBrandIcon(size, devicePixelRatio); });
}

void withBrandIcon(QObject* context, QList<qreal> sides, std::function<void(const QIcon&)> then) {
  startOffMain(
      context,
      [sides] {
        QList<QImage> images;
        for (const qreal side : sides) images << makeBrandIcon(QSizeF(side, side));
        return images;
      },
      [then = std::move(then)](const QList<QImage>& images) {
        QIcon icon;
        for (const QImage& image : images) icon.addPixmap(QPixmap::fromImage(image));
        then(icon);
      });
}

void prepareFontsOffMain() {
  startOffMain(nullptr, [] {
    // Reading the system's font list takes milliseconds the first paint
    // would otherwise wait for; the database is shared by every thread. The
    // icons are drawn later: holding the database for their letter here
    // would keep the window thread waiting for it.
    (void)QFontDatabase::families();
    const QFontMetricsF latin(Theme::font(13, QFont::Normal));
    (void)latin.horizontalAdvance(QStringLiteral("Tollamere 智能体"));
  });
}

namespace {

QImage paintBrandIcon(QSizeF size, qreal devicePixelRatio) {
  const QSize pixels(qCeil(size.width() * devicePixelRatio), qCeil(size.height() * devicePixelRatio));
  if (const auto resource = AppResources::bundle().url(QStringLiteral("AppIcon"), QStringLiteral("png"))) {
    QImage loaded(*resource);
    if (!loaded.isNull()) {
      QImage scaled = loaded.scaled(pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                          .convertToFormat(QImage::Format_ARGB32_Premultiplied);
      scaled.setDevicePixelRatio(devicePixelRatio);
      return scaled;
    }
  }
  QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  image.setDevicePixelRatio(devicePixelRatio);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  // A rounded tile in the light brand gradient with the white shield on it.
  const QRectF tile(QPointF(0, 0), size);
  QLinearGradient gradient(tile.topLeft(), tile.bottomRight());
  gradient.setColorAt(0, Theme::brand1Light);
  gradient.setColorAt(1, Theme::brand2Light);
  const qreal radius = size.width() * 0.225;
  QPainterPath tilePath;
  tilePath.addRoundedRect(tile, radius, radius);
  painter.fillPath(tilePath, gradient);
  const qreal w = size.width() * 0.56;
  const QRectF shieldRect(tile.center().x() - w / 2, tile.center().y() - w * 1.1 / 2, w, w * 1.1);
  painter.fillPath(shieldPath(shieldRect), Qt::white);
  painter.save();
  painter.setClipPath(shieldPath(shieldRect));
  QLinearGradient inner(shieldRect.topLeft(), shieldRect.bottomRight());
  inner.setColorAt(0, Theme::brand1Light);
  inner.setColorAt(1, Theme::brand2Light);
  painter.fillPath(shieldPath(shieldRect.adjusted(w * 0.08, w * 0.08, -w * 0.08, -w * 0.08)), inner);
  painter.restore();
  drawShieldLetter(painter, QPointF(shieldRect.center().x(), shieldRect.center().y() - w * 0.04), w * 0.5, -1);
  return image;
}

}  // namespace

}  // namespace tlr
