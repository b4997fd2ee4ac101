#include "presentation/BackupTexts.h"

#include "core/stores/SettingsStore.h"
#include "core/texts/ByteSizeText.h"

namespace tlr::backuptext {

QString text(const LocKey& key) { return SettingsStore::shared().text(key); }

QString bytes(qint64 count) { return decimalByteCount(count < 0 ? 0 : static_cast<quint64>(count)); }

QString shortTime(const QDateTime& when) {
  if (!when.isValid()) return QString();
  return when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

}  // namespace tlr::backuptext
