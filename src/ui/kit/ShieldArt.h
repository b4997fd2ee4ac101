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
//   withBrandIcon(ctx, sides, then)  that icon in several sizes, drawn off
//                              the window thread

#include <QIcon>
#include <QImage>
#include <QList>
#include <QPainterPath>
#include <QRectF>
#include <QSizeF>

#include <functional>

class QObject;
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

// The product icon at each of `sides` (square), drawn off the window thread;
// `then` gets it on the window thread while `context` lives.
void withBrandIcon(QObject* context, QList<qreal> sides, std::function<void(const QIcon&)> then);

// Loads the system's font list on a thread off the window thread, so that
// the first window finds it read.
void prepareFontsOffMain();

}  // namespace tlr
