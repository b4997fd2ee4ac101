#include "ui/sheets/UninstallSheet.h"

#include "core/stores/SettingsStore.h"
#include "core/texts/ByteSizeText.h"
#include "core/texts/HomePath.h"
#include "platform/LoginShell.h"
#include "ui/sheets/SheetParts.h"

#include <QCloseEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QKeyEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace tlr {
namespace {

using Phase = UninstallSession::Phase;
using Group = UninstallSession::Group;

// A box that asks for attention (the running agent, the failed steps): an
// orange card and its warning sign, in a `Layout` of the card.
template <class Layout>
std::pair<Card*, Layout*> warningBox(QWidget* parent, const QString& name) {
  auto* box = new Card(parent, 8);
  box->setObjectName(name);
  box->setFill(Theme::withOpacity(Theme::orange, 0.10));
  auto* layout = new Layout(box);
  layout->setContentsMargins(12, 10, 12, 10);
  layout->setSpacing(6);
  return {box, layout};
}

SymbolView* warningSign(QWidget* parent) {
  return new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), Glyphs::sizeForFont(12),
                        Theme::role(&Theme::Roles::warningSymbol), parent);
}
using PathState = UninstallSession::PathState;

// `widget` in a line of its own, `by` pixels in from the left.
QHBoxLayout* indented(QWidget* widget, int by) {
  auto* line = new QHBoxLayout;
  line->setContentsMargins(by, 0, 0, 0);
  line->setSpacing(0);
  line->addWidget(widget, 1);
  return line;
}

QString groupKey(Group group) { return group == Group::standard ? QStringLiteral("standard") : QStringLiteral("userData"); }

}  // namespace

UninstallSheet::UninstallSheet(AgentEntry entry, std::function<void()> onClose, std::function<void()> onDone,
                               const SettingsStore& settings, QWidget* parent)
    : StepsSheet(kSize, QStringLiteral("uninstall"), QStringLiteral("trash"),
                 [] { return Theme::withOpacity(sheets::failureColor(), 0.85); }, std::move(onClose), std::move(onDone),
                 settings, parent),
      session_(new UninstallSession(std::move(entry), this)) {
  connect(close_, &QAbstractButton::clicked, this, [this] {
    if (closable()) requestClose();
  });

  connect(session_, &UninstallSession::changed, this, &UninstallSheet::refresh);
  connect(session_, &UninstallSession::choiceChanged, this, &UninstallSheet::showChoice);
  whenLookChanges(this, [this] { refresh(); });
  refresh();
}

UninstallSheet::~UninstallSheet() = default;

void UninstallSheet::start() { session_->begin(); }

// While the uninstall runs, neither Esc nor the window manager closes the sheet.
void UninstallSheet::closeEvent(QCloseEvent* event) {
  if (!closable() && !isDismissed()) {
    event->ignore();
    return;
  }
  Sheet::closeEvent(event);
}

void UninstallSheet::keyPressEvent(QKeyEvent* event) {
  if (!closable() && event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  Sheet::keyPressEvent(event);
}

void UninstallSheet::reject() {
  if (!closable() && !isDismissed()) return;
  Sheet::reject();
}

void UninstallSheet::refresh() {
  setTitle(text(LocKey::uninstallSheetTitle(session_->entry().localizedDisplayName())));

  const bool closable = this->closable();
  close_->setEnabled(closable);
  close_->setHelp(closable ? QString() : text(LocKey::uninstallExecutingHelp()));
  if (closable) {
    close_->setGraphicsEffect(nullptr);
  } else if (!close_->graphicsEffect()) {
    auto* faded = new QGraphicsOpacityEffect(close_);
    faded->setOpacity(0.4);
    close_->setGraphicsEffect(faded);
  }

  sheets::clearLayout(body_);
  boxes_.clear();
  startButton_ = nullptr;
  QWidget* body = nullptr;
  switch (session_->phase()) {
    case Phase::preview:
      body = previewBody();
      body->setObjectName(QStringLiteral("uninstallBody:preview"));
      break;
    case Phase::executing:
      body = executingBody();
      body->setObjectName(QStringLiteral("uninstallBody:executing"));
      break;
    case Phase::done:
      body = doneBody();
      body->setObjectName(QStringLiteral("uninstallBody:done"));
      break;
  }
  body_->addWidget(body);
  body_->addStretch(1);
  fillFooter();
}

QWidget* UninstallSheet::group(const QString& key, const QString& title, QWidget* rows) {
  auto* box = new QWidget;
  box->setObjectName(QStringLiteral("uninstallGroup:") + key);
  auto* column = new QVBoxLayout(box);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(8);
  auto* heading = new SectionTitle(title, box);
  heading->setObjectName(QStringLiteral("uninstallGroupTitle:") + key);
  column->addWidget(heading);
  column->addWidget(rows);
  return box;
}

QWidget* UninstallSheet::previewBody() {
  auto* body = new QWidget;
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(18);

  if (session_->isEmpty()) {
    auto* nothing = new Label(text(LocKey::uninstallSheetNothing()), 12.5, QFont::Normal, TextRole::dim, body);
    nothing->setObjectName(QStringLiteral("uninstallNothing"));
    column->addWidget(nothing);
    return body;
  }

  if (const QString running = session_->runningNotice(settings_.language()); !running.isEmpty()) {
    // Said before anything else: the uninstall stops it first.
    auto [box, line] = warningBox<QHBoxLayout>(body, QStringLiteral("uninstallAgentRunning"));
    line->addWidget(warningSign(box), 0, Qt::AlignTop);
    auto* notice = new Label(running, 11.5, QFont::Normal, TextRole::primary, box);
    notice->setObjectName(QStringLiteral("uninstallAgentRunningText"));
    notice->setWordWrap(true);
    line->addWidget(notice, 1);
    column->addWidget(box);
  }

  if (!session_->commands().isEmpty()) {
    auto* rows = new QWidget;
    auto* list = new QVBoxLayout(rows);
    list->setContentsMargins(0, 0, 0, 0);
    list->setSpacing(6);
    for (qsizetype i = 0; i < session_->commands().size(); ++i) {
      auto* line = new QHBoxLayout;
      line->setSpacing(8);
      line->addWidget(new SymbolView(QStringLiteral("terminal"), Glyphs::sizeForFont(11), TextRole::dim, rows), 0,
                      Qt::AlignTop);
      auto* command = new Label("$ " + shellWords(session_->commands()[i]), 11, QFont::Normal, TextRole::dim, rows);
      command->setFont(sheets::monoFont(11));
      command->setWordWrap(true);
      command->setTextInteractionFlags(Qt::TextSelectableByMouse);
      command->setObjectName(QStringLiteral("uninstallCommand:") + QString::number(i));
      line->addWidget(command, 1);
      list->addLayout(line);
    }
    column->addWidget(group(QStringLiteral("commands"), text(LocKey::uninstallSheetCommands()), rows));
  }
  if (!session_->standardPaths().isEmpty())
    column->addWidget(group(QStringLiteral("standard"), text(LocKey::uninstallSheetStandard()),
                            pathRows(Group::standard, session_->standardPaths())));
  if (!session_->userDataPaths().isEmpty())
    column->addWidget(group(QStringLiteral("userData"), text(LocKey::uninstallSheetUserData()),
                            pathRows(Group::userData, session_->userDataPaths())));
  return body;
}

QWidget* UninstallSheet::pathRows(Group group, const QStringList& paths) {
  auto* rows = new QWidget;
  auto* list = new QVBoxLayout(rows);
  list->setContentsMargins(0, 0, 0, 0);
  list->setSpacing(6);
  QSet<QString> seen;
  for (const QString& path : paths) {
    // A path listed twice in one group is one row: its box is one choice.
    if (seen.contains(path)) continue;
    seen.insert(path);
    const QString key = groupKey(group) + ":" + path;
    const PathState state = session_->state(path);
    const bool present = state == PathState::present;
    const bool refused = state == PathState::refused;

    auto* row = new QWidget(rows);
    row->setObjectName(QStringLiteral("uninstallPath:") + key);
    auto* rowColumn = new QVBoxLayout(row);
    rowColumn->setContentsMargins(0, 0, 0, 0);
    rowColumn->setSpacing(2);
    // The path, its box and its size; a refused row's reason goes below.
    auto* top = new QWidget(row);
    auto* line = new QHBoxLayout(top);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(8);
    rowColumn->addWidget(top);

    const QString shown = HomePath::display(path);
    auto* box = new CheckBox(shown,
                             Theme::role(group == Group::userData ? &Theme::Roles::warningSymbol : &Theme::Roles::accent),
                             top);
    box->setObjectName(QStringLiteral("uninstallCheck:") + key);
    box->showState(session_->isChecked(group, path));
    box->setEnabled(present);
    // Whatever turned the box (a click, Space, an assistive tool's Toggle),
    // the session decides; the box then shows what it holds.
    connect(box, &QAbstractButton::toggled, this, [this, group, path](bool on) {
      session_->setChecked(group, path, on);
      showChoice();
    });
    boxes_.append({group, path, box});
    line->addWidget(box, 0, Qt::AlignVCenter);

    auto* name = new sheets::ElidedText(
        shown, sheets::monoFont(11.5),
        present ? sheets::ElidedText::ColorFn([] { return Theme::current().text; })
                : sheets::ElidedText::ColorFn([] { return Theme::current().textFaint; }),
        1, top);
    name->setObjectName(QStringLiteral("uninstallPathText"));
    line->addWidget(name, 1, Qt::AlignVCenter);

    if (state == PathState::unmeasured) {
      auto* spinner = new Spinner(12, top);
      spinner->setObjectName(QStringLiteral("uninstallSpinner"));
      line->addWidget(spinner, 0, Qt::AlignVCenter);
    } else {
      const QString sizeText = present ? decimalByteCount(*session_->size(path))
                               : refused ? text(LocKey::uninstallSheetRefused())
                                         : text(LocKey::uninstallSheetMissing());
      auto* size = new Label(sizeText, 11, QFont::Normal,
                             present ? TextRole::dim : refused ? TextRole::failure : TextRole::faint, top);
      size->setObjectName(QStringLiteral("uninstallSize"));
      line->addWidget(size, 0, Qt::AlignVCenter);
    }
    // A refused row stays at full strength: its words are to be read.
    if (!present && !refused) {
      auto* faded = new QGraphicsOpacityEffect(top);
      faded->setOpacity(0.5);
      top->setGraphicsEffect(faded);
    }
    if (refused) {
      // Said before the click: why it stays, under the path, beside the box.
      const QString reason = session_->refusalText(settings_.language(), path);
      box->setAccessibleDescription(reason);
      auto* why = new sheets::ElidedText(reason, Theme::font(10.5), [] { return Theme::current().textDim; }, 3, row);
      why->setObjectName(QStringLiteral("uninstallRefusal"));
      rowColumn->addLayout(indented(why, box->sizeHint().width() + line->spacing()));
    }
    list->addWidget(row);
  }
  return rows;
}

QWidget* UninstallSheet::executingBody() {
  auto* body = new QWidget;
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(6);
  auto* heading = new QHBoxLayout;
  heading->setSpacing(8);
  heading->addWidget(new Spinner(14, body));
  auto* label = new Label(text(LocKey::uninstallSheetRunning()), 12.5, QFont::Normal, TextRole::primary, body);
  label->setObjectName(QStringLiteral("uninstallRunningText"));
  heading->addWidget(label);
  heading->addStretch(1);
  column->addLayout(heading);
  addSteps(column, session_->executingSteps(), 11.5, 3, body);
  return body;
}

QWidget* UninstallSheet::doneBody() {
  auto* body = new QWidget;
  auto* column = new QVBoxLayout(body);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(10);
  const AppLanguage language = settings_.language();
  const QList<StepResult> failed = session_->failedSteps();

  auto* summaryLine = new QHBoxLayout;
  summaryLine->setSpacing(8);
  summaryLine->addWidget(new SymbolView(
      failed.isEmpty() ? QStringLiteral("checkmark.seal.fill") : QStringLiteral("exclamationmark.triangle.fill"),
      Glyphs::sizeForFont(16),
      Theme::role(failed.isEmpty() ? &Theme::Roles::workingSymbol : &Theme::Roles::warningSymbol),
      body));
  auto* summary = new Label(session_->summary(language), 14, QFont::DemiBold, TextRole::primary, body);
  summary->setObjectName(QStringLiteral("uninstallSummary"));
  summaryLine->addWidget(summary);
  summaryLine->addStretch(1);
  column->addLayout(summaryLine);

  if (!failed.isEmpty()) {
    auto [box, inner] = warningBox<QVBoxLayout>(body, QStringLiteral("uninstallFailureBox"));
    auto* heading = new QHBoxLayout;
    heading->setSpacing(6);
    heading->addWidget(warningSign(box));
    auto* title = new Label(text(LocKey::uninstallWarnTitle()), 12.5, QFont::DemiBold, TextRole::primary, box);
    title->setObjectName(QStringLiteral("uninstallFailureTitle"));
    heading->addWidget(title);
    heading->addStretch(1);
    inner->addLayout(heading);
    auto* bodyText = new Label(session_->failureBody(language), 11.5, QFont::Normal, TextRole::dim, box);
    bodyText->setObjectName(QStringLiteral("uninstallFailureBody"));
    bodyText->setWordWrap(true);
    inner->addWidget(bodyText);
    // Each failed step with its own reason: a refused path is no matter of
    // permissions, and a mounted folder is no file in use.
    for (const UninstallSession::FailureLine& failure : session_->failureLines(language)) {
      auto* item = new sheets::ElidedText(failure.label, sheets::monoFont(11), [] { return Theme::current().textDim; },
                                          1, box);
      item->setObjectName(QStringLiteral("uninstallFailureLine"));
      inner->addLayout(indented(item, 8));
      if (failure.reason.isEmpty()) continue;
      auto* why =
          new sheets::ElidedText(failure.reason, Theme::font(10.5), [] { return Theme::current().textDim; }, 3, box);
      why->setObjectName(QStringLiteral("uninstallFailureReason"));
      inner->addLayout(indented(why, 20));
    }
    if (const QString more = session_->moreFailures(language); !more.isEmpty()) {
      auto* item = new sheets::ElidedText(more, sheets::monoFont(11), [] { return Theme::current().textDim; }, 1, box);
      item->setObjectName(QStringLiteral("uninstallFailureMore"));
      inner->addLayout(indented(item, 8));
    }
    // Only what the user could really remove is offered to be removed by hand.
    if (const QString note = session_->byHandNote(language); !note.isEmpty()) {
      auto* byHand = new Label(note, 11.5, QFont::Normal, TextRole::dim, box);
      byHand->setObjectName(QStringLiteral("uninstallByHandNote"));
      byHand->setWordWrap(true);
      byHand->setContentsMargins(0, 4, 0, 0);
      inner->addWidget(byHand);
      for (const QString& line : session_->byHandLines(language)) {
        auto* item = new sheets::ElidedText(line, sheets::monoFont(11), [] { return Theme::current().textDim; }, 1, box);
        item->setObjectName(QStringLiteral("uninstallByHandLine"));
        inner->addLayout(indented(item, 8));
      }
    }
    column->addWidget(box);
  }

  addSteps(column, session_->allResults(), 11.5, 3, body);
  return body;
}

void UninstallSheet::showChoice() {
  for (const Box& box : boxes_)
    if (box.view) box.view->showState(session_->isChecked(box.group, box.path));
  if (startButton_) {
    startButton_->setLabel(session_->buttonLabel(settings_.language()));
    startButton_->setEnabled(session_->canUninstall());
  }
}

void UninstallSheet::fillFooter() {
  clearFooter();
  switch (session_->phase()) {
    case Phase::preview: {
      addCancel();
      // Clearly red: the pale failure red would read as a disabled button.
      auto* start = new PrimaryButton(session_->buttonLabel(settings_.language()),
                                      QStringLiteral("trash.fill"));
      start->setFill(Theme::destructiveFill);
      // Grey while it cannot be used; label 12 semibold, a 12-pixel symbol
      // 6 from it, padded 14 × 7, radius 6.
      start->setDisabledFill(QColor(142, 142, 147));
      start->setLabelFont(12, QFont::DemiBold);
      start->setSymbolSide(12);
      start->setSpacing(6);
      start->setPadding(14, 7);
      start->setCornerRadius(6);
      start->setObjectName(QStringLiteral("uninstallStartButton"));
      start->setEnabled(session_->canUninstall());
      startButton_ = start;
      connect(start, &QAbstractButton::clicked, session_, &UninstallSession::start);
      footer_->addWidget(start);
      break;
    }
    case Phase::executing:
      addDontCloseNote();
      break;
    case Phase::done: {
      auto* done = new PrimaryButton(text(LocKey::sheetDone()));
      done->setLabelFont(12, QFont::DemiBold);
      done->setPadding(16, 6);
      addDone(done);
      break;
    }
  }
}

}  // namespace tlr
