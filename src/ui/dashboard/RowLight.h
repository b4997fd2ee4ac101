#pragma once

#include "ui/kit/StatusLight.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QWidget>

namespace tlr {

class RowLight;

// One clock for the breathing of every row's light: a single timer at
// kFramesPerSecond that runs only while some light on screen breathes, so
// ten breathing rows cost one repaint pass per frame, at half the rate of a
// display frame. The breath is the status light's: rest to full and back in
// 2 × StatusLight::kHalfCycleMs, eased in and out.
class BreathClock final : public QObject {
  Q_OBJECT

 public:
  static constexpr int kFramesPerSecond = 30;

  static BreathClock& shared();

  // 0 = glow at rest, 1 = full breath, at the current moment.
  qreal pulse() const;
  void add(RowLight* light);
  void remove(RowLight* light);
  bool isRunning() const { return timer_.isActive(); }

 private:
  BreathClock();
  void tick();

  QTimer timer_;
  QElapsedTimer since_;
  QSet<RowLight*> lights_;
};

// The status light at the start of an agent row: the kit's lamp and glow
// (StatusLight::paintLight), breathing on the shared BreathClock. Like the
// status light, it starts breathing when it comes on screen not idle; a
// light that came on screen idle and later works shows its glow at rest
// until it is shown again. The widget is larger than the lamp by
// StatusLight::glowMargin() on every side.
class RowLight final : public QWidget {
  Q_OBJECT

 public:
  RowLight(LightState state, qreal diameter, QWidget* parent = nullptr);
  ~RowLight() override;

  LightState state() const { return state_; }
  void setState(LightState state);
  bool isBreathing() const { return breathing_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void setBreathing(bool on);

  LightState state_;
  qreal diameter_;
  bool breathing_ = false;
};

}  // namespace tlr
