// The text table: one row for each text of the user interface, holding its
// key, the values it carries and its text in English and in Chinese.
// Everything else about a key is made from its row: its enumerator and name
// and the factory that builds it with typed values (LocKey.h, LocKey.cpp),
// the lookup and the checks (LocTexts.cpp). Adding a text is adding a row.
//
//   TLR_TEXT(key, (values), English, Chinese)
//   TLR_COUNTED(key, (values), n, English for one, English for any other count, Chinese)
//   TLR_CHOOSE(key, (values), Rule, (English forms), (Chinese forms))
//
// - key: the name code writes (`LocKey::key(…)`) and events store, so a key
//   that has been shown keeps its name and its values' order for good.
// - (values): the factory's parameters, at most three, each a `QString`, a
//   `LocInt` (a whole number), a `LocInt32` (a process id, an exit status,
//   an error number) or a `LocSeconds` (a duration shown with one decimal
//   place); `()` for a text without values.
// - the texts: u"…" literals (adjacent ones join); a value is inserted at
//   "{1}", "{2}", "{3}" in the order of the parameters. A text holds no
//   other braces.
// - TLR_COUNTED: the English for one when value n (1 to 3) is 1, the other
//   English otherwise; the Chinese serves every count.
// - TLR_CHOOSE: a rule of LocRows.h picks one form by the values; each
//   language gives one form for each case of the rule, or one for all.
//
// Checked when the table compiles: every key has a text in both languages;
// each "{n}" names a value the key carries, and every value appears in its
// English and in its Chinese text; values are of the four kinds above; a
// counted value is a whole number; a choice gives the forms its rule picks
// from.
//
// This file has no include guard: each includer defines TLR_TEXT,
// TLR_COUNTED and TLR_CHOOSE, or one TLR_LOC_ROW(key, (values), ...) for all
// three, and includes it; it undefines them at its end.

#ifdef TLR_LOC_ROW
#define TLR_TEXT TLR_LOC_ROW
#define TLR_COUNTED TLR_LOC_ROW
#define TLR_CHOOSE TLR_LOC_ROW
#endif

// restart
TLR_TEXT(restartHintCmd, (QString command),
    u"Will run: `{1}`",
    u"将运行：`{1}`")
TLR_TEXT(restartConfirmGateway, (QString command),
    u"Will run `{1}`. Channels briefly disconnect and auto-reconnect.",
    u"将运行 `{1}`，channel 会短暂断开自动重连。")
TLR_TEXT(restartHeader, (QString name),
    u"=== Restart {1} ===",
    u"=== 重启 {1} ===")
TLR_TEXT(restartFoundPids, (LocInt count, QString pids),
    u"· Found {1} pid(s): {2}",
    u"· 找到 {1} 个 pid：{2}")
TLR_TEXT(restartPermDenied, (LocInt32 error),
    u"denied(errno={1})",
    u"不可访问(errno={1})")
TLR_TEXT(restartSigtermFail, (LocInt32 pid, LocInt32 error),
    u"  - pid {1} SIGTERM failed errno={2}",
    u"  - pid {1} SIGTERM 失败 errno={2}")
TLR_TEXT(restartSurvivors, (LocInt count, QString pids),
    u"· Still {1} survivor(s) {2} → SIGKILL",
    u"· 仍有 {1} 个未退 {2} → SIGKILL")
TLR_TEXT(restartSigkillStillRunning, (LocInt count),
    u"· After SIGKILL still {1} running — abnormal, aborting",
    u"· SIGKILL 后仍有 {1} 个进程在 —— 异常状况，终止重启")
TLR_TEXT(restartNewPidUp, (LocInt32 pid),
    u"· ✓ New instance pid={1} is up and running",
    u"· ✓ 新实例 pid={1} 已启动并在跑")
TLR_TEXT(restartNewSession, (QString command),
    u"· Nothing to continue in its folder: a new session, {1}",
    u"· 该目录没有可继续的会话 → 新会话：{1}")
TLR_TEXT(restartFailedRecover, (QString reason),
    u"· ✗ recover failed: {1}",
    u"· ✗ recover 失败：{1}")
TLR_TEXT(restartGracefulWillRun, (QString command),
    u"· Graceful: will run {1}",
    u"· 优雅档：将运行 {1}")
TLR_TEXT(restartGracefulVerify, (QString command),
    u"· Then verify with: {1}",
    u"· 然后验证：{1}")
TLR_TEXT(restartGracefulFallback, (QString command),
    u"· On verify fail → fallback: {1}",
    u"· 验证失败 → 兜底：{1}")
TLR_TEXT(restartCmdExitCode, (LocInt32 exitCode),
    u"· Command exit code {1}",
    u"· 命令退出码 {1}")
TLR_TEXT(restartCmdTimedOut, (LocInt seconds),
    u"· Command did not finish within {1} s, stopped",
    u"· 命令 {1} 秒内未完成，已中止")
TLR_TEXT(restartVerifyPassed, (QString why),
    u"· ✓ verify passed ({1})",
    u"· ✓ verify 通过（{1}）")
TLR_TEXT(restartVerifyFailed, (QString why),
    u"· verify failed: {1}",
    u"· verify 失败：{1}")
TLR_TEXT(restartFallbackRun, (QString command),
    u"· Fallback: {1}",
    u"· 兜底：{1}")
TLR_TEXT(restartFallbackExit, (LocInt32 exitCode),
    u"· Fallback exit code {1}",
    u"· 兜底退出码 {1}")
TLR_TEXT(restartFallbackTimedOut, (LocInt seconds),
    u"· Fallback did not finish within {1} s, stopped",
    u"· 兜底 {1} 秒内未完成，已中止")
TLR_TEXT(restartFallbackVerifyPassed, (QString why),
    u"· ✓ verify passed after fallback ({1})",
    u"· ✓ 兜底后 verify 通过（{1}）")
TLR_TEXT(restartFallbackVerifyFailed, (QString why),
    u"· Fallback verify still failing: {1}",
    u"· 兜底 verify 仍失败：{1}")
TLR_TEXT(restartReasonGracefulExitNonZero, (LocInt32 exitCode),
    u"Graceful command exited {1}",
    u"优雅命令 exit {1}")
TLR_TEXT(restartReasonTimedOut, (LocInt seconds),
    u"Restart command did not finish within {1} s",
    u"重启命令 {1} 秒内未完成")
TLR_TEXT(restartVerifyExitMismatch, (LocInt32 exitCode, LocInt32 expected),
    u"exit={1}, expected {2}",
    u"exit={1}，期望 {2}")
TLR_TEXT(restartVerifyMissingString, (QString text),
    u"exit OK but output missing \"{1}\"",
    u"exit 通过但输出不含 \"{1}\"")
TLR_TEXT(restartVerifyFalseSuccess, (QString text),
    u"exit OK but output contains \"{1}\" (false positive)",
    u"exit 通过但输出含 \"{1}\"（假成功）")
TLR_TEXT(restartVerifyPass, (LocInt32 exitCode),
    u"exit={1} + string check passed",
    u"exit={1} + 字符串检查通过")
TLR_TEXT(restartVerifyTimedOut, (LocInt seconds),
    u"did not finish within {1} s",
    u"{1} 秒内未完成")
TLR_TEXT(restartBtnFaulted, (),
    u"Restart (issue detected)",
    u"重启（检测到异常）")
TLR_TEXT(restartBtnGateway, (),
    u"Restart Gateway",
    u"重启 Gateway")
TLR_TEXT(restartBtnAgent, (),
    u"Restart Agent",
    u"重启 Agent")
TLR_TEXT(restartHintKill, (),
    u"Will stop and restart the process",
    u"将停止并重新启动该进程")
TLR_TEXT(restartConfirmKill, (),
    u"Active sessions may be lost.",
    u"可能丢失正在处理的会话。")
TLR_TEXT(restartConfirmCancel, (),
    u"Cancel",
    u"取消")
TLR_TEXT(restartConfirmConfirm, (),
    u"Restart",
    u"重启")
TLR_TEXT(restartDryRun, (),
    u"[DRY RUN — not executed]",
    u"[DRY RUN —— 不真执行]")
TLR_TEXT(restartNoGraceful, (),
    u"· This agent has no graceful restart command, using SIGTERM brute force",
    u"· 该 agent 未配置优雅重启命令，走 SIGTERM 暴力档")
TLR_TEXT(restartNotRunning, (),
    u"· Agent not running",
    u"· agent 没在跑")
TLR_TEXT(restartPermAccessible, (),
    u"accessible",
    u"可访问")
TLR_TEXT(restartSimulate, (),
    u"· Simulating: would send SIGTERM → wait 5s → SIGKILL if alive → call recover.recover",
    u"· 模拟：会发 SIGTERM → 等 5s → 没退就 SIGKILL → 调 recover.recover")
TLR_TEXT(restartSendSigterm, (),
    u"· Sending SIGTERM…",
    u"· 发 SIGTERM…")
TLR_TEXT(restartAllExitedGraceful, (),
    u"· All exited (graceful)",
    u"· 全部已退（优雅）")
TLR_TEXT(restartAllKilled, (),
    u"· All exited (force-killed)",
    u"· 全部已退（强杀）")
TLR_TEXT(restartCallRecover, (),
    u"· Calling recover.recover to spawn new instance…",
    u"· 调 recover.recover 启动新实例…")
TLR_TEXT(restartNewPidVanished, (),
    u"· ✗ recover returned launched but scan can't find it — likely crashed",
    u"· ✗ recover 返回 launched 但 scan 看不到 —— 可能闪退")
TLR_TEXT(restartReasonDidntSurvive, (),
    u"New instance didn't survive 2 seconds",
    u"新实例没活过 2 秒")
TLR_TEXT(restartUnsupportedRecover, (),
    u"· ✗ recover does not support this agent",
    u"· ✗ recover 不支持该 agent")
TLR_TEXT(restartReasonNoRecover, (),
    u"agent has no recover strategy",
    u"agent 没配 recover 策略")
TLR_TEXT(restartReasonGracefulFailedVerify, (),
    u"Graceful command ran but verify failed",
    u"优雅命令跑了但 verify 失败")
TLR_TEXT(restartNoVerifyExit0, (),
    u"· (No verify configured, exit=0 means success)",
    u"· （未配 verify，按 exit=0 判定成功）")

// usb
TLR_TEXT(usbAgentCountValue, (LocInt count),
    u"{1}",
    u"{1} 个")
TLR_TEXT(usbStatusExportDone, (QString path),
    u"✓ Written to {1}\n\nOn the new computer: plug in the USB → open Tollamere → \"Import from USB\"",
    u"✓ 已写入 {1}\n\n到新机插上 U 盘 → 打开 Tollamere → 「从 U 盘导入」即可恢复")
TLR_TEXT(usbStatusImportDone, (QString path),
    u"✓ Imported the encrypted backup image into {1}\n\nGo to \"Backup & Restore → Restore from backup\" to finish recovery",
    u"✓ 已将加密备份卷导入 {1}\n\n请到「备份与恢复 → 从备份恢复」走标准恢复流程")
TLR_TEXT(usbExportProgressSize, (QString done, QString total),
    u"{1} / {2}",
    u"{1} / {2}")
TLR_COUNTED(usbExportProgressFiles, (LocInt done, LocInt total), 2,
    u"{1} / {2} file",
    u"{1} / {2} files",
    u"{1} / {2} 个文件")
TLR_TEXT(usbExportSpeed, (QString megabytesPerSecond),
    u"{1} MB/s",
    u"{1} MB/s")
TLR_TEXT(usbExportEtaSeconds, (LocInt seconds),
    u"{1}s left",
    u"剩 {1} 秒")
TLR_TEXT(usbExportEtaMinutes, (LocInt minutes),
    u"{1}m left",
    u"剩 {1} 分钟")
TLR_TEXT(usbAvailableDrives, (),
    u"Available drives",
    u"可用的存储设备")
TLR_TEXT(usbNoDrives, (),
    u"No USB/external drive detected. Plug one in and click refresh.",
    u"还没检测到 U 盘 / 移动硬盘。请插入后点刷新。")
TLR_TEXT(usbHasMigration, (),
    u"Migration package found",
    u"检测到迁移包")
TLR_TEXT(usbPackageDetails, (),
    u"Package details",
    u"迁移包详情")
TLR_TEXT(usbPasswordPrompt, (),
    u"Enter the password of the encrypted backup image",
    u"请输入加密备份卷的密码")
TLR_TEXT(usbPasswordHint, (),
    u"The password you set when you created the backup image on the old computer",
    u"即在旧电脑上创建备份卷时设置的密码")
TLR_TEXT(usbHeaderExport, (),
    u"Export to USB",
    u"导出到 U 盘")
TLR_TEXT(usbHeaderImport, (),
    u"Import from USB",
    u"从 U 盘导入")
TLR_TEXT(usbIntroExport, (),
    u"Copy the encrypted backup image and an install list to a USB drive, then import them on the new computer.",
    u"把加密备份卷和安装清单拷到 U 盘，到新电脑上导入即可。")
TLR_TEXT(usbIntroImport, (),
    u"Plug in a USB drive that holds a Tollamere migration package to bring your backup to this computer.",
    u"插入装有 Tollamere 迁移包的 U 盘，把备份带到这台电脑。")
TLR_TEXT(usbRowSourceDevice, (),
    u"Source device",
    u"来源设备")
TLR_TEXT(usbRowOS, (),
    u"OS version",
    u"系统版本")
TLR_TEXT(usbRowBackupSize, (),
    u"Backup size",
    u"备份大小")
TLR_TEXT(usbRowAgentCount, (),
    u"Agents",
    u"Agent 数量")
TLR_TEXT(usbActionDone, (),
    u"Done",
    u"完成")
TLR_TEXT(usbActionExporting, (),
    u"Exporting…",
    u"正在导出…")
TLR_TEXT(usbActionImporting, (),
    u"Importing…",
    u"正在导入…")
TLR_TEXT(usbActionExport, (),
    u"Export",
    u"开始导出")
TLR_TEXT(usbActionImport, (),
    u"Import",
    u"开始导入")
TLR_TEXT(usbPasswordFieldPlaceholder, (),
    u"Backup image password",
    u"备份卷密码")
TLR_TEXT(usbExportEtaCalculating, (),
    u"Calculating time left…",
    u"正在估算剩余时间…")
TLR_TEXT(usbActionCancel, (),
    u"Cancel",
    u"取消")
TLR_TEXT(usbActionCancelling, (),
    u"Cancelling…",
    u"正在取消…")
TLR_TEXT(usbExportCancelled, (),
    u"Export cancelled",
    u"已取消导出")
TLR_TEXT(usbErrExport, (),
    u"The export failed.",
    u"导出失败")
TLR_TEXT(usbErrImport, (),
    u"The import failed.",
    u"导入失败")
TLR_TEXT(usbErrImportVolumeExists, (),
    u"The import failed: this computer already has a backup image. Back it up or move it away first.",
    u"导入失败：这台电脑上已有备份卷，请先备份或移走它")
TLR_TEXT(usbErrNoBackup, (),
    u"There is no backup yet. Back up once in the backup panel first.",
    u"还没有任何备份，请先在备份面板做一次备份")
TLR_TEXT(usbErrNotWritable, (),
    u"The drive cannot be written. Check its lock switch and its free space.",
    u"U 盘不可写，请检查锁定开关或剩余空间")
TLR_TEXT(usbErrCancelled, (),
    u"Cancelled.",
    u"已取消")
TLR_TEXT(usbErrNoPackage, (),
    u"No Tollamere migration package on this drive.",
    u"U 盘上没找到 Tollamere 迁移包")
TLR_TEXT(usbErrManifest, (),
    u"The migration package's manifest is damaged.",
    u"迁移包元数据损坏")
TLR_TEXT(usbErrStillMounted, (),
    u"The encrypted backup image could not be detached, so nothing was exported.",
    u"加密备份卷无法卸载，没有导出")
TLR_TEXT(usbErrFailed, (),
    u"The operation failed.",
    u"操作失败")
TLR_TEXT(usbRefresh, (),
    u"Refresh",
    u"刷新")

// backup
TLR_TEXT(backupScanResult, (QString summary),
    u"Scanned: {1}",
    u"本次扫描：{1}")
TLR_CHOOSE(backupAgentLocation, (LocInt agents, LocInt locations), FirstTwoCounts,
    (u"{1} agent · {2} location",
     u"{1} agent · {2} locations",
     u"{1} agents · {2} location",
     u"{1} agents · {2} locations"),
    (u"{1} 个 Agent · {2} 个位置"))
TLR_TEXT(backupOccupiedFree, (QString used, QString hostFree),
    u"Used {1}   Host free {2}",
    u"已占 {1}   宿主磁盘剩余 {2}")
TLR_TEXT(backupStatAgentCountValue, (LocInt count),
    u"{1}",
    u"{1} 个")
TLR_TEXT(backupBtnScan, (),
    u"Scan",
    u"扫描")
TLR_TEXT(backupBtnScanning, (),
    u"Scanning…",
    u"扫描中…")
TLR_TEXT(backupBtnBackup, (),
    u"Back up now",
    u"立即备份")
TLR_TEXT(backupBtnNothingToBackup, (),
    u"Nothing to back up",
    u"没有可备份的内容")
TLR_TEXT(backupBtnInProgress, (),
    u"Backing up…",
    u"正在备份…")
TLR_TEXT(backupStagePreparing, (),
    u"Preparing…",
    u"准备中…")
TLR_TEXT(backupStageCopying, (),
    u"Copying files…",
    u"正在复制文件…")
TLR_TEXT(backupStageCompressing, (),
    u"Compressing…",
    u"正在压缩…")
TLR_TEXT(backupStageVerifying, (),
    u"Verifying integrity…",
    u"正在校验完整性…")
TLR_TEXT(backupStageWriting, (),
    u"Writing to encrypted backup image…",
    u"正在写入加密备份卷…")
TLR_TEXT(backupSheetTitle, (),
    u"Backup & Restore",
    u"备份与恢复")
TLR_TEXT(backupNeverBackedUp, (),
    u"Not backed up yet",
    u"还没有备份过")
TLR_TEXT(backupVolumeTitle, (),
    u"Encrypted backup image",
    u"加密备份卷")
TLR_TEXT(backupSetupVolume, (),
    u"Set up encrypted image",
    u"设置加密卷")
TLR_TEXT(backupSetupHint, (),
    u"Set up an encrypted backup image first. Your data stays on this computer.",
    u"请先设置加密备份卷，数据只保存在这台电脑上。")
TLR_TEXT(backupExportUSB, (),
    u"Export to USB",
    u"导出到 U 盘")
TLR_TEXT(backupImportUSB, (),
    u"Import from USB",
    u"从 U 盘导入")
TLR_TEXT(backupRestoreFromBackup, (),
    u"Restore from backup",
    u"从备份恢复")
TLR_TEXT(backupShowInFinder, (),
    u"Show in Files",
    u"在文件管理器中显示")
TLR_TEXT(backupNeverYet, (),
    u"Never",
    u"从未备份")
TLR_TEXT(backupLast, (),
    u"Last backup",
    u"上次备份")
TLR_TEXT(backupStatTime, (),
    u"Time",
    u"时间")
TLR_TEXT(backupStatAgentCount, (),
    u"Agents",
    u"Agent 数")
TLR_TEXT(backupStatSize, (),
    u"Size",
    u"大小")
TLR_TEXT(backupScanScanning, (),
    u"Scanning agent data…",
    u"正在扫描 Agent 数据…")
TLR_TEXT(backupNotSet, (),
    u"Not set up",
    u"未设置")
TLR_TEXT(backupErrBusy, (),
    u"A backup is already running.",
    u"已有备份正在进行中")
TLR_TEXT(backupErrNothingToBackUp, (),
    u"None of the agents has anything to back up.",
    u"所有 Agent 都没有可备份的内容")
TLR_TEXT(backupErrNoAgents, (),
    u"No agent is installed: there is nothing to back up.",
    u"没有已安装的 Agent，没什么可备份")
TLR_TEXT(backupErrScan, (),
    u"Could not scan the agents' data.",
    u"扫描失败")
TLR_TEXT(backupErrPack, (),
    u"Could not pack the backup archive.",
    u"打包失败")
TLR_TEXT(backupErrWrite, (),
    u"Could not write the backup.",
    u"写入失败")
TLR_TEXT(backupErrNotSetUp, (),
    u"The encrypted backup image is not set up yet. Set it up in Backup & Restore first.",
    u"加密备份卷未初始化。请到「备份与恢复」面板先设置加密卷。")
TLR_TEXT(backupErrOversize, (LocInt megabytes),
    u"The backup is too large ({1} MB > 500 MB). Look for unusually large files.",
    u"备份过大（{1} MB > 500 MB），请检查是否有异常大文件")
TLR_TEXT(backupErrFailed, (),
    u"The backup failed.",
    u"备份失败")
TLR_TEXT(backupErrCreateVolume, (),
    u"Could not create the encrypted backup image.",
    u"创建加密卷失败")
TLR_TEXT(backupErrUnlock, (),
    u"Could not unlock the encrypted backup image.",
    u"无法解锁加密备份卷")
TLR_TEXT(backupErrFuseNotPermitted, (),
    u"This user may not use FUSE (/dev/fuse), which the encrypted backup image needs. Ask the administrator to let "
    u"this user use /dev/fuse (often by adding the user to the group that owns it, such as \"fuse\"), then log in "
    u"again and try again.",
    u"当前用户无权使用 FUSE（/dev/fuse），而打开加密备份卷需要它。请让管理员允许此用户使用 /dev/fuse"
    u"（通常是把用户加入拥有它的用户组，例如 fuse），重新登录后再试。")
TLR_TEXT(backupErrWrongPassword, (),
    u"The password is wrong: the encrypted backup image stays locked.",
    u"密码不正确，加密备份卷没有解锁")
TLR_TEXT(backupErrNoPassword, (),
    u"No password was given: the encrypted backup image stays locked.",
    u"没有输入密码，加密备份卷没有解锁")
TLR_TEXT(backupErrVolumeExists, (),
    u"A backup image already exists there; it does not need to be created again.",
    u"备份卷已存在，不需要重新创建")
TLR_TEXT(backupErrVolumeNotSetUp, (),
    u"The backup image has not been set up yet.",
    u"备份卷还没初始化")
TLR_TEXT(backupErrToolMissing, (QString tool, QString package),
    u"{1} is not installed, so the encrypted backup image cannot be opened. Install the package {2} (for example: sudo apt install {2}), then try again.",
    u"没有安装 {1}，无法打开加密备份卷。请先安装软件包 {2}（例如：sudo apt install {2}），然后再试。")
TLR_TEXT(backupErrDetach, (),
    u"The encrypted backup image could not be closed after use, so its decrypted files are still reachable.",
    u"加密备份卷用完后没能卸载，解密后的文件仍可访问。")
TLR_TEXT(backupErrDetachToolMissing, (QString tool, QString package),
    u"The encrypted backup image could not be closed after use: {1} is not installed. Install the package {2} (for example: sudo apt install {2}).",
    u"加密备份卷用完后没能卸载：没有安装 {1}。请安装软件包 {2}（例如：sudo apt install {2}）。")
TLR_TEXT(backupExclusionsNote, (QString patterns),
    u"Left out on purpose (caches and the tools' own program files): {1}",
    u"按设置不备份（缓存和工具自带的程序文件）：{1}")
TLR_TEXT(backupIncomplete, (),
    u"This backup is incomplete.",
    u"此次备份不完整。")
// What a backup left out, one kind of item each: how many, and the first
// paths as one text (a folder too deep also says the deepest level kept).
TLR_COUNTED(backupLeftOutNotRegular, (LocInt count, QString paths), 1,
    u"Not backed up: {1} item that is not a regular file (a link, FIFO or socket): {2}",
    u"Not backed up: {1} items that are not regular files (links, FIFOs or sockets): {2}",
    u"未备份 {1} 项（符号链接、FIFO 或套接字，不是普通文件）：{2}")
TLR_COUNTED(backupLeftOutUnreadable, (LocInt count, QString paths), 1,
    u"Not backed up, not readable: {1} item this user may not read: {2}",
    u"Not backed up, not readable: {1} items this user may not read: {2}",
    u"未备份，无法读取：{1} 项（当前用户没有读取权限）：{2}")
TLR_COUNTED(backupLeftOutTooDeep, (LocInt count, LocInt levels, QString paths), 1,
    u"Not backed up: {1} folder more than {2} levels deep: {3}",
    u"Not backed up: {1} folders more than {2} levels deep: {3}",
    u"未备份 {1} 个文件夹（层级超过 {2} 层）：{3}")
TLR_COUNTED(backupLeftOutChanged, (LocInt count, QString paths), 1,
    u"Changed while it was read, twice: {1} file, stored as read: {2}",
    u"Changed while they were read, twice: {1} files, stored as read: {2}",
    u"读取时一再改变：{1} 个文件，按读到的内容备份：{2}")

// doctor
TLR_TEXT(doctorHintCmd, (QString command),
    u"Will run: `{1}` (read-only, no changes)",
    u"将运行：`{1}`（只读，不修改任何东西）")
TLR_COUNTED(doctorFoundIssues, (LocInt issues), 1,
    u"Found {1} known issue",
    u"Found {1} known issues",
    u"发现 {1} 个已知问题")
TLR_TEXT(doctorExitInfo, (LocInt exitCode, LocSeconds elapsed),
    u"Exit {1} · {2}s",
    u"退出码 {1} · {2}s")
TLR_TEXT(doctorDeeperHint, (QString command),
    u"For deeper diagnosis/fix, run in a terminal: `{1} --fix`",
    u"如要更深入诊断/修复，请到终端运行：`{1} --fix`")
TLR_TEXT(doctorTerminalHint, (QString command),
    u"For deeper diagnosis, run in a terminal: `{1}`",
    u"如需深入诊断，请到终端运行：`{1}`")
TLR_TEXT(doctorFixNoCommand, (QString command, QString word),
    u"Not offered: this version's `{1} --help` lists no `{2}` command",
    u"未提供：此版本的 `{1} --help` 中没有 `{2}` 命令")
TLR_TEXT(doctorFixNoOption, (QString command, QString option),
    u"Not offered: this version's `{1} --help` lists no `{2}` option",
    u"未提供：此版本的 `{1} --help` 中没有 `{2}` 选项")
TLR_TEXT(doctorFixNoHelp, (QString command),
    u"Not offered: `{1} --help` did not answer",
    u"未提供：`{1} --help` 没有回应")
TLR_TEXT(doctorHeaderTitle, (QString name),
    u"{1} · Health check",
    u"{1} · 体检")
TLR_TEXT(doctorOutputExitCode, (LocInt32 exitCode, LocSeconds elapsed),
    u"Exit code: {1}  /  Elapsed: {2}s",
    u"退出码：{1}  /  耗时：{2}s")
TLR_TEXT(doctorOutputStopped, (LocInt seconds),
    u"Stopped: did not finish within {1} s",
    u"已中止：{1} 秒内未完成")
TLR_TEXT(doctorErrUnknownFixKind, (QString kind),
    u"Unknown fix kind: {1}",
    u"未知的 fix kind：{1}")
TLR_TEXT(doctorErrCmdExit, (LocInt32 exitCode, QString output),
    u"Command exited {1}: {2}",
    u"命令退出 {1}：{2}")
TLR_TEXT(doctorErrFileNotFound, (QString path),
    u"File not found: {1}",
    u"文件不存在：{1}")
TLR_TEXT(doctorErrReadFile, (QString error),
    u"Read failed: {1}",
    u"读文件失败：{1}")
TLR_TEXT(doctorErrJSONParse, (QString error),
    u"JSON parse failed: {1}",
    u"JSON 解析失败：{1}")
TLR_TEXT(doctorErrWriteFile, (QString error),
    u"Write failed: {1}",
    u"写文件失败：{1}")
TLR_TEXT(doctorErrCmdTimedOut, (LocInt seconds),
    u"Command did not finish within {1} s",
    u"命令 {1} 秒内未完成")
TLR_TEXT(doctorErrReloadTimedOut, (LocInt seconds),
    u"Reload did not finish within {1} s",
    u"reload 命令 {1} 秒内未完成")
TLR_TEXT(doctorOkUpdated, (QString file, QString changes),
    u"Updated {1}: {2}",
    u"已更新 {1}：{2}")
TLR_TEXT(doctorCheckExitStatus, (LocInt32 exitCode),
    u"Exit code {1}",
    u"退出码 {1}")
TLR_TEXT(doctorCheckTimedOut, (LocInt seconds),
    u"Did not finish within {1} s",
    u"{1} 秒内未完成")
TLR_TEXT(doctorNoResult, (),
    u"No diagnosis result returned",
    u"诊断没有返回结果")
TLR_TEXT(doctorRediagnosing, (),
    u"Re-diagnosing…",
    u"正在重新诊断…")
TLR_TEXT(doctorMatched, (),
    u"Matched:",
    u"命中：")
TLR_TEXT(doctorFixing, (),
    u"Fixing…",
    u"修复中…")
TLR_TEXT(doctorFixed, (),
    u"Fixed",
    u"已修复")
TLR_TEXT(doctorNoIssues, (),
    u"No known issues found",
    u"诊断未发现已知问题")
TLR_TEXT(doctorCheckFailed, (),
    u"The check did not succeed",
    u"检查未成功")
TLR_TEXT(doctorCheckNotRun, (),
    u"Could not be run",
    u"未能运行")
TLR_TEXT(doctorCheckKeeperLost, (),
    u"The check ended the process that ran it: its outcome is unknown, and what it left running was stopped",
    u"检查结束了运行它的进程：结果未知，它留下的进程已结束")
TLR_TEXT(doctorAllFixed, (),
    u"All previous issues fixed — please close and reopen to verify the agent runs normally",
    u"之前的问题已全部修复 —— 建议关闭重开看 agent 是否正常运行")
TLR_TEXT(doctorFullOutput, (),
    u"Full output",
    u"完整输出")
TLR_TEXT(doctorDeeperHintGeneric, (),
    u"For deeper diagnosis, run the agent's doctor in a terminal",
    u"如需深入诊断，请到终端运行该 agent 的 doctor")
TLR_TEXT(doctorRunningLabel, (),
    u"Diagnosing…",
    u"诊断中…")
TLR_TEXT(doctorLabel, (),
    u"Diagnose",
    u"诊断")
TLR_TEXT(doctorFixDisabledHelp, (),
    u"Auto-fix not available here",
    u"当前上下文不支持自动修复")
TLR_TEXT(doctorErrShellMissingCmd, (),
    u"shell fix missing command",
    u"shell fix 缺 command")
TLR_TEXT(doctorErrCmdExitSilent, (LocInt32 exitCode),
    u"Command exited {1}: (no output)",
    u"命令退出 {1}：(无输出)")
TLR_TEXT(doctorErrNotReady, (),
    u"Scanner not ready",
    u"scanner 未就绪")
TLR_TEXT(doctorOkCmdSucceeded, (),
    u"Command succeeded",
    u"命令执行成功")
TLR_TEXT(doctorErrPatchMissingFields, (),
    u"patch-json fix missing file or set",
    u"patch-json fix 缺 file 或 set")
TLR_TEXT(doctorErrJSONNotObject, (),
    u"Top-level is not a JSON object",
    u"顶层不是 JSON 对象")

// first
TLR_TEXT(firstSetupStepLabel, (LocInt step, QString title),
    u"Step {1}/2 · {2}",
    u"第 {1}/2 步 · {2}")
TLR_TEXT(firstSetupTitle, (),
    u"Set up encrypted backup",
    u"设置加密备份")
TLR_TEXT(firstSetupStepChooseLocation, (),
    u"Choose location",
    u"选择位置")
TLR_TEXT(firstSetupStepSetPassword, (),
    u"Set password",
    u"设置密码")
TLR_TEXT(firstSetupIntro, (),
    u"Tollamere keeps your agents' backups in an encrypted image on this computer.",
    u"Tollamere 会把 Agent 的备份存进本机的加密卷。")
TLR_TEXT(firstSetupIntroDetail, (),
    u"Skills, memories, sessions and settings are encrypted with AES-256. Only your password opens them.",
    u"技能、记忆、会话和配置都用 AES-256 加密，只有你的密码能打开。")
TLR_TEXT(firstSetupLocationLabel, (),
    u"Location",
    u"存放位置")
TLR_TEXT(firstSetupLocationHint, (),
    u"The image is a folder that grows as you back up.",
    u"加密卷是一个文件夹，随备份增长。")
TLR_TEXT(firstSetupChangeLocation, (),
    u"Change…",
    u"更改…")
TLR_TEXT(firstSetupNext, (),
    u"Next",
    u"下一步")
TLR_TEXT(firstSetupPasswordTitle, (),
    u"Set a password",
    u"设置密码")
TLR_TEXT(firstSetupPasswordIntro, (),
    u"This password unlocks your backups. If you lose it, the backups cannot be recovered.",
    u"这个密码用来解锁备份。密码丢失后，备份将无法恢复。")
TLR_TEXT(firstSetupPasswordLabel, (),
    u"Password",
    u"密码")
TLR_TEXT(firstSetupPasswordAgain, (),
    u"Confirm password",
    u"确认密码")
TLR_TEXT(firstSetupPasswordMismatch, (),
    u"Passwords don't match",
    u"两次输入不一致")
TLR_TEXT(firstSetupPasswordTooLong, (),
    u"Too long: at most 2,048 bytes (about 680 Chinese characters)",
    u"密码太长：最多 2048 字节（约 680 个汉字）")
TLR_TEXT(firstSetupPrev, (),
    u"Back",
    u"上一步")
TLR_TEXT(firstSetupChooseLocationTitle, (),
    u"Choose where to keep the backup image",
    u"选择备份卷的存放位置")
TLR_TEXT(firstSetupPasswordMinPlaceholder, (),
    u"At least 8 characters",
    u"至少 8 位")
TLR_TEXT(firstSetupPasswordAgainPlaceholder, (),
    u"Enter the password again",
    u"再输入一次密码")
TLR_TEXT(firstSetupCreatingLabel, (),
    u"Creating encrypted image…",
    u"正在创建加密卷…")
TLR_TEXT(firstSetupCreateButton, (),
    u"Create encrypted image",
    u"创建加密卷")
TLR_TEXT(firstSetupPasswordWeakest, (),
    u"Too weak: use at least 8 characters",
    u"太弱：至少需要 8 个字符")
TLR_TEXT(firstSetupPasswordWeak, (),
    u"Weak",
    u"弱")
TLR_TEXT(firstSetupPasswordMedium, (),
    u"Medium",
    u"中等")
TLR_TEXT(firstSetupPasswordStrong, (),
    u"Strong",
    u"强")

// restore
TLR_TEXT(restoreBackupTime, (QString time, QString device),
    u"Backup: {1} · From {2}",
    u"备份时间：{1} · 来自 {2}")
TLR_TEXT(restoreFoundBackup, (),
    u"Found a backup in the encrypted backup image",
    u"在加密备份卷里找到备份")
TLR_TEXT(restoreCrossDeviceBody, (QString device),
    u"This backup is from {1}, not this computer. All data will be restored to this machine.",
    u"这份备份来自 {1}，不是当前这台电脑。恢复后所有数据会落到当前机器。")
TLR_TEXT(restoreOneAgent, (QString name),
    u"Restore {1}",
    u"恢复 {1}")
TLR_TEXT(restoreOneAgentButton, (),
    u"Restore",
    u"恢复")
TLR_TEXT(restoreConfirmOneBody, (QString name),
    u"About to overwrite current {1} data with the backup.\n\n⚠️ This cannot be undone. To keep current data, cancel and back up first.",
    u"即将用备份内容覆盖当前的 {1} 数据。\n\n⚠️ 此操作不可撤销。如果想保留当前数据，请先取消并去主页备份。")
TLR_TEXT(restoreBtnInProgress, (),
    u"Restoring…",
    u"正在恢复…")
TLR_TEXT(restoreStageVerifying, (),
    u"Verifying backup integrity…",
    u"正在校验备份完整性…")
TLR_TEXT(restoreStageExtracting, (),
    u"Extracting…",
    u"正在解压…")
TLR_TEXT(restoreStageSecurityCheck, (),
    u"Security check…",
    u"正在安全检查…")
TLR_TEXT(restoreStageWriting, (),
    u"Writing data…",
    u"正在写入数据…")
TLR_TEXT(restoreFromiCloud, (),
    u"From iCloud",
    u"来自 iCloud")
TLR_TEXT(restoreCrossDevice, (),
    u"Backup from another computer",
    u"来自另一台电脑的备份")
TLR_TEXT(restoreAllAtOnce, (),
    u"Restore all at once",
    u"一键全部恢复")
TLR_TEXT(restoreNoBackup, (),
    u"No backups available",
    u"还没有可恢复的备份")
TLR_TEXT(restoreNoBackupHint, (),
    u"Back up once from the Backup & Restore panel first.",
    u"请先在「备份与恢复」面板做一次备份。")
TLR_TEXT(restoreErrUnpack, (),
    u"Could not unpack the backup.",
    u"解压失败")
TLR_TEXT(restoreErrUnsafePath, (),
    u"Restore refused: the backup holds an unsafe path.",
    u"拒绝恢复：备份里有不安全的路径")
TLR_TEXT(restoreErrUnknownAgent, (QString agent),
    u"Unknown agent: {1}",
    u"未知 Agent：{1}")
TLR_TEXT(restoreErrCopy, (),
    u"Could not put the files back.",
    u"恢复失败：文件没能放回原处")
TLR_TEXT(restoreErrLinkInTheWay, (QString path),
    u"Nothing was restored: {1} is a link, and the restore never writes where a link leads. Move it away, then restore again.",
    u"没有恢复任何文件：{1} 是符号链接，恢复不会写到它指向的地方。请先把它移走，再恢复。")
TLR_TEXT(restoreErrFolderInTheWay, (QString path),
    u"The restore stopped: {1} is a folder where the backup holds a file. Move it away, then restore again.",
    u"恢复中止：{1} 处是文件夹，而备份里这里是文件。请先把它移走，再恢复。")
TLR_TEXT(restoreErrFileInTheWay, (QString path),
    u"The restore stopped: {1} is a file where the backup holds a folder. Move it away, then restore again.",
    u"恢复中止：{1} 处是文件，而备份里这里是文件夹。请先把它移走，再恢复。")
TLR_TEXT(restoreErrNotWritable, (QString places),
    u"Nothing was restored: this user may not write where the backup's files go ({1}). Allow writing there, then restore again.",
    u"没有恢复任何文件：当前用户无权写入备份文件要放回的位置（{1}）。请先允许写入，再恢复。")
TLR_TEXT(restoreErrAgentNotInBackup, (QString agent),
    u"The backup holds no data of {1}.",
    u"备份里没有 {1} 的数据")
TLR_TEXT(restoreErrNoBackup, (),
    u"No backup found. Make a backup first.",
    u"没找到备份。请先创建一份备份。")
TLR_TEXT(restoreErrManifest, (),
    u"The backup's manifest is damaged.",
    u"备份元数据损坏")
TLR_TEXT(restoreErrIntegrity, (),
    u"The backup failed its integrity check: the archive does not match its manifest.",
    u"备份没有通过完整性校验：备份文件与它的清单不符。")
TLR_TEXT(restoreErrDiskFull, (QString folder),
    u"The disk is full, so the restore did not finish: the disk holding {1} has no room left.",
    u"磁盘已满，恢复没有完成：{1} 所在的磁盘没有空间了。")
TLR_TEXT(restoreErrDiskFullNeeds, (QString needed, QString folder),
    u"The disk is full, so the restore did not finish: it needs about {1}, more than the disk holding {2} has.",
    u"磁盘已满，恢复没有完成：恢复需要约 {1}，{2} 所在的磁盘放不下。")
TLR_TEXT(restoreErrDiskFullNeedsFree, (QString needed, QString folder, QString free),
    u"The disk is full, so the restore did not finish: it needs about {1}, and the disk holding {2} has {3} free.",
    u"磁盘已满，恢复没有完成：恢复需要约 {1}，{2} 所在的磁盘只剩 {3}。")
TLR_TEXT(restoreErrFailed, (),
    u"The restore failed.",
    u"恢复失败")
TLR_TEXT(restoreDamagedNewer, (),
    u"A newer backup is damaged and cannot be restored; this is the newest one that can.",
    u"有更新的备份已损坏，无法恢复；这是能恢复的最新一份。")
TLR_TEXT(restoreDamagedOnly, (),
    u"The backup is damaged and cannot be restored",
    u"备份已损坏，无法恢复")
TLR_TEXT(restoreCouldNotRead, (),
    u"The backup could not be read",
    u"无法读取备份")
TLR_TEXT(restoreEnterPasswordAgain, (),
    u"Enter the password again",
    u"重新输入密码")
TLR_TEXT(restoreTryAgain, (),
    u"Try again",
    u"再试一次")
TLR_TEXT(restoreRestoredAll, (),
    u"✓ Restored all agents",
    u"✓ 已恢复全部 Agent")
TLR_TEXT(restoreRestoredOne, (QString agent),
    u"✓ Restored {1}",
    u"✓ 已恢复 {1}")
// A restore that went through but could not put every part of the backup
// back: said instead of the success line, the parts listed below it, each
// with the agent's name, its place and why.
TLR_COUNTED(restoreRestoredAllPartly, (LocInt count), 1,
    u"Restored all agents except {1} part of the backup, which did not come back:",
    u"Restored all agents except {1} parts of the backup, which did not come back:",
    u"已恢复全部 Agent，但备份中有 {1} 项没有恢复：")
TLR_COUNTED(restoreRestoredOnePartly, (LocInt count, QString agent), 1,
    u"Restored {2} except {1} part of the backup, which did not come back:",
    u"Restored {2} except {1} parts of the backup, which did not come back:",
    u"已恢复 {2}，但备份中有 {1} 项没有恢复：")
TLR_TEXT(restoreLeftOutNoPlace, (QString agent, QString path),
    u"{1}: {2} (nothing on this computer says where it goes back)",
    u"{1}：{2}（这台电脑上找不到它该放回的位置）")
TLR_TEXT(restoreLeftOutOutsideHome, (QString agent, QString path),
    u"{1}: {2} (outside the home folder, and this computer's agent list does not name that place)",
    u"{1}：{2}（位于主文件夹之外，这台电脑的 Agent 列表也没有列出这个位置）")
TLR_TEXT(restoreLeftOutNotInArchive, (QString agent, QString path),
    u"{1}: {2} (listed in the backup, but missing from its archive)",
    u"{1}：{2}（备份清单里有，但备份文件里没有）")
TLR_TEXT(restoreLeftOutAgentNotInArchive, (QString agent),
    u"{1}: nothing of it is in the backup's archive",
    u"{1}：备份文件里没有它的任何数据")
TLR_TEXT(restoreConfirmAllTitle, (),
    u"Restore all agents?",
    u"恢复所有 Agent？")
TLR_TEXT(restoreConfirmAllBody, (),
    u"About to overwrite all agents' current data with the backup.\n\n⚠️ This cannot be undone. To keep current data, cancel and back up first.",
    u"即将用备份内容覆盖所有 Agent 的当前数据。\n\n⚠️ 此操作不可撤销。如果想保留当前数据，请先取消并去主页备份。")
TLR_TEXT(restoreConfirmCancel, (),
    u"Cancel",
    u"取消")
TLR_TEXT(restoreConfirmConfirm, (),
    u"Restore",
    u"确认恢复")
TLR_TEXT(restoreConfirmAll, (),
    u"Restore all",
    u"全部恢复")
// A snapshot's counts as the restore list shows them, the unit said with
// its count ("1 skill", "2 skills").
TLR_COUNTED(restoreStatSkillsUnit, (LocInt count), 1,
    u"{1} skill",
    u"{1} skills",
    u"{1} 个技能")
TLR_TEXT(restoreStatMemoryLabel, (),
    u"Memory",
    u"记忆")
TLR_COUNTED(restoreStatTasksUnit, (LocInt count), 1,
    u"{1} task",
    u"{1} tasks",
    u"{1} 个任务")

// detail
TLR_TEXT(detailSetupHint, (QString command),
    u"Will run `{1}` in a terminal — follow the prompts to complete one-time setup",
    u"将在终端运行 `{1}`，按提示完成一次性配置")
TLR_TEXT(detailActionLaunchAgent, (QString name),
    u"Launch {1}",
    u"启动 {1}")
TLR_TEXT(detailDoctorChecking, (QString name),
    u"Checking {1} configuration…",
    u"正在检查 {1} 配置…")
TLR_COUNTED(detailDoctorBannerHasIssuesTitle, (LocInt issues), 1,
    u"Setup complete. Found {1} known issue",
    u"Setup complete. Found {1} known issues",
    u"setup 完成，发现 {1} 个已知问题")
TLR_TEXT(detailDoctorBannerFailedSubtitle, (QString reason),
    u"{1} · click to view the output",
    u"{1} · 点击查看输出")
TLR_TEXT(detailFieldStatus, (),
    u"Status",
    u"状态")
TLR_TEXT(detailFieldRunning, (),
    u"Running",
    u"运行")
TLR_TEXT(detailFieldMemory, (),
    u"Memory",
    u"内存")
TLR_TEXT(detailStatusGuarded, (),
    u"Guarded",
    u"已守护")
TLR_TEXT(detailStatusPaused, (),
    u"Recovery paused",
    u"已暂停接管")
TLR_TEXT(detailMcpSupported, (),
    u"MCP supported",
    u"支持 MCP")
TLR_TEXT(detailMcpNot, (),
    u"MCP not supported",
    u"不支持 MCP")
TLR_TEXT(detailRecentEvents, (),
    u"Recent events",
    u"最近事件")
TLR_TEXT(detailNoEvents, (),
    u"No events yet",
    u"暂无事件记录")
TLR_TEXT(detailUninstallButton, (),
    u"Uninstall",
    u"彻底卸载")
TLR_TEXT(detailUninstallLockHint, (),
    u"Turn off Locked-online to uninstall",
    u"关闭「锁定在线」可卸载")
TLR_TEXT(detailSetupButton, (),
    u"Configure agent",
    u"配置 Agent")
TLR_TEXT(detailSetupOpenFolders, (),
    u"Open config folder",
    u"打开配置目录")
TLR_TEXT(detailActionOpen, (),
    u"Open",
    u"打开")
TLR_TEXT(detailActionOpenDashboard, (),
    u"Open Dashboard",
    u"打开仪表盘")
TLR_TEXT(detailActionOpenTui, (),
    u"Open Console",
    u"打开看板")
TLR_TEXT(detailActionOpenTuiAnotherHint, (QString name, LocInt running),
    u"Starts another {1} session in a new terminal ({2} already running)",
    u"会在新终端里再启动一个 {1} 会话（已有 {2} 个在运行）")
TLR_TEXT(detailActionStop, (),
    u"Stop",
    u"退出")
TLR_TEXT(detailDoctorBannerNoIssuesTitle, (),
    u"Setup complete. No issues detected",
    u"setup 完成，已自动检查无异常")
TLR_TEXT(detailDoctorBannerNoIssuesSubtitle, (),
    u"Agent is ready to use",
    u"agent 现在可以正常使用")
TLR_TEXT(detailDoctorBannerHasIssuesSubtitle, (),
    u"Click to view details and fix",
    u"点击查看详情 + 一键修复")

// install
TLR_TEXT(installSheetTitle, (QString name),
    u"Install {1}",
    u"安装 {1}")
TLR_TEXT(installSheetHowToOpenBody, (QString exec, QString startFile),
    u"Open a new terminal and type `{1}`. Terminals that are already open need `source {2}` first.",
    u"打开新终端直接输 `{1}` 即可使用。已开的终端窗口需先跑 `source {2}`。")
TLR_TEXT(installBootstrapLabel, (QString command),
    u"Auto-installing dependency: {1}",
    u"正在自动安装依赖：{1}")
TLR_TEXT(installBootstrapAgentName, (QString command),
    u"Dependency · {1}",
    u"依赖 · {1}")
// A step's text as a program or the system gave it (a command line, an
// error number's message, what a program printed), the same in both
// languages.
TLR_TEXT(installStepAsIs, (QString text),
    u"{1}",
    u"{1}")
TLR_TEXT(installStepPathAlreadySet, (QString file),
    u"PATH already set up ({1})",
    u"PATH 已配置（{1}）")
TLR_TEXT(installStepPathAdded, (QString file),
    u"Added PATH to {1} (new terminals pick it up)",
    u"已写入 PATH 到 {1}（开新终端即可生效）")
TLR_TEXT(installStepWriteFailed, (QString file),
    u"Could not write {1}",
    u"写入 {1} 失败")
TLR_TEXT(installStepNothingChanged, (QString reason),
    u"{1}, nothing changed",
    u"{1}，未作改动")
TLR_TEXT(installStepNotUtf8, (QString path),
    u"{1}: not valid UTF-8 text, nothing changed",
    u"{1}：不是有效的 UTF-8 文本，未作改动")
TLR_TEXT(installStepReadOnly, (QString path),
    u"{1}: the file is read-only, nothing changed",
    u"{1}：文件是只读的，未作改动")
TLR_TEXT(installStepChangedWhileWritten, (QString path),
    u"{1}: the file changed while it was written, nothing changed",
    u"{1}：文件在写入时被改动，未作改动")
TLR_TEXT(installStepTimedOut, (LocInt minutes),
    u"The command did not finish within {1} minutes and was stopped.\nCommon causes: a slow network, an "
    u"unreachable npm registry, a server that does not answer.\nCheck the network or switch to a mirror "
    u"(npm config set registry …), then try again.",
    u"命令超过 {1} 分钟未完成，已中止。\n常见原因：网络很慢 / npm registry 不通 / 服务器无响应。\n"
    u"请检查网络或换镜像（npm config set registry …）后再试。")
TLR_TEXT(installStepNoOutput, (QString ending),
    u"{1} (no output)",
    u"{1}（无输出）")
TLR_TEXT(installSheetChecking, (),
    u"Checking requirements…",
    u"检查依赖…")
TLR_TEXT(installSheetMissing, (),
    u"Missing requirements",
    u"缺少必要工具")
TLR_TEXT(installSheetRunning, (),
    u"Installing…",
    u"正在安装…")
TLR_TEXT(installSheetSuccess, (),
    u"Installed",
    u"已安装")
TLR_TEXT(installSheetFailed, (),
    u"Install failed",
    u"安装失败")
TLR_TEXT(installSheetHowToOpenTitle, (),
    u"How to open",
    u"怎么打开")
TLR_TEXT(installSheetTerminalOpened, (),
    u"A terminal window opened — follow the prompts to complete the install",
    u"终端已打开，请按其中提示完成安装")
TLR_TEXT(installSheetTerminalFailed, (),
    u"Failed to open a terminal",
    u"无法打开终端")
TLR_TEXT(installSheetClose, (),
    u"Close",
    u"关闭")
TLR_TEXT(installSheetMissingHint, (),
    u"Install these dependencies before this agent can be set up",
    u"装这个 Agent 前，先把下面的依赖准备好")
TLR_TEXT(installSheetMissingFooter, (),
    u"Once done, come back and click [Re-check] to continue",
    u"装完后回到这里，点【重新检查】继续")
TLR_TEXT(installSheetRecheck, (),
    u"Re-check",
    u"重新检查")
TLR_TEXT(installOsascriptFailed, (),
    u"No terminal program could be started",
    u"没能启动终端程序")
TLR_TEXT(installEchoBrewMissing, (),
    u"→ With the system package manager (apt), which may ask for your password",
    u"→ 用系统包管理器（apt）安装，可能会要求输入密码")
TLR_TEXT(installEchoNode, (),
    u"→ Installing Node.js (includes npm)",
    u"→ 装 Node.js（含 npm）")
TLR_TEXT(installTerminalDone, (),
    u"✓ Install complete",
    u"✓ 安装完成")
TLR_TEXT(installTerminalFailed, (),
    u"✗ Install failed: scroll up to read the error",
    u"✗ 安装失败，请向上滚动查看错误信息")

// uninstall
TLR_TEXT(uninstallSheetTitle, (QString name),
    u"Uninstall {1}",
    u"卸载 {1}")
TLR_COUNTED(uninstallSheetWithFailures, (LocInt failures), 1,
    u"Uninstalled ({1} item failed)",
    u"Uninstalled ({1} items failed)",
    u"已卸载（{1} 项未成功）")
TLR_TEXT(uninstallSheetButtonSize, (QString size),
    u"Uninstall ({1})",
    u"彻底卸载（{1}）")
TLR_COUNTED(uninstallSheetAgentRunning, (QString name, LocInt processes), 2,
    u"{1} is running ({2} process). It is stopped before anything is removed.",
    u"{1} is running ({2} processes). They are stopped before anything is removed.",
    u"{1} 正在运行（{2} 个进程），卸载前会先将其停止，再删除文件。")
TLR_TEXT(uninstallStepStop, (QString name),
    u"Stop {1} and its helpers",
    u"停止 {1} 及其辅助进程")
TLR_COUNTED(uninstallWarnBody, (LocInt failures), 1,
    u"{1} item didn't uninstall, for the reason under it:",
    u"{1} items didn't uninstall, each for the reason under it:",
    u"以下 {1} 项没有卸载，原因写在各项下面：")
TLR_TEXT(uninstallWarnMore, (LocInt more),
    u"…and {1} more",
    u"…还有 {1} 项")
TLR_TEXT(uninstallStepNotInstalled, (QString program),
    u"({1} not installed, skipped)",
    u"（{1} 未安装，跳过）")
TLR_TEXT(uninstallStepSkippedPath, (QString path),
    u"(skipped) {1}",
    u"（跳过）{1}")
TLR_TEXT(uninstallStepMountLeft, (QString folders),
    u"left in place: another file system is mounted at {1}, so it and the folders that hold it were not removed",
    u"已保留：{1} 处挂载着另一个文件系统，它和包含它的文件夹都没有删除")
TLR_TEXT(uninstallSheetCommands, (),
    u"Commands",
    u"命令")
TLR_TEXT(uninstallSheetStandard, (),
    u"Standard",
    u"标准")
TLR_TEXT(uninstallSheetUserData, (),
    u"User data",
    u"用户数据")
TLR_TEXT(uninstallSheetNothing, (),
    u"Nothing to uninstall",
    u"无可卸载项")
TLR_TEXT(uninstallSheetMissing, (),
    u"Missing",
    u"不存在")
TLR_TEXT(uninstallRefusedNotAPath, (),
    u"unsafe path, not removed: not a full path (relative, with \"..\" or a NUL character)",
    u"路径不安全，拒绝删除：不是完整路径（相对路径、含“..”或 NUL 字符）")
TLR_TEXT(uninstallRefusedShared, (),
    u"unsafe path, not removed: the home folder, a folder above it or a folder shared by many programs",
    u"路径不安全，拒绝删除：这是主目录、它的上级目录或多个程序共用的文件夹")
TLR_TEXT(uninstallRefusedOutsideHome, (),
    u"unsafe path, not removed: it is outside your home folder",
    u"路径不安全，拒绝删除：它不在你的主目录内")
TLR_TEXT(uninstallRefusedLeavesHome, (),
    u"unsafe path, not removed: a folder on its way is a link that leads out of your home folder",
    u"路径不安全，拒绝删除：路径上的某个文件夹是指向主目录以外的链接")
TLR_TEXT(uninstallSheetRefused, (),
    u"Not removed",
    u"不会删除")
TLR_TEXT(uninstallWarnByHand, (),
    u"These could not be removed (permission denied or file in use). You can remove them yourself in your file manager:",
    u"以下项目没能删除（权限不足或文件被占用），可以自己到文件管理器中删除：")
TLR_TEXT(uninstallSheetRunning, (),
    u"Uninstalling…",
    u"正在卸载…")
TLR_TEXT(uninstallSheetSuccess, (),
    u"Uninstalled",
    u"已卸载")
TLR_TEXT(uninstallSheetButton, (),
    u"Uninstall",
    u"彻底卸载")
TLR_TEXT(uninstallSheetStopAndUninstall, (),
    u"Stop and Uninstall",
    u"停止并卸载")
TLR_TEXT(uninstallWarnTitle, (),
    u"Uninstall incomplete",
    u"卸载未完全成功")
TLR_TEXT(uninstallExecutingHelp, (),
    u"Uninstall in progress — please wait",
    u"卸载进行中，请等完成再关闭")
TLR_TEXT(uninstallStepNotThere, (),
    u"(not there, skipped)",
    u"（不存在，跳过）")

// settings
TLR_TEXT(settingsTitle, (),
    u"Settings",
    u"设置")
TLR_TEXT(settingsSectionAppearance, (),
    u"Appearance",
    u"外观")
TLR_TEXT(settingsSectionLanguage, (),
    u"Language",
    u"语言")
// Each language by its own name, whatever the interface speaks.
TLR_TEXT(settingsLanguageEnglish, (),
    u"English",
    u"English")
TLR_TEXT(settingsLanguageChinese, (),
    u"中文",
    u"中文")
TLR_TEXT(settingsSectionTutorial, (),
    u"Tutorial Center",
    u"教程中心")
TLR_TEXT(settingsTutorialHint, (),
    u"Full agent install, setup, and usage guides — on our website.",
    u"Agent 安装、配置、使用全攻略 — 在我们官网。")
TLR_TEXT(settingsTutorialButton, (),
    u"Open Tutorial Center",
    u"打开教程中心")
TLR_TEXT(settingsSectionFeedback, (),
    u"Feedback",
    u"反馈")
TLR_TEXT(settingsSectionAbout, (),
    u"About",
    u"关于")
TLR_TEXT(settingsSectionMoreProducts, (),
    u"More Products",
    u"更多产品")
TLR_TEXT(settingsSectionSelfGuard, (),
    u"Auto-start & Recovery",
    u"自启动与恢复")
TLR_TEXT(settingsDockSection, (),
    u"Task Bar",
    u"任务栏")
TLR_TEXT(settingsDockToggle, (),
    u"Show in task bar",
    u"在任务栏显示")
TLR_TEXT(settingsDockWarnOn, (),
    u"Make sure you can see Tollamere in the system tray before turning this off",
    u"关闭前请确认系统托盘能看到 Tollamere")
TLR_TEXT(settingsDockWarnOff, (),
    u"Tollamere now lives only in the system tray. Turn this on again if you can't find it",
    u"Tollamere 现在只在系统托盘显示。找不到可以重新打开")
TLR_TEXT(settingsDockWarnOnNoTray, (),
    u"This desktop has no system tray: Tollamere lives in its main window. Start Tollamere again to bring the window forward",
    u"这个桌面没有系统托盘：Tollamere 常驻在主窗口里。再次启动 Tollamere 即可把窗口带到最前面")
TLR_TEXT(settingsDockWarnOffNoTray, (),
    u"The main window stays out of the task bar. Start Tollamere again to bring it forward",
    u"主窗口不在任务栏显示。再次启动 Tollamere 即可把窗口带到最前面")

// event
TLR_TEXT(eventStarted, (),
    u"Started",
    u"开始运行")
TLR_TEXT(eventExitedNormal, (),
    u"Normal exit",
    u"正常退出")
TLR_TEXT(eventExitedAbnormal, (),
    u"Abnormal exit",
    u"异常退出")
TLR_TEXT(eventRecovered, (),
    u"Auto-recovered",
    u"已自动恢复")
TLR_TEXT(eventThrottled, (),
    u"Repeated failures — recovery paused, please check",
    u"反复异常，已暂停接管，请检查处理")
TLR_TEXT(eventRestarted, (),
    u"Restarted, recovery resumed",
    u"已重新启动，恢复接管")
TLR_TEXT(eventKilledByOOM, (),
    u"Killed by system (low memory)",
    u"内存吃紧被系统关闭")
TLR_TEXT(eventOomRecovered, (),
    u"Recovered, but memory is tight",
    u"已恢复，但内存紧张")
TLR_TEXT(eventLockOnlineEnabled, (),
    u"Lock turned on",
    u"开启了锁定在线")
TLR_TEXT(eventLockOnlineDisabled, (),
    u"Lock turned off",
    u"关闭了锁定在线")
TLR_TEXT(eventHangDetected, (),
    u"Unresponsive too long",
    u"长时间无响应")
TLR_TEXT(eventZombieRecovered, (),
    u"Auto-recovered",
    u"已自动恢复")

// metric
TLR_TEXT(metricRunning, (),
    u"Running",
    u"运行中")
TLR_TEXT(metricRunningSub, (),
    u"Live right now",
    u"正在为你服务")
TLR_TEXT(metricLocked, (),
    u"Locked online",
    u"锁定在线")
TLR_TEXT(metricLockedSub, (),
    u"Always recover",
    u"永远救起")
TLR_TEXT(metricFaulted, (),
    u"Faulted",
    u"故障")
TLR_TEXT(metricFaultedSub, (),
    u"Needs attention",
    u"需要关注")
TLR_TEXT(metricFaultedSubOk, (),
    u"All clear",
    u"全部正常")
TLR_TEXT(metricTotal, (),
    u"Total",
    u"共计")
TLR_TEXT(metricTotalSub, (),
    u"Recognized",
    u"已识别")

// self
TLR_TEXT(selfGuardToggle, (),
    u"Auto-start at login",
    u"开机自启")
TLR_TEXT(selfGuardDevDisabled, (),
    u"Not available in dev mode",
    u"开发模式不可用")
TLR_TEXT(selfGuardFirstAlertTitle, (),
    u"Enable auto-start?",
    u"开启自启动？")
TLR_TEXT(selfGuardFirstAlertBody, (),
    u"Tollamere will start at login. You can disable this anytime in settings.",
    u"Tollamere 将开机自启。你随时可以在设置里关闭。")
TLR_TEXT(selfGuardFirstAlertConfirm, (),
    u"Enable",
    u"开启")
TLR_TEXT(selfGuardFirstAlertCancel, (),
    u"Not now",
    u"暂不开启")
TLR_TEXT(selfGuardEnableFailedTitle, (),
    u"Couldn't enable auto-start",
    u"无法开启自启动")
TLR_TEXT(selfGuardEnableFailedBody, (),
    u"The autostart entry could not be written to ~/.config/autostart. Open that folder, make sure you can write to it, and try again.",
    u"无法把自启动项写入 ~/.config/autostart。请打开该文件夹，确认它可以写入后再试一次。")
TLR_TEXT(selfGuardOpenLoginItems, (),
    u"Open autostart folder",
    u"打开自启动文件夹")

// ev
TLR_TEXT(evDetailUserRestart, (LocInt32 newPid),
    u"Manual restart → new pid {1}",
    u"用户主动重启 → 新 pid {1}")
TLR_TEXT(evDetailRestartStuck, (QString pids),
    u"Restart stuck: SIGKILL failed on {1}",
    u"重启卡住：SIGKILL 也杀不掉 {1}")
TLR_TEXT(evDetailRestartFailed, (QString reason),
    u"Restart failed: {1}",
    u"重启失败：{1}")
TLR_TEXT(evDetailDoctorNoIssues, (LocInt32 exitCode),
    u"Diagnosis done, exit {1} · no known issues",
    u"诊断完成 exit={1} · 无已知问题")
TLR_COUNTED(evDetailDoctorIssues, (LocInt32 exitCode, LocInt issues), 2,
    u"Diagnosis done, exit {1} · {2} known issue found",
    u"Diagnosis done, exit {1} · {2} known issues found",
    u"诊断完成 exit={1} · 识别 {2} 个问题")
TLR_TEXT(evDetailDoctorFailed, (LocInt32 exitCode),
    u"Diagnosis did not succeed, exit {1}",
    u"诊断未成功 exit={1}")
TLR_TEXT(evDetailDoctorTimedOut, (LocInt seconds),
    u"Diagnosis did not finish within {1} s",
    u"诊断未完成 · {1} 秒内未结束")
TLR_TEXT(evDetailDoctorKeeperLost, (),
    u"Diagnosis did not finish: it ended the process that ran it",
    u"诊断未完成 · 它结束了运行它的进程")
TLR_TEXT(evDetailFixSucceeded, (QString issueId),
    u"Fix succeeded [{1}]",
    u"修复成功 [{1}]")
TLR_TEXT(evDetailFixFailed, (QString issueId),
    u"Fix failed [{1}]",
    u"修复失败 [{1}]")
TLR_TEXT(evDetailRelaunchDidNotLast, (LocInt seconds),
    u"Recovery failed: relaunched, but not running {1} s later",
    u"恢复失败：已重新启动，但 {1} 秒后已不在运行")
TLR_TEXT(evDetailEndedAtStart, (LocInt status),
    u"Ended at start (exit status {1}); not started again",
    u"启动时即已结束（退出码 {1}），不再自动启动")
TLR_TEXT(evDetailRelaunchFailed, (QString reason),
    u"Recovery failed: {1}",
    u"恢复失败：{1}")
TLR_TEXT(evDetailUserStop, (),
    u"Manual stop",
    u"用户主动退出")
TLR_TEXT(evDetailStopFailed, (),
    u"Stop failed",
    u"退出失败")
TLR_TEXT(evDetailUserLaunch, (),
    u"Manual launch",
    u"用户手动启动")
TLR_TEXT(evDetailSetupCompleted, (),
    u"Setup completed, auto check started",
    u"setup 完成，自动开始体检")
TLR_TEXT(evDetailNoRecoveryStrategy, (),
    u"No recovery strategy available",
    u"无可用恢复策略")
TLR_TEXT(evDetailRecoveryResumed, (),
    u"Running again, recovery resumed",
    u"已再次运行，恢复接管")
TLR_TEXT(evDetailRunawayFallback, (),
    u"High resource usage",
    u"资源占用偏高")
TLR_TEXT(evDetailHangReported, (),
    u"Unresponsive too long (from a hang report)",
    u"进程长时间无响应（来自系统 hang 报告）")
TLR_TEXT(evDetailRestartFailedNoReason, (),
    u"Restart failed",
    u"重启失败")

// dep
TLR_TEXT(depDescNpm, (),
    u"Node.js package manager — most CLIs need it",
    u"Node.js 的包管理器，多数 CLI 都靠它")
TLR_TEXT(depDescPipx, (),
    u"Isolated installer for Python CLI tools",
    u"Python CLI 工具的隔离安装器")
TLR_TEXT(depDescCurl, (),
    u"Command-line downloader (install it with apt)",
    u"命令行下载工具（可用 apt 安装）")
TLR_TEXT(depDescBash, (),
    u"Shell (comes with the system)",
    u"Shell（系统自带）")
TLR_TEXT(depActionAutoInstall, (),
    u"Auto-install",
    u"一键自动装")
TLR_TEXT(depActionTerminalInstall, (),
    u"Install in a terminal",
    u"在终端自动装")
TLR_TEXT(depActionOpenWebsite, (),
    u"Open website",
    u"去官网下载")

// add
TLR_TEXT(addSheetTitle, (),
    u"Add Agent",
    u"添加 Agent")
TLR_TEXT(addSheetNotInstalled, (),
    u"Not installed",
    u"未安装")
TLR_TEXT(addSheetInstalled, (),
    u"Installed",
    u"已安装")
TLR_TEXT(addSheetMoreComing, (),
    u"More agents coming soon…",
    u"更多 Agent 陆续接入中…")
TLR_TEXT(addSheetInstallBtn, (),
    u"Install",
    u"安装")
TLR_TEXT(addSheetInstalledLabel, (),
    u"Installed",
    u"已安装")

// lock
TLR_TEXT(lockOnlineTitle, (),
    u"Locked online",
    u"锁定在线")
TLR_TEXT(lockOnlineIndicator, (),
    u"Locked online",
    u"锁定在线")
TLR_TEXT(lockOffConfirmTitle, (),
    u"Turn off lock?",
    u"关闭锁定？")
TLR_TEXT(lockOffConfirmBody, (),
    u"Future exits will no longer be auto-recovered.",
    u"后续退出将不再自动恢复。")
TLR_TEXT(lockOffConfirmConfirm, (),
    u"Confirm",
    u"确认")
TLR_TEXT(lockOffConfirmCancel, (),
    u"Cancel",
    u"取消")

// onboard
TLR_TEXT(onboardTitle, (),
    u"Tollamere is running 👋",
    u"Tollamere 已启动 👋")
TLR_TEXT(onboardBody, (),
    u"I live in the system tray of your desktop's panel.",
    u"我常驻在桌面面板的系统托盘里。")
TLR_TEXT(onboardWarnTitle, (),
    u"If you can't find me, the tray might be hidden or full",
    u"如果找不到我，系统托盘可能被隐藏或挤满了")
TLR_TEXT(onboardStep1, (),
    u"Quit some tray apps you don't need, to free up space",
    u"先退出一些不用的托盘程序，腾出空间")
TLR_TEXT(onboardStep2, (),
    u"Or start Tollamere again: its window comes to the front",
    u"或者再次启动 Tollamere，它的窗口会来到最前面")
TLR_TEXT(onboardBodyNoTray, (),
    u"This desktop has no system tray, so I live in my main window.",
    u"这个桌面没有系统托盘，所以我常驻在主窗口里。")
TLR_TEXT(onboardWarnTitleNoTray, (),
    u"If you close the window",
    u"如果关掉了窗口")
TLR_TEXT(onboardStep1NoTray, (),
    u"I keep running and keep guarding your agents",
    u"我仍在后台运行，继续守护你的 Agent")
TLR_TEXT(onboardStep2NoTray, (),
    u"Start Tollamere again and the window comes to the front",
    u"再次启动 Tollamere，窗口就会回到最前面")
TLR_TEXT(onboardOK, (),
    u"Got it",
    u"我知道了")

// row
TLR_TEXT(rowOpenTooltipRunning, (QString name),
    u"Bring {1} to front",
    u"前置 {1}")
TLR_TEXT(rowOpenTooltipNotRunning, (QString name),
    u"Launch {1}",
    u"启动 {1}")
TLR_TEXT(rowOpenButton, (),
    u"Open",
    u"打开")
TLR_TEXT(rowStateLaunch, (),
    u"Launch",
    u"启动")

// alert
TLR_TEXT(alertTerminalOpenFailBody, (QString command, QString error),
    u"Tried to open a terminal to run `{1}` but failed.\n\nPossible causes:\n• No terminal program is installed (x-terminal-emulator, gnome-terminal, konsole, xfce4-terminal or xterm)\n• The terminal could not start on this display\n\nError: {2}",
    u"试图打开终端运行 `{1}` 但失败了。\n\n可能原因：\n• 没有安装终端程序（x-terminal-emulator、gnome-terminal、konsole、xfce4-terminal 或 xterm）\n• 终端无法在当前显示上启动\n\n错误：{2}")
TLR_TEXT(alertTerminalCommandEnded, (QString status),
    u"The command has ended (exit status {1}). Press Enter to close this window.",
    u"命令已结束（退出码 {1}）。按回车键关闭此窗口。")
TLR_TEXT(alertSetupOpenFailTitle, (QString name),
    u"Cannot open a terminal to configure {1}",
    u"无法打开终端配置 {1}")
TLR_TEXT(alertTerminalOpenFailTitle, (),
    u"Cannot open a terminal",
    u"无法打开终端")
TLR_TEXT(alertGotIt, (),
    u"Got it",
    u"我知道了")
TLR_TEXT(alertSetupOpenFailBody, (),
    u"Possible causes:\n• No terminal program is installed (x-terminal-emulator, gnome-terminal, konsole, xfce4-terminal or xterm)\n• The terminal could not start on this display\n\nInstall one of them with your package manager (for example `sudo apt install xterm`) and try again.",
    u"可能原因：\n• 没有安装终端程序（x-terminal-emulator、gnome-terminal、konsole、xfce4-terminal 或 xterm）\n• 终端无法在当前显示上启动\n\n请用包管理器安装其中一个（例如 `sudo apt install xterm`）后再试一次。")
TLR_TEXT(alertSetupFailTitle, (QString name),
    u"Cannot configure {1}",
    u"无法配置 {1}")
TLR_TEXT(alertConfigFolderOpenFailTitle, (QString name),
    u"Cannot open the configuration folder of {1}",
    u"无法打开 {1} 的配置目录")
TLR_TEXT(alertLaunchFailTitle, (QString name),
    u"Cannot launch {1}",
    u"无法启动 {1}")
TLR_TEXT(alertFailureReason, (QString error),
    u"Error: {1}",
    u"错误：{1}")
TLR_TEXT(alertReasonNoApp, (),
    u"The registry names no application to launch for this agent.",
    u"注册表没有给这个 Agent 指定要启动的应用。")
TLR_TEXT(alertReasonAppNotFound, (QString appId),
    u"No installed application has the identifier {1}.",
    u"找不到标识为 {1} 的已安装应用。")
TLR_TEXT(alertReasonAppNotStarted, (QString error),
    u"The application could not be started.\n\nError: {1}",
    u"无法启动应用。\n\n错误：{1}")
TLR_TEXT(alertReasonNoCommand, (),
    u"The registry gives no command to launch this agent.",
    u"注册表没有给这个 Agent 配置启动命令。")
TLR_TEXT(alertReasonServiceNotStarted, (QString error),
    u"The service could not be started in the background.\n\nError: {1}",
    u"无法在后台启动服务。\n\n错误：{1}")
TLR_TEXT(alertReasonUnsafeId, (QString id),
    u"The agent id \"{1}\" cannot be used as a file name.",
    u"Agent id「{1}」不能用作文件名。")
TLR_TEXT(alertReasonSetupUnsupported, (QString name),
    u"{1} cannot be configured from here yet.",
    u"{1} 暂不支持配置。")
TLR_TEXT(alertReasonNoConfigFolder, (),
    u"No configuration folder was found.",
    u"未找到配置目录。")
TLR_TEXT(alertReasonStillRunning, (LocInt count, QString pids),
    u"{1} process(es) still running after SIGKILL: {2}",
    u"SIGKILL 后仍有 {1} 个进程在：{2}")
TLR_TEXT(alertOpenFailBody, (QString reason),
    u"{1}. Select it below to copy it and open it yourself.",
    u"{1}。可在下方选中复制，自行打开。")
TLR_TEXT(alertOpenerNotStarted, (QString error),
    u"The desktop's opener, xdg-open, could not be started ({1})",
    u"无法启动桌面打开程序 xdg-open（{1}）")
TLR_TEXT(alertOpenerFailed, (LocInt32 status),
    u"No program on this desktop opened it (xdg-open ended with status {1})",
    u"此桌面上没有程序打开它（xdg-open 以状态 {1} 结束）")
TLR_TEXT(alertLaunchUnsupportedBody, (),
    u"The registry gives no way to launch this agent.",
    u"注册表没有给这个 Agent 配置启动方式。")
TLR_TEXT(alertOpenLinkFailTitle, (),
    u"Couldn't open the link",
    u"无法打开链接")
TLR_TEXT(alertOpenFolderFailTitle, (),
    u"Couldn't open the folder",
    u"无法打开文件夹")
TLR_TEXT(alertOpenNotAnAddress, (),
    u"It is not a web address",
    u"这不是有效的网址")

// help
TLR_TEXT(helpRowLaunch, (QString name),
    u"Launch {1}",
    u"启动 {1}")
TLR_TEXT(helpRefreshList, (),
    u"Refresh list",
    u"刷新列表")
TLR_TEXT(helpBackupVolumeReveal, (),
    u"Show the backup image in your file manager",
    u"在文件管理器中显示备份卷")
TLR_TEXT(helpRowFaulted, (),
    u"Click to view fault details",
    u"点击查看故障详情")
TLR_TEXT(helpRowDetail, (),
    u"Click for details (open / stop / restart, etc.)",
    u"点击进入详情（打开 / 退出 / 重启等）")

// agent
TLR_TEXT(agentRestartConfirmTitle, (QString name),
    u"Restart {1}?",
    u"重启 {1}？")
TLR_TEXT(agentKindApp, (),
    u"App",
    u"App")
TLR_TEXT(agentKindCli, (),
    u"CLI",
    u"CLI")
TLR_TEXT(agentKindPlugin, (),
    u"Plugin",
    u"插件")

// dash
TLR_TEXT(dashAddAgentTooltip, (),
    u"Add Agent",
    u"添加 Agent")
TLR_TEXT(dashSettingsTooltip, (),
    u"Settings",
    u"设置")
TLR_TEXT(dashEmptyHint, (),
    u"Click + at the top-right to install an agent",
    u"点击右上角「+」安装 Agent")
TLR_TEXT(dashBackupTooltip, (),
    u"Backup & Restore",
    u"备份与恢复")

// the desktop notification of an update
TLR_TEXT(updateNoticeTitle, (QString version),
    u"Tollamere {1} is available",
    u"Tollamere {1} 可用")
TLR_TEXT(updateNoticeForcedTitle, (QString version),
    u"Tollamere must be updated to {1}",
    u"Tollamere 必须更新到 {1}")
TLR_TEXT(updateNoticeBody, (QString address),
    u"Download: {1}",
    u"下载：{1}")

// feedback
TLR_TEXT(feedbackBodyTemplate, (QString version),
    u"Describe what went wrong or what you'd like to see:\n\n\n---\nVersion: {1}\n",
    u"请描述你遇到的问题或想要的功能：\n\n\n---\n版本：{1}\n")
TLR_TEXT(feedbackHint, (),
    u"Missing agent? Found a bug? Have a feature request?",
    u"Agent 没识别？发现 bug？或者想要新功能？")
TLR_TEXT(feedbackButton, (),
    u"Send email feedback",
    u"发邮件反馈")
TLR_TEXT(feedbackSubject, (),
    u"Tollamere · Feedback",
    u"Tollamere · 反馈")

// status
TLR_TEXT(statusRunning, (),
    u"Running",
    u"运行中")
TLR_TEXT(statusRunningInstances, (LocInt count),
    u"Running ×{1}",
    u"运行中 ×{1}")
TLR_TEXT(statusFaultedRunning, (LocInt count),
    u"Faulted · {1} running",
    u"有故障 · {1} 个运行中")
TLR_TEXT(statusStopped, (),
    u"Stopped",
    u"未运行")
TLR_TEXT(statusFaulted, (),
    u"Faulted",
    u"有故障")
TLR_TEXT(statusBarOpen, (),
    u"Open Tollamere",
    u"打开 Tollamere")
TLR_TEXT(statusBarQuit, (),
    u"Quit Tollamere",
    u"退出 Tollamere")
TLR_TEXT(statusRunningUnreached, (),
    u"Tollamere is already running but did not answer, so its window could not be brought forward.",
    u"Tollamere 已在运行，但没有应答，无法把它的窗口带到前面。")

// vault
TLR_TEXT(vaultPasswordPrompt, (),
    u"Enter the encrypted backup image password",
    u"请输入加密备份卷的密码")
TLR_TEXT(vaultPasswordIntro, (),
    u"Enter it once — this computer remembers it for automatic backups.",
    u"输入一次后本机记住，以后备份自动跑。")
// The password prompt's two sentences, each ended as its language ends one.
TLR_TEXT(vaultPasswordPromptInformative, (QString prompt, QString intro),
    u"{1}. {2}",
    u"{1}。{2}")
TLR_TEXT(vaultPasswordConfirm, (),
    u"Confirm",
    u"确认")
TLR_TEXT(vaultPasswordCancel, (),
    u"Cancel",
    u"取消")
TLR_TEXT(vaultUnlockForBackup, (),
    u"Unlock the encrypted backup image to start the backup",
    u"解锁加密备份卷以开始备份")
TLR_TEXT(vaultUnlockForRestore, (),
    u"Unlock the encrypted backup image to start the restore",
    u"解锁加密备份卷以开始恢复")

// appearance
TLR_TEXT(appearanceSystem, (),
    u"System",
    u"跟随系统")
TLR_TEXT(appearanceLight, (),
    u"Light",
    u"浅色")
TLR_TEXT(appearanceDark, (),
    u"Dark",
    u"深色")

// hero
TLR_CHOOSE(heroSubMixed, (LocInt running, LocInt total, LocInt locked), ThirdNotZero,
    (u"Guarding {2} · {1} running · {3} locked",
     u"Guarding {2} · {1} running"),
    (u"守护 {2} 个 · {1} 个运行中 · {3} 个锁定在线",
     u"守护 {2} 个 · {1} 个运行中"))
TLR_TEXT(heroSubEmpty, (),
    u"No agents",
    u"暂无 Agent")
TLR_TEXT(heroTagline, (),
    u"Guardian for your AI agents.",
    u"为 AI Agent 保驾护航")

// sheet
TLR_TEXT(sheetCancel, (),
    u"Cancel",
    u"取消")
TLR_TEXT(sheetDone, (),
    u"Done",
    u"完成")
TLR_TEXT(sheetDontClose, (),
    u"Don't close this window…",
    u"请不要关闭窗口…")
TLR_TEXT(sheetDetails, (),
    u"Details",
    u"详情")

// embedded
TLR_TEXT(embeddedCliTitle, (QString name),
    u"Embedded CLI: {1}",
    u"内嵌 CLI：{1}")
TLR_TEXT(embeddedCliSubtitle, (LocInt pid),
    u"PID {1} · No need to manage separately",
    u"PID {1} · 无需单独管理")

// legal
TLR_TEXT(legalPrivacyTitle, (),
    u"Privacy Policy",
    u"隐私政策")
TLR_TEXT(legalTermsTitle, (),
    u"Terms of Service",
    u"用户协议")
TLR_TEXT(legalPrivacyText, (),
    u"Tollamere runs on your computer and watches over the AI agents installed on it. What it records stays on "
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
    u"要删除 Tollamere 保存的全部内容，请退出 Tollamere，然后删除上面提到的两个目录。")
TLR_TEXT(legalTermsText, (),
    u"By using Tollamere you agree to these terms.\n\n"
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
    u"6. 条款变更。条款可能随新版本变更；你正在运行的版本显示适用于它的条款。")

// setup
TLR_TEXT(setupHintOpenInFinder, (QString folder),
    u"Open ~/{1} in your file manager",
    u"在文件管理器中打开 ~/{1}")
// What opening an agent's configuration folder for its setup did.
TLR_TEXT(setupFolderShown, (QString folder),
    u"Opened {1} in the file manager",
    u"已在文件管理器中打开 {1}")
TLR_TEXT(setupFolderCreated, (QString folder),
    u"Created {1} and opened it in the file manager",
    u"已创建并打开 {1}")
TLR_TEXT(setupConfigDirFallback, (),
    u"config directory",
    u"配置目录")

// about
TLR_TEXT(aboutTagline, (),
    u"Guarding your AI agents",
    u"为 AI Agent 保驾护航")

// brand
TLR_TEXT(brandName, (),
    u"Tollamere",
    u"Tollamere")

// empty
TLR_TEXT(empty, (),
    u"",
    u"")

// more
TLR_TEXT(moreProductsPlaceholder, (),
    u"More products coming soon",
    u"更多产品敬请期待")

// panel
TLR_TEXT(panelLiveStatus, (),
    u"Live status",
    u"实时状态")

// resource
TLR_CHOOSE(resourceRunawayDetails, (QString resource, LocInt value), FirstIsCpu,
    (u"{1} high for too long: {2}%",
     u"{1} high for too long: {2} MB"),
    (u"{1} 长时间偏高：{2}%",
     u"{1} 长时间偏高：{2} MB"))

// storage
TLR_TEXT(storageLocal, (),
    u"Local Backup",
    u"本机备份")

#undef TLR_TEXT
#undef TLR_COUNTED
#undef TLR_CHOOSE
#undef TLR_LOC_ROW
