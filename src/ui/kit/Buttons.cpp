#include "ui/kit/Buttons.h"

#include "core/texts/LocTexts.h"

#include "core/stores/SettingsStore.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/Painting.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPainter>
#include <QVariantAnimation>
#include <QtMath>

#include <algorithm>

namespace tlr {

namespace {
// The spinner a busy button shows in its symbol's place.
constexpr qreal kBusySpinnerSide = 11;
}  // namespace

// ---- PaintedButton -----------------------------------------------------------

PaintedButton::PaintedButton(const QString& label, QWidget* parent)
    : KeyboardButton(parent),
      symbolSide_(Glyphs::sizeForFont(12)),
      disabledOpacity_(kDisabledOpacity),
      turn_(this) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::TabFocus);
  setLabel(label);
  whenLookChanges(this);
}

void PaintedButton::setLabel(const QString& label) {
  label_ = label;
  // "&" is shown as it is: doubled, Qt takes no mnemonic from it.
  QString escaped = label;
  escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
  QAbstractButton::setText(escaped);
  setAccessibleName(label);
  updateGeometry();
  update();
}

void PaintedButton::setSymbol(const QString& symbol) {
  symbol_ = symbol;
  updateGeometry();
  update();
}

void PaintedButton::setBusy(bool busy) {
  if (busy_ == busy) return;
  busy_ = busy;
  syncTurn();
  updateGeometry();
  update();
}

void PaintedButton::syncTurn() { turn_.run(busy_ && isVisible()); }

void PaintedButton::showEvent(QShowEvent* event) {
  syncTurn();
  QAbstractButton::showEvent(event);
}

void PaintedButton::hideEvent(QHideEvent* event) {
  turn_.run(false);
  QAbstractButton::hideEvent(event);
}

void PaintedButton::enterEvent(QEnterEvent* event) {
  hovered_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void PaintedButton::leaveEvent(QEvent* event) {
  hovered_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void PaintedButton::setLabelFont(qreal pixels, QFont::Weight weight) {
  labelPixels_ = pixels;
  labelWeight_ = weight;
  updateGeometry();
  update();
}

void PaintedButton::setPadding(qreal horizontal, qreal vertical) {
  padX_ = horizontal;
  padY_ = vertical;
  updateGeometry();
  update();
}

void PaintedButton::setSymbolSide(qreal side) {
  symbolSide_ = side;
  updateGeometry();
  update();
}

void PaintedButton::setSpacing(qreal spacing) {
  spacing_ = spacing;
  updateGeometry();
  update();
}

void PaintedButton::setCornerRadius(qreal radius) {
  radius_ = radius;
  update();
}

void PaintedButton::setDisabledOpacity(qreal opacity) {
  disabledOpacity_ = opacity;
  update();
}

void PaintedButton::paintFocus(QPainter& p, const QRectF& face, qreal radius) const {
  if (showsFocus()) paintFocusRing(p, face, radius);
}

qreal PaintedButton::drawOpacity() const { return isEnabled() || busy_ ? 1.0 : disabledOpacity_; }

QFont PaintedButton::labelFont() const { return Theme::font(labelPixels_, labelWeight_); }

QSizeF PaintedButton::contentSize() const {
  const QFontMetricsF m(labelFont());
  // A busy button keeps room for its symbol, or makes room for the spinner.
  qreal lead = symbol_.isEmpty() ? 0 : symbolSide_;
  if (busy_) lead = std::max(lead, kBusySpinnerSide);
  qreal w = m.horizontalAdvance(label_);
  if (lead > 0) w += lead + (label_.isEmpty() ? 0 : spacing_);
  return {w, std::max(m.height(), lead)};
}

QSize PaintedButton::sizeHint() const {
  const QSizeF c = contentSize();
  return {qCeil(c.width() + 2 * padX_), qCeil(c.height() + 2 * padY_)};
}

void PaintedButton::setElided(bool elided) {
  elided_ = elided;
  setSizePolicy(elided ? QSizePolicy::Preferred : QSizePolicy::Minimum, sizePolicy().verticalPolicy());
  updateGeometry();
}

QSize PaintedButton::minimumSizeHint() const {
  if (!elided_) return sizeHint();
  // The symbol and the "…".
  const QFontMetricsF m(labelFont());
  const qreal lead = symbol_.isEmpty() ? 0 : symbolSide_ + spacing_;
  return {qCeil(lead + m.horizontalAdvance(QStringLiteral("…")) + 2 * padX_), sizeHint().height()};
}

void PaintedButton::paintContent(QPainter& p, const QRectF& rect, const QColor& color) const {
  const QFont font = labelFont();
  const qreal lead = busy_ ? kBusySpinnerSide : (symbol_.isEmpty() ? 0 : symbolSide_);
  const qreal gap = lead > 0 && !label_.isEmpty() ? spacing_ : 0;
  // A button that may be made narrower than its label: a label wider than
  // the face leaves room for ends in "…"; its whole text stays its name.
  const QFontMetricsF metrics(font);
  const qreal room = rect.width() - 2 * padX_ - lead - gap;
  const QString shown = elided_ && metrics.horizontalAdvance(label_) > room + 1
                            ? metrics.elidedText(label_, Qt::ElideRight, room)
                            : label_;
  qreal x = rect.center().x() - (lead + gap + metrics.horizontalAdvance(shown)) / 2;
  const QRectF leadRect(x, rect.center().y() - lead / 2, lead, lead);
  if (busy_)
    Spinner::paint(p, leadRect, turn_.step(), color);
  else if (lead > 0)
    Glyphs::paint(p, symbol_, leadRect, color);
  x += lead + gap;
  if (!label_.isEmpty()) {
    p.setFont(font);
    p.setPen(color);
    p.drawText(QRectF(x, rect.top(), rect.right() - x, rect.height()), Qt::AlignLeft | Qt::AlignVCenter, shown);
  }
}

// ---- PrimaryButton -----------------------------------------------------------

PrimaryButton::PrimaryButton(const QString& label, const QString& symbol, QWidget* parent)
    : PaintedButton(label, parent) {
  setSymbol(symbol);
  setSpacing(8);
}

void PrimaryButton::setGlow(bool on) {
  glow_ = on;
  updateGeometry();
  update();
}

void PrimaryButton::setFill(std::optional<QColor> fill) {
  fill_ = fill;
  update();
}

void PrimaryButton::setDisabledFill(std::optional<QColor> fill) {
  disabledFill_ = fill;
  update();
}

QSize PrimaryButton::sizeHint() const {
  const int glowRoom = glow_ ? 8 : 0;
  return PaintedButton::sizeHint() + QSize(2 * glowRoom, 2 * glowRoom);
}

void PrimaryButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const Theme::Roles r = Theme::current();
  const qreal glowRoom = glow_ ? 8 : 0;
  const QRectF face = QRectF(rect()).adjusted(glowRoom, glowRoom, -glowRoom, -glowRoom);
  const QPainterPath shape = Painting::continuousRoundRect(face, radius_);
  const bool live = isEnabled();
  const bool ownDisabledFill = !live && disabledFill_;
  if (!ownDisabledFill) p.setOpacity(drawOpacity());
  if (glow_) {
    // Shadow of the brand colour at 0.35, radius 6, 2 down.
    QPointF origin;
    const QImage shadow =
        Painting::softShape(shape, Theme::withOpacity(r.brandStart, 0.35), 6, devicePixelRatioF(), &origin);
    p.drawImage(origin + QPointF(0, 2), shadow);
  }
  if (ownDisabledFill)
    p.fillPath(shape, *disabledFill_);
  else if (fill_)
    p.fillPath(shape, *fill_);
  else
    p.fillPath(shape, r.filledGradient(face.topLeft(), face.bottomRight()));
  if (live && isDown()) p.fillPath(shape, QColor(0, 0, 0, 40));
  else if (showsHover()) p.fillPath(shape, QColor(255, 255, 255, 22));
  paintContent(p, face, Qt::white);
  if (showsFocus()) {
    // Where the keyboard is: the accent ring along the edge, a light one
    // inside it so it shows on the gradient too.
    paintFocus(p, face, radius_);
    p.setOpacity(1);
    p.setPen(QPen(QColor(255, 255, 255, 200), 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(Painting::continuousRoundRect(face.adjusted(3, 3, -3, -3), qMax<qreal>(0, radius_ - 3)));
  }
}

// ---- SecondaryButton ---------------------------------------------------------

SecondaryButton::SecondaryButton(const QString& label, const QString& symbol, std::optional<QColor> color,
                                 QWidget* parent)
    : PaintedButton(label, parent) {
  setSymbol(symbol);
  setLabelFont(12, QFont::Medium);
  setColor(color);
}

SecondaryButton::Colors SecondaryButton::tint(const QColor& color, qreal fill, qreal edge) {
  return {color, Theme::withOpacity(color, fill), Theme::withOpacity(color, edge)};
}

void SecondaryButton::setColor(std::optional<QColor> color) {
  setColors([color] { return tint(color.value_or(Theme::current().accent)); });
}

void SecondaryButton::setColors(std::function<Colors()> colors) {
  colors_ = std::move(colors);
  update();
}

void SecondaryButton::setEdgeWidth(qreal width) {
  edgeWidth_ = width;
  update();
}

void SecondaryButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const Colors c = colors_();
  const qreal inset = edgeWidth_ / 2;
  const QRectF face = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
  const QPainterPath shape = Painting::continuousRoundRect(face, radius_);
  p.setOpacity(drawOpacity());
  if (c.fill)
    p.fillPath(shape, *c.fill);
  else
    p.fillPath(shape, Theme::current().filledGradient(face.topLeft(), face.bottomRight()));
  if (isEnabled() && isDown()) p.fillPath(shape, Theme::withOpacity(c.foreground, 0.12));
  else if (showsHover()) p.fillPath(shape, Theme::withOpacity(c.foreground, 0.06));
  if (c.edge.alpha() > 0) {
    p.setPen(QPen(c.edge, edgeWidth_));
    p.drawPath(shape);
  }
  // A coloured label on a face tinted with its colour: a shade of it that
  // reads at 4.5:1 there, on the window's ground and on a card alike.
  QColor foreground = c.foreground;
  if (c.fill) {
    const Theme::Roles r = Theme::current();
    foreground = Theme::legibleOn(c.foreground, {Theme::laidOn(*c.fill, r.background), Theme::laidOn(*c.fill, r.card)});
  }
  paintContent(p, face, foreground);
  paintFocus(p, face, radius_);
}

// ---- PillButton --------------------------------------------------------------

PillButton::PillButton(const QString& label, QWidget* parent) : PaintedButton(label, parent) {
  setCheckable(true);
  setAutoExclusive(true);
  setLabelFont(13, QFont::Normal);
  connect(this, &QAbstractButton::toggled, this, [this](bool on) {
    setLabelFont(13, on ? QFont::DemiBold : QFont::Normal);
    syncTabStop();
  });
}

void PillButton::syncTabStop() {
  // The checked choice is the group's one Tab stop, as with radio buttons
  // (the arrows move among the choices); none checked, each is one.
  QWidget* parent = parentWidget();
  if (!parent) return;
  const QList<PillButton*> pills = parent->findChildren<PillButton*>(Qt::FindDirectChildrenOnly);
  const bool anyChecked = std::any_of(pills.cbegin(), pills.cend(), [](const PillButton* p) { return p->isChecked(); });
  for (PillButton* pill : pills) pill->setFocusPolicy(!anyChecked || pill->isChecked() ? Qt::TabFocus : Qt::NoFocus);
}

void PillButton::setSelected(bool selected) {
  const QSignalBlocker quiet(this);
  if (selected) {
    // Its neighbours let go first (quietly too).
    if (QWidget* parent = parentWidget())
      for (auto* other : parent->findChildren<PillButton*>(Qt::FindDirectChildrenOnly))
        if (other != this && other->isChecked()) {
          const QSignalBlocker quietOther(other);
          other->setAutoExclusive(false);
          other->setChecked(false);
          other->setAutoExclusive(true);
          other->setLabelFont(13, QFont::Normal);
        }
  } else {
    setAutoExclusive(false);
  }
  setChecked(selected);
  setAutoExclusive(true);
  setLabelFont(13, selected ? QFont::DemiBold : QFont::Normal);
  syncTabStop();
}

QSize PillButton::sizeHint() const {
  // Measured in the selected (semibold) face, so choosing never resizes it.
  const QFontMetricsF m(Theme::font(13, QFont::DemiBold));
  return {qCeil(m.horizontalAdvance(label()) + 28), qCeil(m.height() + 14)};
}

void PillButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const Theme::Roles r = Theme::current();
  const QRectF face = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const QPainterPath shape = Painting::continuousRoundRect(face, radius_);
  p.setOpacity(drawOpacity());
  const bool selected = isChecked();
  if (selected) {
    p.fillPath(shape, r.filledGradient(face.topLeft(), face.bottomRight()));
  } else {
    p.fillPath(shape, showsHover() ? r.cardHover : r.card);
    p.setPen(QPen(r.contrast(0.06), 1));
    p.drawPath(shape);
  }
  paintContent(p, face, selected ? QColor(Qt::white) : r.text);
  paintFocus(p, face, radius_);
}

// ---- CloseButton -------------------------------------------------------------

CloseButton::CloseButton(QWidget* parent) : PaintedButton(QString(), parent) {
  setFixedSize(24, 24);
  applyName();
}

void CloseButton::setLanguage(AppLanguage language) {
  language_ = language;
  applyName();
}

void CloseButton::setHelp(const QString& help) {
  help_ = help;
  applyName();
}

void CloseButton::applyName() {
  const QString name = help_.isEmpty() ? LocTexts::text(language_, LocKey::installSheetClose()) : help_;
  setAccessibleName(name);
  setToolTip(name);
}

void CloseButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const Theme::Roles r = Theme::current();
  const bool live = isEnabled();
  p.setOpacity(drawOpacity());
  p.setPen(Qt::NoPen);
  p.setBrush(r.contrast(!live ? 0.06 : (isDown() ? 0.14 : (isHovered() ? 0.1 : 0.06))));
  p.drawEllipse(QRectF(rect()));
  const qreal glyph = Glyphs::sizeForFont(11) * 0.8;
  Glyphs::paint(p, u"xmark", QRectF(12 - glyph / 2, 12 - glyph / 2, glyph, glyph), r.textDim);
  paintFocus(p, QRectF(rect()), width() / 2.0);
}

// ---- IconButton --------------------------------------------------------------

IconButton::IconButton(const QString& symbol, const QString& label, qreal side, QWidget* parent)
    : PaintedButton(QString(), parent), side_(side), look_(&IconButton::tileLook),
      animation_(new QVariantAnimation(this)) {
  setSymbol(symbol);
  setHint(label);
  setFixedSize(sizeHint());
  animation_->setDuration(kHoverMs);
  animation_->setEasingCurve(QEasingCurve::OutCubic);
  connect(animation_, &QVariantAnimation::valueChanged, this,
          [this](const QVariant& v) { setHoverProgress(v.toReal()); });
}

void IconButton::setHint(const QString& label) {
  setAccessibleName(label);
  setToolTip(label);
}

void IconButton::setLook(std::function<Look()> look) {
  look_ = std::move(look);
  update();
}

IconButton::Look IconButton::tileLook() {
  const Theme::Roles r = Theme::current();
  return {r.contrast(0.05), r.contrast(0.1), Qt::transparent, Qt::transparent, r.textDim, r.textDim, 0.5, 0.08};
}

IconButton::Look IconButton::toolbarLook() {
  const Theme::Roles r = Theme::current();
  // Tile: white 0.05 → 0.1 (dark); black 0.035 → #0A84FF at 0.1 (light).
  return {r.contrast(r.dark ? 0.05 : 0.035),
          r.dark ? r.contrast(0.1) : Theme::withOpacity(QColor(10, 132, 255), 0.1),
          r.contrast(r.dark ? 0.08 : 0.07),
          Theme::withOpacity(r.accent, 0.4),
          r.textDim,
          r.accent,
          0,
          0.06};
}

void IconButton::setHoverProgress(qreal progress) {
  hoverProgress_ = progress;
  update();
}

void IconButton::animateTo(qreal target) {
  animation_->stop();
  animation_->setStartValue(hoverProgress_);
  animation_->setEndValue(target);
  animation_->start();
}

void IconButton::enterEvent(QEnterEvent* event) {
  animateTo(1);
  PaintedButton::enterEvent(event);
}

void IconButton::leaveEvent(QEvent* event) {
  animateTo(0);
  PaintedButton::leaveEvent(event);
}

QSize IconButton::sizeHint() const { return {qCeil(side_), qCeil(side_)}; }

void IconButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const Look look = look_();
  const qreal h = isEnabled() ? hoverProgress_ : 0;
  const QRectF face = QRectF(rect()).adjusted(look.inset, look.inset, -look.inset, -look.inset);
  const QPainterPath shape = Painting::continuousRoundRect(face, radius_);
  p.setOpacity(drawOpacity());
  p.fillPath(shape, Painting::mix(look.tile, look.tileHover, h));
  if (isEnabled() && isDown()) p.fillPath(shape, Theme::current().contrast(look.pressed));
  const QColor edge = Painting::mix(look.edge, look.edgeHover, h);
  if (edge.alpha() > 0) {
    p.setPen(QPen(edge, 1));
    p.drawPath(Painting::continuousRoundRect(face.adjusted(0.5, 0.5, -0.5, -0.5), radius_ - 0.5));
  }
  const qreal glyph = Glyphs::sizeForFont(13);
  Glyphs::paint(p, symbol(), QRectF(face.center() - QPointF(glyph / 2, glyph / 2), QSizeF(glyph, glyph)),
                Painting::mix(look.symbol, look.symbolHover, h));
  paintFocus(p, face, radius_);
}

// ---- LinkButton --------------------------------------------------------------

LinkButton::LinkButton(const QString& label, qreal pixels, QWidget* parent) : PaintedButton(label, parent) {
  setLabelFont(pixels, QFont::Normal);
  setPadding(1, 1);
}

void LinkButton::setPlain(TextRole role) {
  plain_ = role;
  setPadding(8, 5);
}

QSize LinkButton::sizeHint() const {
  const QSizeF c = contentSize();
  return {qCeil(c.width()) + qRound(2 * padX_), qCeil(c.height()) + qRound(2 * padY_)};
}

void LinkButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setOpacity(drawOpacity());
  QColor color = plain_ ? roleColor(*plain_) : Theme::current().accentText;
  if (isEnabled() && isDown()) color = Theme::withOpacity(color, 0.7);
  else if (plain_ && showsHover()) color = Theme::current().text;
  if (plain_) {
    paintContent(p, QRectF(rect()), color);
  } else {
    QFont font = labelFont();
    font.setUnderline(true);
    p.setFont(font);
    p.setPen(color);
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, label());
  }
  paintFocus(p, QRectF(rect()), 4);
}

}  // namespace tlr
