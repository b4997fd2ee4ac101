#include "ui/shell/UpdateAnnouncement.h"

#include "platform/Log.h"
#include "platform/Notifier.h"
#include "service/VornelAppSDK.h"

namespace tlr {

QString updateAnnouncementTitle(const VornelUpdate& update) {
  return update.force ? QStringLiteral("Tollamere 必须更新到 ") + update.latest_version
                      : QStringLiteral("Tollamere ") + update.latest_version + QStringLiteral(" 可用");
}

QString updateAnnouncementBody(const VornelUpdate& update) {
  return QStringLiteral("下载：") + update.download_url;
}

void announceUpdate(const VornelUpdate& update) {
  log("[Vornel] ", QStringLiteral("update available: ") + update.latest_version + QStringLiteral(" force=") +
                       (update.force ? QStringLiteral("true") : QStringLiteral("false")));
  showDesktopNotification(updateAnnouncementTitle(update), updateAnnouncementBody(update));
}

}  // namespace tlr
