#include "ui/backup/PasswordPromptDialog.h"

#include "ui/backup/BackupUiSupport.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/Sheet.h"
#include "ui/kit/Theme.h"
#include "ui/kit/WindowManagerHints.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QShowEvent>
#include <QVBoxLayout>

namespace tlr {

PasswordPromptDialog::PasswordPromptDialog(const LocKey& reasonKey, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  const QString reason = PasswordVault::promptMessage(reasonKey);
  setObjectName(QStringLiteral("passwordPrompt"));
  setModal(true);
  setWindowTitle(reason);
  setFixedWidth(360);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(20, 20, 20, 16);
  column->setSpacing(8);

  auto* icon = new QLabel(this);
  icon->setPixmap(QPixmap::fromImage(Glyphs::image(u"key.fill", Theme::current().accent, 32, devicePixelRatioF())));
  icon->setFixedSize(36, 36);
  column->addWidget(icon);

  message_ = new Label(reason, 13, QFont::DemiBold, TextRole::primary, this);
  message_->setObjectName(QStringLiteral("passwordPromptMessage"));
  message_->setWordWrap(true);
  column->addWidget(message_);

  informative_ = new Label(PasswordVault::promptInformativeText(), 11, QFont::Normal, TextRole::dim, this);
  informative_->setObjectName(QStringLiteral("passwordPromptInformative"));
  informative_->setWordWrap(true);
  column->addWidget(informative_);

  field_ = new backupui::SecureField(this);
  field_->setObjectName(QStringLiteral("passwordPromptField"));
  field_->setPlaceholder(PasswordVault::promptPlaceholder());
  field_->setAccessibleName(reason);
  field_->setFixedSize(280, 24);
  column->addSpacing(4);
  column->addWidget(field_, 0, Qt::AlignLeft);
  column->addSpacing(8);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(8);
  buttons->addStretch(1);
  cancel_ = new SecondaryButton(PasswordVault::promptCancelTitle(), QString(), Theme::current().textDim, this);
  cancel_->setObjectName(QStringLiteral("passwordPromptCancel"));
  confirm_ = new PrimaryButton(PasswordVault::promptConfirmTitle(), QString(), this);
  confirm_->setObjectName(QStringLiteral("passwordPromptConfirm"));
  // The first button is the default one: on the right, where Return goes.
  buttons->addWidget(cancel_);
  buttons->addWidget(confirm_);
  column->addLayout(buttons);

  connect(confirm_, &QAbstractButton::clicked, this, &PasswordPromptDialog::confirm);
  connect(cancel_, &QAbstractButton::clicked, this, &QDialog::reject);
  connect(field_, &QLineEdit::returnPressed, this, &PasswordPromptDialog::confirm);
  connect(this, &QDialog::finished, this, [this] { field_->wipe(); });
  // As tall as its wrapped question needs (descenders included).
  setFixedHeight(column->totalHeightForWidth(360));
}

PasswordPromptDialog::~PasswordPromptDialog() { field_->wipe(); }

void PasswordPromptDialog::confirm() {
  // Taken unchanged: blanks are part of a password.
  const QString typed = field_->text();
  answer_ = typed.isEmpty() ? std::nullopt : std::optional<QString>(typed);
  accept();
}

std::optional<QString> PasswordPromptDialog::takeAnswer() {
  std::optional<QString> answer = std::move(answer_);
  answer_.reset();
  return answer;
}

void PasswordPromptDialog::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) WindowManagerHints::keepWithItsWindow(this);
  QDialog::showEvent(event);
  field_->setFocus(Qt::OtherFocusReason);
}

void PasswordPromptDialog::paintEvent(QPaintEvent*) { paintSheetBackground(this); }

std::optional<QString> PasswordPromptDialog::ask(const LocKey& reason, QWidget* parent) {
  PasswordPromptDialog dialog(reason, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.takeAnswer();
}

std::optional<QString> DialogPasswordPrompt::askPassword(const LocKey& reason) {
  QWidget* parent = QApplication::activeModalWidget();
  if (!parent) parent = QApplication::activeWindow();
  return PasswordPromptDialog::ask(reason, parent);
}

bool installDialogPasswordPrompt() {
  const QString platform = QGuiApplication::platformName();
  if (platform.isEmpty() || platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
    return false;
  }
  PasswordVault::setPrompt(std::make_shared<DialogPasswordPrompt>());
  return true;
}

}  // namespace tlr
