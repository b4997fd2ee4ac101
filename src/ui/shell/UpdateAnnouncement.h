#pragma once

#include "core/texts/SettingsValues.h"

#include <QString>

namespace tlr {

struct VornelUpdate;

// The desktop notification for an available update, in the interface
// language: logs "[Vornel] update available: …", then shows the title and
// body through notify-send, each as one argument, so texts from the network
// are never read as a script or as options.
void announceUpdate(const VornelUpdate& update);

// The two texts in `language`.
QString updateAnnouncementTitle(const VornelUpdate& update, AppLanguage language);
QString updateAnnouncementBody(const VornelUpdate& update, AppLanguage language);

}  // namespace tlr
