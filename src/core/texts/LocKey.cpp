#include "core/texts/LocKey.h"

#include "core/texts/TextFill.h"

#include <QHash>

#include <algorithm>
#include <utility>

namespace tlr {

const std::array<LocKey::Id, LocKey::kCount>& LocKey::allIds() {
#define TLR_LOC_ID(name) Id::name,
  static constexpr std::array<Id, kCount> ids{TLR_LOC_KEYS(TLR_LOC_ID, TLR_LOC_ID)};
#undef TLR_LOC_ID
  return ids;
}

const char* LocKey::name(Id id) {
#define TLR_LOC_NAME(name) #name,
  static constexpr std::array<const char*, kCount> names{TLR_LOC_KEYS(TLR_LOC_NAME, TLR_LOC_NAME)};
#undef TLR_LOC_NAME
  const auto index = static_cast<std::size_t>(id);
  return index < names.size() ? names[index] : "";
}

bool LocKey::carriesValues(Id id) {
#define TLR_LOC_NO(name) false,
#define TLR_LOC_YES(name) true,
  static constexpr std::array<bool, kCount> valued{TLR_LOC_KEYS(TLR_LOC_NO, TLR_LOC_YES)};
#undef TLR_LOC_NO
#undef TLR_LOC_YES
  const auto index = static_cast<std::size_t>(id);
  return index < valued.size() && valued[index];
}

std::optional<LocKey> LocKey::fromStored(const QString& name, std::array<Value, 3> values) {
  static const QHash<QString, Id> byName = [] {
    QHash<QString, Id> ids;
    for (Id id : allIds()) ids.insert(QString::fromLatin1(LocKey::name(id)), id);
    return ids;
  }();
  const auto found = byName.constFind(name);
  if (found == byName.cend()) return std::nullopt;
  const bool given = std::any_of(values.begin(), values.end(),
                                 [](const Value& v) { return !std::holds_alternative<std::monostate>(v); });
  if (given != carriesValues(*found)) return std::nullopt;
  return LocKey(*found, std::move(values[0]), std::move(values[1]), std::move(values[2]));
}

LocKey LocKey::plain(Id id) { return carriesValues(id) ? LocKey(Id::empty) : LocKey(id); }

QString LocKey::text(std::size_t index) const {
  if (index >= values_.size()) return QString();
  const auto* value = std::get_if<QString>(&values_[index]);
  return value ? *value : QString();
}

qint64 LocKey::integer(std::size_t index) const {
  if (index >= values_.size()) return 0;
  const auto* value = std::get_if<qint64>(&values_[index]);
  return value ? *value : 0;
}

std::array<QString, 3> LocKey::formattedValues() const {
  std::array<QString, 3> out;
  for (std::size_t i = 0; i < values_.size(); ++i) {
    const Value& value = values_[i];
    if (const auto* s = std::get_if<QString>(&value))
      out[i] = *s;
    else if (const auto* n = std::get_if<qint64>(&value))
      out[i] = QString::number(*n);
    else if (const auto* d = std::get_if<double>(&value))
      out[i] = formatOneDecimal(*d);
  }
  return out;
}

LocKey LocKey::heroSubMixed(LocInt running, LocInt total, LocInt locked) {
  return LocKey(Id::heroSubMixed, qint64{running.value}, qint64{total.value}, qint64{locked.value});
}

LocKey LocKey::rowOpenTooltipRunning(QString name) {
  return LocKey(Id::rowOpenTooltipRunning, std::move(name));
}

LocKey LocKey::rowOpenTooltipNotRunning(QString name) {
  return LocKey(Id::rowOpenTooltipNotRunning, std::move(name));
}

LocKey LocKey::detailSetupHint(QString command) {
  return LocKey(Id::detailSetupHint, std::move(command));
}

LocKey LocKey::installSheetTitle(QString name) {
  return LocKey(Id::installSheetTitle, std::move(name));
}

LocKey LocKey::installSheetHowToOpenBody(QString exec, QString startFile) {
  return LocKey(Id::installSheetHowToOpenBody, std::move(exec), std::move(startFile));
}

LocKey LocKey::uninstallSheetTitle(QString name) {
  return LocKey(Id::uninstallSheetTitle, std::move(name));
}

LocKey LocKey::uninstallSheetWithFailures(LocInt failures) {
  return LocKey(Id::uninstallSheetWithFailures, qint64{failures.value});
}

LocKey LocKey::uninstallSheetButtonSize(QString size) {
  return LocKey(Id::uninstallSheetButtonSize, std::move(size));
}

LocKey LocKey::uninstallSheetAgentRunning(QString name, LocInt processes) {
  return LocKey(Id::uninstallSheetAgentRunning, std::move(name), qint64{processes.value});
}

LocKey LocKey::uninstallStepStop(QString name) { return LocKey(Id::uninstallStepStop, std::move(name)); }

LocKey LocKey::detailActionLaunchAgent(QString name) {
  return LocKey(Id::detailActionLaunchAgent, std::move(name));
}

LocKey LocKey::detailActionOpenTuiAnotherHint(QString name, LocInt running) {
  return LocKey(Id::detailActionOpenTuiAnotherHint, std::move(name), qint64{running.value});
}

LocKey LocKey::statusRunningInstances(LocInt count) {
  return LocKey(Id::statusRunningInstances, qint64{count.value});
}

LocKey LocKey::detailDoctorChecking(QString name) {
  return LocKey(Id::detailDoctorChecking, std::move(name));
}

LocKey LocKey::detailDoctorBannerHasIssuesTitle(LocInt issues) {
  return LocKey(Id::detailDoctorBannerHasIssuesTitle, qint64{issues.value});
}

LocKey LocKey::detailDoctorBannerFailedSubtitle(QString reason) {
  return LocKey(Id::detailDoctorBannerFailedSubtitle, std::move(reason));
}

LocKey LocKey::uninstallWarnBody(LocInt failures) {
  return LocKey(Id::uninstallWarnBody, qint64{failures.value});
}

LocKey LocKey::uninstallWarnMore(LocInt more) {
  return LocKey(Id::uninstallWarnMore, qint64{more.value});
}

LocKey LocKey::embeddedCliTitle(QString name) {
  return LocKey(Id::embeddedCliTitle, std::move(name));
}

LocKey LocKey::embeddedCliSubtitle(LocInt pid) {
  return LocKey(Id::embeddedCliSubtitle, qint64{pid.value});
}

LocKey LocKey::restartHintCmd(QString command) {
  return LocKey(Id::restartHintCmd, std::move(command));
}

LocKey LocKey::restartConfirmGateway(QString command) {
  return LocKey(Id::restartConfirmGateway, std::move(command));
}

LocKey LocKey::doctorHintCmd(QString command) {
  return LocKey(Id::doctorHintCmd, std::move(command));
}

LocKey LocKey::backupScanResult(QString summary) {
  return LocKey(Id::backupScanResult, std::move(summary));
}

LocKey LocKey::backupAgentLocation(LocInt agents, LocInt locations) {
  return LocKey(Id::backupAgentLocation, qint64{agents.value}, qint64{locations.value});
}

LocKey LocKey::backupOccupiedFree(QString used, QString hostFree) {
  return LocKey(Id::backupOccupiedFree, std::move(used), std::move(hostFree));
}

LocKey LocKey::restoreBackupTime(QString time, QString device) {
  return LocKey(Id::restoreBackupTime, std::move(time), std::move(device));
}

LocKey LocKey::restoreFoundBackup(QString storage) {
  return LocKey(Id::restoreFoundBackup, std::move(storage));
}

LocKey LocKey::restoreCrossDeviceBody(QString device) {
  return LocKey(Id::restoreCrossDeviceBody, std::move(device));
}

LocKey LocKey::restoreOneAgent(QString name) {
  return LocKey(Id::restoreOneAgent, std::move(name));
}

LocKey LocKey::doctorFoundIssues(LocInt issues) {
  return LocKey(Id::doctorFoundIssues, qint64{issues.value});
}

LocKey LocKey::doctorExitInfo(LocInt exitCode, LocSeconds elapsed) {
  return LocKey(Id::doctorExitInfo, qint64{exitCode.value}, elapsed.value);
}

LocKey LocKey::doctorDeeperHint(QString command) {
  return LocKey(Id::doctorDeeperHint, std::move(command));
}

LocKey LocKey::firstSetupStepLabel(LocInt step, QString title) {
  return LocKey(Id::firstSetupStepLabel, qint64{step.value}, std::move(title));
}

LocKey LocKey::restoreConfirmOneBody(QString name) {
  return LocKey(Id::restoreConfirmOneBody, std::move(name));
}

LocKey LocKey::alertTerminalOpenFailBody(QString command, QString error) {
  return LocKey(Id::alertTerminalOpenFailBody, std::move(command), std::move(error));
}

LocKey LocKey::alertTerminalCommandEnded(QString status) {
  return LocKey(Id::alertTerminalCommandEnded, std::move(status));
}

LocKey LocKey::alertSetupOpenFailTitle(QString name) {
  return LocKey(Id::alertSetupOpenFailTitle, std::move(name));
}

LocKey LocKey::alertSetupFailTitle(QString name) { return LocKey(Id::alertSetupFailTitle, std::move(name)); }

LocKey LocKey::alertConfigFolderOpenFailTitle(QString name) {
  return LocKey(Id::alertConfigFolderOpenFailTitle, std::move(name));
}

LocKey LocKey::alertLaunchFailTitle(QString name) { return LocKey(Id::alertLaunchFailTitle, std::move(name)); }

LocKey LocKey::alertFailureReason(QString error) { return LocKey(Id::alertFailureReason, std::move(error)); }

LocKey LocKey::alertReasonAppNotFound(QString appId) { return LocKey(Id::alertReasonAppNotFound, std::move(appId)); }

LocKey LocKey::alertReasonAppNotStarted(QString error) {
  return LocKey(Id::alertReasonAppNotStarted, std::move(error));
}

LocKey LocKey::alertReasonServiceNotStarted(QString error) {
  return LocKey(Id::alertReasonServiceNotStarted, std::move(error));
}

LocKey LocKey::alertReasonUnsafeId(QString id) { return LocKey(Id::alertReasonUnsafeId, std::move(id)); }

LocKey LocKey::alertReasonSetupUnsupported(QString name) {
  return LocKey(Id::alertReasonSetupUnsupported, std::move(name));
}

LocKey LocKey::alertReasonStillRunning(LocInt count, QString pids) {
  return LocKey(Id::alertReasonStillRunning, qint64{count.value}, std::move(pids));
}

LocKey LocKey::helpRowLaunch(QString name) {
  return LocKey(Id::helpRowLaunch, std::move(name));
}

LocKey LocKey::usbAgentCountValue(LocInt count) {
  return LocKey(Id::usbAgentCountValue, qint64{count.value});
}

LocKey LocKey::usbStatusExportDone(QString path) {
  return LocKey(Id::usbStatusExportDone, std::move(path));
}

LocKey LocKey::usbStatusImportDone(QString path) {
  return LocKey(Id::usbStatusImportDone, std::move(path));
}

LocKey LocKey::usbExportProgressSize(QString done, QString total) {
  return LocKey(Id::usbExportProgressSize, std::move(done), std::move(total));
}

LocKey LocKey::usbExportProgressFiles(LocInt done, LocInt total) {
  return LocKey(Id::usbExportProgressFiles, qint64{done.value}, qint64{total.value});
}

LocKey LocKey::usbExportSpeed(QString megabytesPerSecond) {
  return LocKey(Id::usbExportSpeed, std::move(megabytesPerSecond));
}

LocKey LocKey::usbExportEtaSeconds(LocInt seconds) {
  return LocKey(Id::usbExportEtaSeconds, qint64{seconds.value});
}

LocKey LocKey::usbExportEtaMinutes(LocInt minutes) {
  return LocKey(Id::usbExportEtaMinutes, qint64{minutes.value});
}

LocKey LocKey::backupStatAgentCountValue(LocInt count) {
  return LocKey(Id::backupStatAgentCountValue, qint64{count.value});
}

LocKey LocKey::restoreErrLinkInTheWay(QString path) {
  return LocKey(Id::restoreErrLinkInTheWay, std::move(path));
}

LocKey LocKey::restoreErrFolderInTheWay(QString path) {
  return LocKey(Id::restoreErrFolderInTheWay, std::move(path));
}

LocKey LocKey::restoreErrFileInTheWay(QString path) {
  return LocKey(Id::restoreErrFileInTheWay, std::move(path));
}

LocKey LocKey::restoreErrNotWritable(QString places) { return LocKey(Id::restoreErrNotWritable, std::move(places)); }

LocKey LocKey::restoreStatSkillsUnit(LocInt count) { return LocKey(Id::restoreStatSkillsUnit, qint64{count.value}); }

LocKey LocKey::restoreStatTasksUnit(LocInt count) { return LocKey(Id::restoreStatTasksUnit, qint64{count.value}); }

LocKey LocKey::backupErrOversize(LocInt megabytes) {
  return LocKey(Id::backupErrOversize, qint64{megabytes.value});
}

LocKey LocKey::backupErrToolMissing(QString tool, QString package) {
  return LocKey(Id::backupErrToolMissing, std::move(tool), std::move(package));
}

LocKey LocKey::backupErrDetachToolMissing(QString tool, QString package) {
  return LocKey(Id::backupErrDetachToolMissing, std::move(tool), std::move(package));
}

LocKey LocKey::backupExclusionsNote(QString patterns) {
  return LocKey(Id::backupExclusionsNote, std::move(patterns));
}

LocKey LocKey::backupLeftOutNotRegular(LocInt count, QString paths) {
  return LocKey(Id::backupLeftOutNotRegular, qint64{count.value}, std::move(paths));
}

LocKey LocKey::backupLeftOutUnreadable(LocInt count, QString paths) {
  return LocKey(Id::backupLeftOutUnreadable, qint64{count.value}, std::move(paths));
}

LocKey LocKey::backupLeftOutTooDeep(LocInt count, LocInt levels, QString paths) {
  return LocKey(Id::backupLeftOutTooDeep, qint64{count.value}, qint64{levels.value}, std::move(paths));
}

LocKey LocKey::backupLeftOutChanged(LocInt count, QString paths) {
  return LocKey(Id::backupLeftOutChanged, qint64{count.value}, std::move(paths));
}

LocKey LocKey::restoreErrUnknownAgent(QString agent) {
  return LocKey(Id::restoreErrUnknownAgent, std::move(agent));
}

LocKey LocKey::restoreErrAgentNotInBackup(QString agent) {
  return LocKey(Id::restoreErrAgentNotInBackup, std::move(agent));
}

LocKey LocKey::restoreErrDiskFull(QString folder) {
  return LocKey(Id::restoreErrDiskFull, std::move(folder));
}

LocKey LocKey::restoreErrDiskFullNeeds(QString needed, QString folder) {
  return LocKey(Id::restoreErrDiskFullNeeds, std::move(needed), std::move(folder));
}

LocKey LocKey::restoreErrDiskFullNeedsFree(QString needed, QString folder, QString free) {
  return LocKey(Id::restoreErrDiskFullNeedsFree, std::move(needed), std::move(folder), std::move(free));
}

LocKey LocKey::restoreRestoredOne(QString agent) {
  return LocKey(Id::restoreRestoredOne, std::move(agent));
}

LocKey LocKey::evDetailUserRestart(LocInt32 newPid) {
  return LocKey(Id::evDetailUserRestart, qint64{newPid.value});
}

LocKey LocKey::evDetailRestartStuck(QString pids) {
  return LocKey(Id::evDetailRestartStuck, std::move(pids));
}

LocKey LocKey::evDetailRestartFailed(QString reason) {
  return LocKey(Id::evDetailRestartFailed, std::move(reason));
}

LocKey LocKey::evDetailDoctorNoIssues(LocInt32 exitCode) {
  return LocKey(Id::evDetailDoctorNoIssues, qint64{exitCode.value});
}

LocKey LocKey::evDetailDoctorIssues(LocInt32 exitCode, LocInt issues) {
  return LocKey(Id::evDetailDoctorIssues, qint64{exitCode.value}, qint64{issues.value});
}

LocKey LocKey::evDetailDoctorFailed(LocInt32 exitCode) {
  return LocKey(Id::evDetailDoctorFailed, qint64{exitCode.value});
}

LocKey LocKey::evDetailDoctorTimedOut(LocInt seconds) {
  return LocKey(Id::evDetailDoctorTimedOut, qint64{seconds.value});
}

LocKey LocKey::evDetailFixSucceeded(QString issueId) {
  return LocKey(Id::evDetailFixSucceeded, std::move(issueId));
}

LocKey LocKey::evDetailFixFailed(QString issueId) {
  return LocKey(Id::evDetailFixFailed, std::move(issueId));
}

LocKey LocKey::evDetailRelaunchDidNotLast(LocInt seconds) {
  return LocKey(Id::evDetailRelaunchDidNotLast, qint64{seconds.value});
}

LocKey LocKey::evDetailEndedAtStart(LocInt status) {
  return LocKey(Id::evDetailEndedAtStart, qint64{status.value});
}

LocKey LocKey::evDetailRelaunchFailed(QString reason) { return LocKey(Id::evDetailRelaunchFailed, std::move(reason)); }

LocKey LocKey::agentRestartConfirmTitle(QString name) {
  return LocKey(Id::agentRestartConfirmTitle, std::move(name));
}

LocKey LocKey::setupHintOpenInFinder(QString folder) {
  return LocKey(Id::setupHintOpenInFinder, std::move(folder));
}

LocKey LocKey::doctorHeaderTitle(QString name) {
  return LocKey(Id::doctorHeaderTitle, std::move(name));
}

LocKey LocKey::resourceRunawayDetails(QString resource, LocInt value) {
  return LocKey(Id::resourceRunawayDetails, std::move(resource), qint64{value.value});
}

LocKey LocKey::updateNoticeTitle(QString version) { return LocKey(Id::updateNoticeTitle, std::move(version)); }
LocKey LocKey::updateNoticeForcedTitle(QString version) {
  return LocKey(Id::updateNoticeForcedTitle, std::move(version));
}
LocKey LocKey::updateNoticeBody(QString address) { return LocKey(Id::updateNoticeBody, std::move(address)); }
LocKey LocKey::feedbackBodyTemplate(QString version) {
  return LocKey(Id::feedbackBodyTemplate, std::move(version));
}

LocKey LocKey::installBootstrapLabel(QString command) {
  return LocKey(Id::installBootstrapLabel, std::move(command));
}

#define TLR_LOC_TEXT_FACTORY(name, value) \
  LocKey LocKey::name(QString value) { return LocKey(Id::name, std::move(value)); }
TLR_LOC_TEXT_FACTORY(installStepAsIs, text)
TLR_LOC_TEXT_FACTORY(installStepPathAlreadySet, file)
TLR_LOC_TEXT_FACTORY(installStepPathAdded, file)
TLR_LOC_TEXT_FACTORY(installStepWriteFailed, file)
TLR_LOC_TEXT_FACTORY(installStepNothingChanged, reason)
TLR_LOC_TEXT_FACTORY(installStepNotUtf8, path)
TLR_LOC_TEXT_FACTORY(installStepReadOnly, path)
TLR_LOC_TEXT_FACTORY(installStepChangedWhileWritten, path)
TLR_LOC_TEXT_FACTORY(installStepNoOutput, ending)
TLR_LOC_TEXT_FACTORY(uninstallStepNotInstalled, program)
TLR_LOC_TEXT_FACTORY(uninstallStepSkippedPath, path)
TLR_LOC_TEXT_FACTORY(uninstallStepMountLeft, folders)
#undef TLR_LOC_TEXT_FACTORY

LocKey LocKey::installStepTimedOut(LocInt minutes) { return LocKey(Id::installStepTimedOut, qint64{minutes.value}); }

LocKey LocKey::installBootstrapAgentName(QString command) {
  return LocKey(Id::installBootstrapAgentName, std::move(command));
}

LocKey LocKey::doctorErrCmdTimedOut(LocInt seconds) { return LocKey(Id::doctorErrCmdTimedOut, qint64{seconds.value}); }

LocKey LocKey::doctorErrReloadTimedOut(LocInt seconds) {
  return LocKey(Id::doctorErrReloadTimedOut, qint64{seconds.value});
}

LocKey LocKey::doctorOutputStopped(LocInt seconds) { return LocKey(Id::doctorOutputStopped, qint64{seconds.value}); }

LocKey LocKey::doctorOutputExitCode(LocInt32 exitCode, LocSeconds elapsed) {
  return LocKey(Id::doctorOutputExitCode, qint64{exitCode.value}, elapsed.value);
}

LocKey LocKey::doctorErrUnknownFixKind(QString kind) {
  return LocKey(Id::doctorErrUnknownFixKind, std::move(kind));
}

LocKey LocKey::doctorErrCmdExit(LocInt32 exitCode, QString output) {
  return LocKey(Id::doctorErrCmdExit, qint64{exitCode.value}, std::move(output));
}

LocKey LocKey::doctorErrFileNotFound(QString path) {
  return LocKey(Id::doctorErrFileNotFound, std::move(path));
}

LocKey LocKey::doctorErrReadFile(QString error) {
  return LocKey(Id::doctorErrReadFile, std::move(error));
}

LocKey LocKey::doctorErrJSONParse(QString error) {
  return LocKey(Id::doctorErrJSONParse, std::move(error));
}

LocKey LocKey::doctorErrWriteFile(QString error) {
  return LocKey(Id::doctorErrWriteFile, std::move(error));
}

LocKey LocKey::doctorOkUpdated(QString file, QString changes) {
  return LocKey(Id::doctorOkUpdated, std::move(file), std::move(changes));
}

LocKey LocKey::doctorCheckExitStatus(LocInt32 exitCode) {
  return LocKey(Id::doctorCheckExitStatus, qint64{exitCode.value});
}

LocKey LocKey::doctorCheckTimedOut(LocInt seconds) {
  return LocKey(Id::doctorCheckTimedOut, qint64{seconds.value});
}

LocKey LocKey::restartHeader(QString name) {
  return LocKey(Id::restartHeader, std::move(name));
}

LocKey LocKey::restartFoundPids(LocInt count, QString pids) {
  return LocKey(Id::restartFoundPids, qint64{count.value}, std::move(pids));
}

LocKey LocKey::restartPermDenied(LocInt32 error) {
  return LocKey(Id::restartPermDenied, qint64{error.value});
}

LocKey LocKey::restartSigtermFail(LocInt32 pid, LocInt32 error) {
  return LocKey(Id::restartSigtermFail, qint64{pid.value}, qint64{error.value});
}

LocKey LocKey::restartSurvivors(LocInt count, QString pids) {
  return LocKey(Id::restartSurvivors, qint64{count.value}, std::move(pids));
}

LocKey LocKey::restartSigkillStillRunning(LocInt count) {
  return LocKey(Id::restartSigkillStillRunning, qint64{count.value});
}

LocKey LocKey::restartNewPidUp(LocInt32 pid) {
  return LocKey(Id::restartNewPidUp, qint64{pid.value});
}

LocKey LocKey::restartFailedRecover(QString reason) {
  return LocKey(Id::restartFailedRecover, std::move(reason));
}

LocKey LocKey::restartGracefulWillRun(QString command) {
  return LocKey(Id::restartGracefulWillRun, std::move(command));
}

LocKey LocKey::restartGracefulVerify(QString command) {
  return LocKey(Id::restartGracefulVerify, std::move(command));
}

LocKey LocKey::restartGracefulFallback(QString command) {
  return LocKey(Id::restartGracefulFallback, std::move(command));
}

LocKey LocKey::restartCmdExitCode(LocInt32 exitCode) {
  return LocKey(Id::restartCmdExitCode, qint64{exitCode.value});
}

LocKey LocKey::restartCmdTimedOut(LocInt seconds) {
  return LocKey(Id::restartCmdTimedOut, qint64{seconds.value});
}

LocKey LocKey::restartVerifyPassed(QString why) {
  return LocKey(Id::restartVerifyPassed, std::move(why));
}

LocKey LocKey::restartVerifyFailed(QString why) {
  return LocKey(Id::restartVerifyFailed, std::move(why));
}

LocKey LocKey::restartFallbackRun(QString command) {
  return LocKey(Id::restartFallbackRun, std::move(command));
}

LocKey LocKey::restartFallbackExit(LocInt32 exitCode) {
  return LocKey(Id::restartFallbackExit, qint64{exitCode.value});
}

LocKey LocKey::restartFallbackTimedOut(LocInt seconds) {
  return LocKey(Id::restartFallbackTimedOut, qint64{seconds.value});
}

LocKey LocKey::restartFallbackVerifyPassed(QString why) {
  return LocKey(Id::restartFallbackVerifyPassed, std::move(why));
}

LocKey LocKey::restartFallbackVerifyFailed(QString why) {
  return LocKey(Id::restartFallbackVerifyFailed, std::move(why));
}

LocKey LocKey::restartReasonGracefulExitNonZero(LocInt32 exitCode) {
  return LocKey(Id::restartReasonGracefulExitNonZero, qint64{exitCode.value});
}

LocKey LocKey::restartReasonTimedOut(LocInt seconds) {
  return LocKey(Id::restartReasonTimedOut, qint64{seconds.value});
}

LocKey LocKey::restartVerifyExitMismatch(LocInt32 exitCode, LocInt32 expected) {
  return LocKey(Id::restartVerifyExitMismatch, qint64{exitCode.value}, qint64{expected.value});
}

LocKey LocKey::restartVerifyMissingString(QString text) {
  return LocKey(Id::restartVerifyMissingString, std::move(text));
}

LocKey LocKey::restartVerifyFalseSuccess(QString text) {
  return LocKey(Id::restartVerifyFalseSuccess, std::move(text));
}

LocKey LocKey::restartVerifyPass(LocInt32 exitCode) {
  return LocKey(Id::restartVerifyPass, qint64{exitCode.value});
}

LocKey LocKey::restartVerifyTimedOut(LocInt seconds) {
  return LocKey(Id::restartVerifyTimedOut, qint64{seconds.value});
}

LocKey LocKey::alertOpenFailBody(QString reason) {
  return LocKey(Id::alertOpenFailBody, std::move(reason));
}

LocKey LocKey::alertOpenerNotStarted(QString error) {
  return LocKey(Id::alertOpenerNotStarted, std::move(error));
}

LocKey LocKey::alertOpenerFailed(LocInt32 status) {
  return LocKey(Id::alertOpenerFailed, qint64{status.value});
}

}  // namespace tlr
