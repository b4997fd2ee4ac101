#include "ui/backup/BackupUiSupport.h"

#include "core/stores/SettingsStore.h"
#include "presentation/BackupTexts.h"
#include "ui/kit/Controls.h"
#include "ui/kit/DetailsDisclosure.h"
#include "ui/kit/LineBreaks.h"
#include "ui/kit/Theme.h"

#include <QVBoxLayout>

namespace tlr::backupui {

Label* makeLabel(QWidget* parent, const QString& name, qreal pixels, QFont::Weight weight, TextRole role, bool wrap) {
  auto* label = new Label(QString(), pixels, weight, role, parent);
  label->setObjectName(name);
  label->setWordWrap(wrap);
  return label;
}

SecureField::SecureField(QWidget* parent) : QLineEdit(parent) {
  setEchoMode(QLineEdit::Password);
  setContextMenuPolicy(Qt::NoContextMenu);
  setDragEnabled(false);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setFixedHeight(28);
  lookLikeAField(this, 13, 8);
}

void SecureField::wipe() {
  // Overwrite what the field holds before letting it go, so the typed text
  // does not linger in the field's own buffer.
  const int length = text().size();
  if (length > 0) setText(QString(length, QLatin1Char('\0')));
  clear();
}

void SecureField::setPlaceholder(const QString& placeholder) {
  setPlaceholderText(placeholder);
  setAccessibleDescription(placeholder);
}

MessageLine::MessageLine(const QString& objectName, qreal pixels, const SettingsStore& settings, QWidget* parent)
    : QWidget(parent), settings_(settings) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  label_ = makeLabel(this, objectName, pixels, QFont::Medium, TextRole::primary, true);
  label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  details_ = new DetailsDisclosure(this);
  details_->setObjectName(objectName + QStringLiteral("Details"));
  const auto nameDetails = [details = details_, &settings] { details->setLanguage(settings.language()); };
  nameDetails();
  whenLookChanges(details_, nameDetails);
  column->addWidget(label_);
  column->addWidget(details_);
  refresh();
}

void MessageLine::showFailure(const EngineMessage& message) {
  failure_ = message;
  text_.clear();
  details_->setExpanded(false);
  refresh();
}

void MessageLine::showLatestFailure(const std::optional<EngineMessage>& failure) {
  if (!failure) {
    clear();
  } else if (failure_ != failure) {
    showFailure(*failure);
  } else {
    refresh();
  }
}

void MessageLine::showText(const QString& text) {
  failure_.reset();
  text_ = text;
  success_ = false;
  refresh();
}

void MessageLine::showSuccess(const QString& text) {
  showText(text);
  success_ = true;
  refresh();
}

void MessageLine::clear() { showText(QString()); }

QString MessageLine::shownText() const { return failure_ ? settings_.text(failure_->key) : text_; }

void MessageLine::retranslate() { refresh(); }

void MessageLine::refresh() {
  // A long path in it (a volume's) wraps within the line; read out whole.
  label_->setPlainText(LineBreaks::breakLongRuns(shownText()));
  label_->setAccessibleName(shownText());
  if (failure_) {
    label_->setRole(TextRole::failure);
  } else if (success_) {
    label_->setRole(TextRole::success);
  } else {
    label_->setRole(TextRole::primary);
  }
  // The disclosure hides itself when there is nothing to disclose.
  details_->setDetails(failure_ ? failure_->details.trimmed() : QString());
  label_->setVisible(!shownText().isEmpty());
  setVisible(!shownText().isEmpty());
}

}  // namespace tlr::backupui
