#pragma once

#include "core/texts/LocKey.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// What the user asks the desktop to open (a web page, a mail, an agent's
// dashboard, a folder), handed to the desktop's opener off the main thread
// and waited for, so that a desktop without the opener, a browser or a file
// manager is told, never silently ignored.
namespace tlr::DesktopOpen {

// Hears, on the main thread, why a target was not opened: the reason as a
// text key, to be said in the window's language.
using Failed = std::function<void(const LocKey& reason)>;

// An address that WebAddress::parse accepts; one it refuses fails at once
// (still on a later turn of the main loop). `failed` is not called once
// `context` is gone.
void address(const QString& text, QObject* context, Failed failed);
// A folder in the file manager.
void folder(const QString& path, QObject* context, Failed failed);
// The folder that holds `path`, in the file manager.
void folderOf(const QString& path, QObject* context, Failed failed);

// For work already off the main thread: opens the folder `path` and waits
// for the opener; the reason when it was not opened.
std::optional<LocKey> folderNow(const QString& path);

}  // namespace tlr::DesktopOpen
