#include "backup/BackupError.h"

namespace tlr {

QString BackupError::description() const {
  switch (kind) {
    case Case::scanFailed: return QStringLiteral("扫描失败：") + payload;
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

}  // namespace tlr
