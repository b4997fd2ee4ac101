#pragma once

#include <QString>

#include <functional>

namespace tlr {

// The system's memory pressure, in the levels the system reports: 1 normal,
// 2 warning, 4 critical (0 none; anything else unknown).
enum class MemoryPressureLevel { none, normal, warning, critical, unknown };

QString toString(MemoryPressureLevel level);

namespace MemoryPressureReader {

// The level of a raw reading: 0, 1, 2 and 4 map to none, normal, warning and
// critical; every other value is unknown.
MemoryPressureLevel levelFromRaw(qint64 raw);
// The raw level for a memory stall share ("some avg10", percent): below 10
// is normal (1), below 40 warning (2), else critical (4).
int rawLevelFromStall(double someAvg10);

// Reads the level afresh; unknown when the pressure file cannot be read.
MemoryPressureLevel current();
// The same from another pressure file.
MemoryPressureLevel current(const QString& pressurePath);

// Whether a SIGKILL was likely the kernel reclaiming memory: true for every
// level the system reports (normal, warning, critical).
bool likelyOOM(MemoryPressureLevel level);
bool likelyOOM();

}  // namespace MemoryPressureReader
}  // namespace tlr
