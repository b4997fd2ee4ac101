#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace tlr {

// The text of `bytes` when they are valid UTF-8 throughout, every character
// kept (a U+FEFF at the start too); nothing otherwise (no replacement
// characters).
std::optional<QString> decodeStrictUtf8(QByteArrayView bytes);

}  // namespace tlr
