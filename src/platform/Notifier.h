#pragma once

#include <QString>

namespace tlr {

// A desktop notification through notify-send (title and body as arguments,
// never as a script). Started and not waited for; without notify-send
// nothing happens.
void showDesktopNotification(const QString& title, const QString& body);

}  // namespace tlr
