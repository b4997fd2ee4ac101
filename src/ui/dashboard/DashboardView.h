#pragma once

#include "core/texts/LocKey.h"
#include "presentation/DashboardActions.h"
#include "presentation/DashboardAgentItem.h"
#include "ui/dashboard/DashboardSheets.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <optional>

class QScrollArea;
class QVBoxLayout;

namespace tlr {

class AgentRowList;
class AgentRowView;
class DashboardModel;
class IconButton;
class Label;
class MetricCard;
class SectionTitle;
class SettingsStore;
class Sheet;
class ShieldHero;

// The content of the main window: the hero, the four metric cards, the
// live-status panel with one row per agent, and a toolbar of three buttons
// (add agent, backup and restore, settings) in the top-right corner.
//
// It presents every sheet of the application through the factories of
// DashboardSheets (setSheets()), wires the rows' and the detail sheet's
// actions to the lifecycle watcher (DashboardActions), and keeps the rows
// current: the rows are rebuilt at once when the language, the lock-online
// set or the event log changes; an agent the user has just locked online is
// started; an open detail sheet follows its row. Rows are kept by agent id
// and updated in place, so hover state and light animations survive every
// update. Holds no supervision logic of its own.
class DashboardView final : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kMinWidth = 680;
  static constexpr int kMinHeight = 560;
  // The hand-over from the backup sheet to the restore or USB sheets.
  static constexpr int kSheetHandOverMs = 300;

  // The model (and its stores) must outlive the view; its texts are in the
  // language of the model's settings.
  explicit DashboardView(DashboardModel& model, QWidget* parent = nullptr);
  ~DashboardView() override;

  DashboardModel& model() const { return model_; }
  DashboardActions& actions() const { return *actions_; }

  const DashboardSheets& sheets() const { return sheets_; }
  void setSheets(DashboardSheets sheets) { sheets_ = std::move(sheets); }

  // ---- What the buttons and rows do (also callable directly) ----
  // Opens the detail sheet of `item` (a row's tap).
  void selectItem(const DashboardAgentItem& item);
  void openAddAgent();
  void openBackup();
  void openSettings();
  // The backup sheet's hand-overs: it closes now, the next opens 0.3 s later.
  void openRestoreFromBackup();
  void openUSBExportFromBackup();
  void openUSBImportFromBackup();

  // ---- State ----
  // The row whose detail sheet is open.
  const std::optional<DashboardAgentItem>& selectedItem() const { return selectedItem_; }
  enum class SheetKind { detail, settings, addAgent, backup, restore, usbExport, usbImport };
  // The sheet of that kind while it is shown, else nullptr.
  Sheet* openSheet(SheetKind kind) const;

  // ---- Parts, for the window and for tests ----
  QList<AgentRowView*> rowViews() const;  // in display order
  AgentRowView* rowView(const QString& agentId) const { return rows_.value(agentId); }
  MetricCard* metricCard(int index) const { return metrics_.value(index); }
  IconButton* addButton() const { return addButton_; }
  IconButton* backupButton() const { return backupButton_; }
  IconButton* settingsButton() const { return settingsButton_; }
  QWidget* emptyState() const;

  QSize minimumSizeHint() const override { return {kMinWidth, kMinHeight}; }
  QSize sizeHint() const override { return {kMinWidth, kMinHeight}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  // The window from top to bottom, then the toolbar over its corner.
  void buildLayout();
  QWidget* buildHero();
  QWidget* buildMetrics();
  void buildLiveStatus(QVBoxLayout* column);
  void buildToolbar();
  void retranslate();
  void itemsPublished(const QList<DashboardAgentItem>& items);
  void syncRows(const QList<DashboardAgentItem>& items);
  void updateMetrics(const QList<DashboardAgentItem>& items);
  void placeToolbar();
  // Presents `sheet` as `kind`; it closes through `close()`.
  void present(SheetKind kind, Sheet* sheet);
  void close(SheetKind kind);
  // Closed by the user (Esc, its Close buttons): as close(), and the
  // restore and USB sheets hand back to the backup sheet.
  void closeByUser(SheetKind kind);
  // The backup sheet closes for a sheet it hands over to; the control that
  // handed over is remembered for its return.
  void handOverFromBackup();
  // The backup sheet's hand-over to the USB sheet of `kind`.
  void openUSBFromBackup(SheetKind kind, DashboardSheets::USBMode mode);
  // The agents of the dashboard's rows.
  QList<AgentEntry> installedAgents() const;
  QList<AgentEntry> backupAgents() const;

  QString text(LocKey::Id id) const;

  DashboardModel& model_;
  const SettingsStore& settings_;
  DashboardActions* actions_;
  DashboardSheets sheets_;

  std::optional<DashboardAgentItem> selectedItem_;
  QHash<SheetKind, QPointer<Sheet>> open_;
  std::function<void(const DashboardAgentItem&)> detailSetItem_;
  std::function<void(const QSet<QString>&)> addAgentSetInstalledIds_;
  // Brings the backup sheet back after the restore or a USB sheet closed;
  // any sheet that opens meanwhile stops it.
  QTimer* backToBackup_ = nullptr;
  // The backup sheet's control that handed over to the sheet now open: it
  // has the focus when the backup sheet comes back.
  QString backupReturnFocus_;

  ShieldHero* shield_ = nullptr;
  Label* heroTitle_ = nullptr;
  Label* heroSub_ = nullptr;
  QList<MetricCard*> metrics_;
  SectionTitle* panelTitle_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  AgentRowList* rowList_ = nullptr;
  QWidget* empty_ = nullptr;
  Label* emptyLabel_ = nullptr;
  QWidget* toolbar_ = nullptr;
  IconButton* addButton_ = nullptr;
  IconButton* backupButton_ = nullptr;
  IconButton* settingsButton_ = nullptr;
  QHash<QString, AgentRowView*> rows_;
};

}  // namespace tlr
