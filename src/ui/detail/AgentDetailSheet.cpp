#include "ui/detail/AgentDetailSheet.h"

#include "core/agents/SetupCatalog.h"
#include "core/stores/SettingsStore.h"
#include "presentation/AgentDetailLogic.h"
#include "presentation/DashboardModel.h"
#include "ui/detail/DoctorOutputSheet.h"
#include "ui/kit/AgentIconResolver.h"
#include "ui/kit/Alert.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/LineBreaks.h"
#include "ui/kit/Painting.h"
#include "ui/kit/Theme.h"

#include <QFontDatabase>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QtMath>

namespace tlr {

using namespace AgentDetailLogic;

namespace {

// The platform's standard colours the design names.
const QColor kSystemBlue{10, 132, 255};
const QColor kSystemGreen{52, 199, 89};
const QColor kSystemRed = Theme::destructive;
const QColor kSystemOrange{255, 149, 0};
// The lock symbol of a locked agent.


// The action row's button: symbol and title in `color` on it at 0.15, edged
// with it at 0.4 (0.5 wide); label 12.5 medium, symbol at font size 11.
// While busy the face fades to 0.08 (edge 0.25) and the whole is drawn at
// 0.7; unusable, at 0.5.
SecondaryButton* actionButton(const QString& symbol, const QColor& color, QWidget* parent) {
  auto* button = new SecondaryButton(QString(), symbol, color, parent);
  button->setLabelFont(12.5, QFont::Medium);
  button->setSymbolSide(Glyphs::sizeForFont(11));
  button->setEdgeWidth(0.5);
  button->setDisabledOpacity(0.5);
  button->setColors([button, color] {
    if (!button->isBusy()) return SecondaryButton::tint(color, 0.15, 0.4);
    return SecondaryButton::Colors{Theme::withOpacity(color, 0.7), Theme::withOpacity(color, 0.08 * 0.7),
                                   Theme::withOpacity(color, 0.25 * 0.7)};
  });
  return button;
}

// A section button's colours: the accent, edged with it at 0.45.
SecondaryButton::Colors brandOutline() {
  const QColor accent = Theme::current().accent;
  return {accent, QColor(Qt::transparent), Theme::withOpacity(accent, 0.45)};
}

// The outlined button of a section: padded 12 × 8, radius 7, no fill of
// its own; the accent edged with it at 0.45 unless coloured otherwise.
SecondaryButton* sectionButton(const QString& symbol, QWidget* parent) {
  auto* button = new SecondaryButton(QString(), symbol, std::nullopt, parent);
  button->setPadding(12, 8);
  button->setCornerRadius(7);
  button->setColors(brandOutline);
  return button;
}

QVBoxLayout* column(QWidget* owner, int spacing) {
  auto* layout = new QVBoxLayout(owner);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(spacing);
  return layout;
}

}  // namespace

// ---- The result banner ----------------------------------------------------------------

namespace {

// The result form of the automatic-doctor banner: a button in green (no
// issues) or orange (issues found, or the check did not succeed) with a
// symbol, a title (its name) and a subtitle.
PanelButton* makeResultBanner() {
  auto* banner = new PanelButton;
  auto* row = new QHBoxLayout(banner);
  row->setContentsMargins(12, 12, 12, 12);
  row->setSpacing(10);
  auto* symbol = SymbolView::forFont(QStringLiteral("checkmark.seal.fill"), 16, Theme::role(&Theme::Roles::workingSymbol), banner);
  symbol->setObjectName(QStringLiteral("bannerSymbol"));
  row->addWidget(symbol);
  auto* texts = new QVBoxLayout;
  texts->setSpacing(2);
  auto* title = new Label(QString(), 12.5, QFont::DemiBold, TextRole::primary, banner);
  title->setObjectName(QStringLiteral("bannerTitle"));
  auto* subtitle = new Label(QString(), 11, QFont::Normal, TextRole::dim, banner);
  subtitle->setObjectName(QStringLiteral("bannerSubtitle"));
  title->setAttribute(Qt::WA_TransparentForMouseEvents);
  subtitle->setAttribute(Qt::WA_TransparentForMouseEvents);
  texts->addWidget(title);
  texts->addWidget(subtitle);
  row->addLayout(texts, 1);
  row->addWidget(SymbolView::forFont(QStringLiteral("chevron.right"), 10, TextRole::faint, banner));
  banner->setColor(kSystemGreen);
  return banner;
}

void showBannerResult(PanelButton* banner, bool clean, const QString& title, const QString& subtitle) {
  // The tint in the banner's colour, the symbol in its status symbol shade.
  banner->setColor(clean ? kSystemGreen : kSystemOrange);
  auto* symbol = banner->findChild<SymbolView*>(QStringLiteral("bannerSymbol"));
  symbol->setColor(Theme::role(clean ? &Theme::Roles::workingSymbol : &Theme::Roles::warningSymbol));
  symbol->setSymbol(clean ? QStringLiteral("checkmark.seal.fill") : QStringLiteral("exclamationmark.triangle.fill"));
  banner->findChild<Label*>(QStringLiteral("bannerTitle"))->setPlainText(title);
  banner->findChild<Label*>(QStringLiteral("bannerSubtitle"))->setPlainText(subtitle);
  banner->setAccessibleName(title);
}

}  // namespace

// ---- The sheet -----------------------------------------------------------------------

void AgentDetailSheet::setUninstallSheetFactory(UninstallSheetFactory factory) {
  uninstallFactory_ = std::move(factory);
}

AgentDetailSheet::AgentDetailSheet(const DashboardAgentItem& item, const AgentDetailCallbacks& callbacks,
                                   Stores stores, const SettingsStore& settings, QWidget* parent)
    : Sheet(kSize, parent),
      settings_(settings),
      session_(new AgentDetailSession(item, callbacks, std::move(stores), this)) {
  setObjectName(QStringLiteral("agentDetailSheet"));
  setOnClose(callbacks.onClose);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);
  buildHeader(root);
  root->addWidget(new Divider(this));

  auto* content = new QWidget;
  content->setObjectName(QStringLiteral("detailContent"));
  auto* contentColumn = new QVBoxLayout(content);
  contentColumn->setContentsMargins(24, 20, 24, 24);
  contentColumn->setSpacing(18);
  buildContent(contentColumn);
  contentColumn->addStretch(1);
  auto* scroll = new ScrollArea(content, this);
  scroll->setObjectName(QStringLiteral("detailScroll"));
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  root->addWidget(scroll, 1);

  connect(session_, &AgentDetailSession::changed, this, [this] { refresh(); });
  connect(session_, &AgentDetailSession::eventsChanged, this, [this] { refreshEvents(); });
  connect(session_, &AgentDetailSession::bannerChanged, this, [this] { refreshBanner(); });
  connect(session_, &AgentDetailSession::lockOffConfirmationRequested, this, &AgentDetailSheet::showLockOffConfirm);
  connect(session_, &AgentDetailSession::terminalOpenFailed, this, &AgentDetailSheet::showTerminalFailed);
  connect(session_, &AgentDetailSession::openFailed, this, [this](const QString& address, const LocKey& reason) {
    Alert::presentOpenFailed(settings_, address, reason, /*folder=*/false, this);
  });
  connect(session_, &AgentDetailSession::doctorFinished, this, &AgentDetailSheet::doctorFinished);
  whenLookChanges(this, [this] { refresh(); });
  refresh();
}

AgentDetailSheet::~AgentDetailSheet() = default;

DoctorOutputSheet* AgentDetailSheet::doctorOutputSheet() const { return doctorOutput_; }

AppLanguage AgentDetailSheet::language() const { return settings_.language(); }

QString AgentDetailSheet::text(const LocKey& key) const { return settings_.text(key); }

const DashboardAgentItem& AgentDetailSheet::item() const { return session_->item(); }
bool AgentDetailSheet::isLaunching() const { return session_->isLaunching(); }
bool AgentDetailSheet::isStopping() const { return session_->isStopping(); }
bool AgentDetailSheet::isDoctorRunning() const { return session_->isDoctorRunning(); }
const std::optional<AgentDoctor::Result>& AgentDetailSheet::doctorResult() const { return session_->doctorResult(); }

void AgentDetailSheet::setItem(const DashboardAgentItem& item) { session_->setItem(item); }

void AgentDetailSheet::showEvent(QShowEvent* event) {
  Sheet::showEvent(event);
  // Once per presentation.
  if (autoDoctorChecked_) return;
  autoDoctorChecked_ = true;
  session_->autoRunDoctorIfNeeded();
}

// ---- Building -------------------------------------------------------------------------

void AgentDetailSheet::buildHeader(QVBoxLayout* root) {
  auto* header = new QWidget(this);
  header->setObjectName(QStringLiteral("detailHeader"));
  auto* row = new QHBoxLayout(header);
  row->setContentsMargins(22, 18, 22, 18);
  row->setSpacing(14);
  // The agent's picture framed 52 × 52 (radius 12, a picture other than an
  // application's icon inset 9) over a soft shadow drawn outside the frame.
  icon_ = new IconTile(52, 12, 9, header);
  auto* shadow = new QGraphicsDropShadowEffect(icon_);
  shadow->setColor(QColor(0, 0, 0, 64));
  shadow->setBlurRadius(12);
  shadow->setOffset(0, 3);
  icon_->setGraphicsEffect(shadow);
  icon_->setObjectName(QStringLiteral("detailIcon"));
  row->addWidget(icon_);

  auto* titles = new QVBoxLayout;
  titles->setSpacing(4);
  auto* titleRow = new QHBoxLayout;
  titleRow->setSpacing(8);
  name_ = new Label(QString(), 18, QFont::DemiBold, TextRole::primary, header);
  name_->setObjectName(QStringLiteral("detailName"));
  name_->setElided(true);
  name_->setSizePolicy(QSizePolicy::Maximum, name_->sizePolicy().verticalPolicy());
  titleRow->addWidget(name_);
  badge_ = new KindChip(header);
  badge_->setObjectName(QStringLiteral("detailKindBadge"));
  titleRow->addWidget(badge_);
  headerLock_ = SymbolView::forFont(QStringLiteral("lock.fill"), 13, Theme::role(&Theme::Roles::cautionSymbol), header);
  headerLock_->setObjectName(QStringLiteral("detailHeaderLock"));
  titleRow->addWidget(headerLock_);
  titleRow->addStretch(1);
  titles->addLayout(titleRow);
  vendor_ = new Label(QString(), 12, QFont::Normal, TextRole::dim, header);
  vendor_->setObjectName(QStringLiteral("detailVendor"));
  vendor_->setElided(true);
  titles->addWidget(vendor_);
  row->addLayout(titles, 1);

  closeButton_ = new CloseButton(header);
  closeButton_->setObjectName(QStringLiteral("detailCloseButton"));
  connect(closeButton_, &QAbstractButton::clicked, this, &Sheet::requestClose);
  row->addWidget(closeButton_);
  root->addWidget(header);
}

void AgentDetailSheet::buildContent(QVBoxLayout* content) {
  // 1. The automatic-doctor banner: running or result.
  auto brand = [] { return Theme::current().accent; };
  runningBanner_ = new TintedPanel(brand, 0.1, 0.3, 8);
  runningBanner_->setObjectName(QStringLiteral("doctorRunningBanner"));
  auto* runningRow = new QHBoxLayout(runningBanner_);
  runningRow->setContentsMargins(12, 12, 12, 12);
  runningRow->setSpacing(10);
  runningRow->addWidget(new Spinner(12, runningBanner_));
  runningBannerText_ = new Label(QString(), 12.5, QFont::DemiBold, TextRole::primary, runningBanner_);
  runningBannerText_->setObjectName(QStringLiteral("doctorRunningText"));
  runningRow->addWidget(runningBannerText_, 1);
  content->addWidget(runningBanner_);

  resultBanner_ = makeResultBanner();
  resultBanner_->setObjectName(QStringLiteral("doctorResultBanner"));
  connect(resultBanner_, &QAbstractButton::clicked, this, &AgentDetailSheet::bannerClicked);
  content->addWidget(resultBanner_);

  content->addWidget(buildInfoCard());
  content->addWidget(buildEmbeddedCard());
  content->addWidget(buildActionRow());
  content->addWidget(buildLockCard());
  content->addWidget(buildSetupSection());
  content->addWidget(buildRestartSection());
  content->addWidget(buildDoctorSection());
  content->addWidget(buildUninstallSection());
  content->addWidget(buildEventHistory());
}

QWidget* AgentDetailSheet::buildInfoCard() {
  auto* card = new Card;
  card->setObjectName(QStringLiteral("detailInfoCard"));
  auto* rows = new QVBoxLayout(card);
  rows->setContentsMargins(14, 14, 14, 14);
  rows->setSpacing(0);
  auto addRow = [&](Label*& label, Label*& value, const QString& name) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 8, 0, 8);
    label = new Label(QString(), 13, QFont::Normal, TextRole::dim, card);
    value = new Label(QString(), 13, QFont::Medium, TextRole::primary, card);
    value->setObjectName(name);
    row->addWidget(label);
    row->addStretch(1);
    row->addWidget(value);
    rows->addLayout(row);
  };
  addRow(statusLabel_, statusValue_, QStringLiteral("detailStatusValue"));
  // A faint line between the rows: the hairline strength (0.12) at 0.4.
  rows->addWidget(new Divider(0.048, 0.048, card));
  addRow(runningLabel_, runningValue_, QStringLiteral("detailRunningValue"));
  return card;
}

QWidget* AgentDetailSheet::buildEmbeddedCard() {
  embedded_ = new TintedPanel([] { return Theme::current().accent; }, 0.12, 0.3, 10);
  embedded_->setObjectName(QStringLiteral("detailEmbeddedCli"));
  auto* row = new QHBoxLayout(embedded_);
  row->setContentsMargins(12, 12, 12, 12);
  row->setSpacing(10);
  row->addWidget(SymbolView::forFont(QStringLiteral("terminal"), 14, TextRole::accent, embedded_));
  auto* texts = new QVBoxLayout;
  texts->setSpacing(2);
  embeddedTitle_ = new Label(QString(), 12.5, QFont::DemiBold, TextRole::primary, embedded_);
  embeddedTitle_->setObjectName(QStringLiteral("embeddedCliTitle"));
  embeddedSubtitle_ = new Label(QString(), 11, QFont::Normal, TextRole::dim, embedded_);
  embeddedSubtitle_->setObjectName(QStringLiteral("embeddedCliSubtitle"));
  texts->addWidget(embeddedTitle_);
  texts->addWidget(embeddedSubtitle_);
  row->addLayout(texts, 1);
  return embedded_;
}

QWidget* AgentDetailSheet::buildActionRow() {
  actionRow_ = new QWidget;
  actionRow_->setObjectName(QStringLiteral("detailActionRow"));
  auto* row = new QHBoxLayout(actionRow_);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(10);
  auto make = [&](const QString& objectName, const QString& symbol, const QColor& color) {
    auto* button = actionButton(symbol, color, actionRow_);
    button->setObjectName(objectName);
    row->addWidget(button);
    return button;
  };
  consoleButton_ = make(QStringLiteral("actionOpenConsole"), QStringLiteral("terminal"), kSystemBlue);
  openButton_ = make(QStringLiteral("actionOpen"), QStringLiteral("rectangle.stack"), kSystemBlue);
  // Any equivalent symbol serves for a web dashboard.
  dashboardButton_ = make(QStringLiteral("actionOpenDashboard"), QStringLiteral("arrow.up.right"), kSystemBlue);
  launchButton_ = make(QStringLiteral("actionLaunch"), QStringLiteral("play.fill"), kSystemGreen);
  // "Launch <name>": a long name is shortened.
  launchButton_->setElided(true);
  stopButton_ = make(QStringLiteral("actionStop"), QStringLiteral("stop.fill"), kSystemRed);
  row->addStretch(1);

  connect(consoleButton_, &QAbstractButton::clicked, session_, &AgentDetailSession::openConsole);
  connect(openButton_, &QAbstractButton::clicked, session_, &AgentDetailSession::launch);
  connect(launchButton_, &QAbstractButton::clicked, session_, &AgentDetailSession::launch);
  connect(dashboardButton_, &QAbstractButton::clicked, session_, &AgentDetailSession::openDashboard);
  connect(stopButton_, &QAbstractButton::clicked, session_, &AgentDetailSession::stop);
  return actionRow_;
}

QWidget* AgentDetailSheet::buildLockCard() {
  auto* card = new Card;
  card->setObjectName(QStringLiteral("detailLockCard"));
  auto* row = new QHBoxLayout(card);
  row->setContentsMargins(14, 14, 14, 14);
  row->setSpacing(6);
  lockSymbol_ = SymbolView::forFont(QStringLiteral("lock.fill"), 12, Theme::role(&Theme::Roles::cautionSymbol), card);
  row->addWidget(lockSymbol_);
  lockTitle_ = new Label(QString(), 14, QFont::Medium, TextRole::primary, card);
  lockTitle_->setObjectName(QStringLiteral("lockOnlineTitle"));
  row->addWidget(lockTitle_);
  row->addStretch(1);
  lockSwitch_ = new ToggleSwitch(QString(), card);
  lockSwitch_->setObjectName(QStringLiteral("lockOnlineSwitch"));
  row->addWidget(lockSwitch_);
  connect(lockSwitch_, &QAbstractButton::toggled, session_, &AgentDetailSession::toggleLock);
  return card;
}

QWidget* AgentDetailSheet::buildSetupSection() {
  setupSection_ = new QWidget;
  setupSection_->setObjectName(QStringLiteral("detailSetupSection"));
  auto* layout = column(setupSection_, 6);
  setupButton_ = sectionButton(QStringLiteral("gearshape.fill"), setupSection_);
  setupButton_->setObjectName(QStringLiteral("setupButton"));
  setupHint_ = new Label(QString(), 10.5, QFont::Normal, TextRole::faint, setupSection_);
  setupHint_->setObjectName(QStringLiteral("setupHint"));
  setupHint_->setWordWrap(true);
  layout->addWidget(setupButton_, 0, Qt::AlignLeft);
  layout->addWidget(setupHint_);
  connect(setupButton_, &QAbstractButton::clicked, session_, &AgentDetailSession::setup);
  return setupSection_;
}

QWidget* AgentDetailSheet::buildRestartSection() {
  restartSection_ = new QWidget;
  restartSection_->setObjectName(QStringLiteral("detailRestartSection"));
  auto* layout = column(restartSection_, 6);
  restartButton_ = sectionButton(QStringLiteral("arrow.clockwise"), restartSection_);
  restartButton_->setObjectName(QStringLiteral("restartButton"));
  restartHint_ = new Label(QString(), 10.5, QFont::Normal, TextRole::faint, restartSection_);
  restartHint_->setObjectName(QStringLiteral("restartHint"));
  restartHint_->setWordWrap(true);
  layout->addWidget(restartButton_, 0, Qt::AlignLeft);
  layout->addWidget(restartHint_);
  connect(restartButton_, &QAbstractButton::clicked, this, &AgentDetailSheet::showRestartConfirm);
  return restartSection_;
}

QWidget* AgentDetailSheet::buildDoctorSection() {
  doctorSection_ = new QWidget;
  doctorSection_->setObjectName(QStringLiteral("detailDoctorSection"));
  auto* layout = column(doctorSection_, 6);
  doctorButton_ = sectionButton(QStringLiteral("stethoscope"), doctorSection_);
  doctorButton_->setObjectName(QStringLiteral("doctorButton"));
  doctorHint_ = new Label(QString(), 10.5, QFont::Normal, TextRole::faint, doctorSection_);
  doctorHint_->setObjectName(QStringLiteral("doctorHint"));
  doctorHint_->setWordWrap(true);
  layout->addWidget(doctorButton_, 0, Qt::AlignLeft);
  layout->addWidget(doctorHint_);
  connect(doctorButton_, &QAbstractButton::clicked, session_, &AgentDetailSession::runDoctor);
  return doctorSection_;
}

QWidget* AgentDetailSheet::buildUninstallSection() {
  uninstallSection_ = new QWidget;
  uninstallSection_->setObjectName(QStringLiteral("detailUninstallSection"));
  auto* layout = column(uninstallSection_, 6);
  layout->setContentsMargins(0, 4, 0, 0);
  layout->addWidget(new Divider(0.048, 0.048, uninstallSection_));
  uninstallButton_ = sectionButton(QStringLiteral("trash"), uninstallSection_);
  uninstallButton_->setObjectName(QStringLiteral("uninstallButton"));
  // Locked, it is drawn at 0.55.
  uninstallButton_->setDisabledOpacity(0.55);
  uninstallHint_ = new Label(QString(), 10.5, QFont::Normal, TextRole::faint, uninstallSection_);
  uninstallHint_->setObjectName(QStringLiteral("uninstallLockHint"));
  layout->addWidget(uninstallButton_, 0, Qt::AlignLeft);
  layout->addWidget(uninstallHint_);
  connect(uninstallButton_, &QAbstractButton::clicked, this, &AgentDetailSheet::showUninstallSheet);
  return uninstallSection_;
}

QWidget* AgentDetailSheet::buildEventHistory() {
  auto* section = new QWidget;
  section->setObjectName(QStringLiteral("detailEventHistory"));
  auto* layout = column(section, 8);
  eventsTitle_ = new SectionTitle(QString(), section);
  eventsTitle_->setObjectName(QStringLiteral("recentEventsTitle"));
  layout->addWidget(eventsTitle_);
  noEvents_ = new Label(QString(), 12, QFont::Normal, TextRole::faint, section);
  noEvents_->setObjectName(QStringLiteral("noEvents"));
  noEvents_->setContentsMargins(0, 8, 0, 8);
  layout->addWidget(noEvents_);
  auto* rows = new QWidget;
  eventsLayout_ = new QVBoxLayout(rows);
  eventsLayout_->setContentsMargins(0, 4, 8, 0);
  eventsLayout_->setSpacing(6);
  // Rows of text only: the list itself takes the focus and scrolls.
  auto* area = new ScrollArea(rows, section);
  area->setObjectName(QStringLiteral("eventsArea"));
  area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  area->setKeyboardScrolling(true);
  eventsArea_ = area;
  layout->addWidget(eventsArea_);
  return section;
}

// ---- Showing the state ---------------------------------------------------------------

void AgentDetailSheet::refresh() {
  const AppLanguage lang = language();
  closeButton_->setLanguage(lang);
  const DashboardAgentItem& item = session_->item();
  const AgentEntry& entry = item.entry;
  const bool locked = session_->isLocked();

  // Header. The window is named after the agent.
  setWindowTitle(entry.localizedDisplayName());
  const std::optional<AgentIconResolver::Resolved> picture = AgentIconResolver::resolve(entry);
  icon_->setPicture(picture ? picture->image : QPixmap(), picture && picture->isAppIcon);
  icon_->setAccessibleName(entry.localizedDisplayName());
  name_->setPlainText(entry.localizedDisplayName());
  badge_->setText(kindBadge(entry.kind, lang));
  headerLock_->setVisible(locked);
  vendor_->setPlainText(capitalizedWords(entry.vendor));

  refreshBanner();

  // Information card.
  statusLabel_->setPlainText(text(LocKey::detailFieldStatus()));
  // A throttled agent is not brought back: its recovery is paused.
  statusValue_->setPlainText(text(item.isThrottled ? LocKey::detailStatusPaused() : LocKey::detailStatusGuarded()));
  if (item.isThrottled)
    statusValue_->setRole(TextRole::failure);
  else
    statusValue_->setRole(TextRole::success);
  runningLabel_->setPlainText(text(LocKey::detailFieldRunning()));
  runningValue_->setPlainText(item.bigStatusText);
  if (item.isFaulted)
    runningValue_->setRole(TextRole::failure);
  else if (item.isRunning)
    runningValue_->setRole(TextRole::success);
  else
    runningValue_->setRole(TextRole::dim);

  // Embedded command-line card.
  const bool embedded =
      entry.kind == AgentEntry::Kind::desktopApp && item.embeddedCliPID && item.embeddedCliName;
  embedded_->setVisible(embedded);
  if (embedded) {
    embeddedTitle_->setPlainText(text(LocKey::embeddedCliTitle(*item.embeddedCliName)));
    embeddedSubtitle_->setPlainText(text(LocKey::embeddedCliSubtitle(*item.embeddedCliPID)));
  }

  // Action row.
  const ActionRow row = actionRow(entry);
  actionRow_->setVisible(row != ActionRow::none);
  consoleButton_->setVisible(row == ActionRow::console);
  consoleButton_->setLabel(text(LocKey::detailActionOpenTui()));
  const std::optional<LocKey> consoleHint = AgentDetailLogic::consoleHint(item);
  consoleButton_->setToolTip(consoleHint ? text(*consoleHint) : QString());
  openButton_->setVisible(row == ActionRow::open);
  openButton_->setLabel(text(LocKey::detailActionOpen()));
  dashboardButton_->setVisible(row == ActionRow::dashboard);
  dashboardButton_->setLabel(text(LocKey::detailActionOpenDashboard()));
  launchButton_->setVisible(row == ActionRow::launchOrStop && !item.isRunning);
  launchButton_->setLabel(text(LocKey::detailActionLaunchAgent(entry.localizedDisplayName())));
  stopButton_->setVisible(row != ActionRow::none && item.isRunning);
  stopButton_->setLabel(text(LocKey::detailActionStop()));
  for (SecondaryButton* b : {openButton_, launchButton_}) {
    b->setBusy(session_->isLaunching());
    b->setEnabled(!session_->isLaunching());
  }
  stopButton_->setBusy(session_->isStopping());
  stopButton_->setEnabled(!session_->isStopping());

  // Lock card.
  const bool usable = session_->canToggleLock();
  if (locked)
    lockSymbol_->setColor(Theme::role(&Theme::Roles::cautionSymbol));
  else
    lockSymbol_->setRole(TextRole::faint);
  lockTitle_->setPlainText(text(LocKey::lockOnlineTitle()));
  lockTitle_->setRole(usable ? TextRole::primary : TextRole::faint);
  lockSwitch_->showState(locked);
  lockSwitch_->setEnabled(usable);
  lockSwitch_->setAccessibleName(text(LocKey::lockOnlineTitle()));
  lockSwitch_->setDisabledOpacity(0.45);

  // Setup.
  const std::optional<SetupCatalog::Action> setup = session_->setupAction();
  setupSection_->setVisible(setup.has_value());
  if (setup) {
    setupButton_->setSymbol(setup->kind == SetupCatalog::Action::Kind::runCommand ? QStringLiteral("gearshape.fill")
                                                                                  : QStringLiteral("folder.fill"));
    setupButton_->setLabel(setupButtonText(*setup, lang));
    const QString hint = setupHint(*setup, lang);
    setupHint_->setCommandText(hint);
  }

  // Restart.
  restartSection_->setVisible(session_->offersRestart());
  const bool faulted = item.isFaulted;
  restartButton_->setSymbol(faulted ? QStringLiteral("arrow.clockwise.circle.fill") : QStringLiteral("arrow.clockwise"));
  restartButton_->setLabel(restartButtonText(entry, faulted, lang));
  restartButton_->setColors(faulted ? std::function<SecondaryButton::Colors()>([] {
    return SecondaryButton::Colors{Theme::withOpacity(kSystemRed, 0.95), QColor(Qt::transparent),
                                   Theme::withOpacity(kSystemRed, 0.45)};
  })
                                    : std::function<SecondaryButton::Colors()>(brandOutline));
  restartHint_->setCommandText(restartHint(entry, lang));

  // Doctor.
  const bool diagnosing = session_->isDoctorRunning();
  doctorSection_->setVisible(session_->offersDoctor());
  doctorButton_->setBusy(diagnosing);
  doctorButton_->setEnabled(!diagnosing);
  doctorButton_->setLabel(text(diagnosing ? LocKey::doctorRunningLabel() : LocKey::doctorLabel()));
  doctorHint_->setCommandText(doctorHint(entry, lang));

  // Uninstall.
  uninstallSection_->setVisible(session_->offersUninstall());
  uninstallButton_->setLabel(text(LocKey::detailUninstallButton()));
  uninstallButton_->setEnabled(!locked);
  uninstallButton_->setColors(locked ? std::function<SecondaryButton::Colors()>([] {
    const Theme::Roles r = Theme::current();
    return SecondaryButton::Colors{r.textFaint, QColor(Qt::transparent), r.contrast(0.06)};
  })
                                     : std::function<SecondaryButton::Colors()>([] {
                                         // Red outlined, unlike the locked one's faint grey.
                                         return SecondaryButton::Colors{Theme::withOpacity(kSystemRed, 0.85),
                                                                        QColor(Qt::transparent),
                                                                        Theme::withOpacity(kSystemRed, 0.35)};
                                       }));
  uninstallHint_->setVisible(locked);
  uninstallHint_->setPlainText(text(LocKey::detailUninstallLockHint()));

  refreshEvents();
}

void AgentDetailSheet::refreshBanner() {
  const AppLanguage lang = language();
  const bool running = session_->isDoctorChecking();
  const std::optional<AgentDoctor::Result> stored = session_->storedDoctorResult();
  runningBanner_->setVisible(running);
  runningBannerText_->setPlainText(text(LocKey::detailDoctorChecking(session_->entry().localizedDisplayName())));
  resultBanner_->setVisible(!running && stored.has_value());
  if (stored)
    showBannerResult(resultBanner_, stored->verdict() == AgentDoctor::Result::Verdict::clean,
                     doctorBannerTitle(*stored, lang),
                     doctorBannerSubtitle(*stored, lang));
}

void AgentDetailSheet::refreshEvents() {
  eventsTitle_->setTitle(text(LocKey::detailRecentEvents()));
  // A Tab stop of its own: named after its title for a screen reader.
  eventsArea_->setAccessibleName(text(LocKey::detailRecentEvents()));
  const QList<AgentEvent> events = session_->recentEvents();
  noEvents_->setVisible(events.isEmpty());
  noEvents_->setPlainText(text(LocKey::detailNoEvents()));
  eventsArea_->setVisible(!events.isEmpty());

  // Rows are few (at most 20): rebuilt whole.
  while (QLayoutItem* old = eventsLayout_->takeAt(0)) {
    if (QWidget* w = old->widget()) {
      w->hide();
      w->deleteLater();
    }
    delete old;
  }
  const AppLanguage lang = language();
  QWidget* rows = eventsArea_->widget();
  // The times in one column, as wide as the longest ("03-01 21:05" for
  // an event of an earlier day).
  QStringList times;
  int timeWidth = 0;
  const QFontMetrics timeMetrics(Theme::monoFont(11, QFont::Medium));
  for (const AgentEvent& event : events) {
    times << eventTime(event, session_->stores().timeZone);
    timeWidth = std::max(timeWidth, timeMetrics.horizontalAdvance(times.last()) + 6);
  }
  for (qsizetype i = 0; i < events.size(); ++i) {
    const AgentEvent& event = events[i];
    auto* row = new QWidget(rows);
    row->setObjectName(QStringLiteral("eventRow"));
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 4, 0, 4);
    line->setSpacing(10);
    auto* time = new Label(times[i], 11, QFont::Medium, TextRole::faint, row);
    time->setObjectName(QStringLiteral("eventTime"));
    time->setFont(Theme::monoFont(11, QFont::Medium));
    time->setFixedWidth(std::max(48, timeWidth));
    auto* what = new Label(DashboardModel::eventText(event, lang), 12, QFont::Normal, TextRole::dim, row);
    what->setObjectName(QStringLiteral("eventText"));
    line->addWidget(time);
    line->addWidget(what, 1);
    eventsLayout_->addWidget(row);
    // Shown now, not on a later turn of the loop, so the box's height below
    // counts it.
    row->show();
  }
  eventsLayout_->addStretch(1);
  // The box grows with its rows up to 180, then scrolls.
  rows->adjustSize();
  eventsArea_->setFixedHeight(std::min(rows->sizeHint().height(), 180));
}

// ---- Actions -------------------------------------------------------------------------------

void AgentDetailSheet::showTerminalFailed(const QString& commandLine, const QString& error) {
  auto* alert = new Alert(text(LocKey::alertTerminalOpenFailTitle()),
                          text(LocKey::alertTerminalOpenFailBody(commandLine, error)), this, {commandLine});
  alert->setObjectName(QStringLiteral("terminalFailedAlert"));
  alert->addButton(text(LocKey::alertGotIt()), Alert::Role::confirm, QStringLiteral("alertGotIt"));
  alert->present();
}

void AgentDetailSheet::showLockOffConfirm() {
  if (lockOffConfirm_) return;
  auto* alert = new Alert(text(LocKey::lockOffConfirmTitle()), text(LocKey::lockOffConfirmBody()), this);
  alert->setObjectName(QStringLiteral("lockOffConfirm"));
  alert->addButton(text(LocKey::lockOffConfirmCancel()), Alert::Role::cancel, QStringLiteral("lockOffCancel"));
  PaintedButton* confirm = alert->addButton(text(LocKey::lockOffConfirmConfirm()), Alert::Role::destructive,
                                            QStringLiteral("lockOffConfirmButton"));
  connect(alert, &Alert::answered, this, [this, confirm](QAbstractButton* answer) {
    lockOffConfirm_ = nullptr;
    session_->answerLockOff(answer == confirm);
  });
  lockOffConfirm_ = alert;
  alert->present();
}

void AgentDetailSheet::showRestartConfirm() {
  if (restartConfirm_) return;
  const AppLanguage lang = language();
  const AgentEntry& entry = session_->entry();
  // The command is never broken across lines.
  const QStringList command =
      entry.restart ? QStringList{entry.restart->command.join(QLatin1Char(' '))} : QStringList();
  auto* alert = new Alert(restartConfirmTitle(entry, lang), restartConfirmMessage(entry, lang), this, command);
  alert->setObjectName(QStringLiteral("restartConfirm"));
  alert->addButton(text(LocKey::restartConfirmCancel()), Alert::Role::cancel, QStringLiteral("restartCancel"));
  PaintedButton* confirm = alert->addButton(text(LocKey::restartConfirmConfirm()), Alert::Role::destructive,
                                            QStringLiteral("restartConfirmButton"));
  connect(alert, &Alert::answered, this, [this, confirm](QAbstractButton* answer) {
    restartConfirm_ = nullptr;
    if (answer == confirm) session_->restart();
  });
  restartConfirm_ = alert;
  alert->present();
}

void AgentDetailSheet::doctorFinished(const std::optional<AgentDoctor::Result>& result) {
  if (result)
    showDoctorOutput();
  else if (doctorOutput_)
    doctorOutput_->dismiss();
}

void AgentDetailSheet::bannerClicked() {
  if (!session_->showStoredDoctorResult()) return;
  if (doctorOutput_) doctorOutput_->setResult(session_->doctorResult());
  // The output sheet belongs to the doctor section.
  if (doctorSection_->isVisibleTo(this)) showDoctorOutput();
}

void AgentDetailSheet::showDoctorOutput() {
  if (doctorOutput_) {
    doctorOutput_->setResult(session_->doctorResult());
    return;
  }
  auto* output =
      new DoctorOutputSheet(session_->doctorResult(), {}, session_->doctorFix(), session_->doctorRerun(), settings_, this);
  output->setOnClose([output] { output->dismiss(); });
  output->setAgentName([session = QPointer<AgentDetailSession>(session_)] {
    return session ? session->entry().localizedDisplayName() : QString();
  });
  doctorOutput_ = output;
  output->present();
}

void AgentDetailSheet::showUninstallSheet() {
  if (session_->isLocked() || uninstallSheet_) return;
  const UninstallSheetFactory& factory = uninstallFactory_;
  if (!factory) return;
  QPointer<AgentDetailSheet> self(this);
  Sheet* sheet = factory(
      this, session_->entry(),
      [self] {
        if (self && self->uninstallSheet_) self->uninstallSheet_->dismiss();
      },
      [self] {
        if (self) self->uninstallDone();
      });
  if (!sheet) return;
  uninstallSheet_ = sheet;
  sheet->present();
}

void AgentDetailSheet::uninstallDone() {
  session_->uninstalled();
  requestClose();
}

}  // namespace tlr
