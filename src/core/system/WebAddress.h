#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// Addresses from the registry (an agent's website, a requirement's download
// page, an agent's dashboard) that the user may open (DesktopOpen opens
// them).
namespace tlr::WebAddress {

// The address when `text` parses strictly as an absolute URL with a scheme
// and something after it ("https://example.com", "mailto:a@b.c",
// "vornel://open"); nothing for a relative or partial text ("example.com",
// "/x", "https:", "", text with blanks).
std::optional<QUrl> parse(const QString& text);

}  // namespace tlr::WebAddress
