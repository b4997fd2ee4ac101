#pragma once

// What every painted control of the kit shares: the colours a text takes,
// the ring that shows where the keyboard is, how the keyboard works a
// button, and the faded look of a control that cannot be used.

#include "ui/kit/Theme.h"

#include <QAbstractButton>
#include <QColor>
#include <QRectF>
#include <QVariant>

class QFocusEvent;
class QKeyEvent;
class QLineEdit;
class QPainter;

namespace tlr {

// Which colour of the scheme a text takes; failure, warning and success are
// the status texts (a red failure, an orange warning, a green "Guarded").
enum class TextRole { primary, dim, faint, accent, white, failure, warning, caution, success };

QColor roleColor(TextRole role);

// Where the keyboard is: a ring in the scheme's accent colour, 2 wide, along
// the inside of `rect` with corners of `radius`. Every focusable control of
// the kit draws it while it has the focus, unless a click gave it.
void paintFocusRing(QPainter& p, const QRectF& rect, qreal radius);

// Whether `control`, getting the focus through `event`, shows the focus
// ring: always (Tab, a sheet's or an alert's first control, the control the
// focus returns to after a sheet) but after a click; a window that becomes
// active again keeps what its control showed (`showing`), unless the focus
// was given with focusWithRing() while the window was not active yet.
bool focusShowsRing(QWidget* control, const QFocusEvent* event, bool showing);

// Gives `control` the keyboard focus with its ring, as Tab would: at once in
// an active window, or once its window is activated (an alert, a prompt, a
// window the window manager activates after it is shown).
void focusWithRing(QWidget* control);

// Set (to true) on a control whose focus its sheet holds while it cannot
// take it (busy, disabled for a moment): it still shows the ring.
inline constexpr const char* kFocusParked = "tlrFocusParked";

// How the user last acted: whether by the mouse or the keyboard, and the
// Tab stop a click last went to (a button, a row), while it is shown. Kept
// from the first kit control made on, from the application's input events.
namespace InputTrail {
void watch();
bool lastWasMouse();
QWidget* clicked();
}  // namespace InputTrail

// Return or the keypad's Enter: presses the focused button (Space does too,
// through QAbstractButton), else a sheet's default button.
bool isPressKey(const QKeyEvent* event);

// A button the keyboard works as the kit's buttons do: it shows the focus
// ring when the focus came to it other than by a click (focusShowsRing), and
// Return and Enter press it, as Space does, while it can be used.
class KeyboardButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit KeyboardButton(QWidget* parent = nullptr);
  // Has the focus, not from a click, or its sheet holds the focus for it:
  // the face then shows a focus ring.
  bool showsFocus() const { return (hasFocus() && ringShown_) || property(kFocusParked).toBool(); }

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool ringShown_ = false;
};

// A text field in the scheme's look, kept so when the scheme changes: the
// card's fill, a faint edge turning to the accent with the focus, the text
// at `pixels` in the primary colour and its placeholder in the faint one
// (both at 4.5:1), `padding` inside its sides.
void lookLikeAField(QLineEdit* field, qreal pixels, int padding);

// A control that cannot be used is drawn whole (face, edge, label) at this
// opacity, and ignores hover and press.
inline constexpr qreal kDisabledOpacity = 0.35;

}  // namespace tlr
