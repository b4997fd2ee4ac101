#pragma once

// What an assistive tool (a screen reader over AT-SPI) does to a widget: it
// runs the actions of the widget's accessible interface, such as "Toggle" on
// a check box or a switch, which flips it without any click.

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QWidget>

#include <functional>

namespace tlr::test {

// Runs `action` of `widget`'s accessible interface; false when the widget
// offers no such action (as a disabled control does).
inline bool assistiveAction(QWidget* widget, const QString& action) {
  QAccessibleInterface* iface = widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
  QAccessibleActionInterface* actions = iface ? iface->actionInterface() : nullptr;
  if (!actions || !actions->actionNames().contains(action)) return false;
  actions->doAction(action);
  return true;
}

inline bool assistiveToggle(QWidget* widget) {
  return assistiveAction(widget, QAccessibleActionInterface::toggleAction());
}

// Whether an assistive tool walking `window`'s tree of accessible
// interfaces from its top comes upon `target`.
inline bool reachableInTree(QWidget* window, const QObject* target) {
  const std::function<bool(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* node, int depth) {
    if (!node || depth > 64) return false;
    if (node->object() == target) return true;
    for (int i = 0; i < node->childCount(); ++i)
      if (walk(node->child(i), depth + 1)) return true;
    return false;
  };
  return walk(QAccessible::queryAccessibleInterface(window), 0);
}

// Whether the accessible interface reports the widget as checked.
inline bool accessibleChecked(QWidget* widget) {
  QAccessibleInterface* iface = widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
  return iface && iface->state().checked;
}

}  // namespace tlr::test
