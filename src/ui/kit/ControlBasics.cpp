#include "ui/kit/ControlBasics.h"

#include "ui/kit/Painting.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>

namespace tlr {

QColor roleColor(TextRole role) {
  const Theme::Roles r = Theme::current();
  switch (role) {
    case TextRole::primary:
      return r.text;
    case TextRole::dim:
      return r.textDim;
    case TextRole::faint:
      return r.textFaint;
    case TextRole::accent:
      return r.accentText;
    case TextRole::white:
      return Qt::white;
    case TextRole::failure:
      return r.crashText;
    case TextRole::warning:
      return r.warningText;
    case TextRole::caution:
      return r.cautionText;
    case TextRole::success:
      return r.workingText;
  }
  return r.text;
}

void paintFocusRing(QPainter& p, const QRectF& rect, qreal radius) {
  p.save();
  p.setOpacity(1);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(Theme::current().accent, 2));
  p.setBrush(Qt::NoBrush);
  const QRectF ring = rect.adjusted(1, 1, -1, -1);
  p.drawPath(Painting::continuousRoundRect(ring, qMax<qreal>(0, radius - 1)));
  p.restore();
}

bool focusShowsRing(const QFocusEvent* event, bool showing) {
  switch (event->reason()) {
    case Qt::MouseFocusReason:
      return false;
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
      return showing;
    default:
      return true;
  }
}

bool isPressKey(const QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
  return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && mods == Qt::NoModifier;
}

void KeyboardButton::focusInEvent(QFocusEvent* event) {
  ringShown_ = focusShowsRing(event, ringShown_);
  QAbstractButton::focusInEvent(event);
}

void KeyboardButton::keyPressEvent(QKeyEvent* event) {
  if (isPressKey(event)) {
    event->accept();
    if (isEnabled()) click();
    return;
  }
  QAbstractButton::keyPressEvent(event);
}

}  // namespace tlr
