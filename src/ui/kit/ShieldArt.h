#pragma once

// The brand shield: its outline, the 18 × 19 image of the tray item and the
// product icon.
//
//   shieldPath(rect)           the outline scaled into a rect (100 × 110 grid)
//   makeShieldImage(dpr)       the tray image: the light brand gradient, a
//                              white "T", transparent around the outline
//   makeBrandIcon(size, dpr)   the product icon: the resource "AppIcon.png"
//                              of the bundle when present, else the drawn
//                              shield on the brand gradient

#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QSizeF>

class QPainter;

namespace tlr {

// The shield outline on a 100 × 110 grid, scaled so grid point (x, y) lands
// at (left + x × width / 100, top + y × height / 110).
QPainterPath shieldPath(const QRectF& rect);

// The status item image, 18 × 19 logical pixels at `devicePixelRatio`.
inline constexpr QSizeF kShieldImageSize{18, 19};
QImage makeShieldImage(qreal devicePixelRatio = 1.0);

// Draws the product's initial "T" in white, `pixels` tall font, black
// weight, with `kerning`, centred on `centre`.
void drawShieldLetter(QPainter& painter, QPointF centre, qreal pixels, qreal kerning);

// The product icon at `size` (square), for the onboarding window and the
// window icon. Never empty. Drawn once per size; any thread.
QImage makeBrandIcon(QSizeF size, qreal devicePixelRatio = 1.0);

// Loads the system's font list and draws the window icons on a thread off
// the window thread, so that the first window finds them ready.
void prepareFontsAndIconsOffMain();

}  // namespace tlr
