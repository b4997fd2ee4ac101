#include "ui/shell/SettingsSheet.h"

#include "core/texts/LocTexts.h"

#include "core/stores/SettingsStore.h"
#include "core/system/DesktopOpen.h"
#include "core/system/SelfGuard.h"
#include "platform/Log.h"
#include "service/VornelAppSDK.h"
#include "ui/kit/Alert.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Theme.h"
#include "ui/shell/VornelAdBannerView.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QVBoxLayout>

namespace tlr {
namespace {

// A column of widgets without margins.
QVBoxLayout* stack(QWidget* owner, int spacing) {
  auto* layout = new QVBoxLayout(owner);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(spacing);
  return layout;
}

QHBoxLayout* row(int spacing) {
  auto* layout = new QHBoxLayout();
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(spacing);
  return layout;
}

// A row of pills, one for each of `values`, named `name` + "." + the value
// and labelled label(value); a click on one calls choose(value).
template <class Value, size_t N, class LabelFn, class Choose>
QWidget* pillRow(QWidget* parent, const std::array<Value, N>& values, const QString& name,
                 std::array<PillButton*, N>& pills, LabelFn label, Choose choose) {
  auto* widget = new QWidget(parent);
  auto* line = row(8);
  widget->setLayout(line);
  for (size_t i = 0; i < N; ++i) {
    const Value value = values[i];
    pills[i] = new PillButton(label(value), widget);
    pills[i]->setObjectName(name + QLatin1Char('.') + rawValue(value));
    // Whatever checked it: a click, Space, or a screen reader's action.
    QObject::connect(pills[i], &QAbstractButton::toggled, widget, [choose, value](bool on) {
      if (on) choose(value);
    });
    line->addWidget(pills[i]);
  }
  line->addStretch(1);
  return widget;
}

}  // namespace

QString SettingsSheet::appVersion() {
  const QString version = QCoreApplication::applicationVersion();
  return QStringLiteral("v") + (version.isEmpty() ? QStringLiteral("0.2.0") : version);
}

QString SettingsSheet::percentEncodeQuery(const QString& text) {
  return QString::fromLatin1(QUrl::toPercentEncoding(text, "!$&'()*+,;=:@/?"));
}

QString SettingsSheet::feedbackMailto(AppLanguage language, const QString& version) {
  const QString subject = LocTexts::text(language, LocKey::feedbackSubject());
  const QString body = LocTexts::text(language, LocKey::feedbackBodyTemplate(version));
  return QStringLiteral("mailto:") + QLatin1String(kSupportAddress) + QStringLiteral("?subject=") +
         percentEncodeQuery(subject) + QStringLiteral("&body=") + percentEncodeQuery(body);
}

void SettingsSheet::openTutorialCenter() {
  openAddress(QString::fromLatin1(kTutorialUrl));
}

void SettingsSheet::openFeedbackEmail() {
  openAddress(feedbackMailto(deps_.store->language(), appVersion()));
}

void SettingsSheet::openAddress(const QString& address) {
  DesktopOpen::address(address, this, [this, address](const LocKey& reason) {
    Alert::presentOpenFailed(*deps_.store, address, reason, /*folder=*/false, this);
  });
}

QWidget* SettingsSheet::section(const char* name, QWidget* content, QVBoxLayout* column) {
  auto* box = new QWidget(content->parentWidget());
  box->setObjectName(QStringLiteral("section.") + QLatin1String(name));
  auto* layout = stack(box, 10);
  auto* title = new SectionTitle(QString(), box);
  title->setObjectName(QStringLiteral("sectionTitle.") + QLatin1String(name));
  sectionTitles_ << title;
  layout->addWidget(title);
  content->setParent(box);
  layout->addWidget(content);
  column->addWidget(box);
  return box;
}

SettingsSheet::SettingsSheet(Dependencies deps, QWidget* parent) : Sheet(kSize, parent), deps_(deps) {
  setObjectName(QStringLiteral("settingsSheet"));
  auto* frame = stack(this, 0);

  // Header: the title and the close button.
  addTitleHeader(frame, QStringLiteral("settings"));

  auto* content = new QWidget;
  content->setObjectName(QStringLiteral("settingsContent"));
  auto* column = new QVBoxLayout(content);
  column->setContentsMargins(24, 20, 24, 20);
  column->setSpacing(22);

  section("appearance", buildAppearance(content), column);
  section("dock", buildDock(content), column);
  section("selfGuard", buildSelfGuard(content), column);
  section("language", buildLanguage(content), column);
  section("tutorial",
          buildHintAndButton(content, "tutorial", QStringLiteral("book"), tutorialHint_, tutorialButton_,
                             &SettingsSheet::openTutorialCenter),
          column);
  section("feedback",
          buildHintAndButton(content, "feedback", QStringLiteral("envelope"), feedbackHint_, feedbackButton_,
                             &SettingsSheet::openFeedbackEmail),
          column);
  section("about", buildAbout(content), column);
  // The maker's announcement, without a title.
  banner_ = new VornelAdBannerView(*deps_.sdk, *deps_.store, content);
  column->addWidget(banner_, 0, Qt::AlignLeft);
  column->addStretch(1);

  auto* scroll = new ScrollArea(content, this);
  scroll->setObjectName(QStringLiteral("settingsScroll"));
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  frame->addWidget(scroll, 1);

  retranslate();
  syncControls();
  followChanges();
}

// Appearance: three pills.
QWidget* SettingsSheet::buildAppearance(QWidget* content) {
  return pillRow(
      content, kAllAppearances, QStringLiteral("appearancePill"), appearancePills_,
      [](AppearancePreference) { return QString(); },
      [store = deps_.store](AppearancePreference value) { store->setAppearance(value); });
}

// The task bar entry (showInDock): the switch and its hint.
QWidget* SettingsSheet::buildDock(QWidget* content) {
  auto* box = new QWidget(content);
  auto* layout = stack(box, 10);
  auto* switchRow = row(10);
  dockSwitch_ = new ToggleSwitch(QString(), box);
  dockSwitch_->setObjectName(QStringLiteral("dockSwitch"));
  connect(dockSwitch_, &QAbstractButton::toggled, this, [this](bool on) { deps_.store->setShowInDock(on); });
  dockSwitchLabel_ = new Label(QString(), 13, QFont::Medium, TextRole::primary, box);
  dockSwitchLabel_->setObjectName(QStringLiteral("dockSwitchLabel"));
  switchRow->addWidget(dockSwitch_);
  switchRow->addWidget(dockSwitchLabel_, 1);
  layout->addLayout(switchRow);
  auto* hintRow = row(6);
  auto* warn = SymbolView::forFont(QStringLiteral("exclamationmark.triangle.fill"), 11, Theme::role(&Theme::Roles::warningSymbol), box);
  hintRow->addWidget(warn, 0, Qt::AlignTop);
  dockHint_ = new Label(QString(), 11, QFont::Normal, TextRole::dim, box);
  dockHint_->setObjectName(QStringLiteral("dockHint"));
  dockHint_->setWordWrap(true);
  hintRow->addWidget(dockHint_, 1);
  layout->addLayout(hintRow);
  return box;
}

// Auto-start at login: the label, the note of a development copy, the switch.
QWidget* SettingsSheet::buildSelfGuard(QWidget* content) {
  auto* box = new QWidget(content);
  auto* line = row(8);
  box->setLayout(line);
  auto* labels = stack(nullptr, 2);
  selfGuardLabel_ = new Label(QString(), 13, QFont::Normal, TextRole::primary, box);
  selfGuardLabel_->setObjectName(QStringLiteral("selfGuardLabel"));
  labels->addWidget(selfGuardLabel_);
  selfGuardNote_ = new Label(QString(), 11, QFont::Normal, TextRole::faint, box);
  selfGuardNote_->setObjectName(QStringLiteral("selfGuardNote"));
  selfGuardNote_->setVisible(!deps_.isProductionApp);
  labels->addWidget(selfGuardNote_);
  line->addLayout(labels, 1);
  selfGuardSwitch_ = new ToggleSwitch(QString(), box);
  selfGuardSwitch_->setObjectName(QStringLiteral("selfGuardSwitch"));
  selfGuardSwitch_->setEnabled(deps_.isProductionApp);
  // Half opacity while it cannot be flipped (a development copy).
  selfGuardSwitch_->setDisabledOpacity(0.5);
  connect(selfGuardSwitch_, &QAbstractButton::toggled, this, [this](bool on) {
    // The switch shows the store's state: it changes only once the store
    // reports the outcome.
    selfGuardSwitch_->showState(deps_.selfGuard->enabled());
    if (deps_.isProductionApp) deps_.selfGuard->setEnabled(on);
  });
  line->addWidget(selfGuardSwitch_, 0, Qt::AlignVCenter);
  return box;
}

// Language: two pills whose labels never change.
QWidget* SettingsSheet::buildLanguage(QWidget* content) {
  return pillRow(
      content, kAllLanguages, QStringLiteral("languagePill"), languagePills_,
      [&settings = *deps_.store](AppLanguage value) {
        return settings.text(value == AppLanguage::zh ? LocKey::settingsLanguageChinese()
                                                      : LocKey::settingsLanguageEnglish());
      },
      [store = deps_.store](AppLanguage value) { store->setLanguage(value); });
}

// Tutorial or feedback: a hint and an action button.
QWidget* SettingsSheet::buildHintAndButton(QWidget* content, const char* name, const QString& symbol, Label*& hint,
                                           PrimaryButton*& button, void (SettingsSheet::*action)()) {
  auto* box = new QWidget(content);
  auto* layout = stack(box, 10);
  hint = new Label(QString(), 12, QFont::Normal, TextRole::dim, box);
  hint->setObjectName(QLatin1String(name) + QStringLiteral("Hint"));
  hint->setWordWrap(true);
  layout->addWidget(hint);
  button = new PrimaryButton(QString(), symbol, box);
  button->setObjectName(QLatin1String(name) + QStringLiteral("Button"));
  connect(button, &QAbstractButton::clicked, this, action);
  layout->addWidget(button, 0, Qt::AlignLeft);
  return box;
}

// About: a card with the name, version, tagline and the legal links.
QWidget* SettingsSheet::buildAbout(QWidget* content) {
  auto* card = new Card(content, 10);
  card->setObjectName(QStringLiteral("aboutCard"));
  auto* layout = new QVBoxLayout(card);
  layout->setContentsMargins(14, 14, 14, 14);
  layout->setSpacing(6);
  // The name and the version stand on one baseline.
  auto* nameRow = row(8);
  auto* name = new Label(QStringLiteral("Tollamere"), 14, QFont::Medium, TextRole::primary, card);
  name->setObjectName(QStringLiteral("aboutName"));
  name->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
  nameRow->addWidget(name, 0, Qt::AlignBottom);
  nameRow->addStretch(1);
  aboutVersion_ = new Label(appVersion(), 12, QFont::Normal, TextRole::dim, card);
  aboutVersion_->setObjectName(QStringLiteral("aboutVersion"));
  aboutVersion_->setAlignment(Qt::AlignRight | Qt::AlignBottom);
  const int descents = qRound(QFontMetricsF(name->font()).descent() - QFontMetricsF(aboutVersion_->font()).descent());
  aboutVersion_->setContentsMargins(0, 0, 0, std::max(0, descents));
  nameRow->addWidget(aboutVersion_, 0, Qt::AlignBottom);
  layout->addLayout(nameRow);
  aboutTagline_ = new Label(QString(), 12, QFont::Normal, TextRole::dim, card);
  aboutTagline_->setObjectName(QStringLiteral("aboutTagline"));
  layout->addWidget(aboutTagline_);
  auto* links = row(14);
  links->setContentsMargins(0, 4, 0, 0);
  privacyLink_ = new LinkButton(QString(), 11, card);
  privacyLink_->setObjectName(QStringLiteral("privacyLink"));
  connect(privacyLink_, &QAbstractButton::clicked, this, [this] { showLegal(LegalDocKind::privacy); });
  termsLink_ = new LinkButton(QString(), 11, card);
  termsLink_->setObjectName(QStringLiteral("termsLink"));
  connect(termsLink_, &QAbstractButton::clicked, this, [this] { showLegal(LegalDocKind::terms); });
  links->addWidget(privacyLink_);
  links->addWidget(termsLink_);
  links->addStretch(1);
  layout->addLayout(links);
  return card;
}

// The sheet redraws on every change of the stores, the scheme or the
// language.
void SettingsSheet::followChanges() {
  whenLookChanges(this, [this] { retranslate(); });
  connect(deps_.store, &SettingsStore::appearanceChanged, this, [this] { syncControls(); });
  connect(deps_.store, &SettingsStore::languageChanged, this, [this] {
    retranslate();
    syncControls();
  });
  connect(deps_.store, &SettingsStore::showInDockChanged, this, [this] {
    retranslate();
    syncControls();
  });
  connect(deps_.selfGuard, &SelfGuardStore::enabledChanged, this, [this] { syncControls(); });
  connect(deps_.selfGuard, &SelfGuardStore::setEnabledFinished, this, [this] { syncControls(); });
}

void SettingsSheet::retranslate() {
  const SettingsStore& s = *deps_.store;
  setTitle(s.text(LocKey::settingsTitle()));
  titleCloseButton()->setLanguage(s.language());
  const std::array<LocKey, 7> titles{LocKey::settingsSectionAppearance(), LocKey::settingsDockSection(),
                                     LocKey::settingsSectionSelfGuard(),  LocKey::settingsSectionLanguage(),
                                     LocKey::settingsSectionTutorial(),   LocKey::settingsSectionFeedback(),
                                     LocKey::settingsSectionAbout()};
  for (int i = 0; i < sectionTitles_.size(); ++i) sectionTitles_[i]->setTitle(s.text(titles[static_cast<size_t>(i)]));
  const std::array<LocKey, 3> appearanceLabels{LocKey::appearanceSystem(), LocKey::appearanceLight(),
                                               LocKey::appearanceDark()};
  for (size_t i = 0; i < appearancePills_.size(); ++i) appearancePills_[i]->setLabel(s.text(appearanceLabels[i]));
  dockSwitchLabel_->setPlainText(s.text(LocKey::settingsDockToggle()));
  dockSwitch_->setAccessibleName(dockSwitchLabel_->text());
  if (deps_.hasSystemTray)
    dockHint_->setPlainText(s.text(s.showInDock() ? LocKey::settingsDockWarnOn() : LocKey::settingsDockWarnOff()));
  else
    dockHint_->setPlainText(
        s.text(s.showInDock() ? LocKey::settingsDockWarnOnNoTray() : LocKey::settingsDockWarnOffNoTray()));
  selfGuardLabel_->setPlainText(s.text(LocKey::selfGuardToggle()));
  selfGuardSwitch_->setAccessibleName(selfGuardLabel_->text());
  selfGuardNote_->setPlainText(s.text(LocKey::selfGuardDevDisabled()));
  tutorialHint_->setPlainText(s.text(LocKey::settingsTutorialHint()));
  tutorialButton_->setLabel(s.text(LocKey::settingsTutorialButton()));
  feedbackHint_->setPlainText(s.text(LocKey::feedbackHint()));
  feedbackButton_->setLabel(s.text(LocKey::feedbackButton()));
  aboutTagline_->setPlainText(s.text(LocKey::aboutTagline()));
  privacyLink_->setLabel(s.text(LocKey::legalPrivacyTitle()));
  termsLink_->setLabel(s.text(LocKey::legalTermsTitle()));
}

void SettingsSheet::syncControls() {
  const SettingsStore& s = *deps_.store;
  for (size_t i = 0; i < appearancePills_.size(); ++i)
    appearancePills_[i]->setSelected(kAllAppearances[i] == s.appearance());
  for (size_t i = 0; i < languagePills_.size(); ++i) languagePills_[i]->setSelected(kAllLanguages[i] == s.language());
  dockSwitch_->showState(s.showInDock());
  selfGuardSwitch_->showState(deps_.selfGuard->enabled());
}

QStringList SettingsSheet::sectionTitles() const {
  QStringList shown;
  for (const SectionTitle* title : sectionTitles_) shown << title->shownText();
  return shown;
}

void SettingsSheet::showLegal(LegalDocKind kind) {
  // One legal text at a time.
  if (legalSheet_) return;
  legalToShow_ = kind;
  auto* sheet = new LegalDocSheet(*deps_.store, kind, this);
  legalSheet_ = sheet;
  sheet->setOnClose([this, sheet] {
    legalToShow_.reset();
    sheet->dismiss();
  });
  sheet->present();
}

}  // namespace tlr
