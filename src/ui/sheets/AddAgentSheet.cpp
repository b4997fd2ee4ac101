#include "ui/sheets/AddAgentSheet.h"

#include "core/stores/SettingsStore.h"
#include "core/system/DesktopOpen.h"
#include "presentation/AddAgentCatalog.h"
#include "presentation/AgentDetailLogic.h"
#include "ui/kit/AgentIconResolver.h"
#include "ui/kit/Alert.h"
#include "ui/sheets/InstallSheet.h"
#include "ui/sheets/SheetParts.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QPainter>
#include <QVBoxLayout>

namespace tlr {
AddAgentSheet::AddAgentSheet(std::shared_ptr<const AgentRegistry> registry, QSet<QString> installedIds,
                             std::function<void()> onClose, std::function<void()> onDidInstall,
                             const SettingsStore& settings, QWidget* parent)
    : Sheet(kSize, parent),
      settings_(settings),
      registry_(std::move(registry)),
      installedIds_(std::move(installedIds)),
      onDidInstall_(std::move(onDidInstall)) {
  setObjectName(QStringLiteral("addAgentSheet"));
  setOnClose(std::move(onClose));

  const sheets::SheetStart start = sheets::startSheet(
      this, QStringLiteral("plus.app"), [] { return Theme::current().accent; }, settings_,
      QStringLiteral("addAgentCloseButton"));
  QVBoxLayout* column = start.column;
  title_ = start.header.title;
  close_ = start.header.close;
  connect(close_, &QAbstractButton::clicked, this, &Sheet::requestClose);
  column->addWidget(sheets::sheetLine(this));

  auto* body = new QWidget;
  content_ = new QVBoxLayout(body);
  content_->setContentsMargins(20, 18, 20, 18);
  content_->setSpacing(16);
  column->addWidget(sheets::makeScrollArea(body, this), 1);

  rebuild();
  whenLookChanges(this, [this] { rebuild(); });
}

QString AddAgentSheet::text(const LocKey& key) const { return settings_.text(key); }

AddAgentSheet::~AddAgentSheet() = default;

void AddAgentSheet::setInstalledIds(const QSet<QString>& installedIds) {
  if (installedIds == installedIds_) return;
  installedIds_ = installedIds;
  rebuild();
}

void AddAgentSheet::rebuild() {
  const QString title = text(LocKey::addSheetTitle());
  title_->setPlainText(title);
  setWindowTitle(title);

  sheets::clearLayout(content_);
  const QList<AgentEntry> uninstalled = AddAgentCatalog::notInstalled(*registry_, installedIds_);
  const QList<AgentEntry> installed = AddAgentCatalog::installed(*registry_, installedIds_);
  if (!uninstalled.isEmpty())
    content_->addWidget(section(QStringLiteral("NotInstalled"), text(LocKey::addSheetNotInstalled()),
                                uninstalled, false));
  if (!installed.isEmpty())
    content_->addWidget(
        section(QStringLiteral("Installed"), text(LocKey::addSheetInstalled()), installed, true));

  auto* footer = new Label(text(LocKey::addSheetMoreComing()), 11,
                           QFont::Normal, TextRole::faint);
  footer->setObjectName(QStringLiteral("addAgentFooter"));
  footer->setAlignment(Qt::AlignHCenter);
  footer->setContentsMargins(0, 8, 0, 0);
  content_->addWidget(footer);
  content_->addStretch(1);
}

QWidget* AddAgentSheet::section(const QString& key, const QString& title, const QList<AgentEntry>& entries,
                                bool installed) {
  auto* box = new QWidget;
  box->setObjectName(QStringLiteral("addAgentSection") + key);
  auto* column = new QVBoxLayout(box);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(8);
  auto* heading = new SectionTitle(title, box);
  heading->setObjectName(QStringLiteral("addAgentSectionTitle") + key);
  column->addWidget(heading);

  auto* card = new Card(box, 10);
  auto* rows = new QVBoxLayout(card);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(0);
  for (qsizetype i = 0; i < entries.size(); ++i) {
    QWidget* row = agentRow(entries[i], installed);
    row->setContentsMargins(12, 9, 12, 9);
    rows->addWidget(row);
    if (entries[i].id != entries.last().id) {
      auto* divider = new Divider(0.06, 0.06, card);
      divider->setObjectName(QStringLiteral("addAgentDivider:") + entries[i].id);
      rows->addWidget(divider);
    }
  }
  column->addWidget(card);
  return box;
}

QWidget* AddAgentSheet::agentRow(const AgentEntry& entry, bool installed) {
  auto* row = new QWidget;
  row->setObjectName(QStringLiteral("addAgentRow:") + entry.id);
  auto* line = new QHBoxLayout(row);
  line->setSpacing(10);
  // The agent's picture framed 28 × 28 (radius 6; a picture other than an
  // application's icon inset 4).
  auto* tile = new IconTile(28, 6, 4, row);
  const std::optional<AgentIconResolver::Resolved> picture = AgentIconResolver::resolve(entry);
  tile->setPicture(picture ? picture->image : QPixmap(), picture && picture->isAppIcon);
  line->addWidget(tile, 0, Qt::AlignVCenter);

  auto* names = new QVBoxLayout;
  names->setSpacing(1);
  auto* name = new Label(entry.localizedDisplayName(), 13, QFont::Medium, TextRole::primary, row);
  name->setObjectName(QStringLiteral("addAgentName"));
  name->setElided(true);
  auto* kind = new Label(AgentDetailLogic::kindBadge(entry.kind, settings_.language()), 10.5, QFont::Normal, TextRole::faint, row);
  kind->setObjectName(QStringLiteral("addAgentKind"));
  names->addWidget(name);
  names->addWidget(kind);
  line->addLayout(names);
  line->addStretch(1);

  if (installed) {
    auto* mark = new Label(text(LocKey::addSheetInstalledLabel()), 11, QFont::Normal, TextRole::faint, row);
    mark->setObjectName(QStringLiteral("addAgentInstalled:") + entry.id);
    line->addWidget(mark, 0, Qt::AlignVCenter);
  } else if (entry.install) {
    auto* button = new PrimaryButton(text(LocKey::addSheetInstallBtn()), QString(), row);
    button->setObjectName(QStringLiteral("addAgentInstall:") + entry.id);
    // Every row's button reads "Install": a screen reader hears which agent.
    button->setAccessibleName(text(LocKey::installSheetTitle(entry.localizedDisplayName())));
    button->setLabelFont(12, QFont::DemiBold);
    button->setPadding(12, 5);
    const QString id = entry.id;
    connect(button, &QAbstractButton::clicked, this, [this, id] {
      if (const std::optional<AgentEntry> current = registry_->lookup(id)) install(*current);
    });
    line->addWidget(button, 0, Qt::AlignVCenter);
  }
  return row;
}

void AddAgentSheet::install(const AgentEntry& entry) {
  const AddAgentCatalog::InstallAction action = AddAgentCatalog::installActionFor(entry);
  switch (action.kind) {
    case AddAgentCatalog::InstallAction::Kind::openWebsite: {
      // The official page wins over the commands; a desktop that cannot
      // open it is said, with the address to copy.
      const QString address = action.address;
      DesktopOpen::address(address, this, [this, address](const LocKey& reason) {
        Alert::presentOpenFailed(settings_, address, reason, /*folder=*/false, this);
      });
      return;
    }
    case AddAgentCatalog::InstallAction::Kind::openInstallSheet:
      openInstallSheet(entry.id);
      return;
    case AddAgentCatalog::InstallAction::Kind::nothing:
      return;
  }
}

void AddAgentSheet::openInstallSheet(const QString& entryId) {
  if (installSheet_) return;
  installingEntryId_ = entryId;
  const std::optional<AgentEntry> entry = registry_->lookup(entryId);
  if (!entry) return;  // nothing is presented; the id stays
  QPointer<AddAgentSheet> self(this);
  auto* sheet = new InstallSheet(
      *entry, [self] { if (self) self->closeInstallSheet(); },
      [self] {
        if (!self) return;
        if (self->onDidInstall_) self->onDidInstall_();
      },
      settings_, this);
  installSheet_ = sheet;
  connect(sheet, &Sheet::dismissed, this, [this, sheet] {
    // Dismissed from outside (the window manager): forget it all the same.
    if (installSheet_ == sheet) {
      installSheet_ = nullptr;
      installingEntryId_.reset();
    }
  });
  sheet->present();
}

void AddAgentSheet::closeInstallSheet() {
  installingEntryId_.reset();
  if (InstallSheet* sheet = installSheet_) {
    installSheet_ = nullptr;
    sheet->dismiss();
  }
}

}  // namespace tlr
