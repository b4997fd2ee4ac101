#include "ui/kit/Panels.h"

#include "ui/kit/Painting.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QPainter>

namespace tlr {

// ---- Card --------------------------------------------------------------------

Card::Card(QWidget* parent, qreal radius) : QFrame(parent), radius_(radius) {
  setFrameShape(QFrame::NoFrame);
  whenLookChanges(this);
}

void Card::setHighlighted(bool on) {
  highlighted_ = on;
  update();
}

void Card::setFill(std::optional<QColor> fill) {
  setFill(fill ? std::function<QColor()>([color = *fill] { return color; }) : std::function<QColor()>());
}

void Card::setFill(std::function<QColor()> fill) {
  fill_ = std::move(fill);
  update();
}

void Card::setEdge(qreal opacity, qreal width) {
  edgeOpacity_ = opacity;
  edgeWidth_ = width;
  update();
}

void Card::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const Theme::Roles r = Theme::current();
  const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const QPainterPath shape = Painting::continuousRoundRect(box, radius_);
  p.fillPath(shape, fill_ ? fill_() : (highlighted_ ? r.cardHover : r.card));
  p.setPen(QPen(r.contrast(edgeOpacity_), edgeWidth_));
  p.drawPath(shape);
}

// ---- TintedPanel, PanelButton ----------------------------------------------------

TintedPanel::TintedPanel(std::function<QColor()> color, qreal fillOpacity, qreal edgeOpacity, qreal radius,
                         QWidget* parent)
    : QFrame(parent), color_(std::move(color)), fill_(fillOpacity), edge_(edgeOpacity), radius_(radius) {
  setFrameShape(QFrame::NoFrame);
  whenLookChanges(this);
}

void TintedPanel::setColor(std::function<QColor()> color) {
  color_ = std::move(color);
  update();
}

void TintedPanel::paint(QPainter& p, const QRectF& rect, const QColor& color, qreal fillOpacity, qreal edgeOpacity,
                        qreal radius) {
  p.setRenderHint(QPainter::Antialiasing);
  const QPainterPath shape = Painting::continuousRoundRect(rect.adjusted(0.25, 0.25, -0.25, -0.25), radius);
  p.fillPath(shape, Theme::withOpacity(color, fillOpacity));
  p.setPen(QPen(Theme::withOpacity(color, edgeOpacity), 0.5));
  p.drawPath(shape);
}

void TintedPanel::paintEvent(QPaintEvent*) {
  QPainter p(this);
  paint(p, QRectF(rect()), color_(), fill_, edge_, radius_);
}

PanelButton::PanelButton(QWidget* parent) : KeyboardButton(parent) {
  setCursor(Qt::PointingHandCursor);
  whenLookChanges(this);
}

void PanelButton::setColor(const QColor& color) {
  color_ = color;
  update();
}

QSize PanelButton::sizeHint() const { return layout() ? layout()->sizeHint() : QAbstractButton::sizeHint(); }

QSize PanelButton::minimumSizeHint() const {
  return layout() ? layout()->minimumSize() : QAbstractButton::minimumSizeHint();
}

void PanelButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  TintedPanel::paint(p, QRectF(rect()), color_, isDown() ? 0.16 : 0.1, 0.3, 8);
  if (showsFocus()) paintFocusRing(p, QRectF(rect()), 8);
}

// ---- Divider -----------------------------------------------------------------

Divider::Divider(QWidget* parent) : QWidget(parent) {
  setFixedHeight(1);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  whenLookChanges(this);
}

Divider::Divider(qreal darkOpacity, qreal lightOpacity, QWidget* parent) : Divider(parent) {
  opacity_ = std::pair(darkOpacity, lightOpacity);
}

void Divider::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const Theme::Roles r = Theme::current();
  p.fillRect(rect(), opacity_ ? r.contrast(r.dark ? opacity_->first : opacity_->second) : r.separator());
}

}  // namespace tlr
