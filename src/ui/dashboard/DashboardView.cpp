#include "ui/dashboard/DashboardView.h"

#include "core/stores/SettingsStore.h"
#include "presentation/DashboardModel.h"
#include "ui/dashboard/AgentRowView.h"
#include "ui/dashboard/DashboardParts.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Sheet.h"
#include "ui/kit/ShieldHero.h"
#include "ui/kit/Theme.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

namespace tlr {
namespace {


}  // namespace

DashboardView::DashboardView(DashboardModel& model, QWidget* parent)
    : QWidget(parent), model_(model), settings_(*model.stores().settings), actions_(new DashboardActions(model, this)) {
  setObjectName(QStringLiteral("dashboard"));
  setMinimumSize(kMinWidth, kMinHeight);
  backToBackup_ = new QTimer(this);
  backToBackup_->setSingleShot(true);
  backToBackup_->setInterval(kSheetHandOverMs);
  connect(backToBackup_, &QTimer::timeout, this, &DashboardView::openBackup);
  buildLayout();
  retranslate();

  // The model and its actions follow the stores; the view draws what they
  // publish.
  connect(&model_, &DashboardModel::dashboardItemsChanged, this, &DashboardView::itemsPublished);
  whenLookChanges(this, [this] { retranslate(); });

  // No rows yet may mean no scan yet (the first runs once the window has
  // painted): the hint that there is no agent waits for a scan to say so,
  // and is not even laid out before then.
  if (model_.dashboardItems().isEmpty()) {
    scroll_->hide();
    empty_->hide();
    updateMetrics({});
  } else {
    itemsPublished(model_.dashboardItems());
  }
}

// Open sheets are children of the window and go with it; their callbacks
// hold guarded pointers to this view.
DashboardView::~DashboardView() = default;

void DashboardView::buildLayout() {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  column->addWidget(buildHero());
  column->addWidget(buildMetrics());
  auto* divider = new Divider(this);
  divider->setObjectName(QStringLiteral("divider"));
  column->addWidget(divider);
  buildLiveStatus(column);
  buildToolbar();
}

// The hero: shield, title and sub-line; 92 high under 14 of padding.
QWidget* DashboardView::buildHero() {
  auto* hero = new QWidget(this);
  hero->setObjectName(QStringLiteral("hero"));
  hero->setFixedHeight(92 + 14);
  auto* heroRow = new QHBoxLayout(hero);
  heroRow->setContentsMargins(22, 14, 22, 0);
  heroRow->setSpacing(14);
  shield_ = new ShieldHero(44, hero);
  shield_->setObjectName(QStringLiteral("heroShield"));
  heroRow->addWidget(shield_, 0, Qt::AlignVCenter);
  auto* heroText = new QVBoxLayout;
  heroText->setSpacing(4);
  heroText->addStretch(1);
  heroTitle_ = new Label(QStringLiteral("Tollamere"), 24, QFont::Bold, TextRole::primary, hero);
  heroTitle_->setObjectName(QStringLiteral("heroTitle"));
  heroText->addWidget(heroTitle_);
  heroSub_ = new Label(QString(), 12.5, QFont::Medium, TextRole::dim, hero);
  heroSub_->setObjectName(QStringLiteral("heroTagline"));
  heroText->addWidget(heroSub_);
  heroText->addStretch(1);
  heroRow->addLayout(heroText);
  heroRow->addStretch(1);
  return hero;
}

// The four metric cards.
QWidget* DashboardView::buildMetrics() {
  auto* metrics = new MetricsRow(this);
  metrics->setObjectName(QStringLiteral("metrics"));
  auto* metricRow = new QHBoxLayout(metrics);
  metricRow->setContentsMargins(22, 4, 22, 16);
  metricRow->setSpacing(10);
  const char* names[] = {"metricRunning", "metricLocked", "metricFaulted", "metricTotal"};
  for (int i = 0; i < 4; ++i) {
    auto* card = new MetricCard(i == 0, metrics);
    card->setObjectName(QLatin1String(names[i]));
    metricRow->addWidget(card);
    metrics_ << card;
  }
  return metrics;
}

// The live-status panel: its title beside a rule, then the rows or the empty
// state.
void DashboardView::buildLiveStatus(QVBoxLayout* column) {
  auto* header = new QWidget(this);
  auto* headerRow = new QHBoxLayout(header);
  headerRow->setContentsMargins(22, 16, 22, 2);
  headerRow->setSpacing(8);
  panelTitle_ = new SectionTitle(QString(), header);
  panelTitle_->setObjectName(QStringLiteral("panelTitle"));
  headerRow->addWidget(panelTitle_);
  auto* rule = new Divider(0.06, 0.06, header);
  headerRow->addWidget(rule, 1, Qt::AlignVCenter);
  column->addWidget(header);

  rowList_ = new AgentRowList;
  rowList_->setObjectName(QStringLiteral("agentRows"));
  scroll_ = new ScrollArea(rowList_, this);
  scroll_->setObjectName(QStringLiteral("agentScroll"));
  column->addWidget(scroll_, 1);

  empty_ = new QWidget(this);
  empty_->setObjectName(QStringLiteral("emptyState"));
  auto* emptyColumn = new QVBoxLayout(empty_);
  emptyColumn->setContentsMargins(0, 40, 0, 40);
  emptyColumn->setSpacing(8);
  emptyLabel_ = new Label(QString(), 13, QFont::Normal, TextRole::dim, empty_);
  emptyLabel_->setObjectName(QStringLiteral("emptyHint"));
  emptyLabel_->setAlignment(Qt::AlignHCenter);
  emptyColumn->addWidget(emptyLabel_);
  column->addWidget(empty_);
  column->addStretch(0);
}

// The toolbar floats over the top-right corner.
void DashboardView::buildToolbar() {
  toolbar_ = new QWidget(this);
  toolbar_->setObjectName(QStringLiteral("toolbar"));
  auto* tools = new QHBoxLayout(toolbar_);
  tools->setContentsMargins(0, 0, 0, 0);
  tools->setSpacing(6);
  addButton_ = new IconButton(QStringLiteral("plus"), QString(), 28, toolbar_);
  addButton_->setLook(&IconButton::toolbarLook);
  addButton_->setObjectName(QStringLiteral("addAgentButton"));
  backupButton_ = new IconButton(QStringLiteral("archivebox"), QString(), 28, toolbar_);
  backupButton_->setLook(&IconButton::toolbarLook);
  backupButton_->setObjectName(QStringLiteral("backupButton"));
  settingsButton_ = new IconButton(QStringLiteral("gearshape"), QString(), 28, toolbar_);
  settingsButton_->setLook(&IconButton::toolbarLook);
  settingsButton_->setObjectName(QStringLiteral("settingsButton"));
  for (auto* b : {addButton_, backupButton_, settingsButton_}) tools->addWidget(b);
  connect(addButton_, &QAbstractButton::clicked, this, &DashboardView::openAddAgent);
  connect(backupButton_, &QAbstractButton::clicked, this, &DashboardView::openBackup);
  connect(settingsButton_, &QAbstractButton::clicked, this, &DashboardView::openSettings);
  toolbar_->adjustSize();
  toolbar_->raise();
}

QString DashboardView::text(LocKey::Id id) const { return settings_.text(LocKey::plain(id)); }

void DashboardView::retranslate() {
  heroSub_->setPlainText(text(LocKey::Id::heroTagline));
  panelTitle_->setTitle(text(LocKey::Id::panelLiveStatus));
  emptyLabel_->setPlainText(text(LocKey::Id::dashEmptyHint));
  addButton_->setHint(text(LocKey::Id::dashAddAgentTooltip));
  backupButton_->setHint(text(LocKey::Id::dashBackupTooltip));
  settingsButton_->setHint(text(LocKey::Id::dashSettingsTooltip));
  updateMetrics(model_.dashboardItems());
}

void DashboardView::itemsPublished(const QList<DashboardAgentItem>& items) {
  syncRows(items);
  updateMetrics(items);
  // An open detail sheet follows its row when its state changed; a row
  // that is gone leaves the sheet with its last record.
  if (selectedItem_) {
    if (std::optional<DashboardAgentItem> fresh = DashboardActions::followSelection(*selectedItem_, items)) {
      selectedItem_ = *fresh;
      if (detailSetItem_) detailSetItem_(*fresh);
    }
  }
  if (addAgentSetInstalledIds_ && openSheet(SheetKind::addAgent)) addAgentSetInstalledIds_(model_.installedIds());
}

void DashboardView::syncRows(const QList<DashboardAgentItem>& items) {
  QHash<QString, AgentRowView*> kept;
  QList<AgentRowView*> order;
  for (const DashboardAgentItem& item : items) {
    AgentRowView* row = rows_.take(item.id);
    if (row) {
      row->setItem(item);
    } else {
      row = new AgentRowView(item, settings_, rowList_);
      rowList_->adopt(row);
      connect(row, &AgentRowView::tapped, this, [this, row] { selectItem(row->item()); });
      connect(row, &AgentRowView::launchRequested, this, [this, row] { actions_->launchFromRow(row->item().entry); });
    }
    kept.insert(item.id, row);
    order << row;
  }
  for (AgentRowView* gone : std::as_const(rows_)) {
    rowList_->rowLayout()->removeWidget(gone);
    gone->hide();
    gone->deleteLater();
  }
  rows_ = std::move(kept);

  // Reorder only when the order changed, so an unchanged list costs nothing.
  if (rowList_->rows() != order) {
    QVBoxLayout* layout = rowList_->rowLayout();
    for (AgentRowView* row : order) layout->removeWidget(row);
    for (int i = 0; i < order.size(); ++i) layout->insertWidget(i, order[i]);
  }
  for (AgentRowView* row : order)
    if (row->isHidden()) row->show();

  const bool empty = items.isEmpty();
  scroll_->setVisible(!empty);
  empty_->setVisible(empty);
}

void DashboardView::updateMetrics(const QList<DashboardAgentItem>& items) {
  int running = 0, locked = 0, faulted = 0;
  for (const DashboardAgentItem& item : items) {
    running += item.isRunning ? 1 : 0;
    locked += item.isLockedOnline ? 1 : 0;
    faulted += item.isFaulted ? 1 : 0;
  }
  metrics_[0]->setContent(text(LocKey::Id::metricRunning), running, text(LocKey::Id::metricRunningSub));
  metrics_[1]->setContent(text(LocKey::Id::metricLocked), locked, text(LocKey::Id::metricLockedSub));
  metrics_[2]->setContent(text(LocKey::Id::metricFaulted), faulted,
                          text(faulted == 0 ? LocKey::Id::metricFaultedSubOk : LocKey::Id::metricFaultedSub));
  metrics_[3]->setContent(text(LocKey::Id::metricTotal), static_cast<int>(items.size()),
                          text(LocKey::Id::metricTotalSub));
}

QList<AgentRowView*> DashboardView::rowViews() const { return rowList_->rows(); }

QWidget* DashboardView::emptyState() const { return empty_; }

Sheet* DashboardView::openSheet(SheetKind kind) const {
  Sheet* sheet = open_.value(kind).data();
  return sheet && !sheet->isDismissed() ? sheet : nullptr;
}

// ---- Sheets -----------------------------------------------------------------

void DashboardView::present(SheetKind kind, Sheet* sheet) {
  if (!sheet) return;
  backToBackup_->stop();
  // Another sheet than the ones the backup sheet hands over to: the way
  // back to it is over.
  if (kind != SheetKind::restore && kind != SheetKind::usbExport && kind != SheetKind::usbImport)
    backupReturnFocus_.clear();
  open_.insert(kind, sheet);
  const QPointer<DashboardView> self(this);
  sheet->setOnClose([self, kind] {
    if (self) self->closeByUser(kind);
  });
  connect(sheet, &Sheet::dismissed, this, [this, kind, sheet] {
    if (open_.value(kind) != sheet) return;
    open_.remove(kind);
    if (kind == SheetKind::detail) {
      selectedItem_.reset();
      detailSetItem_ = {};
    }
    if (kind == SheetKind::addAgent) addAgentSetInstalledIds_ = {};
  });
  sheet->present();
}

void DashboardView::close(SheetKind kind) {
  Sheet* sheet = openSheet(kind);
  if (kind == SheetKind::detail) {
    selectedItem_.reset();
    detailSetItem_ = {};
  }
  if (kind == SheetKind::addAgent) addAgentSetInstalledIds_ = {};
  open_.remove(kind);
  if (sheet) sheet->dismiss();
}

void DashboardView::closeByUser(SheetKind kind) {
  close(kind);
  // The restore and USB sheets open from the backup sheet, and go back to it
  // (unless another sheet opens meanwhile).
  if (kind == SheetKind::restore || kind == SheetKind::usbExport || kind == SheetKind::usbImport)
    backToBackup_->start();
}

void DashboardView::selectItem(const DashboardAgentItem& item) {
  if (!sheets_.detail || openSheet(SheetKind::detail)) return;
  const QPointer<DashboardView> self(this);
  const AgentDetailCallbacks callbacks = actions_->detailCallbacks(item.entry, [self] {
    if (self) self->close(SheetKind::detail);
  });
  DashboardSheets::Detail detail = sheets_.detail(window(), item, callbacks);
  if (!detail.sheet) return;
  // Its configuration folder may have appeared since the agent was
  // installed: the sheet follows the answer.
  model_.refreshSetupAction(item.entry);
  selectedItem_ = item;
  detailSetItem_ = std::move(detail.setItem);
  present(SheetKind::detail, detail.sheet);
}

void DashboardView::openAddAgent() {
  if (!sheets_.addAgent || !model_.registry() || openSheet(SheetKind::addAgent)) return;
  const QPointer<DashboardView> self(this);
  DashboardSheets::AddAgent add = sheets_.addAgent(
      window(), model_.registry(), model_.installedIds(),
      [self] {
        if (self) self->close(SheetKind::addAgent);
      },
      [] {});  // the next scan shows the new agent
  if (!add.sheet) return;
  addAgentSetInstalledIds_ = std::move(add.setInstalledIds);
  present(SheetKind::addAgent, add.sheet);
}

void DashboardView::openSettings() {
  if (!sheets_.settings || openSheet(SheetKind::settings)) return;
  const QPointer<DashboardView> self(this);
  present(SheetKind::settings, sheets_.settings(window(), [self] {
            if (self) self->close(SheetKind::settings);
          }));
}

QList<AgentEntry> DashboardView::installedAgents() const {
  QList<AgentEntry> entries;
  for (const DashboardAgentItem& item : model_.dashboardItems()) entries << item.entry;
  return entries;
}

QList<AgentEntry> DashboardView::backupAgents() const {
  if (model_.registry()) return model_.registry()->visibleAgents();
  return installedAgents();
}

void DashboardView::openBackup() {
  if (!sheets_.backup || openSheet(SheetKind::backup)) return;
  const QPointer<DashboardView> self(this);
  auto act = [self](void (DashboardView::*fn)()) {
    return [self, fn] {
      if (self) (self->*fn)();
    };
  };
  Sheet* sheet = sheets_.backup(
      window(), backupAgents(),
      [self] {
        if (self) self->close(SheetKind::backup);
      },
      act(&DashboardView::openRestoreFromBackup), act(&DashboardView::openUSBExportFromBackup),
      act(&DashboardView::openUSBImportFromBackup));
  if (const QString returnTo = std::exchange(backupReturnFocus_, QString()); sheet && !returnTo.isEmpty())
    sheet->setFirstFocus(returnTo);
  present(SheetKind::backup, sheet);
}

void DashboardView::handOverFromBackup() {
  // The backup sheet comes back with the focus on the control that handed
  // over (Restore, Export, Import), as the user left it.
  backupReturnFocus_.clear();
  if (Sheet* backup = openSheet(SheetKind::backup))
    if (QWidget* pressed = backup->pressedControl()) backupReturnFocus_ = pressed->objectName();
  close(SheetKind::backup);
}

void DashboardView::openRestoreFromBackup() {
  handOverFromBackup();
  QTimer::singleShot(kSheetHandOverMs, this, [this] {
    if (!sheets_.restore || openSheet(SheetKind::restore)) return;
    const QPointer<DashboardView> self(this);
    present(SheetKind::restore, sheets_.restore(
                                    window(),
                                    [self] {
                                      if (self) self->closeByUser(SheetKind::restore);
                                    },
                                    [](const QString&) {}));
  });
}

void DashboardView::openUSBExportFromBackup() {
  openUSBFromBackup(SheetKind::usbExport, DashboardSheets::USBMode::exportPkg);
}

void DashboardView::openUSBImportFromBackup() {
  openUSBFromBackup(SheetKind::usbImport, DashboardSheets::USBMode::importPkg);
}

void DashboardView::openUSBFromBackup(SheetKind kind, DashboardSheets::USBMode mode) {
  handOverFromBackup();
  QTimer::singleShot(kSheetHandOverMs, this, [this, kind, mode] {
    if (!sheets_.usbMigration || openSheet(kind)) return;
    const QPointer<DashboardView> self(this);
    present(kind, sheets_.usbMigration(window(), mode, installedAgents(), [self, kind] {
              if (self) self->closeByUser(kind);
            }));
  });
}

// ---- Painting and geometry -------------------------------------------------------

void DashboardView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Theme::current().background);
}

void DashboardView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  placeToolbar();
}

void DashboardView::placeToolbar() {
  toolbar_->adjustSize();
  toolbar_->move(width() - 12 - toolbar_->width(), 8);
  toolbar_->raise();
}

}  // namespace tlr
