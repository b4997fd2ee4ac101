#include "core/system/MemoryPressureReader.h"

#include "platform/MemoryPressure.h"

namespace tlr {

QString toString(MemoryPressureLevel level) {
  switch (level) {
    case MemoryPressureLevel::none: return QStringLiteral("none");
    case MemoryPressureLevel::normal: return QStringLiteral("normal");
    case MemoryPressureLevel::warning: return QStringLiteral("warning");
    case MemoryPressureLevel::critical: return QStringLiteral("critical");
    case MemoryPressureLevel::unknown: return QStringLiteral("unknown");
  }
  return QStringLiteral("unknown");
}

namespace MemoryPressureReader {

MemoryPressureLevel levelFromRaw(qint64 raw) {
  switch (raw) {
    case 0: return MemoryPressureLevel::none;
    case 1: return MemoryPressureLevel::normal;
    case 2: return MemoryPressureLevel::warning;
    case 4: return MemoryPressureLevel::critical;
    default: return MemoryPressureLevel::unknown;
  }
}

int rawLevelFromStall(double someAvg10) {
  if (someAvg10 < 10) return 1;
  if (someAvg10 < 40) return 2;
  return 4;
}

MemoryPressureLevel current(const QString& pressurePath) {
  const auto stall = MemoryPressure::someAvg10(pressurePath);
  if (!stall) return MemoryPressureLevel::unknown;
  return levelFromRaw(rawLevelFromStall(*stall));
}

MemoryPressureLevel current() { return current(QString::fromLatin1(MemoryPressure::kDefaultPath)); }

bool likelyOOM(MemoryPressureLevel level) {
  return level == MemoryPressureLevel::normal || level == MemoryPressureLevel::warning ||
         level == MemoryPressureLevel::critical;
}

bool likelyOOM() { return likelyOOM(current()); }

}  // namespace MemoryPressureReader
}  // namespace tlr
