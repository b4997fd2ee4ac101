#pragma once

#include <QString>

namespace tlr {

// A desktop notification through notify-send (title and body as arguments,
// never as a script). Started and not waited for; without notify-send
// nothing happens. Notification servers read the body as markup: its "&",
// "<" and ">" are escaped, so a text from the network (an address) shows as
// it is and never becomes a link or a picture. Control characters are
// dropped from the title, and from the body but for its line breaks.
void showDesktopNotification(const QString& title, const QString& body);

}  // namespace tlr
