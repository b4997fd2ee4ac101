#pragma once

#include "core/LocKey.h"
#include "presentation/DashboardActions.h"
#include "presentation/DashboardAgentItem.h"
#include "ui/kit/Sheet.h"
#include "watcher/AgentDoctor.h"

#include <QList>
#include <QPointer>
#include <QTimeZone>

#include <functional>
#include <optional>

class QScrollArea;
class QVBoxLayout;

namespace tlr {

class Alert;
class Card;
class CloseButton;
class DoctorOutputSheet;
class DoctorResultStore;
class EventStore;
class IconTile;
class KindChip;
class Label;
class LockOnlineStore;
class PanelButton;
class SecondaryButton;
class SectionTitle;
class SymbolView;
class TintedPanel;
class ToggleSwitch;

// The sheet in which the user acts on one agent (520 × 540): its header,
// status, embedded command-line process, action buttons, lock-online switch,
// setup, restart, doctor, uninstall and its recent events.
//
// The dashboard builds it for a row with the seven callbacks and hands it a
// fresh row whenever that row's state changes (setItem); busy buttons, open
// confirmations and the doctor output survive that. The sheet reads the
// shared stores and follows them while open. The work behind its buttons is
// the dashboard's (the callbacks), except the launchd job and terminal work
// that the sheet starts itself through LaunchdJobControl; nothing here waits
// on the main thread.
//
// Completions that arrive after the sheet closed change nothing of it; the
// work they report still runs to its end (a manual doctor run still stores
// its result, a delayed launchd stop still reaches the dashboard).
class AgentDetailSheet final : public Sheet {
  Q_OBJECT

 public:
  static constexpr QSize kSize{520, 540};
  static constexpr int kRecentEvents = 20;

  // The stores the sheet reads and follows; all must outlive it.
  struct Stores {
    LockOnlineStore* lockOnline = nullptr;
    EventStore* events = nullptr;
    DoctorResultStore* doctorResults = nullptr;
    // Event times are shown in this zone.
    QTimeZone timeZone = QTimeZone::systemTimeZone();
    static Stores shared();
  };

  // Builds the uninstall sheet of an entry over `parent` (not yet shown), or
  // nothing; `onDone` is called once the uninstall ran.
  using UninstallSheetFactory = std::function<Sheet*(QWidget* parent, const AgentEntry& entry,
                                                     std::function<void()> onClose, std::function<void()> onDone)>;
  // The factory every detail sheet uses; the default builds UninstallSheet.
  static void setUninstallSheetFactory(UninstallSheetFactory factory);

  AgentDetailSheet(const DashboardAgentItem& item, const AgentDetailCallbacks& callbacks, QWidget* parent = nullptr);
  AgentDetailSheet(const DashboardAgentItem& item, const AgentDetailCallbacks& callbacks, Stores stores,
                   QWidget* parent = nullptr);
  ~AgentDetailSheet() override;

  // A fresh record of the same agent.
  void setItem(const DashboardAgentItem& item);
  const DashboardAgentItem& item() const { return item_; }

  bool isLaunching() const { return launching_; }
  bool isStopping() const { return stopping_; }
  bool isDoctorRunning() const { return doctorRunning_; }
  const std::optional<AgentDoctor::Result>& doctorResult() const { return doctorResult_; }
  // The doctor output sheet while it is shown.
  DoctorOutputSheet* doctorOutputSheet() const;
  Sheet* uninstallSheet() const { return uninstallSheet_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void buildHeader(QVBoxLayout* root);
  void buildContent(QVBoxLayout* content);
  QWidget* buildInfoCard();
  QWidget* buildEmbeddedCard();
  QWidget* buildActionRow();
  QWidget* buildLockCard();
  QWidget* buildSetupSection();
  QWidget* buildRestartSection();
  QWidget* buildDoctorSection();
  QWidget* buildUninstallSection();
  QWidget* buildEventHistory();

  // Every section from the current record, the stores and the language.
  void refresh();
  void refreshBanner();
  void refreshEvents();

  bool isLocked() const;
  QString text(const LocKey& key) const;

  // Actions.
  void autoRunDoctorIfNeeded();
  void launchAction();
  void onStopClick();
  void runLaunchdHardStop();
  void runLaunchdUninstall();
  void openTuiInTerminal(const QStringList& command);
  void openDashboard();
  void lockSwitchToggled(bool checked);
  void showLockOffConfirm();
  void showRestartConfirm();
  void runDoctor();
  void showDoctorOutput();
  void bannerClicked();
  void showUninstallSheet();
  void uninstallDone();

  DashboardAgentItem item_;
  AgentDetailCallbacks callbacks_;
  Stores stores_;

  bool launching_ = false;
  bool stopping_ = false;
  bool doctorRunning_ = false;
  std::optional<AgentDoctor::Result> doctorResult_;
  bool autoDoctorChecked_ = false;

  QPointer<DoctorOutputSheet> doctorOutput_;
  QPointer<Sheet> uninstallSheet_;
  QPointer<Alert> lockOffConfirm_;
  QPointer<Alert> restartConfirm_;

  // Header.
  IconTile* icon_ = nullptr;
  Label* name_ = nullptr;
  KindChip* badge_ = nullptr;
  SymbolView* headerLock_ = nullptr;
  Label* vendor_ = nullptr;
  CloseButton* closeButton_ = nullptr;
  // Banner.
  TintedPanel* runningBanner_ = nullptr;
  Label* runningBannerText_ = nullptr;
  PanelButton* resultBanner_ = nullptr;
  // Information card.
  Label* statusLabel_ = nullptr;
  Label* statusValue_ = nullptr;
  Label* runningLabel_ = nullptr;
  Label* runningValue_ = nullptr;
  // Embedded command-line card.
  TintedPanel* embedded_ = nullptr;
  Label* embeddedTitle_ = nullptr;
  Label* embeddedSubtitle_ = nullptr;
  // Action row.
  QWidget* actionRow_ = nullptr;
  SecondaryButton* consoleButton_ = nullptr;
  SecondaryButton* openButton_ = nullptr;
  SecondaryButton* dashboardButton_ = nullptr;
  SecondaryButton* launchButton_ = nullptr;
  SecondaryButton* stopButton_ = nullptr;
  // Lock card.
  SymbolView* lockSymbol_ = nullptr;
  Label* lockTitle_ = nullptr;
  ToggleSwitch* lockSwitch_ = nullptr;
  // Setup, restart, doctor, uninstall.
  QWidget* setupSection_ = nullptr;
  SecondaryButton* setupButton_ = nullptr;
  Label* setupHint_ = nullptr;
  QWidget* restartSection_ = nullptr;
  SecondaryButton* restartButton_ = nullptr;
  Label* restartHint_ = nullptr;
  QWidget* doctorSection_ = nullptr;
  SecondaryButton* doctorButton_ = nullptr;
  Label* doctorHint_ = nullptr;
  QWidget* uninstallSection_ = nullptr;
  SecondaryButton* uninstallButton_ = nullptr;
  Label* uninstallHint_ = nullptr;
  // Event history.
  SectionTitle* eventsTitle_ = nullptr;
  Label* noEvents_ = nullptr;
  QScrollArea* eventsArea_ = nullptr;
  QVBoxLayout* eventsLayout_ = nullptr;
};

}  // namespace tlr
