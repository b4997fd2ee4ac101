#include "core/WebAddress.h"

#include "platform/Log.h"
#include "platform/Opener.h"

namespace tlr::WebAddress {

std::optional<QUrl> parse(const QString& text) {
  if (text.isEmpty()) return std::nullopt;
  const QUrl url(text, QUrl::StrictMode);
  if (!url.isValid() || url.isRelative() || url.scheme().isEmpty()) return std::nullopt;
  if (url.host().isEmpty() && url.path().isEmpty()) return std::nullopt;
  return url;
}

bool open(const QString& text) {
  const std::optional<QUrl> url = parse(text);
  if (!url) return false;
  const QString error = Opener::openUrl(url->toString(QUrl::FullyEncoded));
  if (!error.isEmpty()) log("[Opener] ", error);
  return error.isEmpty();
}

}  // namespace tlr::WebAddress
