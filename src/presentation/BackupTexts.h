#pragma once

// How the backup, restore and migration windows write their texts: in the
// interface language (SettingsStore::shared()), byte counts and times as the
// rest of the interface writes them. Main thread.

#include "core/texts/LocKey.h"

#include <QDateTime>
#include <QString>

namespace tlr::backuptext {

// The key's text in the interface language.
QString text(const LocKey& key);

// "1.2 MB"-style sizes (a negative count reads as nothing).
QString bytes(qint64 count);
// A snapshot's time as the sheets show it ("2026-12-07 09:15"), in local time.
QString shortTime(const QDateTime& when);

}  // namespace tlr::backuptext
