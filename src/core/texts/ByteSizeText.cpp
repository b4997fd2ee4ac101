#include "core/texts/ByteSizeText.h"

#include <algorithm>

namespace tlr {
namespace {

// `bytes` divided by `unit`, rounded half up, without overflowing.
quint64 roundedQuotient(quint64 bytes, quint64 unit) {
  const quint64 whole = bytes / unit;
  return bytes % unit >= unit - unit / 2 ? whole + 1 : whole;
}

// `scaled` hundredths or tenths written with `decimals` places, zeros dropped.
QString withDecimals(quint64 scaled, int decimals) {
  const quint64 divisor = decimals == 2 ? 100 : 10;
  QString fraction = QString::number(scaled % divisor).rightJustified(decimals, '0');
  while (fraction.endsWith('0')) fraction.chop(1);
  const QString whole = QString::number(scaled / divisor);
  return fraction.isEmpty() ? whole : whole + "." + fraction;
}

}  // namespace

QString decimalByteCount(quint64 bytes) {
  if (bytes == 0) return QStringLiteral("0 KB");
  const quint64 kilobytes = std::max<quint64>(1, roundedQuotient(bytes, 1000));
  if (kilobytes < 1000) return QString::number(kilobytes) + QStringLiteral(" KB");
  const quint64 tenthsOfMegabytes = roundedQuotient(bytes, 100'000);
  if (tenthsOfMegabytes < 10'000) return withDecimals(tenthsOfMegabytes, 1) + QStringLiteral(" MB");
  return withDecimals(roundedQuotient(bytes, 10'000'000), 2) + QStringLiteral(" GB");
}

}  // namespace tlr
