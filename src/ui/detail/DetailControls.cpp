#include "ui/detail/DetailControls.h"

#include "ui/kit/Glyphs.h"
#include "ui/kit/Painting.h"
#include "ui/kit/Theme.h"

#include <QPainter>
#include <QtMath>

namespace tlr {
namespace {

constexpr int kSpinnerSteps = 12;
constexpr int kSpinnerIntervalMs = 80;

}  // namespace

// ---- ActionButton ----------------------------------------------------------------

ActionButton::ActionButton(const QString& title, const QString& symbol, std::function<QColor()> color,
                           QWidget* parent)
    : PaintedButton(title, parent), color_(std::move(color)) {
  setSymbol(symbol);
  timer_.setInterval(kSpinnerIntervalMs);
  connect(&timer_, &QTimer::timeout, this, [this] {
    step_ = (step_ + 1) % kSpinnerSteps;
    update();
  });
}

void ActionButton::setBusy(bool busy) {
  if (busy_ == busy) return;
  busy_ = busy;
  syncTimer();
  update();
}

void ActionButton::syncTimer() {
  if (busy_ && isVisible())
    timer_.start();
  else
    timer_.stop();
}

void ActionButton::showEvent(QShowEvent* event) {
  syncTimer();
  PaintedButton::showEvent(event);
}

void ActionButton::hideEvent(QHideEvent* event) {
  timer_.stop();
  PaintedButton::hideEvent(event);
}

QSize ActionButton::sizeHint() const {
  const QSizeF c = contentSize(Theme::font(12.5, QFont::Medium), Glyphs::sizeForFont(11), 6);
  return {qCeil(c.width() + 28), qCeil(c.height() + 16)};
}

void ActionButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const QColor color = color_();
  const QRectF face = QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25);
  const QPainterPath shape = Painting::continuousRoundRect(face, 8);
  p.setOpacity(busy_ ? 0.7 : (isEnabled() ? 1.0 : 0.5));
  const qreal fill = busy_ ? 0.08 : (isDown() ? 0.25 : (isHovered() ? 0.2 : 0.15));
  p.fillPath(shape, Theme::withOpacity(color, fill));
  p.setPen(QPen(Theme::withOpacity(color, busy_ ? 0.25 : 0.4), 0.5));
  p.drawPath(shape);
  const QFont font = Theme::font(12.5, QFont::Medium);
  const qreal symbolSide = Glyphs::sizeForFont(11);
  if (!busy_) {
    paintContent(p, face, font, symbolSide, color, 6);
    return;
  }
  // The spinner (11 × 11) takes the symbol's place.
  const QFontMetricsF m(font);
  const qreal width = 11 + 6 + m.horizontalAdvance(label());
  qreal x = face.center().x() - width / 2;
  Spinner::paint(p, QRectF(x, face.center().y() - 5.5, 11, 11), step_, color);
  x += 17;
  p.setFont(font);
  p.setPen(color);
  p.drawText(QRectF(x, face.top(), face.right() - x, face.height()), Qt::AlignLeft | Qt::AlignVCenter, label());
}

// ---- OutlinedButton ----------------------------------------------------------------

OutlinedButton::OutlinedButton(const QString& title, const QString& symbol, QWidget* parent)
    : PaintedButton(title, parent), colors_(&OutlinedButton::brandColors) {
  setSymbol(symbol);
  timer_.setInterval(kSpinnerIntervalMs);
  connect(&timer_, &QTimer::timeout, this, [this] {
    step_ = (step_ + 1) % kSpinnerSteps;
    update();
  });
}

OutlinedButton::Colors OutlinedButton::brandColors() {
  const QColor accent = Theme::current().accent;
  return {accent, Theme::withOpacity(accent, 0.45)};
}

void OutlinedButton::setColors(std::function<Colors()> colors) {
  colors_ = std::move(colors);
  update();
}

void OutlinedButton::setBusy(bool busy) {
  if (busy_ == busy) return;
  busy_ = busy;
  syncTimer();
  update();
}

void OutlinedButton::setDrawOpacity(qreal opacity) {
  drawOpacity_ = opacity;
  update();
}

void OutlinedButton::syncTimer() {
  if (busy_ && isVisible())
    timer_.start();
  else
    timer_.stop();
}

void OutlinedButton::showEvent(QShowEvent* event) {
  syncTimer();
  PaintedButton::showEvent(event);
}

void OutlinedButton::hideEvent(QHideEvent* event) {
  timer_.stop();
  PaintedButton::hideEvent(event);
}

QSize OutlinedButton::sizeHint() const {
  const QSizeF c = contentSize(Theme::font(12, QFont::Medium), Glyphs::sizeForFont(12), 6);
  return {qCeil(c.width() + 24), qCeil(c.height() + 16)};
}

void OutlinedButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const Colors c = colors_();
  p.setOpacity(drawOpacity_);
  // Stroked inside its edge.
  const QRectF face = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const QPainterPath shape = Painting::continuousRoundRect(face, 7);
  p.fillPath(shape, c.fill);
  if (isDown()) p.fillPath(shape, Theme::withOpacity(c.foreground, 0.12));
  else if (isHovered() && isEnabled()) p.fillPath(shape, Theme::withOpacity(c.foreground, 0.06));
  p.setPen(QPen(c.border, 1));
  p.drawPath(shape);
  const QFont font = Theme::font(12, QFont::Medium);
  const qreal symbolSide = Glyphs::sizeForFont(12);
  if (!busy_) {
    paintContent(p, face, font, symbolSide, c.foreground, 6);
    return;
  }
  const QFontMetricsF m(font);
  const qreal side = 11;
  const qreal width = side + 6 + m.horizontalAdvance(label());
  qreal x = face.center().x() - width / 2;
  Spinner::paint(p, QRectF(x, face.center().y() - side / 2, side, side), step_, c.foreground);
  x += side + 6;
  p.setFont(font);
  p.setPen(c.foreground);
  p.drawText(QRectF(x, face.top(), face.right() - x, face.height()), Qt::AlignLeft | Qt::AlignVCenter, label());
}

// ---- TintedPanel -----------------------------------------------------------------------

TintedPanel::TintedPanel(std::function<QColor()> color, qreal fillOpacity, qreal strokeOpacity, qreal radius,
                         QWidget* parent)
    : QFrame(parent), color_(std::move(color)), fill_(fillOpacity), stroke_(strokeOpacity), radius_(radius) {
  setFrameShape(QFrame::NoFrame);
  whenLookChanges(this);
}

void TintedPanel::setColor(std::function<QColor()> color) {
  color_ = std::move(color);
  update();
}

void TintedPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor color = color_();
  const QPainterPath shape = Painting::continuousRoundRect(QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25), radius_);
  p.fillPath(shape, Theme::withOpacity(color, fill_));
  p.setPen(QPen(Theme::withOpacity(color, stroke_), 0.5));
  p.drawPath(shape);
}

}  // namespace tlr
