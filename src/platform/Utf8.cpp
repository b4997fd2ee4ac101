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

namespace {

// The length of the valid UTF-8 sequence at `at`, or 0 when none starts there.
qsizetype sequenceLength(QByteArrayView bytes, qsizetype at) {
  const auto byte = [&](qsizetype i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  qsizetype length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (at + length > bytes.size()) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (qsizetype i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

QString displayName(QByteArrayView bytes) {
  QString text;
  qsizetype start = 0;  // of the valid run not yet taken
  for (qsizetype at = 0; at < bytes.size();) {
    const qsizetype length = sequenceLength(bytes, at);
    if (length > 0) {
      at += length;
      continue;
    }
    text += QString::fromUtf8(bytes.sliced(start, at - start));
    text += QStringLiteral("\\x") +
            QString::number(static_cast<unsigned char>(bytes[at]), 16).rightJustified(2, QLatin1Char('0')).toUpper();
    start = ++at;
  }
  if (start == 0) return QString::fromUtf8(bytes);
  return text + QString::fromUtf8(bytes.sliced(start));
}

}  // namespace tlr
