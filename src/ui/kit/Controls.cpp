#include "ui/kit/Controls.h"

#include "core/SettingsStore.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/LineBreaks.h"
#include "ui/kit/Painting.h"

#include <QEnterEvent>
#include <QLayout>
#include <QVariantAnimation>
#include <QFontMetricsF>
#include <QPainter>
#include <QSignalBlocker>
#include <QtMath>

namespace tlr {

namespace {
// A control that cannot be used is drawn whole (face, edge, label) at this
// opacity, and ignores hover and press.
constexpr qreal kDisabledOpacity = 0.35;
}  // namespace

QColor roleColor(TextRole role) {
  const Theme::Roles r = Theme::current();
  switch (role) {
    case TextRole::primary:
      return r.text;
    case TextRole::dim:
      return r.textDim;
    case TextRole::faint:
      return r.textFaint;
    case TextRole::accent:
      return r.accent;
    case TextRole::white:
      return Qt::white;
  }
  return r.text;
}

void paintFocusRing(QPainter& p, const QRectF& rect, qreal radius) {
  p.save();
  p.setOpacity(1);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Theme::current().accent, 2));
  p.setBrush(Qt::NoBrush);
  const QRectF ring = rect.adjusted(1, 1, -1, -1);
  p.drawPath(Painting::continuousRoundRect(ring, qMax<qreal>(0, radius - 1)));
  p.restore();
}

// ---- Label -----------------------------------------------------------------

Label::Label(const QString& text, qreal pixels, QFont::Weight weight, TextRole role, QWidget* parent)
    : QLabel(parent), role_(role) {
  setTextFormat(Qt::PlainText);
  setTextInteractionFlags(Qt::NoTextInteraction);
  setPixelFont(pixels, weight);
  setPlainText(text);
  applyColor();
  whenLookChanges(this, [this] { applyColor(); });
}

void Label::setPlainText(const QString& text) {
  full_ = text;
  setAccessibleName(text);
  applyText();
}

void Label::setElided(bool elided) {
  elided_ = elided;
  if (elided) {
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Preferred, sizePolicy().verticalPolicy());
  }
  applyText();
}

void Label::applyText() {
  if (!elided_) {
    setText(full_);
    return;
  }
  // Shortened only once it is on screen with the width its layout gave it.
  const QString shown =
      isVisible() ? fontMetrics().elidedText(full_, Qt::ElideRight, contentsRect().width()) : full_;
  if (text() != shown) setText(shown);
  setToolTip(shown == full_ ? QString() : full_);
}

void Label::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  if (elided_) applyText();
}

void Label::showEvent(QShowEvent* event) {
  QLabel::showEvent(event);
  if (elided_) applyText();
}

QSize Label::sizeHint() const {
  QSize hint = QLabel::sizeHint();
  if (elided_) {
    const QMargins m = contentsMargins();
    hint.setWidth(fontMetrics().horizontalAdvance(full_) + m.left() + m.right() + 2 * margin() + 1);
  }
  return hint;
}

QSize Label::minimumSizeHint() const {
  QSize hint = QLabel::minimumSizeHint();
  if (elided_) {
    const QMargins m = contentsMargins();
    hint.setWidth(fontMetrics().horizontalAdvance(QStringLiteral("…")) + m.left() + m.right() + 2 * margin() + 1);
  }
  return hint;
}

void Label::setPathText(const QString& path) {
  setText(LineBreaks::pathWrapping(path));
  setAccessibleName(path);
}

void Label::setRole(TextRole role) {
  role_ = role;
  fixed_.reset();
  applyColor();
}

void Label::setColor(const QColor& color) {
  fixed_ = color;
  applyColor();
}

void Label::setPixelFont(qreal pixels, QFont::Weight weight) { setFont(Theme::font(pixels, weight)); }

void Label::applyColor() {
  QPalette p = palette();
  p.setColor(QPalette::WindowText, fixed_.value_or(roleColor(role_)));
  setPalette(p);
}

// ---- SectionTitle ----------------------------------------------------------

namespace {
QFont sectionFont() { return Theme::font(10.5, QFont::DemiBold, 1.2); }
}  // namespace

SectionTitle::SectionTitle(const QString& title, QWidget* parent) : QWidget(parent) {
  setTitle(title);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  whenLookChanges(this);
}

void SectionTitle::setTitle(const QString& title) {
  title_ = title;
  setAccessibleName(shownText());
  updateGeometry();
  update();
}

QSize SectionTitle::sizeHint() const {
  const QFontMetricsF m(sectionFont());
  return {qCeil(m.horizontalAdvance(shownText())) + 2, qCeil(m.height())};
}

void SectionTitle::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::TextAntialiasing);
  p.setFont(sectionFont());
  p.setPen(Theme::current().textFaint);
  p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

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

// ---- Spinner -------------------------------------------------------------------

namespace {
constexpr int kSpinnerSteps = 12;
constexpr int kSpinnerStepMs = 80;
// The spinner a busy button shows in its symbol's place.
constexpr qreal kBusySpinnerSide = 11;
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

// ---- PaintedButton -----------------------------------------------------------

PaintedButton::PaintedButton(const QString& label, QWidget* parent)
    : QAbstractButton(parent),
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

namespace {
bool fromKeyboard(const QFocusEvent* event) {
  return event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
}
}  // namespace

void PaintedButton::focusInEvent(QFocusEvent* event) {
  keyboardFocus_ = fromKeyboard(event);
  QAbstractButton::focusInEvent(event);
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

void PaintedButton::paintContent(QPainter& p, const QRectF& rect, const QColor& color) const {
  const QFont font = labelFont();
  const qreal lead = busy_ ? kBusySpinnerSide : (symbol_.isEmpty() ? 0 : symbolSide_);
  const qreal gap = lead > 0 && !label_.isEmpty() ? spacing_ : 0;
  qreal x = rect.center().x() - (lead + gap + QFontMetricsF(font).horizontalAdvance(label_)) / 2;
  const QRectF leadRect(x, rect.center().y() - lead / 2, lead, lead);
  if (busy_)
    Spinner::paint(p, leadRect, turn_.step(), color);
  else if (lead > 0)
    Glyphs::paint(p, symbol_, leadRect, color);
  x += lead + gap;
  if (!label_.isEmpty()) {
    p.setFont(font);
    p.setPen(color);
    p.drawText(QRectF(x, rect.top(), rect.right() - x, rect.height()), Qt::AlignLeft | Qt::AlignVCenter, label_);
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
    p.fillPath(shape, r.brandGradient(face.topLeft(), face.bottomRight()));
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
    p.fillPath(shape, Theme::current().brandGradient(face.topLeft(), face.bottomRight()));
  if (isEnabled() && isDown()) p.fillPath(shape, Theme::withOpacity(c.foreground, 0.12));
  else if (showsHover()) p.fillPath(shape, Theme::withOpacity(c.foreground, 0.06));
  if (c.edge.alpha() > 0) {
    p.setPen(QPen(c.edge, edgeWidth_));
    p.drawPath(shape);
  }
  paintContent(p, face, c.foreground);
  paintFocus(p, face, radius_);
}

// ---- PillButton --------------------------------------------------------------

PillButton::PillButton(const QString& label, QWidget* parent) : PaintedButton(label, parent) {
  setCheckable(true);
  setAutoExclusive(true);
  setLabelFont(13, QFont::Normal);
  connect(this, &QAbstractButton::toggled, this,
          [this](bool on) { setLabelFont(13, on ? QFont::DemiBold : QFont::Normal); });
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
    p.fillPath(shape, r.brandGradient(face.topLeft(), face.bottomRight()));
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
  whenLookChanges(this, [this] { applyName(); });
}

void CloseButton::setHelp(const QString& help) {
  help_ = help;
  applyName();
}

void CloseButton::applyName() {
  const QString name = help_.isEmpty() ? SettingsStore::shared().text(LocKey::installSheetClose()) : help_;
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
  QColor color = plain_ ? roleColor(*plain_) : Theme::current().accent;
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

PanelButton::PanelButton(QWidget* parent) : QAbstractButton(parent) {
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
  if (hasFocus() && keyboardFocus_) paintFocusRing(p, QRectF(rect()), 8);
}

void PanelButton::focusInEvent(QFocusEvent* event) {
  keyboardFocus_ = fromKeyboard(event);
  QAbstractButton::focusInEvent(event);
}

// ---- ToggleControl, ToggleSwitch, CheckBox ----------------------------------

ToggleControl::ToggleControl(QWidget* parent) : QAbstractButton(parent), disabledOpacity_(kDisabledOpacity) {
  setCheckable(true);
  setCursor(Qt::PointingHandCursor);
  whenLookChanges(this);
}

void ToggleControl::focusInEvent(QFocusEvent* event) {
  keyboardFocus_ = fromKeyboard(event);
  QAbstractButton::focusInEvent(event);
}

void ToggleControl::paintFocusRing(QPainter& p, qreal radius) const {
  if (showsFocus()) tlr::paintFocusRing(p, QRectF(rect()), radius);
}

void ToggleControl::setDisabledOpacity(qreal opacity) {
  disabledOpacity_ = opacity;
  update();
}

void ToggleControl::showState(bool on) {
  if (isChecked() == on) return;
  const QSignalBlocker quiet(this);
  setChecked(on);
}

ToggleSwitch::ToggleSwitch(const QString& accessibleLabel, QWidget* parent) : ToggleControl(parent) {
  setAccessibleName(accessibleLabel);
  setFixedSize(sizeHint());
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const Theme::Roles r = Theme::current();
  p.setOpacity(drawOpacity());
  // With the focus ring, the track steps in so the ring stands apart from
  // an accent-coloured (on) track.
  const qreal inset = showsFocus() ? 3.5 : 1;
  const QRectF track = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
  const qreal radius = track.height() / 2;
  p.setPen(Qt::NoPen);
  p.setBrush(isChecked() ? r.accent : r.contrast(r.dark ? 0.18 : 0.12));
  p.drawRoundedRect(track, radius, radius);
  const qreal knob = track.height() - 4;
  const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
  p.setBrush(Qt::white);
  p.setPen(QPen(QColor(0, 0, 0, 30), 0.5));
  p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
  paintFocusRing(p, height() / 2.0);
}

CheckBox::CheckBox(const QString& accessibleLabel, std::function<QColor()> onColor, QWidget* parent)
    : ToggleControl(parent), onColor_(std::move(onColor)) {
  setAccessibleName(accessibleLabel);
  setFixedSize(sizeHint());
}

void CheckBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor color = isChecked() ? onColor_() : Theme::current().textFaint;
  p.setOpacity(drawOpacity());
  const QRectF box = showsFocus() ? QRectF(3.5, 3.5, 11, 11) : QRectF(1, 1, 16, 16);
  Glyphs::paint(p, isChecked() ? u"checkmark.square.fill" : u"square", box, color);
  paintFocusRing(p, 5);
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

// ---- KindChip ----------------------------------------------------------------

namespace {
QFont chipFont() { return Theme::font(9, QFont::Bold, 0.7); }
}  // namespace

KindChip::KindChip(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  whenLookChanges(this);
}

void KindChip::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  setAccessibleName(text);
  updateGeometry();
  update();
}

QSize KindChip::sizeHint() const {
  const QFontMetricsF m(chipFont());
  return {qCeil(m.horizontalAdvance(text_) + 12), qCeil(m.height() + 4)};
}

void KindChip::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const Theme::Roles r = Theme::current();
  p.fillPath(Painting::continuousRoundRect(QRectF(rect()), 4), r.contrast(r.dark ? 0.07 : 0.05));
  p.setFont(chipFont());
  p.setPen(Theme::withOpacity(r.textDim, 0.85));
  p.drawText(QRectF(rect()), Qt::AlignCenter, text_);
}

// ---- IconTile ----------------------------------------------------------------

IconTile::IconTile(int side, qreal radius, qreal inset, QWidget* parent)
    : QWidget(parent), side_(side), radius_(radius), inset_(inset) {
  setFixedSize(side, side);
  whenLookChanges(this);
}

void IconTile::setPicture(const QPixmap& picture, bool fillsTile) {
  if (picture.cacheKey() == picture_.cacheKey() && fillsTile == fillsTile_) return;
  picture_ = picture;
  fillsTile_ = fillsTile;
  update();
}

void IconTile::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
  const Theme::Roles r = Theme::current();
  const QRectF tile(rect());
  const QPainterPath shape = Painting::continuousRoundRect(tile, radius_);
  p.fillPath(shape, r.dark ? QColor(255, 255, 255, qRound(0.06 * 255)) : QColor(Qt::white));
  p.save();
  p.setClipPath(shape);
  if (!picture_.isNull()) {
    const qreal inset = fillsTile_ ? 0 : inset_;
    const QRectF box = tile.adjusted(inset, inset, -inset, -inset);
    QSizeF size = picture_.deviceIndependentSize();
    size.scale(box.size(), Qt::KeepAspectRatio);
    p.drawPixmap(QRectF(box.center() - QPointF(size.width() / 2, size.height() / 2), size), picture_,
                 QRectF(picture_.rect()));
  } else {
    p.fillPath(shape, QColor(128, 128, 128, qRound(0.3 * 255)));
  }
  p.restore();
  // The hairline: white (dark) or black (light) at 0.06 × 0.6.
  p.setPen(QPen(r.contrast(0.06 * 0.6), 0.5));
  p.drawPath(Painting::continuousRoundRect(tile.adjusted(0.25, 0.25, -0.25, -0.25), radius_));
}

// ---- SymbolView --------------------------------------------------------------

SymbolView::SymbolView(const QString& symbol, qreal side, TextRole role, QWidget* parent)
    : SymbolView(symbol, side, ColorFn([role] { return roleColor(role); }), parent) {}

SymbolView::SymbolView(const QString& symbol, qreal side, ColorFn color, QWidget* parent)
    : QWidget(parent), symbol_(symbol), side_(side), color_(std::move(color)) {
  setFixedSize(sizeHint());
  whenLookChanges(this);
}

SymbolView* SymbolView::forFont(const QString& symbol, qreal fontPixels, TextRole role, QWidget* parent) {
  return new SymbolView(symbol, qCeil(Glyphs::sizeForFont(fontPixels)), role, parent);
}

SymbolView* SymbolView::forFont(const QString& symbol, qreal fontPixels, const QColor& color, QWidget* parent) {
  auto* view = forFont(symbol, fontPixels, TextRole::primary, parent);
  view->setColor(color);
  return view;
}

void SymbolView::setSymbol(const QString& symbol) {
  symbol_ = symbol;
  update();
}

void SymbolView::setRole(TextRole role) { setColor(ColorFn([role] { return roleColor(role); })); }

void SymbolView::setColor(const QColor& color) { setColor(ColorFn([color] { return color; })); }

void SymbolView::setColor(ColorFn color) {
  color_ = std::move(color);
  update();
}

QSize SymbolView::sizeHint() const { return {qCeil(side_), qCeil(side_)}; }

void SymbolView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Glyphs::paint(p, symbol_, QRectF(0, 0, side_, side_), color_ ? color_() : roleColor(TextRole::primary));
}

}  // namespace tlr
