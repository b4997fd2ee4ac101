#include "core/texts/LocTexts.h"

#include "core/texts/TextFill.h"

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

QString text(AppLanguage language, const LocKey& key) {
  const bool english = language == AppLanguage::en;
  // t(English, Chinese): the row's text in `language`.
  const auto t = [english](QStringView inEnglish, QStringView inChinese) { return english ? inEnglish : inChinese; };
  // counted(English for one, English for any other count, Chinese): the
  // row's text filled, by the count that is the key's first value.
  const auto counted = [&](QStringView one, QStringView other, QStringView inChinese) {
    return fill(english ? (key.integer(0) == 1 ? one : other) : inChinese, key);
  };
  switch (key.id()) {
    // restart
    case Id::restartHintCmd:
      return fill(t(u"Will run: `{1}`", u"将运行：`{1}`"), key);
    case Id::restartConfirmGateway:
      return fill(t(u"Will run `{1}`. Channels briefly disconnect and auto-reconnect.",
                    u"将运行 `{1}`，channel 会短暂断开自动重连。"), key);
    case Id::restartHeader:
      return fill(t(u"=== Restart {1} ===", u"=== 重启 {1} ==="), key);
    case Id::restartFoundPids:
      return fill(t(u"· Found {1} pid(s): {2}", u"· 找到 {1} 个 pid：{2}"), key);
    case Id::restartPermDenied:
      return fill(t(u"denied(errno={1})", u"不可访问(errno={1})"), key);
    case Id::restartSigtermFail:
      return fill(t(u"  - pid {1} SIGTERM failed errno={2}", u"  - pid {1} SIGTERM 失败 errno={2}"), key);
    case Id::restartSurvivors:
      return fill(t(u"· Still {1} survivor(s) {2} → SIGKILL", u"· 仍有 {1} 个未退 {2} → SIGKILL"), key);
    case Id::restartSigkillStillRunning:
      return fill(t(u"· After SIGKILL still {1} running — abnormal, aborting",
                    u"· SIGKILL 后仍有 {1} 个进程在 —— 异常状况，终止重启"), key);
    case Id::restartNewPidUp:
      return fill(t(u"· ✓ New instance pid={1} is up and running", u"· ✓ 新实例 pid={1} 已启动并在跑"), key);
    case Id::restartFailedRecover:
      return fill(t(u"· ✗ recover failed: {1}", u"· ✗ recover 失败：{1}"), key);
    case Id::restartGracefulWillRun:
      return fill(t(u"· Graceful: will run {1}", u"· 优雅档：将运行 {1}"), key);
    case Id::restartGracefulVerify:
      return fill(t(u"· Then verify with: {1}", u"· 然后验证：{1}"), key);
    case Id::restartGracefulFallback:
      return fill(t(u"· On verify fail → fallback: {1}", u"· 验证失败 → 兜底：{1}"), key);
    case Id::restartCmdExitCode:
      return fill(t(u"· Command exit code {1}", u"· 命令退出码 {1}"), key);
    case Id::restartCmdTimedOut:
      return fill(t(u"· Command did not finish within {1} s, stopped", u"· 命令 {1} 秒内未完成，已中止"), key);
    case Id::restartVerifyPassed:
      return fill(t(u"· ✓ verify passed ({1})", u"· ✓ verify 通过（{1}）"), key);
    case Id::restartVerifyFailed:
      return fill(t(u"· verify failed: {1}", u"· verify 失败：{1}"), key);
    case Id::restartFallbackRun:
      return fill(t(u"· Fallback: {1}", u"· 兜底：{1}"), key);
    case Id::restartFallbackExit:
      return fill(t(u"· Fallback exit code {1}", u"· 兜底退出码 {1}"), key);
    case Id::restartFallbackTimedOut:
      return fill(t(u"· Fallback did not finish within {1} s, stopped", u"· 兜底 {1} 秒内未完成，已中止"), key);
    case Id::restartFallbackVerifyPassed:
      return fill(t(u"· ✓ verify passed after fallback ({1})", u"· ✓ 兜底后 verify 通过（{1}）"), key);
    case Id::restartFallbackVerifyFailed:
      return fill(t(u"· Fallback verify still failing: {1}", u"· 兜底 verify 仍失败：{1}"), key);
    case Id::restartReasonGracefulExitNonZero:
      return fill(t(u"Graceful command exited {1}", u"优雅命令 exit {1}"), key);
    case Id::restartReasonTimedOut:
      return fill(t(u"Restart command did not finish within {1} s", u"重启命令 {1} 秒内未完成"), key);
    case Id::restartVerifyExitMismatch:
      return fill(t(u"exit={1}, expected {2}", u"exit={1}，期望 {2}"), key);
    case Id::restartVerifyMissingString:
      return fill(t(u"exit OK but output missing \"{1}\"", u"exit 通过但输出不含 \"{1}\""), key);
    case Id::restartVerifyFalseSuccess:
      return fill(t(u"exit OK but output contains \"{1}\" (false positive)", u"exit 通过但输出含 \"{1}\"（假成功）"), key);
    case Id::restartVerifyPass:
      return fill(t(u"exit={1} + string check passed", u"exit={1} + 字符串检查通过"), key);
    case Id::restartVerifyTimedOut:
      return fill(t(u"did not finish within {1} s", u"{1} 秒内未完成"), key);
    case Id::restartBtnFaulted:
      return t(u"Restart (issue detected)", u"重启（检测到异常）").toString();
    case Id::restartBtnGateway:
      return t(u"Restart Gateway", u"重启 Gateway").toString();
    case Id::restartBtnAgent:
      return t(u"Restart Agent", u"重启 Agent").toString();
    case Id::restartHintKill:
      return t(u"Will stop and restart the process", u"将停止并重新启动该进程").toString();
    case Id::restartConfirmKill:
      return t(u"Active sessions may be lost.", u"可能丢失正在处理的会话。").toString();
    case Id::restartConfirmCancel:
      return t(u"Cancel", u"取消").toString();
    case Id::restartConfirmConfirm:
      return t(u"Restart", u"重启").toString();
    case Id::restartDryRun:
      return t(u"[DRY RUN — not executed]", u"[DRY RUN —— 不真执行]").toString();
    case Id::restartNoGraceful:
      return t(u"· This agent has no graceful restart command, using SIGTERM brute force",
               u"· 该 agent 未配置优雅重启命令，走 SIGTERM 暴力档").toString();
    case Id::restartNotRunning:
      return t(u"· Agent not running", u"· agent 没在跑").toString();
    case Id::restartPermAccessible:
      return t(u"accessible", u"可访问").toString();
    case Id::restartSimulate:
      return t(u"· Simulating: would send SIGTERM → wait 5s → SIGKILL if alive → call recover.recover",
               u"· 模拟：会发 SIGTERM → 等 5s → 没退就 SIGKILL → 调 recover.recover").toString();
    case Id::restartSendSigterm:
      return t(u"· Sending SIGTERM…", u"· 发 SIGTERM…").toString();
    case Id::restartAllExitedGraceful:
      return t(u"· All exited (graceful)", u"· 全部已退（优雅）").toString();
    case Id::restartAllKilled:
      return t(u"· All exited (force-killed)", u"· 全部已退（强杀）").toString();
    case Id::restartCallRecover:
      return t(u"· Calling recover.recover to spawn new instance…", u"· 调 recover.recover 启动新实例…").toString();
    case Id::restartNewPidVanished:
      return t(u"· ✗ recover returned launched but scan can't find it — likely crashed",
               u"· ✗ recover 返回 launched 但 scan 看不到 —— 可能闪退").toString();
    case Id::restartReasonDidntSurvive:
      return t(u"New instance didn't survive 2 seconds", u"新实例没活过 2 秒").toString();
    case Id::restartUnsupportedRecover:
      return t(u"· ✗ recover does not support this agent", u"· ✗ recover 不支持该 agent").toString();
    case Id::restartReasonNoRecover:
      return t(u"agent has no recover strategy", u"agent 没配 recover 策略").toString();
    case Id::restartReasonGracefulFailedVerify:
      return t(u"Graceful command ran but verify failed", u"优雅命令跑了但 verify 失败").toString();
    case Id::restartNoVerifyExit0:
      return t(u"· (No verify configured, exit=0 means success)", u"· （未配 verify，按 exit=0 判定成功）").toString();
    // usb
    case Id::usbAgentCountValue:
      return fill(t(u"{1}", u"{1} 个"), key);
    case Id::usbStatusExportDone:
      return fill(t(u"✓ Written to {1}\n\nOn the new computer: plug in the USB → open Tollamere → \"Import from USB\"",
                    u"✓ 已写入 {1}\n\n到新机插上 U 盘 → 打开 Tollamere → 「从 U 盘导入」即可恢复"), key);
    case Id::usbStatusImportDone:
      return fill(t(u"✓ Imported the encrypted backup image into {1}\n\nGo to \"Backup & Restore → Restore from backup\" to finish recovery",
                    u"✓ 已将加密备份卷导入 {1}\n\n请到「备份与恢复 → 从备份恢复」走标准恢复流程"), key);
    case Id::usbExportProgressSize:
      return fill(t(u"{1} / {2}", u"{1} / {2}"), key);
    case Id::usbExportProgressFiles:
      if (english) return fill(key.integer(1) == 1 ? u"{1} / {2} file" : u"{1} / {2} files", key);
      return fill(u"{1} / {2} 个文件", key);
    case Id::usbExportSpeed:
      return fill(t(u"{1} MB/s", u"{1} MB/s"), key);
    case Id::usbExportEtaSeconds:
      return fill(t(u"{1}s left", u"剩 {1} 秒"), key);
    case Id::usbExportEtaMinutes:
      return fill(t(u"{1}m left", u"剩 {1} 分钟"), key);
    case Id::usbAvailableDrives:
      return t(u"Available drives", u"可用的存储设备").toString();
    case Id::usbNoDrives:
      return t(u"No USB/external drive detected. Plug one in and click refresh.",
               u"还没检测到 U 盘 / 移动硬盘。请插入后点刷新。").toString();
    case Id::usbHasMigration:
      return t(u"Migration package found", u"检测到迁移包").toString();
    case Id::usbPackageDetails:
      return t(u"Package details", u"迁移包详情").toString();
    case Id::usbPasswordPrompt:
      return t(u"Enter the password of the encrypted backup image", u"请输入加密备份卷的密码").toString();
    case Id::usbPasswordHint:
      return t(u"The password you set when you created the backup image on the old computer",
               u"即在旧电脑上创建备份卷时设置的密码").toString();
    case Id::usbHeaderExport:
      return t(u"Export to USB", u"导出到 U 盘").toString();
    case Id::usbHeaderImport:
      return t(u"Import from USB", u"从 U 盘导入").toString();
    case Id::usbIntroExport:
      return t(u"Copy the encrypted backup image and an install list to a USB drive, then import them on the new computer.",
               u"把加密备份卷和安装清单拷到 U 盘，到新电脑上导入即可。").toString();
    case Id::usbIntroImport:
      return t(u"Plug in a USB drive that holds a Tollamere migration package to bring your backup to this computer.",
               u"插入装有 Tollamere 迁移包的 U 盘，把备份带到这台电脑。").toString();
    case Id::usbRowSourceDevice:
      return t(u"Source device", u"来源设备").toString();
    case Id::usbRowOS:
      return t(u"OS version", u"系统版本").toString();
    case Id::usbRowBackupSize:
      return t(u"Backup size", u"备份大小").toString();
    case Id::usbRowAgentCount:
      return t(u"Agents", u"Agent 数量").toString();
    case Id::usbActionDone:
      return t(u"Done", u"完成").toString();
    case Id::usbActionExporting:
      return t(u"Exporting…", u"正在导出…").toString();
    case Id::usbActionImporting:
      return t(u"Importing…", u"正在导入…").toString();
    case Id::usbActionExport:
      return t(u"Export", u"开始导出").toString();
    case Id::usbActionImport:
      return t(u"Import", u"开始导入").toString();
    case Id::usbPasswordFieldPlaceholder:
      return t(u"Backup image password", u"备份卷密码").toString();
    case Id::usbExportEtaCalculating:
      return t(u"Calculating time left…", u"正在估算剩余时间…").toString();
    case Id::usbActionCancel:
      return t(u"Cancel", u"取消").toString();
    case Id::usbActionCancelling:
      return t(u"Cancelling…", u"正在取消…").toString();
    case Id::usbExportCancelled:
      return t(u"Export cancelled", u"已取消导出").toString();
    case Id::usbErrExport:
      return t(u"The export failed.",
               u"导出失败").toString();
    case Id::usbErrImport:
      return t(u"The import failed.",
               u"导入失败").toString();
    case Id::usbErrImportVolumeExists:
      return t(u"The import failed: this computer already has a backup image. Back it up or move it away first.",
               u"导入失败：这台电脑上已有备份卷，请先备份或移走它").toString();
    case Id::usbErrNoBackup:
      return t(u"There is no backup yet. Back up once in the backup panel first.",
               u"还没有任何备份，请先在备份面板做一次备份").toString();
    case Id::usbErrNotWritable:
      return t(u"The drive cannot be written. Check its lock switch and its free space.",
               u"U 盘不可写，请检查锁定开关或剩余空间").toString();
    case Id::usbErrCancelled:
      return t(u"Cancelled.",
               u"已取消").toString();
    case Id::usbErrNoPackage:
      return t(u"No Tollamere migration package on this drive.",
               u"U 盘上没找到 Tollamere 迁移包").toString();
    case Id::usbErrManifest:
      return t(u"The migration package's manifest is damaged.",
               u"迁移包元数据损坏").toString();
    case Id::usbErrStillMounted:
      return t(u"The encrypted backup image could not be detached, so nothing was exported.",
               u"加密备份卷无法卸载，没有导出").toString();
    case Id::usbErrFailed:
      return t(u"The operation failed.",
               u"操作失败").toString();
    case Id::usbRefresh:
      return t(u"Refresh",
               u"刷新").toString();
    // backup
    case Id::backupScanResult:
      return fill(t(u"Scanned: {1}", u"本次扫描：{1}"), key);
    case Id::backupAgentLocation:
      if (english)
        return fill(key.integer(0) == 1
                        ? (key.integer(1) == 1 ? u"{1} agent · {2} location" : u"{1} agent · {2} locations")
                        : (key.integer(1) == 1 ? u"{1} agents · {2} location" : u"{1} agents · {2} locations"), key);
      return fill(u"{1} 个 Agent · {2} 个位置", key);
    case Id::backupOccupiedFree:
      return fill(t(u"Used {1}   Host free {2}", u"已占 {1}   宿主磁盘剩余 {2}"), key);
    case Id::backupStatAgentCountValue:
      return fill(t(u"{1}", u"{1} 个"), key);
    case Id::backupBtnScan:
      return t(u"Scan", u"扫描").toString();
    case Id::backupBtnScanning:
      return t(u"Scanning…", u"扫描中…").toString();
    case Id::backupBtnBackup:
      return t(u"Back up now", u"立即备份").toString();
    case Id::backupBtnNothingToBackup:
      return t(u"Nothing to back up", u"没有可备份的内容").toString();
    case Id::backupBtnInProgress:
      return t(u"Backing up…", u"正在备份…").toString();
    case Id::backupStagePreparing:
      return t(u"Preparing…", u"准备中…").toString();
    case Id::backupStageCopying:
      return t(u"Copying files…", u"正在复制文件…").toString();
    case Id::backupStageCompressing:
      return t(u"Compressing…", u"正在压缩…").toString();
    case Id::backupStageVerifying:
      return t(u"Verifying integrity…", u"正在校验完整性…").toString();
    case Id::backupStageWriting:
      return t(u"Writing to encrypted backup image…", u"正在写入加密备份卷…").toString();
    case Id::backupSheetTitle:
      return t(u"Backup & Restore", u"备份与恢复").toString();
    case Id::backupNeverBackedUp:
      return t(u"Not backed up yet", u"还没有备份过").toString();
    case Id::backupVolumeTitle:
      return t(u"Encrypted backup image", u"加密备份卷").toString();
    case Id::backupSetupVolume:
      return t(u"Set up encrypted image", u"设置加密卷").toString();
    case Id::backupSetupHint:
      return t(u"Set up an encrypted backup image first. Your data stays on this computer.",
               u"请先设置加密备份卷，数据只保存在这台电脑上。").toString();
    case Id::backupExportUSB:
      return t(u"Export to USB", u"导出到 U 盘").toString();
    case Id::backupImportUSB:
      return t(u"Import from USB", u"从 U 盘导入").toString();
    case Id::backupRestoreFromBackup:
      return t(u"Restore from backup", u"从备份恢复").toString();
    case Id::backupShowInFinder:
      return t(u"Show in Files", u"在文件管理器中显示").toString();
    case Id::backupNeverYet:
      return t(u"Never", u"从未备份").toString();
    case Id::backupLast:
      return t(u"Last backup", u"上次备份").toString();
    case Id::backupStatTime:
      return t(u"Time", u"时间").toString();
    case Id::backupStatAgentCount:
      return t(u"Agents", u"Agent 数").toString();
    case Id::backupStatSize:
      return t(u"Size", u"大小").toString();
    case Id::backupScanScanning:
      return t(u"Scanning agent data…", u"正在扫描 Agent 数据…").toString();
    case Id::backupNotSet:
      return t(u"Not set up", u"未设置").toString();
    case Id::backupErrBusy:
      return t(u"A backup is already running.",
               u"已有备份正在进行中").toString();
    case Id::backupErrNothingToBackUp:
      return t(u"None of the agents has anything to back up.",
               u"所有 Agent 都没有可备份的内容").toString();
    case Id::backupErrNoAgents:
      return t(u"No agent is installed: there is nothing to back up.",
               u"没有已安装的 Agent，没什么可备份").toString();
    case Id::backupErrScan:
      return t(u"Could not scan the agents' data.",
               u"扫描失败").toString();
    case Id::backupErrPack:
      return t(u"Could not pack the backup archive.",
               u"打包失败").toString();
    case Id::backupErrWrite:
      return t(u"Could not write the backup.",
               u"写入失败").toString();
    case Id::backupErrNotSetUp:
      return t(u"The encrypted backup image is not set up yet. Set it up in Backup & Restore first.",
               u"加密备份卷未初始化。请到「备份与恢复」面板先设置加密卷。").toString();
    case Id::backupErrOversize:
      return fill(t(u"The backup is too large ({1} MB > 500 MB). Look for unusually large files.",
                    u"备份过大（{1} MB > 500 MB），请检查是否有异常大文件"), key);
    case Id::backupErrFailed:
      return t(u"The backup failed.",
               u"备份失败").toString();
    case Id::backupErrCreateVolume:
      return t(u"Could not create the encrypted backup image.",
               u"创建加密卷失败").toString();
    case Id::backupErrUnlock:
      return t(u"Could not unlock the encrypted backup image.",
               u"无法解锁加密备份卷").toString();
    case Id::backupErrWrongPassword:
      return t(u"The password is wrong: the encrypted backup image stays locked.",
               u"密码不正确，加密备份卷没有解锁").toString();
    case Id::backupErrNoPassword:
      return t(u"No password was given: the encrypted backup image stays locked.",
               u"没有输入密码，加密备份卷没有解锁").toString();
    case Id::backupErrVolumeExists:
      return t(u"A backup image already exists there; it does not need to be created again.",
               u"备份卷已存在，不需要重新创建").toString();
    case Id::backupErrVolumeNotSetUp:
      return t(u"The backup image has not been set up yet.",
               u"备份卷还没初始化").toString();
    case Id::backupErrToolMissing:
      return fill(t(u"{1} is not installed, so the encrypted backup image cannot be opened. Install the package {2} (for example: sudo apt install {2}), then try again.",
                    u"没有安装 {1}，无法打开加密备份卷。请先安装软件包 {2}（例如：sudo apt install {2}），然后再试。"), key);
    case Id::backupErrDetach:
      return t(u"The encrypted backup image could not be closed after use, so its decrypted files are still reachable.",
               u"加密备份卷用完后没能卸载，解密后的文件仍可访问。").toString();
    case Id::backupErrDetachToolMissing:
      return fill(t(u"The encrypted backup image could not be closed after use: {1} is not installed. Install the package {2} (for example: sudo apt install {2}).",
                    u"加密备份卷用完后没能卸载：没有安装 {1}。请安装软件包 {2}（例如：sudo apt install {2}）。"), key);
    case Id::backupExclusionsNote:
      return fill(t(u"Left out on purpose (caches and the tools' own program files): {1}",
                    u"按设置不备份（缓存和工具自带的程序文件）：{1}"), key);
    // doctor
    case Id::backupIncomplete:
      return t(u"This backup is incomplete.", u"此次备份不完整。").toString();
    // What a backup left out: {1} items, {2} the first paths (a folder too
    // deep: {2} the levels kept, {3} the paths).
    case Id::backupLeftOutNotRegular:
      return counted(u"Not backed up: {1} item that is not a regular file (a link, FIFO or socket): {2}",
                     u"Not backed up: {1} items that are not regular files (links, FIFOs or sockets): {2}",
                     u"未备份 {1} 项（符号链接、FIFO 或套接字，不是普通文件）：{2}");
    case Id::backupLeftOutUnreadable:
      return counted(u"Not backed up, not readable: {1} item this user may not read: {2}",
                     u"Not backed up, not readable: {1} items this user may not read: {2}",
                     u"未备份，无法读取：{1} 项（当前用户没有读取权限）：{2}");
    case Id::backupLeftOutTooDeep:
      return counted(u"Not backed up: {1} folder more than {2} levels deep: {3}",
                     u"Not backed up: {1} folders more than {2} levels deep: {3}",
                     u"未备份 {1} 个文件夹（层级超过 {2} 层）：{3}");
    case Id::backupLeftOutChanged:
      return counted(u"Changed while it was read, twice: {1} file, stored as read: {2}",
                     u"Changed while they were read, twice: {1} files, stored as read: {2}",
                     u"读取时一再改变：{1} 个文件，按读到的内容备份：{2}");
    case Id::doctorHintCmd:
      return fill(t(u"Will run: `{1}` (read-only, no changes)", u"将运行：`{1}`（只读，不修改任何东西）"), key);
    case Id::doctorFoundIssues:
      if (english) return fill(key.integer(0) == 1 ? u"Found {1} known issue" : u"Found {1} known issues", key);
      return fill(u"发现 {1} 个已知问题", key);
    case Id::doctorExitInfo:
      return fill(t(u"Exit {1} · {2}s", u"退出码 {1} · {2}s"), key);
    case Id::doctorDeeperHint:
      return fill(t(u"For deeper diagnosis/fix, run in a terminal: `{1} --fix`", u"如要更深入诊断/修复，请到终端运行：`{1} --fix`"), key);
    case Id::doctorHeaderTitle:
      return fill(t(u"{1} · Health check", u"{1} · 体检"), key);
    case Id::doctorOutputExitCode:
      return fill(t(u"Exit code: {1}  /  Elapsed: {2}s", u"退出码：{1}  /  耗时：{2}s"), key);
    case Id::doctorOutputStopped:
      return fill(t(u"Stopped: did not finish within {1} s", u"已中止：{1} 秒内未完成"), key);
    case Id::doctorErrUnknownFixKind:
      return fill(t(u"Unknown fix kind: {1}", u"未知的 fix kind：{1}"), key);
    case Id::doctorErrCmdTimedOut:
      return fill(t(u"Command did not finish within {1} s", u"命令 {1} 秒内未完成"), key);
    case Id::doctorErrReloadTimedOut:
      return fill(t(u"Reload did not finish within {1} s", u"reload 命令 {1} 秒内未完成"), key);
    case Id::doctorErrCmdExit:
      return fill(t(u"Command exited {1}: {2}", u"命令退出 {1}：{2}"), key);
    case Id::doctorErrFileNotFound:
      return fill(t(u"File not found: {1}", u"文件不存在：{1}"), key);
    case Id::doctorErrReadFile:
      return fill(t(u"Read failed: {1}", u"读文件失败：{1}"), key);
    case Id::doctorErrJSONParse:
      return fill(t(u"JSON parse failed: {1}", u"JSON 解析失败：{1}"), key);
    case Id::doctorErrWriteFile:
      return fill(t(u"Write failed: {1}", u"写文件失败：{1}"), key);
    case Id::doctorOkUpdated:
      return fill(t(u"Updated {1}: {2}", u"已更新 {1}：{2}"), key);
    case Id::doctorCheckExitStatus:
      return fill(t(u"Exit code {1}", u"退出码 {1}"), key);
    case Id::doctorCheckTimedOut:
      return fill(t(u"Did not finish within {1} s", u"{1} 秒内未完成"), key);
    case Id::doctorNoResult:
      return t(u"No diagnosis result returned", u"诊断没有返回结果").toString();
    case Id::doctorRediagnosing:
      return t(u"Re-diagnosing…", u"正在重新诊断…").toString();
    case Id::doctorMatched:
      return t(u"Matched:", u"命中：").toString();
    case Id::doctorFixing:
      return t(u"Fixing…", u"修复中…").toString();
    case Id::doctorFixed:
      return t(u"Fixed", u"已修复").toString();
    case Id::doctorNoIssues:
      return t(u"No known issues found", u"诊断未发现已知问题").toString();
    case Id::doctorCheckFailed:
      return t(u"The check did not succeed", u"检查未成功").toString();
    case Id::doctorCheckNotRun:
      return t(u"Could not be run", u"未能运行").toString();
    case Id::doctorAllFixed:
      return t(u"All previous issues fixed — please close and reopen to verify the agent runs normally",
               u"之前的问题已全部修复 —— 建议关闭重开看 agent 是否正常运行").toString();
    case Id::doctorFullOutput:
      return t(u"Full output", u"完整输出").toString();
    case Id::doctorDeeperHintGeneric:
      return t(u"For deeper diagnosis, run the agent's `doctor --fix` in a terminal",
               u"如需深入诊断，请到终端运行该 agent 的 `doctor --fix`").toString();
    case Id::doctorRunningLabel:
      return t(u"Diagnosing…", u"诊断中…").toString();
    case Id::doctorLabel:
      return t(u"Diagnose", u"诊断").toString();
    case Id::doctorFixDisabledHelp:
      return t(u"Auto-fix not available here", u"当前上下文不支持自动修复").toString();
    case Id::doctorErrShellMissingCmd:
      return t(u"shell fix missing command", u"shell fix 缺 command").toString();
    case Id::doctorErrCmdEmptyOutput:
      return t(u"(no output)", u"(无输出)").toString();
    case Id::doctorOkCmdSucceeded:
      return t(u"Command succeeded", u"命令执行成功").toString();
    case Id::doctorErrPatchMissingFields:
      return t(u"patch-json fix missing file or set", u"patch-json fix 缺 file 或 set").toString();
    case Id::doctorErrJSONNotObject:
      return t(u"Top-level is not a JSON object", u"顶层不是 JSON 对象").toString();
    // first
    case Id::firstSetupStepLabel:
      return fill(t(u"Step {1}/2 · {2}", u"第 {1}/2 步 · {2}"), key);
    case Id::firstSetupTitle:
      return t(u"Set up encrypted backup", u"设置加密备份").toString();
    case Id::firstSetupStepChooseLocation:
      return t(u"Choose location", u"选择位置").toString();
    case Id::firstSetupStepSetPassword:
      return t(u"Set password", u"设置密码").toString();
    case Id::firstSetupIntro:
      return t(u"Tollamere keeps your agents' backups in an encrypted image on this computer.",
               u"Tollamere 会把 Agent 的备份存进本机的加密卷。").toString();
    case Id::firstSetupIntroDetail:
      return t(u"Skills, memories, sessions and settings are encrypted with AES-256. Only your password opens them.",
               u"技能、记忆、会话和配置都用 AES-256 加密，只有你的密码能打开。").toString();
    case Id::firstSetupLocationLabel:
      return t(u"Location", u"存放位置").toString();
    case Id::firstSetupLocationHint:
      return t(u"The image is a folder that grows as you back up.", u"加密卷是一个文件夹，随备份增长。").toString();
    case Id::firstSetupChangeLocation:
      return t(u"Change…", u"更改…").toString();
    case Id::firstSetupNext:
      return t(u"Next", u"下一步").toString();
    case Id::firstSetupPasswordTitle:
      return t(u"Set a password", u"设置密码").toString();
    case Id::firstSetupPasswordIntro:
      return t(u"This password unlocks your backups. If you lose it, the backups cannot be recovered.",
               u"这个密码用来解锁备份。密码丢失后，备份将无法恢复。").toString();
    case Id::firstSetupPasswordLabel:
      return t(u"Password", u"密码").toString();
    case Id::firstSetupPasswordAgain:
      return t(u"Confirm password", u"确认密码").toString();
    case Id::firstSetupPasswordMismatch:
      return t(u"Passwords don't match", u"两次输入不一致").toString();
    case Id::firstSetupPasswordTooLong:
      return t(u"Too long: at most 2,048 bytes (about 680 Chinese characters)",
               u"密码太长：最多 2048 字节（约 680 个汉字）").toString();
    case Id::firstSetupPrev:
      return t(u"Back", u"上一步").toString();
    case Id::firstSetupChooseLocationTitle:
      return t(u"Choose where to keep the backup image", u"选择备份卷的存放位置").toString();
    case Id::firstSetupPasswordMinPlaceholder:
      return t(u"At least 8 characters", u"至少 8 位").toString();
    case Id::firstSetupPasswordAgainPlaceholder:
      return t(u"Enter the password again", u"再输入一次密码").toString();
    case Id::firstSetupCreatingLabel:
      return t(u"Creating encrypted image…", u"正在创建加密卷…").toString();
    case Id::firstSetupCreateButton:
      return t(u"Create encrypted image", u"创建加密卷").toString();
    case Id::firstSetupPasswordWeakest:
      return t(u"Too weak: use at least 8 characters", u"太弱：至少需要 8 个字符").toString();
    case Id::firstSetupPasswordWeak:
      return t(u"Weak", u"弱").toString();
    case Id::firstSetupPasswordMedium:
      return t(u"Medium", u"中等").toString();
    case Id::firstSetupPasswordStrong:
      return t(u"Strong", u"强").toString();
    // restore
    case Id::restoreBackupTime:
      return fill(t(u"Backup: {1} · From {2}", u"备份时间：{1} · 来自 {2}"), key);
    case Id::restoreFoundBackup:
      return fill(t(u"Found backup in {1}", u"找到 {1} 里的备份"), key);
    case Id::restoreCrossDeviceBody:
      return fill(t(u"This backup is from {1}, not this computer. All data will be restored to this machine.",
                    u"这份备份来自 {1}，不是当前这台电脑。恢复后所有数据会落到当前机器。"), key);
    case Id::restoreOneAgent:
      return fill(t(u"Restore {1}", u"恢复 {1}"), key);
    case Id::restoreOneAgentButton:
      return t(u"Restore", u"恢复").toString();
    case Id::restoreConfirmOneBody:
      return fill(t(u"About to overwrite current {1} data with the backup.\n\n⚠️ This cannot be undone. To keep current data, cancel and back up first.",
                    u"即将用备份内容覆盖当前的 {1} 数据。\n\n⚠️ 此操作不可撤销。如果想保留当前数据，请先取消并去主页备份。"), key);
    case Id::restoreBtnInProgress:
      return t(u"Restoring…", u"正在恢复…").toString();
    case Id::restoreStageVerifying:
      return t(u"Verifying backup integrity…", u"正在校验备份完整性…").toString();
    case Id::restoreStageExtracting:
      return t(u"Extracting…", u"正在解压…").toString();
    case Id::restoreStageSecurityCheck:
      return t(u"Security check…", u"正在安全检查…").toString();
    case Id::restoreStageWriting:
      return t(u"Writing data…", u"正在写入数据…").toString();
    case Id::restoreFromiCloud:
      return t(u"From iCloud", u"来自 iCloud").toString();
    case Id::restoreCrossDevice:
      return t(u"Backup from another computer", u"来自另一台电脑的备份").toString();
    case Id::restoreAllAtOnce:
      return t(u"Restore all at once", u"一键全部恢复").toString();
    case Id::restoreNoBackup:
      return t(u"No backups available", u"还没有可恢复的备份").toString();
    case Id::restoreNoBackupHint:
      return t(u"Back up once from the Backup & Restore panel first.", u"请先在「备份与恢复」面板做一次备份。").toString();
    case Id::restoreErrUnpack:
      return t(u"Could not unpack the backup.",
               u"解压失败").toString();
    case Id::restoreErrUnsafePath:
      return t(u"Restore refused: the backup holds an unsafe path.",
               u"拒绝恢复：备份里有不安全的路径").toString();
    case Id::restoreErrUnknownAgent:
      return fill(t(u"Unknown agent: {1}",
                    u"未知 Agent：{1}"), key);
    case Id::restoreErrCopy:
      return t(u"Could not put the files back.",
               u"恢复失败：文件没能放回原处").toString();
    case Id::restoreErrLinkInTheWay:
      return fill(t(u"Nothing was restored: {1} is a link, and the restore never writes where a link leads. Move it away, then restore again.",
                    u"没有恢复任何文件：{1} 是符号链接，恢复不会写到它指向的地方。请先把它移走，再恢复。"), key);
    case Id::restoreErrFolderInTheWay:
      return fill(t(u"The restore stopped: {1} is a folder where the backup holds a file. Move it away, then restore again.",
                    u"恢复中止：{1} 处是文件夹，而备份里这里是文件。请先把它移走，再恢复。"), key);
    case Id::restoreErrFileInTheWay:
      return fill(t(u"The restore stopped: {1} is a file where the backup holds a folder. Move it away, then restore again.",
                    u"恢复中止：{1} 处是文件，而备份里这里是文件夹。请先把它移走，再恢复。"), key);
    case Id::restoreErrNotWritable:
      return fill(t(u"Nothing was restored: this user may not write where the backup's files go ({1}). Allow writing there, then restore again.",
                    u"没有恢复任何文件：当前用户无权写入备份文件要放回的位置（{1}）。请先允许写入，再恢复。"), key);
    case Id::restoreErrAgentNotInBackup:
      return fill(t(u"The backup holds no data of {1}.",
                    u"备份里没有 {1} 的数据"), key);
    case Id::restoreErrNoBackup:
      return t(u"No backup found. Make a backup first.",
               u"没找到备份。请先创建一份备份。").toString();
    case Id::restoreErrManifest:
      return t(u"The backup's manifest is damaged.",
               u"备份元数据损坏").toString();
    case Id::restoreErrIntegrity:
      return t(u"The backup failed its integrity check: the archive does not match its manifest.",
               u"备份没有通过完整性校验：备份文件与它的清单不符。").toString();
    case Id::restoreErrDiskFull:
      return fill(t(u"The disk is full, so the restore did not finish: the disk holding {1} has no room left.",
                    u"磁盘已满，恢复没有完成：{1} 所在的磁盘没有空间了。"), key);
    case Id::restoreErrDiskFullNeeds:
      return fill(t(u"The disk is full, so the restore did not finish: it needs about {1}, more than the disk holding {2} has.",
                    u"磁盘已满，恢复没有完成：恢复需要约 {1}，{2} 所在的磁盘放不下。"), key);
    case Id::restoreErrDiskFullNeedsFree:
      return fill(t(u"The disk is full, so the restore did not finish: it needs about {1}, and the disk holding {2} has {3} free.",
                    u"磁盘已满，恢复没有完成：恢复需要约 {1}，{2} 所在的磁盘只剩 {3}。"), key);
    case Id::restoreErrFailed:
      return t(u"The restore failed.",
               u"恢复失败").toString();
    case Id::restoreDamagedNewer:
      return t(u"A newer backup is damaged and cannot be restored; this is the newest one that can.",
               u"有更新的备份已损坏，无法恢复；这是能恢复的最新一份。").toString();
    case Id::restoreDamagedOnly:
      return t(u"The backup is damaged and cannot be restored",
               u"备份已损坏，无法恢复").toString();
    case Id::restoreCouldNotRead:
      return t(u"The backup could not be read",
               u"无法读取备份").toString();
    case Id::restoreEnterPasswordAgain:
      return t(u"Enter the password again",
               u"重新输入密码").toString();
    case Id::restoreTryAgain:
      return t(u"Try again",
               u"再试一次").toString();
    case Id::restoreRestoredAll:
      return t(u"✓ Restored all agents",
               u"✓ 已恢复全部 Agent").toString();
    case Id::restoreRestoredOne:
      return fill(t(u"✓ Restored {1}",
                    u"✓ 已恢复 {1}"), key);
    case Id::restoreConfirmAllTitle:
      return t(u"Restore all agents?", u"恢复所有 Agent？").toString();
    case Id::restoreConfirmAllBody:
      return t(u"About to overwrite all agents' current data with the backup.\n\n⚠️ This cannot be undone. To keep current data, cancel and back up first.",
               u"即将用备份内容覆盖所有 Agent 的当前数据。\n\n⚠️ 此操作不可撤销。如果想保留当前数据，请先取消并去主页备份。").toString();
    case Id::restoreConfirmCancel:
      return t(u"Cancel", u"取消").toString();
    case Id::restoreConfirmConfirm:
      return t(u"Restore", u"确认恢复").toString();
    case Id::restoreConfirmAll:
      return t(u"Restore all", u"全部恢复").toString();
    case Id::restoreStatSkillsUnit:
      return counted(u"{1} skill", u"{1} skills", u"{1} 个技能");
    case Id::restoreStatMemoryLabel:
      return t(u"Memory", u"记忆").toString();
    case Id::restoreStatTasksUnit:
      return counted(u"{1} task", u"{1} tasks", u"{1} 个任务");
    // detail
    case Id::detailSetupHint:
      return fill(t(u"Will run `{1}` in a terminal — follow the prompts to complete one-time setup",
                    u"将在终端运行 `{1}`，按提示完成一次性配置"), key);
    case Id::detailActionLaunchAgent:
      return fill(t(u"Launch {1}", u"启动 {1}"), key);
    case Id::detailDoctorChecking:
      return fill(t(u"Checking {1} configuration…", u"正在检查 {1} 配置…"), key);
    case Id::detailDoctorBannerHasIssuesTitle:
      if (english)
        return fill(key.integer(0) == 1
                        ? u"Setup complete. Found {1} known issue"
                        : u"Setup complete. Found {1} known issues", key);
      return fill(u"setup 完成，发现 {1} 个已知问题", key);
    case Id::detailDoctorBannerFailedSubtitle:
      return fill(t(u"{1} · click to view the output", u"{1} · 点击查看输出"), key);
    case Id::detailFieldStatus:
      return t(u"Status", u"状态").toString();
    case Id::detailFieldRunning:
      return t(u"Running", u"运行").toString();
    case Id::detailFieldMemory:
      return t(u"Memory", u"内存").toString();
    case Id::detailStatusGuarded:
      return t(u"Guarded", u"已守护").toString();
    case Id::detailStatusPaused:
      return t(u"Recovery paused", u"已暂停接管").toString();
    case Id::detailMcpSupported:
      return t(u"MCP supported", u"支持 MCP").toString();
    case Id::detailMcpNot:
      return t(u"MCP not supported", u"不支持 MCP").toString();
    case Id::detailRecentEvents:
      return t(u"Recent events", u"最近事件").toString();
    case Id::detailNoEvents:
      return t(u"No events yet", u"暂无事件记录").toString();
    case Id::detailUninstallButton:
      return t(u"Uninstall", u"彻底卸载").toString();
    case Id::detailUninstallLockHint:
      return t(u"Turn off Locked-online to uninstall", u"关闭「锁定在线」可卸载").toString();
    case Id::detailSetupButton:
      return t(u"Configure agent", u"配置 Agent").toString();
    case Id::detailSetupOpenFolders:
      return t(u"Open config folder", u"打开配置目录").toString();
    case Id::detailActionOpen:
      return t(u"Open", u"打开").toString();
    case Id::detailActionOpenDashboard:
      return t(u"Open Dashboard", u"打开仪表盘").toString();
    case Id::detailActionOpenTui:
      return t(u"Open Console", u"打开看板").toString();
    case Id::detailActionOpenTuiAnotherHint:
      return fill(t(u"Starts another {1} session in a new terminal ({2} already running)",
                    u"会在新终端里再启动一个 {1} 会话（已有 {2} 个在运行）"),
                  key);
    case Id::detailActionStop:
      return t(u"Stop", u"退出").toString();
    case Id::detailDoctorBannerNoIssuesTitle:
      return t(u"Setup complete. No issues detected", u"setup 完成，已自动检查无异常").toString();
    case Id::detailDoctorBannerNoIssuesSubtitle:
      return t(u"Agent is ready to use", u"agent 现在可以正常使用").toString();
    case Id::detailDoctorBannerHasIssuesSubtitle:
      return t(u"Click to view details and fix", u"点击查看详情 + 一键修复").toString();
    // install
    case Id::installSheetTitle:
      return fill(t(u"Install {1}", u"安装 {1}"), key);
    case Id::installSheetHowToOpenBody:
      return fill(t(u"Open a new terminal and type `{1}`. Terminals that are already open need `source {2}` first.",
                    u"打开新终端直接输 `{1}` 即可使用。已开的终端窗口需先跑 `source {2}`。"), key);
    case Id::installBootstrapLabel:
      return fill(t(u"Auto-installing dependency: {1}", u"正在自动安装依赖：{1}"), key);
    case Id::installBootstrapAgentName:
      return fill(t(u"Dependency · {1}", u"依赖 · {1}"), key);
    case Id::installStepAsIs:
      return key.text(0);
    case Id::installStepPathAlreadySet:
      return fill(t(u"PATH already set up ({1})", u"PATH 已配置（{1}）"), key);
    case Id::installStepPathAdded:
      return fill(t(u"Added PATH to {1} (new terminals pick it up)", u"已写入 PATH 到 {1}（开新终端即可生效）"), key);
    case Id::installStepWriteFailed:
      return fill(t(u"Could not write {1}", u"写入 {1} 失败"), key);
    case Id::installStepNothingChanged:
      return fill(t(u"{1}, nothing changed", u"{1}，未作改动"), key);
    case Id::installStepNotUtf8:
      return fill(t(u"{1}: not valid UTF-8 text, nothing changed", u"{1}：不是有效的 UTF-8 文本，未作改动"), key);
    case Id::installStepReadOnly:
      return fill(t(u"{1}: the file is read-only, nothing changed", u"{1}：文件是只读的，未作改动"), key);
    case Id::installStepChangedWhileWritten:
      return fill(t(u"{1}: the file changed while it was written, nothing changed", u"{1}：文件在写入时被改动，未作改动"),
                  key);
    case Id::installStepTimedOut:
      return fill(t(u"The command did not finish within {1} minutes and was stopped.\nCommon causes: a slow network, an "
                    u"unreachable npm registry, a server that does not answer.\nCheck the network or switch to a mirror "
                    u"(npm config set registry …), then try again.",
                    u"命令超过 {1} 分钟未完成，已中止。\n常见原因：网络很慢 / npm registry 不通 / 服务器无响应。\n"
                    u"请检查网络或换镜像（npm config set registry …）后再试。"), key);
    case Id::installStepNoOutput:
      return fill(t(u"{1} (no output)", u"{1}（无输出）"), key);
    case Id::installSheetChecking:
      return t(u"Checking requirements…", u"检查依赖…").toString();
    case Id::installSheetMissing:
      return t(u"Missing requirements", u"缺少必要工具").toString();
    case Id::installSheetRunning:
      return t(u"Installing…", u"正在安装…").toString();
    case Id::installSheetSuccess:
      return t(u"Installed", u"已安装").toString();
    case Id::installSheetFailed:
      return t(u"Install failed", u"安装失败").toString();
    case Id::installSheetHowToOpenTitle:
      return t(u"How to open", u"怎么打开").toString();
    case Id::installSheetTerminalOpened:
      return t(u"A terminal window opened — follow the prompts to complete the install",
               u"终端已打开，请按其中提示完成安装").toString();
    case Id::installSheetTerminalFailed:
      return t(u"Failed to open a terminal", u"无法打开终端").toString();
    case Id::installSheetClose:
      return t(u"Close", u"关闭").toString();
    case Id::installSheetMissingHint:
      return t(u"Install these dependencies before this agent can be set up", u"装这个 Agent 前，先把下面的依赖准备好").toString();
    case Id::installSheetMissingFooter:
      return t(u"Once done, come back and click [Re-check] to continue", u"装完后回到这里，点【重新检查】继续").toString();
    case Id::installSheetRecheck:
      return t(u"Re-check", u"重新检查").toString();
    case Id::installOsascriptFailed:
      return t(u"No terminal program could be started", u"没能启动终端程序").toString();
    case Id::installEchoBrewMissing:
      return t(u"→ With the system package manager (apt), which may ask for your password",
               u"→ 用系统包管理器（apt）安装，可能会要求输入密码").toString();
    case Id::installEchoNode:
      return t(u"→ Installing Node.js (includes npm)", u"→ 装 Node.js（含 npm）").toString();
    case Id::installTerminalDone:
      return t(u"✓ Install complete", u"✓ 安装完成").toString();
    case Id::installTerminalFailed:
      return t(u"✗ Install failed: scroll up to read the error", u"✗ 安装失败，请向上滚动查看错误信息").toString();
    // uninstall
    case Id::uninstallSheetTitle:
      return fill(t(u"Uninstall {1}", u"卸载 {1}"), key);
    case Id::uninstallSheetWithFailures:
      if (english)
        return fill(key.integer(0) == 1 ? u"Uninstalled ({1} item failed)" : u"Uninstalled ({1} items failed)", key);
      return fill(u"已卸载（{1} 项未成功）", key);
    case Id::uninstallSheetButtonSize:
      return fill(t(u"Uninstall ({1})", u"彻底卸载（{1}）"), key);
    case Id::uninstallSheetAgentRunning:
      if (english)
        return fill(key.integer(1) == 1
                        ? u"{1} is running ({2} process). It is stopped before anything is removed."
                        : u"{1} is running ({2} processes). They are stopped before anything is removed.", key);
      return fill(u"{1} 正在运行（{2} 个进程），卸载前会先将其停止，再删除文件。", key);
    case Id::uninstallStepStop:
      return fill(t(u"Stop {1} and its helpers", u"停止 {1} 及其辅助进程"), key);
    case Id::uninstallWarnBody:
      if (english)
        return fill(key.integer(0) == 1 ? u"{1} item didn't uninstall, for the reason under it:"
                                        : u"{1} items didn't uninstall, each for the reason under it:", key);
      return fill(u"以下 {1} 项没有卸载，原因写在各项下面：", key);
    case Id::uninstallWarnByHand:
      return t(u"These could not be removed (permission denied or file in use). You can remove them yourself in your file manager:",
               u"以下项目没能删除（权限不足或文件被占用），可以自己到文件管理器中删除：").toString();
    case Id::uninstallWarnMore:
      return fill(t(u"…and {1} more", u"…还有 {1} 项"), key);
    case Id::uninstallStepNotInstalled:
      return fill(t(u"({1} not installed, skipped)", u"（{1} 未安装，跳过）"), key);
    case Id::uninstallStepSkippedPath:
      return fill(t(u"(skipped) {1}", u"（跳过）{1}"), key);
    case Id::uninstallStepMountLeft:
      return fill(t(u"left in place: another file system is mounted at {1}, so it and the folders that hold it were not removed",
                    u"已保留：{1} 处挂载着另一个文件系统，它和包含它的文件夹都没有删除"), key);
    case Id::uninstallSheetRefused:
      return t(u"Not removed", u"不会删除").toString();
    case Id::uninstallSheetCommands:
      return t(u"Commands", u"命令").toString();
    case Id::uninstallSheetStandard:
      return t(u"Standard", u"标准").toString();
    case Id::uninstallSheetUserData:
      return t(u"User data", u"用户数据").toString();
    case Id::uninstallSheetNothing:
      return t(u"Nothing to uninstall", u"无可卸载项").toString();
    case Id::uninstallSheetMissing:
      return t(u"Missing", u"不存在").toString();
    case Id::uninstallRefusedNotAPath:
      return t(u"unsafe path, not removed: not a full path (relative, with \"..\" or a NUL character)",
               u"路径不安全，拒绝删除：不是完整路径（相对路径、含“..”或 NUL 字符）").toString();
    case Id::uninstallRefusedShared:
      return t(u"unsafe path, not removed: the home folder, a folder above it or a folder shared by many programs",
               u"路径不安全，拒绝删除：这是主目录、它的上级目录或多个程序共用的文件夹").toString();
    case Id::uninstallRefusedOutsideHome:
      return t(u"unsafe path, not removed: it is outside your home folder",
               u"路径不安全，拒绝删除：它不在你的主目录内").toString();
    case Id::uninstallRefusedLeavesHome:
      return t(u"unsafe path, not removed: a folder on its way is a link that leads out of your home folder",
               u"路径不安全，拒绝删除：路径上的某个文件夹是指向主目录以外的链接").toString();
    case Id::uninstallSheetRunning:
      return t(u"Uninstalling…", u"正在卸载…").toString();
    case Id::uninstallSheetSuccess:
      return t(u"Uninstalled", u"已卸载").toString();
    case Id::uninstallSheetButton:
      return t(u"Uninstall", u"彻底卸载").toString();
    case Id::uninstallSheetStopAndUninstall:
      return t(u"Stop and Uninstall", u"停止并卸载").toString();
    case Id::uninstallWarnTitle:
      return t(u"Uninstall incomplete", u"卸载未完全成功").toString();
    case Id::uninstallExecutingHelp:
      return t(u"Uninstall in progress — please wait", u"卸载进行中，请等完成再关闭").toString();
    case Id::uninstallStepNotThere:
      return t(u"(not there, skipped)", u"（不存在，跳过）").toString();
    // settings
    case Id::settingsTitle:
      return t(u"Settings", u"设置").toString();
    case Id::settingsSectionAppearance:
      return t(u"Appearance", u"外观").toString();
    case Id::settingsSectionLanguage:
      return t(u"Language", u"语言").toString();
    // Each language by its own name, whatever the interface speaks.
    case Id::settingsLanguageEnglish:
      return t(u"English", u"English").toString();
    case Id::settingsLanguageChinese:
      return t(u"中文", u"中文").toString();
    case Id::settingsSectionTutorial:
      return t(u"Tutorial Center", u"教程中心").toString();
    case Id::settingsTutorialHint:
      return t(u"Full agent install, setup, and usage guides — on our website.",
               u"Agent 安装、配置、使用全攻略 — 在我们官网。").toString();
    case Id::settingsTutorialButton:
      return t(u"Open Tutorial Center", u"打开教程中心").toString();
    case Id::settingsSectionFeedback:
      return t(u"Feedback", u"反馈").toString();
    case Id::settingsSectionAbout:
      return t(u"About", u"关于").toString();
    case Id::settingsSectionMoreProducts:
      return t(u"More Products", u"更多产品").toString();
    case Id::settingsSectionSelfGuard:
      return t(u"Auto-start & Recovery", u"自启动与恢复").toString();
    case Id::settingsDockSection:
      return t(u"Task Bar", u"任务栏").toString();
    case Id::settingsDockToggle:
      return t(u"Show in task bar", u"在任务栏显示").toString();
    case Id::settingsDockWarnOn:
      return t(u"Make sure you can see Tollamere in the system tray before turning this off",
               u"关闭前请确认系统托盘能看到 Tollamere").toString();
    case Id::settingsDockWarnOff:
      return t(u"Tollamere now lives only in the system tray. Turn this on again if you can't find it",
               u"Tollamere 现在只在系统托盘显示。找不到可以重新打开").toString();
    case Id::settingsDockWarnOnNoTray:
      return t(u"This desktop has no system tray: Tollamere lives in its main window. Start Tollamere again to bring the window forward",
               u"这个桌面没有系统托盘：Tollamere 常驻在主窗口里。再次启动 Tollamere 即可把窗口带到最前面").toString();
    case Id::settingsDockWarnOffNoTray:
      return t(u"The main window stays out of the task bar. Start Tollamere again to bring it forward",
               u"主窗口不在任务栏显示。再次启动 Tollamere 即可把窗口带到最前面").toString();
    // event
    case Id::eventStarted:
      return t(u"Started", u"开始运行").toString();
    case Id::eventExitedNormal:
      return t(u"Normal exit", u"正常退出").toString();
    case Id::eventExitedAbnormal:
      return t(u"Abnormal exit", u"异常退出").toString();
    case Id::eventRecovered:
      return t(u"Auto-recovered", u"已自动恢复").toString();
    case Id::eventThrottled:
      return t(u"Repeated failures — recovery paused, please check", u"反复异常，已暂停接管，请检查处理").toString();
    case Id::eventRestarted:
      return t(u"Restarted, recovery resumed", u"已重新启动，恢复接管").toString();
    case Id::eventKilledByOOM:
      return t(u"Killed by system (low memory)", u"内存吃紧被系统关闭").toString();
    case Id::eventOomRecovered:
      return t(u"Recovered, but memory is tight", u"已恢复，但内存紧张").toString();
    case Id::eventLockOnlineEnabled:
      return t(u"Lock turned on", u"开启了锁定在线").toString();
    case Id::eventLockOnlineDisabled:
      return t(u"Lock turned off", u"关闭了锁定在线").toString();
    case Id::eventHangDetected:
      return t(u"Unresponsive too long", u"长时间无响应").toString();
    case Id::eventZombieRecovered:
      return t(u"Auto-recovered", u"已自动恢复").toString();
    // metric
    case Id::metricRunning:
      return t(u"Running", u"运行中").toString();
    case Id::metricRunningSub:
      return t(u"Live right now", u"正在为你服务").toString();
    case Id::metricLocked:
      return t(u"Locked online", u"锁定在线").toString();
    case Id::metricLockedSub:
      return t(u"Always recover", u"永远救起").toString();
    case Id::metricFaulted:
      return t(u"Faulted", u"故障").toString();
    case Id::metricFaultedSub:
      return t(u"Needs attention", u"需要关注").toString();
    case Id::metricFaultedSubOk:
      return t(u"All clear", u"全部正常").toString();
    case Id::metricTotal:
      return t(u"Total", u"共计").toString();
    case Id::metricTotalSub:
      return t(u"Recognized", u"已识别").toString();
    // self
    case Id::selfGuardToggle:
      return t(u"Auto-start at login", u"开机自启").toString();
    case Id::selfGuardDevDisabled:
      return t(u"Not available in dev mode", u"开发模式不可用").toString();
    case Id::selfGuardFirstAlertTitle:
      return t(u"Enable auto-start?", u"开启自启动？").toString();
    case Id::selfGuardFirstAlertBody:
      return t(u"Tollamere will start at login. You can disable this anytime in settings.",
               u"Tollamere 将开机自启。你随时可以在设置里关闭。").toString();
    case Id::selfGuardFirstAlertConfirm:
      return t(u"Enable", u"开启").toString();
    case Id::selfGuardFirstAlertCancel:
      return t(u"Not now", u"暂不开启").toString();
    case Id::selfGuardEnableFailedTitle:
      return t(u"Couldn't enable auto-start", u"无法开启自启动").toString();
    case Id::selfGuardEnableFailedBody:
      return t(u"The autostart entry could not be written to ~/.config/autostart. Open that folder, make sure you can write to it, and try again.",
               u"无法把自启动项写入 ~/.config/autostart。请打开该文件夹，确认它可以写入后再试一次。").toString();
    case Id::selfGuardOpenLoginItems:
      return t(u"Open autostart folder", u"打开自启动文件夹").toString();
    // ev
    case Id::evDetailUserRestart:
      return fill(t(u"Manual restart → new pid {1}", u"用户主动重启 → 新 pid {1}"), key);
    case Id::evDetailRestartStuck:
      return fill(t(u"Restart stuck: SIGKILL failed on {1}", u"重启卡住：SIGKILL 也杀不掉 {1}"), key);
    case Id::evDetailRestartFailed:
      return fill(t(u"Restart failed: {1}", u"重启失败：{1}"), key);
    case Id::evDetailDoctorNoIssues:
      return fill(t(u"Diagnosis done, exit {1} · no known issues", u"诊断完成 exit={1} · 无已知问题"), key);
    case Id::evDetailDoctorIssues:
      if (english)
        return fill(key.integer(1) == 1
                        ? u"Diagnosis done, exit {1} · {2} known issue found"
                        : u"Diagnosis done, exit {1} · {2} known issues found", key);
      return fill(u"诊断完成 exit={1} · 识别 {2} 个问题", key);
    case Id::evDetailDoctorFailed:
      return fill(t(u"Diagnosis did not succeed, exit {1}", u"诊断未成功 exit={1}"), key);
    case Id::evDetailDoctorTimedOut:
      return fill(t(u"Diagnosis did not finish within {1} s", u"诊断未完成 · {1} 秒内未结束"), key);
    case Id::evDetailFixSucceeded:
      return fill(t(u"Fix succeeded [{1}]", u"修复成功 [{1}]"), key);
    case Id::evDetailFixFailed:
      return fill(t(u"Fix failed [{1}]", u"修复失败 [{1}]"), key);
    case Id::evDetailRelaunchDidNotLast:
      return fill(t(u"Recovery failed: relaunched, but not running {1} s later", u"恢复失败：已重新启动，但 {1} 秒后已不在运行"), key);
    case Id::evDetailEndedAtStart:
      return fill(t(u"Ended at start (exit status {1}); not started again", u"启动时即已结束（退出码 {1}），不再自动启动"), key);
    case Id::evDetailRelaunchFailed:
      return fill(t(u"Recovery failed: {1}", u"恢复失败：{1}"), key);
    case Id::evDetailUserStop:
      return t(u"Manual stop", u"用户主动退出").toString();
    case Id::evDetailStopFailed:
      return t(u"Stop failed", u"退出失败").toString();
    case Id::evDetailUserLaunch:
      return t(u"Manual launch", u"用户手动启动").toString();
    case Id::evDetailSetupCompleted:
      return t(u"Setup completed, auto check started", u"setup 完成，自动开始体检").toString();
    case Id::evDetailNoRecoveryStrategy:
      return t(u"No recovery strategy available", u"无可用恢复策略").toString();
    case Id::evDetailRecoveryResumed:
      return t(u"Running again, recovery resumed", u"已再次运行，恢复接管").toString();
    case Id::evDetailRunawayFallback:
      return t(u"High resource usage", u"资源占用偏高").toString();
    case Id::evDetailRestartFailedNoReason:
      return t(u"Restart failed", u"重启失败").toString();
    // dep
    case Id::depDescNpm:
      return t(u"Node.js package manager — most CLIs need it", u"Node.js 的包管理器，多数 CLI 都靠它").toString();
    case Id::depDescPipx:
      return t(u"Isolated installer for Python CLI tools", u"Python CLI 工具的隔离安装器").toString();
    case Id::depDescCurl:
      return t(u"Command-line downloader (install it with apt)", u"命令行下载工具（可用 apt 安装）").toString();
    case Id::depDescBash:
      return t(u"Shell (comes with the system)", u"Shell（系统自带）").toString();
    case Id::depActionAutoInstall:
      return t(u"Auto-install", u"一键自动装").toString();
    case Id::depActionTerminalInstall:
      return t(u"Install in a terminal", u"在终端自动装").toString();
    case Id::depActionOpenWebsite:
      return t(u"Open website", u"去官网下载").toString();
    // add
    case Id::addSheetTitle:
      return t(u"Add Agent", u"添加 Agent").toString();
    case Id::addSheetNotInstalled:
      return t(u"Not installed", u"未安装").toString();
    case Id::addSheetInstalled:
      return t(u"Installed", u"已安装").toString();
    case Id::addSheetMoreComing:
      return t(u"More agents coming soon…", u"更多 Agent 陆续接入中…").toString();
    case Id::addSheetInstallBtn:
      return t(u"Install", u"安装").toString();
    case Id::addSheetInstalledLabel:
      return t(u"Installed", u"已安装").toString();
    // lock
    case Id::lockOnlineTitle:
      return t(u"Locked online", u"锁定在线").toString();
    case Id::lockOnlineIndicator:
      return t(u"Locked online", u"锁定在线").toString();
    case Id::lockOffConfirmTitle:
      return t(u"Turn off lock?", u"关闭锁定？").toString();
    case Id::lockOffConfirmBody:
      return t(u"Future exits will no longer be auto-recovered.", u"后续退出将不再自动恢复。").toString();
    case Id::lockOffConfirmConfirm:
      return t(u"Confirm", u"确认").toString();
    case Id::lockOffConfirmCancel:
      return t(u"Cancel", u"取消").toString();
    // onboard
    case Id::onboardTitle:
      return t(u"Tollamere is running 👋", u"Tollamere 已启动 👋").toString();
    case Id::onboardBody:
      return t(u"I live in the system tray of your desktop's panel.", u"我常驻在桌面面板的系统托盘里。").toString();
    case Id::onboardWarnTitle:
      return t(u"If you can't find me, the tray might be hidden or full", u"如果找不到我，系统托盘可能被隐藏或挤满了").toString();
    case Id::onboardStep1:
      return t(u"Quit some tray apps you don't need, to free up space", u"先退出一些不用的托盘程序，腾出空间").toString();
    case Id::onboardStep2:
      return t(u"Or start Tollamere again: its window comes to the front", u"或者再次启动 Tollamere，它的窗口会来到最前面").toString();
    case Id::onboardBodyNoTray:
      return t(u"This desktop has no system tray, so I live in my main window.", u"这个桌面没有系统托盘，所以我常驻在主窗口里。").toString();
    case Id::onboardWarnTitleNoTray:
      return t(u"If you close the window", u"如果关掉了窗口").toString();
    case Id::onboardStep1NoTray:
      return t(u"I keep running and keep guarding your agents", u"我仍在后台运行，继续守护你的 Agent").toString();
    case Id::onboardStep2NoTray:
      return t(u"Start Tollamere again and the window comes to the front", u"再次启动 Tollamere，窗口就会回到最前面").toString();
    case Id::onboardOK:
      return t(u"Got it", u"我知道了").toString();
    // row
    case Id::rowOpenTooltipRunning:
      return fill(t(u"Bring {1} to front", u"前置 {1}"), key);
    case Id::rowOpenTooltipNotRunning:
      return fill(t(u"Launch {1}", u"启动 {1}"), key);
    case Id::rowOpenButton:
      return t(u"Open", u"打开").toString();
    case Id::rowStateLaunch:
      return t(u"Launch", u"启动").toString();
    case Id::rowStateRunning:
      return t(u"Running", u"运行中").toString();
    case Id::rowStateFaulted:
      return t(u"Faulted", u"故障").toString();
    // alert
    case Id::alertTerminalOpenFailBody:
      return fill(t(u"Tried to open a terminal to run `{1}` but failed.\n\nPossible causes:\n• No terminal program is installed (x-terminal-emulator, gnome-terminal, konsole, xfce4-terminal or xterm)\n• The terminal could not start on this display\n\nError: {2}",
                    u"试图打开终端运行 `{1}` 但失败了。\n\n可能原因：\n• 没有安装终端程序（x-terminal-emulator、gnome-terminal、konsole、xfce4-terminal 或 xterm）\n• 终端无法在当前显示上启动\n\n错误：{2}"), key);
    case Id::alertTerminalCommandEnded:
      return fill(t(u"The command has ended (exit status {1}). Press Enter to close this window.",
                    u"命令已结束（退出码 {1}）。按回车键关闭此窗口。"), key);
    case Id::alertSetupOpenFailTitle:
      return fill(t(u"Cannot open a terminal to configure {1}", u"无法打开终端配置 {1}"), key);
    case Id::alertTerminalOpenFailTitle:
      return t(u"Cannot open a terminal", u"无法打开终端").toString();
    case Id::alertGotIt:
      return t(u"Got it", u"我知道了").toString();
    case Id::alertSetupOpenFailBody:
      return t(u"Possible causes:\n• No terminal program is installed (x-terminal-emulator, gnome-terminal, konsole, xfce4-terminal or xterm)\n• The terminal could not start on this display\n\nInstall one of them with your package manager (for example `sudo apt install xterm`) and try again.",
               u"可能原因：\n• 没有安装终端程序（x-terminal-emulator、gnome-terminal、konsole、xfce4-terminal 或 xterm）\n• 终端无法在当前显示上启动\n\n请用包管理器安装其中一个（例如 `sudo apt install xterm`）后再试一次。").toString();
    case Id::alertSetupFailTitle:
      return fill(t(u"Cannot configure {1}", u"无法配置 {1}"), key);
    case Id::alertConfigFolderOpenFailTitle:
      return fill(t(u"Cannot open the configuration folder of {1}", u"无法打开 {1} 的配置目录"), key);
    case Id::alertLaunchFailTitle:
      return fill(t(u"Cannot launch {1}", u"无法启动 {1}"), key);
    case Id::alertFailureReason:
      return fill(t(u"Error: {1}", u"错误：{1}"), key);
    case Id::alertReasonNoApp:
      return t(u"The registry names no application to launch for this agent.", u"注册表没有给这个 Agent 指定要启动的应用。").toString();
    case Id::alertReasonAppNotFound:
      return fill(t(u"No installed application has the identifier {1}.", u"找不到标识为 {1} 的已安装应用。"), key);
    case Id::alertReasonAppNotStarted:
      return fill(t(u"The application could not be started.\n\nError: {1}", u"无法启动应用。\n\n错误：{1}"), key);
    case Id::alertReasonNoCommand:
      return t(u"The registry gives no command to launch this agent.", u"注册表没有给这个 Agent 配置启动命令。").toString();
    case Id::alertReasonServiceNotStarted:
      return fill(t(u"The service could not be started in the background.\n\nError: {1}", u"无法在后台启动服务。\n\n错误：{1}"), key);
    case Id::alertReasonUnsafeId:
      return fill(t(u"The agent id \"{1}\" cannot be used as a file name.", u"Agent id「{1}」不能用作文件名。"), key);
    case Id::alertReasonSetupUnsupported:
      return fill(t(u"{1} cannot be configured from here yet.", u"{1} 暂不支持配置。"), key);
    case Id::alertReasonNoConfigFolder:
      return t(u"No configuration folder was found.", u"未找到配置目录。").toString();
    case Id::alertReasonStillRunning:
      return fill(t(u"{1} process(es) still running after SIGKILL: {2}", u"SIGKILL 后仍有 {1} 个进程在：{2}"), key);
    case Id::alertOpenFailBody:
      return fill(t(u"{1}. Select it below to copy it and open it yourself.", u"{1}。可在下方选中复制，自行打开。"), key);
    case Id::alertOpenerNotStarted:
      return fill(t(u"The desktop's opener, xdg-open, could not be started ({1})", u"无法启动桌面打开程序 xdg-open（{1}）"), key);
    case Id::alertOpenerFailed:
      return fill(t(u"No program on this desktop opened it (xdg-open ended with status {1})",
                    u"此桌面上没有程序打开它（xdg-open 以状态 {1} 结束）"), key);
    case Id::alertLaunchUnsupportedBody:
      return t(u"The registry gives no way to launch this agent.", u"注册表没有给这个 Agent 配置启动方式。").toString();
    case Id::alertOpenLinkFailTitle:
      return t(u"Couldn't open the link", u"无法打开链接").toString();
    case Id::alertOpenFolderFailTitle:
      return t(u"Couldn't open the folder", u"无法打开文件夹").toString();
    case Id::alertOpenNotAnAddress:
      return t(u"It is not a web address", u"这不是有效的网址").toString();
    // help
    case Id::helpRowLaunch:
      return fill(t(u"Launch {1}", u"启动 {1}"), key);
    case Id::helpRefreshList:
      return t(u"Refresh list", u"刷新列表").toString();
    case Id::helpBackupVolumeReveal:
      return t(u"Show the backup image in your file manager", u"在文件管理器中显示备份卷").toString();
    case Id::helpRowFaulted:
      return t(u"Click to view fault details", u"点击查看故障详情").toString();
    case Id::helpRowDetail:
      return t(u"Click for details (open / stop / restart, etc.)", u"点击进入详情（打开 / 退出 / 重启等）").toString();
    // agent
    case Id::agentRestartConfirmTitle:
      return fill(t(u"Restart {1}?", u"重启 {1}？"), key);
    case Id::agentKindApp:
      return t(u"App", u"App").toString();
    case Id::agentKindCli:
      return t(u"CLI", u"CLI").toString();
    case Id::agentKindPlugin:
      return t(u"Plugin", u"插件").toString();
    // dash
    case Id::dashAddAgentTooltip:
      return t(u"Add Agent", u"添加 Agent").toString();
    case Id::dashSettingsTooltip:
      return t(u"Settings", u"设置").toString();
    case Id::dashEmptyHint:
      return t(u"Click + at the top-right to install an agent", u"点击右上角「+」安装 Agent").toString();
    case Id::dashBackupTooltip:
      return t(u"Backup & Restore", u"备份与恢复").toString();
    // feedback
    case Id::updateNoticeTitle:
      return fill(t(u"Tollamere {1} is available", u"Tollamere {1} 可用"), key);
    case Id::updateNoticeForcedTitle:
      return fill(t(u"Tollamere must be updated to {1}", u"Tollamere 必须更新到 {1}"), key);
    case Id::updateNoticeBody:
      return fill(t(u"Download: {1}", u"下载：{1}"), key);
    case Id::feedbackBodyTemplate:
      return fill(t(u"Describe what went wrong or what you'd like to see:\n\n\n---\nVersion: {1}\n",
                    u"请描述你遇到的问题或想要的功能：\n\n\n---\n版本：{1}\n"), key);
    case Id::feedbackHint:
      return t(u"Missing agent? Found a bug? Have a feature request?", u"Agent 没识别？发现 bug？或者想要新功能？").toString();
    case Id::feedbackButton:
      return t(u"Send email feedback", u"发邮件反馈").toString();
    case Id::feedbackSubject:
      return t(u"Tollamere · Feedback", u"Tollamere · 反馈").toString();
    // status
    case Id::statusRunning:
      return t(u"Running", u"运行中").toString();
    case Id::statusRunningInstances:
      return fill(t(u"Running ×{1}", u"运行中 ×{1}"), key);
    case Id::statusStopped:
      return t(u"Stopped", u"未运行").toString();
    case Id::statusFaulted:
      return t(u"Faulted", u"有故障").toString();
    case Id::statusBarOpen:
      return t(u"Open Tollamere", u"打开 Tollamere").toString();
    case Id::statusBarQuit:
      return t(u"Quit Tollamere", u"退出 Tollamere").toString();
    case Id::statusRunningUnreached:
      return t(u"Tollamere is already running but did not answer, so its window could not be brought forward.",
               u"Tollamere 已在运行，但没有应答，无法把它的窗口带到前面。").toString();
    // vault
    case Id::vaultPasswordPrompt:
      return t(u"Enter the encrypted backup image password", u"请输入加密备份卷的密码").toString();
    case Id::vaultPasswordIntro:
      return t(u"Enter it once — this computer remembers it for automatic backups.", u"输入一次后本机记住，以后备份自动跑。").toString();
    case Id::vaultPasswordConfirm:
      return t(u"Confirm", u"确认").toString();
    case Id::vaultPasswordCancel:
      return t(u"Cancel", u"取消").toString();
    case Id::vaultUnlockForBackup:
      return t(u"Unlock the encrypted backup image to start the backup",
               u"解锁加密备份卷以开始备份").toString();
    case Id::vaultUnlockForRestore:
      return t(u"Unlock the encrypted backup image to start the restore",
               u"解锁加密备份卷以开始恢复").toString();
    // appearance
    case Id::appearanceSystem:
      return t(u"System", u"跟随系统").toString();
    case Id::appearanceLight:
      return t(u"Light", u"浅色").toString();
    case Id::appearanceDark:
      return t(u"Dark", u"深色").toString();
    // hero
    case Id::heroSubMixed:
      if (english)
        return fill(key.integer(2) != 0
                        ? u"Guarding {2} · {1} running · {3} locked"
                        : u"Guarding {2} · {1} running", key);
      return fill(key.integer(2) != 0 ? u"守护 {2} 个 · {1} 个运行中 · {3} 个锁定在线" : u"守护 {2} 个 · {1} 个运行中", key);
    case Id::heroSubEmpty:
      return t(u"No agents", u"暂无 Agent").toString();
    case Id::heroTagline:
      return t(u"Guardian for your AI agents.", u"为 AI Agent 保驾护航").toString();
    // sheet
    case Id::sheetCancel:
      return t(u"Cancel", u"取消").toString();
    case Id::sheetDone:
      return t(u"Done", u"完成").toString();
    case Id::sheetDontClose:
      return t(u"Don't close this window…", u"请不要关闭窗口…").toString();
    case Id::sheetDetails:
      return t(u"Details", u"详情").toString();
    // embedded
    case Id::embeddedCliTitle:
      return fill(t(u"Embedded CLI: {1}", u"内嵌 CLI：{1}"), key);
    case Id::embeddedCliSubtitle:
      return fill(t(u"PID {1} · No need to manage separately", u"PID {1} · 无需单独管理"), key);
    // legal
    case Id::legalPrivacyTitle:
      return t(u"Privacy Policy", u"隐私政策").toString();
    case Id::legalTermsTitle:
      return t(u"Terms of Service", u"用户协议").toString();
    case Id::legalPrivacyText:
      return t(u"Tollamere runs on your computer and watches over the AI agents installed on it. What it records stays on "
               u"this computer.\n\n"
               u"Kept on your computer\n"
               u"• Each agent's event log (starts, exits, recoveries, hangs) and your settings, in Tollamere's settings file "
               u"under ~/.config/Tollamere.\n"
               u"• The network log — one entry for each update check, backup and restore, with its time, size and result — in "
               u"Tollamere's application folder, ~/.local/share/Tollamere. Entries older than 90 days are removed.\n"
               u"• Backups of your agents' data, only inside the encrypted backup image that you create with your own "
               u"password. Tollamere never uploads them.\n\n"
               u"Sent from your computer\n"
               u"• The update check sends Tollamere's application id, its version, an install id (a random identifier made on "
               u"this computer), the update channel and the reason for the check, together with the platform name and the "
               u"kernel release, to Tollamere's update service. When the answer names an announcement, its picture is "
               u"downloaded from the address given.\n"
               u"• Nothing else leaves your computer: no agent data, file names, logs or personal information.\n\n"
               u"Commands you run from Tollamere (installing, diagnosing or fixing an agent) are the agents' own tools and may "
               u"use the network as those tools do.\n\n"
               u"To remove everything Tollamere keeps, quit it and delete the two folders named above.",
               u"Tollamere 运行在你的电脑上，守护这台电脑上安装的 AI Agent。它记录的内容都留在这台电脑上。\n\n"
               u"保存在你的电脑上\n"
               u"• 每个 Agent 的事件记录（启动、退出、恢复、卡死）和你的设置，保存在 ~/.config/Tollamere 下的设置文件里。\n"
               u"• 网络记录——每次检查更新、备份和恢复各一条，含时间、大小和结果——保存在应用目录 ~/.local/share/Tollamere 里，"
               u"超过 90 天的记录会被删除。\n"
               u"• Agent 数据的备份只写进你用自己的密码创建的加密备份镜像里，Tollamere 从不上传。\n\n"
               u"从你的电脑发出\n"
               u"• 检查更新时，Tollamere 向它的更新服务发送应用 ID、版本、安装 ID（在这台电脑上随机生成的标识）、更新渠道和检查原因，"
               u"以及平台名称和内核版本。如果回复里带有公告，会从给出的地址下载公告图片。\n"
               u"• 除此之外不发送任何内容：没有 Agent 数据、文件名、日志或个人信息。\n\n"
               u"你在 Tollamere 里运行的命令（安装、诊断或修复 Agent）是这些 Agent 自己的工具，它们会像平时一样使用网络。\n\n"
               u"要删除 Tollamere 保存的全部内容，请退出 Tollamere，然后删除上面提到的两个目录。").toString();
    case Id::legalTermsText:
      return t(u"By using Tollamere you agree to these terms.\n\n"
               u"1. What Tollamere does. It finds the AI agents installed on this computer, watches them, relaunches them after "
               u"a crash under its recovery rules, and starts, stops and restarts them when you ask. When you ask, it runs the "
               u"install, uninstall, doctor and fix commands listed in its agent registry, as your user.\n\n"
               u"2. Your responsibility. Those commands and fixes can change programs and files on this computer. Read what a "
               u"step will do before you confirm it. Uninstalling removes the files and folders you select; Tollamere cannot "
               u"bring them back.\n\n"
               u"3. Backups. Backups are encrypted with the password you choose. Without that password they cannot be opened "
               u"or restored, by you or by us. Keep it safe.\n\n"
               u"4. Other software. The agents are made by others and are used under their own terms.\n\n"
               u"5. No warranty. Tollamere is provided as it is, without warranty of any kind. To the extent the law allows, "
               u"its makers are not liable for lost data or other damage arising from its use.\n\n"
               u"6. Changes. These terms may change with a new version; the version you run shows the terms that apply to it.",
               u"使用 Tollamere 即表示你同意以下条款。\n\n"
               u"1. Tollamere 做什么。它找出这台电脑上安装的 AI Agent 并守护它们：崩溃后按恢复规则重新启动，按你的要求启动、停止和重启。"
               u"在你要求时，它以你的用户身份运行 Agent 注册表里列出的安装、卸载、诊断和修复命令。\n\n"
               u"2. 你的责任。这些命令和修复会改动这台电脑上的程序和文件。确认之前请先看清每一步会做什么。卸载会删除你选中的文件和目录，"
               u"Tollamere 无法恢复它们。\n\n"
               u"3. 备份。备份用你设置的密码加密。没有这个密码，任何人（包括你和我们）都无法打开或恢复备份。请妥善保管密码。\n\n"
               u"4. 其他软件。各个 Agent 由其他厂商开发，按它们各自的条款使用。\n\n"
               u"5. 不提供担保。Tollamere 按现状提供，不附带任何形式的担保。在法律允许的范围内，开发者不对使用它造成的数据丢失或其他损失负责。\n\n"
               u"6. 条款变更。条款可能随新版本变更；你正在运行的版本显示适用于它的条款。").toString();
    // setup
    case Id::setupHintOpenInFinder:
      return fill(t(u"Open ~/{1} in your file manager", u"在文件管理器中打开 ~/{1}"), key);
    case Id::setupConfigDirFallback:
      return t(u"config directory", u"配置目录").toString();
    // about
    case Id::aboutTagline:
      return t(u"Guarding your AI agents", u"为 AI Agent 保驾护航").toString();
    // brand
    case Id::brandName:
      return t(u"Tollamere", u"Tollamere").toString();
    // empty
    case Id::empty:
      return {};
    // more
    case Id::moreProductsPlaceholder:
      return t(u"More products coming soon", u"更多产品敬请期待").toString();
    // panel
    case Id::panelLiveStatus:
      return t(u"Live status", u"实时状态").toString();
    // resource
    case Id::resourceRunawayDetails:
      if (english) return fill(isCpu(key) ? u"{1} high for too long: {2}%" : u"{1} high for too long: {2} MB", key);
      return fill(isCpu(key) ? u"{1} 长时间偏高：{2}%" : u"{1} 长时间偏高：{2} MB", key);
    // storage
    case Id::storageLocal:
      return t(u"Local Backup", u"本机备份").toString();
  }
  return QString();
}



}  // namespace tlr::LocTexts
