#pragma once

#include "platform/Expected.h"

#include <QByteArray>
#include <QString>

// Files that hold secrets: readable and writable by their owner only, in a
// folder only the owner may enter.
namespace tlr::SecretFile {

// Creates `folder` (with its parents) when missing and restricts it to its
// owner (0700).
Expected<void, QString> ensurePrivateFolder(const QString& folder);

// The permission bits of `path` (e.g. 0600), or -1 when it cannot be read.
int modeOf(const QString& path);

}  // namespace tlr::SecretFile
