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
    case Case::linkInTheWay: return QStringLiteral("恢复失败：") + payload + QStringLiteral(" 是符号链接：恢复不会写到它指向的地方");
    case Case::folderInTheWay: return QStringLiteral("恢复失败：") + payload + QStringLiteral(" 处是文件夹，无法放回文件");
    case Case::fileInTheWay: return QStringLiteral("恢复失败：") + payload + QStringLiteral(" 处是文件，无法放回文件夹");
    case Case::notWritable: return QStringLiteral("恢复失败：没有写入权限，未做任何更改：") + payload;
    case Case::agentNotInBackup: return QStringLiteral("备份里没有 ") + payload + QStringLiteral(" 的数据");
    case Case::noBackupFound: return QStringLiteral("iCloud 里没找到备份。请先创建一份备份。");
    case Case::manifestCorrupted: return QStringLiteral("备份元数据损坏");
    case Case::sha256Mismatch: return QStringLiteral("备份完整性校验失败（archive 内容与 manifest 记录不符）");
    case Case::busy: return QStringLiteral("已有备份正在进行中");
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
    case Case::linkInTheWay: return named("linkInTheWay");
    case Case::folderInTheWay: return named("folderInTheWay");
    case Case::fileInTheWay: return named("fileInTheWay");
    case Case::notWritable: return named("notWritable");
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
    case Case::unpackFailed: return {LocKey::restoreErrUnpack(), payload};
    // A damaged backup stays damaged: trying again cannot help.
    case Case::pathTraversal: return {LocKey::restoreErrUnsafePath(), payload, false};
    case Case::unknownAgent: return {LocKey::restoreErrUnknownAgent(payload), {}, false};
    case Case::copyFailed: return {LocKey::restoreErrCopy(), payload};
    case Case::linkInTheWay: return {LocKey::restoreErrLinkInTheWay(payload), {}};
    case Case::folderInTheWay: return {LocKey::restoreErrFolderInTheWay(payload), {}};
    case Case::fileInTheWay: return {LocKey::restoreErrFileInTheWay(payload), {}};
    case Case::notWritable: return {LocKey::restoreErrNotWritable(payload), {}};
    case Case::agentNotInBackup: return {LocKey::restoreErrAgentNotInBackup(payload), {}, false};
    case Case::noBackupFound: return {LocKey::restoreErrNoBackup(), {}, false};
    case Case::manifestCorrupted: return {LocKey::restoreErrManifest(), {}, false};
    case Case::sha256Mismatch: return {LocKey::restoreErrIntegrity(), {}, false};
    case Case::busy: return EngineMessage::busy();
    case Case::diskFull:
      if (neededBytes && freeBytes)
        return {LocKey::restoreErrDiskFullNeedsFree(size(neededBytes), payload, size(freeBytes)), {}};
      if (neededBytes) return {LocKey::restoreErrDiskFullNeeds(size(neededBytes), payload), {}};
      return {LocKey::restoreErrDiskFull(payload), {}};
    case Case::passedOn:
      if (passed) return *passed;
      return {LocKey::restoreErrFailed(), payload};
  }
  return {LocKey::restoreErrFailed(), payload};
}

}  // namespace tlr
