#pragma once

// Surfaces other pieces lie on: a card, a tinted panel (and one that is a
// button), and the line between them.

#include "ui/kit/ControlBasics.h"

#include <QFrame>
#include <QWidget>

#include <functional>
#include <optional>
#include <utility>

namespace tlr {

class Card : public QFrame {
  Q_OBJECT

 public:
  explicit Card(QWidget* parent = nullptr, qreal radius = 10);
  void setHighlighted(bool on);
  bool isHighlighted() const { return highlighted_; }
  // A fill of its own instead of the card colour: one colour, or one a
  // function gives at every paint (so it follows the scheme).
  void setFill(std::optional<QColor> fill);
  void setFill(std::function<QColor()> fill);
  // The hairline: the contrast colour at `opacity`, `width` wide (0.06 and
  // 1 unless set).
  void setEdge(qreal opacity, qreal width);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  qreal radius_;
  bool highlighted_ = false;
  std::function<QColor()> fill_;
  qreal edgeOpacity_ = 0.06;
  qreal edgeWidth_ = 1;
};

// A rounded panel filled with a colour at some opacity and edged with it at
// another (0.5 wide): banners and embedded cards. Lay its contents out in
// its layout.
class TintedPanel : public QFrame {
  Q_OBJECT

 public:
  TintedPanel(std::function<QColor()> color, qreal fillOpacity, qreal edgeOpacity, qreal radius,
              QWidget* parent = nullptr);
  void setColor(std::function<QColor()> color);

  // Paints such a panel into `rect`.
  static void paint(QPainter& p, const QRectF& rect, const QColor& color, qreal fillOpacity, qreal edgeOpacity,
                    qreal radius);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<QColor()> color_;
  qreal fill_;
  qreal edge_;
  qreal radius_;
};

// A tinted panel that is a button (a banner one clicks): the colour at 0.1
// (0.16 pressed), edged at 0.3, radius 8. Lay its contents out in its
// layout, letting clicks through to it; name it (setAccessibleName) by the
// title it shows.
class PanelButton final : public KeyboardButton {
  Q_OBJECT

 public:
  explicit PanelButton(QWidget* parent = nullptr);
  void setColor(const QColor& color);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor color_ = Qt::transparent;
};

// A 1-pixel line across its width in the scheme's contrast colour (white in
// the dark scheme, black in the light one) at an opacity of its own for each
// scheme. By default the separator (Theme::Roles::separator()): the line
// under a sheet's header and the dashboard's divider.
class Divider final : public QWidget {
  Q_OBJECT

 public:
  explicit Divider(QWidget* parent = nullptr);
  Divider(qreal darkOpacity, qreal lightOpacity, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::optional<std::pair<qreal, qreal>> opacity_;
};

}  // namespace tlr
