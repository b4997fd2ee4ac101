#include "ui/kit/StatusLight.h"

#include "ui/kit/Painting.h"
#include "ui/kit/Theme.h"

#include <QEasingCurve>
#include <QElapsedTimer>
#include <QHash>
#include <QPainter>
#include <QRadialGradient>
#include <QSet>
#include <QTimer>
#include <QtMath>

namespace tlr {
namespace {

struct GlowImage {
  QImage image;
  QPointF origin;  // top-left relative to the lamp's centre
};

// The glow of a colour, diameter, blur and pixel ratio, rendered once.
const GlowImage& glowImage(const QColor& color, qreal diameter, qreal blur, qreal dpr) {
  static QHash<QString, GlowImage> cache;
  const QString key = QStringLiteral("%1/%2/%3/%4").arg(color.rgba()).arg(diameter).arg(blur).arg(dpr);
  auto found = cache.find(key);
  if (found != cache.end()) return *found;
  QPainterPath circle;
  circle.addEllipse(QPointF(0, 0), diameter / 2, diameter / 2);
  GlowImage glow;
  glow.image = Painting::softShape(circle, color, blur, dpr, &glow.origin);
  return *cache.insert(key, glow);
}

// One clock for the breathing of every status light: a single timer at
// kFramesPerSecond that runs only while some light on screen breathes, so
// ten breathing rows cost one repaint pass per frame, at half the rate of a
// display frame. The breath goes from rest to full and back in
// 2 × StatusLight::kHalfCycleMs, eased in and out.
class BreathClock final {
 public:
  static constexpr int kFramesPerSecond = 30;

  BreathClock() {
    timer_.setInterval(1000 / kFramesPerSecond);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    since_.start();
  }

  // 0 = glow at rest, 1 = full breath, at the current moment.
  qreal pulse() const {
    const qint64 half = StatusLight::kHalfCycleMs;
    const qint64 t = since_.elapsed() % (2 * half);
    const qreal x = t < half ? qreal(t) / half : qreal(2 * half - t) / half;
    static const QEasingCurve curve(QEasingCurve::InOutSine);
    return curve.valueForProgress(x);
  }

  void add(StatusLight* light) {
    lights_.insert(light);
    if (!timer_.isActive()) timer_.start();
  }

  void remove(StatusLight* light) {
    lights_.remove(light);
    if (lights_.isEmpty()) timer_.stop();
  }

  bool isRunning() const { return timer_.isActive(); }

 private:
  void tick() {
    for (StatusLight* light : std::as_const(lights_)) light->update();
  }

  QTimer timer_;
  QElapsedTimer since_;
  QSet<StatusLight*> lights_;
};

BreathClock& breathClock() {
  static BreathClock* clock = new BreathClock;  // lives to the end of the process
  return *clock;
}

}  // namespace

bool StatusLight::breathClockRuns() { return breathClock().isRunning(); }

StatusLight::StatusLight(LightState state, qreal diameter, QWidget* parent)
    : QWidget(parent), state_(state), diameter_(diameter) {
  setObjectName(QStringLiteral("statusLight"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFixedSize(sizeHint());
}

StatusLight::~StatusLight() { setBreathing(false); }

QSize StatusLight::sizeHint() const {
  const int side = qCeil(diameter_ + 2 * glowMargin());
  return {side, side};
}

void StatusLight::setState(LightState state) {
  if (state == state_) return;
  state_ = state;
  // Idle stops the breath; another state breathes only from the next time
  // the light comes on screen.
  if (state_ == LightState::idle) setBreathing(false);
  update();
}

void StatusLight::setBreathing(bool on) {
  if (on == breathing_) return;
  breathing_ = on;
  if (on)
    breathClock().add(this);
  else
    breathClock().remove(this);
}

void StatusLight::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  setBreathing(state_ != LightState::idle);
}

void StatusLight::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  setBreathing(false);
}

std::array<QColor, 3> StatusLight::lampStops(LightState state, bool darkScheme) {
  switch (state) {
    case LightState::working:
      if (!darkScheme) return {QColor(74, 222, 128), QColor(24, 129, 62), QColor(16, 86, 41)};
      return {QColor(187, 247, 208), QColor(74, 222, 128), QColor(21, 128, 61)};
    case LightState::idle:
      // The same greys in both schemes: dark enough to stand out from the
      // light scheme's white card too.
      return {QColor(107, 114, 128), QColor(55, 65, 81), QColor(31, 41, 55)};
    case LightState::recovering:
      if (!darkScheme) return {QColor(251, 191, 36), QColor(145, 105, 3), QColor(100, 73, 2)};
      return {QColor(252, 211, 77), QColor(251, 191, 36), QColor(180, 83, 9)};
  }
  return {};
}

QColor StatusLight::glowColor(LightState state) {
  switch (state) {
    case LightState::working:
      return {74, 222, 128};
    case LightState::recovering:
      return {251, 191, 36};
    case LightState::idle:
      break;
  }
  return {};
}

qreal StatusLight::highlightOpacity(LightState state) { return state == LightState::idle ? 0.1 : 0.7; }

void StatusLight::paintLight(QPainter& painter, QPointF centre, LightState state, qreal d, qreal pulse) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  const bool dark = Theme::current().dark;
  // The glow, breathing between its rest and full blur: over the lamp in the
  // dark scheme; beneath it in the light one, where its pale colour would
  // wash the lamp's darker shades out.
  const auto paintGlow = [&] {
    if (state == LightState::idle) return;
    painter.save();
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QColor color = glowColor(state);
    const qreal opacity = kRestOpacity + (kFullOpacity - kRestOpacity) * pulse;
    const GlowImage& rest = glowImage(color, d, kRestBlur, dpr);
    const GlowImage& full = glowImage(color, d, kFullBlur, dpr);
    if (pulse < 1) {
      painter.setOpacity(opacity * (1 - pulse));
      painter.drawImage(centre + rest.origin, rest.image);
    }
    if (pulse > 0) {
      painter.setOpacity(opacity * pulse);
      painter.drawImage(centre + full.origin, full.image);
    }
    painter.restore();
  };
  if (!dark) paintGlow();
  const QRectF lamp(centre.x() - d / 2, centre.y() - d / 2, d, d);
  // The lamp: a radial gradient from up and left of the centre.
  const auto stops = lampStops(state, dark);
  QRadialGradient gradient(QPointF(lamp.left() + 0.32 * d, lamp.top() + 0.28 * d), 0.8 * d);
  gradient.setColorAt(0.0, stops[0]);
  gradient.setColorAt(0.5, stops[1]);
  gradient.setColorAt(1.0, stops[2]);
  painter.setPen(Qt::NoPen);
  painter.setBrush(gradient);
  painter.drawEllipse(lamp);
  // The highlight, moved up and left by 0.18 d.
  const QPointF spot = centre + QPointF(-0.18 * d, -0.18 * d);
  QColor white(Qt::white);
  white.setAlphaF(static_cast<float>(highlightOpacity(state)));
  painter.setBrush(white);
  painter.drawEllipse(spot, 0.15 * d, 0.11 * d);
  if (dark) paintGlow();
  painter.restore();
}

void StatusLight::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal pulse = breathing_ ? breathClock().pulse() : 0;
  paintLight(painter, QRectF(rect()).center(), state_, diameter_, pulse);
}

}  // namespace tlr
