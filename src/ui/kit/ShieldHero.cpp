#include "ui/kit/ShieldHero.h"

#include "platform/OffMain.h"
#include "ui/kit/Painting.h"
#include "ui/kit/ShieldArt.h"
#include "ui/kit/Theme.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRadialGradient>
#include <QSequentialAnimationGroup>
#include <QtMath>

namespace tlr {
namespace {

constexpr qreal kHaloBlur = 4;
constexpr qreal kShadowBlur = 12;
constexpr qreal kShadowDrop = 8;
constexpr qreal kShadowOpacity = 0.42;

// The halo: brand start at 0.5 in the centre to clear at 0.85 size, on a
// circle 1.4 size across, blurred 4. Drawn centred on the shield: where its
// corner lies is not needed.
QImage drawHalo(qreal size, ColorScheme scheme, qreal dpr) {
  const Theme::Roles roles = Theme::roles(scheme);
  QRadialGradient gradient(QPointF(0, 0), 0.85 * size);
  gradient.setColorAt(0, Theme::withOpacity(roles.brandStart, 0.5));
  gradient.setColorAt(1, Theme::withOpacity(roles.brandStart, 0));
  QPainterPath circle;
  circle.addEllipse(QPointF(0, 0), 1.4 * size / 2, 1.4 * size / 2);
  return Painting::softShape(circle, gradient, kHaloBlur, dpr, nullptr);
}

struct Emblem {
  QImage layer;
  QImage halo;
};

// The layer and the halo of a size, scheme and pixel ratio.
Emblem emblem(qreal size, ColorScheme scheme, qreal dpr) {
  static Painting::DrawnOnce<Emblem> drawn;
  const QString key = QStringLiteral("%1 %2 @%3").arg(size).arg(int(scheme)).arg(dpr);
  return drawn.get(key, [&] { return Emblem{ShieldHero::drawShieldLayer(size, scheme, dpr), drawHalo(size, scheme, dpr)}; });
}

}  // namespace

ShieldHero::ShieldHero(qreal size, QWidget* parent)
    : QWidget(parent), size_(size), animation_(Painting::pulseLoop(this, kHalfCycleMs)) {
  setObjectName(QStringLiteral("shieldHero"));
  setAttribute(Qt::WA_TranslucentBackground);
  setAccessibleName(QStringLiteral("Tollamere"));
  setFixedSize(sizeHint());
  whenLookChanges(this);
  // Drawn while the window around the hero is still being built and shown.
  startOffMain(nullptr, [size, scheme = Theme::schemeOf(QGuiApplication::palette()), dpr = devicePixelRatioF()] {
    static_cast<void>(emblem(size, scheme, dpr));
  });
}

ShieldHero::~ShieldHero() = default;

QSize ShieldHero::sizeFor(qreal size) {
  // The halo at full swell plus its blur, and room for the shadow below.
  const qreal halo = 1.4 * size * kFullScale + 4 * kHaloBlur;
  const qreal width = std::max(halo, size + 4 * kShadowBlur);
  const qreal above = std::max(halo / 2, 0.55 * size + 2 * kShadowBlur - kShadowDrop);
  const qreal below = std::max(halo / 2, 0.55 * size + 2 * kShadowBlur + kShadowDrop);
  return {qCeil(width), qCeil(above + below)};
}

QRectF ShieldHero::shieldRectFor(qreal size) {
  const QSize hint = sizeFor(size);
  const qreal halo = 1.4 * size * kFullScale + 4 * kHaloBlur;
  const qreal above = std::max(halo / 2, 0.55 * size + 2 * kShadowBlur - kShadowDrop);
  return {hint.width() / 2.0 - size / 2, above - 0.55 * size, size, 1.1 * size};
}

void ShieldHero::setPulse(qreal pulse) {
  pulse_ = std::clamp(pulse, 0.0, 1.0);
  update();
}

bool ShieldHero::isPulsing() const { return animation_->state() == QAbstractAnimation::Running; }

void ShieldHero::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  pulse_ = 0;
  animation_->start();
}

void ShieldHero::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  animation_->stop();
  pulse_ = 0;
}

QImage ShieldHero::renderShieldLayer(ColorScheme scheme, qreal dpr) const { return emblem(size_, scheme, dpr).layer; }

QImage ShieldHero::drawShieldLayer(qreal size, ColorScheme scheme, qreal dpr) {
  const Theme::Roles roles = Theme::roles(scheme);
  const QSize hint = sizeFor(size);
  QImage layer(qCeil(hint.width() * dpr), qCeil(hint.height() * dpr), QImage::Format_ARGB32_Premultiplied);
  layer.fill(Qt::transparent);
  layer.setDevicePixelRatio(dpr);
  const QRectF rect = shieldRectFor(size);
  const QPainterPath outline = shieldPath(rect);
  QPainter p(&layer);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  // The shadow: brand start at 0.42, blurred 12, 8 down.
  QPointF origin;
  const QImage shadow =
      Painting::softShape(outline, Theme::withOpacity(roles.brandStart, kShadowOpacity), kShadowBlur, dpr, &origin);
  p.drawImage(origin + QPointF(0, kShadowDrop), shadow);
  // The shield in the brand gradient, top-leading to bottom-trailing.
  p.fillPath(outline, roles.brandGradient(rect.topLeft(), rect.bottomRight()));
  // The gloss: white 0.32 at the top fading to clear at the middle.
  QLinearGradient gloss(QPointF(0, rect.top()), QPointF(0, rect.center().y()));
  gloss.setColorAt(0, Theme::withOpacity(Qt::white, 0.32));
  gloss.setColorAt(1, Theme::withOpacity(Qt::white, 0));
  p.fillPath(outline, gloss);
  drawShieldLetter(p, rect.center() - QPointF(0, 0.04 * size), 0.62 * size, -2);
  return layer;
}

const ShieldHero::Cache& ShieldHero::cache(qreal dpr) const {
  const ColorScheme scheme = Theme::schemeOf(QGuiApplication::palette());
  if (!cache_.layer.isNull() && cache_.scheme == scheme && cache_.dpr == dpr) return cache_;
  cache_.scheme = scheme;
  cache_.dpr = dpr;
  const Emblem drawn = emblem(size_, scheme, dpr);
  cache_.layer = drawn.layer;
  cache_.halo = drawn.halo;
  return cache_;
}

void ShieldHero::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  const Cache& c = cache(devicePixelRatioF());
  const QPointF centre = shieldRect().center();
  const QSizeF haloSize = QSizeF(c.halo.size()) / c.dpr;
  p.save();
  p.translate(centre);
  p.scale(pulseScale(), pulseScale());
  p.setOpacity(pulseOpacity());
  p.drawImage(QRectF(QPointF(-haloSize.width() / 2, -haloSize.height() / 2), haloSize), c.halo);
  p.restore();
  p.drawImage(QPointF(0, 0), c.layer);
}

}  // namespace tlr
