#pragma once

// The status light: the round lamp at the start of each agent row. Green
// while the agent works, grey while idle, amber while it recovers; a glow
// breathes over a lamp that is not idle.
//
//   auto* light = new StatusLight(LightState::working, 10, parent);
//   light->setState(LightState::idle);
//   StatusLight::paintLight(painter, centre, state, diameter, pulse)  // in
//                                   another widget's paintEvent, same look
//
// The widget is larger than the lamp: `glowMargin()` pixels on each side hold
// the glow, and the lamp is centred. The breathing runs only while the widget
// is on screen and its state is not idle (it starts when the light comes on
// screen; a light that came on screen idle and later turns working shows its
// glow at rest until it is shown again). The glows are pre-rendered once per
// colour, size and pixel ratio; a frame only composes two images.

#include <QColor>
#include <QPointer>
#include <QWidget>

#include <array>

class QPainter;
class QPropertyAnimation;
class QSequentialAnimationGroup;

namespace tlr {

enum class LightState { working, idle, recovering };

class StatusLight final : public QWidget {
  Q_OBJECT
  Q_PROPERTY(qreal pulse READ pulse WRITE setPulse)

 public:
  // One half of the breath (rest → full or back), eased in and out.
  static constexpr int kHalfCycleMs = 2500;
  // Glow at rest (pulse 0) and at full breath (pulse 1).
  static constexpr qreal kRestBlur = 5, kFullBlur = 8;
  static constexpr qreal kRestOpacity = 0.55, kFullOpacity = 0.75;

  StatusLight(LightState state, qreal diameter, QWidget* parent = nullptr);
  ~StatusLight() override;

  LightState state() const { return state_; }
  void setState(LightState state);
  qreal diameter() const { return diameter_; }

  // 0 = glow at rest, 1 = full breath.
  qreal pulse() const { return pulse_; }
  void setPulse(qreal pulse);

  // The breathing: a group looping forever (-1) of two kHalfCycleMs
  // animations of `pulse`, 0 → 1 then 1 → 0, eased in and out.
  QSequentialAnimationGroup* pulseAnimation() const { return animation_; }
  bool isBreathing() const;

  static qreal glowMargin() { return 10; }
  QSize sizeHint() const override;

  // The three gradient stops of a state's lamp and its glow colour (invalid
  // for idle, which has none).
  static std::array<QColor, 3> lampStops(LightState state);
  static QColor glowColor(LightState state);
  // The highlight's opacity: 0.1 when idle, 0.7 otherwise.
  static qreal highlightOpacity(LightState state);

  // Paints the lamp, its highlight and (unless idle) the glow at `pulse`,
  // centred on `centre`. The glow reaches glowMargin() beyond the lamp.
  static void paintLight(QPainter& painter, QPointF centre, LightState state, qreal diameter, qreal pulse);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  LightState state_;
  qreal diameter_;
  qreal pulse_ = 0;
  QSequentialAnimationGroup* animation_;
};

}  // namespace tlr
