#include "core/agents/SetupActionRunner.h"

#include "core/texts/LocTexts.h"

#include "core/system/DesktopOpen.h"
#include "platform/Log.h"

#include <QDir>
#include <QFileInfo>

namespace tlr {
namespace {

QString lastComponent(const QString& path) { return QFileInfo(QDir::cleanPath(path)).fileName(); }

}  // namespace

SetupActionRunner::Opened SetupActionRunner::openConfigDir(const QList<QUrl>& dirs) {
  if (dirs.isEmpty()) return {false, LocKey::alertReasonNoConfigFolder()};

  QString shown;
  std::optional<LocKey> message;
  for (const QUrl& url : dirs) {
    const QString path = url.toLocalFile();
    if (!path.isEmpty() && QFileInfo::exists(path)) {
      shown = path;
      message = LocKey::setupFolderShown(lastComponent(path));
      break;
    }
  }
  if (shown.isEmpty()) {
    // Nothing there yet: the most preferred folder is made for the user to
    // fill. A folder that cannot be made is still asked for.
    shown = dirs.first().toLocalFile();
    QDir().mkpath(shown);
    message = LocKey::setupFolderCreated(lastComponent(shown));
  }
  // File managers cannot be asked to select an item, so the folder itself is
  // opened rather than its parent.
  // A desktop without a file manager is said, not taken for an opened
  // folder.
  if (const std::optional<LocKey> reason = DesktopOpen::folderNow(shown)) {
    log("[Setup] ", LocTexts::text(AppLanguage::zh, *reason));
    return {false, *reason};
  }
  return {true, *message};
}

}  // namespace tlr
