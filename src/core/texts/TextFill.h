#pragma once

#include <QString>
#include <QStringView>

#include <span>

// Building user-visible texts from templates with numbered places.
namespace tlr {

// Replaces each "{n}" in `tmpl` (n from 1 to values.size()) with values[n-1],
// in a single pass over the template: an inserted value is never scanned
// again, so a value that itself holds "{1}" or "%1" shows as it is. A "{n}"
// without a value, and every other character, is copied unchanged.
QString fillTemplate(QStringView tmpl, std::span<const QString> values);

// `value` with exactly one decimal place, rounded as the C format "%.1f"
// rounds (0.25 gives "0.2", 3.14159 gives "3.1"), with a full stop as the
// decimal mark whatever locale the process runs in.
QString formatOneDecimal(double value);

}  // namespace tlr
