#include "platform/Utf8.h"

#include <QStringDecoder>

namespace tlr {

std::optional<QString> decodeStrictUtf8(QByteArrayView bytes) {
  QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString text = decoder.decode(bytes);
  if (decoder.hasError()) return std::nullopt;
  return text;
}

}  // namespace tlr
