#include "ui/backup/FirstTimeSetupSheet.h"

#include "core/stores/SettingsStore.h"
#include "presentation/BackupTexts.h"
#include "ui/backup/BackupUiSupport.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Theme.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace tlr {

using backupui::makeLabel;
using backuptext::text;

namespace {

Label* wrapped(const QString& name, qreal pixels, QFont::Weight weight, TextRole role, QWidget* parent) {
  return makeLabel(parent, name, pixels, weight, role, true);
}

}  // namespace

FirstTimeSetupSheet::FirstTimeSetupSheet(std::function<void()> onClose, std::function<void()> onDone,
                                         const SettingsStore& settings, QWidget* parent,
                                         FirstTimeSetupSession::Create create)
    : Sheet(QSize(460, 440), parent), settings_(settings), session_(new FirstTimeSetupSession(this, std::move(create))),
      onDone_(std::move(onDone)) {
  setObjectName(QStringLiteral("firstTimeSetupSheet"));
  setOnClose(std::move(onClose));
  build();
  connect(session_, &FirstTimeSetupSession::changed, this, &FirstTimeSetupSheet::retranslate);
  connect(session_, &FirstTimeSetupSession::created, this, &FirstTimeSetupSheet::finishCreate);
  whenLookChanges(this, [this] { retranslate(); });
  goToStep(1);
  retranslate();
}

FirstTimeSetupSheet::~FirstTimeSetupSheet() { wipeFields(); }

void FirstTimeSetupSheet::build() {
  QVBoxLayout* column = addTitleHeaderAndBody(QStringLiteral("firstSetup"), QMargins(24, 16, 24, 20), 10);
  stepLabel_ = wrapped(QStringLiteral("firstSetupStep"), 11, QFont::Medium, TextRole::accent, this);
  column->addWidget(stepLabel_);
  pages_ = new QStackedWidget(this);
  column->addWidget(pages_, 1);
  pages_->addWidget(buildPlaceStep());
  pages_->addWidget(buildPasswordStep());
  connectControls();
}

// Step 1: where the image goes, and "Change…".
QWidget* FirstTimeSetupSheet::buildPlaceStep() {
  auto* place = new QWidget(pages_);
  auto* placeColumn = new QVBoxLayout(place);
  placeColumn->setContentsMargins(0, 0, 0, 0);
  placeColumn->setSpacing(8);
  intro_ = wrapped(QStringLiteral("firstSetupIntro"), 13, QFont::Medium, TextRole::primary, place);
  introDetail_ = wrapped(QStringLiteral("firstSetupIntroDetail"), 11.5, QFont::Normal, TextRole::dim, place);
  placeColumn->addWidget(intro_);
  placeColumn->addWidget(introDetail_);
  auto* card = new Card(place);
  auto* cardColumn = new QVBoxLayout(card);
  cardColumn->setContentsMargins(14, 12, 14, 12);
  locationTitle_ = wrapped(QStringLiteral("firstSetupLocationLabel"), 11, QFont::DemiBold, TextRole::faint, card);
  auto* pathRow = new QHBoxLayout;
  locationPath_ = wrapped(QStringLiteral("firstSetupLocationPath"), 12, QFont::Normal, TextRole::primary, card);
  locationPath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  change_ = new SecondaryButton(QString(), QStringLiteral("folder.fill"), std::nullopt, card);
  change_->setObjectName(QStringLiteral("firstSetupChangeLocation"));
  pathRow->addWidget(locationPath_, 1);
  pathRow->addWidget(change_, 0, Qt::AlignVCenter);
  locationHint_ = wrapped(QStringLiteral("firstSetupLocationHint"), 11, QFont::Normal, TextRole::dim, card);
  cardColumn->addWidget(locationTitle_);
  cardColumn->addLayout(pathRow);
  cardColumn->addWidget(locationHint_);
  placeColumn->addWidget(card);
  placeColumn->addStretch(1);
  auto* placeButtons = new QHBoxLayout;
  placeButtons->addStretch(1);
  next_ = new PrimaryButton(QString(), QString(), place);
  next_->setObjectName(QStringLiteral("firstSetupNext"));
  placeButtons->addWidget(next_);
  placeColumn->addLayout(placeButtons);
  return place;
}

// Step 2: the password twice, its strength, the busy bar, Back and Create.
QWidget* FirstTimeSetupSheet::buildPasswordStep() {
  auto* secret = new QWidget(pages_);
  auto* secretColumn = new QVBoxLayout(secret);
  secretColumn->setContentsMargins(0, 0, 0, 0);
  secretColumn->setSpacing(6);
  passwordTitle_ = wrapped(QStringLiteral("firstSetupPasswordTitle"), 13, QFont::Medium, TextRole::primary, secret);
  passwordIntro_ = wrapped(QStringLiteral("firstSetupPasswordIntro"), 11.5, QFont::Normal, TextRole::dim, secret);
  passwordLabel_ = wrapped(QStringLiteral("firstSetupPasswordLabel"), 11, QFont::DemiBold, TextRole::faint, secret);
  password_ = new backupui::SecureField(secret);
  password_->setObjectName(QStringLiteral("firstSetupPassword"));
  strength_ = wrapped(QStringLiteral("firstSetupStrength"), 11, QFont::Medium, TextRole::dim, secret);
  againLabel_ = wrapped(QStringLiteral("firstSetupPasswordAgain"), 11, QFont::DemiBold, TextRole::faint, secret);
  again_ = new backupui::SecureField(secret);
  again_->setObjectName(QStringLiteral("firstSetupPasswordAgainField"));
  mismatch_ = wrapped(QStringLiteral("firstSetupMismatch"), 11, QFont::Medium, TextRole::failure, secret);
  error_ = new backupui::MessageLine(QStringLiteral("firstSetupError"), 11, settings_, secret);
  busy_ = new QProgressBar(secret);
  busy_->setObjectName(QStringLiteral("firstSetupBusy"));
  busy_->setRange(0, 0);
  busy_->setTextVisible(false);
  busy_->setFixedHeight(4);
  for (QWidget* w : std::initializer_list<QWidget*>{passwordTitle_, passwordIntro_, passwordLabel_, password_,
                                                    strength_, againLabel_, again_, mismatch_, busy_, error_}) {
    secretColumn->addWidget(w);
  }
  secretColumn->addStretch(1);
  auto* secretButtons = new QHBoxLayout;
  back_ = new SecondaryButton(QString(), QString(), Theme::current().textDim, secret);
  back_->setObjectName(QStringLiteral("firstSetupPrev"));
  createButton_ = new PrimaryButton(QString(), QStringLiteral("lock.fill"), secret);
  createButton_->setObjectName(QStringLiteral("firstSetupCreate"));
  secretButtons->addWidget(back_);
  secretButtons->addStretch(1);
  secretButtons->addWidget(createButton_);
  secretColumn->addLayout(secretButtons);
  return secret;
}

void FirstTimeSetupSheet::connectControls() {
  connect(next_, &QAbstractButton::clicked, this, [this] { goToStep(2); });
  connect(back_, &QAbstractButton::clicked, this, [this] { goToStep(1); });
  connect(change_, &QAbstractButton::clicked, this, &FirstTimeSetupSheet::changeLocation);
  connect(createButton_, &QAbstractButton::clicked, this, &FirstTimeSetupSheet::create);
  connect(password_, &QLineEdit::textChanged, this, &FirstTimeSetupSheet::updatePasswordState);
  connect(again_, &QLineEdit::textChanged, this, &FirstTimeSetupSheet::updatePasswordState);
  connect(again_, &QLineEdit::returnPressed, this, &FirstTimeSetupSheet::create);
  // Whatever closes the sheet, the typed password does not stay in it.
  connect(this, &Sheet::dismissed, this, &FirstTimeSetupSheet::wipeFields);
}

int FirstTimeSetupSheet::step() const { return pages_->currentIndex() + 1; }

void FirstTimeSetupSheet::wipeFields() {
  password_->wipe();
  again_->wipe();
}

void FirstTimeSetupSheet::retranslate() {
  setTitle(text(LocKey::firstSetupTitle()));
  titleCloseButton()->setLanguage(settings_.language());
  const int current = step();
  stepLabel_->setPlainText(text(LocKey::firstSetupStepLabel(
      current, current == 1 ? text(LocKey::firstSetupStepChooseLocation()) : text(LocKey::firstSetupStepSetPassword()))));
  intro_->setPlainText(text(LocKey::firstSetupIntro()));
  introDetail_->setPlainText(text(LocKey::firstSetupIntroDetail()));
  locationTitle_->setPlainText(text(LocKey::firstSetupLocationLabel()));
  // The folder the image goes into: its stored file name is no word of this window.
  locationPath_->setPathText(QFileInfo(session_->imagePath()).path());
  change_->setLabel(text(LocKey::firstSetupChangeLocation()));
  locationHint_->setPlainText(text(LocKey::firstSetupLocationHint()));
  next_->setLabel(text(LocKey::firstSetupNext()));
  passwordTitle_->setPlainText(text(LocKey::firstSetupPasswordTitle()));
  passwordIntro_->setPlainText(text(LocKey::firstSetupPasswordIntro()));
  passwordLabel_->setPlainText(text(LocKey::firstSetupPasswordLabel()));
  password_->setPlaceholder(text(LocKey::firstSetupPasswordMinPlaceholder()));
  password_->setAccessibleName(text(LocKey::firstSetupPasswordLabel()));
  againLabel_->setPlainText(text(LocKey::firstSetupPasswordAgain()));
  again_->setPlaceholder(text(LocKey::firstSetupPasswordAgainPlaceholder()));
  again_->setAccessibleName(text(LocKey::firstSetupPasswordAgain()));
  mismatch_->setPlainText(text(LocKey::firstSetupPasswordMismatch()));
  back_->setLabel(text(LocKey::firstSetupPrev()));
  createButton_->setLabel(session_->isCreating() ? text(LocKey::firstSetupCreatingLabel())
                                                 : text(LocKey::firstSetupCreateButton()));
  updatePasswordState();
}

void FirstTimeSetupSheet::goToStep(int step) {
  pages_->setCurrentIndex(step - 1);
  retranslate();
  if (step == 2) password_->setFocus(Qt::OtherFocusReason);
}

void FirstTimeSetupSheet::showStrength() {
  const QString first = password_->text();
  if (first.isEmpty()) {
    strength_->setPlainText(QString());
    return;
  }
  if (FirstTimeSetupSession::passwordTooLong(first)) {
    // Refused as it is typed: the image tool would not take it.
    strength_->setPlainText(FirstTimeSetupSession::passwordTooLongText());
    strength_->setRole(TextRole::failure);
    return;
  }
  switch (FirstTimeSetupSession::strengthOf(first)) {
    case FirstTimeSetupSession::Strength::weakest:
      strength_->setPlainText(text(LocKey::firstSetupPasswordWeakest()));
      strength_->setRole(TextRole::failure);
      break;
    case FirstTimeSetupSession::Strength::weak:
      strength_->setPlainText(text(LocKey::firstSetupPasswordWeak()));
      strength_->setRole(TextRole::warning);
      break;
    case FirstTimeSetupSession::Strength::medium:
      strength_->setPlainText(text(LocKey::firstSetupPasswordMedium()));
      strength_->setRole(TextRole::caution);
      break;
    case FirstTimeSetupSession::Strength::strong:
      strength_->setPlainText(text(LocKey::firstSetupPasswordStrong()));
      strength_->setRole(TextRole::success);
      break;
  }
}

void FirstTimeSetupSheet::updatePasswordState() {
  showStrength();
  const bool creating = session_->isCreating();
  mismatch_->setVisible(FirstTimeSetupSession::passwordsDiffer(password_->text(), again_->text()));
  busy_->setVisible(creating);
  error_->showLatestFailure(session_->failure());
  error_->setVisible(!error_->isEmpty() && !creating);
  createButton_->setEnabled(session_->canCreate(password_->text(), again_->text()));
  back_->setEnabled(!creating);
  password_->setEnabled(!creating);
  again_->setEnabled(!creating);
}

void FirstTimeSetupSheet::changeLocation() {
  if (session_->isCreating()) return;
  const QString folder =
      QFileDialog::getExistingDirectory(this, text(LocKey::firstSetupChooseLocationTitle()), QDir::homePath());
  if (!folder.isEmpty()) session_->chooseFolder(folder);
}

void FirstTimeSetupSheet::create() { session_->create(password_->text(), again_->text()); }

void FirstTimeSetupSheet::finishCreate() {
  wipeFields();
  if (onDone_) onDone_();
  requestClose();
}

}  // namespace tlr
