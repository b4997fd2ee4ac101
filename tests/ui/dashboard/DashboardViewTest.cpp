#include "presentation/DashboardTestSupport.h"

#include "support/RegistryJson.h"
#include "support/gui/Drawn.h"

#include "ui/dashboard/AgentRowView.h"
#include "ui/dashboard/DashboardParts.h"
#include "ui/dashboard/DashboardView.h"
#include "ui/kit/StatusLight.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Sheet.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace tlr {
namespace {

using test::agentEntry;
using test::runningRecord;
using Kind = AgentEntry::Kind;

// A stand-in for the sheets that come from elsewhere.
class FakeSheet final : public Sheet {
 public:
  explicit FakeSheet(QWidget* parent) : Sheet(QSize(200, 120), parent) {}
};

void click(QWidget* w, QPoint at = QPoint(-1, -1)) {
  const QPointF pos = at.x() < 0 ? QPointF(w->rect().center()) : QPointF(at);
  const QPointF global = w->mapToGlobal(pos);
  QMouseEvent press(QEvent::MouseButtonPress, pos, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, pos, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(w, &release);
}

// The dashboard over stores of a temporary HOME and settings of its own,
// with a fake watcher.
class DashboardViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.setLanguage(AppLanguage::en);
    relayLanguageChanges(settings);
    model.setWatcher(&actions);
    view = std::make_unique<DashboardView>(model);
    view->resize(680, 560);
    view->show();
  }
  void TearDown() override { view.reset(); }

  // Sheets that record how they were built.
  void installFakeSheets() {
    DashboardSheets sheets;
    sheets.detail = [this](QWidget* parent, const DashboardAgentItem& item, const AgentDetailCallbacks& callbacks) {
      auto* sheet = new FakeSheet(parent);
      built << "detail " + item.id;
      detailCallbacks = callbacks;
      return DashboardSheets::Detail{sheet, [this](const DashboardAgentItem& i) { detailUpdates << i; }};
    };
    sheets.addAgent = [this](QWidget* parent, std::shared_ptr<const AgentRegistry>, const QSet<QString>& ids,
                             std::function<void()>, std::function<void()>) {
      built << "addAgent";
      installedIdsSeen << ids;
      return DashboardSheets::AddAgent{new FakeSheet(parent),
                                       [this](const QSet<QString>& ids) { installedIdsSeen << ids; }};
    };
    sheets.settings = [this](QWidget* parent, std::function<void()>) {
      built << "settings";
      return new FakeSheet(parent);
    };
    sheets.backup = [this](QWidget* parent, const QList<AgentEntry>& agents, std::function<void()>,
                           std::function<void()> onOpenRestore, std::function<void()> onOpenUSBExport,
                           std::function<void()> onOpenUSBImport) {
      built << QStringLiteral("backup %1").arg(agents.size());
      openRestore = onOpenRestore;
      openUSBExport = onOpenUSBExport;
      openUSBImport = onOpenUSBImport;
      return new FakeSheet(parent);
    };
    sheets.restore = [this](QWidget* parent, std::function<void()>, std::function<void(const QString&)>) {
      built << "restore";
      return new FakeSheet(parent);
    };
    sheets.usbMigration = [this](QWidget* parent, DashboardSheets::USBMode mode, const QList<AgentEntry>&,
                                 std::function<void()>) {
      built << (mode == DashboardSheets::USBMode::exportPkg ? "usbExport" : "usbImport");
      return new FakeSheet(parent);
    };
    view->setSheets(std::move(sheets));
  }

  AgentRowView* row(const QString& id) const {
    AgentRowView* r = view->rowView(id);
    EXPECT_NE(r, nullptr) << id.toStdString();
    return r;
  }
  QStringList rowIds() const {
    QStringList ids;
    for (AgentRowView* r : view->rowViews()) ids << r->item().id;
    return ids;
  }

  test::TempHome home;
  test::FakeAgentActions actions;
  std::shared_ptr<const AgentRegistry> registry = std::make_shared<AgentRegistry>(RegistryFile{});
  SettingsStore settings;
  DashboardModel model{registry, {&EventStore::shared(), &LockOnlineStore::shared(), &settings}};
  std::unique_ptr<DashboardView> view;
  QStringList built;
  AgentDetailCallbacks detailCallbacks;
  QList<DashboardAgentItem> detailUpdates;
  QList<QSet<QString>> installedIdsSeen;
  std::function<void()> openRestore, openUSBExport, openUSBImport;
};

TEST_F(DashboardViewTest, EmptyStateAndMetricCounts) {
  // Before the first scan: neither the hint nor rows, every count 0.
  EXPECT_FALSE(view->emptyState()->isVisible());
  EXPECT_TRUE(view->rowViews().isEmpty());
  EXPECT_EQ(view->metricCard(3)->value(), 0);
  model.update({}, {});
  EXPECT_TRUE(view->emptyState()->isVisible());
  EXPECT_EQ(view->findChild<Label*>("emptyHint")->text(), "Click + at the top-right to install an agent");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(view->metricCard(i)->value(), 0);
  EXPECT_EQ(view->metricCard(2)->subtitle(), "All clear");
  EXPECT_TRUE(view->metricCard(0)->isHighlighted());

  // A running, locked, faulted agent counts in every category it has.
  const AgentEntry a = agentEntry("a"), b = agentEntry("b"), c = agentEntry("c");
  LockOnlineStore::shared().setLocked("a", true);  // records an event: the hang must be newer
  EventStore::shared().append(AgentEvent::make("a", AgentEventType::hangDetected));
  model.update({a, b, c}, {runningRecord(a, 1), runningRecord(b, 2)});
  EXPECT_FALSE(view->emptyState()->isVisible());
  EXPECT_EQ(view->metricCard(0)->value(), 2);
  EXPECT_EQ(view->metricCard(1)->value(), 1);
  EXPECT_EQ(view->metricCard(2)->value(), 1);
  EXPECT_EQ(view->metricCard(3)->value(), 3);
  EXPECT_EQ(view->metricCard(3)->value(), view->rowViews().size());
  EXPECT_EQ(view->metricCard(2)->subtitle(), "Needs attention");
  EXPECT_FALSE(view->metricCard(2)->isHighlighted());
  EXPECT_EQ(view->metricCard(0)->accessibleName(), "Running 2");
}

TEST_F(DashboardViewTest, RowTextsAndTooltipsByState) {
  AgentEntry faulted = agentEntry("faulted", Kind::desktopApp), running = agentEntry("running"),
             stopped = agentEntry("stopped", Kind::idePlugin);
  stopped.displayNameEN = "Stopped & Co";
  EventStore::shared().append(AgentEvent::make("faulted", AgentEventType::exitedAbnormal));
  LockOnlineStore::shared().setLocked("running", true);
  model.update({faulted, running, stopped}, {runningRecord(faulted, 1), runningRecord(running, 2)});

  // Faulted beats running: the red button, though the light is green; it
  // says the agent runs on, as the counters count it.
  SecondaryButton* f = row("faulted")->stateButton();
  EXPECT_EQ(row("faulted")->state(), RowState::faulted);
  EXPECT_EQ(f->label(), "Faulted · 1 running");
  EXPECT_EQ(f->toolTip(), "Click to view fault details");
  EXPECT_EQ(row("faulted")->statusLight()->state(), LightState::working);
  EXPECT_EQ(row("faulted")->kindChip()->text(), "App");

  SecondaryButton* r = row("running")->stateButton();
  EXPECT_EQ(row("running")->state(), RowState::running);
  EXPECT_EQ(r->label(), "Running");
  EXPECT_EQ(r->toolTip(), "Click for details (open / stop / restart, etc.)");
  EXPECT_EQ(row("running")->kindChip()->text(), "CLI");
  EXPECT_TRUE(row("running")->lockMark()->isVisibleTo(row("running")));
  EXPECT_EQ(row("running")->lockMark()->toolTip(), "Locked online");
  EXPECT_TRUE(test::drawsIn(row("running")->lockMark(), Theme::current().cautionSymbol)) << "the lock's symbol shade";

  SecondaryButton* s = row("stopped")->stateButton();
  EXPECT_EQ(row("stopped")->state(), RowState::launch);
  EXPECT_EQ(s->label(), "Launch");
  EXPECT_EQ(s->toolTip(), "Launch Stopped & Co");
  EXPECT_EQ(s->accessibleName(), "Launch");
  EXPECT_EQ(row("stopped")->statusLight()->state(), LightState::idle);
  EXPECT_EQ(row("stopped")->kindChip()->text(), "Plugin");
  EXPECT_FALSE(row("stopped")->lockMark()->isVisibleTo(row("stopped")));
  // Names from the registry are plain text, "&" included.
  EXPECT_EQ(row("stopped")->nameLabel()->textFormat(), Qt::PlainText);
  EXPECT_EQ(row("stopped")->nameLabel()->text(), "Stopped & Co");
  EXPECT_EQ(row("stopped")->accessibleName(), "Stopped & Co");

  // The rows say what the counters count: Running 2 (one of them faulted),
  // Faulted 1; a row of two instances says so itself, not only its tooltip.
  EXPECT_EQ(view->metricCard(0)->value(), 2);
  EXPECT_EQ(view->metricCard(2)->value(), 1);
  const auto saying = [&](const QString& word) {
    int n = 0;
    for (AgentRowView* r : view->rowViews()) n += r->stateButton()->label().contains(word, Qt::CaseInsensitive) ? 1 : 0;
    return n;
  };
  EXPECT_EQ(saying("running"), view->metricCard(0)->value());
  EXPECT_EQ(saying("faulted"), view->metricCard(2)->value());
  RunningAgent second = runningRecord(running, 3);
  second.instancePid = 3;
  model.update({faulted, running, stopped}, {runningRecord(faulted, 1), runningRecord(running, 2), second});
  EXPECT_EQ(r->label(), "Running ×2");
  EXPECT_EQ(row("running")->accessibleDescription(), "Running ×2");

  // A long name is shortened with "…" (whole in the tooltip and the
  // accessible name); no row is wider than the list, and the state button
  // stays inside its row.
  AgentEntry wordy = agentEntry("wordy");
  wordy.displayNameEN = QString(80, QLatin1Char('W'));
  model.update({faulted, running, stopped, wordy}, {runningRecord(faulted, 1), runningRecord(running, 2)});
  QApplication::processEvents();
  EXPECT_TRUE(row("wordy")->nameLabel()->text().endsWith(QStringLiteral("…")));
  EXPECT_EQ(row("wordy")->nameLabel()->toolTip(), *wordy.displayNameEN);
  EXPECT_EQ(row("wordy")->accessibleName(), *wordy.displayNameEN);
  const QWidget* list = view->findChild<QAbstractScrollArea*>("agentScroll")->viewport();
  for (AgentRowView* r : view->rowViews()) {
    EXPECT_LE(r->mapTo(list, QPoint(r->width(), 0)).x(), list->width()) << r->item().id.toStdString();
    EXPECT_TRUE(r->rect().contains(r->stateButton()->geometry())) << r->item().id.toStdString();
  }
  EXPECT_EQ(row("running")->nameLabel()->text(), "running") << "a name that fits is shown whole";
}

TEST_F(DashboardViewTest, StateButtonClicksDoNotAlsoTapTheRow) {
  installFakeSheets();
  const AgentEntry stopped = agentEntry("stopped"), running = agentEntry("running");
  model.update({stopped, running}, {runningRecord(running, 2)});

  // Launch: one launch, no detail sheet; a second click while in flight is ignored.
  click(row("stopped")->stateButton());
  click(row("stopped")->stateButton());
  EXPECT_EQ(actions.calls, QStringList{"launch stopped"});
  EXPECT_TRUE(built.isEmpty());
  EXPECT_FALSE(view->selectedItem().has_value());

  // The running button opens the details once.
  click(row("running")->stateButton());
  EXPECT_EQ(built, QStringList{"detail running"});
  ASSERT_TRUE(view->selectedItem().has_value());
  EXPECT_EQ(view->selectedItem()->id, "running");
  ASSERT_NE(view->openSheet(DashboardView::SheetKind::detail), nullptr);

  // The sheet's close goes through the dashboard.
  detailCallbacks.onClose();
  EXPECT_EQ(view->openSheet(DashboardView::SheetKind::detail), nullptr);
  EXPECT_FALSE(view->selectedItem().has_value());

  // A click on the card (its name) taps the row; so does the stopped row's card.
  click(row("stopped")->nameLabel());
  EXPECT_EQ(built.last(), "detail stopped");
  EXPECT_EQ(actions.calls.size(), 1);

  // A screen reader presses the row itself: a button named after its agent.
  detailCallbacks.onClose();
  QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(row("running"));
  ASSERT_NE(reader->actionInterface(), nullptr);
  EXPECT_EQ(reader->role(), QAccessible::Button);
  EXPECT_EQ(reader->text(QAccessible::Name), QStringLiteral("running"));
  reader->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
  EXPECT_EQ(built.last(), "detail running");
  EXPECT_EQ(actions.calls.size(), 1);
}

TEST_F(DashboardViewTest, ToolbarButtonsTooltipsAndSheets) {
  EXPECT_EQ(view->addButton()->toolTip(), "Add Agent");
  EXPECT_EQ(view->backupButton()->toolTip(), "Backup & Restore");
  EXPECT_EQ(view->settingsButton()->toolTip(), "Settings");
  EXPECT_EQ(view->addButton()->symbol(), "plus");
  EXPECT_EQ(view->backupButton()->symbol(), "archivebox");
  EXPECT_EQ(view->settingsButton()->symbol(), "gearshape");

  // Without sheets the buttons do nothing, and nothing wrong.
  model.update({agentEntry("a")}, {});
  for (auto* b : {view->addButton(), view->backupButton(), view->settingsButton()}) click(b);
  click(row("a"));
  EXPECT_EQ(view->openSheet(DashboardView::SheetKind::addAgent), nullptr);
  EXPECT_FALSE(view->selectedItem().has_value());

  installFakeSheets();
  click(view->addButton());
  EXPECT_EQ(built, QStringList{"addAgent"});
  EXPECT_EQ(installedIdsSeen.value(0), QSet<QString>{"a"});
  // An open add-agent sheet hears the installed ids of every publish.
  model.update({agentEntry("a"), agentEntry("b")}, {});
  EXPECT_EQ(installedIdsSeen.last(), (QSet<QString>{"a", "b"}));
  view->openSheet(DashboardView::SheetKind::addAgent)->requestClose();
  EXPECT_EQ(view->openSheet(DashboardView::SheetKind::addAgent), nullptr);

  click(view->settingsButton());
  EXPECT_EQ(built.last(), "settings");
  view->openSheet(DashboardView::SheetKind::settings)->requestClose();

  // The backup sheet lists every visible registry entry (none here).
  click(view->backupButton());
  EXPECT_EQ(built.last(), "backup 0");
  openRestore();
  EXPECT_EQ(view->openSheet(DashboardView::SheetKind::backup), nullptr);  // closed at once
  EXPECT_NE(built.last(), "restore");                                     // opened 0.3 s later
  ASSERT_TRUE(test::waitUntil([&] { return view->openSheet(DashboardView::SheetKind::restore) != nullptr; }));
  EXPECT_EQ(built.last(), "restore");
  // Closing the restore or USB sheet goes back to the backup sheet.
  for (const DashboardView::SheetKind kind : {DashboardView::SheetKind::restore, DashboardView::SheetKind::usbImport}) {
    view->openSheet(kind)->requestClose();
    EXPECT_EQ(view->openSheet(kind), nullptr);
    ASSERT_TRUE(test::waitUntil([&] { return view->openSheet(DashboardView::SheetKind::backup) != nullptr; }));
    EXPECT_EQ(built.last(), "backup 0");
    if (kind == DashboardView::SheetKind::restore) {
      openUSBImport();
      ASSERT_TRUE(test::waitUntil([&] { return view->openSheet(DashboardView::SheetKind::usbImport) != nullptr; }));
      EXPECT_EQ(built.last(), "usbImport");
    }
  }
}

// The restore and USB sheets go back to the backup sheet with the focus on
// the button that handed over, whether a click or the keyboard pressed it.
TEST_F(DashboardViewTest, TheBackupSheetComesBackWithTheFocusOnTheButtonThatHandedOver) {
  installFakeSheets();
  DashboardSheets sheets = view->sheets();
  sheets.backup = [this](QWidget* parent, const QList<AgentEntry>&, std::function<void()>,
                         std::function<void()> onOpenRestore, std::function<void()> onOpenUSBExport,
                         std::function<void()>) {
    auto* sheet = new FakeSheet(parent);
    auto* column = new QVBoxLayout(sheet);
    for (const auto& [name, open] : {std::pair{"backupRestoreFromBackup", onOpenRestore},
                                     std::pair{"backupExportUSB", onOpenUSBExport}}) {
      auto* button = new SecondaryButton(QLatin1String(name), QString(), std::nullopt, sheet);
      button->setObjectName(QLatin1String(name));
      QObject::connect(button, &QAbstractButton::clicked, sheet, open);
      column->addWidget(button);
    }
    built << "backup";
    return sheet;
  };
  view->setSheets(std::move(sheets));
  view->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
  const auto focusedName = [] { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); };

  click(view->backupButton());
  Sheet* backup = view->openSheet(DashboardView::SheetKind::backup);
  ASSERT_NE(backup, nullptr);
  click(backup->findChild<QWidget*>("backupRestoreFromBackup"));
  ASSERT_TRUE(test::waitUntil([&] { return view->openSheet(DashboardView::SheetKind::restore) != nullptr; }));
  QTest::keyClick(view->openSheet(DashboardView::SheetKind::restore), Qt::Key_Escape);
  ASSERT_TRUE(test::waitUntil([&] { return view->openSheet(DashboardView::SheetKind::backup) != nullptr; }));
  EXPECT_EQ(focusedName(), "backupRestoreFromBackup") << "not the sheet's first control";

  auto* exportUsb = view->openSheet(DashboardView::SheetKind::backup)->findChild<SecondaryButton*>("backupExportUSB");
  exportUsb->setFocus(Qt::TabFocusReason);
  QTest::keyClick(exportUsb, Qt::Key_Return);
  ASSERT_TRUE(test::waitUntil([&] { return view->openSheet(DashboardView::SheetKind::usbExport) != nullptr; }));
  QTest::keyClick(view->openSheet(DashboardView::SheetKind::usbExport), Qt::Key_Escape);
  ASSERT_TRUE(test::waitUntil([&] { return view->openSheet(DashboardView::SheetKind::backup) != nullptr; }));
  EXPECT_EQ(focusedName(), "backupExportUSB");
  EXPECT_TRUE(static_cast<SecondaryButton*>(QApplication::focusWidget())->showsFocus());

  // Opened afresh from the toolbar, it starts at its first control again,
  // and closing it gives the focus back to the toolbar's button.
  QTest::keyClick(view->openSheet(DashboardView::SheetKind::backup), Qt::Key_Escape);
  EXPECT_EQ(QApplication::focusWidget(), view->backupButton());
  click(view->backupButton());
  ASSERT_NE(view->openSheet(DashboardView::SheetKind::backup), nullptr);
  EXPECT_EQ(focusedName(), "backupRestoreFromBackup") << "its first control";
}

TEST_F(DashboardViewTest, LockSetReactionStartsANewlyLockedStoppedAgentFromTheFirstChange) {
  const AgentEntry a = agentEntry("a"), b = agentEntry("b"), running = agentEntry("running");
  model.update({a, b, running}, {runningRecord(running, 3)});
  LockOnlineStore& locks = LockOnlineStore::shared();
  locks.setLocked("a", true);  // the first change after the window appeared
  EXPECT_EQ(actions.calls, QStringList{"recoverOnDemand a"});
  EXPECT_TRUE(row("a")->lockMark()->isVisibleTo(row("a")));  // the rows show it at once
  locks.setLocked("b", true);
  EXPECT_EQ(actions.calls, (QStringList{"recoverOnDemand a", "recoverOnDemand b"}));
  locks.setLocked("running", true);  // running: nothing to start
  locks.setLocked("b", false);       // turning off starts nothing
  EXPECT_EQ(actions.calls, (QStringList{"recoverOnDemand a", "recoverOnDemand b"}));
}

TEST_F(DashboardViewTest, LanguageSwitchRedrawsEveryText) {
  const AgentEntry plugin = agentEntry("p", Kind::idePlugin), cli = agentEntry("c");
  model.update({plugin, cli}, {runningRecord(cli, 4)});
  AgentRowView* p = row("p");
  settings.setLanguage(AppLanguage::zh);
  // No scan in between: the dashboard rebuilt the rows itself.
  EXPECT_EQ(row("p"), p);
  EXPECT_EQ(p->item().bigStatusText, QString::fromUtf8("未运行"));
  EXPECT_EQ(p->stateButton()->label(), QString::fromUtf8("启动"));
  EXPECT_EQ(p->stateButton()->toolTip(), QString::fromUtf8("启动 p"));
  EXPECT_EQ(p->kindChip()->text(), QString::fromUtf8("插件"));
  EXPECT_EQ(row("c")->kindChip()->text(), "CLI");
  EXPECT_EQ(row("c")->stateButton()->label(), QString::fromUtf8("运行中"));
  EXPECT_EQ(view->findChild<Label*>("heroTagline")->text(), QString::fromUtf8("为 AI Agent 保驾护航"));
  EXPECT_EQ(view->findChild<Label*>("heroTitle")->text(), "Tollamere");
  EXPECT_EQ(view->findChild<SectionTitle*>("panelTitle")->shownText(), QString::fromUtf8("实时状态"));
  EXPECT_EQ(view->findChild<Label*>("emptyHint")->text(), QString::fromUtf8("点击右上角「+」安装 Agent"));
  EXPECT_EQ(view->metricCard(0)->title(), QString::fromUtf8("运行中"));
  EXPECT_EQ(view->metricCard(3)->subtitle(), QString::fromUtf8("已识别"));
  EXPECT_EQ(view->addButton()->toolTip(), QString::fromUtf8("添加 Agent"));
  EXPECT_EQ(view->settingsButton()->accessibleName(), QString::fromUtf8("设置"));
  settings.setLanguage(AppLanguage::en);
  EXPECT_EQ(view->findChild<SectionTitle*>("panelTitle")->shownText(), "LIVE STATUS");
  EXPECT_EQ(p->stateButton()->label(), "Launch");
}

TEST_F(DashboardViewTest, RowsAreKeptByIdAndReorderedInPlace) {
  const AgentEntry a = agentEntry("a"), b = agentEntry("b");
  model.update({a, b}, {});
  AgentRowView* rowA = row("a");
  AgentRowView* rowB = row("b");
  rowA->setHoverProgress(1);
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(rowA, &enter);
  // From the keyboard a stopped row is two stops, itself and its Launch; a
  // Launch pressed there that turns into Running hands the focus to its row,
  // whose one stop does what that button does.
  view->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
  EXPECT_EQ(rowB->stateButton()->focusPolicy(), Qt::TabFocus);
  rowB->stateButton()->setFocus(Qt::TabFocusReason);
  QTest::keyClick(rowB->stateButton(), Qt::Key_Space);
  EXPECT_EQ(actions.calls, QStringList{"launch b"});
  model.update({a, b}, {runningRecord(b, 9)});
  EXPECT_TRUE(rowB->hasFocus());
  EXPECT_EQ(rowB->stateButton()->focusPolicy(), Qt::NoFocus);
  EXPECT_EQ(rowIds(), (QStringList{"b", "a"}));
  EXPECT_EQ(row("a"), rowA);
  EXPECT_EQ(row("b"), rowB);
  EXPECT_TRUE(rowA->isHovering());
  EXPECT_EQ(rowB->statusLight()->state(), LightState::working);
  model.update({b}, {});
  EXPECT_EQ(rowIds(), QStringList{"b"});
  EXPECT_EQ(view->rowView("a"), nullptr);
}

TEST_F(DashboardViewTest, ANewEventMarksItsRowAndTheOpenSheetFollows) {
  installFakeSheets();
  const AgentEntry ide = agentEntry("ide", Kind::desktopApp), cli = agentEntry("cli");
  model.update({ide, cli}, {runningRecord(ide, 5)});
  click(row("ide"));
  ASSERT_TRUE(view->selectedItem().has_value());

  // Only the embedded process changed: the sheet keeps its record.
  model.update({ide, cli}, {runningRecord(ide, 5), runningRecord(cli, 6, false, QString("ide"))});
  EXPECT_TRUE(detailUpdates.isEmpty());

  // A hang marks the row at once, without a scan, and the sheet gets it.
  EventStore::shared().append(AgentEvent::make("ide", AgentEventType::hangDetected));
  EXPECT_EQ(row("ide")->state(), RowState::faulted);
  ASSERT_EQ(detailUpdates.size(), 1);
  EXPECT_TRUE(detailUpdates[0].isFaulted);
  EXPECT_TRUE(view->selectedItem()->isFaulted);

  // The sheet's launch goes to the watcher for the sheet's entry.
  std::optional<bool> launched;
  detailCallbacks.onLaunch([&](bool ok) { launched = ok; });
  EXPECT_EQ(actions.calls, QStringList{"launch ide"});
  actions.launchCompletions[0](true);
  EXPECT_EQ(launched, std::optional<bool>(true));

  // Uninstalled: the sheet keeps its last record.
  model.update({cli}, {});
  EXPECT_EQ(detailUpdates.size(), 1);
  EXPECT_EQ(view->selectedItem()->id, "ide");
}

TEST_F(DashboardViewTest, RowsGetTheirSetupActionFromOffTheMainThreadAndTheOpenSheetFollows) {
  installFakeSheets();
  QDir().mkpath(home.path() + "/.claude");
  home.writeFile("Code/p/CLAUDE.md", "");
  // The one id whose full data discovery writes a diagnostic line.
  const AgentEntry cli = test::entryFromJson(
      R"("id":"claude-code-cli","displayName":"C","vendor":"T","kind":"cli","identify":{},)"
      R"("backup":{"discovery":{"primaryHomes":["~/.claude"],"projectMarkers":["CLAUDE.md"]}})");
  const AgentEntry plain = agentEntry("plain");
  ::testing::internal::CaptureStderr();
  for (int scan = 0; scan < 3; ++scan) model.update({cli, plain}, {});
  click(row("claude-code-cli"));
  ASSERT_TRUE(view->selectedItem().has_value());
  test::finishOffMainWork();
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.find("[Discovery]"), std::string::npos) << "no data discovery for drawing rows: " << err;
  EXPECT_TRUE(row("claude-code-cli")->item().setupAction.has_value());
  EXPECT_FALSE(row("plain")->item().setupAction.has_value());
  ASSERT_FALSE(detailUpdates.isEmpty()) << "the open sheet follows the answer";
  EXPECT_EQ(detailUpdates.last().setupAction,
            SetupCatalog::Action::openConfigDirs({QUrl::fromLocalFile(home.path() + "/.claude")}));
}

TEST_F(DashboardViewTest, RowLightsBreatheOnOneClockOnlyWhileShownAndWorking) {
  const AgentEntry a = agentEntry("a"), b = agentEntry("b");
  model.update({a, b}, {runningRecord(a, 1)});
  StatusLight* working = row("a")->statusLight();
  StatusLight* idle = row("b")->statusLight();
  EXPECT_TRUE(working->isBreathing());
  EXPECT_FALSE(idle->isBreathing());
  EXPECT_TRUE(StatusLight::breathClockRuns());
  // A light that came on screen idle shows its glow at rest when it starts
  // working, until it comes on screen again.
  model.update({a, b}, {runningRecord(a, 1), runningRecord(b, 2)});
  EXPECT_EQ(idle->state(), LightState::working);
  EXPECT_FALSE(idle->isBreathing());
  // A hidden window runs no animation at all.
  view->hide();
  EXPECT_FALSE(working->isBreathing());
  EXPECT_FALSE(StatusLight::breathClockRuns());
  view->show();
  EXPECT_TRUE(working->isBreathing());
  EXPECT_TRUE(idle->isBreathing());
  // Stopped agents stop breathing at once.
  model.update({a, b}, {});
  EXPECT_FALSE(working->isBreathing());
  EXPECT_FALSE(StatusLight::breathClockRuns());
}

}  // namespace
}  // namespace tlr
