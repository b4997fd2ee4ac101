#include "watcher/AgentLifecycleWatcher.h"

#include "core/stores/DoctorResultStore.h"
#include "platform/OffMain.h"
#include "platform/OwnCommands.h"
#include "watcher/AgentLifecycleParts.h"

#include <QCoreApplication>

// The doctor (the user's run, the run after a first-time setup), its fixes,
// and the first-time setup itself.

namespace tlr {

void AgentLifecycleWatcher::handleSetupCompleted(const AgentEntry& entry) {
  record(entry.id, AgentEventType::restarted, EventText::of(LocKey::evDetailSetupCompleted()));
  lifecycle::log("[Setup] ", entry, QStringLiteral(" sentinel 触发 → 自动跑 doctor"));
  // The store outlives the watcher; the result is kept even if the watcher
  // goes first.
  runDoctor(entry, [store = services_.doctorResults, entry](const std::optional<AgentDoctor::Result>& result) {
    store->setResult(entry.id, result);
    if (result)
      lifecycle::log("[Setup] ", entry,
                     QStringLiteral(" 自动 doctor 完成 · %1 个已知问题").arg(result->detectedIssues.size()));
  });
}

void AgentLifecycleWatcher::runDoctor(const AgentEntry& entry,
                                      std::function<void(std::optional<AgentDoctor::Result>)> completion) {
  if (!scanner_) {
    completion(std::nullopt);
    return;
  }
  // The completion hears of the result even if the watcher has gone by then;
  // only the event needs the watcher.
  startOffMain(
      nullptr,
      [run = services_.runDoctor, isUninstalling = services_.isUninstalling,
       uninstallsBegun = services_.uninstallsBegun, entry] {
        const OwnCommands::Scope checking(entry.id, OwnCommands::Purpose::check);
        const bool installed = ProcessScanner::isInstalled(entry);
        const quint64 uninstalls = uninstallsBegun(entry.id);
        std::optional<AgentDoctor::Result> result = run(entry);
        // Ended by the agent's uninstall, which stops our own commands (it
        // may be over by now, the agent gone): no result to show or keep.
        if (result && (isUninstalling(entry.id) || uninstallsBegun(entry.id) != uninstalls ||
                       (installed && !ProcessScanner::isInstalled(entry))))
          return std::optional<AgentDoctor::Result>();
        return result;
      },
      [recordIt = whileAlive(this, [this, id = entry.id](const AgentDoctor::Result& result) {
         record(id, AgentEventType::restarted, AgentDoctor::summaryEventText(result),
                EventText::of(AgentDoctor::summaryEventKey(result)));
       }),
       completion = std::move(completion)](std::optional<AgentDoctor::Result> result) {
        if (result) recordIt(*result);
        completion(std::move(result));
      });
}

void AgentLifecycleWatcher::doctorOnUserClick(const AgentEntry& entry,
                                              std::function<void(std::optional<AgentDoctor::Result>)> completion) {
  runDoctor(entry, std::move(completion));
}

void AgentLifecycleWatcher::applyDoctorFix(const AgentEntry& entry, const AgentDoctor::KnownIssue& issue,
                                           std::function<void(const AgentDoctor::FixResult&)> completion) {
  if (!scanner_) {
    completion(AgentDoctor::FixResult::failure(LocKey::doctorErrNotReady()));
    return;
  }
  // The completion hears of the fix even if the watcher has gone by then.
  startOffMain(
      nullptr,
      [fix = services_.applyFix, issue, id = entry.id] {
        const OwnCommands::Scope repairing(id, OwnCommands::Purpose::check);
        return fix(issue);
      },
      [recordIt = whileAlive(this, [this, id = entry.id](const QString& text, const LocKey& key) {
         record(id, AgentEventType::restarted, text, EventText::of(key));
       }),
       entry, issue, completion = std::move(completion)](const AgentDoctor::FixResult& fix) {
        const QString text = AgentDoctor::fixEventText(issue, fix);
        recordIt(text, AgentDoctor::fixEventKey(issue, fix));
        lifecycle::log("[Doctor] ", entry, QLatin1Char(' ') + text);
        completion(fix);
      });
}

void AgentLifecycleWatcher::runSetupOnUserClick(const AgentEntry& entry) {
  lifecycle::log("[Setup] ", entry, QStringLiteral(" 用户点「配置」"));
  startOffMain(
      this, [recover = recover_, entry] { return recover->userSetup(entry); },
      [this, entry](const AgentRecover::SetupStart& start) {
        if (start.sentinel)
          recover_->watchSetup(entry.id, *start.sentinel, whileAlive(this, [this, entry] { handleSetupCompleted(entry); }));
        if (start.completed()) handleSetupCompleted(entry);
        handleSetupResult(entry, start.result);
      });
}

void AgentLifecycleWatcher::handleSetupResult(const AgentEntry& entry, const Result& result) {
  switch (result.kind) {
    case Result::Kind::launched:
      lifecycle::log("[Setup] ", entry, QStringLiteral(" Terminal opened for setup"));
      return;
    case Result::Kind::failed:
      lifecycle::log("[Setup] ", entry, QStringLiteral(" FAIL: ") + result.reason);
      Q_EMIT userActionFailed({UserActionFailure::Action::setup, entry.displayName, result});
      return;
    case Result::Kind::unsupported:
      return;
  }
}

}  // namespace tlr
