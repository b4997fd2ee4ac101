#include "ui/shell/UpdateAnnouncement.h"

#include "core/texts/Lang.h"
#include "core/texts/LocTexts.h"
#include "platform/Log.h"
#include "platform/Notifier.h"
#include "service/VornelAppSDK.h"

namespace tlr {

QString updateAnnouncementTitle(const VornelUpdate& update, AppLanguage language) {
  return LocTexts::text(language, update.force ? LocKey::updateNoticeForcedTitle(update.latest_version)
                                                : LocKey::updateNoticeTitle(update.latest_version));
}

QString updateAnnouncementBody(const VornelUpdate& update, AppLanguage language) {
  return LocTexts::text(language, LocKey::updateNoticeBody(update.download_url));
}

void announceUpdate(const VornelUpdate& update) {
  log("[Vornel] ", QStringLiteral("update available: ") + update.latest_version + QStringLiteral(" force=") +
                       (update.force ? QStringLiteral("true") : QStringLiteral("false")));
  const AppLanguage language = Lang::current();
  showDesktopNotification(updateAnnouncementTitle(update, language), updateAnnouncementBody(update, language));
}

}  // namespace tlr
