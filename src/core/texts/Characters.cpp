#include "core/texts/Characters.h"

#include <QTextBoundaryFinder>

namespace tlr::Characters {
namespace {

// The UTF-16 offset just after the first `n` characters, or -1 when the text
// has fewer; counts all of them into `total` when n is negative.
qsizetype offsetAfter(const QString& text, qsizetype n, qsizetype* total = nullptr) {
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  qsizetype seen = 0;
  while (finder.toNextBoundary() >= 0) {
    ++seen;
    if (n >= 0 && seen == n) return finder.position();
  }
  if (total) *total = seen;
  return -1;
}

}  // namespace

qsizetype count(const QString& text) {
  if (text.isEmpty()) return 0;
  qsizetype total = 0;
  offsetAfter(text, -1, &total);
  return total;
}

QString prefix(const QString& text, qsizetype n) {
  if (n <= 0) return {};
  if (text.size() <= n) return text;  // never more characters than units
  const qsizetype end = offsetAfter(text, n);
  return end < 0 ? text : text.left(end);
}

}  // namespace tlr::Characters
