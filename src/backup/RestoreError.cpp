#include "backup/RestoreError.h"

#include "backup/BackupVolume.h"
#include "core/texts/ByteSizeText.h"

#include <algorithm>

namespace tlr {

RestoreError RestoreError::passOn(const BackupVolumeError& error) {
  const bool password = (error.kind == BackupVolumeError::Kind::mountFailed && error.wrongPassword) ||
                        error.kind == BackupVolumeError::Kind::passwordMissing;
  return {Case::passedOn, error.localizedDescription(), error.message(), {}, {}, password};
}

namespace {

QString size(const std::optional<qint64>& bytes) { return decimalByteCount(static_cast<quint64>(std::max<qint64>(*bytes, 0))); }

}  // namespace

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
    case Case::diskFull: {
      QString text = QStringLiteral("磁盘已满：") + payload + QStringLiteral(" 所在的磁盘空间不足");
      if (neededBytes) text += QStringLiteral("，恢复需要约 ") + size(neededBytes);
      if (freeBytes) text += QStringLiteral("，可用 ") + size(freeBytes);
      return text;
    }
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
    case Case::diskFull: return named("diskFull");
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
      return {QStringLiteral("备份没有通过完整性校验：备份文件与它的清单不符。"),
              QStringLiteral("The backup failed its integrity check: the archive does not match its manifest."), {}};
    case Case::busy: return EngineMessage::busy();
    case Case::diskFull: {
      QString chinese = QStringLiteral("磁盘已满，恢复没有完成");
      QString english = QStringLiteral("The disk is full, so the restore did not finish");
      if (neededBytes && freeBytes) {
        chinese += QStringLiteral("：恢复需要约 %1，%2 所在的磁盘只剩 %3。").arg(size(neededBytes), payload, size(freeBytes));
        english += QStringLiteral(": it needs about %1, and the disk holding %2 has %3 free.")
                       .arg(size(neededBytes), payload, size(freeBytes));
      } else if (neededBytes) {
        chinese += QStringLiteral("：恢复需要约 %1，%2 所在的磁盘放不下。").arg(size(neededBytes), payload);
        english += QStringLiteral(": it needs about %1, more than the disk holding %2 has.").arg(size(neededBytes), payload);
      } else {
        chinese += QStringLiteral("：%1 所在的磁盘没有空间了。").arg(payload);
        english += QStringLiteral(": the disk holding %1 has no room left.").arg(payload);
      }
      return {chinese, english, {}};
    }
    case Case::passedOn:
      if (passed) return *passed;
      return {QStringLiteral("恢复失败"), QStringLiteral("The restore failed."), payload};
  }
  return {description(), description(), {}};
}

}  // namespace tlr
