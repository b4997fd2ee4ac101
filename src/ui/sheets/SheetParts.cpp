#include "ui/sheets/SheetParts.h"

#include "core/stores/SettingsStore.h"
#include "ui/kit/ScrollArea.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLayout>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollArea>
#include <QTextLayout>
#include <QVBoxLayout>

#include <cmath>

namespace tlr::sheets {


QColor failureColor() { return Theme::current().crashSymbol; }

// ---- Footer text button ---------------------------------------------------------------

LinkButton* footerTextButton(const QString& label) {
  auto* button = new LinkButton(label, 12);
  button->setPlain(TextRole::dim);
  return button;
}

// ---- ElidedText ---------------------------------------------------------------------------

ElidedText::ElidedText(const QString& text, const QFont& font, ColorFn color, int maxLines, QWidget* parent)
    : QWidget(parent), text_(text), font_(font), color_(std::move(color)), maxLines_(std::max(1, maxLines)) {
  setAccessibleName(text);
  setFont(font);
  QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
  whenLookChanges(this);
}

QStringList ElidedText::lines(int width) const {
  const qreal w = std::max(20, width);
  // Lines break at blanks only (a command's "x-terminal" or "--flag" stays
  // whole); a word longer than a line breaks where it must. Each line keeps
  // its blanks, so the lines put together are the text.
  const QFontMetricsF fit(font_);
  const auto measured = [&](const QString& s) {
    qsizetype end = s.size();
    while (end > 0 && s.at(end - 1).isSpace()) --end;
    return fit.horizontalAdvance(s.left(end));
  };
  auto wrap = [&](const QString& text) {
    static const QRegularExpression words(QStringLiteral("\\S+\\s*|\\s+"));
    QStringList out;
    QString line;
    for (auto it = words.globalMatch(text); it.hasNext();) {
      const QString word = it.next().captured();
      if (!line.isEmpty() && measured(line + word) > w) {
        out.append(line);
        line.clear();
      }
      line += word;
      while (line.size() > 1 && measured(line) > w) {
        qsizetype keep = 1;
        while (keep < line.size() && measured(line.left(keep + 1)) <= w) ++keep;
        out.append(line.left(keep));
        line = line.mid(keep);
      }
    }
    if (!line.isEmpty() || out.isEmpty()) out.append(line);
    return out;
  };
  // Each line of the text wraps on its own: its line breaks are kept.
  QStringList wrapped;
  for (const QString& paragraph : text_.split(QLatin1Char('\n'))) wrapped += wrap(paragraph);
  if (wrapped.size() <= maxLines_) return wrapped;
  const QFontMetricsF metrics(font_);
  if (maxLines_ > 1 && text_.contains(QLatin1Char('\n'))) {
    // Too many lines: the first ones and the last, which says how it ended.
    QStringList kept = wrapped.mid(0, maxLines_ - 1);
    kept.last() = metrics.elidedText(kept.last() + QStringLiteral(" …"), Qt::ElideRight, w);
    kept.append(metrics.elidedText(wrapped.last(), Qt::ElideLeft, w));
    return kept;
  }
  // One long paragraph: keep its beginning and its end, drop the middle.
  const QString flat = text_;
  qreal budget = w * maxLines_ - metrics.averageCharWidth() * 2 * maxLines_;
  for (int attempt = 0; attempt < 8; ++attempt) {
    wrapped = wrap(metrics.elidedText(flat, Qt::ElideMiddle, budget));
    if (wrapped.size() <= maxLines_) return wrapped;
    budget *= 0.9;
  }
  return wrapped.mid(0, maxLines_);
}

QString ElidedText::shownText() const { return lines(width()).join(QString()); }

int ElidedText::heightForWidth(int width) const {
  const QFontMetricsF metrics(font_);
  return static_cast<int>(std::ceil(metrics.lineSpacing() * std::max<qsizetype>(1, lines(width).size())));
}

QSize ElidedText::sizeHint() const {
  const QFontMetricsF metrics(font_);
  const int w = std::min(360, static_cast<int>(std::ceil(metrics.horizontalAdvance(text_))) + 2);
  return QSize(w, heightForWidth(w));
}

QSize ElidedText::minimumSizeHint() const {
  const QFontMetricsF metrics(font_);
  return QSize(40, static_cast<int>(std::ceil(metrics.lineSpacing())));
}

void ElidedText::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setFont(font_);
  p.setPen(color_ ? color_() : Theme::current().text);
  const QFontMetricsF metrics(font_);
  qreal y = 0;
  for (const QString& line : lines(width())) {
    p.drawText(QRectF(0, y, width(), metrics.lineSpacing()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               line);
    y += metrics.lineSpacing();
  }
}

// ---- StepRowView ------------------------------------------------------------------------------

StepRowView::StepRowView(const StepResult& step, qreal labelPixels, int errorLines, const SettingsStore& settings,
                         QWidget* parent)
    : QWidget(parent), step_(step) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(6);
  row->setAlignment(Qt::AlignTop);

  const bool ok = step.success;
  auto* mark = new SymbolView(ok ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("xmark.circle.fill"),
                              Glyphs::sizeForFont(11),
                              ok ? Theme::role(&Theme::Roles::workingSymbol)
                                 : SymbolView::ColorFn([] { return Theme::withOpacity(failureColor(), 0.8); }));
  mark->setObjectName(QStringLiteral("stepMark"));
  mark->setAccessibleName(ok ? QStringLiteral("✓") : QStringLiteral("✗"));
  auto* markColumn = new QVBoxLayout;
  markColumn->setContentsMargins(0, 2, 0, 0);
  markColumn->addWidget(mark);
  markColumn->addStretch();
  row->addLayout(markColumn);

  auto* texts = new QVBoxLayout;
  texts->setContentsMargins(0, 0, 0, 0);
  texts->setSpacing(2);
  auto* label = new ElidedText(settings.text(step.label), monoFont(labelPixels), [] { return Theme::current().text; }, 2);
  label->setObjectName(QStringLiteral("stepLabel"));
  texts->addWidget(label);
  if (step.error) {
    auto* error = new ElidedText(settings.text(*step.error), Theme::font(10),
                                 ok ? ElidedText::ColorFn([] { return Theme::current().textDim; })
                                    : ElidedText::ColorFn([] { return roleColor(TextRole::failure); }),
                                 errorLines);
    error->setObjectName(QStringLiteral("stepError"));
    texts->addWidget(error);
  }
  if (step.details) {
    // What the program printed, on request.
    auto* details = new DetailsDisclosure(this);
    details->setObjectName(QStringLiteral("stepDetails"));
    details->setDetails(*step.details);
    details->setLanguage(settings.language());
    whenLookChanges(details, [details, &settings] { details->setLanguage(settings.language()); });
    texts->addWidget(details);
  }
  row->addLayout(texts, 1);
  setAccessibleName(settings.text(step.label));
}

// ---- Header, scroll area, fonts -------------------------------------------------------------------

Header makeHeader(const QString& symbol, SymbolView::ColorFn symbolColor, qreal titlePixels, qreal symbolPixels,
                  QMargins margins, const SettingsStore& settings, QWidget* parent) {
  Header header;
  header.widget = new QWidget(parent);
  auto* row = new QHBoxLayout(header.widget);
  row->setContentsMargins(margins);
  row->setSpacing(10);
  header.symbol = new SymbolView(symbol, Glyphs::sizeForFont(symbolPixels), std::move(symbolColor), header.widget);
  header.title = new Label(QString(), titlePixels, QFont::DemiBold, TextRole::primary, header.widget);
  header.title->setObjectName(QStringLiteral("sheetTitle"));
  header.title->setElided(true);
  header.close = new CloseButton(header.widget);
  const auto nameClose = [close = header.close, &settings] { close->setLanguage(settings.language()); };
  nameClose();
  whenLookChanges(header.close, nameClose);
  row->addWidget(header.symbol, 0, Qt::AlignVCenter);
  row->addWidget(header.title, 1, Qt::AlignVCenter);
  row->addWidget(header.close, 0, Qt::AlignVCenter);
  return header;
}

SheetStart startSheet(QWidget* sheet, const QString& symbol, SymbolView::ColorFn symbolColor,
                      const SettingsStore& settings, const QString& closeName) {
  SheetStart start;
  start.column = new QVBoxLayout(sheet);
  start.column->setContentsMargins(0, 0, 0, 0);
  start.column->setSpacing(0);
  start.header = makeHeader(symbol, std::move(symbolColor), 16, 14, QMargins(22, 16, 22, 16), settings, sheet);
  start.header.close->setObjectName(closeName);
  start.column->addWidget(start.header.widget);
  return start;
}

Divider* sheetLine(QWidget* parent) { return new Divider(0.1, 0.14, parent); }

BodyAndFooter addBodyAndFooter(QVBoxLayout* column, QWidget* sheet, const QString& footerName) {
  column->addWidget(sheetLine(sheet));
  auto* body = new QWidget;
  auto* bodyLayout = new QVBoxLayout(body);
  bodyLayout->setContentsMargins(22, 18, 22, 18);
  bodyLayout->setSpacing(0);
  column->addWidget(makeScrollArea(body, sheet), 1);
  column->addWidget(sheetLine(sheet));

  auto* footer = new QWidget(sheet);
  footer->setObjectName(footerName);
  auto* footerLayout = new QHBoxLayout(footer);
  footerLayout->setContentsMargins(22, 12, 22, 12);
  footerLayout->setSpacing(10);
  column->addWidget(footer);
  return {bodyLayout, footerLayout};
}

QScrollArea* makeScrollArea(QWidget* content, QWidget* parent) { return new ScrollArea(content, parent); }

QFont monoFont(qreal pixels, QFont::Weight weight) { return Theme::monoFont(pixels, weight); }

void clearLayout(QLayout* layout) {
  while (QLayoutItem* item = layout->takeAt(0)) {
    // A widget may be the one whose click led here: take it out of the
    // sheet at once and free it once its own event handling has finished.
    if (QWidget* widget = item->widget()) {
      widget->hide();
      widget->setParent(nullptr);
      widget->deleteLater();
    }
    if (QLayout* child = item->layout()) {
      clearLayout(child);
    }
    delete item;
  }
}

}  // namespace tlr::sheets
