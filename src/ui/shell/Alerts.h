#pragma once

#include "core/system/SelfGuard.h"

class QWidget;

namespace tlr {

class Alert;
class ScanPause;
class SettingsStore;
struct UserActionFailure;

// Shows the kit's alert (the message as its title, the informative text,
// one or two buttons, the first the default), its keys said in the
// settings' language, and returns the button chosen once it is answered;
// `pause` holds the scan while it is up. Texts are plain text. Closing the
// alert without a button (Esc) counts as the second button (or the only
// one). Serves as SelfGuardStore's alert presenter.
SelfGuardStore::AlertChoice presentAlert(const SettingsStore& settings, const SelfGuardStore::AlertText& text,
                                         ScanPause& pause, QWidget* parent = nullptr);

// Tells the user, in the window's language, that a setup or a launch they
// asked for did not happen ("actionFailedAlert", one "Got it" button), over
// `parent`'s window, or on its own without one. Returns at once.
Alert* presentActionFailure(const SettingsStore& settings, const UserActionFailure& failure, QWidget* parent);

}  // namespace tlr
