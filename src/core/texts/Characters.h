#pragma once

#include <QString>

// Lengths and cuts of texts shown to the user, counted in user-perceived
// characters (grapheme clusters), so a cut never splits an accented letter,
// an emoji or a CR LF pair.
namespace tlr::Characters {

qsizetype count(const QString& text);
// The first `n` characters of `text` (all of it when it is shorter).
QString prefix(const QString& text, qsizetype n);

}  // namespace tlr::Characters
