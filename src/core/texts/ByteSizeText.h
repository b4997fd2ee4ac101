#pragma once

#include <QString>
#include <QtGlobal>

namespace tlr {

// A byte count as people read file sizes: decimal units (1 KB = 1000 bytes)
// limited to KB, MB and GB, with a "." as the decimal point whatever the
// locale. KB are whole, MB carry one decimal, GB two; trailing zeros are
// dropped and a count that rounds up to the next unit is shown in it.
// 1 500 000 → "1.5 MB", 999 400 → "999 KB", 2 345 678 901 → "2.35 GB";
// anything from 1 to 1 499 bytes → "1 KB"; 0 → "0 KB".
QString decimalByteCount(quint64 bytes);

}  // namespace tlr
