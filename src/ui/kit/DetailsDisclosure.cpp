#include "ui/kit/DetailsDisclosure.h"

#include "core/texts/LocTexts.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/Painting.h"
#include "ui/kit/Theme.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QScrollBar>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QtMath>

namespace tlr {
namespace {

constexpr qreal kLabelPixels = 11;
constexpr qreal kChevron = 9;
constexpr qreal kGap = 4;

// The "Details" line: a chevron that points down while open, and the word.
class DisclosureLine final : public ToggleControl {
 public:
  explicit DisclosureLine(QWidget* parent) : ToggleControl(parent) { setFocusPolicy(Qt::StrongFocus); }

  void setLabel(const QString& label) {
    label_ = label;
    setAccessibleName(label);
    updateGeometry();
    update();
  }
  QSize sizeHint() const override {
    const QFontMetricsF m(Theme::font(kLabelPixels, QFont::Medium));
    return {qCeil(kChevron + kGap + m.horizontalAdvance(label_)) + 4, qCeil(m.height()) + 4};
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const Theme::Roles r = Theme::current();
    const QColor color = underMouse() || hasFocus() ? r.text : r.textDim;
    const QRectF glyph(0, (height() - kChevron) / 2, kChevron, kChevron);
    p.save();
    if (isChecked()) {
      // The same chevron, turned to point down.
      p.translate(glyph.center());
      p.rotate(90);
      p.translate(-glyph.center());
    }
    Glyphs::paint(p, u"chevron.right", glyph, color);
    p.restore();
    p.setFont(Theme::font(kLabelPixels, QFont::Medium));
    p.setPen(color);
    p.drawText(QRectF(kChevron + kGap, 0, width() - kChevron - kGap, height()), Qt::AlignLeft | Qt::AlignVCenter,
               label_);
  }
  void enterEvent(QEnterEvent* event) override {
    update();
    ToggleControl::enterEvent(event);
  }
  void leaveEvent(QEvent* event) override {
    update();
    ToggleControl::leaveEvent(event);
  }

 private:
  QString label_;
};

}  // namespace

DetailsDisclosure::DetailsDisclosure(QWidget* parent, int maxBodyHeight)
    : QWidget(parent), maxBodyHeight_(maxBodyHeight) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(4);
  auto* line = new DisclosureLine(this);
  line->setObjectName(QStringLiteral("detailsToggle"));
  toggle_ = line;
  column->addWidget(toggle_, 0, Qt::AlignLeft);

  body_ = new QTextEdit(this);
  body_->setObjectName(QStringLiteral("detailsText"));
  body_->setReadOnly(true);
  body_->setAcceptRichText(false);
  body_->setFrameShape(QFrame::NoFrame);
  body_->setLineWrapMode(QTextEdit::WidgetWidth);
  body_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  body_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  body_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  body_->setFont(Theme::monoFont(10.5));
  body_->document()->setDocumentMargin(6);
  body_->hide();
  column->addWidget(body_);

  connect(toggle_, &QAbstractButton::toggled, this, [this](bool open) {
    body_->setVisible(open);
    if (open) fitBody();
    Q_EMIT expandedChanged(open);
  });
  whenLookChanges(this, [this] { retranslate(); });
  retranslate();
  hide();
}

void DetailsDisclosure::setLanguage(AppLanguage language) {
  language_ = language;
  retranslate();
}

void DetailsDisclosure::setDetails(const QString& text) {
  details_ = text;
  body_->setPlainText(text);
  setVisible(!text.trimmed().isEmpty());
  fitBody();
}

bool DetailsDisclosure::isExpanded() const { return toggle_->isChecked(); }

void DetailsDisclosure::setExpanded(bool expanded) { toggle_->setChecked(expanded); }

void DetailsDisclosure::retranslate() {
  static_cast<DisclosureLine*>(toggle_)->setLabel(LocTexts::text(language_, LocKey::sheetDetails()));
  body_->setAccessibleName(toggle_->accessibleName());
  const Theme::Roles r = Theme::current();
  QPalette palette = body_->palette();
  palette.setColor(QPalette::Base, Theme::withOpacity(r.card, 0.9));
  palette.setColor(QPalette::Text, r.textDim);
  body_->setPalette(palette);
}

// As tall as its text at the width it has, up to the limit; beyond, it scrolls.
void DetailsDisclosure::fitBody() {
  const int width = std::max(body_->viewport()->width(), 80);
  body_->document()->setTextWidth(width);
  const int wanted = qCeil(body_->document()->size().height()) + 2 * body_->frameWidth();
  body_->setFixedHeight(std::clamp(wanted, 24, maxBodyHeight_));
}

bool DetailsDisclosure::event(QEvent* event) {
  if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize) fitBody();
  return QWidget::event(event);
}

}  // namespace tlr
