#include "ui/kit/Spinner.h"

#include <QPainter>
#include <QtMath>

namespace tlr {

namespace {
constexpr int kSpinnerSteps = 12;
constexpr int kSpinnerStepMs = 80;
}  // namespace

SpinnerTurn::SpinnerTurn(QWidget* owner) {
  timer_.setInterval(kSpinnerStepMs);
  QObject::connect(&timer_, &QTimer::timeout, owner, [this, owner] {
    step_ = (step_ + 1) % kSpinnerSteps;
    owner->update();
  });
}

void SpinnerTurn::run(bool on) {
  if (on)
    timer_.start();
  else
    timer_.stop();
}

Spinner::Spinner(qreal side, QWidget* parent) : QWidget(parent), side_(side), turn_(this) {
  setFixedSize(sizeHint());
  setAccessibleName(QStringLiteral("…"));
  whenLookChanges(this);
}

void Spinner::setColor(std::optional<QColor> color) {
  color_ = color;
  update();
}

QSize Spinner::sizeHint() const { return {qCeil(side_), qCeil(side_)}; }

void Spinner::paint(QPainter& p, const QRectF& rect, int step, const QColor& color) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const qreal side = std::min(rect.width(), rect.height());
  p.translate(rect.center());
  const qreal outer = side / 2;
  const qreal inner = outer * 0.5;
  QPen pen(color, std::max(1.0, side / 8), Qt::SolidLine, Qt::RoundCap);
  for (int i = 0; i < kSpinnerSteps; ++i) {
    // The spoke at the current step is the darkest; the ones behind it fade.
    const int age = (step - i + kSpinnerSteps) % kSpinnerSteps;
    QColor c = color;
    c.setAlphaF(color.alphaF() * (1.0 - 0.75 * age / kSpinnerSteps));
    pen.setColor(c);
    p.setPen(pen);
    const qreal angle = 2 * M_PI * i / kSpinnerSteps - M_PI / 2;
    p.drawLine(QPointF(qCos(angle) * inner, qSin(angle) * inner), QPointF(qCos(angle) * (outer - pen.widthF() / 2),
                                                                          qSin(angle) * (outer - pen.widthF() / 2)));
  }
  p.restore();
}

void Spinner::paintEvent(QPaintEvent*) {
  QPainter p(this);
  paint(p, QRectF(rect()), turn_.step(), color_.value_or(Theme::current().textDim));
}

void Spinner::showEvent(QShowEvent* event) {
  turn_.run(true);
  QWidget::showEvent(event);
}

void Spinner::hideEvent(QHideEvent* event) {
  turn_.run(false);
  QWidget::hideEvent(event);
}

}  // namespace tlr
