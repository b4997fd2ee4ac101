#pragma once

#include <QString>

// Hands URLs, folders and files to the desktop's own handlers (xdg-open).
// Each call starts the opener detached and returns at once: an empty text
// when it was started, else why not. What the handler then does is the
// desktop's business.
namespace tlr::Opener {

// A URL, also of a custom scheme ("vornel://open").
QString openUrl(const QString& url);
// A folder in the file manager.
QString openFolder(const QString& path);
// The folder that holds `path`, in the file manager.
QString reveal(const QString& path);

}  // namespace tlr::Opener
