#include "core/agents/SetupActionRunner.h"

#include "core/texts/LocTexts.h"

#include "core/stores/SettingsStore.h"
#include "core/system/DesktopOpen.h"
#include "core/texts/Lang.h"
#include "platform/Log.h"

#include <QDir>
#include <QFileInfo>

namespace tlr {
namespace {

QString lastComponent(const QString& path) { return QFileInfo(QDir::cleanPath(path)).fileName(); }

}  // namespace

Expected<QString, QString> SetupActionRunner::openConfigDir(const QList<QUrl>& dirs) {
  if (dirs.isEmpty()) return Unexpected(QStringLiteral("未找到配置目录"));

  QString shown;
  QString message;
  for (const QUrl& url : dirs) {
    const QString path = url.toLocalFile();
    if (!path.isEmpty() && QFileInfo::exists(path)) {
      shown = path;
      message = QStringLiteral("已在 Finder 中打开 ") + lastComponent(path);
      break;
    }
  }
  if (shown.isEmpty()) {
    // Nothing there yet: the most preferred folder is made for the user to
    // fill. A folder that cannot be made is still asked for.
    shown = dirs.first().toLocalFile();
    QDir().mkpath(shown);
    message = QStringLiteral("已创建并打开 ") + lastComponent(shown);
  }
  // File managers cannot be asked to select an item, so the folder itself is
  // opened rather than its parent.
  // A desktop without a file manager is said, not taken for an opened
  // folder.
  if (const std::optional<LocKey> reason = DesktopOpen::folderNow(shown)) {
    const QString error = LocTexts::text(Lang::current(), *reason);
    log("[Setup] ", error);
    return Unexpected(error);
  }
  return message;
}

}  // namespace tlr
