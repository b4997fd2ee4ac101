#include "ui/kit/Toggles.h"

#include "ui/kit/Glyphs.h"

#include <QFocusEvent>
#include <QPainter>
#include <QSignalBlocker>

namespace tlr {

// ---- ToggleControl, ToggleSwitch, CheckBox ----------------------------------

ToggleControl::ToggleControl(QWidget* parent) : QAbstractButton(parent), disabledOpacity_(kDisabledOpacity) {
  InputTrail::watch();
  setCheckable(true);
  setCursor(Qt::PointingHandCursor);
  whenLookChanges(this);
}

void ToggleControl::focusInEvent(QFocusEvent* event) {
  ringShown_ = focusShowsRing(this, event, ringShown_);
  QAbstractButton::focusInEvent(event);
}

void ToggleControl::paintFocusRing(QPainter& p, qreal radius) const {
  if (showsFocus()) tlr::paintFocusRing(p, QRectF(rect()), radius);
}

void ToggleControl::setDisabledOpacity(qreal opacity) {
  disabledOpacity_ = opacity;
  update();
}

void ToggleControl::showState(bool on) {
  if (isChecked() == on) return;
  const QSignalBlocker quiet(this);
  setChecked(on);
}

ToggleSwitch::ToggleSwitch(const QString& accessibleLabel, QWidget* parent) : ToggleControl(parent) {
  setAccessibleName(accessibleLabel);
  setFixedSize(sizeHint());
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const Theme::Roles r = Theme::current();
  p.setOpacity(drawOpacity());
  // With the focus ring, the track steps in so the ring stands apart from
  // an accent-coloured (on) track.
  const qreal inset = showsFocus() ? 3.5 : 1;
  const QRectF track = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
  const qreal radius = track.height() / 2;
  p.setPen(Qt::NoPen);
  p.setBrush(isChecked() ? r.accent : r.contrast(r.dark ? 0.18 : 0.12));
  p.drawRoundedRect(track, radius, radius);
  const qreal knob = track.height() - 4;
  const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
  p.setBrush(Qt::white);
  p.setPen(QPen(QColor(0, 0, 0, 30), 0.5));
  p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
  paintFocusRing(p, height() / 2.0);
}

CheckBox::CheckBox(const QString& accessibleLabel, std::function<QColor()> onColor, QWidget* parent)
    : ToggleControl(parent), onColor_(std::move(onColor)) {
  setAccessibleName(accessibleLabel);
  setFixedSize(sizeHint());
}

void CheckBox::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor color = isChecked() ? onColor_() : Theme::current().textFaint;
  p.setOpacity(drawOpacity());
  const QRectF box = showsFocus() ? QRectF(3.5, 3.5, 11, 11) : QRectF(1, 1, 16, 16);
  Glyphs::paint(p, isChecked() ? u"checkmark.square.fill" : u"square", box, color);
  paintFocusRing(p, 5);
}

}  // namespace tlr
