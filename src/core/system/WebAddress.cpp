#include "core/system/WebAddress.h"

namespace tlr::WebAddress {

std::optional<QUrl> parse(const QString& text) {
  if (text.isEmpty()) return std::nullopt;
  const QUrl url(text, QUrl::StrictMode);
  if (!url.isValid() || url.isRelative() || url.scheme().isEmpty()) return std::nullopt;
  if (url.host().isEmpty() && url.path().isEmpty()) return std::nullopt;
  return url;
}

}  // namespace tlr::WebAddress
