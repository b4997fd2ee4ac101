#pragma once

// The symbols of the interface, drawn by us and keyed by name:
//
//   Glyphs::paint(painter, "xmark", rect, colour)   draws one into a rect
//   Glyphs::icon("gearshape", colour, 16)            a QIcon of it
//   Glyphs::image("plus", colour, 13, dpr)           a QImage of it
//   Glyphs::contains("book")                         whether it exists
//
// Names (one drawing each): xmark, xmark.circle.fill, checkmark,
// checkmark.circle.fill, checkmark.seal.fill, checkmark.square.fill, square,
// exclamationmark.triangle.fill, exclamationmark.circle.fill, info.circle,
// play.fill, stop.fill, lock.fill, trash, trash.fill, terminal, stethoscope,
// gearshape, gearshape.fill, folder.fill, envelope, book, chevron.right,
// arrow.clockwise, arrow.clockwise.circle.fill, arrow.up.right, arrow.down.app,
// plus, plus.app, rectangle.stack, wand.and.stars, wrench.and.screwdriver,
// sparkles, archivebox, cpu, externaldrive, key.fill.
//
// A symbol is drawn on a 24 × 24 grid scaled uniformly into the largest
// centred square of the rect. Where a design gives a symbol "at font size N",
// a square of about 1.1 × N pixels matches its visual size
// (Glyphs::sizeForFont(N)).

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRectF>
#include <QStringList>
#include <QStringView>

class QPainter;

namespace tlr::Glyphs {

// Draws `name` into `rect` in `color`. Returns false (drawing nothing) for an
// unknown name.
bool paint(QPainter& painter, QStringView name, const QRectF& rect, const QColor& color);

bool contains(QStringView name);
QStringList names();

// A transparent square image `size` logical pixels wide at `devicePixelRatio`.
QImage image(QStringView name, const QColor& color, qreal size, qreal devicePixelRatio = 1.0);
// An icon holding the symbol at 1× and 2×.
QIcon icon(QStringView name, const QColor& color, int size = 16);

// The square side that matches a symbol set in a font of `fontPixels`.
inline qreal sizeForFont(qreal fontPixels) { return fontPixels * 1.1; }

}  // namespace tlr::Glyphs
