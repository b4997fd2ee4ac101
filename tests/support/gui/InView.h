#pragma once

// Whether what a user must reach is on screen: a control wholly inside every
// view and panel above it, and no list that scrolls sideways.

#include <QAbstractScrollArea>
#include <QScrollBar>
#include <QStringList>
#include <QWidget>

namespace tlr::test {

// Shown, and wholly inside each widget above it up to its window (a scroll
// area's view, the sheet it lies in, the window).
inline bool wholeInView(const QWidget* control) {
  if (!control || !control->isVisible()) return false;
  const QRect own(control->mapToGlobal(QPoint()), control->size());
  for (const QWidget* p = control->parentWidget(); p; p = p->parentWidget()) {
    if (!QRect(p->mapToGlobal(QPoint()), p->size()).contains(own)) return false;
    if (p->isWindow()) break;
  }
  return true;
}

// The shown scroll areas under `root` that can scroll sideways, by name.
inline QStringList sidewaysScrolling(const QWidget& root) {
  QStringList found;
  for (const QAbstractScrollArea* area : root.findChildren<QAbstractScrollArea*>())
    if (area->isVisible() && area->horizontalScrollBar()->maximum() > 0)
      found << area->objectName() + QStringLiteral(" (") + area->metaObject()->className() + QStringLiteral(")");
  return found;
}

}  // namespace tlr::test
