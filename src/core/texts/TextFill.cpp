#include "core/texts/TextFill.h"

#include <array>
#include <charconv>

namespace tlr {

QString fillTemplate(QStringView tmpl, std::span<const QString> values) {
  QString out;
  out.reserve(tmpl.size() + 16 * static_cast<qsizetype>(values.size()));
  qsizetype i = 0;
  while (i < tmpl.size()) {
    const QChar c = tmpl[i];
    if (c == u'{') {
      // A place is "{" + decimal digits + "}" naming one of the values.
      qsizetype j = i + 1;
      std::size_t index = 0;
      while (j < tmpl.size() && tmpl[j].isDigit() && tmpl[j].unicode() < 128 && index <= values.size()) {
        index = index * 10 + static_cast<std::size_t>(tmpl[j].unicode() - u'0');
        ++j;
      }
      if (j > i + 1 && j < tmpl.size() && tmpl[j] == u'}' && index >= 1 && index <= values.size()) {
        out += values[index - 1];
        i = j + 1;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

QString formatOneDecimal(double value) {
  // std::to_chars with a precision formats as printf does in the "C" locale,
  // and never consults the process locale.
  std::array<char, 400> buffer{};
  const auto [end, ec] =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, 1);
  if (ec != std::errc()) return QString();
  return QString::fromLatin1(buffer.data(), end - buffer.data());
}

}  // namespace tlr
