#pragma once

// What every painted control of the kit shares: the colours a text takes,
// the ring that shows where the keyboard is, and the faded look of a control
// that cannot be used.

#include "ui/kit/Theme.h"

#include <QColor>
#include <QRectF>

class QFocusEvent;
class QPainter;

namespace tlr {

// Which colour of the scheme a text takes.
enum class TextRole { primary, dim, faint, accent, white };

QColor roleColor(TextRole role);

// Where the keyboard is: a ring in the scheme's accent colour, 2 wide, along
// the inside of `rect` with corners of `radius`. Every focusable control of
// the kit draws it while it has the keyboard focus from the keyboard.
void paintFocusRing(QPainter& p, const QRectF& rect, qreal radius);

// Whether a control took the focus from the keyboard (Tab, Shift+Tab), so
// that it shows the focus ring; a click gives none.
bool focusFromKeyboard(const QFocusEvent* event);

// A control that cannot be used is drawn whole (face, edge, label) at this
// opacity, and ignores hover and press.
inline constexpr qreal kDisabledOpacity = 0.35;

}  // namespace tlr
