#include "backup/BackupError.h"

#include "backup/BackupVolume.h"

namespace tlr {
namespace {

const QString kBusy = QStringLiteral("已有备份正在进行中");
const QString kNothingToBackUp = QStringLiteral("所有 Agent 都没有可备份的内容");
const QString kNotSetUp = QStringLiteral("加密备份卷未初始化。请到「备份与恢复」面板先设置加密卷。");

}  // namespace

BackupError BackupError::passOn(const BackupVolumeError& error) {
  return {Case::passedOn, error.localizedDescription(), 0, error.message()};
}

BackupError BackupError::busy() { return of(Case::scanFailed, kBusy); }

bool BackupError::isBusy() const { return kind == Case::scanFailed && payload == kBusy; }

QString BackupError::description() const {
  switch (kind) {
    case Case::scanFailed:
      // Refused because the volume is in use: nothing was scanned.
      if (payload == kBusy) return payload;
      return QStringLiteral("扫描失败：") + payload;
    case Case::packFailed: return QStringLiteral("打包失败：") + payload;
    case Case::writeFailed: return QStringLiteral("写入失败：") + payload;
    case Case::oversize:
      return QStringLiteral("备份过大（") + QString::number(bytes / 1048576) +
             QStringLiteral(" MB > 500 MB），请检查是否有异常大文件");
    case Case::noAgentsInstalled: return QStringLiteral("没有已安装的 Agent，没什么可备份");
    case Case::passedOn: return payload;
  }
  return payload;
}

QString BackupError::textualForm() const {
  auto named = [&](const char* name, const QString& value) {
    return QString::fromLatin1(name) + QStringLiteral("(\"") + value + QStringLiteral("\")");
  };
  switch (kind) {
    case Case::scanFailed: return named("scanFailed", payload);
    case Case::packFailed: return named("packFailed", payload);
    case Case::writeFailed: return named("writeFailed", payload);
    case Case::oversize: return QStringLiteral("oversize(%1)").arg(bytes);
    case Case::noAgentsInstalled: return QStringLiteral("noAgentsInstalled");
    case Case::passedOn: return payload;
  }
  return payload;
}

EngineMessage BackupError::message() const {
  switch (kind) {
    case Case::scanFailed:
      if (payload == kBusy) return EngineMessage::busy();
      if (payload == kNothingToBackUp)
        return {kNothingToBackUp, QStringLiteral("None of the agents has anything to back up."), {}};
      return {QStringLiteral("扫描失败"), QStringLiteral("Could not scan the agents' data."), payload};
    case Case::packFailed:
      return {QStringLiteral("打包失败"), QStringLiteral("Could not pack the backup archive."), payload};
    case Case::writeFailed:
      if (payload == kNotSetUp)
        return {kNotSetUp,
                QStringLiteral("The encrypted backup volume is not set up yet. Set it up in Backup & Restore first."),
                {}};
      return {QStringLiteral("写入失败"), QStringLiteral("Could not write the backup."), payload};
    case Case::oversize:
      return {description(),
              QStringLiteral("The backup is too large (%1 MB > 500 MB). Look for unusually large files.")
                  .arg(bytes / 1048576),
              {}};
    case Case::noAgentsInstalled:
      return {description(), QStringLiteral("No agent is installed: there is nothing to back up."), {}};
    case Case::passedOn:
      if (passed) return *passed;
      return {QStringLiteral("备份失败"), QStringLiteral("The backup failed."), payload};
  }
  return {description(), description(), {}};
}

}  // namespace tlr
