#pragma once

// Pictures: one symbol of Glyphs, and an agent's icon in its tile.

#include "ui/kit/ControlBasics.h"

#include <QPixmap>
#include <QWidget>

#include <functional>

namespace tlr {

// One symbol of Glyphs drawn `side` wide at the top-left of its square (the
// side rounded up to whole pixels), in a role colour, a fixed colour, or one
// a function gives at every paint (so it follows the scheme and the state).
class SymbolView final : public QWidget {
  Q_OBJECT

 public:
  using ColorFn = std::function<QColor()>;
  // `side` is the square the symbol fills: Glyphs::sizeForFont(n) for a
  // symbol "at font size n" (forFont() gives it on whole pixels).
  SymbolView(const QString& symbol, qreal side, TextRole role = TextRole::primary, QWidget* parent = nullptr);
  SymbolView(const QString& symbol, qreal side, ColorFn color, QWidget* parent = nullptr);
  // A symbol at the visual size of a font of `fontPixels`, rounded up to
  // whole pixels, in a role colour or one a function gives.
  static SymbolView* forFont(const QString& symbol, qreal fontPixels, TextRole role, QWidget* parent = nullptr);
  static SymbolView* forFont(const QString& symbol, qreal fontPixels, ColorFn color, QWidget* parent = nullptr);

  void setSymbol(const QString& symbol);
  const QString& symbol() const { return symbol_; }
  void setRole(TextRole role);
  void setColor(const QColor& color);
  void setColor(ColorFn color);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString symbol_;
  qreal side_;
  ColorFn color_;
};

// A picture framed in a square rounded tile (an agent's icon): the tile is
// white (light) or white at 0.06 (dark) with a hairline; a picture that is
// an application's own icon fills it, another is inset; without a picture
// the tile is grey.
class IconTile final : public QWidget {
  Q_OBJECT

 public:
  IconTile(int side, qreal radius, qreal inset, QWidget* parent = nullptr);
  // A null picture shows the grey tile.
  void setPicture(const QPixmap& picture, bool fillsTile);
  bool hasPicture() const { return !picture_.isNull(); }
  bool fillsTile() const { return fillsTile_; }
  QSize sizeHint() const override { return {side_, side_}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int side_;
  qreal radius_;
  qreal inset_;
  QPixmap picture_;
  bool fillsTile_ = false;
};

}  // namespace tlr
