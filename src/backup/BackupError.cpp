#include "backup/BackupError.h"

namespace tlr {
namespace {

using Case = BackupErrorCase;

const QString kBusy = QStringLiteral("已有备份正在进行中");
const QString kNothingToBackUp = QStringLiteral("所有 Agent 都没有可备份的内容");
const QString kNotSetUp = QStringLiteral("加密备份卷未初始化。请到「备份与恢复」面板先设置加密卷。");

qint64 megabytes(const BackupError& error) { return error.bytes.value_or(0) / 1048576; }

}  // namespace

QString describe(const BackupError& error) {
  const QString& payload = error.payload;
  switch (error.kind) {
    case Case::scanFailed: return QStringLiteral("扫描失败：") + payload;
    case Case::packFailed: return QStringLiteral("打包失败：") + payload;
    case Case::writeFailed: return QStringLiteral("写入失败：") + payload;
    case Case::oversize:
      return QStringLiteral("备份过大（") + QString::number(megabytes(error)) +
             QStringLiteral(" MB > 500 MB），请检查是否有异常大文件");
    case Case::noAgentsInstalled: return QStringLiteral("没有已安装的 Agent，没什么可备份");
    // Refused because the volume is in use: nothing was scanned.
    case Case::busy: return kBusy;
    case Case::nothingToBackUp: return QStringLiteral("扫描失败：") + kNothingToBackUp;
    case Case::notSetUp: return QStringLiteral("写入失败：") + kNotSetUp;
    case Case::passedOn: return payload;
  }
  return payload;
}

QString formOf(const BackupError& error) {
  // Every case with a value names it, an empty one too.
  auto named = [](const char* name, const QString& value) {
    return QString::fromLatin1(name) + QStringLiteral("(\"") + value + QStringLiteral("\")");
  };
  const QString& payload = error.payload;
  switch (error.kind) {
    case Case::scanFailed: return named("scanFailed", payload);
    case Case::packFailed: return named("packFailed", payload);
    case Case::writeFailed: return named("writeFailed", payload);
    case Case::oversize: return QStringLiteral("oversize(%1)").arg(error.bytes.value_or(0));
    case Case::noAgentsInstalled: return QStringLiteral("noAgentsInstalled");
    case Case::busy: return named("scanFailed", kBusy);
    case Case::nothingToBackUp: return named("scanFailed", kNothingToBackUp);
    case Case::notSetUp: return named("writeFailed", kNotSetUp);
    case Case::passedOn: return payload;
  }
  return payload;
}

EngineMessage shownAs(const BackupError& error) {
  const QString& payload = error.payload;
  switch (error.kind) {
    case Case::scanFailed: return {LocKey::backupErrScan(), payload};
    case Case::packFailed: return {LocKey::backupErrPack(), payload};
    case Case::writeFailed: return {LocKey::backupErrWrite(), payload};
    case Case::oversize: return {LocKey::backupErrOversize(megabytes(error)), {}, false};
    case Case::noAgentsInstalled: return {LocKey::backupErrNoAgents(), {}, false};
    case Case::busy: return EngineMessage::busy();
    case Case::nothingToBackUp: return {LocKey::backupErrNothingToBackUp(), {}, false};
    case Case::notSetUp: return {LocKey::backupErrNotSetUp(), {}, false};
    case Case::passedOn: return {LocKey::backupErrFailed(), payload};
  }
  return {LocKey::backupErrFailed(), payload};
}

}  // namespace tlr
