#include "platform/MemoryPressure.h"

#include <QFile>

namespace tlr::MemoryPressure {

std::optional<double> someAvg10(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  // "some avg10=0.00 avg60=0.00 avg300=0.00 total=0"
  for (const QByteArray& line : file.readAll().split('\n')) {
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.value(0) != "some") continue;
    for (const QByteArray& field : fields) {
      if (!field.startsWith("avg10=")) continue;
      bool ok = false;
      const double value = field.mid(6).toDouble(&ok);
      if (ok && value >= 0) return value;
      return std::nullopt;
    }
  }
  return std::nullopt;
}

}  // namespace tlr::MemoryPressure
