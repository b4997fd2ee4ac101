#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <variant>

namespace tlr {

// Every text key of the user interface, in groups by the first word of its
// name. PLAIN keys name a fixed text; VALUED keys carry values that their
// texts insert, and are built only through the typed factories of `LocKey`.
// The text table (LocTexts::text) switches over every key without a
// default label and gives each key one row with its English and Chinese
// texts side by side, so a key without a row fails the build
// (-Werror=switch), and so does a row without both texts.
#define TLR_LOC_IGNORE_KEY(name)

#define TLR_LOC_KEYS(PLAIN, VALUED) \
  /* restart */ \
  VALUED(restartHintCmd) \
  VALUED(restartConfirmGateway) \
  VALUED(restartHeader) \
  VALUED(restartFoundPids) \
  VALUED(restartPermDenied) \
  VALUED(restartSigtermFail) \
  VALUED(restartSurvivors) \
  VALUED(restartSigkillStillRunning) \
  VALUED(restartNewPidUp) \
  VALUED(restartFailedRecover) \
  VALUED(restartGracefulWillRun) \
  VALUED(restartGracefulVerify) \
  VALUED(restartGracefulFallback) \
  VALUED(restartCmdExitCode) \
  VALUED(restartCmdTimedOut) \
  VALUED(restartVerifyPassed) \
  VALUED(restartVerifyFailed) \
  VALUED(restartFallbackRun) \
  VALUED(restartFallbackExit) \
  VALUED(restartFallbackTimedOut) \
  VALUED(restartFallbackVerifyPassed) \
  VALUED(restartFallbackVerifyFailed) \
  VALUED(restartReasonGracefulExitNonZero) \
  VALUED(restartReasonTimedOut) \
  VALUED(restartVerifyExitMismatch) \
  VALUED(restartVerifyMissingString) \
  VALUED(restartVerifyFalseSuccess) \
  VALUED(restartVerifyPass) \
  VALUED(restartVerifyTimedOut) \
  PLAIN(restartBtnFaulted) \
  PLAIN(restartBtnGateway) \
  PLAIN(restartBtnAgent) \
  PLAIN(restartHintKill) \
  PLAIN(restartConfirmKill) \
  PLAIN(restartConfirmCancel) \
  PLAIN(restartConfirmConfirm) \
  PLAIN(restartDryRun) \
  PLAIN(restartNoGraceful) \
  PLAIN(restartNotRunning) \
  PLAIN(restartPermAccessible) \
  PLAIN(restartSimulate) \
  PLAIN(restartSendSigterm) \
  PLAIN(restartAllExitedGraceful) \
  PLAIN(restartAllKilled) \
  PLAIN(restartCallRecover) \
  PLAIN(restartNewPidVanished) \
  PLAIN(restartReasonDidntSurvive) \
  PLAIN(restartUnsupportedRecover) \
  PLAIN(restartReasonNoRecover) \
  PLAIN(restartReasonGracefulFailedVerify) \
  PLAIN(restartNoVerifyExit0) \
  /* usb */ \
  VALUED(usbAgentCountValue) \
  VALUED(usbStatusExportDone) \
  VALUED(usbStatusImportDone) \
  VALUED(usbExportProgressSize) \
  VALUED(usbExportProgressFiles) \
  VALUED(usbExportSpeed) \
  VALUED(usbExportEtaSeconds) \
  VALUED(usbExportEtaMinutes) \
  PLAIN(usbAvailableDrives) \
  PLAIN(usbNoDrives) \
  PLAIN(usbHasMigration) \
  PLAIN(usbPackageDetails) \
  PLAIN(usbPasswordPrompt) \
  PLAIN(usbPasswordHint) \
  PLAIN(usbHeaderExport) \
  PLAIN(usbHeaderImport) \
  PLAIN(usbIntroExport) \
  PLAIN(usbIntroImport) \
  PLAIN(usbRowSourceDevice) \
  PLAIN(usbRowOS) \
  PLAIN(usbRowBackupSize) \
  PLAIN(usbRowAgentCount) \
  PLAIN(usbActionDone) \
  PLAIN(usbActionExporting) \
  PLAIN(usbActionImporting) \
  PLAIN(usbActionExport) \
  PLAIN(usbActionImport) \
  PLAIN(usbPasswordFieldPlaceholder) \
  PLAIN(usbExportEtaCalculating) \
  PLAIN(usbActionCancel) \
  PLAIN(usbActionCancelling) \
  PLAIN(usbExportCancelled) \
  PLAIN(usbErrExport) \
  PLAIN(usbErrImport) \
  PLAIN(usbErrImportVolumeExists) \
  PLAIN(usbErrNoBackup) \
  PLAIN(usbErrNotWritable) \
  PLAIN(usbErrCancelled) \
  PLAIN(usbErrNoPackage) \
  PLAIN(usbErrManifest) \
  PLAIN(usbErrStillMounted) \
  PLAIN(usbErrFailed) \
  PLAIN(usbRefresh) \
  /* backup */ \
  VALUED(backupScanResult) \
  VALUED(backupAgentLocation) \
  VALUED(backupOccupiedFree) \
  VALUED(backupStatAgentCountValue) \
  PLAIN(backupBtnScan) \
  PLAIN(backupBtnScanning) \
  PLAIN(backupBtnBackup) \
  PLAIN(backupBtnNothingToBackup) \
  PLAIN(backupBtnInProgress) \
  PLAIN(backupStagePreparing) \
  PLAIN(backupStageCopying) \
  PLAIN(backupStageCompressing) \
  PLAIN(backupStageVerifying) \
  PLAIN(backupStageWriting) \
  PLAIN(backupSheetTitle) \
  PLAIN(backupNeverBackedUp) \
  PLAIN(backupVolumeTitle) \
  PLAIN(backupSetupVolume) \
  PLAIN(backupSetupHint) \
  PLAIN(backupExportUSB) \
  PLAIN(backupImportUSB) \
  PLAIN(backupRestoreFromBackup) \
  PLAIN(backupShowInFinder) \
  PLAIN(backupNeverYet) \
  PLAIN(backupLast) \
  PLAIN(backupStatTime) \
  PLAIN(backupStatAgentCount) \
  PLAIN(backupStatSize) \
  PLAIN(backupScanScanning) \
  PLAIN(backupNotSet) \
  PLAIN(backupErrBusy) \
  PLAIN(backupErrNothingToBackUp) \
  PLAIN(backupErrNoAgents) \
  PLAIN(backupErrScan) \
  PLAIN(backupErrPack) \
  PLAIN(backupErrWrite) \
  PLAIN(backupErrNotSetUp) \
  VALUED(backupErrOversize) \
  PLAIN(backupErrFailed) \
  PLAIN(backupErrCreateVolume) \
  PLAIN(backupErrUnlock) \
  PLAIN(backupErrWrongPassword) \
  PLAIN(backupErrNoPassword) \
  PLAIN(backupErrVolumeExists) \
  PLAIN(backupErrVolumeNotSetUp) \
  VALUED(backupErrToolMissing) \
  PLAIN(backupErrDetach) \
  VALUED(backupErrDetachToolMissing) \
  VALUED(backupExclusionsNote) \
  PLAIN(backupIncomplete) \
  VALUED(backupLeftOutNotRegular) \
  VALUED(backupLeftOutUnreadable) \
  VALUED(backupLeftOutTooDeep) \
  VALUED(backupLeftOutChanged) \
  /* doctor */ \
  VALUED(doctorHintCmd) \
  VALUED(doctorFoundIssues) \
  VALUED(doctorExitInfo) \
  VALUED(doctorDeeperHint) \
  VALUED(doctorHeaderTitle) \
  VALUED(doctorOutputExitCode) \
  VALUED(doctorOutputStopped) \
  VALUED(doctorErrUnknownFixKind) \
  VALUED(doctorErrCmdExit) \
  VALUED(doctorErrFileNotFound) \
  VALUED(doctorErrReadFile) \
  VALUED(doctorErrJSONParse) \
  VALUED(doctorErrWriteFile) \
  VALUED(doctorErrCmdTimedOut) \
  VALUED(doctorErrReloadTimedOut) \
  VALUED(doctorOkUpdated) \
  VALUED(doctorCheckExitStatus) \
  VALUED(doctorCheckTimedOut) \
  PLAIN(doctorNoResult) \
  PLAIN(doctorRediagnosing) \
  PLAIN(doctorMatched) \
  PLAIN(doctorFixing) \
  PLAIN(doctorFixed) \
  PLAIN(doctorNoIssues) \
  PLAIN(doctorCheckFailed) \
  PLAIN(doctorCheckNotRun) \
  PLAIN(doctorAllFixed) \
  PLAIN(doctorFullOutput) \
  PLAIN(doctorDeeperHintGeneric) \
  PLAIN(doctorRunningLabel) \
  PLAIN(doctorLabel) \
  PLAIN(doctorFixDisabledHelp) \
  PLAIN(doctorErrShellMissingCmd) \
  PLAIN(doctorErrCmdEmptyOutput) \
  PLAIN(doctorOkCmdSucceeded) \
  PLAIN(doctorErrPatchMissingFields) \
  PLAIN(doctorErrJSONNotObject) \
  /* first */ \
  VALUED(firstSetupStepLabel) \
  PLAIN(firstSetupTitle) \
  PLAIN(firstSetupStepChooseLocation) \
  PLAIN(firstSetupStepSetPassword) \
  PLAIN(firstSetupIntro) \
  PLAIN(firstSetupIntroDetail) \
  PLAIN(firstSetupLocationLabel) \
  PLAIN(firstSetupLocationHint) \
  PLAIN(firstSetupChangeLocation) \
  PLAIN(firstSetupNext) \
  PLAIN(firstSetupPasswordTitle) \
  PLAIN(firstSetupPasswordIntro) \
  PLAIN(firstSetupPasswordLabel) \
  PLAIN(firstSetupPasswordAgain) \
  PLAIN(firstSetupPasswordMismatch) \
  PLAIN(firstSetupPasswordTooLong) \
  PLAIN(firstSetupPrev) \
  PLAIN(firstSetupChooseLocationTitle) \
  PLAIN(firstSetupPasswordMinPlaceholder) \
  PLAIN(firstSetupPasswordAgainPlaceholder) \
  PLAIN(firstSetupCreatingLabel) \
  PLAIN(firstSetupCreateButton) \
  PLAIN(firstSetupPasswordWeakest) \
  PLAIN(firstSetupPasswordWeak) \
  PLAIN(firstSetupPasswordMedium) \
  PLAIN(firstSetupPasswordStrong) \
  /* restore */ \
  VALUED(restoreBackupTime) \
  VALUED(restoreFoundBackup) \
  VALUED(restoreCrossDeviceBody) \
  VALUED(restoreOneAgent) \
  PLAIN(restoreOneAgentButton) \
  VALUED(restoreConfirmOneBody) \
  PLAIN(restoreBtnInProgress) \
  PLAIN(restoreStageVerifying) \
  PLAIN(restoreStageExtracting) \
  PLAIN(restoreStageSecurityCheck) \
  PLAIN(restoreStageWriting) \
  PLAIN(restoreFromiCloud) \
  PLAIN(restoreCrossDevice) \
  PLAIN(restoreAllAtOnce) \
  PLAIN(restoreNoBackup) \
  PLAIN(restoreNoBackupHint) \
  PLAIN(restoreErrUnpack) \
  PLAIN(restoreErrUnsafePath) \
  VALUED(restoreErrUnknownAgent) \
  PLAIN(restoreErrCopy) \
  VALUED(restoreErrLinkInTheWay) \
  VALUED(restoreErrFolderInTheWay) \
  VALUED(restoreErrFileInTheWay) \
  VALUED(restoreErrNotWritable) \
  VALUED(restoreErrAgentNotInBackup) \
  PLAIN(restoreErrNoBackup) \
  PLAIN(restoreErrManifest) \
  PLAIN(restoreErrIntegrity) \
  VALUED(restoreErrDiskFull) \
  VALUED(restoreErrDiskFullNeeds) \
  VALUED(restoreErrDiskFullNeedsFree) \
  PLAIN(restoreErrFailed) \
  PLAIN(restoreDamagedNewer) \
  PLAIN(restoreDamagedOnly) \
  PLAIN(restoreCouldNotRead) \
  PLAIN(restoreEnterPasswordAgain) \
  PLAIN(restoreTryAgain) \
  PLAIN(restoreRestoredAll) \
  VALUED(restoreRestoredOne) \
  PLAIN(restoreConfirmAllTitle) \
  PLAIN(restoreConfirmAllBody) \
  PLAIN(restoreConfirmCancel) \
  PLAIN(restoreConfirmConfirm) \
  PLAIN(restoreConfirmAll) \
  VALUED(restoreStatSkillsUnit) \
  PLAIN(restoreStatMemoryLabel) \
  VALUED(restoreStatTasksUnit) \
  /* detail */ \
  VALUED(detailSetupHint) \
  VALUED(detailActionLaunchAgent) \
  VALUED(detailDoctorChecking) \
  VALUED(detailDoctorBannerHasIssuesTitle) \
  VALUED(detailDoctorBannerFailedSubtitle) \
  PLAIN(detailFieldStatus) \
  PLAIN(detailFieldRunning) \
  PLAIN(detailFieldMemory) \
  PLAIN(detailStatusGuarded) \
  PLAIN(detailStatusPaused) \
  PLAIN(detailMcpSupported) \
  PLAIN(detailMcpNot) \
  PLAIN(detailRecentEvents) \
  PLAIN(detailNoEvents) \
  PLAIN(detailUninstallButton) \
  PLAIN(detailUninstallLockHint) \
  PLAIN(detailSetupButton) \
  PLAIN(detailSetupOpenFolders) \
  PLAIN(detailActionOpen) \
  PLAIN(detailActionOpenDashboard) \
  PLAIN(detailActionOpenTui) \
  VALUED(detailActionOpenTuiAnotherHint) \
  PLAIN(detailActionStop) \
  PLAIN(detailDoctorBannerNoIssuesTitle) \
  PLAIN(detailDoctorBannerNoIssuesSubtitle) \
  PLAIN(detailDoctorBannerHasIssuesSubtitle) \
  /* install */ \
  VALUED(installSheetTitle) \
  VALUED(installSheetHowToOpenBody) \
  VALUED(installBootstrapLabel) \
  VALUED(installBootstrapAgentName) \
  VALUED(installStepAsIs) \
  VALUED(installStepPathAlreadySet) \
  VALUED(installStepPathAdded) \
  VALUED(installStepWriteFailed) \
  VALUED(installStepNothingChanged) \
  VALUED(installStepNotUtf8) \
  VALUED(installStepReadOnly) \
  VALUED(installStepChangedWhileWritten) \
  VALUED(installStepTimedOut) \
  VALUED(installStepNoOutput) \
  PLAIN(installSheetChecking) \
  PLAIN(installSheetMissing) \
  PLAIN(installSheetRunning) \
  PLAIN(installSheetSuccess) \
  PLAIN(installSheetFailed) \
  PLAIN(installSheetHowToOpenTitle) \
  PLAIN(installSheetTerminalOpened) \
  PLAIN(installSheetTerminalFailed) \
  PLAIN(installSheetClose) \
  PLAIN(installSheetMissingHint) \
  PLAIN(installSheetMissingFooter) \
  PLAIN(installSheetRecheck) \
  PLAIN(installOsascriptFailed) \
  PLAIN(installEchoBrewMissing) \
  PLAIN(installEchoNode) \
  PLAIN(installTerminalDone) \
  PLAIN(installTerminalFailed) \
  /* uninstall */ \
  VALUED(uninstallSheetTitle) \
  VALUED(uninstallSheetWithFailures) \
  VALUED(uninstallSheetButtonSize) \
  VALUED(uninstallSheetAgentRunning) \
  VALUED(uninstallStepStop) \
  VALUED(uninstallWarnBody) \
  VALUED(uninstallWarnMore) \
  VALUED(uninstallStepNotInstalled) \
  VALUED(uninstallStepSkippedPath) \
  VALUED(uninstallStepMountLeft) \
  PLAIN(uninstallSheetCommands) \
  PLAIN(uninstallSheetStandard) \
  PLAIN(uninstallSheetUserData) \
  PLAIN(uninstallSheetNothing) \
  PLAIN(uninstallSheetMissing) \
  PLAIN(uninstallRefusedNotAPath) \
  PLAIN(uninstallRefusedShared) \
  PLAIN(uninstallRefusedOutsideHome) \
  PLAIN(uninstallRefusedLeavesHome) \
  PLAIN(uninstallSheetRefused) \
  PLAIN(uninstallWarnByHand) \
  PLAIN(uninstallSheetRunning) \
  PLAIN(uninstallSheetSuccess) \
  PLAIN(uninstallSheetButton) \
  PLAIN(uninstallSheetStopAndUninstall) \
  PLAIN(uninstallWarnTitle) \
  PLAIN(uninstallExecutingHelp) \
  PLAIN(uninstallStepNotThere) \
  /* settings */ \
  PLAIN(settingsTitle) \
  PLAIN(settingsSectionAppearance) \
  PLAIN(settingsSectionLanguage) \
  PLAIN(settingsLanguageEnglish) \
  PLAIN(settingsLanguageChinese) \
  PLAIN(settingsSectionTutorial) \
  PLAIN(settingsTutorialHint) \
  PLAIN(settingsTutorialButton) \
  PLAIN(settingsSectionFeedback) \
  PLAIN(settingsSectionAbout) \
  PLAIN(settingsSectionMoreProducts) \
  PLAIN(settingsSectionSelfGuard) \
  PLAIN(settingsDockSection) \
  PLAIN(settingsDockToggle) \
  PLAIN(settingsDockWarnOn) \
  PLAIN(settingsDockWarnOff) \
  PLAIN(settingsDockWarnOnNoTray) \
  PLAIN(settingsDockWarnOffNoTray) \
  /* event */ \
  PLAIN(eventStarted) \
  PLAIN(eventExitedNormal) \
  PLAIN(eventExitedAbnormal) \
  PLAIN(eventRecovered) \
  PLAIN(eventThrottled) \
  PLAIN(eventRestarted) \
  PLAIN(eventKilledByOOM) \
  PLAIN(eventOomRecovered) \
  PLAIN(eventLockOnlineEnabled) \
  PLAIN(eventLockOnlineDisabled) \
  PLAIN(eventHangDetected) \
  PLAIN(eventZombieRecovered) \
  /* metric */ \
  PLAIN(metricRunning) \
  PLAIN(metricRunningSub) \
  PLAIN(metricLocked) \
  PLAIN(metricLockedSub) \
  PLAIN(metricFaulted) \
  PLAIN(metricFaultedSub) \
  PLAIN(metricFaultedSubOk) \
  PLAIN(metricTotal) \
  PLAIN(metricTotalSub) \
  /* self */ \
  PLAIN(selfGuardToggle) \
  PLAIN(selfGuardDevDisabled) \
  PLAIN(selfGuardFirstAlertTitle) \
  PLAIN(selfGuardFirstAlertBody) \
  PLAIN(selfGuardFirstAlertConfirm) \
  PLAIN(selfGuardFirstAlertCancel) \
  PLAIN(selfGuardEnableFailedTitle) \
  PLAIN(selfGuardEnableFailedBody) \
  PLAIN(selfGuardOpenLoginItems) \
  /* ev */ \
  VALUED(evDetailUserRestart) \
  VALUED(evDetailRestartStuck) \
  VALUED(evDetailRestartFailed) \
  VALUED(evDetailDoctorNoIssues) \
  VALUED(evDetailDoctorIssues) \
  VALUED(evDetailDoctorFailed) \
  VALUED(evDetailDoctorTimedOut) \
  VALUED(evDetailFixSucceeded) \
  VALUED(evDetailFixFailed) \
  VALUED(evDetailRelaunchDidNotLast) \
  VALUED(evDetailEndedAtStart) \
  VALUED(evDetailRelaunchFailed) \
  PLAIN(evDetailUserStop) \
  PLAIN(evDetailStopFailed) \
  PLAIN(evDetailUserLaunch) \
  PLAIN(evDetailSetupCompleted) \
  PLAIN(evDetailNoRecoveryStrategy) \
  PLAIN(evDetailRecoveryResumed) \
  PLAIN(evDetailRunawayFallback) \
  PLAIN(evDetailRestartFailedNoReason) \
  /* dep */ \
  PLAIN(depDescNpm) \
  PLAIN(depDescPipx) \
  PLAIN(depDescCurl) \
  PLAIN(depDescBash) \
  PLAIN(depActionAutoInstall) \
  PLAIN(depActionTerminalInstall) \
  PLAIN(depActionOpenWebsite) \
  /* add */ \
  PLAIN(addSheetTitle) \
  PLAIN(addSheetNotInstalled) \
  PLAIN(addSheetInstalled) \
  PLAIN(addSheetMoreComing) \
  PLAIN(addSheetInstallBtn) \
  PLAIN(addSheetInstalledLabel) \
  /* lock */ \
  PLAIN(lockOnlineTitle) \
  PLAIN(lockOnlineIndicator) \
  PLAIN(lockOffConfirmTitle) \
  PLAIN(lockOffConfirmBody) \
  PLAIN(lockOffConfirmConfirm) \
  PLAIN(lockOffConfirmCancel) \
  /* onboard */ \
  PLAIN(onboardTitle) \
  PLAIN(onboardBody) \
  PLAIN(onboardWarnTitle) \
  PLAIN(onboardStep1) \
  PLAIN(onboardStep2) \
  PLAIN(onboardBodyNoTray) \
  PLAIN(onboardWarnTitleNoTray) \
  PLAIN(onboardStep1NoTray) \
  PLAIN(onboardStep2NoTray) \
  PLAIN(onboardOK) \
  /* row */ \
  VALUED(rowOpenTooltipRunning) \
  VALUED(rowOpenTooltipNotRunning) \
  PLAIN(rowOpenButton) \
  PLAIN(rowStateLaunch) \
  PLAIN(rowStateRunning) \
  PLAIN(rowStateFaulted) \
  /* alert */ \
  VALUED(alertTerminalOpenFailBody) \
  VALUED(alertTerminalCommandEnded) \
  VALUED(alertSetupOpenFailTitle) \
  PLAIN(alertTerminalOpenFailTitle) \
  PLAIN(alertGotIt) \
  PLAIN(alertSetupOpenFailBody) \
  VALUED(alertSetupFailTitle) \
  VALUED(alertConfigFolderOpenFailTitle) \
  VALUED(alertLaunchFailTitle) \
  VALUED(alertFailureReason) \
  PLAIN(alertReasonNoApp) \
  VALUED(alertReasonAppNotFound) \
  VALUED(alertReasonAppNotStarted) \
  PLAIN(alertReasonNoCommand) \
  VALUED(alertReasonServiceNotStarted) \
  VALUED(alertReasonUnsafeId) \
  VALUED(alertReasonSetupUnsupported) \
  PLAIN(alertReasonNoConfigFolder) \
  VALUED(alertReasonStillRunning) \
  VALUED(alertOpenFailBody) \
  VALUED(alertOpenerNotStarted) \
  VALUED(alertOpenerFailed) \
  PLAIN(alertLaunchUnsupportedBody) \
  PLAIN(alertOpenLinkFailTitle) \
  PLAIN(alertOpenFolderFailTitle) \
  PLAIN(alertOpenNotAnAddress) \
  /* help */ \
  VALUED(helpRowLaunch) \
  PLAIN(helpRefreshList) \
  PLAIN(helpBackupVolumeReveal) \
  PLAIN(helpRowFaulted) \
  PLAIN(helpRowDetail) \
  /* agent */ \
  VALUED(agentRestartConfirmTitle) \
  PLAIN(agentKindApp) \
  PLAIN(agentKindCli) \
  PLAIN(agentKindPlugin) \
  /* dash */ \
  PLAIN(dashAddAgentTooltip) \
  PLAIN(dashSettingsTooltip) \
  PLAIN(dashEmptyHint) \
  PLAIN(dashBackupTooltip) \
  /* the desktop notification of an update */ \
  VALUED(updateNoticeTitle) \
  VALUED(updateNoticeForcedTitle) \
  VALUED(updateNoticeBody) \
  /* feedback */ \
  VALUED(feedbackBodyTemplate) \
  PLAIN(feedbackHint) \
  PLAIN(feedbackButton) \
  PLAIN(feedbackSubject) \
  /* status */ \
  PLAIN(statusRunning) \
  VALUED(statusRunningInstances) \
  PLAIN(statusStopped) \
  PLAIN(statusFaulted) \
  PLAIN(statusBarOpen) \
  PLAIN(statusBarQuit) \
  PLAIN(statusRunningUnreached) \
  /* vault */ \
  PLAIN(vaultPasswordPrompt) \
  PLAIN(vaultPasswordIntro) \
  PLAIN(vaultPasswordConfirm) \
  PLAIN(vaultPasswordCancel) \
  PLAIN(vaultUnlockForBackup) \
  PLAIN(vaultUnlockForRestore) \
  /* appearance */ \
  PLAIN(appearanceSystem) \
  PLAIN(appearanceLight) \
  PLAIN(appearanceDark) \
  /* hero */ \
  VALUED(heroSubMixed) \
  PLAIN(heroSubEmpty) \
  PLAIN(heroTagline) \
  /* sheet */ \
  PLAIN(sheetCancel) \
  PLAIN(sheetDone) \
  PLAIN(sheetDontClose) \
  PLAIN(sheetDetails) \
  /* embedded */ \
  VALUED(embeddedCliTitle) \
  VALUED(embeddedCliSubtitle) \
  /* legal */ \
  PLAIN(legalPrivacyTitle) \
  PLAIN(legalTermsTitle) \
  PLAIN(legalPrivacyText) \
  PLAIN(legalTermsText) \
  /* setup */ \
  VALUED(setupHintOpenInFinder) \
  PLAIN(setupConfigDirFallback) \
  /* about */ \
  PLAIN(aboutTagline) \
  /* brand */ \
  PLAIN(brandName) \
  /* empty */ \
  PLAIN(empty) \
  /* more */ \
  PLAIN(moreProductsPlaceholder) \
  /* panel */ \
  PLAIN(panelLiveStatus) \
  /* resource */ \
  VALUED(resourceRunawayDetails) \
  /* storage */ \
  PLAIN(storageLocal)


// A whole number inserted into a text as plain decimal (counts, seconds,
// minutes, percent, megabytes). Accepts integer types only: a floating-point
// or Boolean value does not compile.
struct LocInt {
  template <std::integral T>
    requires(!std::same_as<T, bool>)
  constexpr LocInt(T v) : value(static_cast<qint64>(v)) {}  // NOLINT(google-explicit-constructor)
  qint64 value;
};

// A 32-bit whole number (a process id, an exit status, an error number).
// Wider integer types do not compile.
struct LocInt32 {
  template <std::integral T>
    requires(!std::same_as<T, bool> && sizeof(T) <= sizeof(qint32))
  constexpr LocInt32(T v) : value(static_cast<qint32>(v)) {}  // NOLINT(google-explicit-constructor)
  qint32 value;
};

// A duration in seconds, inserted with one decimal place.
struct LocSeconds {
  template <std::floating_point T>
  constexpr LocSeconds(T v) : value(static_cast<double>(v)) {}  // NOLINT(google-explicit-constructor)
  double value;
};

// One text key, with the values its text inserts. Equal keys with equal
// values always give equal texts.
class LocKey {
 public:
#define TLR_LOC_ENUMERATOR(name) name,
  enum class Id : std::uint16_t { TLR_LOC_KEYS(TLR_LOC_ENUMERATOR, TLR_LOC_ENUMERATOR) };
#undef TLR_LOC_ENUMERATOR

#define TLR_LOC_ONE(name) +1
  static constexpr std::size_t kCount = 0 TLR_LOC_KEYS(TLR_LOC_ONE, TLR_LOC_ONE);
  static constexpr std::size_t kValuedCount = 0 TLR_LOC_KEYS(TLR_LOC_IGNORE_KEY, TLR_LOC_ONE);
#undef TLR_LOC_ONE

  // Every key, in declaration order.
  static const std::array<Id, kCount>& allIds();
  // The key's name as written in the source ("restartHeader").
  static const char* name(Id id);
  static bool carriesValues(Id id);

  // A value as the key carries it.
  using Value = std::variant<std::monostate, QString, qint64, double>;

  Id id() const { return id_; }
  // The value at `index` (0-based) of the expected kind; an empty text, 0 or
  // 0.0 when the key has no such value.
  QString text(std::size_t index) const;
  qint64 integer(std::size_t index) const;
  // Every value written as the texts insert it: texts unchanged, integers in
  // plain decimal, durations with one decimal place.
  std::array<QString, 3> formattedValues() const;
  // The values as the key carries them (std::monostate where none).
  const std::array<Value, 3>& values() const { return values_; }
  // A key read back from its name and values as they were stored (an
  // event's): nothing when the name is no key's, or when values are given
  // to a key without any or none to a key that carries some.
  static std::optional<LocKey> fromStored(const QString& name, std::array<Value, 3> values);

  friend bool operator==(const LocKey&, const LocKey&) = default;

  // Keys without values.
#define TLR_LOC_PLAIN_FACTORY(name) \
  static LocKey name() { return LocKey(Id::name); }
  TLR_LOC_KEYS(TLR_LOC_PLAIN_FACTORY, TLR_LOC_IGNORE_KEY)
#undef TLR_LOC_PLAIN_FACTORY

  // The key for `id` when it carries no values; `empty` otherwise.
  static LocKey plain(Id id);

  // Keys with values.
  static LocKey heroSubMixed(LocInt running, LocInt total, LocInt locked);
  static LocKey rowOpenTooltipRunning(QString name);
  static LocKey rowOpenTooltipNotRunning(QString name);
  static LocKey detailSetupHint(QString command);
  static LocKey installSheetTitle(QString name);
  static LocKey installSheetHowToOpenBody(QString exec, QString startFile);
  static LocKey uninstallSheetTitle(QString name);
  static LocKey uninstallSheetWithFailures(LocInt failures);
  static LocKey uninstallSheetButtonSize(QString size);
  static LocKey uninstallSheetAgentRunning(QString name, LocInt processes);
  static LocKey uninstallStepStop(QString name);
  static LocKey detailActionLaunchAgent(QString name);
  static LocKey detailActionOpenTuiAnotherHint(QString name, LocInt running);
  static LocKey statusRunningInstances(LocInt count);
  static LocKey detailDoctorChecking(QString name);
  static LocKey detailDoctorBannerHasIssuesTitle(LocInt issues);
  static LocKey detailDoctorBannerFailedSubtitle(QString reason);
  static LocKey uninstallWarnBody(LocInt failures);
  static LocKey uninstallWarnMore(LocInt more);
  static LocKey embeddedCliTitle(QString name);
  static LocKey embeddedCliSubtitle(LocInt pid);
  static LocKey restartHintCmd(QString command);
  static LocKey restartConfirmGateway(QString command);
  static LocKey doctorHintCmd(QString command);
  static LocKey backupScanResult(QString summary);
  static LocKey backupAgentLocation(LocInt agents, LocInt locations);
  static LocKey backupOccupiedFree(QString used, QString hostFree);
  static LocKey restoreBackupTime(QString time, QString device);
  static LocKey restoreFoundBackup(QString storage);
  static LocKey restoreCrossDeviceBody(QString device);
  static LocKey restoreOneAgent(QString name);
  static LocKey doctorFoundIssues(LocInt issues);
  static LocKey doctorExitInfo(LocInt exitCode, LocSeconds elapsed);
  static LocKey doctorDeeperHint(QString command);
  static LocKey firstSetupStepLabel(LocInt step, QString title);
  static LocKey restoreConfirmOneBody(QString name);
  static LocKey alertTerminalOpenFailBody(QString command, QString error);
  static LocKey alertTerminalCommandEnded(QString status);
  static LocKey alertSetupOpenFailTitle(QString name);
  static LocKey alertSetupFailTitle(QString name);
  static LocKey alertConfigFolderOpenFailTitle(QString name);
  static LocKey alertLaunchFailTitle(QString name);
  static LocKey alertFailureReason(QString error);
  static LocKey alertReasonAppNotFound(QString appId);
  static LocKey alertReasonAppNotStarted(QString error);
  static LocKey alertReasonServiceNotStarted(QString error);
  static LocKey alertReasonUnsafeId(QString id);
  static LocKey alertReasonSetupUnsupported(QString name);
  static LocKey alertReasonStillRunning(LocInt count, QString pids);
  static LocKey alertOpenFailBody(QString reason);
  static LocKey alertOpenerNotStarted(QString error);
  static LocKey alertOpenerFailed(LocInt32 status);
  static LocKey helpRowLaunch(QString name);
  static LocKey usbAgentCountValue(LocInt count);
  static LocKey usbStatusExportDone(QString path);
  static LocKey usbStatusImportDone(QString path);
  static LocKey usbExportProgressSize(QString done, QString total);
  static LocKey usbExportProgressFiles(LocInt done, LocInt total);
  static LocKey usbExportSpeed(QString megabytesPerSecond);
  static LocKey usbExportEtaSeconds(LocInt seconds);
  static LocKey usbExportEtaMinutes(LocInt minutes);
  static LocKey backupStatAgentCountValue(LocInt count);
  static LocKey restoreErrLinkInTheWay(QString path);
  static LocKey restoreErrFolderInTheWay(QString path);
  static LocKey restoreErrFileInTheWay(QString path);
  static LocKey restoreErrNotWritable(QString places);
  // A snapshot's counts as the restore list shows them, the unit said with
  // its count ("1 skill", "2 skills").
  static LocKey restoreStatSkillsUnit(LocInt count);
  static LocKey restoreStatTasksUnit(LocInt count);
  static LocKey backupErrOversize(LocInt megabytes);
  static LocKey backupErrToolMissing(QString tool, QString package);
  static LocKey backupErrDetachToolMissing(QString tool, QString package);
  static LocKey backupExclusionsNote(QString patterns);
  // What a backup left out, one kind of item each: how many, and the first
  // paths as one text (a folder too deep also says the deepest level kept).
  static LocKey backupLeftOutNotRegular(LocInt count, QString paths);
  static LocKey backupLeftOutUnreadable(LocInt count, QString paths);
  static LocKey backupLeftOutTooDeep(LocInt count, LocInt levels, QString paths);
  static LocKey backupLeftOutChanged(LocInt count, QString paths);
  static LocKey restoreErrUnknownAgent(QString agent);
  static LocKey restoreErrAgentNotInBackup(QString agent);
  static LocKey restoreErrDiskFull(QString folder);
  static LocKey restoreErrDiskFullNeeds(QString needed, QString folder);
  static LocKey restoreErrDiskFullNeedsFree(QString needed, QString folder, QString free);
  static LocKey restoreRestoredOne(QString agent);
  static LocKey evDetailUserRestart(LocInt32 newPid);
  static LocKey evDetailRestartStuck(QString pids);
  static LocKey evDetailRestartFailed(QString reason);
  static LocKey evDetailDoctorNoIssues(LocInt32 exitCode);
  static LocKey evDetailDoctorIssues(LocInt32 exitCode, LocInt issues);
  static LocKey evDetailDoctorFailed(LocInt32 exitCode);
  static LocKey evDetailDoctorTimedOut(LocInt seconds);
  static LocKey evDetailFixSucceeded(QString issueId);
  static LocKey evDetailFixFailed(QString issueId);
  static LocKey evDetailRelaunchDidNotLast(LocInt seconds);
  static LocKey evDetailEndedAtStart(LocInt status);
  static LocKey evDetailRelaunchFailed(QString reason);
  static LocKey agentRestartConfirmTitle(QString name);
  static LocKey setupHintOpenInFinder(QString folder);
  static LocKey doctorHeaderTitle(QString name);
  static LocKey resourceRunawayDetails(QString resource, LocInt value);
  static LocKey updateNoticeTitle(QString version);
  static LocKey updateNoticeForcedTitle(QString version);
  static LocKey updateNoticeBody(QString address);
  static LocKey feedbackBodyTemplate(QString version);
  static LocKey installBootstrapLabel(QString command);
  static LocKey installBootstrapAgentName(QString command);
  // A step's text as a program or the system gave it (a command line, an
  // error number's message, what a program printed), the same in both
  // languages.
  static LocKey installStepAsIs(QString text);
  static LocKey installStepPathAlreadySet(QString file);
  static LocKey installStepPathAdded(QString file);
  static LocKey installStepWriteFailed(QString file);
  static LocKey installStepNothingChanged(QString reason);
  static LocKey installStepNotUtf8(QString path);
  static LocKey installStepReadOnly(QString path);
  static LocKey installStepChangedWhileWritten(QString path);
  static LocKey installStepTimedOut(LocInt minutes);
  static LocKey installStepNoOutput(QString ending);
  static LocKey uninstallStepNotInstalled(QString program);
  static LocKey uninstallStepSkippedPath(QString path);
  static LocKey uninstallStepMountLeft(QString folders);
  static LocKey doctorOutputExitCode(LocInt32 exitCode, LocSeconds elapsed);
  static LocKey doctorOutputStopped(LocInt seconds);
  static LocKey doctorErrUnknownFixKind(QString kind);
  static LocKey doctorErrCmdExit(LocInt32 exitCode, QString output);
  static LocKey doctorErrFileNotFound(QString path);
  static LocKey doctorErrReadFile(QString error);
  static LocKey doctorErrJSONParse(QString error);
  static LocKey doctorErrWriteFile(QString error);
  static LocKey doctorErrCmdTimedOut(LocInt seconds);
  static LocKey doctorErrReloadTimedOut(LocInt seconds);
  static LocKey doctorOkUpdated(QString file, QString changes);
  static LocKey doctorCheckExitStatus(LocInt32 exitCode);
  static LocKey doctorCheckTimedOut(LocInt seconds);
  static LocKey restartHeader(QString name);
  static LocKey restartFoundPids(LocInt count, QString pids);
  static LocKey restartPermDenied(LocInt32 error);
  static LocKey restartSigtermFail(LocInt32 pid, LocInt32 error);
  static LocKey restartSurvivors(LocInt count, QString pids);
  static LocKey restartSigkillStillRunning(LocInt count);
  static LocKey restartNewPidUp(LocInt32 pid);
  static LocKey restartFailedRecover(QString reason);
  static LocKey restartGracefulWillRun(QString command);
  static LocKey restartGracefulVerify(QString command);
  static LocKey restartGracefulFallback(QString command);
  static LocKey restartCmdExitCode(LocInt32 exitCode);
  static LocKey restartCmdTimedOut(LocInt seconds);
  static LocKey restartVerifyPassed(QString why);
  static LocKey restartVerifyFailed(QString why);
  static LocKey restartFallbackRun(QString command);
  static LocKey restartFallbackExit(LocInt32 exitCode);
  static LocKey restartFallbackTimedOut(LocInt seconds);
  static LocKey restartFallbackVerifyPassed(QString why);
  static LocKey restartFallbackVerifyFailed(QString why);
  static LocKey restartReasonGracefulExitNonZero(LocInt32 exitCode);
  static LocKey restartReasonTimedOut(LocInt seconds);
  static LocKey restartVerifyExitMismatch(LocInt32 exitCode, LocInt32 expected);
  static LocKey restartVerifyMissingString(QString text);
  static LocKey restartVerifyFalseSuccess(QString text);
  static LocKey restartVerifyPass(LocInt32 exitCode);
  static LocKey restartVerifyTimedOut(LocInt seconds);

 private:
  explicit LocKey(Id id, Value first = {}, Value second = {}, Value third = {})
      : id_(id), values_{std::move(first), std::move(second), std::move(third)} {}

  Id id_;
  std::array<Value, 3> values_;
};

static_assert(LocKey::kCount == 530, "the interface has 530 text keys");
static_assert(LocKey::kValuedCount == 157, "157 text keys carry values");

}  // namespace tlr
