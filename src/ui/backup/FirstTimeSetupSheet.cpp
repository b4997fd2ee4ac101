#include "ui/backup/FirstTimeSetupSheet.h"

#include "backup/BackupVolume.h"
#include "platform/OffMain.h"
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

using backupui::pick;
using backupui::text;

namespace {

Label* wrapped(const QString& name, qreal pixels, QFont::Weight weight, TextRole role, QWidget* parent) {
  auto* label = new Label(QString(), pixels, weight, role, parent);
  label->setObjectName(name);
  label->setWordWrap(true);
  return label;
}

}  // namespace

FirstTimeSetupSheet::Strength FirstTimeSetupSheet::strengthOf(const QString& password) {
  if (password.size() < kMinimumPasswordLength) return Strength::weakest;
  bool lower = false, upper = false, digit = false, other = false;
  for (const QChar c : password) {
    if (c.isLower()) lower = true;
    else if (c.isUpper()) upper = true;
    else if (c.isDigit()) digit = true;
    else other = true;
  }
  const int kinds = int(lower) + int(upper) + int(digit) + int(other);
  if (kinds <= 1) return Strength::weak;
  if (kinds == 2 || password.size() < 12) return Strength::medium;
  return Strength::strong;
}

FirstTimeSetupSheet::FirstTimeSetupSheet(std::function<void()> onClose, std::function<void()> onDone,
                                         QWidget* parent, Operations operations)
    : Sheet(QSize(460, 440), parent), onDone_(std::move(onDone)), ops_(std::move(operations)) {
  setObjectName(QStringLiteral("firstTimeSetupSheet"));
  setOnClose(std::move(onClose));
  imagePath_ = BackupVolume::defaultImagePath();

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(24, 20, 24, 20);
  column->setSpacing(10);
  header_ = new backupui::SheetHeader(QStringLiteral("firstSetup"), this);
  column->addWidget(header_);
  stepLabel_ = wrapped(QStringLiteral("firstSetupStep"), 11, QFont::Medium, TextRole::accent, this);
  column->addWidget(stepLabel_);

  pages_ = new QStackedWidget(this);
  column->addWidget(pages_, 1);

  // ---- step 1: the place ----
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
  pages_->addWidget(place);

  // ---- step 2: the password ----
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
  mismatch_ = wrapped(QStringLiteral("firstSetupMismatch"), 11, QFont::Medium, TextRole::primary, secret);
  mismatch_->setColor(Theme::crash);
  error_ = new backupui::MessageLine(QStringLiteral("firstSetupError"), 11, secret);
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
  pages_->addWidget(secret);

  connect(header_->closeButton(), &QAbstractButton::clicked, this, &Sheet::requestClose);
  connect(next_, &QAbstractButton::clicked, this, [this] { goToStep(2); });
  connect(back_, &QAbstractButton::clicked, this, [this] { goToStep(1); });
  connect(change_, &QAbstractButton::clicked, this, &FirstTimeSetupSheet::changeLocation);
  connect(createButton_, &QAbstractButton::clicked, this, &FirstTimeSetupSheet::create);
  connect(password_, &QLineEdit::textChanged, this, &FirstTimeSetupSheet::updatePasswordState);
  connect(again_, &QLineEdit::textChanged, this, &FirstTimeSetupSheet::updatePasswordState);
  connect(again_, &QLineEdit::returnPressed, this, &FirstTimeSetupSheet::create);
  // Whatever closes the sheet, the typed password does not stay in it.
  connect(this, &Sheet::dismissed, this, &FirstTimeSetupSheet::wipeFields);

  whenLookChanges(this, [this] { retranslate(); });
  goToStep(1);
  retranslate();
}

FirstTimeSetupSheet::~FirstTimeSetupSheet() { wipeFields(); }

FirstTimeSetupSheet::Operations FirstTimeSetupSheet::standardOperations() {
  Operations ops;
  ops.create = [](const QString& path, const QString& password) -> std::optional<EngineMessage> {
    const BackupVolume::Result created = BackupVolume::create(path, password);
    if (!created) return created.error().message();
    // Prove the password opens the new image, then leave it as it was.
    const bool wasMounted = BackupVolume::isMounted();
    const BackupVolume::Result mounted = BackupVolume::mount(password);
    if (!mounted) return mounted.error().message();
    if (!wasMounted) BackupVolume::unmount();
    return std::nullopt;
  };
  ops.chooseFolder = [](QWidget* parent) -> std::optional<QString> {
    const QString folder = QFileDialog::getExistingDirectory(parent, text(LocKey::firstSetupChooseLocationTitle()),
                                                             QDir::homePath());
    if (folder.isEmpty()) return std::nullopt;
    return folder;
  };
  return ops;
}

int FirstTimeSetupSheet::step() const { return pages_->currentIndex() + 1; }

void FirstTimeSetupSheet::wipeFields() {
  password_->wipe();
  again_->wipe();
}

void FirstTimeSetupSheet::retranslate() {
  header_->setTitle(text(LocKey::firstSetupTitle()));
  const int current = step();
  stepLabel_->setPlainText(text(LocKey::firstSetupStepLabel(
      current, current == 1 ? text(LocKey::firstSetupStepChooseLocation()) : text(LocKey::firstSetupStepSetPassword()))));
  intro_->setPlainText(text(LocKey::firstSetupIntro()));
  introDetail_->setPlainText(text(LocKey::firstSetupIntroDetail()));
  locationTitle_->setPlainText(text(LocKey::firstSetupLocationLabel()));
  locationPath_->setPathText(imagePath_);
  change_->setLabel(text(LocKey::firstSetupChangeLocation()));
  locationHint_->setPlainText(text(LocKey::firstSetupLocationHint()));
  next_->setLabel(text(LocKey::firstSetupNext()));
  passwordTitle_->setPlainText(text(LocKey::firstSetupPasswordTitle()));
  passwordIntro_->setPlainText(text(LocKey::firstSetupPasswordIntro()));
  passwordLabel_->setPlainText(text(LocKey::firstSetupPasswordLabel()));
  password_->setPlaceholder(text(LocKey::firstSetupPasswordMinPlaceholder()));
  againLabel_->setPlainText(text(LocKey::firstSetupPasswordAgain()));
  again_->setPlaceholder(text(LocKey::firstSetupPasswordAgainPlaceholder()));
  mismatch_->setPlainText(text(LocKey::firstSetupPasswordMismatch()));
  back_->setLabel(text(LocKey::firstSetupPrev()));
  createButton_->setLabel(creating_ ? text(LocKey::firstSetupCreatingLabel()) : text(LocKey::firstSetupCreateButton()));
  updatePasswordState();
}

void FirstTimeSetupSheet::goToStep(int step) {
  pages_->setCurrentIndex(step - 1);
  retranslate();
  if (step == 2) password_->setFocus(Qt::OtherFocusReason);
}

void FirstTimeSetupSheet::updatePasswordState() {
  const QString first = password_->text();
  const QString second = again_->text();
  if (first.isEmpty()) {
    strength_->setPlainText(QString());
  } else {
    switch (strengthOf(first)) {
      case Strength::weakest:
        strength_->setPlainText(text(LocKey::firstSetupPasswordWeakest()));
        strength_->setColor(Theme::crash);
        break;
      case Strength::weak:
        strength_->setPlainText(text(LocKey::firstSetupPasswordWeak()));
        strength_->setColor(Theme::orange);
        break;
      case Strength::medium:
        strength_->setPlainText(text(LocKey::firstSetupPasswordMedium()));
        strength_->setColor(Theme::amber);
        break;
      case Strength::strong:
        strength_->setPlainText(text(LocKey::firstSetupPasswordStrong()));
        strength_->setColor(Theme::current().working);
        break;
    }
  }
  const bool mismatch = !second.isEmpty() && first != second;
  mismatch_->setVisible(mismatch);
  busy_->setVisible(creating_);
  error_->retranslate();
  error_->setVisible(!error_->isEmpty() && !creating_);
  const bool ready = first.size() >= kMinimumPasswordLength && first == second;
  createButton_->setEnabled(ready && !creating_);
  back_->setEnabled(!creating_);
  password_->setEnabled(!creating_);
  again_->setEnabled(!creating_);
}

void FirstTimeSetupSheet::changeLocation() {
  if (!ops_.chooseFolder || creating_) return;
  const std::optional<QString> folder = ops_.chooseFolder(this);
  if (!folder) return;
  imagePath_ = QDir(*folder).filePath(QFileInfo(BackupVolume::defaultImagePath()).fileName());
  retranslate();
}

void FirstTimeSetupSheet::create() {
  if (creating_ || !createButton_->isEnabled() || !ops_.create) return;
  creating_ = true;
  error_->clear();
  retranslate();
  const QString path = imagePath_;
  QString password = password_->text();
  auto work = [create = ops_.create, path, password]() mutable {
    std::optional<EngineMessage> error = create(path, password);
    password.fill(QLatin1Char('\0'));
    return error;
  };
  runOffMain(this, std::move(work), [this](std::optional<EngineMessage> error) { finishCreate(error); });
}

void FirstTimeSetupSheet::finishCreate(const std::optional<EngineMessage>& error) {
  creating_ = false;
  if (error) {
    error_->showFailure(*error);
    retranslate();
    return;
  }
  wipeFields();
  retranslate();
  if (onDone_) onDone_();
  requestClose();
}

}  // namespace tlr
