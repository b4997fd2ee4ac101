#pragma once

// The on/off controls: a switch and a check box, over the base that keeps
// what they show in line with what the program acts on.

#include "ui/kit/ControlBasics.h"

#include <QAbstractButton>

#include <functional>

namespace tlr {

// The base of the on/off controls. What such a control stands for is its
// toggled state, whatever changed it: a click, the keyboard (Space), or an
// assistive tool's "Toggle" action, which flips the state without any click.
// So act on toggled(bool), never on clicked(); and show the program's own
// state with showState(), which never reaches those actions. When the
// program refuses a change, show its state again, so the control always
// shows exactly what the program acts on.
class ToggleControl : public QAbstractButton {
  Q_OBJECT

 public:
  explicit ToggleControl(QWidget* parent = nullptr);
  // Shows `on` without emitting toggled().
  void showState(bool on);
  // Has the focus, not from a click: drawn with a focus ring.
  bool showsFocus() const { return (hasFocus() && ringShown_) || property(kFocusParked).toBool(); }
  // How opaque it is drawn while it cannot be used (0.35 unless set).
  void setDisabledOpacity(qreal opacity);
  qreal drawOpacity() const { return isEnabled() ? 1.0 : disabledOpacity_; }

 protected:
  void focusInEvent(QFocusEvent* event) override;
  // Where the keyboard is: a ring along the edge, drawn only when
  // showsFocus().
  void paintFocusRing(QPainter& p, qreal radius) const;

 private:
  bool ringShown_ = false;
  qreal disabledOpacity_;
};

class ToggleSwitch final : public ToggleControl {
  Q_OBJECT

 public:
  // `accessibleLabel` names the switch for assistive tools; nothing is drawn.
  explicit ToggleSwitch(const QString& accessibleLabel, QWidget* parent = nullptr);
  QSize sizeHint() const override { return {38, 22}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// An 18 × 18 box: "checkmark.square.fill" in `onColor` when on, "square" in
// the faint colour when off. `accessibleLabel` names it (what it chooses).
class CheckBox final : public ToggleControl {
  Q_OBJECT

 public:
  CheckBox(const QString& accessibleLabel, std::function<QColor()> onColor, QWidget* parent = nullptr);
  QSize sizeHint() const override { return {18, 18}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<QColor()> onColor_;
};

}  // namespace tlr
