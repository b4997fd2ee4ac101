#pragma once

#include <QString>

namespace tlr {

struct VornelUpdate;

// The desktop notification for an available update (Chinese, as the service
// words it): logs "[Vornel] update available: …", then shows the title and
// body through notify-send, each as one argument, so texts from the network
// are never read as a script or as options.
void announceUpdate(const VornelUpdate& update);

// The two texts.
QString updateAnnouncementTitle(const VornelUpdate& update);
QString updateAnnouncementBody(const VornelUpdate& update);

}  // namespace tlr
