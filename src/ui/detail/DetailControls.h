#pragma once

// Painted pieces of the agent detail and doctor output sheets that the
// shared kit does not have: the tinted action button with a busy state, the
// outlined button and a tinted panel. Each follows the scheme in effect and
// shows its text as plain text.

#include "ui/kit/Controls.h"

#include <QColor>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>

namespace tlr {

// The detail sheet's action button: its symbol and title in `color`, on that
// colour at 0.15 (0.08 while busy) with an outline at 0.4 (0.25 while busy);
// while busy a spinner replaces the symbol and the whole button is drawn at
// 0.7.
class ActionButton final : public PaintedButton {
  Q_OBJECT

 public:
  ActionButton(const QString& title, const QString& symbol, std::function<QColor()> color,
               QWidget* parent = nullptr);
  void setBusy(bool busy);
  bool isBusy() const { return busy_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void syncTimer();
  std::function<QColor()> color_;
  bool busy_ = false;
  int step_ = 0;
  QTimer timer_;
};

// The outlined button of the detail sheet's sections: symbol in 12
// semibold and text in 12 medium, padded 12 × 8, a rounded outline (radius 7,
// width 1). Foreground and border colours come from the caller; a busy
// button shows a spinner in place of its symbol.
class OutlinedButton final : public PaintedButton {
  Q_OBJECT

 public:
  struct Colors {
    QColor foreground;
    QColor border;
    // A tint under the face; none by default.
    QColor fill = Qt::transparent;
  };
  OutlinedButton(const QString& title, const QString& symbol, QWidget* parent = nullptr);
  // Called at every paint, so the colours follow the scheme.
  void setColors(std::function<Colors()> colors);
  // Brand colouring: the accent, its border at 0.45.
  static Colors brandColors();
  void setBusy(bool busy);
  bool isBusy() const { return busy_; }
  // Drawn at this opacity (the locked uninstall button is at 0.55).
  void setDrawOpacity(qreal opacity);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void syncTimer();
  std::function<Colors()> colors_;
  bool busy_ = false;
  qreal drawOpacity_ = 1;
  int step_ = 0;
  QTimer timer_;
};

// A rounded panel filled with a colour at some opacity and outlined by it at
// another: the banners and the embedded command-line card. Lay its contents
// out in its layout.
class TintedPanel : public QFrame {
  Q_OBJECT

 public:
  TintedPanel(std::function<QColor()> color, qreal fillOpacity, qreal strokeOpacity, qreal radius,
              QWidget* parent = nullptr);
  void setColor(std::function<QColor()> color);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<QColor()> color_;
  qreal fill_;
  qreal stroke_;
  qreal radius_;
};

}  // namespace tlr
