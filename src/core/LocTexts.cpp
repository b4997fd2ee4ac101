#include "core/LocTexts.h"

#include "core/TextFill.h"

namespace tlr::LocTexts {
namespace {

using namespace Qt::Literals::StringLiterals;
using Id = LocKey::Id;

// Texts with values name them "{1}", "{2}" and "{3}"; the values are
// inserted in one pass, so an inserted value is never read as a place again.
QString fill(QStringView tmpl, const LocKey& key) {
  const std::array<QString, 3> values = key.formattedValues();
  return fillTemplate(tmpl, values);
}

// A runaway on CPU is a percentage; on memory, megabytes.
bool isCpu(const LocKey& key) { return key.text(0) == u"CPU"; }

}  // namespace

QString en(const LocKey& key) {
  switch (key.id()) {
    // restart
    case Id::restartHintCmd:
      return fill(u"Will run: {1}", key);
    case Id::restartConfirmGateway:
      return fill(u"Will run {1}. Channels briefly disconnect and auto-reconnect.", key);
    case Id::restartHeader:
      return fill(u"=== Restart {1} ===", key);
    case Id::restartFoundPids:
      return fill(u"· Found {1} pid(s): {2}", key);
    case Id::restartPermDenied:
      return fill(u"denied(errno={1})", key);
    case Id::restartSigtermFail:
      return fill(u"  - pid {1} SIGTERM failed errno={2}", key);
    case Id::restartSurvivors:
      return fill(u"· Still {1} survivor(s) {2} → SIGKILL", key);
    case Id::restartSigkillStillRunning:
      return fill(u"· After SIGKILL still {1} running — abnormal, aborting", key);
    case Id::restartNewPidUp:
      return fill(u"· ✓ New instance pid={1} is up and running", key);
    case Id::restartFailedRecover:
      return fill(u"· ✗ recover failed: {1}", key);
    case Id::restartGracefulWillRun:
      return fill(u"· Graceful: will run {1}", key);
    case Id::restartGracefulVerify:
      return fill(u"· Then verify with: {1}", key);
    case Id::restartGracefulFallback:
      return fill(u"· On verify fail → fallback: {1}", key);
    case Id::restartCmdExitCode:
      return fill(u"· Command exit code {1}", key);
    case Id::restartCmdTimedOut:
      return fill(u"· Command did not finish within {1} s, stopped", key);
    case Id::restartVerifyPassed:
      return fill(u"· ✓ verify passed ({1})", key);
    case Id::restartVerifyFailed:
      return fill(u"· verify failed: {1}", key);
    case Id::restartFallbackRun:
      return fill(u"· Fallback: {1}", key);
    case Id::restartFallbackExit:
      return fill(u"· Fallback exit code {1}", key);
    case Id::restartFallbackTimedOut:
      return fill(u"· Fallback did not finish within {1} s, stopped", key);
    case Id::restartFallbackVerifyPassed:
      return fill(u"· ✓ verify passed after fallback ({1})", key);
    case Id::restartFallbackVerifyFailed:
      return fill(u"· Fallback verify still failing: {1}", key);
    case Id::restartReasonGracefulExitNonZero:
      return fill(u"Graceful command exited {1}", key);
    case Id::restartReasonTimedOut:
      return fill(u"Restart command did not finish within {1} s", key);
    case Id::restartVerifyExitMismatch:
      return fill(u"exit={1}, expected {2}", key);
    case Id::restartVerifyMissingString:
      return fill(u"exit OK but output missing \"{1}\"", key);
    case Id::restartVerifyFalseSuccess:
      return fill(u"exit OK but output contains \"{1}\" (false positive)", key);
    case Id::restartVerifyPass:
      return fill(u"exit={1} + string check passed", key);
    case Id::restartVerifyTimedOut:
      return fill(u"did not finish within {1} s", key);
    case Id::restartBtnFaulted:
      return u"Restart (issue detected)"_s;
    case Id::restartBtnGateway:
      return u"Restart Gateway"_s;
    case Id::restartBtnAgent:
      return u"Restart Agent"_s;
    case Id::restartHintKill:
      return u"Will stop and restart the process"_s;
    case Id::restartConfirmKill:
      return u"Active sessions may be lost."_s;
    case Id::restartConfirmCancel:
      return u"Cancel"_s;
    case Id::restartConfirmConfirm:
      return u"Restart"_s;
    case Id::restartDryRun:
      return u"[DRY RUN — not executed]"_s;
    case Id::restartNoGraceful:
      return u"· This agent has no graceful restart command, using SIGTERM brute force"_s;
    case Id::restartNotRunning:
      return u"· Agent not running"_s;
    case Id::restartPermAccessible:
      return u"accessible"_s;
    case Id::restartSimulate:
      return u"· Simulating: would send SIGTERM → wait 5s → SIGKILL if alive → call recover.recover"_s;
    case Id::restartSendSigterm:
      return u"· Sending SIGTERM…"_s;
    case Id::restartAllExitedGraceful:
      return u"· All exited (graceful)"_s;
    case Id::restartAllKilled:
      return u"· All exited (force-killed)"_s;
    case Id::restartCallRecover:
      return u"· Calling recover.recover to spawn new instance…"_s;
    case Id::restartNewPidVanished:
      return u"· ✗ recover returned launched but scan can't find it — likely crashed"_s;
    case Id::restartReasonDidntSurvive:
      return u"New instance didn't survive 2 seconds"_s;
    case Id::restartUnsupportedRecover:
      return u"· ✗ recover does not support this agent"_s;
    case Id::restartReasonNoRecover:
      return u"agent has no recover strategy"_s;
    case Id::restartReasonGracefulFailedVerify:
      return u"Graceful command ran but verify failed"_s;
    case Id::restartNoVerifyExit0:
      return u"· (No verify configured, exit=0 means success)"_s;
    // usb
    case Id::usbAgentCountValue:
      return fill(u"{1}", key);
    case Id::usbStatusExportDone:
      return fill(u"✓ Written to {1}\n\nOn the new computer: plug in the USB → open Tollamere → \"Import from USB\"", key);
    case Id::usbStatusImportDone:
      return fill(u"✓ Imported encrypted backup volume {1}\n\nGo to \"Backup & Restore → Restore from backup\" to finish recovery", key);
    case Id::usbExportProgressSize:
      return fill(u"{1} / {2}", key);
    case Id::usbExportProgressFiles:
      return fill(key.integer(1) == 1 ? u"{1} / {2} file" : u"{1} / {2} files", key);
    case Id::usbExportSpeed:
      return fill(u"{1} MB/s", key);
    case Id::usbExportEtaSeconds:
      return fill(u"{1}s left", key);
    case Id::usbExportEtaMinutes:
      return fill(u"{1}m left", key);
    case Id::usbAvailableDrives:
      return u"Available drives"_s;
    case Id::usbNoDrives:
      return u"No USB/external drive detected. Plug one in and click refresh."_s;
    case Id::usbHasMigration:
      return u"Migration package found"_s;
    case Id::usbPackageDetails:
      return u"Package details"_s;
    case Id::usbPasswordPrompt:
      return u"Enter the password of the encrypted backup volume"_s;
    case Id::usbPasswordHint:
      return u"The password you set when you created the backup volume on the old computer"_s;
    case Id::usbHeaderExport:
      return u"Export to USB"_s;
    case Id::usbHeaderImport:
      return u"Import from USB"_s;
    case Id::usbIntroExport:
      return u"Copy the encrypted backup volume and an install list to a USB drive, then import them on the new computer."_s;
    case Id::usbIntroImport:
      return u"Plug in a USB drive that holds a Tollamere migration package to bring your backup to this computer."_s;
    case Id::usbRowSourceDevice:
      return u"Source device"_s;
    case Id::usbRowOS:
      return u"OS version"_s;
    case Id::usbRowBackupSize:
      return u"Backup size"_s;
    case Id::usbRowAgentCount:
      return u"Agents"_s;
    case Id::usbActionDone:
      return u"Done"_s;
    case Id::usbActionExporting:
      return u"Exporting…"_s;
    case Id::usbActionImporting:
      return u"Importing…"_s;
    case Id::usbActionExport:
      return u"Export"_s;
    case Id::usbActionImport:
      return u"Import"_s;
    case Id::usbPasswordFieldPlaceholder:
      return u"Backup volume password"_s;
    case Id::usbExportEtaCalculating:
      return u"Calculating time left…"_s;
    case Id::usbActionCancel:
      return u"Cancel"_s;
    case Id::usbActionCancelling:
      return u"Cancelling…"_s;
    case Id::usbExportCancelled:
      return u"Export cancelled"_s;
    // backup
    case Id::backupScanResult:
      return fill(u"Scanned: {1}", key);
    case Id::backupAgentLocation:
      return fill(key.integer(0) == 1 ? (key.integer(1) == 1 ? u"{1} agent · {2} location" : u"{1} agent · {2} locations")
                                      : (key.integer(1) == 1 ? u"{1} agents · {2} location" : u"{1} agents · {2} locations"),
                  key);
    case Id::backupOccupiedFree:
      return fill(u"Used {1}   Host free {2}", key);
    case Id::backupStatAgentCountValue:
      return fill(u"{1}", key);
    case Id::backupBtnScan:
      return u"Scan"_s;
    case Id::backupBtnScanning:
      return u"Scanning…"_s;
    case Id::backupBtnBackup:
      return u"Back up now"_s;
    case Id::backupBtnNothingToBackup:
      return u"Nothing to back up"_s;
    case Id::backupBtnInProgress:
      return u"Backing up…"_s;
    case Id::backupStagePreparing:
      return u"Preparing…"_s;
    case Id::backupStageCopying:
      return u"Copying files…"_s;
    case Id::backupStageCompressing:
      return u"Compressing…"_s;
    case Id::backupStageVerifying:
      return u"Verifying integrity…"_s;
    case Id::backupStageWriting:
      return u"Writing to encrypted backup volume…"_s;
    case Id::backupSheetTitle:
      return u"Backup & Restore"_s;
    case Id::backupNeverBackedUp:
      return u"Not backed up yet"_s;
    case Id::backupVolumeTitle:
      return u"Encrypted backup volume"_s;
    case Id::backupSetupVolume:
      return u"Set up encrypted volume"_s;
    case Id::backupSetupHint:
      return u"Set up an encrypted backup volume first. Your data stays on this computer."_s;
    case Id::backupExportUSB:
      return u"Export to USB"_s;
    case Id::backupImportUSB:
      return u"Import from USB"_s;
    case Id::backupRestoreFromBackup:
      return u"Restore from backup"_s;
    case Id::backupShowInFinder:
      return u"Show in Files"_s;
    case Id::backupNeverYet:
      return u"Never"_s;
    case Id::backupLast:
      return u"Last backup"_s;
    case Id::backupStatTime:
      return u"Time"_s;
    case Id::backupStatAgentCount:
      return u"Agents"_s;
    case Id::backupStatSize:
      return u"Size"_s;
    case Id::backupScanScanning:
      return u"Scanning agent data…"_s;
    case Id::backupNotSet:
      return u"Not set up"_s;
    // doctor
    case Id::doctorHintCmd:
      return fill(u"Will run: {1} (read-only, no changes)", key);
    case Id::doctorFoundIssues:
      return fill(u"Found {1} known issues", key);
    case Id::doctorExitInfo:
      return fill(u"Exit {1} · {2}s", key);
    case Id::doctorDeeperHint:
      return fill(u"For deeper diagnosis/fix, run in a terminal: {1} --fix", key);
    case Id::doctorHeaderTitle:
      return fill(u"{1} · Post-install check", key);
    case Id::doctorOutputExitCode:
      return fill(u"Exit code: {1}  /  Elapsed: {2}s", key);
    case Id::doctorErrUnknownFixKind:
      return fill(u"Unknown fix kind: {1}", key);
    case Id::doctorErrCmdExit:
      return fill(u"Command exited {1}: {2}", key);
    case Id::doctorErrFileNotFound:
      return fill(u"File not found: {1}", key);
    case Id::doctorErrReadFile:
      return fill(u"Read failed: {1}", key);
    case Id::doctorErrJSONParse:
      return fill(u"JSON parse failed: {1}", key);
    case Id::doctorErrWriteFile:
      return fill(u"Write failed: {1}", key);
    case Id::doctorOkUpdated:
      return fill(u"Updated {1}: {2}", key);
    case Id::doctorCheckExitStatus:
      return fill(u"Exit code {1}", key);
    case Id::doctorCheckTimedOut:
      return fill(u"Did not finish within {1} s", key);
    case Id::doctorNoResult:
      return u"No diagnosis result returned"_s;
    case Id::doctorRediagnosing:
      return u"Re-diagnosing…"_s;
    case Id::doctorMatched:
      return u"Matched:"_s;
    case Id::doctorFixing:
      return u"Fixing…"_s;
    case Id::doctorFixed:
      return u"Fixed"_s;
    case Id::doctorNoIssues:
      return u"No known issues found"_s;
    case Id::doctorCheckFailed:
      return u"The check did not succeed"_s;
    case Id::doctorCheckNotRun:
      return u"Could not be run"_s;
    case Id::doctorAllFixed:
      return u"All previous issues fixed — please close and reopen to verify the agent runs normally"_s;
    case Id::doctorFullOutput:
      return u"Full output"_s;
    case Id::doctorDeeperHintGeneric:
      return u"For deeper diagnosis, run the agent's doctor --fix in a terminal"_s;
    case Id::doctorRunningLabel:
      return u"Diagnosing…"_s;
    case Id::doctorLabel:
      return u"Diagnose"_s;
    case Id::doctorFixDisabledHelp:
      return u"Auto-fix not available here"_s;
    case Id::doctorErrShellMissingCmd:
      return u"shell fix missing command"_s;
    case Id::doctorErrCmdEmptyOutput:
      return u"(no output)"_s;
    case Id::doctorOkCmdSucceeded:
      return u"Command succeeded"_s;
    case Id::doctorErrPatchMissingFields:
      return u"patch-json fix missing file or set"_s;
    case Id::doctorErrJSONNotObject:
      return u"Top-level is not a JSON object"_s;
    // first
    case Id::firstSetupStepLabel:
      return fill(u"Step {1}/2 · {2}", key);
    case Id::firstSetupTitle:
      return u"Set up encrypted backup"_s;
    case Id::firstSetupStepChooseLocation:
      return u"Choose location"_s;
    case Id::firstSetupStepSetPassword:
      return u"Set password"_s;
    case Id::firstSetupIntro:
      return u"Tollamere keeps your agents' backups in an encrypted volume on this computer."_s;
    case Id::firstSetupIntroDetail:
      return u"Skills, memories, sessions and settings are encrypted with AES-256. Only your password opens them."_s;
    case Id::firstSetupLocationLabel:
      return u"Location"_s;
    case Id::firstSetupLocationHint:
      return u"The volume is a folder that grows as you back up."_s;
    case Id::firstSetupChangeLocation:
      return u"Change…"_s;
    case Id::firstSetupNext:
      return u"Next"_s;
    case Id::firstSetupPasswordTitle:
      return u"Set a password"_s;
    case Id::firstSetupPasswordIntro:
      return u"This password unlocks your backups. If you lose it, the backups cannot be recovered."_s;
    case Id::firstSetupPasswordLabel:
      return u"Password"_s;
    case Id::firstSetupPasswordAgain:
      return u"Confirm password"_s;
    case Id::firstSetupPasswordMismatch:
      return u"Passwords don't match"_s;
    case Id::firstSetupPrev:
      return u"Back"_s;
    case Id::firstSetupChooseLocationTitle:
      return u"Choose where to keep the backup volume"_s;
    case Id::firstSetupPasswordMinPlaceholder:
      return u"At least 8 characters"_s;
    case Id::firstSetupPasswordAgainPlaceholder:
      return u"Enter the password again"_s;
    case Id::firstSetupCreatingLabel:
      return u"Creating encrypted volume…"_s;
    case Id::firstSetupCreateButton:
      return u"Create encrypted volume"_s;
    case Id::firstSetupPasswordWeakest:
      return u"Too weak"_s;
    case Id::firstSetupPasswordWeak:
      return u"Weak"_s;
    case Id::firstSetupPasswordMedium:
      return u"Medium"_s;
    case Id::firstSetupPasswordStrong:
      return u"Strong"_s;
    // restore
    case Id::restoreBackupTime:
      return fill(u"Backup: {1} · From {2}", key);
    case Id::restoreFoundBackup:
      return fill(u"Found backup in {1}", key);
    case Id::restoreCrossDeviceBody:
      return fill(u"This backup is from {1}, not this computer. All data will be restored to this machine.", key);
    case Id::restoreOneAgent:
      return fill(u"Restore {1}", key);
    case Id::restoreConfirmOneBody:
      return fill(u"About to overwrite current {1} data with the backup.\n\n⚠️ This cannot be undone. To keep current data, cancel and back up first.", key);
    case Id::restoreBtnInProgress:
      return u"Restoring…"_s;
    case Id::restoreStageVerifying:
      return u"Verifying backup integrity…"_s;
    case Id::restoreStageExtracting:
      return u"Extracting…"_s;
    case Id::restoreStageSecurityCheck:
      return u"Security check…"_s;
    case Id::restoreStageWriting:
      return u"Writing data…"_s;
    case Id::restoreFromiCloud:
      return u"From iCloud"_s;
    case Id::restoreCrossDevice:
      return u"Backup from another computer"_s;
    case Id::restoreAllAtOnce:
      return u"Restore all at once"_s;
    case Id::restoreNoBackup:
      return u"No backups available"_s;
    case Id::restoreNoBackupHint:
      return u"Back up once from the Backup & Restore panel first."_s;
    case Id::restoreConfirmAllTitle:
      return u"Restore all agents?"_s;
    case Id::restoreConfirmAllBody:
      return u"About to overwrite all agents' current data with the backup.\n\n⚠️ This cannot be undone. To keep current data, cancel and back up first."_s;
    case Id::restoreConfirmCancel:
      return u"Cancel"_s;
    case Id::restoreConfirmConfirm:
      return u"Restore"_s;
    case Id::restoreConfirmAll:
      return u"Restore all"_s;
    case Id::restoreStatSkillsUnit:
      return u"skills"_s;
    case Id::restoreStatMemoryLabel:
      return u"Memory"_s;
    case Id::restoreStatTasksUnit:
      return u"tasks"_s;
    // detail
    case Id::detailSetupHint:
      return fill(u"Will run `{1}` in a terminal — follow the prompts to complete one-time setup", key);
    case Id::detailActionLaunchAgent:
      return fill(u"Launch {1}", key);
    case Id::detailDoctorChecking:
      return fill(u"Checking {1} configuration…", key);
    case Id::detailDoctorBannerHasIssuesTitle:
      return fill(key.integer(0) == 1 ? u"Setup complete. Found {1} known issue"
                                      : u"Setup complete. Found {1} known issues",
                  key);
    case Id::detailDoctorBannerFailedSubtitle:
      return fill(u"{1} · click to view the output", key);
    case Id::detailFieldStatus:
      return u"Status"_s;
    case Id::detailFieldRunning:
      return u"Running"_s;
    case Id::detailFieldMemory:
      return u"Memory"_s;
    case Id::detailStatusGuarded:
      return u"Guarded"_s;
    case Id::detailMcpSupported:
      return u"MCP supported"_s;
    case Id::detailMcpNot:
      return u"MCP not supported"_s;
    case Id::detailRecentEvents:
      return u"Recent events"_s;
    case Id::detailNoEvents:
      return u"No events yet"_s;
    case Id::detailUninstallButton:
      return u"Uninstall"_s;
    case Id::detailUninstallLockHint:
      return u"Turn off Locked-online to uninstall"_s;
    case Id::detailSetupButton:
      return u"Configure agent"_s;
    case Id::detailActionOpen:
      return u"Open"_s;
    case Id::detailActionOpenDashboard:
      return u"Open Dashboard"_s;
    case Id::detailActionOpenTui:
      return u"Open Console"_s;
    case Id::detailActionStop:
      return u"Stop"_s;
    case Id::detailDoctorBannerNoIssuesTitle:
      return u"Setup complete. No issues detected"_s;
    case Id::detailDoctorBannerNoIssuesSubtitle:
      return u"Agent is ready to use"_s;
    case Id::detailDoctorBannerHasIssuesSubtitle:
      return u"Click to view details and fix"_s;
    // install
    case Id::installSheetTitle:
      return fill(u"Install {1}", key);
    case Id::installSheetHowToOpenBody:
      return fill(u"Open a new terminal and type `{1}`. Terminals that are already open need `source {2}` first.", key);
    case Id::installBootstrapLabel:
      return fill(u"Auto-installing dependency: {1}", key);
    case Id::installBootstrapAgentName:
      return fill(u"Dependency · {1}", key);
    case Id::installSheetChecking:
      return u"Checking requirements..."_s;
    case Id::installSheetMissing:
      return u"Missing requirements"_s;
    case Id::installSheetRunning:
      return u"Installing..."_s;
    case Id::installSheetSuccess:
      return u"Installed"_s;
    case Id::installSheetFailed:
      return u"Install failed"_s;
    case Id::installSheetHowToOpenTitle:
      return u"How to open"_s;
    case Id::installSheetTerminalOpened:
      return u"A terminal window opened — follow the prompts to complete the install"_s;
    case Id::installSheetTerminalFailed:
      return u"Failed to open a terminal"_s;
    case Id::installSheetClose:
      return u"Close"_s;
    case Id::installSheetMissingHint:
      return u"Install these dependencies before this agent can be set up"_s;
    case Id::installSheetMissingFooter:
      return u"Once done, come back and click [Re-check] to continue"_s;
    case Id::installSheetRecheck:
      return u"Re-check"_s;
    case Id::installOsascriptFailed:
      return u"No terminal program could be started"_s;
    case Id::installEchoBrewMissing:
      return u"→ With the system package manager (apt), which may ask for your password"_s;
    case Id::installEchoNode:
      return u"→ Installing Node.js (includes npm)"_s;
    // uninstall
    case Id::uninstallSheetTitle:
      return fill(u"Uninstall {1}", key);
    case Id::uninstallSheetWithFailures:
      return fill(u"Uninstalled ({1} items failed)", key);
    case Id::uninstallSheetButtonSize:
      return fill(u"Uninstall ({1})", key);
    case Id::uninstallWarnBody:
      return fill(key.integer(0) == 1
                      ? u"{1} item didn't uninstall (permission denied or file in use). Remove them manually in your file manager:"
                      : u"{1} items didn't uninstall (permission denied or file in use). Remove them manually in your file manager:",
                  key);
    case Id::uninstallWarnMore:
      return fill(u"…and {1} more", key);
    case Id::uninstallSheetCommands:
      return u"Commands"_s;
    case Id::uninstallSheetStandard:
      return u"Standard"_s;
    case Id::uninstallSheetUserData:
      return u"User data"_s;
    case Id::uninstallSheetNothing:
      return u"Nothing to uninstall"_s;
    case Id::uninstallSheetMissing:
      return u"Missing"_s;
    case Id::uninstallSheetRunning:
      return u"Uninstalling..."_s;
    case Id::uninstallSheetSuccess:
      return u"Uninstalled"_s;
    case Id::uninstallSheetButton:
      return u"Uninstall"_s;
    case Id::uninstallWarnTitle:
      return u"Uninstall incomplete"_s;
    case Id::uninstallExecutingHelp:
      return u"Uninstall in progress — please wait"_s;
    // settings
    case Id::settingsTitle:
      return u"Settings"_s;
    case Id::settingsSectionAppearance:
      return u"Appearance"_s;
    case Id::settingsSectionLanguage:
      return u"Language"_s;
    case Id::settingsSectionTutorial:
      return u"Tutorial Center"_s;
    case Id::settingsTutorialHint:
      return u"Full agent install, setup, and usage guides — on our website."_s;
    case Id::settingsTutorialButton:
      return u"Open Tutorial Center"_s;
    case Id::settingsSectionFeedback:
      return u"Feedback"_s;
    case Id::settingsSectionAbout:
      return u"About"_s;
    case Id::settingsSectionMoreProducts:
      return u"More Products"_s;
    case Id::settingsSectionSelfGuard:
      return u"Auto-start & Recovery"_s;
    case Id::settingsDockSection:
      return u"Task Bar"_s;
    case Id::settingsDockToggle:
      return u"Show in task bar"_s;
    case Id::settingsDockWarnOn:
      return u"Make sure you can see Tollamere in the system tray before turning this off"_s;
    case Id::settingsDockWarnOff:
      return u"Tollamere now lives only in the system tray. Turn this on again if you can't find it"_s;
    case Id::settingsDockWarnOnNoTray:
      return u"This desktop has no system tray: Tollamere lives in its main window. Start Tollamere again to bring the window forward"_s;
    case Id::settingsDockWarnOffNoTray:
      return u"The main window stays out of the task bar. Start Tollamere again to bring it forward"_s;
    // event
    case Id::eventStarted:
      return u"Started"_s;
    case Id::eventExitedNormal:
      return u"Normal exit"_s;
    case Id::eventExitedAbnormal:
      return u"Abnormal exit"_s;
    case Id::eventRecovered:
      return u"Auto-recovered"_s;
    case Id::eventThrottled:
      return u"Repeated failures — recovery paused, please check"_s;
    case Id::eventRestarted:
      return u"Restarted, recovery resumed"_s;
    case Id::eventKilledByOOM:
      return u"Killed by system (low memory)"_s;
    case Id::eventOomRecovered:
      return u"Recovered, but memory is tight"_s;
    case Id::eventLockOnlineEnabled:
      return u"Lock turned on"_s;
    case Id::eventLockOnlineDisabled:
      return u"Lock turned off"_s;
    case Id::eventHangDetected:
      return u"Unresponsive too long"_s;
    case Id::eventZombieRecovered:
      return u"Auto-recovered"_s;
    // metric
    case Id::metricRunning:
      return u"Running"_s;
    case Id::metricRunningSub:
      return u"Live right now"_s;
    case Id::metricLocked:
      return u"Locked online"_s;
    case Id::metricLockedSub:
      return u"Always recover"_s;
    case Id::metricFaulted:
      return u"Faulted"_s;
    case Id::metricFaultedSub:
      return u"Needs attention"_s;
    case Id::metricFaultedSubOk:
      return u"All clear"_s;
    case Id::metricTotal:
      return u"Total"_s;
    case Id::metricTotalSub:
      return u"Recognized"_s;
    // self
    case Id::selfGuardToggle:
      return u"Auto-start at login"_s;
    case Id::selfGuardDevDisabled:
      return u"Not available in dev mode"_s;
    case Id::selfGuardFirstAlertTitle:
      return u"Enable auto-start?"_s;
    case Id::selfGuardFirstAlertBody:
      return u"Tollamere will start at login. You can disable this anytime in settings."_s;
    case Id::selfGuardFirstAlertConfirm:
      return u"Enable"_s;
    case Id::selfGuardFirstAlertCancel:
      return u"Not now"_s;
    case Id::selfGuardEnableFailedTitle:
      return u"Couldn't enable auto-start"_s;
    case Id::selfGuardEnableFailedBody:
      return u"The autostart entry could not be written to ~/.config/autostart. Open that folder, make sure you can write to it, and try again."_s;
    case Id::selfGuardOpenLoginItems:
      return u"Open autostart folder"_s;
    // ev
    case Id::evDetailUserRestart:
      return fill(u"Manual restart → new pid {1}", key);
    case Id::evDetailRestartStuck:
      return fill(u"Restart stuck: SIGKILL failed on {1}", key);
    case Id::evDetailRestartFailed:
      return fill(u"Restart failed: {1}", key);
    case Id::evDetailDoctorNoIssues:
      return fill(u"Diagnosis done, exit {1} · no known issues", key);
    case Id::evDetailDoctorIssues:
      return fill(key.integer(1) == 1 ? u"Diagnosis done, exit {1} · {2} known issue found"
                                      : u"Diagnosis done, exit {1} · {2} known issues found",
                  key);
    case Id::evDetailDoctorFailed:
      return fill(u"Diagnosis did not succeed, exit {1}", key);
    case Id::evDetailDoctorTimedOut:
      return fill(u"Diagnosis did not finish within {1} s", key);
    case Id::evDetailFixSucceeded:
      return fill(u"Fix succeeded [{1}]", key);
    case Id::evDetailFixFailed:
      return fill(u"Fix failed [{1}]", key);
    case Id::evDetailRelaunchDidNotLast:
      return fill(u"Recovery failed: relaunched, but not running {1} s later", key);
    case Id::evDetailUserStop:
      return u"Manual stop"_s;
    case Id::evDetailStopFailed:
      return u"Stop failed"_s;
    case Id::evDetailUserLaunch:
      return u"Manual launch"_s;
    case Id::evDetailSetupCompleted:
      return u"Setup completed, auto check started"_s;
    case Id::evDetailNoRecoveryStrategy:
      return u"No recovery strategy available"_s;
    case Id::evDetailRunawayFallback:
      return u"High resource usage"_s;
    case Id::evDetailRestartFailedNoReason:
      return u"Restart failed"_s;
    // dep
    case Id::depDescNpm:
      return u"Node.js package manager — most CLIs need it"_s;
    case Id::depDescPipx:
      return u"Isolated installer for Python CLI tools"_s;
    case Id::depDescCurl:
      return u"Command-line downloader (install it with apt)"_s;
    case Id::depDescBash:
      return u"Shell (comes with the system)"_s;
    case Id::depActionAutoInstall:
      return u"Auto-install"_s;
    case Id::depActionTerminalInstall:
      return u"Install in a terminal"_s;
    case Id::depActionOpenWebsite:
      return u"Open website"_s;
    // add
    case Id::addSheetTitle:
      return u"Add Agent"_s;
    case Id::addSheetNotInstalled:
      return u"Not installed"_s;
    case Id::addSheetInstalled:
      return u"Installed"_s;
    case Id::addSheetMoreComing:
      return u"More agents coming soon…"_s;
    case Id::addSheetInstallBtn:
      return u"Install"_s;
    case Id::addSheetInstalledLabel:
      return u"Installed"_s;
    // lock
    case Id::lockOnlineTitle:
      return u"Locked online"_s;
    case Id::lockOnlineIndicator:
      return u"Locked online"_s;
    case Id::lockOffConfirmTitle:
      return u"Turn off lock?"_s;
    case Id::lockOffConfirmBody:
      return u"Future exits will no longer be auto-recovered."_s;
    case Id::lockOffConfirmConfirm:
      return u"Confirm"_s;
    case Id::lockOffConfirmCancel:
      return u"Cancel"_s;
    // onboard
    case Id::onboardTitle:
      return u"Tollamere is running 👋"_s;
    case Id::onboardBody:
      return u"I live in the system tray of your desktop's panel."_s;
    case Id::onboardWarnTitle:
      return u"If you can't find me, the tray might be hidden or full"_s;
    case Id::onboardStep1:
      return u"Quit some tray apps you don't need, to free up space"_s;
    case Id::onboardStep2:
      return u"Or start Tollamere again: its window comes to the front"_s;
    case Id::onboardBodyNoTray:
      return u"This desktop has no system tray, so I live in my main window."_s;
    case Id::onboardWarnTitleNoTray:
      return u"If you close the window"_s;
    case Id::onboardStep1NoTray:
      return u"I keep running and keep guarding your agents"_s;
    case Id::onboardStep2NoTray:
      return u"Start Tollamere again and the window comes to the front"_s;
    case Id::onboardOK:
      return u"Got it"_s;
    // row
    case Id::rowOpenTooltipRunning:
      return fill(u"Bring {1} to front", key);
    case Id::rowOpenTooltipNotRunning:
      return fill(u"Launch {1}", key);
    case Id::rowOpenButton:
      return u"Open"_s;
    case Id::rowStateLaunch:
      return u"Launch"_s;
    case Id::rowStateRunning:
      return u"Running"_s;
    case Id::rowStateFaulted:
      return u"Faulted"_s;
    // alert
    case Id::alertTerminalOpenFailBody:
      return fill(u"Tried to open a terminal to run `{1}` but failed.\n\nPossible causes:\n• No terminal program is installed (x-terminal-emulator, gnome-terminal, konsole, xfce4-terminal or xterm)\n• The terminal could not start on this display\n\nError: {2}", key);
    case Id::alertSetupOpenFailTitle:
      return fill(u"Cannot open a terminal to configure {1}", key);
    case Id::alertTerminalOpenFailTitle:
      return u"Cannot open a terminal"_s;
    case Id::alertGotIt:
      return u"Got it"_s;
    case Id::alertSetupOpenFailBody:
      return u"Possible causes:\n• No terminal program is installed (x-terminal-emulator, gnome-terminal, konsole, xfce4-terminal or xterm)\n• The terminal could not start on this display\n\nInstall one of them with your package manager (for example `sudo apt install xterm`) and try again."_s;
    case Id::alertSetupFailTitle:
      return fill(u"Cannot configure {1}", key);
    case Id::alertConfigFolderOpenFailTitle:
      return fill(u"Cannot open the configuration folder of {1}", key);
    case Id::alertLaunchFailTitle:
      return fill(u"Cannot launch {1}", key);
    case Id::alertFailureReason:
      return fill(u"Error: {1}", key);
    case Id::alertOpenFailBody:
      return fill(u"{1}. Select it below to copy it and open it yourself.", key);
    case Id::alertOpenerNotStarted:
      return fill(u"The desktop's opener, xdg-open, could not be started ({1})", key);
    case Id::alertOpenerFailed:
      return fill(u"No program on this desktop opened it (xdg-open ended with status {1})", key);
    case Id::alertLaunchUnsupportedBody:
      return u"The registry gives no way to launch this agent."_s;
    case Id::alertOpenLinkFailTitle:
      return u"Couldn't open the link"_s;
    case Id::alertOpenFolderFailTitle:
      return u"Couldn't open the folder"_s;
    case Id::alertOpenNotAnAddress:
      return u"It is not a web address"_s;
    // help
    case Id::helpRowLaunch:
      return fill(u"Launch {1}", key);
    case Id::helpRefreshList:
      return u"Refresh list"_s;
    case Id::helpBackupVolumeReveal:
      return u"Show the backup volume in your file manager"_s;
    case Id::helpRowFaulted:
      return u"Click to view fault details"_s;
    case Id::helpRowDetail:
      return u"Click for details (open / stop / restart, etc.)"_s;
    // agent
    case Id::agentRestartConfirmTitle:
      return fill(u"Restart {1}?", key);
    case Id::agentKindApp:
      return u"App"_s;
    case Id::agentKindCli:
      return u"CLI"_s;
    case Id::agentKindPlugin:
      return u"Plugin"_s;
    // dash
    case Id::dashAddAgentTooltip:
      return u"Add Agent"_s;
    case Id::dashSettingsTooltip:
      return u"Settings"_s;
    case Id::dashEmptyHint:
      return u"Click + at the top-right to install an agent"_s;
    case Id::dashBackupTooltip:
      return u"Backup & Restore"_s;
    // feedback
    case Id::feedbackBodyTemplate:
      return fill(u"Describe what went wrong or what you'd like to see:\n\n\n---\nVersion: {1}\n", key);
    case Id::feedbackHint:
      return u"Missing agent? Found a bug? Have a feature request?"_s;
    case Id::feedbackButton:
      return u"Send email feedback"_s;
    case Id::feedbackSubject:
      return u"Tollamere · Feedback"_s;
    // status
    case Id::statusRunning:
      return u"Running"_s;
    case Id::statusStopped:
      return u"Stopped"_s;
    case Id::statusFaulted:
      return u"Faulted"_s;
    case Id::statusBarOpen:
      return u"Open Tollamere"_s;
    case Id::statusBarQuit:
      return u"Quit Tollamere"_s;
    case Id::statusRunningUnreached:
      return u"Tollamere is already running but did not answer, so its window could not be brought forward."_s;
    // vault
    case Id::vaultPasswordPrompt:
      return u"Enter the encrypted backup volume password"_s;
    case Id::vaultPasswordIntro:
      return u"Enter it once — this computer remembers it for automatic backups."_s;
    case Id::vaultPasswordConfirm:
      return u"Confirm"_s;
    case Id::vaultPasswordCancel:
      return u"Cancel"_s;
    // appearance
    case Id::appearanceSystem:
      return u"System"_s;
    case Id::appearanceLight:
      return u"Light"_s;
    case Id::appearanceDark:
      return u"Dark"_s;
    // hero
    case Id::heroSubMixed:
      return fill(key.integer(2) != 0 ? u"Guarding {2} · {1} running · {3} locked"
                                      : u"Guarding {2} · {1} running",
                  key);
    case Id::heroSubEmpty:
      return u"No agents"_s;
    case Id::heroTagline:
      return u"Guardian for your AI agents."_s;
    // sheet
    case Id::sheetCancel:
      return u"Cancel"_s;
    case Id::sheetDone:
      return u"Done"_s;
    case Id::sheetDontClose:
      return u"Don't close this window..."_s;
    // embedded
    case Id::embeddedCliTitle:
      return fill(u"Embedded CLI: {1}", key);
    case Id::embeddedCliSubtitle:
      return fill(u"PID {1} · No need to manage separately", key);
    // legal
    case Id::legalPrivacyTitle:
      return u"Privacy Policy"_s;
    case Id::legalTermsTitle:
      return u"Terms of Service"_s;
    // setup
    case Id::setupHintOpenInFinder:
      return fill(u"Open ~/{1} in your file manager", key);
    case Id::setupConfigDirFallback:
      return u"config directory"_s;
    // about
    case Id::aboutTagline:
      return u"Guarding your AI agents"_s;
    // brand
    case Id::brandName:
      return u"Tollamere"_s;
    // empty
    case Id::empty:
      return {};
    // more
    case Id::moreProductsPlaceholder:
      return u"More products coming soon"_s;
    // panel
    case Id::panelLiveStatus:
      return u"Live status"_s;
    // resource
    case Id::resourceRunawayDetails:
      return fill(isCpu(key) ? u"{1} high for too long: {2}%" : u"{1} high for too long: {2} MB", key);
    // storage
    case Id::storageLocal:
      return u"Local Backup"_s;
  }
  return QString();
}

QString zh(const LocKey& key) {
  switch (key.id()) {
    // restart
    case Id::restartHintCmd:
      return fill(u"将运行：{1}", key);
    case Id::restartConfirmGateway:
      return fill(u"将运行 {1},channel 会短暂断开自动重连。", key);
    case Id::restartHeader:
      return fill(u"=== 重启 {1} ===", key);
    case Id::restartFoundPids:
      return fill(u"· 找到 {1} 个 pid: {2}", key);
    case Id::restartPermDenied:
      return fill(u"不可访问(errno={1})", key);
    case Id::restartSigtermFail:
      return fill(u"  - pid {1} SIGTERM 失败 errno={2}", key);
    case Id::restartSurvivors:
      return fill(u"· 仍有 {1} 个未退 {2} → SIGKILL", key);
    case Id::restartSigkillStillRunning:
      return fill(u"· SIGKILL 后仍有 {1} 个进程在 —— 异常状况，终止重启", key);
    case Id::restartNewPidUp:
      return fill(u"· ✓ 新实例 pid={1} 已启动并在跑", key);
    case Id::restartFailedRecover:
      return fill(u"· ✗ recover 失败：{1}", key);
    case Id::restartGracefulWillRun:
      return fill(u"· 优雅档：将运行 {1}", key);
    case Id::restartGracefulVerify:
      return fill(u"· 然后验证：{1}", key);
    case Id::restartGracefulFallback:
      return fill(u"· 验证失败 → 兜底：{1}", key);
    case Id::restartCmdExitCode:
      return fill(u"· 命令退出码 {1}", key);
    case Id::restartCmdTimedOut:
      return fill(u"· 命令 {1} 秒内未完成，已中止", key);
    case Id::restartVerifyPassed:
      return fill(u"· ✓ verify 通过（{1}）", key);
    case Id::restartVerifyFailed:
      return fill(u"· verify 失败：{1}", key);
    case Id::restartFallbackRun:
      return fill(u"· 兜底：{1}", key);
    case Id::restartFallbackExit:
      return fill(u"· 兜底退出码 {1}", key);
    case Id::restartFallbackTimedOut:
      return fill(u"· 兜底 {1} 秒内未完成，已中止", key);
    case Id::restartFallbackVerifyPassed:
      return fill(u"· ✓ 兜底后 verify 通过（{1}）", key);
    case Id::restartFallbackVerifyFailed:
      return fill(u"· 兜底 verify 仍失败：{1}", key);
    case Id::restartReasonGracefulExitNonZero:
      return fill(u"优雅命令 exit {1}", key);
    case Id::restartReasonTimedOut:
      return fill(u"重启命令 {1} 秒内未完成", key);
    case Id::restartVerifyExitMismatch:
      return fill(u"exit={1}，期望 {2}", key);
    case Id::restartVerifyMissingString:
      return fill(u"exit 通过但输出不含 \"{1}\"", key);
    case Id::restartVerifyFalseSuccess:
      return fill(u"exit 通过但输出含 \"{1}\"（假成功）", key);
    case Id::restartVerifyPass:
      return fill(u"exit={1} + 字符串检查通过", key);
    case Id::restartVerifyTimedOut:
      return fill(u"{1} 秒内未完成", key);
    case Id::restartBtnFaulted:
      return u"重启（检测到异常）"_s;
    case Id::restartBtnGateway:
      return u"重启 Gateway"_s;
    case Id::restartBtnAgent:
      return u"重启 Agent"_s;
    case Id::restartHintKill:
      return u"将停止并重新启动该进程"_s;
    case Id::restartConfirmKill:
      return u"可能丢失正在处理的会话。"_s;
    case Id::restartConfirmCancel:
      return u"取消"_s;
    case Id::restartConfirmConfirm:
      return u"重启"_s;
    case Id::restartDryRun:
      return u"[DRY RUN —— 不真执行]"_s;
    case Id::restartNoGraceful:
      return u"· 该 agent 未配置优雅重启命令，走 SIGTERM 暴力档"_s;
    case Id::restartNotRunning:
      return u"· agent 没在跑"_s;
    case Id::restartPermAccessible:
      return u"可访问"_s;
    case Id::restartSimulate:
      return u"· 模拟：会发 SIGTERM → 等 5s → 没退就 SIGKILL → 调 recover.recover"_s;
    case Id::restartSendSigterm:
      return u"· 发 SIGTERM…"_s;
    case Id::restartAllExitedGraceful:
      return u"· 全部已退（优雅）"_s;
    case Id::restartAllKilled:
      return u"· 全部已退（强杀）"_s;
    case Id::restartCallRecover:
      return u"· 调 recover.recover 启动新实例…"_s;
    case Id::restartNewPidVanished:
      return u"· ✗ recover 返回 launched 但 scan 看不到 —— 可能闪退"_s;
    case Id::restartReasonDidntSurvive:
      return u"新实例没活过 2 秒"_s;
    case Id::restartUnsupportedRecover:
      return u"· ✗ recover 不支持该 agent"_s;
    case Id::restartReasonNoRecover:
      return u"agent 没配 recover 策略"_s;
    case Id::restartReasonGracefulFailedVerify:
      return u"优雅命令跑了但 verify 失败"_s;
    case Id::restartNoVerifyExit0:
      return u"· （未配 verify，按 exit=0 判定成功）"_s;
    // usb
    case Id::usbAgentCountValue:
      return fill(u"{1} 个", key);
    case Id::usbStatusExportDone:
      return fill(u"✓ 已写入 {1}\n\n到新机插上 U 盘 → 打开 Tollamere → 「从 U 盘导入」即可恢复", key);
    case Id::usbStatusImportDone:
      return fill(u"✓ 已导入加密备份卷 {1}\n\n请到「备份与恢复 → 从备份恢复」走标准恢复流程", key);
    case Id::usbExportProgressSize:
      return fill(u"{1} / {2}", key);
    case Id::usbExportProgressFiles:
      return fill(u"{1} / {2} 个文件", key);
    case Id::usbExportSpeed:
      return fill(u"{1} MB/s", key);
    case Id::usbExportEtaSeconds:
      return fill(u"剩 {1} 秒", key);
    case Id::usbExportEtaMinutes:
      return fill(u"剩 {1} 分钟", key);
    case Id::usbAvailableDrives:
      return u"可用的存储设备"_s;
    case Id::usbNoDrives:
      return u"还没检测到 U 盘 / 移动硬盘。请插入后点刷新。"_s;
    case Id::usbHasMigration:
      return u"检测到迁移包"_s;
    case Id::usbPackageDetails:
      return u"迁移包详情"_s;
    case Id::usbPasswordPrompt:
      return u"请输入加密备份卷的密码"_s;
    case Id::usbPasswordHint:
      return u"即在旧电脑上创建备份卷时设置的密码"_s;
    case Id::usbHeaderExport:
      return u"导出到 U 盘"_s;
    case Id::usbHeaderImport:
      return u"从 U 盘导入"_s;
    case Id::usbIntroExport:
      return u"把加密备份卷和安装清单拷到 U 盘，到新电脑上导入即可。"_s;
    case Id::usbIntroImport:
      return u"插入装有 Tollamere 迁移包的 U 盘，把备份带到这台电脑。"_s;
    case Id::usbRowSourceDevice:
      return u"来源设备"_s;
    case Id::usbRowOS:
      return u"系统版本"_s;
    case Id::usbRowBackupSize:
      return u"备份大小"_s;
    case Id::usbRowAgentCount:
      return u"Agent 数量"_s;
    case Id::usbActionDone:
      return u"完成"_s;
    case Id::usbActionExporting:
      return u"正在导出…"_s;
    case Id::usbActionImporting:
      return u"正在导入…"_s;
    case Id::usbActionExport:
      return u"开始导出"_s;
    case Id::usbActionImport:
      return u"开始导入"_s;
    case Id::usbPasswordFieldPlaceholder:
      return u"备份卷密码"_s;
    case Id::usbExportEtaCalculating:
      return u"正在估算剩余时间…"_s;
    case Id::usbActionCancel:
      return u"取消"_s;
    case Id::usbActionCancelling:
      return u"正在取消…"_s;
    case Id::usbExportCancelled:
      return u"已取消导出"_s;
    // backup
    case Id::backupScanResult:
      return fill(u"本次扫描:{1}", key);
    case Id::backupAgentLocation:
      return fill(u"{1} 个 Agent · {2} 个位置", key);
    case Id::backupOccupiedFree:
      return fill(u"已占 {1}   宿主磁盘剩余 {2}", key);
    case Id::backupStatAgentCountValue:
      return fill(u"{1} 个", key);
    case Id::backupBtnScan:
      return u"扫描"_s;
    case Id::backupBtnScanning:
      return u"扫描中…"_s;
    case Id::backupBtnBackup:
      return u"立即备份"_s;
    case Id::backupBtnNothingToBackup:
      return u"没有可备份的内容"_s;
    case Id::backupBtnInProgress:
      return u"正在备份…"_s;
    case Id::backupStagePreparing:
      return u"准备中…"_s;
    case Id::backupStageCopying:
      return u"正在复制文件…"_s;
    case Id::backupStageCompressing:
      return u"正在压缩…"_s;
    case Id::backupStageVerifying:
      return u"正在校验完整性…"_s;
    case Id::backupStageWriting:
      return u"正在写入加密备份卷…"_s;
    case Id::backupSheetTitle:
      return u"备份与恢复"_s;
    case Id::backupNeverBackedUp:
      return u"还没有备份过"_s;
    case Id::backupVolumeTitle:
      return u"加密备份卷"_s;
    case Id::backupSetupVolume:
      return u"设置加密卷"_s;
    case Id::backupSetupHint:
      return u"请先设置加密备份卷，数据只保存在这台电脑上。"_s;
    case Id::backupExportUSB:
      return u"导出到 U 盘"_s;
    case Id::backupImportUSB:
      return u"从 U 盘导入"_s;
    case Id::backupRestoreFromBackup:
      return u"从备份恢复"_s;
    case Id::backupShowInFinder:
      return u"在文件管理器中显示"_s;
    case Id::backupNeverYet:
      return u"从未备份"_s;
    case Id::backupLast:
      return u"上次备份"_s;
    case Id::backupStatTime:
      return u"时间"_s;
    case Id::backupStatAgentCount:
      return u"Agent 数"_s;
    case Id::backupStatSize:
      return u"大小"_s;
    case Id::backupScanScanning:
      return u"正在扫描 Agent 数据…"_s;
    case Id::backupNotSet:
      return u"未设置"_s;
    // doctor
    case Id::doctorHintCmd:
      return fill(u"将运行:{1}（只读,不修改任何东西）", key);
    case Id::doctorFoundIssues:
      return fill(u"发现 {1} 个已知问题", key);
    case Id::doctorExitInfo:
      return fill(u"退出码 {1} · {2}s", key);
    case Id::doctorDeeperHint:
      return fill(u"如要更深入诊断/修复,请到终端跑:{1} --fix", key);
    case Id::doctorHeaderTitle:
      return fill(u"{1} · 安装后体检", key);
    case Id::doctorOutputExitCode:
      return fill(u"退出码：{1}  /  耗时：{2}s", key);
    case Id::doctorErrUnknownFixKind:
      return fill(u"未知的 fix kind: {1}", key);
    case Id::doctorErrCmdExit:
      return fill(u"命令退出 {1}：{2}", key);
    case Id::doctorErrFileNotFound:
      return fill(u"文件不存在：{1}", key);
    case Id::doctorErrReadFile:
      return fill(u"读文件失败：{1}", key);
    case Id::doctorErrJSONParse:
      return fill(u"JSON 解析失败：{1}", key);
    case Id::doctorErrWriteFile:
      return fill(u"写文件失败：{1}", key);
    case Id::doctorOkUpdated:
      return fill(u"已更新 {1}：{2}", key);
    case Id::doctorCheckExitStatus:
      return fill(u"退出码 {1}", key);
    case Id::doctorCheckTimedOut:
      return fill(u"{1} 秒内未完成", key);
    case Id::doctorNoResult:
      return u"诊断没有返回结果"_s;
    case Id::doctorRediagnosing:
      return u"正在重新诊断…"_s;
    case Id::doctorMatched:
      return u"命中:"_s;
    case Id::doctorFixing:
      return u"修复中…"_s;
    case Id::doctorFixed:
      return u"已修复"_s;
    case Id::doctorNoIssues:
      return u"诊断未发现已知问题"_s;
    case Id::doctorCheckFailed:
      return u"检查未成功"_s;
    case Id::doctorCheckNotRun:
      return u"未能运行"_s;
    case Id::doctorAllFixed:
      return u"之前的问题已全部修复 —— 建议关闭重开看 agent 是否正常运行"_s;
    case Id::doctorFullOutput:
      return u"完整输出"_s;
    case Id::doctorDeeperHintGeneric:
      return u"如需深入诊断,请到终端跑该 agent 的 doctor --fix"_s;
    case Id::doctorRunningLabel:
      return u"诊断中…"_s;
    case Id::doctorLabel:
      return u"诊断"_s;
    case Id::doctorFixDisabledHelp:
      return u"当前上下文不支持自动修复"_s;
    case Id::doctorErrShellMissingCmd:
      return u"shell fix 缺 command"_s;
    case Id::doctorErrCmdEmptyOutput:
      return u"(无输出)"_s;
    case Id::doctorOkCmdSucceeded:
      return u"命令执行成功"_s;
    case Id::doctorErrPatchMissingFields:
      return u"patch-json fix 缺 file 或 set"_s;
    case Id::doctorErrJSONNotObject:
      return u"顶层不是 JSON 对象"_s;
    // first
    case Id::firstSetupStepLabel:
      return fill(u"第 {1}/2 步 · {2}", key);
    case Id::firstSetupTitle:
      return u"设置加密备份"_s;
    case Id::firstSetupStepChooseLocation:
      return u"选择位置"_s;
    case Id::firstSetupStepSetPassword:
      return u"设置密码"_s;
    case Id::firstSetupIntro:
      return u"Tollamere 会把 Agent 的备份存进本机的加密卷。"_s;
    case Id::firstSetupIntroDetail:
      return u"技能、记忆、会话和配置都用 AES-256 加密，只有你的密码能打开。"_s;
    case Id::firstSetupLocationLabel:
      return u"存放位置"_s;
    case Id::firstSetupLocationHint:
      return u"加密卷是一个文件夹，随备份增长。"_s;
    case Id::firstSetupChangeLocation:
      return u"更改…"_s;
    case Id::firstSetupNext:
      return u"下一步"_s;
    case Id::firstSetupPasswordTitle:
      return u"设置密码"_s;
    case Id::firstSetupPasswordIntro:
      return u"这个密码用来解锁备份。密码丢失后，备份将无法恢复。"_s;
    case Id::firstSetupPasswordLabel:
      return u"密码"_s;
    case Id::firstSetupPasswordAgain:
      return u"确认密码"_s;
    case Id::firstSetupPasswordMismatch:
      return u"两次输入不一致"_s;
    case Id::firstSetupPrev:
      return u"上一步"_s;
    case Id::firstSetupChooseLocationTitle:
      return u"选择备份卷的存放位置"_s;
    case Id::firstSetupPasswordMinPlaceholder:
      return u"至少 8 位"_s;
    case Id::firstSetupPasswordAgainPlaceholder:
      return u"再输入一次密码"_s;
    case Id::firstSetupCreatingLabel:
      return u"正在创建加密卷…"_s;
    case Id::firstSetupCreateButton:
      return u"创建加密卷"_s;
    case Id::firstSetupPasswordWeakest:
      return u"太弱"_s;
    case Id::firstSetupPasswordWeak:
      return u"弱"_s;
    case Id::firstSetupPasswordMedium:
      return u"中等"_s;
    case Id::firstSetupPasswordStrong:
      return u"强"_s;
    // restore
    case Id::restoreBackupTime:
      return fill(u"备份时间:{1} · 来自 {2}", key);
    case Id::restoreFoundBackup:
      return fill(u"找到 {1} 里的备份", key);
    case Id::restoreCrossDeviceBody:
      return fill(u"这份备份来自 {1},不是当前这台电脑。恢复后所有数据会落到当前机器。", key);
    case Id::restoreOneAgent:
      return fill(u"恢复 {1}", key);
    case Id::restoreConfirmOneBody:
      return fill(u"即将用备份内容覆盖当前的 {1} 数据。\n\n⚠️ 此操作不可撤销。如果想保留当前数据，请先取消并去主页备份。", key);
    case Id::restoreBtnInProgress:
      return u"正在恢复…"_s;
    case Id::restoreStageVerifying:
      return u"正在校验备份完整性…"_s;
    case Id::restoreStageExtracting:
      return u"正在解压…"_s;
    case Id::restoreStageSecurityCheck:
      return u"正在安全检查…"_s;
    case Id::restoreStageWriting:
      return u"正在写入数据…"_s;
    case Id::restoreFromiCloud:
      return u"来自 iCloud"_s;
    case Id::restoreCrossDevice:
      return u"来自另一台电脑的备份"_s;
    case Id::restoreAllAtOnce:
      return u"一键全部恢复"_s;
    case Id::restoreNoBackup:
      return u"还没有可恢复的备份"_s;
    case Id::restoreNoBackupHint:
      return u"请先在「备份与恢复」面板做一次备份。"_s;
    case Id::restoreConfirmAllTitle:
      return u"恢复所有 Agent？"_s;
    case Id::restoreConfirmAllBody:
      return u"即将用备份内容覆盖所有 Agent 的当前数据。\n\n⚠️ 此操作不可撤销。如果想保留当前数据，请先取消并去主页备份。"_s;
    case Id::restoreConfirmCancel:
      return u"取消"_s;
    case Id::restoreConfirmConfirm:
      return u"确认恢复"_s;
    case Id::restoreConfirmAll:
      return u"全部恢复"_s;
    case Id::restoreStatSkillsUnit:
      return u"个技能"_s;
    case Id::restoreStatMemoryLabel:
      return u"记忆"_s;
    case Id::restoreStatTasksUnit:
      return u"个任务"_s;
    // detail
    case Id::detailSetupHint:
      return fill(u"将在终端运行 `{1}`，按提示完成一次性配置", key);
    case Id::detailActionLaunchAgent:
      return fill(u"启动 {1}", key);
    case Id::detailDoctorChecking:
      return fill(u"正在检查 {1} 配置…", key);
    case Id::detailDoctorBannerHasIssuesTitle:
      return fill(u"setup 完成，发现 {1} 个已知问题", key);
    case Id::detailDoctorBannerFailedSubtitle:
      return fill(u"{1} · 点击查看输出", key);
    case Id::detailFieldStatus:
      return u"状态"_s;
    case Id::detailFieldRunning:
      return u"运行"_s;
    case Id::detailFieldMemory:
      return u"内存"_s;
    case Id::detailStatusGuarded:
      return u"已守护"_s;
    case Id::detailMcpSupported:
      return u"支持 MCP"_s;
    case Id::detailMcpNot:
      return u"不支持 MCP"_s;
    case Id::detailRecentEvents:
      return u"最近事件"_s;
    case Id::detailNoEvents:
      return u"暂无事件记录"_s;
    case Id::detailUninstallButton:
      return u"彻底卸载"_s;
    case Id::detailUninstallLockHint:
      return u"关闭「锁定在线」可卸载"_s;
    case Id::detailSetupButton:
      return u"配置 Agent"_s;
    case Id::detailActionOpen:
      return u"打开"_s;
    case Id::detailActionOpenDashboard:
      return u"打开仪表盘"_s;
    case Id::detailActionOpenTui:
      return u"打开看板"_s;
    case Id::detailActionStop:
      return u"退出"_s;
    case Id::detailDoctorBannerNoIssuesTitle:
      return u"setup 完成，已自动检查无异常"_s;
    case Id::detailDoctorBannerNoIssuesSubtitle:
      return u"agent 现在可以正常使用"_s;
    case Id::detailDoctorBannerHasIssuesSubtitle:
      return u"点击查看详情 + 一键修复"_s;
    // install
    case Id::installSheetTitle:
      return fill(u"安装 {1}", key);
    case Id::installSheetHowToOpenBody:
      return fill(u"打开新终端直接输 `{1}` 即可使用。已开的终端窗口需先跑 `source {2}`。", key);
    case Id::installBootstrapLabel:
      return fill(u"正在自动安装依赖：{1}", key);
    case Id::installBootstrapAgentName:
      return fill(u"依赖 · {1}", key);
    case Id::installSheetChecking:
      return u"检查依赖..."_s;
    case Id::installSheetMissing:
      return u"缺少必要工具"_s;
    case Id::installSheetRunning:
      return u"正在安装..."_s;
    case Id::installSheetSuccess:
      return u"已安装"_s;
    case Id::installSheetFailed:
      return u"安装失败"_s;
    case Id::installSheetHowToOpenTitle:
      return u"怎么打开"_s;
    case Id::installSheetTerminalOpened:
      return u"终端已打开，请按其中提示完成安装"_s;
    case Id::installSheetTerminalFailed:
      return u"无法打开终端"_s;
    case Id::installSheetClose:
      return u"关闭"_s;
    case Id::installSheetMissingHint:
      return u"装这个 Agent 前，先把下面的依赖准备好"_s;
    case Id::installSheetMissingFooter:
      return u"装完后回到这里，点【重新检查】继续"_s;
    case Id::installSheetRecheck:
      return u"重新检查"_s;
    case Id::installOsascriptFailed:
      return u"没能启动终端程序"_s;
    case Id::installEchoBrewMissing:
      return u"→ 用系统包管理器（apt）安装，可能会要求输入密码"_s;
    case Id::installEchoNode:
      return u"→ 装 Node.js（含 npm）"_s;
    // uninstall
    case Id::uninstallSheetTitle:
      return fill(u"卸载 {1}", key);
    case Id::uninstallSheetWithFailures:
      return fill(u"已卸载（{1} 项未成功）", key);
    case Id::uninstallSheetButtonSize:
      return fill(u"彻底卸载（{1}）", key);
    case Id::uninstallWarnBody:
      return fill(u"以下 {1} 项没成功，可能因权限不足或文件被占用。建议手动到文件管理器删除：", key);
    case Id::uninstallWarnMore:
      return fill(u"…还有 {1} 项", key);
    case Id::uninstallSheetCommands:
      return u"命令"_s;
    case Id::uninstallSheetStandard:
      return u"标准"_s;
    case Id::uninstallSheetUserData:
      return u"用户数据"_s;
    case Id::uninstallSheetNothing:
      return u"无可卸载项"_s;
    case Id::uninstallSheetMissing:
      return u"不存在"_s;
    case Id::uninstallSheetRunning:
      return u"正在卸载..."_s;
    case Id::uninstallSheetSuccess:
      return u"已卸载"_s;
    case Id::uninstallSheetButton:
      return u"彻底卸载"_s;
    case Id::uninstallWarnTitle:
      return u"卸载未完全成功"_s;
    case Id::uninstallExecutingHelp:
      return u"卸载进行中，请等完成再关闭"_s;
    // settings
    case Id::settingsTitle:
      return u"设置"_s;
    case Id::settingsSectionAppearance:
      return u"外观"_s;
    case Id::settingsSectionLanguage:
      return u"语言"_s;
    case Id::settingsSectionTutorial:
      return u"教程中心"_s;
    case Id::settingsTutorialHint:
      return u"Agent 安装、配置、使用全攻略 — 在我们官网。"_s;
    case Id::settingsTutorialButton:
      return u"打开教程中心"_s;
    case Id::settingsSectionFeedback:
      return u"反馈"_s;
    case Id::settingsSectionAbout:
      return u"关于"_s;
    case Id::settingsSectionMoreProducts:
      return u"更多产品"_s;
    case Id::settingsSectionSelfGuard:
      return u"自启动与恢复"_s;
    case Id::settingsDockSection:
      return u"任务栏"_s;
    case Id::settingsDockToggle:
      return u"在任务栏显示"_s;
    case Id::settingsDockWarnOn:
      return u"关闭前请确认系统托盘能看到 Tollamere"_s;
    case Id::settingsDockWarnOff:
      return u"Tollamere 现在只在系统托盘显示。找不到可以重新打开"_s;
    case Id::settingsDockWarnOnNoTray:
      return u"这个桌面没有系统托盘：Tollamere 常驻在主窗口里。再次启动 Tollamere 即可把窗口带到最前面"_s;
    case Id::settingsDockWarnOffNoTray:
      return u"主窗口不在任务栏显示。再次启动 Tollamere 即可把窗口带到最前面"_s;
    // event
    case Id::eventStarted:
      return u"开始运行"_s;
    case Id::eventExitedNormal:
      return u"正常退出"_s;
    case Id::eventExitedAbnormal:
      return u"异常退出"_s;
    case Id::eventRecovered:
      return u"已自动恢复"_s;
    case Id::eventThrottled:
      return u"反复异常，已暂停接管，请检查处理"_s;
    case Id::eventRestarted:
      return u"已重新启动，恢复接管"_s;
    case Id::eventKilledByOOM:
      return u"内存吃紧被系统关闭"_s;
    case Id::eventOomRecovered:
      return u"已恢复，但内存紧张"_s;
    case Id::eventLockOnlineEnabled:
      return u"开启了锁定在线"_s;
    case Id::eventLockOnlineDisabled:
      return u"关闭了锁定在线"_s;
    case Id::eventHangDetected:
      return u"长时间无响应"_s;
    case Id::eventZombieRecovered:
      return u"已自动恢复"_s;
    // metric
    case Id::metricRunning:
      return u"运行中"_s;
    case Id::metricRunningSub:
      return u"正在为你服务"_s;
    case Id::metricLocked:
      return u"锁定在线"_s;
    case Id::metricLockedSub:
      return u"永远救起"_s;
    case Id::metricFaulted:
      return u"故障"_s;
    case Id::metricFaultedSub:
      return u"需要关注"_s;
    case Id::metricFaultedSubOk:
      return u"全部正常"_s;
    case Id::metricTotal:
      return u"共计"_s;
    case Id::metricTotalSub:
      return u"已识别"_s;
    // self
    case Id::selfGuardToggle:
      return u"开机自启"_s;
    case Id::selfGuardDevDisabled:
      return u"开发模式不可用"_s;
    case Id::selfGuardFirstAlertTitle:
      return u"开启自启动？"_s;
    case Id::selfGuardFirstAlertBody:
      return u"Tollamere 将开机自启。你随时可以在设置里关闭。"_s;
    case Id::selfGuardFirstAlertConfirm:
      return u"开启"_s;
    case Id::selfGuardFirstAlertCancel:
      return u"暂不开启"_s;
    case Id::selfGuardEnableFailedTitle:
      return u"无法开启自启动"_s;
    case Id::selfGuardEnableFailedBody:
      return u"无法把自启动项写入 ~/.config/autostart。请打开该文件夹，确认它可以写入后再试一次。"_s;
    case Id::selfGuardOpenLoginItems:
      return u"打开自启动文件夹"_s;
    // ev
    case Id::evDetailUserRestart:
      return fill(u"用户主动重启 → 新 pid {1}", key);
    case Id::evDetailRestartStuck:
      return fill(u"重启卡住：SIGKILL 也杀不掉 {1}", key);
    case Id::evDetailRestartFailed:
      return fill(u"重启失败：{1}", key);
    case Id::evDetailDoctorNoIssues:
      return fill(u"诊断完成 exit={1} · 无已知问题", key);
    case Id::evDetailDoctorIssues:
      return fill(u"诊断完成 exit={1} · 识别 {2} 个问题", key);
    case Id::evDetailDoctorFailed:
      return fill(u"诊断未成功 exit={1}", key);
    case Id::evDetailDoctorTimedOut:
      return fill(u"诊断未完成 · {1} 秒内未结束", key);
    case Id::evDetailFixSucceeded:
      return fill(u"修复成功 [{1}]", key);
    case Id::evDetailFixFailed:
      return fill(u"修复失败 [{1}]", key);
    case Id::evDetailRelaunchDidNotLast:
      return fill(u"恢复失败：已重新启动，但 {1} 秒后已不在运行", key);
    case Id::evDetailUserStop:
      return u"用户主动退出"_s;
    case Id::evDetailStopFailed:
      return u"退出失败"_s;
    case Id::evDetailUserLaunch:
      return u"用户手动启动"_s;
    case Id::evDetailSetupCompleted:
      return u"setup 完成，自动开始体检"_s;
    case Id::evDetailNoRecoveryStrategy:
      return u"无可用恢复策略"_s;
    case Id::evDetailRunawayFallback:
      return u"资源占用偏高"_s;
    case Id::evDetailRestartFailedNoReason:
      return u"重启失败"_s;
    // dep
    case Id::depDescNpm:
      return u"Node.js 的包管理器，多数 CLI 都靠它"_s;
    case Id::depDescPipx:
      return u"Python CLI 工具的隔离安装器"_s;
    case Id::depDescCurl:
      return u"命令行下载工具（可用 apt 安装）"_s;
    case Id::depDescBash:
      return u"Shell（系统自带）"_s;
    case Id::depActionAutoInstall:
      return u"一键自动装"_s;
    case Id::depActionTerminalInstall:
      return u"在终端自动装"_s;
    case Id::depActionOpenWebsite:
      return u"去官网下载"_s;
    // add
    case Id::addSheetTitle:
      return u"添加 Agent"_s;
    case Id::addSheetNotInstalled:
      return u"未安装"_s;
    case Id::addSheetInstalled:
      return u"已安装"_s;
    case Id::addSheetMoreComing:
      return u"更多 Agent 陆续接入中…"_s;
    case Id::addSheetInstallBtn:
      return u"安装"_s;
    case Id::addSheetInstalledLabel:
      return u"已安装"_s;
    // lock
    case Id::lockOnlineTitle:
      return u"锁定在线"_s;
    case Id::lockOnlineIndicator:
      return u"锁定在线"_s;
    case Id::lockOffConfirmTitle:
      return u"关闭锁定？"_s;
    case Id::lockOffConfirmBody:
      return u"后续退出将不再自动恢复。"_s;
    case Id::lockOffConfirmConfirm:
      return u"确认"_s;
    case Id::lockOffConfirmCancel:
      return u"取消"_s;
    // onboard
    case Id::onboardTitle:
      return u"Tollamere 已启动 👋"_s;
    case Id::onboardBody:
      return u"我常驻在桌面面板的系统托盘里。"_s;
    case Id::onboardWarnTitle:
      return u"如果找不到我，系统托盘可能被隐藏或挤满了"_s;
    case Id::onboardStep1:
      return u"先退出一些不用的托盘程序，腾出空间"_s;
    case Id::onboardStep2:
      return u"或者再次启动 Tollamere，它的窗口会来到最前面"_s;
    case Id::onboardBodyNoTray:
      return u"这个桌面没有系统托盘，所以我常驻在主窗口里。"_s;
    case Id::onboardWarnTitleNoTray:
      return u"如果关掉了窗口"_s;
    case Id::onboardStep1NoTray:
      return u"我仍在后台运行，继续守护你的 Agent"_s;
    case Id::onboardStep2NoTray:
      return u"再次启动 Tollamere，窗口就会回到最前面"_s;
    case Id::onboardOK:
      return u"我知道了"_s;
    // row
    case Id::rowOpenTooltipRunning:
      return fill(u"前置 {1}", key);
    case Id::rowOpenTooltipNotRunning:
      return fill(u"启动 {1}", key);
    case Id::rowOpenButton:
      return u"打开"_s;
    case Id::rowStateLaunch:
      return u"启动"_s;
    case Id::rowStateRunning:
      return u"运行中"_s;
    case Id::rowStateFaulted:
      return u"故障"_s;
    // alert
    case Id::alertTerminalOpenFailBody:
      return fill(u"试图打开终端运行 `{1}` 但失败了。\n\n可能原因：\n• 没有安装终端程序（x-terminal-emulator、gnome-terminal、konsole、xfce4-terminal 或 xterm）\n• 终端无法在当前显示上启动\n\n错误：{2}", key);
    case Id::alertSetupOpenFailTitle:
      return fill(u"无法打开终端配置 {1}", key);
    case Id::alertTerminalOpenFailTitle:
      return u"无法打开终端"_s;
    case Id::alertGotIt:
      return u"我知道了"_s;
    case Id::alertSetupOpenFailBody:
      return u"可能原因：\n• 没有安装终端程序（x-terminal-emulator、gnome-terminal、konsole、xfce4-terminal 或 xterm）\n• 终端无法在当前显示上启动\n\n请用包管理器安装其中一个（例如 `sudo apt install xterm`）后再试一次。"_s;
    case Id::alertSetupFailTitle:
      return fill(u"无法配置 {1}", key);
    case Id::alertConfigFolderOpenFailTitle:
      return fill(u"无法打开 {1} 的配置目录", key);
    case Id::alertLaunchFailTitle:
      return fill(u"无法启动 {1}", key);
    case Id::alertFailureReason:
      return fill(u"错误：{1}", key);
    case Id::alertOpenFailBody:
      return fill(u"{1}。可在下方选中复制，自行打开。", key);
    case Id::alertOpenerNotStarted:
      return fill(u"无法启动桌面打开程序 xdg-open（{1}）", key);
    case Id::alertOpenerFailed:
      return fill(u"此桌面上没有程序打开它（xdg-open 以状态 {1} 结束）", key);
    case Id::alertLaunchUnsupportedBody:
      return u"注册表没有给这个 Agent 配置启动方式。"_s;
    case Id::alertOpenLinkFailTitle:
      return u"无法打开链接"_s;
    case Id::alertOpenFolderFailTitle:
      return u"无法打开文件夹"_s;
    case Id::alertOpenNotAnAddress:
      return u"这不是有效的网址"_s;
    // help
    case Id::helpRowLaunch:
      return fill(u"启动 {1}", key);
    case Id::helpRefreshList:
      return u"刷新列表"_s;
    case Id::helpBackupVolumeReveal:
      return u"在文件管理器中显示备份卷"_s;
    case Id::helpRowFaulted:
      return u"点击查看故障详情"_s;
    case Id::helpRowDetail:
      return u"点击进入详情（打开 / 退出 / 重启等）"_s;
    // agent
    case Id::agentRestartConfirmTitle:
      return fill(u"重启 {1}？", key);
    case Id::agentKindApp:
      return u"App"_s;
    case Id::agentKindCli:
      return u"CLI"_s;
    case Id::agentKindPlugin:
      return u"插件"_s;
    // dash
    case Id::dashAddAgentTooltip:
      return u"添加 Agent"_s;
    case Id::dashSettingsTooltip:
      return u"设置"_s;
    case Id::dashEmptyHint:
      return u"点击右上角「+」安装 Agent"_s;
    case Id::dashBackupTooltip:
      return u"备份与恢复"_s;
    // feedback
    case Id::feedbackBodyTemplate:
      return fill(u"请描述你遇到的问题或想要的功能：\n\n\n---\n版本：{1}\n", key);
    case Id::feedbackHint:
      return u"Agent 没识别？发现 bug？或者想要新功能？"_s;
    case Id::feedbackButton:
      return u"发邮件反馈"_s;
    case Id::feedbackSubject:
      return u"Tollamere · 反馈"_s;
    // status
    case Id::statusRunning:
      return u"运行中"_s;
    case Id::statusStopped:
      return u"未运行"_s;
    case Id::statusFaulted:
      return u"有故障"_s;
    case Id::statusBarOpen:
      return u"打开 Tollamere"_s;
    case Id::statusBarQuit:
      return u"退出 Tollamere"_s;
    case Id::statusRunningUnreached:
      return u"Tollamere 已在运行，但没有应答，无法把它的窗口带到前面。"_s;
    // vault
    case Id::vaultPasswordPrompt:
      return u"请输入加密备份卷的密码"_s;
    case Id::vaultPasswordIntro:
      return u"输入一次后本机记住，以后备份自动跑。"_s;
    case Id::vaultPasswordConfirm:
      return u"确认"_s;
    case Id::vaultPasswordCancel:
      return u"取消"_s;
    // appearance
    case Id::appearanceSystem:
      return u"跟随系统"_s;
    case Id::appearanceLight:
      return u"浅色"_s;
    case Id::appearanceDark:
      return u"深色"_s;
    // hero
    case Id::heroSubMixed:
      return fill(key.integer(2) != 0 ? u"守护 {2} 个 · {1} 个运行中 · {3} 个锁定在线" : u"守护 {2} 个 · {1} 个运行中",
                  key);
    case Id::heroSubEmpty:
      return u"暂无 Agent"_s;
    case Id::heroTagline:
      return u"为 AI Agent 保驾护航"_s;
    // sheet
    case Id::sheetCancel:
      return u"取消"_s;
    case Id::sheetDone:
      return u"完成"_s;
    case Id::sheetDontClose:
      return u"请不要关闭窗口..."_s;
    // embedded
    case Id::embeddedCliTitle:
      return fill(u"内嵌 CLI：{1}", key);
    case Id::embeddedCliSubtitle:
      return fill(u"PID {1} · 无需单独管理", key);
    // legal
    case Id::legalPrivacyTitle:
      return u"隐私政策"_s;
    case Id::legalTermsTitle:
      return u"用户协议"_s;
    // setup
    case Id::setupHintOpenInFinder:
      return fill(u"在文件管理器中打开 ~/{1}", key);
    case Id::setupConfigDirFallback:
      return u"配置目录"_s;
    // about
    case Id::aboutTagline:
      return u"为 AI Agent 保驾护航"_s;
    // brand
    case Id::brandName:
      return u"Tollamere"_s;
    // empty
    case Id::empty:
      return {};
    // more
    case Id::moreProductsPlaceholder:
      return u"更多产品敬请期待"_s;
    // panel
    case Id::panelLiveStatus:
      return u"实时状态"_s;
    // resource
    case Id::resourceRunawayDetails:
      return fill(isCpu(key) ? u"{1} 长时间偏高：{2}%" : u"{1} 长时间偏高：{2} MB", key);
    // storage
    case Id::storageLocal:
      return u"本机备份"_s;
  }
  return QString();
}

QString text(AppLanguage language, const LocKey& key) { return language == AppLanguage::en ? en(key) : zh(key); }

}  // namespace tlr::LocTexts
