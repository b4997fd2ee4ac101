#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace tlr {

// The text of `bytes` when they are valid UTF-8 throughout, every character
// kept (a U+FEFF at the start too); nothing otherwise (no replacement
// characters).
std::optional<QString> decodeStrictUtf8(QByteArrayView bytes);

// A file name (or path) of raw bytes as text to show or list: the text itself
// when it is valid UTF-8, else its valid parts as text and every byte that is
// not as "\xNN" (two upper-case hexadecimal digits).
QString displayName(QByteArrayView bytes);

}  // namespace tlr
