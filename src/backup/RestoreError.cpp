#include "backup/RestoreError.h"

#include "core/texts/ByteSizeText.h"

#include <algorithm>

namespace tlr {
namespace {

using Case = RestoreErrorCase;

QString size(const std::optional<qint64>& bytes) { return decimalByteCount(static_cast<quint64>(std::max<qint64>(*bytes, 0))); }

}  // namespace

QString describe(const RestoreError& error) {
  const QString& payload = error.payload;
  switch (error.kind) {
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
      if (error.bytes) text += QStringLiteral("，恢复需要约 ") + size(error.bytes);
      if (error.freeBytes) text += QStringLiteral("，可用 ") + size(error.freeBytes);
      return text;
    }
    case Case::passedOn: return payload;
  }
  return payload;
}

QString formOf(const RestoreError& error) {
  const QString& payload = error.payload;
  switch (error.kind) {
    case Case::unpackFailed: return namedCase("unpackFailed", payload);
    case Case::pathTraversal: return namedCase("pathTraversal", payload);
    case Case::unknownAgent: return namedCase("unknownAgent", payload);
    case Case::copyFailed: return namedCase("copyFailed", payload);
    case Case::linkInTheWay: return namedCase("linkInTheWay", payload);
    case Case::folderInTheWay: return namedCase("folderInTheWay", payload);
    case Case::fileInTheWay: return namedCase("fileInTheWay", payload);
    case Case::notWritable: return namedCase("notWritable", payload);
    case Case::agentNotInBackup: return namedCase("agentNotInBackup", payload);
    case Case::noBackupFound: return namedCase("noBackupFound", payload);
    case Case::manifestCorrupted: return namedCase("manifestCorrupted", payload);
    case Case::sha256Mismatch: return namedCase("sha256Mismatch", payload);
    case Case::busy: return namedCase("busy", payload);
    case Case::diskFull: return namedCase("diskFull", payload);
    case Case::passedOn: return payload;
  }
  return payload;
}

EngineMessage shownAs(const RestoreError& error) {
  const QString& payload = error.payload;
  switch (error.kind) {
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
      if (error.bytes && error.freeBytes)
        return {LocKey::restoreErrDiskFullNeedsFree(size(error.bytes), payload, size(error.freeBytes)), {}};
      if (error.bytes) return {LocKey::restoreErrDiskFullNeeds(size(error.bytes), payload), {}};
      return {LocKey::restoreErrDiskFull(payload), {}};
    case Case::passedOn: return {LocKey::restoreErrFailed(), payload};
  }
  return {LocKey::restoreErrFailed(), payload};
}

}  // namespace tlr
