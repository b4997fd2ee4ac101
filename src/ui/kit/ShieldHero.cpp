#include "ui/kit/ShieldHero.h"

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

}  // namespace

ShieldHero::ShieldHero(qreal size, QWidget* parent)
    : QWidget(parent), size_(size), animation_(Painting::pulseLoop(this, kHalfCycleMs)) {
  setObjectName(QStringLiteral("shieldHero"));
  setAttribute(Qt::WA_TranslucentBackground);
  setAccessibleName(QStringLiteral("Tollamere"));
  setFixedSize(sizeHint());
  whenLookChanges(this);
}

ShieldHero::~ShieldHero() = default;

QSize ShieldHero::sizeHint() const {
  // The halo at full swell plus its blur, and room for the shadow below.
  const qreal halo = 1.4 * size_ * kFullScale + 4 * kHaloBlur;
  const qreal width = std::max(halo, size_ + 4 * kShadowBlur);
  const qreal above = std::max(halo / 2, 0.55 * size_ + 2 * kShadowBlur - kShadowDrop);
  const qreal below = std::max(halo / 2, 0.55 * size_ + 2 * kShadowBlur + kShadowDrop);
  return {qCeil(width), qCeil(above + below)};
}

QRectF ShieldHero::shieldRect() const {
  const QSize hint = sizeHint();
  const qreal halo = 1.4 * size_ * kFullScale + 4 * kHaloBlur;
  const qreal above = std::max(halo / 2, 0.55 * size_ + 2 * kShadowBlur - kShadowDrop);
  return {hint.width() / 2.0 - size_ / 2, above - 0.55 * size_, size_, 1.1 * size_};
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

QImage ShieldHero::renderShieldLayer(ColorScheme scheme, qreal dpr) const {
  const Theme::Roles roles = Theme::roles(scheme);
  const QSize hint = sizeHint();
  QImage layer(qCeil(hint.width() * dpr), qCeil(hint.height() * dpr), QImage::Format_ARGB32_Premultiplied);
  layer.fill(Qt::transparent);
  layer.setDevicePixelRatio(dpr);
  const QRectF rect = shieldRect();
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
  drawShieldLetter(p, rect.center() - QPointF(0, 0.04 * size_), 0.62 * size_, -2);
  return layer;
}

const ShieldHero::Cache& ShieldHero::cache(qreal dpr) const {
  const ColorScheme scheme = Theme::schemeOf(QGuiApplication::palette());
  if (!cache_.layer.isNull() && cache_.scheme == scheme && cache_.dpr == dpr) return cache_;
  cache_.scheme = scheme;
  cache_.dpr = dpr;
  cache_.layer = renderShieldLayer(scheme, dpr);
  // The halo: brand start at 0.5 in the centre to clear at 0.85 size, on a
  // circle 1.4 size across, blurred 4.
  const Theme::Roles roles = Theme::roles(scheme);
  const qreal side = 1.4 * size_;
  QRadialGradient gradient(QPointF(0, 0), 0.85 * size_);
  gradient.setColorAt(0, Theme::withOpacity(roles.brandStart, 0.5));
  gradient.setColorAt(1, Theme::withOpacity(roles.brandStart, 0));
  QPainterPath circle;
  circle.addEllipse(QPointF(0, 0), side / 2, side / 2);
  // Drawn centred on the shield: where its corner lies is not needed.
  cache_.halo = Painting::softShape(circle, gradient, kHaloBlur, dpr, nullptr);
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
