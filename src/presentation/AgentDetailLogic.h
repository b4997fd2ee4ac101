#pragma once

#include "core/agents/SetupCatalog.h"
#include "core/stores/EventStore.h"
#include "core/texts/LocKey.h"
#include "core/texts/SettingsValues.h"
#include "presentation/DashboardAgentItem.h"
#include "registry/AgentEntry.h"
#include "watcher/AgentDoctor.h"

#include <QString>
#include <QTimeZone>

#include <functional>
#include <optional>

namespace tlr {

class DoctorResultStore;

// The decisions and texts of the agent detail sheet that need no widget:
// which sections and buttons an agent gets, and the texts built from its
// entry. All of them are plain functions of their arguments.
namespace AgentDetailLogic {

// The row of action buttons, by the first case that applies.
enum class ActionRow {
  none,           // an IDE plug-in
  console,        // Open Console (+ Stop)
  open,           // a desktop application: Open (+ Stop)
  dashboard,      // Open Dashboard (+ Stop)
  launchOrStop,   // a command-line agent: Stop while running, else Launch
};
ActionRow actionRow(const AgentEntry& entry);
// The Open Console button's hint: where the console command is the agent
// itself and the agent runs, it starts one more instance, and says so;
// nothing otherwise.
std::optional<LocKey> consoleHint(const DashboardAgentItem& item);
// The entry's dashboard address when it is a usable URL.
std::optional<QString> dashboardUrl(const AgentEntry& entry);

// Every blank-separated word with its first letter in upper case and the
// rest as the maker wrote it ("openai labs" → "Openai Labs", "OpenAI" stays).
QString capitalizedWords(const QString& text);
QString kindBadge(AgentEntry::Kind kind, AppLanguage language);

// Whether the uninstall section is offered: some path, user-data path or
// pre-command is listed.
bool offersUninstall(const AgentEntry& entry);
// The line under the setup button.
QString setupHint(const SetupCatalog::Action& action, AppLanguage language);
QString setupButtonText(const SetupCatalog::Action& action, AppLanguage language);

// The restart button's text, hint line and confirmation message.
QString restartButtonText(const AgentEntry& entry, bool faulted, AppLanguage language);
QString restartHint(const AgentEntry& entry, AppLanguage language);
QString restartConfirmTitle(const AgentEntry& entry, AppLanguage language);
QString restartConfirmMessage(const AgentEntry& entry, AppLanguage language);
QString doctorHint(const AgentEntry& entry, AppLanguage language);

// Why a doctor run's check did not succeed: it was stopped at its time
// limit, never ran, or its exit status.
QString doctorFailureReason(const AgentDoctor::Result& result, AppLanguage language);
// What the doctor output's footer suggests running in a terminal: the
// doctor command with "--fix" where its help lists one, else the command.
LocKey doctorTerminalHint(const AgentDoctor::Result& result);
// The automatic-doctor banner's texts for a stored result.
QString doctorBannerTitle(const AgentDoctor::Result& result, AppLanguage language);
QString doctorBannerSubtitle(const AgentDoctor::Result& result, AppLanguage language);

// An event's time of day, "HH:mm" on the 24-hour clock, in `zone`; an event
// of another day than `now` there also gives its date ("03-01 21:05"), and
// of another year its year ("2025-03-01 21:05").
QString eventTime(const AgentEvent& event, const QTimeZone& zone = QTimeZone::systemTimeZone(),
                  const QDateTime& now = QDateTime::currentDateTime());

// The sheet's automatic doctor run: starts one through `onDoctor` unless the
// entry has no doctor, the store says none is due, or one for the agent is
// still under way. The run's outcome goes to the store (the banner follows
// it), also when the sheet has closed by then. Returns whether a run started.
using DoctorCompletion = std::function<void(std::optional<AgentDoctor::Result>)>;
using DoctorAction = std::function<void(DoctorCompletion)>;
bool autoRunDoctorIfNeeded(const AgentEntry& entry, DoctorResultStore& store, const DoctorAction& onDoctor);

}  // namespace AgentDetailLogic
}  // namespace tlr
