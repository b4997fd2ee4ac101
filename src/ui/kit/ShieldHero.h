#pragma once

// The shield emblem of the dashboard's hero: the brand shield with its
// initial over a softly pulsing halo, in the brand colours of the scheme in
// effect.
//
//   auto* hero = new ShieldHero(44, parent);   // shield 44 wide, 48.4 high
//
// The widget is larger than the shield so the halo and the drop shadow fit:
// see sizeHint() and shieldRect(). The halo pulses only while the widget is
// on screen; every layer except the halo's scale and opacity is rendered once
// per size, scheme and pixel ratio for the whole process, starting off the
// window thread as soon as a hero is made, so its first paint finds them
// drawn.

#include "ui/kit/Theme.h"

#include <QImage>
#include <QWidget>

class QSequentialAnimationGroup;

namespace tlr {

class ShieldHero final : public QWidget {
  Q_OBJECT
  Q_PROPERTY(qreal pulse READ pulse WRITE setPulse)

 public:
  // One half of the pulse (small → large or back), eased in and out.
  static constexpr int kHalfCycleMs = 3500;
  static constexpr qreal kRestScale = 0.94, kFullScale = 1.08;
  static constexpr qreal kRestOpacity = 0.45, kFullOpacity = 0.8;

  explicit ShieldHero(qreal size, QWidget* parent = nullptr);
  ~ShieldHero() override;

  // 0 at rest, 1 at full swell.
  qreal pulse() const { return pulse_; }
  void setPulse(qreal pulse);
  qreal pulseScale() const { return kRestScale + (kFullScale - kRestScale) * pulse_; }
  qreal pulseOpacity() const { return kRestOpacity + (kFullOpacity - kRestOpacity) * pulse_; }

  // Loops forever (-1): two kHalfCycleMs animations of `pulse`, 0 → 1 → 0.
  QSequentialAnimationGroup* pulseAnimation() const { return animation_; }
  bool isPulsing() const;

  // Where the shield layer (size × 1.1 size) lies in the widget.
  QRectF shieldRect() const { return shieldRectFor(size_); }
  QSize sizeHint() const override { return sizeFor(size_); }

  // The emblem without the halo (shadow, shield, gloss, letter), in an image
  // the size of the widget: the one this hero paints (drawn once for the
  // process), and drawn anew. Exposed for drawing tests.
  QImage renderShieldLayer(ColorScheme scheme, qreal devicePixelRatio) const;
  static QImage drawShieldLayer(qreal size, ColorScheme scheme, qreal devicePixelRatio);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  struct Cache {
    ColorScheme scheme = ColorScheme::light;
    qreal dpr = 0;
    QImage layer;  // shadow + shield, widget-sized
    QImage halo;   // unscaled halo, 1.4 size square plus blur margin
  };
  const Cache& cache(qreal dpr) const;
  static QSize sizeFor(qreal size);
  static QRectF shieldRectFor(qreal size);

  qreal size_;
  qreal pulse_ = 0;
  QSequentialAnimationGroup* animation_;
  mutable Cache cache_;
};

}  // namespace tlr
