#include "ui/shell/LegalDocSheet.h"

#include "core/texts/LocTexts.h"

#include "core/stores/SettingsStore.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Theme.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollArea>
#include <QVBoxLayout>

namespace tlr {

QString rawValue(LegalDocKind kind) {
  return kind == LegalDocKind::privacy ? QStringLiteral("privacy") : QStringLiteral("terms");
}

std::optional<LegalDocKind> legalDocKindFromRaw(const QString& raw) {
  if (raw == QLatin1String("privacy")) return LegalDocKind::privacy;
  if (raw == QLatin1String("terms")) return LegalDocKind::terms;
  return std::nullopt;
}

QString legalDocTitle(LegalDocKind kind, AppLanguage language) {
  return LocTexts::text(language,
                             kind == LegalDocKind::privacy ? LocKey::legalPrivacyTitle() : LocKey::legalTermsTitle());
}

QString legalDocText(LegalDocKind kind, AppLanguage language) {
  return LocTexts::text(language, kind == LegalDocKind::privacy ? LocKey::legalPrivacyText() : LocKey::legalTermsText());
}

LegalDocSheet::LegalDocSheet(SettingsStore& store, LegalDocKind kind, QWidget* parent)
    : Sheet(kSize, parent), store_(store), kind_(kind) {
  setObjectName(QStringLiteral("legalDocSheet.") + rawValue(kind));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  title_ = addTitleHeader(column, QStringLiteral("legal"));
  auto* content = new QWidget;
  auto* contentColumn = new QVBoxLayout(content);
  contentColumn->setContentsMargins(24, 20, 24, 20);
  body_ = new QWidget(content);
  body_->setObjectName(QStringLiteral("legalBody"));
  blocks_ = new QVBoxLayout(body_);
  blocks_->setContentsMargins(0, 0, 0, 0);
  blocks_->setSpacing(6);
  contentColumn->addWidget(body_);
  contentColumn->addStretch(1);
  // Text only: the page itself takes the focus and scrolls.
  auto* scroll = new ScrollArea(content, this);
  scroll->setKeyboardScrolling(true);
  column->addWidget(scroll, 1);
  retranslate();
  connect(&store_, &SettingsStore::languageChanged, this, &LegalDocSheet::retranslate);
}

QString LegalDocSheet::shownTitle() const { return title_->fullText(); }
QString LegalDocSheet::shownText() const { return text_; }

void LegalDocSheet::retranslate() {
  setTitle(legalDocTitle(kind_, store_.language()));
  titleCloseButton()->setLanguage(store_.language());
  // The text scrolls from the keyboard too: a Tab stop named after it.
  if (auto* scroll = findChild<QScrollArea*>()) scroll->setAccessibleName(title_->fullText());
  layOut(legalDocText(kind_, store_.language()));
}

void LegalDocSheet::layOut(const QString& text) {
  text_ = text;
  while (QLayoutItem* item = blocks_->takeAt(0)) {
    if (QWidget* w = item->widget()) w->deleteLater();
    delete item;
  }
  const auto label = [this](const QString& content, QFont::Weight weight, const char* name) {
    auto* l = new Label(content, 12.5, weight, TextRole::primary, body_);
    l->setObjectName(QLatin1String(name));
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
  };
  // A mark ("•", "3.") in a column of its own, the text hanging beside it.
  const auto hanging = [this, &label](const QString& mark, int markWidth, QWidget* text) {
    auto* row = new QWidget(body_);
    row->setObjectName(QStringLiteral("legalItem"));
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(4);
    auto* markLabel = label(mark, QFont::Normal, "legalMark");
    markLabel->setWordWrap(false);
    markLabel->setFixedWidth(markWidth);
    markLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    line->addWidget(markLabel, 0, Qt::AlignTop);
    line->addWidget(text, 1);
    return row;
  };
  static const QRegularExpression clause(QStringLiteral("^(\\d+\\.)\\s+(.+?[.。])\\s*(.*)$"));
  const QStringList paragraphs = text.split(QStringLiteral("\n\n"));
  for (int p = 0; p < paragraphs.size(); ++p) {
    if (p > 0) blocks_->addSpacing(8);
    const QStringList lines = paragraphs[p].split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
      const QString& line = lines[i];
      if (line.startsWith(QStringLiteral("• "))) {
        blocks_->addWidget(hanging(QStringLiteral("•"), 12, label(line.mid(2), QFont::Normal, "legalBullet")));
      } else if (const QRegularExpressionMatch m = clause.match(line); m.hasMatch()) {
        auto* texts = new QWidget(body_);
        auto* column = new QVBoxLayout(texts);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(2);
        column->addWidget(label(m.captured(2), QFont::DemiBold, "legalHeading"));
        if (!m.captured(3).isEmpty()) column->addWidget(label(m.captured(3), QFont::Normal, "legalParagraph"));
        blocks_->addWidget(hanging(m.captured(1), 20, texts));
      } else if (i + 1 < lines.size() && lines[i + 1].startsWith(QStringLiteral("• "))) {
        blocks_->addWidget(label(line, QFont::DemiBold, "legalHeading"));
      } else {
        blocks_->addWidget(label(line, QFont::Normal, "legalParagraph"));
      }
    }
  }
}

}  // namespace tlr
