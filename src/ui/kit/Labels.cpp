#include "ui/kit/Labels.h"

#include "ui/kit/LineBreaks.h"
#include "ui/kit/Painting.h"
#include "ui/kit/Theme.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QtMath>

namespace tlr {

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
  setTextFormat(Qt::PlainText);
  marked_.reset();
  full_ = text;
  setAccessibleName(text);
  applyText();
}

void Label::setCommandText(const QString& marked) {
  const QStringList parts = marked.split(QLatin1Char('`'));
  if (parts.size() < 3) {
    setPlainText(marked);
    return;
  }
  full_ = QString(marked).remove(QLatin1Char('`'));
  setAccessibleName(full_);
  marked_ = marked;
  applyCommandText();
}

void Label::applyCommandText() {
  const QStringList parts = marked_->split(QLatin1Char('`'));
  // Built from escaped text only: a name or a command from elsewhere never
  // becomes markup. A command reads apart from the sentence whatever its
  // words: the fixed-width face, in the primary colour on a faint tint of
  // the scheme's contrast colour.
  const Theme::Roles r = Theme::current();
  const QColor tint = r.contrast(r.dark ? 0.1 : 0.06);
  const QString style = QStringLiteral("font-family:'%1'; color:%2; background-color:rgba(%3,%4,%5,%6)")
                            .arg(Theme::monoFont(12).family().toHtmlEscaped(), r.text.name())
                            .arg(tint.red())
                            .arg(tint.green())
                            .arg(tint.blue())
                            .arg(tint.alphaF(), 0, 'f', 2);
  QString html;
  for (qsizetype i = 0; i < parts.size(); ++i) {
    // Odd parts are commands (an unmatched last mark is shown as it is).
    const bool command = i % 2 == 1 && i + 1 < parts.size();
    if (command)
      html += QStringLiteral("<span style=\"%1\">%2</span>")
                  .arg(style, LineBreaks::keepTogether(parts[i], {parts[i]}).toHtmlEscaped());
    else
      html += (i % 2 == 1 ? QStringLiteral("`") : QString()) + parts[i].toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"));
  }
  setTextFormat(Qt::RichText);
  setText(html);
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
  marked_.reset();
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
  // Commands carry the scheme's colours of their own.
  if (marked_ && text().contains(QStringLiteral("<span"))) {
    const QString before = text();
    applyCommandText();
    if (text() != before) update();
  }
  const QColor wanted = fixed_.value_or(roleColor(role_));
  if (palette().color(QPalette::WindowText) == wanted && testAttribute(Qt::WA_SetPalette)) return;
  QPalette p = palette();
  p.setColor(QPalette::WindowText, wanted);
  setPalette(p);
}

void Label::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  // Under the application's style sheet, a label that changes parent (a
  // sheet presented inside its window) is polished again and handed back the
  // palette of its first polish: its colour is set again.
  if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) applyColor();
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

void SectionTitle::setRole(TextRole role) {
  role_ = role;
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
  p.setPen(roleColor(role_));
  p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
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
  const QColor fill = r.contrast(r.dark ? 0.07 : 0.05);
  p.fillPath(Painting::continuousRoundRect(QRectF(rect()), 4), fill);
  p.setFont(chipFont());
  // The dim text at 0.85, in a shade that still reads at 4.5:1 on the chip
  // wherever it lies: the window, a card, a highlighted card.
  p.setPen(Theme::legibleOn(Theme::withOpacity(r.textDim, 0.85),
                            {Theme::laidOn(fill, r.background), Theme::laidOn(fill, r.card),
                             Theme::laidOn(fill, r.cardHover)}));
  p.drawText(QRectF(rect()), Qt::AlignCenter, text_);
}

}  // namespace tlr
