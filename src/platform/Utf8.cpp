#include "platform/Utf8.h"

#include <QStringDecoder>

namespace tlr {

std::optional<QString> decodeStrictUtf8(QByteArrayView bytes) {
  // Every character as it is, a byte-order mark at the start too: it is a
  // character of the text (of a JSON string, a password, an argument), not
  // a mark to drop.
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
  QString text = decoder.decode(bytes);
  if (decoder.hasError()) return std::nullopt;
  return text;
}

}  // namespace tlr
