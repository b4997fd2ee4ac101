#pragma once

#include "core/SelfGuard.h"

class QWidget;

namespace tlr {

// Shows an alert (message, informative text, one or two buttons) modally and
// returns the button chosen; the scan pauses while it is up. Texts are plain
// text. Closing the alert without a button counts as the second button (or
// the only one). Serves as SelfGuardStore's alert presenter.
SelfGuardStore::AlertChoice presentAlert(const SelfGuardStore::AlertText& text, QWidget* parent = nullptr);

}  // namespace tlr
