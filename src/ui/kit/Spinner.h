#pragma once

// The indeterminate progress indicator, and its turning for controls that
// draw one inside themselves (a busy button).

#include "ui/kit/ControlBasics.h"

#include <QTimer>
#include <QWidget>

#include <optional>

class QPainter;

namespace tlr {

// The turning of a spinner: the next of its twelve steps every 80 ms while
// it runs, repainting `owner` at each (a Spinner, a busy button).
class SpinnerTurn final {
 public:
  explicit SpinnerTurn(QWidget* owner);
  void run(bool on);
  int step() const { return step_; }

 private:
  QTimer timer_;
  int step_ = 0;
};

// An indeterminate progress indicator: twelve spokes around the centre, the
// one at the current step darkest and those behind it fading. It turns only
// while it is shown.
class Spinner final : public QWidget {
  Q_OBJECT

 public:
  explicit Spinner(qreal side = 14, QWidget* parent = nullptr);
  // The spokes' colour; the dim text colour when not set.
  void setColor(std::optional<QColor> color);
  QSize sizeHint() const override;

  // Paints a spinner at `step` (0…11) into the largest square centred in
  // `rect`, for controls that draw one inside themselves.
  static void paint(QPainter& p, const QRectF& rect, int step, const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  qreal side_;
  std::optional<QColor> color_;
  SpinnerTurn turn_;
};

}  // namespace tlr
