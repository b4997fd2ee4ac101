#pragma once

#include "registry/AgentEntry.h"
#include "registry/AppResources.h"

#include <QPixmap>
#include <QString>

#include <optional>

namespace tlr {

// The picture that stands for an agent (dashboard rows, the add-agent sheet,
// the detail sheet). The first of these that yields an image wins:
//  1. the icon of the first installed application among the entry's
//     identify.bundleIds (desktop-entry ids; an entry without a usable icon
//     is passed over), scaled to fit 256 x 256;
//  2. the same for entry.iconBundleId when it is present and not empty;
//  3. "<fallbackName>.png" of the resource bundle, in its "icons" folder or
//     at its top.
// Callers inset a resource image in their tile and let an application's icon
// fill it, so the result says which kind it is.
//
// Main thread only. It runs on every update of a row, so desktop entries are
// only stat'ed (DesktopIcons keeps parsed entries) and decoded images are
// kept by file path and modification time: a changed or removed file is
// noticed at the next call.
class AgentIconResolver {
 public:
  struct Resolved {
    QPixmap image;
    bool isAppIcon = false;  // an application's own icon (steps 1 and 2)
  };

  static std::optional<Resolved> resolve(const AgentEntry& entry, const QString& fallbackName);
  // The same with resource images from `bundle` (AppResources::bundle() above).
  static std::optional<Resolved> resolve(const AgentEntry& entry, const QString& fallbackName,
                                         const ResourceBundle& bundle);
  // resolve() with iconFileName() as the fallback name.
  static std::optional<Resolved> resolve(const AgentEntry& entry) { return resolve(entry, iconFileName(entry)); }

  // The resource image name of an entry: its iconAsset without a leading
  // "agent-" when iconAsset is present and not empty, else its id.
  static QString iconFileName(const AgentEntry& entry);

  // The icon of the installed application with this desktop-entry id.
  static std::optional<QPixmap> systemIcon(const QString& bundleId);

  // The side of an application icon.
  static constexpr int kAppIconSize = 256;
};

}  // namespace tlr
