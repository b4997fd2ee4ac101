#include "backup/RestoreError.h"

#include "backup/BackupVolume.h"

namespace tlr {

RestoreError RestoreError::passOn(const BackupVolumeError& error) {
  return {Case::passedOn, error.localizedDescription(), error.message()};
}

QString RestoreError::description() const {
  switch (kind) {
    case Case::unpackFailed: return QStringLiteral("解压失败：") + payload;
    case Case::pathTraversal: return QStringLiteral("拒绝恢复：检测到非法路径 ") + payload;
    case Case::unknownAgent: return QStringLiteral("未知 Agent: ") + payload;
    case Case::copyFailed: return QStringLiteral("恢复失败：") + payload;
    case Case::agentNotInBackup: return QStringLiteral("备份里没有 ") + payload + QStringLiteral(" 的数据");
    case Case::noBackupFound: return QStringLiteral("iCloud 里没找到备份。请先创建一份备份。");
    case Case::manifestCorrupted: return QStringLiteral("备份元数据损坏");
    case Case::sha256Mismatch: return QStringLiteral("备份完整性校验失败（archive 内容与 manifest 记录不符）");
    case Case::busy: return EngineMessage::busy().chinese;
    case Case::passedOn: return payload;
  }
  return payload;
}

QString RestoreError::textualForm() const {
  auto named = [&](const char* name) {
    return payload.isEmpty() ? QString::fromLatin1(name)
                             : QString::fromLatin1(name) + QStringLiteral("(\"") + payload + QStringLiteral("\")");
  };
  switch (kind) {
    case Case::unpackFailed: return named("unpackFailed");
    case Case::pathTraversal: return named("pathTraversal");
    case Case::unknownAgent: return named("unknownAgent");
    case Case::copyFailed: return named("copyFailed");
    case Case::agentNotInBackup: return named("agentNotInBackup");
    case Case::noBackupFound: return named("noBackupFound");
    case Case::manifestCorrupted: return named("manifestCorrupted");
    case Case::sha256Mismatch: return named("sha256Mismatch");
    case Case::busy: return named("busy");
    case Case::passedOn: return payload;
  }
  return payload;
}

EngineMessage RestoreError::message() const {
  switch (kind) {
    case Case::unpackFailed:
      return {QStringLiteral("解压失败"), QStringLiteral("Could not unpack the backup."), payload};
    case Case::pathTraversal:
      return {QStringLiteral("拒绝恢复：备份里有不安全的路径"),
              QStringLiteral("Restore refused: the backup holds an unsafe path."), payload};
    case Case::unknownAgent:
      return {description(), QStringLiteral("Unknown agent: ") + payload, {}};
    case Case::copyFailed:
      return {QStringLiteral("恢复失败：文件没能放回原处"), QStringLiteral("Could not put the files back."), payload};
    case Case::agentNotInBackup:
      return {description(), QStringLiteral("The backup holds no data of ") + payload + QStringLiteral("."), {}};
    case Case::noBackupFound:
      // The engine's own text names the original platform's storage.
      return {QStringLiteral("没找到备份。请先创建一份备份。"), QStringLiteral("No backup found. Make a backup first."),
              {}};
    case Case::manifestCorrupted:
      return {description(), QStringLiteral("The backup's manifest is damaged."), {}};
    case Case::sha256Mismatch:
      return {description(),
              QStringLiteral("The backup failed its integrity check: the archive does not match its manifest."), {}};
    case Case::busy: return EngineMessage::busy();
    case Case::passedOn:
      if (passed) return *passed;
      return {QStringLiteral("恢复失败"), QStringLiteral("The restore failed."), payload};
  }
  return {description(), description(), {}};
}

}  // namespace tlr
