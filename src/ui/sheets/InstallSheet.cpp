#include "ui/sheets/InstallSheet.h"

#include "core/installers/DependencyGuides.h"
#include "core/stores/SettingsStore.h"
#include "core/system/DesktopOpen.h"
#include "ui/kit/Alert.h"
#include "ui/kit/LineBreaks.h"
#include "ui/sheets/SheetParts.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

namespace tlr {
namespace {

using Phase = InstallSession::Phase;

// A failed step's message: how it ended and the last four lines it printed.
constexpr int kErrorLines = 5;

QString phaseName(Phase phase) {
  switch (phase) {
    case Phase::checking:
      return QStringLiteral("checking");
    case Phase::missing:
      return QStringLiteral("missing");
    case Phase::running:
      return QStringLiteral("running");
    case Phase::done:
      return QStringLiteral("done");
  }
  return {};
}

QHBoxLayout* spinnerLine(const QString& caption, TextRole role, QWidget* parent, const QString& name) {
  auto* line = new QHBoxLayout;
  line->setSpacing(8);
  line->addWidget(new Spinner(14, parent), 0, Qt::AlignVCenter);
  auto* label = new Label(caption, 12.5, QFont::Normal, role, parent);
  label->setObjectName(name);
  line->addWidget(label, 0, Qt::AlignVCenter);
  line->addStretch(1);
  return line;
}

// The card's actions: a label in 11.5 semibold, padded 12 × 6, the same for
// the filled and the outlined one so they stand level.
template <class Button>
Button* sized(Button* button) {
  button->setLabelFont(11.5, QFont::DemiBold);
  button->setPadding(12, 6);
  return button;
}

PrimaryButton* primaryAction(const QString& symbol, const QString& title, QWidget* parent) {
  return sized(new PrimaryButton(title, symbol, parent));
}

}  // namespace

RequirementCard::RequirementCard(const InstallSession::Requirement& requirement, const SettingsStore& settings,
                                 QWidget* parent)
    : Card(parent, 8) {
  setObjectName(QStringLiteral("installRequirement:") + requirement.command);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(12, 12, 12, 12);
  column->setSpacing(8);

  const std::optional<DependencyGuides::CommandGuide> guide = DependencyGuides::guideFor(requirement.command);
  auto* top = new QHBoxLayout;
  top->setSpacing(8);
  auto* command = new Label(requirement.command, 13, QFont::DemiBold, TextRole::primary, this);
  command->setFont(sheets::monoFont(13, QFont::DemiBold));
  command->setObjectName(QStringLiteral("installRequirementCommand"));
  top->addWidget(command);
  if (guide) {
    auto* description = new Label(settings.text(guide->description), 11.5, QFont::Normal, TextRole::dim, this);
    description->setObjectName(QStringLiteral("installRequirementDescription"));
    top->addWidget(description);
  }
  top->addStretch(1);
  column->addLayout(top);

  auto* actions = new QHBoxLayout;
  actions->setSpacing(8);
  bool anyAction = false;
  if (DependencyGuides::bootstrapFor(requirement.command)) {
    auto* button = primaryAction(QStringLiteral("wand.and.stars"), settings.text(LocKey::depActionAutoInstall()), this);
    button->setObjectName(QStringLiteral("installAutoInstall:") + requirement.command);
    connect(button, &QAbstractButton::clicked, this, &RequirementCard::autoInstallRequested);
    actions->addWidget(button);
    anyAction = true;
  } else if (guide && guide->terminalCommands) {
    auto* button = primaryAction(QStringLiteral("terminal"), settings.text(LocKey::depActionTerminalInstall()), this);
    button->setObjectName(QStringLiteral("installTerminalInstall:") + requirement.command);
    const CommandList commands = *guide->terminalCommands;
    connect(button, &QAbstractButton::clicked, this, [this, commands] { Q_EMIT terminalInstallRequested(commands); });
    actions->addWidget(button);
    anyAction = true;
  }
  if (requirement.hintUrl && !requirement.hintUrl->isEmpty()) {
    auto* button = sized(new SecondaryButton(settings.text(LocKey::depActionOpenWebsite()), QStringLiteral("arrow.up.right"),
                                             std::nullopt, this));
    button->setObjectName(QStringLiteral("installOpenWebsite:") + requirement.command);
    const QString address = *requirement.hintUrl;
    // Only an absolute address with a scheme is handed to the desktop.
    connect(button, &QAbstractButton::clicked, this, [this, address, &settings] {
      DesktopOpen::address(address, this, [this, address, &settings](const LocKey& reason) {
        Alert::presentOpenFailed(settings, address, reason, /*folder=*/false, this);
      });
    });
    actions->addWidget(button);
    anyAction = true;
  }
  actions->addStretch(1);
  if (anyAction) {
    column->addLayout(actions);
  } else {
    delete actions;
  }
}

InstallSheet::InstallSheet(AgentEntry entry, std::function<void()> onClose, std::function<void()> onDone,
                           const SettingsStore& settings, QWidget* parent)
    : StepsSheet(kSize, QStringLiteral("install"), QStringLiteral("arrow.down.app"),
                 [] { return Theme::current().accent; }, std::move(onClose), std::move(onDone), settings, parent),
      session_(new InstallSession(std::move(entry), this)) {
  // Works in every phase, also while commands run: they go on without us.
  connect(close_, &QAbstractButton::clicked, this, &Sheet::requestClose);
  connect(session_, &InstallSession::changed, this, &InstallSheet::refresh);
  whenLookChanges(this, [this] { refresh(); });
  refresh();
}

InstallSheet::~InstallSheet() = default;

void InstallSheet::start() { session_->start(); }

void InstallSheet::refresh() {
  setTitle(text(LocKey::installSheetTitle(session_->entry().localizedDisplayName())));

  sheets::clearLayout(body_);
  QWidget* body = nullptr;
  switch (session_->phase()) {
    case Phase::checking:
      body = checkingBody();
      break;
    case Phase::missing:
      body = missingBody();
      break;
    case Phase::running:
      body = runningBody();
      break;
    case Phase::done:
      body = doneBody();
      break;
  }
  body->setObjectName(QStringLiteral("installBody:") + phaseName(session_->phase()));
  body_->addWidget(body);
  body_->addStretch(1);
  fillFooter();
}

QWidget* InstallSheet::checkingBody() {
  auto* body = new QWidget;
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(0, 0, 0, 0);
  column->addLayout(spinnerLine(text(LocKey::installSheetChecking()), TextRole::dim, body,
                                QStringLiteral("installCheckingText")));
  return body;
}

QWidget* InstallSheet::missingBody() {
  auto* body = new QWidget;
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(14);

  auto* heading = new QHBoxLayout;
  heading->setSpacing(8);
  heading->addWidget(new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), Glyphs::sizeForFont(14),
                                    Theme::role(&Theme::Roles::warningSymbol), body));
  auto* title = new Label(text(LocKey::installSheetMissing()), 14, QFont::DemiBold, TextRole::primary, body);
  title->setObjectName(QStringLiteral("installMissingTitle"));
  heading->addWidget(title);
  heading->addStretch(1);
  column->addLayout(heading);

  auto* hint = new Label(text(LocKey::installSheetMissingHint()), 11.5, QFont::Normal, TextRole::dim, body);
  hint->setObjectName(QStringLiteral("installMissingHint"));
  hint->setWordWrap(true);
  column->addWidget(hint);

  for (const InstallSession::Requirement& requirement : session_->missingRequirements()) {
    auto* card = new RequirementCard(requirement, settings_, body);
    connect(card, &RequirementCard::autoInstallRequested, this,
            [this, requirement] { session_->bootstrapAndRetry(requirement); });
    connect(card, &RequirementCard::terminalInstallRequested, this,
            [this](const CommandList& commands) { session_->runDependencyInTerminal(commands); });
    column->addWidget(card);
  }

  auto* note = new Label(text(LocKey::installSheetMissingFooter()), 10.5, QFont::Normal, TextRole::dim, body);
  note->setObjectName(QStringLiteral("installMissingNote"));
  note->setWordWrap(true);
  column->addWidget(note);
  return body;
}

QWidget* InstallSheet::runningBody() {
  auto* body = new QWidget;
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(6);
  column->addLayout(
      spinnerLine(text(LocKey::installSheetRunning()), TextRole::primary, body, QStringLiteral("installRunningText")));
  addSteps(column, session_->executingSteps(), 11, kErrorLines, body);
  return body;
}

QWidget* InstallSheet::doneBody() {
  auto* body = new QWidget;
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(10);

  const bool failed = session_->failureCount() > 0;
  auto* status = new QHBoxLayout;
  status->setSpacing(8);
  status->addWidget(new SymbolView(
      failed ? QStringLiteral("exclamationmark.triangle.fill") : QStringLiteral("checkmark.seal.fill"),
      Glyphs::sizeForFont(16),
      Theme::role(failed ? &Theme::Roles::warningSymbol : &Theme::Roles::workingSymbol), body));
  auto* title = new Label(text(failed ? LocKey::installSheetFailed() : LocKey::installSheetSuccess()), 14,
                          QFont::DemiBold, TextRole::primary, body);
  title->setObjectName(QStringLiteral("installStatus"));
  status->addWidget(title);
  status->addStretch(1);
  column->addLayout(status);

  if (const std::optional<QString> executable = session_->howToOpenExecutable()) {
    auto* card = new Card(body, 8);
    card->setObjectName(QStringLiteral("installHowToOpen"));
    card->setFill(Theme::withOpacity(Theme::current().accent, 0.08));
    auto* inner = new QVBoxLayout(card);
    inner->setContentsMargins(10, 10, 10, 10);
    inner->setSpacing(6);
    auto* cardTitle = new SectionTitle(text(LocKey::installSheetHowToOpenTitle()), card);
    cardTitle->setObjectName(QStringLiteral("installHowToOpenTitle"));
    // On the accent's tint the faint grey would not read.
    cardTitle->setRole(TextRole::dim);
    inner->addWidget(cardTitle);
    auto* how = new Label(QString(), 12, QFont::Normal, TextRole::primary, card);
    how->setCommandText(text(LocKey::installSheetHowToOpenBody(*executable, session_->shellStartFile())));
    how->setObjectName(QStringLiteral("installHowToOpenBody"));
    how->setWordWrap(true);
    inner->addWidget(how);
    column->addWidget(card);
  }

  addSteps(column, session_->allResults(), 11, kErrorLines, body);
  return body;
}

void InstallSheet::fillFooter() {
  clearFooter();
  switch (session_->phase()) {
    case Phase::checking:
      addCancel();
      break;
    case Phase::missing: {
      auto* close = sheets::footerTextButton(text(LocKey::installSheetClose()));
      close->setObjectName(QStringLiteral("installCloseFooterButton"));
      connect(close, &QAbstractButton::clicked, this, &Sheet::requestClose);
      footer_->addWidget(close);
      auto* recheck = primaryAction(QStringLiteral("arrow.clockwise"), text(LocKey::installSheetRecheck()), nullptr);
      recheck->setObjectName(QStringLiteral("installRecheckButton"));
      connect(recheck, &QAbstractButton::clicked, session_, &InstallSession::recheck);
      footer_->addWidget(recheck);
      break;
    }
    case Phase::running:
      addDontCloseNote();
      break;
    case Phase::done:
      addDone(primaryAction(QString(), text(LocKey::sheetDone()), nullptr));
      break;
  }
}

}  // namespace tlr
