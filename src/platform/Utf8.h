#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace tlr {

// The text of `bytes` when they are valid UTF-8 throughout; nothing otherwise
// (no replacement characters).
std::optional<QString> decodeStrictUtf8(QByteArrayView bytes);

}  // namespace tlr
