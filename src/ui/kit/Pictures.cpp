#include "ui/kit/Pictures.h"

#include "ui/kit/Glyphs.h"
#include "ui/kit/Painting.h"

#include <QPainter>
#include <QtMath>

namespace tlr {

// ---- IconTile ----------------------------------------------------------------

IconTile::IconTile(int side, qreal radius, qreal inset, QWidget* parent)
    : QWidget(parent), side_(side), radius_(radius), inset_(inset) {
  setFixedSize(side, side);
  whenLookChanges(this);
}

void IconTile::setPicture(const QPixmap& picture, bool fillsTile) {
  if (picture.cacheKey() == picture_.cacheKey() && fillsTile == fillsTile_) return;
  picture_ = picture;
  fillsTile_ = fillsTile;
  update();
}

void IconTile::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
  const Theme::Roles r = Theme::current();
  const QRectF tile(rect());
  const QPainterPath shape = Painting::continuousRoundRect(tile, radius_);
  p.fillPath(shape, r.dark ? QColor(255, 255, 255, qRound(0.06 * 255)) : QColor(Qt::white));
  p.save();
  p.setClipPath(shape);
  if (!picture_.isNull()) {
    const qreal inset = fillsTile_ ? 0 : inset_;
    const QRectF box = tile.adjusted(inset, inset, -inset, -inset);
    QSizeF size = picture_.deviceIndependentSize();
    size.scale(box.size(), Qt::KeepAspectRatio);
    p.drawPixmap(QRectF(box.center() - QPointF(size.width() / 2, size.height() / 2), size), picture_,
                 QRectF(picture_.rect()));
  } else {
    p.fillPath(shape, QColor(128, 128, 128, qRound(0.3 * 255)));
  }
  p.restore();
  // The hairline: white (dark) or black (light) at 0.06 × 0.6.
  p.setPen(QPen(r.contrast(0.06 * 0.6), 0.5));
  p.drawPath(Painting::continuousRoundRect(tile.adjusted(0.25, 0.25, -0.25, -0.25), radius_));
}

// ---- SymbolView --------------------------------------------------------------

SymbolView::SymbolView(const QString& symbol, qreal side, TextRole role, QWidget* parent)
    : SymbolView(symbol, side, ColorFn([role] { return roleColor(role); }), parent) {}

SymbolView::SymbolView(const QString& symbol, qreal side, ColorFn color, QWidget* parent)
    : QWidget(parent), symbol_(symbol), side_(side), color_(std::move(color)) {
  setFixedSize(sizeHint());
  whenLookChanges(this);
}

SymbolView* SymbolView::forFont(const QString& symbol, qreal fontPixels, TextRole role, QWidget* parent) {
  return new SymbolView(symbol, qCeil(Glyphs::sizeForFont(fontPixels)), role, parent);
}

SymbolView* SymbolView::forFont(const QString& symbol, qreal fontPixels, ColorFn color, QWidget* parent) {
  return new SymbolView(symbol, qCeil(Glyphs::sizeForFont(fontPixels)), std::move(color), parent);
}

void SymbolView::setSymbol(const QString& symbol) {
  symbol_ = symbol;
  update();
}

void SymbolView::setRole(TextRole role) { setColor(ColorFn([role] { return roleColor(role); })); }

void SymbolView::setColor(const QColor& color) { setColor(ColorFn([color] { return color; })); }

void SymbolView::setColor(ColorFn color) {
  color_ = std::move(color);
  update();
}

QSize SymbolView::sizeHint() const { return {qCeil(side_), qCeil(side_)}; }

void SymbolView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Glyphs::paint(p, symbol_, QRectF(0, 0, side_, side_), color_ ? color_() : roleColor(TextRole::primary));
}

}  // namespace tlr
