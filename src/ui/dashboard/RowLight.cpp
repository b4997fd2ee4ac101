#include "ui/dashboard/RowLight.h"

#include <QEasingCurve>
#include <QPainter>
#include <QtMath>

namespace tlr {

BreathClock& BreathClock::shared() {
  static BreathClock* clock = new BreathClock;  // lives to the end of the process
  return *clock;
}

BreathClock::BreathClock() {
  timer_.setInterval(1000 / kFramesPerSecond);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, &BreathClock::tick);
  since_.start();
}

qreal BreathClock::pulse() const {
  const qint64 half = StatusLight::kHalfCycleMs;
  const qint64 t = since_.elapsed() % (2 * half);
  const qreal x = t < half ? qreal(t) / half : qreal(2 * half - t) / half;
  static const QEasingCurve curve(QEasingCurve::InOutSine);
  return curve.valueForProgress(x);
}

void BreathClock::add(RowLight* light) {
  lights_.insert(light);
  if (!timer_.isActive()) timer_.start();
}

void BreathClock::remove(RowLight* light) {
  lights_.remove(light);
  if (lights_.isEmpty()) timer_.stop();
}

void BreathClock::tick() {
  for (RowLight* light : std::as_const(lights_)) light->update();
}

RowLight::RowLight(LightState state, qreal diameter, QWidget* parent)
    : QWidget(parent), state_(state), diameter_(diameter) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFixedSize(sizeHint());
}

RowLight::~RowLight() { setBreathing(false); }

void RowLight::setState(LightState state) {
  if (state == state_) return;
  state_ = state;
  // Idle stops the breath; another state breathes only from the next time
  // the light comes on screen.
  if (state_ == LightState::idle) setBreathing(false);
  update();
}

QSize RowLight::sizeHint() const {
  const int side = qCeil(diameter_ + 2 * StatusLight::glowMargin());
  return {side, side};
}

void RowLight::setBreathing(bool on) {
  if (on == breathing_) return;
  breathing_ = on;
  if (on)
    BreathClock::shared().add(this);
  else
    BreathClock::shared().remove(this);
}

void RowLight::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  setBreathing(state_ != LightState::idle);
}

void RowLight::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  setBreathing(false);
}

void RowLight::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal pulse = breathing_ ? BreathClock::shared().pulse() : 0;
  StatusLight::paintLight(p, QRectF(rect()).center(), state_, diameter_, pulse);
}

}  // namespace tlr
