#pragma once

#include "core/texts/LocKey.h"
#include "core/texts/SettingsValues.h"
#include "presentation/AgentDetailSession.h"
#include "presentation/DashboardActions.h"
#include "presentation/DashboardAgentItem.h"
#include "ui/kit/Sheet.h"
#include "watcher/AgentDoctor.h"

#include <QList>
#include <QPointer>

#include <functional>
#include <optional>

class QScrollArea;
class QVBoxLayout;

namespace tlr {

class Alert;
class Card;
class CloseButton;
class DoctorOutputSheet;
class IconTile;
class KindChip;
class Label;
class PanelButton;
class SecondaryButton;
class SettingsStore;
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
// confirmations and the doctor output survive that. What the buttons do, the
// busy states and the stores it follows are its AgentDetailSession's; the
// sheet draws them, asks the questions and shows the failures the session
// reports.
class AgentDetailSheet final : public Sheet {
  Q_OBJECT

 public:
  static constexpr QSize kSize{520, 540};

  // The stores the sheet reads and follows; all must outlive it.
  using Stores = AgentDetailSession::Stores;

  // Builds the uninstall sheet of an entry over `parent` (not yet shown), or
  // nothing; `onDone` is called once the uninstall ran.
  using UninstallSheetFactory = std::function<Sheet*(QWidget* parent, const AgentEntry& entry,
                                                     std::function<void()> onClose, std::function<void()> onDone)>;
  // How its Uninstall builds the uninstall sheet; without one, Uninstall
  // opens nothing.
  void setUninstallSheetFactory(UninstallSheetFactory factory);

  // Its texts are in the language of `settings`; the stores and the settings
  // must outlive it.
  AgentDetailSheet(const DashboardAgentItem& item, const AgentDetailCallbacks& callbacks, Stores stores,
                   const SettingsStore& settings, QWidget* parent = nullptr);
  ~AgentDetailSheet() override;

  // A fresh record of the same agent.
  void setItem(const DashboardAgentItem& item);
  const DashboardAgentItem& item() const;
  AgentDetailSession& session() const { return *session_; }

  bool isLaunching() const;
  bool isStopping() const;
  bool isDoctorRunning() const;
  const std::optional<AgentDoctor::Result>& doctorResult() const;
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

  AppLanguage language() const;
  QString text(const LocKey& key) const;

  // What the session asks of the window.
  void showTerminalFailed(const QString& commandLine, const QString& error);
  void showLockOffConfirm();
  void showRestartConfirm();
  void doctorFinished(const std::optional<AgentDoctor::Result>& result);
  void showDoctorOutput();
  void bannerClicked();
  void showUninstallSheet();
  void uninstallDone();

  const SettingsStore& settings_;
  UninstallSheetFactory uninstallFactory_;
  AgentDetailSession* session_;
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
