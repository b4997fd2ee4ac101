#include "presentation/AgentDetailLogic.h"

#include "core/texts/LocTexts.h"

#include "core/stores/DoctorResultStore.h"
#include "core/stores/SettingsStore.h"
#include "platform/Log.h"
#include "platform/LoginShell.h"
#include "platform/OffMain.h"
#include "watcher/ProcessScanner.h"

#include <QFileInfo>
#include <QUrl>

namespace tlr::AgentDetailLogic {
namespace {

QString text(AppLanguage language, const LocKey& key) { return LocTexts::text(language, key); }

// A command as shown: quoted where a shell would read it otherwise.
QString joined(const QStringList& words) { return shellWords(words); }

bool hasItems(const std::optional<QStringList>& list) { return list && !list->isEmpty(); }

}  // namespace

std::optional<LocKey> consoleHint(const DashboardAgentItem& item) {
  if (!item.isRunning || !ProcessScanner::startsSession(item.entry, item.entry.tuiCommand.value_or(QStringList())))
    return std::nullopt;
  return LocKey::detailActionOpenTuiAnotherHint(item.entry.localizedDisplayName(), std::max(item.instances, 1));
}

std::optional<QString> dashboardUrl(const AgentEntry& entry) {
  if (!entry.dashboardUrl || entry.dashboardUrl->trimmed().isEmpty()) return std::nullopt;
  const QUrl url(*entry.dashboardUrl, QUrl::StrictMode);
  if (!url.isValid() || url.scheme().isEmpty()) return std::nullopt;
  return *entry.dashboardUrl;
}

ActionRow actionRow(const AgentEntry& entry) {
  if (entry.kind == AgentEntry::Kind::idePlugin) return ActionRow::none;
  if (hasItems(entry.tuiCommand)) return ActionRow::console;
  if (entry.kind == AgentEntry::Kind::desktopApp) return ActionRow::open;
  if (dashboardUrl(entry)) return ActionRow::dashboard;
  return ActionRow::launchOrStop;
}

QString capitalizedWords(const QString& text) {
  QString out = text;
  bool wordStart = true;
  for (qsizetype i = 0; i < out.size(); ++i) {
    const QChar c = out.at(i);
    if (c.isSpace()) {
      wordStart = true;
    } else if (wordStart) {
      out[i] = c.toUpper();
      wordStart = false;
    }
  }
  return out;
}

QString kindBadge(AgentEntry::Kind kind, AppLanguage language) {
  switch (kind) {
    case AgentEntry::Kind::desktopApp:
      return text(language, LocKey::agentKindApp());
    case AgentEntry::Kind::cli:
      return text(language, LocKey::agentKindCli());
    case AgentEntry::Kind::idePlugin:
      return text(language, LocKey::agentKindPlugin());
  }
  return {};
}

bool offersUninstall(const AgentEntry& entry) {
  if (!entry.uninstall) return false;
  const AgentEntry::Uninstall& u = *entry.uninstall;
  return hasItems(u.paths) || hasItems(u.userDataPaths) || (u.preCommands && !u.preCommands->isEmpty());
}

QString setupButtonText(const SetupCatalog::Action& action, AppLanguage language) {
  if (action.kind == SetupCatalog::Action::Kind::runCommand) return text(language, LocKey::detailSetupButton());
  return text(language, LocKey::detailSetupOpenFolders());
}

QString setupHint(const SetupCatalog::Action& action, AppLanguage language) {
  if (action.kind == SetupCatalog::Action::Kind::runCommand)
    return text(language, LocKey::detailSetupHint(joined(action.command)));
  QString dir;
  if (!action.configDirs.isEmpty()) {
    QString path = action.configDirs.first().toLocalFile();
    if (path.isEmpty()) path = action.configDirs.first().path();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
    dir = QFileInfo(path).fileName();
  }
  if (dir.isEmpty()) dir = text(language, LocKey::setupConfigDirFallback());
  return text(language, LocKey::setupHintOpenInFinder(dir));
}

QString restartButtonText(const AgentEntry& entry, bool faulted, AppLanguage language) {
  if (faulted) return text(language, LocKey::restartBtnFaulted());
  return text(language, entry.restart ? LocKey::restartBtnGateway() : LocKey::restartBtnAgent());
}

QString restartHint(const AgentEntry& entry, AppLanguage language) {
  if (entry.restart) return text(language, LocKey::restartHintCmd(joined(entry.restart->command)));
  return text(language, LocKey::restartHintKill());
}

QString restartConfirmTitle(const AgentEntry& entry, AppLanguage language) {
  return text(language, LocKey::agentRestartConfirmTitle(entry.localizedDisplayName()));
}

QString restartConfirmMessage(const AgentEntry& entry, AppLanguage language) {
  if (entry.restart) return text(language, LocKey::restartConfirmGateway(joined(entry.restart->command)));
  return text(language, LocKey::restartConfirmKill());
}

QString doctorHint(const AgentEntry& entry, AppLanguage language) {
  return text(language, LocKey::doctorHintCmd(entry.doctor ? joined(entry.doctor->command) : QString()));
}

QString doctorFailureReason(const AgentDoctor::Result& result, AppLanguage language) {
  if (result.timedOut) return text(language, LocKey::doctorCheckTimedOut(result.timeLimitSeconds));
  if (result.keeperLost) return text(language, LocKey::doctorCheckKeeperLost());
  if (result.exitCode < 0) return text(language, LocKey::doctorCheckNotRun());
  return text(language, LocKey::doctorCheckExitStatus(result.exitCode));
}

LocKey doctorTerminalHint(const AgentDoctor::Result& result) {
  return result.helpListsFix ? LocKey::doctorDeeperHint(joined(result.command))
                             : LocKey::doctorTerminalHint(joined(result.command));
}

QString doctorBannerTitle(const AgentDoctor::Result& result, AppLanguage language) {
  using Verdict = AgentDoctor::Result::Verdict;
  switch (result.verdict()) {
    case Verdict::clean: return text(language, LocKey::detailDoctorBannerNoIssuesTitle());
    case Verdict::issuesFound: break;
    case Verdict::checkFailed: return text(language, LocKey::doctorCheckFailed());
  }
  return text(language, LocKey::detailDoctorBannerHasIssuesTitle(result.detectedIssues.size()));
}

QString doctorBannerSubtitle(const AgentDoctor::Result& result, AppLanguage language) {
  using Verdict = AgentDoctor::Result::Verdict;
  switch (result.verdict()) {
    case Verdict::clean: return text(language, LocKey::detailDoctorBannerNoIssuesSubtitle());
    case Verdict::issuesFound: break;
    case Verdict::checkFailed:
      return text(language, LocKey::detailDoctorBannerFailedSubtitle(doctorFailureReason(result, language)));
  }
  return text(language, LocKey::detailDoctorBannerHasIssuesSubtitle());
}

QString eventTime(const AgentEvent& event, const QTimeZone& zone, const QDateTime& now) {
  const QDateTime at = event.date().toTimeZone(zone);
  const QDate today = now.toTimeZone(zone).date();
  if (at.date() == today) return at.toString(QStringLiteral("HH:mm"));
  return at.toString(at.date().year() == today.year() ? QStringLiteral("MM-dd HH:mm") : QStringLiteral("yyyy-MM-dd HH:mm"));
}

bool autoRunDoctorIfNeeded(const AgentEntry& entry, DoctorResultStore& store, const DoctorAction& onDoctor) {
  if (!entry.doctor || !onDoctor) return false;
  if (!store.beginAutoRun(entry.id)) return false;
  const QString name = entry.localizedDisplayName();
  log("[AutoDoctor] ", name + QStringLiteral(" detail sheet 打开 → 自动跑 doctor"));
  onDoctor(whileAlive(&store, [store = &store, id = entry.id, name](std::optional<AgentDoctor::Result> result) {
    const qsizetype issues = result ? result->detectedIssues.size() : -1;
    store->finishAutoRun(id, std::move(result));
    if (issues >= 0) log("[AutoDoctor] ", name + QStringLiteral(" 自动 doctor 完成 · %1 个已知问题").arg(issues));
  }));
  return true;
}

}  // namespace tlr::AgentDetailLogic
