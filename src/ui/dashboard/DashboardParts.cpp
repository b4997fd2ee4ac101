#include "ui/dashboard/DashboardParts.h"

#include "ui/dashboard/AgentRowView.h"
#include "ui/dashboard/DashboardPainting.h"
#include "ui/kit/Painting.h"
#include "ui/kit/Theme.h"

#include <QFontMetricsF>
#include <QPaintEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QtMath>

namespace tlr {

using DashboardPainting::mix;

// ---- MetricCard ------------------------------------------------------------

namespace {
QFont metricTitleFont() { return Theme::font(11.5, QFont::DemiBold); }
QFont metricValueFont() { return Theme::font(30, QFont::Bold); }
QFont metricSubFont() { return Theme::font(10.5, QFont::Medium); }
constexpr qreal kMetricPad = 14;
constexpr qreal kMetricGap = 6;
constexpr qreal kHeaderHeight = 18;
// The highlighted card's glow: its shape in the brand start colour at 0.25,
// blurred 10, 4 down; none in the dark scheme, where its opacity is 0.
constexpr qreal kMetricRadius = 14;
constexpr qreal kGlowBlur = 10;
constexpr qreal kGlowDrop = 4;
QColor glowColour(const Theme::Roles& r) { return Theme::withOpacity(r.brandStart, 0.25); }
}  // namespace

MetricCard::MetricCard(bool highlight, QWidget* parent) : QWidget(parent), highlight_(highlight) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  whenLookChanges(this);
}

void MetricCard::setContent(const QString& title, int value, const QString& subtitle) {
  if (title == title_ && value == value_ && subtitle == subtitle_) return;
  title_ = title;
  value_ = value;
  subtitle_ = subtitle;
  setAccessibleName(title_ + QLatin1Char(' ') + valueText());
  setAccessibleDescription(subtitle_);
  update();
}

QSize MetricCard::sizeHint() const {
  const qreal h = kMetricPad * 2 + qMax<qreal>(QFontMetricsF(metricTitleFont()).height(), kHeaderHeight) + kMetricGap + 2 +
                  QFontMetricsF(metricValueFont()).height() + kMetricGap + QFontMetricsF(metricSubFont()).height();
  return {120, qCeil(h)};
}

QSize MetricCard::minimumSizeHint() const { return {60, sizeHint().height()}; }

void MetricCard::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // The size it first shows with: its glow is drawn off the window thread
  // while the window is still on its way to the screen.
  const Theme::Roles r = Theme::current();
  if (highlight_ && !painted_ && !r.dark)
    DashboardPainting::prepareShadow(QSizeF(size()), kMetricRadius, glowColour(r), kGlowBlur, devicePixelRatioF());
}

void MetricCard::paintEvent(QPaintEvent*) {
  painted_ = true;
  QPainter p(this);
  p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
  const Theme::Roles r = Theme::current();
  // The highlighted card's glow would be clipped by the card's own bounds;
  // its drop shadow is drawn by the dashboard under the card.
  const QRectF card(rect());
  const QPainterPath shape = Painting::continuousRoundRect(card, kMetricRadius);
  if (highlight_)
    p.fillPath(shape, r.filledGradient(card.topLeft(), card.bottomRight()));
  else
    p.fillPath(shape, r.card);
  if (!highlight_) {
    p.setPen(QPen(r.contrast(0.06), 0.5));
    p.drawPath(Painting::continuousRoundRect(card.adjusted(0.25, 0.25, -0.25, -0.25), kMetricRadius));
  }
  // White over the filled gradient keeps 4.5:1 down to 0.92.
  const QColor titleColor = highlight_ ? Theme::withOpacity(Qt::white, 0.92) : r.textDim;
  const QColor valueColor = highlight_ ? QColor(Qt::white) : r.text;
  const QColor subColor = highlight_ ? Theme::withOpacity(Qt::white, 0.92) : r.textFaint;

  const QRectF inner = card.adjusted(kMetricPad, kMetricPad, -kMetricPad, -kMetricPad);
  // Header: the title. A card leads nowhere, so it shows no arrow; the
  // header keeps the arrow's height, so the counts line up as before.
  const QFontMetricsF tm(metricTitleFont());
  const qreal headerH = qMax<qreal>(tm.height(), kHeaderHeight);
  p.setFont(metricTitleFont());
  p.setPen(titleColor);
  p.drawText(QRectF(inner.left(), inner.top(), inner.width(), tm.height()), Qt::AlignLeft | Qt::AlignTop,
             tm.elidedText(title_, Qt::ElideRight, inner.width()));
  // The count.
  qreal y = inner.top() + headerH + kMetricGap + 2;
  const QFontMetricsF vm(metricValueFont());
  p.setFont(metricValueFont());
  p.setPen(valueColor);
  p.drawText(QRectF(inner.left(), y, inner.width(), vm.height()), Qt::AlignLeft | Qt::AlignVCenter, valueText());
  y += vm.height() + kMetricGap;
  // The sub-line.
  const QFontMetricsF sm(metricSubFont());
  p.setFont(metricSubFont());
  p.setPen(subColor);
  p.drawText(QRectF(inner.left(), y, inner.width(), sm.height()), Qt::AlignLeft | Qt::AlignVCenter,
             sm.elidedText(subtitle_, Qt::ElideRight, inner.width()));
}

// ---- AgentRowList --------------------------------------------------------------

AgentRowList::AgentRowList(QWidget* parent) : QWidget(parent), layout_(new QVBoxLayout(this)) {
  layout_->setContentsMargins(22, 8, 22, 22);
  layout_->setSpacing(10);
  layout_->addStretch(1);
}

QList<AgentRowView*> AgentRowList::rows() const {
  QList<AgentRowView*> out;
  for (int i = 0; i < layout_->count(); ++i)
    if (auto* row = qobject_cast<AgentRowView*>(layout_->itemAt(i)->widget())) out << row;
  return out;
}

void AgentRowList::adopt(AgentRowView* row) {
  // The shadow under a row follows its hover.
  connect(row, &AgentRowView::hoverProgressChanged, this, [this, row] {
    const int reach = AgentRowView::shadowReach();
    update(row->geometry().adjusted(-reach, -reach, reach, reach));
  });
}

void AgentRowList::paintEvent(QPaintEvent* event) {
  if (Theme::current().dark) return;  // no visible shadows in the dark scheme
  QPainter p(this);
  const int reach = AgentRowView::shadowReach();
  for (AgentRowView* row : rows()) {
    if (!row->isVisible()) continue;
    const QRect area = row->geometry().adjusted(-reach, -reach, reach, reach);
    if (!event->region().intersects(area)) continue;
    // The card hides its shadow everywhere but near its edges and corners:
    // a repaint wholly inside it (a breathing light) needs none.
    const QRect inner = row->geometry().adjusted(16, 16, -16, -16);
    if (QRegion(event->region()).subtracted(inner).intersected(area).isEmpty()) continue;
    row->paintShadow(p, row->geometry().topLeft());
  }
}

// ---- MetricsRow ----------------------------------------------------------------

MetricsRow::MetricsRow(QWidget* parent) : QWidget(parent) { whenLookChanges(this); }

void MetricsRow::paintEvent(QPaintEvent*) {
  const Theme::Roles r = Theme::current();
  if (r.dark) return;  // the highlight's glow has opacity 0 in the dark scheme
  QPainter p(this);
  for (auto* card : findChildren<MetricCard*>(Qt::FindDirectChildrenOnly)) {
    if (!card->isHighlighted() || !card->isVisible()) continue;
    DashboardPainting::drawShadow(p, QPointF(card->geometry().topLeft()) + QPointF(0, kGlowDrop), QSizeF(card->size()),
                                  kMetricRadius, glowColour(r), kGlowBlur);
  }
}

}  // namespace tlr
